#include "binding/effect_info.h"
#include "binding/entry.h"
#include "binding/suite_cache.h"

namespace vantrel {
namespace {

// Premiere Pro hands the effect 8-bit BGRA frames only. The suite is taken
// straight from the basic suite, not through a SuiteCache: a missing suite is
// not an error here, the declaration is simply skipped. Results are not
// examined.
void DeclarePremierePixelFormats(const PF_InData& in_data) {
  const SPBasicSuite* basic = in_data.pica_basicP;
  if (basic == nullptr) return;
  const void* table = nullptr;
  basic->AcquireSuite(kPFPixelFormatSuite, kPFPixelFormatSuiteVersion1, &table);
  if (table == nullptr) return;
  const auto& pixel_formats = *static_cast<const PF_PixelFormatSuite1*>(table);
  pixel_formats.ClearSupportedPixelFormats(in_data.effect_ref);
  pixel_formats.AddSupportedPixelFormat(in_data.effect_ref, PrPixelFormat_BGRA_4444_8u);
  basic->ReleaseSuite(kPFPixelFormatSuite, kPFPixelFormatSuiteVersion1);
}

}  // namespace

PF_Err About(PF_InData* in_data, PF_OutData* out_data) {
  if (in_data->appl_id == kPremiereApplId) return PF_Err_NONE;
  SuiteCache suites(in_data->pica_basicP);
  suites.Get<PF_ANSICallbacksSuite1>().sprintf(out_data->return_msg, "%s, v%d.%d\r%s", kEffectName,
                                               kEffectMajorVersion, kEffectMinorVersion,
                                               kEffectDescription);
  return PF_Err_NONE;
}

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data) {
  out_data->my_version = kEffectVersion;
  out_data->out_flags = kGlobalOutFlags;
  out_data->out_flags2 = kGlobalOutFlags2;
  if (in_data->appl_id == kPremiereApplId) {
    // Neither deep nor float colour is declared to Premiere Pro.
    out_data->out_flags &= ~static_cast<PF_OutFlags>(PF_OutFlag_DEEP_COLOR_AWARE);
    out_data->out_flags2 &= ~static_cast<PF_OutFlags2>(PF_OutFlag2_FLOAT_COLOR_AWARE);
    DeclarePremierePixelFormats(*in_data);
  }
  return PF_Err_NONE;
}

}  // namespace vantrel
