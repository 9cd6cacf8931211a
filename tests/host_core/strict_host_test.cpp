// The strict host's bookkeeping, driven through the probe module so that every
// host call comes from a real module across the entry point.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "probe_commands.h"
#include "vantrel/host/inspect.h"
#include "vantrel/host/module_loader.h"
#include "vantrel/host/session.h"

namespace vantrel::host {
namespace {

using ::testing::HasSubstr;

// "Probe Object Suite" 1: owned host objects for the handle checks.
A_Err NewObject(void** object) {
  Session* session = Session::Current();
  if (!session || !object) return A_Err_PARAMETER;
  return CallGuard("New", [&] {
    *object = session->handles().Issue(HandleKind::kWorld, std::make_unique<int>(7));
    return A_Err_NONE;
  });
}

A_Err DisposeObject(void* object) {
  Session* session = Session::Current();
  if (!session) return A_Err_PARAMETER;
  return session->handles().Dispose(HandleKind::kWorld, object) ? A_Err_NONE : A_Err_PARAMETER;
}

const probe::ObjectSuite1 kObjects = {NewObject, DisposeObject};

class StrictHost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { module_ = LoadedModule::Load(PROBE_PATH).release(); }
  static void TearDownTestSuite() {
    delete module_;
    module_ = nullptr;
  }

  void SetUp() override { session_.suites().Register(probe::kObjectSuite, 1, &kObjects); }

  PF_Err Run(PF_Cmd cmd) {
    in_ = session_.MakeInData();
    return session_.Call(module_->entry(), cmd, &in_, &out_, nullptr, nullptr);
  }

