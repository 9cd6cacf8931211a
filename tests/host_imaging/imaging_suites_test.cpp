// The imaging suites and utility callbacks as a module reaches them: through
// the session's suite registry and PF_InData, inside a module call.
#include "vantrel/host/imaging_suites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>

#include "vantrel/host/imaging.h"
#include "vantrel/host/session.h"

namespace vantrel::host {
namespace {

// Runs a test body as the body of a module call, so that the session is
// current and its end-of-call checks (leaks) apply.
std::function<PF_Err(PF_InData*)>* g_body = nullptr;

PF_Err FakeEntry(PF_Cmd, PF_InData* in_data, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
  return (*g_body)(in_data);
}

class ImagingSuites : public ::testing::Test {
 protected:
  ImagingSuites() { RegisterImagingSuites(session_); }

  PF_Err CallModule(std::function<PF_Err(PF_InData*)> body) {
    g_body = &body;
    PF_InData in = session_.MakeInData();
    PF_OutData out{};
    const PF_Err err = session_.Call(FakeEntry, PF_Cmd_RENDER, &in, &out, nullptr, nullptr);
    g_body = nullptr;
    return err;
  }

  template <class Suite>
  const Suite* Acquire(const char* name, int32_t version, PF_InData* in) {
    const void* table = nullptr;
    EXPECT_EQ(in->pica_basicP->AcquireSuite(name, version, &table), 0) << name;
    return static_cast<const Suite*>(table);
  }

  bool HasViolation(const std::string& needle) const {
    const auto v = session_.violations();
    return std::any_of(v.begin(), v.end(),
                       [&](const std::string& s) { return s.find(needle) != std::string::npos; });
  }

  std::string Violations() const {
    std::string all;
    for (const std::string& s : session_.violations()) all += s + "\n";
    return all;
  }

