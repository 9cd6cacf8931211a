// Drawing the rows of a transform: one placement sampled and composited in
// one pass (four pixels per AVX2 step where the processor has it), or
// several placements accumulated per row and composited once.
#include "transform_walk.h"

#include <algorithm>

namespace vantrel::host::imaging_internal {

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

namespace {

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

}  // namespace

namespace {

// RowSpan for a source of the given size (the job's own source may not be
// made yet).
std::pair<int32_t, int32_t> RowSpanOfSize(const TransformJob& job, int32_t width, int32_t height,
                                          const Placement& p, int32_t y, bool narrow_v) {
  int32_t x0 = job.box.left, x1 = job.box.right;
  if (!p.affine) return {x0, x1};
  const double yc = y + 0.5;
  const auto& m = p.inv.m;
  // Source support: bilinear taps reach half a pixel beyond the edges.
  const double lo = job.bilinear ? -0.5 : 0.0;
  const double hi_u = job.bilinear ? width + 0.5 : width;
  const double hi_v = job.bilinear ? height + 0.5 : height;
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

}  // namespace

std::pair<int32_t, int32_t> RowSpan(const TransformJob& job, const Placement& p, int32_t y,
                                    bool narrow_v) {
  return RowSpanOfSize(job, job.src->width, job.src->height, p, y, narrow_v);
}

namespace {

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

#if defined(VANTREL_IMAGING_AVX2)
// Four floats loaded from `lo` into the low half and from `hi` into the high half.
__attribute__((target("avx2"))) inline __m256 LoadPair(const Px* lo, const Px* hi) {
  return _mm256_insertf128_ps(
      _mm256_castps128_ps256(_mm_load_ps(reinterpret_cast<const float*>(lo))),
      _mm_load_ps(reinterpret_cast<const float*>(hi)), 1);
}

// The bilinear samples at buffer columns ca (low half) and cb (high half) of
// the row `row`, with horizontal fractions wx (each repeated over its half),
// with Tap's lerps in Tap's order.
__attribute__((target("avx2"), always_inline)) inline __m256 SamplePair(const Px* row,
                                                                        int32_t stride, int32_t ca,
                                                                        int32_t cb, __m256 wx,
                                                                        __m256 wy8) {
  const Px* ta = row + ca;
  const Px* tb = row + cb;
  const __m256 t0 = LoadPair(ta, tb), t1 = LoadPair(ta + 1, tb + 1);
  const __m256 b0 = LoadPair(ta + stride, tb + stride);
  const __m256 b1 = LoadPair(ta + stride + 1, tb + stride + 1);
  const __m256 t = _mm256_add_ps(t0, _mm256_mul_ps(_mm256_sub_ps(t1, t0), wx));
  const __m256 b = _mm256_add_ps(b0, _mm256_mul_ps(_mm256_sub_ps(b1, b0), wx));
  return _mm256_add_ps(t, _mm256_mul_ps(_mm256_sub_ps(b, t), wy8));
}

// The 32.32 fixed point and its range, as WalkRow uses them.
constexpr double kFixedOne = 4294967296.0;  // 2^32
constexpr double kFixedRange = 1 << 28;

// The buffer column (cols[k]) and the horizontal fraction (wx[k]) of the
// steps k of a row, as the 32.32 walk gives them: the fraction's top 24
// bits, exact in a float, times 2^-24.
struct StepColumns {
  std::vector<int32_t> cols;
  std::vector<float> wx;

