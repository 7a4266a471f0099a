// Compression probe of layered image files.
#include "imaging/vskprobe.h"

#include <cstring>

#include "framework/sysutils.h"

namespace vr {

namespace {

constexpr int kSignatureLength = 7;
constexpr int kRecordSize = 40;
constexpr int kCompTypeOffset = 22;
constexpr int kFirstVersionWithRecord = 103;

[[noreturn]] void NotAnInteger(const std::string& text) {
  throw EConvertError(Format(SInvalidInteger, {text}));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int32_t VskTextToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) NotAnInteger(text);
  // Decimal values are limited to the signed range; hexadecimal ones may use all 32 bits.
  const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    int d = base == 16 ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (d < 0) NotAnInteger(text);
    value = value * base + static_cast<uint64_t>(d);
    if (value > limit) NotAnInteger(text);
  }
  uint32_t bits = static_cast<uint32_t>(value);
  if (negative) bits = 0u - bits;
  return static_cast<int32_t>(bits);
}

bool IsStoredUncompressed(TStream& stream) {
  char signature[kSignatureLength] = {};
  stream.Read(signature, kSignatureLength);
  if (std::memcmp(signature, "Vesk", 4) != 0) return false;
  // A short file leaves zero bytes, which end the version text early.
  std::string version(signature + 4, 3);
  version = version.substr(0, version.find('\0'));
  if (VskTextToInt(version) < kFirstVersionWithRecord) return false;

  uint8_t record[kRecordSize] = {};
  uint8_t lengthBytes[4] = {};
  stream.Read(lengthBytes, 4);
  const uint32_t length =
      static_cast<uint32_t>(lengthBytes[0]) | (static_cast<uint32_t>(lengthBytes[1]) << 8) |
      (static_cast<uint32_t>(lengthBytes[2]) << 16) | (static_cast<uint32_t>(lengthBytes[3]) << 24);
  // Longer records are cut to the part this test needs.
  const int32_t take =
      length < static_cast<uint32_t>(kRecordSize) ? static_cast<int32_t>(length) : kRecordSize;
  if (take > 0) stream.Read(record, take);
  return record[kCompTypeOffset] == 1;
}

}  // namespace vr
