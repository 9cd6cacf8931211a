// The pieces view: what the host sees of the effect's cut of a frame.
#include "vantrel/cli/pieces.h"

#include <gtest/gtest.h>

#include <cmath>

#include "test_support.h"
#include "vantrel/cli/scene_file.h"

namespace vantrel::cli {
namespace {

PiecesView View(const std::string& effect_json, int frame = 10) {
  const std::string text = R"j({
    "composition": {"width": 640, "height": 240, "fps": 30, "duration": 20},
    "layer": {"text": "Hello world", "size": 48, "align": "left", "origin": [40, 140],
              "position": {"keys": [{"frame": 0, "value": [420, 120]},
                                    {"frame": 20, "value": [320, 120]}]}},
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

TEST(PiecesView, TheTableListsEveryPiece) {
  const PiecesView view = View(R"j({})j");
  const std::string table = FormatPieces(view, 10);
  EXPECT_NE(table.find("10 pieces at frame 10"), std::string::npos) << table;
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 12) << table;
}

}  // namespace
}  // namespace vantrel::cli
