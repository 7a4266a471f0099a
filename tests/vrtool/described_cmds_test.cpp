// MDS/MDF, CCD/IMG and NRG images of a package mastered by xorriso, and UDF images of it: installed,
// described and converted back to the ISO they were made of; a damaged image leaves nothing behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "disc/describedbuild.h"
#include "disc/udfbuild.h"
#include "tooltest.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

// A one-disc package in t/cd (settings, data file, a loose file) and its ISO in t/disc.iso.
void MakePackageIso(const TempDir& t) {
  const fs::path cd = t.Path() / "cd";
  fs::create_directories(cd);
  Json s = {{"Title", u8"形式"}, {"GameExe", "game.exe"}, {"DiskCount", 1}, {"PackageFiles", {"game.exe"}}};
  WriteFile(t.Path() / "s.json", s.dump());
  ASSERT_EQ(RunTool({"settings", "build", t / "s.json", "-o", (cd / "install.dat").string()}).Status, 0);
  std::string big;
  for (int i = 0; i < 300000; ++i) big += static_cast<char>(i * 31 % 251);
  WriteFile(t.Path() / "pack" / "data", big);
  ASSERT_EQ(RunTool({"pack", "-q", t / "pack", "-o", (cd / "game.dat").string()}).Status, 0);
  WriteFile(cd / "game.exe", "MZ game");
  ASSERT_EQ(std::system(("xorriso -as mkisofs -J -R -V FORMATS -o " + t / "disc.iso" + " " + t / "cd" +
                         " >/dev/null 2>&1")
                            .c_str()),
            0)
      << "xorriso (scripts/setup.sh installs it)";
}

struct TFormat {
  std::string Image, Kind, Track;  // Track: what disc info says of track 01, or of the file system
  std::string Iso = "disc.iso";    // what disc convert gives back
};

// Every format around the ISO, each in a folder of its own; returns the image to name.
std::vector<TFormat> WriteFormats(const TempDir& t) {
  const std::string iso = ReadFile(t.Path() / "disc.iso");
  auto put = [&](const std::string& name, const std::string& bytes) { WriteFile(t.Path() / name, bytes); };
  for (int sectorBytes : {2048, 2352, 2448}) {
    const TMdsImage m = MakeMds(iso, sectorBytes, sectorBytes == 2352 ? 100 : 0);
    const std::string base = "mds" + std::to_string(sectorBytes) + "/game";
    put(base + ".mds", m.Mds);
    put(base + ".mdf", m.Mdf);
  }
  const TCcdImage c = MakeCcd(iso, 100);
  put("ccd/game.ccd", c.Ccd);
  put("ccd/game.img", c.Img);
  put("ccd/game.sub", c.Sub);
  put("nrg1/game.nrg", MakeNrg(iso, 1, 2048));
  put("nrg2/game.nrg", MakeNrg(iso, 2, 2352, 100));
  // A UDF 2.50 DVD image of the folder's files, and a UDF bridge image mastered by genisoimage.
  std::vector<TUdfEntry> files;
  for (const char* name : {"install.dat", "game.dat", "game.exe"})
    files.emplace_back(name, ReadFile(t.Path() / "cd" / name));
  put("udf/game.iso", MakeUdf(files, {0x0250, true, true, true, false}));
  fs::create_directories(t.Path() / "bridge");
  EXPECT_EQ(
      std::system(
          ("genisoimage -quiet -udf -o " + t / "bridge/game.iso" + " " + t / "cd" + " 2>/dev/null").c_str()),
      0);
  return {{"mds2048/game.mds", "MDS/MDF", "track 01: MODE1/2048"},
          {"mds2352/game.mds", "MDS/MDF", "track 01: MODE1/2352"},
          {"mds2448/game.mds", "MDS/MDF", "track 01: MODE1/2352"},
          {"ccd/game.ccd", "CCD/IMG", "track 01: MODE1/2352"},
          {"nrg1/game.nrg", "NRG", "track 01: MODE1/2048"},
          {"nrg2/game.nrg", "NRG", "track 01: MODE1/2352"},
          {"udf/game.iso", "UDF", "file system: UDF 2.50 (UDF names)", "udf/game.iso"},
          {"bridge/game.iso", "ISO", "file system: UDF 1.02, ISO 9660 bridge", "bridge/game.iso"}};
}

