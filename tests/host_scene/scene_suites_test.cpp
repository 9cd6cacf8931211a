// The layer, stream and effect suites, driven by a probe entry point that
// calls them as a module would, inside Session::Call.
#include "vantrel/host/scene_suites.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "test_controls.h"
#include "vantrel/host/scene_layers.h"

namespace vantrel::host {
namespace {

// The suites a render uses, acquired for the span of one probe call.
struct Suites {
  const AEGP_PFInterfaceSuite1* pf = nullptr;
  const AEGP_LayerSuite5* layer = nullptr;
  const AEGP_StreamSuite4* stream9 = nullptr;
  const AEGP_StreamSuite3* stream8 = nullptr;
  const AEGP_EffectSuite3* effect = nullptr;
};

using ProbeBody = std::function<PF_Err(PF_InData&, const Suites&)>;
thread_local const ProbeBody* g_probe = nullptr;

template <class T>
const T* Acquire(SPBasicSuite* basic, const char* name, int32 version) {
  const void* table = nullptr;
  return basic->AcquireSuite(name, version, &table) == 0 ? static_cast<const T*>(table) : nullptr;
}

PF_Err ProbeEntry(PF_Cmd, PF_InData* in, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
  SPBasicSuite* basic = in->pica_basicP;
  Suites s;
  s.pf = Acquire<AEGP_PFInterfaceSuite1>(basic, kAEGPPFInterfaceSuite, 1);
  s.layer = Acquire<AEGP_LayerSuite5>(basic, kAEGPLayerSuite, 11);
  s.stream9 = Acquire<AEGP_StreamSuite4>(basic, kAEGPStreamSuite, 9);
  s.stream8 = Acquire<AEGP_StreamSuite3>(basic, kAEGPStreamSuite, 8);
  s.effect = Acquire<AEGP_EffectSuite3>(basic, kAEGPEffectSuite, 3);
  PF_Err err = (s.pf && s.layer && s.stream9 && s.stream8 && s.effect) ? (*g_probe)(*in, s)
                                                                       : PF_Err_BAD_CALLBACK_PARAM;
  basic->ReleaseSuite(kAEGPPFInterfaceSuite, 1);
  basic->ReleaseSuite(kAEGPLayerSuite, 11);
  basic->ReleaseSuite(kAEGPStreamSuite, 9);
  basic->ReleaseSuite(kAEGPStreamSuite, 8);
  basic->ReleaseSuite(kAEGPEffectSuite, 3);
  return err;
}

Composition Comp() {
  Composition comp;
  comp.fps_num = 30;
  comp.fps_den = 1;
  return comp;
}

A_Time Frame(double f) { return A_Time{static_cast<A_long>(f * 100), 3000}; }

LayerTransform PositionFrom0To400() {
  LayerTransform t;
  t.position = Animated<Vec2>{{{0, {0, 50}, Interpolation::kLinear}, {20, {400, 50}}}};
  t.scale = Animated<Vec2>::Constant({80, 120});
  return t;
}

EffectSettings OpacityFadingOut() {
  EffectSettings settings;
  settings.controls[testing::kOpacityIndex] =
      Animated<double>{{{0, 100.0, Interpolation::kLinear}, {10, 0.0}}};
  return settings;
}

bool Mentions(const std::vector<std::string>& violations, const std::string& text) {
  for (const std::string& v : violations) {
    if (v.find(text) != std::string::npos) return true;
  }
  return false;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

class SceneSuitesTest : public ::testing::Test {
 protected:
  // Runs `body` as a module's render command; returns its result.
  PF_Err Run(const ProbeBody& body) {
    g_probe = &body;
    PF_InData in = session.MakeInData();
    PF_OutData out{};
    const PF_Err err = session.Call(&ProbeEntry, PF_Cmd_RENDER, &in, &out, nullptr, nullptr);
    g_probe = nullptr;
    return err;
  }

  Composition comp = Comp();
  SolidLayer layer{{255, 0, 0, 0}, {0, 0, 10, 10}, PositionFrom0To400(), comp};
  SceneEffect effect{OpacityFadingOut(), testing::EffectLikeControls(), comp};
  Session session;
  SceneBinding binding = RegisterSceneSuites(session, layer, effect);
};

TEST_F(SceneSuitesTest, LayerStreamValuesFollowTheKeys) {
  EXPECT_EQ(Run([](PF_InData& in, const Suites& s) -> PF_Err {
              AEGP_LayerH layerH = nullptr;
              EXPECT_EQ(s.pf->AEGP_GetEffectLayer(in.effect_ref, &layerH), A_Err_NONE);
              AEGP_ObjectType type = -5;
              EXPECT_EQ(s.layer->AEGP_GetLayerObjectType(layerH, &type), A_Err_NONE);
              EXPECT_EQ(type, AEGP_ObjectType_AV);

              AEGP_StreamVal2 value{};
              AEGP_StreamType stream_type = AEGP_StreamType_NO_DATA;
              const A_Time t = Frame(5);
              EXPECT_EQ(s.stream9->AEGP_GetLayerStreamValue(layerH, AEGP_LayerStream_POSITION,
                                                            AEGP_LTimeMode_LayerTime, &t, false,
                                                            &value, &stream_type),
                        A_Err_NONE);
              EXPECT_DOUBLE_EQ(value.three_d.x, 100);
              EXPECT_DOUBLE_EQ(value.three_d.y, 50);
              EXPECT_EQ(stream_type, AEGP_StreamType_ThreeD_SPATIAL);

              // Before the first key, at another time scale, without a type out.
              const A_Time early{-3, 30};
              EXPECT_EQ(s.stream9->AEGP_GetLayerStreamValue(layerH, AEGP_LayerStream_POSITION,
                                                            AEGP_LTimeMode_LayerTime, &early, true,
                                                            &value, nullptr),
                        A_Err_NONE);
              EXPECT_EQ(value.three_d.x, 0);

              EXPECT_EQ(s.stream9->AEGP_GetLayerStreamValue(layerH, AEGP_LayerStream_SCALE,
                                                            AEGP_LTimeMode_LayerTime, &t, false,
                                                            &value, &stream_type),
                        A_Err_NONE);
              EXPECT_EQ(value.three_d.x, 80);
              EXPECT_EQ(value.three_d.y, 120);
              EXPECT_EQ(value.three_d.z, 100);
              EXPECT_EQ(stream_type, AEGP_StreamType_ThreeD);
              return PF_Err_NONE;
            }),
            PF_Err_NONE);
  EXPECT_TRUE(session.violations().empty()) << Join(session.violations());
}

TEST_F(SceneSuitesTest, LayerStreamRequestsThatAreWrongAreRefused) {
  Run([](PF_InData& in, const Suites& s) -> PF_Err {
    AEGP_LayerH layerH = nullptr;
    s.pf->AEGP_GetEffectLayer(in.effect_ref, &layerH);
    AEGP_StreamVal2 value{};
    const A_Time t = Frame(1);
    const A_Time no_scale{100, 0};
    auto get = [&](AEGP_LayerH l, AEGP_LayerStream stream, AEGP_LTimeMode mode, const A_Time* time,
                   AEGP_StreamVal2* out) {
      return s.stream9->AEGP_GetLayerStreamValue(l, stream, mode, time, false, out, nullptr);
    };
    EXPECT_EQ(get(layerH, AEGP_LayerStream_POSITION, AEGP_LTimeMode_CompTime, &t, &value),
              A_Err_PARAMETER);
    EXPECT_EQ(get(layerH, AEGP_LayerStream_POSITION, AEGP_LTimeMode_LayerTime, &no_scale, &value),
              A_Err_PARAMETER);
    EXPECT_EQ(get(layerH, AEGP_LayerStream_POSITION, AEGP_LTimeMode_LayerTime, nullptr, &value),
              A_Err_PARAMETER);
    EXPECT_EQ(get(layerH, AEGP_LayerStream_POSITION, AEGP_LTimeMode_LayerTime, &t, nullptr),
              A_Err_PARAMETER);
    EXPECT_EQ(get(layerH, AEGP_LayerStream_ROTATION, AEGP_LTimeMode_LayerTime, &t, &value),
              A_Err_PARAMETER);
    int not_a_layer = 0;
    EXPECT_EQ(get(reinterpret_cast<AEGP_LayerH>(&not_a_layer), AEGP_LayerStream_POSITION,
                  AEGP_LTimeMode_LayerTime, &t, &value),
              A_Err_PARAMETER);
    AEGP_ObjectType type;
    EXPECT_EQ(s.layer->AEGP_GetLayerObjectType(reinterpret_cast<AEGP_LayerH>(&not_a_layer), &type),
              A_Err_PARAMETER);
    int other_effect = 0;
    EXPECT_EQ(s.pf->AEGP_GetEffectLayer(reinterpret_cast<PF_ProgPtr>(&other_effect), &layerH),
              A_Err_PARAMETER);
    return PF_Err_NONE;
  });
  const auto violations = session.violations();
  EXPECT_EQ(violations.size(), 8u) << Join(violations);
  EXPECT_TRUE(Mentions(violations, "AEGP_LTimeMode_LayerTime"));
  EXPECT_TRUE(Mentions(violations, "time scale 0"));
  EXPECT_TRUE(Mentions(violations, "unknown or stale layer"));
  EXPECT_TRUE(Mentions(violations, "AEGP_GetEffectLayer"));
}

TEST_F(SceneSuitesTest, OpacityStreamOfTheEffectAtLayerTimes) {
  EXPECT_EQ(Run([](PF_InData& in, const Suites& s) -> PF_Err {
              AEGP_EffectRefH effectH = nullptr;
              EXPECT_EQ(s.pf->AEGP_GetNewEffectForEffect(0, in.effect_ref, &effectH), A_Err_NONE);
              AEGP_StreamRefH streamH = nullptr;
              EXPECT_EQ(s.stream9->AEGP_GetNewEffectStreamByIndex(0, effectH,
                                                                  testing::kOpacityIndex, &streamH),
                        A_Err_NONE);
              // The effect reference goes first; its stream stays usable.
              EXPECT_EQ(s.effect->AEGP_DisposeEffect(effectH), A_Err_NONE);
              for (auto [frame, expected] :
                   {std::pair{0.0, 100.0}, {2.5, 75.0}, {5.0, 50.0}, {-4.0, 100.0}, {12.0, 0.0}}) {
                AEGP_StreamValue2 value{};
                const A_Time t = Frame(frame);
                EXPECT_EQ(s.stream8->AEGP_GetNewStreamValue(0, streamH, AEGP_LTimeMode_LayerTime,
                                                            &t, false, &value),
                          A_Err_NONE);
                EXPECT_EQ(value.streamH, streamH);
                EXPECT_DOUBLE_EQ(value.val.one_d, expected) << "frame " << frame;
                EXPECT_EQ(s.stream9->AEGP_DisposeStreamValue(&value), A_Err_NONE);
              }
              EXPECT_EQ(s.stream9->AEGP_DisposeStream(streamH), A_Err_NONE);
              return PF_Err_NONE;
            }),
            PF_Err_NONE);
  EXPECT_TRUE(session.violations().empty()) << Join(session.violations());
}

TEST_F(SceneSuitesTest, StaleAndDisposedHandlesAreRefused) {
  Run([](PF_InData& in, const Suites& s) -> PF_Err {
    AEGP_EffectRefH effectH = nullptr;
    s.pf->AEGP_GetNewEffectForEffect(0, in.effect_ref, &effectH);
    AEGP_StreamRefH streamH = nullptr;
    s.stream9->AEGP_GetNewEffectStreamByIndex(0, effectH, testing::kOpacityIndex, &streamH);
    EXPECT_EQ(s.stream9->AEGP_DisposeStream(streamH), A_Err_NONE);
    EXPECT_EQ(s.stream9->AEGP_DisposeStream(streamH), A_Err_PARAMETER);
    AEGP_StreamValue2 value{};
    const A_Time t = Frame(1);
    EXPECT_EQ(
        s.stream8->AEGP_GetNewStreamValue(0, streamH, AEGP_LTimeMode_LayerTime, &t, false, &value),
        A_Err_PARAMETER);
    EXPECT_EQ(s.effect->AEGP_DisposeEffect(effectH), A_Err_NONE);
    EXPECT_EQ(s.effect->AEGP_DisposeEffect(effectH), A_Err_PARAMETER);
    AEGP_StreamRefH another = nullptr;
    EXPECT_EQ(
        s.stream9->AEGP_GetNewEffectStreamByIndex(0, effectH, testing::kOpacityIndex, &another),
        A_Err_PARAMETER);
    EXPECT_EQ(another, nullptr);
    return PF_Err_NONE;
  });
  const auto violations = session.violations();
  EXPECT_EQ(violations.size(), 4u) << Join(violations);
  EXPECT_TRUE(Mentions(violations, "AEGP_GetNewStreamValue: unknown, stale or disposed stream"));
  EXPECT_TRUE(Mentions(violations, "AEGP_GetNewEffectStreamByIndex"));
}

TEST_F(SceneSuitesTest, OnlyOneDimensionalControlsHaveStreams) {
  Run([](PF_InData& in, const Suites& s) -> PF_Err {
    AEGP_EffectRefH effectH = nullptr;
    s.pf->AEGP_GetNewEffectForEffect(0, in.effect_ref, &effectH);
    for (PF_ParamIndex index : {0, testing::kRangeGroupIndex, 24, -1}) {
      AEGP_StreamRefH streamH = nullptr;
      EXPECT_EQ(s.stream9->AEGP_GetNewEffectStreamByIndex(0, effectH, index, &streamH),
                A_Err_PARAMETER)
          << "index " << index;
    }
    s.effect->AEGP_DisposeEffect(effectH);
    return PF_Err_NONE;
  });
  EXPECT_EQ(session.violations().size(), 4u) << Join(session.violations());
}

TEST_F(SceneSuitesTest, StreamValuesMustBeDisposedOnceEach) {
  Run([](PF_InData& in, const Suites& s) -> PF_Err {
    AEGP_EffectRefH effectH = nullptr;
    s.pf->AEGP_GetNewEffectForEffect(0, in.effect_ref, &effectH);
    AEGP_StreamRefH streamH = nullptr;
    s.stream9->AEGP_GetNewEffectStreamByIndex(0, effectH, testing::kOpacityIndex, &streamH);
    const A_Time t = Frame(1);
    AEGP_StreamValue2 disposed_twice{}, kept{};
    s.stream8->AEGP_GetNewStreamValue(0, streamH, AEGP_LTimeMode_LayerTime, &t, false,
                                      &disposed_twice);
    EXPECT_EQ(s.stream9->AEGP_DisposeStreamValue(&disposed_twice), A_Err_NONE);
    EXPECT_EQ(s.stream9->AEGP_DisposeStreamValue(&disposed_twice), A_Err_PARAMETER);
    s.stream8->AEGP_GetNewStreamValue(0, streamH, AEGP_LTimeMode_LayerTime, &t, false, &kept);
    s.stream9->AEGP_DisposeStream(streamH);
    s.effect->AEGP_DisposeEffect(effectH);
    return PF_Err_NONE;
  });
  const auto violations = session.violations();
  ASSERT_EQ(violations.size(), 2u) << Join(violations);
  EXPECT_TRUE(Mentions(violations, "AEGP_DisposeStreamValue"));
  EXPECT_TRUE(Mentions(violations, "stream value@"));  // the kept value, reported as a leak
}

TEST_F(SceneSuitesTest, EffectReferencesAndStreamsLeftOpenAreLeaks) {
  Run([](PF_InData& in, const Suites& s) -> PF_Err {
    AEGP_EffectRefH effectH = nullptr;
    s.pf->AEGP_GetNewEffectForEffect(0, in.effect_ref, &effectH);
    AEGP_StreamRefH streamH = nullptr;
    s.stream9->AEGP_GetNewEffectStreamByIndex(0, effectH, testing::kOpacityIndex, &streamH);
    return PF_Err_NONE;
  });
  const auto violations = session.violations();
  EXPECT_EQ(violations.size(), 2u) << Join(violations);
  EXPECT_TRUE(Mentions(violations, "effect reference@"));
  EXPECT_TRUE(Mentions(violations, "stream@"));
}

TEST_F(SceneSuitesTest, UnusedFunctionsAnswerWithAnErrorAndNameThemselves) {
  Run([](PF_InData& in, const Suites& s) -> PF_Err {
    // Every slot of every table is a callable function.
    auto all_filled = [](const void* table, std::size_t size) {
      const auto* slots = static_cast<void* const*>(table);
      for (std::size_t i = 0; i < size / sizeof(void*); ++i) {
        if (!slots[i]) return false;
      }
      return true;
    };
    EXPECT_TRUE(all_filled(s.pf, sizeof *s.pf));
    EXPECT_TRUE(all_filled(s.layer, sizeof *s.layer));
    EXPECT_TRUE(all_filled(s.stream9, sizeof *s.stream9));
    EXPECT_TRUE(all_filled(s.stream8, sizeof *s.stream8));
    EXPECT_TRUE(all_filled(s.effect, sizeof *s.effect));

    AEGP_LayerH layerH = nullptr;
    s.pf->AEGP_GetEffectLayer(in.effect_ref, &layerH);
    A_long index = 0;
    EXPECT_EQ(s.layer->AEGP_GetLayerIndex(layerH, &index), A_Err_GENERIC);
    AEGP_StreamRefH streamH = nullptr;
    EXPECT_EQ(s.stream9->AEGP_GetNewLayerStream(0, layerH, AEGP_LayerStream_POSITION, &streamH),
              A_Err_GENERIC);
    A_char name[64] = {};
    EXPECT_EQ(s.stream8->AEGP_GetStreamName(nullptr, false, name), A_Err_GENERIC);
    return PF_Err_NONE;
  });
  const auto violations = session.violations();
  EXPECT_EQ(violations.size(), 3u) << Join(violations);
  EXPECT_TRUE(Mentions(violations, "AEGP_GetLayerIndex: not provided"));
  EXPECT_TRUE(Mentions(violations, "AEGP_GetNewLayerStream: not provided"));
  EXPECT_TRUE(Mentions(violations, "AEGP_GetStreamName: not provided"));
}

TEST_F(SceneSuitesTest, CallsOutsideAModuleCallFailQuietly) {
  const auto* pf = static_cast<const AEGP_PFInterfaceSuite1*>(
      session.suites().Find(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1));
  ASSERT_NE(pf, nullptr);
  AEGP_LayerH layerH = nullptr;
  EXPECT_EQ(pf->AEGP_GetEffectLayer(session.effect_ref(), &layerH), A_Err_GENERIC);
  EXPECT_EQ(layerH, nullptr);
}

TEST_F(SceneSuitesTest, TheLayerHandleLivesAsLongAsTheBinding) {
  const AEGP_LayerH layerH = binding.layer_handle();
  EXPECT_NE(session.handles().Find<HostLayer>(HandleKind::kLayer, layerH), nullptr);
  EXPECT_THROW((void)RegisterSceneSuites(session, layer, effect), HostError);
  { SceneBinding moved = std::move(binding); }
  EXPECT_EQ(session.handles().Find<HostLayer>(HandleKind::kLayer, layerH), nullptr);
  // Unbound: the suites refuse to work for this session.
  EXPECT_NE(Run([](PF_InData& in, const Suites& s) -> PF_Err {
              AEGP_LayerH l = nullptr;
              return s.pf->AEGP_GetEffectLayer(in.effect_ref, &l);
            }),
            PF_Err_NONE);
}

}  // namespace
}  // namespace vantrel::host
