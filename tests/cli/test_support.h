// Shared helpers of the vantrel command's tests.
#ifndef VANTREL_TESTS_CLI_TEST_SUPPORT_H
#define VANTREL_TESTS_CLI_TEST_SUPPORT_H

#include <filesystem>
#include <string>

#include "vantrel/cli/controls.h"

namespace vantrel::cli::testing {

// The built module's controls, read once.
const ControlCatalog& ModuleControls();

// A fresh, empty folder for one test under the build tree.
std::filesystem::path FreshWorkDir(const std::string& name);

struct CommandResult {
  int exit_code = -1;
  std::string output;  // stdout and stderr together
};

// Runs the built vantrel command with `arguments` (already shell-quoted
// where needed) and `environment` assignments put before it ("PATH=/x").
CommandResult RunVantrel(const std::string& arguments, const std::string& environment = "");

// Writes `text` to `path`, creating folders as needed.
void WriteText(const std::filesystem::path& path, const std::string& text);

}  // namespace vantrel::cli::testing

#endif  // VANTREL_TESTS_CLI_TEST_SUPPORT_H