TEST(VrtoolDescribedImage, EachFormatInstallsDescribesAndConvertsLikeItsIso) {
  TempDir t;
  MakePackageIso(t);
  RunResult folder = RunTool({"install", "-q", t / "cd", "-d", t / "from-folder"});
  ASSERT_EQ(folder.Status, 0) << folder.Err;
  for (const TFormat& f : WriteFormats(t)) {
    const std::string game = t / ("game-" + f.Image.substr(0, f.Image.find('/')));
    RunResult r = RunTool({"install", "-q", t / f.Image, "-d", game});
    ASSERT_EQ(r.Status, 0) << f.Image << ": " << r.Err;
    EXPECT_EQ(ReadTree(game), ReadTree(t.Path() / "from-folder")) << f.Image;
    RunResult check = RunTool({"check", "--medium", t / f.Image, game});
    EXPECT_EQ(check.Status, 0) << f.Image << ": " << check.Out << check.Err;

    const std::string info = RunTool({"disc", "info", t / f.Image}).Out;
    EXPECT_THAT(info, HasSubstr("(" + f.Kind + ")")) << f.Image;
    EXPECT_THAT(info, HasSubstr(f.Track)) << f.Image;
    EXPECT_THAT(info, HasSubstr(u8"package: 形式, disc 1 of 1")) << f.Image;

    const std::string out = t / ("converted-" + f.Image.substr(0, f.Image.find('/')) + ".iso");
    RunResult convert = RunTool({"disc", "convert", "-q", t / f.Image, "-o", out});
    ASSERT_EQ(convert.Status, 0) << f.Image << ": " << convert.Err;
    EXPECT_TRUE(ReadFile(out) == ReadFile(t.Path() / f.Iso)) << f.Image << ": the converted ISO differs";
  }
  EXPECT_THAT(RunTool({"disc", "info", t / "nrg2/game.nrg"}).Out, HasSubstr("track 02: AUDIO"));
}

TEST(VrtoolDescribedImage, DamagedImagesLeaveNothingBehind) {
  TempDir t;
  MakePackageIso(t);
  const std::string iso = ReadFile(t.Path() / "disc.iso");
  // The tree loads, but a sector of the data file in the middle is no data sector: the conversion
  // fails half-way, and neither the ISO nor its temporary file is left; an ISO already there is kept.
  TMdsImage m = MakeMds(iso, 2352);
  const size_t sectors = iso.size() / 2048;
  m.Mdf[(sectors - 2) * 2352 + 15] = 3;
  WriteFile(t.Path() / "bad" / "game.mds", m.Mds);
  WriteFile(t.Path() / "bad" / "game.mdf", m.Mdf);
  WriteFile(t.Path() / "out" / "kept.iso", "before");
  RunResult r = RunTool({"disc", "convert", "-q", t / "bad/game.mds", "-o", t / "out/kept.iso"});
  EXPECT_NE(r.Status, 0);
  EXPECT_THAT(r.Err, HasSubstr("game.mds"));
  EXPECT_EQ(ReadFile(t.Path() / "out" / "kept.iso"), "before");
  r = RunTool({"disc", "convert", "-q", t / "bad/game.mds", "-o", t / "out/new.iso"});
  EXPECT_NE(r.Status, 0);
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(t.Path() / "out")) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1u) << "a temporary or partial ISO was left";

  // A cut MDF is refused by install before anything is written, naming the image.
  WriteFile(t.Path() / "cut" / "game.mds", MakeMds(iso, 2048).Mds);
  WriteFile(t.Path() / "cut" / "game.mdf", iso.substr(0, iso.size() / 2));
  r = RunTool({"install", "-q", t / "cut/game.mds", "-d", t / "game"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("cut/game.mds"));
  EXPECT_THAT(r.Err, HasSubstr("truncated"));
  EXPECT_FALSE(fs::exists(t.Path() / "game"));
}

