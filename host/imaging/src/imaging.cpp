// 8-bit imaging of the stand-in host: fill, rectangle copies and the matrix
// transform with compositing and motion blur. Conventions (pixel centres,
// half-open rectangles, row-vector matrices) are stated in imaging.h.
#include "vantrel/host/imaging.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <mutex>
#include <stdexcept>

#include "vantrel/host/thread_pool.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VANTREL_IMAGING_AVX2 1
#endif

namespace vantrel::host {
namespace {

constexpr int32_t kRowAlignBytes = 16;

struct IRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
};

IRect Intersect(const IRect& a, const IRect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

IRect WholeOf(const PF_EffectWorld& w) { return {0, 0, w.width, w.height}; }

IRect RectOr(const PF_Rect* r, const PF_EffectWorld& w) {
  return r ? IRect{r->left, r->top, r->right, r->bottom} : WholeOf(w);
}

PF_Pixel* RowOf(const PF_EffectWorld& w, int32_t y) {
  return reinterpret_cast<PF_Pixel*>(reinterpret_cast<char*>(w.data) +
                                     static_cast<std::ptrdiff_t>(y) * w.rowbytes);
}

uint8_t ToByte(float v) {
  // Values are in [0, 255] up to float error; round half up.
  return static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f);
}

// Byte range of a world's pixel rows, for overlap checks between worlds.
std::pair<const char*, const char*> ByteSpan(const PF_EffectWorld& w) {
  const char* begin = reinterpret_cast<const char*>(w.data);
  if (!begin || w.height == 0) return {begin, begin};
  return {begin, begin + static_cast<std::ptrdiff_t>(w.height - 1) * w.rowbytes + w.width * 4};
}

bool Overlap(const PF_EffectWorld& a, const PF_EffectWorld& b) {
  auto [a0, a1] = ByteSpan(a);
  auto [b0, b1] = ByteSpan(b);
  return a0 < b1 && b0 < a1;
}

// ---------------------------------------------------------------------------
// Rectangle copies

PF_Err CopyRect(const PF_EffectWorld& src_in, PF_EffectWorld& dst, const PF_Rect* src_rect,
                const PF_Rect* dst_rect, bool bilinear) {
  if (!IsValidWorld(src_in) || !IsValidWorld(dst)) return PF_Err_BAD_CALLBACK_PARAM;
  const IRect sr = RectOr(src_rect, src_in);
  const IRect dr = RectOr(dst_rect, dst);
  if (sr.empty() || dr.empty()) return PF_Err_NONE;

  // Copying within one buffer: read from a snapshot so that the order of the
  // writes cannot feed back into the reads.
  Image snapshot;
  PF_EffectWorld src = src_in;
  if (Overlap(src_in, dst)) {
    snapshot = Image(src_in.width, src_in.height);
    for (int32_t y = 0; y < src_in.height; ++y) {
      std::memcpy(snapshot.row(y), RowOf(src_in, y), static_cast<size_t>(src_in.width) * 4);
    }
    src = snapshot.AsWorld();
  }

  const IRect readable = Intersect(sr, WholeOf(src));
  if (readable.empty()) return PF_Err_NONE;

  if (sr.width() == dr.width() && sr.height() == dr.height()) {
    const int32_t dx = dr.left - sr.left, dy = dr.top - sr.top;
    const IRect shifted{readable.left + dx, readable.top + dy, readable.right + dx,
                        readable.bottom + dy};
    const IRect out = Intersect(Intersect(shifted, dr), WholeOf(dst));
    if (out.empty()) return PF_Err_NONE;
    for (int32_t y = out.top; y < out.bottom; ++y) {
      std::memcpy(RowOf(dst, y) + out.left, RowOf(src, y - dy) + (out.left - dx),
                  static_cast<size_t>(out.width()) * 4);
    }
    return PF_Err_NONE;
  }

  // Scaled: destination pixel centres map linearly onto the source rectangle.
  const IRect out = Intersect(dr, WholeOf(dst));
  const double kx = static_cast<double>(sr.width()) / dr.width();
  const double ky = static_cast<double>(sr.height()) / dr.height();
  for (int32_t y = out.top; y < out.bottom; ++y) {
    const double v = sr.top + (y - dr.top + 0.5) * ky;  // source y, continuous
    if (v < readable.top || v >= readable.bottom) continue;
    PF_Pixel* drow = RowOf(dst, y);
    for (int32_t x = out.left; x < out.right; ++x) {
      const double u = sr.left + (x - dr.left + 0.5) * kx;
      if (u < readable.left || u >= readable.right) continue;
      if (!bilinear) {
        drow[x] =
            RowOf(src, static_cast<int32_t>(std::floor(v)))[static_cast<int32_t>(std::floor(u))];
        continue;
      }
      // Bilinear between the four nearest pixel centres, clamped to the
      // readable rectangle so that its edges do not fade.
      const double fu = u - 0.5, fv = v - 0.5;
      const double u0 = std::floor(fu), v0 = std::floor(fv);
      const float wx = static_cast<float>(fu - u0), wy = static_cast<float>(fv - v0);
      auto cx = [&](double c) {
        return std::clamp(static_cast<int32_t>(c), readable.left, readable.right - 1);
      };
      auto cy = [&](double c) {
        return std::clamp(static_cast<int32_t>(c), readable.top, readable.bottom - 1);
      };
      const int32_t xs[2] = {cx(u0), cx(u0 + 1)};
      const int32_t ys[2] = {cy(v0), cy(v0 + 1)};
      const float wxs[2] = {1 - wx, wx}, wys[2] = {1 - wy, wy};
      float a = 0, r = 0, g = 0, b = 0;
      for (int j = 0; j < 2; ++j) {
        const PF_Pixel* srow = RowOf(src, ys[j]);
        for (int i = 0; i < 2; ++i) {
          const PF_Pixel& p = srow[xs[i]];
          const float w = wxs[i] * wys[j];
          const float wa = w * p.alpha;
          a += wa;
          r += wa * p.red;
          g += wa * p.green;
          b += wa * p.blue;
        }
      }
      PF_Pixel result{0, 0, 0, 0};
      if (a > 0) result = {ToByte(a), ToByte(r / a), ToByte(g / a), ToByte(b / a)};
      drow[x] = result;
    }
  }
  return PF_Err_NONE;
}

// ---------------------------------------------------------------------------
// Matrices

struct Mat3 {
  double m[3][3];
};

Mat3 FromPF(const PF_FloatMatrix& f) {
  Mat3 r;
  std::memcpy(r.m, f.mat, sizeof r.m);
  return r;
}

bool IsFinite(const Mat3& a) {
  for (const auto& row : a.m) {
    for (double v : row) {
      if (!std::isfinite(v)) return false;
    }
  }
  return true;
}

// Inverse by the adjugate. False for a singular (or numerically unusable)
// matrix.
bool Invert(const Mat3& a, Mat3& out) {
  const auto& m = a.m;
  const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
  const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
  const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
  const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
  if (det == 0 || !std::isfinite(det)) return false;
  const double k = 1.0 / det;
  out.m[0][0] = c00 * k;
  out.m[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) * k;
  out.m[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) * k;
  out.m[1][0] = c01 * k;
  out.m[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) * k;
  out.m[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) * k;
  out.m[2][0] = c02 * k;
  out.m[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) * k;
  out.m[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) * k;
  return IsFinite(out);
}

// Divides an affine matrix (last column (0, 0, w), w != 0) by w, so that W
// is 1 everywhere. Returns whether the matrix is affine.
bool NormalizeAffine(Mat3& a) {
  if (a.m[0][2] != 0 || a.m[1][2] != 0 || a.m[2][2] == 0) return false;
  const double k = 1.0 / a.m[2][2];
  for (auto& row : a.m) {
    for (double& v : row) v *= k;
  }
  return true;
}

// Maps (x, y) by a row-vector matrix; false when the point goes to or
// behind infinity (W <= 0).
bool MapPoint(const Mat3& a, double x, double y, double& ox, double& oy) {
  const double w = x * a.m[0][2] + y * a.m[1][2] + a.m[2][2];
  if (!(w > 0)) return false;
  ox = (x * a.m[0][0] + y * a.m[1][0] + a.m[2][0]) / w;
  oy = (x * a.m[0][1] + y * a.m[1][1] + a.m[2][1]) / w;
  return std::isfinite(ox) && std::isfinite(oy);
}

// ---------------------------------------------------------------------------
// Transform

// Four floats in one SIMD register (GCC/Clang vector extension; SSE2 on
// x86-64): one pixel's alpha, red, green, blue.
typedef float F4 __attribute__((vector_size(16)));
typedef int32_t I4 __attribute__((vector_size(16)));
typedef uint8_t U8x4 __attribute__((vector_size(4)));  // a PF_Pixel's four bytes

// Byte <-> float conversions of one pixel. SSE2 (every x86-64) has the
// packing instructions for them; the generic vector conversions are the
// portable fallback.
F4 LoadPixel(const PF_Pixel& p) {
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
void StorePixel(F4 v, PF_Pixel& p) {
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
  // Per buffer row, the buffer columns [first, last) whose pixels have ink
  // (first == last when none).
  std::vector<std::pair<int32_t, int32_t>> ink;
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
// Whether the processor runs AVX2 (checked once).
bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}

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

// Reads the source once to find its inked rows and columns, then converts
// only those into `storage`, which it grows when too small and otherwise
// overwrites (every pixel of the buffer is written once, without clearing
// it first). The result points into `storage`.
PremulSource MakePremulSource(const PF_EffectWorld& src, bool src_premultiplied,
                              std::vector<Px>& storage) {
  PremulSource s;
  s.width = src.width;
  s.height = src.height;
  // Inked extent of each source row, and of the whole source.
  std::vector<std::pair<int32_t, int32_t>> rows(static_cast<size_t>(src.height));
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
  const size_t stride = static_cast<size_t>(s.bw);
  const size_t total = stride * static_cast<size_t>(s.bh);
  if (storage.size() < total) storage.resize(total);
  Px* px = storage.data();
  s.px = px;
  s.ink.assign(static_cast<size_t>(s.bh), {0, 0});
  const Px zero{F4{0, 0, 0, 0}};
  std::fill(px, px + stride, zero);                  // top border
  std::fill(px + total - stride, px + total, zero);  // bottom border
  for (int32_t y = top; y < bottom; ++y) {
    const size_t r = static_cast<size_t>(y - top + 1);
    Px* out = px + r * stride;  // padded column `left`: the left border
    const auto [a, b] = rows[static_cast<size_t>(y)];
    if (a >= b) {
      std::fill(out, out + stride, zero);
      continue;
    }
    s.ink[r] = {a - left + 1, b - left + 1};
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

// One placement of the source: the destination-to-source matrix and the
// destination box that the source's support can reach.
struct Placement {
  Mat3 inv;            // destination -> source
  bool affine = true;  // inv's last column is (0, 0, 1)
  IRect box;           // destination pixels possibly reached, before clipping
};

constexpr int32_t kHuge = std::numeric_limits<int32_t>::max() / 4;

int32_t ClampToInt(double v) {
  return static_cast<int32_t>(
      std::clamp(v, static_cast<double>(-kHuge), static_cast<double>(kHuge)));
}

// Builds a placement from a matrix as the caller gave it. False when the
// placement draws nothing (a source-to-destination matrix that collapses the
// source). `lo`/`hi` bound the source coordinates where a sample can be
// non-zero.
bool MakePlacement(const Mat3& given, bool src2dst, double lo_u, double hi_u, double lo_v,
                   double hi_v, Placement& p) {
  Mat3 fwd;
  bool have_fwd = true;
  if (src2dst) {
    fwd = given;
    if (!Invert(given, p.inv)) return false;
  } else {
    p.inv = given;
    have_fwd = Invert(given, fwd);
  }
  p.affine = NormalizeAffine(p.inv);
  if (have_fwd) NormalizeAffine(fwd);

  p.box = {-kHuge, -kHuge, kHuge, kHuge};  // unbounded unless the corners say otherwise
  if (!have_fwd) return true;
  double min_x = std::numeric_limits<double>::infinity(), min_y = min_x;
  double max_x = -min_x, max_y = -min_x;
  const double us[2] = {lo_u, hi_u}, vs[2] = {lo_v, hi_v};
  for (double u : us) {
    for (double v : vs) {
      double x, y;
      if (!MapPoint(fwd, u, v, x, y)) return true;  // crosses infinity: unbounded
      min_x = std::min(min_x, x);
      max_x = std::max(max_x, x);
      min_y = std::min(min_y, y);
      max_y = std::max(max_y, y);
    }
  }
  // A pixel is reached when its centre (x + 0.5) lies in [min, max]; one
  // extra pixel on each side absorbs rounding.
  p.box = {ClampToInt(std::floor(min_x - 0.5)), ClampToInt(std::floor(min_y - 0.5)),
           ClampToInt(std::ceil(max_x - 0.5) + 1), ClampToInt(std::ceil(max_y - 0.5) + 1)};
  return true;
}

// Narrows [c_lo, c_hi] to the centres c where lo <= base + slope * c <= hi.
void NarrowSpan(double base, double slope, double lo, double hi, double& c_lo, double& c_hi) {
  if (slope == 0) {
    if (base < lo || base > hi) c_hi = c_lo - 1;  // empty
    return;
  }
  double a = (lo - base) / slope, b = (hi - base) / slope;
  if (a > b) std::swap(a, b);
  c_lo = std::max(c_lo, a);
  c_hi = std::min(c_hi, b);
}

struct TransformJob {
  const PremulSource* src;
  bool bilinear;
  std::vector<Placement> placements;
  IRect box;             // union of the placements' boxes ∩ clip
  float coverage_scale;  // 1 / number of placements
  PF_TransferMode xfer;
  float opacity;       // 0..1
  bool premultiplied;  // worlds hold premultiplied alpha
};

// The destination pixels [x0, x1) of row y that one placement may reach
// (a slight over-estimate; the per-pixel test is exact).
// Without `narrow_v`, only u bounds the span (see InvariantRowSpan).
std::pair<int32_t, int32_t> RowSpan(const TransformJob& job, const Placement& p, int32_t y,
                                    bool narrow_v = true) {
  const PremulSource& s = *job.src;
  int32_t x0 = job.box.left, x1 = job.box.right;
  if (!p.affine) return {x0, x1};
  const double yc = y + 0.5;
  const auto& m = p.inv.m;
  // Source support: bilinear taps reach half a pixel beyond the edges.
  const double lo = job.bilinear ? -0.5 : 0.0;
  const double hi_u = job.bilinear ? s.width + 0.5 : s.width;
  const double hi_v = job.bilinear ? s.height + 0.5 : s.height;
  // u(c) = c·m00 + yc·m10 + m20 for the pixel centre c = x + 0.5 (likewise v).
  double c_lo = x0 + 0.5, c_hi = x1 - 0.5;
  NarrowSpan(yc * m[1][0] + m[2][0], m[0][0], lo, hi_u, c_lo, c_hi);
  if (narrow_v) NarrowSpan(yc * m[1][1] + m[2][1], m[0][1], lo, hi_v, c_lo, c_hi);
  if (c_hi < c_lo) return {0, 0};
  x0 = std::max(x0, ClampToInt(std::floor(c_lo - 0.5)) - 1);
  x1 = std::min(x1, ClampToInt(std::ceil(c_hi - 0.5)) + 2);
  if (x1 <= x0) return {0, 0};
  return {x0, x1};
}

// Whether an affine placement neither rotates nor shears (m01 = m10 = 0,
// every piece that is only moved and scaled): u then does not depend on
// the row (yc · m10 is zero), and v does not move along it, so RowSpan is
// the same u-bounded span on every row whose v lies in the support.
bool HasRowInvariantSpan(const Placement& p) {
  return p.affine && p.inv.m[1][0] == 0 && p.inv.m[0][1] == 0;
}

// RowSpan of row y for such a placement, from its u-bounded span
// (RowSpan without narrow_v): the same test of v, without recomputing u.
std::pair<int32_t, int32_t> InvariantRowSpan(const TransformJob& job, const Placement& p, int32_t y,
                                             std::pair<int32_t, int32_t> span_u) {
  const double lo = job.bilinear ? -0.5 : 0.0;
  const double hi_v = job.bilinear ? job.src->height + 0.5 : job.src->height;
  const double base = (y + 0.5) * p.inv.m[1][1] + p.inv.m[2][1];
  if (base < lo || base > hi_v) return {0, 0};
  return span_u;
}

// The premultiplied sample from the taps at `top` (padded pixel (ix, iy)
// of the buffer, `stride` pixels per row) with fractions (wx, wy): bilinear
// between (ix, iy) and (ix + 1, iy + 1), or the one pixel (ix + 1, iy + 1)
// for nearest.
template <bool kBilinear>
inline F4 Tap(const Px* top, int32_t stride, float wx, float wy) {
  if constexpr (kBilinear) {
    const Px* bottom = top + stride;
    // Lerps rather than four weights: a zero fraction reproduces a pixel exactly.
    const F4 t = top[0].v + (top[1].v - top[0].v) * wx;
    const F4 b = bottom[0].v + (bottom[1].v - bottom[0].v) * wx;
    return t + (b - t) * wy;
  } else {
    (void)wx;
    (void)wy;
    return top[stride + 1].v;
  }
}

// Tap at padded pixel (ix, iy) anywhere in the source: zero outside the
// buffer, where every tap is transparent.
template <bool kBilinear>
inline F4 TapAnywhere(const PremulSource& s, int32_t ix, int32_t iy, float wx, float wy) {
  if (!s.Holds(ix, iy)) return F4{0, 0, 0, 0};
  return Tap<kBilinear>(s.Row(iy) + (ix - s.ox), s.bw, wx, wy);
}

// Nearest integer, halves away from zero, as std::llround gives it, for
// |v| < 2^62; inline where llround is a library call.
inline int64_t RoundToInt64(double v) {
  const int64_t t = static_cast<int64_t>(v);    // toward zero
  const double f = v - static_cast<double>(t);  // exact
  return t + (f >= 0.5 ? 1 : 0) - (f <= -0.5 ? 1 : 0);
}

int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
  const int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

// The steps k in [0, n) where lo <= f0 + k·df < hi.
std::pair<int64_t, int64_t> StepsWithin(int64_t f0, int64_t df, int64_t lo, int64_t hi, int64_t n) {
  int64_t a = 0, b = n;
  if (df == 0) {
    if (f0 < lo || f0 >= hi) b = 0;
  } else if (df > 0) {
    a = -FloorDiv(f0 - lo, df);  // ceil((lo - f0) / df)
    b = -FloorDiv(f0 - hi, df);  // ceil((hi - f0) / df)
  } else {
    a = FloorDiv(f0 - hi, -df) + 1;  // first k with f0 + k·df < hi
    b = FloorDiv(f0 - lo, -df) + 1;  // past the last with f0 + k·df >= lo
  }
  a = std::max<int64_t>(a, 0);
  b = std::min(b, n);
  return {a, std::max(a, b)};
}

// Walks the pixels [x0, x1) of destination row y through one placement and
// calls sink(x, sample) for each pixel whose sample point falls inside the
// source's support, with the premultiplied sample (channels in 0..255).
// With `skip_empty`, pixels whose sample is exactly zero (all taps
// transparent) may be left out.
//
// Source coordinates are tracked per destination pixel in padded source
// pixels: source pixel i has its centre at i + 0.5 and padded index i + 1.
// Bilinear shifts by half a pixel, so that a sample at padded f blends
// pixels floor(f) and floor(f) + 1; nearest takes pixel floor(f) + 1 of the
// unshifted coordinate.
template <bool kBilinear, bool kAffine, class Sink>
void WalkRow(const PremulSource& s, const Placement& p, int32_t y, int32_t x0, int32_t x1,
             bool skip_empty, Sink&& sink) {
  const auto& m = p.inv.m;
  const double yc = y + 0.5, c0 = x0 + 0.5;
  const double shift = kBilinear ? 0.5 : 0.0;
  double u = c0 * m[0][0] + yc * m[1][0] + m[2][0];
  double v = c0 * m[0][1] + yc * m[1][1] + m[2][1];
  const double du = m[0][0], dv = m[0][1];
  const int32_t limit_u = kBilinear ? s.width + 1 : s.width;
  const int32_t limit_v = kBilinear ? s.height + 1 : s.height;

  if constexpr (kAffine) {
    // 32.32 fixed point: exact for whole-pixel steps, and drifts by less
    // than 1e-5 pixel over any row. Used while every coordinate of the
    // span fits comfortably.
    constexpr double kOne = 4294967296.0;  // 2^32
    constexpr double kRange = 1 << 28;
    const double n = x1 - x0;
    const double u0 = u + shift, v0 = v + shift;
    if (std::fabs(u0) < kRange && std::fabs(v0) < kRange && std::fabs(u0 + n * du) < kRange &&
        std::fabs(v0 + n * dv) < kRange) {
      int64_t fu = RoundToInt64(u0 * kOne), fv = RoundToInt64(v0 * kOne);
      const int64_t fdu = RoundToInt64(du * kOne), fdv = RoundToInt64(dv * kOne);
      const uint64_t lim_u = static_cast<uint64_t>(limit_u) << 32;
      const uint64_t lim_v = static_cast<uint64_t>(limit_v) << 32;
      constexpr float kFrac = 1.0f / 16777216.0f;  // 2^-24: the top 24 bits of the fraction
      if (fdv == 0 && skip_empty) {
        // The row stays on one source row: only the columns whose taps can
        // reach ink are walked, without per-pixel checks.
        if (static_cast<uint64_t>(fv) >= lim_v) return;
        const int32_t iy = static_cast<int32_t>(fv >> 32);
        if (!s.Holds(s.ox, iy)) return;
        const size_t r = static_cast<size_t>(iy - s.oy);
        auto ink = s.ink[r + 1];  // nearest reads row iy + 1
        if constexpr (kBilinear) {
          const auto above = s.ink[r];
          if (above.first < above.second) {
            ink = ink.first < ink.second ? std::pair{std::min(ink.first, above.first),
                                                     std::max(ink.second, above.second)}
                                         : above;
          }
        }
        if (ink.first >= ink.second) return;
        // Buffer columns ix with ink among ix, ix + 1 (bilinear) or at ix + 1 (nearest).
        const int32_t first = ink.first - 1;
        const int32_t last = kBilinear ? ink.second - 1 : ink.second - 2;
        const int64_t lo = std::max<int64_t>(static_cast<int64_t>(first) + s.ox, 0);
        const int64_t hi = std::min<int64_t>(static_cast<int64_t>(last) + s.ox + 1, limit_u);
        if (lo >= hi) return;
        const auto [k0, k1] = StepsWithin(fu, fdu, lo << 32, hi << 32, x1 - x0);
        const float wy = static_cast<float>(static_cast<uint32_t>(fv) >> 8) * kFrac;
        const Px* row = s.Row(iy);
        fu += k0 * fdu - (static_cast<int64_t>(s.ox) << 32);  // now relative to the buffer
        for (int64_t k = k0; k < k1; ++k, fu += fdu) {
          const float wx = static_cast<float>(static_cast<uint32_t>(fu) >> 8) * kFrac;
          sink(x0 + static_cast<int32_t>(k),
               Tap<kBilinear>(row + static_cast<int32_t>(fu >> 32), s.bw, wx, wy));
        }
        return;
      }
      for (int32_t x = x0; x < x1; ++x, fu += fdu, fv += fdv) {
        // Negative coordinates wrap to huge unsigned values and fail too.
        if (static_cast<uint64_t>(fu) >= lim_u || static_cast<uint64_t>(fv) >= lim_v) continue;
        const float wx = static_cast<float>(static_cast<uint32_t>(fu) >> 8) * kFrac;
        const float wy = static_cast<float>(static_cast<uint32_t>(fv) >> 8) * kFrac;
        sink(x, TapAnywhere<kBilinear>(s, static_cast<int32_t>(fu >> 32),
                                       static_cast<int32_t>(fv >> 32), wx, wy));
      }
      return;
    }
  }

  double w = kAffine ? 1.0 : c0 * m[0][2] + yc * m[1][2] + m[2][2];
  const double dw = kAffine ? 0.0 : m[0][2];
  for (int32_t x = x0; x < x1; ++x, u += du, v += dv, w += dw) {
    if (!(w > 0)) continue;
    const double fx = u / w + shift, fy = v / w + shift;
    if (!(fx >= 0 && fx < limit_u && fy >= 0 && fy < limit_v)) continue;
    const int32_t ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy);
    sink(x, TapAnywhere<kBilinear>(s, ix, iy, static_cast<float>(fx - ix),
                                   static_cast<float>(fy - iy)));
  }
}

// WalkRow with the quality and the matrix kind chosen at run time.
template <class Sink>
void WalkRowAny(const TransformJob& job, const Placement& p, int32_t y, int32_t x0, int32_t x1,
                Sink&& sink) {
  const PremulSource& s = *job.src;
  // PF_Xfer_COPY marks every pixel reached, zero samples included; the
  // other modes leave a pixel with a zero sample as it was.
  const bool skip = job.xfer != PF_Xfer_COPY;
  if (job.bilinear) {
    p.affine ? WalkRow<true, true>(s, p, y, x0, x1, skip, sink)
             : WalkRow<true, false>(s, p, y, x0, x1, skip, sink);
  } else {
    p.affine ? WalkRow<false, true>(s, p, y, x0, x1, skip, sink)
             : WalkRow<false, false>(s, p, y, x0, x1, skip, sink);
  }
}

// Adds one placement's samples of row y into acc (indexed from box.left);
// for PF_Xfer_COPY also marks in `reached` the pixels that the source reaches.
void AccumulateRow(const TransformJob& job, const Placement& p, int32_t y, int32_t x0, int32_t x1,
                   Px* acc, uint8_t* reached) {
  Px* a = acc - job.box.left;
  if (job.xfer != PF_Xfer_COPY) {
    WalkRowAny(job, p, y, x0, x1, [a](int32_t x, F4 sample) { a[x].v += sample; });
    return;
  }
  uint8_t* r = reached - job.box.left;
  WalkRowAny(job, p, y, x0, x1, [a, r](int32_t x, F4 sample) {
    a[x].v += sample;
    r[x] = 1;
  });
}

// Source over destination, both straight alpha, for one pixel: the case
// every piece takes. `s` is the premultiplied sample (0..255), k scales it
// to coverage in 0..1 (opacity and the motion-blur average).
inline void OverStraight(F4 s, float k, PF_Pixel& d) {
  const F4 top{255.0f, 255.0f, 255.0f, 255.0f};
  if (s[0] <= 0) return;  // nothing in front: the destination stays as it is
  if (d.alpha == 0) {     // onto transparent (most of a cleared frame): the source alone
    F4 out = s * (255.0f / s[0]);
    out[0] = s[0] * k * 255.0f;
    StorePixel(out < top ? out : top, d);
    return;
  }
  const F4 dv = LoadPixel(d);
  const float as = s[0] * k;
  const float t = dv[0] * (1.0f / 255.0f) * (1 - as);  // destination's share of the result
  const float ao = as + t;
  const float inv = 1.0f / ao;
  // Straight colour = (source premultiplied + destination premultiplied
  // × (1 − source alpha)) / result alpha, in 0..255.
  F4 out = s * (k * 255.0f * inv) + dv * (t * inv);
  out[0] = ao * 255.0f;
  StorePixel(out < top ? out : top, d);  // float error may overshoot 255 slightly
}

#if defined(VANTREL_IMAGING_AVX2)
// Four floats loaded from `lo` into the low half and from `hi` into the high half.
__attribute__((target("avx2"))) inline __m256 LoadPair(const Px* lo, const Px* hi) {
  return _mm256_insertf128_ps(
      _mm256_castps128_ps256(_mm_load_ps(reinterpret_cast<const float*>(lo))),
      _mm_load_ps(reinterpret_cast<const float*>(hi)), 1);
}

// The bilinear samples at 32.32 buffer columns fa (low half) and fb (high
// half) of the row `row`, with horizontal fractions wx (each repeated over
// its half), with Tap's lerps in Tap's order.
__attribute__((target("avx2"), always_inline)) inline __m256 SamplePair(const Px* row,
                                                                        int32_t stride, int64_t fa,
                                                                        int64_t fb, __m256 wx,
                                                                        __m256 wy8) {
  const Px* ta = row + static_cast<int32_t>(fa >> 32);
  const Px* tb = row + static_cast<int32_t>(fb >> 32);
  const __m256 t0 = LoadPair(ta, tb), t1 = LoadPair(ta + 1, tb + 1);
  const __m256 b0 = LoadPair(ta + stride, tb + stride);
  const __m256 b1 = LoadPair(ta + stride + 1, tb + stride + 1);
  const __m256 t = _mm256_add_ps(t0, _mm256_mul_ps(_mm256_sub_ps(t1, t0), wx));
  const __m256 b = _mm256_add_ps(b0, _mm256_mul_ps(_mm256_sub_ps(b1, b0), wx));
  return _mm256_add_ps(t, _mm256_mul_ps(_mm256_sub_ps(b, t), wy8));
}

// The bilinear walk of one affine row that stays on one source row, with
// OverStraight as the sink, four pixels per step in two AVX2 vectors: each
// half holds one pixel and goes through the same operations, in the same
// order, as Tap and OverStraight give it, so the bytes are those of the
// one-pixel walk. Four transparent destination pixels are tested with one
// load and drawn with one division and one store, without a branch on which
// of them have ink. False, having drawn nothing, where the row is not of
// that kind.
// The 32.32 fixed point and its range, as WalkRow uses them.
constexpr double kFixedOne = 4294967296.0;  // 2^32
constexpr double kFixedRange = 1 << 28;

// What the AVX2 walk takes from u alone, for rows that all start at the same
// column with the same u (a placement with HasRowInvariantSpan): made once
// per call instead of once per row.
struct RowStart {
  int64_t fu = 0, fdu = 0;  // 32.32 u of the first pixel, and its step
  // steps_below[c]: how many steps k of a row lie before padded column c
  // (fu + k·fdu < c·2^32), for c in [0, width + 1]; empty unless fdu > 0.
  // StepsWithin's bounds, without its divisions.
  std::vector<int32_t> steps_below;
};

// False where u leaves the fixed-point range (the rows then take the full
// per-row set-up).
bool MakeRowStart(const PremulSource& s, const Placement& p, int32_t y, int32_t x0, int32_t x1,
                  RowStart& out) {
  const auto& m = p.inv.m;
  const double yc = y + 0.5, c0 = x0 + 0.5;
  const double u0 = c0 * m[0][0] + yc * m[1][0] + m[2][0] + 0.5;
  const double du = m[0][0];
  const double n = x1 - x0;
  if (!(std::fabs(u0) < kFixedRange && std::fabs(u0 + n * du) < kFixedRange)) return false;
  out.fu = RoundToInt64(u0 * kFixedOne);
  out.fdu = RoundToInt64(du * kFixedOne);
  out.steps_below.clear();
  if (out.fdu > 0) {
    const int32_t limit_u = s.width + 1;
    out.steps_below.resize(static_cast<size_t>(limit_u) + 1);
    int64_t k = 0, f = out.fu;
    for (int32_t c = 0; c <= limit_u; ++c) {
      const int64_t bound = static_cast<int64_t>(c) << 32;
      while (k < x1 - x0 && f < bound) ++k, f += out.fdu;
      out.steps_below[static_cast<size_t>(c)] = static_cast<int32_t>(k);
    }
  }
  return true;
}

__attribute__((target("avx2"))) bool WalkRowOverAvx2(const PremulSource& s, const Placement& p,
                                                     int32_t y, int32_t x0, int32_t x1, float k,
                                                     PF_Pixel* dst_row, const RowStart* start) {
  const auto& m = p.inv.m;
  const double yc = y + 0.5, c0 = x0 + 0.5;
  const double v = c0 * m[0][1] + yc * m[1][1] + m[2][1];
  const double du = m[0][0], dv = m[0][1];
  const int32_t limit_u = s.width + 1;
  const int32_t limit_v = s.height + 1;
  // The same fixed point and the same conditions as WalkRow.
  constexpr double kOne = kFixedOne;
  constexpr double kRange = kFixedRange;
  const double n = x1 - x0;
  const double v0 = v + 0.5;
  int64_t fu, fdu;
  if (start) {
    if (!(std::fabs(v0) < kRange && std::fabs(v0 + n * dv) < kRange)) return false;
    fu = start->fu;
    fdu = start->fdu;
  } else {
    const double u0 = c0 * m[0][0] + yc * m[1][0] + m[2][0] + 0.5;
    if (!(std::fabs(u0) < kRange && std::fabs(v0) < kRange && std::fabs(u0 + n * du) < kRange &&
          std::fabs(v0 + n * dv) < kRange)) {
      return false;
    }
    fu = RoundToInt64(u0 * kOne);
    fdu = RoundToInt64(du * kOne);
  }
  const int64_t fv = RoundToInt64(v0 * kOne);
  const int64_t fdv = RoundToInt64(dv * kOne);
  if (fdv != 0) return false;
  const uint64_t lim_v = static_cast<uint64_t>(limit_v) << 32;
  constexpr float kFrac = 1.0f / 16777216.0f;
  if (static_cast<uint64_t>(fv) >= lim_v) return true;
  const int32_t iy = static_cast<int32_t>(fv >> 32);
  if (!s.Holds(s.ox, iy)) return true;
  const size_t r = static_cast<size_t>(iy - s.oy);
  auto ink = s.ink[r + 1];
  const auto above = s.ink[r];
  if (above.first < above.second) {
    ink = ink.first < ink.second
              ? std::pair{std::min(ink.first, above.first), std::max(ink.second, above.second)}
              : above;
  }
  if (ink.first >= ink.second) return true;
  const int32_t first = ink.first - 1;
  const int32_t last = ink.second - 1;
  const int64_t lo = std::max<int64_t>(static_cast<int64_t>(first) + s.ox, 0);
  const int64_t hi = std::min<int64_t>(static_cast<int64_t>(last) + s.ox + 1, limit_u);
  if (lo >= hi) return true;
  const auto [k0, k1] =
      start && !start->steps_below.empty()
          ? std::pair<int64_t, int64_t>{start->steps_below[static_cast<size_t>(lo)],
                                        start->steps_below[static_cast<size_t>(hi)]}
          : StepsWithin(fu, fdu, lo << 32, hi << 32, x1 - x0);
  const float wy = static_cast<float>(static_cast<uint32_t>(fv) >> 8) * kFrac;
  const Px* row = s.Row(iy);
  const int32_t stride = s.bw;
  fu += k0 * fdu - (static_cast<int64_t>(s.ox) << 32);
  PF_Pixel* d = dst_row + x0;

  const __m256 wy8 = _mm256_set1_ps(wy);
  const __m256 c255 = _mm256_set1_ps(255.0f);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 k8 = _mm256_set1_ps(k);
  const __m256 zero = _mm256_setzero_ps();
  const __m128i alpha_bytes = _mm_set1_epi32(0xFF);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 0, 0, 0, 0);
  // The four pixels' 32.32 columns, whose fractions are converted together:
  // the top 24 bits of each fraction, exact in a float, times 2^-24 as in Tap.
  __m256i fu4 = _mm256_setr_epi64x(fu, fu + fdu, fu + 2 * fdu, fu + 3 * fdu);
  const __m256i step4 = _mm256_set1_epi64x(4 * fdu);
  const __m256i low_words = _mm256_setr_epi32(0, 2, 4, 6, 0, 0, 0, 0);
  const __m128 frac = _mm_set1_ps(kFrac);
  const __m256i spread01 = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
  const __m256i spread23 = _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3);
  int64_t i = k0;
  for (; i < k1; i += 4) {
    // The row's last one to three pixels take the same step, with their
    // lanes masked: the others repeat the last pixel's taps and are neither
    // read from nor written to the destination.
    const int64_t left = k1 - i;
    const bool partial = left < 4;
    int64_t f1 = fu + fdu, f2 = fu + 2 * fdu, f3 = fu + 3 * fdu;
    __m128i lanes = _mm_set1_epi32(-1);
    __m128i dv;  // the destination is read first: its cache misses then overlap the sampling
    if (partial) {
      lanes =
          _mm_cmpgt_epi32(_mm_set1_epi32(static_cast<int32_t>(left)), _mm_setr_epi32(0, 1, 2, 3));
      if (left < 2) f1 = fu;
      if (left < 3) f2 = f1;
      f3 = f2;
      dv = _mm_maskload_epi32(reinterpret_cast<const int*>(d + i), lanes);
    } else {
      dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
    }
    const __m128i fractions =
        _mm_srli_epi32(_mm256_castsi256_si128(_mm256_permutevar8x32_epi32(fu4, low_words)), 8);
    const __m256 wx4 = _mm256_castps128_ps256(_mm_mul_ps(_mm_cvtepi32_ps(fractions), frac));
    fu4 = _mm256_add_epi64(fu4, step4);
    const __m256 s01 =
        SamplePair(row, stride, fu, f1, _mm256_permutevar8x32_ps(wx4, spread01), wy8);
    const __m256 s23 =
        SamplePair(row, stride, f2, f3, _mm256_permutevar8x32_ps(wx4, spread23), wy8);
    fu += 4 * fdu;
    // Low half: alphas of pixels 0, 0, 2, 2; high half: 1, 1, 3, 3.
    const __m256 alphas = _mm256_shuffle_ps(s01, s23, 0x00);
    const __m256 inked = _mm256_cmp_ps(alphas, zero, _CMP_GT_OQ);
    if (_mm256_movemask_ps(inked) == 0) continue;  // nothing in front of any of the four
    if (!_mm_testz_si128(dv, alpha_bytes)) {
      // Something behind: OverStraight's general formula, pixel by pixel.
      const F4 samples[4] = {reinterpret_cast<F4>(_mm256_castps256_ps128(s01)),
                             reinterpret_cast<F4>(_mm256_extractf128_ps(s01, 1)),
                             reinterpret_cast<F4>(_mm256_castps256_ps128(s23)),
                             reinterpret_cast<F4>(_mm256_extractf128_ps(s23, 1))};
      for (int64_t j = 0; j < std::min<int64_t>(left, 4); ++j) {
        OverStraight(samples[j], k, d[i + j]);
      }
      continue;
    }
    // All four onto transparent: the source alone (OverStraight's first
    // case), one division per pixel. Pixels without ink get their
    // destination back unchanged, whatever their lanes computed.
    const __m256 recip = _mm256_div_ps(c255, alphas);
    const __m256 ao = _mm256_mul_ps(_mm256_mul_ps(alphas, k8), c255);
    __m256 o01 = _mm256_mul_ps(s01, _mm256_shuffle_ps(recip, recip, 0x00));
    __m256 o23 = _mm256_mul_ps(s23, _mm256_shuffle_ps(recip, recip, 0xAA));
    o01 = _mm256_min_ps(_mm256_blend_ps(o01, ao, 0x11), c255);
    o23 = _mm256_min_ps(_mm256_blend_ps(o23, _mm256_shuffle_ps(ao, ao, 0xAA), 0x11), c255);
    const __m256 i01 = _mm256_castsi256_ps(_mm256_cvttps_epi32(_mm256_add_ps(o01, half)));
    const __m256 i23 = _mm256_castsi256_ps(_mm256_cvttps_epi32(_mm256_add_ps(o23, half)));
    const __m256 d01 = _mm256_castsi256_ps(_mm256_cvtepu8_epi32(dv));
    const __m256 d23 = _mm256_castsi256_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(dv, 8)));
    const __m256i v01 =
        _mm256_castps_si256(_mm256_blendv_ps(d01, i01, _mm256_shuffle_ps(inked, inked, 0x00)));
    const __m256i v23 =
        _mm256_castps_si256(_mm256_blendv_ps(d23, i23, _mm256_shuffle_ps(inked, inked, 0xAA)));
    const __m256i words = _mm256_packs_epi32(v01, v23);  // pixels 0, 2 | 1, 3
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words, words), order);
    if (partial) {
      _mm_maskstore_epi32(reinterpret_cast<int*>(d + i), lanes, _mm256_castsi256_si128(bytes));
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm256_castsi256_si128(bytes));
    }
  }
  return true;
}
#endif

