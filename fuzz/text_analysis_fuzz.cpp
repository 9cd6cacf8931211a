// Fuzz target: the text analysis from arbitrary outline data. The input
// decodes into the analysis settings and a list of outlines (vertex lists);
// each outline gets its box, the boxes are grouped, and the delayed range is
// selected, ordered and timed, as a render does it.
//
// Besides the sanitizers' checks the target compares the grouping with a
// literal reference (records erased from the list one merge at a time) and
// checks what the rest of the render relies on: every outline box lies in a
// piece, indices are positions, lines start at 0 and never go down, the range
// lies inside the list, and ordering permutes the range.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "byte_reader.h"
#include "grouping_reference.h"
#include "text/text.h"

namespace {

using vantrel::Piece;
using vantrel::PieceRange;
using vantrel::VertexList;
using vantrel::testing::ReferenceGroup;

// Hostile numbers (NaN, infinities, magnitudes beyond any layer, a zero
// downsample denominator) are let in: the analysis must survive them. The
// reference comparison and the box invariants hold only for finite,
// layer-sized values, so they are checked only when
// -DVANTREL_FUZZ_HOSTILE_VALUES=0 keeps such values out for one build.
#ifdef VANTREL_FUZZ_HOSTILE_VALUES
constexpr bool kHostileValues = VANTREL_FUZZ_HOSTILE_VALUES;
#else
constexpr bool kHostileValues = true;
#endif

constexpr std::size_t kMaxOutlines = 64;
constexpr std::size_t kMaxVertices = 12;

double Coordinate(vantrel::fuzz::ByteReader& in) {
  // Quarter pixels within +-8192: glyph outlines of any sensible layer.
  return kHostileValues ? in.RawDouble() : in.Fixed(4);
}

[[noreturn]] void Fault(const char* what) {
  std::fprintf(stderr, "text analysis fault: %s\n", what);
  std::abort();
}

bool SameBits(const Piece& a, const Piece& b) {
  // Exact comparison; NaN boxes (hostile mode only) compare by position alone.
  auto same = [](double x, double y) { return x == y || (x != x && y != y); };
  return same(a.left, b.left) && same(a.right, b.right) && same(a.top, b.top) &&
         same(a.bottom, b.bottom) && a.line == b.line && a.index == b.index &&
         a.tracking_offset == b.tracking_offset;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  vantrel::fuzz::ByteReader in(data, size);

  // Settings.
  const uint8_t flags = in.U8();
  const bool word_mode = (flags & 1) != 0;
  const bool evaluate_tangents = (flags & 2) != 0;
  const double threshold = kHostileValues ? in.RawDouble() : in.Fixed(16);
  PF_RationalScale dsx{static_cast<A_long>(in.U8() % 9), static_cast<A_u_long>(in.U8() % 9)};
  PF_RationalScale dsy{static_cast<A_long>(in.U8() % 9), static_cast<A_u_long>(in.U8() % 9)};
  if (!kHostileValues) {
    dsx.num = std::max<A_long>(dsx.num, 1);
    dsx.den = std::max<A_u_long>(dsx.den, 1);
    dsy.num = std::max<A_long>(dsy.num, 1);
    dsy.den = std::max<A_u_long>(dsy.den, 1);
  }
  vantrel::PercentRange percent{in.U8() % 101 * 1.0, in.U8() % 101 * 1.0};
  if (kHostileValues && (flags & 4) != 0) percent = {in.RawDouble(), in.RawDouble()};
  const int32_t order_mode = in.U8() % 6;
  const int32_t seed = in.I32();
  const double delay_time = in.Fixed(4);
  const int32_t current_time = in.I32() % 1000000;

  // Outlines.
  const std::size_t outline_count = in.U8() % (kMaxOutlines + 1);
  std::vector<VertexList> outlines(outline_count);
  for (VertexList& vertices : outlines) {
    const std::size_t n = in.U8() % (kMaxVertices + 1);
    for (std::size_t v = 0; v < n; ++v) {
      PF_PathVertex vertex{};
      vertex.x = Coordinate(in);
      vertex.y = Coordinate(in);
      vertex.tan_in_x = Coordinate(in);
      vertex.tan_in_y = Coordinate(in);
      vertex.tan_out_x = Coordinate(in);
      vertex.tan_out_y = Coordinate(in);
      vertices.push_back(vertex);
    }
  }

  // Boxes, one zeroed record per outline.
  std::vector<Piece> boxes(outline_count);
  for (std::size_t i = 0; i < outline_count; ++i) {
    vantrel::BoxOfVertices(outlines[i], evaluate_tangents, boxes[i]);
    const Piece& b = boxes[i];
    if (!kHostileValues && !(b.left <= b.right && b.top <= b.bottom)) Fault("inverted box");
  }

  // Grouping, and the reference over the same boxes.
  const double fx = vantrel::DownsampleFactor(dsx);
  const double fy = vantrel::DownsampleFactor(dsy);
  std::vector<Piece> pieces = boxes;
  vantrel::GroupPieces(pieces, threshold, word_mode, fx, fy);
  std::vector<Piece> reference = boxes;
  ReferenceGroup(reference, threshold, word_mode, fx, fy);
  if (pieces.size() != reference.size()) Fault("piece count differs from the reference");
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (!SameBits(pieces[i], reference[i])) Fault("piece differs from the reference");
  }
  if (pieces.size() > outline_count) Fault("more pieces than outlines");
  if (outline_count > 0 && pieces.empty()) Fault("outlines gave no piece");
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].index != static_cast<int32_t>(i)) Fault("index is not the position");
    if (i == 0 ? pieces[i].line != 0
               : pieces[i].line < pieces[i - 1].line || pieces[i].line > pieces[i - 1].line + 1) {
      Fault("line numbers do not start at 0 and go up by at most one");
    }
  }
  if (!kHostileValues) {
    // Merges only grow boxes, and the scale is positive: every outline box,
    // scaled, lies in the piece it went into.
    for (const Piece& b : boxes) {
      const bool covered = std::any_of(pieces.begin(), pieces.end(), [&](const Piece& p) {
        return b.left * fx >= p.left && b.right * fx <= p.right && b.top * fy >= p.top &&
               b.bottom * fy <= p.bottom;
      });
      if (!covered) Fault("an outline lies in no piece");
    }
  }

  // The delayed range, its order and the time of every position.
  const int32_t count = static_cast<int32_t>(pieces.size());
  const PieceRange range = vantrel::SelectRange(vantrel::ApplyRangeRule(percent), count);
  if (!kHostileValues && !(0 <= range.first && range.first <= range.end && range.end <= count)) {
    Fault("range outside the list");
  }
  if (0 <= range.first && range.first <= range.end && range.end <= count) {
    std::vector<Piece> ordered(pieces.begin() + range.first, pieces.begin() + range.end);
    vantrel::OrderPieces(ordered, order_mode, range.end - range.first, seed);
    std::vector<int32_t> before, after;
    for (int32_t p = range.first; p < range.end; ++p) before.push_back(pieces[p].index);
    for (const Piece& p : ordered) after.push_back(p.index);
    std::sort(after.begin(), after.end());
    if (before != after) Fault("ordering is not a permutation of the range");
    std::copy(ordered.begin(), ordered.end(), pieces.begin() + range.first);

    int32_t t = current_time;
    for (int32_t p = 0; p < count; ++p) {
      t = vantrel::PieceTime(p, pieces[p], range, t, current_time, delay_time);
      const bool delayed = p > range.first && p < range.end;
      if (!delayed && t != current_time) Fault("an undelayed piece is not at the current time");
    }
  }
  return 0;
}
