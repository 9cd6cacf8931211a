// PF_FILL of the stand-in host.
#include <algorithm>
#include <cstring>

#include "pixel_rows.h"
#include "vantrel/host/imaging.h"
#include "vantrel/host/thread_pool.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VANTREL_IMAGING_AVX2 1
#endif

namespace vantrel::host {

using imaging_internal::Intersect;
using imaging_internal::IRect;
using imaging_internal::RectOr;
using imaging_internal::RowOf;
using imaging_internal::WholeOf;

namespace {

// Zeroes n bytes with ordinary stores, which leave the lines in the cache
// for the drawing that follows. After glibc's memset of a cleared frame, a
// quarter of the transform's samples fell on loading the destination's
// alpha; after these stores, a sixth.
void ClearBytes(void* p, size_t n) {
  char* c = static_cast<char*>(p);
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i z = _mm_setzero_si128();
  for (; i + 64 <= n; i += 64) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(c + i), z);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(c + i + 16), z);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(c + i + 32), z);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(c + i + 48), z);
    asm volatile("" ::: "memory");  // keeps the compiler from making this a memset call
  }
#endif
  std::memset(c + i, 0, n - i);
}

// Fills from this size on are shared among the pool's threads.
constexpr size_t kParallelFillBytes = size_t{1} << 20;

}  // namespace

PF_Err Fill(PF_EffectWorld& world, const PF_Pixel* color, const PF_Rect* rect) {
  if (!IsValidWorld(world)) return PF_Err_BAD_CALLBACK_PARAM;
  const PF_Pixel value = color ? *color : PF_Pixel{0, 0, 0, 0};
  const IRect r = Intersect(RectOr(rect, world), WholeOf(world));
  if (r.empty()) return PF_Err_NONE;
  const size_t bytes = static_cast<size_t>(r.width()) * 4;
  PF_Pixel* first = RowOf(world, r.top) + r.left;
  if (value.alpha == 0 && value.red == 0 && value.green == 0 && value.blue == 0) {
    const bool whole_rows = static_cast<size_t>(world.rowbytes) == bytes;  // back to back
    const auto clear = [&](int32_t top, int32_t bottom) {
      if (whole_rows) {
        ClearBytes(RowOf(world, top) + r.left, bytes * static_cast<size_t>(bottom - top));
      } else {
        for (int32_t y = top; y < bottom; ++y) std::memset(RowOf(world, y) + r.left, 0, bytes);
      }
    };
    if (bytes * static_cast<size_t>(r.height()) < kParallelFillBytes) {
      clear(r.top, r.bottom);
      return PF_Err_NONE;
    }
    // A frame: one band of rows per thread of the pool.
    ThreadPool& pool = ThreadPool::Shared();
    const int32_t bands = pool.participants();
    const int32_t band_rows = (r.height() + bands - 1) / bands;
    const int32_t failed = pool.Run(bands, [&](int32_t, int32_t i) {
      const int32_t top = r.top + i * band_rows;
      if (top < r.bottom) clear(top, std::min(top + band_rows, r.bottom));
      return int32_t{0};
    });
    return failed ? PF_Err_OUT_OF_MEMORY : PF_Err_NONE;
  }
  // Other colours: one row pixel by pixel, the others copies of it.
  std::fill(first, first + r.width(), value);
  for (int32_t y = r.top + 1; y < r.bottom; ++y)
    std::memcpy(RowOf(world, y) + r.left, first, bytes);
  return PF_Err_NONE;
}

}  // namespace vantrel::host