// Destination rows are fetched two rows ahead of use: each row of a piece
// touches new cache lines that the hardware does not foresee.
constexpr int32_t kPrefetchRows = 2;
// A destination box this small (a piece's) is prefetched whole at the start.
constexpr int64_t kPrefetchAllPixels = 1 << 13;

// Pixels of premultiplied source storage kept per thread between calls
// (32 MB: a 1920×1080 layer's). Allocating it afresh costs a page fault per
// 4 KB on every call, several times the conversion itself.
constexpr size_t kKeptPremulPixels = size_t{1} << 21;

// Prefetches for writing the pixels [x0, x1) of row y, if inside the box.
void PrefetchSpan(const PF_EffectWorld& dst, int32_t y, const IRect& box, int32_t x0, int32_t x1) {
  if (y >= box.bottom) return;
  const char* first = reinterpret_cast<const char*>(RowOf(dst, y) + x0);
  const char* last = reinterpret_cast<const char*>(RowOf(dst, y) + x1 - 1);
  for (const char* p = first; p <= last; p += 64) __builtin_prefetch(p, 1);
  __builtin_prefetch(last, 1);
}

void CompositeRow(const TransformJob& job, int32_t y, int32_t x0, int32_t x1, const Px* acc,
                  const uint8_t* reached, PF_EffectWorld& dst) {
  PF_Pixel* row = RowOf(dst, y);
  const float k = job.coverage_scale * job.opacity / 255.0f;  // accumulated 0..255 -> 0..1
  if (job.xfer == PF_Xfer_IN_FRONT && !job.premultiplied) {
    for (int32_t x = x0; x < x1; ++x) OverStraight(acc[x - job.box.left].v, k, row[x]);
    return;
  }
  for (int32_t x = x0; x < x1; ++x) {
    const F4 s = acc[x - job.box.left].v;
    // Nothing in front: unchanged (COPY: outside the source's reach).
    if (job.xfer == PF_Xfer_COPY ? !reached[x - job.box.left] : s[0] <= 0) continue;
    const float as = s[0] * k;
    const float ps[3] = {s[1] * k, s[2] * k, s[3] * k};
    PF_Pixel& d = row[x];
    const float ad = d.alpha / 255.0f;
    const uint8_t dc[3] = {d.red, d.green, d.blue};
    float pd[3];
    for (int c = 0; c < 3; ++c) pd[c] = job.premultiplied ? dc[c] / 255.0f : dc[c] / 255.0f * ad;
    float ao, po[3];
    switch (job.xfer) {
      case PF_Xfer_IN_FRONT:
        ao = as + ad * (1 - as);
        for (int c = 0; c < 3; ++c) po[c] = ps[c] + pd[c] * (1 - as);
        break;
      case PF_Xfer_BEHIND:
        ao = ad + as * (1 - ad);
        for (int c = 0; c < 3; ++c) po[c] = pd[c] + ps[c] * (1 - ad);
        break;
      default:  // PF_Xfer_COPY
        ao = as;
        for (int c = 0; c < 3; ++c) po[c] = ps[c];
        break;
    }
    PF_Pixel out;
    out.alpha = ToByte(ao * 255.0f);
    uint8_t* oc[3] = {&out.red, &out.green, &out.blue};
    for (int c = 0; c < 3; ++c) {
      if (job.premultiplied) {
        *oc[c] = std::min(ToByte(po[c] * 255.0f), out.alpha);
      } else {
        *oc[c] = ao > 0 ? ToByte(po[c] / ao * 255.0f) : 0;
      }
    }
    d = out;
  }
}

