// Builders of small module images for the reader tests: a property resource in
// its Windows byte form and a minimal PE32+ file that carries it as a resource.
#ifndef VANTREL_TESTS_HOST_CORE_TEST_IMAGES_H
#define VANTREL_TESTS_HOST_CORE_TEST_IMAGES_H

#include <cstdint>
#include <string>
#include <vector>

namespace test_images {

// gcc 12 at -O3 loses track of the resize below when these are inlined into
// a caller that builds an image from an empty vector, and reports a write
// into "a region of size 0"; the bytes are always within the vector.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif

inline void Put16(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// Appends one property: vendor '8BIM', `key` (stored reversed), id 0, the
// data, and zero padding to a multiple of four.
inline void AddProperty(std::vector<uint8_t>& b, const std::string& key,
                        const std::vector<uint8_t>& data) {
  const std::string vendor = "MIB8";
  b.insert(b.end(), vendor.begin(), vendor.end());
  b.insert(b.end(), key.rbegin(), key.rend());
  Put32(b, b.size(), 0);
  Put32(b, b.size(), static_cast<uint32_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  while (b.size() % 4 != 2) b.push_back(0);  // the 10-byte header offsets everything by 2
}

inline std::vector<uint8_t> PiplHeader(uint32_t count) {
  std::vector<uint8_t> b;
  Put16(b, 0, 1);
  Put32(b, 2, 0);
  Put32(b, 6, count);
  return b;
}

inline std::vector<uint8_t> Pascal(const std::string& s) {
  std::vector<uint8_t> d{static_cast<uint8_t>(s.size())};
  d.insert(d.end(), s.begin(), s.end());
  return d;
}

inline std::vector<uint8_t> U32Data(uint32_t v) {
  std::vector<uint8_t> d;
  Put32(d, 0, v);
  return d;
}

// kind eFKT, name "Mini", 8664 "Main", eVER 0x98004.
inline std::vector<uint8_t> MiniPipl() {
  std::vector<uint8_t> b = PiplHeader(4);
  AddProperty(b, "kind", {'T', 'K', 'F', 'e'});
  AddProperty(b, "name", Pascal("Mini"));
  AddProperty(b, "8664", {'M', 'a', 'i', 'n', 0});
  AddProperty(b, "eVER", U32Data(0x98004));
  return b;
}

// Where the fields a test may want to corrupt lie in a built PE image.
struct PeImage {
  std::vector<uint8_t> bytes;
  std::size_t resource_directory_field;  // data directory 2: RVA, then size
  std::size_t section_header;
  std::size_t data_entry;  // resource data entry: RVA, size
  std::size_t data;        // the resource's bytes
};

// A PE32+ DLL for x86-64 with one section ".rsrc" at RVA 0x1000 (file 0x200)
// holding the resource tree type `type` (by name) / `id` / `language`.
inline PeImage MakePe(const std::vector<uint8_t>& resource, const std::u16string& type = u"PiPL",
                      uint16_t id = 16000, uint16_t language = 1033) {
  PeImage pe;
  std::vector<uint8_t>& b = pe.bytes;
  b.assign(0x200, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x80);
  Put32(b, 0x80, 0x00004550);  // "PE\0\0"
  Put16(b, 0x84, 0x8664);      // machine
  Put16(b, 0x86, 1);           // sections
  Put16(b, 0x94, 0xF0);        // optional header size
  Put16(b, 0x96, 0x2022);      // DLL, executable, large addresses
  const std::size_t optional = 0x98;
  Put16(b, optional, 0x20B);  // PE32+
  Put32(b, optional + 108, 16);
  pe.resource_directory_field = optional + 112 + 8 * 2;
  pe.section_header = optional + 0xF0;

  // Resource section contents, offsets relative to its start.
  std::vector<uint8_t> r;
  constexpr uint32_t kDir = 0x80000000u;
  Put16(r, 12, 1);  // root: one named entry
  Put32(r, 16, kDir | 88);
  Put32(r, 20, kDir | 24);
  Put16(r, 24 + 14, 1);  // type directory: one id entry
  Put32(r, 24 + 16, id);
  Put32(r, 24 + 20, kDir | 48);
  Put16(r, 48 + 14, 1);  // name directory: one language
  Put32(r, 48 + 16, language);
  Put32(r, 48 + 20, 72);
  Put32(r, 72, 0x1000 + 100);  // data entry: RVA, size
  Put32(r, 76, static_cast<uint32_t>(resource.size()));
  Put16(r, 88, static_cast<uint32_t>(type.size()));
  for (std::size_t i = 0; i < type.size(); ++i) Put16(r, 90 + 2 * i, type[i]);
  r.resize(100, 0);
  r.insert(r.end(), resource.begin(), resource.end());
  while (r.size() % 0x200) r.push_back(0);

  Put32(b, pe.resource_directory_field, 0x1000);
  Put32(b, pe.resource_directory_field + 4, static_cast<uint32_t>(100 + resource.size()));
  const std::string name = ".rsrc";
  std::copy(name.begin(), name.end(), b.begin() + pe.section_header);
  Put32(b, pe.section_header + 8, static_cast<uint32_t>(r.size()));   // virtual size
  Put32(b, pe.section_header + 12, 0x1000);                           // virtual address
  Put32(b, pe.section_header + 16, static_cast<uint32_t>(r.size()));  // raw size
  Put32(b, pe.section_header + 20, 0x200);                            // raw offset
  pe.data_entry = 0x200 + 72;
  pe.data = 0x200 + 100;
  b.insert(b.end(), r.begin(), r.end());
  return pe;
}

}  // namespace test_images

#endif  // VANTREL_TESTS_HOST_CORE_TEST_IMAGES_H
