#include "vantrel/cli/pieces.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

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

struct StreamRead {
  AEGP_LayerStream stream;
  A_Time time;
  AEGP_ThreeDVal value;  // zero when the layer had none
};

// What the wrapped host functions record during the one render of a view.
// The render runs on the calling thread, so the log is found through a
// thread-local pointer.
struct CallLog {
  std::vector<PF_Rect> copies;
  std::vector<ObservedPiece> composites;
  std::vector<StreamRead> stream_reads;
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
    const std::optional<AEGP_ThreeDVal> value = SceneLayer::StreamValue(stream, t);
    std::lock_guard lock(mutex_);
    log_.stream_reads.push_back({stream, t, value.value_or(AEGP_ThreeDVal{})});
    return value;
  }

 private:
  host::TextLayer text_;
  CallLog& log_;
  mutable std::mutex mutex_;
};

double ToFrame(const A_Time& t, const host::Composition& comp) { return host::FrameAt(t, comp); }

// The layer's transform as the module read it at one time.
struct Sample {
  A_Time time{};
  AEGP_ThreeDVal position{}, anchor{}, scale{};
};

// The module reads Position, Scale and Anchor Point at the current time, then
// Position, Anchor Point and Scale at each position's time in delay order,
// for every piece, drawn or not. Motion blur's reads follow, each pair
// starting with Position, Scale, Anchor Point again, which ends the run.
// Returns the current transform and one sample per position.
std::vector<Sample> SamplesPerPosition(const std::vector<StreamRead>& reads, Sample& now) {
  std::vector<Sample> samples;
  if (reads.size() < 3 || reads[0].stream != AEGP_LayerStream_POSITION ||
      reads[1].stream != AEGP_LayerStream_SCALE ||
      reads[2].stream != AEGP_LayerStream_ANCHORPOINT) {
    return samples;
  }
  now = {reads[0].time, reads[0].value, reads[2].value, reads[1].value};
  for (std::size_t i = 3; i + 2 < reads.size(); i += 3) {
    const bool triple = reads[i].stream == AEGP_LayerStream_POSITION &&
                        reads[i + 1].stream == AEGP_LayerStream_ANCHORPOINT &&
                        reads[i + 2].stream == AEGP_LayerStream_SCALE;
    if (!triple) break;
    samples.push_back({reads[i].time, reads[i].value, reads[i + 1].value, reads[i + 2].value});
  }
  return samples;
}

bool Near(double a, double b) { return std::abs(a - b) <= 1e-6 * (1 + std::abs(b)); }

// Where a piece's placement puts its box's corner along one axis, when the
// module scales it by `scale` about the layer's Position at its own time,
// after moving it by the change of the anchor point (counted at the current
// Scale) and of the Position. `ds` is the render's downsampling factor.
double PlacedEdge(int edge, double scale, double now_scale, double now_anchor, double now_position,
                  double anchor, double position, double ds) {
  const double anchor_shift = (now_scale * 0.01 * now_anchor - now_scale * 0.01 * anchor) * ds;
  return (edge + anchor_shift - now_position * ds) * scale + position * ds;
}

// Whether `piece` can be the composite of the position sampled as `at`. The
// module draws a piece only when its Scale ratio (current against its own) is
// finite and non-zero, and scales it by the inverse ratio. Vertically nothing
// else moves it; horizontally tracking may, so `horizontal` checks that edge
// too, as it is without tracking.
bool Fits(const ObservedPiece& piece, const Sample& now, const Sample& at, double ds,
          bool horizontal) {
  const double ratio_x = now.scale.x / at.scale.x;
  const double ratio_y = now.scale.y / at.scale.y;
  if (!std::isfinite(ratio_x) || ratio_x == 0 || !std::isfinite(ratio_y) || ratio_y == 0) {
    return false;
  }
  const double sx = 1 / ratio_x;
  const double sy = 1 / ratio_y;
  const double top = PlacedEdge(piece.box.top, sy, now.scale.y, now.anchor.y, now.position.y,
                                at.anchor.y, at.position.y, ds);
  const double left = PlacedEdge(piece.box.left, sx, now.scale.x, now.anchor.x, now.position.x,
                                 at.anchor.x, at.position.x, ds);
  const PF_FloatMatrix& m = piece.matrix;
  return Near(m.mat[0][0], sx) && Near(m.mat[1][1], sy) && Near(m.mat[2][1], top) &&
         (!horizontal || Near(m.mat[2][0], left));
}

