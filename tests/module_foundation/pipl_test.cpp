// The property resource: its bytes against a dump written out by hand from the
// resource's layout, its structure, its agreement with global set-up, and its
// presence in the built modules.
#include "resources/pipl.h"

#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "binding/entry.h"
#include "fake_host.h"

namespace vantrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Vendor, key and kind codes are little-endian 32-bit integers, so their
// characters appear reversed ("8BIM" as "MIB8").
constexpr const char* kExpectedDump[] = {
    "01 00  00 00 00 00  0c 00 00 00",                                              // version 1, 12
    "4d 49 42 38  64 6e 69 6b  00 00 00 00  04 00 00 00  54 4b 46 65",              // kind eFKT
    "4d 49 42 38  65 6d 61 6e  00 00 00 00  08 00 00 00  07 56 61 6e 74 72 65 6c",  // name
    "4d 49 42 38  67 74 61 63  00 00 00 00  0c 00 00 00  08 4f 72 6c 65 6d 6f 6e 74 00 00 00",
    "4d 49 42 38  34 36 36 38  00 00 00 00  10 00 00 00"  // 8664
    "  45 6e 74 72 79 50 6f 69 6e 74 46 75 6e 63 00 00",
    "4d 49 42 38  52 56 50 65  00 00 00 00  04 00 00 00  02 00 00 00",   // ePVR 2.0
    "4d 49 42 38  52 56 53 65  00 00 00 00  04 00 00 00  0d 00 02 00",   // eSVR 13.2
    "4d 49 42 38  52 45 56 65  00 00 00 00  04 00 00 00  04 80 09 00",   // eVER
    "4d 49 42 38  46 4e 49 65  00 00 00 00  02 00 00 00  00 00  00 00",  // eINF + padding
    "4d 49 42 38  4f 4c 47 65  00 00 00 00  04 00 00 00  06 00 00 00",   // eGLO
    "4d 49 42 38  32 4c 47 65  00 00 00 00  04 00 00 00  00 00 02 00",   // eGL2
    "4d 49 42 38  41 4e 4d 65  00 00 00 00  08 00 00 00  04 56 51 52 4e 00 00 00",  // eMNA
    "4d 49 42 38  4c 46 65 61  00 00 00 00  04 00 00 00  08 00 00 00",              // aeFL
};

Bytes ExpectedBytes() {
  Bytes bytes;
  for (const char* line : kExpectedDump) {
    std::istringstream in(line);
    unsigned value;
    while (in >> std::hex >> value) bytes.push_back(static_cast<std::uint8_t>(value));
  }
  return bytes;
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  char text[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(text, sizeof text, "%02x", bytes[i]);
    out += text;
    out += (i % 16 == 15) ? '\n' : ' ';
  }
  return out;
}

std::uint32_t U32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

struct ParsedProperty {
  std::string key;  // as the characters read, e.g. "eVER"
  std::size_t offset;
  std::size_t data_offset;
  std::uint32_t length;
};

// Walks the properties: data padded to four bytes from its own start.
std::vector<ParsedProperty> Parse(const Bytes& b) {
  std::vector<ParsedProperty> out;
  std::size_t at = 10;
  const std::uint32_t count = U32(b, 6);
  for (std::uint32_t i = 0; i < count && at + 16 <= b.size(); ++i) {
    ParsedProperty p;
    p.key = {static_cast<char>(b[at + 7]), static_cast<char>(b[at + 6]),
             static_cast<char>(b[at + 5]), static_cast<char>(b[at + 4])};
    p.offset = at;
    p.length = U32(b, at + 12);
    p.data_offset = at + 16;
    out.push_back(p);
    at = p.data_offset + ((p.length + 3u) & ~3u);
  }
  EXPECT_EQ(at, b.size()) << "the resource must end with its last property";
  return out;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Pipl, BytesMatchTheHandWrittenDump) {
  const Bytes actual(pipl::kBytes.begin(), pipl::kBytes.end());
  const Bytes expected = ExpectedBytes();
  EXPECT_EQ(expected.size(), 278u);
  EXPECT_EQ(actual, expected) << "actual:\n" << Hex(actual) << "\nexpected:\n" << Hex(expected);
}

