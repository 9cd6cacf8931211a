// Motion blur of transform_world.
//
// A blurred placement is the average of the placements along the path from
// one matrix to the other, taken no more than a pixel apart along every
// corner's path. Drawn one by one they would cost one placement's area per
// pixel of motion. When the motion is mostly a translation (every piece that
// moves, with or without a change of scale), the path is cut into `keys`
// equal segments of time such that within one segment the corners move by
// at most a pixel relative to the source's centre; each segment is then one
// key placement (at the segment's middle) moved continuously by the centre's
// motion over the segment, the same vector for every segment. That
// continuous move is a box filter along the motion, which a running sum
// computes at a cost that does not depend on the length of the motion.
//
// The box filter runs along rows: the key placements are drawn into a frame
// G whose rows follow the motion (a shear of the destination, or of its
// transpose when the motion is mostly vertical), filtered there along each
// row, and read back into the destination with a linear interpolation
// between two rows of G, which are at most a pixel apart across the motion.
#include "motion_blur.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "vantrel/host/imaging.h"

namespace vantrel::host::imaging_internal {
namespace {

// The corners' motion relative to the centre's within one segment of a
// smeared blur, in destination pixels.
constexpr double kKeyResidualPx = 1.0;
// The shortest smear per segment, in destination pixels. The smear
// integrates the linear interpolation of samples a pixel apart, whose error
// at an anti-aliased edge (up to about 32 levels × pixel) is divided by the
// smear's length; shorter motions are drawn placement by placement, which
// costs no more than the smear for them.
constexpr double kMinSmearPx = 16;
// The longest smear per segment: the smear's frame is that much wider than
// the piece. Longer motions (each pixel then holds less than a 200th of the
// piece) are drawn as placements, at most kMaxMotionBlurSamples.
constexpr double kMaxSmearPx = 8192;
// Accumulated alpha (0..255 per key) below which a smeared sample is taken
// as empty: the running sums leave float noise of about 1e-5 where the ink
// ends, which would otherwise write colour into transparent pixels.
constexpr float kEmptyAlpha = 1.0f / 512;
// How far beyond the clip (plus the smear's reach) G's rows are kept.
constexpr int32_t kRowMarginPx = 1 << 14;
// Placements for a motion that cannot be measured (a destination-to-source
// matrix that cannot be inverted) and at most for a projective one, whose
// placements may each cover the whole destination: as many as before
// placements followed the motion.
constexpr int kUnmeasuredPlacements = 32;
// Rows of zeros kept above and below G.
constexpr ptrdiff_t kPadRows = 2;

// Destination motion of source point (u, v) from the affine matrix a to b.
std::pair<double, double> Displacement(const Mat3& a, const Mat3& b, double u, double v) {
  return {u * (b.m[0][0] - a.m[0][0]) + v * (b.m[1][0] - a.m[1][0]) + (b.m[2][0] - a.m[2][0]),
          u * (b.m[0][1] - a.m[0][1]) + v * (b.m[1][1] - a.m[1][1]) + (b.m[2][1] - a.m[2][1])};
}

// Box-filters a row of G over a length `len` centred on each sample:
// H[i] = (1 / len) ∫ g(i + s) ds for s in [−len / 2, len / 2], where g is
// the linear interpolation of the row's samples, zero outside [c0, c1).
// Writes H over [o0, o1) into `row`. The integral is exact for the
// interpolated samples: with P[m] = ∫ g up to m (a prefix sum of
// trapezoids), F(m + f) = ∫ g up to m + f is P[m] + g[m] (f − f²/2) +
// g[m + 1] f²/2; F is 0 below c0 − 1 and the whole sum from c1 on, so only
// [c0 − 2, c1 + 1] is kept.
void SmearRow(Px* row, int32_t c0, int32_t c1, int32_t o0, int32_t o1, double len,
              std::vector<Px>& g, std::vector<Px>& prefix) {
  const double half = len / 2;
  const int32_t na = static_cast<int32_t>(std::floor(half));
  const double fa = half - na;
  // i + len/2 = (i + hi_off) + hf; i − len/2 = (i + lo_off) + lf.
  const int32_t hi_off = na, lo_off = fa > 0 ? -na - 1 : -na;
  const float hf = static_cast<float>(fa), lf = fa > 0 ? static_cast<float>(1 - fa) : 0.0f;
  const F4 h1 = F4{1, 1, 1, 1} * (hf - hf * hf / 2), h2 = F4{1, 1, 1, 1} * (hf * hf / 2);
  const F4 l1 = F4{1, 1, 1, 1} * (lf - lf * lf / 2), l2 = F4{1, 1, 1, 1} * (lf * lf / 2);
  const float inv_len = static_cast<float>(1 / len);

  const int32_t b0 = c0 - 2, n = c1 + 2 - b0;  // entries for m in [c0 − 2, c1 + 1]
  g.resize(static_cast<size_t>(n));
  prefix.resize(static_cast<size_t>(n));
  const Px zero{F4{0, 0, 0, 0}};
  Px* gp = g.data();
  Px* pp = prefix.data();
  gp[0] = gp[1] = zero;
  std::copy(row + c0, row + c1, gp + 2);
  gp[n - 2] = gp[n - 1] = zero;
  pp[0] = pp[1] = zero;
  for (int32_t k = 1; k + 1 < n; ++k) pp[k + 1].v = pp[k].v + (gp[k].v + gp[k + 1].v) * 0.5f;
  // F(m + f) is 0 for m < 0 and the whole sum for m >= last (m = c1).
  const int32_t last = n - 2;
  const F4 total = pp[last].v;
  auto upper = [&](int32_t m) { return pp[m].v + gp[m].v * h1 + gp[m + 1].v * h2; };
  auto lower = [&](int32_t m) { return pp[m].v + gp[m].v * l1 + gp[m + 1].v * l2; };
  // H over [a, b) ∩ [o0, o1), the upper end of the window at m = i + hi_off −
  // b0 being below the row (0), within it or past it (the whole sum), and
  // the lower end likewise.
  enum Where { kBelow, kWithin, kPast };
  auto run = [&](int32_t a, int32_t b, Where up, Where lo) {
    a = std::max(a, o0);
    b = std::min(b, o1);
    for (int32_t i = a; i < b; ++i) {
      const int32_t hn = i + hi_off - b0, ln = i + lo_off - b0;
      const F4 u = up == kBelow ? F4{0, 0, 0, 0} : up == kPast ? total : upper(hn);
      const F4 l = lo == kBelow ? F4{0, 0, 0, 0} : lo == kPast ? total : lower(ln);
      row[i].v = (u - l) * inv_len;
    }
  };
  const int32_t ih0 = b0 - hi_off, ih1 = b0 + last - hi_off;  // hn = 0, hn = last
  const int32_t il0 = b0 - lo_off, il1 = b0 + last - lo_off;  // ln = 0, ln = last
  run(o0, ih0, kBelow, kBelow);
  if (ih1 <= il0) {  // the window is longer than the row's samples
    run(ih0, ih1, kWithin, kBelow);
    run(ih1, il0, kPast, kBelow);
  } else {
    run(ih0, il0, kWithin, kBelow);
    run(il0, ih1, kWithin, kWithin);
  }
  run(std::max(ih1, il0), il1, kPast, kWithin);
  run(il1, o1, kPast, kPast);
}

// Source over destination, both straight alpha, for the n pixels d[0 .. n)
// with the premultiplied samples s (0..255 per key, k scales them to
// coverage): OverStraight's formula, four pixels per step with one division
// for their four alphas; a transparent destination is the same formula with
// its share t = 0. Destination pixel i is at first + i × stride bytes.
// Samples below kEmptyAlpha leave their pixel as it was.
void OverStraightRow(const Px* s, int32_t n, float k, PF_Pixel* first, ptrdiff_t stride) {
  char* const base = reinterpret_cast<char*>(first);
  auto d = [base, stride](int32_t i) -> PF_Pixel& {
    return *reinterpret_cast<PF_Pixel*>(base + i * stride);
  };
  const F4 top{255.0f, 255.0f, 255.0f, 255.0f};
  const F4 one{1, 1, 1, 1};
  int32_t x = 0;
  for (; x + 4 <= n; x += 4) {
    const F4 s0 = s[x].v, s1 = s[x + 1].v, s2 = s[x + 2].v, s3 = s[x + 3].v;
    const F4 alphas{s0[0], s1[0], s2[0], s3[0]};
    const I4 inked = alphas >= kEmptyAlpha;
    if (!(inked[0] | inked[1] | inked[2] | inked[3])) continue;
    const F4 d0 = LoadPixel(d(x)), d1 = LoadPixel(d(x + 1)), d2 = LoadPixel(d(x + 2)),
             d3 = LoadPixel(d(x + 3));
    const F4 as = alphas * k;
    const F4 da{d0[0], d1[0], d2[0], d3[0]};
    const F4 t = da * (1.0f / 255.0f) * (one - as);
    const F4 ao = as + t;
    const F4 inv = one / (inked ? ao : one);
    const F4 cs = inv * (k * 255.0f), cd = t * inv, ao255 = ao * 255.0f;
    const F4 ss[4] = {s0, s1, s2, s3}, ds[4] = {d0, d1, d2, d3};
    for (int i = 0; i < 4; ++i) {
      if (!inked[i]) continue;
      F4 out = ss[i] * cs[i] + ds[i] * cd[i];
      out[0] = ao255[i];
      StorePixel(out < top ? out : top, d(x + i));
    }
  }
  for (; x < n; ++x) {
    if (s[x].v[0] >= kEmptyAlpha) OverStraight(s[x].v, k, d(x));
  }
}

#if defined(VANTREL_IMAGING_AVX2)
// Samples a and b, one per half of a vector.
__attribute__((target("avx2"))) inline __m256 LoadTwo(const Px* a, const Px* b) {
  return _mm256_insertf128_ps(
      _mm256_castps128_ps256(_mm_load_ps(reinterpret_cast<const float*>(a))),
      _mm_load_ps(reinterpret_cast<const float*>(b)), 1);
}

// What SmearOverStraightAvx2 keeps in registers.
struct SmearComposite {
  const Px* g;
  ptrdiff_t g_step, g_next;
  char* base;
  ptrdiff_t stride;
  __m256 wf, w1, kk, k255, one, two, c255, inv255, half, empty;
};

// OverStraight's weights for smeared samples of alpha `sa` over
// destination alphas `da` (0..255): the destination's share t of the
// result, the result's alpha ao (0..1) and its reciprocal, refined by a
// Newton step.
struct SmearWeights {
  __m256 t, ao, inv;
};
__attribute__((target("avx2"), always_inline)) inline SmearWeights OverWeights(
    const SmearComposite& c, __m256 sa, __m256 da) {
  const __m256 as = _mm256_mul_ps(sa, c.kk);
  const __m256 t = _mm256_mul_ps(_mm256_mul_ps(da, c.inv255), _mm256_sub_ps(c.one, as));
  const __m256 ao = _mm256_add_ps(as, t);
  const __m256 safe = _mm256_max_ps(ao, c.empty);
  __m256 inv = _mm256_rcp_ps(safe);
  inv = _mm256_mul_ps(inv, _mm256_sub_ps(c.two, _mm256_mul_ps(safe, inv)));  // Newton step
  return {t, ao, inv};
}

// Pixels i and i + 1 of SmearOverStraightAvx2 (pixel i twice when `both` is
// false).
__attribute__((target("avx2"), always_inline)) inline void SmearTwo(const SmearComposite& c,
                                                                    int32_t i, bool both) {
  const Px* a = c.g + i * c.g_step;
  const Px* b = both ? a + c.g_step : a;
  const __m256 sv = _mm256_add_ps(_mm256_mul_ps(LoadTwo(a, b), c.w1),
                                  _mm256_mul_ps(LoadTwo(a + c.g_next, b + c.g_next), c.wf));
  const __m256 alpha = _mm256_shuffle_ps(sv, sv, 0);
  const int inked = _mm256_movemask_ps(_mm256_cmp_ps(alpha, c.empty, _CMP_GE_OQ));
  if ((inked & 0x11) == 0) return;
  PF_Pixel* p0 = reinterpret_cast<PF_Pixel*>(c.base + i * c.stride);
  PF_Pixel* p1 = both ? reinterpret_cast<PF_Pixel*>(c.base + (i + 1) * c.stride) : p0;
  uint32_t w0, w1;
  std::memcpy(&w0, p0, 4);
  std::memcpy(&w1, p1, 4);
  const __m128i old = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(w0)),
                                         _mm_cvtsi32_si128(static_cast<int>(w1)));
  const __m256 dv = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(old));
  const __m256 da = _mm256_shuffle_ps(dv, dv, 0);
  const auto [t, ao, inv] = OverWeights(c, alpha, da);
  __m256 out = _mm256_add_ps(_mm256_mul_ps(sv, _mm256_mul_ps(inv, c.k255)),
                             _mm256_mul_ps(dv, _mm256_mul_ps(t, inv)));
  out = _mm256_blend_ps(out, _mm256_mul_ps(ao, c.c255), 0x11);
  out = _mm256_min_ps(_mm256_max_ps(out, _mm256_setzero_ps()), c.c255);
  const __m256i ints = _mm256_cvttps_epi32(_mm256_add_ps(out, c.half));
  const __m256i words = _mm256_packus_epi16(_mm256_packs_epi32(ints, ints), ints);
  const uint32_t r0 = (inked & 0x01) ? static_cast<uint32_t>(_mm256_extract_epi32(words, 0)) : w0;
  const uint32_t r1 = (inked & 0x10) ? static_cast<uint32_t>(_mm256_extract_epi32(words, 4)) : w1;
  std::memcpy(p1, &r1, 4);  // p0 last: for one pixel p1 is p0
  std::memcpy(p0, &r0, 4);
}

