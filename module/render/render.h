// The effect's render command.
#ifndef VANTREL_MODULE_RENDER_RENDER_H
#define VANTREL_MODULE_RENDER_RENDER_H

#include "ae_sdk.h"

namespace vantrel {

// Draws the delayed pieces of the text layer into `output`. Throws the host
// error PF_Err_BAD_CALLBACK_PARAM when a suite is missing; every host object it
// obtains is disposed on every way out.
PF_Err Render(PF_InData* in_data, PF_ParamDef* params[], PF_LayerDef* output);

}  // namespace vantrel

#endif  // VANTREL_MODULE_RENDER_RENDER_H
