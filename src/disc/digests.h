// MD5 (RFC 1321) and SHA-1 (FIPS 180-4) of byte streams, for comparing image files with the sums a
// catalogue of good dumps gives. Fed in pieces of any size; Hex() ends the sum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vr {

class TMd5 {
 public:
  TMd5();
  void Update(const void* data, size_t size);
  std::string Hex();  // 32 lower-case hex digits; the object is spent afterwards

 private:
  void Block(const uint8_t* p);
  uint32_t state_[4];
  uint64_t length_ = 0;
  uint8_t buffer_[64];
  size_t used_ = 0;
};

class TSha1 {
 public:
  TSha1();
  void Update(const void* data, size_t size);
  std::string Hex();  // 40 lower-case hex digits; the object is spent afterwards

 private:
  void Block(const uint8_t* p);
  uint32_t state_[5];
  uint64_t length_ = 0;
  uint8_t buffer_[64];
  size_t used_ = 0;
};

}  // namespace vr
