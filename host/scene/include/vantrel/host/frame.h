// The host's frame: what After Effects does around an effect to render one
// frame of a composition. The scene's layer is drawn into the effect's input,
// the module renders it (PF_Cmd_RENDER) in a strict session of its own, and
// the effect's output is drawn into the composition by the layer's transform.
#ifndef VANTREL_HOST_FRAME_H
#define VANTREL_HOST_FRAME_H

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ae_sdk.h"
#include "vantrel/host/imaging.h"
#include "vantrel/host/module_loader.h"
#include "vantrel/host/scene.h"
#include "vantrel/host/scene_layers.h"
#include "vantrel/host/session.h"

namespace vantrel::host {

// The layer's side of one frame, before compositing: what the effect was
// given and what it drew, both layer-sized at the frame's downsampling
// (ceil(width / n) × ceil(height / n)).
struct LayerFrame {
  Image input;
  Image output;
  PF_Err result = PF_Err_NONE;  // the module's answer to PF_Cmd_RENDER
};

// The source-to-destination matrix (row vectors) that puts a layer image at a
// downsampling of 1/n into the composition at the same downsampling: a layer
// pixel p is the layer point p × n, which goes to
// ((p × n − anchor) × scale / 100 + position) / n.
PF_FloatMatrix LayerToCompMatrix(const LayerTransform& transform, double frame, int n);

class FrameRenderer {
 public:
  // Builds the scene's text layer (its layout once, for all frames) and runs
  // the module's PF_Cmd_GLOBAL_SETUP and PF_Cmd_PARAMS_SETUP to learn its
  // controls. The module must outlive the renderer. Throws HostError when the
  // text cannot be laid out or a set-up command fails.
  FrameRenderer(const LoadedModule& module, const Scene& scene);
  // The same with another layer in place of the scene's text layer (a solid,
  // a layer over given contours).
  FrameRenderer(const LoadedModule& module, const Scene& scene, std::unique_ptr<SceneLayer> layer);
  // The same over any entry point (a probe in tests); a null layer stands for
  // the scene's text layer.
  FrameRenderer(PF_EntryPointFunc entry, const Scene& scene, std::unique_ptr<SceneLayer> layer);
  ~FrameRenderer();

  // The composition at `frame` and a downsampling of 1/n: an image of
  // ceil(width / n) × ceil(height / n) holding the background with the
  // layer's effect output composited over it by the layer's transform at that
  // frame. Thread-safe: frames may render in parallel, each in its own session.
  Image RenderFrame(int frame, Resolution resolution) const;

  // Only the effect's render of the layer at `frame`. Thread-safe.
  LayerFrame RenderLayer(int frame, Resolution resolution) const;

  // The render command alone, in a session the caller prepared (with the
  // imaging and text suites registered, and perhaps callbacks wrapped): binds
  // the layer and effect to the session for the call, fills PF_InData and the
  // params array for `frame` and calls PF_Cmd_RENDER with `input` as the
  // input layer and `output` as the output. Both worlds are layer-sized at the
  // downsampling; `input` must already hold the layer's source. Violations
  // stay in the session; the module's result is returned.
  PF_Err RenderLayerIn(Session& session, int frame, Resolution resolution,
                       const PF_EffectWorld& input, PF_EffectWorld& output) const;

  // Draws a layer-space image into the composition image by the layer's
  // transform at `frame`: comp = ((layer − anchor) × scale / 100 + position),
  // everything at the downsampling 1/n, bilinear, full opacity.
  void CompositeLayer(const Image& layer_image, int frame, Resolution resolution,
                      Image& comp) const;

  // Protocol violations and failed commands of the set-up and of every frame
  // rendered so far, each prefixed with where it happened ("set-up: ",
  // "frame 12: ").
  std::vector<std::string> Violations() const;

  const std::vector<DeclaredParam>& declared_params() const { return effect_->declared(); }
  const SceneLayer& layer() const { return *layer_; }
  const SceneEffect& effect() const { return *effect_; }
  const Scene& scene() const { return scene_; }

 private:
  // `module_name` (the module's file, or "" for a bare entry point) starts
  // the message of a failed set-up.
  FrameRenderer(PF_EntryPointFunc entry, const std::string& module_name, const Scene& scene,
                std::unique_ptr<SceneLayer> layer);
  void AddViolations(const std::string& where, const std::vector<std::string>& found) const;

  PF_EntryPointFunc entry_;
  Scene scene_;
  std::unique_ptr<SceneLayer> layer_;
  std::unique_ptr<SceneEffect> effect_;
  mutable std::mutex violations_mutex_;
  mutable std::vector<std::string> violations_;
};

}  // namespace vantrel::host

#endif  // VANTREL_HOST_FRAME_H
