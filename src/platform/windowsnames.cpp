#include "platform/windowsnames.h"

#include "platform/codepage.h"
#include "platform/dbcspath.h"

namespace vr {

namespace {

constexpr size_t kMaxPartUnits = 255;  // UTF-16 units of one name
constexpr size_t kMaxPathUnits = 259;  // a path below a folder, as MAX_PATH leaves it

bool IsDeviceName(const std::string& part) {
  // The device is recognised by the part before the first dot, with trailing spaces ignored.
  std::string base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* d : kDevices)
    if (base == d) return true;
  // COM0 and LPT0 are no devices; the superscript digits ¹²³ have no code page 932 form.
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

TNameFault PartFault(const std::string& part) {
  if (part.empty()) return TNameFault::Empty;
  if (part == "." || part == "..") return TNameFault::DotPart;
  size_t j = 0;
  while (j < part.size()) {
    const auto c = static_cast<unsigned char>(part[j]);
    if (IsLeadByte(c)) {
      // Only 0x40-0x7E and 0x80-0xFC follow a lead byte.
      const auto t = j + 1 < part.size() ? static_cast<unsigned char>(part[j + 1]) : 0;
      if (t < 0x40 || t == 0x7F || t > 0xFC) return TNameFault::NotCodePage932;
      j += 2;
      continue;
    }
    if (c < 0x20 || c == 0x7F) return TNameFault::ForbiddenChar;
    if (c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
      return TNameFault::ForbiddenChar;
    if (c == 0x80 || c == 0xA0 || c >= 0xFD) return TNameFault::NotCodePage932;
    ++j;
  }
  const std::u16string wide = Cp932ToUtf16(part);
  if (wide.find(u'\uFFFD') != std::u16string::npos || Utf16ToCp932(wide) != part)
    return TNameFault::NotCodePage932;
  if (IsDeviceName(part)) return TNameFault::DeviceName;
  // Windows drops trailing dots and spaces, so "a." and "a " would name another file.
  if (part.back() == '.' || part.back() == ' ') return TNameFault::TrailingDotOrSpace;
  if (wide.size() > kMaxPartUnits) return TNameFault::TooLong;
  return TNameFault::None;
}

// Upper- and lower-case forms of the double-byte letters of code page 932.
uint32_t FoldDouble(uint32_t code, bool upper) {
  if (upper) {
    if (code >= 0x8281 && code <= 0x829A) return code - 0x21;               // full-width Latin
    if (code >= 0x83BF && code <= 0x83D6) return code - 0x20;               // Greek
    if (code >= 0x8470 && code <= 0x847E) return 0x8440 + (code - 0x8470);  // Cyrillic
    if (code >= 0x8480 && code <= 0x8491) return 0x8440 + 15 + (code - 0x8480);
    if (code >= 0xFA40 && code <= 0xFA49) return 0x8754 + (code - 0xFA40);  // Roman numerals
    if (code >= 0xEEEF && code <= 0xEEF8) return 0x8754 + (code - 0xEEEF);
  } else {
    if (code >= 0x8260 && code <= 0x8279) return code + 0x21;
    if (code >= 0x839F && code <= 0x83B6) return code + 0x20;
    if (code >= 0x8440 && code <= 0x8460) {
      const uint32_t k = code - 0x8440;
      return k < 15 ? 0x8470 + k : 0x8480 + (k - 15);
    }
    if (code >= 0x8754 && code <= 0x875D) return 0xFA40 + (code - 0x8754);
    if (code >= 0xFA4A && code <= 0xFA53) return 0xFA40 + (code - 0xFA4A);
  }
  return code;
}

}  // namespace

std::string FoldCaseCp932(const std::string& s, bool upper) {
  std::string out = s;
  size_t i = 0;
  while (i < out.size()) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    if (IsLeadByte(c) && i + 1 < out.size()) {
      const uint32_t code = (static_cast<uint32_t>(c) << 8) | static_cast<unsigned char>(out[i + 1]);
      const uint32_t folded = FoldDouble(code, upper);
      out[i] = static_cast<char>(folded >> 8);
      out[i + 1] = static_cast<char>(folded & 0xFF);
      i += 2;
      continue;
    }
    if (upper && c >= 'a' && c <= 'z') out[i] = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c - 'A' + 'a');
    ++i;
  }
  return out;
}

