// The module through the stand-in host: one PF_Cmd_RENDER of the cascade
// scene on an input drawn beforehand, and the host's whole frame around it.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>

#include "cascade_scene.h"
#include "module_render.h"

namespace {

using vantrel::bench::ModuleRender;
using vantrel::host::Resolution;

// Blur 0: none; 1: the cascade's short blur; 2: the long blur of a fast move
// (MakeLongBlurScene).
constexpr int kLongBlur = 2;

int FrameOf(int blur) {
  return blur == kLongBlur ? vantrel::bench::kLongBlurFrame : vantrel::bench::kCascadeFrame;
}

// Set-up and the input image are made once per configuration and reused by
// every benchmark of that configuration.
ModuleRender& Fixture(int pieces, int blur, int n) {
  static std::map<std::tuple<int, int, int>, std::unique_ptr<ModuleRender>> fixtures;
  auto& slot = fixtures[{pieces, blur, n}];
  if (!slot) {
    slot = std::make_unique<ModuleRender>(blur == kLongBlur
                                              ? vantrel::bench::MakeLongBlurScene(pieces)
                                              : vantrel::bench::MakeCascadeScene(pieces, blur != 0),
                                          static_cast<Resolution>(n));
  }
  return *slot;
}

// What one render asked of the host, as counters beside the time: composites,
// mean placements per composite (the motion-blur samples), the mean piece
// size and the destination area covered; and the shares of the render spent
// in the host's transform_world and PF_FILL (the best of a few timed runs),
// the rest being the module's own work and its other host calls.
void ReportCensus(benchmark::State& state, ModuleRender& render, int frame) {
  auto census = render.Census(frame);
  for (int i = 0; i < 4; ++i) {
    const auto again = render.Census(frame);
    if (again.render_seconds < census.render_seconds) census = again;
  }
  state.counters["composites"] = census.composites;
  if (census.composites > 0) {
    state.counters["samples"] = census.placements / census.composites;
    state.counters["px/piece"] = census.piece_pixels / census.composites;
    state.counters["covered_px"] = census.covered_pixels;
    state.counters["transform%"] = 100 * census.transform_seconds / census.render_seconds;
    state.counters["fill%"] = 100 * census.fill_seconds / census.render_seconds;
  }
}

// One render of the delayed text: clear, analysis, stream sampling, one cut
// and one transform_world per piece. The text's drawing is not included.
void BM_ModuleRender(benchmark::State& state) {
  const int pieces = static_cast<int>(state.range(0));
  const int blur = static_cast<int>(state.range(1));
  const int n = static_cast<int>(state.range(2));
  ModuleRender& render = Fixture(pieces, blur, n);
  for (auto _ : state) {
    const PF_Err err = render.Render(FrameOf(blur));
    benchmark::DoNotOptimize(err);
  }
  if (!render.violations().empty()) {
    state.SkipWithError(("host violation: " + render.violations().front()).c_str());
    return;
  }
  ReportCensus(state, render, FrameOf(blur));
}
BENCHMARK(BM_ModuleRender)
    ->ArgNames({"pieces", "blur", "ds"})
    ->Args({200, 0, 1})
    ->Args({500, 0, 1})
    ->Args({200, 1, 1})
    ->Args({200, kLongBlur, 1})
    ->Args({200, 0, 2})
    ->Args({200, 1, 2})
    ->Unit(benchmark::kMillisecond);

// The host's whole frame as `vantrel render` does it: the layer's text drawn
// into the input (cached coverage), the module's render, and the effect's
// output composited into the composition by the layer's transform.
void BM_HostFrame(benchmark::State& state) {
  const int pieces = static_cast<int>(state.range(0));
  const int blur = static_cast<int>(state.range(1));
  ModuleRender& render = Fixture(pieces, blur, 1);
  const auto& renderer = render.renderer();
  // The first frame rasterises the text; later frames reuse it.
  (void)renderer.RenderFrame(vantrel::bench::kCascadeFrame, Resolution::kFull);
  for (auto _ : state) {
    auto frame = renderer.RenderFrame(vantrel::bench::kCascadeFrame, Resolution::kFull);
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_HostFrame)
    ->ArgNames({"pieces", "blur"})
    ->Args({200, 0})
    ->Args({200, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
