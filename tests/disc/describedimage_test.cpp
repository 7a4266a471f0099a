// MDS/MDF, CCD/IMG and NRG images written around one ISO: each reads as the ISO does, hostile
// descriptions are refused naming the image, and independent converters turn the fixtures into the ISO.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "describedbuild.h"
#include "disc/describedimage.h"
#include "isobuild.h"
#include "support/tempdrive.h"
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using vr::EDiscError;
using vr::TDiscImage;

const std::string kPattern = [] {
  std::string s;
  for (int i = 0; i < 5000; ++i) s += static_cast<char>('a' + i * 7 % 26);
  return s;
}();

std::string GameIso() {
  TIsoBuilder b;
  const uint32_t big = b.Add(kPattern);
  const uint32_t small = b.Add("install");
  b.Root(Record("GAME.DAT;1", big, static_cast<uint32_t>(kPattern.size())) +
         Record("INSTALL.DAT;1", small, 7));
  b.Add(std::string(2048, '\0'));  // a last sector after the files, as mastering tools leave
  return b.Bytes();
}

// The image's root names and the first file's bytes.
std::string Summary(TDiscImage& image) {
  std::string out;
  const vr::TDiscNode& root = image.Node(0);
  for (uint32_t c = root.FirstChild; c < root.FirstChild + root.ChildCount; ++c)
    out += image.Node(c).Name + " ";
  std::string data(static_cast<size_t>(image.Node(root.FirstChild).Size), '\0');
  data.resize(image.Read(root.FirstChild, 0, data.data(), data.size()));
  return out + (data == kPattern ? "data ok" : "data differs");
}

struct TFormatCase {
  std::string Name, Open, Kind, DataMode;
  std::function<void(vr::TTempDrive&, const std::string&)> Write;
};

std::vector<TFormatCase> FormatCases() {
  auto mds = [](int sectorBytes, int64_t audio) {
    return [=](vr::TTempDrive& d, const std::string& iso) {
      const TMdsImage m = MakeMds(iso, sectorBytes, audio);
      d.WriteFile("img\\game.mds", m.Mds);
      d.WriteFile("img\\game.mdf", m.Mdf);
    };
  };
  auto nrg = [](int version, int sectorBytes, int64_t audio) {
    return [=](vr::TTempDrive& d, const std::string& iso) {
      d.WriteFile("img\\game.nrg", MakeNrg(iso, version, sectorBytes, audio));
    };
  };
  return {
      {"MDS 2048", "game.mds", "MDS/MDF", "MODE1/2048", mds(2048, 0)},
      {"MDS 2352 + audio", "game.mds", "MDS/MDF", "MODE1/2352", mds(2352, 30)},
      {"MDS 2448", "game.mds", "MDS/MDF", "MODE1/2352", mds(2448, 0)},
      {"CCD + audio", "game.ccd", "CCD/IMG", "MODE1/2352",
       [](vr::TTempDrive& d, const std::string& iso) {
         const TCcdImage c = MakeCcd(iso, 30);
         d.WriteFile("img\\game.ccd", c.Ccd);
         d.WriteFile("img\\game.img", c.Img);
         d.WriteFile("img\\game.sub", c.Sub);
       }},
      {"CCD in capitals", "GAME.CCD", "CCD/IMG", "MODE1/2352",
       [](vr::TTempDrive& d, const std::string& iso) {
         const TCcdImage c = MakeCcd(iso);
         d.WriteFile("img\\GAME.CCD", c.Ccd);
         d.WriteFile("img\\GAME.IMG", c.Img);
       }},
      {"NRG v1 2048", "game.nrg", "NRG", "MODE1/2048", nrg(1, 2048, 0)},
      {"NRG v2 2352 + audio", "game.nrg", "NRG", "MODE1/2352", nrg(2, 2352, 30)},
  };
}

