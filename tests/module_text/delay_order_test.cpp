// The random generator, the range rule and selection, the delay orders and
// the time of each position.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "text/text.h"

namespace vantrel {
namespace {

// Pieces whose index is their position, as grouping leaves them.
std::vector<Piece> Numbered(int32_t count) {
  std::vector<Piece> pieces(static_cast<std::size_t>(count));
  for (int32_t k = 0; k < count; ++k) pieces[static_cast<std::size_t>(k)].index = k;
  return pieces;
}

std::vector<int32_t> Indices(const std::vector<Piece>& pieces) {
  std::vector<int32_t> indices;
  for (const Piece& piece : pieces) indices.push_back(piece.index);
  return indices;
}

std::vector<int32_t> Ordered(int32_t order_mode, int32_t size, int32_t seed) {
  std::vector<Piece> pieces = Numbered(size);
  OrderPieces(pieces, order_mode, size, seed);
  return Indices(pieces);
}

std::vector<int> Draws(int n) {
  std::vector<int> draws;
  for (int k = 0; k < n; ++k) draws.push_back(MsRand());
  return draws;
}

using Ints = std::vector<int32_t>;

// --- Generator --------------------------------------------------------------------

TEST(Generator, SequencesFollowTheLinearCongruentialRule) {
  MsSrand(1);
  EXPECT_EQ(Draws(5), (std::vector<int>{41, 18467, 6334, 26500, 19169}));
  MsSrand(0);
  EXPECT_EQ(Draws(5), (std::vector<int>{38, 7719, 21238, 2437, 8855}));
  MsSrand(12345);
  EXPECT_EQ(Draws(3), (std::vector<int>{7584, 19164, 25795}));
  // A negative seed is taken as its unsigned 32 bits.
  MsSrand(static_cast<uint32_t>(-1));
  EXPECT_EQ(Draws(3), (std::vector<int>{35, 29739, 3374}));
}

TEST(Generator, StateIsPerThreadAndStartsAsIfSeededWithOne) {
  MsSrand(0);
  int other_first = -1;
  std::thread other([&] {
    other_first = MsRand();  // never seeded on this thread
    MsSrand(7);
    MsRand();
  });
  other.join();
  EXPECT_EQ(other_first, 41);
  EXPECT_EQ(MsRand(), 38) << "the other thread's seeding must not reach this one";
}

// --- Range rule and selection -------------------------------------------------------

TEST(RangeRule, AscendingRangesAreKept) {
  const PercentRange kept = ApplyRangeRule({0, 100});
  EXPECT_EQ(kept.start, 0);
  EXPECT_EQ(kept.end, 100);
  const PercentRange small = ApplyRangeRule({20, 20.5});
  EXPECT_EQ(small.start, 20);
  EXPECT_EQ(small.end, 20.5);
}

TEST(RangeRule, EmptyOrInvertedCollapsesToOnePercentAtTheEnd) {
  struct Case {
    double start, end, want_start, want_end;
  };
  const Case cases[] = {
      {50, 50, 50, 51},         {100, 100, 99, 100},
      {80, 20, 20, 21},         {99, 99, 99, 100},  // 99 is not above 99: the window goes up
      {99.5, 99.5, 98.5, 99.5}, {100, 0, 0, 1},
  };
  for (const Case& c : cases) {
    const PercentRange got = ApplyRangeRule({c.start, c.end});
    EXPECT_EQ(got.start, c.want_start) << c.start << "/" << c.end;
    EXPECT_EQ(got.end, c.want_end) << c.start << "/" << c.end;
  }
}

TEST(RangeSelection, PercentOfCountTruncated) {
  const auto select = [](double start, double end, int32_t count) {
    const PieceRange range = SelectRange({start, end}, count);
    return std::to_string(range.first) + ".." + std::to_string(range.end);
  };
  EXPECT_EQ(select(0, 100, 7), "0..7");
  EXPECT_EQ(select(50, 51, 10), "5..5");
  EXPECT_EQ(select(50, 51, 100), "50..51");
  EXPECT_EQ(select(99, 100, 10), "9..10");
  EXPECT_EQ(select(20, 21, 3), "0..0");
  // (29 * 0.01) * 100 is 28.999999999999996 in double: 28, not 29.
  EXPECT_EQ(select(29, 58, 100), "28..57");
}

// --- Orders ---------------------------------------------------------------------------

TEST(OrderPieces, NoneAndUnknownModesKeepTheOrder) {
  EXPECT_EQ(Ordered(1, 5, 3), (Ints{0, 1, 2, 3, 4}));
  EXPECT_EQ(Ordered(0, 5, 3), (Ints{0, 1, 2, 3, 4}));
  EXPECT_EQ(Ordered(5, 5, 3), (Ints{0, 1, 2, 3, 4}));
}

TEST(OrderPieces, Reverse) {
  EXPECT_EQ(Ordered(2, 4, 0), (Ints{3, 2, 1, 0}));
  EXPECT_EQ(Ordered(2, 5, 0), (Ints{4, 3, 2, 1, 0}));
  EXPECT_EQ(Ordered(2, 1, 0), (Ints{0}));
  EXPECT_EQ(Ordered(2, 0, 0), (Ints{}));
}

TEST(OrderPieces, IncrementTakesEvenOffsetsThenOdd) {
  EXPECT_EQ(Ordered(4, 4, 0), (Ints{0, 2, 1, 3}));
  EXPECT_EQ(Ordered(4, 5, 0), (Ints{0, 2, 4, 1, 3}));
  EXPECT_EQ(Ordered(4, 1, 0), (Ints{0}));
  EXPECT_EQ(Ordered(4, 0, 0), (Ints{}));
}

TEST(OrderPieces, RandomIsTheSameShuffleForTheSameSeed) {
  EXPECT_EQ(Ordered(3, 5, 1), (Ints{4, 1, 3, 2, 0}));
  EXPECT_EQ(Ordered(3, 8, 1), (Ints{4, 1, 6, 2, 0, 5, 7, 3}));
  EXPECT_EQ(Ordered(3, 5, 7), (Ints{4, 2, 1, 3, 0}));
  EXPECT_EQ(Ordered(3, 8, 42), (Ints{7, 4, 1, 5, 3, 2, 6, 0}));
  EXPECT_EQ(Ordered(3, 5, -5), (Ints{1, 3, 4, 2, 0}));
  // Seed 1 over two pieces: the one draw is 41, odd, so j = 1 and nothing moves.
  EXPECT_EQ(Ordered(3, 2, 1), (Ints{0, 1}));
  EXPECT_EQ(Ordered(3, 2, -5), (Ints{1, 0}));
  // One draw per step, and nothing after the last.
  std::vector<Piece> four = Numbered(4);
  OrderPieces(four, 3, 4, 1);
  EXPECT_EQ(MsRand(), 26500);
}

TEST(OrderPieces, SeedsTheGeneratorInEveryMode) {
  for (int32_t mode : {1, 2, 3, 4, 9}) {
    MsSrand(99);
    std::vector<Piece> one = Numbered(1);
    OrderPieces(one, mode, 1, 7);
    EXPECT_EQ(MsRand(), 61) << "mode " << mode << ": first draw after seeding with 7";
  }
}

TEST(OrderPieces, ShufflePiecesDrawsOncePerStep) {
  MsSrand(7);
  std::vector<Piece> pieces = Numbered(5);
  ShufflePieces(pieces);
  EXPECT_EQ(Indices(pieces), (Ints{4, 2, 1, 3, 0}));
  MsSrand(7);
  Draws(4);
  const int fifth = MsRand();
  MsSrand(7);
  ShufflePieces(pieces);
  EXPECT_EQ(MsRand(), fifth);
}

TEST(OrderPieces, SizeBeyondTheListIsAnIndexError) {
  std::vector<Piece> pieces = Numbered(3);
  EXPECT_THROW(OrderPieces(pieces, 2, 4, 0), std::out_of_range);
}

// --- Piece times ----------------------------------------------------------------------

// The times of all positions, walked as the sampling does: each position
// from the one before it, starting from `start`.
Ints Times(const std::vector<Piece>& pieces, PieceRange range, int32_t start, double delay) {
  Ints times;
  int32_t time = start;
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    time = PieceTime(static_cast<int32_t>(p), pieces[p], range, time, start, delay);
    times.push_back(time);
  }
  return times;
}

TEST(PieceTime, EachStepLosesItsFractionOnItsOwn) {
  EXPECT_EQ(Times(Numbered(4), {0, 4}, 1000, 2.5), (Ints{1000, 997, 994, 991}));
  EXPECT_EQ(Times(Numbered(3), {0, 3}, 0, 0.75), (Ints{0, 0, 0}));
}

TEST(PieceTime, TruncatesTowardZeroBelowZero) {
  const std::vector<Piece> pieces = Numbered(2);
  EXPECT_EQ(PieceTime(1, pieces[1], {0, 2}, -1, 0, 2.5), -3);
  EXPECT_EQ(Times(Numbered(4), {0, 4}, 2, 2.5), (Ints{2, 0, -2, -4}));
}

TEST(PieceTime, AStepOutOf32BitsBecomesInt32MinLikeTheX64Conversion) {
  const PieceRange all{0, 3};
  Piece second;
  second.index = 1;
  EXPECT_EQ(PieceTime(1, second, all, INT32_MAX, 0, -1.0), INT32_MIN);
  EXPECT_EQ(PieceTime(1, second, all, INT32_MIN, 0, 1.0), INT32_MIN);
  EXPECT_EQ(PieceTime(1, second, all, INT32_MIN, 0, 0.5), INT32_MIN);  // -2147483648.5 -> toward 0
  EXPECT_EQ(PieceTime(1, second, all, 0, 0, std::numeric_limits<double>::quiet_NaN()), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(2147483647.9), INT32_MAX);
  EXPECT_EQ(TruncateToInt32(-2147483648.9), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(1e300), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(-std::numeric_limits<double>::infinity()), INT32_MIN);
}

TEST(PieceTime, OnlyTheRangeAfterItsFirstIsDelayed) {
  // Order None with the range at positions 2..4 of 6.
  EXPECT_EQ(Times(Numbered(6), {2, 5}, 100, 10), (Ints{100, 100, 100, 90, 80, 100}));
  // An empty range delays nothing.
  EXPECT_EQ(Times(Numbered(10), {5, 5}, 100, 10), Ints(10, 100));
}

TEST(PieceTime, ReversedRangeDelaysItsFirstPieceMost) {
  std::vector<Piece> pieces = Numbered(4);
  OrderPieces(pieces, 2, 4, 0);
  const Ints times = Times(pieces, {0, 4}, 1000, 10);
  EXPECT_EQ(times, (Ints{1000, 990, 980, 970}));
  EXPECT_EQ(pieces[3].index, 0) << "original first piece sits last, 3 steps back";
}

}  // namespace
}  // namespace vantrel