TEST(Pipl, TwelvePropertiesOnFourByteBoundaries) {
  const Bytes bytes(pipl::kBytes.begin(), pipl::kBytes.end());
  const auto properties = Parse(bytes);
  ASSERT_EQ(properties.size(), 12u);
  const char* keys[] = {"kind", "name", "catg", "8664", "ePVR", "eSVR",
                        "eVER", "eINF", "eGLO", "eGL2", "eMNA", "aeFL"};
  for (std::size_t i = 0; i < properties.size(); ++i) {
    EXPECT_EQ(properties[i].key, keys[i]);
    // Boundaries count from the first property, right after the 10-byte header.
    EXPECT_EQ((properties[i].offset - 10) % 4, 0u) << properties[i].key;
  }
  const ParsedProperty& info = properties[7];
  EXPECT_EQ(info.length, 2u);
  EXPECT_EQ(properties[8].offset, info.data_offset + 4);
}

TEST(Pipl, VersionAndFlagsAreThoseOfGlobalSetup) {
  testing::FakeHost host;
  ASSERT_EQ(GlobalSetup(&host.in_data, &host.out_data), PF_Err_NONE);
  const Bytes bytes(pipl::kBytes.begin(), pipl::kBytes.end());
  const auto properties = Parse(bytes);
  auto value = [&](const std::string& key) {
    auto it = std::find_if(properties.begin(), properties.end(),
                           [&](const ParsedProperty& p) { return p.key == key; });
    EXPECT_NE(it, properties.end()) << key;
    EXPECT_EQ(it->length, 4u) << key;
    return U32(bytes, it->data_offset);
  };
  EXPECT_EQ(value("eVER"), host.out_data.my_version);
  EXPECT_EQ(value("eGLO"), static_cast<std::uint32_t>(host.out_data.out_flags));
  EXPECT_EQ(value("eGL2"), static_cast<std::uint32_t>(host.out_data.out_flags2));
}

// The bytes of ELF section `name` of the file `image`, or none.
Bytes ElfSection(const Bytes& image, const std::string& name) {
  if (image.size() < sizeof(Elf64_Ehdr)) return {};
  Elf64_Ehdr header;
  std::memcpy(&header, image.data(), sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return {};
  auto section = [&](std::size_t i) {
    Elf64_Shdr s;
    std::memcpy(&s, image.data() + header.e_shoff + i * header.e_shentsize, sizeof s);
    return s;
  };
  const Elf64_Shdr names = section(header.e_shstrndx);
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr s = section(i);
    const char* section_name =
        reinterpret_cast<const char*>(image.data() + names.sh_offset + s.sh_name);
    if (name == section_name) {
      return Bytes(image.begin() + static_cast<std::ptrdiff_t>(s.sh_offset),
                   image.begin() + static_cast<std::ptrdiff_t>(s.sh_offset + s.sh_size));
    }
  }
  return {};
}

TEST(BuiltModule, LinuxModuleCarriesTheResourceSection) {
  const Bytes section = ElfSection(ReadFile(VANTREL_MODULE_PATH), pipl::kElfSection);
  EXPECT_EQ(section, Bytes(pipl::kBytes.begin(), pipl::kBytes.end()));
}

TEST(BuiltModule, LinuxModuleAnswersThroughItsExport) {
  void* module = dlopen(VANTREL_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto entry = reinterpret_cast<PF_EntryPointFunc>(dlsym(module, "EntryPointFunc"));
  ASSERT_NE(entry, nullptr);
  testing::FakeHost host;
  EXPECT_EQ(entry(PF_Cmd_GLOBAL_SETUP, &host.in_data, &host.out_data, nullptr, nullptr, nullptr),
            PF_Err_NONE);
  EXPECT_EQ(host.out_data.my_version, 0x98004u);
  EXPECT_EQ(entry(PF_Cmd_PARAMS_SETUP, &host.in_data, &host.out_data, nullptr, nullptr, nullptr),
            PF_Err_NONE);
  EXPECT_EQ(host.declared.size(), 23u);
  host.in_data.pica_basicP = nullptr;
  EXPECT_EQ(entry(PF_Cmd_ABOUT, &host.in_data, &host.out_data, nullptr, nullptr, nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
  dlclose(module);
}

TEST(BuiltModule, WindowsModuleCarriesTheResourceBytes) {
  const std::string path = VANTREL_AEX_PATH;
  if (path.empty()) GTEST_SKIP() << "the Windows module is not built in this configuration";
  const Bytes image = ReadFile(path);
  ASSERT_FALSE(image.empty()) << path;
  EXPECT_NE(std::search(image.begin(), image.end(), pipl::kBytes.begin(), pipl::kBytes.end()),
            image.end());
}

}  // namespace
}  // namespace vantrel
