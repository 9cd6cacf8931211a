// transform_world of the stand-in host: checks the call, makes the
// placements (several for motion blur) and the premultiplied source, and
// draws the covered rows, large areas in bands on the shared pool.
#include <algorithm>
#include <cmath>
#include <vector>

#include "matrix.h"
#include "motion_blur.h"
#include "pixel_rows.h"
#include "premultiplied_source.h"
#include "transform_walk.h"
#include "vantrel/host/imaging.h"
#include "vantrel/host/thread_pool.h"

namespace vantrel::host {

using namespace imaging_internal;

int MotionBlurSampleCount(double motion_px) {
  if (std::isnan(motion_px)) return kMaxMotionBlurSamples;
  if (motion_px < 1.0 / 64) return 1;
  if (motion_px >= kMaxMotionBlurSamples) return kMaxMotionBlurSamples;
  return std::min(kMaxMotionBlurSamples, static_cast<int>(std::ceil(motion_px)) + 1);
}

namespace {

// The sources' storage is kept per thread between calls, unless a call grew
// it beyond kKeptPremulPixels: then it is given back as the call returns.
template <class T>
struct TrimOnReturn {
  std::vector<T>& kept;
  ~TrimOnReturn() {
    if (kept.size() > kKeptPremulPixels) std::vector<T>().swap(kept);
  }
};

}  // namespace

PF_Err TransformWorld(PF_Quality quality, PF_ModeFlags mode_flags, PF_Field field,
                      const PF_EffectWorld& src, const PF_CompositeMode& comp_mode,
                      const PF_MaskWorld* mask, const PF_FloatMatrix* matrices, int count,
                      bool src2dst, const PF_Rect* dest_rect, PF_EffectWorld& dst) {
  if (!IsValidWorld(src) || !IsValidWorld(dst)) return PF_Err_BAD_CALLBACK_PARAM;
  if (count != 1 && count != 2) return PF_Err_BAD_CALLBACK_PARAM;
  if (!matrices || mask) return PF_Err_BAD_CALLBACK_PARAM;
  if (comp_mode.rgb_only) return PF_Err_BAD_CALLBACK_PARAM;
  if (comp_mode.xfer != PF_Xfer_IN_FRONT && comp_mode.xfer != PF_Xfer_BEHIND &&
      comp_mode.xfer != PF_Xfer_COPY) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (mode_flags != PF_MF_Alpha_STRAIGHT && mode_flags != PF_MF_Alpha_PREMUL) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (field != PF_Field_FRAME && field != PF_Field_UPPER && field != PF_Field_LOWER) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const Mat3 given[2] = {FromPF(matrices[0]), FromPF(matrices[count - 1])};
  if (!IsFinite(given[0]) || !IsFinite(given[1])) return PF_Err_BAD_CALLBACK_PARAM;

  if (src.width == 0 || src.height == 0) return PF_Err_NONE;
  if (comp_mode.opacity == 0 && comp_mode.xfer != PF_Xfer_COPY) return PF_Err_NONE;
  const IRect clip = Intersect(RectOr(dest_rect, dst), WholeOf(dst));
  if (clip.empty()) return PF_Err_NONE;

  TransformJob job;
  job.bilinear = quality == PF_Quality_HI;
  job.xfer = comp_mode.xfer;
  job.opacity = comp_mode.opacity / 255.0f;
  job.premultiplied = mode_flags == PF_MF_Alpha_PREMUL;
  const double lo = job.bilinear ? -0.5 : 0.0;
  const double hi_u = job.bilinear ? src.width + 0.5 : src.width;
  const double hi_v = job.bilinear ? src.height + 0.5 : src.height;

  // Motion blur: placements along the path between the two matrices, drawn
  // one by one or as key placements smeared along the motion.
  MotionBlurPlan plan;
  if (count == 2) {
    plan = PlanMotionBlur(given, src2dst, src.width, src.height, job.xfer == PF_Xfer_COPY);
  }
  if (!plan.smear) {
    const int samples = plan.placements;
    for (int k = 0; k < samples; ++k) {
      Placement p;
      // One sample: the last placement, the one at the frame's time.
      const bool made = samples > 1 ? MakePlacement(Lerp(plan.from, plan.to, (k + 0.5) / samples),
                                                    plan.src2dst, lo, hi_u, lo, hi_v, p)
                                    : MakePlacement(given[1], src2dst, lo, hi_u, lo, hi_v, p);
      // A placement whose matrix cannot be inverted draws nothing and still
      // counts in the average.
      if (made) job.placements.push_back(p);
    }
    if (job.placements.empty()) return PF_Err_NONE;
    job.coverage_scale = 1.0f / samples;

    IRect box = job.placements[0].box;
    for (const Placement& p : job.placements) {
      box = {std::min(box.left, p.box.left), std::min(box.top, p.box.top),
             std::max(box.right, p.box.right), std::max(box.bottom, p.box.bottom)};
    }
    job.box = Intersect(box, clip);
    if (job.box.empty()) return PF_Err_NONE;
  }

  // Text in one fill is drawn from its alpha alone.
  if (!plan.smear && TakesAlphaWalk(job, src.width, src.height)) {
    thread_local std::vector<float> alpha;
    const TrimOnReturn<float> trim{alpha};
    AlphaSource source;
    if (MakeAlphaSource(src, alpha, source)) {
      if (!source.layout.any_ink) return PF_Err_NONE;
      if (DrawAlphaRows(job, source, field, dst)) return PF_Err_NONE;
    }
  }
  thread_local std::vector<Px> storage;
  const TrimOnReturn<Px> trim{storage};
  const PremulSource premul = MakePremulSource(src, job.premultiplied, storage);
  // A transparent source changes nothing except where COPY replaces pixels.
  if (!premul.any_ink && job.xfer != PF_Xfer_COPY) return PF_Err_NONE;
  job.src = &premul;
  if (plan.smear) {
    DrawSmearedMotionBlur(job, plan, clip, field, dst);
    return PF_Err_NONE;
  }
  // Rows are independent: a large area is split into bands of rows drawn
  // by the shared pool, with the same result as one pass.
  const int32_t rows = job.box.height();
  const int64_t area = static_cast<int64_t>(job.box.width()) * rows;
  if (area < kParallelPixels || rows < 2 * kBandRows) {
    DrawRows(job, field, job.box.top, job.box.bottom, dst);
    return PF_Err_NONE;
  }
  const int32_t bands = (rows + kBandRows - 1) / kBandRows;
  const int32_t failed = ThreadPool::Shared().Run(bands, [&](int32_t, int32_t i) {
    const int32_t top = job.box.top + i * kBandRows;
    DrawRows(job, field, top, std::min(top + kBandRows, job.box.bottom), dst);
    return int32_t{0};
  });
  return failed ? PF_Err_OUT_OF_MEMORY : PF_Err_NONE;
}

}  // namespace vantrel::host
