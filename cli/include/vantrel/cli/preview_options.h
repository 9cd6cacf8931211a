// Options of `vantrel preview`: a scene served to a browser and re-rendered
// as it changes.
#ifndef VANTREL_CLI_PREVIEW_OPTIONS_H
#define VANTREL_CLI_PREVIEW_OPTIONS_H

#include <filesystem>
#include <string>

namespace vantrel::cli {

struct PreviewOptions {
  std::filesystem::path scene;
  int port = 8300;
  std::string host = "127.0.0.1";
  std::string resolution = "half";
  std::filesystem::path module;  // empty = as for every command
  bool open = false;             // open the page in a browser
};

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_PREVIEW_OPTIONS_H
