// The layer transform at each piece's time, as a difference from a reference
// transform, and the sampling of the host's streams that feeds it.
#ifndef VANTREL_MODULE_RENDER_PIECE_TRANSFORM_H
#define VANTREL_MODULE_RENDER_PIECE_TRANSFORM_H

#include <cstdint>
#include <vector>

#include "ae_sdk.h"
#include "binding/suite_cache.h"
#include "text/text.h"

namespace vantrel {

// The layer's own Position, Anchor Point and Scale at one time, as the host
// reports them: layer pixels at full resolution, Scale in percent.
struct LayerTransform {
  AEGP_ThreeDVal position{};
  AEGP_ThreeDVal anchor{};
  AEGP_ThreeDVal scale{};
};

// Horizontal and vertical downsample factors of the render.
struct Downsample {
  double x = 1;
  double y = 1;
};

// How a piece's placement differs between a reference time (the current time,
// or the motion-blur sample time) and the piece's time t. Deltas and positions
// are in render pixels; the ratios are reference Scale over Scale at t.
struct PieceTransform {
  double position_delta_x = 0;
  double position_delta_y = 0;
  double anchor_delta_x = 0;
  double anchor_delta_y = 0;
  double scale_ratio_x = 0;
  double scale_ratio_y = 0;
  double opacity_level = 0;  // 0..255 for "Opacity" 0..100
  double position_x = 0;     // Position at t
  double position_y = 0;
};

// The record for reference transform `ref` and transform `at` of the piece's
// time; opacity_level stays 0.
PieceTransform MakePieceTransform(const LayerTransform& ref, const LayerTransform& at,
                                  Downsample ds);

// "Opacity" in percent to the level that the composite opacity is taken from.
inline double OpacityLevel(double opacity_percent) { return opacity_percent * 2.55; }

// Fetches the layer's streams for one render. The first failing fetch becomes
// the error and every later fetch is skipped; a skipped or failed fetch leaves
// its destination as it was.
class StreamSampler {
 public:
  StreamSampler(SuiteCache& suites, AEGP_LayerH layer, A_u_long time_scale)
      : suites_(suites), layer_(layer), time_scale_(time_scale) {}

  PF_Err error() const { return error_; }

  // One layer stream at layer time `time`, post-expression.
  void Fetch(AEGP_LayerStream stream, A_long time, AEGP_ThreeDVal& value);
  // The value of `stream` (a one-dimensional effect parameter) at `time`.
  void FetchParam(AEGP_StreamRefH stream, A_long time, double& value);

  // Position, then Scale, then Anchor Point.
  void FetchPositionScaleAnchor(A_long time, LayerTransform& t);
  // Position, then Anchor Point, then Scale.
  void FetchPositionAnchorScale(A_long time, LayerTransform& t);

 private:
  SuiteCache& suites_;
  AEGP_LayerH layer_;
  A_u_long time_scale_;
  PF_Err error_ = PF_Err_NONE;
};

// What the piece-time rule needs: the current time, the delay between
// consecutive pieces in layer time units, and the delayed range.
struct DelayChain {
  A_long current_time = 0;
  double delay_time = 0;
  PieceRange range{0, 0};
};

// One record per piece in delay order, taken at each piece's time against the
// current-time transform `now`, with "Opacity" read from `opacity_stream`.
std::vector<PieceTransform> SamplePieceTransforms(StreamSampler& sampler,
                                                  const std::vector<Piece>& pieces,
                                                  const DelayChain& chain,
                                                  const LayerTransform& now,
                                                  AEGP_StreamRefH opacity_stream, Downsample ds);

// The motion-blur records: each piece's time t against a sample time tm that
// runs the same delay chain from current_time + shift (shift in layer time
// units). opacity_level stays 0.
std::vector<PieceTransform> SampleMotionBlurTransforms(StreamSampler& sampler,
                                                       const std::vector<Piece>& pieces,
                                                       const DelayChain& chain,
                                                       double motion_blur_shift, Downsample ds);

}  // namespace vantrel

#endif  // VANTREL_MODULE_RENDER_PIECE_TRANSFORM_H