// Gives each of `composites` composites a position, in order, such that
// fits(k, position) holds: the earliest possible, or the latest. Empty when
// there is none.
template <typename FitsAt>
std::optional<std::vector<std::size_t>> Align(std::size_t composites, std::size_t positions,
                                              FitsAt fits, bool latest) {
  std::vector<std::size_t> at(composites);
  if (!latest) {
    std::size_t j = 0;
    for (std::size_t k = 0; k < composites; ++k, ++j) {
      while (j < positions && !fits(k, j)) ++j;
      if (j == positions) return std::nullopt;
      at[k] = j;
    }
  } else {
    std::size_t j = positions;
    for (std::size_t k = composites; k-- > 0;) {
      while (j > 0 && !fits(k, j - 1)) --j;
      if (j == 0) return std::nullopt;
      at[k] = --j;
    }
  }
  return at;
}

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

  for (std::size_t k = 0; k < log.composites.size() && k < log.copies.size(); ++k) {
    log.composites[k].box = log.copies[k];
  }
  // Every position is sampled, but a skipped piece makes no world, copy or
  // composite, so each composite is matched to the position whose sample
  // explains its placement: with its horizontal offset if all fit so (no
  // tracking moved them), else without. Where several matches explain them
  // all (pieces skipped among alike transforms), the earliest is shown and
  // the positions in doubt are named.
  Sample now;
  const std::vector<Sample> samples = SamplesPerPosition(log.stream_reads, now);
  const double downsample = 1.0 / n;
  std::optional<std::vector<std::size_t>> earliest, latest;
  for (bool horizontal : {true, false}) {
    auto fits = [&](std::size_t k, std::size_t j) {
      return Fits(log.composites[k], now, samples[j], downsample, horizontal);
    };
    earliest = Align(log.composites.size(), samples.size(), fits, false);
    latest = Align(log.composites.size(), samples.size(), fits, true);
    if (earliest && latest) break;
  }
  if (!earliest || !latest) {
    // Placements the samples do not explain (a read the host refused stops
    // the module's reads): shown in the order composited.
    view.pieces = log.composites;
    for (std::size_t k = 0; k < view.pieces.size(); ++k) {
      view.pieces[k].frame =
          k < samples.size() ? ToFrame(samples[k].time, scene.comp) : static_cast<double>(frame);
    }
    view.unmatched = !view.pieces.empty();
    return view;
  }
  view.pieces.resize(samples.size());
  for (std::size_t j = 0; j < samples.size(); ++j) {
    view.pieces[j].skipped = true;
    view.pieces[j].frame = ToFrame(samples[j].time, scene.comp);
  }
  std::vector<bool> doubt(samples.size());
  for (std::size_t k = 0; k < earliest->size(); ++k) {
    const std::size_t j = (*earliest)[k];
    const double sampled = view.pieces[j].frame;
    view.pieces[j] = log.composites[k];
    view.pieces[j].frame = sampled;
    if ((*latest)[k] != j) std::fill(doubt.begin() + j, doubt.begin() + (*latest)[k] + 1, true);
  }
  for (std::size_t j = 0; j < doubt.size(); ++j) {
    if (doubt[j]) view.in_doubt.push_back(j);
  }
  return view;
}

std::string FormatPieces(const PiecesView& view, int frame) {
  std::string out;
  char line[200];
  const auto skipped = std::count_if(view.pieces.begin(), view.pieces.end(),
                                     [](const ObservedPiece& p) { return p.skipped; });
  std::snprintf(line, sizeof line,
                "%zu pieces at frame %d, in the order composited (delay order)%s\n"
                "  pos  box left,top - right,bottom   sampled at  delay   opacity  moved by"
                "            scale\n",
                view.pieces.size(), frame,
                skipped ? (", " + std::to_string(skipped) + " skipped").c_str() : "");
  out += line;
  for (std::size_t k = 0; k < view.pieces.size(); ++k) {
    const ObservedPiece& p = view.pieces[k];
    if (p.skipped) {
      std::snprintf(line, sizeof line, "%5zu  %-25s     %8.2f  %6.2f\n", k, "skipped", p.frame,
                    frame - p.frame);
      out += line;
      continue;
    }
    const double dx = p.matrix.mat[2][0] - p.box.left;
    const double dy = p.matrix.mat[2][1] - p.box.top;
    std::snprintf(line, sizeof line,
                  "%5zu  %5d,%5d - %5d,%5d     %8.2f  %6.2f   %3d      %+8.1f,%+8.1f  %.3f%s\n", k,
                  p.box.left, p.box.top, p.box.right, p.box.bottom, p.frame, frame - p.frame,
                  p.opacity, dx, dy, p.matrix.mat[0][0], p.matrices == 2 ? "  blur" : "");
    out += line;
  }
  if (!view.in_doubt.empty()) {
    out += "note: positions";
    // Runs of consecutive positions as first-last.
    for (std::size_t i = 0; i < view.in_doubt.size();) {
      std::size_t last = i;
      while (last + 1 < view.in_doubt.size() &&
             view.in_doubt[last + 1] == view.in_doubt[last] + 1) {
        ++last;
      }
      out += i ? ", " : " ";
      out += std::to_string(view.in_doubt[i]);
      if (last > i) {
        out += '-';
        out += std::to_string(view.in_doubt[last]);
      }
      i = last + 1;
    }
    out += " look alike to the host; which of them were skipped is a guess\n";
  }
  if (view.unmatched) {
    out += "note: the placements do not follow from the sampled transforms; times are by order\n";
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
    if (view.pieces[k].skipped) continue;  // it cut no box
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
