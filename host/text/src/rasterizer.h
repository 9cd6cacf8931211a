// Anti-aliased scanline rasterisation of contour sets.
#ifndef VANTREL_HOST_TEXT_RASTERIZER_H
#define VANTREL_HOST_TEXT_RASTERIZER_H

#include <cstdint>
#include <vector>

#include "ae_sdk.h"
#include "vantrel/host/layer.h"

namespace vantrel::host::text {

// Coverage (0..255) of a rectangle of the target image: pixel (x, y) of the
// target is values[(y - top) * width + (x - left)] for x in [left, left +
// width) and y in [top, top + height); everything outside is 0.
struct CoverageMask {
  int32_t left = 0, top = 0, width = 0, height = 0;
  std::vector<uint8_t> values;
};

// Rasterises `outlines` into a target image of target_width x
// target_height pixels, a contour point (x, y) landing on (x * scale_x,
// y * scale_y). Cubics are flattened to within 1/20 px; each pixel gets the
// exact area of the flattened shape inside it, with the winding numbers
// summed and saturated (non-zero fill). Open contours are closed by a line.
// Allocates only the mask, sized to the contours' box within the target.
CoverageMask RasterizeCoverage(const TextOutlineSet& outlines, double scale_x, double scale_y,
                               int32_t target_width, int32_t target_height);

// Writes the whole of `dst`: fill colour with alpha = coverage x fill alpha
// (rounded) where that alpha is non-zero, transparent black elsewhere.
void PaintCoverage(const CoverageMask& mask, PF_Pixel fill, PF_EffectWorld& dst);

// The same pixels as PaintCoverage(RasterizeCoverage(outlines, scale_x,
// scale_y, dst.width, dst.height), fill, dst), painted straight from the
// accumulated rows without a mask in between.
void PaintOutlines(const TextOutlineSet& outlines, double scale_x, double scale_y, PF_Pixel fill,
                   PF_EffectWorld& dst);

// num / den of a downsample factor; throws HostError for a zero denominator.
double ScaleOf(PF_RationalScale scale);

}  // namespace vantrel::host::text

#endif  // VANTREL_HOST_TEXT_RASTERIZER_H
