#include "rasterizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <tuple>

#include "vantrel/host/session.h"
#include "vantrel/host/text_layout.h"

namespace vantrel::host {
namespace {

constexpr PF_RationalScale kFull{1, 1};
constexpr PF_RationalScale kHalf{1, 2};

// An 8-bit world over its own buffer, rows padded so that a write past a
// row's end shows up.
struct TestWorld {
  static constexpr int kPad = 3;  // pixels of padding per row
  std::vector<PF_Pixel> pixels;
  PF_EffectWorld world{};

  TestWorld(int w, int h) : pixels(static_cast<std::size_t>((w + kPad) * h), PF_Pixel{7, 7, 7, 7}) {
    world.data = pixels.data();
    world.width = w;
    world.height = h;
    world.rowbytes = (w + kPad) * static_cast<int>(sizeof(PF_Pixel));
  }
  const PF_Pixel& at(int x, int y) const {
    return pixels[static_cast<std::size_t>(y * (world.width + kPad) + x)];
  }
};

bool SamePixels(const TestWorld& a, const TestWorld& b) {
  return a.pixels.size() == b.pixels.size() &&
         std::memcmp(a.pixels.data(), b.pixels.data(), a.pixels.size() * sizeof(PF_Pixel)) == 0;
}

PF_PathVertex Corner(double x, double y) { return PF_PathVertex{x, y, x, y, x, y}; }

OutlinePath Polygon(std::vector<std::pair<double, double>> pts) {
  OutlinePath path;
  for (auto [x, y] : pts) path.vertices.push_back(Corner(x, y));
  return path;
}

OutlinePath Rect(double l, double t, double r, double b) {
  return Polygon({{l, t}, {r, t}, {r, b}, {l, b}});
}

// Coverage of a pixel by a set of polygons, by 16 x 16 point samples and the
// non-zero rule: the slow, obviously right version.
double ReferenceCoverage(const TextOutlineSet& polys, int px, int py) {
  int inside = 0;
  for (int sy = 0; sy < 16; ++sy) {
    for (int sx = 0; sx < 16; ++sx) {
      const double x = px + (sx + 0.5) / 16, y = py + (sy + 0.5) / 16;
      int winding = 0;
      for (const OutlinePath& p : polys) {
        const std::size_t n = p.vertices.size();
        for (std::size_t i = 0; i < n; ++i) {
          const PF_PathVertex& a = p.vertices[i];
          const PF_PathVertex& b = p.vertices[(i + 1) % n];
          if ((a.y <= y) != (b.y <= y)) {
            const double cross_x = a.x + (y - a.y) / (b.y - a.y) * (b.x - a.x);
            if (cross_x > x) winding += b.y > a.y ? 1 : -1;
          }
        }
      }
      inside += winding != 0;
    }
  }
  return inside / 256.0;
}

TEST(RasterizerCoverage, FilledSquareIsOpaqueInsideAndEmptyOutside) {
  TestWorld w(20, 20);
  // Edges on pixel boundaries on the left and top, through pixel centres on
  // the right and bottom.
  RasterizeOutlines({Rect(4, 4, 12.5, 10.5)}, PF_Pixel{255, 10, 20, 30}, w.world, kFull, kFull);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) {
      const int expect = (x < 4 || x > 12 || y < 4 || y > 10) ? 0
                         : (x == 12 && y == 10)               ? 64
                         : (x == 12 || y == 10)               ? 128
                                                              : 255;
      EXPECT_EQ(w.at(x, y).alpha, expect) << x << "," << y;
    }
  }
  EXPECT_EQ(w.at(5, 5).red, 10);
  EXPECT_EQ(w.at(5, 5).blue, 30);
  EXPECT_EQ(w.at(0, 0).red, 0);     // transparent black, not the fill colour
  EXPECT_EQ(w.at(20, 0).alpha, 7);  // row padding untouched
}

