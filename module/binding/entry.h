// The command handlers that the exported entry point dispatches to, and the
// error guard that every handler runs inside.
#ifndef VANTREL_MODULE_BINDING_ENTRY_H
#define VANTREL_MODULE_BINDING_ENTRY_H

#include "ae_sdk.h"

namespace vantrel {

// Runs `handler` and returns its PF_Err. A host error code thrown as a PF_Err
// (a missing suite throws PF_Err_BAD_CALLBACK_PARAM) is returned as it is; any
// other exception (allocation failure, a container's length or index error)
// becomes PF_Err_INTERNAL_STRUCT_DAMAGED. Nothing escapes to the host.
template <class Handler>
PF_Err RunGuarded(Handler&& handler) noexcept {
  try {
    return handler();
  } catch (PF_Err err) {
    return err;
  } catch (...) {
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  }
}

// PF_Cmd_ABOUT: writes "<name>, v1.3\r<description>" into return_msg through
// the host's ANSI sprintf; in Premiere Pro it writes nothing. Throws
// PF_Err_BAD_CALLBACK_PARAM when the basic suite or the ANSI suite is missing.
PF_Err About(PF_InData* in_data, PF_OutData* out_data);

// PF_Cmd_GLOBAL_SETUP: writes the version word and the two global flag words.
// In Premiere Pro it also declares 8-bit BGRA as the only pixel format, when
// the host offers the pixel format suite.
PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data);

}  // namespace vantrel

// The module's one export, called by the host for every command. `extra` is
// never read.
VANTREL_DLLEXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                        PF_ParamDef* params[], PF_LayerDef* output, void* extra);

#endif  // VANTREL_MODULE_BINDING_ENTRY_H
