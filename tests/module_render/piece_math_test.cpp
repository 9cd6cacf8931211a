// The arithmetic of one piece: its transform record, its matrices, its
// composite opacity and the guide tints.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "render/composite.h"
#include "render/guides.h"
#include "render/piece_transform.h"
#include "row_vector.h"

namespace vantrel {
namespace {

using testing::Apply;
using testing::Point;

LayerTransform Transform(Point position, Point anchor, Point scale) {
  LayerTransform t;
  t.position = {position.x, position.y, 0};
  t.anchor = {anchor.x, anchor.y, 0};
  t.scale = {scale.x, scale.y, 100};
  return t;
}

// Where the layer transform `t` puts the layer-space point u (full resolution).
Point Place(const LayerTransform& t, Point u) {
  return {t.position.x + t.scale.x * 0.01 * (u.x - t.anchor.x),
          t.position.y + t.scale.y * 0.01 * (u.y - t.anchor.y)};
}

Piece Box(double left, double top, double right, double bottom) {
  Piece p;
  p.left = left;
  p.top = top;
  p.right = right;
  p.bottom = bottom;
  return p;
}

TEST(PieceTransform, RecordFollowsTheTableWithDownsampling) {
  const LayerTransform now = Transform({200, 100}, {10, 20}, {50, 200});
  const LayerTransform at = Transform({150, 80}, {4, 2}, {25, 50});
  const PieceTransform r = MakePieceTransform(now, at, {0.5, 0.25});
  EXPECT_DOUBLE_EQ(r.position_delta_x, 25);  // (200 - 150) * 0.5
  EXPECT_DOUBLE_EQ(r.position_delta_y, 5);   // (100 - 80) * 0.25
  EXPECT_DOUBLE_EQ(r.anchor_delta_x, 1.5);   // 0.5 * (10 - 4) * 0.5
  EXPECT_DOUBLE_EQ(r.anchor_delta_y, 9);     // 2 * (20 - 2) * 0.25
  EXPECT_DOUBLE_EQ(r.scale_ratio_x, 2);
  EXPECT_DOUBLE_EQ(r.scale_ratio_y, 4);
  EXPECT_DOUBLE_EQ(r.position_x, 75);
  EXPECT_DOUBLE_EQ(r.position_y, 20);
  EXPECT_EQ(r.opacity_level, 0);
}

TEST(PieceTransform, SameTimeGivesZeroDeltasAndUnitRatios) {
  const LayerTransform now = Transform({200, 100}, {10, 20}, {50, 200});
  const PieceTransform r = MakePieceTransform(now, now, {1, 1});
  EXPECT_EQ(r.position_delta_x, 0);
  EXPECT_EQ(r.anchor_delta_y, 0);
  EXPECT_EQ(r.scale_ratio_x, 1);
  EXPECT_EQ(r.scale_ratio_y, 1);
  const PieceMatrices m = BuildPieceMatrices(Box(10.25, 5.5, 20.75, 30), r, r);
  // The world's origin lands at the snapped corner (10, 5), unscaled.
  EXPECT_EQ(m.main, (Matrix3{{1, 0, 0, 0, 1, 0, 10, 5, 1}}));
}

TEST(PieceMatrices, MainMatrixPlacesTheTextWhereTheLayerWasAtThePieceTime) {
  const LayerTransform now = Transform({320, 240}, {50, 10}, {100, 80});
  const LayerTransform at = Transform({250, 300}, {30, -5}, {50, 160});
  const PieceTransform r = MakePieceTransform(now, at, {1, 1});
  const Piece piece = Box(101.5, 40.25, 130.2, 77.9);
  const PieceMatrices m = BuildPieceMatrices(piece, r, r);
  // World pixel w is the frame point q = (L, T) + w of the current layer
  // image; q shows layer point u, which at the piece's time sat at Place(at, u).
  for (const Point w : {Point{0, 0}, Point{7, 3}, Point{28, 37}}) {
    const Point q{101 + w.x, 40 + w.y};
    const Point u{(q.x - 320) / 1.0 + 50, (q.y - 240) / 0.8 + 10};
    const Point expected = Place(at, u);
    const Point got = Apply(m.main, w);
    EXPECT_NEAR(got.x, expected.x, 1e-9);
    EXPECT_NEAR(got.y, expected.y, 1e-9);
  }
}

TEST(PieceMatrices, ExactElementsForATranslatedAndScaledPiece) {
  PieceTransform r;
  r.position_delta_x = 20;  // the layer was 20 px further left
  r.position_delta_y = 0;
  r.anchor_delta_x = 0;
  r.anchor_delta_y = 0;
  r.scale_ratio_x = 2;  // and half the size
  r.scale_ratio_y = 2;
  r.position_x = 100;
  r.position_y = 50;
  const PieceMatrices m = BuildPieceMatrices(Box(110, 60, 120, 70), r, r);
  // translate(110, 60) translate(-20, 0) translate(-100, -50) scale(0.5)
  // translate(100, 50): origin -> ((110 - 20 - 100) * 0.5 + 100, (60 - 50) * 0.5 + 50)
  EXPECT_EQ(m.main, (Matrix3{{0.5, 0, 0, 0, 0.5, 0, 95, 55, 1}}));
}

TEST(PieceMatrices, TrackingShiftFollowsTheScaleAtThePieceTime) {
  PieceTransform r = MakePieceTransform(Transform({0, 0}, {0, 0}, {100, 100}),
                                        Transform({0, 0}, {0, 0}, {100, 100}), {1, 1});
  Piece piece = Box(10, 10, 20, 20);
  piece.tracking_offset = 6;
  EXPECT_DOUBLE_EQ(BuildPieceMatrices(piece, r, r).main.at(2, 0), 16);
  // Scale x at the piece's time twice the current one: ratio 0.5, shift 12.
  r = MakePieceTransform(Transform({0, 0}, {0, 0}, {100, 100}),
                         Transform({0, 0}, {0, 0}, {200, 100}), {1, 1});
  const PieceMatrices m = BuildPieceMatrices(piece, r, r);
  EXPECT_DOUBLE_EQ(Apply(m.main, {0, 0}).x, 10 * 2 + 12);
  EXPECT_DOUBLE_EQ(m.main.at(2, 1), 10);  // never vertical
}

TEST(PieceMatrices, BlurMatrixEndsAtTheSampleTimePlacement) {
  const LayerTransform now = Transform({300, 200}, {0, 0}, {100, 100});
  // Position only: the blur end is the placement at the sample time.
  {
    const LayerTransform at_t = Transform({260, 190}, {0, 0}, {100, 100});
    const LayerTransform at_tm = Transform({280, 170}, {0, 0}, {100, 100});
    const PieceTransform r = MakePieceTransform(now, at_t, {1, 1});
    const PieceTransform mb = MakePieceTransform(at_tm, at_t, {1, 1});
    const PieceMatrices m = BuildPieceMatrices(Box(310, 205, 330, 230), r, mb);
    const Point end = Apply(m.blur, {4, 6});
    EXPECT_DOUBLE_EQ(end.x, 314 - 300 + 280);
    EXPECT_DOUBLE_EQ(end.y, 211 - 200 + 170);
  }
  // Scale only, about a Position that does not move.
  {
    const LayerTransform at_t = Transform({300, 200}, {0, 0}, {50, 50});
    const LayerTransform at_tm = Transform({300, 200}, {0, 0}, {25, 40});
    const PieceTransform r = MakePieceTransform(now, at_t, {1, 1});
    const PieceTransform mb = MakePieceTransform(at_tm, at_t, {1, 1});
    const PieceMatrices m = BuildPieceMatrices(Box(310, 205, 330, 230), r, mb);
    const Point end = Apply(m.blur, {4, 6});
    EXPECT_DOUBLE_EQ(end.x, 300 + (314 - 300) * 0.25);
    EXPECT_DOUBLE_EQ(end.y, 200 + (211 - 200) * 0.40);
  }
}

TEST(PieceMatrices, NoBlurShiftMeansTheBlurMatrixEqualsTheMainOne) {
  const LayerTransform now = Transform({300, 200}, {5, 5}, {100, 100});
  const LayerTransform at_t = Transform({260, 190}, {1, 2}, {80, 120});
  const PieceTransform r = MakePieceTransform(now, at_t, {1, 1});
  const PieceTransform mb = MakePieceTransform(at_t, at_t, {1, 1});
  Piece piece = Box(310.5, 205, 330, 230);
  piece.tracking_offset = -3;
  const PieceMatrices m = BuildPieceMatrices(piece, r, mb);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(m.blur.e[k], m.main.e[k], 1e-12) << k;
}

TEST(PieceMatrices, SnapsBoxesOutwardsToWholePixels) {
  const PF_Rect box = SnapOutwards(Box(-1.5, 2.25, 3.0, 4.01));
  EXPECT_EQ(box.left, -2);
  EXPECT_EQ(box.top, 2);
  EXPECT_EQ(box.right, 3);
  EXPECT_EQ(box.bottom, 5);
}

TEST(PieceMatrices, SnappingNeverOverflows) {
  // Edges beyond 32 bits come out as INT32_MIN, as the x64 conversion does.
  const PF_Rect box = SnapOutwards(Box(std::nan(""), 1e300, -1e300, 2147483647.5));
  EXPECT_EQ(box.left, INT32_MIN);
  EXPECT_EQ(box.top, INT32_MIN);
  EXPECT_EQ(box.right, INT32_MIN);
  EXPECT_EQ(box.bottom, INT32_MIN);
}

// Box(left, top, right, bottom).
TEST(PieceMatrices, PlaceableBoxesLieWithinTheInputGrownByItsSize) {
  PF_EffectWorld input{};
  input.width = 200;
  input.height = 100;
  EXPECT_TRUE(IsPlaceable(Box(-200, -100, 400, 200), input));
  EXPECT_TRUE(IsPlaceable(Box(4, 0, 4, 10), input)) << "a vertical stroke: width 0";
  EXPECT_FALSE(IsPlaceable(Box(-200.5, 0, 10, 10), input));
  EXPECT_FALSE(IsPlaceable(Box(0, 0, 400.01, 10), input));
  EXPECT_FALSE(IsPlaceable(Box(0, -101, 10, 10), input));
  EXPECT_FALSE(IsPlaceable(Box(0, 0, 10, 200.5), input));
  EXPECT_FALSE(IsPlaceable(Box(10, 0, 5, 10), input)) << "right of left";
  EXPECT_FALSE(IsPlaceable(Box(0, 0, std::nan(""), 10), input));
  EXPECT_FALSE(IsPlaceable(Box(-std::numeric_limits<double>::infinity(), 0, 10, 10), input));
  input.width = -5;  // a host's nonsense: nothing can be cut out of it
  EXPECT_FALSE(IsPlaceable(Box(0, 0, 10, 10), input));
  EXPECT_TRUE(IsPlaceable(Box(0, 0, 0, 10), input));
}

TEST(PieceMatrices, NonFiniteMatricesAreToldApart) {
  PieceMatrices m;
  EXPECT_TRUE(IsFinite(m, true));
  m.blur.e[6] = std::numeric_limits<double>::infinity();
  EXPECT_TRUE(IsFinite(m, false)) << "the blur matrix is not handed over";
  EXPECT_FALSE(IsFinite(m, true));
  m.main.e[4] = std::nan("");
  EXPECT_FALSE(IsFinite(m, false));
}

TEST(Composite, OpacityIsTruncatedNotRounded) {
  EXPECT_EQ(CompositeOpacity(OpacityLevel(100)), 254);
  EXPECT_EQ(CompositeOpacity(OpacityLevel(50)), 127);
  EXPECT_EQ(CompositeOpacity(OpacityLevel(0)), 0);
  EXPECT_EQ(CompositeOpacity(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(Composite, PiecesWithAZeroOrInfiniteScaleRatioAreNotDrawn) {
  PieceTransform r;
  r.scale_ratio_x = 1;
  r.scale_ratio_y = -2;
  EXPECT_TRUE(IsDrawable(r));
  for (double bad : {0.0, -0.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
    PieceTransform x = r, y = r;
    x.scale_ratio_x = bad;
    y.scale_ratio_y = bad;
    EXPECT_FALSE(IsDrawable(x)) << bad;
    EXPECT_FALSE(IsDrawable(y)) << bad;
  }
}

// A world of 3 x 2 pixels with 4 bytes of row padding.
struct SmallWorld {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(2 * 16, 0xEE);
  PF_EffectWorld world{};
  SmallWorld() {
    world.data = reinterpret_cast<PF_Pixel*>(bytes.data());
    world.rowbytes = 16;
    world.width = 3;
    world.height = 2;
    for (int i = 0; i < 32; i += 4) bytes[i] = static_cast<uint8_t>(i);  // alphas
  }
};

TEST(Guides, TintWritesColourDownOneColumnAndKeepsAlpha) {
  SmallWorld w;
  EXPECT_EQ(TintMagenta(&w.world, 0, 1, 3), A_Err_NONE);
  for (int row = 0; row < 2; ++row) {
    for (int col = 0; col < 4; ++col) {  // column 3 is padding
      const uint8_t* px = &w.bytes[row * 16 + col * 4];
      EXPECT_EQ(px[0], row * 16 + col * 4) << "alpha is never written";
      if (col == 1) {
        EXPECT_EQ(px[1], 255);
        EXPECT_EQ(px[2], 0);
        EXPECT_EQ(px[3], 255);
      } else {
        EXPECT_EQ(px[1], 0xEE);
      }
    }
  }
}

TEST(Guides, SeparationColoursRepeatEveryFivePieces) {
  const AEGP_IterateGenericFunc expected[] = {TintRed, TintGreen, TintBlue, TintMagenta,
                                              TintYellow};
  for (int32_t index = 0; index < 12; ++index) {
    EXPECT_EQ(SeparationTint(index), expected[index % 5]) << index;
  }
}

TEST(Guides, EachTintHasItsColour) {
  struct Case {
    AEGP_IterateGenericFunc fn;
    uint8_t r, g, b;
  };
  for (const Case& c : {Case{TintRed, 255, 0, 0}, Case{TintGreen, 0, 255, 0},
                        Case{TintBlue, 0, 0, 255}, Case{TintYellow, 255, 255, 0}}) {
    SmallWorld w;
    c.fn(&w.world, 0, 2, 3);
    EXPECT_EQ(w.bytes[16 + 8 + 1], c.r);
    EXPECT_EQ(w.bytes[16 + 8 + 2], c.g);
    EXPECT_EQ(w.bytes[16 + 8 + 3], c.b);
  }
}

}  // namespace
}  // namespace vantrel
