// Images, PF_FILL, PF_COPY and copy_hq of the stand-in host.
#include <gtest/gtest.h>

#include <random>

#include "reference.h"
#include "vantrel/host/imaging.h"

namespace vantrel::host {
namespace {

bool Same(const PF_Pixel& a, const PF_Pixel& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}

constexpr PF_Pixel kGrey{255, 128, 128, 128};
constexpr PF_Pixel kCanary{77, 1, 2, 3};

TEST(Image, RowsArePaddedAndDescribedLikeAHostWorld) {
  Image img(5, 3);
  EXPECT_EQ(img.rowbytes() % 16, 0);
  EXPECT_GE(img.rowbytes(), 5 * 4);
  const PF_EffectWorld w = img.AsWorld();
  EXPECT_EQ(w.data, img.data());
  EXPECT_EQ(w.width, 5);
  EXPECT_EQ(w.height, 3);
  EXPECT_EQ(w.rowbytes, img.rowbytes());
  EXPECT_EQ(w.extent_hint.left, 0);
  EXPECT_EQ(w.extent_hint.top, 0);
  EXPECT_EQ(w.extent_hint.right, 5);
  EXPECT_EQ(w.extent_hint.bottom, 3);
  EXPECT_EQ(w.pix_aspect_ratio.num, 1);
  EXPECT_EQ(w.pix_aspect_ratio.den, 1u);
  EXPECT_EQ(w.world_flags, 0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_TRUE(Same(img.at(x, y), {0, 0, 0, 0}));
  EXPECT_THROW(Image(-1, 2), std::invalid_argument);
}

// Blocks of every size class (the heap, kept for reuse, kept and laid out on
// huge pages) come back clear when reused; the largest start on a 2 MB line.
TEST(Image, BlocksOfEverySizeAreClearWhenReused) {
  const struct {
    int32_t width, height;
    bool huge_aligned;
  } cases[] = {{48, 64, false}, {512, 600, false}, {1920, 1080, true}, {4000, 3000, true}};
  for (const auto& c : cases) {
    for (int round = 0; round < 2; ++round) {
      Image img(c.width, c.height);
      const int32_t last_x = c.width - 1, last_y = c.height - 1;
      EXPECT_TRUE(Same(img.at(0, 0), {0, 0, 0, 0})) << c.width;
      EXPECT_TRUE(Same(img.at(last_x, last_y), {0, 0, 0, 0})) << c.width;
      const bool aligned = reinterpret_cast<uintptr_t>(img.data()) % (2u << 20) == 0;
      EXPECT_TRUE(aligned || !c.huge_aligned) << c.width;
      img.at(0, 0) = {255, 1, 2, 3};  // dirties the block that the next round reuses
      img.at(last_x, last_y) = {255, 1, 2, 3};
    }
  }
}

TEST(Image, WorldValidity) {
  Image img(4, 2);
  PF_EffectWorld w = img.AsWorld();
  EXPECT_TRUE(IsValidWorld(w));
  PF_EffectWorld bad = w;
  bad.rowbytes = 12;
  EXPECT_FALSE(IsValidWorld(bad));
  bad = w;
  bad.rowbytes = 18;  // not whole pixels
  EXPECT_FALSE(IsValidWorld(bad));
  bad = w;
  bad.data = nullptr;
  EXPECT_FALSE(IsValidWorld(bad));
  bad.width = 0;  // an empty world needs no pixels
  EXPECT_TRUE(IsValidWorld(bad));
  bad = w;
  bad.height = -1;
  EXPECT_FALSE(IsValidWorld(bad));
}

TEST(Fill, NullColourIsTransparentBlackAndNullRectTheWholeWorld) {
  Image img(6, 4);
  PF_EffectWorld w = img.AsWorld();
  ASSERT_EQ(Fill(w, &kGrey, nullptr), PF_Err_NONE);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_TRUE(Same(img.at(x, y), kGrey));
  ASSERT_EQ(Fill(w, nullptr, nullptr), PF_Err_NONE);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_TRUE(Same(img.at(x, y), {0, 0, 0, 0}));
}

TEST(Fill, RectIsHalfOpenAndClippedToTheWorld) {
  Image canvas(10, 10);
  PF_EffectWorld all = canvas.AsWorld();
  ASSERT_EQ(Fill(all, &kCanary, nullptr), PF_Err_NONE);
  PF_EffectWorld window = DescribeWorld(canvas.row(2) + 2, 6, 6, canvas.rowbytes());
  const PF_Rect rect{-3, 4, 2, 40};
  ASSERT_EQ(Fill(window, &kGrey, &rect), PF_Err_NONE);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) {
      const int wx = x - 2, wy = y - 2;
      const bool inside = wx >= 0 && wx < 2 && wy >= 4 && wy < 6;
      EXPECT_TRUE(Same(canvas.at(x, y), inside ? kGrey : kCanary)) << x << "," << y;
    }
  }
  const PF_Rect outside{20, 20, 30, 30}, inverted{4, 4, 1, 1};
  EXPECT_EQ(Fill(window, &kGrey, &outside), PF_Err_NONE);
  EXPECT_EQ(Fill(window, &kGrey, &inverted), PF_Err_NONE);
  PF_EffectWorld bad = window;
  bad.rowbytes = 4;
  EXPECT_EQ(Fill(bad, &kGrey, nullptr), PF_Err_BAD_CALLBACK_PARAM);
}

class CopyBoth : public ::testing::TestWithParam<bool> {
 protected:
  PF_Err Run(const PF_EffectWorld& s, PF_EffectWorld& d, const PF_Rect* sr, const PF_Rect* dr) {
    return GetParam() ? CopyHq(s, d, sr, dr) : Copy(s, d, sr, dr);
  }
};

TEST_P(CopyBoth, SameSizeCopiesExactlyAndClipsToBothWorlds) {
  std::mt19937 rng(5);
  Image src(12, 10);
  testing::RandomFill(src, rng);
  Image dst(8, 8);
  PF_EffectWorld d = dst.AsWorld();
  ASSERT_EQ(Fill(d, &kCanary, nullptr), PF_Err_NONE);
  // A source rect hanging off the source's top-left, onto a destination
  // rect hanging off the destination's bottom-right.
  const PF_Rect sr{-2, -1, 4, 5}, dr{5, 4, 11, 10};
  ASSERT_EQ(Run(src.AsWorld(), d, &sr, &dr), PF_Err_NONE);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const int sx = x - 5 - 2, sy = y - 4 - 1;  // source pixel for dst (x, y)
      const bool copied = x >= 5 && y >= 4 && sx >= 0 && sy >= 0;
      EXPECT_TRUE(Same(dst.at(x, y), copied ? src.at(sx, sy) : kCanary)) << x << "," << y;
    }
  }
}

