// The premultiplied float copy of a source world: only its inked rows and
// columns are converted.
#include "premultiplied_source.h"

#include <algorithm>

#include "pixel_rows.h"

namespace vantrel::host::imaging_internal {

namespace {

bool HasInk(const PF_Pixel& p) { return p.alpha != 0; }

// The first pixel in [a, b) with ink, or b; four pixels per test.
int32_t FirstInked(const PF_Pixel* row, int32_t a, int32_t b) {
#if defined(__SSE2__)
  const __m128i alpha = _mm_set1_epi32(0xFF);  // a pixel's first byte
  for (; a + 4 <= b; a += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + a));
    const int clear = _mm_movemask_ps(
        _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(v, alpha), _mm_setzero_si128())));
    if (clear != 0xF) return a + __builtin_ctz(~clear & 0xF);
  }
#endif
  while (a < b && !HasInk(row[a])) ++a;
  return a;
}

// One past the last pixel in [a, b) with ink, or a; four pixels per test.
int32_t LastInked(const PF_Pixel* row, int32_t a, int32_t b) {
#if defined(__SSE2__)
  const __m128i alpha = _mm_set1_epi32(0xFF);
  for (; b - 4 >= a; b -= 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + b - 4));
    const int clear = _mm_movemask_ps(
        _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(v, alpha), _mm_setzero_si128())));
    if (clear != 0xF) return b - __builtin_clz(static_cast<unsigned>(~clear) << 28);
  }
#endif
  while (b > a && !HasInk(row[b - 1])) --b;
  return b;
}

// Converts n source pixels to premultiplied floats (transparent pixels to
// zeros).
void PremultiplyRow(const PF_Pixel* in, Px* out, int32_t n, bool src_premultiplied) {
  for (int32_t x = 0; x < n; ++x) {
    if (in[x].alpha == 0) {
      out[x] = Px{F4{0, 0, 0, 0}};  // transparent black
      continue;
    }
    const F4 p = LoadPixel(in[x]);
    const F4 al{p[0], p[0], p[0], p[0]};
    if (src_premultiplied) {
      out[x].v = p < al ? p : al;
    } else {
      F4 k = al * (1.0f / 255.0f);
      k[0] = 1.0f;
      out[x].v = p * k;
    }
  }
}

#if defined(VANTREL_IMAGING_AVX2)
// PremultiplyRow two pixels per AVX2 vector, with the same operations per
// pixel. A transparent pixel needs no branch: its channels times zero (or
// their minimum with zero) are +0, the zeros PremultiplyRow writes.
__attribute__((target("avx2"))) void PremultiplyRowAvx2(const PF_Pixel* in, Px* out, int32_t n,
                                                        bool src_premultiplied) {
  const __m256 inv255 = _mm256_set1_ps(1.0f / 255.0f);
  const __m256 one = _mm256_set1_ps(1.0f);
  int32_t x = 0;
  for (; x + 2 <= n; x += 2) {
    const __m128i two = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + x));
    const __m256 p = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(two));
    const __m256 al = _mm256_shuffle_ps(p, p, 0);
    const __m256 v = src_premultiplied
                         ? _mm256_min_ps(p, al)
                         : _mm256_mul_ps(p, _mm256_blend_ps(_mm256_mul_ps(al, inv255), one, 0x11));
    _mm256_storeu_ps(reinterpret_cast<float*>(out + x), v);
  }
  PremultiplyRow(in + x, out + x, n - x, src_premultiplied);
}
#endif

#if defined(VANTREL_IMAGING_AVX2)
// AlphaRow eight pixels at a time: where it stopped, or -1 at a pixel of
// another colour.
__attribute__((target("avx2"))) int32_t AlphaRowAvx2(const PF_Pixel* row, int32_t width,
                                                     uint32_t& color, bool& have_color, float* out,
                                                     int32_t& first, int32_t& last) {
  const __m256i alpha = _mm256_set1_epi32(0xFF);
  __m256i want = _mm256_set1_epi32(static_cast<int>(color));
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
    const __m256i alphas = _mm256_and_si256(v, alpha);
    _mm256_storeu_ps(out + x, _mm256_cvtepi32_ps(alphas));
    const __m256i clear = _mm256_cmpeq_epi32(alphas, _mm256_setzero_si256());
    const uint32_t inked =
        ~static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(clear))) & 0xFF;
    if (inked == 0) continue;
    if (!have_color) {
      std::memcpy(&color, &row[x + __builtin_ctz(inked)], 4);
      color &= ~0xFFu;
      have_color = true;
      want = _mm256_set1_epi32(static_cast<int>(color));
    }
    const __m256i same = _mm256_cmpeq_epi32(_mm256_andnot_si256(alpha, v), want);
    if (_mm256_movemask_epi8(_mm256_or_si256(clear, same)) != -1) return -1;
    if (first < 0) first = x + __builtin_ctz(inked);
    last = x + 32 - __builtin_clz(inked);
  }
  return x;
}
#endif

