// The callbacks every session offers by itself: SPBasicSuite, the ANSI
// callbacks (in utils and as "PF ANSI Suite" 1), add_param, and Premiere's
// "PF Pixel Format Suite" 1. Each finds its session through Session::Current().
#ifndef VANTREL_HOST_CORE_BASIC_CALLBACKS_H
#define VANTREL_HOST_CORE_BASIC_CALLBACKS_H

#include "ae_sdk.h"

namespace vantrel::host::detail {

SPBasicSuite MakeBasicSuite();
PF_ANSICallbacks MakeAnsiCallbacks();
const PF_ANSICallbacksSuite1* AnsiSuite();
const PF_PixelFormatSuite1* PixelFormatSuite();
PF_Err AddParamCallback(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def);

}  // namespace vantrel::host::detail

#endif  // VANTREL_HOST_CORE_BASIC_CALLBACKS_H
