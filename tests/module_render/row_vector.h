// Applying the render's matrices to a point, as row vectors: (x, y, 1) × m.
#ifndef VANTREL_TESTS_MODULE_RENDER_ROW_VECTOR_H
#define VANTREL_TESTS_MODULE_RENDER_ROW_VECTOR_H

#include "ae_sdk.h"
#include "render/matrix.h"

namespace vantrel::testing {

struct Point {
  double x, y;
};

inline Point Apply(const PF_FloatMatrix& m, Point p) {
  return {p.x * m.mat[0][0] + p.y * m.mat[1][0] + m.mat[2][0],
          p.x * m.mat[0][1] + p.y * m.mat[1][1] + m.mat[2][1]};
}

inline Point Apply(const Matrix3& m, Point p) {
  return {p.x * m.at(0, 0) + p.y * m.at(1, 0) + m.at(2, 0),
          p.x * m.at(0, 1) + p.y * m.at(1, 1) + m.at(2, 1)};
}

}  // namespace vantrel::testing

#endif  // VANTREL_TESTS_MODULE_RENDER_ROW_VECTOR_H
