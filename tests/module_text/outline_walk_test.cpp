// Boxes of vertex lists, and the walk over the host's text outlines through a
// fake host that records every call it receives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "piece_text.h"
#include "text/text.h"

namespace vantrel {
namespace {

using testing::Box;
using testing::PiecesText;

PF_PathVertex Point(double x, double y) { return {x, y, x, y, x, y}; }

std::string BoxText(const VertexList& vertices, bool evaluate_tangents) {
  Piece piece;
  BoxOfVertices(vertices, evaluate_tangents, piece);
  return PiecesText({piece});
}

// --- Box of a vertex list -------------------------------------------------------

TEST(BoxOfVertices, StartsAtTheFirstVertexNotAtZero) {
  EXPECT_EQ(BoxText({Point(5, 7)}, false), "[l=5 r=5 t=7 b=7 line=0 idx=0]");
  EXPECT_EQ(BoxText({Point(5, 7), Point(9, 8)}, true), "[l=5 r=9 t=7 b=8 line=0 idx=0]");
}

TEST(BoxOfVertices, TangentsPairInWithOutPerAxis) {
  // tan_in (-1, 20), tan_out (9, 3): x reaches -1..9, y 3..20.
  const VertexList one = {{5, 7, -1, 20, 9, 3}};
  EXPECT_EQ(BoxText(one, false), "[l=5 r=5 t=7 b=7 line=0 idx=0]");
  EXPECT_EQ(BoxText(one, true), "[l=-1 r=9 t=3 b=20 line=0 idx=0]");
}

TEST(BoxOfVertices, CurveBulgingPastItsEndsIsReachedOnlyThroughTangents) {
  const VertexList arch = {{0, 0, 0, 0, 3, -5}, {10, 0, 7, -5, 10, 0}};
  EXPECT_EQ(BoxText(arch, false), "[l=0 r=10 t=0 b=0 line=0 idx=0]");
  EXPECT_EQ(BoxText(arch, true), "[l=0 r=10 t=-5 b=0 line=0 idx=0]");
}

TEST(BoxOfVertices, VerticalLineHasZeroWidth) {
  EXPECT_EQ(BoxText({Point(4, 0), Point(4, 10), Point(4, 5)}, true),
            "[l=4 r=4 t=0 b=10 line=0 idx=0]");
}

TEST(BoxOfVertices, EmptyListLeavesThePieceAlone) {
  Piece piece = Box(1, 2, 3, 4);
  BoxOfVertices({}, true, piece);
  EXPECT_EQ(PiecesText({piece}), "[l=1 r=2 t=3 b=4 line=0 idx=0]");
}

TEST(BoxOfVertices, RandomListsGiveTheBoundsOfTheirPoints) {
  for (uint32_t i = 0; i < 500; ++i) {
    std::mt19937 random(i);
    const auto coordinate = [&] { return static_cast<double>(random() % 2001) / 10.0 - 100.0; };
    VertexList vertices(1 + random() % 12);
    for (PF_PathVertex& v : vertices) {
      v = {coordinate(), coordinate(), coordinate(), coordinate(), coordinate(), coordinate()};
    }
    Piece points = Box(vertices[0].x, vertices[0].x, vertices[0].y, vertices[0].y);
    Piece all = points;
    for (const PF_PathVertex& v : vertices) {
      points = Box(std::min(points.left, v.x), std::max(points.right, v.x),
                   std::min(points.top, v.y), std::max(points.bottom, v.y));
      all = Box(std::min({all.left, v.x, v.tan_in_x, v.tan_out_x}),
                std::max({all.right, v.x, v.tan_in_x, v.tan_out_x}),
                std::min({all.top, v.y, v.tan_in_y, v.tan_out_y}),
                std::max({all.bottom, v.y, v.tan_in_y, v.tan_out_y}));
    }
    ASSERT_EQ(BoxText(vertices, false), PiecesText({points})) << "case " << i;
    ASSERT_EQ(BoxText(vertices, true), PiecesText({all})) << "case " << i;
  }
}

// --- The walk over the host's outlines ------------------------------------------------

struct FakeOutline {
  VertexList vertices;
  bool fail_lookup = false;  // AEGP_GetIndexedTextOutline fails, writing nothing
  A_long fail_vertex = -1;   // PF_PathVertexInfo fails for this vertex, writing nothing
};

// The state of the fake host for one test. The suites' functions are plain C
// function pointers, so they find it through `current`.
struct FakeHost {
  static inline FakeHost* current = nullptr;

