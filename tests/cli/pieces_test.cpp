// The pieces view: what the host sees of the effect's cut of a frame.
#include "vantrel/cli/pieces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "test_support.h"
#include "vantrel/cli/scene_file.h"
#include "vantrel/host/scene_layers.h"

namespace vantrel::cli {
namespace {

constexpr const char* kMovingLeft = R"j("origin": [40, 140], "position": {"keys": [
    {"frame": 0, "value": [420, 120]}, {"frame": 20, "value": [320, 120]}]})j";

// "Hello world" placed and moved by `layer_keys`.
PiecesView View(const std::string& effect_json, int frame = 10,
                const std::string& layer_keys = kMovingLeft) {
  const std::string text = R"j({
    "composition": {"width": 640, "height": 240, "fps": 30, "duration": 20},
    "layer": {"text": "Hello world", "size": 48, "align": "left", )j" +
                           layer_keys + R"j(},
    "effect": )j" + effect_json +
                           "}";
  static const auto module = host::LoadedModule::Load(VANTREL_MODULE_PATH);
  const SceneFile file = ParseSceneText(text, "pieces.json", testing::ModuleControls());
  return ObservePieces(*module, file.scene, frame, host::Resolution::kFull);
}

TEST(PiecesView, CharactersAreCutInReadingOrderAndDelayedStepByStep) {
  const PiecesView view = View(R"j({"Delay (frames)": 1.5})j");
  ASSERT_EQ(view.result, PF_Err_NONE);
  EXPECT_TRUE(view.violations.empty());
  // "Hello world": ten letters, the space draws nothing.
  ASSERT_EQ(view.pieces.size(), 10u);
  for (std::size_t k = 1; k < view.pieces.size(); ++k) {
    EXPECT_GT(view.pieces[k].box.left, view.pieces[k - 1].box.left) << k;
  }
  // Each step of 150 units is truncated on its own: 1000, 850, 700, ...
  for (std::size_t k = 0; k < view.pieces.size(); ++k) {
    EXPECT_DOUBLE_EQ(view.pieces[k].frame, 10 - 1.5 * static_cast<double>(k)) << k;
    EXPECT_EQ(view.pieces[k].opacity, 254);
    EXPECT_EQ(view.pieces[k].matrices, 1);
  }
}

TEST(PiecesView, WordModeReverseOrderAndMotionBlurShowInWhatTheModuleAsks) {
  const PiecesView view = View(
      R"j({"Separation Mode": "Word", "Separation Threshold": 12, "Order Modifier": "Reverse",
          "Enable Motion Blur": true})j");
  ASSERT_EQ(view.pieces.size(), 2u);
  // Reversed: "world" is composited first, at the current time.
  EXPECT_GT(view.pieces[0].box.left, view.pieces[1].box.left);
  EXPECT_DOUBLE_EQ(view.pieces[0].frame, 10);
  EXPECT_DOUBLE_EQ(view.pieces[1].frame, 9);
  EXPECT_EQ(view.pieces[0].matrices, 2);
  const Raster boxes = DrawPieceBoxes(view);
  EXPECT_EQ(boxes.width, 640);
  // The first box's top edge is drawn in the first colour.
  const auto* edge = boxes.At(view.pieces[0].box.left + 2, view.pieces[0].box.top);
  EXPECT_EQ(edge[0], 255);
  EXPECT_EQ(edge[1], 80);
}

// Each script as a designer types it, cut by the real module at frame 19 of
// a still layer: pieces come in delay order, which is reading order, so the
// step from each piece to the next says how the line reads on screen
// ('>' the next piece starts to the right, '<' to the left).
TEST(PiecesView, EveryScriptIsCutInReadingOrderWithInkInEachPiece) {
  struct Script {
    const char* name;
    const char* text;
    std::size_t pieces;
    const char* steps;
    const char* fallback;  // part of the font file used for what DejaVu Sans lacks
    int kerned = -1;       // a piece that the next one overlaps: a kerned pair
  };
  const Script scripts[] = {
      // "ffi" is one ligature glyph, one piece; kerning tucks V under both A's.
      {"LatinLigatureAndKerning", "office AVA", 7, ">>>>>>", "", 4},
      // A right-to-left line: the number reads left to right inside it, and
      // the brackets are mirrored around it, logical "(" standing right of it.
      {"HebrewWithDigitsAndBrackets", "שלום (123)", 9, "<<<<<>><", ""},
      // Joined letters, each with its dots, read right to left.
      {"Arabic", "مرحبا بك", 7, "<<<<<<", ""},
      // Conjuncts and vowel signs shaped into clusters, in a font that has them.
      {"Devanagari", "नमस्ते", 4, ">>>", "FreeSans"},
      // Chinese in a Latin primary font: the CJK run comes from a CJK face;
      // the "i" keeps its dot apart at this size, and each character splits
      // into its separate components.
      {"ChineseAfterLatin", "Hi 你好", 8, "><>>>>>", "wqy-microhei"},
  };
  static const auto module = host::LoadedModule::Load(VANTREL_MODULE_PATH);
  for (const Script& s : scripts) {
    SCOPED_TRACE(s.name);
    const std::string json = std::string(R"j({
      "composition": {"width": 800, "height": 200, "duration": 20},
      "layer": {"text": ")j") +
                             s.text +
                             R"j(", "font": "DejaVu Sans", "size": 64, "origin": [40, 130]}})j";
    const SceneFile file = ParseSceneText(json, "scripts.json", testing::ModuleControls());
    const host::TextLayer layer(file.scene.layer, file.scene.comp);
    EXPECT_TRUE(layer.layout().MissingCharacters().empty());
    const auto& fallbacks = layer.layout().FallbackFonts();
    if (*s.fallback == '\0') {
      EXPECT_TRUE(fallbacks.empty());
    } else {
      ASSERT_EQ(fallbacks.size(), 1u);
      EXPECT_NE(fallbacks[0].filename().string().find(s.fallback), std::string::npos)
          << fallbacks[0];
    }

    const PiecesView view = ObservePieces(*module, file.scene, 19, host::Resolution::kFull);
    ASSERT_EQ(view.result, PF_Err_NONE);
    ASSERT_EQ(view.pieces.size(), s.pieces);
    std::string steps;
    for (std::size_t k = 1; k < view.pieces.size(); ++k) {
      steps += view.pieces[k].box.left > view.pieces[k - 1].box.left ? '>' : '<';
    }
    EXPECT_EQ(steps, s.steps);
    if (s.kerned >= 0) {
      const auto k = static_cast<std::size_t>(s.kerned);
      EXPECT_LT(view.pieces[k + 1].box.left, view.pieces[k].box.right);
    }
    for (std::size_t k = 0; k < view.pieces.size(); ++k) {
      const PF_Rect& box = view.pieces[k].box;
      int ink = 0;
      for (int y = std::max(0, box.top); y < std::min(box.bottom, view.layer.height); ++y) {
        for (int x = std::max(0, box.left); x < std::min(box.right, view.layer.width); ++x) {
          ink = std::max<int>(ink, view.layer.At(x, y)[3]);
        }
      }
      EXPECT_GT(ink, 128) << "piece " << k << " is empty";
    }
  }
}