// Pixels i to i + 7 of SmearOverStraightAvx2, channel by channel: the eight
// samples are transposed so that each vector holds one channel of eight
// pixels (in the order 0, 2, 4, 6, 1, 3, 5, 7), and the alpha arithmetic is
// done once for the eight.
__attribute__((target("avx2"), always_inline)) inline void SmearEight(const SmearComposite& c,
                                                                      int32_t i) {
  const Px* a = c.g + i * c.g_step;
  const ptrdiff_t gs = c.g_step, gn = c.g_next;
  __m256 p[4];
  for (int q = 0; q < 4; ++q) {
    const Px* x0 = a + (2 * q) * gs;
    const Px* x1 = x0 + gs;
    p[q] = _mm256_add_ps(_mm256_mul_ps(LoadTwo(x0, x1), c.w1),
                         _mm256_mul_ps(LoadTwo(x0 + gn, x1 + gn), c.wf));
  }
  const __m256 t0 = _mm256_unpacklo_ps(p[0], p[1]), t1 = _mm256_unpackhi_ps(p[0], p[1]);
  const __m256 t2 = _mm256_unpacklo_ps(p[2], p[3]), t3 = _mm256_unpackhi_ps(p[2], p[3]);
  const __m256 sa = _mm256_shuffle_ps(t0, t2, 0x44), sr = _mm256_shuffle_ps(t0, t2, 0xEE);
  const __m256 sg = _mm256_shuffle_ps(t1, t3, 0x44), sb = _mm256_shuffle_ps(t1, t3, 0xEE);
  const __m256 inked = _mm256_cmp_ps(sa, c.empty, _CMP_GE_OQ);
  if (_mm256_movemask_ps(inked) == 0) return;
  char* const d = c.base + i * c.stride;
  auto px = [&](int j) { return reinterpret_cast<PF_Pixel*>(d + j * c.stride); };
  uint32_t w[8];
  for (int j = 0; j < 8; ++j) std::memcpy(&w[j], px(j), 4);
  const __m256i old =
      _mm256_setr_epi32(static_cast<int>(w[0]), static_cast<int>(w[2]), static_cast<int>(w[4]),
                        static_cast<int>(w[6]), static_cast<int>(w[1]), static_cast<int>(w[3]),
                        static_cast<int>(w[5]), static_cast<int>(w[7]));
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const __m256 da = _mm256_cvtepi32_ps(_mm256_and_si256(old, byte));
  const __m256 dr = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(old, 8), byte));
  const __m256 dg = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(old, 16), byte));
  const __m256 db = _mm256_cvtepi32_ps(_mm256_srli_epi32(old, 24));
  const auto [t, ao, inv] = OverWeights(c, sa, da);
  const __m256 cs = _mm256_mul_ps(inv, c.k255), cd = _mm256_mul_ps(t, inv);
  __m256 oa = _mm256_mul_ps(ao, c.c255);
  __m256 orr = _mm256_add_ps(_mm256_mul_ps(sr, cs), _mm256_mul_ps(dr, cd));
  __m256 og = _mm256_add_ps(_mm256_mul_ps(sg, cs), _mm256_mul_ps(dg, cd));
  __m256 ob = _mm256_add_ps(_mm256_mul_ps(sb, cs), _mm256_mul_ps(db, cd));
  const __m256 zero = _mm256_setzero_ps();
  oa = _mm256_add_ps(_mm256_min_ps(_mm256_max_ps(oa, zero), c.c255), c.half);
  orr = _mm256_add_ps(_mm256_min_ps(_mm256_max_ps(orr, zero), c.c255), c.half);
  og = _mm256_add_ps(_mm256_min_ps(_mm256_max_ps(og, zero), c.c255), c.half);
  ob = _mm256_add_ps(_mm256_min_ps(_mm256_max_ps(ob, zero), c.c255), c.half);
  const __m256i word = _mm256_or_si256(
      _mm256_or_si256(_mm256_cvttps_epi32(oa), _mm256_slli_epi32(_mm256_cvttps_epi32(orr), 8)),
      _mm256_or_si256(_mm256_slli_epi32(_mm256_cvttps_epi32(og), 16),
                      _mm256_slli_epi32(_mm256_cvttps_epi32(ob), 24)));
  const __m256i out = _mm256_blendv_epi8(old, word, _mm256_castps_si256(inked));
  const uint32_t r[8] = {static_cast<uint32_t>(_mm256_extract_epi32(out, 0)),
                         static_cast<uint32_t>(_mm256_extract_epi32(out, 4)),
                         static_cast<uint32_t>(_mm256_extract_epi32(out, 1)),
                         static_cast<uint32_t>(_mm256_extract_epi32(out, 5)),
                         static_cast<uint32_t>(_mm256_extract_epi32(out, 2)),
                         static_cast<uint32_t>(_mm256_extract_epi32(out, 6)),
                         static_cast<uint32_t>(_mm256_extract_epi32(out, 3)),
                         static_cast<uint32_t>(_mm256_extract_epi32(out, 7))};
  for (int j = 0; j < 8; ++j) std::memcpy(px(j), &r[j], 4);
}

