// UDF images of each revision written by udfbuild.h, a bridge image mastered by genisoimage, 7-Zip's
// listing of the fixtures, and damaged UDF structures refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "disc/discimage.h"
#include "udfbuild.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using vr::EDiscError;
using vr::TDiscImage;

const std::string kBig = [] {
  std::string s;
  for (int i = 0; i < 70000; ++i) s += static_cast<char>('A' + i * 13 % 26);
  return s;
}();

std::vector<TUdfEntry> GameEntries() {
  return {{"GAME.DAT", kBig},
          {"sub", "", true},
          {"sub/small.txt", "small file"},
          {u8"sub/ゲーム.txt", "sixteen-bit name"},
          {"sjis", "eight-bit Shift_JIS name", false, "\x83\x51\x81\x5B\x83\x80.dat"},
          {"empty.txt", ""},
          {u8"caf\u00e9.txt", "no code page 932 form"}};
}

std::unique_ptr<TDiscImage> Load(const std::string& bytes) {
  return TDiscImage::FromBytes(vr::MemoryImageBytes(bytes), "udf.iso");
}

// Every path of the tree below `folder` with its size, and the content of the file at `path`.
std::string Tree(TDiscImage& image, uint32_t folder = 0) {
  std::string out;
  const vr::TDiscNode& f = image.Node(folder);
  for (uint32_t c = f.FirstChild; c < f.FirstChild + f.ChildCount; ++c) {
    const vr::TDiscNode& n = image.Node(c);
    out += image.PathOf(c) + (n.Folder ? "\\" : "=" + std::to_string(n.Size)) + " ";
    if (n.Folder) out += Tree(image, c);
  }
  return out;
}

std::string Content(TDiscImage& image, const std::string& path) {
  for (uint32_t i = 0; i < image.Nodes().size(); ++i) {
    if (image.PathOf(i) != path) continue;
    std::string data(static_cast<size_t>(image.Node(i).Size), '\0');
    data.resize(image.Read(i, 0, data.data(), data.size()));
    return data;
  }
  return "(none)";
}

struct TUdfCase {
  const char* Name;
  TUdfOptions Options;
  const char* Revision;
};
const TUdfCase kCases[] = {
    {"1.02", {0x0102, false, false, false, false}, "1.02"},
    {"1.50 embedded", {0x0150, false, false, true, false}, "1.50"},
    {"2.01 extended", {0x0201, true, false, false, false}, "2.01"},
    {"2.50 metadata", {0x0250, true, true, false, false}, "2.50"},
    {"2.60 metadata embedded", {0x0260, false, true, true, false}, "2.60"},
    {"1.02 bridge", {0x0102, false, false, false, true}, "1.02"},
};

TEST(UdfImage, EachRevisionReadsAsWritten) {
  const std::string expected =
      "GAME.DAT=70000 sub\\ sub\\small.txt=10 sub\\\x83\x51\x81\x5B\x83\x80.txt=16 "
      "\x83\x51\x81\x5B\x83\x80.dat=24 empty.txt=0 ";
  for (const TUdfCase& c : kCases) {
    auto image = Load(MakeUdf(GameEntries(), c.Options));
    EXPECT_EQ(Tree(*image), expected) << c.Name;
    EXPECT_EQ(image->Info().Udf, c.Revision) << c.Name;
    EXPECT_EQ(image->Info().Kind, c.Options.Bridge ? "ISO" : "UDF") << c.Name;
    EXPECT_EQ(image->Info().Label, "UDFDISC") << c.Name;
    EXPECT_EQ(image->Info().LeftOut, 1u) << c.Name;  // café.txt
    EXPECT_EQ(Content(*image, "GAME.DAT"), kBig) << c.Name;
    EXPECT_EQ(Content(*image, "sub\\small.txt"), "small file") << c.Name;
    vr::TDiscImage::TPlainRange range;
    EXPECT_FALSE(image->PlainRange(1, 0, range)) << c.Name;  // bytes in memory: no file to map
  }
}

// Offsets in a 1.02 image of GameEntries(): the partition starts at sector 257; block 0 is the file set,
// block 1 the root's entry, block 2 its identifiers.
constexpr size_t kPartition = 257 * 2048;

std::string ErrorOf(const std::string& bytes) {
  try {
    Load(bytes);
  } catch (const EDiscError& e) {
    return e.Message;
  }
  return "no error";
}

