#include "archive/crcstream.h"

#include "archive/vrfiles.h"

namespace vr {

int32_t TCrcWriteStream::Read(void* buffer, int32_t count) {
  const int32_t n = file_.Read(buffer, count);
  if (n > 0) position_ += n;
  return n;
}

int32_t TCrcWriteStream::Write(const void* buffer, int32_t count) {
  const int32_t n = file_.Write(buffer, count);
  if (n <= 0) return n;
  if (position_ == summed_) {
    crc_ = UpdateCRC(crc_, buffer, n);
    summed_ += n;
  } else {
    sequential_ = false;
  }
  position_ += n;
  return n;
}

int64_t TCrcWriteStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t at = file_.Seek(offset, origin);
  if (at >= 0) position_ = at;
  return at;
}

void TCrcWriteStream::SetSize(int64_t size) {
  file_.SetSize(size);
  if (size != summed_) sequential_ = false;
}

uint32_t TCrcWriteStream::Crc() {
  if (sequential_ && file_.Size() == summed_) return crc_;
  return StreamCRC(file_);
}

}  // namespace vr
