// Reading module files and loading them: the ELF section of the Linux build,
// and the errors a person sees for files that are not loadable effects.
#include "vantrel/host/module_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "test_images.h"
#include "vantrel/host/session.h"

namespace vantrel::host {
namespace {

std::vector<uint8_t> FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A file in the test's temporary directory, removed at the end of the test.
class TempFile {
 public:
  TempFile(const std::string& name, const std::vector<uint8_t>& bytes)
      : path_(std::filesystem::temp_directory_path() /
              (std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + name)) {
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  ~TempFile() { std::filesystem::remove(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string LoadError(const std::filesystem::path& path) {
  try {
    LoadedModule::Load(path);
  } catch (const HostError& e) {
    return e.what();
  }
  return "";
}

TEST(ElfSection, ReadsTheProbesPropertyResource) {
  const std::vector<uint8_t> image = FileBytes(PROBE_PATH);
  const std::vector<uint8_t> section = ReadElfSection(image, kPiplElfSection);
  const Pipl pipl = ParsePipl(section);
  ASSERT_EQ(pipl.properties.size(), 3u);
  EXPECT_EQ(pipl.Kind(), "eFKT");
  EXPECT_EQ(pipl.PascalString("name"), "Probe");
  EXPECT_EQ(pipl.EntryPoint(), "ProbeMain");

  EXPECT_NE(std::string(ReadModuleFile(PROBE_PATH).description).find("ELF64 shared object"),
            std::string::npos);
}

TEST(ElfSection, RefusesMissingSectionsAndDamagedImages) {
  const std::vector<uint8_t> image = FileBytes(PROBE_PATH);
  EXPECT_THROW(ReadElfSection(image, "no_such_section"), HostError);
  EXPECT_THROW(ReadElfSection({}, kPiplElfSection), HostError);
  std::vector<uint8_t> elf32 = image;
  elf32[4] = 1;
  EXPECT_THROW(ReadElfSection(elf32, kPiplElfSection), HostError);

  // Every cut of the file either still holds the whole section (the section
  // headers come last, so few do) or is refused with a HostError.
  for (std::size_t n = 0; n < image.size(); n += 7) {
    std::span<const uint8_t> prefix(image.data(), n);
    try {
      ReadElfSection(prefix, kPiplElfSection);
      ADD_FAILURE() << "a cut at " << n << " of " << image.size() << " bytes was accepted";
    } catch (const HostError&) {
    }
  }
}

// Random damage to the ELF header and the section header table: a result or a
// HostError, nothing else. Case i is seeded with i.
TEST(ElfSection, RandomDamageNeverEscapesAsAnythingButHostError) {
  const std::vector<uint8_t> image = FileBytes(PROBE_PATH);
  ASSERT_GT(image.size(), 64u);
  uint64_t table = 0;
  for (int i = 7; i >= 0; --i) table = table << 8 | image[0x28 + i];
  ASSERT_LT(table, image.size());
  for (uint32_t i = 0; i < 3000; ++i) {
    std::mt19937 random(i);
    std::vector<uint8_t> damaged = image;
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int c = 0; c < changes; ++c) {
      const std::size_t at =
          random() % 2 ? random() % 64 : table + random() % (image.size() - table);
      damaged[at] = static_cast<uint8_t>(random());
    }
    try {
      ParsePipl(ReadElfSection(damaged, kPiplElfSection));
    } catch (const HostError&) {
    } catch (...) {
      ADD_FAILURE() << "case " << i << " threw something other than HostError";
    }
  }
}

TEST(ModuleLoader, LoadsTheEntryPointTheResourceNames) {
  auto module = LoadedModule::Load(PROBE_PATH);
  ASSERT_NE(module->entry(), nullptr);
  EXPECT_EQ(module->pipl().EntryPoint(), "ProbeMain");
  PF_OutData out{};
  PF_InData in{};
  in.pica_basicP = nullptr;
  EXPECT_EQ(module->entry()(107, &in, &out, nullptr, nullptr, nullptr), PF_Err_NONE);
}

TEST(ModuleLoader, ExplainsWhyAFileIsNotLoaded) {
  EXPECT_EQ(LoadError("/nonexistent/Missing.aex"), "/nonexistent/Missing.aex: no such file");

  TempFile text("notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
  EXPECT_NE(LoadError(text.path()).find("not a module"), std::string::npos);

  TempFile empty("empty.so", {});
  EXPECT_NE(LoadError(empty.path()).find("not a module"), std::string::npos);

  EXPECT_NE(LoadError(NO_RESOURCE_PATH).find("no ELF section vantrel_pipl"), std::string::npos)
      << LoadError(NO_RESOURCE_PATH);
  EXPECT_NE(LoadError(PROBE_NOT_EFFECT_PATH).find("not an effect (kind AEgx)"), std::string::npos)
      << LoadError(PROBE_NOT_EFFECT_PATH);

  // The resource names an entry point the library does not export.
  std::vector<uint8_t> image = FileBytes(PROBE_PATH);
  const std::string in_resource("\x0C\0\0\0ProbeMain", 13);  // data length, then the name
  auto at = std::search(image.begin(), image.end(), in_resource.begin(), in_resource.end());
  ASSERT_NE(at, image.end());
  at[4] = 'X';
  TempFile renamed("renamed.so", image);
  const std::string renamed_error = LoadError(renamed.path());
  EXPECT_NE(renamed_error.find("no exported entry point XrobeMain"), std::string::npos)
      << renamed_error;
  EXPECT_EQ(renamed_error.rfind(renamed.path().string() + ": ", 0), 0u) << renamed_error;
}

TEST(ModuleLoader, AMalformedPropertyResourceIsRefusedBeforeTheLibraryIsLoaded) {
  // The probe's resource claims 200 properties where it holds three.
  std::vector<uint8_t> image = FileBytes(PROBE_PATH);
  const std::string header("\x01\0\0\0\0\0\x03\0\0\0MIB8dnik", 18);
  auto at = std::search(image.begin(), image.end(), header.begin(), header.end());
  ASSERT_NE(at, image.end());
  at[6] = 200;
  TempFile damaged("damaged.so", image);
  const std::string error = LoadError(damaged.path());
  EXPECT_EQ(error.rfind(damaged.path().string() + ": ", 0), 0u) << error;
  EXPECT_NE(error.find("property"), std::string::npos) << error;

  // A resource whose entry-point string has no terminating zero.
  image = FileBytes(PROBE_PATH);
  const std::string entry("ProbeMain\0\0\0", 12);
  at = std::search(image.begin(), image.end(), entry.begin(), entry.end());
  ASSERT_NE(at, image.end());
  std::fill(at + 9, at + 12, 'X');
  TempFile unterminated("unterminated.so", image);
  const std::string unterminated_error = LoadError(unterminated.path());
  EXPECT_EQ(unterminated_error.rfind(unterminated.path().string() + ": ", 0), 0u)
      << unterminated_error;
}

TEST(ModuleLoader, WindowsModuleIsReadButNotLoadedOnLinux) {
  TempFile aex("Mini.aex", test_images::MakePe(test_images::MiniPipl()).bytes);
  const Pipl pipl = ReadModulePipl(aex.path());
  EXPECT_EQ(pipl.PascalString("name"), "Mini");
#if !defined(_WIN32)
  EXPECT_NE(LoadError(aex.path()).find("a Windows module: load it with the Windows build"),
            std::string::npos)
      << LoadError(aex.path());
#endif
}

TEST(LinuxModule, CarriesTheSameTwelvePropertiesInItsSection) {
  const std::filesystem::path module = VANTREL_MODULE_PATH;
  if (module.empty() || !std::filesystem::exists(module))
    GTEST_SKIP() << "the Linux module is not built";
  const ModuleFile file = ReadModuleFile(module);
  EXPECT_EQ(file.format, ModuleFile::Format::kElf);
  EXPECT_EQ(file.resource_location, "ELF section vantrel_pipl");
  const Pipl pipl = ParsePipl(file.pipl_bytes);
  ASSERT_EQ(pipl.properties.size(), 12u);
  EXPECT_EQ(pipl.Kind(), "eFKT");
  EXPECT_EQ(pipl.PascalString("name"), "Vantrel");
  EXPECT_EQ(pipl.PascalString("catg"), "Orlemont");
  EXPECT_EQ(pipl.PascalString("eMNA"), "VQRN");
  EXPECT_EQ(pipl.EntryPoint(), "EntryPointFunc");
  EXPECT_EQ(pipl.U32("eVER"), 0x98004u);
  EXPECT_EQ(pipl.U32("eGLO"), 0x6u);
  EXPECT_EQ(pipl.U32("eGL2"), 0x20000u);

  // The Windows module, when built, carries byte-for-byte the same resource.
  const std::filesystem::path aex = VANTREL_AEX_PATH;
  if (!aex.empty() && std::filesystem::exists(aex)) {
    EXPECT_EQ(ReadModuleFile(aex).pipl_bytes, file.pipl_bytes);
  }
}

}  // namespace
}  // namespace vantrel::host
