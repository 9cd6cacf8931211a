// What the effect says about itself: the name, description, version word and
// global flags. Global set-up, the about text and the property resource all
// read these, so the run-time values and the resource cannot drift apart.
#ifndef VANTREL_MODULE_BINDING_EFFECT_INFO_H
#define VANTREL_MODULE_BINDING_EFFECT_INFO_H

#include "ae_sdk.h"

namespace vantrel {

inline constexpr char kEffectName[] = "Vantrel";
inline constexpr char kEffectDescription[] = "Delay's text transformations per character/word.";
inline constexpr char kEffectCategory[] = "Orlemont";
// The host's permanent key for the effect in saved projects.
inline constexpr char kEffectMatchName[] = "VQRN";
inline constexpr char kEntryPointName[] = "EntryPointFunc";

// Shown by the about text as "v<major>.<minor>".
inline constexpr int kEffectMajorVersion = 1;
inline constexpr int kEffectMinorVersion = 3;

inline constexpr A_u_long kEffectVersion = PF_VERSION(1, 3, 0, PF_Stage_DEVELOP, 4);
static_assert(kEffectVersion == 0x98004);

inline constexpr PF_OutFlags kGlobalOutFlags =
    static_cast<PF_OutFlags>(PF_OutFlag_WIDE_TIME_INPUT | PF_OutFlag_NON_PARAM_VARY);
inline constexpr PF_OutFlags2 kGlobalOutFlags2 =
    static_cast<PF_OutFlags2>(PF_OutFlag2_AUTOMATIC_WIDE_TIME_INPUT);

// appl_id of Premiere Pro: 'PrMr' with the first character in the high byte.
inline constexpr A_long kPremiereApplId = 0x50724D72;

}  // namespace vantrel

#endif  // VANTREL_MODULE_BINDING_EFFECT_INFO_H