TEST(RasterizerCoverage, AgreesWithPointSamplingOnRandomPolygons) {
  constexpr int kSize = 72;  // taller than one band of rows
  for (int seed = 0; seed < 24; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    std::uniform_real_distribution<double> angle(0, 2 * M_PI), radius(3, 40), centre(-8, kSize + 8);
    // A star-shaped polygon around a centre that may lie off the image, so
    // clipping at every side is exercised.
    const double cx = centre(rng), cy = centre(rng);
    std::vector<double> angles(9);
    for (double& a : angles) a = angle(rng);
    std::sort(angles.begin(), angles.end());
    std::vector<std::pair<double, double>> pts;
    for (double a : angles) {
      const double r = radius(rng);
      pts.emplace_back(cx + r * std::cos(a), cy + r * std::sin(a));
    }
    const TextOutlineSet set{Polygon(pts)};
    const text::CoverageMask mask = text::RasterizeCoverage(set, 1, 1, kSize, kSize);
    double worst = 0, sum = 0;
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        const bool in_mask = x >= mask.left && x < mask.left + mask.width && y >= mask.top &&
                             y < mask.top + mask.height;
        const double got = in_mask ? mask.values[static_cast<std::size_t>(
                                         (y - mask.top) * mask.width + (x - mask.left))] /
                                         255.0
                                   : 0;
        const double err = std::abs(got - ReferenceCoverage(set, x, y));
        worst = std::max(worst, err);
        sum += err;
      }
    }
    // 16 sample rows misjudge an edge's area by at most 1/16 of a pixel.
    EXPECT_LE(worst, 1.0 / 16 + 1.0 / 255) << "seed " << seed;
    EXPECT_LE(sum / (kSize * kSize), 0.01) << "seed " << seed;
  }
}

TEST(RasterizerCoverage, CounterWoundTheOtherWayLeavesAHole) {
  TestWorld w(20, 20);
  OutlinePath hole = Rect(6, 6, 10, 10);
  std::reverse(hole.vertices.begin(), hole.vertices.end());
  RasterizeOutlines({Rect(2, 2, 14, 14), hole}, PF_Pixel{255, 255, 255, 255}, w.world, kFull,
                    kFull);
  EXPECT_EQ(w.at(3, 3).alpha, 255);
  EXPECT_EQ(w.at(7, 7).alpha, 0);
  // Wound the same way, an inner contour adds to the winding and stays filled.
  RasterizeOutlines({Rect(2, 2, 14, 14), Rect(6, 6, 10, 10)}, PF_Pixel{255, 255, 255, 255}, w.world,
                    kFull, kFull);
  EXPECT_EQ(w.at(7, 7).alpha, 255);
}

TEST(RasterizerCoverage, CubicCircleHasTheCircleArea) {
  // Four cubic quarter arcs of radius 10 around (16, 16).
  const double r = 10, k = 0.5522847498 * r, c = 16;
  OutlinePath circle;
  circle.vertices = {{c + r, c, c + r, c - k, c + r, c + k},
                     {c, c + r, c + k, c + r, c - k, c + r},
                     {c - r, c, c - r, c + k, c - r, c - k},
                     {c, c - r, c - k, c - r, c + k, c - r}};
  const text::CoverageMask mask = text::RasterizeCoverage({circle}, 1, 1, 32, 32);
  double area = 0;
  for (uint8_t v : mask.values) area += v / 255.0;
  // Chords cut inside the curve by at most 1/20 px along the perimeter.
  EXPECT_LT(area, M_PI * r * r + 0.2);
  EXPECT_GT(area, M_PI * r * r - 2 * M_PI * r * 0.05);
  EXPECT_EQ(mask.left, 6);
  EXPECT_EQ(mask.width, 20);
}

TEST(RasterizerPaint, AlphaIsCoverageTimesFillAlpha) {
  TestWorld w(10, 10);
  RasterizeOutlines({Rect(2, 2, 6.5, 6)}, PF_Pixel{128, 200, 100, 50}, w.world, kFull, kFull);
  EXPECT_EQ(w.at(3, 3).alpha, 128);
  EXPECT_EQ(w.at(6, 3).alpha, 64);  // half covered: 128 x 128 / 255, rounded
  EXPECT_EQ(w.at(6, 3).red, 200);
  EXPECT_EQ(w.at(8, 8).alpha, 0);
  EXPECT_EQ(w.at(8, 8).green, 0);
}

