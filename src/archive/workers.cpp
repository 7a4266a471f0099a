#include "archive/workers.h"

#include <system_error>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace vr {

TWorkers::TWorkers(unsigned threads) {
  if (threads < 2) return;
  threads_.reserve(threads);
#ifndef _WIN32
  // The threads take the signal mask of the thread creating them: with every signal blocked, signals
  // meant for the process (an interruption) are handled on the threads that started the work.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
#endif
  try {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Loop(); });
  } catch (const std::system_error&) {
    // Fewer threads than asked for (none: Submit runs the job at once) do the same work.
  }
#ifndef _WIN32
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#endif
}

TWorkers::~TWorkers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    pending_.clear();
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void TWorkers::Submit(TWorkerJob& job) {
  if (threads_.empty()) {
    job.Run();
    job.done_ = true;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job.done_ = false;
    pending_.push_back(&job);
  }
  wake_.notify_one();
}

void TWorkers::Wait(TWorkerJob& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&job] { return job.done_; });
}

void TWorkers::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !pending_.empty(); });
    if (stop_) return;
    TWorkerJob* job = pending_.front();
    pending_.pop_front();
    lock.unlock();
    job->Run();
    lock.lock();
    job->done_ = true;
    finished_.notify_all();
  }
}

unsigned DefaultWorkerThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

}  // namespace vr
