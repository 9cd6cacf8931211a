// The render pass from end to end against the recording host: what it asks
// the host, at which times, and what it hands to transform_world.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "params/params.h"
#include "recording_host.h"
#include "render/guides.h"
#include "row_vector.h"

namespace vantrel::render_test {
namespace {

// n glyph boxes on one line, 12 px wide, 20 px apart, starting at x = 10.
std::vector<PF_Rect> Row(int n, int top = 20, int bottom = 50) {
  std::vector<PF_Rect> row;
  for (int k = 0; k < n; ++k) row.push_back({10 + 20 * k, top, 22 + 20 * k, bottom});
  return row;
}

std::vector<PF_Rect> TwoLines(int first, int second) {
  std::vector<PF_Rect> rects = Row(first);
  for (const PF_Rect& r : Row(second, 60, 90)) rects.push_back(r);
  return rects;
}

using testing::Apply;
using testing::Point;

std::vector<A_long> Times(const std::vector<StreamFetch>& fetches) {
  std::vector<A_long> times;
  for (const StreamFetch& f : fetches) times.push_back(f.time);
  return times;
}

std::vector<std::string> Names(const std::vector<StreamFetch>& fetches) {
  std::vector<std::string> names;
  for (const StreamFetch& f : fetches) names.push_back(f.what);
  return names;
}

using Strings = std::vector<std::string>;
using Longs = std::vector<A_long>;

TEST(RenderLayerCheck, NonTextLayerLeavesOutputUntouchedAndReturnsTheQueryResult) {
  RecordingHost host;
  host.object_type = AEGP_ObjectType_AV;
  host.outlines = Row(3);
  for (PF_Pixel& p : host.output_pixels) p = {1, 2, 3, 4};
  EXPECT_EQ(host.RenderNow(), PF_Err_NONE);
  for (const PF_Pixel& p : host.output_pixels) ASSERT_EQ(p.alpha + p.red + p.blue, 1 + 2 + 4);
  EXPECT_TRUE(host.fills.empty());
  EXPECT_TRUE(host.fetches.empty());
  EXPECT_EQ(host.acquired.size(), 2u) << "only the PF Interface and Layer suites";
  EXPECT_TRUE(host.Balanced());

  RecordingHost failing;
  failing.object_type_err = 7;  // a text layer, but the query failed
  failing.outlines = Row(3);
  EXPECT_EQ(failing.RenderNow(), 7);
  EXPECT_TRUE(failing.fills.empty());
  EXPECT_TRUE(failing.Balanced());
}

TEST(RenderLayerCheck, EmptyTextGivesTransparentOutput) {
  RecordingHost host;
  for (PF_Pixel& p : host.output_pixels) p = {1, 2, 3, 4};
  EXPECT_EQ(host.RenderNow(), PF_Err_NONE);
  ASSERT_EQ(host.fills.size(), 1u);
  EXPECT_EQ(host.fills[0].world, &host.output);
  EXPECT_FALSE(host.fills[0].has_color);
  EXPECT_FALSE(host.fills[0].has_rect);
  for (const PF_Pixel& p : host.output_pixels) ASSERT_EQ(p.alpha, 0);
  EXPECT_TRUE(host.fetches.empty());
  EXPECT_EQ(host.CountInLog("AEGP_DisposeTextOutlines"), 1);
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderPass, StaticLayerPutsEachPieceBackInPlace) {
  RecordingHost host;
  host.outlines = Row(3);
  EXPECT_EQ(host.RenderNow(), PF_Err_NONE);
  ASSERT_EQ(host.transforms.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    const TransformCall& call = host.transforms[k];
    EXPECT_EQ(call.num_matrices, 1);
    ASSERT_EQ(call.matrices.size(), 1u);
    const double expected[3][3] = {{1, 0, 0}, {0, 1, 0}, {10.0 + 20 * k, 20, 1}};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) EXPECT_EQ(call.matrices[0].mat[r][c], expected[r][c]);
    }
    EXPECT_EQ(call.mode.xfer, PF_Xfer_IN_FRONT);
    EXPECT_EQ(call.mode.opacity, 254);
    EXPECT_EQ(call.mode.rgb_only, 0);
    EXPECT_EQ(call.mode_flags, PF_MF_Alpha_STRAIGHT);
    EXPECT_EQ(call.quality, host.in_data.quality);
    EXPECT_EQ(call.field, host.in_data.field);
    EXPECT_TRUE(call.mask_is_null);
    EXPECT_EQ(call.src2dst, 1);
    EXPECT_EQ(call.dest_rect, &host.output.extent_hint);
    EXPECT_EQ(call.dst, &host.output);
    // The temporary world holds the input's pixels of the box.
    ASSERT_EQ(call.source.width, 12);
    ASSERT_EQ(call.source.height, 30);
    const PF_Pixel& corner = call.source.at(11, 29);
    EXPECT_EQ(corner.red, 10 + 20 * k + 11);
    EXPECT_EQ(corner.green, 20 + 29);
    EXPECT_EQ(corner.alpha, static_cast<A_u_char>(10 + 20 * k + 11 + 49));

