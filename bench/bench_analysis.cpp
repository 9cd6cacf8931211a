// The text analysis alone: the box of every outline's vertex list and the
// grouping passes, over synthetic outlines laid out like lines of text.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <vector>

#include "text/text.h"

namespace {

using vantrel::Piece;
using vantrel::VertexList;

// A closed contour of eight vertices around a box, with tangents that bulge a
// little outside the box as a glyph's curves do.
VertexList Contour(double left, double top, double right, double bottom) {
  const double cx = (left + right) / 2, cy = (top + bottom) / 2;
  const double bx = (right - left) * 0.05, by = (bottom - top) * 0.05;
  const double xs[8] = {left, cx, right, right, right, cx, left, left};
  const double ys[8] = {top, top, top, cy, bottom, bottom, bottom, cy};
  VertexList v;
  for (int i = 0; i < 8; ++i) {
    const double ox = xs[i] == left ? -bx : xs[i] == right ? bx : 0;
    const double oy = ys[i] == top ? -by : ys[i] == bottom ? by : 0;
    v.push_back(
        PF_PathVertex{xs[i], ys[i], xs[i] + ox - by, ys[i] + oy, xs[i] + ox + by, ys[i] + oy});
  }
  return v;
}

// `count` outlines in host order: characters of 30x44 on lines of 56
// characters with a word gap every 6, a line every 60 px. Every 4th character
// has a counter (a contour inside it) and every 9th a dot above its stem (the
// dot's contour first), so the containment and stacking passes merge.
std::vector<VertexList> TextLikeOutlines(std::size_t count) {
  std::vector<VertexList> outlines;
  outlines.reserve(count);
  for (std::size_t c = 0; outlines.size() < count; ++c) {
    const std::size_t column = c % 56, line = c / 56;
    const double left = 10 + column * 34.0 + (column / 6) * 14.0;
    const double top = 20 + line * 60.0;
    if (c % 9 == 4) {
      outlines.push_back(Contour(left + 10, top - 10, left + 20, top - 2));
      if (outlines.size() == count) break;
      outlines.push_back(Contour(left + 10, top + 4, left + 20, top + 44));
    } else {
      outlines.push_back(Contour(left, top, left + 30, top + 44));
      if (c % 4 == 1 && outlines.size() < count) {
        outlines.push_back(Contour(left + 8, top + 10, left + 22, top + 34));
      }
    }
  }
  return outlines;
}

void BM_TextAnalysis(benchmark::State& state) {
  const auto outlines = TextLikeOutlines(static_cast<std::size_t>(state.range(0)));
  std::vector<Piece> pieces;
  std::size_t found = 0;
  for (auto _ : state) {
    pieces.assign(outlines.size(), Piece{});
    for (std::size_t i = 0; i < outlines.size(); ++i) {
      vantrel::BoxOfVertices(outlines[i], /*evaluate_tangents=*/true, pieces[i]);
    }
    vantrel::GroupPieces(pieces, /*threshold=*/1.0, /*word_mode=*/false, 1.0, 1.0);
    found = pieces.size();
    benchmark::DoNotOptimize(pieces.data());
  }
  state.counters["pieces"] = static_cast<double>(found);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TextAnalysis)
    ->ArgName("outlines")
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond);

// The grouping passes alone, on boxes computed beforehand.
void BM_TextGrouping(benchmark::State& state) {
  const auto outlines = TextLikeOutlines(static_cast<std::size_t>(state.range(0)));
  std::vector<Piece> boxes(outlines.size());
  for (std::size_t i = 0; i < outlines.size(); ++i) {
    vantrel::BoxOfVertices(outlines[i], /*evaluate_tangents=*/true, boxes[i]);
  }
  std::vector<Piece> pieces;
  for (auto _ : state) {
    pieces = boxes;
    vantrel::GroupPieces(pieces, /*threshold=*/1.0, /*word_mode=*/false, 1.0, 1.0);
    benchmark::DoNotOptimize(pieces.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TextGrouping)
    ->ArgName("outlines")
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
