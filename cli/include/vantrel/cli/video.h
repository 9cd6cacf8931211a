// Videos from rendered frames through the ffmpeg program.
#ifndef VANTREL_CLI_VIDEO_H
#define VANTREL_CLI_VIDEO_H

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::cli {

enum class VideoFormat { kMp4, kGif };

// The format a video file name asks for (by its extension, any case);
// nullopt for another extension.
std::optional<VideoFormat> VideoFormatOf(const std::filesystem::path& file);

// An executable named `name` on PATH, or nullopt.
std::optional<std::filesystem::path> FindProgram(const std::string& name);

// The message shown when ffmpeg is needed but missing.
std::string MissingFfmpegMessage();

struct VideoJob {
  std::filesystem::path ffmpeg;
  std::filesystem::path frame_dir;  // holds frame_NNNN.png
  int first_frame = 0;              // frames first_frame .. first_frame + count - 1
  int count = 0;
  int fps_num = 30;
  int fps_den = 1;
  std::filesystem::path output;  // .mp4 or .gif
};

// The ffmpeg arguments (without the program) that write `job.output`'s
// temporary name; exposed for tests.
std::vector<std::string> FfmpegArguments(const VideoJob& job, const std::filesystem::path& target);

// Runs ffmpeg into a temporary name beside the output and renames it when
// ffmpeg succeeds. Throws std::runtime_error when ffmpeg cannot be started or
// fails (its own messages have gone to stderr).
void EncodeVideo(const VideoJob& job);

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_VIDEO_H
