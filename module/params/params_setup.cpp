#include <cstring>

#include "params/params.h"

namespace vantrel {
namespace {

// Fills `def` for one row of kControls. The record starts as zero bytes, so
// every field that a control type does not use (ui flags and size, phase,
// description, slider flags, exponent) stays zero.
void FillDefinition(const PF_InData& in_data, const ControlSpec& control, PF_ParamDef& def) {
  std::memset(&def, 0, sizeof def);
  def.param_type = control.type;
  in_data.utils->ansi.strcpy(def.name, control.name);
  def.flags = control.flags;
  switch (control.type) {
    case PF_Param_FLOAT_SLIDER: {
      PF_FloatSliderDef& slider = def.u.fs_d;
      slider.value = static_cast<A_FpLong>(control.dephault);
      slider.valid_min = slider.slider_min = control.min;
      slider.valid_max = slider.slider_max = control.max;
      slider.dephault = control.dephault;
      slider.precision = control.precision;
      slider.display_flags = control.display;
      slider.curve_tolerance = kCurveTolerance;
      break;
    }
    case PF_Param_POPUP:
      def.u.pd.value = control.default_choice;
      def.u.pd.dephault = control.default_choice;
      def.u.pd.num_choices = control.num_choices;
      def.u.pd.u.namesptr = control.choices;
      break;
    case PF_Param_CHECKBOX:
      def.u.bd.value = control.checked ? 1 : 0;
      def.u.bd.dephault = control.checked ? 1 : 0;
      def.u.bd.u.nameptr = "";  // the box carries only the control's name
      break;
    default:  // group start and end carry only their name and flags
      break;
  }
  def.uu.id = control.id;
}

}  // namespace

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data) {
  PF_ParamDef def;
  for (const ControlSpec& control : kControls) {
    FillDefinition(*in_data, control, def);
    // Index -1 appends after the last declared control.
    const PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
    if (err != PF_Err_NONE) return err;
  }
  out_data->num_params = kParamCount;
  return PF_Err_NONE;
}

}  // namespace vantrel
