// A minimal recording host for the module's command handlers: a basic suite
// that hands out (or refuses) suites, the ANSI and pixel-format suites, and the
// add_param / strcpy callbacks. Every call is appended to `calls` as text, so a
// test states the expected conversation as a list of strings.
#ifndef VANTREL_TESTS_MODULE_FOUNDATION_FAKE_HOST_H
#define VANTREL_TESTS_MODULE_FOUNDATION_FAKE_HOST_H

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ae_sdk.h"

namespace vantrel::testing {

class FakeHost {
 public:
  FakeHost() {
    active_ = this;
    basic_.AcquireSuite = &Acquire;
    basic_.ReleaseSuite = &Release;
    ansi_suite_.sprintf = &Sprintf;
    pixel_formats_.AddSupportedPixelFormat = &AddPixelFormat;
    pixel_formats_.ClearSupportedPixelFormats = &ClearPixelFormats;
    utils_.ansi.strcpy = &Strcpy;
    std::memset(&in_data, 0, sizeof in_data);
    std::memset(&out_data, 0, sizeof out_data);
    in_data.inter.add_param = &AddParam;
    in_data.utils = &utils_;
    in_data.effect_ref = effect_ref();
    in_data.pica_basicP = &basic_;
  }
  ~FakeHost() { active_ = nullptr; }
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  static constexpr A_long kAfterEffects = 0x46584354;  // 'FXTC'
  static constexpr A_long kPremiere = 0x50724D72;      // 'PrMr'

  PF_ProgPtr effect_ref() { return reinterpret_cast<PF_ProgPtr>(&effect_ref_storage_); }
  const SPBasicSuite* basic() const { return &basic_; }

  PF_InData in_data;
  PF_OutData out_data;

  std::vector<std::string> calls;
  std::set<std::string> refused;      // "name version": AcquireSuite returns an error
  std::set<std::string> null_tables;  // "name version": success but no table
  std::vector<PF_ParamDef> declared;  // records accepted by add_param
  int fail_add_param_call = 0;        // 1-based call number to fail, 0 never
  PF_Err add_param_error = PF_Err_INVALID_INDEX;
  int strcpy_calls = 0;

 private:
  static std::string Key(const char* name, int32 version) {
    return std::string(name) + " " + std::to_string(version);
  }

  static SPErr Acquire(const char* name, int32 version, const void** suite) {
    const std::string key = Key(name, version);
    active_->calls.push_back("acquire " + key);
    if (active_->refused.count(key)) return 1;
    if (active_->null_tables.count(key)) return kSPNoError;
    if (key == Key(kPFANSISuite, 1)) {
      *suite = &active_->ansi_suite_;
    } else if (key == Key(kPFPixelFormatSuite, 1)) {
      *suite = &active_->pixel_formats_;
    } else {
      *suite = &active_->other_table_;  // never called by these tests
    }
    return kSPNoError;
  }

  static SPErr Release(const char* name, int32 version) {
    active_->calls.push_back("release " + Key(name, version));
    return kSPNoError;
  }

  static int Sprintf(A_char* dst, const A_char* format, ...) {
    active_->calls.push_back("sprintf");
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(dst, PF_MAX_EFFECT_MSG_LEN + 1, format, args);
    va_end(args);
    return n;
  }

  static PF_Err AddPixelFormat(PF_ProgPtr ref, PrPixelFormat format) {
    char text[64];
    std::snprintf(text, sizeof text, "add pixel format 0x%08x%s", static_cast<unsigned>(format),
                  ref == active_->effect_ref() ? "" : " (wrong effect_ref)");
    active_->calls.push_back(text);
    return PF_Err_NONE;
  }

  static PF_Err ClearPixelFormats(PF_ProgPtr ref) {
    active_->calls.push_back(std::string("clear pixel formats") +
                             (ref == active_->effect_ref() ? "" : " (wrong effect_ref)"));
    return PF_Err_NONE;
  }

  static A_char* Strcpy(A_char* dst, const A_char* src) {
    ++active_->strcpy_calls;
    return std::strcpy(dst, src);
  }

  static PF_Err AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDef* def) {
    FakeHost& host = *active_;
    host.calls.push_back("add_param " + std::to_string(index) +
                         (ref == host.effect_ref() ? "" : " (wrong effect_ref)"));
    if (host.fail_add_param_call == static_cast<int>(host.declared.size()) + 1) {
      return host.add_param_error;
    }
    host.declared.push_back(*def);
    return PF_Err_NONE;
  }

  static inline FakeHost* active_ = nullptr;

  SPBasicSuite basic_{};
  PF_ANSICallbacksSuite1 ansi_suite_{};
  PF_PixelFormatSuite1 pixel_formats_{};
  PF_UtilCallbacks utils_{};
  unsigned char other_table_[512]{};
  int effect_ref_storage_ = 0;
};

}  // namespace vantrel::testing

#endif  // VANTREL_TESTS_MODULE_FOUNDATION_FAKE_HOST_H
