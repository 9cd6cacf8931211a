// A tiny module for testing the host: an entry point named by its own property
// resource, whose commands each exercise one host operation.
#include <cstring>
#include <stdexcept>

#include "ae_sdk.h"
#include "probe_commands.h"

namespace {

// The property resource, in the Windows byte form, in the section the host
// reads on Linux: version 1, three properties (kind, name, entry point).
// Four-character codes are stored reversed ("dnik" is 'kind').
#ifdef PROBE_NOT_AN_EFFECT
#define PROBE_KIND "xgEA" /* 'AEgx': a general plug-in, not an effect */
#else
#define PROBE_KIND "TKFe" /* 'eFKT': an effect */
#endif
// clang-format off
__attribute__((section("vantrel_pipl"), used)) const char kPipl[] =
    "\x01\x00" "\x00\x00\x00\x00" "\x03\x00\x00\x00"
    "MIB8" "dnik" "\x00\x00\x00\x00" "\x04\x00\x00\x00" PROBE_KIND
    "MIB8" "eman" "\x00\x00\x00\x00" "\x08\x00\x00\x00" "\x05" "Probe" "\x00\x00"
    "MIB8" "4668" "\x00\x00\x00\x00" "\x0C\x00\x00\x00" "ProbeMain" "\x00\x00\x00";
// clang-format on

PF_Err AnsiText(PF_InData* in, PF_OutData* out) {
  SPBasicSuite* basic = in->pica_basicP;
  const void* table = nullptr;
  if (basic->AcquireSuite(kPFANSISuite, kPFANSISuiteVersion1, &table) != kSPNoError || !table) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  auto* ansi = static_cast<const PF_ANSICallbacksSuite1*>(table);
  ansi->sprintf(out->return_msg, "%s, v%d.%d\r%s", "Probe", 1, 3, "text");
  in->utils->ansi.strcpy(out->name, "Probe name");
  basic->ReleaseSuite(kPFANSISuite, kPFANSISuiteVersion1);
  return PF_Err_NONE;
}

PF_Err DeclareParams(PF_InData* in) {
  PF_ParamDef def;
  auto add = [&]() { return in->inter.add_param(in->effect_ref, -1, &def); };

  std::memset(&def, 0, sizeof def);
  def.param_type = PF_Param_GROUP_START;
  in->utils->ansi.strcpy(def.name, "Group");
  def.flags = PF_ParamFlag_START_COLLAPSED;
  def.uu.id = 1;
  if (PF_Err err = add()) return err;

  std::memset(&def, 0, sizeof def);
  def.param_type = PF_Param_FLOAT_SLIDER;
  in->utils->ansi.strcpy(def.name, "Amount");
  def.u.fs_d.valid_min = def.u.fs_d.slider_min = 0;
  def.u.fs_d.valid_max = def.u.fs_d.slider_max = 100;
  def.u.fs_d.dephault = 50;
  def.u.fs_d.value = 50;
  def.u.fs_d.precision = 1;
  def.u.fs_d.display_flags = PF_ValueDisplayFlag_PERCENT;
  def.uu.id = 2;
  if (PF_Err err = add()) return err;

  std::memset(&def, 0, sizeof def);
  def.param_type = PF_Param_POPUP;
  in->utils->ansi.strcpy(def.name, "Mode");
  def.u.pd.num_choices = 3;
  def.u.pd.dephault = 2;
  def.u.pd.value = 2;
  def.u.pd.u.namesptr = "A|B|C";
  def.uu.id = 3;
  if (PF_Err err = add()) return err;

  std::memset(&def, 0, sizeof def);
  def.param_type = PF_Param_CHECKBOX;
  in->utils->ansi.strcpy(def.name, "Flag");
  def.u.bd.dephault = 1;
  def.u.bd.value = 1;
  def.u.bd.u.nameptr = "";
  def.uu.id = 4;
  if (PF_Err err = add()) return err;

  std::memset(&def, 0, sizeof def);
  def.param_type = PF_Param_GROUP_END;
  def.uu.id = 5;
  return add();
}

PF_Err PixelFormats(PF_InData* in) {
  const void* table = nullptr;
  SPBasicSuite* basic = in->pica_basicP;
  if (basic->AcquireSuite(kPFPixelFormatSuite, kPFPixelFormatSuiteVersion1, &table) || !table) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  auto* formats = static_cast<const PF_PixelFormatSuite1*>(table);
  formats->ClearSupportedPixelFormats(in->effect_ref);
  formats->AddSupportedPixelFormat(in->effect_ref, PrPixelFormat_BGRA_4444_8u);
  basic->ReleaseSuite(kPFPixelFormatSuite, kPFPixelFormatSuiteVersion1);
  return PF_Err_NONE;
}

PF_Err WithObjects(PF_InData* in, int disposals) {
  const void* table = nullptr;
  SPBasicSuite* basic = in->pica_basicP;
  if (basic->AcquireSuite(probe::kObjectSuite, 1, &table) || !table)
    return PF_Err_BAD_CALLBACK_PARAM;
  auto* objects = static_cast<const probe::ObjectSuite1*>(table);
  void* object = nullptr;
  PF_Err err = objects->New(&object);
  for (int i = 0; i < disposals && !err; ++i) err = objects->Dispose(object);
  basic->ReleaseSuite(probe::kObjectSuite, 1);
  return err;
}

}  // namespace

