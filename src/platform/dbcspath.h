// Windows path rules on code page 932 byte strings, on every host. A backslash (or slash) byte that is
// the second byte of a double-byte character is never a delimiter. Nothing else splits paths.
#pragma once

#include <string>
#include <vector>

namespace vr {

// True when byte i of s is the second byte of a double-byte character.
bool IsTrailByteAt(const std::string& s, size_t i);
// True when byte i of s is "\" (or "/") and not a trail byte.
bool IsPathDelimiterAt(const std::string& s, size_t i);
// Index of the last byte of s that is one of `delimiters` and not a trail byte; npos when none.
size_t LastDelimiter(const std::string& delimiters, const std::string& s);

std::string IncludeTrailingBackslash(const std::string& path);  // "" becomes "\"
std::string ExcludeTrailingBackslash(const std::string& path);
std::string ExtractFilePath(const std::string& path);  // up to and including the last "\" or ":"
std::string ExtractFileDir(
    const std::string& path);  // ExtractFilePath without the trailing "\" (not for roots)
std::string ExtractFileName(const std::string& path);
std::string ExtractFileExt(const std::string& path);    // with the dot; "" when none
std::string ExtractFileDrive(const std::string& path);  // "C:" or "\\server\share"; "" when none
// A path that names one place whatever the current folder and the search path are: "X:\..." or
// "\\server\share\...". Programs are started only by such a path.
bool IsFullPath(const std::string& path);
std::string ChangeFileExt(const std::string& path, const std::string& ext);
// Every delimiter (not trail bytes) replaced by `with`.
std::string ReplaceDelimiters(const std::string& path, char with);
// Splits a relative name at its delimiters ("a\b\c" -> a, b, c); empty parts are kept.
std::vector<std::string> SplitPath(const std::string& path);

// A name from a file (archive entry, settings) that may be joined below a folder: one Windows can hold
// (WindowsNameFault in windowsnames.h), so never absolute, a drive, a "." or ".." part or a device.
bool IsSafeRelativeName(const std::string& name);

}  // namespace vr
