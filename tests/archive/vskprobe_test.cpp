// Compression probe of layered image files.
#include "imaging/vskprobe.h"

#include <gtest/gtest.h>

#include <string>

namespace vr {
namespace {

// "Vesk" + version, a record length and a record whose byte 22 is compType.
std::string BinaryImage(const std::string& version, uint32_t recordLength, int compType) {
  std::string s = "Vesk" + version;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((recordLength >> (8 * i)) & 0xFF));
  std::string record(recordLength, '\0');
  if (recordLength > 22) record[22] = static_cast<char>(compType);
  return s + record + "pixels";
}

bool Probe(const std::string& bytes, int64_t* endPosition = nullptr) {
  TMemoryStream s;
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  s.SetPosition(0);
  bool r = IsStoredUncompressed(s);
  if (endPosition) *endPosition = s.Position();
  return r;
}

TEST(VskProbe, CompressionTypeOfBinaryHeadedImages) {
  int64_t pos = 0;
  EXPECT_TRUE(Probe(BinaryImage("107", 40, 1), &pos));
  EXPECT_EQ(pos, 7 + 4 + 40);  // stops right after the record
  EXPECT_FALSE(Probe(BinaryImage("107", 40, 0)));
  EXPECT_FALSE(Probe(BinaryImage("107", 40, 2)));
  EXPECT_TRUE(Probe(BinaryImage("103", 24, 1)));
  // A record that ends before the compression byte leaves it zero.
  EXPECT_FALSE(Probe(BinaryImage("107", 22, 1)));
  // A claimed record far longer than 40 bytes is read only up to 40 bytes.
  EXPECT_TRUE(Probe(BinaryImage("110", 1000, 1), &pos));
  EXPECT_EQ(pos, 7 + 4 + 40);
  std::string huge = std::string("Vesk110") + "\xFF\xFF\xFF\xFF" + std::string(40, '\0');
  huge[11 + 22] = 1;
  EXPECT_TRUE(Probe(huge, &pos));
  EXPECT_EQ(pos, 7 + 4 + 40);
}

TEST(VskProbe, OlderAndOtherFilesAreNotStored) {
  int64_t pos = 0;
  // The XML-headed form: "X20" reads as hexadecimal 32.
  EXPECT_FALSE(Probe("VeskX200<?xml version=\"1.0\"?>", &pos));
  EXPECT_EQ(pos, 7);
  for (const char* v : {"100", "101", "102"}) EXPECT_FALSE(Probe(BinaryImage(v, 40, 1))) << v;
  EXPECT_FALSE(Probe(std::string("BM\x36\x00\x00\x00\x00\x00", 8), &pos));
  EXPECT_EQ(pos, 7);
  EXPECT_FALSE(Probe(""));
  EXPECT_FALSE(Probe("Ves"));
  // "$67" is hexadecimal 103: a record follows.
  EXPECT_TRUE(Probe(BinaryImage("$67", 40, 1)));
  EXPECT_FALSE(Probe(BinaryImage("$66", 40, 1)));
}

TEST(VskProbe, BadVersionTextRaisesConversionError) {
  EXPECT_THROW(Probe(BinaryImage("1a7", 40, 1)), EConvertError);
  EXPECT_THROW(Probe(BinaryImage("   ", 40, 1)), EConvertError);
  EXPECT_THROW(Probe("Vesk"), EConvertError);  // nothing after the signature
}

TEST(VskProbe, TextToIntegerRule) {
  EXPECT_EQ(VskTextToInt("107"), 107);
  EXPECT_EQ(VskTextToInt("  -12"), -12);
  EXPECT_EQ(VskTextToInt("+7"), 7);
  EXPECT_EQ(VskTextToInt("X20"), 32);
  EXPECT_EQ(VskTextToInt("x1f"), 31);
  EXPECT_EQ(VskTextToInt("$FF"), 255);
  EXPECT_EQ(VskTextToInt("0x10"), 16);
  EXPECT_EQ(VskTextToInt("2147483647"), 2147483647);
  EXPECT_EQ(VskTextToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(VskTextToInt("$FFFFFFFF"), -1);
  EXPECT_THROW(VskTextToInt(""), EConvertError);
  EXPECT_THROW(VskTextToInt("$"), EConvertError);
  EXPECT_THROW(VskTextToInt("12 "), EConvertError);
  EXPECT_THROW(VskTextToInt("2147483648"), EConvertError);
  EXPECT_THROW(VskTextToInt("$100000000"), EConvertError);
}

}  // namespace
}  // namespace vr
