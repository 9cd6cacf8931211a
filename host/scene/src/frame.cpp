#include "vantrel/host/frame.h"

#include <cmath>
#include <string>

#include "vantrel/host/imaging_suites.h"
#include "vantrel/host/scene_suites.h"
#include "vantrel/host/text_suites.h"

namespace vantrel::host {
namespace {

int Factor(Resolution resolution) { return static_cast<int>(resolution); }

// Size of the layer (and of the composition) at a downsampling of 1/n: a
// partly covered pixel at the right or bottom edge is kept.
int32_t Downsampled(int32_t full, int n) { return (full + n - 1) / n; }

// The per-command fields of PF_InData that describe the composition and the
// time; the render adds its own.
void DescribeComposition(const Composition& comp, PF_InData& in) {
  in.time_step = kTimeUnitsPerFrame;
  in.local_time_step = kTimeUnitsPerFrame;
  in.time_scale = TimeScale(comp);
  in.total_time = comp.duration_frames * kTimeUnitsPerFrame;
  in.width = comp.width;
  in.height = comp.height;
  in.pixel_aspect_ratio = {1, 1};
  in.quality = PF_Quality_HI;
  in.field = PF_Field_FRAME;
}

std::vector<std::string> Prefixed(const std::string& where, std::vector<std::string> found) {
  for (std::string& s : found) s = where + s;
  return found;
}

HostError SetUpFailure(const std::string& module_name, const std::string& which, PF_Err err,
                       const Session& session) {
  std::string message = (module_name.empty() ? "" : module_name + ": ") + "the module's " + which +
                        " set-up failed with error " + std::to_string(err);
  for (const std::string& v : session.violations()) message += "; " + v;
  return HostError(message);
}

}  // namespace

FrameRenderer::FrameRenderer(const LoadedModule& module, const Scene& scene)
    : FrameRenderer(module.entry(), module.path().string(), scene, nullptr) {}

FrameRenderer::FrameRenderer(const LoadedModule& module, const Scene& scene,
                             std::unique_ptr<SceneLayer> layer)
    : FrameRenderer(module.entry(), module.path().string(), scene, std::move(layer)) {}

FrameRenderer::FrameRenderer(PF_EntryPointFunc entry, const Scene& scene,
                             std::unique_ptr<SceneLayer> layer)
    : FrameRenderer(entry, "", scene, std::move(layer)) {}

FrameRenderer::FrameRenderer(PF_EntryPointFunc entry, const std::string& module_name,
                             const Scene& scene, std::unique_ptr<SceneLayer> layer)
    : entry_(entry),
      scene_(scene),
      layer_(layer ? std::move(layer) : std::make_unique<TextLayer>(scene.layer, scene.comp)) {
  // Global and parameter set-up, once, as the host does when the effect is
  // first applied; the declared controls give the defaults and the records of
  // every frame's params array.
  Session session;
  PF_InData in = session.MakeInData();
  DescribeComposition(scene_.comp, in);
  PF_OutData out{};
  const PF_Err global = session.Call(entry_, PF_Cmd_GLOBAL_SETUP, &in, &out, nullptr, nullptr);
  if (global != PF_Err_NONE) throw SetUpFailure(module_name, "global", global, session);
  out = PF_OutData{};
  in.num_params = 1;
  const PF_Err params = session.Call(entry_, PF_Cmd_PARAMS_SETUP, &in, &out, nullptr, nullptr);
  if (params != PF_Err_NONE) throw SetUpFailure(module_name, "parameter", params, session);
  const auto declared = static_cast<A_long>(session.declared_params().size());
  if (out.num_params != declared + 1) {
    session.AddViolation("PF_Cmd_PARAMS_SETUP: num_params is " + std::to_string(out.num_params) +
                         " but " + std::to_string(declared) + " controls were declared");
  }
  AddViolations("set-up: ", session.violations());
  effect_ = std::make_unique<SceneEffect>(scene_.effect, session.declared_params(), scene_.comp);
}

FrameRenderer::~FrameRenderer() = default;

LayerFrame FrameRenderer::RenderLayer(int frame, Resolution resolution) const {
  const int n = Factor(resolution);
  const int32_t width = Downsampled(scene_.comp.width, n);
  const int32_t height = Downsampled(scene_.comp.height, n);
  const PF_RationalScale downsample{1, static_cast<A_u_long>(n)};

  LayerFrame result{Image(width, height), Image(width, height), PF_Err_NONE};
  PF_EffectWorld input = result.input.AsWorld();
  layer_->DrawSource(input, downsample, downsample);
  PF_EffectWorld output = result.output.AsWorld();

  Session session;
  RegisterImagingSuites(session);
  RegisterTextSuites(session);
  result.result = RenderLayerIn(session, frame, resolution, input, output);
  if (result.result != PF_Err_NONE) {
    session.AddViolation("PF_Cmd_RENDER returned error " + std::to_string(result.result));
  }
  AddViolations("frame " + std::to_string(frame) + ": ", session.violations());
  return result;
}

PF_Err FrameRenderer::RenderLayerIn(Session& session, int frame, Resolution resolution,
                                    const PF_EffectWorld& input, PF_EffectWorld& output) const {
  const int n = Factor(resolution);
  const PF_RationalScale downsample{1, static_cast<A_u_long>(n)};
  const SceneBinding binding = RegisterSceneSuites(session, *layer_, *effect_);

  PF_InData in = session.MakeInData();
  DescribeComposition(scene_.comp, in);
  in.current_time = frame * kTimeUnitsPerFrame;
  in.downsample_x = downsample;
  in.downsample_y = downsample;
  in.extent_hint = PF_Rect{0, 0, output.width, output.height};  // the whole layer, downsampled
  in.shutter_angle = 0;
  in.shutter_phase = 0;
  in.num_params = effect_->NumParams();

  // params[0] is the input layer; the controls carry their values at this
  // frame in the records they were declared with.
  const std::vector<DeclaredParam>& declared = effect_->declared();
  std::vector<PF_ParamDef> defs(declared.size() + 1);
  defs[0].param_type = PF_Param_LAYER;
  defs[0].u.ld = input;
  for (std::size_t i = 1; i < defs.size(); ++i) {
    const DeclaredParam& control = declared[i - 1];
    PF_ParamDef& def = defs[i];
    def = control.def;
    const std::optional<double> value = effect_->ParamValueAtFrame(static_cast<int>(i), frame);
    switch (def.param_type) {
      case PF_Param_FLOAT_SLIDER:
        def.u.fs_d.value = value.value_or(def.u.fs_d.value);
        break;
      case PF_Param_POPUP:
        // A pop-up's keys hold; a value between choices goes to the nearest.
        def.u.pd.value = static_cast<PF_ParamValue>(std::lround(value.value_or(def.u.pd.dephault)));
        def.u.pd.u.namesptr = control.choices.c_str();
        break;
      case PF_Param_CHECKBOX:
        def.u.bd.value = value.value_or(def.u.bd.dephault) != 0 ? 1 : 0;
        def.u.bd.u.nameptr = control.checkbox_text.c_str();
        break;
      default:
        break;
    }
  }
  std::vector<PF_ParamDef*> params;
  for (PF_ParamDef& def : defs) params.push_back(&def);

  PF_OutData out{};
  return session.Call(entry_, PF_Cmd_RENDER, &in, &out, params.data(), &output);
}

PF_FloatMatrix LayerToCompMatrix(const LayerTransform& transform, double frame, int n) {
  const Vec2 position = transform.position.At(frame);
  const Vec2 anchor = transform.anchor_point.At(frame);
  const Vec2 scale = transform.scale.At(frame);
  const double sx = scale.x / 100.0;
  const double sy = scale.y / 100.0;
  // p × s + (position − anchor × s) / n
  PF_FloatMatrix matrix{};
  matrix.mat[0][0] = sx;
  matrix.mat[1][1] = sy;
  matrix.mat[2][0] = (position.x - anchor.x * sx) / n;
  matrix.mat[2][1] = (position.y - anchor.y * sy) / n;
  matrix.mat[2][2] = 1;
  return matrix;
}

void FrameRenderer::CompositeLayer(const Image& layer_image, int frame, Resolution resolution,
                                   Image& comp) const {
  const PF_FloatMatrix matrix = LayerToCompMatrix(layer_->transform(), frame, Factor(resolution));
  PF_CompositeMode mode{};
  mode.xfer = PF_Xfer_IN_FRONT;
  mode.opacity = 255;
  // The source is only read; TransformWorld takes a description of it.
  PF_EffectWorld source = const_cast<Image&>(layer_image).AsWorld();
  PF_EffectWorld destination = comp.AsWorld();
  TransformWorld(PF_Quality_HI, PF_MF_Alpha_STRAIGHT, PF_Field_FRAME, source, mode, nullptr,
                 &matrix, 1, true, nullptr, destination);
}

Image FrameRenderer::RenderFrame(int frame, Resolution resolution) const {
  LayerFrame layer = RenderLayer(frame, resolution);
  const int n = Factor(resolution);
  Image comp(Downsampled(scene_.comp.width, n), Downsampled(scene_.comp.height, n));
  PF_EffectWorld comp_world = comp.AsWorld();
  Fill(comp_world, &scene_.comp.background, nullptr);
  CompositeLayer(layer.output, frame, resolution, comp);
  return comp;
}

std::vector<std::string> FrameRenderer::Violations() const {
  std::lock_guard lock(violations_mutex_);
  return violations_;
}

void FrameRenderer::AddViolations(const std::string& where,
                                  const std::vector<std::string>& found) const {
  if (found.empty()) return;
  std::vector<std::string> prefixed = Prefixed(where, found);
  std::lock_guard lock(violations_mutex_);
  violations_.insert(violations_.end(), prefixed.begin(), prefixed.end());
}

}  // namespace vantrel::host
