// `vantrel render`: frames of a scene rendered in parallel into numbered PNG
// files, a contact sheet and, on request, a video.
#ifndef VANTREL_CLI_RENDER_JOB_H
#define VANTREL_CLI_RENDER_JOB_H

#include <atomic>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "vantrel/cli/raster.h"
#include "vantrel/host/imaging.h"
#include "vantrel/host/module_loader.h"
#include "vantrel/host/scene.h"

namespace vantrel::cli {

// A command line or option that cannot be used (exit code 2).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "0-59", "12", "0,10,20" or "0-9,30-39": composition frames, increasing and
// without repeats. An empty list means every frame of the composition.
// Throws UsageError for bad syntax or a frame outside 0 .. duration - 1.
std::vector<int> ParseFrameList(std::string_view list, int duration_frames);

// "full", "half", "third", "quarter". Throws UsageError.
host::Resolution ParseResolution(std::string_view name);
const char* ResolutionName(host::Resolution resolution);

// "frame_0012.png".
std::string FrameFileName(int frame);

// The host's image (alpha, red, green, blue, padded rows) as RGBA.
Raster ToRaster(const host::Image& image);

struct RenderRequest {
  std::vector<int> frames;  // increasing, inside the composition
  host::Resolution resolution = host::Resolution::kFull;
  std::filesystem::path out_dir;  // created when missing
  std::filesystem::path video;    // empty: none; else .mp4 or .gif through ffmpeg
  int jobs = 0;                   // render threads; 0 = one per core
  bool contact_sheet = true;
};

struct RenderProgress {
  int done = 0;
  int total = 0;
  double seconds = 0;  // since the first frame started
};

struct RenderReport {
  int frames_written = 0;
  double seconds = 0;
  std::filesystem::path contact_sheet;  // empty when not written
  std::vector<std::string> violations;  // the strict host's findings
  bool interrupted = false;
};

// Renders the request. Frames are rendered by `jobs` threads, each frame
// independently, and written as out_dir/frame_NNNN.png through a temporary
// name; then the contact sheet of up to 24 evenly sampled frames, then the
// video. `progress` is called from the calling thread now and then while
// frames render. When `stop` becomes true, no further frame is started and
// the report says interrupted. Throws host::HostError when the frame cannot
// be set up, ImageFileError when a file cannot be written and
// std::runtime_error when the video encoder fails.
RenderReport RenderScene(const host::LoadedModule& module, const host::Scene& scene,
                         const RenderRequest& request,
                         const std::function<void(const RenderProgress&)>& progress = {},
                         const std::atomic<bool>* stop = nullptr);

// The progress line shown on a terminal:
// "frame 12/60  8.3 fps  6 s left".
std::string FormatProgress(const RenderProgress& p);

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_RENDER_JOB_H
