#include "render/matrix.h"

#include <gtest/gtest.h>

#include "row_vector.h"

namespace vantrel {
namespace {

using testing::Apply;
using testing::Point;

TEST(Matrix3, StartsAsIdentityAndTranslationGoesIntoThirdRow) {
  Matrix3 m;
  EXPECT_EQ(m, (Matrix3{{1, 0, 0, 0, 1, 0, 0, 0, 1}}));
  AppendTranslate(m, 3.5, -2);
  EXPECT_EQ(m, (Matrix3{{1, 0, 0, 0, 1, 0, 3.5, -2, 1}}));
  AppendTranslate(m, 1, 1);
  EXPECT_EQ(m, (Matrix3{{1, 0, 0, 0, 1, 0, 4.5, -1, 1}}));
}

TEST(Matrix3, AppendScaleIsNoOpOnlyWhenBothFactorsAreOne) {
  Matrix3 m{{1, 0, 0, 0, 1, 0, 7, 9, 1}};
  AppendScale(m, 1.0, 1.0);
  EXPECT_EQ(m, (Matrix3{{1, 0, 0, 0, 1, 0, 7, 9, 1}}));
  AppendScale(m, 1.0, 2.0);
  EXPECT_EQ(m, (Matrix3{{1, 0, 0, 0, 2, 0, 7, 18, 1}}));
  AppendScale(m, 0.5, 1.0);
  EXPECT_EQ(m, (Matrix3{{0.5, 0, 0, 0, 2, 0, 3.5, 18, 1}}));
}

TEST(Matrix3, LaterTransformsApplyAfterEarlierOnes) {
  // Translate, then scale: the translation is scaled too.
  Matrix3 translate_then_scale;
  AppendTranslate(translate_then_scale, 10, 20);
  AppendScale(translate_then_scale, 2, 3);
  const Point a = Apply(translate_then_scale, {1, 1});
  EXPECT_DOUBLE_EQ(a.x, 22);
  EXPECT_DOUBLE_EQ(a.y, 63);

  // Scale, then translate: the translation is not.
  Matrix3 scale_then_translate;
  AppendScale(scale_then_translate, 2, 3);
  AppendTranslate(scale_then_translate, 10, 20);
  const Point b = Apply(scale_then_translate, {1, 1});
  EXPECT_DOUBLE_EQ(b.x, 12);
  EXPECT_DOUBLE_EQ(b.y, 23);
}

TEST(Matrix3, AppendTransformIsTheFullProduct) {
  Matrix3 m{{1, 2, 3, 4, 5, 6, 7, 8, 9}};
  const Matrix3 t{{9, 8, 7, 6, 5, 4, 3, 2, 1}};
  AppendTransform(m, t);
  EXPECT_EQ(m, (Matrix3{{30, 24, 18, 84, 69, 54, 138, 114, 90}}));
}

TEST(Matrix3, ConvertsToTheHostLayoutRowByRow) {
  const Matrix3 m{{1, 2, 3, 4, 5, 6, 7, 8, 9}};
  const PF_FloatMatrix f = ToFloatMatrix(m);
  EXPECT_EQ(f.mat[0][1], 2);
  EXPECT_EQ(f.mat[1][0], 4);
  EXPECT_EQ(f.mat[2][0], 7);
  EXPECT_EQ(f.mat[2][1], 8);
  EXPECT_EQ(f.mat[2][2], 9);
}

}  // namespace
}  // namespace vantrel