  std::vector<FakeOutline> outlines;
  std::string refused_suite;
  std::string log;  // calls in order: "+text outline(0) +path segments(0)=4 vertex(0,0) ..."
  int acquired[2] = {0, 0};  // text layer, path data
  int released[2] = {0, 0};
  int effect_token = 0;
  int outlines_token = 0;

  FakeHost() { current = this; }
  ~FakeHost() { current = nullptr; }
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  PF_ProgPtr EffectRef() { return reinterpret_cast<PF_ProgPtr>(&effect_token); }
  AEGP_TextOutlinesH Handle() { return reinterpret_cast<AEGP_TextOutlinesH>(&outlines_token); }

  void Log(const std::string& entry) {
    if (!log.empty()) log += ' ';
    log += entry;
  }
  void CheckRef(PF_ProgPtr ref) {
    if (ref != EffectRef()) Log("WRONG-EFFECT-REF");
  }
  // The outline a path pointer stands for, or -1 for a null path.
  long OutlineOf(PF_PathOutlinePtr path) const {
    if (path == nullptr) return -1;
    return static_cast<const FakeOutline*>(path) - outlines.data();
  }

  static A_Err GetIndexedTextOutline(AEGP_TextOutlinesH handle, A_long i, PF_PathOutlinePtr* path) {
    FakeHost& host = *current;
    if (handle != host.Handle()) host.Log("WRONG-HANDLE");
    FakeOutline& outline = host.outlines.at(static_cast<std::size_t>(i));
    host.Log("outline(" + std::to_string(i) + (outline.fail_lookup ? ")!" : ")"));
    if (outline.fail_lookup) return 1;
    *path = &outline;
    return 0;
  }
  static PF_Err NumSegments(PF_ProgPtr ref, PF_PathOutlinePtr path, A_long* segments) {
    FakeHost& host = *current;
    host.CheckRef(ref);
    if (path == nullptr) {
      host.Log("segments(null)!");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    const auto& outline = *static_cast<const FakeOutline*>(path);
    *segments = static_cast<A_long>(outline.vertices.size());
    host.Log("segments(" + std::to_string(host.OutlineOf(path)) + ")=" + std::to_string(*segments));
    return PF_Err_NONE;
  }
  static PF_Err VertexInfo(PF_ProgPtr ref, PF_PathOutlinePtr path, A_long v,
                           PF_PathVertex* vertex) {
    FakeHost& host = *current;
    host.CheckRef(ref);
    const auto& outline = *static_cast<const FakeOutline*>(path);
    const bool fail = v == outline.fail_vertex;
    host.Log("vertex(" + std::to_string(host.OutlineOf(path)) + "," + std::to_string(v) +
             (fail ? ")!" : ")"));
    if (fail) return PF_Err_BAD_CALLBACK_PARAM;
    *vertex = outline.vertices.at(static_cast<std::size_t>(v));
    return PF_Err_NONE;
  }

  static int SuiteSlot(const char* name, int32 version) {
    if (std::strcmp(name, "AEGP Text Layer Suite") == 0 && version == 1) return 0;
    if (std::strcmp(name, "PF Path Data Suite") == 0 && version == 1) return 1;
    return -1;
  }
  static SPErr Acquire(const char* name, int32 version, const void** suite) {
    FakeHost& host = *current;
    const int slot = SuiteSlot(name, version);
    if (slot < 0 || host.refused_suite == name) {
      host.Log(std::string("refused(") + name + ")");
      return 1;  // any non-zero result refuses
    }
    ++host.acquired[slot];
    host.Log(slot == 0 ? "+text" : "+path");
    *suite =
        slot == 0 ? static_cast<const void*>(&kTextLayer) : static_cast<const void*>(&kPathData);
    return kSPNoError;
  }
  static SPErr Release(const char* name, int32 version) {
    const int slot = SuiteSlot(name, version);
    if (slot >= 0) ++current->released[slot];
    return kSPNoError;
  }

  static const AEGP_TextLayerSuite1 kTextLayer;
  static const PF_PathDataSuite1 kPathData;
  static const SPBasicSuite kBasic;
};

// Only the functions that the walk may call are filled in; a call to any
// other one crashes the test.
const AEGP_TextLayerSuite1 FakeHost::kTextLayer = [] {
  AEGP_TextLayerSuite1 suite{};
  suite.AEGP_GetIndexedTextOutline = &FakeHost::GetIndexedTextOutline;
  return suite;
}();
const PF_PathDataSuite1 FakeHost::kPathData = [] {
  PF_PathDataSuite1 suite{};
  suite.PF_PathNumSegments = &FakeHost::NumSegments;
  suite.PF_PathVertexInfo = &FakeHost::VertexInfo;
  return suite;
}();
const SPBasicSuite FakeHost::kBasic = [] {
  SPBasicSuite suite{};
  suite.AcquireSuite = &FakeHost::Acquire;
  suite.ReleaseSuite = &FakeHost::Release;
  return suite;
}();

// Runs the walk as the render calls it: one zeroed piece and one empty vertex
// list per outline.
struct Walk {
  FakeHost& host;
  PF_InData in_data{};
  std::vector<Piece> pieces;
  std::vector<VertexList> vertex_lists;
  int32_t count = 0;

