// The module's one export: the host calls it for every command it sends.
#include "binding/entry.h"

#include "params/params.h"
#include "render/render.h"

VANTREL_DLLEXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                        PF_ParamDef* params[], PF_LayerDef* output,
                                        void* /*extra*/) {
  using namespace vantrel;
  switch (cmd) {
    case PF_Cmd_ABOUT:
      return RunGuarded([&] { return About(in_data, out_data); });
    case PF_Cmd_GLOBAL_SETUP:
      return RunGuarded([&] { return GlobalSetup(in_data, out_data); });
    case PF_Cmd_PARAMS_SETUP:
      return RunGuarded([&] { return ParamsSetup(in_data, out_data); });
    case PF_Cmd_RENDER:
      return RunGuarded([&] { return Render(in_data, params, output); });
    default:
      // No sequence data, smart render, dialog, custom UI or parameter
      // supervision: every other command succeeds without work.
      return PF_Err_NONE;
  }
}
