// The property resource parser and the PE resource reader, on hand-built
// images, on damaged ones, and on the built Windows module when there is one.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "test_images.h"
#include "vantrel/host/module_loader.h"
#include "vantrel/host/pipl.h"
#include "vantrel/host/session.h"

namespace vantrel::host {
namespace {

using test_images::MakePe;
using test_images::MiniPipl;

// The message of the HostError that `body` throws ("" if none).
template <class Body>
std::string ErrorOf(Body&& body) {
  try {
    body();
  } catch (const HostError& e) {
    return e.what();
  }
  return "";
}

TEST(ParsePipl, DecodesPropertiesWithCodesUnreversed) {
  const std::vector<uint8_t> bytes = MiniPipl();
  const Pipl pipl = ParsePipl(bytes);
  EXPECT_EQ(pipl.version, 1);
  ASSERT_EQ(pipl.properties.size(), 4u);
  EXPECT_EQ(pipl.properties[0].vendor, "8BIM");
  EXPECT_EQ(pipl.properties[0].key, "kind");
  EXPECT_EQ(pipl.properties[0].offset, 10u);
  // Data is padded from its own start: 4 + 16 bytes after "kind" comes "name".
  EXPECT_EQ(pipl.properties[1].offset, 30u);
  EXPECT_EQ(pipl.Kind(), "eFKT");
  EXPECT_EQ(pipl.PascalString("name"), "Mini");
  EXPECT_EQ(pipl.EntryPoint(), "Main");
  EXPECT_EQ(pipl.U32("eVER"), 0x98004u);
  EXPECT_EQ(pipl.Find("eGLO"), nullptr);
}

TEST(ParsePipl, TwoByteDataIsFollowedByTwoPaddingBytes) {
  std::vector<uint8_t> b = test_images::PiplHeader(2);
  test_images::AddProperty(b, "eINF", {0, 0});
  test_images::AddProperty(b, "aeFL", test_images::U32Data(8));
  const Pipl pipl = ParsePipl(b);
  ASSERT_EQ(pipl.properties.size(), 2u);
  EXPECT_EQ(pipl.properties[0].data.size(), 2u);
  EXPECT_EQ(pipl.properties[1].offset, pipl.properties[0].offset + 16 + 4);
  EXPECT_EQ(pipl.U32("aeFL"), 8u);
}

TEST(ParsePipl, TypedViewsRefuseMissingOrMisshapenProperties) {
  std::vector<uint8_t> b = test_images::PiplHeader(3);
  test_images::AddProperty(b, "kind", {'T', 'K'});
  test_images::AddProperty(b, "name", {9, 'a', 'b'});
  test_images::AddProperty(b, "8664", {'N', 'o', 'E', 'n', 'd'});
  const Pipl pipl = ParsePipl(b);
  EXPECT_NE(ErrorOf([&] { pipl.Kind(); }).find("expected 4"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { pipl.PascalString("name"); }).find("9 characters"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { pipl.EntryPoint(); }).find("not terminated"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { pipl.U32("eVER"); }).find("no 'eVER'"), std::string::npos);
}

TEST(ParsePipl, RefusesInconsistentBytesNamingTheOffset) {
  EXPECT_NE(ErrorOf([] { ParsePipl({}); }).find("header"), std::string::npos);

  std::vector<uint8_t> too_many = MiniPipl();
  test_images::Put32(too_many, 6, 1000);
  EXPECT_NE(ErrorOf([&] { ParsePipl(too_many); }).find("declares 1000 properties"),
            std::string::npos);

  // A data length that runs past the end names the property and its offset.
  std::vector<uint8_t> long_data = MiniPipl();
  test_images::Put32(long_data, 30 + 12, 0xFFFFFFF0u);
  const std::string message = ErrorOf([&] { ParsePipl(long_data); });
  EXPECT_NE(message.find("property 2 ('name') at byte 30"), std::string::npos) << message;

  // With a count the size allows, a property header or its data cut short.
  std::vector<uint8_t> cut = MiniPipl();
  test_images::Put32(cut, 6, 2);
  cut.resize(30 + 16 - 1);
  EXPECT_NE(ErrorOf([&] { ParsePipl(cut); }).find("property 2 at byte 30"), std::string::npos)
      << ErrorOf([&] { ParsePipl(cut); });
  cut = MiniPipl();
  test_images::Put32(cut, 6, 2);
  cut.resize(30 + 16 + 3);
  EXPECT_NE(ErrorOf([&] { ParsePipl(cut); }).find("property 2 ('name') at byte 30"),
            std::string::npos);
}

TEST(ParsePipl, EveryTruncationIsRefusedCleanly) {
  const std::vector<uint8_t> bytes = MiniPipl();
  for (std::size_t n = 0; n + 3 < bytes.size(); ++n) {
    // The last property may lack its trailing padding (at most 3 bytes).
    std::span<const uint8_t> prefix(bytes.data(), n);
    EXPECT_FALSE(ErrorOf([&] { ParsePipl(prefix); }).empty()) << "length " << n;
  }
}

TEST(ReadPeResource, FindsTheResourceByTypeNameIdAndAnyLanguage) {
  const auto pe = MakePe(MiniPipl());
  uint16_t language = 0;
  const std::vector<uint8_t> data = ReadPeResource(pe.bytes, "PiPL", 16000, &language);
  EXPECT_EQ(data, MiniPipl());
  EXPECT_EQ(language, 1033);

  // Resource compilers may upper-case type names.
  const auto upper = MakePe(MiniPipl(), u"PIPL", 16000, 0);
  EXPECT_EQ(ReadPeResource(upper.bytes, "PiPL", 16000, &language), MiniPipl());
  EXPECT_EQ(language, 0);
}

TEST(ReadPeResource, NamesWhatIsMissing) {
  const auto pe = MakePe(MiniPipl(), u"Other");
  EXPECT_NE(
      ErrorOf([&] { ReadPeResource(pe.bytes, "PiPL", 16000); }).find("no resource of type PiPL"),
      std::string::npos);
  const auto other_id = MakePe(MiniPipl(), u"PiPL", 1);
  EXPECT_NE(ErrorOf([&] {
              ReadPeResource(other_id.bytes, "PiPL", 16000);
            }).find("no resource PiPL 16000"),
            std::string::npos);

  auto no_resources = MakePe(MiniPipl());
  test_images::Put32(no_resources.bytes, no_resources.resource_directory_field, 0);
  EXPECT_NE(
      ErrorOf([&] { ReadPeResource(no_resources.bytes, "PiPL", 16000); }).find("no resources"),
      std::string::npos);

  EXPECT_NE(ErrorOf([] { ReadPeResource({}, "PiPL", 16000); }).find("not a PE image"),
            std::string::npos);
  std::vector<uint8_t> no_signature = MakePe(MiniPipl()).bytes;
  no_signature[0x80] = 'X';
  EXPECT_NE(ErrorOf([&] { ReadPeResource(no_signature, "PiPL", 16000); }).find("no PE signature"),
            std::string::npos);
}

TEST(ReadPeResource, RefusesAddressesOutsideTheFile) {
  auto past_end = MakePe(MiniPipl());
  test_images::Put32(past_end.bytes, past_end.data_entry, 0x7FFFFFF0u);
  EXPECT_NE(ErrorOf([&] { ReadPeResource(past_end.bytes, "PiPL", 16000); }).find("in no section"),
            std::string::npos);

  auto too_long = MakePe(MiniPipl());
  test_images::Put32(too_long.bytes, too_long.data_entry + 4, 0x100000);
  EXPECT_NE(ErrorOf([&] {
              ReadPeResource(too_long.bytes, "PiPL", 16000);
            }).find("not stored in the file"),
            std::string::npos);

  // The section claims file data beyond the end of the file.
  auto raw_past_end = MakePe(MiniPipl());
  test_images::Put32(raw_past_end.bytes, raw_past_end.section_header + 20, 0x10000000);
  EXPECT_FALSE(ErrorOf([&] { ReadPeResource(raw_past_end.bytes, "PiPL", 16000); }).empty());
}

TEST(ReadPeResource, EveryTruncationIsRefusedCleanly) {
  const auto pe = MakePe(MiniPipl());
  const std::size_t resource_end = pe.data + MiniPipl().size();
  for (std::size_t n = 0; n < resource_end; ++n) {
    std::span<const uint8_t> prefix(pe.bytes.data(), n);
    EXPECT_FALSE(ErrorOf([&] { ReadPeResource(prefix, "PiPL", 16000); }).empty()) << "length " << n;
  }
}

// Random damage: every outcome is a result or a HostError, never another
// exception or a crash. Case i is seeded with i, so any failure re-runs alone.
TEST(ReadPeResource, RandomDamageNeverEscapesAsAnythingButHostError) {
  const auto pe = MakePe(MiniPipl());
  for (uint32_t i = 0; i < 3000; ++i) {
    std::mt19937 random(i);
    std::vector<uint8_t> damaged = pe.bytes;
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int c = 0; c < changes; ++c) {
      // Aim at the headers and the resource tree, where the offsets live.
      const std::size_t at = random() % 2 ? random() % 0x1B0 : 0x200 + random() % 100;
      damaged[at] = static_cast<uint8_t>(random());
    }
    try {
      const auto data = ReadPeResource(damaged, "PiPL", 16000);
      ParsePipl(data);
    } catch (const HostError&) {
    } catch (...) {
      ADD_FAILURE() << "case " << i << " threw something other than HostError";
    }
  }
}

TEST(WindowsModule, CarriesTheTwelvePropertiesAsResourcePipl16000English) {
  const std::filesystem::path aex = VANTREL_AEX_PATH;
  if (aex.empty() || !std::filesystem::exists(aex))
    GTEST_SKIP() << "the Windows module is not built";
  const ModuleFile file = ReadModuleFile(aex);
  EXPECT_EQ(file.format, ModuleFile::Format::kPe);
  EXPECT_EQ(file.description, "PE32+ DLL, x86-64");
  EXPECT_EQ(file.resource_location, "resource PiPL 16000, language 1033");
  const Pipl pipl = ParsePipl(file.pipl_bytes);
  ASSERT_EQ(pipl.properties.size(), 12u);
  const char* const keys[] = {"kind", "name", "catg", "8664", "ePVR", "eSVR",
                              "eVER", "eINF", "eGLO", "eGL2", "eMNA", "aeFL"};
  for (std::size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(pipl.properties[i].key, keys[i]);
    EXPECT_EQ(pipl.properties[i].vendor, "8BIM");
  }
  EXPECT_EQ(pipl.Kind(), "eFKT");
  EXPECT_EQ(pipl.EntryPoint(), "EntryPointFunc");

  // On a Linux host the module is described but cannot be loaded.
#if !defined(_WIN32)
  try {
    LoadedModule::Load(aex);
    ADD_FAILURE() << "a Windows module loaded on Linux";
  } catch (const HostError& e) {
    EXPECT_NE(std::string(e.what()).find("a Windows module"), std::string::npos) << e.what();
  }
#endif
}

}  // namespace
}  // namespace vantrel::host