// The smear read back and composited over straight alpha for n destination
// pixels, two per AVX2 vector: pixel i is at first + i × stride bytes, and
// its sample lies between the rows of G at g + i × g_step and the next one
// (g_next pixels further), with weights 1 − f and f. The composite is
// OverStraight's formula with the division by the result's alpha taken as
// a refined reciprocal (within a few units of the float's last place).
__attribute__((target("avx2"))) void SmearOverStraightAvx2(const Px* g, ptrdiff_t g_step,
                                                           ptrdiff_t g_next, float f, int32_t n,
                                                           float k, PF_Pixel* first,
                                                           ptrdiff_t stride) {
  const SmearComposite c{g,
                         g_step,
                         g_next,
                         reinterpret_cast<char*>(first),
                         stride,
                         _mm256_set1_ps(f),
                         _mm256_set1_ps(1 - f),
                         _mm256_set1_ps(k),
                         _mm256_set1_ps(k * 255.0f),
                         _mm256_set1_ps(1.0f),
                         _mm256_set1_ps(2.0f),
                         _mm256_set1_ps(255.0f),
                         _mm256_set1_ps(1.0f / 255.0f),
                         _mm256_set1_ps(0.5f),
                         _mm256_set1_ps(kEmptyAlpha)};
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) SmearEight(c, i);
  for (; i < n; i += 2) SmearTwo(c, i, i + 1 < n);
}
#endif

