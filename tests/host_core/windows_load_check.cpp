// Loads the Windows module with LoadLibrary through the host core built for
// Windows (run under wine on Linux), runs its set-up commands under the strict
// host and checks what they answer. Prints the inspection text; exits non-zero
// on the first failed check. Built with mingw-w64 outside GoogleTest.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "vantrel/host/inspect.h"
#include "vantrel/host/module_loader.h"
#include "vantrel/host/session.h"

namespace {

using vantrel::host::LoadedModule;
using vantrel::host::Session;

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (!ok) {
    std::cerr << "FAILED: " << what << "\n";
    ++failures;
  }
}

PF_Err Run(Session& session, const LoadedModule& module, PF_Cmd cmd, PF_OutData& out,
           A_long appl_id = 0) {
  PF_InData in = session.MakeInData();
  if (appl_id) in.appl_id = appl_id;
  return session.Call(module.entry(), cmd, &in, &out, nullptr, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: windows_load_check MODULE.aex\n";
    return 2;
  }
  try {
    auto module = LoadedModule::Load(argv[1]);
    const auto& pipl = module->pipl();
    {
      Session session;
      PF_OutData out{};
      Check(Run(session, *module, PF_Cmd_GLOBAL_SETUP, out) == PF_Err_NONE, "global set-up");
      Check(out.my_version == pipl.U32("eVER"), "my_version equals eVER");
      Check(static_cast<uint32_t>(out.out_flags) == pipl.U32("eGLO"), "out_flags equal eGLO");
      Check(static_cast<uint32_t>(out.out_flags2) == pipl.U32("eGL2"), "out_flags2 equal eGL2");
      Check(session.suites().AcquireLog().empty(), "global set-up in After Effects takes no suite");

      out = PF_OutData{};
      Check(Run(session, *module, PF_Cmd_GLOBAL_SETUP, out, 0x50724D72) == PF_Err_NONE,
            "global set-up in Premiere Pro");
      Check(session.pixel_format_log() == std::vector<std::string>{"clear", "add bgra"},
            "Premiere Pro pixel formats: clear, then add bgra");

      out = PF_OutData{};
      Check(Run(session, *module, PF_Cmd_ABOUT, out) == PF_Err_NONE, "about");
      Check(std::strcmp(out.return_msg,
                        "Vantrel, v1.3\rDelay's text transformations per character/word.") == 0,
            "about text");

      out = PF_OutData{};
      Check(Run(session, *module, PF_Cmd_PARAMS_SETUP, out) == PF_Err_NONE, "parameter set-up");
      Check(out.num_params == 24, "num_params 24");
      Check(session.declared_params().size() == 23, "23 controls declared");
      for (const std::string& v : session.violations()) std::cerr << "violation: " << v << "\n";
      Check(session.violations().empty(), "no strict-host violations");
    }
    {
      Session session;
      session.faults().fail_add_param_at = 5;
      session.faults().fail_add_param_code = PF_Err_OUT_OF_MEMORY;
      PF_OutData out{};
      Check(Run(session, *module, PF_Cmd_PARAMS_SETUP, out) == PF_Err_OUT_OF_MEMORY,
            "a failed fifth add_param is returned");
      Check(session.declared_params().size() == 4, "four controls before the failure");
    }
    std::cout << vantrel::host::DescribeModule(argv[1]);
  } catch (const std::exception& e) {
    std::cerr << "FAILED: " << e.what() << "\n";
    return 1;
  }
  return failures == 0 ? 0 : 1;
}
