// Code page 932 through glibc's iconv ("CP932" keeps 0x5C a backslash and knows the NEC and IBM rows).
#include <errno.h>
#include <iconv.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/codepage.h"

namespace vr {

namespace {

// One converter per thread and direction; iconv descriptors are not thread-safe.
class TIconv {
 public:
  TIconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~TIconv() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return cd_; }
  void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

 private:
  iconv_t cd_;
};

TIconv& FromCp932() {
  thread_local TIconv cd("UTF-16LE", "CP932");
  if (!cd.Ok()) throw std::runtime_error("iconv: CP932 is not available");
  return cd;
}

TIconv& ToCp932() {
  thread_local TIconv cd("CP932", "UTF-16LE");
  if (!cd.Ok()) throw std::runtime_error("iconv: CP932 is not available");
  return cd;
}

bool IsTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

}  // namespace

std::u16string Cp932ToUtf16(const std::string& s) {
  TIconv& cd = FromCp932();
  cd.Reset();
  std::u16string out;
  out.reserve(s.size());
  char buffer[1024];
  char* in = const_cast<char*>(s.data());
  size_t inLeft = s.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof(buffer);
    const size_t r = iconv(cd.Get(), &in, &inLeft, &outPtr, &outLeft);
    const int err = errno;
    const size_t produced = (sizeof(buffer) - outLeft) / 2;
    for (size_t k = 0; k < produced; ++k)
      out += static_cast<char16_t>(static_cast<unsigned char>(buffer[2 * k]) |
                                   (static_cast<unsigned char>(buffer[2 * k + 1]) << 8));
    if (r != static_cast<size_t>(-1)) break;
    if (err == E2BIG) continue;
    // An invalid or incomplete sequence: one replacement character for the lead byte and its second byte
    // (when that is a possible second byte), or for the single stray byte.
    out += static_cast<char16_t>(0xFFFD);
    const unsigned char c = static_cast<unsigned char>(*in);
    size_t skip = 1;
    if (IsLeadByte(c) && inLeft >= 2 && IsTrailByte(static_cast<unsigned char>(in[1]))) skip = 2;
    in += skip;
    inLeft -= skip;
    cd.Reset();
  }
  return out;
}

std::string Utf16ToCp932(const std::u16string& s) {
  TIconv& cd = ToCp932();
  cd.Reset();
  std::string out;
  out.reserve(s.size() * 2);
  std::vector<char> bytes(s.size() * 2);
  for (size_t k = 0; k < s.size(); ++k) {
    bytes[2 * k] = static_cast<char>(s[k] & 0xFF);
    bytes[2 * k + 1] = static_cast<char>(s[k] >> 8);
  }
  char buffer[1024];
  char* in = bytes.data();
  size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof(buffer);
    const size_t r = iconv(cd.Get(), &in, &inLeft, &outPtr, &outLeft);
    const int err = errno;
    out.append(buffer, sizeof(buffer) - outLeft);
    if (r != static_cast<size_t>(-1)) break;
    if (err == E2BIG) continue;
    // A character without a code page 932 form (or a broken surrogate) becomes "?".
    out += '?';
    const unsigned unit = static_cast<unsigned char>(in[0]) | (static_cast<unsigned char>(in[1]) << 8);
    size_t skip = 2;
    if (unit >= 0xD800 && unit <= 0xDBFF && inLeft >= 4) {
      const unsigned next = static_cast<unsigned char>(in[2]) | (static_cast<unsigned char>(in[3]) << 8);
      if (next >= 0xDC00 && next <= 0xDFFF) skip = 4;
    }
    if (skip > inLeft) skip = inLeft;
    in += skip;
    inLeft -= skip;
    cd.Reset();
  }
  return out;
}

}  // namespace vr
