// 3×3 row-vector matrices of transform_world: inversion, normalising an
// affine matrix, mapping a point.
#ifndef VANTREL_HOST_IMAGING_MATRIX_H
#define VANTREL_HOST_IMAGING_MATRIX_H

#include <cmath>
#include <cstring>

#include "ae_sdk.h"

namespace vantrel::host::imaging_internal {

struct Mat3 {
  double m[3][3];
};

inline Mat3 FromPF(const PF_FloatMatrix& f) {
  Mat3 r;
  std::memcpy(r.m, f.mat, sizeof r.m);
  return r;
}

// a × b: a applied first, then b (row vectors).
inline Mat3 Mul(const Mat3& a, const Mat3& b) {
  Mat3 r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
    }
  }
  return r;
}

// a + (b − a) × t, element by element.
inline Mat3 Lerp(const Mat3& a, const Mat3& b, double t) {
  Mat3 r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) r.m[i][j] = a.m[i][j] + (b.m[i][j] - a.m[i][j]) * t;
  }
  return r;
}

inline bool IsFinite(const Mat3& a) {
  for (const auto& row : a.m) {
    for (double v : row) {
      if (!std::isfinite(v)) return false;
    }
  }
  return true;
}

// Inverse by the adjugate. False for a singular (or numerically unusable)
// matrix.
inline bool Invert(const Mat3& a, Mat3& out) {
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
inline bool NormalizeAffine(Mat3& a) {
  if (a.m[0][2] != 0 || a.m[1][2] != 0 || a.m[2][2] == 0) return false;
  const double k = 1.0 / a.m[2][2];
  for (auto& row : a.m) {
    for (double& v : row) v *= k;
  }
  return true;
}

// Maps (x, y) by a row-vector matrix; false when the point goes to or
// behind infinity (W <= 0).
inline bool MapPoint(const Mat3& a, double x, double y, double& ox, double& oy) {
  const double w = x * a.m[0][2] + y * a.m[1][2] + a.m[2][2];
  if (!(w > 0)) return false;
  ox = (x * a.m[0][0] + y * a.m[1][0] + a.m[2][0]) / w;
  oy = (x * a.m[0][1] + y * a.m[1][1] + a.m[2][1]) / w;
  return std::isfinite(ox) && std::isfinite(oy);
}

}  // namespace vantrel::host::imaging_internal

#endif  // VANTREL_HOST_IMAGING_MATRIX_H
