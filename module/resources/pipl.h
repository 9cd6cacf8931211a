// The plug-in property list (PiPL) that the host reads before it loads the
// module: declared once as a table, serialised at compile time into the
// resource's Windows byte form. The Windows build embeds the bytes as resource
// "PiPL" 16000; the Linux build places them in the ELF section kElfSection.
#ifndef VANTREL_MODULE_RESOURCES_PIPL_H
#define VANTREL_MODULE_RESOURCES_PIPL_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/effect_info.h"

namespace vantrel::pipl {

inline constexpr std::uint16_t kResourceId = 16000;
inline constexpr std::uint16_t kResourceLanguage = 1033;  // English (United States)
inline constexpr char kElfSection[] = "vantrel_pipl";

// How a property's data is written. All integers are little-endian.
enum class Data : std::uint8_t {
  kFourCC,   // four characters as a 32-bit integer, first character in the high byte
  kPascal,   // length byte, then the characters
  kCString,  // the characters, then a zero byte
  kU16,      // one 16-bit integer
  kU16Pair,  // two 16-bit integers
  kU32,      // one 32-bit integer
};

struct Property {
  std::string_view key;  // four characters, stored like a kFourCC value
  Data data;
  std::string_view text;     // kFourCC, kPascal, kCString
  std::uint32_t first = 0;   // kU16, kU32, first half of kU16Pair
  std::uint32_t second = 0;  // second half of kU16Pair
};

inline constexpr std::string_view kVendor = "8BIM";  // vendor of every property; id is 0
inline constexpr std::uint16_t kListVersion = 1;

inline constexpr std::array<Property, 12> kProperties = {{
    {"kind", Data::kFourCC, "eFKT"},  // an effect
    {"name", Data::kPascal, kEffectName},
    {"catg", Data::kPascal, kEffectCategory},
    {"8664", Data::kCString, kEntryPointName},  // entry point on 64-bit Windows
    {"ePVR", Data::kU16Pair, {}, 2, 0},         // property-list version 2.0
    {"eSVR", Data::kU16Pair, {}, 13, 2},        // effect interface version 13.2
    {"eVER", Data::kU32, {}, kEffectVersion},
    {"eINF", Data::kU16, {}, 0},  // info flags
    {"eGLO", Data::kU32, {}, static_cast<std::uint32_t>(kGlobalOutFlags)},
    {"eGL2", Data::kU32, {}, static_cast<std::uint32_t>(kGlobalOutFlags2)},
    {"eMNA", Data::kPascal, kEffectMatchName},
    {"aeFL", Data::kU32, {}, 8},  // reserved information word
}};

// The data length written into the property: the padded size for strings,
// the width of the number otherwise.
constexpr std::size_t DataLength(const Property& property) {
  switch (property.data) {
    case Data::kFourCC:
    case Data::kU16Pair:
    case Data::kU32:
      return 4;
    case Data::kU16:
      return 2;
    case Data::kPascal:
    case Data::kCString:
      return (property.text.size() + 1 + 3) & ~std::size_t{3};
  }
  return 0;
}

// Data is padded to a multiple of four bytes counted from its own start: the
// property after a 2-byte eINF begins four bytes after eINF's data.
constexpr std::size_t PaddedLength(const Property& property) {
  return (DataLength(property) + 3) & ~std::size_t{3};
}

inline constexpr std::size_t kHeaderSize = 10;          // version, reserved, property count
inline constexpr std::size_t kPropertyHeaderSize = 16;  // vendor, key, id, data length

constexpr std::size_t SerializedSize() {
  std::size_t size = kHeaderSize;
  for (const Property& property : kProperties) size += kPropertyHeaderSize + PaddedLength(property);
  return size;
}

inline constexpr std::size_t kSize = SerializedSize();

constexpr std::array<std::uint8_t, kSize> Serialize() {
  std::array<std::uint8_t, kSize> bytes{};
  std::size_t at = 0;
  auto put = [&](std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at++] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  auto put_code = [&](std::string_view code) {
    put(static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[0])) << 24 |
            static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[1])) << 16 |
            static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[2])) << 8 |
            static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[3])),
        4);
  };
  put(kListVersion, 2);
  put(0, 4);
  put(static_cast<std::uint32_t>(kProperties.size()), 4);
  for (const Property& property : kProperties) {
    put_code(kVendor);
    put_code(property.key);
    put(0, 4);  // property id
    put(static_cast<std::uint32_t>(DataLength(property)), 4);
    const std::size_t data_start = at;
    switch (property.data) {
      case Data::kFourCC:
        put_code(property.text);
        break;
      case Data::kPascal:
        put(static_cast<std::uint32_t>(property.text.size()), 1);
        for (char c : property.text) put(static_cast<std::uint8_t>(c), 1);
        break;
      case Data::kCString:
        for (char c : property.text) put(static_cast<std::uint8_t>(c), 1);
        break;
      case Data::kU16:
        put(property.first, 2);
        break;
      case Data::kU16Pair:
        put(property.first, 2);
        put(property.second, 2);
        break;
      case Data::kU32:
        put(property.first, 4);
        break;
    }
    at = data_start + PaddedLength(property);  // the array starts zeroed: padding is zero
  }
  return bytes;
}

inline constexpr std::array<std::uint8_t, kSize> kBytes = Serialize();

}  // namespace vantrel::pipl

#endif  // VANTREL_MODULE_RESOURCES_PIPL_H
