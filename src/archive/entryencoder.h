// Encoding of archive entries in memory, and the worker threads that encode several at once while the
// writer reads and writes in entry order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/classes.h"

namespace vr {

// One entry's content and how to encode it; Encode turns it into the stored bytes. Everything the
// encoding needs is in the job, so jobs can be encoded on any thread.
struct TEncodeJob {
  // In: the content (replaced by the stored bytes), and the decisions taken while reading it.
  TMemoryStream Data;
  bool Compress = false;
  // Store the content as it is when compression saves less than a tenth.
  bool StoreWhenPoor = false;
  bool Scramble = false;
  uint32_t Seed = 0;
  // The checksum covers the content rather than the stored bytes (separate entries).
  bool ContentChecksum = false;

  // Out: the storage kind and checksum, or the error that stopped the encoding.
  uint8_t Kind = 0;
  uint32_t CRC = 0;
  std::exception_ptr Error;
  // Set by TEncodeWorkers (under its lock) once encoded.
  bool Done = false;

  // Compresses and scrambles Data as decided, sets Kind and CRC; any error goes to Error.
  void Encode() noexcept;
};

// A fixed set of threads encoding submitted jobs. With no threads, Submit encodes at once.
class TEncodeWorkers {
 public:
  explicit TEncodeWorkers(unsigned threads);
  // Jobs not started yet are dropped; the destructor waits for the ones being encoded.
  ~TEncodeWorkers();
  TEncodeWorkers(const TEncodeWorkers&) = delete;
  TEncodeWorkers& operator=(const TEncodeWorkers&) = delete;

  void Submit(TEncodeJob& job);
  // Returns when the job has been encoded.
  void Wait(TEncodeJob& job);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<TEncodeJob*> pending_;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

// Threads to encode with when the caller leaves it open: one per processor, at least one.
unsigned DefaultEncodeThreads();

}  // namespace vr
