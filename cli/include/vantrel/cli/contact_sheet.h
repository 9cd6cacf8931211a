// A contact sheet: frames side by side in a grid, each labelled with its
// frame number, so that a cascade over the pieces can be seen at a glance.
#ifndef VANTREL_CLI_CONTACT_SHEET_H
#define VANTREL_CLI_CONTACT_SHEET_H

#include <vector>

#include "vantrel/cli/raster.h"

namespace vantrel::cli {

struct ContactFrame {
  int number = 0;  // the composition frame, drawn in the thumbnail's corner
  const Raster* image = nullptr;
};

struct ContactSheetLayout {
  int columns = 1;
  int rows = 1;
  int thumb_width = 0;
  int thumb_height = 0;
  int gap = 0;  // between thumbnails and around the sheet, in pixels
  int width = 0;
  int height = 0;
};

constexpr int kContactSheetMaxWidth = 1600;
constexpr int kContactSheetMaxFrames = 24;

// Which of `count` frames go on a sheet: all when there are at most
// `max_frames`, else every k-th from the first, with the smallest k that
// keeps the number at most `max_frames`. Returns indices into the list.
std::vector<int> SampleFrames(int count, int max_frames = kContactSheetMaxFrames);

// A grid for `count` frames of `frame_width` x `frame_height`: about 1.5 times
// as many columns as rows, thumbnails no larger than the frames and the sheet
// at most `max_width` wide.
ContactSheetLayout LayOutContactSheet(int count, int frame_width, int frame_height,
                                      int max_width = kContactSheetMaxWidth);

// Draws the sheet: a dark background, each frame reduced by area averaging
// (with its alpha) over a checkerboard where it is transparent, its number on
// a dark tab in the top-left corner. All frames must be the same size.
Raster MakeContactSheet(const std::vector<ContactFrame>& frames,
                        int max_width = kContactSheetMaxWidth);

// Draws `text` (digits, '-' and ' ') with the built-in 5x7 font scaled by
// `scale`, top-left corner at (x, y), clipped to the image. Returns the width
// drawn in pixels.
int DrawLabel(Raster& image, int x, int y, const char* text, int scale, const std::uint8_t rgba[4]);

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_CONTACT_SHEET_H
