#include "vantrel/host/pipl.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "binary_image.h"
#include "vantrel/host/session.h"

namespace vantrel::host {

namespace {

// A four-character code is stored as a little-endian 32-bit integer whose high
// byte is the first character, so the file holds the characters reversed.
std::string FourCharCode(std::span<const uint8_t> stored) {
  return {static_cast<char>(stored[3]), static_cast<char>(stored[2]), static_cast<char>(stored[1]),
          static_cast<char>(stored[0])};
}

}  // namespace

const PiplProperty* Pipl::Find(const std::string& key) const {
  for (const PiplProperty& property : properties) {
    if (property.key == key) return &property;
  }
  return nullptr;
}

static const PiplProperty& Require(const Pipl& pipl, const std::string& key) {
  const PiplProperty* property = pipl.Find(key);
  if (!property) throw HostError("property resource has no '" + key + "' property");
  return *property;
}

std::string Pipl::Kind() const {
  const PiplProperty& property = Require(*this, "kind");
  if (property.data.size() != 4) {
    throw HostError("property 'kind' has " + std::to_string(property.data.size()) +
                    " data bytes, expected 4");
  }
  return FourCharCode(property.data);
}

std::string Pipl::PascalString(const std::string& key) const {
  const PiplProperty& property = Require(*this, key);
  if (property.data.empty()) throw HostError("property '" + key + "' is empty");
  const std::size_t length = property.data[0];
  if (length + 1 > property.data.size()) {
    throw HostError("property '" + key + "': string of " + std::to_string(length) +
                    " characters in " + std::to_string(property.data.size()) + " data bytes");
  }
  return {property.data.begin() + 1,
          property.data.begin() + 1 + static_cast<std::ptrdiff_t>(length)};
}

std::string Pipl::EntryPoint() const {
  const PiplProperty& property = Require(*this, "8664");
  auto end = std::find(property.data.begin(), property.data.end(), uint8_t{0});
  if (end == property.data.end())
    throw HostError("property '8664': entry point name is not terminated");
  if (end == property.data.begin()) throw HostError("property '8664': empty entry point name");
  return {property.data.begin(), end};
}

uint32_t Pipl::U32(const std::string& key) const {
  const PiplProperty& property = Require(*this, key);
  if (property.data.size() != 4) {
    throw HostError("property '" + key + "' has " + std::to_string(property.data.size()) +
                    " data bytes, expected 4");
  }
  return static_cast<uint32_t>(property.data[0]) | static_cast<uint32_t>(property.data[1]) << 8 |
         static_cast<uint32_t>(property.data[2]) << 16 |
         static_cast<uint32_t>(property.data[3]) << 24;
}

Pipl ParsePipl(std::span<const uint8_t> bytes) {
  detail::ByteReader r(bytes, "property resource");
  constexpr std::size_t kHeaderSize = 10;          // version u16, reserved u32, count u32
  constexpr std::size_t kPropertyHeaderSize = 16;  // vendor, key, id, data length
  r.Require(0, kHeaderSize, "header");
  Pipl pipl;
  pipl.version = r.U16(0, "header");
  const uint32_t count = r.U32(6, "header");
  // Each property takes at least its header: a count that cannot fit is
  // refused before anything is allocated for it.
  if (count > (bytes.size() - kHeaderSize) / kPropertyHeaderSize) {
    throw HostError("property resource: header declares " + std::to_string(count) +
                    " properties but " + std::to_string(bytes.size()) + " bytes hold at most " +
                    std::to_string((bytes.size() - kHeaderSize) / kPropertyHeaderSize));
  }
  pipl.properties.reserve(count);
  uint64_t at = kHeaderSize;
  for (uint32_t i = 0; i < count; ++i) {
    const std::string what = "property " + std::to_string(i + 1);
    r.Require(at, kPropertyHeaderSize, what.c_str());
    PiplProperty property;
    property.offset = at;
    property.vendor = FourCharCode(r.Bytes(at, 4, "vendor"));
    property.key = FourCharCode(r.Bytes(at + 4, 4, "key"));
    property.id = r.U32(at + 8, "property id");
    const uint32_t length = r.U32(at + 12, "data length");
    if (length > bytes.size() - (at + kPropertyHeaderSize)) {
      throw HostError("property resource: " + what + " ('" + property.key + "') at byte " +
                      std::to_string(at) + " has a data length of " + std::to_string(length) +
                      " bytes, past the end of the resource (" + std::to_string(bytes.size()) +
                      " bytes)");
    }
    auto data = r.Bytes(at + kPropertyHeaderSize, length, what.c_str());
    property.data.assign(data.begin(), data.end());
    // The data is padded to a multiple of four bytes counted from its own
    // start (the 10-byte header leaves properties at 2 mod 4 in the
    // resource); the last property may end without its padding.
    at += kPropertyHeaderSize + ((uint64_t{length} + 3) & ~uint64_t{3});
    pipl.properties.push_back(std::move(property));
  }
  return pipl;
}

namespace {

using detail::ByteReader;

struct PeSection {
  uint32_t virtual_address;
  uint32_t virtual_size;
  uint32_t raw_size;
  uint32_t raw_offset;
};

// Maps relative virtual addresses of a PE image to file offsets.
class PeLayout {
 public:
  explicit PeLayout(const ByteReader& r) {
    if (r.size() < 0x40 || r.U16(0, "DOS header") != 0x5A4D)
      throw HostError("not a PE image (no MZ header)");
    const uint32_t pe = r.U32(0x3C, "DOS header");
    if (r.U32(pe, "PE signature") != 0x00004550) {
      throw HostError("not a PE image (no PE signature at byte " + std::to_string(pe) + ")");
    }
    const uint16_t section_count = r.U16(pe + 6, "COFF header");
    const uint16_t optional_size = r.U16(pe + 20, "COFF header");
    const uint64_t optional = pe + 24;
    const uint16_t magic = r.U16(optional, "optional header");
    uint64_t directory_count_at = 0;
    if (magic == 0x20B) {  // PE32+
      directory_count_at = optional + 108;
    } else if (magic == 0x10B) {  // PE32
      directory_count_at = optional + 92;
    } else {
      throw HostError("PE image: unknown optional header magic " + std::to_string(magic));
    }
    const uint32_t directory_count = r.U32(directory_count_at, "optional header");
    constexpr uint32_t kResourceDirectory = 2;
    if (directory_count > kResourceDirectory &&
        directory_count_at + 4 + 8 * (kResourceDirectory + 1) <= optional + optional_size) {
      resource_rva_ = r.U32(directory_count_at + 4 + 8 * kResourceDirectory, "data directory");
      resource_size_ = r.U32(directory_count_at + 8 + 8 * kResourceDirectory, "data directory");
    }
    const uint64_t table = optional + optional_size;
    r.Require(table, uint64_t{section_count} * 40, "section table");
    for (uint16_t i = 0; i < section_count; ++i) {
      const uint64_t at = table + uint64_t{i} * 40;
      sections_.push_back({r.U32(at + 12, "section header"), r.U32(at + 8, "section header"),
                           r.U32(at + 16, "section header"), r.U32(at + 20, "section header")});
    }
  }