    const CopyCall& copy = host.copies[k];
    EXPECT_EQ(copy.src, &host.param_defs[0].u.ld);
    EXPECT_EQ(copy.src_rect.left, 10 + 20 * k);
    EXPECT_EQ(copy.src_rect.top, 20);
    EXPECT_EQ(copy.src_rect.right, 22 + 20 * k);
    EXPECT_EQ(copy.src_rect.bottom, 50);
    EXPECT_TRUE(copy.dst_rect_is_null);
  }
  EXPECT_EQ(host.CountInLog("AEGP_New"), 3);
  EXPECT_EQ(host.effect_stream_indices, (std::vector<PF_ParamIndex>{kParamOpacity}));
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderPass, HostObjectsAreGivenBackInOrder) {
  RecordingHost host;
  host.outlines = Row(2);
  host.RenderNow();
  const int outlines_gone = host.IndexInLog("AEGP_DisposeTextOutlines");
  const int effect_gone = host.IndexInLog("AEGP_DisposeEffect");
  const int stream_gone = host.IndexInLog("AEGP_DisposeStream");
  EXPECT_LT(outlines_gone, host.IndexInLog("AEGP_New"));
  EXPECT_LT(host.IndexInLog("transform_world", 1), effect_gone);
  EXPECT_LT(effect_gone, stream_gone);
  // Every world is disposed before the next one is made.
  EXPECT_LT(host.IndexInLog("AEGP_Dispose"), host.IndexInLog("AEGP_New", 1));
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderPass, StreamsAreReadAtTheCurrentTimeOnceThenAtEachPieceTime) {
  for (const A_long time_step : {1, 100}) {
    RecordingHost host;
    host.outlines = Row(4);
    host.in_data.time_step = time_step;
    host.SetSlider(kParamDelayFrames, 2.5);
    EXPECT_EQ(host.RenderNow(), PF_Err_NONE);
    ASSERT_EQ(host.outline_times.size(), 1u);
    EXPECT_EQ(host.outline_times[0].value, 1000);
    EXPECT_EQ(host.outline_times[0].scale, 30u);

    const Strings piece_order = {"position", "anchor", "scale", "opacity"};
    Strings expected_order = {"position", "scale", "anchor"};
    for (int k = 0; k < 4; ++k) {
      expected_order.insert(expected_order.end(), piece_order.begin(), piece_order.end());
    }
    EXPECT_EQ(Names(host.fetches), expected_order);
    // 2.5 frames: 1000, 997, 994, 991 (each step truncated on its own).
    const Longs piece_times =
        time_step == 1 ? Longs{1000, 997, 994, 991} : Longs{1000, 750, 500, 250};
    EXPECT_EQ(Times(host.FetchesOf("opacity")), piece_times) << time_step;
    EXPECT_EQ(host.FetchesOf("scale")[0].time, 1000);
    for (const StreamFetch& f : host.fetches) {
      EXPECT_EQ(f.mode, AEGP_LTimeMode_LayerTime);
      EXPECT_EQ(f.pre_expression, 0);
      EXPECT_EQ(f.scale, 30u);
    }
    EXPECT_TRUE(host.Balanced());
  }
}

