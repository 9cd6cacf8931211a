// SuiteCache: one host reference per (suite, version) per cache, all released
// when the cache goes away, however the call ends.
#include "binding/suite_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/entry.h"
#include "fake_host.h"

namespace vantrel {
namespace {

using testing::FakeHost;
using Calls = std::vector<std::string>;

// The calls of one kind ("acquire" or "release"), sorted: release order is
// not part of the contract.
Calls Only(const Calls& calls, const std::string& kind) {
  Calls out;
  for (const std::string& call : calls) {
    if (call.rfind(kind + " ", 0) == 0) out.push_back(call.substr(kind.size() + 1));
  }
  std::sort(out.begin(), out.end());
  return out;
}

PF_Err ThrownCode(auto&& body) {
  try {
    body();
  } catch (PF_Err err) {
    return err;
  }
  return PF_Err_NONE;
}

TEST(SuiteCache, AcquiresOnFirstUseOnlyAndReleasesOnce) {
  FakeHost host;
  {
    SuiteCache suites(host.basic());
    const auto* first = &suites.Get<AEGP_LayerSuite5>();
    const auto* again = &suites.Get<AEGP_LayerSuite5>();
    EXPECT_EQ(first, again);
    EXPECT_EQ(host.calls, (Calls{"acquire AEGP Layer Suite 11"}));
  }
  EXPECT_EQ(host.calls, (Calls{"acquire AEGP Layer Suite 11", "release AEGP Layer Suite 11"}));
}

TEST(SuiteCache, UnusedCacheMakesNoHostCall) {
  FakeHost host;
  { SuiteCache suites(host.basic()); }
  EXPECT_TRUE(host.calls.empty());
}

TEST(SuiteCache, StreamSuiteVersionsAreSeparateSlots) {
  FakeHost host;
  {
    SuiteCache suites(host.basic());
    suites.Get<AEGP_StreamSuite4>();
    suites.Get<AEGP_StreamSuite3>();
    suites.Get<AEGP_StreamSuite4>();
  }
  const Calls both = {"AEGP Stream Suite 8", "AEGP Stream Suite 9"};
  EXPECT_EQ(Only(host.calls, "acquire"), both);
  EXPECT_EQ(Only(host.calls, "release"), both);
}

TEST(SuiteCache, EverySuiteHasItsOwnNameAndVersion) {
  FakeHost host;
  {
    SuiteCache suites(host.basic());
    suites.Get<PF_ANSICallbacksSuite1>();
    suites.Get<AEGP_PFInterfaceSuite1>();
    suites.Get<AEGP_LayerSuite5>();
    suites.Get<AEGP_TextLayerSuite1>();
    suites.Get<AEGP_StreamSuite4>();
    suites.Get<AEGP_StreamSuite3>();
    suites.Get<AEGP_EffectSuite3>();
    suites.Get<AEGP_WorldSuite3>();
    suites.Get<PF_WorldTransformSuite1>();
    suites.Get<AEGP_IterateSuite1>();
    suites.Get<PF_PathDataSuite1>();
  }
  const Calls all = {
      "AEGP Effect Suite 3",       "AEGP Iterate Suite 1",      "AEGP Layer Suite 11",
      "AEGP PF Interface Suite 1", "AEGP Stream Suite 8",       "AEGP Stream Suite 9",
      "AEGP Text Layer Suite 1",   "AEGP World Suite 3",        "PF ANSI Suite 1",
      "PF Path Data Suite 1",      "PF World Transform Suite 1"};
  EXPECT_EQ(Only(host.calls, "acquire"), all);
  EXPECT_EQ(Only(host.calls, "release"), all);
}

TEST(SuiteCache, ExceptionAfterThreeSuitesReleasesAllThree) {
  FakeHost host;
  const PF_Err err = RunGuarded([&]() -> PF_Err {
    SuiteCache suites(host.basic());
    suites.Get<AEGP_PFInterfaceSuite1>();
    suites.Get<AEGP_LayerSuite5>();
    suites.Get<AEGP_WorldSuite3>();
    throw std::length_error("pieces");
  });
  EXPECT_EQ(err, PF_Err_INTERNAL_STRUCT_DAMAGED);
  const Calls three = {"AEGP Layer Suite 11", "AEGP PF Interface Suite 1", "AEGP World Suite 3"};
  EXPECT_EQ(Only(host.calls, "acquire"), three);
  EXPECT_EQ(Only(host.calls, "release"), three);
}

TEST(SuiteCache, MissingSuiteThrows516AndKeepsEarlierReleases) {
  for (bool refuse : {true, false}) {
    SCOPED_TRACE(refuse ? "refused" : "null table");
    FakeHost host;
    (refuse ? host.refused : host.null_tables).insert("AEGP Effect Suite 3");
    const PF_Err err = RunGuarded([&]() -> PF_Err {
      SuiteCache suites(host.basic());
      suites.Get<AEGP_LayerSuite5>();
      suites.Get<AEGP_EffectSuite3>();
      ADD_FAILURE() << "a missing suite must end the call";
      return PF_Err_NONE;
    });
    EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    // The refused suite is never released; the one already held is.
    EXPECT_EQ(host.calls, (Calls{"acquire AEGP Layer Suite 11", "acquire AEGP Effect Suite 3",
                                 "release AEGP Layer Suite 11"}));
  }
}

TEST(SuiteCache, NullBasicSuiteThrows516) {
  EXPECT_EQ(ThrownCode([] { SuiteCache suites(nullptr); }), PF_Err_BAD_CALLBACK_PARAM);
}

TEST(SuiteCache, TwoCachesHoldTheSameSuiteIndependently) {
  FakeHost host;
  {
    SuiteCache outer(host.basic());
    outer.Get<PF_PathDataSuite1>();
    {
      SuiteCache inner(host.basic());
      inner.Get<PF_PathDataSuite1>();
    }
    EXPECT_EQ(Only(host.calls, "release"), (Calls{"PF Path Data Suite 1"}));
  }
  EXPECT_EQ(Only(host.calls, "acquire"), (Calls{"PF Path Data Suite 1", "PF Path Data Suite 1"}));
  EXPECT_EQ(Only(host.calls, "release"), (Calls{"PF Path Data Suite 1", "PF Path Data Suite 1"}));
}

}  // namespace
}  // namespace vantrel