  uint32_t resource_rva() const { return resource_rva_; }
  uint32_t resource_size() const { return resource_size_; }

  // File offset of `rva`, checking that `length` bytes from it are in the
  // section's file data.
  uint64_t Offset(uint32_t rva, uint64_t length, const char* what) const {
    for (const PeSection& s : sections_) {
      const uint64_t extent = std::max(s.virtual_size, s.raw_size);
      if (rva < s.virtual_address || rva - s.virtual_address >= extent) continue;
      const uint64_t delta = rva - s.virtual_address;
      if (delta + length > s.raw_size) {
        throw HostError(std::string("PE image: ") + what + " at address " + std::to_string(rva) +
                        " is not stored in the file");
      }
      return s.raw_offset + delta;
    }
    throw HostError(std::string("PE image: ") + what + " at address " + std::to_string(rva) +
                    " lies in no section");
  }

 private:
  uint32_t resource_rva_ = 0;
  uint32_t resource_size_ = 0;
  std::vector<PeSection> sections_;
};

constexpr uint32_t kHighBit = 0x80000000u;

// One entry of a resource directory: a name (string) or an id, and the offset
// of a subdirectory or of a data entry, relative to the resource section.
struct ResourceEntry {
  bool named;
  std::u16string name;
  uint16_t id;
  bool directory;
  uint32_t offset;
};

std::vector<ResourceEntry> ReadResourceDirectory(const ByteReader& r, uint64_t base,
                                                 uint32_t offset, const char* what) {
  const uint64_t at = base + offset;
  const uint32_t count = uint32_t{r.U16(at + 12, what)} + r.U16(at + 14, what);
  r.Require(at + 16, uint64_t{count} * 8, what);
  std::vector<ResourceEntry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t name = r.U32(at + 16 + 8 * i, what);
    const uint32_t target = r.U32(at + 20 + 8 * i, what);
    ResourceEntry entry{};
    entry.named = (name & kHighBit) != 0;
    if (entry.named) {
      const uint64_t string_at = base + (name & ~kHighBit);
      const uint16_t length = r.U16(string_at, "resource name");
      r.Require(string_at + 2, uint64_t{length} * 2, "resource name");
      for (uint16_t c = 0; c < length; ++c) {
        entry.name.push_back(static_cast<char16_t>(r.U16(string_at + 2 + 2 * c, "resource name")));
      }
    } else {
      entry.id = static_cast<uint16_t>(name);
    }
    entry.directory = (target & kHighBit) != 0;
    entry.offset = target & ~kHighBit;
    entries.push_back(std::move(entry));
  }
  return entries;
}

// Resource compilers may store a type name upper-cased; compare without case.
bool SameName(const std::u16string& stored, const std::string& wanted) {
  if (stored.size() != wanted.size()) return false;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] > 0x7F || std::toupper(static_cast<unsigned char>(stored[i])) !=
                                std::toupper(static_cast<unsigned char>(wanted[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<uint8_t> ReadPeResource(std::span<const uint8_t> image, const std::string& type,
                                    uint16_t id, uint16_t* language) {
  ByteReader r(image, "PE image");
  PeLayout layout(r);
  if (layout.resource_rva() == 0 || layout.resource_size() == 0) {
    throw HostError("PE image has no resources");
  }
  const uint64_t base = layout.Offset(layout.resource_rva(), 16, "resource directory");

  auto types = ReadResourceDirectory(r, base, 0, "resource type directory");
  auto type_entry = std::find_if(types.begin(), types.end(), [&](const ResourceEntry& e) {
    return e.named && e.directory && SameName(e.name, type);
  });
  if (type_entry == types.end()) throw HostError("PE image has no resource of type " + type);

  auto ids = ReadResourceDirectory(r, base, type_entry->offset, "resource name directory");
  auto id_entry = std::find_if(ids.begin(), ids.end(), [&](const ResourceEntry& e) {
    return !e.named && e.directory && e.id == id;
  });
  if (id_entry == ids.end()) {
    throw HostError("PE image has no resource " + type + " " + std::to_string(id));
  }

  auto languages = ReadResourceDirectory(r, base, id_entry->offset, "resource language directory");
  auto language_entry = std::find_if(languages.begin(), languages.end(),
                                     [](const ResourceEntry& e) { return !e.directory; });
  if (language_entry == languages.end()) {
    throw HostError("PE image: resource " + type + " " + std::to_string(id) + " has no data");
  }
  if (language) *language = language_entry->id;

  const uint64_t data_entry = base + language_entry->offset;
  const uint32_t data_rva = r.U32(data_entry, "resource data entry");
  const uint32_t data_size = r.U32(data_entry + 4, "resource data entry");
  const uint64_t data_at = layout.Offset(data_rva, data_size, "resource data");
  auto data = r.Bytes(data_at, data_size, "resource data");
  return {data.begin(), data.end()};
}

}  // namespace vantrel::host
