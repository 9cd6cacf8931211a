#include "test_support.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>

#include "vantrel/host/module_loader.h"

namespace vantrel::cli::testing {

namespace fs = std::filesystem;

const ControlCatalog& ModuleControls() {
  static const auto module = host::LoadedModule::Load(VANTREL_MODULE_PATH);
  static const ControlCatalog controls = ReadModuleControls(module->entry());
  return controls;
}

fs::path FreshWorkDir(const std::string& name) {
  const fs::path dir = fs::path(VANTREL_TEST_WORK_DIR) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

CommandResult RunVantrel(const std::string& arguments, const std::string& environment) {
  const std::string command =
      environment + (environment.empty() ? "" : " ") + "'" + VANTREL_COMMAND_PATH + "' " +
      arguments +
      (arguments.find("--module") == std::string::npos ? " --module '" VANTREL_MODULE_PATH "'"
                                                       : "") +
      " 2>&1";
  CommandResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buffer;
  std::size_t n = 0;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    result.output.append(buffer.data(), n);
  const int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace vantrel::cli::testing
