// Which names Windows can hold and which names it cannot tell apart, on code page 932 byte strings and
// on every host. Every reader and writer of names from archives, media, disc images and install.dat
// decides through these functions, so that what one of them accepts the others accept too.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace vr {

// Why Windows cannot hold a name (a relative path of one or more parts).
enum class TNameFault : uint8_t {
  None,
  Empty,          // an empty name or an empty part ("a\\b")
  DotPart,        // a part "." or ".."
  Absolute,       // a leading delimiter or a drive ("C:")
  DeviceName,     // CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, CLOCK$, with or without extension
  ForbiddenChar,  // one of < > : " | ? * or a control character
  TrailingDotOrSpace,
  NotCodePage932,  // a byte sequence that is no code page 932 character
  TooLong,         // a part of more than 255 UTF-16 units, or the whole of more than 259
};

// The first rule `name` breaks; TNameFault::None when Windows can hold it below a folder. Parts are
// separated by "\\" or "/" (not a trail byte); one trailing delimiter (a folder's name) is allowed.
TNameFault WindowsNameFault(const std::string& name);
inline bool CanWindowsHoldName(const std::string& name) { return WindowsNameFault(name) == TNameFault::None; }
// The rule in a few words (English), for messages: "a reserved device name", ...
const char* NameFaultText(TNameFault fault);
// The same in Japanese, for the messages of the runs.
const char* NameFaultTextJ(TNameFault fault);

// Case folding of code page 932 text as Windows folds names: ASCII and full-width Latin letters, Greek,
// Cyrillic and Roman numerals; every other byte stays as it is.
std::string FoldCaseCp932(const std::string& s, bool upper);
// The form under which Windows tells names apart: equal keys are the same file. Delimiters count as one
// ("a/b" and "A\\B" clash); code page 932 characters that stand for one Unicode character clash too.
std::u16string NameClashKey(const std::string& name);
inline bool NamesClash(const std::string& a, const std::string& b) {
  return NameClashKey(a) == NameClashKey(b);
}

// The names of one tree so far, to find the first that clashes with an earlier one: a file and a file,
// a file and a folder ("a" and "A\\b"), two spellings of one folder ("Data\\x", "data\\y") being fine.
// Each name costs the same however many came before it.
class TNameClashSet {
 public:
  // Adds `name` (a relative path; a folder when it ends with a delimiter); returns the earlier name it
  // clashes with (a folder's with a trailing "\\"), or "" when none (then it is added).
  std::string Add(const std::string& name);

 private:
  struct TSeen {
    std::string Name;
    bool Folder;
  };
  std::unordered_map<std::u16string, TSeen> seen_;
};

}  // namespace vr
