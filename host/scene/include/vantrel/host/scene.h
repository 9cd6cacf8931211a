// A composition with one text layer and the effect applied to it: what a
// scene file describes and what the host's frame renders.
//
// Times of keys are in frames of the composition. Host time: time_step is 100
// units per frame and time_scale = 100 * fps_num / fps_den (2997 for 30000/1001),
// so frame f is current_time f * 100.
#ifndef VANTREL_HOST_SCENE_H
#define VANTREL_HOST_SCENE_H

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ae_sdk.h"

namespace vantrel::host {

// Interpolation of the segment that leaves a key. Ease is a cubic bezier in
// time with 1/3 influence and zero speed at both keys.
enum class Interpolation { kHold, kLinear, kEase };

template <class T>
struct Keyframe {
  double frame = 0;
  T value{};
  Interpolation interpolation = Interpolation::kLinear;
};

// A property that is a constant (one key) or keyframed.
template <class T>
struct Animated {
  std::vector<Keyframe<T>> keys;  // sorted by frame, at least one

  static Animated Constant(T v) { return Animated{{Keyframe<T>{0, v, Interpolation::kHold}}}; }
  // Before the first and after the last key the value is held.
  T At(double frame) const;
  bool IsAnimated() const { return keys.size() > 1; }
};

struct Vec2 {
  double x = 0;
  double y = 0;
};

// Vec2 keys interpolate componentwise with the segment's one timing curve.
extern template struct Animated<double>;
extern template struct Animated<Vec2>;

struct Composition {
  int width = 1920;
  int height = 1080;
  int fps_num = 30;
  int fps_den = 1;
  int duration_frames = 60;
  PF_Pixel background{255, 0, 0, 0};
};

enum class TextAlign { kLeft, kCenter, kRight };

struct TextLayerSpec {
  std::string text = "Vantrel";     // "\n" separates lines
  std::filesystem::path font_file;  // empty = DejaVu Sans
  int font_index = 0;               // face within a .ttc collection
  double font_size = 72;            // px
  PF_Pixel fill{255, 255, 255, 255};
  double tracking = 0;  // 1/1000 em
  double leading = 0;   // px, 0 = automatic
  TextAlign align = TextAlign::kLeft;
  Vec2 text_origin{0, 0};  // anchor of the first baseline, layer coordinates
  // The layer's own transform. The layer is comp-sized; position in comp
  // pixels, anchor point in layer pixels, scale in percent.
  Animated<Vec2> position = Animated<Vec2>::Constant({0, 0});
  Animated<Vec2> anchor_point = Animated<Vec2>::Constant({0, 0});
  Animated<Vec2> scale = Animated<Vec2>::Constant({100, 100});
};

// The effect's controls by parameter index (1..23, the module's order);
// a control not listed keeps the default the module declares.
struct EffectSettings {
  std::map<int, Animated<double>> controls;
};

struct Scene {
  Composition comp;
  TextLayerSpec layer;
  EffectSettings effect;
  std::filesystem::path source_file;
};

// Host time units per frame at the composition's time scale.
inline constexpr A_long kTimeUnitsPerFrame = 100;

// Units per second: 100 per frame, rounded to an integer for fractional rates
// (30000/1001 gives 2997).
A_u_long TimeScale(const Composition& comp);

// The composition frame (fractional) of a host time, at any time scale. At the
// composition's own time scale this is exactly value / 100; other scales are
// converted to it first, so both agree on what a frame is.
double FrameAt(const A_Time& time, const Composition& comp);

// Downsample 1/n in both axes, as After Effects' resolution menu.
enum class Resolution { kFull = 1, kHalf = 2, kThird = 3, kQuarter = 4 };

}  // namespace vantrel::host

#endif  // VANTREL_HOST_SCENE_H
