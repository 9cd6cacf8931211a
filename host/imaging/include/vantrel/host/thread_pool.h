// A process-wide pool of worker threads behind the host's iteration suite.
//
// Several render threads (one per Session) may call Run at once, and an
// iteration body may call Run again: the calling thread always works on its
// own job, so a job completes even when every worker is busy elsewhere, and
// workers only ever speed a job up. Nothing blocks on a worker.
#ifndef VANTREL_HOST_THREAD_POOL_H
#define VANTREL_HOST_THREAD_POOL_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vantrel::host {

class ThreadPool {
 public:
  // An iteration body: (thread index, iteration index) -> error code, 0 = ok.
  // The thread index is in [0, participants()) and distinct among the threads
  // working on one Run at the same time; the calling thread is index 0.
  using Body = std::function<int32_t(int32_t thread_index, int32_t i)>;

  // Starts participants - 1 worker threads (at least one).
  explicit ThreadPool(int32_t participants);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // The pool shared by all sessions: max(2, hardware threads) participants.
  static ThreadPool& Shared();

  // Threads that may work on one job: the workers plus the caller.
  int32_t participants() const { return participants_; }

  // Runs body(t, i) once for every i in [0, iterations) and returns when all
  // are done. After a failure no further iterations are started; the result
  // is the error of the lowest failing iteration (which always runs), 0 when
  // none failed. A body that throws counts as failing with the given code.
  int32_t Run(int32_t iterations, const Body& body, int32_t exception_error = 1);

  // Wakes the sleeping workers without a job, so that they are polling for
  // one (for a moment) when it comes: for a caller about to post work that
  // cannot wait the tens of microseconds a wake-up takes.
  void GetReady();

 private:
  struct Job;
  void WorkerLoop();
  static void Work(Job& job, int32_t thread_index);

  int32_t participants_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Job>> jobs_;  // jobs with iterations left to start
  std::atomic<int32_t> queued_{0};         // jobs_.size(), for workers polling without the mutex
  int32_t sleeping_ = 0;                   // workers waiting on wake_
  uint64_t calls_ = 0;                     // GetReady calls that woke workers
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace vantrel::host

#endif  // VANTREL_HOST_THREAD_POOL_H
