// 3x3 matrices in the layout of the host's PF_FloatMatrix.
#ifndef VANTREL_MODULE_RENDER_MATRIX_H
#define VANTREL_MODULE_RENDER_MATRIX_H

#include <array>

#include "ae_sdk.h"

namespace vantrel {

// Nine doubles, row by row. Points are row vectors, (x, y, 1) x M: a
// translation sits in the third row (elements 6 and 7), a scale on the
// diagonal, and element 8 is 1 for the affine matrices built here.
struct Matrix3 {
  std::array<double, 9> e{1, 0, 0, 0, 1, 0, 0, 0, 1};

  double at(int row, int col) const { return e[row * 3 + col]; }
  bool operator==(const Matrix3&) const = default;
};

// M := M x T, the full 3x3 product. A transform appended later applies to a
// point after those appended before it.
void AppendTransform(Matrix3& m, const Matrix3& t);

// Appends the translation by (tx, ty).
void AppendTranslate(Matrix3& m, double tx, double ty);

// Appends the scale (sx, sy, 1); does nothing when sx and sy both compare
// equal to 1, so an unscaled matrix keeps its exact elements.
void AppendScale(Matrix3& m, double sx, double sy);

PF_FloatMatrix ToFloatMatrix(const Matrix3& m);

}  // namespace vantrel

#endif  // VANTREL_MODULE_RENDER_MATRIX_H
