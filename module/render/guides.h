// The range and separation guides: pieces recoloured before compositing.
#ifndef VANTREL_MODULE_RENDER_GUIDES_H
#define VANTREL_MODULE_RENDER_GUIDES_H

#include "ae_sdk.h"
#include "binding/suite_cache.h"
#include "text/text.h"

namespace vantrel {

// Callbacks for AEGP_IterateGeneric with the world (a PF_EffectWorld*) as the
// reference and one iteration per column: each sets red, green and blue of
// every pixel of column i and leaves alpha as it is. Columns are independent,
// so the host may run them on several threads.
A_Err TintRed(void* world, A_long thread_index, A_long i, A_long iterations);
A_Err TintGreen(void* world, A_long thread_index, A_long i, A_long iterations);
A_Err TintBlue(void* world, A_long thread_index, A_long i, A_long iterations);
A_Err TintMagenta(void* world, A_long thread_index, A_long i, A_long iterations);
A_Err TintYellow(void* world, A_long thread_index, A_long i, A_long iterations);

// The separation guide's colour for a piece at `index` in reading order.
AEGP_IterateGenericFunc SeparationTint(int32_t index);

struct GuideOptions {
  bool range_guide = false;
  bool separation_guide = false;
  PieceRange range{0, 0};
};

// Tints a piece's temporary world: range guide (green inside the delayed
// range, red outside), then separation guide, each when on.
void ApplyGuideTints(SuiteCache& suites, const GuideOptions& guides, const Piece& piece,
                     PF_EffectWorld& world);

// Covers the whole output with the separation guide's opaque grey.
void FillSeparationBackground(PF_InData* in_data, PF_EffectWorld* output);

}  // namespace vantrel

#endif  // VANTREL_MODULE_RENDER_GUIDES_H