  // Steps [k0, k1) from the 32.32 buffer column fu of step 0, stepping by fdu.
  void Make(int64_t fu, int64_t fdu, int64_t k0, int64_t k1) {
    constexpr float kFrac = 1.0f / 16777216.0f;  // 2^-24
    if (cols.size() < static_cast<size_t>(k1)) {
      cols.resize(static_cast<size_t>(k1));
      wx.resize(static_cast<size_t>(k1));
    }
    int64_t f = fu + k0 * fdu;
    for (int64_t k = k0; k < k1; ++k, f += fdu) {
      cols[static_cast<size_t>(k)] = static_cast<int32_t>(f >> 32);
      wx[static_cast<size_t>(k)] = static_cast<float>(static_cast<uint32_t>(f) >> 8) * kFrac;
    }
  }
};

// What the AVX2 walk takes from u alone, for rows that all start at the same
// column with the same u (a placement with HasRowInvariantSpan): made once
// per call instead of once per row.
struct RowStart {
  int64_t fu = 0, fdu = 0;  // 32.32 u of the first pixel, and its step
  // steps_below[c]: how many steps k of a row lie before padded column c
  // (fu + k·fdu < c·2^32), for c in [0, width + 1]; empty unless fdu > 0.
  // StepsWithin's bounds, without its divisions.
  std::vector<int32_t> steps_below;
  StepColumns columns;  // of steps 0 .. x1 - x0 - 1, in the premultiplied buffer
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
  out.columns.Make(out.fu - (static_cast<int64_t>(s.ox) << 32), out.fdu, 0, x1 - x0);
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

// The steps [k0, k1) of a row that stays on source row `row` (vertical
// fraction wy), four pixels per step in two AVX2 vectors: each half holds
// one pixel and goes through the same operations, in the same order, as Tap
// and OverStraight give it, so the bytes are those of the one-pixel walk.
// Four transparent destination pixels are tested with one load and drawn
// with one division and one store, without a branch on which of them have
// ink. `at` gives each step's column and fraction, `d` is the destination
// pixel of step 0.
__attribute__((target("avx2"), always_inline)) inline void DrawStepsAvx2(
    const Px* row, int32_t stride, const StepColumns& at, int64_t k0, int64_t k1, float wy, float k,
    PF_Pixel* d) {
  const int32_t* const cols = at.cols.data();
  const float* const wxs = at.wx.data();
  const __m256 wy8 = _mm256_set1_ps(wy);
  const __m256 c255 = _mm256_set1_ps(255.0f);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 k8 = _mm256_set1_ps(k);
  const __m256 zero = _mm256_setzero_ps();
  const __m128i alpha_bytes = _mm_set1_epi32(0xFF);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 0, 0, 0, 0);
  const __m256i spread01 = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
  const __m256i spread23 = _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3);
  int64_t i = k0;
  for (; i < k1; i += 4) {
    // The row's last one to three pixels take the same step, with their
    // lanes masked: the others repeat the last pixel's taps and are neither
    // read from nor written to the destination.
    const int64_t left = k1 - i;
    const bool partial = left < 4;
    int64_t i1 = i + 1, i2 = i + 2, i3 = i + 3;
    __m128i lanes = _mm_set1_epi32(-1);
    __m128i dv;  // the destination is read first: its cache misses then overlap the sampling
    if (partial) {
      lanes =
          _mm_cmpgt_epi32(_mm_set1_epi32(static_cast<int32_t>(left)), _mm_setr_epi32(0, 1, 2, 3));
      if (left < 2) i1 = i;
      if (left < 3) i2 = i1;
      i3 = i2;
      dv = _mm_maskload_epi32(reinterpret_cast<const int*>(d + i), lanes);
    } else {
      dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
    }
    const __m256 wx4 = _mm256_castps128_ps256(
        partial ? _mm_setr_ps(wxs[i], wxs[i1], wxs[i2], wxs[i3]) : _mm_loadu_ps(wxs + i));
    const __m256 s01 =
        SamplePair(row, stride, cols[i], cols[i1], _mm256_permutevar8x32_ps(wx4, spread01), wy8);
    const __m256 s23 =
        SamplePair(row, stride, cols[i2], cols[i3], _mm256_permutevar8x32_ps(wx4, spread23), wy8);
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
}

// The bilinear walk of one affine row that stays on one source row, with
// OverStraight as the sink, by DrawStepsAvx2. False, having drawn nothing,
// where the row is not of that kind.
__attribute__((target("avx2"))) bool WalkRowOverAvx2(const PremulSource& s, const Placement& p,
                                                     int32_t y, int32_t x0, int32_t x1, float k,
                                                     PF_Pixel* dst_row) {
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
  const double u0 = c0 * m[0][0] + yc * m[1][0] + m[2][0] + 0.5;
  if (!(std::fabs(u0) < kRange && std::fabs(v0) < kRange && std::fabs(u0 + n * du) < kRange &&
        std::fabs(v0 + n * dv) < kRange)) {
    return false;
  }
  const int64_t fu = RoundToInt64(u0 * kOne);
  const int64_t fdu = RoundToInt64(du * kOne);
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
  const auto [k0, k1] = StepsWithin(fu, fdu, lo << 32, hi << 32, x1 - x0);
  const float wy = static_cast<float>(static_cast<uint32_t>(fv) >> 8) * kFrac;
  thread_local StepColumns columns;
  columns.Make(fu - (static_cast<int64_t>(s.ox) << 32), fdu, k0, k1);
  DrawStepsAvx2(s.Row(iy), s.bw, columns, k0, k1, wy, k, dst_row + x0);
  return true;
}
#endif

// One destination row of a placement with HasRowInvariantSpan, as
// WalkRowOverAvx2 finds it with that placement (v does not move along a
// row, so the step in v is 0): its taps on buffer rows r and r + 1 with
// vertical fraction wy, at the steps [k0, k1) of the row's span. r < 0
// marks a row outside the fixed-point range, for WalkRowAny.
struct InvariantRow {
  int32_t y;
  int32_t r;
  int32_t k0, k1;
  float wy;
};

// The rows of [y_begin, y_end) (those of the field) that may draw, with
// what stays the same from row to row worked out once (`start`, for rows
// that all span span_u).
void InvariantRows(const PremulSource& s, const Placement& p, PF_Field field, int32_t y_begin,
                   int32_t y_end, std::pair<int32_t, int32_t> span_u, const RowStart& start,
                   std::vector<InvariantRow>& out) {
  out.clear();
  const auto& m = p.inv.m;
  const auto [x0, x1] = span_u;
  const double c0 = x0 + 0.5;
  const double hi_v = s.height + 0.5;  // InvariantRowSpan's support, bilinear
  const uint64_t lim_v = static_cast<uint64_t>(s.height + 1) << 32;
  const int32_t limit_u = s.width + 1;
  const int32_t ox = s.ox, oy = s.oy, bh = s.bh;
  const std::pair<int32_t, int32_t>* const ink_rows = s.ink;
  const bool have_steps = !start.steps_below.empty();
  constexpr float kFrac = 1.0f / 16777216.0f;
  for (int32_t y = y_begin; y < y_end; ++y) {
    if ((field == PF_Field_UPPER && y % 2 != 0) || (field == PF_Field_LOWER && y % 2 == 0)) {
      continue;
    }
    const double yc = y + 0.5;
    const double base = yc * m[1][1] + m[2][1];
    if (base < -0.5 || base > hi_v) continue;
    const double v0 = c0 * m[0][1] + yc * m[1][1] + m[2][1] + 0.5;
    if (!(std::fabs(v0) < kFixedRange)) {
      out.push_back({y, -1, 0, 0, 0.0f});
      continue;
    }
    const int64_t fv = RoundToInt64(v0 * kFixedOne);
    if (static_cast<uint64_t>(fv) >= lim_v) continue;
    const int32_t iy = static_cast<int32_t>(fv >> 32);
    if (static_cast<uint32_t>(iy - oy) > static_cast<uint32_t>(bh - 2)) continue;  // !s.Holds
    const size_t r = static_cast<size_t>(iy - oy);
    auto ink = ink_rows[r + 1];
    const auto above = ink_rows[r];
    if (above.first < above.second) {
      ink = ink.first < ink.second
                ? std::pair{std::min(ink.first, above.first), std::max(ink.second, above.second)}
                : above;
    }
    if (ink.first >= ink.second) continue;
    const int64_t lo = std::max<int64_t>(static_cast<int64_t>(ink.first - 1) + ox, 0);
    const int64_t hi = std::min<int64_t>(static_cast<int64_t>(ink.second - 1) + ox + 1, limit_u);
    if (lo >= hi) continue;
    const auto [k0, k1] =
        have_steps ? std::pair<int64_t, int64_t>{start.steps_below[static_cast<size_t>(lo)],
                                                 start.steps_below[static_cast<size_t>(hi)]}
                   : StepsWithin(start.fu, start.fdu, lo << 32, hi << 32, x1 - x0);
    if (k0 >= k1) continue;
    const float wy = static_cast<float>(static_cast<uint32_t>(fv) >> 8) * kFrac;
    out.push_back(
        {y, static_cast<int32_t>(r), static_cast<int32_t>(k0), static_cast<int32_t>(k1), wy});
  }
}

#if defined(VANTREL_IMAGING_AVX2)
// The rows [y_begin, y_end) (those of the field) of a placement with
// HasRowInvariantSpan whose rows all span span_u from `start`, by
// DrawStepsAvx2. Rows outside the fixed-point range take WalkRowAny.
__attribute__((target("avx2"))) void WalkRowsOverAvx2(const TransformJob& job, PF_Field field,
                                                      int32_t y_begin, int32_t y_end,
                                                      std::pair<int32_t, int32_t> span_u,
                                                      const RowStart& start, float k,
                                                      PF_EffectWorld& dst) {
  const PremulSource& s = *job.src;
  const Placement& p = job.placements[0];
  const auto [x0, x1] = span_u;
  thread_local std::vector<InvariantRow> rows;
  InvariantRows(s, p, field, y_begin, y_end, span_u, start, rows);
  for (const InvariantRow& row : rows) {
    PF_Pixel* dst_row = RowOf(dst, row.y);
    if (row.r < 0) {
      WalkRowAny(job, p, row.y, x0, x1,
                 [dst_row, k](int32_t x, F4 sample) { OverStraight(sample, k, dst_row[x]); });
      continue;
    }
    DrawStepsAvx2(s.px + static_cast<size_t>(row.r) * static_cast<size_t>(s.bw), s.bw,
                  start.columns, row.k0, row.k1, row.wy, k, dst_row + x0);
  }
}
#endif

#if defined(VANTREL_IMAGING_AVX2)
// Below this alpha (0..255) of a sample from an alpha-only source the
// colour is worked out as OverStraight does it. From there on the colour
// OverStraight finds is the ink's own: the premultiplied channels are the
// alpha's channel times colour / 255 up to a few float roundings, off by at
// most about 0.1 / alpha levels after the division by alpha, and every
// channel of the ink is a whole number.
constexpr float kInkColorAlpha = 1.0f;

// The alpha of the horizontal blends (Tap's first two lerps) of every
// buffer row of an alpha-only source, at the steps [k_lo, k_hi): h[r *
// stride + k - k_lo]. The steps go in groups of eight: the taps of a group
// lie within 16 buffer columns from the group's first, so two loads and
// four lane permutations fetch them.
struct AlphaBlends {
  int64_t k_lo = 0, k_hi = 0;
  size_t stride = 0;
  std::vector<float> h;
  std::vector<int32_t> base;    // per group: the buffer column of its first step
  std::vector<int32_t> offset;  // per group, 8 each: the steps' columns from base
  std::vector<float> wx;        // per group, 8 each: the steps' fractions
};

// MakeAlphaBlends' rows, each group's taps fetched from its two loads by
// one two-register permutation each.
__attribute__((target("avx2,avx512f,avx512vl"))) void BlendRowsAvx512(const AlphaSource& a,
                                                                      int64_t groups,
                                                                      AlphaBlends& out) {
  const PremulSource& s = a.layout;
  const __m256i one = _mm256_set1_epi32(1);
  for (int32_t r = 0; r < s.bh; ++r) {
    const float* row = a.alpha + static_cast<size_t>(r) * static_cast<size_t>(s.bw);
    float* h = out.h.data() + static_cast<size_t>(r) * out.stride;
    for (int64_t g = 0; g < groups; ++g) {
      const float* window = row + out.base[static_cast<size_t>(g)];
      const __m256 lo = _mm256_loadu_ps(window), hi = _mm256_loadu_ps(window + 8);
      const __m256i i0 =
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out.offset.data() + g * 8));
      const __m256 t0 = _mm256_permutex2var_ps(lo, i0, hi);
      const __m256 t1 = _mm256_permutex2var_ps(lo, _mm256_add_epi32(i0, one), hi);
      const __m256 wx = _mm256_loadu_ps(out.wx.data() + g * 8);
      _mm256_storeu_ps(h + g * 8, _mm256_add_ps(t0, _mm256_mul_ps(_mm256_sub_ps(t1, t0), wx)));
    }
  }
}

// False, having made nothing of use, where a group's taps span more than
// 16 columns (a source shrunk to less than half).
__attribute__((target("avx2"))) bool MakeAlphaBlends(const AlphaSource& a, const RowStart& start,
                                                     AlphaBlends& out) {
  const PremulSource& s = a.layout;
  if (start.steps_below.empty()) return false;
  out.k_lo = start.steps_below[static_cast<size_t>(s.ox)];
  out.k_hi = start.steps_below[static_cast<size_t>(s.ox + s.bw - 1)];
  if (out.k_lo >= out.k_hi) return true;
  const int64_t groups = (out.k_hi - out.k_lo + 7) / 8;
  out.stride = static_cast<size_t>(groups) * 8 + 8;
  out.base.resize(static_cast<size_t>(groups));
  out.offset.resize(static_cast<size_t>(groups) * 8);
  out.wx.resize(static_cast<size_t>(groups) * 8);
  const int32_t* cols = start.columns.cols.data();
  const float* wxs = start.columns.wx.data();
  for (int64_t g = 0; g < groups; ++g) {
    const int64_t first = out.k_lo + 8 * g;
    const int32_t base = cols[first];
    out.base[static_cast<size_t>(g)] = base;
    for (int64_t j = 0; j < 8; ++j) {
      const int64_t k = std::min(first + j, out.k_hi - 1);
      const int32_t offset = cols[k] - base;
      if (offset < 0 || offset > 14) return false;
      out.offset[static_cast<size_t>(g * 8 + j)] = offset;
      out.wx[static_cast<size_t>(g * 8 + j)] = wxs[k];
    }
  }
  out.h.resize(out.stride * static_cast<size_t>(s.bh));
  if (HaveAvx512()) {
    BlendRowsAvx512(a, groups, out);
    return true;
  }
  const __m256i seven = _mm256_set1_epi32(7);
  const __m256i one = _mm256_set1_epi32(1);
  for (int32_t r = 0; r < s.bh; ++r) {
    const float* row = a.alpha + static_cast<size_t>(r) * static_cast<size_t>(s.bw);
    float* h = out.h.data() + static_cast<size_t>(r) * out.stride;
    for (int64_t g = 0; g < groups; ++g) {
      const float* window = row + out.base[static_cast<size_t>(g)];
      const __m256 lo = _mm256_loadu_ps(window), hi = _mm256_loadu_ps(window + 8);
      const __m256i i0 =
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out.offset.data() + g * 8));
      const __m256i i1 = _mm256_add_epi32(i0, one);
      // A lane permutation reads an index's low three bits: lanes 8 and up
      // come from the second load.
      const __m256 t0 =
          _mm256_blendv_ps(_mm256_permutevar8x32_ps(lo, i0), _mm256_permutevar8x32_ps(hi, i0),
                           _mm256_castsi256_ps(_mm256_cmpgt_epi32(i0, seven)));
      const __m256 t1 =
          _mm256_blendv_ps(_mm256_permutevar8x32_ps(lo, i1), _mm256_permutevar8x32_ps(hi, i1),
                           _mm256_castsi256_ps(_mm256_cmpgt_epi32(i1, seven)));
      const __m256 wx = _mm256_loadu_ps(out.wx.data() + g * 8);
      _mm256_storeu_ps(h + g * 8, _mm256_add_ps(t0, _mm256_mul_ps(_mm256_sub_ps(t1, t0), wx)));
    }
  }
  return true;
}

