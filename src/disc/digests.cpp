#include "disc/digests.h"

#include <algorithm>
#include <cstring>

namespace vr {
namespace {

uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

std::string HexOf(const uint8_t* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// Feeds `data` through 64-byte blocks; `block` takes each full one.
template <class TBlock>
void Feed(uint8_t* buffer, size_t& used, uint64_t& length, const void* data, size_t size, TBlock block) {
  const auto* p = static_cast<const uint8_t*>(data);
  length += size;
  if (used) {
    const size_t n = std::min(size, 64 - used);
    std::memcpy(buffer + used, p, n);
    used += n;
    p += n;
    size -= n;
    if (used < 64) return;
    block(buffer);
    used = 0;
  }
  for (; size >= 64; p += 64, size -= 64) block(p);
  std::memcpy(buffer, p, size);
  used = size;
}

// The closing padding: 0x80, zeros, and the length in bits in the last eight bytes.
template <class TBlock>
void Pad(uint8_t* buffer, size_t used, uint64_t length, bool bigEndian, TBlock block) {
  const uint64_t bits = length * 8;
  buffer[used++] = 0x80;
  if (used > 56) {
    std::memset(buffer + used, 0, 64 - used);
    block(buffer);
    used = 0;
  }
  std::memset(buffer + used, 0, 56 - used);
  for (int i = 0; i < 8; ++i) buffer[56 + i] = static_cast<uint8_t>(bits >> (bigEndian ? 56 - 8 * i : 8 * i));
  block(buffer);
}

constexpr uint32_t kMd5K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kMd5Shift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                               5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                               4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                               6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

}  // namespace

TMd5::TMd5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void TMd5::Block(const uint8_t* p) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i)
    m[i] =
        p[4 * i] | (p[4 * i + 1] << 8) | (p[4 * i + 2] << 16) | (static_cast<uint32_t>(p[4 * i + 3]) << 24);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = 7 * i % 16;
    }
    const uint32_t next = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + kMd5K[i] + m[g], kMd5Shift[i]);
    a = next;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void TMd5::Update(const void* data, size_t size) {
  Feed(buffer_, used_, length_, data, size, [this](const uint8_t* p) { Block(p); });
}

std::string TMd5::Hex() {
  Pad(buffer_, used_, length_, false, [this](const uint8_t* p) { Block(p); });
  uint8_t out[16];
  for (int i = 0; i < 16; ++i) out[i] = static_cast<uint8_t>(state_[i / 4] >> (8 * (i % 4)));
  return HexOf(out, sizeof out);
}

TSha1::TSha1() : state_{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0} {}

void TSha1::Block(const uint8_t* p) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] =
        (static_cast<uint32_t>(p[4 * i]) << 24) | (p[4 * i + 1] << 16) | (p[4 * i + 2] << 8) | p[4 * i + 3];
  for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const uint32_t t = Rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = t;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
}

void TSha1::Update(const void* data, size_t size) {
  Feed(buffer_, used_, length_, data, size, [this](const uint8_t* p) { Block(p); });
}

std::string TSha1::Hex() {
  Pad(buffer_, used_, length_, true, [this](const uint8_t* p) { Block(p); });
  uint8_t out[20];
  for (int i = 0; i < 20; ++i) out[i] = static_cast<uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
  return HexOf(out, sizeof out);
}

}  // namespace vr
