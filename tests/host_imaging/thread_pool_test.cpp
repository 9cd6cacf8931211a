// The host's thread pool behind AEGP_IterateGeneric.
#include "vantrel/host/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vantrel::host {
namespace {

TEST(ThreadPool, RunsEveryIterationExactlyOnceOnSeveralThreads) {
  ThreadPool pool(4);
  constexpr int kN = 2000;
  std::vector<std::atomic<int>> runs(kN);
  std::vector<std::atomic<int>> by_thread(pool.participants());
  std::mutex ids_mutex;
  std::set<std::thread::id> ids;
  const int32_t err = pool.Run(kN, [&](int32_t t, int32_t i) {
    EXPECT_GE(t, 0);
    EXPECT_LT(t, pool.participants());
    runs[i]++;
    by_thread[t]++;
    {
      std::lock_guard lock(ids_mutex);
      ids.insert(std::this_thread::get_id());
    }
    std::this_thread::sleep_for(std::chrono::microseconds(50));
    return 0;
  });
  EXPECT_EQ(err, 0);
  for (int i = 0; i < kN; ++i) ASSERT_EQ(runs[i].load(), 1) << i;
  EXPECT_GT(ids.size(), 1u);
  EXPECT_GT(by_thread[0].load(), 0);  // the caller helps
}

TEST(ThreadPool, ReturnsTheErrorOfTheLowestFailingIteration) {
  ThreadPool pool(3);
  for (int round = 0; round < 20; ++round) {
    std::atomic<int> calls{0};
    const int32_t err = pool.Run(500, [&](int32_t, int32_t i) -> int32_t {
      calls++;
      if (i == 300) return 9;
      if (i == 120) return 7;
      return 0;
    });
    EXPECT_EQ(err, 7);
    EXPECT_LE(calls.load(), 500);
  }
  EXPECT_EQ(pool.Run(
                10, [](int32_t, int32_t) -> int32_t { throw std::runtime_error("x"); }, 33),
            33);
}

TEST(ThreadPool, ZeroIterationsRunNothing) {
  ThreadPool pool(2);
  EXPECT_EQ(pool.Run(0,
                     [](int32_t, int32_t) -> int32_t {
                       ADD_FAILURE();
                       return 1;
                     }),
            0);
}

TEST(ThreadPool, ConcurrentAndNestedRunsAllComplete) {
  ThreadPool& pool = ThreadPool::Shared();
  std::atomic<int64_t> total{0};
  std::vector<std::thread> callers;
  for (int c = 0; c < 6; ++c) {
    callers.emplace_back([&] {
      for (int r = 0; r < 20; ++r) {
        if (r % 4 == 0) pool.GetReady();  // wakes sleeping workers without a job
        const int32_t err = pool.Run(16, [&](int32_t, int32_t) {
          // A body that iterates again, as a module callback could.
          return pool.Run(8, [&](int32_t, int32_t) {
            total++;
            return 0;
          });
        });
        EXPECT_EQ(err, 0);
      }
    });
  }
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(total.load(), 6 * 20 * 16 * 8);
}

TEST(ThreadPool, ThreadIndicesAreDistinctWithinOneRun) {
  ThreadPool pool(4);
  std::mutex m;
  std::map<int32_t, std::set<std::thread::id>> owners;
  pool.Run(400, [&](int32_t t, int32_t) {
    std::lock_guard lock(m);
    owners[t].insert(std::this_thread::get_id());
    return 0;
  });
  for (const auto& [t, threads] : owners) EXPECT_EQ(threads.size(), 1u) << "index " << t;
}

}  // namespace
}  // namespace vantrel::host