// The inked extent of each source row (rows[y]) and the buffer's layout
// around the inked part, with every buffer row's ink list cleared. Both
// lists are kept per thread: a frame makes one source per piece; lists
// grown by a very tall source are given back at the next call.
struct InkScan {
  PremulSource layout;
  const std::pair<int32_t, int32_t>* rows;  // per source row
  std::pair<int32_t, int32_t>* ink;         // per buffer row, for layout.ink
  int32_t top, bottom, left;                // inked source rows [top, bottom), first column
};

InkScan ScanInk(const PF_EffectWorld& src) {
  thread_local std::vector<std::pair<int32_t, int32_t>> rows, ink;
  constexpr size_t kKeptRows = size_t{1} << 16;
  if (rows.capacity() > kKeptRows && static_cast<size_t>(src.height) + 2 <= kKeptRows) {
    std::vector<std::pair<int32_t, int32_t>>().swap(rows);
    std::vector<std::pair<int32_t, int32_t>>().swap(ink);
  }
  PremulSource s;
  s.width = src.width;
  s.height = src.height;
  rows.resize(static_cast<size_t>(src.height));
  int32_t left = src.width, right = 0, top = src.height, bottom = 0;
  for (int32_t y = 0; y < src.height; ++y) {
    const PF_Pixel* row = RowOf(src, y);
    const int32_t a = FirstInked(row, 0, src.width);
    const int32_t b = LastInked(row, a, src.width);
    rows[static_cast<size_t>(y)] = {a, b};
    if (a < b) {
      left = std::min(left, a);
      right = std::max(right, b);
      top = std::min(top, y);
      bottom = y + 1;
    }
  }
  if (left < right) {
    // Source columns [left, right) are padded [left + 1, right + 1); with
    // their border, padded [left, right + 2).
    s.any_ink = true;
    s.ox = left;
    s.oy = top;
    s.bw = right - left + 2;
    s.bh = bottom - top + 2;
  }
  ink.assign(static_cast<size_t>(s.bh), {0, 0});
  s.ink = ink.data();
  return {s, rows.data(), ink.data(), top, bottom, left};
}

#if defined(VANTREL_IMAGING_AVX2)
// AlphaRow sixteen pixels at a time in AVX-512, the row's last ones with
// their other lanes masked: false at a pixel of another colour.
__attribute__((target("avx2,avx512f"))) bool AlphaRowAvx512(const PF_Pixel* row, int32_t width,
                                                            uint32_t& color, bool& have_color,
                                                            float* out, int32_t& first,
                                                            int32_t& last) {
  const __m512i alpha = _mm512_set1_epi32(0xFF);
  __m512i want = _mm512_set1_epi32(static_cast<int>(color));
  for (int32_t x = 0; x < width; x += 16) {
    const int32_t left = width - x;
    const __mmask16 lanes =
        left >= 16 ? __mmask16{0xFFFF} : static_cast<__mmask16>((1u << left) - 1);
    const __m512i v = _mm512_maskz_loadu_epi32(lanes, row + x);
    const __m512i alphas = _mm512_and_si512(v, alpha);
    _mm512_mask_storeu_ps(out + x, lanes, _mm512_maskz_cvtepi32_ps(lanes, alphas));
    const uint32_t inked = _mm512_test_epi32_mask(v, alpha);
    if (inked == 0) continue;
    if (!have_color) {
      std::memcpy(&color, &row[x + __builtin_ctz(inked)], 4);
      color &= ~0xFFu;
      have_color = true;
      want = _mm512_set1_epi32(static_cast<int>(color));
    }
    const __mmask16 other = _mm512_mask_cmpneq_epi32_mask(
        static_cast<__mmask16>(inked), _mm512_maskz_andnot_epi32(0xFFFF, alpha, v), want);
    if (other != 0) return false;
    if (first < 0) first = x + __builtin_ctz(inked);
    last = x + 32 - __builtin_clz(inked);
  }
  return true;
}
#endif