// OverStraight of the sample at step k of a row of an alpha-only source
// (taps on buffer row `row` and the one below), with the sample made as Tap
// makes it from the premultiplied pixels.
inline void OverStraightFromAlpha(const AlphaSource& a, const float* row, const StepColumns& at,
                                  int64_t k, float wy, float coverage, F4 color, PF_Pixel& d) {
  const float* top = row + at.cols[static_cast<size_t>(k)];
  const float* bottom = top + a.layout.bw;
  const float wx = at.wx[static_cast<size_t>(k)];
  const F4 t0 = PremultipliedOf(top[0], color), t1 = PremultipliedOf(top[1], color);
  const F4 b0 = PremultipliedOf(bottom[0], color), b1 = PremultipliedOf(bottom[1], color);
  const F4 t = t0 + (t1 - t0) * wx;
  const F4 b = b0 + (b1 - b0) * wx;
  OverStraight(t + (b - t) * wy, coverage, d);
}

// What the steps of a destination row whose taps lie on buffer rows r and
// r + 1 read: the two rows' blends (indexed by step), the upper row's
// alpha, and the ink's colour as a pixel's word and as floats.
struct AlphaStepRow {
  const float* ht;
  const float* hb;
  const float* row;
  uint32_t color_word;
  F4 color;
};

