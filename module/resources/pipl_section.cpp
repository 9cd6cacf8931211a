// Linux form of the property resource: the serialised bytes, alone in their
// own ELF section, so that the host can read them from the file without
// loading the module. The array's alignment is 1, so the section holds exactly
// the resource's bytes.
#include "resources/pipl.h"

namespace vantrel::pipl {
namespace {

[[gnu::section("vantrel_pipl"), gnu::used]] constexpr std::array<std::uint8_t, kSize>
    kSectionBytes = kBytes;

}  // namespace
}  // namespace vantrel::pipl
