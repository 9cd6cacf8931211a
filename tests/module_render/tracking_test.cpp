#include "render/tracking.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "params/params.h"

namespace vantrel {
namespace {

std::vector<Piece> Lines(std::initializer_list<int32_t> lines) {
  std::vector<Piece> pieces;
  for (int32_t line : lines) {
    Piece p;
    p.line = line;
    p.index = static_cast<int32_t>(pieces.size());
    pieces.push_back(p);
  }
  return pieces;
}

std::vector<double> Offsets(std::vector<Piece> pieces, double step, int32_t alignment) {
  ComputeTrackingOffsets(pieces, CountLinePieces(pieces), step, alignment);
  std::vector<double> out;
  for (const Piece& p : pieces) out.push_back(p.tracking_offset);
  return out;
}

using Doubles = std::vector<double>;

TEST(LineCounts, CountsConsecutivePiecesPerLine) {
  EXPECT_EQ(CountLinePieces(Lines({0, 0, 0, 1, 1, 2})), (std::vector<int32_t>{3, 2, 1}));
  EXPECT_EQ(CountLinePieces(Lines({0})), (std::vector<int32_t>{1}));
  EXPECT_EQ(CountLinePieces({}), (std::vector<int32_t>{0}));
}

TEST(TrackingLeft, EachLineStartsAgainAtZero) {
  EXPECT_EQ(Offsets(Lines({0, 0, 0, 0, 1, 1}), 2, kAlignLeft), (Doubles{0, 2, 4, 6, 0, 2}));
}

TEST(TrackingRight, CountsStepsBackFromTheLineEnd) {
  EXPECT_EQ(Offsets(Lines({0, 0, 0}), 2, kAlignRight), (Doubles{-4, -2, 0}));
  EXPECT_EQ(Offsets(Lines({0, 0, 1, 1, 1}), 1, kAlignRight), (Doubles{-1, 0, -2, -1, 0}));
}

TEST(TrackingMiddle, OddAndEvenLinesAreSymmetric) {
  EXPECT_EQ(Offsets(Lines({0, 0, 0}), 2, kAlignMiddle), (Doubles{-2, 0, 2}));
  EXPECT_EQ(Offsets(Lines({0, 0, 0, 0}), 2, kAlignMiddle), (Doubles{-3, -1, 1, 3}));
  // A line of one piece keeps 0; each line is centred on its own.
  EXPECT_EQ(Offsets(Lines({0, 0, 1, 2, 2, 2}), 2, kAlignMiddle), (Doubles{-1, 1, 0, -2, 0, 2}));
}

TEST(TrackingMiddle, ExactlyTwoPiecesSplitEvenWhenOnDifferentLines) {
  EXPECT_EQ(Offsets(Lines({0, 1}), 4, kAlignMiddle), (Doubles{-2, 2}));
}

TEST(Tracking, ZeroStepAndUnknownAlignmentGiveNoOffsets) {
  for (int32_t alignment : {kAlignLeft, kAlignMiddle, kAlignRight}) {
    EXPECT_EQ(Offsets(Lines({0, 0, 0}), 0, alignment), (Doubles{0, 0, 0})) << alignment;
  }
  EXPECT_EQ(Offsets(Lines({0, 0, 0}), 5, 4), (Doubles{0, 0, 0}));
}

}  // namespace
}  // namespace vantrel