  explicit Walk(FakeHost& fake) : host(fake) {
    in_data.effect_ref = host.EffectRef();
    in_data.pica_basicP = const_cast<SPBasicSuite*>(&FakeHost::kBasic);
    in_data.downsample_x = {1, 1};
    in_data.downsample_y = {1, 1};
  }
  std::string Run(double threshold, bool word_mode = false, bool evaluate_tangents = false) {
    count = static_cast<int32_t>(host.outlines.size());
    pieces.assign(host.outlines.size(), Piece{});
    vertex_lists.assign(host.outlines.size(), VertexList{});
    BuildTextPieces(&in_data, threshold, pieces, vertex_lists, count, host.Handle(), word_mode,
                    evaluate_tangents);
    return PiecesText(pieces);
  }
};

VertexList Square(double left, double top, double size) {
  return {Point(left, top), Point(left + size, top), Point(left + size, top + size),
          Point(left, top + size)};
}

TEST(BuildTextPieces, WalksEveryVertexOfEveryOutlineInHostOrder) {
  FakeHost host;
  host.outlines = {{Square(0, 0, 10)}, {{Point(20, 0), Point(30, 5), Point(20, 10)}}};
  Walk walk(host);
  EXPECT_EQ(walk.Run(2), "[l=0 r=10 t=0 b=10 line=0 idx=0] [l=20 r=30 t=0 b=10 line=0 idx=1]");
  EXPECT_EQ(host.log,
            "+text outline(0) +path segments(0)=4 vertex(0,0) vertex(0,1) vertex(0,2) "
            "vertex(0,3) outline(1) segments(1)=3 vertex(1,0) vertex(1,1) vertex(1,2)");
  EXPECT_EQ(walk.count, 2);
  ASSERT_EQ(walk.vertex_lists.size(), 2u);
  ASSERT_EQ(walk.vertex_lists[1].size(), 3u);
  EXPECT_EQ(walk.vertex_lists[1][1].x, 30);
  EXPECT_EQ(walk.vertex_lists[1][1].y, 5);
}

TEST(BuildTextPieces, TakesEachSuiteOnceAndReleasesItOnce) {
  FakeHost host;
  for (int k = 0; k < 5; ++k) host.outlines.push_back({Square(20.0 * k, 0, 10)});
  Walk walk(host);
  walk.Run(0);
  EXPECT_EQ(host.acquired[0], 1);
  EXPECT_EQ(host.acquired[1], 1);
  EXPECT_EQ(host.released[0], 1);
  EXPECT_EQ(host.released[1], 1);
}

TEST(BuildTextPieces, OutlineWithoutSegmentsKeepsTheZeroBox) {
  FakeHost host;
  host.outlines = {{VertexList{}}};
  Walk walk(host);
  EXPECT_EQ(walk.Run(2), "[l=0 r=0 t=0 b=0 line=0 idx=0]");
  EXPECT_EQ(host.log, "+text outline(0) +path segments(0)=0");
  EXPECT_TRUE(walk.vertex_lists[0].empty());
}

TEST(BuildTextPieces, FailedQueriesDoNotStopTheWalk) {
  FakeHost host;
  // Outline 0 cannot be looked up; vertex 1 of outline 1 cannot be read (it
  // would be (50, 50)).
  host.outlines = {{Square(500, 500, 10), true},
                   {{Point(100, -100), Point(50, 50), Point(110, -90)}, false, 1},
                   {Square(200, 0, 10)}};
  Walk walk(host);
  const std::string pieces = walk.Run(0);
  EXPECT_EQ(host.log,
            "+text outline(0)! +path segments(null)! outline(1) segments(1)=3 vertex(1,0) "
            "vertex(1,1)! vertex(1,2) outline(2) segments(2)=4 vertex(2,0) vertex(2,1) "
            "vertex(2,2) vertex(2,3)");
  // The failed vertex repeats the one before it and leaves the box alone; the
  // outline that could not be looked up keeps the zero box.
  ASSERT_EQ(walk.vertex_lists[1].size(), 3u);
  EXPECT_EQ(walk.vertex_lists[1][1].x, 100);
  EXPECT_EQ(walk.vertex_lists[1][1].y, -100);
  EXPECT_TRUE(walk.vertex_lists[0].empty());
  EXPECT_EQ(pieces,
            "[l=0 r=0 t=0 b=0 line=0 idx=0] [l=100 r=110 t=-100 b=-90 line=0 idx=1] "
            "[l=200 r=210 t=0 b=10 line=0 idx=2]");
  EXPECT_EQ(walk.count, 3);
}

TEST(BuildTextPieces, UnreadableFirstVertexReadsAsTheOrigin) {
  FakeHost host;
  host.outlines = {{{Point(50, 60), Point(70, 80)}, false, 0}};
  Walk walk(host);
  EXPECT_EQ(walk.Run(0), "[l=0 r=70 t=0 b=80 line=0 idx=0]");
}

TEST(BuildTextPieces, PassesThresholdModeTangentsAndDownsampleOn) {
  FakeHost host;
  // An "i" (stem, then dot 4 above it), and a second letter 2 to the right.
  host.outlines = {{Square(10, 20, 4)}, {Square(10, 12, 4)}, {Square(16, 20, 4)}};
  host.outlines[1].vertices[0] = {10, 12, 10, 12, 10, 9};  // tangent reaching up to 9
  Walk walk(host);
  EXPECT_EQ(walk.Run(3.99),
            "[l=10 r=14 t=20 b=24 line=0 idx=0] [l=10 r=14 t=12 b=16 line=1 idx=1] "
            "[l=16 r=20 t=20 b=24 line=1 idx=2]");
  EXPECT_EQ(walk.Run(4), "[l=10 r=14 t=12 b=24 line=0 idx=0] [l=16 r=20 t=20 b=24 line=0 idx=1]");
  EXPECT_EQ(walk.Run(4, false, true),
            "[l=10 r=14 t=9 b=24 line=0 idx=0] [l=16 r=20 t=20 b=24 line=0 idx=1]");
  EXPECT_EQ(walk.Run(4, true), "[l=10 r=20 t=12 b=24 line=0 idx=0]");
  EXPECT_EQ(walk.count, 1);
  EXPECT_EQ(walk.pieces.size(), 1u);
  walk.in_data.downsample_x = {1, 2};
  walk.in_data.downsample_y = {1, 3};
  EXPECT_EQ(walk.Run(4, true), "[l=5 r=10 t=4.0000001192092896 b=8.000000238418579 line=0 idx=0]");
}

TEST(BuildTextPieces, RefusedSuiteThrowsTheHostErrorAndReleasesWhatItTook) {
  FakeHost host;
  host.outlines = {{Square(0, 0, 10)}};
  host.refused_suite = "PF Path Data Suite";
  Walk walk(host);
  try {
    walk.Run(0);
    ADD_FAILURE() << "no exception";
  } catch (PF_Err err) {
    EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
  }
  EXPECT_EQ(host.acquired[0], 1);
  EXPECT_EQ(host.released[0], 1);
  EXPECT_EQ(host.acquired[1], 0);
  EXPECT_EQ(host.released[1], 0);
}

TEST(BuildTextPieces, MissingBasicSuiteThrowsTheHostError) {
  FakeHost host;
  host.outlines = {{Square(0, 0, 10)}};
  Walk walk(host);
  walk.in_data.pica_basicP = nullptr;
  EXPECT_THROW(walk.Run(0), PF_Err);
  EXPECT_EQ(host.log, "");
}

TEST(BuildTextPieces, ListsShorterThanTheCountAreAnIndexError) {
  FakeHost host;
  host.outlines = {{Square(0, 0, 10)}, {Square(20, 0, 10)}};
  Walk walk(host);
  walk.pieces.assign(1, Piece{});
  walk.vertex_lists.assign(2, VertexList{});
  walk.count = 2;
  EXPECT_THROW(BuildTextPieces(&walk.in_data, 0, walk.pieces, walk.vertex_lists, walk.count,
                               host.Handle(), false, false),
               std::out_of_range);
  EXPECT_EQ(host.released[0], host.acquired[0]);
}

}  // namespace
}  // namespace vantrel
