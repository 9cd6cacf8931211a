// Build tool, run with the native compiler: writes the serialised property
// resource as a compiled resource file <dir>/pipl.res (type "PiPL", id 16000,
// language 1033), which windres turns into the object linked into the .aex.
//
// A resource script would not do: resource compilers store named types in
// upper case ("PIPL"). The .res format carries the name as written.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "resources/pipl.h"

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v));
  Put16(out, static_cast<uint16_t>(v >> 16));
}
void Align4(std::vector<uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

// One entry of a .res file: DataSize, HeaderSize, TYPE, NAME, DataVersion,
// MemoryFlags, LanguageId, Version, Characteristics, then the data, each
// part aligned to four bytes.
void PutEntry(std::vector<uint8_t>& out, const std::u16string& type, uint16_t id, uint16_t lang,
              uint16_t memory_flags, const uint8_t* data, uint32_t size) {
  std::vector<uint8_t> names;
  if (type.empty()) {
    Put16(names, 0xFFFF);
    Put16(names, 0);
  } else {
    for (char16_t c : type) Put16(names, static_cast<uint16_t>(c));
    Put16(names, 0);
  }
  Put16(names, 0xFFFF);
  Put16(names, id);
  while ((8 + names.size()) % 4 != 0) names.push_back(0);
  const uint32_t header_size = static_cast<uint32_t>(8 + names.size() + 16);
  Put32(out, size);
  Put32(out, header_size);
  out.insert(out.end(), names.begin(), names.end());
  Put32(out, 0);  // DataVersion
  Put16(out, memory_flags);
  Put16(out, lang);
  Put32(out, 0);  // Version
  Put32(out, 0);  // Characteristics
  out.insert(out.end(), data, data + size);
  Align4(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  // LANG_ENGLISH (0x09), SUBLANG_ENGLISH_US (0x01): language 1033.
  static_assert(vantrel::pipl::kResourceLanguage == (0x01 << 10 | 0x09));
  std::vector<uint8_t> res;
  PutEntry(res, u"", 0, 0, 0, nullptr, 0);  // the empty entry every .res file starts with
  constexpr uint16_t kMoveablePure = 0x0030;
  PutEntry(res, u"PiPL", vantrel::pipl::kResourceId, vantrel::pipl::kResourceLanguage,
           kMoveablePure, vantrel::pipl::kBytes.data(),
           static_cast<uint32_t>(vantrel::pipl::kBytes.size()));
  std::ofstream file(dir + "/pipl.res", std::ios::binary);
  file.write(reinterpret_cast<const char*>(res.data()), static_cast<std::streamsize>(res.size()));
  file.close();
  if (!file) {
    std::fprintf(stderr, "pipl_rc_gen: cannot write %s/pipl.res\n", dir.c_str());
    return 1;
  }
  return 0;
}