inline AlphaStepRow StepRowOf(const AlphaSource& a, const AlphaBlends& blends, int32_t r) {
  const float* ht = blends.h.data() + static_cast<size_t>(r) * blends.stride - blends.k_lo;
  uint32_t color_word;
  std::memcpy(&color_word, &a.color, 4);
  return {ht, ht + blends.stride,
          a.alpha + static_cast<size_t>(r) * static_cast<size_t>(a.layout.bw), color_word,
          F4{0, static_cast<float>(a.color.red), static_cast<float>(a.color.green),
             static_cast<float>(a.color.blue)}};
}

// DrawAlphaSteps sixteen pixels at a time in AVX-512, the lanes chosen by
// masks: only the inked lanes' destination is read, and only those drawn
// from the alpha are written.
__attribute__((target("avx2,avx512f"))) void DrawAlphaStepsAvx512(const AlphaSource& a,
                                                                  const AlphaBlends& blends,
                                                                  const StepColumns& at, int32_t r,
                                                                  int64_t k0, int64_t k1, float wy,
                                                                  float coverage, PF_Pixel* d) {
  const auto [ht, hb, row, color_word, color] = StepRowOf(a, blends, r);
  const __m512 wy16 = _mm512_set1_ps(wy);
  const __m512 k16 = _mm512_set1_ps(coverage);
  const __m512 c255 = _mm512_set1_ps(255.0f);
  const __m512 half = _mm512_set1_ps(0.5f);
  const __m512 faint = _mm512_set1_ps(kInkColorAlpha);
  const __m512i alpha_byte = _mm512_set1_epi32(0xFF);
  const __m512i ink = _mm512_set1_epi32(static_cast<int>(color_word));
  // The zero-masking forms with every lane: the plain ones trip GCC 12's
  // uninitialised-value warning inside its own header.
  const __mmask16 all = 0xFFFF;
  for (int64_t i = k0; i < k1; i += 16) {
    const int64_t left = k1 - i;
    const __mmask16 lanes =
        left >= 16 ? __mmask16{0xFFFF} : static_cast<__mmask16>((1u << left) - 1);
    const __m512 t = _mm512_maskz_loadu_ps(lanes, ht + i);
    const __m512 b = _mm512_maskz_loadu_ps(lanes, hb + i);
    const __m512 sa = _mm512_add_ps(t, _mm512_mul_ps(_mm512_sub_ps(b, t), wy16));
    const __mmask16 inked = _mm512_mask_cmp_ps_mask(lanes, sa, _mm512_setzero_ps(), _CMP_GT_OQ);
    if (inked == 0) continue;  // nothing in front of any of the sixteen
    const __m512i dv = _mm512_maskz_loadu_epi32(inked, d + i);
    const __mmask16 exact = _mm512_mask_test_epi32_mask(inked, dv, alpha_byte) |
                            _mm512_mask_cmp_ps_mask(inked, sa, faint, _CMP_LT_OQ);
    // OverStraight onto transparent: alpha as*k*255, at most 255, rounded.
    const __m512 ao = _mm512_maskz_min_ps(all, _mm512_mul_ps(_mm512_mul_ps(sa, k16), c255), c255);
    const __m512i word =
        _mm512_or_si512(_mm512_maskz_cvttps_epi32(all, _mm512_add_ps(ao, half)), ink);
    _mm512_mask_storeu_epi32(d + i, static_cast<__mmask16>(inked & ~exact), word);
    for (uint32_t bits = exact; bits != 0; bits &= bits - 1) {
      const int64_t j = i + __builtin_ctz(bits);
      OverStraightFromAlpha(a, row, at, j, wy, coverage, color, d[j]);
    }
  }
}

