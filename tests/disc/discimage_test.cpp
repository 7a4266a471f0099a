// The image reader on images written byte by byte: names, extents, raw sectors, CUE sheets, and the
// hostile cases (loops, extents past the end, too many names, truncated files).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "disc/discimage.h"
#include "isobuild.h"
#include "support/tempdrive.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using vr::EDiscError;
using vr::TDiscImage;

std::unique_ptr<TDiscImage> Load(const std::string& bytes) {
  return TDiscImage::FromBytes(vr::MemoryImageBytes(bytes), "test.iso");
}

std::string ErrorOf(const std::string& bytes) {
  try {
    Load(bytes);
  } catch (const EDiscError& e) {
    return e.Message;
  }
  return "no error";
}

std::vector<std::string> Names(const TDiscImage& image, uint32_t folder = 0) {
  std::vector<std::string> names;
  const vr::TDiscNode& f = image.Node(folder);
  for (uint32_t c = f.FirstChild; c < f.FirstChild + f.ChildCount; ++c) names.push_back(image.Node(c).Name);
  return names;
}

std::string ReadAll(TDiscImage& image, uint32_t node) {
  std::string out(static_cast<size_t>(image.Node(node).Size), '\0');
  EXPECT_EQ(image.Read(node, 0, out.data(), out.size()), out.size());
  return out;
}

// Rock Ridge: "SP" in the root's "." record, then "NM" (and "PX") entries in the records.
std::string Susp(const std::string& sig, const std::string& body) {
  return sig + static_cast<char>(4 + body.size()) + '\1' + body;
}
const std::string kSp = Susp("SP", std::string("\xBE\xEF\0", 3));
std::string Nm(const std::string& name) { return Susp("NM", std::string(1, '\0') + name); }

TEST(DiscImage, NamesFromEachTreeAndUnusableOnesLeftOut) {
  {
    // Primary names keep their Shift_JIS bytes; the version and a bare trailing dot go.
    TIsoBuilder b;
    const uint32_t data = b.Add("abc");
    b.Root(Record("\x83\x51\x81\x5B\x83\x80.TXT;1", data, 3) + Record("NOEXT.;1", data, 3) +
           Record("A\\B;1", data, 3) + Record("\x81", data, 3));
    auto image = Load(b.Bytes());
    EXPECT_EQ(Names(*image), (std::vector<std::string>{"\x83\x51\x81\x5B\x83\x80.TXT", "NOEXT"}));
    EXPECT_EQ(image->Info().LeftOut, 2u);
    EXPECT_EQ(ReadAll(*image, 1), "abc");
  }
  {
    // Rock Ridge names of 255 bytes are taken, longer ones and links are left out; UTF-8 becomes CP932.
    TIsoBuilder b;
    const uint32_t data = b.Add("x");
    // Long names continue in an area of their own: two "NM" entries each, through "CE".
    const std::string longest(255, 'n');
    auto continued = [&](const std::string& name) {
      const std::string area = Susp("NM", "\1" + name.substr(0, 200)) + Nm(name.substr(200));
      std::string ce = Susp("CE", std::string(24, '\0'));
      PutBoth32(ce, 4, b.Add(area));
      PutBoth32(ce, 20, static_cast<uint32_t>(area.size()));
      return ce;
    };
    b.Root(Record("A;1", data, 1, 0, continued(longest)) +
               Record("B;1", data, 1, 0, continued(longest + "n")) +
               Record("C;1", data, 1, 0, Nm(u8"ゲーム.txt")) + Record("D;1", data, 1, 0, Susp("SL", "\0\0")) +
               Record("E;1", data, 1, 0, Nm("..")),
           kSp);
    auto image = Load(b.Bytes());
    EXPECT_TRUE(image->Info().RockRidge);
    EXPECT_EQ(Names(*image), (std::vector<std::string>{longest, "\x83\x51\x81\x5B\x83\x80.txt"}));
    EXPECT_EQ(image->Info().LeftOut, 3u);
  }
  {
    // A Joliet tree wins over the primary one; its UCS-2 names become code page 932.
    TIsoBuilder b;
    const uint32_t data = b.Add("j");
    b.Root(Record("PRIMARY.TXT;1", data, 1));
    const std::string ucs2("\x30\xB2\x30\xFC\x30\xE0\0.\0t\0x\0t\0;\0001", 18);  // ゲーム.txt;1
    const uint32_t root = b.Add(TIsoBuilder::Folder(0, 0, Record(ucs2, data, 1)));
    std::string& s = b.Bytes();
    std::string svd = s.substr(16 * 2048, 2048);
    svd[0] = 2;
    svd.replace(88, 3, "%/E");
    svd.replace(156, 34, Record(std::string(1, '\0'), root, 2048, 2));
    s.replace(17 * 2048, 2048, svd);  // in the terminator's place: the scan stops at the root folder
    auto image = Load(s);
    EXPECT_TRUE(image->Info().JolietNames);
    EXPECT_EQ(Names(*image), (std::vector<std::string>{"\x83\x51\x81\x5B\x83\x80.txt"}));
  }
}

