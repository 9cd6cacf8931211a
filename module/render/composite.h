// Compositing of the delayed pieces into the output.
#ifndef VANTREL_MODULE_RENDER_COMPOSITE_H
#define VANTREL_MODULE_RENDER_COMPOSITE_H

#include <vector>

#include "ae_sdk.h"
#include "binding/suite_cache.h"
#include "render/guides.h"
#include "render/matrix.h"
#include "render/piece_transform.h"
#include "text/text.h"

namespace vantrel {

// A piece's box snapped outwards to whole render pixels. An edge that does
// not fit in 32 bits comes out as INT32_MIN; IsPlaceable tells such boxes
// apart.
PF_Rect SnapOutwards(const Piece& piece);

// Whether a piece can be cut out of `input` into a temporary world: its
// snapped edges are finite and fit in 32 bits, its width and height are not
// negative (0 is allowed, as for a vertical stroke), and it lies within the
// input grown by the input's own width and height on every side. Outside
// that rectangle a box cannot come from the layer's glyphs, and its world
// would be sized by whatever the host reported rather than by the frame.
bool IsPlaceable(const Piece& piece, const PF_EffectWorld& input);

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

// Whether every element of the matrices handed to transform_world is finite
// (the blur matrix only with motion blur on). A non-finite Position, Anchor
// Point or Scale value, or an infinite downsample factor, leaves a piece with
// no place in the output.
bool IsFinite(const PieceMatrices& matrices, bool motion_blur);

// A piece is drawn only when its own scale ratios (current time against its
// time) are finite and non-zero: a Scale of 0 at either time leaves the main
// matrix without an inverse, or without a meaning. The blur record is not
// consulted: a zero ratio at the blur's end gives a finite, singular start
// matrix that the host leaves out of the blur, and a non-finite one is caught
// by IsFinite.
bool IsDrawable(const PieceTransform& r);

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