TEST(PiecesView, TheTableListsEveryPiece) {
  const PiecesView view = View(R"j({})j");
  const std::string table = FormatPieces(view, 10);
  EXPECT_NE(table.find("10 pieces at frame 10"), std::string::npos) << table;
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 12) << table;
}

// A skipped piece has its transform sampled but makes no composite: every
// position keeps its own time, and the composites land on the right ones.
TEST(PiecesView, SkippedPiecesKeepTheirPlaceAndTime) {
  const std::string dip = std::string(kMovingLeft) + R"j(, "scale": {"keys": [
      {"frame": 0, "value": 100}, {"frame": 8, "value": 0}, {"frame": 16, "value": 100}]})j";
  const std::string far_right = R"j("origin": [1150, 140], "position": {"keys": [
      {"frame": 0, "value": [420, 120]}, {"frame": 20, "value": [320, 200]}]})j";
  const std::string far_still = R"j("origin": [1150, 140], "position": [400, 120])j";
  const std::string blur = R"j({"Delay (frames)": 0.5, "Enable Motion Blur": true})j";
  const std::string reverse = R"j({"Delay (frames)": 1, "Order Modifier": "Reverse")j";
  const std::string tracking = R"j(, "Tracking Amount": 5})j";
  struct Case {
    const char* name;
    std::string layer_keys, effect;
    double delay;
    std::vector<std::size_t> skipped;
    bool dips;  // Scale 100, 0 and 100 at frames 0, 8 and 16 (else 100 throughout)
    bool in_doubt;
  } cases[] = {
      // Scale 25 now, 0 at position 4's time, growing again before it.
      {"scale dips to 0", dip, blur, 0.5, {4}, true, false},
      // Reversed, the letters beyond twice the layer's width come first.
      {"boxes far outside", far_right, reverse + "}", 1, {0, 1, 2, 3, 4}, false, false},
      {"with tracking", far_right, reverse + tracking, 1, {0, 1, 2, 3, 4}, false, false},
      // Nothing but the time tells these positions apart: shown as a guess.
      {"alike transforms", far_still, reverse + "}", 1, {5, 6, 7, 8, 9}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PiecesView view = View(c.effect, 10, c.layer_keys);
    ASSERT_EQ(view.result, PF_Err_NONE);
    ASSERT_EQ(view.pieces.size(), 10u);
    EXPECT_FALSE(view.unmatched);
    EXPECT_EQ(view.in_doubt.empty(), !c.in_doubt);
    std::vector<std::size_t> skipped;
    for (std::size_t k = 0; k < view.pieces.size(); ++k) {
      const ObservedPiece& p = view.pieces[k];
      EXPECT_DOUBLE_EQ(p.frame, 10 - c.delay * static_cast<double>(k)) << k;
      if (p.skipped) {
        skipped.push_back(k);
      } else {
        // The Scale at the piece's time against the current 25.
        EXPECT_NEAR(p.matrix.mat[0][0], c.dips ? std::abs(8 - p.frame) / 2 : 1, 1e-9) << k;
      }
    }
    EXPECT_EQ(skipped, c.skipped);
    const std::string table = FormatPieces(view, 10);
    EXPECT_NE(table.find(std::to_string(c.skipped.size()) + " skipped\n"), std::string::npos);
    EXPECT_NE(table.find("    " + std::to_string(c.skipped[0]) + "  skipped "), std::string::npos)
        << table;
  }
}

}  // namespace
}  // namespace vantrel::cli
