#include "vantrel/host/scene_suites.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vantrel::host {
namespace {

static_assert(sizeof(AEGP_LTimeMode) == 2, "the time mode is passed as a 16-bit value");

// What a session's suites see of the scene.
struct Binding {
  const HostLayer* layer = nullptr;
  const HostEffect* effect = nullptr;
  std::mutex mutex;  // guards `values`
  // Stream values handed out and not yet disposed: the stream they were read
  // from, and the kStreamValue handle that stands for each.
  std::multimap<AEGP_StreamRefH, const void*> values;
};

// Objects behind the owned handles of these suites.
struct EffectRefObject {
  const HostEffect* effect;
};
struct StreamObject {
  const HostEffect* effect;
  PF_ParamIndex index;
};
struct StreamValueToken {
  AEGP_StreamRefH stream;
};

std::mutex g_bindings_mutex;
std::unordered_map<const Session*, std::unique_ptr<Binding>> g_bindings;

// The session and binding of the module call running on this thread. Throws
// HostError (turned into A_Err_GENERIC by CallGuard) outside a module call or
// for a session without a scene.
struct Context {
  Session& session;
  Binding& binding;
};

Context Enter() {
  Session* session = Session::Current();
  if (!session) throw HostError("called outside a module call");
  std::lock_guard lock(g_bindings_mutex);
  auto it = g_bindings.find(session);
  if (it == g_bindings.end()) throw HostError("no layer or effect is bound to this session");
  return Context{*session, *it->second};
}

A_Err Refuse(Session& session, const char* function, const std::string& why) {
  session.AddViolation(std::string(function) + ": " + why);
  return A_Err_PARAMETER;
}

// A time the module passes: it must be in layer time (the layer starts at the
// composition's start, but the effect is meant to ask in layer time) and at a
// usable scale.
const char* TimeProblem(AEGP_LTimeMode time_mode, const A_Time* time) {
  if (time_mode != AEGP_LTimeMode_LayerTime) return "time mode is not AEGP_LTimeMode_LayerTime";
  if (!time) return "null time";
  if (time->scale == 0) return "time scale 0";
  return nullptr;
}

const HostLayer* FindLayer(const Context& c, AEGP_LayerH layerH) {
  if (!c.session.handles().Find<void>(HandleKind::kLayer, layerH)) return nullptr;
  return layerH == reinterpret_cast<AEGP_LayerH>(const_cast<HostLayer*>(c.binding.layer))
             ? c.binding.layer
             : nullptr;
}

bool IsOwnEffectRef(const Context& c, PF_ProgPtr effect_ref) {
  return effect_ref != nullptr && effect_ref == c.session.effect_ref();
}

// ---------------------------------------------------------------------------
// "AEGP PF Interface Suite" 1

A_Err GetEffectLayer(PF_ProgPtr effect_ref, AEGP_LayerH* layerPH) {
  return CallGuard("AEGP_GetEffectLayer", [&]() -> A_Err {
    if (auto fault = PlannedFailure("AEGP_GetEffectLayer")) {
      if (layerPH) *layerPH = nullptr;
      return *fault;
    }
    Context c = Enter();
    if (!layerPH) return Refuse(c.session, "AEGP_GetEffectLayer", "null layer pointer");
    if (!IsOwnEffectRef(c, effect_ref)) {
      return Refuse(c.session, "AEGP_GetEffectLayer", "effect_ref is not the one of this call");
    }
    *layerPH = reinterpret_cast<AEGP_LayerH>(const_cast<HostLayer*>(c.binding.layer));
    return A_Err_NONE;
  });
}

A_Err GetNewEffectForEffect(AEGP_PluginID, PF_ProgPtr effect_ref, AEGP_EffectRefH* effectPH) {
  return CallGuard("AEGP_GetNewEffectForEffect", [&]() -> A_Err {
    if (auto fault = PlannedFailure("AEGP_GetNewEffectForEffect")) {
      if (effectPH) *effectPH = nullptr;
      return *fault;
    }
    Context c = Enter();
    if (!effectPH) return Refuse(c.session, "AEGP_GetNewEffectForEffect", "null effect pointer");
    if (!IsOwnEffectRef(c, effect_ref)) {
      return Refuse(c.session, "AEGP_GetNewEffectForEffect",
                    "effect_ref is not the one of this call");
    }
    *effectPH = reinterpret_cast<AEGP_EffectRefH>(c.session.handles().Issue(
        HandleKind::kEffectRef,
        std::make_unique<EffectRefObject>(EffectRefObject{c.binding.effect})));
    return A_Err_NONE;
  });
}

// ---------------------------------------------------------------------------
// "AEGP Layer Suite" 11

A_Err GetLayerObjectType(AEGP_LayerH layerH, AEGP_ObjectType* object_type) {
  return CallGuard("AEGP_GetLayerObjectType", [&]() -> A_Err {
    if (auto fault = PlannedFailure("AEGP_GetLayerObjectType")) return *fault;
    Context c = Enter();
    if (!object_type) return Refuse(c.session, "AEGP_GetLayerObjectType", "null type pointer");
    const HostLayer* layer = FindLayer(c, layerH);
    if (!layer) return Refuse(c.session, "AEGP_GetLayerObjectType", "unknown or stale layer");
    *object_type = layer->ObjectType();
    return A_Err_NONE;
  });
}

// ---------------------------------------------------------------------------
// "AEGP Stream Suite" 9 and 8

AEGP_StreamType LayerStreamType(AEGP_LayerStream stream) {
  return stream == AEGP_LayerStream_SCALE ? AEGP_StreamType_ThreeD : AEGP_StreamType_ThreeD_SPATIAL;
}

A_Err GetLayerStreamValue(AEGP_LayerH layerH, AEGP_LayerStream which_stream,
                          AEGP_LTimeMode time_mode, const A_Time* timePT, A_Boolean,
                          AEGP_StreamVal2* stream_valP, AEGP_StreamType* stream_typeP0) {
  // No expressions exist in a scene: values before and after them are equal.
  return CallGuard("AEGP_GetLayerStreamValue", [&]() -> A_Err {
    constexpr const char* kName = "AEGP_GetLayerStreamValue";
    if (auto fault = PlannedFailure(kName)) return *fault;
    Context c = Enter();
    if (!stream_valP) return Refuse(c.session, kName, "null value pointer");
    if (const char* problem = TimeProblem(time_mode, timePT))
      return Refuse(c.session, kName, problem);
    const HostLayer* layer = FindLayer(c, layerH);
    if (!layer) return Refuse(c.session, kName, "unknown or stale layer");
    std::optional<AEGP_ThreeDVal> value = layer->StreamValue(which_stream, *timePT);
    if (!value) {
      return Refuse(c.session, kName, "the layer has no stream " + std::to_string(which_stream));
    }
    *stream_valP = AEGP_StreamVal2{};
    stream_valP->three_d = *value;
    if (stream_typeP0) *stream_typeP0 = LayerStreamType(which_stream);
    return A_Err_NONE;
  });
}

A_Err GetNewEffectStreamByIndex(AEGP_PluginID, AEGP_EffectRefH effect_refH,
                                PF_ParamIndex param_index, AEGP_StreamRefH* streamPH) {
  return CallGuard("AEGP_GetNewEffectStreamByIndex", [&]() -> A_Err {
    constexpr const char* kName = "AEGP_GetNewEffectStreamByIndex";
    if (auto fault = PlannedFailure(kName)) {
      if (streamPH) *streamPH = nullptr;
      return *fault;
    }
    Context c = Enter();
    if (!streamPH) return Refuse(c.session, kName, "null stream pointer");
    auto* effect = c.session.handles().Find<EffectRefObject>(HandleKind::kEffectRef, effect_refH);
    if (!effect) return Refuse(c.session, kName, "unknown, stale or disposed effect reference");
    if (!effect->effect->ParamValue(param_index, A_Time{0, 100})) {
      return Refuse(c.session, kName,
                    "parameter " + std::to_string(param_index) + " has no value stream");
    }
    *streamPH = reinterpret_cast<AEGP_StreamRefH>(c.session.handles().Issue(
        HandleKind::kStream,
        std::make_unique<StreamObject>(StreamObject{effect->effect, param_index})));
    return A_Err_NONE;
  });
}

A_Err DisposeStream(AEGP_StreamRefH streamH) {
  return CallGuard("AEGP_DisposeStream", [&]() -> A_Err {
    Context c = Enter();
    // The handle table records what is wrong with a refused dispose.
    return c.session.handles().Dispose(HandleKind::kStream, streamH) ? A_Err_NONE : A_Err_PARAMETER;
  });
}

A_Err GetNewStreamValue(AEGP_PluginID, AEGP_StreamRefH streamH, AEGP_LTimeMode time_mode,
                        const A_Time* timePT, A_Boolean, AEGP_StreamValue2* valueP) {
  return CallGuard("AEGP_GetNewStreamValue", [&]() -> A_Err {
    constexpr const char* kName = "AEGP_GetNewStreamValue";
    if (auto fault = PlannedFailure(kName)) return *fault;
    Context c = Enter();
    if (!valueP) return Refuse(c.session, kName, "null value pointer");
    if (const char* problem = TimeProblem(time_mode, timePT))
      return Refuse(c.session, kName, problem);
    auto* stream = c.session.handles().Find<StreamObject>(HandleKind::kStream, streamH);
    if (!stream) return Refuse(c.session, kName, "unknown, stale or disposed stream");
    std::optional<double> value = stream->effect->ParamValue(stream->index, *timePT);
    if (!value) return Refuse(c.session, kName, "the stream has no value");
    const void* token = c.session.handles().Issue(
        HandleKind::kStreamValue, std::make_unique<StreamValueToken>(StreamValueToken{streamH}));
    {
      std::lock_guard lock(c.binding.mutex);
      c.binding.values.emplace(streamH, token);
    }
    valueP->streamH = streamH;
    valueP->val = AEGP_StreamVal2{};
    valueP->val.one_d = *value;
    return A_Err_NONE;
  });
}

A_Err DisposeStreamValue(AEGP_StreamValue2* valueP) {
  return CallGuard("AEGP_DisposeStreamValue", [&]() -> A_Err {
    constexpr const char* kName = "AEGP_DisposeStreamValue";
    Context c = Enter();
    if (!valueP) return Refuse(c.session, kName, "null value pointer");
    const void* token = nullptr;
    {
      std::lock_guard lock(c.binding.mutex);
      // Values that the session reclaimed as leaks at the end of an earlier
      // call are dropped on the way: a new stream may reuse an old address.
      auto [it, end] = c.binding.values.equal_range(valueP->streamH);
      while (it != end && !token) {
        if (c.session.handles().Find<void>(HandleKind::kStreamValue, it->second))
          token = it->second;
        it = c.binding.values.erase(it);
      }
    }
    if (!token) {
      return Refuse(c.session, kName,
                    "no value of this stream is outstanding (never obtained or already disposed)");
    }
    return c.session.handles().Dispose(HandleKind::kStreamValue, token) ? A_Err_NONE
                                                                        : A_Err_PARAMETER;
  });
}

// ---------------------------------------------------------------------------
// "AEGP Effect Suite" 3

A_Err DisposeEffect(AEGP_EffectRefH effect_refH) {
  return CallGuard("AEGP_DisposeEffect", [&]() -> A_Err {
    Context c = Enter();
    return c.session.handles().Dispose(HandleKind::kEffectRef, effect_refH) ? A_Err_NONE
                                                                            : A_Err_PARAMETER;
  });
}

// ---------------------------------------------------------------------------
// The functions of these suites that the effect does not use. Each slot gets
// a function of its own exact type that names itself in the violation.

template <std::size_t N>
struct FunctionName {
  char text[N];
  constexpr FunctionName(const char (&name)[N]) { std::copy_n(name, N, text); }
};

A_Err ReportNotProvided(const char* function) noexcept {
  return CallGuard(function, [&]() -> A_Err {
    if (Session* session = Session::Current()) {
      session->AddViolation(std::string(function) + ": not provided by this host");
    }
    return A_Err_GENERIC;
  });
}

template <FunctionName kName, class Slot>
struct Unprovided;
template <FunctionName kName, class... Args>
struct Unprovided<kName, A_Err (*)(Args...)> {
  static A_Err Call(Args...) noexcept { return ReportNotProvided(kName.text); }
};

template <FunctionName kName, class Slot>
void NotProvided(Slot& slot) {
  slot = &Unprovided<kName, Slot>::Call;
}

AEGP_PFInterfaceSuite1 MakePFInterfaceSuite() {
  AEGP_PFInterfaceSuite1 t{};
  t.AEGP_GetEffectLayer = &GetEffectLayer;
  t.AEGP_GetNewEffectForEffect = &GetNewEffectForEffect;
  NotProvided<"AEGP_ConvertEffectToCompTime">(t.AEGP_ConvertEffectToCompTime);
  NotProvided<"AEGP_GetEffectCamera">(t.AEGP_GetEffectCamera);
  NotProvided<"AEGP_GetEffectCameraMatrix">(t.AEGP_GetEffectCameraMatrix);
  return t;
}

AEGP_LayerSuite5 MakeLayerSuite() {
  AEGP_LayerSuite5 t{};
  NotProvided<"AEGP_GetCompNumLayers">(t.AEGP_GetCompNumLayers);
  NotProvided<"AEGP_GetCompLayerByIndex">(t.AEGP_GetCompLayerByIndex);
  NotProvided<"AEGP_GetActiveLayer">(t.AEGP_GetActiveLayer);
  NotProvided<"AEGP_GetLayerIndex">(t.AEGP_GetLayerIndex);
  NotProvided<"AEGP_GetLayerSourceItem">(t.AEGP_GetLayerSourceItem);
  NotProvided<"AEGP_GetLayerSourceItemID">(t.AEGP_GetLayerSourceItemID);
  NotProvided<"AEGP_GetLayerParentComp">(t.AEGP_GetLayerParentComp);
  NotProvided<"AEGP_GetLayerName">(t.AEGP_GetLayerName);
  NotProvided<"AEGP_GetLayerQuality">(t.AEGP_GetLayerQuality);
  NotProvided<"AEGP_SetLayerQuality">(t.AEGP_SetLayerQuality);
  NotProvided<"AEGP_GetLayerFlags">(t.AEGP_GetLayerFlags);
  NotProvided<"AEGP_SetLayerFlag">(t.AEGP_SetLayerFlag);
  NotProvided<"AEGP_IsLayerVideoReallyOn">(t.AEGP_IsLayerVideoReallyOn);
  NotProvided<"AEGP_IsLayerAudioReallyOn">(t.AEGP_IsLayerAudioReallyOn);
  NotProvided<"AEGP_GetLayerCurrentTime">(t.AEGP_GetLayerCurrentTime);
  NotProvided<"AEGP_GetLayerInPoint">(t.AEGP_GetLayerInPoint);
  NotProvided<"AEGP_GetLayerDuration">(t.AEGP_GetLayerDuration);
  NotProvided<"AEGP_SetLayerInPointAndDuration">(t.AEGP_SetLayerInPointAndDuration);
  NotProvided<"AEGP_GetLayerOffset">(t.AEGP_GetLayerOffset);
  NotProvided<"AEGP_SetLayerOffset">(t.AEGP_SetLayerOffset);
  NotProvided<"AEGP_GetLayerStretch">(t.AEGP_GetLayerStretch);
  NotProvided<"AEGP_SetLayerStretch">(t.AEGP_SetLayerStretch);
  NotProvided<"AEGP_GetLayerTransferMode">(t.AEGP_GetLayerTransferMode);
  NotProvided<"AEGP_SetLayerTransferMode">(t.AEGP_SetLayerTransferMode);
  NotProvided<"AEGP_IsAddLayerValid">(t.AEGP_IsAddLayerValid);
  NotProvided<"AEGP_AddLayer">(t.AEGP_AddLayer);
  NotProvided<"AEGP_ReorderLayer">(t.AEGP_ReorderLayer);
  NotProvided<"AEGP_GetLayerMaskedBounds">(t.AEGP_GetLayerMaskedBounds);
  t.AEGP_GetLayerObjectType = &GetLayerObjectType;
  NotProvided<"AEGP_IsLayer3D">(t.AEGP_IsLayer3D);
  NotProvided<"AEGP_IsLayer2D">(t.AEGP_IsLayer2D);
  NotProvided<"AEGP_IsVideoActive">(t.AEGP_IsVideoActive);
  NotProvided<"AEGP_IsLayerUsedAsTrackMatte">(t.AEGP_IsLayerUsedAsTrackMatte);
  NotProvided<"AEGP_DoesLayerHaveTrackMatte">(t.AEGP_DoesLayerHaveTrackMatte);
  NotProvided<"AEGP_ConvertCompToLayerTime">(t.AEGP_ConvertCompToLayerTime);
  NotProvided<"AEGP_ConvertLayerToCompTime">(t.AEGP_ConvertLayerToCompTime);
  NotProvided<"AEGP_GetLayerDancingRandValue">(t.AEGP_GetLayerDancingRandValue);
  NotProvided<"AEGP_GetLayerID">(t.AEGP_GetLayerID);
  NotProvided<"AEGP_GetLayerToWorldXform">(t.AEGP_GetLayerToWorldXform);
  NotProvided<"AEGP_GetLayerToWorldXformFromView">(t.AEGP_GetLayerToWorldXformFromView);
  NotProvided<"AEGP_SetLayerName">(t.AEGP_SetLayerName);
  NotProvided<"AEGP_GetLayerParent">(t.AEGP_GetLayerParent);
  NotProvided<"AEGP_SetLayerParent">(t.AEGP_SetLayerParent);
  NotProvided<"AEGP_DeleteLayer">(t.AEGP_DeleteLayer);
  NotProvided<"AEGP_DuplicateLayer">(t.AEGP_DuplicateLayer);
  NotProvided<"AEGP_GetLayerFromLayerID">(t.AEGP_GetLayerFromLayerID);
  return t;
}

// Versions 9 and 8 differ only in AEGP_GetStreamName, which is not provided.
template <class Suite>
Suite MakeStreamSuite() {
  Suite t{};
  NotProvided<"AEGP_IsStreamLegal">(t.AEGP_IsStreamLegal);
  NotProvided<"AEGP_CanVaryOverTime">(t.AEGP_CanVaryOverTime);
  NotProvided<"AEGP_GetValidInterpolations">(t.AEGP_GetValidInterpolations);
  NotProvided<"AEGP_GetNewLayerStream">(t.AEGP_GetNewLayerStream);
  NotProvided<"AEGP_GetEffectNumParamStreams">(t.AEGP_GetEffectNumParamStreams);
  t.AEGP_GetNewEffectStreamByIndex = &GetNewEffectStreamByIndex;
  NotProvided<"AEGP_GetNewMaskStream">(t.AEGP_GetNewMaskStream);
  t.AEGP_DisposeStream = &DisposeStream;
  NotProvided<"AEGP_GetStreamName">(t.AEGP_GetStreamName);
  NotProvided<"AEGP_GetStreamUnitsText">(t.AEGP_GetStreamUnitsText);
  NotProvided<"AEGP_GetStreamProperties">(t.AEGP_GetStreamProperties);
  NotProvided<"AEGP_IsStreamTimevarying">(t.AEGP_IsStreamTimevarying);
  NotProvided<"AEGP_GetStreamType">(t.AEGP_GetStreamType);
  t.AEGP_GetNewStreamValue = &GetNewStreamValue;
  t.AEGP_DisposeStreamValue = &DisposeStreamValue;
  NotProvided<"AEGP_SetStreamValue">(t.AEGP_SetStreamValue);
  t.AEGP_GetLayerStreamValue = &GetLayerStreamValue;
  NotProvided<"AEGP_GetExpressionState">(t.AEGP_GetExpressionState);
  NotProvided<"AEGP_SetExpressionState">(t.AEGP_SetExpressionState);
  NotProvided<"AEGP_GetExpression">(t.AEGP_GetExpression);
  NotProvided<"AEGP_SetExpression">(t.AEGP_SetExpression);
  NotProvided<"AEGP_DuplicateStreamRef">(t.AEGP_DuplicateStreamRef);
  return t;
}

AEGP_EffectSuite3 MakeEffectSuite() {
  AEGP_EffectSuite3 t{};
  NotProvided<"AEGP_GetLayerNumEffects">(t.AEGP_GetLayerNumEffects);
  NotProvided<"AEGP_GetLayerEffectByIndex">(t.AEGP_GetLayerEffectByIndex);
  NotProvided<"AEGP_GetInstalledKeyFromLayerEffect">(t.AEGP_GetInstalledKeyFromLayerEffect);
  NotProvided<"AEGP_GetEffectParamUnionByIndex">(t.AEGP_GetEffectParamUnionByIndex);
  NotProvided<"AEGP_GetEffectFlags">(t.AEGP_GetEffectFlags);
  NotProvided<"AEGP_SetEffectFlags">(t.AEGP_SetEffectFlags);
  NotProvided<"AEGP_ReorderEffect">(t.AEGP_ReorderEffect);
  NotProvided<"AEGP_EffectCallGeneric">(t.AEGP_EffectCallGeneric);
  t.AEGP_DisposeEffect = &DisposeEffect;
  NotProvided<"AEGP_ApplyEffect">(t.AEGP_ApplyEffect);
  NotProvided<"AEGP_DeleteLayerEffect">(t.AEGP_DeleteLayerEffect);
  NotProvided<"AEGP_GetNumInstalledEffects">(t.AEGP_GetNumInstalledEffects);
  NotProvided<"AEGP_GetNextInstalledEffect">(t.AEGP_GetNextInstalledEffect);
  NotProvided<"AEGP_GetEffectName">(t.AEGP_GetEffectName);
  NotProvided<"AEGP_GetEffectMatchName">(t.AEGP_GetEffectMatchName);
  NotProvided<"AEGP_GetEffectCategory">(t.AEGP_GetEffectCategory);
  NotProvided<"AEGP_DuplicateEffect">(t.AEGP_DuplicateEffect);
  return t;
}

}  // namespace

