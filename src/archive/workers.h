// A fixed set of threads that run submitted jobs, for work that goes in and comes out in order while the
// jobs in between run side by side (the archive writer's encoding, vrtool's extraction).
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace vr {

// One piece of work for TWorkers. Run must not throw: a job keeps its own outcome.
class TWorkerJob {
 public:
  virtual ~TWorkerJob() = default;
  virtual void Run() noexcept = 0;

 private:
  friend class TWorkers;
  bool done_ = false;  // under the workers' lock
};

// With fewer than two threads (one would only take turns with the caller), Submit runs the job at once.
class TWorkers {
 public:
  explicit TWorkers(unsigned threads);
  // Jobs not started yet are dropped; the destructor waits for the ones running.
  ~TWorkers();
  TWorkers(const TWorkers&) = delete;
  TWorkers& operator=(const TWorkers&) = delete;

  void Submit(TWorkerJob& job);
  // Returns when the job has run.
  void Wait(TWorkerJob& job);

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<TWorkerJob*> pending_;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

// Threads to work with when the caller leaves it open: one per processor, at least one.
unsigned DefaultWorkerThreads();

}  // namespace vr