  static LoadedModule* module_;
  Session session_;
  PF_InData in_{};
  PF_OutData out_{};
};

LoadedModule* StrictHost::module_ = nullptr;

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

TEST_F(StrictHost, AnsiCallbacksWriteTextAndTheSuiteIsCountedOnceEachWay) {
  ASSERT_EQ(Run(probe::kAnsiText), PF_Err_NONE);
  EXPECT_STREQ(out_.return_msg, "Probe, v1.3\rtext");
  EXPECT_STREQ(out_.name, "Probe name");
  const auto counts = session_.suites().CountsFor(kPFANSISuite, 1);
  EXPECT_EQ(counts.acquired, 1);
  EXPECT_EQ(counts.released, 1);
  EXPECT_EQ(session_.suites().AcquireLog(), std::vector<std::string>{"PF ANSI Suite v1"});
  EXPECT_TRUE(session_.violations().empty()) << Joined(session_.violations());
}

TEST_F(StrictHost, SuiteStillHeldAfterReturnIsAViolationNamingIt) {
  ASSERT_EQ(Run(probe::kAcquireAndKeep), kSPNoError);
  ASSERT_EQ(session_.violations().size(), 1u);
  EXPECT_THAT(session_.violations()[0],
              HasSubstr("\"PF ANSI Suite\" v1 acquired but not released"));
  EXPECT_THAT(session_.violations()[0], HasSubstr("command 100"));
  EXPECT_EQ(session_.suites().Outstanding(), std::vector<std::string>{"PF ANSI Suite v1 (1 held)"});

  // A clean call afterwards does not report the old leak again.
  ASSERT_EQ(Run(probe::kAnsiText), PF_Err_NONE);
  EXPECT_EQ(session_.violations().size(), 1u);
}

TEST_F(StrictHost, RefusedOrMissingSuitesAreRefusalsNotViolations) {
  EXPECT_NE(Run(probe::kAcquireMissing), kSPNoError);
  EXPECT_EQ(session_.suites().CountsFor(probe::kMissingSuite, 1).refused, 1);

  session_.suites().Refuse(kPFANSISuite);
  EXPECT_NE(Run(probe::kAcquireAnsi), kSPNoError);
  EXPECT_EQ(Run(probe::kAnsiText), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_STREQ(out_.return_msg, "");
  EXPECT_EQ(session_.suites().CountsFor(kPFANSISuite, 1).refused, 2);
  EXPECT_EQ(session_.suites().CountsFor(kPFANSISuite, 1).acquired, 0);
  EXPECT_EQ(
      session_.suites().AcquireLog(),
      (std::vector<std::string>{"Probe Missing Suite v1", "PF ANSI Suite v1", "PF ANSI Suite v1"}));
  EXPECT_TRUE(session_.violations().empty()) << Joined(session_.violations());
}

TEST_F(StrictHost, RefusalCanTargetOneVersion) {
  session_.suites().Refuse(kPFANSISuite, 2);
  EXPECT_EQ(Run(probe::kAcquireAnsi), kSPNoError);
  EXPECT_EQ(out_.my_version, 0u);
}

TEST_F(StrictHost, HandBackNullSucceedsWithANullTable) {
  session_.suites().HandBackNull(kPFANSISuite, 1);
  EXPECT_EQ(Run(probe::kAcquireAnsi), kSPNoError);
  EXPECT_EQ(out_.my_version, 1u);  // the probe saw success with a null table
  EXPECT_EQ(Run(probe::kAnsiText), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(session_.violations().empty()) << Joined(session_.violations());
}

TEST_F(StrictHost, ReleasingASuiteNotHeldIsAViolation) {
  EXPECT_NE(Run(probe::kReleaseUnheld), kSPNoError);
  ASSERT_EQ(session_.violations().size(), 1u);
  EXPECT_THAT(session_.violations()[0],
              HasSubstr("ReleaseSuite of PF ANSI Suite v1, which is not held"));
}

TEST_F(StrictHost, NullBasicSuiteFault) {
  session_.faults().null_basic_suite = true;
  EXPECT_EQ(Run(probe::kHasBasicSuite), PF_Err_NONE);
  EXPECT_EQ(out_.my_version, 0u);
  EXPECT_EQ(Run(probe::kAnsiText), PF_Err_BAD_CALLBACK_PARAM);
  session_.faults().null_basic_suite = false;
  EXPECT_EQ(Run(probe::kHasBasicSuite), PF_Err_NONE);
  EXPECT_EQ(out_.my_version, 1u);
}

TEST_F(StrictHost, SprintfNeverWritesPastTheMessageBuffer) {
  std::memset(out_.return_msg, '#', sizeof out_.return_msg);
  EXPECT_EQ(Run(probe::kLongSprintf), PF_Err_NONE);  // sprintf returned 255
  EXPECT_EQ(std::strlen(out_.return_msg), 255u);
  ASSERT_EQ(session_.violations().size(), 1u);
  EXPECT_THAT(session_.violations()[0], HasSubstr("300 characters was cut to 255"));
}

TEST_F(StrictHost, PremierePixelFormatCallsAreLoggedInOrder) {
  EXPECT_EQ(Run(probe::kPixelFormats), PF_Err_NONE);
  EXPECT_EQ(session_.pixel_format_log(), (std::vector<std::string>{"clear", "add bgra"}));
  EXPECT_TRUE(session_.violations().empty()) << Joined(session_.violations());
}

TEST_F(StrictHost, AddParamKeepsTheControlsWithTheirStrings) {
  ASSERT_EQ(Run(probe::kDeclareParams), PF_Err_NONE);
  const auto& params = session_.declared_params();
  ASSERT_EQ(params.size(), static_cast<std::size_t>(probe::kDeclaredParamCount));
  EXPECT_STREQ(params[1].def.name, "Amount");
  EXPECT_EQ(params[2].choices, "A|B|C");
  EXPECT_EQ(params[2].def.u.pd.u.namesptr, nullptr);  // the module's pointer is not kept
  EXPECT_EQ(params[3].checkbox_text, "");
  EXPECT_EQ(params[3].def.u.bd.u.nameptr, nullptr);
  EXPECT_TRUE(session_.violations().empty()) << Joined(session_.violations());

  // clang-format off
  EXPECT_EQ(FormatControls(params),
            "  index  id  name            type          range             default  display             flags\n"
            "      0   -  (input layer)   layer         -                 -        -                   -\n"
            "      1   1  Group           group start   -                 -        -                   START_COLLAPSED\n"
            "      2   2    Amount        float slider  0 to 100          50.0%    1 decimal, percent  -\n"
            "      3   3    Mode          pop-up        3 choices: A|B|C  2 (B)    -                   -\n"
            "      4   4    Flag          checkbox      -                 on       -                   -\n"
            "      5   5  (end of group)  group end     -                 -        -                   -\n");
  // clang-format on
}

TEST_F(StrictHost, TheKthAddParamFailsWithTheGivenCode) {
  session_.faults().fail_add_param_at = 3;
  session_.faults().fail_add_param_code = PF_Err_OUT_OF_MEMORY;
  EXPECT_EQ(Run(probe::kDeclareParams), PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(session_.declared_params().size(), 2u);
}

TEST_F(StrictHost, NullParamDefinitionIsRefused) {
  EXPECT_EQ(Run(probe::kAddNullParam), PF_Err_BAD_CALLBACK_PARAM);
  ASSERT_EQ(session_.violations().size(), 1u);
  EXPECT_THAT(session_.violations()[0], HasSubstr("null definition"));
}

TEST_F(StrictHost, OwnedObjectLeftAliveIsAViolationAndReclaimed) {
  EXPECT_EQ(Run(probe::kLeakObject), PF_Err_NONE);
  ASSERT_EQ(session_.violations().size(), 1u);
  EXPECT_THAT(session_.violations()[0], HasSubstr("world@"));
  EXPECT_THAT(session_.violations()[0], HasSubstr("not disposed of"));
  EXPECT_TRUE(session_.handles().Outstanding().empty());
  EXPECT_EQ(session_.handles().IssuedCount(HandleKind::kWorld), 1u);
}

TEST_F(StrictHost, DoubleDisposeIsRefused) {
  EXPECT_NE(Run(probe::kDoubleDispose), PF_Err_NONE);
  ASSERT_EQ(session_.violations().size(), 1u);
  EXPECT_THAT(session_.violations()[0], HasSubstr("unknown or already disposed"));
}

TEST_F(StrictHost, AnExceptionLeavingTheEntryPointIsAViolationAndTheHostGoesOn) {
  EXPECT_EQ(Run(probe::kThrowException), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(Run(probe::kThrowInteger), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_THAT(
      session_.violations(),
      ::testing::ElementsAre("command 112: an exception left EntryPointFunc (probe gave up)",
                             "command 113: an exception left EntryPointFunc"));
  session_.ClearViolations();
  ASSERT_EQ(Run(probe::kAnsiText), PF_Err_NONE);
  EXPECT_STREQ(out_.return_msg, "Probe, v1.3\rtext");
  EXPECT_TRUE(session_.violations().empty()) << Joined(session_.violations());
}

TEST(HandleTable, FindsOnlyLiveHandlesOfTheRightKind) {
  Session session;
  Session::CurrentScope scope(&session);
  HandleTable& table = session.handles();
  int* object = table.Issue(HandleKind::kStream, std::make_unique<int>(3));
  EXPECT_EQ(table.Find<int>(HandleKind::kStream, object), object);
  EXPECT_EQ(table.Find<int>(HandleKind::kWorld, object), nullptr);
  EXPECT_EQ(table.Outstanding().size(), 1u);

  EXPECT_FALSE(table.Dispose(HandleKind::kWorld, object));  // wrong kind: still alive
  EXPECT_TRUE(table.Dispose(HandleKind::kStream, object));
  EXPECT_EQ(table.Find<int>(HandleKind::kStream, object), nullptr);  // stale
  EXPECT_FALSE(table.Dispose(HandleKind::kStream, object));          // double dispose

  // Borrowed handles are the host's: found, never disposed by a module.
  static int layer = 0;
  table.Lend(HandleKind::kLayer, &layer);
  EXPECT_EQ(table.Find<int>(HandleKind::kLayer, &layer), &layer);
  EXPECT_FALSE(table.Dispose(HandleKind::kLayer, &layer));
  EXPECT_TRUE(table.Outstanding().empty());
  table.Revoke(&layer);
  EXPECT_EQ(table.Find<int>(HandleKind::kLayer, &layer), nullptr);

  // A lookup is not answered from an earlier one across a change of the
  // table: the same address lent again as another kind, or another table.
  static int reused = 0;
  table.Lend(HandleKind::kPath, &reused);
  EXPECT_EQ(table.Find<int>(HandleKind::kPath, &reused), &reused);
  table.Lend(HandleKind::kWorld, &reused);
  EXPECT_EQ(table.Find<int>(HandleKind::kPath, &reused), nullptr);
  EXPECT_EQ(table.Find<int>(HandleKind::kWorld, &reused), &reused);
  EXPECT_EQ(Session().handles().Find<int>(HandleKind::kWorld, &reused), nullptr);
  table.Revoke(&reused);
  EXPECT_EQ(table.Find<int>(HandleKind::kWorld, &reused), nullptr);

  // The session's effect_ref is lent as well.
  EXPECT_NE(table.Find<void>(HandleKind::kProgPtr, session.effect_ref()), nullptr);
  EXPECT_EQ(session.violations().size(), 3u);
}

// An owned object that lends handles into its own parts and revokes them when
// it ends, as a text outlines object does with its paths.
struct Lender {
  explicit Lender(HandleTable& table) : table(table) {
    for (int& part : parts) table.Lend(HandleKind::kPath, &part);
  }
  ~Lender() {
    for (int& part : parts) table.Revoke(&part);
  }
  HandleTable& table;
  int parts[3] = {};
};

TEST(HandleTable, ObjectsMayRevokeTheirPartsWhenDisposedReclaimedOrLeftAtTheEnd) {
  Session session;
  Session::CurrentScope scope(&session);
  HandleTable& table = session.handles();
  Lender* disposed = table.Issue(HandleKind::kTextOutlines, std::make_unique<Lender>(table));
  const int* part = &disposed->parts[1];
  EXPECT_EQ(table.Find<const int>(HandleKind::kPath, part), part);
  EXPECT_TRUE(table.Dispose(HandleKind::kTextOutlines, disposed));
  EXPECT_EQ(table.Find<const int>(HandleKind::kPath, part), nullptr);

  const uint64_t serial = table.NextSerial();
  table.Issue(HandleKind::kTextOutlines, std::make_unique<Lender>(table));
  EXPECT_EQ(table.ReclaimOwnedSince(serial).size(), 1u);
  EXPECT_TRUE(table.Outstanding().empty());

  // Left alive when the session ends: destroyed without touching a dead table.
  table.Issue(HandleKind::kTextOutlines, std::make_unique<Lender>(table));
}

TEST(Session, HostFunctionsOutsideACallRefuseWithoutCrashing) {
  Session session;
  const void* table = nullptr;
  EXPECT_NE(session.basic_suite()->AcquireSuite(kPFANSISuite, 1, &table), kSPNoError);
  EXPECT_EQ(table, nullptr);
  PF_InData in = session.MakeInData();
  PF_ParamDef def{};
  EXPECT_NE(in.inter.add_param(in.effect_ref, -1, &def), PF_Err_NONE);
  EXPECT_TRUE(session.declared_params().empty());
}

TEST(Session, MakeInDataDescribesAfterEffectsAtFullResolution) {
  Session session;
  const PF_InData in = session.MakeInData();
  EXPECT_EQ(in.appl_id, 0x46585443);  // 'FXTC'
  EXPECT_EQ(in.version.major, 13);
  EXPECT_EQ(in.version.minor, 28);
  EXPECT_EQ(in.downsample_x.num, 1);
  EXPECT_EQ(in.downsample_y.den, 1u);
  EXPECT_EQ(in.pixel_aspect_ratio.num, 1);
  EXPECT_EQ(in.effect_ref, session.effect_ref());
  EXPECT_EQ(in.pica_basicP, session.basic_suite());
  EXPECT_EQ(in.utils, &session.utils());
  EXPECT_NE(in.utils->ansi.sprintf, nullptr);
}

TEST(CallGuard, TurnsExceptionsIntoErrorCodesAndViolations) {
  Session session;
  Session::CurrentScope scope(&session);
  EXPECT_EQ(CallGuard("Thrower", []() -> A_Err { throw HostError("bad input"); }), A_Err_GENERIC);
  EXPECT_EQ(CallGuard("Allocator", []() -> A_Err { throw std::bad_alloc(); }), A_Err_ALLOC);
  ASSERT_EQ(session.violations().size(), 1u);
  EXPECT_EQ(session.violations()[0], "Thrower: bad input");
}

}  // namespace
}  // namespace vantrel::host
