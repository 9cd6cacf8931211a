#include "binding/suite_cache.h"

namespace vantrel {
namespace {

struct SlotName {
  const char* name;
  int32 version;
};

template <class... Tables>
constexpr std::array<SlotName, sizeof...(Tables)> SlotNames() {
  std::array<SlotName, sizeof...(Tables)> names{};
  ((names[SuiteTraits<Tables>::kSlot] = {SuiteTraits<Tables>::kName,
                                         SuiteTraits<Tables>::kVersion}),
   ...);
  return names;
}

constexpr auto kSlotNames =
    SlotNames<PF_ANSICallbacksSuite1, AEGP_PFInterfaceSuite1, AEGP_LayerSuite5,
              AEGP_TextLayerSuite1, AEGP_StreamSuite4, AEGP_StreamSuite3, AEGP_EffectSuite3,
              AEGP_WorldSuite3, PF_WorldTransformSuite1, AEGP_IterateSuite1, PF_PathDataSuite1>();
static_assert(kSlotNames.size() == kSuiteSlotCount);

}  // namespace

void SuiteCache::ReleaseAll() noexcept {
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i] == nullptr) continue;
    basic_->ReleaseSuite(kSlotNames[i].name, kSlotNames[i].version);  // result ignored
    slots_[i] = nullptr;
  }
}

}  // namespace vantrel