TEST(RenderPass, MatricesPlaceEachPieceWhereTheLayerWasAtItsTime) {
  RecordingHost host;
  host.outlines = Row(3);
  host.SetSlider(kParamDelayFrames, 10);
  host.position = [](A_long t) { return Vec2{100 + (t - 1000) * 2.0, 50 + (t - 1000) * 0.5}; };
  host.anchor = [](A_long t) { return Vec2{40 + (1000 - t) * 0.25, 30}; };
  host.scale = [](A_long t) { return Vec2{100 - (1000 - t) * 1.0, 80 + (1000 - t) * 2.0}; };
  EXPECT_EQ(host.RenderNow(), PF_Err_NONE);
  ASSERT_EQ(host.transforms.size(), 3u);
  auto place = [&](A_long t, Point u) {
    const Vec2 p = host.position(t), a = host.anchor(t), s = host.scale(t);
    return Point{p.x + s.x * 0.01 * (u.x - a.x), p.y + s.y * 0.01 * (u.y - a.y)};
  };
  for (int k = 0; k < 3; ++k) {
    const A_long t = 1000 - 10 * k;
    for (const Point w : {Point{0, 0}, Point{12, 30}}) {
      // Frame point q shows layer point u at the current time (P 100,50,
      // A 40,30, S 100%,80%); the piece must show it where time t put it.
      const Point q{10.0 + 20 * k + w.x, 20 + w.y};
      const Point u{(q.x - 100) / 1.0 + 40, (q.y - 50) / 0.8 + 30};
      const Point want = place(t, u);
      const Point got = Apply(host.transforms[k].matrices[0], w);
      EXPECT_NEAR(got.x, want.x, 1e-9) << "piece " << k;
      EXPECT_NEAR(got.y, want.y, 1e-9) << "piece " << k;
    }
  }
}

TEST(RenderPass, OpacityAtThePieceTimeSetsTheCompositeOpacity) {
  RecordingHost host;
  host.outlines = Row(3);
  host.opacity = [](A_long t) { return t >= 1000 ? 100.0 : t >= 999 ? 50.0 : 0.0; };
  host.RenderNow();
  ASSERT_EQ(host.transforms.size(), 3u);
  EXPECT_EQ(host.transforms[0].mode.opacity, 254);
  EXPECT_EQ(host.transforms[1].mode.opacity, 127);
  EXPECT_EQ(host.transforms[2].mode.opacity, 0);
}