// The steps [k0, k1) of one row of an alpha-only source, eight pixels at a
// time: the vertical lerp of the row's two blends gives each sample's
// alpha, which alone makes the pixel drawn onto a transparent one (the
// ink's colour, OverStraight's alpha). Pixels over something, or whose
// sample is too faint for the ink's colour to be certain, take
// OverStraightFromAlpha.
__attribute__((target("avx2"))) void DrawAlphaSteps(const AlphaSource& a, const AlphaBlends& blends,
                                                    const StepColumns& at, int32_t r, int64_t k0,
                                                    int64_t k1, float wy, float coverage,
                                                    PF_Pixel* d) {
  const auto [ht, hb, row, color_word, color] = StepRowOf(a, blends, r);
  const __m256 wy8 = _mm256_set1_ps(wy);
  const __m256 k8 = _mm256_set1_ps(coverage);
  const __m256 c255 = _mm256_set1_ps(255.0f);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 faint = _mm256_set1_ps(kInkColorAlpha);
  const __m256i alpha_byte = _mm256_set1_epi32(0xFF);
  const __m256i ink = _mm256_set1_epi32(static_cast<int>(color_word));
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  for (int64_t i = k0; i < k1; i += 8) {
    const int64_t left = k1 - i;
    const bool partial = left < 8;
    const __m256i lanes = _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int32_t>(left)), lane);
    const __m256i dv = partial ? _mm256_maskload_epi32(reinterpret_cast<const int*>(d + i), lanes)
                               : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
    const __m256 t = _mm256_loadu_ps(ht + i), b = _mm256_loadu_ps(hb + i);
    const __m256 sa = _mm256_add_ps(t, _mm256_mul_ps(_mm256_sub_ps(b, t), wy8));
    const __m256 inked = _mm256_and_ps(_mm256_cmp_ps(sa, _mm256_setzero_ps(), _CMP_GT_OQ),
                                       _mm256_castsi256_ps(lanes));
    if (_mm256_movemask_ps(inked) == 0) continue;  // nothing in front of any of the eight
    const __m256 behind = _mm256_castsi256_ps(
        _mm256_cmpgt_epi32(_mm256_and_si256(dv, alpha_byte), _mm256_setzero_si256()));
    const __m256 exact =
        _mm256_and_ps(inked, _mm256_or_ps(behind, _mm256_cmp_ps(sa, faint, _CMP_LT_OQ)));
    // OverStraight onto transparent: alpha as*k*255, at most 255, rounded.
    const __m256 ao = _mm256_min_ps(_mm256_mul_ps(_mm256_mul_ps(sa, k8), c255), c255);
    const __m256i word = _mm256_or_si256(_mm256_cvttps_epi32(_mm256_add_ps(ao, half)), ink);
    const __m256 keep = _mm256_or_ps(_mm256_andnot_ps(inked, _mm256_castsi256_ps(lanes)), exact);
    const __m256i out = _mm256_castps_si256(
        _mm256_blendv_ps(_mm256_castsi256_ps(word), _mm256_castsi256_ps(dv), keep));
    if (partial) {
      _mm256_maskstore_epi32(reinterpret_cast<int*>(d + i), lanes, out);
    } else {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), out);
    }
    for (uint32_t bits = static_cast<uint32_t>(_mm256_movemask_ps(exact)); bits != 0;
         bits &= bits - 1) {
      const int64_t j = i + __builtin_ctz(bits);
      OverStraightFromAlpha(a, row, at, j, wy, coverage, color, d[j]);
    }
  }
}
#endif

}  // namespace

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

