// Keyframe interpolation and the composition's time conventions.
#include <gtest/gtest.h>

#include "vantrel/host/scene.h"

namespace vantrel::host {
namespace {

Animated<double> TwoKeys(Interpolation interpolation) {
  return Animated<double>{{{10, 0.0, interpolation}, {20, 100.0, Interpolation::kLinear}}};
}

TEST(Animated, HoldKeepsTheValueUntilTheNextKey) {
  const Animated<double> a = TwoKeys(Interpolation::kHold);
  EXPECT_EQ(a.At(10), 0.0);
  EXPECT_EQ(a.At(19.99), 0.0);
  EXPECT_EQ(a.At(20), 100.0);
}

TEST(Animated, LinearIsProportionalToTime) {
  const Animated<double> a = TwoKeys(Interpolation::kLinear);
  EXPECT_DOUBLE_EQ(a.At(12.5), 25.0);
  EXPECT_DOUBLE_EQ(a.At(15), 50.0);
  EXPECT_DOUBLE_EQ(a.At(17.5), 75.0);
}

TEST(Animated, EaseStartsAndEndsSlowlyAndIsSymmetric) {
  const Animated<double> a = TwoKeys(Interpolation::kEase);
  EXPECT_DOUBLE_EQ(a.At(15), 50.0);
  const double quarter = a.At(12.5);
  EXPECT_LT(quarter, 25.0);
  EXPECT_GT(quarter, 0.0);
  EXPECT_DOUBLE_EQ(quarter, 15.625);  // 3u^2 - 2u^3 at u = 1/4
  EXPECT_DOUBLE_EQ(a.At(17.5), 100.0 - quarter);
  // Zero speed at the keys: the first tenth of the time covers under 3 %.
  EXPECT_LT(a.At(11), 3.0);
  EXPECT_GT(a.At(19), 97.0);
  double previous = a.At(10);
  for (double f = 10.25; f <= 20; f += 0.25) {
    EXPECT_GE(a.At(f), previous) << "at frame " << f;
    previous = a.At(f);
  }
}

TEST(Animated, ValuesOutsideTheKeysAreHeld) {
  const Animated<double> a = TwoKeys(Interpolation::kEase);
  EXPECT_EQ(a.At(-5), 0.0);
  EXPECT_EQ(a.At(0), 0.0);
  EXPECT_EQ(a.At(25), 100.0);
  EXPECT_EQ(a.At(1e6), 100.0);
  const Animated<double> constant = Animated<double>::Constant(7.5);
  EXPECT_FALSE(constant.IsAnimated());
  EXPECT_EQ(constant.At(-100), 7.5);
  EXPECT_EQ(constant.At(100), 7.5);
}

TEST(Animated, EachSegmentTakesTheInterpolationOfTheKeyItLeaves) {
  const Animated<double> a{{{0, 0.0, Interpolation::kHold},
                            {10, 10.0, Interpolation::kLinear},
                            {20, 30.0, Interpolation::kEase},
                            {30, 50.0, Interpolation::kLinear}}};
  EXPECT_EQ(a.At(5), 0.0);               // hold
  EXPECT_DOUBLE_EQ(a.At(15), 20.0);      // linear
  EXPECT_DOUBLE_EQ(a.At(25), 40.0);      // ease midpoint
  EXPECT_DOUBLE_EQ(a.At(22.5), 33.125);  // ease quarter: 30 + 20 x 0.15625, below linear 35
  EXPECT_DOUBLE_EQ(a.At(10), 10.0);      // exactly on a key
}

TEST(Animated, Vec2InterpolatesEachComponent) {
  const Animated<Vec2> a{{{0, {0, 100}, Interpolation::kLinear}, {10, {400, 50}}}};
  const Vec2 mid = a.At(5);
  EXPECT_DOUBLE_EQ(mid.x, 200);
  EXPECT_DOUBLE_EQ(mid.y, 75);
  const Animated<Vec2> eased{{{0, {0, 100}, Interpolation::kEase}, {10, {400, 50}}}};
  const Vec2 quarter = eased.At(2.5);
  EXPECT_DOUBLE_EQ(quarter.x, 400 * 0.15625);
  EXPECT_DOUBLE_EQ(quarter.y, 100 - 50 * 0.15625);
}

TEST(SceneTime, TimeScaleIsOneHundredUnitsPerFrame) {
  Composition comp;
  comp.fps_num = 30;
  comp.fps_den = 1;
  EXPECT_EQ(TimeScale(comp), 3000u);
  comp.fps_num = 30000;
  comp.fps_den = 1001;
  EXPECT_EQ(TimeScale(comp), 2997u);
  EXPECT_EQ(TimeScale(Composition{1920, 1080, 25, 1, 60, {}}), 2500u);
}

TEST(SceneTime, FramesFromHostTimes) {
  Composition comp;
  comp.fps_num = 30000;
  comp.fps_den = 1001;
  // At the composition's own scale a frame is exactly 100 units.
  EXPECT_DOUBLE_EQ(FrameAt(A_Time{1250, 2997}, comp), 12.5);
  EXPECT_DOUBLE_EQ(FrameAt(A_Time{-300, 2997}, comp), -3.0);
  // Another scale is converted to the composition's first.
  comp.fps_num = 30;
  comp.fps_den = 1;
  EXPECT_DOUBLE_EQ(FrameAt(A_Time{15, 30}, comp), 15.0);
  EXPECT_DOUBLE_EQ(FrameAt(A_Time{1, 2}, comp), 15.0);
}

}  // namespace
}  // namespace vantrel::host
