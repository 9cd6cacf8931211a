// Hostile values from the host: non-finite or absurd outline vertices, huge
// paths and outline counts, boxes outside the input, degenerate Scale,
// downsample factors, times and worlds. Whatever the host reports, the render
// must neither crash nor hand the host an absurd world, a non-finite matrix
// or an out-of-range index, must give back everything it obtained, and must
// still draw the pieces that it can place.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "alloc_meter.h"
#include "binding/entry.h"
#include "params/params.h"
#include "recording_host.h"

namespace vantrel::render_test {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The four corners of a rectangle as path vertices, tangents on the corners.
std::vector<PF_PathVertex> RectPath(double left, double top, double right, double bottom) {
  return {{left, top, left, top, left, top},
          {right, top, right, top, right, top},
          {right, bottom, right, bottom, right, bottom},
          {left, bottom, left, bottom, left, bottom}};
}

// Built by appending: gcc 12 at -O3 warns of an overlapping memcpy inside
// the concatenation of a literal and a temporary string.
std::string RectText(const PF_Rect& r) {
  std::string text = "{";
  for (const A_long v : {r.left, r.top, r.right, r.bottom}) {
    if (text.size() > 1) text += ',';
    text += std::to_string(v);
  }
  return text + "}";
}

// The source rectangles of every copy_hq, in order.
std::string CopiedRects(const RecordingHost& host) {
  std::string text;
  for (const CopyCall& c : host.copies) text += RectText(c.src_rect);
  return text;
}

std::string Rects(std::initializer_list<PF_Rect> rects) {
  std::string text;
  for (const PF_Rect& r : rects) text += RectText(r);
  return text;
}

// Renders through the entry point's error guard, as the host would see it.
PF_Err RenderGuarded(RecordingHost& host) {
  return RunGuarded([&host] { return host.RenderNow(); });
}

// --- Outline vertices ------------------------------------------------------------

enum class Slot { kOnCurveX, kOnCurveY, kTangentX, kTangentY };

struct HostileVertex {
  double value;
  Slot slot;
  bool evaluate_tangents;
};

std::string SlotName(Slot slot) {
  switch (slot) {
    case Slot::kOnCurveX:
      return "OnCurveX";
    case Slot::kOnCurveY:
      return "OnCurveY";
    case Slot::kTangentX:
      return "TangentX";
    case Slot::kTangentY:
      return "TangentY";
  }
  return "";
}

void PrintTo(const HostileVertex& c, std::ostream* os) {
  *os << c.value << " in " << SlotName(c.slot) << (c.evaluate_tangents ? ", tangents on" : "");
}

class RenderHostileVertices : public ::testing::TestWithParam<HostileVertex> {};

// Three outlines on a line; the middle one, below the others so that no
// grouping pass joins it to them, carries the hostile value in its first
// vertex, the one that starts its box.
TEST_P(RenderHostileVertices, DrawsTheSoundPiecesAndSkipsTheOneItCannotPlace) {
  const HostileVertex hostile = GetParam();
  std::vector<std::vector<PF_PathVertex>> paths = {
      RectPath(10, 20, 22, 50), RectPath(50, 60, 62, 90), RectPath(90, 20, 102, 50)};
  PF_PathVertex& v = paths[1][0];
  switch (hostile.slot) {
    case Slot::kOnCurveX:
      v.x = hostile.value;
      break;
    case Slot::kOnCurveY:
      v.y = hostile.value;
      break;
    case Slot::kTangentX:
      v.tan_out_x = hostile.value;
      break;
    case Slot::kTangentY:
      v.tan_out_y = hostile.value;
      break;
  }
  RecordingHost host;
  host.SetPaths(paths);
  host.SetSlider(kParamSeparationThreshold, 0);
  host.SetCheckbox(kParamEvaluateTangents, hostile.evaluate_tangents);
  host.SetCheckbox(kParamMotionBlurEnable, true);
  EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);