TEST(DiscImage, NamesWindowsCannotHoldOrTellApartAreLeftOutEachWithALine) {
  TIsoBuilder b;
  const uint32_t upper = b.Add("upper"), lower = b.Add("lower");
  const auto folder = static_cast<uint32_t>(b.Bytes().size() / 2048);
  b.Add(
      TIsoBuilder::Folder(folder, 18, Record("ＡＢ.TXT;1", upper, 5) + Record("ａｂ.txt;1", lower, 5), 2048));
  b.Root(Record("AUX.TXT;1", upper, 5) + Record("CON;1", upper, 5) + Record("DIR", folder, 2048, 2) +
         Record("NAME..;1", upper, 5) + Record("READ.TXT;1", upper, 5) + Record("read.txt;1", lower, 5) +
         Record("SP ;1", upper, 5));
  auto image = Load(b.Bytes());
  EXPECT_EQ(Names(*image), (std::vector<std::string>{"DIR", "READ.TXT"}));
  ASSERT_EQ(Names(*image, 1), (std::vector<std::string>{"ＡＢ.TXT"}));
  EXPECT_EQ(ReadAll(*image, 3), "upper");  // the first of two clashing names is kept, with its own bytes
  EXPECT_EQ(image->Info().LeftOut, 6u);
  EXPECT_THAT(image->Info().LeftOutLines,
              ::testing::ElementsAre("AUX.TXT: left out, a name Windows cannot hold",
                                     "CON: left out, a name Windows cannot hold",
                                     "NAME.: left out, a name Windows cannot hold",
                                     "read.txt: left out, the same name to Windows as READ.TXT",
                                     "SP : left out, a name Windows cannot hold",
                                     "DIR\\ａｂ.txt: left out, the same name to Windows as ＡＢ.TXT"));
}

TEST(DiscImage, FilesOfSeveralExtentsReadAsOne) {
  TIsoBuilder b;
  const uint32_t first = b.Add(std::string(2048, 'a'));
  const uint32_t second = b.Add("tail");
  b.Root(Record("BIG.DAT;1", first, 2048, 0x80) + Record("BIG.DAT;1", second, 4));
  auto image = Load(b.Bytes());
  ASSERT_EQ(image->Node(1).Size, 2052);
  char piece[8] = {};
  EXPECT_EQ(image->Read(1, 2045, piece, sizeof piece), 7u);
  EXPECT_EQ(std::string(piece, 7), "aaatail");
  EXPECT_EQ(image->Read(1, 2052, piece, sizeof piece), 0u);
}

TEST(DiscImage, HostileTreesAreRefusedWithAClearError) {
  {
    TIsoBuilder b;
    b.Root(Record("LOOP", 18, 2048, 2));
    EXPECT_THAT(ErrorOf(b.Bytes()), HasSubstr("loop"));
  }
  {
    TIsoBuilder b;
    b.Root(Record("PAST.DAT;1", 19, 4096));
    EXPECT_THAT(ErrorOf(b.Bytes()), HasSubstr("PAST.DAT: its data lies past the end"));
  }
  {
    TIsoBuilder b;
    b.Root(Record("HUGE", 30, 0xFFFFFFFF, 2));
    EXPECT_THAT(ErrorOf(b.Bytes()), HasSubstr("larger than"));
  }
  {
    // One folder of more names than the reader keeps.
    TIsoBuilder b;
    std::string records;
    for (uint32_t i = 0; i <= TDiscImage::kMaxNodes; ++i) records += Record(std::to_string(i), 0, 0);
    const std::string folder = TIsoBuilder::Folder(0, 18, records);
    const uint32_t at = b.Add(folder);
    b.Root(Record("MANY", at, static_cast<uint32_t>(folder.size()), 2));
    EXPECT_THAT(ErrorOf(b.Bytes()), HasSubstr("more than 500000"));
  }
  EXPECT_THAT(ErrorOf(std::string(40000, '\0')), HasSubstr("not an ISO 9660 image"));
  EXPECT_THAT(ErrorOf("short"), HasSubstr("too small"));
}

