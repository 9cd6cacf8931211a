// Turns a glyph's drawing commands (move, line, quadratic, cubic) into the
// host's contour form: on-curve vertices with absolute tangent points.
#ifndef VANTREL_HOST_TEXT_CONTOUR_BUILDER_H
#define VANTREL_HOST_TEXT_CONTOUR_BUILDER_H

#include <vector>

#include "vantrel/host/layer.h"

namespace vantrel::host::text {

struct Point {
  double x = 0, y = 0;
};

// Collects closed contours. Coordinates are passed through unchanged: the
// caller picks the space (font units here, y up) and transforms afterwards.
//
// A vertex's tan_in is the control point of the segment arriving at it and
// tan_out that of the segment leaving it; the ends of a straight segment
// carry their own point. A quadratic segment (p0, q, p1) is raised to the
// cubic with controls p0 + 2/3 (q - p0) and p1 + 2/3 (q - p1), which draws
// the same curve. The segment that closes a contour ends on vertex 0, so its
// second control point becomes vertex 0's tan_in and no vertex is repeated.
class ContourBuilder {
 public:
  void MoveTo(Point p);
  void LineTo(Point p);
  void QuadTo(Point control, Point p);
  void CubicTo(Point c1, Point c2, Point p);

  // Ends the last contour and hands over everything collected.
  TextOutlineSet Finish();

 private:
  void CloseContour();
  void SegmentTo(Point c1, Point c2, Point p);

  TextOutlineSet done_;
  std::vector<PF_PathVertex> open_;
  Point current_;
};

}  // namespace vantrel::host::text

#endif  // VANTREL_HOST_TEXT_CONTOUR_BUILDER_H
