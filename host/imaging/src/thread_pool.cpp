#include "vantrel/host/thread_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>

namespace vantrel::host {

// One Run call. Lock order: the pool's mutex before a job's mutex.
struct ThreadPool::Job {
  int32_t iterations = 0;
  const Body* body = nullptr;
  int32_t exception_error = 1;
  std::atomic<int32_t> next{0};  // next iteration to start
  std::atomic<bool> failed{false};
  int32_t participants = 1;  // thread indices handed out; guarded by the pool's mutex

  std::mutex mutex;
  std::condition_variable idle;
  // Workers inside Work for this job; changed under `mutex`, read by Run's
  // wait without it first.
  std::atomic<int32_t> helpers{0};
  int32_t first_failed = std::numeric_limits<int32_t>::max();
  int32_t error = 0;
};

ThreadPool::ThreadPool(int32_t participants) : participants_(std::max(participants, 2)) {
  workers_.reserve(static_cast<size_t>(participants_ - 1));
  for (int32_t i = 0; i + 1 < participants_; ++i) workers_.emplace_back([this] { WorkerLoop(); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

ThreadPool& ThreadPool::Shared() {
  static ThreadPool pool(static_cast<int32_t>(std::max(2u, std::thread::hardware_concurrency())));
  return pool;
}

void ThreadPool::Work(Job& job, int32_t thread_index) {
  // Iterations are claimed in increasing order, so when a failure stops the
  // claiming every lower iteration has already been claimed and still runs.
  while (!job.failed.load(std::memory_order_acquire)) {
    const int32_t i = job.next.fetch_add(1);
    if (i >= job.iterations) break;
    int32_t err;
    try {
      err = (*job.body)(thread_index, i);
    } catch (...) {
      err = job.exception_error;
    }
    if (err != 0) {
      std::lock_guard lock(job.mutex);
      if (i < job.first_failed) {
        job.first_failed = i;
        job.error = err;
      }
      job.failed.store(true, std::memory_order_release);
    }
  }
}

namespace {

// How long a thread polls before it sleeps: a worker for the next job after
// finishing one, Run for the helpers of its job. A frame's drawing posts a
// job every few microseconds; waking a sleeping thread costs tens of them.
constexpr auto kSpin = std::chrono::microseconds(200);

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Polls `done` until it holds or kSpin has passed; whether it held.
template <class Done>
bool SpinUntil(const Done& done) {
  const auto until = std::chrono::steady_clock::now() + kSpin;
  for (;;) {
    for (int i = 0; i < 64; ++i) {
      if (done()) return true;
      Pause();
    }
    if (std::chrono::steady_clock::now() >= until) return done();
  }
}

}  // namespace

void ThreadPool::WorkerLoop() {
  for (;;) {
    SpinUntil([this] { return queued_.load(std::memory_order_acquire) != 0; });
    std::shared_ptr<Job> job;
    int32_t thread_index = 0;
    {
      std::unique_lock lock(mutex_);
      if (!stopping_ && jobs_.empty()) {
        ++sleeping_;
        const uint64_t calls = calls_;
        wake_.wait(lock, [&] { return stopping_ || !jobs_.empty() || calls_ != calls; });
        --sleeping_;
      }
      if (stopping_) return;
      if (jobs_.empty()) continue;  // called ahead of a job: poll for it
      job = jobs_.front();
      if (job->failed.load() || job->next.load() >= job->iterations ||
          job->participants >= participants_) {
        jobs_.pop_front();  // nothing left to help with
        queued_.store(static_cast<int32_t>(jobs_.size()), std::memory_order_release);
        continue;
      }
      thread_index = job->participants++;
      std::lock_guard job_lock(job->mutex);
      ++job->helpers;  // under the pool's mutex, so Run's removal sees it
    }
    Work(*job, thread_index);
    std::lock_guard job_lock(job->mutex);
    if (--job->helpers == 0) job->idle.notify_all();
  }
}

void ThreadPool::GetReady() {
  {
    std::lock_guard lock(mutex_);
    if (sleeping_ == 0) return;
    ++calls_;
  }
  wake_.notify_all();
}

int32_t ThreadPool::Run(int32_t iterations, const Body& body, int32_t exception_error) {
  if (iterations <= 0) return 0;
  auto job = std::make_shared<Job>();
  job->iterations = iterations;
  job->body = &body;
  job->exception_error = exception_error;
  if (iterations > 1) {
    bool sleepers;
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(job);
      queued_.store(static_cast<int32_t>(jobs_.size()), std::memory_order_release);
      sleepers = sleeping_ > 0;
    }
    if (sleepers) wake_.notify_all();  // workers still polling find the job themselves
  }
  Work(*job, 0);
  {
    std::lock_guard lock(mutex_);
    auto it = std::find(jobs_.begin(), jobs_.end(), job);
    if (it != jobs_.end()) jobs_.erase(it);
    queued_.store(static_cast<int32_t>(jobs_.size()), std::memory_order_release);
  }
  // No worker can join any more; wait for those that did.
  if (SpinUntil([&] { return job->helpers.load(std::memory_order_acquire) == 0; })) {
    std::lock_guard job_lock(job->mutex);  // the last helper's notify is over
    return job->error;
  }
  std::unique_lock job_lock(job->mutex);
  job->idle.wait(job_lock, [&] { return job->helpers == 0; });
  return job->error;
}

}  // namespace vantrel::host