TEST(RasterizerPaint, EmptyAndDegenerateInputsClearTheWorld) {
  TestWorld w(6, 6);
  RasterizeOutlines({}, PF_Pixel{255, 1, 2, 3}, w.world, kFull, kFull);
  EXPECT_EQ(w.at(2, 2).alpha, 0);
  EXPECT_EQ(w.at(2, 2).red, 0);
  // Off the world entirely, and a line of zero area.
  RasterizeOutlines({Rect(-20, -20, -10, -10), Polygon({{1, 1}, {5, 5}})}, PF_Pixel{255, 1, 2, 3},
                    w.world, kFull, kFull);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(w.at(x, y).alpha, 0);
  EXPECT_THROW(RasterizeOutlines({}, PF_Pixel{}, w.world, PF_RationalScale{1, 0}, kFull),
               HostError);
}

// Whether pixel (x, y) of an image at scale (sx, sy) meets some glyph's
// control box.
bool InsideSomeGlyph(const TextLayout& t, int x, int y, double sx, double sy) {
  for (const GlyphBox& g : t.Glyphs()) {
    if (g.contour_count == 0) continue;
    if (x + 1 > g.left * sx && x < g.right * sx && y + 1 > g.top * sy && y < g.bottom * sy) {
      return true;
    }
  }
  return false;
}

TEST(RasterizerText, PixelsStayInsideTheGlyphBoxesAtEveryResolution) {
  const TextLayout t = TextLayout::Create("Hi \xC3\xA9gal", TextStyle{}, 20.25, 90.5);
  for (auto [scale, size] :
       {std::pair{kFull, 400}, std::pair{kHalf, 200}, std::pair{PF_RationalScale{1, 3}, 134}}) {
    const double s = text::ScaleOf(scale);
    TestWorld w(size, size / 2);
    t.Rasterize(w.world, scale, scale);
    int drawn = 0;
    for (int y = 0; y < w.world.height; ++y) {
      for (int x = 0; x < w.world.width; ++x) {
        if (w.at(x, y).alpha == 0) continue;
        ++drawn;
        EXPECT_TRUE(InsideSomeGlyph(t, x, y, s, s)) << x << "," << y << " at scale " << s;
      }
    }
    EXPECT_GT(drawn, 500 * s * s);
  }
}

TEST(RasterizerText, HalfResolutionKeepsTheInkOfFullResolution) {
  const TextLayout t = TextLayout::Create("Ink", TextStyle{}, 10, 80);
  TestWorld full(200, 100), half(100, 50);
  t.Rasterize(full.world, kFull, kFull);
  t.Rasterize(half.world, kHalf, kHalf);
  double ink_full = 0, ink_half = 0;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) ink_full += full.at(x, y).alpha;
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x) ink_half += half.at(x, y).alpha;
  EXPECT_NEAR(ink_half * 4 / ink_full, 1.0, 0.01);
}

// The layer is painted straight from the accumulated rows, a large one by
// bands on the shared pool's threads; the mask, resolved serially, and its
// painting are the reference it must match byte for byte, over many bands,
// at every scale, and with text cut by the borders of the target (the
// 300 x 150 and 601 x 9 worlds are small enough to be painted serially).
TEST(RasterizerText, DirectPaintingEqualsTheMaskPaintedAfterwards) {
  const TextLayout t = TextLayout::Create(
      "Several lines of text,\nenough for many bands\nof rows: WAVE fifty %@&\n"
      "and a last one \xC3\xA9\xC3\xA8 qjpg",
      TextStyle{}, -30, 60);
  const PF_Pixel fill{200, 10, 120, 250};
  for (auto [scale, w, h] :
       {std::tuple{kFull, 900, 400}, std::tuple{kFull, 300, 150}, std::tuple{kHalf, 450, 200},
        std::tuple{PF_RationalScale{2, 3}, 601, 9}}) {
    const double s = text::ScaleOf(scale);
    TestWorld direct(w, h), via_mask(w, h);
    text::PaintOutlines(t.Outlines(), s, s, fill, direct.world);
    text::PaintCoverage(text::RasterizeCoverage(t.Outlines(), s, s, w, h), fill, via_mask.world);
    EXPECT_TRUE(SamePixels(direct, via_mask)) << "scale " << s << ", " << w << "x" << h;
  }
  TestWorld nothing(40, 30), cleared(40, 30);
  text::PaintOutlines({}, 1, 1, fill, nothing.world);
  text::PaintCoverage(text::RasterizeCoverage({}, 1, 1, 40, 30), fill, cleared.world);
  EXPECT_TRUE(SamePixels(nothing, cleared));
}

