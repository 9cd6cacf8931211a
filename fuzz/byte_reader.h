// Reads fuzz input bytes as little-endian numbers. Past the end every read
// gives zero, so any input decodes to something.
#ifndef VANTREL_FUZZ_BYTE_READER_H
#define VANTREL_FUZZ_BYTE_READER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace vantrel::fuzz {

class ByteReader {
 public:
  ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return pos_ >= size_; }

  uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() | (U8() << 8)); }
  int16_t I16() { return static_cast<int16_t>(U16()); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) | (static_cast<uint32_t>(U16()) << 16); }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  uint64_t U64() { return static_cast<uint64_t>(U32()) | (static_cast<uint64_t>(U32()) << 32); }
  bool Bit() { return (U8() & 1) != 0; }

  // Any double, NaN and infinities included.
  double RawDouble() {
    const uint64_t bits = U64();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }

  // A finite double on a grid of 1/`steps`, within +-32768 / steps.
  double Fixed(double steps) { return I16() / steps; }

  // A value from lo to hi (inclusive), stepped by 1/256 of the span.
  double InRange(double lo, double hi) { return lo + (hi - lo) * (U8() / 255.0); }

  // Up to `max` bytes as a string.
  std::string Bytes(std::size_t max) {
    std::size_t n = U8() % (max + 1);
    std::string s;
    while (n-- > 0 && !empty()) s += static_cast<char>(U8());
    return s;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace vantrel::fuzz

#endif  // VANTREL_FUZZ_BYTE_READER_H