TEST(DescribedImage, EachFormatReadsAsItsIso) {
  const std::string iso = GameIso();
  const std::string expected = Summary(*TDiscImage::FromBytes(vr::MemoryImageBytes(iso), "game.iso"));
  ASSERT_EQ(expected, "GAME.DAT INSTALL.DAT data ok");
  for (const TFormatCase& c : FormatCases()) {
    vr::TTempDrive drive;
    c.Write(drive, iso);
    auto image = TDiscImage::Open(vr::Platform(), drive.PathOf("img\\" + c.Open));
    EXPECT_EQ(Summary(*image), expected) << c.Name;
    EXPECT_EQ(image->Info().Kind, c.Kind) << c.Name;
    EXPECT_EQ(image->Info().Sectors, static_cast<int64_t>(iso.size() / 2048)) << c.Name;
    const auto& tracks = image->Info().Tracks;
    ASSERT_FALSE(tracks.empty()) << c.Name;
    EXPECT_EQ(vr::TrackModeName(tracks[0].Mode), c.DataMode) << c.Name;
    if (c.Name.find("audio") != std::string::npos) {
      ASSERT_EQ(tracks.size(), 2u) << c.Name;
      EXPECT_EQ(tracks[1].Mode, vr::TTrackMode::tmAudio) << c.Name;
      EXPECT_EQ(tracks[1].Start, static_cast<int64_t>(iso.size() / 2048)) << c.Name;
    }
  }
}

TEST(DescribedImage, DataTrackAfterAudioAndNamesInTheDescription) {
  // Audio first: the data track is the second, its sectors placed after the first track's.
  const std::string ccd =
      "[CloneCD]\nVersion=3\n[Entry 0]\nSession=1\nPoint=0xa2\nControl=0x04\nPLBA=900\n"
      "[Entry 1]\nSession=1\nPoint=0x01\nControl=0x00\nPLBA=0\n[Entry 2]\nSession=1\nPoint=0x02\n"
      "Control=0x04\nPLBA=600\n[TRACK 2]\nMODE=2\n";
  vr::TImageLayout layout = vr::ParseCcd(ccd, "Disc.CCD");
  EXPECT_EQ(layout.DataFile, "Disc.img");
  const size_t data = vr::CheckDataTrack(layout, 900 * 2352, "Disc.CCD");
  ASSERT_EQ(data, 1u);
  EXPECT_EQ(layout.Tracks[1].Mode, vr::TTrackMode::tmMode2_2352);
  EXPECT_EQ(layout.Tracks[1].FileOffset, 600 * 2352);
  EXPECT_EQ(layout.Tracks[1].Sectors, 300);
  EXPECT_EQ(layout.Tracks[0].Sectors, 600);

  // The MDF named in the descriptor, in 8-bit and in 16-bit form; a Japanese name reaches code page 932.
  const std::string iso = GameIso();
  EXPECT_EQ(vr::ParseMds(MakeMds(iso, 2048, 0, "other.mdf").Mds, "a.mds").DataFile, "other.mdf");
  TMdsImage wide = MakeMds(iso, 2048, 0, "");
  const size_t nameBlock = wide.Mds.size() - 1 - 16;
  wide.Mds[nameBlock + 4] = 1;
  wide.Mds.pop_back();
  wide.Mds += std::string("\xB2\x30\xFC\x30\xE0\x30.\0m\0d\0f\0\0\0", 16);  // ゲーム.mdf in UTF-16LE
  EXPECT_EQ(vr::ParseMds(wide.Mds, "a.mds").DataFile, "\x83\x51\x81\x5B\x83\x80.mdf");
}

// The error of opening `open` (below the drive's folder) after `write` made the files.
std::string ErrorOf(const std::function<void(vr::TTempDrive&)>& write, const std::string& open) {
  vr::TTempDrive drive;
  write(drive);
  try {
    TDiscImage::Open(vr::Platform(), drive.PathOf(open));
  } catch (const EDiscError& e) {
    return e.Message.find(drive.PathOf(open)) == std::string::npos ? "not naming the image: " + e.Message
                                                                   : e.Message;
  }
  return "no error";
}

