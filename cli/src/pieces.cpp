#include "vantrel/cli/pieces.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>

#include "vantrel/cli/contact_sheet.h"
#include "vantrel/cli/render_job.h"
#include "vantrel/host/frame.h"
#include "vantrel/host/imaging.h"
#include "vantrel/host/imaging_suites.h"
#include "vantrel/host/scene_layers.h"
#include "vantrel/host/session.h"
#include "vantrel/host/text_suites.h"

namespace vantrel::cli {
namespace {

// What the wrapped host functions record during the one render of a view.
// The render runs on the calling thread, so the log is found through a
// thread-local pointer.
struct CallLog {
  std::vector<PF_Rect> copies;
  std::vector<ObservedPiece> composites;
  std::vector<std::pair<AEGP_LayerStream, A_Time>> stream_reads;
  const PF_WorldTransformSuite1* transform_suite = nullptr;
  decltype(PF_UtilCallbacks::transform_world) transform_world = nullptr;
};
thread_local CallLog* t_log = nullptr;

PF_Err RecordingCopyHq(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst,
                       PF_Rect* src_r, PF_Rect* dst_r) {
  if (!t_log) return PF_Err_BAD_CALLBACK_PARAM;
  if (src_r) t_log->copies.push_back(*src_r);
  return t_log->transform_suite->copy_hq(effect_ref, src, dst, src_r, dst_r);
}

PF_Err RecordingTransformWorld(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags flags,
                               PF_Field field, const PF_EffectWorld* src,
                               const PF_CompositeMode* mode, const PF_MaskWorld* mask,
                               const PF_FloatMatrix* matrices, A_long count, PF_Boolean src2dst,
                               const PF_Rect* dest_rect, PF_EffectWorld* dst) {
  if (!t_log) return PF_Err_BAD_CALLBACK_PARAM;
  if (matrices && count > 0 && mode) {
    ObservedPiece piece;
    piece.opacity = mode->opacity;
    piece.matrix = matrices[count - 1];
    piece.matrices = count;
    t_log->composites.push_back(piece);
  }
  return t_log->transform_world(effect_ref, quality, flags, field, src, mode, mask, matrices, count,
                                src2dst, dest_rect, dst);
}

// The scene's text layer, recording every read of its transform streams.
class RecordingLayer final : public host::SceneLayer {
 public:
  RecordingLayer(const host::Scene& scene, CallLog& log)
      : SceneLayer(host::TransformOf(scene.layer), scene.comp),
        text_(scene.layer, scene.comp),
        log_(log) {}

  AEGP_ObjectType ObjectType() const override { return text_.ObjectType(); }
  host::TextOutlineSet TextOutlines(const A_Time& t) const override {
    return text_.TextOutlines(t);
  }
  void DrawSource(PF_EffectWorld& world, PF_RationalScale dx, PF_RationalScale dy) const override {
    text_.DrawSource(world, dx, dy);
  }
  std::optional<AEGP_ThreeDVal> StreamValue(AEGP_LayerStream stream,
                                            const A_Time& t) const override {
    std::lock_guard lock(mutex_);
    log_.stream_reads.emplace_back(stream, t);
    return SceneLayer::StreamValue(stream, t);
  }

