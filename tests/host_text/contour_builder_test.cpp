#include "contour_builder.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace vantrel::host::text {
namespace {

// "(x,y in ix,iy out ox,oy)" per vertex, one contour per line.
std::string Describe(const TextOutlineSet& set) {
  std::ostringstream s;
  for (const OutlinePath& path : set) {
    for (const PF_PathVertex& v : path.vertices) {
      s << "(" << v.x << "," << v.y << " in " << v.tan_in_x << "," << v.tan_in_y << " out "
        << v.tan_out_x << "," << v.tan_out_y << ")";
    }
    s << (path.open ? " open" : "") << "\n";
  }
  return s.str();
}

TEST(ContourBuilder, StraightSegmentsCarryTheirOwnPointsAsTangents) {
  ContourBuilder b;
  b.MoveTo({0, 0});
  b.LineTo({10, 0});
  b.LineTo({10, 10});
  b.LineTo({0, 0});  // FreeType's explicit closing segment
  EXPECT_EQ(Describe(b.Finish()),
            "(0,0 in 0,0 out 0,0)(10,0 in 10,0 out 10,0)(10,10 in 10,10 out 10,10)\n");
}

TEST(ContourBuilder, ClosingCurveControlLandsOnVertexZerosTanIn) {
  ContourBuilder b;
  b.MoveTo({0, 0});
  b.LineTo({30, 0});
  b.CubicTo({40, 10}, {10, 20}, {0, 0});
  EXPECT_EQ(Describe(b.Finish()), "(0,0 in 10,20 out 0,0)(30,0 in 30,0 out 40,10)\n");
}

TEST(ContourBuilder, ZeroLengthLinesAndLoneMovesAddNothing) {
  ContourBuilder b;
  b.MoveTo({5, 5});  // a move without drawing is no contour
  b.MoveTo({0, 0});
  b.LineTo({0, 0});
  b.LineTo({8, 0});
  b.LineTo({8, 0});
  b.LineTo({0, 6});
  b.LineTo({0, 0});
  const TextOutlineSet set = b.Finish();
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].vertices.size(), 3u);
  EXPECT_FALSE(set[0].open);
}

TEST(ContourBuilder, QuadraticIsRaisedToTheCubicOfTheSameCurve) {
  const Point p0{0, 0}, q{30, 60}, p1{90, 0};
  ContourBuilder b;
  b.MoveTo(p0);
  b.QuadTo(q, p1);
  b.LineTo(p0);
  const TextOutlineSet set = b.Finish();
  ASSERT_EQ(set.size(), 1u);
  ASSERT_EQ(set[0].vertices.size(), 2u);
  const PF_PathVertex& a = set[0].vertices[0];
  const PF_PathVertex& c = set[0].vertices[1];
  // The controls sit 2/3 of the way from each end towards q: on the
  // quadratic's hull, so control boxes of both forms agree.
  EXPECT_DOUBLE_EQ(a.tan_out_x, 20);
  EXPECT_DOUBLE_EQ(a.tan_out_y, 40);
  EXPECT_DOUBLE_EQ(c.tan_in_x, 50);
  EXPECT_DOUBLE_EQ(c.tan_in_y, 40);
  // Same curve: the cubic's midpoint equals the quadratic's.
  const double cubic_mid_x = (a.x + 3 * a.tan_out_x + 3 * c.tan_in_x + c.x) / 8;
  const double cubic_mid_y = (a.y + 3 * a.tan_out_y + 3 * c.tan_in_y + c.y) / 8;
  EXPECT_DOUBLE_EQ(cubic_mid_x, (p0.x + 2 * q.x + p1.x) / 4);
  EXPECT_DOUBLE_EQ(cubic_mid_y, (p0.y + 2 * q.y + p1.y) / 4);
}

TEST(ContourBuilder, EachMoveStartsANewContour) {
  ContourBuilder b;
  b.MoveTo({0, 0});
  b.LineTo({4, 0});
  b.LineTo({4, 4});
  b.MoveTo({10, 10});
  b.LineTo({12, 10});
  b.LineTo({12, 12});
  const TextOutlineSet set = b.Finish();
  ASSERT_EQ(set.size(), 2u);
  EXPECT_EQ(set[1].vertices[0].x, 10);
}

}  // namespace
}  // namespace vantrel::host::text
