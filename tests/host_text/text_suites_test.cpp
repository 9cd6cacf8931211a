#include "vantrel/host/text_suites.h"

#include <gtest/gtest.h>

#include "vantrel/host/layer.h"
#include "vantrel/host/session.h"
#include "vantrel/host/text_layout.h"

namespace vantrel::host {
namespace {

// A text layer whose contours are those of a layout, whatever the time.
class FakeTextLayer : public HostLayer {
 public:
  explicit FakeTextLayer(TextLayout layout) : layout_(std::move(layout)) {}
  AEGP_ObjectType ObjectType() const override { return AEGP_ObjectType_TEXT; }
  std::optional<AEGP_ThreeDVal> StreamValue(AEGP_LayerStream, const A_Time&) const override {
    return std::nullopt;
  }
  TextOutlineSet TextOutlines(const A_Time& t) const override {
    last_time = t;
    return layout_.Outlines();
  }
  mutable A_Time last_time{};

 private:
  TextLayout layout_;
};

class TextSuites : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTextSuites(session_);
    text_ = static_cast<const AEGP_TextLayerSuite1*>(
        session_.suites().Find(kAEGPTextLayerSuite, kAEGPTextLayerSuiteVersion1));
    path_ = static_cast<const PF_PathDataSuite1*>(
        session_.suites().Find(kPFPathDataSuite, kPFPathDataSuiteVersion1));
    ASSERT_NE(text_, nullptr);
    ASSERT_NE(path_, nullptr);
    session_.handles().Lend(HandleKind::kLayer, static_cast<const HostLayer*>(&layer_));
  }

  AEGP_LayerH layer() { return reinterpret_cast<AEGP_LayerH>(static_cast<HostLayer*>(&layer_)); }
  AEGP_TextOutlinesH NewOutlines() {
    AEGP_TextOutlinesH h = nullptr;
    const A_Time t{30, 24};
    EXPECT_EQ(text_->AEGP_GetNewTextOutlines(layer(), &t, &h), A_Err_NONE);
    EXPECT_NE(h, nullptr);
    return h;
  }
  std::size_t Violations() const { return session_.violations().size(); }

  Session session_;
  Session::CurrentScope scope_{&session_};
  FakeTextLayer layer_{TextLayout::Create("io", TextStyle{}, 10, 100)};
  const AEGP_TextLayerSuite1* text_ = nullptr;
  const PF_PathDataSuite1* path_ = nullptr;
};

