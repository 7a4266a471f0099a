// Conversions between code page 932 (Shift-JIS with the Windows extensions) and Unicode.
#pragma once

#include <string>

namespace vr {

// Lead byte of a double-byte character in code page 932 (0x81-0x9F, 0xE0-0xFC).
inline bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Invalid sequences become U+FFFD (to UTF-8) or "?" (to code page 932); never throws.
std::string Cp932ToUtf8(const std::string& s);
std::string Utf8ToCp932(const std::string& s);
std::u16string Cp932ToUtf16(const std::string& s);
std::string Utf16ToCp932(const std::u16string& s);
// Plain Unicode transforms (invalid input becomes U+FFFD).
std::string Utf16ToUtf8(const std::u16string& s);
std::u16string Utf8ToUtf16(const std::string& s);

}  // namespace vr
