// Text analysis: glyph outline boxes, their grouping into characters and
// words, the delay order and the time of each piece.
#ifndef VANTREL_MODULE_TEXT_TEXT_H
#define VANTREL_MODULE_TEXT_TEXT_H

#include <cstdint>
#include <vector>

#include "ae_sdk.h"

namespace vantrel {

// One piece of text. Bounds are in outline coordinates (layer space, full
// resolution, y down) until grouping ends, then in downsampled render pixels.
struct Piece {
  double left = 0;
  double right = 0;
  double top = 0;
  double bottom = 0;
  int32_t line = 0;
  int32_t index = 0;
  double tracking_offset = 0;
};

using VertexList = std::vector<PF_PathVertex>;

// Truncation of a double toward zero to 32 bits as the x64 conversion
// instruction does it: a value that does not fit (or NaN) gives INT32_MIN.
// Every conversion of a computed double to a 32-bit integer goes through here,
// so no value a host hands over can make the conversion undefined.
int32_t TruncateToInt32(double value);

// --- Glyph outline bounds --------------------------------------------------

// The box of one outline's vertex list: its on-curve points, and with
// `evaluate_tangents` also both tangent points of every vertex. An empty list
// leaves `piece`'s box untouched.
void BoxOfVertices(const VertexList& vertices, bool evaluate_tangents, Piece& piece);

// --- Grouping ----------------------------------------------------------------

// The eight grouping passes over `pieces` (outline boxes in host order, one per
// outline): containment and proximity merges, line numbers, words (when
// `word_mode`), then positions and the conversion to render pixels by the
// factors fx, fy. Works in place; `pieces` ends holding the pieces.
void GroupPieces(std::vector<Piece>& pieces, double threshold, bool word_mode, double fx,
                 double fy);

// num / den formed in single precision, widened to double.
double DownsampleFactor(const PF_RationalScale& scale);

// The passes that GroupPieces runs, one by one. Each works in place in time
// linear in the list's length and leaves `pieces` holding what is left.

// The pair tests of the neighbour scans; A is the record at p, B at p + 1, T
// the threshold. All comparisons include equality.
enum class PairTest {
  kBInsideA,       // pass 1
  kAInsideB,       // pass 2
  kBUnderA,        // pass 3: B within A's x extent +-T, B.bottom + T >= A.top
  kBInsideAGrown,  // pass 4: B inside A grown by T on every side
  kAInsideBGrown,  // pass 5: A inside B grown by T on every side
};
bool PairHolds(PairTest test, const Piece& a, const Piece& b, double threshold);

// One scan over neighbouring pairs: where the test holds, the pair becomes one
// record (union of the boxes, A's other fields) and the scan goes on with the
// pair after it, so a merged record is not tested again in the same scan.
void MergeNeighbours(std::vector<Piece>& pieces, PairTest test, double threshold);

// Line numbers: a piece whose left is not to the right of its predecessor's
// left starts a new line. The first piece's line is left as it is.
void NumberLines(std::vector<Piece>& pieces);

// Joins runs of pieces on one line whose gaps (B.left - A.right) are at most T.
void MergeWords(std::vector<Piece>& pieces, double threshold);

// Sets index to the position and scales left/right by fx, top/bottom by fy.
void FinishPieces(std::vector<Piece>& pieces, double fx, double fy);

// Walks the host's text outlines (through its own suite cache), fills one box
// per outline and groups them. `count` holds the number of outlines on the way
// in and the number of pieces on the way out; `pieces` and `vertex_lists` have
// one zeroed/empty element per outline on entry. `pieces` is shortened to
// `count`. Throws PF_Err_BAD_CALLBACK_PARAM when the host refuses a suite and
// std::out_of_range when the lists are shorter than `count`.
void BuildTextPieces(PF_InData* in_data, double threshold, std::vector<Piece>& pieces,
                     std::vector<VertexList>& vertex_lists, int32_t& count,
                     AEGP_TextOutlinesH outlines, bool word_mode, bool evaluate_tangents);

// --- Delay order ------------------------------------------------------------

// The runtime's srand/rand pair to its exact rule, one state per thread.
void MsSrand(uint32_t seed);
int MsRand();  // 0..32767

struct PercentRange {
  double start;
  double end;
};
// Makes range start/end ascending: an inverted or empty setting collapses to a
// window of one percent at the end value.
PercentRange ApplyRangeRule(PercentRange range);

struct PieceRange {
  int32_t first;
  int32_t end;  // half-open
};
PieceRange SelectRange(PercentRange range, int32_t count);

// Seeds the generator with `seed`, then reorders `pieces` in place by `order_mode`
// (1 none, 2 reverse, 3 random, 4 increment; anything else: none). Only the
// first `size` records take part; a `size` beyond the list throws
// std::out_of_range.
void OrderPieces(std::vector<Piece>& pieces, int32_t order_mode, int32_t size, int32_t seed);
void ShufflePieces(std::vector<Piece>& pieces);

// The time (value at the layer's time scale) of position `position`, given the
// time of the position before it. `start_time` is what the chain restarts from
// (the current time, or the motion-blur sample start).
int32_t PieceTime(int32_t position, const Piece& piece, PieceRange range, int32_t previous_time,
                  int32_t start_time, double delay_time);

}  // namespace vantrel

#endif  // VANTREL_MODULE_TEXT_TEXT_H
