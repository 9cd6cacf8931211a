// Motion blur of transform_world: the placements between two matrices,
// drawn either one by one or, for a motion that is mostly a translation, as
// a few key placements smeared along the motion by a running sum.
#ifndef VANTREL_HOST_IMAGING_MOTION_BLUR_H
#define VANTREL_HOST_IMAGING_MOTION_BLUR_H

#include <cstdint>

#include "ae_sdk.h"
#include "matrix.h"
#include "pixel_rows.h"
#include "transform_walk.h"

namespace vantrel::host::imaging_internal {

// How the blur from matrices[0] to matrices[1] is drawn.
struct MotionBlurPlan {
  // The path: placements interpolated element by element from `from` (t = 0)
  // to `to` (t = 1), matrices in the form src2dst says. Source-to-destination
  // and divided by W whenever both ends are affine, so that every point of the
  // source moves along a straight line at a constant speed.
  Mat3 from, to;
  bool src2dst = true;
  // Evenly spaced placements, both ends included, no more than a pixel apart
  // along any corner's path (MotionBlurSampleCount); 1 for no blur.
  int placements = 1;
  // Smeared: `keys` placements at the middles of equal segments of time,
  // each spread continuously over its segment by the destination motion of
  // the source's centre (vx, vy) per segment. The corners' motion relative to
  // the centre's is at most a pixel per segment.
  bool smear = false;
  int keys = 0;
  double vx = 0, vy = 0;
};

// The plan for the two matrices as the caller gave them, over a source of
// width × height pixels. `copy` (PF_Xfer_COPY, which marks the pixels a
// placement reaches) is drawn placement by placement.
MotionBlurPlan PlanMotionBlur(const Mat3 given[2], bool src2dst, int32_t width, int32_t height,
                              bool copy);

// Draws a smeared plan: `job` holds the source, quality and composite (its
// placements and box are not used); rows outside `clip` and the field are
// left alone.
void DrawSmearedMotionBlur(const TransformJob& job, const MotionBlurPlan& plan, const IRect& clip,
                           PF_Field field, PF_EffectWorld& dst);

}  // namespace vantrel::host::imaging_internal

#endif  // VANTREL_HOST_IMAGING_MOTION_BLUR_H
