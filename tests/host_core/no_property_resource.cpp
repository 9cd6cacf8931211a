// A shared library with an entry point but no property resource.
#include "ae_sdk.h"

VANTREL_DLLEXPORT PF_Err EntryPointFunc(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[],
                                        PF_LayerDef*, void*) {
  return PF_Err_NONE;
}
