// Code page 932 through the system's own tables (explicit code page, whatever the ANSI code page is).
#include "platform/win32/winapi.h"
// (winapi.h first: it brings the system headers.)
#include "platform/codepage.h"
#include "platform/win32/win32text.h"

namespace vr {

namespace {

bool IsTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

}  // namespace

std::vector<std::pair<size_t, size_t>> SplitCp932(const std::string& s) {
  std::vector<std::pair<size_t, size_t>> chunks;
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t len =
        (IsLeadByte(c) && i + 1 < s.size() && IsTrailByte(static_cast<unsigned char>(s[i + 1]))) ? 2 : 1;
    chunks.emplace_back(i, len);
    i += len;
  }
  return chunks;
}

// One character of code page 932 (one or two bytes) as a UTF-16 unit; false when it has none.
bool Cp932CharToUnit(const char* bytes, size_t length, wchar_t& unit) {
  wchar_t out[2];
  const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(length), out, 2);
  if (n != 1) return false;
  unit = out[0];
  return true;
}

std::u16string Cp932ToUtf16(const std::string& s) {
  if (s.empty()) return std::u16string();
  const int n =
      MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n > 0) {
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), &w[0], n);
    return std::u16string(w.begin(), w.end());
  }
  // Invalid bytes somewhere: character by character, U+FFFD for each broken one.
  std::u16string out;
  for (const auto& chunk : SplitCp932(s)) {
    wchar_t unit;
    out += Cp932CharToUnit(s.data() + chunk.first, chunk.second, unit) ? static_cast<char16_t>(unit)
                                                                       : static_cast<char16_t>(0xFFFD);
  }
  return out;
}

std::string Utf16ToCp932(const std::u16string& s) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    // Surrogate pairs travel together; no character outside the BMP exists in code page 932.
    size_t len = 1;
    if (s[i] >= 0xD800 && s[i] <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
      len = 2;
    if (len == 2 || (s[i] >= 0xD800 && s[i] <= 0xDFFF)) {
      out += '?';
      i += len;
      continue;
    }
    // Runs of ordinary units are converted together.
    size_t end = i;
    while (end < s.size() && !(s[end] >= 0xD800 && s[end] <= 0xDFFF)) ++end;
    const std::wstring w(s.begin() + static_cast<std::ptrdiff_t>(i),
                         s.begin() + static_cast<std::ptrdiff_t>(end));
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()),
                                      nullptr, 0, "?", &usedDefault);
    if (n > 0) {
      std::string part(static_cast<size_t>(n), '\0');
      WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), &part[0], n, "?",
                          &usedDefault);
      out += part;
    }
    i = end;
  }
  return out;
}

}  // namespace vr