TEST(RenderMotionBlur, SendsTheBlurMatrixFirstAndSamplesItAShiftLater) {
  RecordingHost plain;
  plain.outlines = Row(3);
  plain.SetSlider(kParamDelayFrames, 2.5);
  plain.position = [](A_long t) { return Vec2{100 + (t - 1000) * 3.0, 50}; };
  plain.RenderNow();

  RecordingHost host;
  host.outlines = Row(3);
  host.SetSlider(kParamDelayFrames, 2.5);
  host.position = plain.position;
  host.SetCheckbox(kParamMotionBlurEnable, true);  // amount 100: 180 time units
  EXPECT_EQ(host.RenderNow(), PF_Err_NONE);
  ASSERT_EQ(host.transforms.size(), 3u);
  const Longs blur_sample_times{1180, 1177, 1174};
  const Longs piece_times{1000, 997, 994};
  for (int k = 0; k < 3; ++k) {
    const TransformCall& call = host.transforms[k];
    ASSERT_EQ(call.num_matrices, 2);
    // The second matrix is the one drawn without blur.
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(call.matrices[1].mat[r][c], plain.transforms[k].matrices[0].mat[r][c]);
      }
    }
    // The first one puts the piece where Position was at the sample time.
    const Point start = Apply(call.matrices[0], {0, 0});
    EXPECT_DOUBLE_EQ(start.x, 10 + 20 * k + (blur_sample_times[k] - 1000) * 3.0);
    EXPECT_DOUBLE_EQ(start.y, 20);
  }
  // After the piece fetches: at tm Position, Scale, Anchor; at t Position,
  // Anchor, Scale.
  const std::vector<StreamFetch> blur(host.fetches.begin() + 3 + 3 * 4, host.fetches.end());
  ASSERT_EQ(blur.size(), 18u);
  for (int k = 0; k < 3; ++k) {
    const auto at = blur.begin() + 6 * k;
    EXPECT_EQ(Names({at, at + 6}),
              (Strings{"position", "scale", "anchor", "position", "anchor", "scale"}));
    EXPECT_EQ(Times({at, at + 6}),
              (Longs{blur_sample_times[k], blur_sample_times[k], blur_sample_times[k],
                     piece_times[k], piece_times[k], piece_times[k]}));
  }
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderMotionBlur, ZeroAmountSamplesThePieceTimeAndBlursNothing) {
  RecordingHost host;
  host.outlines = Row(2);
  host.position = [](A_long t) { return Vec2{100 + (t - 1000) * 3.0, 50}; };
  host.SetCheckbox(kParamMotionBlurEnable, true);
  host.SetSlider(kParamMotionBlurAmount, 0);
  host.RenderNow();
  for (const TransformCall& call : host.transforms) {
    ASSERT_EQ(call.num_matrices, 2);
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) EXPECT_EQ(call.matrices[0].mat[r][c], call.matrices[1].mat[r][c]);
    }
  }

  RecordingHost off;  // the amount does not matter while the checkbox is off
  off.outlines = Row(2);
  off.SetSlider(kParamMotionBlurAmount, 300);
  off.RenderNow();
  EXPECT_EQ(off.fetches.size(), 3u + 2 * 4);
  EXPECT_EQ(off.transforms[1].num_matrices, 1);
}

// Horizontal translation of each drawn piece, in reading order of the boxes.
std::vector<double> ShiftsByBox(const RecordingHost& host) {
  std::vector<double> shifts(host.transforms.size());
  // Boxes are visited in the order of the copies; sort by reading position.
  std::vector<std::size_t> order(host.transforms.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const PF_Rect& ra = host.copies[a].src_rect;
    const PF_Rect& rb = host.copies[b].src_rect;
    return ra.top != rb.top ? ra.top < rb.top : ra.left < rb.left;
  });
  for (std::size_t k = 0; k < order.size(); ++k) {
    const std::size_t i = order[k];
    shifts[k] = host.transforms[i].matrices[0].mat[2][0] - host.copies[i].src_rect.left;
  }
  return shifts;
}

TEST(RenderTracking, OffsetsPerLineForEachAlignment) {
  struct Case {
    int32_t alignment;
    std::vector<double> shifts;
  };
  // Scale 50% at the current time: step = 50 x 0.01 x 10 = 5 px.
  for (const Case& c :
       {Case{kAlignLeft, {0, 5, 10, 0, 5}}, Case{kAlignMiddle, {-5, 0, 5, -2.5, 2.5}},
        Case{kAlignRight, {-10, -5, 0, -5, 0}}}) {
    RecordingHost host;
    host.outlines = TwoLines(3, 2);
    host.scale = [](A_long) { return Vec2{50, 50}; };
    host.SetSlider(kParamTrackingAmount, 10);
    host.SetPopup(kParamTrackingAlignment, c.alignment);
    host.SetPopup(kParamOrderModifier, kOrderReverse);  // offsets stay with their pieces
    EXPECT_EQ(host.RenderNow(), PF_Err_NONE);
    ASSERT_EQ(host.transforms.size(), 5u);
    EXPECT_EQ(ShiftsByBox(host), c.shifts) << "alignment " << c.alignment;
  }
}

TEST(RenderTracking, HalfResolutionHalvesTheStep) {
  RecordingHost host;
  host.outlines = Row(3);
  host.in_data.downsample_x = {1, 2};
  host.in_data.downsample_y = {1, 2};
  host.SetSlider(kParamTrackingAmount, 10);
  host.RenderNow();
  ASSERT_EQ(host.transforms.size(), 3u);
  // Boxes at x 5, 15, 25 in half-resolution pixels; step 100% x 10 x 0.5.
  EXPECT_EQ(ShiftsByBox(host), (std::vector<double>{0, 5, 10}));
  EXPECT_EQ(host.copies[1].src_rect.left, 15);
}

