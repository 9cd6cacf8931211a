#include "vantrel/host/scene_layers.h"

#include <cmath>

#include "vantrel/host/imaging.h"

namespace vantrel::host {
namespace {

TextStyle StyleOf(const TextLayerSpec& text) {
  TextStyle style;
  if (!text.font_file.empty()) {
    style.font_file = text.font_file;
    style.font_index = text.font_index;
  }
  style.size_px = text.font_size;
  style.fill = text.fill;
  style.tracking = text.tracking;
  style.leading = text.leading;
  switch (text.align) {
    case TextAlign::kLeft:
      style.align = TextStyle::Align::kLeft;
      break;
    case TextAlign::kCenter:
      style.align = TextStyle::Align::kCenter;
      break;
    case TextAlign::kRight:
      style.align = TextStyle::Align::kRight;
      break;
  }
  return style;
}

// A full-resolution layer coordinate at a downsample, rounded to the nearest
// pixel edge so that a rectangle keeps its size at integer factors.
A_long Downsampled(A_long v, PF_RationalScale ds) {
  if (ds.den == 0) return v;
  return static_cast<A_long>(std::lround(static_cast<double>(v) * ds.num / ds.den));
}

}  // namespace

LayerTransform TransformOf(const TextLayerSpec& text) {
  return LayerTransform{text.position, text.anchor_point, text.scale};
}

std::optional<AEGP_ThreeDVal> SceneLayer::StreamValue(AEGP_LayerStream stream,
                                                      const A_Time& layer_time) const {
  const double frame = FrameAt(layer_time, comp_);
  switch (stream) {
    case AEGP_LayerStream_POSITION: {
      const Vec2 v = transform_.position.At(frame);
      return AEGP_ThreeDVal{v.x, v.y, 0};
    }
    case AEGP_LayerStream_ANCHORPOINT: {
      const Vec2 v = transform_.anchor_point.At(frame);
      return AEGP_ThreeDVal{v.x, v.y, 0};
    }
    case AEGP_LayerStream_SCALE: {
      const Vec2 v = transform_.scale.At(frame);
      return AEGP_ThreeDVal{v.x, v.y, 100};
    }
    default:
      return std::nullopt;
  }
}

TextLayer::TextLayer(const TextLayerSpec& text, const Composition& comp)
    : TextLayer(
          TextLayout::Create(text.text, StyleOf(text), text.text_origin.x, text.text_origin.y),
          TransformOf(text), comp) {}

TextLayer::TextLayer(TextLayout layout, LayerTransform transform, const Composition& comp)
    : SceneLayer(std::move(transform), comp), layout_(std::move(layout)) {}

TextOutlineSet TextLayer::TextOutlines(const A_Time&) const { return layout_.Outlines(); }

void TextLayer::DrawSource(PF_EffectWorld& world, PF_RationalScale ds_x,
                           PF_RationalScale ds_y) const {
  layout_.Rasterize(world, ds_x, ds_y);
}

void SolidLayer::DrawSource(PF_EffectWorld& world, PF_RationalScale ds_x,
                            PF_RationalScale ds_y) const {
  Fill(world, nullptr, nullptr);
  const PF_Rect rect{Downsampled(rect_.left, ds_x), Downsampled(rect_.top, ds_y),
                     Downsampled(rect_.right, ds_x), Downsampled(rect_.bottom, ds_y)};
  Fill(world, &color_, &rect);
}

SceneEffect::SceneEffect(EffectSettings settings, std::vector<DeclaredParam> declared,
                         const Composition& comp)
    : settings_(std::move(settings)), declared_(std::move(declared)), comp_(comp) {}

std::optional<double> SceneEffect::ParamValue(int param_index, const A_Time& layer_time) const {
  return ParamValueAtFrame(param_index, FrameAt(layer_time, comp_));
}

std::optional<double> SceneEffect::ParamValueAtFrame(int param_index, double frame) const {
  if (param_index < 1 || param_index >= NumParams()) return std::nullopt;
  const PF_ParamDef& def = declared_[static_cast<std::size_t>(param_index - 1)].def;
  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
    case PF_Param_POPUP:
    case PF_Param_CHECKBOX:
      break;
    default:
      return std::nullopt;
  }
  if (auto it = settings_.controls.find(param_index); it != settings_.controls.end()) {
    return it->second.At(frame);
  }
  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
      return def.u.fs_d.value;
    case PF_Param_POPUP:
      return def.u.pd.dephault;
    default:
      return def.u.bd.dephault;
  }
}

}  // namespace vantrel::host
