#include "render/piece_transform.h"

#include <cstddef>

#include "render/host_object.h"

namespace vantrel {
namespace {

// The AEGP plug-in identifier passed to the host: the effect has none.
constexpr AEGP_PluginID kNoPluginId = 0;

// The running piece time of position i (see PieceTime), walking the positions
// in order with `time` holding the previous position's time.
A_long NextTime(std::size_t i, const Piece& piece, const DelayChain& chain, A_long time,
                A_long start_time) {
  return PieceTime(static_cast<int32_t>(i), piece, chain.range, time, start_time, chain.delay_time);
}

}  // namespace

PieceTransform MakePieceTransform(const LayerTransform& ref, const LayerTransform& at,
                                  Downsample ds) {
  PieceTransform r;
  r.position_delta_x = (ref.position.x - at.position.x) * ds.x;
  r.position_delta_y = (ref.position.y - at.position.y) * ds.y;
  // The anchor point moves the layer by Scale x Anchor; both terms use the
  // reference Scale so that only the change of the anchor point remains.
  r.anchor_delta_x = (ref.scale.x * 0.01 * ref.anchor.x - ref.scale.x * 0.01 * at.anchor.x) * ds.x;
  r.anchor_delta_y = (ref.scale.y * 0.01 * ref.anchor.y - ref.scale.y * 0.01 * at.anchor.y) * ds.y;
  r.scale_ratio_x = ref.scale.x / at.scale.x;
  r.scale_ratio_y = ref.scale.y / at.scale.y;
  r.position_x = at.position.x * ds.x;
  r.position_y = at.position.y * ds.y;
  return r;
}

void StreamSampler::Fetch(AEGP_LayerStream stream, A_long time, AEGP_ThreeDVal& value) {
  if (error_ != PF_Err_NONE) return;
  const AEGP_StreamSuite4& streams = suites_.Get<AEGP_StreamSuite4>();
  const A_Time at{time, time_scale_};
  AEGP_StreamVal2 fetched{};
  error_ = streams.AEGP_GetLayerStreamValue(layer_, stream, AEGP_LTimeMode_LayerTime, &at,
                                            /*pre_expression=*/false, &fetched, nullptr);
  if (error_ == PF_Err_NONE) value = fetched.three_d;
}

void StreamSampler::FetchParam(AEGP_StreamRefH stream, A_long time, double& value) {
  if (error_ != PF_Err_NONE) return;
  // The value is made by version 8 of the suite and disposed by version 9.
  const AEGP_StreamSuite4& streams9 = suites_.Get<AEGP_StreamSuite4>();
  const AEGP_StreamSuite3& streams8 = suites_.Get<AEGP_StreamSuite3>();
  const A_Time at{time, time_scale_};
  StreamValue fetched(streams9.AEGP_DisposeStreamValue);
  error_ = streams8.AEGP_GetNewStreamValue(kNoPluginId, stream, AEGP_LTimeMode_LayerTime, &at,
                                           /*pre_expression=*/false, fetched.Put());
  if (error_ != PF_Err_NONE) return;
  fetched.MarkFilled();
  value = fetched.get().val.one_d;
}

void StreamSampler::FetchPositionScaleAnchor(A_long time, LayerTransform& t) {
  Fetch(AEGP_LayerStream_POSITION, time, t.position);
  Fetch(AEGP_LayerStream_SCALE, time, t.scale);
  Fetch(AEGP_LayerStream_ANCHORPOINT, time, t.anchor);
}

void StreamSampler::FetchPositionAnchorScale(A_long time, LayerTransform& t) {
  Fetch(AEGP_LayerStream_POSITION, time, t.position);
  Fetch(AEGP_LayerStream_ANCHORPOINT, time, t.anchor);
  Fetch(AEGP_LayerStream_SCALE, time, t.scale);
}

std::vector<PieceTransform> SamplePieceTransforms(StreamSampler& sampler,
                                                  const std::vector<Piece>& pieces,
                                                  const DelayChain& chain,
                                                  const LayerTransform& now,
                                                  AEGP_StreamRefH opacity_stream, Downsample ds) {
  std::vector<PieceTransform> records(pieces.size());
  // Values carry over from piece to piece: after a failed fetch the later
  // records are built from the last values that were fetched.
  LayerTransform at;
  double opacity = 0;
  A_long t = chain.current_time;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    t = NextTime(i, pieces[i], chain, t, chain.current_time);
    sampler.FetchPositionAnchorScale(t, at);
    sampler.FetchParam(opacity_stream, t, opacity);
    records[i] = MakePieceTransform(now, at, ds);
    records[i].opacity_level = OpacityLevel(opacity);
  }
  return records;
}

std::vector<PieceTransform> SampleMotionBlurTransforms(StreamSampler& sampler,
                                                       const std::vector<Piece>& pieces,
                                                       const DelayChain& chain,
                                                       double motion_blur_shift, Downsample ds) {
  std::vector<PieceTransform> records(pieces.size());
  // The sample time starts one shift after the current time (truncated toward
  // zero, like every step of the chain) and then follows the piece times. Near
  // the end of the time range it does not fit and becomes INT32_MIN, as each
  // step of the chain does.
  const A_long sample_start =
      TruncateToInt32(static_cast<double>(chain.current_time) + motion_blur_shift);
  LayerTransform at_sample;
  LayerTransform at_piece;
  A_long tm = sample_start;
  A_long t = chain.current_time;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    tm = NextTime(i, pieces[i], chain, tm, sample_start);
    t = NextTime(i, pieces[i], chain, t, chain.current_time);
    sampler.FetchPositionScaleAnchor(tm, at_sample);
    sampler.FetchPositionAnchorScale(t, at_piece);
    records[i] = MakePieceTransform(at_sample, at_piece, ds);
  }
  return records;
}

}  // namespace vantrel
