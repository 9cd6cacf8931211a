// Fuzz target: the scene-file reader over arbitrary text. A scene file either
// reads or is refused with a SceneError that names a line and column; any
// other exception, a crash or a sanitizer report is a fault. The controls are
// those the built module declares, read once.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <regex>
#include <string>

#include "module_path.h"
#include "vantrel/cli/controls.h"
#include "vantrel/cli/scene_file.h"
#include "vantrel/host/module_loader.h"

namespace {

const vantrel::cli::ControlCatalog& Controls() {
  static const auto module = vantrel::host::LoadedModule::Load(vantrel::fuzz::ModulePath());
  static const vantrel::cli::ControlCatalog controls =
      vantrel::cli::ReadModuleControls(module->entry());
  return controls;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const vantrel::cli::ControlCatalog& controls = Controls();
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    vantrel::cli::ParseSceneText(text, "fuzz/scene.json", controls);
  } catch (const vantrel::cli::SceneError& e) {
    // Refusals name the file, the line and the column.
    static const std::regex kLocated(R"(^fuzz/scene\.json:[0-9]+:[0-9]+: [\s\S]+$)");
    if (!std::regex_match(std::string(e.what()), kLocated)) {
      std::fprintf(stderr, "refusal without a location: %s\n", e.what());
      std::abort();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scene text escaped as %s\n", e.what());
    std::abort();
  }
  return 0;
}
