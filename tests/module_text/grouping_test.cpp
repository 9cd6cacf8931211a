// Grouping of outline boxes into characters and words: literal cases, and the
// in-place passes checked against a plain erase-based reference on random
// lists.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "grouping_reference.h"
#include "piece_text.h"
#include "text/text.h"

namespace vantrel {
namespace {

using testing::Box;
using testing::PiecesText;
using testing::ReferenceFinish;
using testing::ReferenceLines;
using testing::ReferenceScan;
using testing::ReferenceWords;

std::string Group(std::vector<Piece> pieces, double threshold, bool word_mode = false,
                  double fx = 1.0, double fy = 1.0) {
  GroupPieces(pieces, threshold, word_mode, fx, fy);
  return PiecesText(pieces);
}

// --- Characters -------------------------------------------------------------

TEST(GroupCharacters, OneOutlineIsOnePieceOnLineZero) {
  EXPECT_EQ(Group({Box(10, 22, 5, 30)}, 2), "[l=10 r=22 t=5 b=30 line=0 idx=0]");
  EXPECT_EQ(Group({}, 2), "");
}

TEST(GroupCharacters, IdenticalBoxesGiveOnePiece) {
  EXPECT_EQ(Group({Box(10, 22, 5, 30), Box(10, 22, 5, 30)}, 0),
            "[l=10 r=22 t=5 b=30 line=0 idx=0]");
}

TEST(GroupCharacters, CounterJoinsItsOuterOutlineInEitherOrderForAnyThreshold) {
  for (double t : {-3.0, 0.0, 2.0, 50.0}) {
    SCOPED_TRACE(t);
    EXPECT_EQ(Group({Box(0, 10, 0, 10), Box(3, 7, 3, 7)}, t), "[l=0 r=10 t=0 b=10 line=0 idx=0]");
    EXPECT_EQ(Group({Box(3, 7, 3, 7), Box(0, 10, 0, 10)}, t), "[l=0 r=10 t=0 b=10 line=0 idx=0]");
    // A counter touching the outer edge: passes 1 and 2 do not shrink with T.
    EXPECT_EQ(Group({Box(0, 10, 0, 10), Box(0, 10, 2, 8)}, t), "[l=0 r=10 t=0 b=10 line=0 idx=0]");
  }
}

TEST(GroupCharacters, TwoLettersWithCountersStayTwo) {
  // "oo": outer, counter, outer, counter.
  EXPECT_EQ(Group({Box(0, 10, 0, 10), Box(3, 7, 3, 7), Box(12, 22, 0, 10), Box(15, 19, 3, 7)}, 1),
            "[l=0 r=10 t=0 b=10 line=0 idx=0] [l=12 r=22 t=0 b=10 line=0 idx=1]");
}

TEST(GroupCharacters, BoxUnderItsPredecessorJoinsHoweverFarBelow) {
  EXPECT_EQ(Group({Box(10, 20, 0, 10), Box(12, 18, 100, 110)}, 0),
            "[l=10 r=20 t=0 b=110 line=0 idx=0]");
  // Above it instead: not joined, and not a new line since it starts further right.
  EXPECT_EQ(Group({Box(10, 20, 50, 60), Box(12, 18, 0, 10)}, 0),
            "[l=10 r=20 t=50 b=60 line=0 idx=0] [l=12 r=18 t=0 b=10 line=0 idx=1]");
}

TEST(GroupCharacters, MergedRecordIsNotRetestedInTheSameScan) {
  // The second and third both lie inside the first; the third not inside the second.
  const std::vector<Piece> boxes = {Box(0, 100, 0, 100), Box(10, 20, 10, 20), Box(50, 60, 50, 60)};
  std::vector<Piece> after_pass_1 = boxes;
  MergeNeighbours(after_pass_1, PairTest::kBInsideA, 0);
  EXPECT_EQ(PiecesText(after_pass_1),
            "[l=0 r=100 t=0 b=100 line=0 idx=0] [l=50 r=60 t=50 b=60 line=0 idx=0]");
  // Pass 3 picks it up, for any T >= 0.
  for (double t : {0.0, 1.0, 10.0}) {
    EXPECT_EQ(Group(boxes, t), "[l=0 r=100 t=0 b=100 line=0 idx=0]") << "T=" << t;
  }
}

TEST(GroupCharacters, DotAfterItsStemJoinsOnlyFromThresholdFour) {
  const Piece stem = Box(10, 14, 20, 40);
  const Piece dot = Box(10, 14, 12, 16);
  EXPECT_EQ(Group({stem, dot}, 4), "[l=10 r=14 t=12 b=40 line=0 idx=0]");
  EXPECT_EQ(Group({stem, dot}, 10), "[l=10 r=14 t=12 b=40 line=0 idx=0]");
  // Below 4 the dot is a piece of its own, and as it starts where the stem
  // starts it also begins a new line.
  EXPECT_EQ(Group({stem, dot}, 3.99),
            "[l=10 r=14 t=20 b=40 line=0 idx=0] [l=10 r=14 t=12 b=16 line=1 idx=1]");
  EXPECT_EQ(Group({stem, dot}, 0),
            "[l=10 r=14 t=20 b=40 line=0 idx=0] [l=10 r=14 t=12 b=16 line=1 idx=1]");
}

TEST(GroupCharacters, DotBeforeItsStemJoinsForAnyThresholdFromZero) {
  const Piece stem = Box(10, 14, 20, 40);
  const Piece dot = Box(10, 14, 12, 16);
  for (double t : {0.0, 3.0, 4.0, 20.0}) {
    EXPECT_EQ(Group({dot, stem}, t), "[l=10 r=14 t=12 b=40 line=0 idx=0]") << "T=" << t;
  }
}

TEST(GroupCharacters, NegativeThresholdShrinksTheNeighbourInPassesThreeToFive) {
  // Pass 3 with T = -2: B must lie 2 inside A's x extent...
  EXPECT_EQ(Group({Box(0, 20, 0, 10), Box(2, 18, 30, 40)}, -2), "[l=0 r=20 t=0 b=40 line=0 idx=0]");
  EXPECT_EQ(Group({Box(0, 20, 0, 10), Box(1, 18, 30, 40)}, -2),
            "[l=0 r=20 t=0 b=10 line=0 idx=0] [l=1 r=18 t=30 b=40 line=0 idx=1]");
  // ...and its bottom at least 2 below A's top.
  EXPECT_EQ(Group({Box(0, 20, 0, 10), Box(5, 15, -5, 2)}, -2), "[l=0 r=20 t=-5 b=10 line=0 idx=0]");
  EXPECT_EQ(Group({Box(0, 20, 0, 10), Box(5, 15, -5, 1.5)}, -2),
            "[l=0 r=20 t=0 b=10 line=0 idx=0] [l=5 r=15 t=-5 b=1.5 line=0 idx=1]");
  // Passes 4 and 5: a box sticking out by 1 on the left joins with T = 1, not with T = -1.
  std::vector<Piece> after_pass_4 = {Box(10, 20, 0, 10), Box(9, 15, 2, 8)};
  MergeNeighbours(after_pass_4, PairTest::kBInsideAGrown, 1);
  EXPECT_EQ(after_pass_4.size(), 1u);
  std::vector<Piece> shrunk = {Box(10, 20, 0, 10), Box(12, 18, 0.5, 8)};
  MergeNeighbours(shrunk, PairTest::kBInsideAGrown, -1);
  EXPECT_EQ(shrunk.size(), 2u) << "top 0.5 is less than 1 inside";
  std::vector<Piece> after_pass_5 = {Box(9, 15, 2, 8), Box(10, 20, 0, 10)};
  MergeNeighbours(after_pass_5, PairTest::kAInsideBGrown, 1);
  EXPECT_EQ(after_pass_5.size(), 1u);
  std::vector<Piece> shrunk_5 = {Box(11, 19, 1, 8), Box(10, 20, 0, 10)};
  MergeNeighbours(shrunk_5, PairTest::kAInsideBGrown, -1);
  EXPECT_EQ(shrunk_5.size(), 1u) << "exactly 1 inside on two sides";
}

TEST(GroupCharacters, PassFiveIsScannedTwice) {
  // With T = 1, A lies in B grown by 1 and A+B in C grown by 1, while B is
  // neither inside C nor within its x extent. The first scan of pass 5 joins A
  // and B and moves on; only the second joins C.
  const std::vector<Piece> boxes = {Box(10, 14, 8.5, 12), Box(6, 15, 9, 13), Box(6.5, 20, 8, 13.5)};
  EXPECT_EQ(Group(boxes, 1), "[l=6 r=20 t=8 b=13.5 line=0 idx=0]");
  std::vector<Piece> one_scan = boxes;
  MergeNeighbours(one_scan, PairTest::kAInsideBGrown, 1);
  EXPECT_EQ(PiecesText(one_scan),
            "[l=6 r=15 t=8.5 b=13 line=0 idx=0] [l=6.5 r=20 t=8 b=13.5 line=0 idx=0]");
}

// --- Lines --------------------------------------------------------------------

TEST(GroupLines, EqualOrSmallerLeftStartsANewLine) {
  // The third box is wider than the second, so pass 3 leaves it alone.
  EXPECT_EQ(
      Group({Box(0, 8, 0, 10), Box(10, 18, 0, 10), Box(10, 19, 20, 30), Box(5, 9, 40, 50)}, 0),
      "[l=0 r=8 t=0 b=10 line=0 idx=0] [l=10 r=18 t=0 b=10 line=0 idx=1] "
      "[l=10 r=19 t=20 b=30 line=1 idx=2] [l=5 r=9 t=40 b=50 line=2 idx=3]");
}

// Line one "AB CD" with gaps of 2 and 8; line two right-aligned "EF",
// starting to the right of D.
std::vector<Piece> RightAlignedSecondLine() {
  return {Box(0, 10, 0, 10),  Box(12, 22, 0, 10),  Box(30, 40, 0, 10),
          Box(42, 52, 0, 10), Box(54, 60, 20, 30), Box(62, 70, 20, 30)};
}

TEST(GroupLines, RightAlignedShortLineGetsTheSameNumber) {
  EXPECT_EQ(Group(RightAlignedSecondLine(), 2),
            "[l=0 r=10 t=0 b=10 line=0 idx=0] [l=12 r=22 t=0 b=10 line=0 idx=1] "
            "[l=30 r=40 t=0 b=10 line=0 idx=2] [l=42 r=52 t=0 b=10 line=0 idx=3] "
            "[l=54 r=60 t=20 b=30 line=0 idx=4] [l=62 r=70 t=20 b=30 line=0 idx=5]");
  // In word mode the last word of line one and the first of line two join
  // across the break, the gap between D and E being 2.
  EXPECT_EQ(Group(RightAlignedSecondLine(), 2, true),
            "[l=0 r=22 t=0 b=10 line=0 idx=0] [l=30 r=70 t=0 b=30 line=0 idx=1]");
}

// --- Words --------------------------------------------------------------------

TEST(GroupWords, GapOfExactlyThresholdJoinsAndJustOverDoesNot) {
  EXPECT_EQ(Group({Box(0, 10, 0, 10), Box(13, 20, 0, 10)}, 3, true),
            "[l=0 r=20 t=0 b=10 line=0 idx=0]");
  const double just_over = std::nextafter(13.0, 100.0);
  const std::vector<Piece> apart = {Box(0, 10, 0, 10), Box(just_over, 20, 0, 10)};
  std::vector<Piece> grouped = apart;
  GroupPieces(grouped, 3, true, 1, 1);
  ASSERT_EQ(grouped.size(), 2u);
  EXPECT_EQ(grouped[1].left, just_over);
  // Character mode never joins them.
  EXPECT_EQ(Group({Box(0, 10, 0, 10), Box(13, 20, 0, 10)}, 3, false),
            "[l=0 r=10 t=0 b=10 line=0 idx=0] [l=13 r=20 t=0 b=10 line=0 idx=1]");
}

TEST(GroupWords, LastPieceOfALineNeverJoinsTheNextLine) {
  EXPECT_EQ(Group({Box(0, 10, 0, 10), Box(12, 20, 0, 10), Box(0, 8, 20, 30), Box(9, 15, 20, 30)}, 5,
                  true),
            "[l=0 r=20 t=0 b=10 line=0 idx=0] [l=0 r=15 t=20 b=30 line=1 idx=1]");
}

TEST(GroupWords, WholeLineWithSmallGapsIsOnePiece) {
  std::vector<Piece> line;
  for (int i = 0; i < 12; ++i) line.push_back(Box(i * 10, i * 10 + 8, i % 3, 10 + i % 2));
  EXPECT_EQ(Group(line, 2, true), "[l=0 r=118 t=0 b=11 line=0 idx=0]");
  std::vector<Piece> apart = line;
  GroupPieces(apart, 1.99, true, 1, 1);
  EXPECT_EQ(apart.size(), line.size());
}

TEST(GroupWords, NegativeThresholdNeedsThatMuchOverlap) {
  // Overlap of exactly 2 joins with T = -2; 1.5 does not.
  EXPECT_EQ(Group({Box(0, 10, 0, 10), Box(8, 18, 0, 10)}, -2, true),
            "[l=0 r=18 t=0 b=10 line=0 idx=0]");
  EXPECT_EQ(Group({Box(0, 10, 0, 10), Box(8.5, 18, 0, 10)}, -2, true),
            "[l=0 r=10 t=0 b=10 line=0 idx=0] [l=8.5 r=18 t=0 b=10 line=0 idx=1]");
}

TEST(GroupWords, ZeroThresholdJoinsOnlyTouchingPieces) {
  EXPECT_EQ(Group({Box(0, 10, 0, 10), Box(10, 20, 0, 10)}, 0, true),
            "[l=0 r=20 t=0 b=10 line=0 idx=0]");
  EXPECT_EQ(Group({Box(0, 10, 0, 10), Box(10.5, 20, 0, 10)}, 0, true),
            "[l=0 r=10 t=0 b=10 line=0 idx=0] [l=10.5 r=20 t=0 b=10 line=0 idx=1]");
}

TEST(GroupWords, MergedWordIsTestedAgainstItsNewNeighbour) {
  // B joins A; C is then tested against A+B, whose right edge is A's, and
  // joins it although it is far from B.
  std::vector<Piece> pieces = {Box(0, 30, 0, 10), Box(5, 10, 0, 10), Box(31, 40, 0, 10),
                               Box(50, 60, 0, 10)};
  MergeWords(pieces, 1);
  EXPECT_EQ(PiecesText(pieces),
            "[l=0 r=40 t=0 b=10 line=0 idx=0] [l=50 r=60 t=0 b=10 line=0 idx=0]");
}

// --- Pixel coordinates ---------------------------------------------------------

TEST(GroupPixels, DownsampleFactorIsFormedInSinglePrecision) {
  const double third = DownsampleFactor({1, 3});
  EXPECT_EQ(third, static_cast<double>(1.0f / 3.0f));
  EXPECT_NE(third, 1.0 / 3.0);
  EXPECT_EQ(DownsampleFactor({1, 2}), 0.5);
  EXPECT_EQ(DownsampleFactor({1, 1}), 1.0);
  // den is unsigned: 2^31 is a positive denominator.
  EXPECT_EQ(DownsampleFactor({1, 0x80000000u}), std::ldexp(1.0, -31));
}

TEST(GroupPixels, AZeroDenominatorGivesTheIeeeQuotient) {
  // What the single-precision division gives on the host's processor; the
  // render then has no piece it can place.
  EXPECT_EQ(DownsampleFactor({3, 0}), std::numeric_limits<double>::infinity());
  EXPECT_EQ(DownsampleFactor({-3, 0}), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(DownsampleFactor({0, 0})));
  EXPECT_EQ(DownsampleFactor({0, 7}), 0.0);
}

TEST(GroupPixels, AThirdScalesByItsSinglePrecisionValue) {
  const double third = DownsampleFactor({1, 3});
  EXPECT_EQ(Group({Box(30, 60, 3, 9)}, 0, false, third, 1),
            "[l=10.000000298023224 r=20.000000596046448 t=3 b=9 line=0 idx=0]");
  EXPECT_EQ(Group({Box(30, 60, 3, 9)}, 0, false, 1, third),
            "[l=30 r=60 t=1.0000000298023224 b=3.000000089406967 line=0 idx=0]");
}

TEST(GroupPixels, HalfResolutionHalvesBoundsAndKeepsTheGrouping) {
  // Stems with dots at T = 4 (joined) and one dot too high to join.
  const std::vector<Piece> text = {Box(10, 14, 20, 40), Box(10, 14, 12, 16), Box(20, 24, 20, 40),
                                   Box(20, 24, 10, 15), Box(30, 44, 20, 40)};
  EXPECT_EQ(Group(text, 4, false, 1, 1),
            "[l=10 r=14 t=12 b=40 line=0 idx=0] [l=20 r=24 t=20 b=40 line=0 idx=1] "
            "[l=20 r=24 t=10 b=15 line=1 idx=2] [l=30 r=44 t=20 b=40 line=1 idx=3]");
  EXPECT_EQ(Group(text, 4, false, 0.5, 0.5),
            "[l=5 r=7 t=6 b=20 line=0 idx=0] [l=10 r=12 t=10 b=20 line=0 idx=1] "
            "[l=10 r=12 t=5 b=7.5 line=1 idx=2] [l=15 r=22 t=10 b=20 line=1 idx=3]");
}

TEST(GroupPixels, OtherFieldsAreKeptAndIndexIsThePosition) {
  std::vector<Piece> pieces = {Box(0, 10, 0, 10), Box(3, 7, 3, 7), Box(20, 30, 0, 10)};
  pieces[0].tracking_offset = 1.5;
  pieces[2].tracking_offset = -2;
  GroupPieces(pieces, 0, false, 1, 1);
  EXPECT_EQ(PiecesText(pieces),
            "[l=0 r=10 t=0 b=10 line=0 idx=0 trk=1.5] [l=20 r=30 t=0 b=10 line=0 idx=1 trk=-2]");
}

// Text-like boxes on a coarse grid, so that containment, equal edges and
// gaps of exactly T come up often. Only raw engine output is used, which is
// the same on every platform.
std::vector<Piece> RandomBoxes(std::mt19937& random) {
  const std::size_t n = random() % 40;
  std::vector<Piece> boxes;
  double x = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const int jump = static_cast<int>(random() % 16) - 4;           // mostly to the right
    if (random() % 10 == 0) x = static_cast<double>(random() % 6);  // a new line
    x += jump * 0.5;
    const double width = static_cast<double>(random() % 10) * 0.5;
    const double top = static_cast<double>(random() % 12) * 0.5 + 10.0 * (random() % 3);
    const double height = static_cast<double>(random() % 16) * 0.5;
    boxes.push_back(Box(x, x + width, top, top + height));
  }
  return boxes;
}

TEST(GroupReference, InPlacePassesMakeTheSameComparisonsAsErasing) {
  const double thresholds[] = {-3, -1, -0.5, 0, 0.5, 1, 2, 4, 7};
  const double factors[] = {1.0, 0.5, static_cast<double>(1.0f / 3.0f)};
  for (uint32_t i = 0; i < 3000; ++i) {
    std::mt19937 random(i);
    const std::vector<Piece> boxes = RandomBoxes(random);
    const double t = thresholds[random() % std::size(thresholds)];
    const bool word_mode = random() % 2 == 0;
    const double fx = factors[random() % std::size(factors)];
    const double fy = factors[random() % std::size(factors)];
    SCOPED_TRACE(::testing::Message() << "case " << i << " T=" << t << " words=" << word_mode);

    std::vector<Piece> expected = boxes;
    std::vector<Piece> actual = boxes;
    const PairTest tests[] = {PairTest::kBInsideA,      PairTest::kAInsideB,
                              PairTest::kBUnderA,       PairTest::kBInsideAGrown,
                              PairTest::kAInsideBGrown, PairTest::kAInsideBGrown};
    for (int pass = 1; pass <= 6; ++pass) {
      ReferenceScan(expected, pass < 6 ? pass : 5, t);
      MergeNeighbours(actual, tests[pass - 1], t);
      ASSERT_EQ(PiecesText(actual), PiecesText(expected)) << "after scan " << pass;
    }
    ReferenceLines(expected);
    NumberLines(actual);
    ASSERT_EQ(PiecesText(actual), PiecesText(expected)) << "after line numbers";
    if (word_mode) {
      ReferenceWords(expected, t);
      MergeWords(actual, t);
      ASSERT_EQ(PiecesText(actual), PiecesText(expected)) << "after words";
    }
    ReferenceFinish(expected, fx, fy);
    std::vector<Piece> whole = boxes;
    GroupPieces(whole, t, word_mode, fx, fy);
    ASSERT_EQ(PiecesText(whole), PiecesText(expected));
  }
}

TEST(GroupReference, LongListsGiveWhatThePassesGiveOneByOne) {
  // Long lists are grouped in blocks; the lengths straddle the length where
  // that starts and the blocks' edges, and the records held across an edge
  // or at the end must reach the later passes in their place.
  const std::size_t lengths[] = {16383, 16384, 16385, 20479, 20480, 20481, 45000};
  const double thresholds[] = {-1, 0, 0.5, 2};
  uint32_t seed = 0;
  for (const std::size_t n : lengths) {
    for (const double t : thresholds) {
      std::mt19937 random(++seed);
      std::vector<Piece> boxes;
      while (boxes.size() < n) {
        const std::vector<Piece> more = RandomBoxes(random);
        boxes.insert(boxes.end(), more.begin(), more.end());
      }
      boxes.resize(n);
      const bool word_mode = seed % 2 == 0;
      std::vector<Piece> expected = boxes;
      for (const PairTest test :
           {PairTest::kBInsideA, PairTest::kAInsideB, PairTest::kBUnderA, PairTest::kBInsideAGrown,
            PairTest::kAInsideBGrown, PairTest::kAInsideBGrown}) {
        MergeNeighbours(expected, test, t);
      }
      NumberLines(expected);
      if (word_mode) MergeWords(expected, t);
      FinishPieces(expected, 0.5, 1);
      GroupPieces(boxes, t, word_mode, 0.5, 1);
      ASSERT_EQ(PiecesText(boxes), PiecesText(expected))
          << n << " records, T=" << t << ", words " << word_mode;
    }
  }
}

}  // namespace
}  // namespace vantrel