TEST_P(CopyBoth, NullRectsCopyTheWholeSourceOntoTheWholeDestination) {
  std::mt19937 rng(6);
  Image src(7, 5), dst(7, 5);
  testing::RandomFill(src, rng);
  PF_EffectWorld d = dst.AsWorld();
  ASSERT_EQ(Run(src.AsWorld(), d, nullptr, nullptr), PF_Err_NONE);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_TRUE(Same(dst.at(x, y), src.at(x, y)));
}

TEST_P(CopyBoth, ScaledCopyOfAUniformAreaStaysUniform) {
  Image src(10, 10), dst(5, 20);
  PF_EffectWorld s = src.AsWorld(), d = dst.AsWorld();
  ASSERT_EQ(Fill(s, &kGrey, nullptr), PF_Err_NONE);
  ASSERT_EQ(Run(s, d, nullptr, nullptr), PF_Err_NONE);  // ×0.5 wide, ×2 tall
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_TRUE(Same(dst.at(x, y), kGrey)) << x << "," << y;
}

TEST_P(CopyBoth, OverlappingCopyWithinOneWorldReadsTheOriginal) {
  Image img(6, 1);
  for (int x = 0; x < 6; ++x) img.at(x, 0) = {255, static_cast<A_u_char>(x * 10), 0, 0};
  PF_EffectWorld w = img.AsWorld();
  const PF_Rect sr{0, 0, 4, 1}, dr{2, 0, 6, 1};
  ASSERT_EQ(Run(w, w, &sr, &dr), PF_Err_NONE);
  const int want[6] = {0, 10, 0, 10, 20, 30};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(img.at(x, 0).red, want[x]) << x;
}

INSTANTIATE_TEST_SUITE_P(HqAndPlain, CopyBoth, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "CopyHq" : "Copy"; });

TEST(CopyHq, UpscaleInterpolatesInPremultipliedAlpha) {
  // An opaque red pixel next to a transparent one that carries green: the
  // green must not bleed into the interpolated pixels.
  Image src(2, 1), dst(4, 1);
  src.at(0, 0) = {255, 255, 0, 0};
  src.at(1, 0) = {0, 0, 255, 0};
  PF_EffectWorld d = dst.AsWorld();
  ASSERT_EQ(CopyHq(src.AsWorld(), d, nullptr, nullptr), PF_Err_NONE);
  // Centres at source x 0.25, 0.75, 1.25, 1.75; edges clamp rather than fade.
  EXPECT_TRUE(Same(dst.at(0, 0), {255, 255, 0, 0}));
  EXPECT_EQ(dst.at(1, 0).alpha, 191);
  EXPECT_EQ(dst.at(1, 0).red, 255);
  EXPECT_EQ(dst.at(1, 0).green, 0);
  EXPECT_EQ(dst.at(2, 0).alpha, 64);
  EXPECT_EQ(dst.at(2, 0).red, 255);
  EXPECT_EQ(dst.at(3, 0).alpha, 0);
}

TEST(Copy, RejectsInvalidWorlds) {
  Image a(2, 2), b(2, 2);
  PF_EffectWorld s = a.AsWorld(), d = b.AsWorld();
  PF_EffectWorld bad = s;
  bad.rowbytes = 4;
  EXPECT_EQ(CopyHq(bad, d, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(Copy(s, bad, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
}

}  // namespace
}  // namespace vantrel::host
