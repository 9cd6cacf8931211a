// A slow, exact reference for transform_world: every destination pixel of the
// clip rectangle, in double precision, straight from the definitions. The
// host's fast path must agree with it within a stated tolerance.
//
// Definitions used (the same contract as vantrel/host/imaging.h):
// - destination pixel (x, y) is sampled at its centre (x + 0.5, y + 0.5),
//   mapped into the source by the inverse of the source-to-destination
//   matrix (row vectors, homogeneous divide);
// - bilinear: between the four nearest source pixel centres, in
//   PREMULTIPLIED alpha, with transparent black outside the source;
//   nearest: the source pixel that contains the point;
// - motion blur: `samples` matrices interpolated element by element from
//   m0 to m1 (or from their inverses, see RefOptions::forward), both ends
//   included, premultiplied samples averaged; a placement that cannot be
//   inverted draws nothing and still counts;
// - composite: source alpha × opacity / 255, source over destination, both
//   straight alpha.
#ifndef VANTREL_TESTS_HOST_IMAGING_REFERENCE_H
#define VANTREL_TESTS_HOST_IMAGING_REFERENCE_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>

#include "vantrel/host/imaging.h"

namespace vantrel::host::testing {

struct M3 {
  double m[3][3];
};

inline M3 Identity() { return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}; }

inline PF_FloatMatrix ToPF(const M3& a) {
  PF_FloatMatrix f;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) f.mat[r][c] = a.m[r][c];
  return f;
}

inline M3 Mul(const M3& a, const M3& b) {
  M3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}

inline M3 Translate(double tx, double ty) { return {{{1, 0, 0}, {0, 1, 0}, {tx, ty, 1}}}; }
inline M3 Scale(double sx, double sy) { return {{{sx, 0, 0}, {0, sy, 0}, {0, 0, 1}}}; }

// Inverse by Gauss-Jordan elimination with partial pivoting (deliberately a
// different method from the host's adjugate). False when singular.
inline bool Inverse(const M3& in, M3& out) {
  double a[3][6];
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      a[r][c] = in.m[r][c];
      a[r][c + 3] = r == c ? 1 : 0;
    }
  }
  for (int c = 0; c < 3; ++c) {
    int p = c;
    for (int r = c + 1; r < 3; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    if (std::fabs(a[p][c]) < 1e-300) return false;
    for (int k = 0; k < 6; ++k) std::swap(a[c][k], a[p][k]);
    const double d = a[c][c];
    for (int k = 0; k < 6; ++k) a[c][k] /= d;
    for (int r = 0; r < 3; ++r) {
      if (r == c) continue;
      const double f = a[r][c];
      for (int k = 0; k < 6; ++k) a[r][k] -= f * a[c][k];
    }
  }
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out.m[r][c] = a[r][c + 3];
  return true;
}

struct RefOptions {
  bool bilinear = true;
  int opacity = 255;
  int samples = 1;  // motion blur placements; 1 = m1 alone
  // Motion blur interpolates source-to-destination matrices: m0 and m1 are
  // inverted first when given destination-to-source.
  bool forward = false;
  // Placements at the middles of `samples` equal segments of time instead
  // of evenly spaced with both ends included.
  bool midpoints = false;
  PF_Rect clip{0, 0, 0, 0};
};

// Premultiplied (alpha, red·alpha, green·alpha, blue·alpha) in [0, 1].
using Premul = std::array<double, 4>;

inline Premul SourcePremul(const Image& src, int x, int y) {
  if (x < 0 || y < 0 || x >= src.width() || y >= src.height()) return {0, 0, 0, 0};
  const PF_Pixel& p = src.at(x, y);
  const double a = p.alpha / 255.0;
  return {a, p.red / 255.0 * a, p.green / 255.0 * a, p.blue / 255.0 * a};
}

// The source sample seen by the centre of destination pixel (x, y) through
// the destination-to-source matrix `inv`; `on_edge` is set when the nearest
// pixel choice is ambiguous (the point lies on a pixel boundary).
inline Premul SampleAt(const Image& src, const M3& inv, int x, int y, bool bilinear,
                       bool* on_edge) {
  const double cx = x + 0.5, cy = y + 0.5;
  const double w = cx * inv.m[0][2] + cy * inv.m[1][2] + inv.m[2][2];
  if (!(w > 0)) return {0, 0, 0, 0};
  const double u = (cx * inv.m[0][0] + cy * inv.m[1][0] + inv.m[2][0]) / w;
  const double v = (cx * inv.m[0][1] + cy * inv.m[1][1] + inv.m[2][1]) / w;
  if (!bilinear) {
    const double eps = 1e-6;
    if (std::fabs(u - std::round(u)) < eps || std::fabs(v - std::round(v)) < eps) {
      *on_edge = true;
    }
    return SourcePremul(src, static_cast<int>(std::floor(u)), static_cast<int>(std::floor(v)));
  }
  const double fu = u - 0.5, fv = v - 0.5;
  const double u0 = std::floor(fu), v0 = std::floor(fv);
  const double wx = fu - u0, wy = fv - v0;
  const int iu = static_cast<int>(u0), iv = static_cast<int>(v0);
  Premul out{0, 0, 0, 0};
  const Premul p00 = SourcePremul(src, iu, iv), p10 = SourcePremul(src, iu + 1, iv);
  const Premul p01 = SourcePremul(src, iu, iv + 1), p11 = SourcePremul(src, iu + 1, iv + 1);
  for (int k = 0; k < 4; ++k) {
    out[k] = (1 - wx) * (1 - wy) * p00[k] + wx * (1 - wy) * p10[k] + (1 - wx) * wy * p01[k] +
             wx * wy * p11[k];
  }
  return out;
}

