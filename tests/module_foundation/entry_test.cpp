// The entry point's dispatch and error guard, the about text and global set-up.
#include "binding/entry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake_host.h"

namespace vantrel {
namespace {

using testing::FakeHost;
using Calls = std::vector<std::string>;

constexpr char kAboutText[] = "Vantrel, v1.3\rDelay's text transformations per character/word.";

// The object representation, padding included: a handler that writes nothing
// leaves every byte as it was.
template <class T>
std::vector<unsigned char> Bytes(const T& record) {
  const auto* first = reinterpret_cast<const unsigned char*>(&record);
  return {first, first + sizeof record};
}

PF_Err Send(FakeHost& host, PF_Cmd cmd, PF_LayerDef* output = nullptr) {
  return EntryPointFunc(cmd, &host.in_data, &host.out_data, nullptr, output, nullptr);
}

TEST(ErrorGuard, ReturnsHandlerResultOrTheCodeOfWhatWasThrown) {
  EXPECT_EQ(RunGuarded([] { return PF_Err{7}; }), 7);
  EXPECT_EQ(RunGuarded([]() -> PF_Err { throw PF_Err{PF_Err_BAD_CALLBACK_PARAM}; }), 516);
  EXPECT_EQ(RunGuarded([]() -> PF_Err { throw std::length_error("vector"); }), 512);
  EXPECT_EQ(RunGuarded([]() -> PF_Err { throw std::bad_alloc(); }), 512);
  EXPECT_EQ(RunGuarded([]() -> PF_Err { throw std::out_of_range("at"); }), 512);
}

TEST(About, AfterEffectsGetsNameVersionAndDescription) {
  FakeHost host;
  host.in_data.appl_id = FakeHost::kAfterEffects;
  std::memset(host.out_data.return_msg, 'x', sizeof host.out_data.return_msg);

  ASSERT_EQ(Send(host, PF_Cmd_ABOUT), PF_Err_NONE);

  // Byte for byte, including the carriage return and the terminating zero.
  EXPECT_EQ(std::memcmp(host.out_data.return_msg, kAboutText, sizeof kAboutText), 0)
      << host.out_data.return_msg;
  EXPECT_EQ(host.calls, (Calls{"acquire PF ANSI Suite 1", "sprintf", "release PF ANSI Suite 1"}));
}

TEST(About, PremiereLeavesTheMessageAsGiven) {
  FakeHost host;
  host.in_data.appl_id = FakeHost::kPremiere;
  std::memset(host.out_data.return_msg, 'x', sizeof host.out_data.return_msg);
  const auto before = Bytes(host.out_data);

  EXPECT_EQ(Send(host, PF_Cmd_ABOUT), PF_Err_NONE);
  EXPECT_EQ(Bytes(host.out_data), before);
  EXPECT_TRUE(host.calls.empty());
}

TEST(About, MissingSuitesEndIn516WithoutAMessage) {
  {
    FakeHost host;
    host.in_data.pica_basicP = nullptr;
    EXPECT_EQ(Send(host, PF_Cmd_ABOUT), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.out_data.return_msg[0], '\0');
  }
  {
    FakeHost host;
    host.refused.insert("PF ANSI Suite 1");
    EXPECT_EQ(Send(host, PF_Cmd_ABOUT), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.out_data.return_msg[0], '\0');
    EXPECT_EQ(host.calls, (Calls{"acquire PF ANSI Suite 1"}));
  }
}

void ExpectGlobalValues(const PF_OutData& out) {
  EXPECT_EQ(out.my_version, 0x98004u);
  EXPECT_EQ(out.out_flags, 0x06);
  EXPECT_EQ(out.out_flags2, 0x20000);
}

TEST(GlobalSetup, AfterEffectsWritesVersionAndFlagsOnly) {
  FakeHost host;
  host.in_data.appl_id = FakeHost::kAfterEffects;
  ASSERT_EQ(Send(host, PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
  ExpectGlobalValues(host.out_data);
  EXPECT_TRUE(host.calls.empty());

  // Nothing but the three fields changes.
  PF_OutData expected;
  std::memset(&expected, 0, sizeof expected);
  expected.my_version = host.out_data.my_version;
  expected.out_flags = host.out_data.out_flags;
  expected.out_flags2 = host.out_data.out_flags2;
  EXPECT_EQ(Bytes(host.out_data), Bytes(expected));
}

TEST(GlobalSetup, PremiereDeclaresBgraOnly) {
  FakeHost host;
  host.in_data.appl_id = FakeHost::kPremiere;
  ASSERT_EQ(Send(host, PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
  ExpectGlobalValues(host.out_data);
  EXPECT_EQ(host.calls, (Calls{"acquire PF Pixel Format Suite 1", "clear pixel formats",
                               "add pixel format 0x61726762", "release PF Pixel Format Suite 1"}));
}

TEST(GlobalSetup, PremiereWithoutPixelFormatSuiteStillSucceeds) {
  for (bool refuse : {true, false}) {
    FakeHost host;
    host.in_data.appl_id = FakeHost::kPremiere;
    (refuse ? host.refused : host.null_tables).insert("PF Pixel Format Suite 1");
    ASSERT_EQ(Send(host, PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
    ExpectGlobalValues(host.out_data);
    EXPECT_EQ(host.calls, (Calls{"acquire PF Pixel Format Suite 1"}));
  }
}

TEST(Dispatch, UnhandledCommandsSucceedAndWriteNothing) {
  const PF_Cmd commands[] = {PF_Cmd_GLOBAL_SETDOWN,
                             PF_Cmd_SEQUENCE_SETUP,
                             PF_Cmd_SEQUENCE_RESETUP,
                             PF_Cmd_SEQUENCE_SETDOWN,
                             PF_Cmd_DO_DIALOG,
                             PF_Cmd_FRAME_SETUP,
                             PF_Cmd_FRAME_SETDOWN,
                             PF_Cmd_USER_CHANGED_PARAM,
                             PF_Cmd_UPDATE_PARAMS_UI,
                             PF_Cmd_EVENT,
                             PF_Cmd_SMART_PRE_RENDER,
                             PF_Cmd_SMART_RENDER,
                             PF_Cmd_UNUSED_0,
                             999,
                             -1};
  for (PF_Cmd cmd : commands) {
    SCOPED_TRACE(cmd);
    FakeHost host;
    std::memset(&host.out_data, 0x5A, sizeof host.out_data);
    PF_LayerDef output;
    std::memset(&output, 0xA5, sizeof output);
    const auto in_before = Bytes(host.in_data);
    const auto out_before = Bytes(host.out_data);
    const auto output_before = Bytes(output);

    EXPECT_EQ(Send(host, cmd, &output), PF_Err_NONE);
    EXPECT_EQ(Bytes(host.out_data), out_before);
    EXPECT_EQ(Bytes(host.in_data), in_before);
    EXPECT_EQ(Bytes(output), output_before);
    EXPECT_TRUE(host.calls.empty());
  }
}

}  // namespace
}  // namespace vantrel
