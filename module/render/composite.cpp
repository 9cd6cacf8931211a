#include "render/composite.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "render/host_object.h"

namespace vantrel {
namespace {

constexpr AEGP_PluginID kNoPluginId = 0;

bool IsUsableRatio(double ratio) { return std::isfinite(ratio) && ratio != 0.0; }

// Creates a transparent 8-bit world of the snapped box's size, filled from the
// input layer's pixels in that box. `world` stays null when the host cannot
// make it.
void CutOutPiece(PF_InData* in_data, SuiteCache& suites, PF_EffectWorld* input, PF_Rect box,
                 World& world, PF_EffectWorld& pf_world) {
  const AEGP_WorldSuite3& worlds = suites.Get<AEGP_WorldSuite3>();
  const A_Err made = worlds.AEGP_New(kNoPluginId, AEGP_WorldType_8, box.right - box.left,
                                     box.bottom - box.top, world.Put());
  if (made != A_Err_NONE || world.get() == nullptr) {
    world.Reset();
    return;
  }
  worlds.AEGP_FillOutPFEffectWorld(world.get(), &pf_world);
  in_data->utils->fill(in_data->effect_ref, nullptr, nullptr, &pf_world);
  suites.Get<PF_WorldTransformSuite1>().copy_hq(in_data->effect_ref, input, &pf_world, &box,
                                                nullptr);
}

void TransformIntoOutput(PF_InData* in_data, const PF_EffectWorld& piece_world,
                         const PieceMatrices& matrices, double opacity_level, bool motion_blur,
                         PF_EffectWorld* output) {
  PF_CompositeMode mode{};
  mode.xfer = PF_Xfer_IN_FRONT;
  mode.opacity = CompositeOpacity(opacity_level);
  mode.rgb_only = false;
  // With motion blur the host blurs from the first matrix to the second.
  const PF_FloatMatrix list[2] = {ToFloatMatrix(matrices.blur), ToFloatMatrix(matrices.main)};
  const PF_FloatMatrix* first = motion_blur ? &list[0] : &list[1];
  in_data->utils->transform_world(in_data->effect_ref, in_data->quality, PF_MF_Alpha_STRAIGHT,
                                  in_data->field, &piece_world, &mode, nullptr, first,
                                  motion_blur ? 2 : 1, /*src2dst_matrix=*/true,
                                  &output->extent_hint, output);
}

}  // namespace

PF_Rect SnapOutwards(const Piece& piece) {
  PF_Rect box;
  box.left = TruncateToInt32(std::floor(piece.left));
  box.top = TruncateToInt32(std::floor(piece.top));
  box.right = TruncateToInt32(std::ceil(piece.right));
  box.bottom = TruncateToInt32(std::ceil(piece.bottom));
  return box;
}

bool IsPlaceable(const Piece& piece, const PF_EffectWorld& input) {
  const double edges[4] = {std::floor(piece.left), std::floor(piece.top), std::ceil(piece.right),
                           std::ceil(piece.bottom)};
  for (double edge : edges) {
    // Also false for NaN and the infinities.
    if (!(edge >= -2147483648.0 && edge <= 2147483647.0)) return false;
  }
  const PF_Rect box = SnapOutwards(piece);
  // In 64 bits: the difference of two 32-bit edges need not fit in 32.
  const int64_t left = box.left, top = box.top, right = box.right, bottom = box.bottom;
  if (right < left || bottom < top) return false;
  // The world may reach past the input (the host copies only what lies
  // inside it), by as much as the input's own size on every side; beyond that
  // a box is not one of the layer's glyphs and would ask for an absurd world.
  const int64_t width = std::max<int64_t>(input.width, 0);
  const int64_t height = std::max<int64_t>(input.height, 0);
  return left >= -width && right <= 2 * width && top >= -height && bottom <= 2 * height;
}

bool IsFinite(const PieceMatrices& matrices, bool motion_blur) {
  for (double e : matrices.main.e) {
    if (!std::isfinite(e)) return false;
  }
  if (!motion_blur) return true;  // the blur matrix is not handed over
  for (double e : matrices.blur.e) {
    if (!std::isfinite(e)) return false;
  }
  return true;
}

PieceMatrices BuildPieceMatrices(const Piece& piece, const PieceTransform& r,
                                 const PieceTransform& m) {
  const PF_Rect box = SnapOutwards(piece);
  PieceMatrices out;
  Matrix3& main = out.main;
  AppendTranslate(main, piece.left, piece.top);
  AppendTranslate(main, r.anchor_delta_x, r.anchor_delta_y);
  AppendTranslate(main, -r.position_delta_x, -r.position_delta_y);
  // Back from the unrounded corner to the snapped one, where the world starts.
  AppendTranslate(main, -(piece.left - box.left), -(piece.top - box.top));
  out.blur = main;
  // Scale about the layer's Position at the piece's time.
  AppendTranslate(main, -r.position_x, -r.position_y);
  AppendScale(main, 1 / r.scale_ratio_x, 1 / r.scale_ratio_y);
  AppendTranslate(main, r.position_x, r.position_y);

  Matrix3& blur = out.blur;
  AppendTranslate(blur, m.position_delta_x - m.anchor_delta_x,
                  m.position_delta_y - m.anchor_delta_y);
  AppendTranslate(blur, -r.position_x, -r.position_y);
  AppendScale(blur, main.at(0, 0) * m.scale_ratio_x, main.at(1, 1) * m.scale_ratio_y);
  AppendTranslate(blur, r.position_x, r.position_y);

  // Tracking: the offset was measured at the current Scale, so it follows
  // the piece's own Scale; blur end first, then the main matrix.
  const double shift = piece.tracking_offset / r.scale_ratio_x;
  AppendTranslate(blur, shift, 0);
  AppendTranslate(main, shift, 0);
  return out;
}

bool IsDrawable(const PieceTransform& r) {
  return IsUsableRatio(r.scale_ratio_x) && IsUsableRatio(r.scale_ratio_y);
}

A_u_char CompositeOpacity(double opacity_level) {
  const double level = std::trunc(opacity_level);
  if (!(level >= -2147483648.0 && level <= 2147483647.0)) return 0;  // NaN or out of range
  // Stored in the 8-bit member as the host's integer conversion would.
  return static_cast<A_u_char>(static_cast<A_long>(level));
}

void CompositePieces(PF_InData* in_data, SuiteCache& suites, PF_EffectWorld* input,
                     const std::vector<Piece>& pieces,
                     const std::vector<PieceTransform>& transforms,
                     const std::vector<PieceTransform>& blur_transforms,
                     const CompositeOptions& options, PF_EffectWorld* output) {
  if (options.guides.separation_guide) FillSeparationBackground(in_data, output);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Piece& piece = pieces[i];
    const PieceTransform& r = transforms.at(i);
    const PieceTransform& m = blur_transforms.at(i);
    // A Scale of 0 now or at the piece's time leaves nothing to draw. The
    // blur record's ratios are not checked here: a Scale of 0 at the blur's
    // end only makes that end's matrix singular, and the piece is still
    // visible at its own time.
    if (!IsDrawable(r)) continue;
    // A piece that cannot be cut out of the input, or whose placement is not
    // a finite matrix (an infinite or NaN blur-end ratio among the causes),
    // is skipped before any host object is made for it.
    if (!IsPlaceable(piece, *input)) continue;
    const PieceMatrices matrices = BuildPieceMatrices(piece, r, m);
    if (!IsFinite(matrices, options.motion_blur)) continue;
    World world(suites.Get<AEGP_WorldSuite3>().AEGP_Dispose);
    PF_EffectWorld pf_world{};
    CutOutPiece(in_data, suites, input, SnapOutwards(piece), world, pf_world);
    if (world.get() == nullptr) continue;  // the host could not make the world: skip the piece
    ApplyGuideTints(suites, options.guides, piece, pf_world);
    TransformIntoOutput(in_data, pf_world, matrices, r.opacity_level, options.motion_blur, output);
  }
}

}  // namespace vantrel
