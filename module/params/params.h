// The effect's controls: their indices in the host's parameter array, and the
// table from which parameter set-up declares them. Set-up, render and tests
// all read this one table.
#ifndef VANTREL_MODULE_PARAMS_PARAMS_H
#define VANTREL_MODULE_PARAMS_PARAMS_H

#include <array>
#include <cstdint>

#include "ae_sdk.h"

namespace vantrel {

// Position of each control in the params array (index 0 is the input layer).
enum ParamIndex : int32_t {
  kParamInput = 0,
  kParamDelayFrames = 1,
  kParamSeparationMode = 2,
  kParamOrderModifier = 3,
  kParamRangeSelectorGroup = 4,
  kParamRangeStart = 5,
  kParamRangeEnd = 6,
  kParamRangeGuide = 7,
  kParamRangeSelectorGroupEnd = 8,
  kParamTrackingGroup = 9,
  kParamTrackingAmount = 10,
  kParamTrackingAlignment = 11,
  kParamTrackingGroupEnd = 12,
  kParamMotionBlurGroup = 13,
  kParamMotionBlurEnable = 14,
  kParamMotionBlurAmount = 15,
  kParamMotionBlurGroupEnd = 16,
  kParamSeparationThreshold = 17,
  kParamSeparationGuide = 18,
  kParamOpacity = 19,
  kParamUtilitiesGroup = 20,
  kParamRandomSeed = 21,
  kParamEvaluateTangents = 22,
  kParamUtilitiesGroupEnd = 23,
  kParamCount = 24,  // the declared controls plus the input layer
};

// Pop-up values are 1-based choice numbers.
enum SeparationMode : int32_t { kSeparationCharacter = 1, kSeparationWord = 2 };
enum OrderMode : int32_t { kOrderNone = 1, kOrderReverse = 2, kOrderRandom = 3, kOrderIncrement = 4 };
enum TrackingAlignment : int32_t { kAlignLeft = 1, kAlignMiddle = 2, kAlignRight = 3 };

// One row of the control table. Sliders use the float fields, pop-ups
// `choices`/`num_choices`, checkboxes `checked`; group rows carry only a name.
struct ControlSpec {
  ParamIndex index;
  int32_t id;  // uu.id: the key under which projects store the control
  PF_ParamType type;
  const char* name;
  PF_ParamFlags flags;
  float min;  // valid range = slider range
  float max;
  float dephault;
  int16_t precision;
  PF_ValueDisplayFlags display;
  const char* choices;  // "A|B|C"
  int16_t num_choices;
  int16_t default_choice;  // 1-based
  bool checked;
};

inline constexpr float kCurveTolerance = 0.05f;  // bits 0x3D4CCCCD

inline constexpr std::array<ControlSpec, 23> kControls = {{
    // clang-format off
    {kParamDelayFrames, 1, PF_Param_FLOAT_SLIDER, "Delay (frames)", 0, 0.f, 50.f, 1.f, PF_Precision_HUNDREDTHS, PF_ValueDisplayFlag_NONE, nullptr, 0, 0, false},
    {kParamSeparationMode, 2, PF_Param_POPUP, "Separation Mode", 0, 0, 0, 0, 0, 0, "Character|Word", 2, 1, false},
    {kParamOrderModifier, 3, PF_Param_POPUP, "Order Modifier", 0, 0, 0, 0, 0, 0, "None|Reverse|Random|Increment", 4, 1, false},
    {kParamRangeSelectorGroup, 4, PF_Param_GROUP_START, "Range Selector", PF_ParamFlag_START_COLLAPSED, 0, 0, 0, 0, 0, nullptr, 0, 0, false},
    {kParamRangeStart, 5, PF_Param_FLOAT_SLIDER, "Range Start", 0, 0.f, 100.f, 0.f, PF_Precision_HUNDREDTHS, PF_ValueDisplayFlag_PERCENT, nullptr, 0, 0, false},
    {kParamRangeEnd, 6, PF_Param_FLOAT_SLIDER, "Range End", 0, 0.f, 100.f, 100.f, PF_Precision_HUNDREDTHS, PF_ValueDisplayFlag_PERCENT, nullptr, 0, 0, false},
    {kParamRangeGuide, 7, PF_Param_CHECKBOX, "Enable Range Guide", 0, 0, 0, 0, 0, 0, nullptr, 0, 0, false},
    {kParamRangeSelectorGroupEnd, 8, PF_Param_GROUP_END, "", 0, 0, 0, 0, 0, 0, nullptr, 0, 0, false},
    {kParamTrackingGroup, 9, PF_Param_GROUP_START, "Tracking", PF_ParamFlag_START_COLLAPSED, 0, 0, 0, 0, 0, nullptr, 0, 0, false},
    {kParamTrackingAmount, 10, PF_Param_FLOAT_SLIDER, "Tracking Amount", 0, -100.f, 100.f, 0.f, PF_Precision_HUNDREDTHS, PF_ValueDisplayFlag_NONE, nullptr, 0, 0, false},
    {kParamTrackingAlignment, 11, PF_Param_POPUP, "Tracking Alignment", 0, 0, 0, 0, 0, 0, "Left|Middle|Right", 3, 1, false},
    {kParamTrackingGroupEnd, 12, PF_Param_GROUP_END, "", 0, 0, 0, 0, 0, 0, nullptr, 0, 0, false},
    {kParamMotionBlurGroup, 13, PF_Param_GROUP_START, "Motion Blur", PF_ParamFlag_START_COLLAPSED, 0, 0, 0, 0, 0, nullptr, 0, 0, false},
    {kParamMotionBlurEnable, 14, PF_Param_CHECKBOX, "Enable Motion Blur", 0, 0, 0, 0, 0, 0, nullptr, 0, 0, false},
    {kParamMotionBlurAmount, 15, PF_Param_FLOAT_SLIDER, "Motion Blur Amount", 0, 0.f, 500.f, 100.f, PF_Precision_HUNDREDTHS, PF_ValueDisplayFlag_PERCENT, nullptr, 0, 0, false},
    {kParamMotionBlurGroupEnd, 16, PF_Param_GROUP_END, "", 0, 0, 0, 0, 0, 0, nullptr, 0, 0, false},
    {kParamSeparationThreshold, 17, PF_Param_FLOAT_SLIDER, "Separation Threshold", 0, 0.f, 200.f, 1.f, PF_Precision_HUNDREDTHS, PF_ValueDisplayFlag_NONE, nullptr, 0, 0, false},
    {kParamSeparationGuide, 18, PF_Param_CHECKBOX, "Enable Separation Guide", 0, 0, 0, 0, 0, 0, nullptr, 0, 0, false},
    {kParamOpacity, 20, PF_Param_FLOAT_SLIDER, "Opacity", PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS, 0.f, 100.f, 100.f, PF_Precision_HUNDREDTHS, PF_ValueDisplayFlag_PERCENT, nullptr, 0, 0, false},
    {kParamUtilitiesGroup, 21, PF_Param_GROUP_START, "Utilities", PF_ParamFlag_START_COLLAPSED, 0, 0, 0, 0, 0, nullptr, 0, 0, false},
    {kParamRandomSeed, 19, PF_Param_FLOAT_SLIDER, "Random Seed", 0, 0.f, 10000.f, 1000.f, PF_Precision_INTEGER, PF_ValueDisplayFlag_NONE, nullptr, 0, 0, false},
    {kParamEvaluateTangents, 22, PF_Param_CHECKBOX, "Evaluate Tangents", 0, 0, 0, 0, 0, 0, nullptr, 0, 0, true},
    {kParamUtilitiesGroupEnd, 23, PF_Param_GROUP_END, "", 0, 0, 0, 0, 0, 0, nullptr, 0, 0, false},
    // clang-format on
}};

// Declares every control of kControls to the host, in order. Stops at the
// first add_param failure and returns its code; on success sets num_params.
PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data);

}  // namespace vantrel

#endif  // VANTREL_MODULE_PARAMS_PARAMS_H
