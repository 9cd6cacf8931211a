#include "vantrel/cli/video.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "vantrel/cli/raster.h"

extern char** environ;

namespace vantrel::cli {

namespace fs = std::filesystem;

std::optional<VideoFormat> VideoFormatOf(const fs::path& file) {
  std::string ext = file.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".mp4") return VideoFormat::kMp4;
  if (ext == ".gif") return VideoFormat::kGif;
  return std::nullopt;
}

std::optional<fs::path> FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  std::string_view rest(path);
  while (true) {
    const std::size_t colon = rest.find(':');
    const std::string_view dir = rest.substr(0, colon);
    const fs::path candidate = fs::path(dir.empty() ? "." : std::string(dir)) / name;
    if (::access(candidate.c_str(), X_OK) == 0 && !fs::is_directory(candidate)) return candidate;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return std::nullopt;
}

std::string MissingFfmpegMessage() {
  return "--video needs the ffmpeg program, which is not on PATH; install it (for example "
         "\"apt-get install ffmpeg\") or leave out --video";
}

std::vector<std::string> FfmpegArguments(const VideoJob& job, const fs::path& target) {
  std::vector<std::string> args = {"-hide_banner",
                                   "-loglevel",
                                   "error",
                                   "-y",
                                   "-framerate",
                                   std::to_string(job.fps_num) + "/" + std::to_string(job.fps_den),
                                   "-start_number",
                                   std::to_string(job.first_frame),
                                   "-i",
                                   (job.frame_dir / "frame_%04d.png").string(),
                                   "-frames:v",
                                   std::to_string(job.count)};
  if (VideoFormatOf(job.output) == VideoFormat::kGif) {
    // One palette for the whole clip, made from its own frames.
    args.insert(args.end(), {"-vf", "split[a][b];[a]palettegen[p];[b][p]paletteuse", "-f", "gif"});
  } else {
    // H.264 in 4:2:0 wants even sizes; a frame of odd size gets one more
    // transparent-black row or column.
    args.insert(args.end(), {"-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2", "-pix_fmt", "yuv420p",
                             "-movflags", "+faststart", "-f", "mp4"});
  }
  args.push_back(target.string());
  return args;
}

void EncodeVideo(const VideoJob& job) {
  const fs::path partial = PartialName(job.output);
  std::vector<std::string> args = FfmpegArguments(job, partial);
  args.insert(args.begin(), job.ffmpeg.string());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawn_error =
      posix_spawn(&pid, job.ffmpeg.c_str(), nullptr, nullptr, argv.data(), environ);
  if (spawn_error != 0) {
    throw std::runtime_error("cannot run " + job.ffmpeg.string() + ": " +
                             std::generic_category().message(spawn_error));
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("lost track of ffmpeg");
  }
  std::error_code ec;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fs::remove(partial, ec);
    throw std::runtime_error("ffmpeg could not write " + job.output.string() +
                             (WIFEXITED(status)
                                  ? " (exit code " + std::to_string(WEXITSTATUS(status)) + ")"
                                  : " (stopped by a signal)"));
  }
  fs::rename(partial, job.output, ec);
  if (ec) {
    fs::remove(partial, ec);
    throw std::runtime_error("cannot rename the video to " + job.output.string() + ": " +
                             ec.message());
  }
}

}  // namespace vantrel::cli
