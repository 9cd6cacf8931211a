// Tracking: extra horizontal spacing between the pieces of each text line.
#ifndef VANTREL_MODULE_RENDER_TRACKING_H
#define VANTREL_MODULE_RENDER_TRACKING_H

#include <cstdint>
#include <vector>

#include "text/text.h"

namespace vantrel {

// The number of pieces on each line, walking `pieces` in reading order: one
// entry to begin with, and a new one wherever a piece's line differs from the
// line counted so far. The result is never empty.
std::vector<int32_t> CountLinePieces(const std::vector<Piece>& pieces);

// Writes tracking_offset of every piece (pieces in reading order, lines
// consecutive) for the alignment 1 Left, 2 Middle or 3 Right; `step` is in
// render pixels. Offsets start at 0; an unknown alignment leaves them so.
void ComputeTrackingOffsets(std::vector<Piece>& pieces, const std::vector<int32_t>& line_counts,
                            double step, int32_t alignment);

}  // namespace vantrel

#endif  // VANTREL_MODULE_RENDER_TRACKING_H
