// Bounds-checked reading of module files (PE and ELF images): every read names
// the byte offset it failed at, so that a truncated or hostile file ends in a
// HostError and never in a read past the buffer.
#ifndef VANTREL_HOST_CORE_BINARY_IMAGE_H
#define VANTREL_HOST_CORE_BINARY_IMAGE_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel::host::detail {

// Little-endian reads over a byte span. `what` names the structure being read
// in the error message, e.g. "section header 3".
class ByteReader {
 public:
  ByteReader(std::span<const uint8_t> bytes, std::string context)
      : bytes_(bytes), context_(std::move(context)) {}

  std::size_t size() const { return bytes_.size(); }
  // Throws unless [offset, offset + length) lies inside the bytes.
  void Require(uint64_t offset, uint64_t length, const char* what) const;
  uint8_t U8(uint64_t offset, const char* what) const;
  uint16_t U16(uint64_t offset, const char* what) const;
  uint32_t U32(uint64_t offset, const char* what) const;
  uint64_t U64(uint64_t offset, const char* what) const;
  std::span<const uint8_t> Bytes(uint64_t offset, uint64_t length, const char* what) const;

 private:
  std::span<const uint8_t> bytes_;
  std::string context_;
};

// The whole file; throws HostError "<path>: no such file" or a read error.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// A short description of an ELF image: "ELF64 shared object, x86-64".
std::string DescribeElf(std::span<const uint8_t> image);
// "PE32+ DLL, x86-64".
std::string DescribePe(std::span<const uint8_t> image);

bool LooksLikePe(std::span<const uint8_t> image);
bool LooksLikeElf(std::span<const uint8_t> image);

}  // namespace vantrel::host::detail

#endif  // VANTREL_HOST_CORE_BINARY_IMAGE_H
