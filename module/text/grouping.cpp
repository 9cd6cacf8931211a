// Grouping of outline boxes into characters and words, line numbers, and the
// conversion of the boxes to render pixels.
//
// The list is in the host's outline order, taken as reading order, and is
// never sorted. Every merging pass compacts the list in place with a read
// cursor and a write cursor, so a merge costs nothing for the records behind
// it; the pair comparisons made are exactly those of a scan that erases the
// second record of each merged pair from the list.
#include <cstddef>
#include <limits>

#include "text/text.h"

namespace vantrel {
namespace {

// The union of two boxes; every other field is A's.
Piece Union(const Piece& a, const Piece& b) {
  Piece merged = a;
  merged.left = b.left < a.left ? b.left : a.left;
  merged.top = b.top < a.top ? b.top : a.top;
  merged.right = b.right > a.right ? b.right : a.right;
  merged.bottom = b.bottom > a.bottom ? b.bottom : a.bottom;
  return merged;
}

// Whether `inner` lies inside `outer` grown by `grow` on every side (shrunk
// when `grow` is negative).
bool Inside(const Piece& inner, const Piece& outer, double grow) {
  return inner.left >= outer.left - grow && inner.right <= outer.right + grow &&
         inner.top >= outer.top - grow && inner.bottom <= outer.bottom + grow;
}

bool Inside(const Piece& inner, const Piece& outer) {
  return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
         inner.bottom <= outer.bottom;
}

}  // namespace

bool PairHolds(PairTest test, const Piece& a, const Piece& b, double threshold) {
  switch (test) {
    case PairTest::kBInsideA:
      return Inside(b, a);
    case PairTest::kAInsideB:
      return Inside(a, b);
    case PairTest::kBUnderA:
      // No limit on how far below A the piece may lie: this catches the stem
      // of an "i" under its dot, and anything else hanging under a glyph.
      return b.left >= a.left - threshold && b.right <= a.right + threshold &&
             b.bottom + threshold >= a.top;
    case PairTest::kBInsideAGrown:
      return Inside(b, a, threshold);
    case PairTest::kAInsideBGrown:
      return Inside(a, b, threshold);
  }
  return false;
}

void MergeNeighbours(std::vector<Piece>& pieces, PairTest test, double threshold) {
  const std::size_t n = pieces.size();
  std::size_t write = 0;
  std::size_t read = 0;
  // The write cursor never passes the read cursor: each step writes one
  // record and reads one or two.
  while (read + 1 < n) {
    const Piece& a = pieces[read];
    const Piece& b = pieces[read + 1];
    if (PairHolds(test, a, b, threshold)) {
      pieces[write] = Union(a, b);
      read += 2;
    } else {
      pieces[write] = a;
      read += 1;
    }
    ++write;
  }
  if (read < n) pieces[write++] = pieces[read];
  pieces.resize(write);
}

void NumberLines(std::vector<Piece>& pieces) {
  int32_t line = 0;
  for (std::size_t p = 0; p + 1 < pieces.size(); ++p) {
    if (pieces[p + 1].left <= pieces[p].left) ++line;
    pieces[p + 1].line = line;
  }
}

void MergeWords(std::vector<Piece>& pieces, double threshold) {
  if (pieces.empty()) return;
  // `word` is the record at the position being tested; it takes in its right
  // neighbours for as long as they join, then is written out.
  std::size_t write = 0;
  Piece word = pieces[0];
  for (std::size_t read = 1; read < pieces.size(); ++read) {
    const Piece& next = pieces[read];
    if (next.line == word.line && next.left <= word.right + threshold) {
      word = Union(word, next);
    } else {
      pieces[write++] = word;
      word = next;
    }
  }
  pieces[write++] = word;
  pieces.resize(write);
}

void FinishPieces(std::vector<Piece>& pieces, double fx, double fy) {
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    Piece& piece = pieces[p];
    piece.index = static_cast<int32_t>(p);
    piece.left *= fx;
    piece.right *= fx;
    piece.top *= fy;
    piece.bottom *= fy;
  }
}

void GroupPieces(std::vector<Piece>& pieces, double threshold, bool word_mode, double fx,
                 double fy) {
  MergeNeighbours(pieces, PairTest::kBInsideA, threshold);
  MergeNeighbours(pieces, PairTest::kAInsideB, threshold);
  MergeNeighbours(pieces, PairTest::kBUnderA, threshold);
  MergeNeighbours(pieces, PairTest::kBInsideAGrown, threshold);
  MergeNeighbours(pieces, PairTest::kAInsideBGrown, threshold);
  MergeNeighbours(pieces, PairTest::kAInsideBGrown, threshold);
  NumberLines(pieces);
  if (word_mode) MergeWords(pieces, threshold);
  FinishPieces(pieces, fx, fy);
}

double DownsampleFactor(const PF_RationalScale& scale) {
  // A zero denominator gives what the single-precision division gives on the
  // host's processor (an infinity, or NaN for 0/0), without dividing by zero;
  // the render then skips every piece it cannot place.
  if (scale.den == 0) {
    if (scale.num == 0) return std::numeric_limits<double>::quiet_NaN();
    return scale.num > 0 ? std::numeric_limits<double>::infinity()
                         : -std::numeric_limits<double>::infinity();
  }
  // Formed in single precision on purpose, like every downsample factor of
  // the render: a third is 0.3333333432674408 here, not 0.333...33.
  const float quotient = static_cast<float>(scale.num) / static_cast<float>(scale.den);
  return static_cast<double>(quotient);
}

}  // namespace vantrel
