#include "render/render.h"

namespace vantrel {

PF_Err Render(PF_InData* /*in_data*/, PF_ParamDef* /*params*/[], PF_LayerDef* /*output*/) {
  return PF_Err_NONE;
}

}  // namespace vantrel