// Draws the destination rows [y_begin, y_end) of the job (those of the
// field). Allocates its own accumulation row.
void DrawRows(const TransformJob& job, PF_Field field, int32_t y_begin, int32_t y_end,
              PF_EffectWorld& dst) {
  // One placement composited over straight alpha (every piece without
  // motion blur): sample and composite in one pass, no accumulation row.
  const bool direct =
      job.placements.size() == 1 && job.xfer == PF_Xfer_IN_FRONT && !job.premultiplied;
  std::vector<Px> acc(direct ? 0 : static_cast<size_t>(job.box.width()));
  std::vector<uint8_t> reached(direct ? 0 : static_cast<size_t>(job.box.width()));
  std::vector<std::pair<int32_t, int32_t>> spans;
  const bool invariant = direct && HasRowInvariantSpan(job.placements[0]);
  const auto span_u =
      invariant ? RowSpan(job, job.placements[0], y_begin, /*narrow_v=*/false) : std::pair{0, 0};
  const float k_direct = job.coverage_scale * job.opacity / 255.0f;
#if defined(VANTREL_IMAGING_AVX2)
  // COPY never takes the direct path, so every row here skips empty samples.
  const bool use_avx2 = direct && job.bilinear && job.placements[0].affine && HaveAvx2();
  RowStart row_start;
  const RowStart* start = use_avx2 && invariant && span_u.first < span_u.second &&
                                  MakeRowStart(*job.src, job.placements[0], y_begin, span_u.first,
                                               span_u.second, row_start)
                              ? &row_start
                              : nullptr;
#endif
  if (static_cast<int64_t>(job.box.width()) * (y_end - y_begin) <= kPrefetchAllPixels) {
    for (int32_t y = y_begin; y < y_end; ++y) {
      PrefetchSpan(dst, y, job.box, job.box.left, job.box.right);
    }
  }
  for (int32_t y = y_begin; y < y_end; ++y) {
    if ((field == PF_Field_UPPER && y % 2 != 0) || (field == PF_Field_LOWER && y % 2 == 0)) {
      continue;
    }
    if (direct) {
      const auto [x0, x1] = invariant ? InvariantRowSpan(job, job.placements[0], y, span_u)
                                      : RowSpan(job, job.placements[0], y);
      if (x0 >= x1) continue;
      PF_Pixel* row = RowOf(dst, y);
      PrefetchSpan(dst, y + kPrefetchRows, job.box, x0, x1);
#if defined(VANTREL_IMAGING_AVX2)
      if (use_avx2 &&
          WalkRowOverAvx2(*job.src, job.placements[0], y, x0, x1, k_direct, row, start)) {
        continue;
      }
#endif
      WalkRowAny(job, job.placements[0], y, x0, x1,
                 [row, k_direct](int32_t x, F4 sample) { OverStraight(sample, k_direct, row[x]); });
      continue;
    }
    // Spans of the placements and their union; the union is cleared before
    // accumulating because the spans may leave gaps between them.
    int32_t x0 = job.box.right, x1 = job.box.left;
    spans.clear();
    for (const Placement& p : job.placements) {
      const auto span = RowSpan(job, p, y);
      spans.push_back(span);
      if (span.first < span.second) {
        x0 = std::min(x0, span.first);
        x1 = std::max(x1, span.second);
      }
    }
    if (x1 <= x0) continue;
    std::fill(acc.begin() + (x0 - job.box.left), acc.begin() + (x1 - job.box.left),
              Px{F4{0, 0, 0, 0}});
    if (job.xfer == PF_Xfer_COPY) {
      std::fill(reached.begin() + (x0 - job.box.left), reached.begin() + (x1 - job.box.left), 0);
    }
    for (size_t i = 0; i < job.placements.size(); ++i) {
      if (spans[i].first < spans[i].second) {
        AccumulateRow(job, job.placements[i], y, spans[i].first, spans[i].second, acc.data(),
                      reached.data());
      }
    }
    PrefetchSpan(dst, y + kPrefetchRows, job.box, x0, x1);
    CompositeRow(job, y, x0, x1, acc.data(), reached.data(), dst);
  }
}