  Session session_;
};

TEST_F(ImagingSuites, WorldSuiteMakesDescribesAndDisposesAnEightBitWorld) {
  const PF_Err err = CallModule([&](PF_InData* in) -> PF_Err {
    auto* ws = Acquire<AEGP_WorldSuite3>(kAEGPWorldSuite, kAEGPWorldSuiteVersion3, in);
    AEGP_WorldH world = nullptr;
    EXPECT_EQ(ws->AEGP_New(0, AEGP_WorldType_8, 7, 5, &world), A_Err_NONE);
    EXPECT_NE(world, nullptr);
    AEGP_WorldType type = 0;
    A_long w = 0, h = 0;
    A_u_long rowbytes = 0;
    PF_Pixel8* base = nullptr;
    EXPECT_EQ(ws->AEGP_GetType(world, &type), A_Err_NONE);
    EXPECT_EQ(type, AEGP_WorldType_8);
    EXPECT_EQ(ws->AEGP_GetSize(world, &w, &h), A_Err_NONE);
    EXPECT_EQ(ws->AEGP_GetRowBytes(world, &rowbytes), A_Err_NONE);
    EXPECT_EQ(ws->AEGP_GetBaseAddr8(world, &base), A_Err_NONE);
    PF_EffectWorld pf;
    std::memset(&pf, 0xAB, sizeof pf);  // every byte of the record must be written
    EXPECT_EQ(ws->AEGP_FillOutPFEffectWorld(world, &pf), A_Err_NONE);
    EXPECT_EQ(pf.width, 7);
    EXPECT_EQ(pf.height, 5);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 5);
    EXPECT_EQ(static_cast<A_u_long>(pf.rowbytes), rowbytes);
    EXPECT_GE(pf.rowbytes, 7 * 4);
    EXPECT_EQ(pf.data, base);
    EXPECT_EQ(pf.extent_hint.right, 7);
    EXPECT_EQ(pf.extent_hint.bottom, 5);
    EXPECT_EQ(pf.pix_aspect_ratio.num, 1);
    EXPECT_EQ(pf.pix_aspect_ratio.den, 1u);
    EXPECT_EQ(pf.world_flags, 0);
    EXPECT_EQ(pf.reserved0, nullptr);
    EXPECT_EQ(pf.platform_ref, nullptr);
    EXPECT_EQ(pf.origin_x, 0);
    EXPECT_EQ(pf.dephault, 0);
    EXPECT_EQ(base[0].alpha, 0);  // new worlds are transparent
    void* deep = nullptr;
    EXPECT_NE(ws->AEGP_GetBaseAddr16(world, &deep), A_Err_NONE);
    EXPECT_EQ(ws->AEGP_Dispose(world), A_Err_NONE);
    in->pica_basicP->ReleaseSuite(kAEGPWorldSuite, kAEGPWorldSuiteVersion3);
    return PF_Err_NONE;
  });
  EXPECT_EQ(err, PF_Err_NONE);
  // The 16-bit query on an 8-bit world is the one violation.
  EXPECT_EQ(session_.violations().size(), 1u) << Violations();
}

TEST_F(ImagingSuites, RefusesOtherWorldTypesDoubleDisposeAndStaleHandles) {
  CallModule([&](PF_InData* in) -> PF_Err {
    auto* ws = Acquire<AEGP_WorldSuite3>(kAEGPWorldSuite, kAEGPWorldSuiteVersion3, in);
    AEGP_WorldH world = nullptr;
    EXPECT_NE(ws->AEGP_New(0, AEGP_WorldType_16, 4, 4, &world), A_Err_NONE);
    EXPECT_EQ(world, nullptr);
    EXPECT_NE(ws->AEGP_New(0, AEGP_WorldType_8, -1, 4, &world), A_Err_NONE);
    EXPECT_NE(ws->AEGP_New(0, AEGP_WorldType_8, 4, 4, nullptr), A_Err_NONE);
    EXPECT_EQ(ws->AEGP_New(0, AEGP_WorldType_8, 4, 4, &world), A_Err_NONE);
    EXPECT_EQ(ws->AEGP_Dispose(world), A_Err_NONE);
    EXPECT_NE(ws->AEGP_Dispose(world), A_Err_NONE);
    PF_EffectWorld pf{};
    EXPECT_NE(ws->AEGP_FillOutPFEffectWorld(world, &pf), A_Err_NONE);
    in->pica_basicP->ReleaseSuite(kAEGPWorldSuite, kAEGPWorldSuiteVersion3);
    return PF_Err_NONE;
  });
  EXPECT_TRUE(HasViolation("AEGP_WorldType_8")) << Violations();
  EXPECT_TRUE(HasViolation("AEGP_FillOutPFEffectWorld")) << Violations();
  EXPECT_GE(session_.violations().size(), 5u) << Violations();
}

TEST_F(ImagingSuites, AWorldLeftUndisposedIsReportedAfterTheCall) {
  CallModule([&](PF_InData* in) -> PF_Err {
    auto* ws = Acquire<AEGP_WorldSuite3>(kAEGPWorldSuite, kAEGPWorldSuiteVersion3, in);
    AEGP_WorldH world = nullptr;
    EXPECT_EQ(ws->AEGP_New(0, AEGP_WorldType_8, 3, 3, &world), A_Err_NONE);
    in->pica_basicP->ReleaseSuite(kAEGPWorldSuite, kAEGPWorldSuiteVersion3);
    return PF_Err_NONE;
  });
  ASSERT_EQ(session_.violations().size(), 1u) << Violations();
  EXPECT_NE(session_.violations()[0].find("not disposed"), std::string::npos) << Violations();
}

TEST_F(ImagingSuites, UtilityCallbacksDrawAPieceAsTheModuleDoes) {
  // Clear, make a temporary piece, copy_hq a box of the input into it,
  // composite it back with transform_world: the piece lands where it was.
  Image input(32, 16), output(32, 16);
  for (int y = 4; y < 10; ++y)
    for (int x = 6; x < 12; ++x) input.at(x, y) = {255, 200, 100, 50};
  PF_EffectWorld in_world = input.AsWorld(), out_world = output.AsWorld();
  const PF_Err err = CallModule([&](PF_InData* in) -> PF_Err {
    auto* ws = Acquire<AEGP_WorldSuite3>(kAEGPWorldSuite, kAEGPWorldSuiteVersion3, in);
    auto* wt = Acquire<PF_WorldTransformSuite1>(kPFWorldTransformSuite,
                                                kPFWorldTransformSuiteVersion1, in);
    const PF_Pixel grey{255, 128, 128, 128};
    EXPECT_EQ(in->utils->fill(in->effect_ref, &grey, nullptr, &out_world), PF_Err_NONE);
    AEGP_WorldH temp = nullptr;
    EXPECT_EQ(ws->AEGP_New(0, AEGP_WorldType_8, 8, 8, &temp), A_Err_NONE);
    PF_EffectWorld piece;
    EXPECT_EQ(ws->AEGP_FillOutPFEffectWorld(temp, &piece), A_Err_NONE);
    EXPECT_EQ(in->utils->fill(in->effect_ref, nullptr, nullptr, &piece), PF_Err_NONE);
    PF_Rect box{5, 3, 13, 11};
    EXPECT_EQ(wt->copy_hq(in->effect_ref, &in_world, &piece, &box, nullptr), PF_Err_NONE);
    PF_CompositeMode mode{};
    mode.xfer = PF_Xfer_IN_FRONT;
    mode.opacity = 255;
    const PF_FloatMatrix m{{{1, 0, 0}, {0, 1, 0}, {5, 3, 1}}};
    EXPECT_EQ(in->utils->transform_world(in->effect_ref, PF_Quality_HI, PF_MF_Alpha_STRAIGHT,
                                         PF_Field_FRAME, &piece, &mode, nullptr, &m, 1, true,
                                         &out_world.extent_hint, &out_world),
              PF_Err_NONE);
    EXPECT_EQ(ws->AEGP_Dispose(temp), A_Err_NONE);
    in->pica_basicP->ReleaseSuite(kAEGPWorldSuite, kAEGPWorldSuiteVersion3);
    in->pica_basicP->ReleaseSuite(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1);
    return PF_Err_NONE;
  });
  EXPECT_EQ(err, PF_Err_NONE);
  EXPECT_TRUE(session_.violations().empty()) << Violations();
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 32; ++x) {
      const bool piece = x >= 6 && x < 12 && y >= 4 && y < 10;
      const PF_Pixel& p = output.at(x, y);
      EXPECT_EQ(p.red, piece ? 200 : 128) << x << "," << y;
      EXPECT_EQ(p.alpha, 255);
    }
  }
}

