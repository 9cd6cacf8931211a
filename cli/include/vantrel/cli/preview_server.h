// `vantrel preview`: a page on a local HTTP server that shows a scene's frame
// through the module, with the effect's controls, a timeline, save and
// export. One module load and one scene per server.
#ifndef VANTREL_CLI_PREVIEW_SERVER_H
#define VANTREL_CLI_PREVIEW_SERVER_H

#include <filesystem>
#include <memory>
#include <string>

#include "vantrel/host/scene.h"

namespace vantrel::cli {

struct PreviewOptions {
  std::filesystem::path scene;
  std::filesystem::path module;
  std::string host = "127.0.0.1";
  int port = 8000;  // 0: any free port
  host::Resolution resolution = host::Resolution::kFull;
  bool open = false;                // start a browser on the page
  std::filesystem::path out_dir;    // where Export writes; empty: out/<scene name>
  int poll_milliseconds = 300;      // how often the scene file's time is looked at
  std::size_t max_body = 64 << 10;  // bytes; larger requests get 413
};

class PreviewServer {
 public:
  // Loads the module and the scene. Throws SceneError, host::HostError.
  explicit PreviewServer(PreviewOptions options);
  ~PreviewServer();
  PreviewServer(const PreviewServer&) = delete;
  PreviewServer& operator=(const PreviewServer&) = delete;

  // Binds the address and starts serving on threads of its own. Returns the
  // port. Throws std::runtime_error when the address cannot be bound.
  int Start();
  // Stops serving, ends any export and waits for every thread.
  void Stop();
  // "http://127.0.0.1:8000/".
  std::string Url() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// `vantrel preview`: serves until SIGINT or SIGTERM. Prints the address, and
// a warning when the host is not the loopback address. Returns the command's
// exit code. Throws as PreviewServer does.
int RunPreview(const PreviewOptions& options);

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_PREVIEW_SERVER_H