// A 2 GiB+ file of an image far larger than memory: bytes are made up as they are read.
class TVirtualBytes : public vr::TImageBytes {
 public:
  TVirtualBytes(std::string head, int64_t size) : head_(std::move(head)), size_(size) {}
  int64_t Size() const override { return size_; }
  bool ReadAt(int64_t offset, void* buffer, size_t count) override {
    if (offset < 0 || offset + static_cast<int64_t>(count) > size_) return false;
    auto* out = static_cast<char*>(buffer);
    for (size_t i = 0; i < count; ++i) {
      const int64_t at = offset + static_cast<int64_t>(i);
      out[i] = at < static_cast<int64_t>(head_.size()) ? head_[static_cast<size_t>(at)]
                                                       : static_cast<char>('A' + at % 26);
    }
    return true;
  }

 private:
  std::string head_;
  int64_t size_;
};

TEST(DiscImage, FileBeyondTwoGiBReadsAtItsFarEnd) {
  TIsoBuilder b;
  const uint32_t length = 0x90000000u;  // 2.25 GiB
  b.Root(Record("LARGE.DAT;1", 32, length));
  const int64_t size = 32 * 2048 + int64_t{length};
  auto image = TDiscImage::FromBytes(std::make_unique<TVirtualBytes>(b.Bytes(), size), "large.iso");
  ASSERT_EQ(image->Node(1).Size, int64_t{length});
  char tail[4] = {};
  ASSERT_EQ(image->Read(1, int64_t{length} - 3, tail, sizeof tail), 3u);
  const int64_t at = size - 3;
  EXPECT_EQ(tail[0], static_cast<char>('A' + at % 26));
}

// Raw sectors with sync, header and user data (EDC/ECC left zero).
std::string Raw(const std::string& iso, int mode, bool form2 = false) {
  std::string out;
  for (size_t s = 0; s < iso.size() / 2048; ++s) {
    std::string sector(2352, '\0');
    sector.replace(1, 10, std::string(10, '\xFF'));
    sector[15] = static_cast<char>(mode);
    if (mode == 2) sector[18] = sector[22] = form2 ? 0x20 : 0;
    sector.replace(mode == 1 ? 16 : 24, 2048, iso.substr(s * 2048, 2048));
    out += sector;
  }
  return out;
}

TEST(DiscImage, RawSectorsOfEachModeAndTheirFaults) {
  TIsoBuilder b;
  const uint32_t data = b.Add(std::string(3000, 'r'));
  b.Root(Record("R.DAT;1", data, 3000));
  for (int mode : {1, 2}) {
    auto image = Load(Raw(b.Bytes(), mode));
    EXPECT_EQ(image->Info().Kind, "BIN");
    EXPECT_EQ(ReadAll(*image, 1), std::string(3000, 'r'));
  }
  EXPECT_THAT(ErrorOf(Raw(b.Bytes(), 2, true)), HasSubstr("not a data sector"));
  // Cut inside the file's second sector: the file reaches past the end.
  const std::string raw = Raw(b.Bytes(), 1);
  EXPECT_THAT(ErrorOf(raw.substr(0, raw.size() - 1000)), HasSubstr("R.DAT: its data lies past the end"));
}