TEST(DescribedImage, HostileDescriptionsAreRefusedNamingTheImage) {
  const std::string iso = GameIso();
  const TMdsImage mds = MakeMds(iso, 2352);
  auto withMds = [&](const std::string& descriptor, const std::string& mdf = "", bool writeMdf = true) {
    return [=](vr::TTempDrive& d) {
      d.WriteFile("img\\game.mds", descriptor);
      if (writeMdf) d.WriteFile("img\\game.mdf", mdf.empty() ? mds.Mdf : mdf);
      d.WriteFile("secret.mdf", mds.Mdf);
    };
  };
  auto patched = [&](size_t at, uint64_t value, int bytes) {
    std::string m = mds.Mds;
    PutLe(m, at, value, bytes);
    return m;
  };
  struct TCase {
    std::string Name;
    std::function<void(vr::TTempDrive&)> Write;
    std::string Open, Expected;
  };
  const size_t track1 = 0x70 + 3 * 80;
  std::string manyTracks = mds.Mds;
  manyTracks[0x58 + 0x0A] = static_cast<char>(255);
  PutLe(manyTracks, 0x58 + 0x14, manyTracks.size(), 4);
  for (int i = 0; i < 255; ++i) manyTracks += mds.Mds.substr(track1, 80);
  const TCcdImage ccd = MakeCcd(iso);
  auto withCcd = [&](const std::string& text, const std::string& img) {
    return [=](vr::TTempDrive& d) {
      d.WriteFile("img\\game.ccd", text);
      d.WriteFile("img\\game.img", img);
    };
  };
  const std::string nrg = MakeNrg(iso, 2, 2048);
  auto withNrg = [&](const std::string& bytes) {
    return [=](vr::TTempDrive& d) { d.WriteFile("img\\game.nrg", bytes); };
  };
  std::string nrgLongChunk = nrg;
  const size_t chunks = nrg.rfind("CUEX");
  PutBe(nrgLongChunk, chunks + 4, 0x7FFFFFF0, 4);
  std::string nrgPastEnd = nrg;
  PutBe(nrgPastEnd, nrg.size() - 8, 1ull << 40, 8);
  std::string nrgTrackPast = nrg;
  const size_t dao = nrg.rfind("DAOX");
  PutBe(nrgTrackPast, dao + 8 + 22 + 18 + 16, 1ull << 40, 8);  // the data track's end
  std::string nrgChunkLoop = nrg.substr(0, chunks);
  for (int i = 0; i < 2000; ++i) nrgChunkLoop += "SINF" + Be(0, 4);
  nrgChunkLoop += "NER5" + Be(chunks, 8);

  const std::vector<TCase> cases = {
      {"MDF outside the folder",
       withMds(mds.Mds.substr(0, mds.Mds.size() - 6) + std::string("../secret.mdf\0", 14)), "img\\game.mds",
       "outside its folder"},
      {"MDF by absolute path",
       withMds(mds.Mds.substr(0, mds.Mds.size() - 6) + std::string("/etc/passwd\0", 12)), "img\\game.mds",
       "outside its folder"},
      {"MDF missing", withMds(mds.Mds, "", false), "img\\game.mds", "game.mdf it names is missing"},
      {"MDF truncated", withMds(mds.Mds, mds.Mdf.substr(0, mds.Mdf.size() - 3000)), "img\\game.mds",
       "truncated"},
      {"absurd session count", withMds(patched(0x14, 0xFFFF, 2)), "img\\game.mds", "count of sessions"},
      {"track list past the end", withMds(patched(0x58 + 0x14, 0x7FFFFFFF, 4)), "img\\game.mds",
       "lies past its end"},
      {"too many tracks", withMds(manyTracks), "img\\game.mds", "more than 99 tracks"},
      {"version 2", withMds(patched(16, 2, 1)), "img\\game.mds", "version 2 is not supported"},
      {"odd sector size", withMds(patched(track1 + 0x10, 2000, 2)), "img\\game.mds", "2000 bytes"},
      {"IMG truncated", withCcd(ccd.Ccd, ccd.Img.substr(0, ccd.Img.size() - 2352 * 3)), "img\\game.ccd",
       "truncated"},
      {"track listed twice", withCcd(ccd.Ccd + "[Entry 9]\nPoint=0x01\nControl=4\nPLBA=0\n", ccd.Img),
       "img\\game.ccd", "listed twice"},
      {"not a CCD", withCcd("[Disc]\n", ccd.Img), "img\\game.ccd", "no [CloneCD] section"},
      {"NRG cut", withNrg(nrg.substr(0, nrg.size() - 100)), "img\\game.nrg", "no NERO or NER5 footer"},
      {"NRG chunk past the end", withNrg(nrgLongChunk), "img\\game.nrg", "runs past the end"},
      {"NRG footer past the end", withNrg(nrgPastEnd), "img\\game.nrg", "points past the end"},
      {"NRG track past the end", withNrg(nrgTrackPast), "img\\game.nrg", "truncated"},
      {"NRG endless chunks", withNrg(nrgChunkLoop), "img\\game.nrg", "more than 1024 chunks"},
  };
  for (const TCase& c : cases) EXPECT_THAT(ErrorOf(c.Write, c.Open), HasSubstr(c.Expected)) << c.Name;

#ifndef _WIN32
  // A link or a pipe in the MDF's place is never opened.
  EXPECT_THAT(ErrorOf(
                  [&](vr::TTempDrive& d) {
                    d.WriteFile("img\\game.mds", mds.Mds);
                    d.WriteFile("real.mdf", mds.Mdf);
                    const std::string host = d.Posix()->HostPath(d.Folder());
                    std::filesystem::create_symlink(host + "/real.mdf", host + "/img/game.mdf");
                  },
                  "img\\game.mds"),
              HasSubstr("through a link"));
  EXPECT_THAT(ErrorOf(
                  [&](vr::TTempDrive& d) {
                    d.WriteFile("img\\game.mds", mds.Mds);
                    ASSERT_EQ(mkfifo((d.Posix()->HostPath(d.Folder()) + "/img/game.mdf").c_str(), 0600), 0);
                  },
                  "img\\game.mds"),
              HasSubstr("not a regular file"));
#endif
}