// Straight-alpha result of compositing the transformed source over `dst`,
// per pixel, as doubles in [0, 255]. `ambiguous[i]` marks pixels whose
// nearest-pixel choice is on a boundary.
struct RefResult {
  std::vector<std::array<double, 4>> px;  // a, r, g, b
  std::vector<uint8_t> ambiguous;
  int width = 0;
};

// m0 and m1 as the caller gives them to transform_world: source-to-destination
// when src2dst, else destination-to-source; the blur interpolates them in
// that form.
inline RefResult ReferenceTransform(const Image& src, const M3& m0, const M3& m1, bool src2dst,
                                    const Image& dst, const RefOptions& o) {
  RefResult res;
  res.width = dst.width();
  res.px.resize(static_cast<size_t>(dst.width()) * dst.height());
  res.ambiguous.assign(res.px.size(), 0);
  // The average premultiplied sample per pixel; each placement visits only
  // the pixels near its own box, so that a thousand placements stay cheap.
  const int w = dst.width(), h = dst.height();
  std::vector<Premul> sum(res.px.size(), Premul{0, 0, 0, 0});
  M3 from = m0, to = m1;
  bool to_dst = src2dst;
  if (o.forward && !src2dst && Inverse(m0, from) && Inverse(m1, to)) to_dst = true;
  for (int k = 0; k < o.samples; ++k) {
    const double t = o.samples == 1 ? 1.0
                     : o.midpoints  ? (k + 0.5) / o.samples
                                    : static_cast<double>(k) / (o.samples - 1);
    M3 m;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) m.m[r][c] = from.m[r][c] + (to.m[r][c] - from.m[r][c]) * t;
    M3 inv = m, fwd = m;
    if (to_dst && !Inverse(m, inv)) continue;  // a collapsed placement draws nothing
    const bool have_fwd = to_dst || Inverse(m, fwd);
    int x0 = o.clip.left, x1 = o.clip.right, y0 = o.clip.top, y1 = o.clip.bottom;
    // An affine placement reaches only the box of its source's corners.
    if (have_fwd && fwd.m[0][2] == 0 && fwd.m[1][2] == 0 && fwd.m[2][2] != 0) {
      double lx = 1e300, hx = -1e300, ly = 1e300, hy = -1e300;
      for (double u : {-1.0, src.width() + 1.0}) {
        for (double v : {-1.0, src.height() + 1.0}) {
          const double x = (u * fwd.m[0][0] + v * fwd.m[1][0] + fwd.m[2][0]) / fwd.m[2][2];
          const double y = (u * fwd.m[0][1] + v * fwd.m[1][1] + fwd.m[2][1]) / fwd.m[2][2];
          lx = std::min(lx, x);
          hx = std::max(hx, x);
          ly = std::min(ly, y);
          hy = std::max(hy, y);
        }
      }
      x0 = std::max(x0, static_cast<int>(std::max(std::floor(lx) - 1, -1e9)));
      x1 = std::min(x1, static_cast<int>(std::min(std::ceil(hx) + 1, 1e9)));
      y0 = std::max(y0, static_cast<int>(std::max(std::floor(ly) - 1, -1e9)));
      y1 = std::min(y1, static_cast<int>(std::min(std::ceil(hy) + 1, 1e9)));
    }
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        const size_t i = static_cast<size_t>(y) * w + x;
        bool edge = false;
        const Premul one = SampleAt(src, inv, x, y, o.bilinear, &edge);
        if (edge) res.ambiguous[i] = 1;
        for (int c = 0; c < 4; ++c) sum[i][c] += one[c] / o.samples;
      }
    }
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const PF_Pixel& d = dst.at(x, y);
      std::array<double, 4>& out = res.px[static_cast<size_t>(y) * w + x];
      out = {double(d.alpha), double(d.red), double(d.green), double(d.blue)};
      const Premul& s = sum[static_cast<size_t>(y) * w + x];
      if (s[0] <= 0) continue;
      const double op = o.opacity / 255.0;
      const double as = s[0] * op;
      const double ad = d.alpha / 255.0;
      const double ao = as + ad * (1 - as);
      out[0] = ao * 255;
      const double dc[3] = {d.red / 255.0, d.green / 255.0, d.blue / 255.0};
      for (int c = 0; c < 3; ++c) {
        const double po = s[c + 1] * op + dc[c] * ad * (1 - as);
        out[c + 1] = ao > 0 ? po / ao * 255 : 0;
      }
    }
  }
  return res;
}

// Random straight-alpha content: a mix of opaque, transparent and
// partially transparent pixels, in blobs so that bilinear has edges to work on.
inline void RandomFill(Image& img, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255), kind(0, 3);
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < img.width(); ++x) {
      PF_Pixel& p = img.at(x, y);
      const int k = kind(rng);
      p.alpha = static_cast<uint8_t>(k == 0 ? 0 : k == 1 ? 255 : byte(rng));
      p.red = static_cast<uint8_t>(byte(rng));
      p.green = static_cast<uint8_t>(byte(rng));
      p.blue = static_cast<uint8_t>(byte(rng));
    }
  }
}

}  // namespace vantrel::host::testing

#endif  // VANTREL_TESTS_HOST_IMAGING_REFERENCE_H