// Covered areas from which a transform's rows are shared among the pool's
// threads (a piece of text is a few thousand pixels; a layer, millions),
// and the rows per share.
constexpr int64_t kParallelPixels = 1 << 16;
constexpr int32_t kBandRows = 16;

}  // namespace

// ---------------------------------------------------------------------------
// Pixel blocks

namespace {

constexpr size_t kKeptBlockMinBytes = size_t{1} << 20;    // smaller blocks go to the heap
constexpr size_t kKeptBlocksMaxBytes = size_t{96} << 20;  // kept at most, in all

struct BlockCache {
  std::mutex mutex;
  std::vector<std::pair<size_t, void*>> blocks;  // oldest first
  size_t bytes = 0;
};

BlockCache& Blocks() {
  // Never destroyed: images in other static objects may be freed after it.
  static BlockCache* cache = new BlockCache;
  return *cache;
}

}  // namespace

void* AllocatePixelBlock(size_t bytes) {
  if (bytes >= kKeptBlockMinBytes) {
    BlockCache& c = Blocks();
    std::lock_guard lock(c.mutex);
    for (size_t i = c.blocks.size(); i-- > 0;) {  // the most recently freed first
      if (c.blocks[i].first == bytes) {
        void* block = c.blocks[i].second;
        c.blocks.erase(c.blocks.begin() + static_cast<std::ptrdiff_t>(i));
        c.bytes -= bytes;
        return block;
      }
    }
  }
  return ::operator new(bytes);
}

