#include "render/tracking.h"

#include <cstddef>

#include "params/params.h"

namespace vantrel {
namespace {

// The k-th piece of a line, counted from 0, moves k steps to the right.
void AlignLeft(std::vector<Piece>& pieces, double step) {
  double offset = 0;
  int32_t line = 0;
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    if (pieces[i].line == line) {
      offset += step;
    } else {
      offset = 0;
      ++line;
    }
    pieces[i].tracking_offset = offset;
  }
}

// The k-th piece from the end of a line moves k steps to the left.
void AlignRight(std::vector<Piece>& pieces, double step) {
  double offset = 0;
  int32_t line = pieces.back().line;
  for (std::size_t i = pieces.size() - 1; i-- > 0;) {
    if (pieces[i].line == line) {
      offset -= step;
    } else {
      offset = 0;
      --line;
    }
    pieces[i].tracking_offset = offset;
  }
}

// Spreads the q pieces starting at `first` symmetrically about the line's
// middle: half steps on either side of the centre for an even count, whole
// steps away from a fixed middle piece for an odd one.
void CentreLine(std::vector<Piece>& pieces, std::size_t first, std::size_t q, double step) {
  const std::size_t half = q / 2;
  // Offsets grow outwards by repeated addition, one step per piece.
  double offset = (q % 2 == 0) ? step / 2 : step;
  const std::size_t right_start = (q % 2 == 0) ? first + half : first + half + 1;
  for (std::size_t k = 0; k < half; ++k) {
    pieces[first + half - 1 - k].tracking_offset = -offset;
    pieces[right_start + k].tracking_offset = offset;
    offset += step;
  }
}

void AlignMiddle(std::vector<Piece>& pieces, const std::vector<int32_t>& line_counts, double step) {
  if (pieces.size() == 2) {  // whatever their lines
    pieces[0].tracking_offset = -step / 2;
    pieces[1].tracking_offset = step / 2;
    return;
  }
  std::size_t first = 0;
  const int32_t last_line = pieces.back().line;
  for (int32_t k = 0; k <= last_line && static_cast<std::size_t>(k) < line_counts.size(); ++k) {
    const auto q = static_cast<std::size_t>(line_counts[static_cast<std::size_t>(k)]);
    if (first + q > pieces.size()) break;  // counts that do not fit the list
    CentreLine(pieces, first, q, step);
    first += q;
  }
}

}  // namespace

std::vector<int32_t> CountLinePieces(const std::vector<Piece>& pieces) {
  std::vector<int32_t> counts(1, 0);
  int32_t line = 0;
  for (const Piece& piece : pieces) {
    if (piece.line != line) {
      ++line;
      counts.push_back(0);
    }
    ++counts.back();
  }
  return counts;
}

void ComputeTrackingOffsets(std::vector<Piece>& pieces, const std::vector<int32_t>& line_counts,
                            double step, int32_t alignment) {
  if (pieces.empty()) return;
  switch (alignment) {
    case kAlignLeft:
      AlignLeft(pieces, step);
      break;
    case kAlignMiddle:
      AlignMiddle(pieces, line_counts, step);
      break;
    case kAlignRight:
      AlignRight(pieces, step);
      break;
    default:
      break;
  }
}

}  // namespace vantrel
