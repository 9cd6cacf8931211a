// Parameter set-up: the declared controls are part of the effect's stored
// format (ids, order, types), so they are compared with a table written out
// here independently of the module's own.
#include "params/params.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "binding/entry.h"
#include "fake_host.h"

namespace vantrel {
namespace {

using testing::FakeHost;

struct ExpectedControl {
  PF_ParamType type;
  const char* name;
  A_long id;
  PF_ParamFlags flags;
};

constexpr ExpectedControl kExpected[] = {
    {PF_Param_FLOAT_SLIDER, "Delay (frames)", 1, 0},
    {PF_Param_POPUP, "Separation Mode", 2, 0},
    {PF_Param_POPUP, "Order Modifier", 3, 0},
    {PF_Param_GROUP_START, "Range Selector", 4, 0x20},
    {PF_Param_FLOAT_SLIDER, "Range Start", 5, 0},
    {PF_Param_FLOAT_SLIDER, "Range End", 6, 0},
    {PF_Param_CHECKBOX, "Enable Range Guide", 7, 0},
    {PF_Param_GROUP_END, "", 8, 0},
    {PF_Param_GROUP_START, "Tracking", 9, 0x20},
    {PF_Param_FLOAT_SLIDER, "Tracking Amount", 10, 0},
    {PF_Param_POPUP, "Tracking Alignment", 11, 0},
    {PF_Param_GROUP_END, "", 12, 0},
    {PF_Param_GROUP_START, "Motion Blur", 13, 0x20},
    {PF_Param_CHECKBOX, "Enable Motion Blur", 14, 0},
    {PF_Param_FLOAT_SLIDER, "Motion Blur Amount", 15, 0},
    {PF_Param_GROUP_END, "", 16, 0},
    {PF_Param_FLOAT_SLIDER, "Separation Threshold", 17, 0},
    {PF_Param_CHECKBOX, "Enable Separation Guide", 18, 0},
    {PF_Param_FLOAT_SLIDER, "Opacity", 20, 0x80},
    {PF_Param_GROUP_START, "Utilities", 21, 0x20},
    {PF_Param_FLOAT_SLIDER, "Random Seed", 19, 0},
    {PF_Param_CHECKBOX, "Evaluate Tangents", 22, 0},
    {PF_Param_GROUP_END, "", 23, 0},
};

struct ExpectedSlider {
  int index;
  float min, max, dephault;
  A_short precision;
  PF_ValueDisplayFlags display;
};

constexpr ExpectedSlider kSliders[] = {
    {1, 0, 50, 1, 2, 0},      {5, 0, 100, 0, 2, 1},       {6, 0, 100, 100, 2, 1},
    {10, -100, 100, 0, 2, 0}, {15, 0, 500, 100, 2, 1},    {17, 0, 200, 1, 2, 0},
    {19, 0, 100, 100, 2, 1},  {21, 0, 10000, 1000, 0, 0},
};

struct ExpectedPopup {
  int index;
  const char* choices;
  A_short num_choices;
};

constexpr ExpectedPopup kPopups[] = {
    {2, "Character|Word", 2},
    {3, "None|Reverse|Random|Increment", 4},
    {11, "Left|Middle|Right", 3},
};

// True when every byte of `record` from `from` to its end is zero.
bool ZeroFrom(const void* record, std::size_t size, std::size_t from) {
  const auto* bytes = static_cast<const unsigned char*>(record);
  for (std::size_t i = from; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

class ParamsSetupTest : public ::testing::Test {
 protected:
  void SetUp() override { host_.out_data.num_params = 77; }
  const PF_ParamDef& Declared(int index) {
    return host_.declared.at(static_cast<std::size_t>(index - 1));
  }
  FakeHost host_;
};

TEST_F(ParamsSetupTest, DeclaresTheControlsInOrderWithTheirIds) {
  ASSERT_EQ(EntryPointFunc(PF_Cmd_PARAMS_SETUP, &host_.in_data, &host_.out_data, nullptr, nullptr,
                           nullptr),
            PF_Err_NONE);
  ASSERT_EQ(host_.declared.size(), 23u);
  EXPECT_EQ(host_.out_data.num_params, 24);
  EXPECT_EQ(host_.strcpy_calls, 23);
  for (const std::string& call : host_.calls) EXPECT_EQ(call, "add_param -1");

  for (int index = 1; index <= 23; ++index) {
    SCOPED_TRACE("params[" + std::to_string(index) + "]");
    const ExpectedControl& want = kExpected[index - 1];
    const PF_ParamDef& def = Declared(index);
    EXPECT_EQ(kControls[static_cast<std::size_t>(index - 1)].index, index);
    EXPECT_EQ(def.param_type, want.type);
    EXPECT_STREQ(def.name, want.name);
    EXPECT_TRUE(ZeroFrom(def.name, sizeof def.name, std::strlen(def.name)));
    EXPECT_EQ(def.uu.id, want.id);
    EXPECT_EQ(def.flags, want.flags);
    EXPECT_EQ(def.ui_flags, 0);
    EXPECT_EQ(def.ui_width, 0);
    EXPECT_EQ(def.ui_height, 0);
    EXPECT_EQ(def.unused, 0);
    switch (def.param_type) {
      case PF_Param_FLOAT_SLIDER:
        EXPECT_TRUE(ZeroFrom(&def.u, sizeof def.u, sizeof def.u.fs_d));
        break;
      case PF_Param_POPUP:
        EXPECT_TRUE(ZeroFrom(&def.u, sizeof def.u, sizeof def.u.pd));
        break;
      case PF_Param_CHECKBOX:
        EXPECT_TRUE(ZeroFrom(&def.u, sizeof def.u, sizeof def.u.bd));
        EXPECT_EQ(def.u.bd.reserved, 0);
        EXPECT_EQ(def.u.bd.reserved1, 0);
        break;
      default:
        EXPECT_TRUE(ZeroFrom(&def.u, sizeof def.u, 0));
        break;
    }
  }
}

TEST_F(ParamsSetupTest, FloatSlidersCarryRangeDefaultAndDisplay) {
  ASSERT_EQ(ParamsSetup(&host_.in_data, &host_.out_data), PF_Err_NONE);
  for (const ExpectedSlider& want : kSliders) {
    SCOPED_TRACE("params[" + std::to_string(want.index) + "]");
    const PF_FloatSliderDef& s = Declared(want.index).u.fs_d;
    EXPECT_EQ(s.value, static_cast<double>(want.dephault));
    EXPECT_EQ(s.dephault, want.dephault);
    EXPECT_EQ(s.valid_min, want.min);
    EXPECT_EQ(s.slider_min, want.min);
    EXPECT_EQ(s.valid_max, want.max);
    EXPECT_EQ(s.slider_max, want.max);
    EXPECT_EQ(s.precision, want.precision);
    EXPECT_EQ(s.display_flags, want.display);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(s.curve_tolerance), 0x3D4CCCCDu);
    EXPECT_EQ(s.phase, 0.0);
    EXPECT_TRUE(ZeroFrom(s.value_desc, sizeof s.value_desc, 0));
    EXPECT_EQ(s.fs_flags, 0u);
    EXPECT_EQ(s.useExponent, 0);
    EXPECT_EQ(s.exponent, 0.0f);
  }
}

TEST_F(ParamsSetupTest, PopupsAndCheckboxes) {
  ASSERT_EQ(ParamsSetup(&host_.in_data, &host_.out_data), PF_Err_NONE);
  for (const ExpectedPopup& want : kPopups) {
    SCOPED_TRACE("params[" + std::to_string(want.index) + "]");
    const PF_PopupDef& p = Declared(want.index).u.pd;
    ASSERT_NE(p.u.namesptr, nullptr);
    EXPECT_STREQ(p.u.namesptr, want.choices);
    EXPECT_EQ(p.num_choices, want.num_choices);
    EXPECT_EQ(p.value, 1);
    EXPECT_EQ(p.dephault, 1);
  }
  for (int index : {7, 14, 18, 22}) {
    SCOPED_TRACE("params[" + std::to_string(index) + "]");
    const PF_CheckBoxDef& b = Declared(index).u.bd;
    const int on = index == 22 ? 1 : 0;  // only "Evaluate Tangents" starts on
    EXPECT_EQ(b.value, on);
    EXPECT_EQ(b.dephault, on);
    ASSERT_NE(b.u.nameptr, nullptr);
    EXPECT_STREQ(b.u.nameptr, "");
  }
}

TEST_F(ParamsSetupTest, StopsAtTheFirstRefusedDeclaration) {
  host_.fail_add_param_call = 5;
  host_.add_param_error = 1234;
  EXPECT_EQ(EntryPointFunc(PF_Cmd_PARAMS_SETUP, &host_.in_data, &host_.out_data, nullptr, nullptr,
                           nullptr),
            1234);
  EXPECT_EQ(host_.calls.size(), 5u);
  EXPECT_EQ(host_.declared.size(), 4u);
  EXPECT_EQ(host_.out_data.num_params, 77);
}

}  // namespace
}  // namespace vantrel
