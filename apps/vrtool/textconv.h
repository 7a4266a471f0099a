// Text conversions at the tool's edges: UTF-8 outside, code page 932 inside.
#pragma once

#include <string>

namespace vrtool {

// UTF-8 text to code page 932; a ToolError naming `what` when a character has no code page 932 form.
std::string ToCp932(const std::string& utf8, const std::string& what);
// A host path given on the command line, in the code page 932 form the libraries take. On POSIX hosts a
// path whose folders hold characters outside code page 932 is reached through a descriptor of its
// deepest such folder ("/proc/self/fd/N/rest"); only the last name (which part and directory files are
// named after) must be representable, else a ToolError naming the path and `what`.
std::string HostPathToCp932(const std::string& utf8, const std::string& what);
// True when the user's locale is Japanese (LC_ALL, LC_MESSAGES or LANG "ja..."; the Windows UI language).
bool JapaneseLocale();
// A message of the libraries (UTF-8, written in Japanese for setup.exe) in English unless the locale is
// Japanese; texts the tool does not know stay as they are.
std::string Localize(const std::string& utf8);
// Code page 932 bytes to UTF-8 (invalid sequences become U+FFFD).
std::string ToUtf8(const std::string& cp932);
// The name (UTF-8, as the file system holds it) of an entry of the host folder `cp932Folder` that code
// page 932 cannot represent and that a listing therefore shows as `listed`; "" when there is none.
std::string UnrepresentableName(const std::string& cp932Folder, const std::string& listed);
// Lower-case hexadecimal digits of every byte.
std::string HexBytes(const std::string& bytes);
// UTF-16 text (Windows command line) to UTF-8; unpaired surrogates become U+FFFD.

}  // namespace vrtool