// A DAT entry for a file, with the sums from md5sum, sha1sum and zlib.
std::string Rom(const fs::path& file) {
  auto tool = [&](const std::string& name) {
    std::string out(64, '\0');
    FILE* p = popen((name + " '" + file.string() + "'").c_str(), "r");
    out.resize(p ? std::fread(out.data(), 1, out.size(), p) : 0);
    if (p) pclose(p);
    return out.substr(0, out.find(' '));
  };
  const std::string bytes = ReadFile(file);
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08lx",
                crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
  return "<rom name=\"" + file.filename().string() + "\" size=\"" + std::to_string(bytes.size()) +
         "\" crc=\"" + crc + "\" md5=\"" + tool("md5sum") + "\" sha1=\"" + tool("sha1sum") + "\"/>";
}

TEST(VrtoolDescribedImage, DiscVerifyFindsTheGameAndNamesEveryBadFile) {
  TempDir t;
  MakePackageIso(t);
  const std::string iso = ReadFile(t.Path() / "disc.iso");
  const std::string bin = RawSectors(iso, 1);
  WriteFile(t.Path() / "set" / "Game (Japan).bin", bin);
  WriteFile(t.Path() / "set" / "Game (Japan).cue",
            "FILE \"Game (Japan).bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
  const TMdsImage m = MakeMds(iso, 2352);
  WriteFile(t.Path() / "mds" / "game.mds", m.Mds);
  WriteFile(t.Path() / "mds" / "game.mdf", m.Mdf);
  WriteFile(
      t.Path() / "games.dat",
      "<?xml version=\"1.0\"?>\n<datafile>\n<game name=\"Another\"><rom name=\"x.bin\" size=\"1\"/></game>\n"
      "<game name=\"Game (Japan)\">" +
          Rom(t.Path() / "set" / "Game (Japan).cue") + Rom(t.Path() / "set" / "Game (Japan).bin") +
          "</game>\n<game name=\"Game (MDS)\">" + Rom(t.Path() / "mds" / "game.mds") +
          Rom(t.Path() / "mds" / "game.mdf") + "</game>\n</datafile>\n");

  RunResult good =
      RunTool({"disc", "verify", t / "set/Game (Japan).cue", t / "mds/game.mds", "--dat", t / "games.dat"});
  EXPECT_EQ(good.Status, 0) << good.Out << good.Err;
  EXPECT_THAT(good.Out,
              HasSubstr("game \"Game (Japan)\"\n  Game (Japan).cue: ok\n  Game (Japan).bin: ok\ngood dump"));
  EXPECT_THAT(good.Out, HasSubstr("game \"Game (MDS)\"\n  game.mds: ok\n  game.mdf: ok\ngood dump"));

  auto verify = [&] {
    return RunTool({"disc", "verify", t / "set/Game (Japan).cue", "--dat", t / "games.dat"});
  };
  std::string changed = bin;
  changed[100000] ^= 1;
  WriteFile(t.Path() / "set" / "Game (Japan).bin", changed);
  RunResult r = verify();
  EXPECT_EQ(r.Status, 1);
  EXPECT_THAT(r.Out, HasSubstr("Game (Japan).bin: CRC-32 "));
  WriteFile(t.Path() / "set" / "Game (Japan).bin", bin + "x");
  r = verify();
  EXPECT_EQ(r.Status, 1);
  EXPECT_THAT(r.Out, HasSubstr("Game (Japan).bin: size " + std::to_string(bin.size() + 1) + " (DAT " +
                               std::to_string(bin.size()) + ")"));
  fs::remove(t.Path() / "set" / "Game (Japan).bin");
  r = verify();
  EXPECT_EQ(r.Status, 1);
  EXPECT_THAT(r.Out, HasSubstr("Game (Japan).bin: missing"));

  WriteFile(t.Path() / "broken.dat", "<datafile><game name=\"a\">");
  r = RunTool({"disc", "verify", t / "set/Game (Japan).cue", "--dat", t / "broken.dat"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("broken.dat: not well-formed XML"));
}

}  // namespace
}  // namespace vrtest
