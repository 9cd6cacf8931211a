// Rectangles and rows of worlds, shared by the fills, the copies and the
// transform of the stand-in host's imaging.
#ifndef VANTREL_HOST_IMAGING_PIXEL_ROWS_H
#define VANTREL_HOST_IMAGING_PIXEL_ROWS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "ae_sdk.h"

namespace vantrel::host::imaging_internal {

struct IRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
};

inline IRect Intersect(const IRect& a, const IRect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

inline IRect WholeOf(const PF_EffectWorld& w) { return {0, 0, w.width, w.height}; }

inline IRect RectOr(const PF_Rect* r, const PF_EffectWorld& w) {
  return r ? IRect{r->left, r->top, r->right, r->bottom} : WholeOf(w);
}

inline PF_Pixel* RowOf(const PF_EffectWorld& w, int32_t y) {
  return reinterpret_cast<PF_Pixel*>(reinterpret_cast<char*>(w.data) +
                                     static_cast<std::ptrdiff_t>(y) * w.rowbytes);
}

inline uint8_t ToByte(float v) {
  // Values are in [0, 255] up to float error; round half up.
  return static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f);
}

}  // namespace vantrel::host::imaging_internal

#endif  // VANTREL_HOST_IMAGING_PIXEL_ROWS_H
