#include "platform/dbcspath.h"

#include "platform/codepage.h"
#include "platform/windowsnames.h"

namespace vr {

namespace {

bool IsDelimByte(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool IsTrailByteAt(const std::string& s, size_t i) {
  if (i >= s.size()) return false;
  size_t j = 0;
  while (j < i) {
    if (IsLeadByte(static_cast<unsigned char>(s[j])) && j + 1 < s.size()) {
      if (j + 1 == i) return true;
      j += 2;
    } else {
      ++j;
    }
  }
  return false;
}

bool IsPathDelimiterAt(const std::string& s, size_t i) {
  return i < s.size() && IsDelimByte(s[i]) && !IsTrailByteAt(s, i);
}

size_t LastDelimiter(const std::string& delimiters, const std::string& s) {
  size_t found = std::string::npos;
  size_t j = 0;
  while (j < s.size()) {
    if (IsLeadByte(static_cast<unsigned char>(s[j])) && j + 1 < s.size()) {
      j += 2;
      continue;
    }
    if (delimiters.find(s[j]) != std::string::npos) found = j;
    ++j;
  }
  return found;
}

std::string IncludeTrailingBackslash(const std::string& path) {
  if (!path.empty() && IsPathDelimiterAt(path, path.size() - 1)) return path;
  return path + "\\";
}

std::string ExcludeTrailingBackslash(const std::string& path) {
  if (!path.empty() && IsPathDelimiterAt(path, path.size() - 1)) return path.substr(0, path.size() - 1);
  return path;
}

std::string ExtractFilePath(const std::string& path) {
  const size_t i = LastDelimiter("\\/:", path);
  return i == std::string::npos ? std::string() : path.substr(0, i + 1);
}

std::string ExtractFileDir(const std::string& path) {
  size_t i = LastDelimiter("\\/:", path);
  if (i == std::string::npos) return std::string();
  // "C:\a" keeps its root "C:\"; "C:\a\b" drops the delimiter.
  if (i > 0 && IsDelimByte(path[i]) && LastDelimiter("\\/:", path.substr(0, i)) != i - 1)
    return path.substr(0, i);
  return path.substr(0, i + 1);
}

std::string ExtractFileName(const std::string& path) {
  const size_t i = LastDelimiter("\\/:", path);
  return i == std::string::npos ? path : path.substr(i + 1);
}

std::string ExtractFileExt(const std::string& path) {
  const size_t i = LastDelimiter(".\\/:", path);
  if (i == std::string::npos || path[i] != '.') return std::string();
  return path.substr(i);
}

std::string ExtractFileDrive(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':' && !IsTrailByteAt(path, 1)) return path.substr(0, 2);
  if (path.size() >= 2 && IsPathDelimiterAt(path, 0) && IsPathDelimiterAt(path, 1)) {
    // "\\server\share": up to (not including) the delimiter after the share name.
    int delimiters = 0;
    size_t i = 2;
    for (; i < path.size(); ++i) {
      if (IsPathDelimiterAt(path, i) && ++delimiters == 2) break;
    }
    return path.substr(0, i);
  }
  return std::string();
}

bool IsFullPath(const std::string& path) {
  const unsigned char letter = path.empty() ? 0 : static_cast<unsigned char>(path[0]);
  if (path.size() >= 3 && ((letter | 0x20) >= 'a' && (letter | 0x20) <= 'z') && path[1] == ':')
    return IsPathDelimiterAt(path, 2);
  // "\\server\share\..." with a server and a share name.
  const std::string drive = ExtractFileDrive(path);
  if (drive.size() < 2 || !IsPathDelimiterAt(drive, 0)) return false;
  size_t share = 2;
  while (share < drive.size() && !IsPathDelimiterAt(drive, share)) ++share;
  return share > 2 && share + 1 < drive.size();
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  const size_t i = LastDelimiter(".\\/:", path);
  if (i == std::string::npos || path[i] != '.') return path + ext;
  return path.substr(0, i) + ext;
}

std::string ReplaceDelimiters(const std::string& path, char with) {
  std::string out = path;
  size_t j = 0;
  while (j < out.size()) {
    if (IsLeadByte(static_cast<unsigned char>(out[j])) && j + 1 < out.size()) {
      j += 2;
      continue;
    }
    if (IsDelimByte(out[j])) out[j] = with;
    ++j;
  }
  return out;
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  size_t j = 0;
  while (j < path.size()) {
    if (IsLeadByte(static_cast<unsigned char>(path[j])) && j + 1 < path.size()) {
      current.append(path, j, 2);
      j += 2;
      continue;
    }
    if (IsDelimByte(path[j])) {
      parts.push_back(current);
      current.clear();
    } else {
      current += path[j];
    }
    ++j;
  }
  parts.push_back(current);
  return parts;
}

bool IsSafeRelativeName(const std::string& name) { return WindowsNameFault(name) == TNameFault::None; }

}  // namespace vr