 private:
  host::TextLayer text_;
  CallLog& log_;
  mutable std::mutex mutex_;
};

double ToFrame(const A_Time& t, const host::Composition& comp) { return host::FrameAt(t, comp); }

}  // namespace

PiecesView ObservePieces(const host::LoadedModule& module, const host::Scene& scene, int frame,
                         host::Resolution resolution) {
  CallLog log;
  host::FrameRenderer renderer(module, scene, std::make_unique<RecordingLayer>(scene, log));
  log.stream_reads.clear();  // set-up reads nothing, but start clean

  const int n = static_cast<int>(resolution);
  const PF_RationalScale ds{1, static_cast<A_u_long>(n)};
  host::Image input((scene.comp.width + n - 1) / n, (scene.comp.height + n - 1) / n);
  host::Image output(input.width(), input.height());
  PF_EffectWorld in_world = input.AsWorld();
  PF_EffectWorld out_world = output.AsWorld();
  renderer.layer().DrawSource(in_world, ds, ds);

  host::Session session;
  host::RegisterImagingSuites(session);
  host::RegisterTextSuites(session);
  // Wrap the two calls that show the pieces: the copy of each piece's box and
  // the composite that places it.
  log.transform_suite = static_cast<const PF_WorldTransformSuite1*>(
      session.suites().Find(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1));
  PF_WorldTransformSuite1 wrapped = *log.transform_suite;
  wrapped.copy_hq = RecordingCopyHq;
  session.suites().Register(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1, &wrapped);
  log.transform_world = session.utils().transform_world;
  session.utils().transform_world = RecordingTransformWorld;

  t_log = &log;
  PiecesView view;
  view.result = renderer.RenderLayerIn(session, frame, resolution, in_world, out_world);
  t_log = nullptr;
  view.violations = session.violations();
  view.layer = ToRaster(input);

  // The module reads the transform at the current time (three streams), then
  // three streams at each piece's time in delay order: the first read of each
  // such triple is that piece's time.
  view.pieces = log.composites;
  for (std::size_t k = 0; k < view.pieces.size(); ++k) {
    if (k < log.copies.size()) view.pieces[k].box = log.copies[k];
    const std::size_t read = 3 + 3 * k;
    view.pieces[k].frame = read < log.stream_reads.size()
                               ? ToFrame(log.stream_reads[read].second, scene.comp)
                               : static_cast<double>(frame);
  }
  return view;
}

std::string FormatPieces(const PiecesView& view, int frame) {
  std::string out;
  char line[200];
  std::snprintf(line, sizeof line,
                "%zu pieces at frame %d, in the order composited (delay order)\n"
                "  pos  box left,top - right,bottom   sampled at  delay   opacity  moved by"
                "            scale\n",
                view.pieces.size(), frame);
  out += line;
  for (std::size_t k = 0; k < view.pieces.size(); ++k) {
    const ObservedPiece& p = view.pieces[k];
    const double dx = p.matrix.mat[2][0] - p.box.left;
    const double dy = p.matrix.mat[2][1] - p.box.top;
    std::snprintf(line, sizeof line,
                  "%5zu  %5d,%5d - %5d,%5d     %8.2f  %6.2f   %3d      %+8.1f,%+8.1f  %.3f%s\n", k,
                  p.box.left, p.box.top, p.box.right, p.box.bottom, p.frame, frame - p.frame,
                  p.opacity, dx, dy, p.matrix.mat[0][0], p.matrices == 2 ? "  blur" : "");
    out += line;
  }
  if (view.result != PF_Err_NONE) {
    out += "the render returned error " + std::to_string(view.result) + "\n";
  }
  for (const std::string& v : view.violations) out += "warning: " + v + "\n";
  return out;
}

Raster DrawPieceBoxes(const PiecesView& view) {
  static constexpr std::uint8_t kColours[5][4] = {{255, 80, 80, 255},
                                                  {80, 230, 80, 255},
                                                  {90, 140, 255, 255},
                                                  {255, 80, 255, 255},
                                                  {255, 230, 60, 255}};
  Raster image(view.layer.width, view.layer.height);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t* s = view.layer.At(x, y);
      std::uint8_t* d = image.At(x, y);
      for (int c = 0; c < 3; ++c)
        d[c] = static_cast<std::uint8_t>((s[c] * s[3] + 24 * (255 - s[3])) / 255);
      d[3] = 255;
    }
  }
  auto plot = [&](int x, int y, const std::uint8_t* rgba) {
    if (x >= 0 && y >= 0 && x < image.width && y < image.height) {
      std::copy(rgba, rgba + 4, image.At(x, y));
    }
  };
  for (std::size_t k = 0; k < view.pieces.size(); ++k) {
    const PF_Rect& b = view.pieces[k].box;
    const std::uint8_t* colour = kColours[k % 5];
    for (int x = b.left; x < b.right; ++x) {
      plot(x, b.top, colour);
      plot(x, b.bottom - 1, colour);
    }
    for (int y = b.top; y < b.bottom; ++y) {
      plot(b.left, y, colour);
      plot(b.right - 1, y, colour);
    }
    const std::string label = std::to_string(k);
    DrawLabel(image, b.left + 1, b.top - 9 >= 0 ? b.top - 9 : b.top + 2, label.c_str(), 1, colour);
  }
  return image;
}

}  // namespace vantrel::cli