// The bounds of the four corners (x0 or x1, y0 or y1) mapped by `a`, as
// min x, min y, max x, max y. A corner that does not map counts as the point
// MapPoint left behind; the frames here are affine.
std::array<double, 4> MappedCorners(const Mat3& a, double x0, double y0, double x1, double y1) {
  std::array<double, 4> e{
      std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  for (double x : {x0, x1}) {
    for (double y : {y0, y1}) {
      double ox = 0, oy = 0;
      MapPoint(a, x, y, ox, oy);
      e[0] = std::min(e[0], ox);
      e[1] = std::min(e[1], oy);
      e[2] = std::max(e[2], ox);
      e[3] = std::max(e[3], oy);
    }
  }
  return e;
}

}  // namespace

MotionBlurPlan PlanMotionBlur(const Mat3 given[2], bool src2dst, int32_t width, int32_t height,
                              bool copy) {
  MotionBlurPlan plan;
  plan.from = given[0];
  plan.to = given[1];
  plan.src2dst = src2dst;
  Mat3 fwd[2];
  bool have_fwd = true;
  for (int i = 0; i < 2; ++i) {
    if (src2dst) {
      fwd[i] = given[i];
    } else {
      have_fwd = Invert(given[i], fwd[i]) && have_fwd;
    }
  }
  bool affine = false;
  if (have_fwd) {
    affine = NormalizeAffine(fwd[0]) && NormalizeAffine(fwd[1]);
    if (affine) {
      plan.from = fwd[0];
      plan.to = fwd[1];
      plan.src2dst = true;
    }
  }
  // How far the source's corners travel between the two placements, in
  // destination pixels, sets the number of placements.
  double motion = 0;
  bool ok = have_fwd;
  const double us[2] = {0.0, static_cast<double>(width)};
  const double vs[2] = {0.0, static_cast<double>(height)};
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
  plan.placements = ok ? MotionBlurSampleCount(motion) : kUnmeasuredPlacements;
  // A projective placement may reach the whole destination.
  if (!affine) plan.placements = std::min(plan.placements, kUnmeasuredPlacements);
  if (!affine || copy || plan.placements <= 2) return plan;

  // The centre's motion, and how far the corners stray from it.
  const auto [cx, cy] = Displacement(fwd[0], fwd[1], width / 2.0, height / 2.0);
  double residual = 0;
  for (double u : us) {
    for (double v : vs) {
      const auto [dx, dy] = Displacement(fwd[0], fwd[1], u, v);
      residual = std::max(residual, std::hypot(dx - cx, dy - cy));
    }
  }
  const double keys = std::max(1.0, std::ceil(residual / kKeyResidualPx));
  if (!(keys + 1 < plan.placements)) return plan;  // mostly a change of size or turn
  const double per_key = std::hypot(cx, cy) / keys;
  if (!(per_key >= kMinSmearPx && per_key <= kMaxSmearPx)) return plan;
  plan.smear = true;
  plan.keys = static_cast<int>(keys);
  plan.vx = cx / keys;
  plan.vy = cy / keys;
  return plan;
}

