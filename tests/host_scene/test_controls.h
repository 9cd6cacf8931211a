// A control list shaped like the effect's (types, defaults and order of the
// 23 controls), for tests that need an effect without loading the module.
#ifndef VANTREL_TESTS_HOST_SCENE_TEST_CONTROLS_H
#define VANTREL_TESTS_HOST_SCENE_TEST_CONTROLS_H

#include <cstring>
#include <string>
#include <vector>

#include "vantrel/host/session.h"

namespace vantrel::host::testing {

inline DeclaredParam Control(PF_ParamType type, const char* name, double dephault) {
  DeclaredParam p{};
  p.def.param_type = type;
  std::strncpy(p.def.name, name, sizeof p.def.name - 1);
  switch (type) {
    case PF_Param_FLOAT_SLIDER:
      p.def.u.fs_d.valid_min = p.def.u.fs_d.slider_min = -10000;
      p.def.u.fs_d.valid_max = p.def.u.fs_d.slider_max = 10000;
      p.def.u.fs_d.value = dephault;
      p.def.u.fs_d.dephault = static_cast<A_FpShort>(dephault);
      break;
    case PF_Param_POPUP:
      p.def.u.pd.value = static_cast<PF_ParamValue>(dephault);
      p.def.u.pd.dephault = static_cast<A_short>(dephault);
      p.choices = "A|B|C|D";
      p.def.u.pd.num_choices = 4;
      break;
    case PF_Param_CHECKBOX:
      p.def.u.bd.value = static_cast<PF_ParamValue>(dephault);
      p.def.u.bd.dephault = static_cast<PF_Boolean>(dephault);
      break;
    default:
      break;
  }
  return p;
}

// Indices 1..23 of the params array.
inline std::vector<DeclaredParam> EffectLikeControls() {
  constexpr PF_ParamType kSlider = PF_Param_FLOAT_SLIDER, kPopup = PF_Param_POPUP,
                         kCheck = PF_Param_CHECKBOX, kStart = PF_Param_GROUP_START,
                         kEnd = PF_Param_GROUP_END;
  return {
      Control(kSlider, "Delay (frames)", 1),
      Control(kPopup, "Separation Mode", 1),
      Control(kPopup, "Order Modifier", 1),
      Control(kStart, "Range Selector", 0),
      Control(kSlider, "Range Start", 0),
      Control(kSlider, "Range End", 100),
      Control(kCheck, "Enable Range Guide", 0),
      Control(kEnd, "", 0),
      Control(kStart, "Tracking", 0),
      Control(kSlider, "Tracking Amount", 0),
      Control(kPopup, "Tracking Alignment", 1),
      Control(kEnd, "", 0),
      Control(kStart, "Motion Blur", 0),
      Control(kCheck, "Enable Motion Blur", 0),
      Control(kSlider, "Motion Blur Amount", 100),
      Control(kEnd, "", 0),
      Control(kSlider, "Separation Threshold", 1),
      Control(kCheck, "Enable Separation Guide", 0),
      Control(kSlider, "Opacity", 100),
      Control(kStart, "Utilities", 0),
      Control(kSlider, "Random Seed", 1000),
      Control(kCheck, "Evaluate Tangents", 1),
      Control(kEnd, "", 0),
  };
}

inline constexpr int kDelayIndex = 1;
inline constexpr int kSeparationModeIndex = 2;
inline constexpr int kRangeGroupIndex = 4;
inline constexpr int kOpacityIndex = 19;
inline constexpr int kEvaluateTangentsIndex = 22;

}  // namespace vantrel::host::testing

#endif  // VANTREL_TESTS_HOST_SCENE_TEST_CONTROLS_H
