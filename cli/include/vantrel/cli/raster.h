// Images as the vantrel command writes them: 8-bit RGBA in PNG order, straight
// alpha, rows top to bottom without padding.
#ifndef VANTREL_CLI_RASTER_H
#define VANTREL_CLI_RASTER_H

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace vantrel::cli {

struct Raster {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;  // width * height * 4

  Raster() = default;
  Raster(int w, int h) : width(w), height(h), rgba(static_cast<std::size_t>(w) * h * 4, 0) {}
  std::uint8_t* At(int x, int y) { return &rgba[(static_cast<std::size_t>(y) * width + x) * 4]; }
  const std::uint8_t* At(int x, int y) const {
    return &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
  }
};

class ImageFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes `image` as an RGBA PNG. The bytes go to a hidden temporary name in
// the same folder, which is renamed to `path` only when complete, so that an
// interrupted write never leaves a truncated file under the final name.
// Throws ImageFileError.
void WritePng(const std::filesystem::path& path, const Raster& image);

// Reads any 8- or 16-bit PNG, converted to RGBA 8-bit. Throws ImageFileError.
Raster ReadPng(const std::filesystem::path& path);

// The temporary name a complete file is first written under:
// "dir/.name.partial". Files of this form are what an interrupted run leaves.
std::filesystem::path PartialName(const std::filesystem::path& path);

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_RASTER_H
