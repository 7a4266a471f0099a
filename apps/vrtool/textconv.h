// Text conversions at the tool's edges: UTF-8 outside, code page 932 inside.
#pragma once

#include <string>

namespace vrtool {

// UTF-8 text to code page 932; a ToolError naming `what` when a character has no code page 932 form.
std::string ToCp932(const std::string& utf8, const std::string& what);
// Code page 932 bytes to UTF-8 (invalid sequences become U+FFFD).
std::string ToUtf8(const std::string& cp932);
// Lower-case hexadecimal digits of every byte.
std::string HexBytes(const std::string& bytes);
// UTF-16 text (Windows command line) to UTF-8; unpaired surrogates become U+FFFD.

}  // namespace vrtool
