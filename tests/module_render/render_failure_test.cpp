// The render's failure paths: failing stream fetches, missing suites and
// exceptions, each of which must give every suite and host object back.
#include <gtest/gtest.h>

#include <cctype>
#include <stdexcept>
#include <string>

#include "params/params.h"
#include "recording_host.h"

namespace vantrel::render_test {
namespace {

std::vector<PF_Rect> Row(int n) {
  std::vector<PF_Rect> row;
  for (int k = 0; k < n; ++k) row.push_back({10 + 20 * k, 20, 22 + 20 * k, 50});
  return row;
}

TEST(RenderStreamFailure, PieceFetchFailureStopsFetchingButNotCompositing) {
  RecordingHost host;
  host.outlines = Row(3);
  // Fetches: 3 at the current time, then 4 per piece; 11 is piece 1's opacity.
  host.fail_stream_call = 11;
  host.fail_stream_err = 9;
  EXPECT_EQ(host.RenderNow(), 9);
  EXPECT_EQ(host.fetches.size(), 11u);
  ASSERT_EQ(host.transforms.size(), 3u) << "the pass runs to the end";
  // Pieces 1 and 2 use the last opacity fetched, piece 0's.
  EXPECT_EQ(host.transforms[2].mode.opacity, 254);
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderStreamFailure, CurrentTimeFailureSkipsEveryLaterFetch) {
  RecordingHost host;
  host.outlines = Row(3);
  host.fail_stream_call = 2;  // Scale at the current time
  host.fail_stream_err = 5;
  host.SetCheckbox(kParamMotionBlurEnable, true);
  EXPECT_EQ(host.RenderNow(), 5);
  EXPECT_EQ(host.fetches.size(), 2u);
  EXPECT_EQ(host.CountInLog("AEGP_DisposeTextOutlines"), 1);
  // Without a Scale no piece has a usable scale ratio: nothing is drawn.
  EXPECT_TRUE(host.transforms.empty());
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderStreamFailure, MotionBlurFetchFailureIsReturned) {
  RecordingHost host;
  host.outlines = Row(2);
  host.SetCheckbox(kParamMotionBlurEnable, true);
  host.fail_stream_call = 3 + 2 * 4 + 2;  // Scale at the first blur sample time
  EXPECT_EQ(host.RenderNow(), 9);
  EXPECT_EQ(host.fetches.size(), 13u);
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderSkippedPieces, AWorldThatCannotBeMadeSkipsOnlyItsPiece) {
  RecordingHost host;
  host.outlines = Row(3);
  host.fail_world_new = 2;
  EXPECT_EQ(host.RenderNow(), PF_Err_NONE);
  ASSERT_EQ(host.copies.size(), 2u);
  EXPECT_EQ(host.copies[1].src_rect.left, 50);
  EXPECT_EQ(host.transforms.size(), 2u);
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderSkippedPieces, AZeroScaleAtThePieceTimeSkipsThatPiece) {
  RecordingHost host;
  host.outlines = Row(3);
  host.scale = [](A_long t) { return t == 999 ? Vec2{0, 100} : Vec2{100, 100}; };
  EXPECT_EQ(host.RenderNow(), PF_Err_NONE);
  EXPECT_EQ(host.CountInLog("AEGP_New"), 2);
  ASSERT_EQ(host.copies.size(), 2u);
  EXPECT_EQ(host.copies[1].src_rect.left, 50);
  EXPECT_TRUE(host.Balanced());
}

// Every suite that the render uses, refused in turn, with every feature on so
// that each one is reached.
class RenderMissingSuite : public ::testing::TestWithParam<std::string> {};

TEST_P(RenderMissingSuite, Throws516AndGivesEverythingBack) {
  RecordingHost host;
  host.outlines = Row(3);
  host.SetCheckbox(kParamMotionBlurEnable, true);
  host.SetCheckbox(kParamRangeGuide, true);
  host.SetCheckbox(kParamSeparationGuide, true);
  host.refused_suites.insert(GetParam());
  PF_Err thrown = PF_Err_NONE;
  try {
    host.RenderNow();
  } catch (PF_Err err) {
    thrown = err;
  }
  EXPECT_EQ(thrown, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(host.Balanced());
}

INSTANTIATE_TEST_SUITE_P(EverySuite, RenderMissingSuite,
                         ::testing::Values("AEGP PF Interface Suite/1", "AEGP Layer Suite/11",
                                           "AEGP Text Layer Suite/1", "AEGP Stream Suite/9",
                                           "AEGP Stream Suite/8", "AEGP Effect Suite/3",
                                           "AEGP World Suite/3", "PF World Transform Suite/1",
                                           "AEGP Iterate Suite/1", "PF Path Data Suite/1"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name;
                           for (char c : info.param)
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

TEST(RenderMissingSuite, NoBasicSuiteThrows516) {
  RecordingHost host;
  host.outlines = Row(1);
  host.in_data.pica_basicP = nullptr;
  EXPECT_THROW(host.RenderNow(), PF_Err);
}

TEST(RenderException, ThrownFromTheHostMidLoopStillDisposesEverything) {
  RecordingHost host;
  host.outlines = Row(3);
  host.SetCheckbox(kParamRangeGuide, true);
  host.on_transform_world = [&host] {
    if (host.transforms.size() == 2) throw std::runtime_error("host gave up");
  };
  EXPECT_THROW(host.RenderNow(), std::runtime_error);
  EXPECT_EQ(host.CountInLog("AEGP_New"), 2);
  EXPECT_EQ(host.CountInLog("AEGP_Dispose"), 2);
  EXPECT_EQ(host.CountInLog("AEGP_DisposeEffect"), 1);
  EXPECT_EQ(host.CountInLog("AEGP_DisposeStream"), 1);
  EXPECT_LT(host.IndexInLog("AEGP_DisposeEffect"), host.IndexInLog("AEGP_DisposeStream"));
  EXPECT_TRUE(host.Balanced());
}

}  // namespace
}  // namespace vantrel::render_test
