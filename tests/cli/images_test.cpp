// PNG files, contact sheets and the frame lists and conversions around them.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "test_support.h"
#include "vantrel/cli/contact_sheet.h"
#include "vantrel/cli/raster.h"
#include "vantrel/cli/render_job.h"

namespace vantrel::cli {
namespace {

namespace fs = std::filesystem;

Raster Noise(int w, int h, unsigned seed) {
  Raster r(w, h);
  std::mt19937 rng(seed);
  for (auto& b : r.rgba) b = static_cast<std::uint8_t>(rng());
  return r;
}

Raster Solid(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  Raster out(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = out.At(x, y);
      p[0] = r;
      p[1] = g;
      p[2] = b;
      p[3] = 255;
    }
  }
  return out;
}

TEST(Png, RoundTripKeepsEveryByteAndLeavesNoTemporaryFile) {
  const fs::path dir = testing::FreshWorkDir("png-round-trip");
  const Raster image = Noise(37, 11, 1);  // odd sizes, every alpha value
  WritePng(dir / "a.png", image);
  const Raster back = ReadPng(dir / "a.png");
  EXPECT_EQ(back.width, 37);
  EXPECT_EQ(back.height, 11);
  EXPECT_EQ(back.rgba, image.rgba);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST(Png, ReplacesAnOldFileOnlyWhenTheNewOneIsComplete) {
  const fs::path dir = testing::FreshWorkDir("png-replace");
  WritePng(dir / "a.png", Noise(4, 4, 2));
  WritePng(dir / "a.png", Noise(8, 2, 3));
  EXPECT_EQ(ReadPng(dir / "a.png").rgba, Noise(8, 2, 3).rgba);
  EXPECT_THROW(WritePng(dir / "missing-folder" / "b.png", Noise(2, 2, 4)), ImageFileError);
  EXPECT_THROW(WritePng(dir / "c.png", Raster()), ImageFileError);
  EXPECT_FALSE(fs::exists(dir / "c.png"));
  EXPECT_FALSE(fs::exists(PartialName(dir / "c.png")));
}

TEST(Png, RefusesAFileThatIsNotAPng) {
  const fs::path dir = testing::FreshWorkDir("png-bad");
  testing::WriteText(dir / "x.png", "not a picture");
  EXPECT_THROW(ReadPng(dir / "x.png"), ImageFileError);
  EXPECT_THROW(ReadPng(dir / "none.png"), ImageFileError);
}

TEST(HostImage, BecomesRgbaWithRowPaddingDropped) {
  host::Image image(3, 2);  // rows padded to 16 bytes
  image.at(2, 1) = PF_Pixel{200, 10, 20, 30};
  const Raster r = ToRaster(image);
  ASSERT_EQ(r.rgba.size(), 3u * 2u * 4u);
  EXPECT_EQ(r.At(2, 1)[0], 10);
  EXPECT_EQ(r.At(2, 1)[1], 20);
  EXPECT_EQ(r.At(2, 1)[2], 30);
  EXPECT_EQ(r.At(2, 1)[3], 200);
  EXPECT_EQ(r.At(0, 0)[3], 0);
}

TEST(ContactSheet, SamplesAtAConstantStep) {
  EXPECT_EQ(SampleFrames(5), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(SampleFrames(24).size(), 24u);
  const std::vector<int> of60 = SampleFrames(60);
  ASSERT_EQ(of60.size(), 20u);
  EXPECT_EQ(of60[1], 3);
  EXPECT_EQ(of60.back(), 57);
  EXPECT_EQ(SampleFrames(25).size(), 13u);
  EXPECT_TRUE(SampleFrames(0).empty());
}

TEST(ContactSheet, GridFitsTheWidthAndKeepsTheAspect) {
  const ContactSheetLayout l = LayOutContactSheet(24, 1280, 720);
  EXPECT_EQ(l.columns, 6);
  EXPECT_EQ(l.rows, 4);
  EXPECT_LE(l.width, kContactSheetMaxWidth);
  EXPECT_NEAR(static_cast<double>(l.thumb_width) / l.thumb_height, 1280.0 / 720.0, 0.02);
  EXPECT_EQ(l.width, 6 * l.thumb_width + 7 * l.gap);
  EXPECT_EQ(l.height, 4 * l.thumb_height + 5 * l.gap);

  // Small frames are not enlarged; one frame gives one cell.
  const ContactSheetLayout small = LayOutContactSheet(3, 160, 90);
  EXPECT_EQ(small.thumb_width, 160);
  EXPECT_EQ(small.columns * small.rows >= 3, true);
  const ContactSheetLayout one = LayOutContactSheet(1, 320, 180);
  EXPECT_EQ(one.columns, 1);
  EXPECT_EQ(one.rows, 1);
}

// The label ink is found in the top-left corner of every cell, and nowhere
// in the frame's own area away from that corner.
TEST(ContactSheet, EveryThumbnailCarriesItsFrameNumber) {
  const Raster blue = Solid(320, 180, 0, 0, 255);
  std::vector<ContactFrame> frames;
  for (int n : {0, 7, 12, 123}) frames.push_back(ContactFrame{n, &blue});
  const Raster sheet = MakeContactSheet(frames);
  const ContactSheetLayout l = LayOutContactSheet(4, 320, 180);
  ASSERT_EQ(sheet.width, l.width);
  ASSERT_EQ(sheet.height, l.height);
  auto is_ink = [](const std::uint8_t* p) { return p[0] == 255 && p[1] == 214 && p[2] == 10; };
  for (int i = 0; i < 4; ++i) {
    const int x0 = l.gap + (i % l.columns) * (l.thumb_width + l.gap);
    const int y0 = l.gap + (i / l.columns) * (l.thumb_height + l.gap);
    int ink = 0;
    for (int y = y0; y < y0 + 24; ++y) {
      for (int x = x0; x < x0 + 60; ++x) ink += is_ink(sheet.At(x, y));
    }
    EXPECT_GT(ink, 10) << "no label on cell " << i;
    const std::uint8_t* centre = sheet.At(x0 + l.thumb_width / 2, y0 + l.thumb_height / 2);
    EXPECT_EQ(centre[2], 255);
    EXPECT_EQ(centre[0], 0);
  }
}

TEST(ContactSheet, LabelsDifferByNumber) {
  auto ink_of = [](const char* text) {
    Raster r(60, 10);
    const std::uint8_t ink[4] = {255, 255, 255, 255};
    DrawLabel(r, 0, 0, text, 1, ink);
    return r.rgba;
  };
  EXPECT_NE(ink_of("12"), ink_of("21"));
  EXPECT_NE(ink_of("8"), ink_of("0"));
  EXPECT_EQ(ink_of(" "), Raster(60, 10).rgba);
}

TEST(ContactSheet, TransparentPixelsShowAsACheckerboard) {
  const Raster clear(64, 64);
  const Raster sheet = MakeContactSheet({ContactFrame{0, &clear}});
  const ContactSheetLayout l = LayOutContactSheet(1, 64, 64);
  // Away from the label: two neighbouring checker squares differ.
  const std::uint8_t* a = sheet.At(l.gap + 36, l.gap + 60);
  const std::uint8_t* b = sheet.At(l.gap + 44, l.gap + 60);
  EXPECT_NE(a[0], b[0]);
}

TEST(FrameList, ReadsRangesListsAndTheDefault) {
  EXPECT_EQ(ParseFrameList("", 3), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(ParseFrameList("2-4", 10), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(ParseFrameList("0,10,20", 30), (std::vector<int>{0, 10, 20}));
  EXPECT_EQ(ParseFrameList("5,1-2,2", 10), (std::vector<int>{1, 2, 5}));
}

TEST(FrameList, RefusesFramesOutsideTheCompositionAndBadSyntax) {
  try {
    ParseFrameList("0-60", 60);
    FAIL();
  } catch (const UsageError& e) {
    EXPECT_STREQ(e.what(), "--frames 0-60: frame 60 is outside the composition (frames 0 to 59)");
  }
  EXPECT_THROW(ParseFrameList("9-3", 60), UsageError);
  EXPECT_THROW(ParseFrameList("a-b", 60), UsageError);
  EXPECT_THROW(ParseFrameList("1,,2", 60), UsageError);
  EXPECT_THROW(ParseFrameList("-1", 60), UsageError);
  EXPECT_THROW(ParseResolution("double"), UsageError);
  EXPECT_EQ(ParseResolution("third"), host::Resolution::kThird);
}

}  // namespace
}  // namespace vantrel::cli
