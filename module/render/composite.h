// Compositing of the delayed pieces into the output.
#ifndef VANTREL_MODULE_RENDER_COMPOSITE_H
#define VANTREL_MODULE_RENDER_COMPOSITE_H

#include <vector>

#include "ae_sdk.h"
#include "host/suite_cache.h"
#include "render/guides.h"
#include "render/matrix.h"
#include "render/piece_transform.h"
#include "text/text.h"

namespace vantrel {

// A piece's box snapped outwards to whole render pixels.
PF_Rect SnapOutwards(const Piece& piece);

// The matrices that carry a piece's temporary world (origin at the snapped
// corner) into the output: `main` places it as the layer transform at the
// piece's time did; `blur` is the motion-blur end, built from the blur record
// `m` (only meaningful with motion blur on).
struct PieceMatrices {
  Matrix3 main;
  Matrix3 blur;
};
PieceMatrices BuildPieceMatrices(const Piece& piece, const PieceTransform& r,
                                 const PieceTransform& m);

// A piece is drawn only when its scale ratios are finite and non-zero (and,
// with motion blur, those of its blur record too): a Scale of 0 at either
// time would give a matrix that cannot be inverted.
bool IsDrawable(const PieceTransform& r, const PieceTransform& m, bool motion_blur);

// The 8-bit composite opacity: the opacity level truncated toward zero.
A_u_char CompositeOpacity(double opacity_level);

struct CompositeOptions {
  GuideOptions guides;
  bool motion_blur = false;
};

// Composites every piece, in list order, over `output` (already cleared), each
// from a temporary world cut out of `input` at the piece's box. With the
// separation guide on the output is first covered with its grey.
void CompositePieces(PF_InData* in_data, SuiteCache& suites, PF_EffectWorld* input,
                     const std::vector<Piece>& pieces,
                     const std::vector<PieceTransform>& transforms,
                     const std::vector<PieceTransform>& blur_transforms,
                     const CompositeOptions& options, PF_EffectWorld* output);

}  // namespace vantrel

#endif  // VANTREL_MODULE_RENDER_COMPOSITE_H
