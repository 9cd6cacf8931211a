// Evaluation of keyframed properties and the composition's time conventions.
#include <algorithm>
#include <cmath>

#include "vantrel/host/scene.h"

namespace vantrel::host {
namespace {

double Lerp(double a, double b, double s) { return a + (b - a) * s; }
Vec2 Lerp(const Vec2& a, const Vec2& b, double s) { return {Lerp(a.x, b.x, s), Lerp(a.y, b.y, s)}; }

// Fraction of the way from one key to the next at `u` (0..1 of the segment's
// time). An ease key has a cubic bezier in time whose control points sit at
// 1/3 and 2/3 of the segment (influence 1/3) with zero speed at both keys: the
// time coordinate is then linear in the curve parameter and the value follows
// 3u^2 - 2u^3.
double Progress(Interpolation interpolation, double u) {
  switch (interpolation) {
    case Interpolation::kHold:
      return 0.0;
    case Interpolation::kLinear:
      return u;
    case Interpolation::kEase:
      return u * u * (3.0 - 2.0 * u);
  }
  return u;
}

}  // namespace

template <class T>
T Animated<T>::At(double frame) const {
  if (keys.empty()) return T{};
  if (frame <= keys.front().frame) return keys.front().value;
  if (frame >= keys.back().frame) return keys.back().value;
  // The first key strictly after `frame`; the one before it starts the segment.
  auto next = std::upper_bound(keys.begin(), keys.end(), frame,
                               [](double f, const Keyframe<T>& k) { return f < k.frame; });
  const Keyframe<T>& a = *(next - 1);
  const Keyframe<T>& b = *next;
  const double span = b.frame - a.frame;
  if (span <= 0) return b.value;
  return Lerp(a.value, b.value, Progress(a.interpolation, (frame - a.frame) / span));
}

template struct Animated<double>;
template struct Animated<Vec2>;

A_u_long TimeScale(const Composition& comp) {
  if (comp.fps_num <= 0 || comp.fps_den <= 0) return kTimeUnitsPerFrame;
  return static_cast<A_u_long>(
      std::llround(static_cast<double>(kTimeUnitsPerFrame) * comp.fps_num / comp.fps_den));
}

double FrameAt(const A_Time& time, const Composition& comp) {
  const A_u_long own = TimeScale(comp);
  if (time.scale == own || time.scale == 0)
    return static_cast<double>(time.value) / kTimeUnitsPerFrame;
  return static_cast<double>(time.value) * own /
         (static_cast<double>(time.scale) * kTimeUnitsPerFrame);
}

}  // namespace vantrel::host