// The alphas of the row's `width` pixels as floats into out[0 .. width),
// and the extent [first, last) of its ink (first < 0 when it has none).
// False, somewhere in the middle, at a pixel with ink whose colour is not
// `color` (a pixel's three colour bytes, as the upper bytes of its word),
// which the first pixel with ink gives while `have_color` is false.
bool AlphaRow(const PF_Pixel* row, int32_t width, uint32_t& color, bool& have_color, float* out,
              int32_t& first, int32_t& last) {
  first = last = -1;
  int32_t x = 0;
#if defined(VANTREL_IMAGING_AVX2)
  if (HaveAvx512()) return AlphaRowAvx512(row, width, color, have_color, out, first, last);
  if (HaveAvx2()) x = AlphaRowAvx2(row, width, color, have_color, out, first, last);
  if (x < 0) return false;
#endif
  for (; x < width; ++x) {
    uint32_t word;
    std::memcpy(&word, &row[x], 4);
    out[x] = static_cast<float>(word & 0xFF);
    if ((word & 0xFF) == 0) continue;
    if (!have_color) {
      color = word & ~0xFFu;
      have_color = true;
    }
    if ((word & ~0xFFu) != color) return false;
    if (first < 0) first = x;
    last = x + 1;
  }
  return true;
}

}  // namespace

PremulSource MakePremulSource(const PF_EffectWorld& src, bool src_premultiplied,
                              std::vector<Px>& storage) {
  const InkScan scan = ScanInk(src);
  PremulSource s = scan.layout;
  const int32_t top = scan.top, bottom = scan.bottom, left = scan.left;
  const size_t stride = static_cast<size_t>(s.bw);
  const size_t total = stride * static_cast<size_t>(s.bh);
  if (storage.size() < total) storage.resize(total);
  Px* px = storage.data();
  s.px = px;
  std::pair<int32_t, int32_t>* const ink = scan.ink;
  const Px zero{F4{0, 0, 0, 0}};
  std::fill(px, px + stride, zero);                  // top border
  std::fill(px + total - stride, px + total, zero);  // bottom border
  for (int32_t y = top; y < bottom; ++y) {
    const size_t r = static_cast<size_t>(y - top + 1);
    Px* out = px + r * stride;  // padded column `left`: the left border
    const auto [a, b] = scan.rows[static_cast<size_t>(y)];
    if (a >= b) {
      std::fill(out, out + stride, zero);
      continue;
    }
    ink[r] = {a - left + 1, b - left + 1};
    std::fill(out, out + (a - left + 1), zero);
    std::fill(out + (b - left + 1), out + stride, zero);
    const PF_Pixel* row = RowOf(src, y);
    out += 1;  // source column `left`
#if defined(VANTREL_IMAGING_AVX2)
    if (HaveAvx2()) {
      PremultiplyRowAvx2(row + a, out + (a - left), b - a, src_premultiplied);
      continue;
    }
#endif
    PremultiplyRow(row + a, out + (a - left), b - a, src_premultiplied);
  }
  return s;
}

bool MakeAlphaSource(const PF_EffectWorld& src, std::vector<float>& storage, AlphaSource& out) {
  // One pass over the whole source: converted, checked and measured at once.
  // A piece's world is its ink's box, so the buffer is the whole source
  // with its border.
  thread_local std::vector<std::pair<int32_t, int32_t>> ink;
  constexpr size_t kKeptRows = size_t{1} << 16;  // as ScanInk's lists
  if (ink.capacity() > kKeptRows && static_cast<size_t>(src.height) + 2 <= kKeptRows) {
    std::vector<std::pair<int32_t, int32_t>>().swap(ink);
  }
  PremulSource s;
  s.width = src.width;
  s.height = src.height;
  s.bw = src.width + 2;
  s.bh = src.height + 2;
  const size_t stride = static_cast<size_t>(s.bw);
  const size_t total = stride * static_cast<size_t>(s.bh);
  if (storage.size() < total + kAlphaSlack) storage.resize(total + kAlphaSlack);
  float* alpha = storage.data();
  std::fill(alpha, alpha + stride, 0.0f);                                // top border
  std::fill(alpha + total - stride, alpha + total + kAlphaSlack, 0.0f);  // bottom border
  ink.assign(static_cast<size_t>(s.bh), {0, 0});
  uint32_t color = 0;
  bool have_color = false;
  for (int32_t y = 0; y < src.height; ++y) {
    const size_t r = static_cast<size_t>(y) + 1;
    float* line = alpha + r * stride;
    line[0] = 0.0f;           // left border
    line[stride - 1] = 0.0f;  // right border
    int32_t first, last;
    if (!AlphaRow(RowOf(src, y), src.width, color, have_color, line + 1, first, last)) {
      return false;
    }
    if (first >= 0) {
      ink[r] = {first + 1, last + 1};
      s.any_ink = true;
    }
  }
  s.ink = ink.data();
  out.layout = s;
  out.alpha = alpha;
  std::memcpy(&out.color, &color, 4);  // alpha byte 0, the colour bytes of the ink
  return true;
}

}  // namespace vantrel::host::imaging_internal
