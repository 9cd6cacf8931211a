// One render of the built module in a session of the test's own making, with
// everything the strict host saw of it: the result, the violations, what was
// still held afterwards and how often each host function was called.
#ifndef VANTREL_TESTS_RELIABILITY_RENDER_HARNESS_H
#define VANTREL_TESTS_RELIABILITY_RENDER_HARNESS_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "vantrel/host/frame.h"
#include "vantrel/host/imaging_suites.h"
#include "vantrel/host/text_suites.h"

namespace vantrel::host::reliability {

// Control indices of the effect (the params array order).
inline constexpr int kDelay = 1;
inline constexpr int kRangeGuide = 7;
inline constexpr int kTrackingAmount = 10;
inline constexpr int kMotionBlur = 14;
inline constexpr int kSeparationGuide = 18;
inline constexpr int kOpacity = 19;

// The colour the output holds before the render: a render that ends before
// clearing it must leave every pixel so.
inline constexpr PF_Pixel kUntouched{77, 1, 2, 3};

struct RenderRun {
  PF_Err result = PF_Err_NONE;
  std::vector<std::string> violations;
  std::vector<std::string> suites_held;   // suites acquired more often than released
  std::vector<std::string> handles_held;  // owned host objects still alive
  std::vector<std::string> acquired;      // every AcquireSuite, in order
  std::map<std::string, int> calls;       // per faultable host function
  int injected = 0;                       // faults of the plan that were triggered
  Image output;
};

// A short text with motion, delay, tracking, motion blur and both guides on,
// so that one render makes every kind of host call the effect knows.
inline Scene BusyScene() {
  Scene scene;
  scene.comp.width = 240;
  scene.comp.height = 80;
  scene.comp.duration_frames = 24;
  scene.layer.text = "Ab Cd";
  scene.layer.font_size = 36;
  scene.layer.text_origin = {10, 55};
  scene.layer.position = Animated<Vec2>{{{0, {0, 0}, Interpolation::kLinear}, {20, {60, 10}}}};
  scene.layer.scale = Animated<Vec2>{{{0, {80, 80}, Interpolation::kEase}, {20, {120, 110}}}};
  scene.effect.controls[kDelay] = Animated<double>::Constant(2);
  scene.effect.controls[kRangeGuide] = Animated<double>::Constant(1);
  scene.effect.controls[kTrackingAmount] = Animated<double>::Constant(5);
  scene.effect.controls[kMotionBlur] = Animated<double>::Constant(1);
  scene.effect.controls[kSeparationGuide] = Animated<double>::Constant(1);
  scene.effect.controls[kOpacity] =
      Animated<double>{{{0, 100.0, Interpolation::kLinear}, {20, 40.0}}};
  return scene;
}

// Renders `frame` in a fresh session that `prepare` may rig with faults.
inline RenderRun RenderWith(const FrameRenderer& renderer, int frame, Resolution resolution,
                            const std::function<void(Session&)>& prepare = {}) {
  const int n = static_cast<int>(resolution);
  const int32_t width = (renderer.scene().comp.width + n - 1) / n;
  const int32_t height = (renderer.scene().comp.height + n - 1) / n;
  Image input(width, height);
  PF_EffectWorld input_world = input.AsWorld();
  const PF_RationalScale downsample{1, static_cast<A_u_long>(n)};
  renderer.layer().DrawSource(input_world, downsample, downsample);

  RenderRun run;
  run.output = Image(width, height);
  PF_EffectWorld output_world = run.output.AsWorld();
  Fill(output_world, &kUntouched, nullptr);

  Session session;
  RegisterImagingSuites(session);
  RegisterTextSuites(session);
  if (prepare) prepare(session);
  run.result = renderer.RenderLayerIn(session, frame, resolution, input_world, output_world);
  run.violations = session.violations();
  run.suites_held = session.suites().Outstanding();
  run.handles_held = session.handles().Outstanding();
  run.acquired = session.suites().AcquireLog();
  for (const std::string& f : FaultableHostFunctions()) {
    run.calls[f] = session.fault_plan().Calls(f);
  }
  run.injected = session.fault_plan().Injected();
  return run;
}

// Violations that mean the module left something behind or gave something
// back twice, as opposed to complaints about arguments that follow from a
// host failure the module does not examine.
inline std::vector<std::string> BalanceViolations(const RenderRun& run) {
  std::vector<std::string> found;
  for (const std::string& v : run.violations) {
    if (v.find("not released") != std::string::npos ||
        v.find("not disposed") != std::string::npos || v.find("dispose of") != std::string::npos ||
        v.find("which is not held") != std::string::npos ||
        v.find("exception left") != std::string::npos) {
      found.push_back(v);
    }
  }
  return found;
}

inline bool AllPixelsAre(const Image& image, PF_Pixel colour) {
  for (int32_t y = 0; y < image.height(); ++y) {
    for (int32_t x = 0; x < image.width(); ++x) {
      const PF_Pixel& p = image.at(x, y);
      if (p.alpha != colour.alpha || p.red != colour.red || p.green != colour.green ||
          p.blue != colour.blue) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace vantrel::host::reliability

#endif  // VANTREL_TESTS_RELIABILITY_RENDER_HARNESS_H
