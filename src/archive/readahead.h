// Sequential reading with the next piece read on a worker thread while the caller works on the current
// one: a checksum pass over a file in the page cache then costs about the copy out of the cache alone,
// not the copy plus the checksum.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "archive/workers.h"

namespace vr {

// Pieces this large keep the hand-overs between the two threads rare.
constexpr int64_t kReadAheadPiece = int64_t{4} << 20;

class TReadAhead {
 public:
  // Reads up to count bytes at position into buffer; returns how many (0 at the end). May throw.
  using TReader = std::function<int64_t(int64_t position, uint8_t* buffer, int64_t count)>;
  struct TPiece {
    const uint8_t* Data = nullptr;
    int64_t Length = 0;
  };

  // end: where reading stops. With one processor the pieces are read on the caller's thread.
  TReadAhead(TReader reader, int64_t end, int64_t pieceSize);
  // Waits for the piece in flight.
  ~TReadAhead();
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  // The bytes at position (one piece, fewer at the end, none at or past the end): the piece read ahead
  // when it starts there, else read now. The piece after it is then read ahead. Valid until the next
  // call. Rethrows what the reader threw for this piece.
  TPiece At(int64_t position);
  // Lets the piece in flight finish, so that the caller may use the underlying stream itself.
  void Settle();

 private:
  class TJob;

  TReader reader_;
  int64_t end_;
  int64_t pieceSize_;
  std::unique_ptr<TJob> current_, next_;
  bool inFlight_ = false;
  std::unique_ptr<TWorkers> workers_;  // last: its threads stop before the jobs go
};

}  // namespace vr
