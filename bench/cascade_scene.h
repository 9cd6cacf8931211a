// The scene that the module benchmarks render: a 1920x1080 composition with
// one text layer of `pieces` capital letters (boxes of about 48x64 pixels at
// full resolution) whose Position and Scale, and the effect's "Opacity", are
// animated from frame 10 to frame 60. The effect delays piece k by k/4 of a
// frame, so at frame 60 (kCascadeFrame) every piece but the first sits at an
// earlier state of the animation: moved by up to about 60 px, scaled down by
// up to 15 % and faded to as little as 40 % opacity.
#ifndef VANTREL_BENCH_CASCADE_SCENE_H
#define VANTREL_BENCH_CASCADE_SCENE_H

#include <string>

#include "vantrel/host/scene.h"

namespace vantrel::bench {

inline constexpr int kCascadeFrame = 60;

// Indices of the effect's controls in the params array.
inline constexpr int kControlDelayFrames = 1;
inline constexpr int kControlMotionBlurEnable = 14;
inline constexpr int kControlMotionBlurAmount = 15;
inline constexpr int kControlOpacity = 19;

// Capitals only: no dots or accents that merge, none as narrow as an I or as
// wide as a W, so every piece is one glyph of about the same size.
inline std::string CascadeText(int pieces, int per_line) {
  static constexpr char kLetters[] = "ABCDEFGHKLNOPRSTUVXYZ";
  constexpr int kAlphabet = sizeof(kLetters) - 1;
  std::string text;
  for (int i = 0; i < pieces; ++i) {
    if (i > 0 && i % per_line == 0) text += '\n';
    text += kLetters[(i * 5) % kAlphabet];
  }
  return text;
}

// `motion_blur_amount` is the control's percentage; the default benchmark
// amount makes the host draw about eight placements per piece.
inline host::Scene MakeCascadeScene(int pieces, bool motion_blur, double motion_blur_amount = 215) {
  using host::Animated;
  using host::Interpolation;
  using host::Keyframe;
  using host::Vec2;
  host::Scene scene;
  scene.comp.width = 1920;
  scene.comp.height = 1080;
  scene.comp.fps_num = 30;
  scene.comp.fps_den = 1;
  scene.comp.duration_frames = 120;

  host::TextLayerSpec& layer = scene.layer;
  layer.text = CascadeText(pieces, 36);
  layer.font_size = 86;
  layer.tracking = -60;
  layer.leading = 70;
  layer.text_origin = {24, 70};
  layer.anchor_point = Animated<Vec2>::Constant({960, 540});
  layer.position = Animated<Vec2>{{Keyframe<Vec2>{10, {916, 500}, Interpolation::kLinear},
                                   Keyframe<Vec2>{60, {960, 540}, Interpolation::kLinear}}};
  layer.scale = Animated<Vec2>{{Keyframe<Vec2>{10, {85, 85}, Interpolation::kLinear},
                                Keyframe<Vec2>{60, {100, 100}, Interpolation::kLinear}}};

  auto& controls = scene.effect.controls;
  controls[kControlDelayFrames] = Animated<double>::Constant(0.25);
  controls[kControlOpacity] = Animated<double>{{Keyframe<double>{10, 40, Interpolation::kLinear},
                                                Keyframe<double>{60, 100, Interpolation::kLinear}}};
  controls[kControlMotionBlurEnable] = Animated<double>::Constant(motion_blur ? 1 : 0);
  controls[kControlMotionBlurAmount] = Animated<double>::Constant(motion_blur_amount);
  return scene;
}

// The cascade's text in a fast move: the layer travels 77.5 px per frame to
// the right and 20 px per frame down, so that with "Motion Blur Amount" 215
// (3.87 frames) every piece moves about 310 px during its blur, along a
// slant. Rendered at kLongBlurFrame, in the middle of the move; the delay is
// 0.01 frame per piece so that every piece is in the move and on screen.
inline constexpr int kLongBlurFrame = 40;
inline host::Scene MakeLongBlurScene(int pieces) {
  using host::Animated;
  using host::Interpolation;
  using host::Keyframe;
  using host::Vec2;
  host::Scene scene = MakeCascadeScene(pieces, /*motion_blur=*/true);
  scene.layer.position = Animated<Vec2>{
      {Keyframe<Vec2>{10, {960 - 77.5 * 30, 540 - 20 * 30}, Interpolation::kLinear},
       Keyframe<Vec2>{70, {960 + 77.5 * 30, 540 + 20 * 30}, Interpolation::kLinear}}};
  scene.effect.controls[kControlDelayFrames] = Animated<double>::Constant(0.01);
  return scene;
}

}  // namespace vantrel::bench

#endif  // VANTREL_BENCH_CASCADE_SCENE_H
