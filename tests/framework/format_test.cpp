// Format, integer conversions and ASCII case helpers.
#include <gtest/gtest.h>

#include <cstdint>

#include "framework/sysutils.h"

namespace vr {
namespace {

TEST(Format, StringsAndJapaneseText) {
  EXPECT_EQ(Format("%s:ファイルがありません", {"game.dat"}), "game.dat:ファイルがありません");
  EXPECT_EQ(Format("%s をコンピュータから削除します", {std::string("ゲーム")}),
            "ゲーム をコンピュータから削除します");
  EXPECT_EQ(Format("<%s>がありません", {""}), "<>がありません");
  EXPECT_EQ(Format("[%5s][%-5s][%.2s]", {"ab", "ab", "abcdef"}), "[   ab][ab   ][ab]");
  EXPECT_EQ(Format("100%% %s", {"done"}), "100% done");
  EXPECT_EQ(Format("no conversions", {}), "no conversions");
}

TEST(Format, IntegersWidthAndMinimumDigits) {
  EXPECT_EQ(Format("%s.%.3d", {"game", 1}), "game.001");
  EXPECT_EQ(Format(".%.3d", {12}), ".012");
  EXPECT_EQ(Format(".%.3d", {1234}), ".1234");
  EXPECT_EQ(Format("%.3d", {-5}), "-005");
  EXPECT_EQ(Format("[%5d][%-5d][%1d]", {42, 42, 123}), "[   42][42   ][123]");
  EXPECT_EQ(Format("[%6.3d]", {7}), "[   007]");
  EXPECT_EQ(Format("データファイルを構築中(%d/%d)...", {3, 10}), "データファイルを構築中(3/10)...");
  EXPECT_EQ(Format("ディスク%dを入れてからOKをクリックしてください", {2}),
            "ディスク2を入れてからOKをクリックしてください");
  EXPECT_EQ(Format("~rmupdate%d\\", {2}), "~rmupdate2\\");
  EXPECT_EQ(Format("%d", {int64_t{1} << 40}), "1099511627776");
  EXPECT_EQ(Format("%d", {INT64_MIN}), "-9223372036854775808");
  EXPECT_EQ(Format("%u", {-1}), "4294967295");
}

TEST(Format, HexIsUpperCaseWithMinimumDigits) {
  EXPECT_EQ(Format("%x", {255}), "FF");
  EXPECT_EQ(Format("%.4x", {255}), "00FF");
  EXPECT_EQ(Format("%X", {0xABCDEF}), "ABCDEF");
  EXPECT_EQ(Format("%x", {-1}), "FFFFFFFF");
  EXPECT_EQ(Format("%8x|", {0x1F}), "      1F|");
}

TEST(Format, FixedPointDefaultsToTwoDecimals) {
  // "%2f" is a width of two with the default two decimals.
  EXPECT_EQ(Format("最低 %2f MBのディスクの空き容量が必要です", {1536.0}),
            "最低 1536.00 MBのディスクの空き容量が必要です");
  EXPECT_EQ(Format("%2f", {0.5}), "0.50");
  EXPECT_EQ(Format("%f", {3.14159}), "3.14");
  EXPECT_EQ(Format("%8.3f|", {3.14159}), "   3.142|");
  EXPECT_EQ(Format("%-8.1f|", {2.0}), "2.0     |");
  EXPECT_EQ(Format("%.0f", {2.5}), "3");
  EXPECT_EQ(Format("%.2f", {0.125}), "0.13");  // halves round away from zero
  EXPECT_EQ(Format("%.2f", {-0.125}), "-0.13");
  EXPECT_EQ(Format("%.2f", {9.999}), "10.00");
  EXPECT_EQ(Format("%.2f", {-0.001}), "0.00");
  EXPECT_EQ(Format("%f", {123456789.0}), "123456789.00");
  EXPECT_EQ(Format("%.3f", {0.0006}), "0.001");
  EXPECT_EQ(Format("%.3f", {0.00004}), "0.000");
  EXPECT_EQ(Format("%n", {1234567.891}), "1,234,567.89");
}

TEST(Format, ExponentAndGeneral) {
  EXPECT_EQ(Format("%e", {1234.5}), "1.23450000000000E+003");
  EXPECT_EQ(Format("%.3e", {-0.000123456}), "-1.23E-004");
  EXPECT_EQ(Format("%g", {0.5}), "0.5");
  EXPECT_EQ(Format("%g", {1536.0}), "1536");
  EXPECT_EQ(Format("%g", {1e20}), "1E20");
  EXPECT_EQ(Format("%g", {0.0001}), "0.0001");
  EXPECT_EQ(Format("%g", {0.0}), "0");
}

TEST(Format, IndexesAndStarArguments) {
  EXPECT_EQ(Format("%1:s %0:s", {"a", "b"}), "b a");
  EXPECT_EQ(Format("%1:s-%s-%0:s", {"a", "b", "c"}), "b-c-a");
  EXPECT_EQ(Format("[%*d]", {5, 42}), "[   42]");
  EXPECT_EQ(Format("[%-*d]", {4, 7}), "[7   ]");
  EXPECT_EQ(Format("[%.*f]", {3, 1.0}), "[1.000]");
}

TEST(Format, MismatchedOrMissingArgumentsRaise) {
  EXPECT_THROW(Format("%d", {"text"}), EConvertError);
  EXPECT_THROW(Format("%d", {1.5}), EConvertError);
  EXPECT_THROW(Format("%s", {1}), EConvertError);
  EXPECT_THROW(Format("%f", {1}), EConvertError);
  EXPECT_THROW(Format("%x", {2.0}), EConvertError);
  EXPECT_THROW(Format("%d %d", {1}), EConvertError);
  EXPECT_THROW(Format("%q", {1}), EConvertError);
  EXPECT_THROW(Format("50%", {}), EConvertError);
  EXPECT_THROW(Format("%*d", {"w", 1}), EConvertError);
  try {
    Format("%d", {"x"});
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_NE(e.Message.find("%d"), std::string::npos) << "the message names the format";
  }
}

TEST(IntConversions, RoundTripAndRejects) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(-42), "-42");
  EXPECT_EQ(IntToStr(INT64_MAX), "9223372036854775807");
  EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(StrToInt("108"), 108);
  EXPECT_EQ(StrToInt("007"), 7);
  EXPECT_EQ(StrToInt("  -12"), -12);
  EXPECT_EQ(StrToInt("+5"), 5);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("-9223372036854775808"), INT64_MIN);
  for (const char* bad : {"", " ", "-", "12a", "1 2", "abc", "9223372036854775808", "$", "1.5"})
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
}

TEST(AsciiCase, DoubleByteCharactersAreLeftAlone) {
  EXPECT_EQ(UpperCaseAscii("Game.Exe"), "GAME.EXE");
  EXPECT_EQ(LowerCaseAscii("Game.Exe"), "game.exe");
  // "ア" is 0x83 0x41 and "ャ" 0x83 0x62: their trail bytes look like "A" and "b".
  const std::string a = "\x83\x41";
  const std::string ya = "\x83\x62";
  EXPECT_EQ(LowerCaseAscii(a + "B"), a + "b");
  EXPECT_EQ(UpperCaseAscii(ya + "b"), ya + "B");
  EXPECT_EQ(UpperCaseAscii("x\x83"), "X\x83");  // a lone lead byte at the end
}

}  // namespace
}  // namespace vr
