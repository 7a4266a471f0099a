// Helpers of the Win32 platform files for code page 932 text.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vr {

// Characters of a code page 932 string as (offset, length): a lead byte with a possible second byte is
// one character, every other byte one on its own.
std::vector<std::pair<size_t, size_t>> SplitCp932(const std::string& s);
// One character (1 or 2 bytes) as a UTF-16 unit; false when it has none.
bool Cp932CharToUnit(const char* bytes, size_t length, wchar_t& unit);

// Code page 932 to a NUL-terminated wide string for the W functions, and back.
std::wstring Wide(const std::string& s);
std::string Narrow(const wchar_t* s);
std::string Narrow(const std::wstring& s);

}  // namespace vr
