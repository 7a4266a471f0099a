#include "archive/readahead.h"

#include <algorithm>

namespace vr {

// One piece: where it starts, what was read, and what the reader threw.
class TReadAhead::TJob : public TWorkerJob {
 public:
  TJob(const TReader& reader, int64_t size) : buffer(static_cast<size_t>(size)), reader_(reader) {}

  void Start(int64_t at, int64_t count) {
    position = at;
    wanted_ = count;
    length = 0;
    error = nullptr;
  }

  void Run() noexcept override {
    try {
      // A reader may return less than asked for before the end; the piece is filled as far as it goes.
      while (length < wanted_) {
        const int64_t n = reader_(position + length, buffer.data() + length, wanted_ - length);
        if (n <= 0) break;
        length += n;
      }
    } catch (...) {
      error = std::current_exception();
    }
  }

  std::vector<uint8_t> buffer;
  int64_t position = -1;
  int64_t length = 0;
  std::exception_ptr error;

 private:
  const TReader& reader_;
  int64_t wanted_ = 0;
};

TReadAhead::TReadAhead(TReader reader, int64_t end, int64_t pieceSize)
    : reader_(std::move(reader)), end_(end), pieceSize_(std::max<int64_t>(1, pieceSize)) {
  // No piece is read ahead of a read that fits in one piece.
  const bool ahead = end_ > pieceSize_ && DefaultWorkerThreads() > 1;
  current_ = std::make_unique<TJob>(reader_, pieceSize_);
  if (ahead) next_ = std::make_unique<TJob>(reader_, pieceSize_);
}

TReadAhead::~TReadAhead() { Settle(); }

void TReadAhead::Settle() {
  if (!inFlight_) return;
  workers_->Wait(*next_);
  inFlight_ = false;
}

TReadAhead::TPiece TReadAhead::At(int64_t position) {
  if (position < 0 || position >= end_) return {};
  Settle();
  if (next_ && next_->position == position && next_->length > 0) {
    std::swap(current_, next_);
  } else {
    current_->Start(position, std::min(pieceSize_, end_ - position));
    current_->Run();
  }
  if (next_) next_->position = -1;
  if (current_->error) std::rethrow_exception(current_->error);
  const int64_t following = current_->position + current_->length;
  if (next_ && current_->length > 0 && following < end_) {
    next_->Start(following, std::min(pieceSize_, end_ - following));
    // The thread starts with the first piece read ahead: an unused reader costs nothing.
    if (!workers_) workers_ = std::make_unique<TWorkers>(2);
    inFlight_ = true;
    workers_->Submit(*next_);
  }
  return {current_->buffer.data(), current_->length};
}

}  // namespace vr