// True when every pixel of the piece handed to transform_world has colour
// (r, g, b) and the alpha that the input layer had there.
::testing::AssertionResult Tinted(const RecordingHost& host, std::size_t i, int r, int g, int b) {
  const TransformCall& call = host.transforms[i];
  const PF_Rect& box = host.copies[i].src_rect;
  for (int y = 0; y < call.source.height; ++y) {
    for (int x = 0; x < call.source.width; ++x) {
      const PF_Pixel& p = call.source.at(x, y);
      if (p.red != r || p.green != g || p.blue != b) {
        return ::testing::AssertionFailure()
               << "piece " << i << " pixel " << x << "," << y << " is " << int(p.red) << ","
               << int(p.green) << "," << int(p.blue);
      }
      if (p.alpha != static_cast<A_u_char>(box.left + x + box.top + y)) {
        return ::testing::AssertionFailure() << "alpha changed at " << x << "," << y;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(RenderGuides, RangeGuideShowsDelayedPiecesGreenAndOthersRed) {
  RecordingHost host;
  host.outlines = Row(4);
  host.SetSlider(kParamRangeEnd, 50);  // pieces 0 and 1 delayed
  host.SetCheckbox(kParamRangeGuide, true);
  EXPECT_EQ(host.RenderNow(), PF_Err_NONE);
  ASSERT_EQ(host.transforms.size(), 4u);
  EXPECT_TRUE(Tinted(host, 0, 0, 255, 0));
  EXPECT_TRUE(Tinted(host, 1, 0, 255, 0));
  EXPECT_TRUE(Tinted(host, 2, 255, 0, 0));
  EXPECT_TRUE(Tinted(host, 3, 255, 0, 0));
  ASSERT_EQ(host.iterations.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(host.iterations[i].iterations, 12) << "one iteration per column";
    EXPECT_EQ(host.iterations[i].refcon, host.transforms[i].src);
  }
  EXPECT_EQ(host.fills.size(), 1u + 4) << "the output, then each temporary world";
}

TEST(RenderGuides, SeparationGuidePaintsGreyThenColoursByReadingPosition) {
  RecordingHost host;
  host.outlines = Row(7);
  host.SetCheckbox(kParamSeparationGuide, true);
  host.SetCheckbox(kParamRangeGuide, true);  // overridden by the separation colours
  host.SetPopup(kParamOrderModifier, kOrderReverse);
  EXPECT_EQ(host.RenderNow(), PF_Err_NONE);
  ASSERT_GE(host.fills.size(), 2u);
  EXPECT_EQ(host.fills[1].world, &host.output);
  EXPECT_TRUE(host.fills[1].has_color);
  EXPECT_FALSE(host.fills[1].has_rect);
  EXPECT_EQ(host.fills[1].color.alpha, 255);
  EXPECT_EQ(host.fills[1].color.red, 128);
  EXPECT_EQ(host.fills[1].color.green, 128);
  EXPECT_EQ(host.fills[1].color.blue, 128);
  EXPECT_LT(host.IndexInLog("fill colour"), host.IndexInLog("AEGP_New"));

  const int colours[5][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 0, 255}, {255, 255, 0}};
  ASSERT_EQ(host.transforms.size(), 7u);
  for (std::size_t i = 0; i < 7; ++i) {
    const int reading = (host.copies[i].src_rect.left - 10) / 20;  // the piece's index
    EXPECT_EQ(reading, 6 - static_cast<int>(i)) << "reversed delay order";
    const int* c = colours[reading % 5];
    EXPECT_TRUE(Tinted(host, i, c[0], c[1], c[2]));
  }
  EXPECT_EQ(host.iterations.size(), 14u);
  EXPECT_TRUE(host.Balanced());
}

}  // namespace
}  // namespace vantrel::render_test
