// Loads the built Windows module the way the host does (LoadLibrary, then
// the one export) and drives it with the recording fake host, under wine.
// It checks what only the real DLL can show: the export resolves, the static
// C++ runtime unwinds a thrown host error inside the module, and the answers
// match those of the native build.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "fake_host.h"

namespace {

int failures = 0;

void Expect(bool ok, const std::string& what) {
  if (ok) return;
  ++failures;
  std::printf("FAIL: %s\n", what.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  using vantrel::testing::FakeHost;
  if (argc != 2) {
    std::printf("usage: aex_smoke MODULE.aex\n");
    return 2;
  }
  HMODULE module = LoadLibraryA(argv[1]);
  if (module == nullptr) {
    std::printf("FAIL: cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  auto entry = reinterpret_cast<PF_EntryPointFunc>(
      reinterpret_cast<void*>(GetProcAddress(module, "EntryPointFunc")));
  if (entry == nullptr) {
    std::printf("FAIL: no EntryPointFunc export\n");
    return 1;
  }
  auto send = [&](FakeHost& host, PF_Cmd cmd) {
    return entry(cmd, &host.in_data, &host.out_data, nullptr, nullptr, nullptr);
  };
  {
    FakeHost host;
    Expect(send(host, PF_Cmd_GLOBAL_SETUP) == PF_Err_NONE, "global set-up result");
    Expect(host.out_data.my_version == 0x98004u, "my_version");
    Expect(host.out_data.out_flags == 0x06, "out_flags");
    Expect(host.out_data.out_flags2 == 0x20000, "out_flags2");
  }
  {
    FakeHost host;
    Expect(send(host, PF_Cmd_ABOUT) == PF_Err_NONE, "about result");
    Expect(std::strcmp(host.out_data.return_msg,
                       "Vantrel, v1.3\rDelay's text transformations per character/word.") == 0,
           "about text");
  }
  {
    FakeHost host;
    Expect(send(host, PF_Cmd_PARAMS_SETUP) == PF_Err_NONE, "parameter set-up result");
    Expect(host.declared.size() == 23 && host.out_data.num_params == 24, "23 controls declared");
  }
  {
    // Thrown as a PF_Err inside the module and caught by its entry point.
    FakeHost host;
    host.in_data.pica_basicP = nullptr;
    Expect(send(host, PF_Cmd_ABOUT) == PF_Err_BAD_CALLBACK_PARAM, "null basic suite gives 516");
    FakeHost refusing;
    refusing.refused.insert("PF ANSI Suite 1");
    Expect(send(refusing, PF_Cmd_ABOUT) == PF_Err_BAD_CALLBACK_PARAM, "refused suite gives 516");
    Expect(refusing.calls.size() == 1, "a refused suite is not released");
  }
  {
    FakeHost host;
    Expect(send(host, PF_Cmd_SMART_PRE_RENDER) == PF_Err_NONE && host.calls.empty(),
           "unhandled command");
  }
  FreeLibrary(module);
  std::printf("%s\n", failures == 0 ? "the Windows module answers as expected" : "FAILED");
  return failures == 0 ? 0 : 1;
}
