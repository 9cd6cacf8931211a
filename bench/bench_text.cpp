// The host's text layer on its own: laying out 1,000 glyphs at 72 px, and
// drawing them into the layer image, the first time (every contour
// rasterised) and on a later frame of the same text (the cached coverage
// painted), which is what the host pays per frame while scrubbing.
#include <benchmark/benchmark.h>

#include <string>

#include "vantrel/host/imaging.h"
#include "vantrel/host/text_layout.h"

namespace {

using vantrel::host::Image;
using vantrel::host::TextLayout;
using vantrel::host::TextStyle;

constexpr int kGlyphs = 1000;
constexpr int kPerLine = 40;
// 25 lines of 40 glyphs at 72 px and a leading of 86 px fill a layer of
// 1920 x 2160 (two 1080p frames one above the other).
constexpr int kLayerWidth = 1920;
constexpr int kLayerHeight = 2160;

// Running text: words of mixed case separated by spaces, `glyphs` glyphs that
// have contours (the spaces come on top).
std::string RunningText(int glyphs) {
  static const char* const kWords[] = {"Motion", "design", "delays", "every", "glyph",
                                       "Quartz", "jumps",  "over",   "blank", "waves"};
  std::string text;
  int on_line = 0, word = 0;
  while (glyphs > 0) {
    std::string w = kWords[word++ % 10];
    if (static_cast<int>(w.size()) > glyphs) w.resize(static_cast<std::size_t>(glyphs));
    if (on_line + static_cast<int>(w.size()) > kPerLine) {
      text += '\n';
      on_line = 0;
    } else if (on_line > 0) {
      text += ' ';
    }
    text += w;
    on_line += static_cast<int>(w.size()) + 1;
    glyphs -= static_cast<int>(w.size());
  }
  return text;
}

TextStyle Style72() {
  TextStyle style;
  style.size_px = 72;
  style.leading = 86;
  return style;
}

void BM_TextLayout(benchmark::State& state) {
  const std::string text = RunningText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TextLayout layout = TextLayout::Create(text, Style72(), 20, 70);
    benchmark::DoNotOptimize(layout.Outlines().data());
  }
}
BENCHMARK(BM_TextLayout)->ArgName("glyphs")->Arg(kGlyphs)->Unit(benchmark::kMillisecond);

// Lines of four scripts in a Latin font: bidirectional runs, Arabic joining,
// Devanagari clusters and Chinese from a fallback face (the faces found
// once per process; each layout opens them again).
void BM_TextLayoutMixedScripts(benchmark::State& state) {
  std::string text;
  for (int line = 0; line < 25; ++line) {
    text +=
        "Motion \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D (2026) "    // Hebrew
        "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7 "          // Arabic
        "\xE4\xBD\xA0\xE5\xA5\xBD\xE4\xB8\x96\xE7\x95\x8C "  // Chinese
        "\xE0\xA4\xA8\xE0\xA4\xAE\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA5\x87\n";
  }
  for (auto _ : state) {
    TextLayout layout = TextLayout::Create(text, Style72(), 20, 70);
    benchmark::DoNotOptimize(layout.Outlines().data());
    state.counters["glyphs"] = static_cast<double>(layout.Glyphs().size());
  }
}
BENCHMARK(BM_TextLayoutMixedScripts)->Unit(benchmark::kMillisecond);

// Every contour flattened and accumulated, then painted into the layer.
void BM_TextRasterizeFirst(benchmark::State& state) {
  const TextLayout layout =
      TextLayout::Create(RunningText(static_cast<int>(state.range(0))), Style72(), 20, 70);
  Image layer(kLayerWidth, kLayerHeight);
  PF_EffectWorld world = layer.AsWorld();
  for (auto _ : state) {
    vantrel::host::RasterizeOutlines(layout.Outlines(), layout.style().fill, world, {1, 1}, {1, 1});
    benchmark::DoNotOptimize(layer.data());
  }
  state.counters["glyphs"] = static_cast<double>(layout.Glyphs().size());
}
BENCHMARK(BM_TextRasterizeFirst)->ArgName("glyphs")->Arg(kGlyphs)->Unit(benchmark::kMillisecond);

// A later frame of the same text: TextLayout::Rasterize reuses what the
// first frame rasterised.
void BM_TextRasterizeNextFrame(benchmark::State& state) {
  const TextLayout layout =
      TextLayout::Create(RunningText(static_cast<int>(state.range(0))), Style72(), 20, 70);
  Image layer(kLayerWidth, kLayerHeight);
  PF_EffectWorld world = layer.AsWorld();
  layout.Rasterize(world, {1, 1}, {1, 1});
  for (auto _ : state) {
    layout.Rasterize(world, {1, 1}, {1, 1});
    benchmark::DoNotOptimize(layer.data());
  }
}
BENCHMARK(BM_TextRasterizeNextFrame)
    ->ArgName("glyphs")
    ->Arg(kGlyphs)
    ->Unit(benchmark::kMillisecond);

}  // namespace