#ifndef _WIN32
// Debian's converters (GPL, run by this test only) read the fixtures back as the ISO they were made of.
TEST(DescribedImage, IndependentConvertersAgreeWithTheFixtures) {
  const std::string iso = GameIso();
  vr::TTempDrive drive;
  const TCcdImage ccd = MakeCcd(iso);
  drive.WriteFile("c.ccd", ccd.Ccd);
  drive.WriteFile("c.img", ccd.Img);
  drive.WriteFile("c.sub", ccd.Sub);
  const TMdsImage mds = MakeMds(iso, 2352);
  drive.WriteFile("m.mds", mds.Mds);
  drive.WriteFile("m.mdf", mds.Mdf);
  drive.WriteFile("n.nrg", MakeNrg(iso, 2, 2048));
  drive.WriteFile("n1.nrg", MakeNrg(iso, 1, 2048));
  const std::string host = drive.Posix()->HostPath(drive.Folder());
  // nrg2iso copies everything after the first track's pregap, the chunks at the end included: the ISO
  // must be what comes first.
  auto converted = [&](const std::string& tool, const std::string& in, const std::string& out,
                       bool prefix = false) {
    const std::string command = "command -v " + tool + " >/dev/null || exit 127; cd '" + host + "' && " +
                                tool + " " + in + " " + out + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    if (status != 0) return tool + " failed (" + std::to_string(status) + "; scripts/setup.sh installs it)";
    std::ifstream file(host + "/" + out, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    const std::string got = bytes.str();
    return (prefix ? got.compare(0, iso.size(), iso) == 0 : got == iso) ? std::string("same ISO")
                                                                        : tool + " wrote another ISO";
  };
  EXPECT_EQ(converted("ccd2iso", "c.img", "c.iso"), "same ISO");
  EXPECT_EQ(converted("mdf2iso", "m.mdf", "m.iso"), "same ISO");
  EXPECT_EQ(converted("nrg2iso", "n.nrg", "n.iso", true), "same ISO");
  EXPECT_EQ(converted("nrg2iso", "n1.nrg", "n1.iso", true), "same ISO");
}
#endif

}  // namespace
}  // namespace vrtest
