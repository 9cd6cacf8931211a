// The built Linux module through the strict host: its set-up commands, the
// controls it declares, and the inspection text a person reads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "vantrel/host/inspect.h"
#include "vantrel/host/module_loader.h"
#include "vantrel/host/session.h"

namespace vantrel::host {
namespace {

using ::testing::HasSubstr;

constexpr A_long kPremiere = 0x50724D72;  // 'PrMr'

class EffectModule : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = VANTREL_MODULE_PATH;
    if (path_.empty() || !std::filesystem::exists(path_))
      GTEST_SKIP() << "the Linux module is not built";
    module_ = LoadedModule::Load(path_);
  }

  PF_Err Run(PF_Cmd cmd, A_long appl_id = 0) {
    PF_InData in = session_.MakeInData();
    if (appl_id) in.appl_id = appl_id;
    return session_.Call(module_->entry(), cmd, &in, &out_, nullptr, nullptr);
  }

  std::filesystem::path path_;
  std::unique_ptr<LoadedModule> module_;
  Session session_;
  PF_OutData out_{};
};

TEST_F(EffectModule, GlobalSetupAgreesWithThePropertyResource) {
  ASSERT_EQ(Run(PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
  EXPECT_EQ(out_.my_version, module_->pipl().U32("eVER"));
  EXPECT_EQ(static_cast<uint32_t>(out_.out_flags), module_->pipl().U32("eGLO"));
  EXPECT_EQ(static_cast<uint32_t>(out_.out_flags2), module_->pipl().U32("eGL2"));
  EXPECT_TRUE(session_.suites().AcquireLog().empty());
  EXPECT_TRUE(session_.violations().empty());
}

TEST_F(EffectModule, PremiereGetsEightBitBgraOnly) {
  ASSERT_EQ(Run(PF_Cmd_GLOBAL_SETUP, kPremiere), PF_Err_NONE);
  EXPECT_EQ(session_.pixel_format_log(), (std::vector<std::string>{"clear", "add bgra"}));
  EXPECT_TRUE(session_.violations().empty());
}

TEST_F(EffectModule, AboutTextAndItsSuiteRefused) {
  ASSERT_EQ(Run(PF_Cmd_ABOUT), PF_Err_NONE);
  EXPECT_STREQ(out_.return_msg, "Vantrel, v1.3\rDelay's text transformations per character/word.");
  EXPECT_TRUE(session_.violations().empty());

  std::memset(out_.return_msg, 0, sizeof out_.return_msg);
  session_.suites().Refuse(kPFANSISuite);
  EXPECT_EQ(Run(PF_Cmd_ABOUT), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_STREQ(out_.return_msg, "");
}

TEST_F(EffectModule, ParamsSetupDeclaresTwentyThreeControlsCleanly) {
  ASSERT_EQ(Run(PF_Cmd_PARAMS_SETUP), PF_Err_NONE);
  EXPECT_EQ(out_.num_params, 24);
  ASSERT_EQ(session_.declared_params().size(), 23u);
  EXPECT_STREQ(session_.declared_params()[0].def.name, "Delay (frames)");
  EXPECT_EQ(session_.declared_params()[2].choices, "None|Reverse|Random|Increment");
  EXPECT_TRUE(session_.violations().empty()) << session_.violations()[0];
}

TEST_F(EffectModule, AFailedAddParamStopsTheSetUp) {
  session_.faults().fail_add_param_at = 5;
  session_.faults().fail_add_param_code = PF_Err_INVALID_CALLBACK;
  out_.num_params = -7;
  EXPECT_EQ(Run(PF_Cmd_PARAMS_SETUP), PF_Err_INVALID_CALLBACK);
  EXPECT_EQ(session_.declared_params().size(), 4u);
  EXPECT_EQ(out_.num_params, -7);
}

TEST_F(EffectModule, InspectionShowsResourceRunTimeAgreementAndControls) {
  const std::string text = DescribeModule(path_);
  EXPECT_THAT(text, HasSubstr("ELF section vantrel_pipl"));
  EXPECT_THAT(text, HasSubstr("0x00098004 = 1.3.0 develop build 4"));
  EXPECT_THAT(text, HasSubstr("0x00000006 = WIDE_TIME_INPUT | NON_PARAM_VARY"));
  EXPECT_THAT(text, HasSubstr("0x00020000 = AUTOMATIC_WIDE_TIME_INPUT"));
  EXPECT_THAT(text, HasSubstr("agrees with eVER"));
  EXPECT_THAT(text, ::testing::Not(HasSubstr("DIFFERS")));
  EXPECT_THAT(text,
              HasSubstr("  Vantrel, v1.3\n  Delay's text transformations per character/word.\n"));
  EXPECT_THAT(text, HasSubstr("num_params 24, 23 controls declared"));
  EXPECT_THAT(text, HasSubstr("in Premiere Pro: PF_Err_NONE, pixel formats: clear, add bgra"));
  EXPECT_THAT(text, HasSubstr("Strict host: no violations"));
  EXPECT_EQ(DeclaredControls(path_).size(), 23u);
}

}  // namespace
}  // namespace vantrel::host
