#include "render/render.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "binding/suite_cache.h"
#include "params/params.h"
#include "render/composite.h"
#include "render/controls.h"
#include "render/host_object.h"
#include "render/piece_transform.h"
#include "render/tracking.h"
#include "text/text.h"

namespace vantrel {
namespace {

constexpr AEGP_PluginID kNoPluginId = 0;

struct EffectLayer {
  PF_Err err = PF_Err_NONE;  // result of the object-type query
  AEGP_LayerH layer = nullptr;
  bool is_text = false;
};

EffectLayer FindEffectLayer(PF_InData* in_data, SuiteCache& suites) {
  EffectLayer found;
  suites.Get<AEGP_PFInterfaceSuite1>().AEGP_GetEffectLayer(in_data->effect_ref, &found.layer);
  AEGP_ObjectType type = AEGP_ObjectType_NONE;
  found.err = suites.Get<AEGP_LayerSuite5>().AEGP_GetLayerObjectType(found.layer, &type);
  found.is_text = found.err == PF_Err_NONE && type == AEGP_ObjectType_TEXT;
  return found;
}

// The layer's text outlines at the current time; `count` is their number, 0
// when the host cannot tell.
TextOutlines GetTextOutlines(PF_InData* in_data, SuiteCache& suites, AEGP_LayerH layer,
                             int32_t& count) {
  const AEGP_TextLayerSuite1& text = suites.Get<AEGP_TextLayerSuite1>();
  TextOutlines outlines(text.AEGP_DisposeTextOutlines);
  const A_Time now{in_data->current_time, in_data->time_scale};
  text.AEGP_GetNewTextOutlines(layer, &now, outlines.Put());
  count = 0;  // stays 0 when the host cannot count them
  text.AEGP_GetNumTextOutlines(outlines.get(), &count);
  return outlines;
}

// This effect's own instance and the stream of its "Opacity" control. The
// suites that dispose of them are acquired before the objects are made.
// Members are destroyed in reverse order, so on every way out the effect
// reference goes back before the stream, as at the normal end.
struct OpacityStream {
  StreamRef stream;
  EffectRef effect;
};

OpacityStream OpenOpacityStream(PF_InData* in_data, SuiteCache& suites) {
  const AEGP_EffectSuite3& effects = suites.Get<AEGP_EffectSuite3>();
  const AEGP_StreamSuite4& streams = suites.Get<AEGP_StreamSuite4>();
  OpacityStream opened{StreamRef(streams.AEGP_DisposeStream),
                       EffectRef(effects.AEGP_DisposeEffect)};
  suites.Get<AEGP_PFInterfaceSuite1>().AEGP_GetNewEffectForEffect(kNoPluginId, in_data->effect_ref,
                                                                  opened.effect.Put());
  streams.AEGP_GetNewEffectStreamByIndex(kNoPluginId, opened.effect.get(), kParamOpacity,
                                         opened.stream.Put());
  return opened;
}

// Selects the delayed range and puts its pieces into delay order in place.
PieceRange OrderDelayedRange(std::vector<Piece>& pieces, const RenderControls& controls) {
  const auto count = static_cast<int32_t>(pieces.size());
  PieceRange range = SelectRange(controls.range, count);
  range.first = std::clamp(range.first, 0, count);
  range.end = std::clamp(range.end, range.first, count);
  std::vector<Piece> delayed(pieces.begin() + range.first, pieces.begin() + range.end);
  OrderPieces(delayed, controls.order_mode, static_cast<int32_t>(delayed.size()), controls.seed);
  std::copy(delayed.begin(), delayed.end(), pieces.begin() + range.first);
  return range;
}

// Everything after the outlines have been counted: analysis, ordering,
// sampling and compositing. Returns the render's error code.
PF_Err RenderPieces(PF_InData* in_data, SuiteCache& suites, PF_ParamDef* params[],
                    PF_LayerDef* output, const RenderControls& controls, AEGP_LayerH layer,
                    TextOutlines outlines, int32_t count) {
  std::vector<Piece> pieces(static_cast<std::size_t>(count));
  std::vector<VertexList> vertex_lists(static_cast<std::size_t>(count));
  const Downsample ds{DownsampleFactor(in_data->downsample_x),
                      DownsampleFactor(in_data->downsample_y)};
  StreamSampler sampler(suites, layer, in_data->time_scale);
  LayerTransform now;  // what cannot be fetched stays 0
  sampler.FetchPositionScaleAnchor(in_data->current_time, now);
  OpacityStream opacity = OpenOpacityStream(in_data, suites);

  // The separation distance is in outline coordinates (full resolution); the
  // tracking step in render pixels.
  const double threshold = controls.separation_threshold * (now.scale.x * 0.01);
  const double tracking_step = ((now.scale.x * 0.01) * controls.tracking_amount) * ds.x;
  BuildTextPieces(in_data, threshold, pieces, vertex_lists, count, outlines.get(),
                  controls.word_mode, controls.evaluate_tangents);
  outlines.Reset();
  pieces.resize(std::min(pieces.size(), static_cast<std::size_t>(std::max(count, 0))));

  const std::vector<int32_t> line_counts = CountLinePieces(pieces);
  if (pieces.size() >= 2) {
    ComputeTrackingOffsets(pieces, line_counts, tracking_step, controls.tracking_alignment);
  }
  const PieceRange range = OrderDelayedRange(pieces, controls);
  const DelayChain chain{in_data->current_time, controls.delay_time, range};
  const std::vector<PieceTransform> transforms =
      SamplePieceTransforms(sampler, pieces, chain, now, opacity.stream.get(), ds);
  std::vector<PieceTransform> blur_transforms(pieces.size());
  if (controls.motion_blur) {
    blur_transforms =
        SampleMotionBlurTransforms(sampler, pieces, chain, controls.motion_blur_shift, ds);
  }
  const CompositeOptions options{{controls.range_guide, controls.separation_guide, range},
                                 controls.motion_blur};
  CompositePieces(in_data, suites, &params[kParamInput]->u.ld, pieces, transforms, blur_transforms,
                  options, output);
  opacity.effect.Reset();  // the effect reference first, then its stream
  opacity.stream.Reset();
  return sampler.error();
}

}  // namespace

PF_Err Render(PF_InData* in_data, PF_ParamDef* params[], PF_LayerDef* output) {
  SuiteCache suites(in_data->pica_basicP);
  const EffectLayer effect_layer = FindEffectLayer(in_data, suites);
  if (!effect_layer.is_text) return effect_layer.err;  // output left as the host gave it

  in_data->utils->fill(in_data->effect_ref, nullptr, nullptr, output);  // transparent black
  const RenderControls controls = ReadControls(params, in_data->time_step);
  int32_t count = 0;
  TextOutlines outlines = GetTextOutlines(in_data, suites, effect_layer.layer, count);
  if (count < 1) return effect_layer.err;  // no text: the output stays transparent
  return RenderPieces(in_data, suites, params, output, controls, effect_layer.layer,
                      std::move(outlines), count);
}

}  // namespace vantrel