bool TakesAlphaWalk(const TransformJob& job, int32_t src_width, int32_t src_height) {
#if defined(VANTREL_IMAGING_AVX2)
  if (job.placements.size() != 1 || job.xfer != PF_Xfer_IN_FRONT || job.premultiplied ||
      !job.bilinear || !HasRowInvariantSpan(job.placements[0]) || !HaveAvx2()) {
    return false;
  }
  if (static_cast<int64_t>(job.box.width()) * job.box.height() >= kParallelPixels) return false;
  // The alpha buffer holds the whole source: a piece's, not a sparse world
  // squeezed into a piece's area.
  if (static_cast<int64_t>(src_width) * src_height > 4 * kParallelPixels) return false;
  const Placement& p = job.placements[0];
  const auto& m = p.inv.m;
  // From left to right through the source, at most two source pixels per
  // destination pixel (AlphaBlends' groups of taps).
  if (!(m[0][0] > 0 && m[0][0] <= 2)) return false;
  const auto [x0, x1] =
      RowSpanOfSize(job, src_width, src_height, p, job.box.top, /*narrow_v=*/false);
  if (x0 >= x1) return false;
  // Every row within the fixed point's range (v is linear in y; the check
  // keeps a margin for rounding), and u along the span (MakeRowStart).
  const double c0 = x0 + 0.5;
  for (const int32_t y : {job.box.top, job.box.bottom - 1}) {
    const double v0 = c0 * m[0][1] + (y + 0.5) * m[1][1] + m[2][1] + 0.5;
    if (!(std::fabs(v0) < kFixedRange / 2)) return false;
  }
  const double u0 = c0 * m[0][0] + (job.box.top + 0.5) * m[1][0] + m[2][0] + 0.5;
  return std::fabs(u0) < kFixedRange / 2 && std::fabs(u0 + (x1 - x0) * m[0][0]) < kFixedRange / 2;
#else
  (void)job;
  (void)src_width;
  (void)src_height;
  return false;
#endif
}

