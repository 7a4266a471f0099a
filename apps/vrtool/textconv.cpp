#include "textconv.h"

#if defined(__linux__)
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "console.h"
#include "platform/codepage.h"

namespace vrtool {

std::string ToCp932(const std::string& utf8, const std::string& what) {
  std::string out = vr::Utf8ToCp932(utf8);
  // The converter marks characters it cannot map with "?"; a round trip shows whether that happened.
  if (vr::Cp932ToUtf8(out) != utf8) {
    throw ToolError(what + " \"" + utf8 + "\" cannot be written in code page 932");
  }
  return out;
}

std::string HostPathToCp932(const std::string& utf8, const std::string& what) {
  std::string out = vr::Utf8ToCp932(utf8);
  if (vr::Cp932ToUtf8(out) == utf8) return out;
#if defined(__linux__)
  // Split off the last name; everything before it is a folder that is opened and named by descriptor.
  std::string path = utf8;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string cpName = vr::Utf8ToCp932(name);
  if (vr::Cp932ToUtf8(cpName) != name)
    throw ToolError(what + " \"" + utf8 + "\": its last name cannot be written in code page 932 (folders above it may hold any characters)");
  const int fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw ToolError(what + " \"" + utf8 + "\": the folder \"" + folder + "\" cannot be opened: " + std::strerror(errno));
  // Kept open for the rest of the run.
  return "/proc/self/fd/" + std::to_string(fd) + "/" + cpName;
#else
  throw ToolError(what + " \"" + utf8 + "\" cannot be written in code page 932");
#endif
}

std::string ToUtf8(const std::string& cp932) { return vr::Cp932ToUtf8(cp932); }

std::string HexBytes(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

}  // namespace vrtool