SceneBinding RegisterSceneSuites(Session& session, const HostLayer& layer,
                                 const HostEffect& effect) {
  static const AEGP_PFInterfaceSuite1 pf_interface = MakePFInterfaceSuite();
  static const AEGP_LayerSuite5 layer_suite = MakeLayerSuite();
  static const AEGP_StreamSuite4 stream_suite4 = MakeStreamSuite<AEGP_StreamSuite4>();
  static const AEGP_StreamSuite3 stream_suite3 = MakeStreamSuite<AEGP_StreamSuite3>();
  static const AEGP_EffectSuite3 effect_suite = MakeEffectSuite();
  {
    std::lock_guard lock(g_bindings_mutex);
    auto binding = std::make_unique<Binding>();
    binding->layer = &layer;
    binding->effect = &effect;
    if (!g_bindings.emplace(&session, std::move(binding)).second) {
      throw HostError("a layer and an effect are already bound to this session");
    }
  }
  session.suites().Register(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &pf_interface);
  session.suites().Register(kAEGPLayerSuite, kAEGPLayerSuiteVersion5, &layer_suite);
  session.suites().Register(kAEGPStreamSuite, kAEGPStreamSuiteVersion4, &stream_suite4);
  session.suites().Register(kAEGPStreamSuite, kAEGPStreamSuiteVersion3, &stream_suite3);
  session.suites().Register(kAEGPEffectSuite, kAEGPEffectSuiteVersion3, &effect_suite);
  session.handles().Lend(HandleKind::kLayer, &layer);
  return SceneBinding(&session, &layer);
}

SceneBinding::SceneBinding(SceneBinding&& other) noexcept
    : session_(other.session_), layer_(other.layer_) {
  other.session_ = nullptr;
}

SceneBinding::~SceneBinding() {
  if (!session_) return;
  session_->handles().Revoke(layer_);
  std::lock_guard lock(g_bindings_mutex);
  g_bindings.erase(session_);
}

AEGP_LayerH SceneBinding::layer_handle() const {
  return reinterpret_cast<AEGP_LayerH>(const_cast<HostLayer*>(layer_));
}

}  // namespace vantrel::host
