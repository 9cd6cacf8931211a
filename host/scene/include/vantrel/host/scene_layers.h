// The scene's layer and effect as the host's suites see them: keyframed
// transform streams, the text layer's contours, and the effect's controls as
// animation streams.
//
// Times: layer times are host time values (A_Time) at any scale; they are
// turned into composition frames by FrameAt (100 units per frame at the
// composition's time scale). The layer starts at frame 0, so layer time and
// composition time coincide.
#ifndef VANTREL_HOST_SCENE_LAYERS_H
#define VANTREL_HOST_SCENE_LAYERS_H

#include <optional>
#include <vector>

#include "ae_sdk.h"
#include "vantrel/host/layer.h"
#include "vantrel/host/scene.h"
#include "vantrel/host/session.h"
#include "vantrel/host/text_layout.h"

namespace vantrel::host {

// A layer's own transform. The layer is composition-sized; Position in
// composition pixels, Anchor Point in layer pixels, Scale in percent.
struct LayerTransform {
  Animated<Vec2> position = Animated<Vec2>::Constant({0, 0});
  Animated<Vec2> anchor_point = Animated<Vec2>::Constant({0, 0});
  Animated<Vec2> scale = Animated<Vec2>::Constant({100, 100});
};

LayerTransform TransformOf(const TextLayerSpec& text);

// A layer of the scene: the host's view (HostLayer) plus what the frame needs
// to draw it: its source image and its transform.
class SceneLayer : public HostLayer {
 public:
  SceneLayer(LayerTransform transform, const Composition& comp)
      : transform_(std::move(transform)), comp_(comp) {}

  // Position, Anchor Point (x, y, z = 0) and Scale (x, y, z = 100) at a
  // layer time; nullopt for any other stream.
  std::optional<AEGP_ThreeDVal> StreamValue(AEGP_LayerStream stream,
                                            const A_Time& layer_time) const override;

  // Draws the layer's source, before effects, into `world`, which covers the
  // whole layer at the downsample (ds_x, ds_y); every pixel is written.
  virtual void DrawSource(PF_EffectWorld& world, PF_RationalScale ds_x,
                          PF_RationalScale ds_y) const = 0;

  const LayerTransform& transform() const { return transform_; }
  const Composition& comp() const { return comp_; }

 private:
  LayerTransform transform_;
  Composition comp_;
};

// The scene's text layer (AEGP_ObjectType_TEXT). Its text is laid out once,
// at construction; the contours do not change over time.
class TextLayer final : public SceneLayer {
 public:
  // Throws HostError when the font cannot be read or the text is not UTF-8.
  TextLayer(const TextLayerSpec& text, const Composition& comp);
  // A text layer over a given layout (plain contours, tests).
  TextLayer(TextLayout layout, LayerTransform transform, const Composition& comp);

  AEGP_ObjectType ObjectType() const override { return AEGP_ObjectType_TEXT; }
  TextOutlineSet TextOutlines(const A_Time& layer_time) const override;
  void DrawSource(PF_EffectWorld& world, PF_RationalScale ds_x,
                  PF_RationalScale ds_y) const override;

  const TextLayout& layout() const { return layout_; }

 private:
  TextLayout layout_;
};

// A solid or footage layer (AEGP_ObjectType_AV): one colour over a
// rectangle of layer pixels, transparent elsewhere; no text.
class SolidLayer final : public SceneLayer {
 public:
  SolidLayer(PF_Pixel color, PF_Rect rect, LayerTransform transform, const Composition& comp)
      : SceneLayer(std::move(transform), comp), color_(color), rect_(rect) {}

  AEGP_ObjectType ObjectType() const override { return AEGP_ObjectType_AV; }
  TextOutlineSet TextOutlines(const A_Time&) const override { return {}; }
  void DrawSource(PF_EffectWorld& world, PF_RationalScale ds_x,
                  PF_RationalScale ds_y) const override;

 private:
  PF_Pixel color_;
  PF_Rect rect_;  // full-resolution layer pixels, half-open
};

// The effect instance: the scene's keyframed controls over the defaults the
// module declared. Parameter indices are those of the params array (0 is the
// input layer, which has no value stream).
class SceneEffect final : public HostEffect {
 public:
  SceneEffect(EffectSettings settings, std::vector<DeclaredParam> declared,
              const Composition& comp);

  int NumParams() const override { return static_cast<int>(declared_.size()) + 1; }
  // The control's keyframed value, or its declared default: a float slider's
  // value, a pop-up's 1-based choice, a checkbox's 0/1. nullopt for index 0,
  // group starts and ends, and indices past the last control.
  std::optional<double> ParamValue(int param_index, const A_Time& layer_time) const override;
  std::optional<double> ParamValueAtFrame(int param_index, double frame) const;

  const std::vector<DeclaredParam>& declared() const { return declared_; }

 private:
  EffectSettings settings_;
  std::vector<DeclaredParam> declared_;
  Composition comp_;
};

}  // namespace vantrel::host

#endif  // VANTREL_HOST_SCENE_LAYERS_H
