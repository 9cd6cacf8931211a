// The walk of transform_world: placements of a source, destination rows
// mapped into the source in 32.32 fixed point, bilinear or nearest taps, and
// the composite of a sample over a destination pixel.
#ifndef VANTREL_HOST_IMAGING_TRANSFORM_WALK_H
#define VANTREL_HOST_IMAGING_TRANSFORM_WALK_H

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "ae_sdk.h"
#include "matrix.h"
#include "pixel_rows.h"
#include "premultiplied_source.h"

namespace vantrel::host::imaging_internal {

// One placement of the source: the destination-to-source matrix and the
// destination box that the source's support can reach.
struct Placement {
  Mat3 inv;            // destination -> source
  bool affine = true;  // inv's last column is (0, 0, 1)
  IRect box;           // destination pixels possibly reached, before clipping
};

constexpr int32_t kHuge = std::numeric_limits<int32_t>::max() / 4;

inline int32_t ClampToInt(double v) {
  return static_cast<int32_t>(
      std::clamp(v, static_cast<double>(-kHuge), static_cast<double>(kHuge)));
}

// Builds a placement from a matrix as the caller gave it. False when the
// placement draws nothing (a source-to-destination matrix that collapses the
// source). `lo`/`hi` bound the source coordinates where a sample can be
// non-zero.
bool MakePlacement(const Mat3& given, bool src2dst, double lo_u, double hi_u, double lo_v,
                   double hi_v, Placement& p);

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
                                    bool narrow_v = true);

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

inline int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
  const int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

// The steps k in [0, n) where lo <= f0 + k·df < hi.
inline std::pair<int64_t, int64_t> StepsWithin(int64_t f0, int64_t df, int64_t lo, int64_t hi,
                                               int64_t n) {
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
inline void WalkRow(const PremulSource& s, const Placement& p, int32_t y, int32_t x0, int32_t x1,
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
inline void WalkRowAny(const TransformJob& job, const Placement& p, int32_t y, int32_t x0,
                       int32_t x1, Sink&& sink) {
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

// Pixels of premultiplied source storage kept per thread between calls
// (32 MB: a 1920×1080 layer's). Allocating it afresh costs a page fault per
// 4 KB on every call, several times the conversion itself.
constexpr size_t kKeptPremulPixels = size_t{1} << 21;

// Covered areas from which a transform's rows are shared among the pool's
// threads (a piece of text is a few thousand pixels; a layer, millions),
// and the rows per share.
constexpr int64_t kParallelPixels = 1 << 16;
constexpr int32_t kBandRows = 16;

// Composites the accumulated samples acc[x - box.left] of row y, x in
// [x0, x1), into the destination; `reached` marks the pixels that
// PF_Xfer_COPY replaces.
void CompositeRow(const TransformJob& job, int32_t y, int32_t x0, int32_t x1, const Px* acc,
                  const uint8_t* reached, PF_EffectWorld& dst);

// Whether DrawAlphaRows draws the job, as far as its placement tells (the
// source is not made yet): one placement composited over straight alpha,
// bilinear, only moved and scaled, a piece's area and source, AVX2.
bool TakesAlphaWalk(const TransformJob& job, int32_t src_width, int32_t src_height);

// Draws the job's rows of the field from an alpha-only source, with the
// bytes DrawRows gives from the premultiplied source. False, having drawn
// nothing, where it cannot (a source shrunk to less than half).
bool DrawAlphaRows(const TransformJob& job, const AlphaSource& a, PF_Field field,
                   PF_EffectWorld& dst);

// Draws the destination rows [y_begin, y_end) of the job (those of the
// field). Allocates its own accumulation row.
void DrawRows(const TransformJob& job, PF_Field field, int32_t y_begin, int32_t y_end,
              PF_EffectWorld& dst);

}  // namespace vantrel::host::imaging_internal

#endif  // VANTREL_HOST_IMAGING_TRANSFORM_WALK_H
