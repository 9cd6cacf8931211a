// Grouping of outline boxes into characters and words, line numbers, and the
// conversion of the boxes to render pixels.
//
// The list is in the host's outline order, taken as reading order, and is
// never sorted. Every merging pass compacts the list in place with a read
// cursor and a write cursor, so a merge costs nothing for the records behind
// it; the pair comparisons made are exactly those of a scan that erases the
// second record of each merged pair from the list.
#include <cstddef>
#include <iterator>
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

namespace {

// Where a neighbour scan ended: the write cursor, and the record that had
// no successor to be compared with (read < end) or end.
struct ScanEnd {
  std::size_t write, read;
};

// The neighbour scan over list[read, end), writing from `write`. The write
// cursor never passes the read cursor: each step writes one record and
// reads one or two.
inline ScanEnd ScanPairs(Piece* list, std::size_t read, std::size_t end, std::size_t write,
                         PairTest test, double threshold) {
  while (read + 1 < end) {
    const Piece& a = list[read];
    const Piece& b = list[read + 1];
    if (PairHolds(test, a, b, threshold)) {
      list[write] = Union(a, b);
      read += 2;
    } else {
      list[write] = a;
      read += 1;
    }
    ++write;
  }
  return {write, read};
}

}  // namespace

void MergeNeighbours(std::vector<Piece>& pieces, PairTest test, double threshold) {
  const std::size_t n = pieces.size();
  auto [write, read] = ScanPairs(pieces.data(), 0, n, 0, test, threshold);
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

namespace {

constexpr PairTest kScans[] = {PairTest::kBInsideA,      PairTest::kAInsideB,
                               PairTest::kBUnderA,       PairTest::kBInsideAGrown,
                               PairTest::kAInsideBGrown, PairTest::kAInsideBGrown};
constexpr std::size_t kScanCount = std::size(kScans);

// Lists from this length on (768 KB of records) are grouped in blocks.
constexpr std::size_t kBlockedFrom = std::size_t{1} << 14;
constexpr std::size_t kBlock = 4096;

// GroupPieces over a long list in blocks: each scan compacts a block in
// place (the first scan the block itself, each later one what the scan
// before it left of the block), then the line numbers, words and finish
// take what is left, before the next block is read. A scan that ends a
// block holding a record it has not yet compared with a successor puts it
// just before its next input, in a slot that nothing reads any more; the
// words carry the word being built. Each pass sees exactly the sequence it
// sees over the whole list and makes the same comparisons, while a block
// stays in the cache: a long text no longer streams through memory eight
// times. Every pass writes behind where it reads, as in MergeNeighbours.
class BlockedGrouping {
 public:
  BlockedGrouping(std::vector<Piece>& pieces, double threshold, bool word_mode, double fx,
                  double fy)
      : pieces_(pieces), threshold_(threshold), word_mode_(word_mode), fx_(fx), fy_(fy) {}

  void Run() {
    const std::size_t n = pieces_.size();
    // Two slots per scan past the end for the records held at the end.
    pieces_.resize(n + 2 * kScanCount);
    list_ = pieces_.data();
    for (std::size_t first = 0; first < n; first += kBlock) {
      Passes(0, first, first + kBlock < n ? first + kBlock : n);
    }
    for (std::size_t s = 0; s < kScanCount; ++s) {
      if (!held_[s]) continue;
      held_[s] = false;
      const std::size_t at = n + 2 * s + 1;
      list_[at] = pending_[s];
      Passes(s + 1, at, at + 1);
    }
    if (have_word_) Finish(word_);
    pieces_.resize(write_);
  }

 private:
  // The records [lo, hi) through the scans from `first` on, then the rest.
  void Passes(std::size_t first, std::size_t lo, std::size_t hi) {
    for (std::size_t s = first; s < kScanCount; ++s) {
      const std::size_t out = cursor_[s];
      cursor_[s] = Scan(s, lo, hi, out);
      lo = out;
      hi = cursor_[s];
    }
    Lines(lo, hi);
  }

  // MergeNeighbours over [lo, hi) after scan s's held record, writing from
  // w; returns where the writing ended.
  std::size_t Scan(std::size_t s, std::size_t lo, std::size_t hi, std::size_t w) {
    std::size_t read = lo;
    if (held_[s]) list_[--read] = pending_[s];  // a slot this scan has read and not written
    const ScanEnd end = ScanPairs(list_, read, hi, w, kScans[s], threshold_);
    held_[s] = end.read < hi;
    if (held_[s]) pending_[s] = list_[end.read];
    return end.write;
  }

  void Lines(std::size_t lo, std::size_t hi) {
    for (std::size_t i = lo; i < hi; ++i) {
      Piece p = list_[i];
      if (have_previous_) {
        if (p.left <= previous_left_) ++line_;
        p.line = line_;  // the first piece keeps its line
      }
      have_previous_ = true;
      previous_left_ = p.left;
      if (!word_mode_) {
        Finish(p);
      } else if (!have_word_) {
        word_ = p;
        have_word_ = true;
      } else if (p.line == word_.line && p.left <= word_.right + threshold_) {
        word_ = Union(word_, p);
      } else {
        Finish(word_);
        word_ = p;
      }
    }
  }

  void Finish(Piece p) {
    p.index = static_cast<int32_t>(write_);
    p.left *= fx_;
    p.right *= fx_;
    p.top *= fy_;
    p.bottom *= fy_;
    list_[write_++] = p;
  }

  std::vector<Piece>& pieces_;
  Piece* list_ = nullptr;
  const double threshold_;
  const bool word_mode_;
  const double fx_, fy_;
  std::size_t cursor_[kScanCount] = {};  // each scan's write position
  Piece pending_[kScanCount];
  bool held_[kScanCount] = {};
  bool have_previous_ = false;
  double previous_left_ = 0;
  int32_t line_ = 0;
  Piece word_;
  bool have_word_ = false;
  std::size_t write_ = 0;
};

}  // namespace

void GroupPieces(std::vector<Piece>& pieces, double threshold, bool word_mode, double fx,
                 double fy) {
  if (pieces.size() >= kBlockedFrom) {
    BlockedGrouping(pieces, threshold, word_mode, fx, fy).Run();
    return;
  }
  for (const PairTest test : kScans) MergeNeighbours(pieces, test, threshold);
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
