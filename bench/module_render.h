// One PF_Cmd_RENDER of the module through the stand-in host, on an input
// layer image that was drawn beforehand: what the host's frame does for the
// effect minus the drawing of the layer's text, which is measured apart.
#ifndef VANTREL_BENCH_MODULE_RENDER_H
#define VANTREL_BENCH_MODULE_RENDER_H

#include <memory>
#include <string>
#include <vector>

#include "ae_sdk.h"
#include "vantrel/host/frame.h"
#include "vantrel/host/imaging.h"
#include "vantrel/host/module_loader.h"
#include "vantrel/host/scene.h"

namespace vantrel::bench {

// The module this build made (VANTREL_MODULE_PATH), loaded once per process.
const host::LoadedModule& BenchModule();

// What the host was asked to draw during one render, gathered by a
// recording wrapper around transform_world.
struct RenderCensus {
  int composites = 0;            // transform_world calls
  int blurred = 0;               // calls with two matrices
  double placements = 0;         // placements drawn, summed over the calls
  double covered_pixels = 0;     // destination pixels inside the placements' boxes
  double piece_pixels = 0;       // source pixels of the piece worlds
  double render_seconds = 0;     // the whole PF_Cmd_RENDER call
  double transform_seconds = 0;  // inside the host's transform_world
  double fill_seconds = 0;       // inside the host's PF_FILL
};

class ModuleRender {
 public:
  // Runs the module's set-up, then draws the layer's input image at the
  // resolution once. Throws host::HostError like the host's frame.
  ModuleRender(const host::Scene& scene, host::Resolution resolution);

  // One PF_Cmd_RENDER at `frame` into the output image, in a fresh session
  // as the host's frame makes for every frame. Returns the module's result.
  PF_Err Render(int frame);

  // The same render with transform_world and fill recorded and timed (not
  // for the benchmark's own timing).
  RenderCensus Census(int frame);

  // Protocol violations seen by any session of this object so far.
  const std::vector<std::string>& violations() const { return violations_; }
  const host::Image& output() const { return output_; }
  const host::FrameRenderer& renderer() const { return renderer_; }

 private:
  PF_Err RenderIn(host::Session& session, int frame);

  host::FrameRenderer renderer_;
  host::Resolution resolution_;
  host::Image input_;
  host::Image output_;
  std::vector<std::string> violations_;
};

}  // namespace vantrel::bench

#endif  // VANTREL_BENCH_MODULE_RENDER_H
