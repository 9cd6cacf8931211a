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
#include <string>
#include <string_view>

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

// "fuzz/scene.json:L:C: message": one line of bounded length (a message
// quotes only excerpts of what the file holds).
bool IsLocatedRefusal(std::string_view what) {
  constexpr std::string_view kFile = "fuzz/scene.json:";
  constexpr std::size_t kLongestMessage = 1000;
  if (what.size() > kLongestMessage || what.find('\n') != std::string_view::npos ||
      what.substr(0, kFile.size()) != kFile) {
    return false;
  }
  std::size_t at = kFile.size();
  for (const char separator : {':', ':'}) {
    const std::size_t digits = at;
    while (at < what.size() && what[at] >= '0' && what[at] <= '9') ++at;
    if (at == digits || at == what.size() || what[at] != separator) return false;
    ++at;
  }
  return what.substr(at, 1) == " " && what.size() > at + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const vantrel::cli::ControlCatalog& controls = Controls();
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    vantrel::cli::ParseSceneText(text, "fuzz/scene.json", controls);
  } catch (const vantrel::cli::SceneError& e) {
    // Refusals are one line that names the file, the line and the column,
    // and quotes at most an excerpt of what the file holds.
    if (!IsLocatedRefusal(e.what())) {
      std::fprintf(stderr, "refusal without a location: %s\n", e.what());
      std::abort();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scene text escaped as %s\n", e.what());
    std::abort();
  }
  return 0;
}