TEST(RasterizerText, CachedImageEqualsAFreshOneAndIsSafeAcrossThreads) {
  const TextLayout t = TextLayout::Create("Cache me\nacross frames", TextStyle{}, 5, 70);
  TestWorld fresh(300, 160);
  RasterizeOutlines(t.Outlines(), t.style().fill, fresh.world, kFull, kFull);
  std::vector<std::unique_ptr<TestWorld>> worlds;
  for (int i = 0; i < 4; ++i) worlds.push_back(std::make_unique<TestWorld>(300, 160));
  std::vector<std::thread> threads;
  for (auto& w : worlds) threads.emplace_back([&t, &w] { t.Rasterize(w->world, kFull, kFull); });
  for (auto& th : threads) th.join();
  for (auto& w : worlds) EXPECT_TRUE(SamePixels(*w, fresh));
  t.Rasterize(worlds[0]->world, kFull, kFull);  // from the cache now
  EXPECT_TRUE(SamePixels(*worlds[0], fresh));
}

TEST(PlainOutlines, JsonRoundTripKeepsEveryCoordinate) {
  const TextLayout t = TextLayout::Create("Round trip \xD7\xA9", TextStyle{}, 12.345, 67.891);
  TextOutlineSet set = t.Outlines();
  set.push_back(OutlinePath{{Corner(1.0 / 3, 2.0 / 7), Corner(5, 6)}, true});
  const auto file = std::filesystem::temp_directory_path() / "vantrel_host_text_outlines.json";
  SaveOutlinesJson(set, file);
  const TextOutlineSet back = LoadOutlinesJson(file);
  ASSERT_EQ(back.size(), set.size());
  for (std::size_t i = 0; i < set.size(); ++i) {
    EXPECT_EQ(back[i].open, set[i].open);
    ASSERT_EQ(back[i].vertices.size(), set[i].vertices.size());
    EXPECT_EQ(std::memcmp(back[i].vertices.data(), set[i].vertices.data(),
                          set[i].vertices.size() * sizeof(PF_PathVertex)),
              0)
        << "contour " << i;
  }
  // A plain source draws like the text it came from.
  const TextLayout plain = TextLayout::FromOutlines(LoadOutlinesJson(file), t.style().fill);
  TestWorld a(300, 100), b(300, 100);
  t.Rasterize(a.world, kHalf, kHalf);
  plain.Rasterize(b.world, kHalf, kHalf);
  // Only the added open two-point contour differs: it has no area.
  EXPECT_TRUE(SamePixels(a, b));
  std::filesystem::remove(file);
}

TEST(PlainOutlines, MalformedFilesAreReportedWithTheirName) {
  const auto file = std::filesystem::temp_directory_path() / "vantrel_host_text_bad.json";
  for (const char* text : {"{", "{\"x\":1}", "[[{\"x\":1,\"y\":2,\"in\":[1],\"out\":[1,2]}]]",
                           "[[{\"x\":1,\"y\":2}]]"}) {
    std::ofstream(file) << text;
    try {
      LoadOutlinesJson(file);
      ADD_FAILURE() << "accepted " << text;
    } catch (const HostError& e) {
      EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
    }
  }
  std::filesystem::remove(file);
  EXPECT_THROW(LoadOutlinesJson(file), HostError);
}

}  // namespace
}  // namespace vantrel::host