// The misbehaving builds: PROBE_THROWS lets an exception out of every standard
// command; PROBE_LEAKS renders by acquiring "AEGP World Suite" 3 and making a
// world, and keeps both.
#if defined(PROBE_LEAKS)
PF_Err LeakingRender(PF_InData* in) {
  const void* table = nullptr;
  if (in->pica_basicP->AcquireSuite(kAEGPWorldSuite, kAEGPWorldSuiteVersion3, &table) || !table) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  AEGP_WorldH world = nullptr;
  return static_cast<const AEGP_WorldSuite3*>(table)->AEGP_New(0, AEGP_WorldType_8, 8, 8, &world);
}
#endif

VANTREL_DLLEXPORT PF_Err ProbeMain(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef*[],
                                   PF_LayerDef*, void*) {
#if defined(PROBE_THROWS)
  if (cmd >= 0 && cmd < PF_Cmd_NUM_CMDS) throw std::runtime_error("probe gave up");
#endif
#if defined(PROBE_LEAKS)
  if (cmd == PF_Cmd_RENDER) return LeakingRender(in);
#endif
  if (cmd == probe::kThrowException) throw std::runtime_error("probe gave up");
  if (cmd == probe::kThrowInteger) throw 7;
  if (cmd == probe::kHasBasicSuite) {
    out->my_version = in->pica_basicP != nullptr;
    return PF_Err_NONE;
  }
  if (!in->pica_basicP) return PF_Err_BAD_CALLBACK_PARAM;
  SPBasicSuite* basic = in->pica_basicP;
  const void* table = nullptr;
  switch (cmd) {
    case probe::kAcquireAndKeep:
      return basic->AcquireSuite(kPFANSISuite, kPFANSISuiteVersion1, &table);
    case probe::kAnsiText:
      return AnsiText(in, out);
    case probe::kAcquireMissing:
      return basic->AcquireSuite(probe::kMissingSuite, 1, &table);
    case probe::kAcquireAnsi: {
      table = &table;  // anything but null: the host must overwrite it
      const SPErr err = basic->AcquireSuite(kPFANSISuite, kPFANSISuiteVersion1, &table);
      out->my_version = err == kSPNoError && table == nullptr;
      if (err == kSPNoError && table) basic->ReleaseSuite(kPFANSISuite, kPFANSISuiteVersion1);
      return err;
    }
    case probe::kDeclareParams:
      return DeclareParams(in);
    case probe::kPixelFormats:
      return PixelFormats(in);
    case probe::kReleaseUnheld:
      return basic->ReleaseSuite(kPFANSISuite, kPFANSISuiteVersion1);
    case probe::kLongSprintf: {
      char text[301];
      std::memset(text, 'x', 300);
      text[300] = '\0';
      return in->utils->ansi.sprintf(out->return_msg, "%s", text) == 255
                 ? PF_Err_NONE
                 : PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    case probe::kLeakObject:
      return WithObjects(in, 0);
    case probe::kDoubleDispose:
      return WithObjects(in, 2);
    case probe::kAddNullParam:
      return in->inter.add_param(in->effect_ref, -1, nullptr);
    default:
      return PF_Err_NONE;
  }
}
