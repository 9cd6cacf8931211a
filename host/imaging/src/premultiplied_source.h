// Pixels as four floats, and the premultiplied float copy of a source world
// that the transform samples.
#ifndef VANTREL_HOST_IMAGING_PREMULTIPLIED_SOURCE_H
#define VANTREL_HOST_IMAGING_PREMULTIPLIED_SOURCE_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "ae_sdk.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VANTREL_IMAGING_AVX2 1
#endif

namespace vantrel::host::imaging_internal {

// Four floats in one SIMD register (GCC/Clang vector extension; SSE2 on
// x86-64): one pixel's alpha, red, green, blue.
typedef float F4 __attribute__((vector_size(16)));
typedef int32_t I4 __attribute__((vector_size(16)));
typedef uint8_t U8x4 __attribute__((vector_size(4)));  // a PF_Pixel's four bytes

// Byte <-> float conversions of one pixel. SSE2 (every x86-64) has the
// packing instructions for them; the generic vector conversions are the
// portable fallback.
inline F4 LoadPixel(const PF_Pixel& p) {
  uint32_t word;
  std::memcpy(&word, &p, 4);
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i w = _mm_cvtsi32_si128(static_cast<int>(word));
  return reinterpret_cast<F4>(
      _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(w, zero), zero)));
#else
  U8x4 bytes;
  std::memcpy(&bytes, &word, 4);
  return __builtin_convertvector(bytes, F4);
#endif
}

// Rounds to bytes; values must lie in [0, 255.5).
inline void StorePixel(F4 v, PF_Pixel& p) {
  const F4 rounded = v + 0.5f;
#if defined(__SSE2__)
  const __m128i i = _mm_cvttps_epi32(reinterpret_cast<__m128>(rounded));
  const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(i, i), _mm_setzero_si128());
  const uint32_t word = static_cast<uint32_t>(_mm_cvtsi128_si32(packed));
#else
  const U8x4 bytes = __builtin_convertvector(__builtin_convertvector(rounded, I4), U8x4);
  uint32_t word;
  std::memcpy(&word, &bytes, 4);
#endif
  std::memcpy(&p, &word, 4);
}

struct Px {  // F4 wrapped, since a vector type loses its alignment as a template argument
  F4 v;
};

#if defined(VANTREL_IMAGING_AVX2)
// Whether the processor runs AVX2 (checked once).
inline bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}

// Whether the processor runs AVX-512 on 256-bit vectors (F and VL), where
// a two-register lane permutation is one instruction. VANTREL_NO_AVX512=1
// in the environment turns it off, to compare or test the AVX2 paths.
inline bool HaveAvx512() {
  static const bool have = __builtin_cpu_supports("avx512f") &&
                           __builtin_cpu_supports("avx512vl") && !std::getenv("VANTREL_NO_AVX512");
  return have;
}

#endif

// A premultiplied float copy of the part of the source that holds ink
// (alpha above 0), with a one-pixel transparent border, so that bilinear
// taps next to its edge need no bounds checks. Channels per pixel: alpha,
// red × alpha, green × alpha, blue × alpha, all in [0, 255].
//
// Coordinates are padded source pixels (source pixel i has padded index
// i + 1, so the whole source with its border spans 0 .. width + 1). The
// buffer holds padded columns ox .. ox + bw - 1 and rows oy .. oy + bh - 1;
// every source pixel outside it is transparent, so a tap outside it is
// exactly zero.
struct PremulSource {
  int32_t width = 0, height = 0;  // of the whole source
  int32_t ox = 0, oy = 0;         // padded coordinates of the buffer's first pixel
  int32_t bw = 2, bh = 2;         // buffer size, border included
  const Px* px = nullptr;         // bw × bh pixels, row by row
  // Per buffer row (bh of them), the buffer columns [first, last) whose
  // pixels have ink (first == last when none).
  const std::pair<int32_t, int32_t>* ink = nullptr;
  bool any_ink = false;

  // Whether the taps of padded pixel (ix, iy) lie in the buffer: bilinear
  // reads (ix .. ix + 1, iy .. iy + 1), nearest (ix + 1, iy + 1).
  bool Holds(int32_t ix, int32_t iy) const {
    return static_cast<uint32_t>(ix - ox) <= static_cast<uint32_t>(bw - 2) &&
           static_cast<uint32_t>(iy - oy) <= static_cast<uint32_t>(bh - 2);
  }
  const Px* Row(int32_t iy) const {  // padded row iy, indexed by buffer column
    return &px[static_cast<size_t>(iy - oy) * static_cast<size_t>(bw)];
  }
};

inline bool HasInk(const PF_Pixel& p) { return p.alpha != 0; }

// Reads the source once to find its inked rows and columns, then converts
// only those into `storage`, which it grows when too small and otherwise
// overwrites (every pixel of the buffer is written once, without clearing
// it first). The result points into `storage`, and its `ink` into memory of
// the calling thread that the thread's next call overwrites.
PremulSource MakePremulSource(const PF_EffectWorld& src, bool src_premultiplied,
                              std::vector<Px>& storage);

// A straight-alpha source whose inked pixels all have one colour (text set
// in one fill): its alpha alone, one float per pixel in 0..255, in a
// PremulSource's layout (`layout`, whose px is null) that holds the whole
// source with its transparent border (a piece's world is its ink's box),
// followed by kAlphaSlack zeros. The premultiplied pixel that
// MakePremulSource would have made is PremultipliedOf(alpha, color).
struct AlphaSource {
  PremulSource layout;
  const float* alpha = nullptr;
  PF_Pixel color{};  // alpha 0
};
constexpr size_t kAlphaSlack = 16;

// False, having made nothing of use, when the inked pixels have more than
// one colour. Otherwise the alpha into `storage`, which it grows when too
// small; `layout.ink` points into memory of the calling thread that the
// thread's next call overwrites.
bool MakeAlphaSource(const PF_EffectWorld& src, std::vector<float>& storage, AlphaSource& out);

// The premultiplied pixel of alpha `a` (0..255) and straight colour
// `color`: the operations of MakePremulSource's conversion, in its order.
inline F4 PremultipliedOf(float a, F4 color) {
  F4 k = F4{a, a, a, a} * (1.0f / 255.0f);
  k[0] = 1.0f;
  F4 p = color;
  p[0] = a;
  return p * k;
}

}  // namespace vantrel::host::imaging_internal

#endif  // VANTREL_HOST_IMAGING_PREMULTIPLIED_SOURCE_H
