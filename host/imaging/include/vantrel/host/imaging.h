// The stand-in host's 8-bit imaging: owned images, fill, rectangle copies and
// the matrix transform with compositing and motion blur that a module reaches
// through PF_FILL, PF_COPY, copy_hq and transform_world.
//
// Pixel layout: PF_Pixel, 4 bytes in the order alpha, red, green, blue, one
// byte each. Worlds hold straight (unpremultiplied) alpha unless the mode
// flags of a call say PF_MF_Alpha_PREMUL.
//
// Coordinates: pixel (x, y) covers the square [x, x + 1) × [y, y + 1) and its
// centre is (x + 0.5, y + 0.5); y grows downwards. Rectangles are half-open:
// left and top inside, right and bottom outside.
//
// Matrices (PF_FloatMatrix) act on row vectors: (x, y, 1) × M = (X, Y, W),
// the mapped point is (X / W, Y / W); a translation sits in mat[2][0..1].
#ifndef VANTREL_HOST_IMAGING_H
#define VANTREL_HOST_IMAGING_H

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "ae_sdk.h"

namespace vantrel::host {

// Storage of image pixels. Blocks of a frame's size and more are kept for
// reuse when freed (up to a bound on the bytes kept), so that the images a
// host makes afresh for every frame do not page-fault their memory in again
// each time. Thread-safe.
void* AllocatePixelBlock(size_t bytes);
void FreePixelBlock(void* block, size_t bytes) noexcept;

template <class T>
struct PixelAllocator {
  using value_type = T;
  PixelAllocator() = default;
  template <class U>
  PixelAllocator(const PixelAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return static_cast<T*>(AllocatePixelBlock(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { FreePixelBlock(p, n * sizeof(T)); }
  // Elements made without a value are left unwritten (Image clears its
  // pixels with one memset; the vector's own value-initialisation stored
  // them one by one).
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0) {
      ::new (static_cast<void*>(p)) U;
    } else {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  }
  template <class U>
  bool operator==(const PixelAllocator<U>&) const noexcept {
    return true;
  }
};

// An 8-bit image that owns its pixels. Rows are padded to a multiple of 16
// bytes, so rowbytes may exceed width × 4: code that walks rows by width
// instead of rowbytes goes wrong on it, as it would in the real host.
class Image {
 public:
  Image() = default;
  // Allocates width × height pixels, all transparent black. Throws
  // std::invalid_argument for a negative size.
  Image(int32_t width, int32_t height);

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  int32_t rowbytes() const { return rowbytes_; }
  bool empty() const { return width_ == 0 || height_ == 0; }

  PF_Pixel* row(int32_t y);
  const PF_Pixel* row(int32_t y) const;
  PF_Pixel& at(int32_t x, int32_t y) { return row(y)[x]; }
  const PF_Pixel& at(int32_t x, int32_t y) const { return row(y)[x]; }
  PF_Pixel* data() { return pixels_.empty() ? nullptr : pixels_.data(); }

  // Describes the image as the host describes a world: data, rowbytes, size,
  // extent_hint = the whole image, pixel aspect 1/1, no flags, origin 0.
  // The description borrows the pixels; it is valid while the image lives.
  PF_EffectWorld AsWorld();

 private:
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t rowbytes_ = 0;
  std::vector<PF_Pixel, PixelAllocator<PF_Pixel>> pixels_;  // rowbytes / 4 pixels per row
};

// Describes caller-owned pixels as a world (same fields as Image::AsWorld).
PF_EffectWorld DescribeWorld(PF_Pixel* data, int32_t width, int32_t height, int32_t rowbytes);

// True when the world can be read and written as described: data non-null
// (unless the world is empty), width and height not negative, rowbytes a
// multiple of 4 and at least width × 4.
bool IsValidWorld(const PF_EffectWorld& world);

// Sets every pixel of `rect` ∩ world to `color` (null: transparent black).
// A null rect means the whole world. PF_Err_BAD_CALLBACK_PARAM for an
// invalid world; an empty or outside rectangle writes nothing.
PF_Err Fill(PF_EffectWorld& world, const PF_Pixel* color, const PF_Rect* rect);

// Copies `src_rect` of `src` onto `dst_rect` of `dst` (null: the whole
// world). When the two rectangles differ in size the source is scaled to
// the destination rectangle: bilinear in premultiplied alpha with edge
// clamping for CopyHq, nearest pixel for Copy. Only destination pixels that
// lie inside the destination world and whose source lies inside the source
// world are written; the others are left as they were. Pixels are copied as
// they are (no compositing); src and dst may be the same world.
PF_Err CopyHq(const PF_EffectWorld& src, PF_EffectWorld& dst, const PF_Rect* src_rect,
              const PF_Rect* dst_rect);
PF_Err Copy(const PF_EffectWorld& src, PF_EffectWorld& dst, const PF_Rect* src_rect,
            const PF_Rect* dst_rect);

// Number of placements the motion blur of TransformWorld stands for between
// two matrices whose source corners move at most `motion_px` destination
// pixels: one per pixel of motion plus one (both ends included), so that
// they lie no more than a pixel apart along every corner's path, up to
// 1,024 pixels of motion; at most kMaxMotionBlurSamples; 1 when the motion
// is below 1/64 pixel.
inline constexpr int kMaxMotionBlurSamples = 1025;
int MotionBlurSampleCount(double motion_px);

// Puts `src` through a matrix and composites it into `dst`.
//
// - matrices[0 .. count): count 1 (one placement) or 2 (motion blur from
//   matrices[0] to matrices[1]). With src2dst true a matrix maps source
//   coordinates to destination coordinates; with src2dst false it maps
//   destination to source. Projective matrices are supported; a singular
//   placement draws nothing.
// - Resampling: each destination pixel centre is mapped into the source and
//   sampled there, bilinearly in premultiplied alpha at PF_Quality_HI (the
//   source is surrounded by transparent black, so edges fade over one pixel),
//   nearest pixel otherwise.
// - Motion blur: the average of the placements along the path from
//   matrices[0] to matrices[1], matrices interpolated element by element
//   (source-to-destination and divided by W when both are affine, so that
//   every point moves along a straight line at a constant speed; otherwise
//   in the form given), taken no more than a pixel apart along every
//   corner's path: MotionBlurSampleCount(largest corner motion) placements,
//   each at the middle of an equal segment of time (at most 32 for
//   projective placements, which may each reach the whole destination). A
//   placement whose matrix cannot be inverted draws nothing and counts in
//   the average (a piece that grows from nothing). When the motion is mostly a translation the
//   placements are not drawn one by one: a few key placements are spread continuously along the
//   motion of the source's centre (a box filter by running sums), within a few levels of the
//   placements' average (bench/README.md). The premultiplied samples are averaged before the one
//   composite, so the blurred piece keeps its alpha mass.
// - Compositing: source alpha × comp_mode.opacity / 255, then
//   PF_Xfer_IN_FRONT (source over destination), PF_Xfer_BEHIND (destination
//   over source) or PF_Xfer_COPY (the source replaces the destination
//   wherever the transformed source reaches, including its transparent
//   fringe). mode_flags PF_MF_Alpha_STRAIGHT: source and destination hold
//   straight alpha; PF_MF_Alpha_PREMUL: both premultiplied.
// - field PF_Field_UPPER / PF_Field_LOWER writes only even / odd rows.
// - Only pixels inside dest_rect (null: the whole destination) and the
//   destination world are written. Work is proportional to the area that
//   the transformed source covers, not to dest_rect.
// PF_Err_BAD_CALLBACK_PARAM for invalid worlds, count not 1 or 2, null
// matrices, non-finite matrix elements, a mask world, rgb_only or an
// unsupported transfer mode; nothing is written then.
PF_Err TransformWorld(PF_Quality quality, PF_ModeFlags mode_flags, PF_Field field,
                      const PF_EffectWorld& src, const PF_CompositeMode& comp_mode,
                      const PF_MaskWorld* mask, const PF_FloatMatrix* matrices, int count,
                      bool src2dst, const PF_Rect* dest_rect, PF_EffectWorld& dst);

}  // namespace vantrel::host

#endif  // VANTREL_HOST_IMAGING_H
