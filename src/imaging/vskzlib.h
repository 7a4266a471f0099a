// Bounded zlib inflation for layered image headers and pixel planes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vr {

// Largest number of bytes one byte of deflate data can stand for (a length-258 match in two bits,
// rounded up). Used to refuse output sizes no compressed input of a given size could produce.
constexpr int64_t kMaxDeflateRatio = 1032;

// Inflates one zlib-wrapped (RFC 1950) stream held in memory, in pieces of the caller's choosing.
// Damaged data and a stream that ends before the bytes asked for raise EZLibError.
class TVskInflater {
 public:
  TVskInflater(const uint8_t* data, size_t size);
  ~TVskInflater();
  TVskInflater(const TVskInflater&) = delete;
  TVskInflater& operator=(const TVskInflater&) = delete;

  // Fills out with exactly count inflated bytes.
  void Read(uint8_t* out, size_t count);
  // Inflates what is left of the stream and appends it to out; raises when that would make the
  // output longer than limit bytes. The buffer grows with the data actually produced.
  void ReadRest(std::vector<uint8_t>& out, size_t limit);

 private:
  struct TState;
  TState* state_;
};

// The whole inflated content of one zlib stream, at most limit bytes (EZLibError beyond).
std::vector<uint8_t> InflateAll(const uint8_t* data, size_t size, size_t limit);

}  // namespace vr
