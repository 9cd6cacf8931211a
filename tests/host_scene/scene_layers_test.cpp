// The scene's layers and effect as HostLayer / HostEffect.
#include "vantrel/host/scene_layers.h"

#include <gtest/gtest.h>

#include "test_controls.h"
#include "vantrel/host/imaging.h"

namespace vantrel::host {
namespace {

using testing::EffectLikeControls;

Composition Comp30() {
  Composition comp;
  comp.width = 200;
  comp.height = 100;
  comp.fps_num = 30;
  comp.fps_den = 1;
  return comp;
}

A_Time AtFrame(double frame, const Composition& comp) {
  return A_Time{static_cast<A_long>(frame * kTimeUnitsPerFrame), TimeScale(comp)};
}

LayerTransform MovingTransform() {
  LayerTransform t;
  t.position = Animated<Vec2>{{{0, {0, 50}, Interpolation::kLinear}, {20, {400, 50}}}};
  t.anchor_point = Animated<Vec2>::Constant({10, 20});
  t.scale = Animated<Vec2>{{{0, {100, 100}, Interpolation::kHold}, {10, {50, 200}}}};
  return t;
}

TEST(SceneLayer, TransformStreamsAtLayerTimes) {
  const Composition comp = Comp30();
  SolidLayer layer({255, 255, 0, 0}, {0, 0, 10, 10}, MovingTransform(), comp);
  EXPECT_EQ(layer.ObjectType(), AEGP_ObjectType_AV);

  auto position = layer.StreamValue(AEGP_LayerStream_POSITION, AtFrame(5, comp));
  ASSERT_TRUE(position);
  EXPECT_DOUBLE_EQ(position->x, 100);
  EXPECT_DOUBLE_EQ(position->y, 50);
  EXPECT_EQ(position->z, 0);

  auto anchor = layer.StreamValue(AEGP_LayerStream_ANCHORPOINT, AtFrame(5, comp));
  ASSERT_TRUE(anchor);
  EXPECT_EQ(anchor->x, 10);
  EXPECT_EQ(anchor->y, 20);
  EXPECT_EQ(anchor->z, 0);

  auto scale_before = layer.StreamValue(AEGP_LayerStream_SCALE, AtFrame(9.99, comp));
  auto scale_after = layer.StreamValue(AEGP_LayerStream_SCALE, AtFrame(10, comp));
  ASSERT_TRUE(scale_before && scale_after);
  EXPECT_EQ(scale_before->x, 100);
  EXPECT_EQ(scale_after->x, 50);
  EXPECT_EQ(scale_after->y, 200);
  EXPECT_EQ(scale_after->z, 100);

  EXPECT_FALSE(layer.StreamValue(AEGP_LayerStream_ROTATION, AtFrame(0, comp)));
  EXPECT_FALSE(layer.StreamValue(AEGP_LayerStream_OPACITY, AtFrame(0, comp)));
  EXPECT_TRUE(layer.TextOutlines(AtFrame(0, comp)).empty());
}

TEST(SceneLayer, SolidDrawsItsRectangleAtTheDownsampling) {
  const Composition comp = Comp30();
  SolidLayer layer({255, 10, 20, 30}, {20, 10, 60, 30}, LayerTransform{}, comp);
  Image image(100, 50);
  image.at(0, 0) = PF_Pixel{255, 1, 1, 1};  // stale content is overwritten
  PF_EffectWorld world = image.AsWorld();
  layer.DrawSource(world, {1, 2}, {1, 2});
  int lit = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const PF_Pixel& p = image.at(x, y);
      const bool inside = x >= 10 && x < 30 && y >= 5 && y < 15;
      EXPECT_EQ(p.alpha, inside ? 255 : 0) << x << "," << y;
      lit += inside && p.red == 10 && p.green == 20 && p.blue == 30;
    }
  }
  EXPECT_EQ(lit, 20 * 10);
}

TEST(SceneEffect, ControlsAreKeyedValuesOverDeclaredDefaults) {
  const Composition comp = Comp30();
  EffectSettings settings;
  settings.controls[testing::kOpacityIndex] =
      Animated<double>{{{0, 100.0, Interpolation::kLinear}, {10, 0.0}}};
  settings.controls[testing::kSeparationModeIndex] = Animated<double>::Constant(2);
  const SceneEffect effect(settings, EffectLikeControls(), comp);

  EXPECT_EQ(effect.NumParams(), 24);
  EXPECT_DOUBLE_EQ(*effect.ParamValue(testing::kOpacityIndex, AtFrame(2.5, comp)), 75);
  EXPECT_DOUBLE_EQ(*effect.ParamValue(testing::kOpacityIndex, AtFrame(30, comp)), 0);
  EXPECT_EQ(*effect.ParamValue(testing::kSeparationModeIndex, AtFrame(0, comp)), 2);
  // Not keyed: the declared default of each kind.
  EXPECT_EQ(*effect.ParamValue(testing::kDelayIndex, AtFrame(3, comp)), 1.0);
  EXPECT_EQ(*effect.ParamValue(3, AtFrame(3, comp)), 1);  // pop-up
  EXPECT_EQ(*effect.ParamValue(7, AtFrame(3, comp)), 0);  // checkbox off
  EXPECT_EQ(*effect.ParamValue(testing::kEvaluateTangentsIndex, AtFrame(3, comp)), 1);
  EXPECT_EQ(*effect.ParamValue(21, AtFrame(3, comp)), 1000);
  // No one-dimensional stream: the input layer, groups, past the end.
  EXPECT_FALSE(effect.ParamValue(0, AtFrame(0, comp)));
  EXPECT_FALSE(effect.ParamValue(testing::kRangeGroupIndex, AtFrame(0, comp)));
  EXPECT_FALSE(effect.ParamValue(8, AtFrame(0, comp)));
  EXPECT_FALSE(effect.ParamValue(24, AtFrame(0, comp)));
  EXPECT_FALSE(effect.ParamValue(-1, AtFrame(0, comp)));
}

}  // namespace
}  // namespace vantrel::host
