#include "module_render.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "vantrel/host/imaging_suites.h"
#include "vantrel/host/session.h"
#include "vantrel/host/text_suites.h"

namespace vantrel::bench {
namespace {

int32_t Downsampled(int32_t full, int n) { return (full + n - 1) / n; }

// The recording wrapper's state: one census and the host's own callback,
// per thread (a census runs on the thread that calls the module).
thread_local RenderCensus* t_census = nullptr;
thread_local decltype(PF_UtilCallbacks::transform_world) t_transform_world = nullptr;
thread_local decltype(PF_UtilCallbacks::fill) t_fill = nullptr;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

PF_Err RecordingFill(PF_ProgPtr ref, const PF_Pixel* color, const PF_Rect* rect,
                     PF_EffectWorld* world) {
  const auto start = std::chrono::steady_clock::now();
  const PF_Err err = t_fill(ref, color, rect, world);
  t_census->fill_seconds += SecondsSince(start);
  return err;
}

bool MapCorner(const PF_FloatMatrix& m, double u, double v, double& x, double& y) {
  const double w = u * m.mat[0][2] + v * m.mat[1][2] + m.mat[2][2];
  if (!(w > 0)) return false;
  x = (u * m.mat[0][0] + v * m.mat[1][0] + m.mat[2][0]) / w;
  y = (u * m.mat[0][1] + v * m.mat[1][1] + m.mat[2][1]) / w;
  return true;
}

PF_Err RecordingTransformWorld(PF_ProgPtr ref, PF_Quality quality, PF_ModeFlags flags,
                               PF_Field field, const PF_EffectWorld* src,
                               const PF_CompositeMode* mode, const PF_MaskWorld* mask,
                               const PF_FloatMatrix* matrices, A_long count, PF_Boolean src2dst,
                               const PF_Rect* dest_rect, PF_EffectWorld* dst) {
  RenderCensus& c = *t_census;
  ++c.composites;
  if (src && matrices && src2dst && (count == 1 || count == 2)) {
    const double us[2] = {0, static_cast<double>(src->width)};
    const double vs[2] = {0, static_cast<double>(src->height)};
    double motion = 0, x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
    for (double u : us) {
      for (double v : vs) {
        double xa, ya, xb, yb;
        if (!MapCorner(matrices[0], u, v, xa, ya) ||
            !MapCorner(matrices[count - 1], u, v, xb, yb)) {
          continue;
        }
        motion = std::max(motion, std::hypot(xb - xa, yb - ya));
        x0 = std::min({x0, xa, xb});
        x1 = std::max({x1, xa, xb});
        y0 = std::min({y0, ya, yb});
        y1 = std::max({y1, ya, yb});
      }
    }
    if (count == 2) ++c.blurred;
    c.placements += count == 2 ? host::MotionBlurSampleCount(motion) : 1;
    if (dst && x0 <= x1) {
      const double w =
          std::clamp(x1, 0.0, double(dst->width)) - std::clamp(x0, 0.0, double(dst->width));
      const double h =
          std::clamp(y1, 0.0, double(dst->height)) - std::clamp(y0, 0.0, double(dst->height));
      c.covered_pixels += std::max(0.0, w) * std::max(0.0, h);
    }
    c.piece_pixels += static_cast<double>(src->width) * src->height;
  }
  const auto start = std::chrono::steady_clock::now();
  const PF_Err err = t_transform_world(ref, quality, flags, field, src, mode, mask, matrices, count,
                                       src2dst, dest_rect, dst);
  c.transform_seconds += SecondsSince(start);
  return err;
}

}  // namespace

const host::LoadedModule& BenchModule() {
  static const std::unique_ptr<host::LoadedModule> module =
      host::LoadedModule::Load(VANTREL_MODULE_PATH);
  return *module;
}

ModuleRender::ModuleRender(const host::Scene& scene, host::Resolution resolution)
    : renderer_(BenchModule(), scene), resolution_(resolution) {
  const int n = static_cast<int>(resolution);
  const PF_RationalScale downsample{1, static_cast<A_u_long>(n)};
  input_ = host::Image(Downsampled(scene.comp.width, n), Downsampled(scene.comp.height, n));
  output_ = host::Image(input_.width(), input_.height());
  PF_EffectWorld input = input_.AsWorld();
  renderer_.layer().DrawSource(input, downsample, downsample);
  const auto set_up = renderer_.Violations();
  violations_.insert(violations_.end(), set_up.begin(), set_up.end());
}

PF_Err ModuleRender::RenderIn(host::Session& session, int frame) {
  const PF_EffectWorld input = input_.AsWorld();
  PF_EffectWorld output = output_.AsWorld();
  const PF_Err result = renderer_.RenderLayerIn(session, frame, resolution_, input, output);
  const auto found = session.violations();
  violations_.insert(violations_.end(), found.begin(), found.end());
  return result;
}

PF_Err ModuleRender::Render(int frame) {
  host::Session session;
  host::RegisterImagingSuites(session);
  host::RegisterTextSuites(session);
  return RenderIn(session, frame);
}

RenderCensus ModuleRender::Census(int frame) {
  host::Session session;
  host::RegisterImagingSuites(session);
  host::RegisterTextSuites(session);
  RenderCensus census;
  t_census = &census;
  t_transform_world = session.utils().transform_world;
  session.utils().transform_world = &RecordingTransformWorld;
  t_fill = session.utils().fill;
  session.utils().fill = &RecordingFill;
  const auto start = std::chrono::steady_clock::now();
  RenderIn(session, frame);
  census.render_seconds = SecondsSince(start);
  t_census = nullptr;
  return census;
}

}  // namespace vantrel::bench