TEST(CueSheet, TracksAndFilesAreLaidOut) {
  const vr::TCueSheet sheet = vr::ParseCueSheet(
      "\xEF\xBB\xBFREM made by hand\r\nFILE \"game disc.bin\" BINARY\r\n  TRACK 01 MODE2/2352\r\n"
      "    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    INDEX 00 01:00:00\r\n    INDEX 01 01:02:00\r\n");
  ASSERT_EQ(sheet.Files, std::vector<std::string>{"game disc.bin"});
  ASSERT_EQ(sheet.Tracks.size(), 2u);
  EXPECT_EQ(sheet.Tracks[0].Mode, vr::TTrackMode::tmMode2_2352);
  EXPECT_EQ(sheet.Tracks[1].Index0, 4500);
  EXPECT_EQ(sheet.Tracks[1].Index1, 4650);
  for (const char* bad : {"TRACK 01 MODE1/2352\n", "FILE a.bin BINARY\nTRACK 01 MODE1/2352\n",
                          "FILE a.bin BINARY\nTRACK 01 CDG\nINDEX 01 00:00:00\n",
                          "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:61:00\n", "FILE \"a.bin BINARY\n"})
    EXPECT_THROW(vr::ParseCueSheet(bad), EDiscError) << bad;
}

TEST(CueSheet, BinFilesAreFoundBesideTheSheetOnly) {
  vr::TTempDrive drive;
  TIsoBuilder b;
  b.Root(Record("X.TXT;1", b.Add("x"), 1));
  drive.WriteFile("disc\\data.bin", Raw(b.Bytes(), 1));
  auto sheet = [&](const std::string& name) {
    drive.WriteFile("disc\\d.cue", "FILE \"" + name + "\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n");
    try {
      auto image = TDiscImage::Open(vr::Platform(), drive.Folder() + "disc\\d.cue");
      return "opened " + image->Info().Kind + " " + std::to_string(image->Info().Tracks[0].Sectors);
    } catch (const EDiscError& e) {
      return e.Message;
    }
  };
  EXPECT_EQ(sheet("data.bin"), "opened BIN/CUE 20");
  for (const std::string& outside : {std::string("../disc/data.bin"), drive.Folder() + "disc\\data.bin",
                                     std::string("/etc/passwd"), std::string("\\disc\\data.bin")})
    EXPECT_THAT(sheet(outside), HasSubstr("outside its folder")) << outside;
  EXPECT_THAT(sheet("missing.bin"), HasSubstr("missing.bin of the CUE sheet is missing"));
#ifndef _WIN32
  const std::string host = drive.Posix()->HostPath(drive.Folder() + "disc");
  std::filesystem::create_symlink(host + "/data.bin", host + "/link.bin");
  EXPECT_THAT(sheet("link.bin"), HasSubstr("through a link"));
#endif
}

TEST(CueSheet, PipesAndBinsShorterThanTheSheetAreRefused) {
  vr::TTempDrive drive;
  TIsoBuilder b;
  b.Root(Record("X.TXT;1", b.Add("x"), 1));
  drive.WriteFile("disc\\data.bin", Raw(b.Bytes(), 1));  // 20 sectors
  auto open = [&](const std::string& sheet) {
    drive.WriteFile("disc\\d.cue", sheet);
    try {
      auto image = TDiscImage::Open(vr::Platform(), drive.Folder() + "disc\\d.cue");
      return "opened " + std::to_string(image->Info().Sectors);
    } catch (const EDiscError& e) {
      return e.Message;
    }
  };
  const std::string track1 = "FILE data.bin BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n";
  EXPECT_THAT(open(track1 + "TRACK 02 AUDIO\nINDEX 01 00:00:20\n"), HasSubstr("opened"));
  // The sheet places track 2 ten minutes in: the data track would be 45,000 sectors of a 20-sector file.
  EXPECT_THAT(
      open(track1 + "TRACK 02 AUDIO\nINDEX 01 10:00:00\n"),
      ::testing::AllOf(HasSubstr("data.bin is shorter than the CUE sheet says"), HasSubstr("truncated")));
  EXPECT_THAT(open(track1 + "TRACK 02 AUDIO\nINDEX 01 00:00:21\n"), HasSubstr("truncated"));
#ifndef _WIN32
  // Opening a pipe waits for a writer that never comes.
  const std::string host = drive.Posix()->HostPath(drive.Folder() + "disc");
  ASSERT_EQ(mkfifo((host + "/fifo.bin").c_str(), 0600), 0);
  EXPECT_THAT(open("FILE fifo.bin BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"),
              HasSubstr("names a pipe, device or socket, not a file: fifo.bin"));
#endif
}

}  // namespace
}  // namespace vrtest