void FreePixelBlock(void* block, size_t bytes) noexcept {
  if (!block) return;
  if (bytes >= kKeptBlockMinBytes && bytes <= kKeptBlocksMaxBytes) {
    BlockCache& c = Blocks();
    std::lock_guard lock(c.mutex);
    while (c.bytes + bytes > kKeptBlocksMaxBytes) {  // make room: drop the oldest
      ::operator delete(c.blocks.front().second);
      c.bytes -= c.blocks.front().first;
      c.blocks.erase(c.blocks.begin());
    }
    try {
      c.blocks.emplace_back(bytes, block);
      c.bytes += bytes;
      return;
    } catch (...) {  // no room to note it: give it back
    }
  }
  ::operator delete(block);
}

// ---------------------------------------------------------------------------
// Image

Image::Image(int32_t width, int32_t height) {
  if (width < 0 || height < 0) throw std::invalid_argument("Image: negative size");
  const int64_t rowbytes =
      (static_cast<int64_t>(width) * 4 + kRowAlignBytes - 1) / kRowAlignBytes * kRowAlignBytes;
  if (rowbytes > std::numeric_limits<int32_t>::max()) throw std::length_error("Image: too wide");
  width_ = width;
  height_ = height;
  rowbytes_ = static_cast<int32_t>(rowbytes);
  pixels_.resize(static_cast<size_t>(rowbytes / 4) * static_cast<size_t>(height));  // unwritten
  if (!pixels_.empty()) std::memset(pixels_.data(), 0, pixels_.size() * sizeof(PF_Pixel));
}

