// Double-byte aware path helpers and code page conversions.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/dbcspath.h"

namespace vr {
namespace {

// "表" is 0x95 0x5C and "ソ" is 0x83 0x5C in code page 932: their second byte is a backslash.
const std::string kHyou = "\x95\x5C";
const std::string kSo = "\x83\x5C";

TEST(DbcsPath, TrailBackslashIsNeverADelimiter) {
  ASSERT_EQ(std::string("表"), kHyou);  // the source is compiled to code page 932
  const std::string path = "C:\\" + kHyou + "\\" + kSo;
  EXPECT_TRUE(IsTrailByteAt(path, 4));
  EXPECT_FALSE(IsPathDelimiterAt(path, 4));
  EXPECT_TRUE(IsPathDelimiterAt(path, 5));
  EXPECT_TRUE(IsTrailByteAt(path, 7));
  EXPECT_EQ(ExtractFileName(path), kSo);
  EXPECT_EQ(ExtractFilePath(path), "C:\\" + kHyou + "\\");
  EXPECT_EQ(ExtractFileDir(path), "C:\\" + kHyou);
  EXPECT_EQ(LastDelimiter("\\", path), 5u);
  // A name ending in such a character still gets its backslash, and keeps it when it has one.
  EXPECT_EQ(IncludeTrailingBackslash("a" + kSo), "a" + kSo + "\\");
  EXPECT_EQ(IncludeTrailingBackslash("a" + kSo + "\\"), "a" + kSo + "\\");
  EXPECT_EQ(ExcludeTrailingBackslash(kSo), kSo);
  EXPECT_EQ(ExcludeTrailingBackslash("a\\"), "a");
  EXPECT_EQ(ReplaceDelimiters("a\\" + kHyou + "/b", '-'), "a-" + kHyou + "-b");
  EXPECT_EQ(SplitPath(kHyou + "\\x\\\\" + kSo), (std::vector<std::string>{kHyou, "x", "", kSo}));
  // A lead byte at the very end has no second byte: the byte before it is judged normally.
  EXPECT_FALSE(IsTrailByteAt("a\x95", 1));
  EXPECT_TRUE(IsPathDelimiterAt("\x95\\\\", 2));
}

TEST(DbcsPath, DrivesRootsAndExtensions) {
  EXPECT_EQ(IncludeTrailingBackslash("C:"), "C:\\");
  EXPECT_EQ(IncludeTrailingBackslash(""), "\\");
  EXPECT_EQ(ExtractFileDrive("C:\\a\\b"), "C:");
  EXPECT_EQ(ExtractFileDrive("\\\\server\\share\\dir\\f"), "\\\\server\\share");
  EXPECT_EQ(ExtractFileDrive("a\\b"), "");
  EXPECT_EQ(ExtractFileDir("C:\\a"), "C:\\");
  EXPECT_EQ(ExtractFileDir("C:\\a\\b.txt"), "C:\\a");
  EXPECT_EQ(ExtractFilePath("C:x.txt"), "C:");
  EXPECT_EQ(ExtractFileName("C:x.txt"), "x.txt");
  EXPECT_EQ(ExtractFileExt("a.b\\c"), "");
  EXPECT_EQ(ExtractFileExt("dir\\setup.EXE"), ".EXE");
  EXPECT_EQ(ExtractFileExt("a.tar.gz"), ".gz");
  EXPECT_EQ(ExtractFileExt(kSo + ".dat"), ".dat");
  EXPECT_EQ(ChangeFileExt("a.b\\c", ".ext"), "a.b\\c.ext");
  EXPECT_EQ(ChangeFileExt("game.dat", ".ext"), "game.ext");
  EXPECT_EQ(ChangeFileExt("game.dat", ""), "game");

  // Full paths name one place whatever the current folder and the search path are.
  for (const char* full : {"C:\\game.exe", "d:/x/y.exe", "\\\\server\\share\\setup.exe"})
    EXPECT_TRUE(IsFullPath(full)) << full;
  for (const char* partial : {"game.exe", "C:game.exe", "\\game.exe", ".\\game.exe", "\\\\server",
                              "\\\\server\\", "\\\\\\share\\x", "1:\\x", ""})
    EXPECT_FALSE(IsFullPath(partial)) << partial;
}

TEST(DbcsPath, SafeRelativeNames) {
  for (const std::string& ok :
       std::vector<std::string>{"a.txt", "data\\bg\\01.png", "save/x", "folder\\",
                                kHyou + "\\" + kSo + ".dat", "con1.txt", "a..b", ".hidden", "nulls"})
    EXPECT_TRUE(IsSafeRelativeName(ok)) << ok;
  for (const std::string& bad : std::vector<std::string>{"",
                                                         "..",
                                                         ".",
                                                         "a\\..\\b",
                                                         "..\\x",
                                                         "a/../b",
                                                         "\\abs",
                                                         "/abs",
                                                         "C:x",
                                                         "C:\\x",
                                                         "\\\\srv\\share\\x",
                                                         "a\\\\b",
                                                         "CON",
                                                         "nul.txt",
                                                         "dir\\Aux",
                                                         "com1",
                                                         "LPT9.log",
                                                         "prn .txt",
                                                         "a\x01",
                                                         "tab\tname",
                                                         "a:b",
                                                         "trail.",
                                                         "trail ",
                                                         "wild*",
                                                         "q?",
                                                         "pipe|x",
                                                         "\x95"})
    EXPECT_FALSE(IsSafeRelativeName(bad)) << bad;
}

TEST(CodePage, RoundTripsAndReplacements) {
  const std::string text = "ゲームスタート \\表ソ ｱｲｳ ①Ⅹ~";
  const std::string utf8 = Cp932ToUtf8(text);
  EXPECT_EQ(Utf8ToCp932(utf8), text);
  // 0x5C stays a backslash and 0x7E a tilde (no yen or overline mapping).
  EXPECT_EQ(Cp932ToUtf8("\\~"), "\\~");
  EXPECT_EQ(Cp932ToUtf16(kHyou), std::u16string(1, char16_t(0x8868)));
  EXPECT_EQ(Utf16ToCp932(std::u16string(1, char16_t(0x8868))), kHyou);
  EXPECT_EQ(Cp932ToUtf16("\xB1"), std::u16string(1, char16_t(0xFF71)));  // half-width katakana
  // Broken input: a lone lead byte, a stray byte that no character starts with.
  EXPECT_EQ(Cp932ToUtf16("a\x81"), (std::u16string{u'a', char16_t(0xFFFD)}));
  EXPECT_EQ(Cp932ToUtf16("\xA0z"), (std::u16string{char16_t(0xFFFD), u'z'}));
  // Characters without a code page 932 form, unpaired surrogates, invalid UTF-8.
  EXPECT_EQ(Utf16ToCp932(u"a\u00E9b"), "a?b");
  EXPECT_EQ(Utf16ToCp932(std::u16string{u'x', char16_t(0xD800), u'y'}), "x?y");
  EXPECT_EQ(Utf16ToCp932(u"\U0001F600"), "?");
  EXPECT_EQ(Utf8ToCp932("a\xC3"), "a?");
  EXPECT_EQ(Utf8ToCp932("\xE0\x80\x80"), "???");  // overlong form
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), (std::u16string{char16_t(0xD83D), char16_t(0xDE00)}));
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  // Long text crosses the converter's internal buffer.
  std::string longText;
  for (int i = 0; i < 3000; ++i) longText += "表a";
  EXPECT_EQ(Utf8ToCp932(Cp932ToUtf8(longText)), longText);
  EXPECT_EQ(Cp932ToUtf16(longText).size(), 6000u);
}

}  // namespace
}  // namespace vr
