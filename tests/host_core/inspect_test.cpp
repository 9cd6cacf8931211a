// The decoding behind the inspection text: versions, flag words, and the
// description of a module this host cannot load.
#include "vantrel/host/inspect.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "test_images.h"

namespace vantrel::host {
namespace {

using ::testing::HasSubstr;

TEST(DescribeVersion, DecodesEveryField) {
  EXPECT_EQ(DescribeVersion(0x98004), "1.3.0 develop build 4");
  EXPECT_EQ(DescribeVersion(PF_VERSION(2, 1, 0, PF_Stage_RELEASE, 7)), "2.1.0 release build 7");
  // Majors from 8 up continue in the high bits 26-29.
  EXPECT_EQ(DescribeVersion(PF_VERSION(13, 5, 1, PF_Stage_BETA, 300)), "13.5.1 beta build 300");
  EXPECT_EQ(DescribeVersion(PF_VERSION(0, 15, 15, PF_Stage_ALPHA, 511)), "0.15.15 alpha build 511");
}

TEST(DescribeOutFlags, NamesKnownBitsAndShowsTheRestInHex) {
  EXPECT_EQ(DescribeOutFlags(0), "none");
  EXPECT_EQ(DescribeOutFlags(0x6), "WIDE_TIME_INPUT | NON_PARAM_VARY");
  EXPECT_EQ(DescribeOutFlags(0x6 | 1u << 30), "WIDE_TIME_INPUT | NON_PARAM_VARY | 0x40000000");
  EXPECT_EQ(DescribeOutFlags2(0x20000), "AUTOMATIC_WIDE_TIME_INPUT");
  EXPECT_EQ(DescribeOutFlags2(0x1010), "I_AM_THREADSAFE | FLOAT_COLOR_AWARE");
}

TEST(DescribeModule, WindowsModuleOnLinuxShowsItsResourceOnly) {
  const auto path =
      std::filesystem::temp_directory_path() /
      (std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_Mini.aex");
  {
    const auto pe = test_images::MakePe(test_images::MiniPipl());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(pe.bytes.data()),
              static_cast<std::streamsize>(pe.bytes.size()));
  }
  const std::string text = DescribeModule(path);
  std::filesystem::remove(path);
  EXPECT_THAT(text, HasSubstr("Format:   PE32+ DLL, x86-64\n"));
  EXPECT_THAT(text, HasSubstr("resource PiPL 16000, language 1033"));
  EXPECT_THAT(text, HasSubstr("\"Mini\" (effect name)"));
  EXPECT_THAT(text, HasSubstr("0x00098004 = 1.3.0 develop build 4"));
#if !defined(_WIN32)
  EXPECT_THAT(text, HasSubstr("not on this host (a Windows module)"));
#endif
}

TEST(DescribeModule, MalformedResourceIsDescribedNotThrown) {
  auto bytes = test_images::MiniPipl();
  test_images::Put32(bytes, 6, 99);
  const auto path =
      std::filesystem::temp_directory_path() /
      (std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_Bad.aex");
  {
    const auto pe = test_images::MakePe(bytes);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(pe.bytes.data()),
              static_cast<std::streamsize>(pe.bytes.size()));
  }
  const std::string text = DescribeModule(path);
  std::filesystem::remove(path);
  EXPECT_THAT(text, HasSubstr("malformed: property resource: header declares 99 properties"));
}

}  // namespace
}  // namespace vantrel::host
