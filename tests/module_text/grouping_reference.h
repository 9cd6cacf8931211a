// The grouping passes written plainly, as scans that erase the second record
// of each merged pair: the reference that the in-place passes of GroupPieces
// are compared with (by the grouping tests on random lists, and by the text
// analysis fuzz target on arbitrary ones).
#ifndef VANTREL_TESTS_MODULE_TEXT_GROUPING_REFERENCE_H
#define VANTREL_TESTS_MODULE_TEXT_GROUPING_REFERENCE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "text/text.h"

namespace vantrel::testing {

inline Piece ReferenceUnion(const Piece& a, const Piece& b) {
  Piece merged = a;
  merged.left = std::min(a.left, b.left);
  merged.top = std::min(a.top, b.top);
  merged.right = std::max(a.right, b.right);
  merged.bottom = std::max(a.bottom, b.bottom);
  return merged;
}

inline bool ReferenceTest(int pass, const Piece& a, const Piece& b, double t) {
  switch (pass) {
    case 1:
      return b.left >= a.left && b.right <= a.right && b.top >= a.top && b.bottom <= a.bottom;
    case 2:
      return a.left >= b.left && a.right <= b.right && a.top >= b.top && a.bottom <= b.bottom;
    case 3:
      return b.left >= a.left - t && b.right <= a.right + t && b.bottom + t >= a.top;
    case 4:
      return b.left >= a.left - t && b.right <= a.right + t && b.top >= a.top - t &&
             b.bottom <= a.bottom + t;
    default:
      return a.left >= b.left - t && a.right <= b.right + t && a.top >= b.top - t &&
             a.bottom <= b.bottom + t;
  }
}

inline void ReferenceScan(std::vector<Piece>& pieces, int pass, double t) {
  for (std::size_t p = 0; p + 1 < pieces.size(); ++p) {
    if (ReferenceTest(pass, pieces[p], pieces[p + 1], t)) {
      pieces[p] = ReferenceUnion(pieces[p], pieces[p + 1]);
      pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(p) + 1);
    }
  }
}

inline void ReferenceLines(std::vector<Piece>& pieces) {
  int32_t line = 0;
  for (std::size_t p = 0; p + 1 < pieces.size(); ++p) {
    if (pieces[p + 1].left <= pieces[p].left) ++line;
    pieces[p + 1].line = line;
  }
}

inline void ReferenceWords(std::vector<Piece>& pieces, double t) {
  std::size_t p = 0;
  while (p < pieces.size()) {
    if (p + 1 < pieces.size() && pieces[p].line == pieces[p + 1].line &&
        pieces[p + 1].left <= pieces[p].right + t) {
      pieces[p] = ReferenceUnion(pieces[p], pieces[p + 1]);
      pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(p) + 1);
    } else {
      ++p;
    }
  }
}

// Index = position, and the boxes scaled to render pixels.
inline void ReferenceFinish(std::vector<Piece>& pieces, double fx, double fy) {
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    pieces[p].index = static_cast<int32_t>(p);
    pieces[p].left *= fx;
    pieces[p].right *= fx;
    pieces[p].top *= fy;
    pieces[p].bottom *= fy;
  }
}

// All of GroupPieces: the five neighbour scans (the last one twice), line
// numbers, words when `word_mode`, then the finish.
inline void ReferenceGroup(std::vector<Piece>& pieces, double t, bool word_mode, double fx,
                           double fy) {
  for (int pass : {1, 2, 3, 4, 5, 5}) ReferenceScan(pieces, pass, t);
  ReferenceLines(pieces);
  if (word_mode) ReferenceWords(pieces, t);
  ReferenceFinish(pieces, fx, fy);
}

}  // namespace vantrel::testing

#endif  // VANTREL_TESTS_MODULE_TEXT_GROUPING_REFERENCE_H
