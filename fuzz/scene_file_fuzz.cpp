// Fuzz target: the scene-file reader over arbitrary text. A scene file either
// reads or is refused with a SceneError whose every line names a line and
// column (a last line may say how many more were found); any
// other exception, a crash or a sanitizer report is a fault. The controls are
// those the built module declares, read once.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "module_path.h"
#include "vantrel/cli/controls.h"
#include "vantrel/cli/scene_file.h"
#include "vantrel/host/module_loader.h"

namespace {

// "fuzz/scene.json:12:5: ..." or "fuzz/scene.json: 3 more errors not shown".
bool IsLocated(const std::string& line) {
  static const std::string kFile = "fuzz/scene.json:";
  if (line.rfind(kFile, 0) != 0) return false;
  std::size_t at = kFile.size();
  const auto digits = [&] {
    const std::size_t from = at;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
    return at > from;
  };
  if (at < line.size() && line[at] == ' ') {
    ++at;
    return digits() && line.compare(at, std::string::npos, " more errors not shown") == 0;
  }
  if (!digits() || at >= line.size() || line[at++] != ':') return false;
  if (!digits() || line.compare(at, 2, ": ") != 0) return false;
  return line.size() > at + 2;
}

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
    // Every mistake is one line of bounded length that names the file, the
    // line and the column (messages quote only excerpts of what the file
    // holds).
    const std::string what = e.what();
    for (std::size_t begin = 0; begin <= what.size();) {
      std::size_t end = what.find('\n', begin);
      if (end == std::string::npos) end = what.size();
      constexpr std::size_t kLongestLine = 1000;
      if (end - begin > kLongestLine || !IsLocated(what.substr(begin, end - begin))) {
        std::fprintf(stderr, "refusal without a location: %s\n", e.what());
        std::abort();
      }
      begin = end + 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scene text escaped as %s\n", e.what());
    std::abort();
  }
  return 0;
}
