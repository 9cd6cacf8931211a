#include "binary_image.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "vantrel/host/module_loader.h"
#include "vantrel/host/session.h"

namespace vantrel::host::detail {

void ByteReader::Require(uint64_t offset, uint64_t length, const char* what) const {
  if (offset > bytes_.size() || length > bytes_.size() - offset) {
    throw HostError(context_ + ": " + what + " at byte " + std::to_string(offset) + " (" +
                    std::to_string(length) + " bytes) lies past the end of the data (" +
                    std::to_string(bytes_.size()) + " bytes)");
  }
}

uint8_t ByteReader::U8(uint64_t offset, const char* what) const {
  Require(offset, 1, what);
  return bytes_[offset];
}

uint16_t ByteReader::U16(uint64_t offset, const char* what) const {
  Require(offset, 2, what);
  return static_cast<uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
}

uint32_t ByteReader::U32(uint64_t offset, const char* what) const {
  Require(offset, 4, what);
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | bytes_[offset + i];
  return value;
}

uint64_t ByteReader::U64(uint64_t offset, const char* what) const {
  Require(offset, 8, what);
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | bytes_[offset + i];
  return value;
}

std::span<const uint8_t> ByteReader::Bytes(uint64_t offset, uint64_t length,
                                           const char* what) const {
  Require(offset, length, what);
  return bytes_.subspan(offset, length);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) throw HostError(path + ": no such file");
  if (std::filesystem::is_directory(path, ec)) throw HostError(path + ": is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw HostError(path + ": cannot be opened");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (in.bad()) throw HostError(path + ": read error");
  return bytes;
}

bool LooksLikePe(std::span<const uint8_t> image) {
  return image.size() >= 2 && image[0] == 'M' && image[1] == 'Z';
}

bool LooksLikeElf(std::span<const uint8_t> image) {
  return image.size() >= 4 && image[0] == 0x7F && image[1] == 'E' && image[2] == 'L' &&
         image[3] == 'F';
}

namespace {

const char* ElfMachineName(uint16_t machine) {
  switch (machine) {
    case 3:
      return "x86";
    case 40:
      return "ARM";
    case 62:
      return "x86-64";
    case 183:
      return "AArch64";
    case 243:
      return "RISC-V";
    default:
      return nullptr;
  }
}

const char* PeMachineName(uint16_t machine) {
  switch (machine) {
    case 0x14C:
      return "x86";
    case 0x8664:
      return "x86-64";
    case 0xAA64:
      return "ARM64";
    default:
      return nullptr;
  }
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// ELF identification bytes and the header fields both readers need.
struct ElfHeader {
  uint16_t type;
  uint16_t machine;
  uint64_t section_offset;
  uint16_t section_entry_size;
  uint64_t section_count;
  uint64_t names_index;
};

constexpr uint16_t kSectionIndexEscape = 0xFFFF;  // SHN_XINDEX: real value in section 0

ElfHeader ReadElfHeader(const ByteReader& r) {
  if (r.size() < 16 || r.U8(0, "identification") != 0x7F || r.U8(1, "identification") != 'E' ||
      r.U8(2, "identification") != 'L' || r.U8(3, "identification") != 'F') {
    throw HostError("not an ELF file");
  }
  if (r.U8(4, "class") != 2) throw HostError("a 32-bit ELF file; only 64-bit modules are loaded");
  if (r.U8(5, "byte order") != 1) throw HostError("a big-endian ELF file");
  ElfHeader h{};
  h.type = r.U16(16, "ELF header");
  h.machine = r.U16(18, "ELF header");
  h.section_offset = r.U64(0x28, "ELF header");
  h.section_entry_size = r.U16(0x3A, "ELF header");
  h.section_count = r.U16(0x3C, "ELF header");
  h.names_index = r.U16(0x3E, "ELF header");
  if (h.section_offset != 0 && (h.section_count == 0 || h.names_index == kSectionIndexEscape)) {
    // Many sections: the counts live in section header 0.
    if (h.section_entry_size < 64) throw HostError("ELF section header size too small");
    if (h.section_count == 0) h.section_count = r.U64(h.section_offset + 0x20, "section header 0");
    if (h.names_index == kSectionIndexEscape) {
      h.names_index = r.U32(h.section_offset + 0x28, "section header 0");
    }
  }
  return h;
}

}  // namespace

std::string DescribeElf(std::span<const uint8_t> image) {
  ByteReader r(image, "ELF image");
  ElfHeader h = ReadElfHeader(r);
  std::string kind = h.type == 3   ? "shared object"
                     : h.type == 2 ? "executable"
                     : h.type == 1 ? "relocatable object"
                                   : "type " + std::to_string(h.type);
  const char* machine = ElfMachineName(h.machine);
  return "ELF64 " + kind + ", " + (machine ? machine : "machine " + std::to_string(h.machine));
}

std::string DescribePe(std::span<const uint8_t> image) {
  ByteReader r(image, "PE image");
  uint32_t pe = r.U32(0x3C, "DOS header");
  if (r.U32(pe, "PE signature") != 0x00004550) throw HostError("not a PE image");
  uint16_t machine = r.U16(pe + 4, "COFF header");
  uint16_t characteristics = r.U16(pe + 22, "COFF header");
  uint16_t magic = r.U16(pe + 24, "optional header");
  std::string format = magic == 0x20B   ? "PE32+"
                       : magic == 0x10B ? "PE32"
                                        : "PE (optional header " + Hex(magic) + ")";
  const char* kind = (characteristics & 0x2000) ? "DLL" : "executable";
  const char* name = PeMachineName(machine);
  return format + " " + kind + ", " + (name ? name : "machine " + Hex(machine));
}

}  // namespace vantrel::host::detail

namespace vantrel::host {

std::vector<uint8_t> ReadElfSection(std::span<const uint8_t> image, const std::string& name) {
  using detail::ByteReader;
  ByteReader r(image, "ELF image");
  detail::ElfHeader h = detail::ReadElfHeader(r);
  if (h.section_offset == 0 || h.section_count == 0)
    throw HostError("ELF file has no section headers");
  if (h.section_entry_size < 64) throw HostError("ELF section header size too small");
  // Bound the count by the file size before looping over it (and before the
  // table's size can overflow).
  if (h.section_count > image.size() / h.section_entry_size) {
    throw HostError("ELF image: " + std::to_string(h.section_count) +
                    " section headers cannot fit in the file");
  }
  r.Require(h.section_offset, h.section_count * h.section_entry_size, "section header table");
  if (h.names_index >= h.section_count)
    throw HostError("ELF section name table index out of range");
  auto header = [&](uint64_t index) { return h.section_offset + index * h.section_entry_size; };
  const uint64_t names_offset = r.U64(header(h.names_index) + 0x18, "section name table header");
  const uint64_t names_size = r.U64(header(h.names_index) + 0x20, "section name table header");
  std::span<const uint8_t> names = r.Bytes(names_offset, names_size, "section name table");
  for (uint64_t i = 0; i < h.section_count; ++i) {
    const uint32_t name_at = r.U32(header(i), "section header");
    if (name_at >= names.size()) continue;
    const uint8_t* start = names.data() + name_at;
    const void* end = std::memchr(start, 0, names.size() - name_at);
    if (!end) continue;
    if (std::string(reinterpret_cast<const char*>(start),
                    static_cast<const uint8_t*>(end) - start) != name) {
      continue;
    }
    constexpr uint32_t kNoBits = 8;  // SHT_NOBITS: occupies no file space
    if (r.U32(header(i) + 4, "section header") == kNoBits) {
      throw HostError("ELF section " + name + " holds no data");
    }
    const uint64_t offset = r.U64(header(i) + 0x18, "section header");
    const uint64_t size = r.U64(header(i) + 0x20, "section header");
    std::span<const uint8_t> data = r.Bytes(offset, size, "section contents");
    return {data.begin(), data.end()};
  }
  throw HostError("no ELF section " + name);
}

}  // namespace vantrel::host
