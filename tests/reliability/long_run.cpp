// Many consecutive renders of one scene in one process, as a host renders a
// long preview: the resident memory must stay flat once the first renders
// have warmed the allocator, the caches and the thread pool.
//
//   vantrel_long_run MODULE [RENDERS] [MAX_GROWTH_KB]
//
// Prints the resident size after render 100 and after every 1,000th, and
// exits 1 when it grew by more than MAX_GROWTH_KB (default 2048) from render
// 100 to the end, or when a render failed or broke the host's protocol.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>

#include "under_asan.h"
#include "vantrel/host/frame.h"

namespace {

#if defined(VANTREL_UNDER_ASAN)
// AddressSanitizer's own bookkeeping (quarantine, allocation stacks) grows
// the resident size by itself; there LeakSanitizer checks for leaks at exit
// and the bound is only reported.
constexpr bool kEnforceBound = false;
#else
constexpr bool kEnforceBound = true;
#endif

using vantrel::host::Animated;
using vantrel::host::FrameRenderer;
using vantrel::host::Interpolation;
using vantrel::host::LoadedModule;
using vantrel::host::Resolution;
using vantrel::host::Scene;
using vantrel::host::Vec2;

// Resident set size in KiB, from the second field of /proc/self/statm.
long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A small animated scene: a line of text moving and scaling, delayed per
// character, with motion blur and both guides on, so that every render uses
// every host service the effect has.
Scene LongRunScene() {
  Scene scene;
  scene.comp.width = 320;
  scene.comp.height = 96;
  scene.comp.duration_frames = 48;
  scene.layer.text = "Long run";
  scene.layer.font_size = 44;
  scene.layer.text_origin = {10, 62};
  scene.layer.position = Animated<Vec2>{{{0, {0, 0}, Interpolation::kEase}, {40, {40, 6}}}};
  scene.layer.scale = Animated<Vec2>{{{0, {70, 70}, Interpolation::kLinear}, {40, {130, 120}}}};
  scene.effect.controls[1] = Animated<double>::Constant(1.5);  // Delay (frames)
  scene.effect.controls[7] = Animated<double>::Constant(1);    // Enable Range Guide
  scene.effect.controls[14] = Animated<double>::Constant(1);   // Enable Motion Blur
  scene.effect.controls[18] = Animated<double>::Constant(1);   // Enable Separation Guide
  scene.effect.controls[19] = Animated<double>{{{0, 100.0, Interpolation::kLinear}, {40, 30.0}}};
  return scene;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s MODULE [RENDERS] [MAX_GROWTH_KB]\n", argv[0]);
    return 2;
  }
  const long renders = argc > 2 ? std::atol(argv[2]) : 10000;
  const long max_growth_kb = argc > 3 ? std::atol(argv[3]) : 2048;
  if (renders < 100) {
    std::fprintf(stderr, "at least 100 renders are needed for a baseline\n");
    return 2;
  }
  try {
    const auto module = LoadedModule::Load(argv[1]);
    const FrameRenderer renderer(*module, LongRunScene());
    const int frames = renderer.scene().comp.duration_frames;
    const auto start = std::chrono::steady_clock::now();
    long baseline_kb = 0;
    long failed = 0;
    for (long i = 1; i <= renders; ++i) {
      const auto frame = static_cast<int>(i % frames);
      if (renderer.RenderLayer(frame, Resolution::kFull).result != PF_Err_NONE) ++failed;
      if (i == 100) {
        baseline_kb = ResidentKb();
        std::printf("render %6ld: resident %ld KiB\n", i, baseline_kb);
      } else if (i % 1000 == 0 || i == renders) {
        std::printf("render %6ld: resident %ld KiB (%+ld KiB since render 100)\n", i, ResidentKb(),
                    ResidentKb() - baseline_kb);
      }
      std::fflush(stdout);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long growth_kb = ResidentKb() - baseline_kb;
    const std::size_t violations = renderer.Violations().size();
    std::printf(
        "%ld renders in %.1f s (%.2f ms each); growth %+ld KiB (limit %ld KiB%s); "
        "%ld failed renders, %zu violations\n",
        renders, seconds, 1000.0 * seconds / static_cast<double>(renders), growth_kb, max_growth_kb,
        kEnforceBound ? "" : ", not enforced under AddressSanitizer", failed, violations);
    if (violations > 0) std::printf("first violation: %s\n", renderer.Violations()[0].c_str());
    const bool grew = kEnforceBound && growth_kb > max_growth_kb;
    return grew || failed > 0 || violations > 0 ? 1 : 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantrel_long_run: %s\n", e.what());
    return 1;
  }
}
