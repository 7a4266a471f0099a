#include "textconv.h"

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
