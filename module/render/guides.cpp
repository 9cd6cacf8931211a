#include "render/guides.h"

#include <cstddef>
#include <cstdint>

namespace vantrel {
namespace {

// Writes bytes 1, 2 and 3 (red, green, blue) of each 4-byte pixel down column
// i; byte 0, alpha, is never touched.
template <A_u_char kRed, A_u_char kGreen, A_u_char kBlue>
A_Err TintColumn(void* refcon, A_long /*thread_index*/, A_long i, A_long /*iterations*/) {
  const auto* world = static_cast<const PF_EffectWorld*>(refcon);
  const std::ptrdiff_t row_step = (world->rowbytes / 4) * 4;
  auto* pixel = reinterpret_cast<std::uint8_t*>(world->data) + static_cast<std::ptrdiff_t>(i) * 4;
  for (A_long row = 0; row < world->height; ++row, pixel += row_step) {
    pixel[1] = kRed;
    pixel[2] = kGreen;
    pixel[3] = kBlue;
  }
  return A_Err_NONE;
}

void Tint(SuiteCache& suites, PF_EffectWorld& world, AEGP_IterateGenericFunc tint) {
  // One iteration per column; the call returns when every column is done.
  suites.Get<AEGP_IterateSuite1>().AEGP_IterateGeneric(world.width, &world, tint);
}

}  // namespace

A_Err TintRed(void* world, A_long thread_index, A_long i, A_long iterations) {
  return TintColumn<255, 0, 0>(world, thread_index, i, iterations);
}
A_Err TintGreen(void* world, A_long thread_index, A_long i, A_long iterations) {
  return TintColumn<0, 255, 0>(world, thread_index, i, iterations);
}
A_Err TintBlue(void* world, A_long thread_index, A_long i, A_long iterations) {
  return TintColumn<0, 0, 255>(world, thread_index, i, iterations);
}
A_Err TintMagenta(void* world, A_long thread_index, A_long i, A_long iterations) {
  return TintColumn<255, 0, 255>(world, thread_index, i, iterations);
}
A_Err TintYellow(void* world, A_long thread_index, A_long i, A_long iterations) {
  return TintColumn<255, 255, 0>(world, thread_index, i, iterations);
}

AEGP_IterateGenericFunc SeparationTint(int32_t index) {
  static constexpr AEGP_IterateGenericFunc kTints[5] = {TintRed, TintGreen, TintBlue, TintMagenta,
                                                        TintYellow};
  // Indices are positions in the list and never negative.
  return kTints[static_cast<std::uint32_t>(index) % 5];
}

void ApplyGuideTints(SuiteCache& suites, const GuideOptions& guides, const Piece& piece,
                     PF_EffectWorld& world) {
  if (guides.range_guide) {
    const bool delayed = guides.range.first <= piece.index && piece.index < guides.range.end;
    Tint(suites, world, delayed ? TintGreen : TintRed);
  }
  if (guides.separation_guide) Tint(suites, world, SeparationTint(piece.index));
}

void FillSeparationBackground(PF_InData* in_data, PF_EffectWorld* output) {
  const PF_Pixel grey{255, 128, 128, 128};  // alpha, red, green, blue
  in_data->utils->fill(in_data->effect_ref, &grey, nullptr, output);
}

}  // namespace vantrel
