// Which names Windows can hold and which it cannot tell apart.
#include <gtest/gtest.h>

#include <vector>

#include "platform/windowsnames.h"

namespace vr {
namespace {

TEST(WindowsNames, NamesWindowsCannotHoldAreRefusedWithTheirRule) {
  const std::pair<std::string, TNameFault> cases[] = {
      {"aux.txt", TNameFault::DeviceName},
      {"con", TNameFault::DeviceName},
      {"dir\\Lpt9.log", TNameFault::DeviceName},
      {"nul .txt", TNameFault::DeviceName},
      {"a:b.txt", TNameFault::ForbiddenChar},
      {"x?.dat", TNameFault::ForbiddenChar},
      {"tab\there", TNameFault::ForbiddenChar},
      {"dot.", TNameFault::TrailingDotOrSpace},
      {"sp ", TNameFault::TrailingDotOrSpace},
      {"dir.\\a", TNameFault::TrailingDotOrSpace},
      {"a\\\\b", TNameFault::Empty},
      {"a\\..\\b", TNameFault::DotPart},
      {"\\abs", TNameFault::Absolute},
      {"C:x", TNameFault::ForbiddenChar},
      {"\x95", TNameFault::NotCodePage932},
      {"a\x80z", TNameFault::NotCodePage932},
      {"a\xFDz", TNameFault::NotCodePage932},
      {std::string(256, 'n'), TNameFault::TooLong},
      {std::string(200, 'n') + "\\" + std::string(60, 'n'), TNameFault::TooLong},
  };
  for (const auto& [name, fault] : cases) {
    EXPECT_EQ(WindowsNameFault(name), fault) << name;
    EXPECT_FALSE(CanWindowsHoldName(name)) << name;
  }
  for (const std::string& ok :
       std::vector<std::string>{"com0", "con1.txt", "console", ".hidden", "a..b", "folder\\", "画像\\表.png",
                                "ｱｲｳ.txt", "Ⅰ.txt", std::string(255, 'n')})
    EXPECT_TRUE(CanWindowsHoldName(ok)) << ok;
}

TEST(WindowsNames, CaseFoldingDecidesWhichNamesClash) {
  EXPECT_TRUE(NamesClash("Read.txt", "read.TXT"));
  EXPECT_TRUE(NamesClash("ＡＢ.txt", "ａｂ.txt"));  // full-width Latin
  EXPECT_TRUE(NamesClash("Ωα", "ωΑ"));
  EXPECT_TRUE(NamesClash("Д", "д"));
  EXPECT_TRUE(NamesClash("a/b", "A\\B"));
  // The NEC and IBM rows hold the same Roman numeral: one Unicode character, one name.
  EXPECT_TRUE(NamesClash("\xFA\x4A", "\x87\x54"));
  EXPECT_TRUE(NamesClash("\xFA\x40", "\x87\x54"));
  EXPECT_FALSE(NamesClash("ｱ", "ア"));  // half- and full-width kana are different names
  EXPECT_FALSE(NamesClash("あ", "ア"));
  EXPECT_FALSE(NamesClash("a", "a "));
}

TEST(WindowsNames, ClashSetFindsFilesAndFoldersOfOneName) {
  TNameClashSet set;
  EXPECT_EQ(set.Add("Read.txt"), "");
  EXPECT_EQ(set.Add("read.txt"), "Read.txt");
  EXPECT_EQ(set.Add("Data\\a.png"), "");
  EXPECT_EQ(set.Add("data/b.png"), "");  // one folder spelt twice
  EXPECT_EQ(set.Add("DATA\\A.PNG"), "Data\\a.png");
  EXPECT_EQ(set.Add("data"), "Data\\");           // a file where a folder is
  EXPECT_EQ(set.Add("read.TXT\\x"), "Read.txt");  // a folder where a file is
  EXPECT_EQ(set.Add("画像\\表"), "");
  EXPECT_EQ(set.Add("画像\\表\\"), "画像\\表");
}

}  // namespace
}  // namespace vr