TNameFault WindowsNameFault(const std::string& name) {
  if (name.empty()) return TNameFault::Empty;
  // A drive ("C:x") is refused by its colon.
  if (IsPathDelimiterAt(name, 0)) return TNameFault::Absolute;
  std::vector<std::string> parts = SplitPath(name);
  if (parts.size() > 1 && parts.back().empty()) parts.pop_back();
  size_t units = 0;
  for (const std::string& part : parts) {
    const TNameFault fault = PartFault(part);
    if (fault != TNameFault::None) return fault;
    units += Cp932ToUtf16(part).size() + 1;
  }
  return units - 1 > kMaxPathUnits ? TNameFault::TooLong : TNameFault::None;
}

const char* NameFaultText(TNameFault fault) {
  switch (fault) {
    case TNameFault::None:
      return "a usable name";
    case TNameFault::Empty:
      return "an empty name or folder name";
    case TNameFault::DotPart:
      return "a \".\" or \"..\" part";
    case TNameFault::Absolute:
      return "an absolute path or a drive";
    case TNameFault::DeviceName:
      return "a device name Windows reserves (CON, PRN, AUX, NUL, COM1, LPT1, ...)";
    case TNameFault::ForbiddenChar:
      return "a character Windows refuses in names (< > : \" | ? * or a control character)";
    case TNameFault::TrailingDotOrSpace:
      return "a trailing dot or space, which Windows drops";
    case TNameFault::NotCodePage932:
      return "bytes that are no code page 932 character";
    case TNameFault::TooLong:
      return "longer than Windows allows (255 characters a name, 259 a path)";
  }
  return "";
}

const char* NameFaultTextJ(TNameFault fault) {
  switch (fault) {
    case TNameFault::None:
      return "使える名前です";
    case TNameFault::Empty:
      return "空の名前があります";
    case TNameFault::DotPart:
      return "「.」か「..」があります";
    case TNameFault::Absolute:
      return "絶対パスかドライブです";
    case TNameFault::DeviceName:
      return "Windows の予約されたデバイス名です";
    case TNameFault::ForbiddenChar:
      return "Windows が名前に使えない文字があります";
    case TNameFault::TrailingDotOrSpace:
      return "末尾がピリオドか空白です";
    case TNameFault::NotCodePage932:
      return "シフトJISの文字ではないバイトがあります";
    case TNameFault::TooLong:
      return "名前が長すぎます";
  }
  return "";
}

std::u16string NameClashKey(const std::string& name) {
  return Cp932ToUtf16(FoldCaseCp932(ReplaceDelimiters(name, '\\'), true));
}

std::string TNameClashSet::Add(const std::string& name) {
  const std::string path = ReplaceDelimiters(name, '\\');
  // The folders on the way (and the name itself when it ends with a delimiter): a file of the same name
  // clashes, another spelling of the folder does not.
  for (size_t i = 0; i < path.size(); ++i) {
    if (!IsPathDelimiterAt(path, i)) continue;
    const auto [at, added] =
        seen_.emplace(NameClashKey(path.substr(0, i)), TSeen{path.substr(0, i + 1), true});
    if (!added && !at->second.Folder) return at->second.Name;
  }
  if (path.empty() || IsPathDelimiterAt(path, path.size() - 1)) return std::string();
  const auto [at, added] = seen_.emplace(NameClashKey(path), TSeen{path, false});
  return added ? std::string() : at->second.Name;
}

}  // namespace vr