TEST_F(TextSuites, WalkReadsEveryContourAsTheLayerReportsIt) {
  AEGP_TextOutlinesH h = NewOutlines();
  EXPECT_EQ(layer_.last_time.value, 30);
  EXPECT_EQ(layer_.last_time.scale, 24u);
  A_long count = 0;
  ASSERT_EQ(text_->AEGP_GetNumTextOutlines(h, &count), A_Err_NONE);
  const TextLayout same = TextLayout::Create("io", TextStyle{}, 10, 100);
  const TextOutlineSet& expected = same.Outlines();
  ASSERT_EQ(count, static_cast<A_long>(expected.size()));
  ASSERT_EQ(count, 4);
  const PF_ProgPtr ref = session_.effect_ref();
  for (A_long i = 0; i < count; ++i) {
    PF_PathOutlinePtr p = nullptr;
    ASSERT_EQ(text_->AEGP_GetIndexedTextOutline(h, i, &p), A_Err_NONE);
    A_long segments = -1;
    ASSERT_EQ(path_->PF_PathNumSegments(ref, p, &segments), PF_Err_NONE);
    ASSERT_EQ(segments, static_cast<A_long>(expected[i].vertices.size()));
    PF_Boolean open = 1;
    EXPECT_EQ(path_->PF_PathIsOpen(ref, p, &open), PF_Err_NONE);
    EXPECT_EQ(open, 0);
    for (A_long v = 0; v < segments; ++v) {
      PF_PathVertex vertex{};
      ASSERT_EQ(path_->PF_PathVertexInfo(ref, p, v, &vertex), PF_Err_NONE);
      EXPECT_EQ(vertex.x, expected[i].vertices[v].x);
      EXPECT_EQ(vertex.tan_in_y, expected[i].vertices[v].tan_in_y);
    }
    PF_PathVertex untouched{};
    EXPECT_EQ(path_->PF_PathVertexInfo(ref, p, segments, &untouched), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(path_->PF_PathVertexInfo(ref, p, -1, &untouched), PF_Err_BAD_CALLBACK_PARAM);
  }
  EXPECT_EQ(Violations(), 2u * count);  // the out-of-range vertex reads
  EXPECT_EQ(text_->AEGP_DisposeTextOutlines(h), A_Err_NONE);
  EXPECT_TRUE(session_.handles().Outstanding().empty());
}

TEST_F(TextSuites, OutOfRangeOutlineIndexIsRefused) {
  AEGP_TextOutlinesH h = NewOutlines();
  PF_PathOutlinePtr p = reinterpret_cast<PF_PathOutlinePtr>(1);
  EXPECT_EQ(text_->AEGP_GetIndexedTextOutline(h, 4, &p), A_Err_PARAMETER);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(text_->AEGP_GetIndexedTextOutline(h, -1, &p), A_Err_PARAMETER);
  EXPECT_EQ(Violations(), 2u);
  EXPECT_EQ(text_->AEGP_DisposeTextOutlines(h), A_Err_NONE);
}

TEST_F(TextSuites, DisposedOutlinesAndTheirPathsGoStale) {
  AEGP_TextOutlinesH h = NewOutlines();
  PF_PathOutlinePtr p = nullptr;
  ASSERT_EQ(text_->AEGP_GetIndexedTextOutline(h, 0, &p), A_Err_NONE);
  ASSERT_EQ(text_->AEGP_DisposeTextOutlines(h), A_Err_NONE);

  EXPECT_NE(text_->AEGP_DisposeTextOutlines(h), A_Err_NONE);  // double dispose
  A_long count = 99;
  EXPECT_NE(text_->AEGP_GetNumTextOutlines(h, &count), A_Err_NONE);
  A_long segments = 0;
  EXPECT_EQ(path_->PF_PathNumSegments(session_.effect_ref(), p, &segments),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(Violations(), 3u);
}

TEST_F(TextSuites, LeakedOutlinesReclaimedByTheSessionTakeTheirPathsAlong) {
  const uint64_t serial = session_.handles().NextSerial();
  AEGP_TextOutlinesH h = NewOutlines();
  PF_PathOutlinePtr p = nullptr;
  ASSERT_EQ(text_->AEGP_GetIndexedTextOutline(h, 1, &p), A_Err_NONE);
  EXPECT_EQ(session_.handles().ReclaimOwnedSince(serial).size(), 1u);
  PF_Boolean open = 0;
  EXPECT_EQ(path_->PF_PathIsOpen(session_.effect_ref(), p, &open), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(TextSuites, WrongHandlesAreRefused) {
  AEGP_TextOutlinesH h = nullptr;
  const A_Time t{0, 24};
  int not_a_layer = 0;
  EXPECT_EQ(text_->AEGP_GetNewTextOutlines(reinterpret_cast<AEGP_LayerH>(&not_a_layer), &t, &h),
            A_Err_PARAMETER);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(text_->AEGP_GetNewTextOutlines(layer(), nullptr, &h), A_Err_PARAMETER);

  h = NewOutlines();
  // An outlines handle is no path, and a path needs the host's effect_ref.
  A_long segments = 0;
  EXPECT_EQ(path_->PF_PathNumSegments(session_.effect_ref(), h, &segments),
            PF_Err_BAD_CALLBACK_PARAM);
  PF_PathOutlinePtr p = nullptr;
  ASSERT_EQ(text_->AEGP_GetIndexedTextOutline(h, 0, &p), A_Err_NONE);
  EXPECT_EQ(path_->PF_PathNumSegments(nullptr, p, &segments), PF_Err_BAD_CALLBACK_PARAM);
  // A path is not an outlines handle either.
  EXPECT_NE(text_->AEGP_DisposeTextOutlines(reinterpret_cast<AEGP_TextOutlinesH>(p)), A_Err_NONE);
  EXPECT_EQ(text_->AEGP_DisposeTextOutlines(h), A_Err_NONE);
  EXPECT_EQ(Violations(), 5u);
}

TEST_F(TextSuites, UnimplementedPathSlotsRefuseInsteadOfCrashing) {
  A_FpLong length = 0, x = 0, y = 0;
  PF_Boolean inverted = 0;
  A_char name[64] = {};
  EXPECT_NE(path_->PF_PathGetSegLength(session_.effect_ref(), nullptr, 0, nullptr, &length),
            PF_Err_NONE);
  EXPECT_NE(path_->PF_PathEvalSegLength(session_.effect_ref(), nullptr, nullptr, 0, 0, &x, &y),
            PF_Err_NONE);
  EXPECT_NE(path_->PF_PathIsInverted(session_.effect_ref(), 0, &inverted), PF_Err_NONE);
  EXPECT_NE(path_->PF_PathGetName(session_.effect_ref(), 0, name), PF_Err_NONE);
  EXPECT_EQ(Violations(), 4u);
}

TEST(TextSuitesOutsideACall, FunctionsRefuseWithoutACurrentSession) {
  Session session;
  RegisterTextSuites(session);
  const auto* text = static_cast<const AEGP_TextLayerSuite1*>(
      session.suites().Find(kAEGPTextLayerSuite, kAEGPTextLayerSuiteVersion1));
  A_long count = 0;
  EXPECT_NE(text->AEGP_GetNumTextOutlines(nullptr, &count), A_Err_NONE);
}

}  // namespace
}  // namespace vantrel::host
