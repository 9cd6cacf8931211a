#include "render/controls.h"

#include "params/params.h"

namespace vantrel {
namespace {

double Slider(PF_ParamDef* params[], ParamIndex i) { return params[i]->u.fs_d.value; }
int32_t Popup(PF_ParamDef* params[], ParamIndex i) { return params[i]->u.pd.value; }
bool Checked(PF_ParamDef* params[], ParamIndex i) { return params[i]->u.bd.value != 0; }

// The motion-blur sample lies "Motion Blur Amount" x 1.8 layer time units
// after the piece's time.
constexpr double kMotionBlurShiftPerPercent = 1.8;

}  // namespace

RenderControls ReadControls(PF_ParamDef* params[], A_long time_step) {
  RenderControls c;
  c.delay_time = Slider(params, kParamDelayFrames) * time_step;
  c.word_mode = Popup(params, kParamSeparationMode) == kSeparationWord;
  c.order_mode = Popup(params, kParamOrderModifier);
  c.range = ApplyRangeRule({Slider(params, kParamRangeStart), Slider(params, kParamRangeEnd)});
  c.range_guide = Checked(params, kParamRangeGuide);
  c.tracking_amount = Slider(params, kParamTrackingAmount);
  c.tracking_alignment = Popup(params, kParamTrackingAlignment);
  c.motion_blur = Checked(params, kParamMotionBlurEnable);
  c.motion_blur_shift =
      c.motion_blur ? Slider(params, kParamMotionBlurAmount) * kMotionBlurShiftPerPercent : 0.0;
  c.separation_threshold = Slider(params, kParamSeparationThreshold);
  c.separation_guide = Checked(params, kParamSeparationGuide);
  // Truncated toward zero; a value beyond 32 bits (which the slider's range
  // rules out, but a host may still hand over) seeds with INT32_MIN.
  c.seed = TruncateToInt32(Slider(params, kParamRandomSeed));
  c.evaluate_tangents = Checked(params, kParamEvaluateTangents);
  return c;
}

}  // namespace vantrel