  // An on-curve value always reaches the box (a NaN first vertex sticks in
  // every min and max after it). A tangent reaches it only with tangents on,
  // and a NaN tangent never does: it loses every comparison.
  const bool tangent = hostile.slot == Slot::kTangentX || hostile.slot == Slot::kTangentY;
  const bool reaches_box = !tangent || (hostile.evaluate_tangents && !std::isnan(hostile.value));
  const std::string expected = reaches_box
                                   ? Rects({{10, 20, 22, 50}, {90, 20, 102, 50}})
                                   : Rects({{10, 20, 22, 50}, {50, 60, 62, 90}, {90, 20, 102, 50}});
  EXPECT_EQ(CopiedRects(host), expected);
  EXPECT_EQ(host.transforms.size(), host.copies.size());
  EXPECT_TRUE(host.Balanced());
}

std::vector<HostileVertex> AllHostileVertices() {
  std::vector<HostileVertex> cases;
  for (double value : {kNaN, kInf, -kInf, 1e300, -1e300}) {
    for (Slot slot : {Slot::kOnCurveX, Slot::kOnCurveY, Slot::kTangentX, Slot::kTangentY}) {
      for (bool tangents : {true, false}) cases.push_back({value, slot, tangents});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(NanInfinityHuge, RenderHostileVertices,
                         ::testing::ValuesIn(AllHostileVertices()),
                         [](const ::testing::TestParamInfo<HostileVertex>& info) {
                           const double value = info.param.value;
                           const std::string name = std::isnan(value) ? "NaN"
                                                    : std::isinf(value)
                                                        ? (value > 0 ? "PlusInf" : "MinusInf")
                                                    : value > 0 ? "Plus1e300"
                                                                : "Minus1e300";
                           return name + "_" + SlotName(info.param.slot) +
                                  (info.param.evaluate_tangents ? "_TangentsOn" : "_TangentsOff");
                         });

// --- Path sizes and outline counts ----------------------------------------------

TEST(RenderHostilePaths, AnOutlineWithoutSegmentsKeepsItsZeroBox) {
  RecordingHost host;
  host.SetPaths({RectPath(10, 20, 22, 50), {}, RectPath(90, 20, 102, 50)});
  host.SetSlider(kParamSeparationThreshold, 0);
  EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
  // The zero box is a piece like any other: an empty world at the origin.
  EXPECT_EQ(CopiedRects(host), Rects({{10, 20, 22, 50}, {0, 0, 0, 0}, {90, 20, 102, 50}}));
  ASSERT_EQ(host.world_sizes.size(), 3u);
  EXPECT_EQ(host.world_sizes[1], std::make_pair(A_long{0}, A_long{0}));
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderHostilePaths, AMillionSegmentsCostMemoryInProportion) {
  constexpr A_long kSegments = 1'000'000;
  RecordingHost host;
  host.path_count = 1;
  host.path_segments = [](A_long) { return kSegments; };
  // The corners of one rectangle, round and round.
  host.path_vertex = [](A_long, A_long v) { return RectPath(30, 20, 45, 60)[v % 4]; };
  MarkPeak();
  EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
  const std::size_t peak = PeakBytesSinceMark();
  EXPECT_EQ(CopiedRects(host), Rects({{30, 20, 45, 60}}));
  // One vertex list of a million 48-byte vertices, at most doubled while it
  // grows, and little else.
  EXPECT_LT(peak, 2 * kSegments * sizeof(PF_PathVertex) + (8u << 20));
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderHostilePaths, AHundredThousandOutlinesAreEachDrawnOnce) {
  constexpr A_long kOutlines = 100'000;
  RecordingHost host;
  host.capture_sources = false;
  host.path_count = kOutlines;
  host.path_segments = [](A_long) { return 1; };
  // One point each, left to right along a line, never inside one another.
  host.path_vertex = [](A_long i, A_long) {
    const double x = 0.5 + 0.0019 * i;
    return PF_PathVertex{x, 50.5, x, 50.5, x, 50.5};
  };
  host.SetSlider(kParamSeparationThreshold, 0);
  host.SetSlider(kParamDelayFrames, 0);
  EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
  EXPECT_EQ(host.copies.size(), static_cast<std::size_t>(kOutlines));
  EXPECT_EQ(host.transforms.size(), static_cast<std::size_t>(kOutlines));
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderHostilePaths, AnAbsurdOutlineCountEndsIn512WithEverythingGivenBack) {
  RecordingHost host;
  host.outlines = {{10, 20, 22, 50}};
  host.reported_outline_count = INT32_MAX;
  // Two lists of INT32_MAX records cannot be had: the first allocation fails
  // before anything of that size is touched or asked of the host.
  EXPECT_EQ(RenderGuarded(host), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_TRUE(host.fetches.empty());
  EXPECT_EQ(host.CountInLog("AEGP_GetNewEffectForEffect"), 0);
  EXPECT_EQ(host.CountInLog("AEGP_DisposeTextOutlines"), 1);
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderHostilePaths, ANegativeOutlineCountDrawsNothing) {
  RecordingHost host;
  host.outlines = {{10, 20, 22, 50}};
  host.reported_outline_count = -5;
  EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
  EXPECT_TRUE(host.copies.empty());
  EXPECT_TRUE(host.Balanced());
}

// --- Boxes against the input world ----------------------------------------------

TEST(RenderHostileBoxes, BoxesNearTheInputKeepTheirLiteralWorlds) {
  RecordingHost host;                           // input 200 x 100
  host.SetPaths({RectPath(-30, 20, -18, 50),    // left of the input
                 RectPath(190, 20, 215, 50),    // across its right edge
                 RectPath(250, 20, 262, 50),    // right of it, within its own width
                 RectPath(300, 150, 320, 195)}  // below and right, within its size
  );
  host.SetSlider(kParamSeparationThreshold, 0);
  EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
  EXPECT_EQ(
      CopiedRects(host),
      Rects({{-30, 20, -18, 50}, {190, 20, 215, 50}, {250, 20, 262, 50}, {300, 150, 320, 195}}));
  // The part of the world beyond the input stays transparent.
  ASSERT_EQ(host.transforms.size(), 4u);
  const Pixels& across = host.transforms[1].source;
  EXPECT_EQ(across.at(5, 0).red, 195);
  EXPECT_EQ(across.at(10, 0).alpha, 0);
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderHostileBoxes, BoxesFarFromTheInputOrLargerThanItAreSkipped) {
  RecordingHost host;
  // Placed so that no grouping pass joins them.
  host.SetPaths({RectPath(10, 20, 22, 50),       // sound
                 RectPath(1000, 20, 1012, 50),   // beyond twice the width
                 RectPath(60, -5000, 72, 90),    // far taller than the input
                 RectPath(150, 10, 162, 50),     // sound
                 RectPath(-2e9, 20, 2e9, 50)});  // its width does not fit in 32 bits
  host.SetSlider(kParamSeparationThreshold, 0);
  EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
  EXPECT_EQ(CopiedRects(host), Rects({{10, 20, 22, 50}, {150, 10, 162, 50}}));
  EXPECT_EQ(host.world_sizes.size(), 2u);
  EXPECT_TRUE(host.Balanced());
}

// --- Scale, Position, downsampling -------------------------------------------------

std::vector<PF_Rect> Row(int n) {
  std::vector<PF_Rect> row;
  for (int k = 0; k < n; ++k) row.push_back({10 + 20 * k, 20, 22 + 20 * k, 50});
  return row;
}

TEST(RenderHostileScale, ZeroScaleAtTheCurrentTimeDrawsNothing) {
  for (Vec2 zero : {Vec2{0, 0}, Vec2{0, 100}, Vec2{100, 0}}) {
    RecordingHost host;
    host.outlines = Row(3);
    host.scale = [zero](A_long t) { return t == 1000 ? zero : Vec2{100, 100}; };
    EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
    EXPECT_TRUE(host.world_sizes.empty()) << zero.x << " x " << zero.y;
    EXPECT_TRUE(host.Balanced());
  }
}

TEST(RenderHostileScale, NegativeScaleMirrorsThePieceWithFiniteMatrices) {
  RecordingHost host;
  host.outlines = Row(2);
  // Scale -100 now and (-50, 50) one frame earlier: piece 1's ratios are 2 and
  // -2, so it is drawn at half size, mirrored vertically.
  host.scale = [](A_long t) { return t == 1000 ? Vec2{-100, -100} : Vec2{-50, 50}; };
  host.SetSlider(kParamSeparationThreshold, 0);
  EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
  ASSERT_EQ(host.transforms.size(), 2u);
  EXPECT_DOUBLE_EQ(host.transforms[0].matrices.back().mat[0][0], 1.0);
  EXPECT_DOUBLE_EQ(host.transforms[1].matrices.back().mat[0][0], 0.5);
  EXPECT_DOUBLE_EQ(host.transforms[1].matrices.back().mat[1][1], -0.5);
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderHostileScale, ZeroScaleAtTheBlurEndKeepsThePieceWithASingularStart) {
  for (Vec2 zero : {Vec2{0, 100}, Vec2{100, 0}, Vec2{0, 0}}) {
    RecordingHost host;
    host.outlines = Row(3);
    host.SetCheckbox(kParamMotionBlurEnable, true);
    host.position = [](A_long) { return Vec2{70, 40}; };
    // The blur sample of piece 1 lies at 999 + 180; its own time keeps Scale 100.
    host.scale = [zero](A_long t) { return t == 1179 ? zero : Vec2{100, 100}; };
    EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
    ASSERT_EQ(host.transforms.size(), 3u) << zero.x << " x " << zero.y;
    const TransformCall& call = host.transforms[1];
    ASSERT_EQ(call.num_matrices, 2);
    // M puts the piece back at its box; the start collapses it onto the
    // layer's Position along the axis whose Scale is 0.
    const double sx = zero.x / 100, sy = zero.y / 100;
    const double main[9] = {1, 0, 0, 0, 1, 0, 30, 20, 1};
    const double start[9] = {sx, 0, 0, 0, sy, 0, 70 + (30 - 70) * sx, 40 + (20 - 40) * sy, 1};
    for (int e = 0; e < 9; ++e) {
      EXPECT_EQ(call.matrices[1].mat[e / 3][e % 3], main[e]) << e;
      EXPECT_EQ(call.matrices[0].mat[e / 3][e % 3], start[e]) << e;
    }
    EXPECT_TRUE(host.Balanced());
  }
}

TEST(RenderHostileScale, NonFiniteTransformValuesSkipThePiece) {
  struct Case {
    const char* what;
    std::function<void(RecordingHost&)> script;
  };
  const std::vector<Case> cases = {
      {"NaN Scale at the piece time",
       [](RecordingHost& h) {
         h.scale = [](A_long t) { return t == 999 ? Vec2{kNaN, 100} : Vec2{100, 100}; };
       }},
      {"infinite Position at the piece time",
       [](RecordingHost& h) {
         h.position = [](A_long t) { return t == 999 ? Vec2{kInf, 0} : Vec2{0, 0}; };
       }},
      {"huge Anchor Point at the piece time",
       [](RecordingHost& h) {
         h.anchor = [](A_long t) { return t == 999 ? Vec2{0, 1e308} : Vec2{0, 0}; };
         h.scale = [](A_long) { return Vec2{100, 1e10}; };
       }},
      {"infinite Scale at the blur end",
       [](RecordingHost& h) {
         h.SetCheckbox(kParamMotionBlurEnable, true);
         h.scale = [](A_long t) { return t == 1179 ? Vec2{100, kInf} : Vec2{100, 100}; };
       }},
      {"Scale ratio beyond the doubles at the blur end",
       [](RecordingHost& h) {
         h.SetCheckbox(kParamMotionBlurEnable, true);
         h.scale = [](A_long t) { return Vec2{t == 1179 ? 1e300 : 1e-10, 100}; };
       }},
      {"NaN Position at the blur end",
       [](RecordingHost& h) {
         h.SetCheckbox(kParamMotionBlurEnable, true);
         h.position = [](A_long t) { return t == 1179 ? Vec2{0, kNaN} : Vec2{0, 0}; };
       }},
  };
  for (const Case& c : cases) {
    RecordingHost host;
    host.outlines = Row(3);
    c.script(host);
    EXPECT_EQ(RenderGuarded(host), PF_Err_NONE) << c.what;
    EXPECT_EQ(CopiedRects(host), Rects({{10, 20, 22, 50}, {50, 20, 62, 50}})) << c.what;
    EXPECT_TRUE(host.Balanced()) << c.what;
  }
}

TEST(RenderHostileDownsample, AZeroDenominatorLeavesNothingToPlace) {
  for (bool vertical : {false, true}) {
    for (A_long num : {1, 0, -1}) {
      RecordingHost host;
      host.outlines = Row(3);
      (vertical ? host.in_data.downsample_y : host.in_data.downsample_x) = {num, 0};
      host.SetCheckbox(kParamMotionBlurEnable, true);
      EXPECT_EQ(RenderGuarded(host), PF_Err_NONE) << num << "/0";
      EXPECT_TRUE(host.world_sizes.empty()) << num << "/0";
      EXPECT_TRUE(host.Balanced()) << num << "/0";
    }
  }
}

TEST(RenderHostileDownsample, AZeroNumeratorFoldsEveryPieceToAnEmptyWorld) {
  RecordingHost host;
  host.outlines = Row(3);
  host.in_data.downsample_x = {0, 1};
  EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
  // Every box is 0 wide at x = 0; the heights are unchanged.
  EXPECT_EQ(CopiedRects(host), Rects({{0, 20, 0, 50}, {0, 20, 0, 50}, {0, 20, 0, 50}}));
  EXPECT_TRUE(host.Balanced());
}

// --- Times -----------------------------------------------------------------------------

std::vector<A_long> OpacityTimes(const RecordingHost& host) {
  std::vector<A_long> times;
  for (const StreamFetch& f : host.FetchesOf("opacity")) times.push_back(f.time);
  return times;
}

TEST(RenderHostileTime, ZeroOrNegativeTimeStep) {
  RecordingHost still;
  still.outlines = Row(3);
  still.in_data.time_step = 0;
  EXPECT_EQ(RenderGuarded(still), PF_Err_NONE);
  EXPECT_EQ(OpacityTimes(still), (std::vector<A_long>{1000, 1000, 1000}));
  EXPECT_TRUE(still.Balanced());

  RecordingHost ahead;
  ahead.outlines = Row(3);
  ahead.in_data.time_step = -10;
  EXPECT_EQ(RenderGuarded(ahead), PF_Err_NONE);
  EXPECT_EQ(OpacityTimes(ahead), (std::vector<A_long>{1000, 1010, 1020}));
  EXPECT_TRUE(ahead.Balanced());
}

TEST(RenderHostileTime, TimesThatLeaveThe32BitRangeBecomeInt32Min) {
  RecordingHost late;
  late.outlines = Row(4);
  late.in_data.current_time = INT32_MAX - 1;
  late.in_data.time_step = -1;  // "Delay (frames)" 1: each piece one unit later
  EXPECT_EQ(RenderGuarded(late), PF_Err_NONE);
  EXPECT_EQ(OpacityTimes(late),
            (std::vector<A_long>{INT32_MAX - 1, INT32_MAX, INT32_MIN, INT32_MIN + 1}));
  EXPECT_TRUE(late.Balanced());

  RecordingHost early;
  early.outlines = Row(3);
  early.in_data.current_time = INT32_MIN + 1;
  early.in_data.time_step = 1;
  EXPECT_EQ(RenderGuarded(early), PF_Err_NONE);
  EXPECT_EQ(OpacityTimes(early), (std::vector<A_long>{INT32_MIN + 1, INT32_MIN, INT32_MIN}));
  EXPECT_TRUE(early.Balanced());
}

TEST(RenderHostileTime, AMotionBlurSampleBeyondTheRangeStartsAtInt32Min) {
  RecordingHost host;
  host.outlines = Row(2);
  host.in_data.current_time = INT32_MAX - 100;  // + 180 does not fit
  host.SetCheckbox(kParamMotionBlurEnable, true);
  EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
  const std::vector<StreamFetch> positions = host.FetchesOf("position");
  // Current time, two pieces, then per piece the blur sample and the piece time.
  ASSERT_EQ(positions.size(), 1u + 2u + 4u);
  EXPECT_EQ(positions[3].time, INT32_MIN);
  EXPECT_EQ(positions[4].time, INT32_MAX - 100);
  EXPECT_EQ(positions[5].time, INT32_MIN);  // INT32_MIN - 1 does not fit either
  EXPECT_TRUE(host.Balanced());
}

TEST(RenderHostileControls, ASeedBeyond32BitsSeedsWithInt32Min) {
  for (double seed : {kNaN, 1e12, -1e12}) {
    RecordingHost host;
    host.outlines = Row(3);
    host.SetSlider(kParamRandomSeed, seed);
    host.SetPopup(kParamOrderModifier, 3);
    EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
    EXPECT_EQ(host.transforms.size(), 3u);
    EXPECT_TRUE(host.Balanced());
  }
}

// --- Worlds -----------------------------------------------------------------------------

TEST(RenderHostileWorlds, AnEmptyInputLeavesNothingToCutOut) {
  for (Vec2 size : {Vec2{0, 0}, Vec2{0, 100}, Vec2{200, 0}}) {
    RecordingHost host;
    host.outlines = Row(3);
    host.param_defs[kParamInput].u.ld.width = static_cast<A_long>(size.x);
    host.param_defs[kParamInput].u.ld.height = static_cast<A_long>(size.y);
    EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
    EXPECT_TRUE(host.world_sizes.empty()) << size.x << " x " << size.y;
    EXPECT_TRUE(host.Balanced());
  }
}

TEST(RenderHostileWorlds, AnEmptyOutputIsStillHandedOnlyToTheHost) {
  for (Vec2 size : {Vec2{0, 0}, Vec2{0, 100}, Vec2{200, 0}}) {
    RecordingHost host;
    host.outlines = Row(3);
    host.output.width = static_cast<A_long>(size.x);
    host.output.height = static_cast<A_long>(size.y);
    host.output.extent_hint = {0, 0, host.output.width, host.output.height};
    host.SetCheckbox(kParamSeparationGuide, true);
    EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
    EXPECT_EQ(host.transforms.size(), 3u);
    EXPECT_TRUE(host.Balanced());
  }
}

TEST(RenderHostileWorlds, AnExtentHintOutsideTheOutputIsOnlyPassedOn) {
  RecordingHost host;
  host.outlines = Row(2);
  const PF_Rect far{-2000000000, 1500000000, 2000000000, -1500000000};
  host.output.extent_hint = far;
  host.SetCheckbox(kParamSeparationGuide, true);
  host.SetCheckbox(kParamRangeGuide, true);
  EXPECT_EQ(RenderGuarded(host), PF_Err_NONE);
  ASSERT_EQ(host.transforms.size(), 2u);
  for (const TransformCall& call : host.transforms) {
    EXPECT_EQ(call.dest_rect, &host.output.extent_hint);
  }
  EXPECT_EQ(RectText(host.output.extent_hint), RectText(far));
  for (const FillCall& fill : host.fills) EXPECT_FALSE(fill.has_rect);
  EXPECT_TRUE(host.Balanced());
}

}  // namespace
}  // namespace vantrel::render_test
