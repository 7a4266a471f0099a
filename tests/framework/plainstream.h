// A stream that is neither a memory nor a file stream, over a byte string. It hands out at most
// `step` bytes per read (partial reads) and remembers the largest read asked of it.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "framework/classes.h"

namespace vr {

class TPlainStream : public TStream {
 public:
  explicit TPlainStream(std::string data, int32_t step = 0x7FFFFFFF) : data_(std::move(data)), step_(step) {}
  int32_t Read(void* buffer, int32_t count) override {
    largestRead = std::max(largestRead, count);
    int64_t n = std::min<int64_t>({count, step_, static_cast<int64_t>(data_.size()) - pos_});
    if (n <= 0) return 0;
    std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return static_cast<int32_t>(n);
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    pos_ = origin == TSeekOrigin::soBeginning ? offset
           : origin == TSeekOrigin::soCurrent ? pos_ + offset
                                              : static_cast<int64_t>(data_.size()) + offset;
    return pos_;
  }
  int32_t largestRead = 0;

 private:
  std::string data_;
  int32_t step_;
  int64_t pos_ = 0;
};

}  // namespace vr
