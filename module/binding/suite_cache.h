// Per-call access to the host's function suites.
#ifndef VANTREL_MODULE_BINDING_SUITE_CACHE_H
#define VANTREL_MODULE_BINDING_SUITE_CACHE_H

#include <array>
#include <cstddef>

#include "ae_sdk.h"

namespace vantrel {

// One traits record per (suite name, version) that the effect uses: the name
// string, the numeric version passed to AcquireSuite, and the cache slot.
template <class Table>
struct SuiteTraits;

#define VANTREL_SUITE_TRAITS(TABLE, NAME, VERSION, SLOT) \
  template <>                                            \
  struct SuiteTraits<TABLE> {                            \
    static constexpr const char* kName = NAME;           \
    static constexpr int32 kVersion = VERSION;           \
    static constexpr std::size_t kSlot = SLOT;           \
  }

VANTREL_SUITE_TRAITS(PF_ANSICallbacksSuite1, kPFANSISuite, kPFANSISuiteVersion1, 0);
VANTREL_SUITE_TRAITS(AEGP_PFInterfaceSuite1, kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1,
                     1);
VANTREL_SUITE_TRAITS(AEGP_LayerSuite5, kAEGPLayerSuite, kAEGPLayerSuiteVersion5, 2);
VANTREL_SUITE_TRAITS(AEGP_TextLayerSuite1, kAEGPTextLayerSuite, kAEGPTextLayerSuiteVersion1, 3);
VANTREL_SUITE_TRAITS(AEGP_StreamSuite4, kAEGPStreamSuite, kAEGPStreamSuiteVersion4, 4);
VANTREL_SUITE_TRAITS(AEGP_StreamSuite3, kAEGPStreamSuite, kAEGPStreamSuiteVersion3, 5);
VANTREL_SUITE_TRAITS(AEGP_EffectSuite3, kAEGPEffectSuite, kAEGPEffectSuiteVersion3, 6);
VANTREL_SUITE_TRAITS(AEGP_WorldSuite3, kAEGPWorldSuite, kAEGPWorldSuiteVersion3, 7);
VANTREL_SUITE_TRAITS(PF_WorldTransformSuite1, kPFWorldTransformSuite,
                     kPFWorldTransformSuiteVersion1, 8);
VANTREL_SUITE_TRAITS(AEGP_IterateSuite1, kAEGPIterateSuite, kAEGPIterateSuiteVersion1, 9);
VANTREL_SUITE_TRAITS(PF_PathDataSuite1, kPFPathDataSuite, kPFPathDataSuiteVersion1, 10);
#undef VANTREL_SUITE_TRAITS

inline constexpr std::size_t kSuiteSlotCount = 11;

// Lives on a handler's stack for one call. A suite is acquired on first use
// and kept; every acquired suite is released when the cache goes away, also
// when the call ends by an exception. Failures are thrown as the host error
// PF_Err_BAD_CALLBACK_PARAM.
class SuiteCache {
 public:
  // Throws PF_Err_BAD_CALLBACK_PARAM when the host gave no basic suite.
  explicit SuiteCache(const SPBasicSuite* basic) : basic_(basic) {
    if (basic_ == nullptr) throw PF_Err{PF_Err_BAD_CALLBACK_PARAM};
  }
  SuiteCache(const SuiteCache&) = delete;
  SuiteCache& operator=(const SuiteCache&) = delete;

  ~SuiteCache() noexcept { ReleaseAll(); }

  template <class Table>
  const Table& Get() {
    using Traits = SuiteTraits<Table>;
    const void*& slot = slots_[Traits::kSlot];
    if (slot == nullptr) {
      const void* table = nullptr;
      const SPErr err = basic_->AcquireSuite(Traits::kName, Traits::kVersion, &table);
      if (err != kSPNoError || table == nullptr) throw PF_Err{PF_Err_BAD_CALLBACK_PARAM};
      slot = table;
    }
    return *static_cast<const Table*>(slot);
  }

 private:
  void ReleaseAll() noexcept;

  const SPBasicSuite* basic_;
  std::array<const void*, kSuiteSlotCount> slots_{};
};

}  // namespace vantrel

#endif  // VANTREL_MODULE_BINDING_SUITE_CACHE_H
