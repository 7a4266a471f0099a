// Disc images as media and archive sources: images mastered by xorriso and genisoimage, and BIN/CUE
// files made from them with raw MODE1/2352 and MODE2/2352 sectors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include <nlohmann/json.hpp>

#include "tooltest.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

bool HaveMasteringTools() {
  return std::system("command -v xorriso >/dev/null && command -v genisoimage >/dev/null") == 0;
}

// Runs a mastering tool quietly; the test fails when it does.
void Master(const std::string& command) {
  ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

// Raw sectors from an ISO: sync, header (mode 1, or mode 2 with a form-1 subheader) and the user data;
// EDC/ECC stay zero. `audio` sectors of silence follow as a second track.
void ToBin(const fs::path& iso, const fs::path& bin, const fs::path& cue, int mode, int audio = 0) {
  const std::string in = ReadFile(iso);
  std::string out;
  for (size_t s = 0; s < in.size() / 2048; ++s) {
    std::string sector(2352, '\0');
    sector.replace(1, 10, std::string(10, '\xFF'));
    sector[15] = static_cast<char>(mode);
    sector.replace(mode == 1 ? 16 : 24, 2048, in.substr(s * 2048, 2048));
    out += sector;
  }
  out += std::string(static_cast<size_t>(audio) * 2352, '\0');
  WriteFile(bin, out);
  std::string sheet = "FILE \"" + bin.filename().string() + "\" BINARY\n  TRACK 01 MODE" +
                      std::to_string(mode) + "/2352\n    INDEX 01 00:00:00\n";
  if (audio) {
    const size_t at = in.size() / 2048;
    char msf[64];
    std::snprintf(msf, sizeof msf, "%02zu:%02zu:%02zu", at / 4500, at / 75 % 60, at % 75);
    sheet += std::string("  TRACK 02 AUDIO\n    INDEX 01 ") + msf + "\n";
  }
  WriteFile(cue, sheet);
}

// A package of `discs` media in folders cd1, cd2, ...: settings, a data file and a loose file each.
void MakePackage(const TempDir& t, int discs, const std::string& title = u8"三枚組") {
  for (int n = 1; n <= discs; ++n) {
    const std::string i = std::to_string(n);
    const fs::path cd = t.Path() / ("cd" + i);
    fs::create_directories(cd);
    Json s = {
        {"Title", title},         {"GameExe", "game.exe"},
        {"DiskCount", discs},     {"DiskIndex", n - 1},
        {"RegistryKey", "Disc3"}, {"PackageFiles", {"game.exe", "disc1.txt", "disc2.txt", "disc3.txt"}}};
    WriteFile(t.Path() / ("s" + i + ".json"), s.dump());
    ASSERT_EQ(
        RunTool({"settings", "build", t / ("s" + i + ".json"), "-o", (cd / "install.dat").string()}).Status,
        0);
    WriteFile(t.Path() / ("pack" + i) / ("data" + i), "entry of disc " + i);
    ASSERT_EQ(RunTool({"pack", "-q", t / ("pack" + i), "-o", (cd / "game.dat").string()}).Status, 0);
    WriteFile(cd / ("disc" + i + ".txt"), "loose file of disc " + i);
    if (n == 1) WriteFile(cd / "game.exe", "MZ game");
  }
}

// Disc 1 as an ISO with Joliet and Rock Ridge, disc 2 as MODE1/2352 BIN/CUE with Rock Ridge names,
// disc 3 as MODE2/2352 BIN/CUE with Joliet names (genisoimage) and an audio track.
void MakeImages(const TempDir& t) {
  Master("xorriso -as mkisofs -J -R -V DISC1 -o " + t / "disc1.iso" + " " + t / "cd1");
  Master("xorriso -as mkisofs -R -V DISC2 -o " + t / "disc2.iso" + " " + t / "cd2");
  Master("genisoimage -J -V DISC3 -o " + t / "disc3.iso" + " " + t / "cd3");
  ToBin(t.Path() / "disc2.iso", t.Path() / "disc2.bin", t.Path() / "disc2.cue", 1);
  ToBin(t.Path() / "disc3.iso", t.Path() / "disc3.bin", t.Path() / "disc3.cue", 2, 300);
}

TEST(VrtoolDisc, ThreeImagesInstallLikeTheirFoldersAndUninstall) {
  if (!HaveMasteringTools()) GTEST_SKIP() << "xorriso and genisoimage are not installed";
  TempDir t;
  MakePackage(t, 3);
  MakeImages(t);
  RunResult folders = RunTool(
      {"install", "-q", t / "cd1", "-d", t / "from-folders", "--media-dirs", t / "cd2" + ";" + t / "cd3"});
  ASSERT_EQ(folders.Status, 0) << folders.Err;
  // The first image is the disc the run starts from; the others are placed by their settings.
  RunResult images =
      RunTool({"install", "-q", t / "disc1.iso", t / "disc3.cue", t / "disc2.cue", "-d", t / "game"});
  ASSERT_EQ(images.Status, 0) << images.Err;
  EXPECT_EQ(ReadTree(t.Path() / "game"), ReadTree(t.Path() / "from-folders"));
  EXPECT_EQ(RunTool({"cat", t / "game" + "/game.dat", "data3"}).Out, "entry of disc 3");
  RunResult check = RunTool(
      {"check", "--medium", t / "disc1.iso", "--media-dirs", t / "disc2.cue;" + t / "disc3.cue", t / "game"});
  EXPECT_EQ(check.Status, 0) << check.Out << check.Err;

  // Images and folders mix.
  ASSERT_EQ(RunTool({"install", "-q", t / "cd1", t / "disc3.cue", "-d", t / "mixed", "--media-dirs",
                     t / "disc2.cue"})
                .Status,
            0);
  EXPECT_EQ(ReadTree(t.Path() / "mixed"), ReadTree(t.Path() / "from-folders"));

  ASSERT_EQ(RunTool({"uninstall", "-q", t / "game"}).Status, 0);
  EXPECT_FALSE(fs::exists(t.Path() / "game"));
}

TEST(VrtoolDisc, ListExtractVerifyAndDescribeImages) {
  if (!HaveMasteringTools()) GTEST_SKIP() << "xorriso and genisoimage are not installed";
  TempDir t;
  MakePackage(t, 3);
  MakeImages(t);
  EXPECT_THAT(RunTool({"list", t / "disc1.iso"}).Out, HasSubstr("data1"));
  EXPECT_THAT(RunTool({"list", t / "disc2.cue:/GAME.DAT"}).Out, HasSubstr("data2"));
  ASSERT_EQ(RunTool({"extract", "-C", t / "out", t / "disc3.cue:game.dat"}).Status, 0);
  EXPECT_EQ(ReadFile(t.Path() / "out" / "data3"), "entry of disc 3");
  RunResult verify = RunTool({"verify", t / "disc3.cue"});
  EXPECT_EQ(verify.Status, 0) << verify.Err;
  EXPECT_THAT(verify.Out, HasSubstr("disc3.cue:game.dat\n1 checked, 0 without checksum, 0 bad"));

  const std::string info = RunTool({"disc", "info", t / "disc3.cue"}).Out;
  EXPECT_THAT(info, HasSubstr("label: DISC3"));
  EXPECT_THAT(info, HasSubstr("ISO 9660, Joliet (Joliet names)"));
  EXPECT_THAT(info, HasSubstr("track 01: MODE2/2352"));
  EXPECT_THAT(info, HasSubstr("track 02: AUDIO"));
  EXPECT_THAT(info, HasSubstr(u8"package: 三枚組, disc 3 of 3"));
  EXPECT_THAT(RunTool({"disc", "info", t / "disc2.cue"}).Out,
              HasSubstr("ISO 9660, Rock Ridge (Rock Ridge names)"));
}

TEST(VrtoolDisc, WrongMissingAndDamagedMediaAreRefusedBeforeAnythingIsWritten) {
  if (!HaveMasteringTools()) GTEST_SKIP() << "xorriso and genisoimage are not installed";
  TempDir t;
  MakePackage(t, 3);
  MakeImages(t);
  fs::rename(t.Path() / "cd2", t.Path() / "cd2-kept");
  MakePackage(t, 3, "another");
  Master("xorriso -as mkisofs -J -o " + t / "other2.iso" + " " + t / "cd2");
  auto refused = [&](const std::vector<std::string>& media, const std::string& message) {
    std::vector<std::string> args{"install", "-q"};
    args.insert(args.end(), media.begin(), media.end());
    args.insert(args.end(), {"-d", t / "game"});
    RunResult r = RunTool(args);
    EXPECT_EQ(r.Status, 2);
    EXPECT_THAT(r.Err, HasSubstr(message));
    EXPECT_FALSE(fs::exists(t.Path() / "game"));
  };
  refused({t / "disc1.iso", t / "other2.iso", t / "disc3.cue"}, "other2.iso: holds another game");
  refused({t / "disc1.iso", t / "disc3.cue"}, "disc 2 of 3 is missing");
  refused({t / "disc1.iso", t / "disc3.cue", t / "disc3.iso"}, "are both disc 3");

  // BIN paths come from beside the sheet only; a missing or cut BIN is named.
  WriteFile(t.Path() / "abs.cue",
            "FILE \"" + t / "disc2.bin" + "\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n");
  refused({t / "disc1.iso", t / "abs.cue", t / "disc3.cue"}, "names a file outside its folder");
  fs::rename(t.Path() / "disc2.bin", t.Path() / "moved.bin");
  refused({t / "disc1.iso", t / "disc2.cue", t / "disc3.cue"}, "disc2.bin of the CUE sheet is missing");
  const std::string bin = ReadFile(t.Path() / "moved.bin");
  WriteFile(t.Path() / "disc2.bin", bin.substr(0, 30 * 2352));  // the files lie after sector 30
  refused({t / "disc1.iso", t / "disc2.cue", t / "disc3.cue"}, "past the end of the image");
}

TEST(VrtoolDisc, ShiftJisNamesOfThePrimaryVolumeAreInstalled) {
  if (!HaveMasteringTools()) GTEST_SKIP() << "xorriso and genisoimage are not installed";
  TempDir t;
  const fs::path cd = t.Path() / "cd";
  fs::create_directories(cd);
  Json s = {{"Title", "sjis"},
            {"GameExe", "GAME.EXE"},
            {"DiskCount", 1},
            {"PackageFiles", {"GAME.EXE", u8"ゲーム.TXT"}}};
  WriteFile(t.Path() / "s.json", s.dump());
  ASSERT_EQ(RunTool({"settings", "build", t / "s.json", "-o", (cd / "install.dat").string()}).Status, 0);
  WriteFile(t.Path() / "pack" / "data", "data");
  ASSERT_EQ(RunTool({"pack", "-q", t / "pack", "-o", (cd / "game.dat").string()}).Status, 0);
  WriteFile(cd / "GAME.EXE", "MZ");
  WriteFile(cd / "QQQQQQ.TXT", "named in Shift_JIS");
  // No mastering tool writes Shift_JIS into primary names: the placeholder's six bytes become ゲーム.
  Master("xorriso -as mkisofs --norock -o " + t / "sjis.iso" + " " + cd.string());
  std::string iso = ReadFile(t.Path() / "sjis.iso");
  const size_t at = iso.find("QQQQQQ.TXT;1");
  ASSERT_NE(at, std::string::npos);
  iso.replace(at, 6, "\x83\x51\x81\x5B\x83\x80");
  WriteFile(t.Path() / "sjis.iso", iso);

  EXPECT_THAT(RunTool({"disc", "info", t / "sjis.iso"}).Out, HasSubstr("ISO 9660 (primary names)"));
  RunResult r = RunTool({"install", "-q", t / "sjis.iso", "-d", t / "game"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadFile(t.Path() / "game" / u8"ゲーム.TXT"), "named in Shift_JIS");
}

}  // namespace
}  // namespace vrtest
