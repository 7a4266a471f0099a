// A stream that passes writes on to another and sums them up with CRC-32 on the way.
#pragma once

#include <cstdint>

#include "framework/classes.h"

namespace vr {

// Writes into `file` and computes the CRC-32 of what was written on the way (UpdateCRC). Should the
// writer ever go back over bytes already written, the sum is taken from the finished file instead
// (StreamCRC, which reads it from its start).
class TCrcWriteStream : public TStream {
 public:
  explicit TCrcWriteStream(TStream& file) : file_(file) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  // The CRC-32 of the file's whole content.
  uint32_t Crc();

 private:
  TStream& file_;
  int64_t position_ = 0;
  int64_t summed_ = 0;
  uint32_t crc_ = 0;
  bool sequential_ = true;
};

}  // namespace vr
