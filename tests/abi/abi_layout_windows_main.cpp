// The same generated checks, cross-compiled for Windows x64 and run under
// wine: prints every mismatch and a summary, and fails when anything differs.
#include <cstdio>

#include "abi_check.h"

int main() {
  abi_layout::Report report;
  abi_layout::CheckAll(report);
  for (const std::string& mismatch : report.mismatches()) {
    std::printf("MISMATCH %s\n", mismatch.c_str());
  }
  std::printf("checked %d of %d items, %zu mismatches\n", report.checked(),
              abi_layout::kExpectedChecks, report.mismatches().size());
  const bool ok = report.mismatches().empty() && report.checked() == abi_layout::kExpectedChecks;
  return ok ? 0 : 1;
}