TEST_F(ImagingSuites, CallbacksRefuseBadArgumentsWithAnErrorNotACrash) {
  Image img(4, 4);
  PF_EffectWorld w = img.AsWorld();
  CallModule([&](PF_InData* in) -> PF_Err {
    PF_UtilCallbacks* u = in->utils;
    PF_CompositeMode mode{};
    mode.xfer = PF_Xfer_IN_FRONT;
    const PF_FloatMatrix m[3] = {};
    EXPECT_EQ(u->transform_world(in->effect_ref, PF_Quality_HI, PF_MF_Alpha_STRAIGHT,
                                 PF_Field_FRAME, nullptr, &mode, nullptr, m, 1, true, nullptr, &w),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(u->transform_world(in->effect_ref, PF_Quality_HI, PF_MF_Alpha_STRAIGHT,
                                 PF_Field_FRAME, &w, &mode, nullptr, m, 3, true, nullptr, &w),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(u->transform_world(in->effect_ref, PF_Quality_HI, PF_MF_Alpha_STRAIGHT,
                                 PF_Field_FRAME, &w, &mode, nullptr, nullptr, 1, true, nullptr, &w),
              PF_Err_BAD_CALLBACK_PARAM);
    PF_EffectWorld narrow = w;
    narrow.rowbytes = 4;
    EXPECT_EQ(u->fill(in->effect_ref, nullptr, nullptr, &narrow), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(u->fill(in->effect_ref, nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    int other_token = 0;
    EXPECT_EQ(u->fill(reinterpret_cast<PF_ProgPtr>(&other_token), nullptr, nullptr, &w),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(u->copy(in->effect_ref, nullptr, &w, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    return PF_Err_NONE;
  });
  EXPECT_EQ(session_.violations().size(), 7u) << Violations();
  EXPECT_TRUE(HasViolation("num_matrices 3")) << Violations();
  EXPECT_TRUE(HasViolation("effect_ref")) << Violations();
}

struct Columns {
  PF_EffectWorld world;
  std::atomic<int> calls{0};
  std::atomic<int> sessions_seen{0};
};

A_Err TintColumn(void* refcon, A_long, A_long i, A_long) {
  auto* c = static_cast<Columns*>(refcon);
  c->calls++;
  if (Session::Current()) c->sessions_seen++;
  char* p = reinterpret_cast<char*>(c->world.data) + i * 4;
  for (A_long y = 0; y < c->world.height; ++y, p += (c->world.rowbytes / 4) * 4) {
    reinterpret_cast<PF_Pixel*>(p)->green = 255;
  }
  return A_Err_NONE;
}

A_Err FailAtFive(void*, A_long, A_long i, A_long) { return i >= 5 ? 40 + i : 0; }

TEST_F(ImagingSuites, IterateSuiteRunsEveryColumnAndReportsTheFirstError) {
  Image img(37, 9);
  Columns columns;
  columns.world = img.AsWorld();
  A_long threads = 0;
  CallModule([&](PF_InData* in) -> PF_Err {
    auto* it = Acquire<AEGP_IterateSuite1>(kAEGPIterateSuite, kAEGPIterateSuiteVersion1, in);
    EXPECT_EQ(it->AEGP_GetNumThreads(&threads), A_Err_NONE);
    EXPECT_EQ(it->AEGP_IterateGeneric(columns.world.width, &columns, TintColumn), A_Err_NONE);
    EXPECT_EQ(it->AEGP_IterateGeneric(50, nullptr, FailAtFive), 45);
    EXPECT_NE(it->AEGP_IterateGeneric(3, nullptr, nullptr), A_Err_NONE);
    std::atomic<int> once{0};
    EXPECT_EQ(it->AEGP_IterateGeneric(PF_Iterations_ONCE_PER_PROCESSOR, &once,
                                      [](void* r, A_long, A_long, A_long n) -> A_Err {
                                        static_cast<std::atomic<int>*>(r)->fetch_add(1);
                                        return n > 0 ? 0 : 1;
                                      }),
              A_Err_NONE);
    EXPECT_EQ(once.load(), threads);
    EXPECT_EQ(in->utils->iterate_generic(4, &columns, TintColumn), PF_Err_NONE);
    in->pica_basicP->ReleaseSuite(kAEGPIterateSuite, kAEGPIterateSuiteVersion1);
    return PF_Err_NONE;
  });
  EXPECT_GE(threads, 2);
  EXPECT_EQ(columns.calls.load(), 37 + 4);
  EXPECT_EQ(columns.sessions_seen.load(), 37 + 4);  // host calls work from worker threads
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 37; ++x) ASSERT_EQ(img.at(x, y).green, 255) << x << "," << y;
}

}  // namespace
}  // namespace vantrel::host
