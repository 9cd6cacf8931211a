// The host-interface header against the measured Windows x64 layout. Built
// natively here; fixed-width types make the native layout the Windows one.
#include <gtest/gtest.h>

#include "abi_check.h"

namespace {

TEST(AbiLayout, HeaderMatchesTheMeasuredTable) {
  abi_layout::Report report;
  abi_layout::CheckAll(report);
  EXPECT_EQ(report.checked(), abi_layout::kExpectedChecks);
  for (const std::string& mismatch : report.mismatches()) ADD_FAILURE() << mismatch;
}

}  // namespace
