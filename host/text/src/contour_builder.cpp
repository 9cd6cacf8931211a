#include "contour_builder.h"

namespace vantrel::host::text {
namespace {

PF_PathVertex Vertex(Point p, Point in, Point out) {
  return PF_PathVertex{p.x, p.y, in.x, in.y, out.x, out.y};
}

bool Same(double ax, double ay, Point b) { return ax == b.x && ay == b.y; }

}  // namespace

void ContourBuilder::MoveTo(Point p) {
  CloseContour();
  open_.push_back(Vertex(p, p, p));
  current_ = p;
}

void ContourBuilder::LineTo(Point p) {
  // FreeType closes every contour with an explicit segment back to its start,
  // a zero-length line when the last point already is the start; such
  // segments add nothing.
  if (p.x == current_.x && p.y == current_.y) return;
  SegmentTo(current_, p, p);
}

void ContourBuilder::QuadTo(Point q, Point p) {
  const Point p0 = current_;
  const Point c1{p0.x + 2.0 / 3.0 * (q.x - p0.x), p0.y + 2.0 / 3.0 * (q.y - p0.y)};
  const Point c2{p.x + 2.0 / 3.0 * (q.x - p.x), p.y + 2.0 / 3.0 * (q.y - p.y)};
  SegmentTo(c1, c2, p);
}

void ContourBuilder::CubicTo(Point c1, Point c2, Point p) { SegmentTo(c1, c2, p); }

void ContourBuilder::SegmentTo(Point c1, Point c2, Point p) {
  if (open_.empty()) MoveTo(current_);  // a segment without a move starts at the pen
  open_.back().tan_out_x = c1.x;
  open_.back().tan_out_y = c1.y;
  open_.push_back(Vertex(p, c2, p));
  current_ = p;
}

void ContourBuilder::CloseContour() {
  if (open_.empty()) return;
  if (open_.size() > 1 && Same(open_.back().x, open_.back().y, Point{open_[0].x, open_[0].y})) {
    // The closing segment arrived at vertex 0: its incoming control belongs
    // to vertex 0, and the repeated point goes.
    open_[0].tan_in_x = open_.back().tan_in_x;
    open_[0].tan_in_y = open_.back().tan_in_y;
    open_.pop_back();
  }
  // A single point (a move without drawing) is no contour.
  if (open_.size() > 1) done_.push_back(OutlinePath{std::move(open_), false});
  open_.clear();
}

TextOutlineSet ContourBuilder::Finish() {
  CloseContour();
  return std::move(done_);
}

}  // namespace vantrel::host::text
