// The control values that one render reads from the host's parameter array.
#ifndef VANTREL_MODULE_RENDER_CONTROLS_H
#define VANTREL_MODULE_RENDER_CONTROLS_H

#include <cstdint>

#include "ae_sdk.h"
#include "text/text.h"

namespace vantrel {

// Control values at the render's own time. "Opacity" is not among them: it is
// read through its stream at each piece's time.
struct RenderControls {
  double delay_time = 0;  // "Delay (frames)" x time_step, in layer time units
  bool word_mode = false;
  int32_t order_mode = 1;
  PercentRange range{0, 100};  // already made ascending
  bool range_guide = false;
  double tracking_amount = 0;
  int32_t tracking_alignment = 1;
  bool motion_blur = false;
  double motion_blur_shift = 0;  // layer time units; exactly 0 with motion blur off
  double separation_threshold = 0;
  bool separation_guide = false;
  int32_t seed = 0;
  bool evaluate_tangents = true;
};

// Reads every control but "Opacity"; `time_step` is that of PF_InData.
RenderControls ReadControls(PF_ParamDef* params[], A_long time_step);

}  // namespace vantrel

#endif  // VANTREL_MODULE_RENDER_CONTROLS_H