bool DrawAlphaRows(const TransformJob& job, const AlphaSource& a, PF_Field field,
                   PF_EffectWorld& dst) {
#if defined(VANTREL_IMAGING_AVX2)
  const Placement& p = job.placements[0];
  const auto span_u = RowSpanOfSize(job, a.layout.width, a.layout.height, p, job.box.top,
                                    /*narrow_v=*/false);
  thread_local RowStart start;
  thread_local AlphaBlends blends;
  if (span_u.first >= span_u.second ||
      !MakeRowStart(a.layout, p, job.box.top, span_u.first, span_u.second, start) ||
      !MakeAlphaBlends(a, start, blends)) {
    return false;
  }
  thread_local std::vector<InvariantRow> rows;
  InvariantRows(a.layout, p, field, job.box.top, job.box.bottom, span_u, start, rows);
  for (const InvariantRow& row : rows) {
    if (row.r < 0) return false;  // not met: TakesAlphaWalk checked the range
  }
  const float coverage = job.coverage_scale * job.opacity / 255.0f;
  const bool avx512 = HaveAvx512();
  // The destination's lines two rows ahead are fetched while this row is
  // drawn: a row starts 7,680 bytes (at 1920 pixels) from the last, where
  // the processor does not look ahead by itself.
  constexpr size_t kAhead = 2;
  for (size_t i = 0; i < rows.size(); ++i) {
    const InvariantRow& row = rows[i];
    if (i + kAhead < rows.size()) {
      const InvariantRow& next = rows[i + kAhead];
      const char* from = reinterpret_cast<const char*>(RowOf(dst, next.y) + span_u.first + next.k0);
      const char* to = reinterpret_cast<const char*>(RowOf(dst, next.y) + span_u.first + next.k1);
      for (const char* c = from; c < to + 64; c += 64) _mm_prefetch(c, _MM_HINT_T0);
    }
    if (avx512) {
      DrawAlphaStepsAvx512(a, blends, start.columns, row.r, row.k0, row.k1, row.wy, coverage,
                           RowOf(dst, row.y) + span_u.first);
    } else {
      DrawAlphaSteps(a, blends, start.columns, row.r, row.k0, row.k1, row.wy, coverage,
                     RowOf(dst, row.y) + span_u.first);
    }
  }
  return true;
#else
  (void)job;
  (void)a;
  (void)field;
  (void)dst;
  return false;
#endif
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
#if defined(VANTREL_IMAGING_AVX2)
  if (start) {
    WalkRowsOverAvx2(job, field, y_begin, y_end, span_u, *start, k_direct, dst);
    return;
  }
#endif
  for (int32_t y = y_begin; y < y_end; ++y) {
    if ((field == PF_Field_UPPER && y % 2 != 0) || (field == PF_Field_LOWER && y % 2 == 0)) {
      continue;
    }
    if (direct) {
      const auto [x0, x1] = invariant ? InvariantRowSpan(job, job.placements[0], y, span_u)
                                      : RowSpan(job, job.placements[0], y);
      if (x0 >= x1) continue;
      PF_Pixel* row = RowOf(dst, y);
#if defined(VANTREL_IMAGING_AVX2)
      if (use_avx2 && WalkRowOverAvx2(*job.src, job.placements[0], y, x0, x1, k_direct, row)) {
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
    CompositeRow(job, y, x0, x1, acc.data(), reached.data(), dst);
  }
}

}  // namespace vantrel::host::imaging_internal