PF_Pixel* Image::row(int32_t y) {
  return pixels_.data() + static_cast<size_t>(y) * (rowbytes_ / 4);
}

const PF_Pixel* Image::row(int32_t y) const {
  return pixels_.data() + static_cast<size_t>(y) * (rowbytes_ / 4);
}

PF_EffectWorld Image::AsWorld() { return DescribeWorld(data(), width_, height_, rowbytes_); }

PF_EffectWorld DescribeWorld(PF_Pixel* data, int32_t width, int32_t height, int32_t rowbytes) {
  PF_EffectWorld w{};
  w.world_flags = 0;
  w.data = data;
  w.rowbytes = rowbytes;
  w.width = width;
  w.height = height;
  w.extent_hint = {0, 0, width, height};
  w.pix_aspect_ratio = {1, 1};
  return w;
}

bool IsValidWorld(const PF_EffectWorld& w) {
  if (w.width < 0 || w.height < 0) return false;
  if (w.width == 0 || w.height == 0) return true;
  return w.data != nullptr && w.rowbytes % 4 == 0 &&
         static_cast<int64_t>(w.rowbytes) >= static_cast<int64_t>(w.width) * 4;
}

// ---------------------------------------------------------------------------
// Fill and copies

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

}  // namespace

PF_Err Fill(PF_EffectWorld& world, const PF_Pixel* color, const PF_Rect* rect) {
  if (!IsValidWorld(world)) return PF_Err_BAD_CALLBACK_PARAM;
  const PF_Pixel value = color ? *color : PF_Pixel{0, 0, 0, 0};
  const IRect r = Intersect(RectOr(rect, world), WholeOf(world));
  if (r.empty()) return PF_Err_NONE;
  const size_t bytes = static_cast<size_t>(r.width()) * 4;
  PF_Pixel* first = RowOf(world, r.top) + r.left;
  if (value.alpha == 0 && value.red == 0 && value.green == 0 && value.blue == 0) {
    if (static_cast<size_t>(world.rowbytes) == bytes) {  // whole rows, back to back
      ClearBytes(first, bytes * static_cast<size_t>(r.height()));
    } else {
      for (int32_t y = r.top; y < r.bottom; ++y) std::memset(RowOf(world, y) + r.left, 0, bytes);
    }
    return PF_Err_NONE;
  }
  // Other colours: one row pixel by pixel, the others copies of it.
  std::fill(first, first + r.width(), value);
  for (int32_t y = r.top + 1; y < r.bottom; ++y)
    std::memcpy(RowOf(world, y) + r.left, first, bytes);
  return PF_Err_NONE;
}

