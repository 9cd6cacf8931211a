// Delay order of the pieces, the range of delayed pieces and the time of each.
#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <utility>

#include "text/text.h"

namespace vantrel {
namespace {

// The generator's state, one word per thread; 1 until the thread seeds it,
// as in the runtime whose sequence this reproduces.
thread_local uint32_t generator_state = 1;

void Shuffle(Piece* first, std::size_t size) {
  for (std::size_t i = 1; i < size; ++i) {
    const std::size_t j = static_cast<std::size_t>(MsRand()) % (i + 1);
    std::swap(first[i], first[j]);
  }
}

}  // namespace

int32_t TruncateToInt32(double value) {
  if (value > -2147483649.0 && value < 2147483648.0) return static_cast<int32_t>(value);
  return INT32_MIN;
}

void MsSrand(uint32_t seed) { generator_state = seed; }

int MsRand() {
  generator_state = generator_state * 214013u + 2531011u;  // wraps modulo 2^32
  return static_cast<int>((generator_state >> 16) & 0x7FFFu);
}

PercentRange ApplyRangeRule(PercentRange range) {
  if (range.start >= range.end) {
    // Collapse to one percent at the end value; never swapped.
    if (range.end > 99.0) {
      range.start = range.end - 1.0;
    } else {
      range.start = range.end;
      range.end = range.end + 1.0;
    }
  }
  return range;
}

PieceRange SelectRange(PercentRange range, int32_t count) {
  // Evaluated left to right in double: (percent * 0.01) * count.
  return {TruncateToInt32(range.start * 0.01 * count), TruncateToInt32(range.end * 0.01 * count)};
}

void ShufflePieces(std::vector<Piece>& pieces) { Shuffle(pieces.data(), pieces.size()); }

void OrderPieces(std::vector<Piece>& pieces, int32_t order_mode, int32_t size, int32_t seed) {
  MsSrand(static_cast<uint32_t>(seed));
  const std::size_t n = size > 0 ? static_cast<std::size_t>(size) : 0;
  if (n > pieces.size()) throw std::out_of_range("OrderPieces: size beyond the list");
  switch (order_mode) {
    case 2:  // Reverse
      std::reverse(pieces.begin(), pieces.begin() + static_cast<std::ptrdiff_t>(n));
      break;
    case 3:  // Random
      if (n >= 2) Shuffle(pieces.data(), n);
      break;
    case 4: {  // Increment: even offsets first, then odd ones
      std::vector<Piece> reordered;
      reordered.reserve(n);
      for (std::size_t k = 0; k < n; k += 2) reordered.push_back(pieces[k]);
      for (std::size_t k = 1; k < n; k += 2) reordered.push_back(pieces[k]);
      std::copy(reordered.begin(), reordered.end(), pieces.begin());
      break;
    }
    default:  // 1 None, and any other value
      break;
  }
}

int32_t PieceTime(int32_t position, const Piece& piece, PieceRange range, int32_t previous_time,
                  int32_t start_time, double delay_time) {
  if (position == range.first) return start_time;
  if (piece.index < range.first || piece.index >= range.end) return start_time;
  // Each step is truncated on its own, toward zero: 1000 - 2.5 gives 997,
  // then 994; -1 - 2.5 gives -3.
  return TruncateToInt32(static_cast<double>(previous_time) - delay_time);
}

}  // namespace vantrel
