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
#include <cmath>
#include <cstddef>
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
// Accumulated alpha (0..255 per key) below which a smeared sample is taken
// as empty: the running sums leave float noise of about 1e-5 where the ink
// ends, which would otherwise write colour into transparent pixels.
constexpr float kEmptyAlpha = 1.0f / 512;
// Rows of zeros kept above and below G.
constexpr ptrdiff_t kPadRows = 2;

// Destination motion of source point (u, v) from the affine matrix a to b.
std::pair<double, double> Displacement(const Mat3& a, const Mat3& b, double u, double v) {
  return {u * (b.m[0][0] - a.m[0][0]) + v * (b.m[1][0] - a.m[1][0]) + (b.m[2][0] - a.m[2][0]),
          u * (b.m[0][1] - a.m[0][1]) + v * (b.m[1][1] - a.m[1][1]) + (b.m[2][1] - a.m[2][1])};
}

// Box-filters `n` samples of G over a length `len` centred on each sample:
// H[i] = (1 / len) ∫ g(i + s) ds for s in [−len / 2, len / 2], where g is
// the linear interpolation of the samples (zero outside [c0, c1)). Writes
// H over [o0, o1) into `row`, reading g from a copy. The integral is exact
// for the interpolated samples: F(X) = ∫ g up to X is the prefix sum of the
// trapezoids up to floor(X) plus the part of the next one.
void SmearRow(Px* row, int32_t c0, int32_t c1, int32_t o0, int32_t o1, double len,
              std::vector<Px>& g, std::vector<Px>& prefix) {
  const double half = len / 2;
  const int32_t na = static_cast<int32_t>(std::floor(half));
  const double fa = half - na;
  // i + len/2 = (i + hi_off) + hf; i − len/2 = (i + lo_off) + lf.
  const int32_t hi_off = na, lo_off = fa > 0 ? -na - 1 : -na;
  const float hf = static_cast<float>(fa), lf = fa > 0 ? static_cast<float>(1 - fa) : 0.0f;
  const float h1 = hf - hf * hf / 2, h2 = hf * hf / 2;
  const float l1 = lf - lf * lf / 2, l2 = lf * lf / 2;
  const float inv_len = static_cast<float>(1 / len);

  const int32_t b0 = o0 + lo_off - 1;  // g[b0] is zero: the prefix starts there
  const int32_t n = o1 + na + 2 - b0;
  g.resize(static_cast<size_t>(n));
  prefix.resize(static_cast<size_t>(n));
  const Px zero{F4{0, 0, 0, 0}};
  // g is zero outside [ks, ke), and the prefix constant outside [ks, ke].
  const int32_t ks = c0 - b0, ke = c1 - b0;
  Px* gp = g.data();
  Px* pp = prefix.data();
  std::fill(gp, gp + ks, zero);
  std::copy(row + c0, row + c1, gp + ks);
  std::fill(gp + ke, gp + n, zero);
  std::fill(pp, pp + ks + 1, zero);
  for (int32_t k = ks; k < ke; ++k) pp[k + 1].v = pp[k].v + (gp[k].v + gp[k + 1].v) * 0.5f;
  std::fill(pp + ke + 1, pp + n, pp[ke]);
  const Px* gs = g.data();
  const Px* p = prefix.data();
  for (int32_t i = o0; i < o1; ++i) {
    const int32_t hn = i + hi_off - b0, ln = i + lo_off - b0;
    const F4 upper = p[hn].v + gs[hn].v * h1 + gs[hn + 1].v * h2;
    const F4 lower = p[ln].v + gs[ln].v * l1 + gs[ln + 1].v * l2;
    row[i].v = (upper - lower) * inv_len;
  }
}

// Source over destination, both straight alpha, for the n pixels d[0 .. n)
// with the premultiplied samples s (0..255 per key, k scales them to
// coverage): OverStraight's formula, four pixels per step with one division
// for their four alphas. Destination pixel i is at first + i × stride bytes. A transparent
// destination is the same formula with its share t = 0. Samples below kEmptyAlpha leave their pixel
// as it was.
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
  plan.placements = ok ? MotionBlurSampleCount(motion) : kMaxMotionBlurSamples;
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
  if (std::hypot(cx, cy) / keys < kMinSmearPx) return plan;
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
    double min_a = std::numeric_limits<double>::infinity(), max_a = -min_a, min_b = min_a,
           max_b = -min_a;
    for (double x : {double(clip.left), double(clip.right)}) {
      for (double y : {double(clip.top), double(clip.bottom)}) {
        double a = 0, b = 0;
        MapPoint(to_g, x, y, a, b);
        min_a = std::min(min_a, a);
        max_a = std::max(max_a, a);
        min_b = std::min(min_b, b);
        max_b = std::max(max_b, b);
      }
    }
    const IRect reachable{ClampToInt(std::floor(min_a)) - reach, ClampToInt(std::floor(min_b)) - 2,
                          ClampToInt(std::ceil(max_a)) + reach, ClampToInt(std::ceil(max_b)) + 2};
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
    double min_x = std::numeric_limits<double>::infinity(), max_x = -min_x, min_y = min_x,
           max_y = -min_x;
    for (double a : {double(gb.left), double(gb.right)}) {
      for (double b : {double(gb.top), double(gb.bottom)}) {
        double x = 0, y = 0;
        MapPoint(from_g, a, b, x, y);
        min_x = std::min(min_x, x);
        max_x = std::max(max_x, x);
        min_y = std::min(min_y, y);
        max_y = std::max(max_y, y);
      }
    }
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