PF_Err CopyHq(const PF_EffectWorld& src, PF_EffectWorld& dst, const PF_Rect* src_rect,
              const PF_Rect* dst_rect) {
  return CopyRect(src, dst, src_rect, dst_rect, /*bilinear=*/true);
}

PF_Err Copy(const PF_EffectWorld& src, PF_EffectWorld& dst, const PF_Rect* src_rect,
            const PF_Rect* dst_rect) {
  return CopyRect(src, dst, src_rect, dst_rect, /*bilinear=*/false);
}

// ---------------------------------------------------------------------------
// Transform

int MotionBlurSampleCount(double motion_px) {
  if (std::isnan(motion_px)) return kMaxMotionBlurSamples;
  if (motion_px < 1.0 / 64) return 1;
  if (motion_px >= kMaxMotionBlurSamples) return kMaxMotionBlurSamples;
  return std::min(kMaxMotionBlurSamples, static_cast<int>(std::ceil(motion_px)) + 1);
}

PF_Err TransformWorld(PF_Quality quality, PF_ModeFlags mode_flags, PF_Field field,
                      const PF_EffectWorld& src, const PF_CompositeMode& comp_mode,
                      const PF_MaskWorld* mask, const PF_FloatMatrix* matrices, int count,
                      bool src2dst, const PF_Rect* dest_rect, PF_EffectWorld& dst) {
  if (!IsValidWorld(src) || !IsValidWorld(dst)) return PF_Err_BAD_CALLBACK_PARAM;
  if (count != 1 && count != 2) return PF_Err_BAD_CALLBACK_PARAM;
  if (!matrices || mask) return PF_Err_BAD_CALLBACK_PARAM;
  if (comp_mode.rgb_only) return PF_Err_BAD_CALLBACK_PARAM;
  if (comp_mode.xfer != PF_Xfer_IN_FRONT && comp_mode.xfer != PF_Xfer_BEHIND &&
      comp_mode.xfer != PF_Xfer_COPY) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (mode_flags != PF_MF_Alpha_STRAIGHT && mode_flags != PF_MF_Alpha_PREMUL) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (field != PF_Field_FRAME && field != PF_Field_UPPER && field != PF_Field_LOWER) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const Mat3 given[2] = {FromPF(matrices[0]), FromPF(matrices[count - 1])};
  if (!IsFinite(given[0]) || !IsFinite(given[1])) return PF_Err_BAD_CALLBACK_PARAM;

  if (src.width == 0 || src.height == 0) return PF_Err_NONE;
  if (comp_mode.opacity == 0 && comp_mode.xfer != PF_Xfer_COPY) return PF_Err_NONE;
  const IRect clip = Intersect(RectOr(dest_rect, dst), WholeOf(dst));
  if (clip.empty()) return PF_Err_NONE;

  TransformJob job;
  job.bilinear = quality == PF_Quality_HI;
  job.xfer = comp_mode.xfer;
  job.opacity = comp_mode.opacity / 255.0f;
  job.premultiplied = mode_flags == PF_MF_Alpha_PREMUL;
  const double lo = job.bilinear ? -0.5 : 0.0;
  const double hi_u = job.bilinear ? src.width + 0.5 : src.width;
  const double hi_v = job.bilinear ? src.height + 0.5 : src.height;

  // Motion blur: how far the source's corners travel between the two
  // placements, in destination pixels, sets the number of placements drawn.
  int samples = 1;
  if (count == 2) {
    double motion = 0;
    Mat3 fwd[2] = {};
    bool ok = true;
    for (int i = 0; i < 2; ++i) {
      if (src2dst) {
        fwd[i] = given[i];
      } else {
        ok = ok && Invert(given[i], fwd[i]);
      }
      NormalizeAffine(fwd[i]);
    }
    const double us[2] = {0.0, static_cast<double>(src.width)};
    const double vs[2] = {0.0, static_cast<double>(src.height)};
    for (double u : us) {
      for (double v : vs) {
        double x0, y0, x1, y1;
        if (!ok || !MapPoint(fwd[0], u, v, x0, y0) || !MapPoint(fwd[1], u, v, x1, y1)) {
          ok = false;
          break;
        }
        motion = std::max(motion, std::hypot(x1 - x0, y1 - y0));
      }
    }
    samples = ok ? MotionBlurSampleCount(motion) : kMaxMotionBlurSamples;
  }

  for (int k = 0; k < samples; ++k) {
    Mat3 m = given[1];  // one sample: the last placement, the one at the frame's time
    if (samples > 1) {
      const double t = static_cast<double>(k) / (samples - 1);
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
          m.m[r][c] = given[0].m[r][c] + (given[1].m[r][c] - given[0].m[r][c]) * t;
        }
      }
    }
    Placement p;
    if (MakePlacement(m, src2dst, lo, hi_u, lo, hi_v, p)) job.placements.push_back(p);
  }
  if (job.placements.empty()) return PF_Err_NONE;
  job.coverage_scale = 1.0f / samples;

  IRect box = job.placements[0].box;
  for (const Placement& p : job.placements) {
    box = {std::min(box.left, p.box.left), std::min(box.top, p.box.top),
           std::max(box.right, p.box.right), std::max(box.bottom, p.box.bottom)};
  }
  job.box = Intersect(box, clip);
  if (job.box.empty()) return PF_Err_NONE;

  // The premultiplied copy's storage is kept per thread between calls,
  // unless it grew beyond kKeptPremulPixels.
  thread_local std::vector<Px> storage;
  struct Trim {
    ~Trim() {
      if (storage.size() > kKeptPremulPixels) std::vector<Px>().swap(storage);
    }
  } trim;
  const PremulSource premul = MakePremulSource(src, job.premultiplied, storage);
  // A transparent source changes nothing except where COPY replaces pixels.
  if (!premul.any_ink && job.xfer != PF_Xfer_COPY) return PF_Err_NONE;
  job.src = &premul;
  // Rows are independent: a large area is split into bands of rows drawn
  // by the shared pool, with the same result as one pass.
  const int32_t rows = job.box.height();
  const int64_t area = static_cast<int64_t>(job.box.width()) * rows;
  if (area < kParallelPixels || rows < 2 * kBandRows) {
    DrawRows(job, field, job.box.top, job.box.bottom, dst);
    return PF_Err_NONE;
  }
  const int32_t bands = (rows + kBandRows - 1) / kBandRows;
  const int32_t failed = ThreadPool::Shared().Run(bands, [&](int32_t, int32_t i) {
    const int32_t top = job.box.top + i * kBandRows;
    DrawRows(job, field, top, std::min(top + kBandRows, job.box.bottom), dst);
    return int32_t{0};
  });
  return failed ? PF_Err_OUT_OF_MEMORY : PF_Err_NONE;
}

}  // namespace vantrel::host