void DrawSmearedMotionBlur(const TransformJob& job, const MotionBlurPlan& plan, const IRect& clip,
                           PF_Field field, PF_EffectWorld& dst) {
  // G: its first axis (a) runs along the motion's larger component, and G's
  // rows follow the motion. With slope = minor / major (|slope| <= 1), G
  // point (a, b) is the destination point (a, b + slope (a − 1/2)), or
  // (b + slope (a − 1/2), a) when the motion is mostly vertical. Sample
  // (i, j) of G is taken at G point (i + 1/2, j + 1/2): the centre of
  // destination pixel (i, j + slope i), or (j + slope i, i), which is a
  // pixel centre whenever slope × i is whole (the motion along an axis or a
  // diagonal).
  const bool transposed = std::fabs(plan.vy) > std::fabs(plan.vx);
  const double major = transposed ? plan.vy : plan.vx;
  const double minor = transposed ? plan.vx : plan.vy;
  const double slope = minor / major;
  const double len = std::fabs(major);  // the smear along a, per segment
  Mat3 to_g, from_g;
  if (!transposed) {
    to_g = {{{1, -slope, 0}, {0, 1, 0}, {0, slope / 2, 1}}};
    from_g = {{{1, slope, 0}, {0, 1, 0}, {0, -slope / 2, 1}}};
  } else {
    to_g = {{{0, 1, 0}, {1, -slope, 0}, {0, slope / 2, 1}}};
    from_g = {{{slope, 1, 0}, {1, 0, 0}, {-slope / 2, 0, 1}}};
  }

  // The key placements, drawn into G.
  const PremulSource& src = *job.src;
  const double lo = job.bilinear ? -0.5 : 0.0;
  const double hi_u = job.bilinear ? src.width + 0.5 : src.width;
  const double hi_v = job.bilinear ? src.height + 0.5 : src.height;
  TransformJob g = job;
  g.placements.clear();
  for (int k = 0; k < plan.keys; ++k) {
    const double t = (k + 0.5) / plan.keys;
    Placement p;
    // A key whose matrix cannot be inverted (the source collapsed to a
    // line or a point) draws nothing and still counts in the average.
    if (MakePlacement(Mul(Lerp(plan.from, plan.to, t), to_g), /*src2dst=*/true, lo, hi_u, lo, hi_v,
                      p)) {
      g.placements.push_back(p);
    }
  }
  if (g.placements.empty()) return;
  IRect gb = g.placements[0].box;
  for (const Placement& p : g.placements) {
    gb = {std::min(gb.left, p.box.left), std::min(gb.top, p.box.top),
          std::max(gb.right, p.box.right), std::max(gb.bottom, p.box.bottom)};
  }
  // Room for the smear along a; and no more of G than can reach the clip.
  const int32_t reach = static_cast<int32_t>(std::ceil(len / 2)) + 2;
  gb.left -= reach;
  gb.right += reach;
  {
    const auto [min_a, min_b, max_a, max_b] =
        MappedCorners(to_g, clip.left, clip.top, clip.right, clip.bottom);
    // Along a, G's rows are cut only far from the clip: a row's running sum
    // then starts at the same sample whatever the clip, so that a large area
    // drawn at once or in bands of rows gives the same bytes.
    const IRect reachable{
        ClampToInt(std::floor(min_a)) - reach - kRowMarginPx, ClampToInt(std::floor(min_b)) - 2,
        ClampToInt(std::ceil(max_a)) + reach + kRowMarginPx, ClampToInt(std::ceil(max_b)) + 2};
    gb = Intersect(gb, reachable);
  }
  if (gb.empty()) return;
  g.box = gb;
  const int32_t gw = gb.width(), gh = gb.height();

  // G's samples, kept per thread between calls like the premultiplied copy,
  // with kPadRows rows of zeros above and below so that reading the two rows
  // around a destination pixel needs no test.
  thread_local std::vector<Px> store, scratch_g, scratch_prefix;
  struct Trim {
    ~Trim() {
      for (auto* v : {&store, &scratch_g, &scratch_prefix}) {
        if (v->size() > kKeptPremulPixels) std::vector<Px>().swap(*v);
      }
    }
  } trim;
  const size_t stride = static_cast<size_t>(gw);
  const size_t area = stride * static_cast<size_t>(gh + 2 * kPadRows);
  if (store.size() < area) store.resize(area);
  const Px zero{F4{0, 0, 0, 0}};
  Px* const rows0 = store.data() + kPadRows * stride;  // row 0 of G
  std::fill(store.data(), rows0, zero);
  std::fill(rows0 + static_cast<size_t>(gh) * stride, store.data() + area, zero);
  std::vector<std::pair<int32_t, int32_t>> spans(g.placements.size());
  for (int32_t r = 0; r < gh; ++r) {
    const int32_t j = gb.top + r;
    Px* row = rows0 + static_cast<size_t>(r) * stride;
    int32_t x0 = gb.right, x1 = gb.left;
    for (size_t i = 0; i < g.placements.size(); ++i) {
      spans[i] = RowSpan(g, g.placements[i], j);
      if (spans[i].first < spans[i].second) {
        x0 = std::min(x0, spans[i].first);
        x1 = std::max(x1, spans[i].second);
      }
    }
    if (x1 <= x0) {
      std::fill(row, row + gw, zero);
      continue;
    }
    std::fill(row + (x0 - gb.left), row + (x1 - gb.left), zero);
    Px* shifted = row - gb.left;
    for (size_t i = 0; i < g.placements.size(); ++i) {
      if (spans[i].first >= spans[i].second) continue;
      WalkRowAny(g, g.placements[i], j, spans[i].first, spans[i].second,
                 [shifted](int32_t x, F4 sample) { shifted[x].v += sample; });
    }
    // The smear: samples reach len / 2 and the interpolation one more on
    // either side; the rest of the row is zero.
    const int32_t c0 = x0 - gb.left, c1 = x1 - gb.left;
    const int32_t o0 = std::max(0, c0 - reach), o1 = std::min(gw, c1 + reach);
    SmearRow(row, c0, c1, o0, o1, len, scratch_g, scratch_prefix);
    std::fill(row, row + o0, zero);
    std::fill(row + o1, row + gw, zero);
  }

  // Back into the destination: each pixel between two rows of G.
  IRect box;
  {
    const auto [min_x, min_y, max_x, max_y] =
        MappedCorners(from_g, gb.left, gb.top, gb.right, gb.bottom);
    box = Intersect({ClampToInt(std::floor(min_x)) - 1, ClampToInt(std::floor(min_y)) - 1,
                     ClampToInt(std::ceil(max_x)) + 1, ClampToInt(std::ceil(max_y)) + 1},
                    clip);
  }
  if (box.empty()) return;
  TransformJob c = job;
  c.box = box;
  c.coverage_scale = 1.0f / static_cast<float>(plan.keys);
  const float k = c.coverage_scale * c.opacity / 255.0f;
  // Source over straight alpha (every piece) is composited as each pixel is
  // read back; the other modes through an accumulation row.
  const bool direct = job.xfer == PF_Xfer_IN_FRONT && !job.premultiplied;
  std::vector<Px> acc(static_cast<size_t>(box.width()));
  const ptrdiff_t step = static_cast<ptrdiff_t>(stride);
#if defined(VANTREL_IMAGING_AVX2)
  const bool avx2 = HaveAvx2();
#endif
  if (direct && !transposed) {
    // Column by column: down a column of the destination, j = y − slope × x
    // keeps its fraction and meets the next row of G at every pixel, so a
    // column of G is read in order and the destination's lines of a few
    // columns stay in the cache.
    const int32_t every = field == PF_Field_FRAME ? 1 : 2;
    std::vector<Px> column(static_cast<size_t>(box.height()));
    for (int32_t x = box.left; x < box.right; ++x) {
      const double q = std::floor(-slope * x);
      const float f = static_cast<float>(-slope * x - q);
      // Row r = y + q − gb.top of G and the next, r within [−1, gh − 1].
      const int64_t shift = static_cast<int64_t>(q) - gb.top;
      int64_t y0 = std::max<int64_t>(box.top, -1 - shift);
      const int64_t y1 = std::min<int64_t>(box.bottom, gh - shift);
      if (field == PF_Field_UPPER && y0 % 2 != 0) ++y0;  // even rows only
      if (field == PF_Field_LOWER && y0 % 2 == 0) ++y0;  // odd rows only
      if (y0 >= y1) continue;
      const Px* at = rows0 + (y0 + shift) * step + (x - gb.left);
#if defined(VANTREL_IMAGING_AVX2)
      if (avx2) {
        SmearOverStraightAvx2(
            at, every * step, step, f, static_cast<int32_t>((y1 - y0 + every - 1) / every), k,
            RowOf(dst, static_cast<int32_t>(y0)) + x, static_cast<ptrdiff_t>(dst.rowbytes) * every);
        continue;
      }
#endif
      int32_t n = 0;
      for (int64_t y = y0; y < y1; y += every, at += every * step) {
        column[static_cast<size_t>(n++)].v = at[0].v * (1 - f) + at[step].v * f;
      }
      OverStraightRow(column.data(), n, k, RowOf(dst, static_cast<int32_t>(y0)) + x,
                      static_cast<ptrdiff_t>(dst.rowbytes) * every);
    }
    return;
  }
  for (int32_t y = box.top; y < box.bottom; ++y) {
    if ((field == PF_Field_UPPER && y % 2 != 0) || (field == PF_Field_LOWER && y % 2 == 0)) {
      continue;
    }
    // The columns x whose pair of rows of G, floor(j) − gb.top and the next,
    // lie within the padded rows: gb.top − 1 <= j < gb.bottom, where j is
    // y − slope × x, or x − slope × y for a mostly vertical motion.
    double lo_x, hi_x;
    if (transposed) {
      if (y < gb.left || y >= gb.right) continue;
      lo_x = gb.top - 1 + slope * y;
      hi_x = gb.bottom + slope * y;
    } else if (slope == 0) {
      if (y < gb.top || y >= gb.bottom) continue;
      lo_x = box.left;
      hi_x = box.right;
    } else {
      const double e0 = (y - gb.bottom) / slope, e1 = (y - gb.top + 1) / slope;
      lo_x = std::min(e0, e1);
      hi_x = std::max(e0, e1);
    }
    const int32_t x_begin = std::max(box.left, ClampToInt(std::floor(lo_x)));
    const int32_t x_end = std::min(box.right, ClampToInt(std::ceil(hi_x)) + 1);
    if (x_begin >= x_end) continue;
    // The samples of [first, last) go to acc, then to the composite.
    int32_t first = x_begin, last = x_begin;
    // One pixel: G's rows r and r + 1 at `at` and `at + step`, weights 1 − f, f.
    auto pixel = [&](int32_t x, const Px* at, float f) {
      acc[static_cast<size_t>(x - box.left)].v = at[0].v * (1 - f) + at[step].v * f;
    };
    if (transposed) {
      // Along the row, j = x − slope × y: the same fraction, one row of G per pixel.
      const double q = std::floor(-slope * y);
      const float f = static_cast<float>(-slope * y - q);
      const int64_t r0 = static_cast<int64_t>(q) + x_begin - gb.top;
      const int64_t lo = std::max<int64_t>(0, -1 - r0),
                    hi = std::min<int64_t>(x_end - x_begin, gh - r0);
      if (lo >= hi) continue;
      first = x_begin + static_cast<int32_t>(lo);
      last = x_begin + static_cast<int32_t>(hi);
      const Px* at = rows0 + (r0 + lo) * step + (y - gb.left);
#if defined(VANTREL_IMAGING_AVX2)
      if (direct && avx2) {
        SmearOverStraightAvx2(at, step, step, f, last - first, k, RowOf(dst, y) + first,
                              sizeof(PF_Pixel));
        continue;
      }
#endif
      for (int32_t x = first; x < last; ++x, at += step) pixel(x, at, f);
    } else {
      first = x_end;
      for (int32_t x = x_begin; x < x_end; ++x) {
        const double j = y - slope * x;
        const double j0 = std::floor(j);
        const int64_t r = static_cast<int64_t>(j0) - gb.top;
        if (r < -1 || r >= gh) {
          acc[static_cast<size_t>(x - box.left)] = zero;
          continue;
        }
        first = std::min(first, x);
        last = x + 1;
        pixel(x, rows0 + r * step + (x - gb.left), static_cast<float>(j - j0));
      }
      if (first >= last) continue;
    }
    if (direct) {
      OverStraightRow(acc.data() + (first - box.left), last - first, k, RowOf(dst, y) + first,
                      sizeof(PF_Pixel));
    } else {
      // CompositeRow takes every sample above zero: the float noise of the
      // running sums is dropped first.
      for (int32_t x = first; x < last; ++x) {
        Px& a = acc[static_cast<size_t>(x - box.left)];
        if (!(a.v[0] >= kEmptyAlpha)) a = zero;
      }
      CompositeRow(c, y, first, last, acc.data(), nullptr, dst);
    }
  }
}

}  // namespace vantrel::host::imaging_internal
