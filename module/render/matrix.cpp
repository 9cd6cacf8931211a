#include "render/matrix.h"

namespace vantrel {

void AppendTransform(Matrix3& m, const Matrix3& t) {
  Matrix3 product;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      product.e[r * 3 + c] =
          m.at(r, 0) * t.at(0, c) + m.at(r, 1) * t.at(1, c) + m.at(r, 2) * t.at(2, c);
    }
  }
  m = product;
}

void AppendTranslate(Matrix3& m, double tx, double ty) {
  Matrix3 t;
  t.e[6] = tx;
  t.e[7] = ty;
  AppendTransform(m, t);
}

void AppendScale(Matrix3& m, double sx, double sy) {
  if (sx == 1.0 && sy == 1.0) return;
  Matrix3 s;
  s.e[0] = sx;
  s.e[4] = sy;
  AppendTransform(m, s);
}

PF_FloatMatrix ToFloatMatrix(const Matrix3& m) {
  PF_FloatMatrix out;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) out.mat[r][c] = m.at(r, c);
  }
  return out;
}

}  // namespace vantrel