TEST(UdfImage, DamagedStructuresAreRefused) {
  const std::string good = MakeUdf(GameEntries(), {});
  auto retag = [](std::string& s, size_t at, size_t length) {
    udf::Tag(s, at, static_cast<uint16_t>(static_cast<unsigned char>(s[at]) | (s[at + 1] << 8)), 2,
             static_cast<uint32_t>(static_cast<unsigned char>(s[at + 12]) |
                                   (static_cast<unsigned char>(s[at + 13]) << 8)),
             length);
  };
  {
    std::string s = good;
    s[256 * 2048 + 4] ^= 1;  // the anchor's checksum
    EXPECT_THAT(ErrorOf(s), HasSubstr("UDF anchor at sector 256 is damaged"));
  }
  {
    // The sub folder's identifier in the root points to the root's own entry: a loop.
    std::string s = good;
    const size_t fids = kPartition + 2 * 2048;
    const size_t sub = fids + 40 + 48;  // after the parent's and GAME.DAT's identifiers
    ASSERT_EQ(s[sub + 18], 2);
    udf::Le(s, sub + 24, 1, 4);
    retag(s, sub, 38 + static_cast<unsigned char>(s[sub + 19]));
    EXPECT_THAT(ErrorOf(s), HasSubstr("sub: a folder reached twice"));
  }
  {
    // GAME.DAT's data placed far past the partition's end.
    std::string s = good;
    const size_t entry = kPartition + 3 * 2048;
    udf::Le(s, entry + 176 + 4, 0x7FFFFFF0, 4);
    retag(s, entry, 176 + 8);
    EXPECT_THAT(ErrorOf(s), HasSubstr("outside its partition"));
  }
  {
    std::string s = good;
    s[34 * 2048 + 240] = 0x02;  // revision 3.02
    s[34 * 2048 + 241] = 0x03;
    retag(s, 34 * 2048, 512);
    EXPECT_THAT(ErrorOf(s), HasSubstr("UDF revision 3.02 is not supported"));
  }
  {
    std::string s = good;
    udf::Le(s, 34 * 2048 + 268, 1000, 4);
    retag(s, 34 * 2048, 512);
    EXPECT_THAT(ErrorOf(s), HasSubstr("impossible UDF partition map table"));
  }
  EXPECT_THAT(ErrorOf(good.substr(0, good.size() - 40 * 2048)), HasSubstr("truncated"));
  EXPECT_THAT(ErrorOf(good.substr(0, 200 * 2048)), HasSubstr("too small for its anchor"));
}

#ifndef _WIN32
std::string HostRead(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Command(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  pclose(p);
  return out;
}

// 7-Zip (GPL, run by this test only) lists the fixtures' files; genisoimage masters a bridge image whose
// UDF names win over its ISO 9660 names.
TEST(UdfImage, IndependentToolsAgreeWithTheReader) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "vrtest-udf";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "src" / "sub");
  for (const TUdfCase& c : kCases) {
    std::ofstream(dir / "fixture.iso", std::ios::binary) << MakeUdf(GameEntries(), c.Options);
    const std::string listing = Command("7z l -slt -tUdf '" + (dir / "fixture.iso").string() + "' 2>&1");
    EXPECT_THAT(listing, Not(HasSubstr("ERROR"))) << c.Name << listing;
    EXPECT_THAT(listing, HasSubstr("Path = GAME.DAT\nFolder = -\nSize = 70000")) << c.Name << listing;
    EXPECT_THAT(listing, HasSubstr(u8"Path = sub/ゲーム.txt")) << c.Name;
    EXPECT_THAT(listing, HasSubstr("Path = sub/small.txt")) << c.Name;
  }
  std::ofstream(dir / "src" / "LongFileName.txt", std::ios::binary) << "long name";
  std::ofstream(dir / "src" / "sub" / u8"日本語.txt", std::ios::binary) << kBig;
  ASSERT_EQ(std::system(("genisoimage -quiet -udf -o '" + (dir / "bridge.iso").string() + "' '" +
                         (dir / "src").string() + "' 2>/dev/null")
                            .c_str()),
            0)
      << "genisoimage (scripts/setup.sh installs it)";
  auto image = Load(HostRead(dir / "bridge.iso"));
  EXPECT_EQ(image->Info().Udf, "1.02");
  // The primary names would be LONGFILE.TXT and a mangled name; UDF keeps them whole.
  EXPECT_EQ(Tree(*image), "LongFileName.txt=9 sub\\ sub\\\x93\xFA\x96\x7B\x8C\xEA.txt=70000 ");
  EXPECT_EQ(Content(*image, "sub\\\x93\xFA\x96\x7B\x8C\xEA.txt"), kBig);
  std::filesystem::remove_all(dir);
}
#endif

}  // namespace
}  // namespace vrtest
