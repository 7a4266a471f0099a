#include "archive/entryencoder.h"

#include <cstring>
#include <system_error>

#include "archive/scrambles.h"
#include "archive/vrfiles.h"
#include "startup/syshelpers.h"

namespace vr {

namespace {

// zlib's default level among CompressStream's four steps.
constexpr int kDefaultCompression = 2;

}  // namespace

void TEncodeJob::Encode() noexcept {
  try {
    const int64_t size = Data.Size();
    const uint32_t contentCRC = ContentChecksum ? UpdateCRC(0, Data.Memory(), size) : 0;
    Kind = skStored;
    if (Compress) {
      if (StoreWhenPoor) {
        TMemoryStream packed;
        packed.SetSize(size);
        if (size > 0) std::memcpy(packed.Memory(), Data.Memory(), static_cast<size_t>(size));
        CompressStream(packed, kDefaultCompression);
        if (packed.Size() <= size * 9 / 10) {
          Data.Swap(packed);
          Kind = skCompressed;
        }
      } else {
        CompressStream(Data, kDefaultCompression);
        Kind = skCompressed;
      }
    }
    if (Scramble) {
      ScrambleStream(Data, ScrambleBlockSize(Data.Size()), Seed, true);
      Kind = Kind == skStored ? skScrambled : skCompressedScrambled;
    }
    CRC = ContentChecksum ? contentCRC : UpdateCRC(0, Data.Memory(), Data.Size());
  } catch (...) {
    Error = std::current_exception();
  }
}

TEncodeWorkers::TEncodeWorkers(unsigned threads) {
  threads_.reserve(threads);
  try {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
  } catch (const std::system_error&) {
    // Fewer threads than asked for (none: Submit encodes at once) do the same work.
  }
}

TEncodeWorkers::~TEncodeWorkers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    pending_.clear();
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void TEncodeWorkers::Submit(TEncodeJob& job) {
  if (threads_.empty()) {
    job.Encode();
    job.Done = true;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(&job);
  }
  wake_.notify_one();
}

void TEncodeWorkers::Wait(TEncodeJob& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&job] { return job.Done; });
}

void TEncodeWorkers::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !pending_.empty(); });
    if (stop_) return;
    TEncodeJob* job = pending_.front();
    pending_.pop_front();
    lock.unlock();
    job->Encode();
    lock.lock();
    job->Done = true;
    finished_.notify_all();
  }
}

unsigned DefaultEncodeThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

}  // namespace vr
