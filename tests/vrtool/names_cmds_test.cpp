// Names as Windows sees them, through the commands that write and read them: names Windows cannot hold
// and names it cannot tell apart are refused by pack and media build and left out, each named, by the
// readers of archives, disc images and media.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "tooltest.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Json = nlohmann::json;

bool HaveMasteringTools() {
  return std::system("command -v xorriso >/dev/null && command -v genisoimage >/dev/null") == 0;
}

// A media project of one loose file and one archive entry, with the extra files given.
void MakeProject(const TempDir& t, const std::vector<std::string>& loose,
                 const std::vector<std::string>& entries) {
  WriteFile(t.Path() / "files" / "game.exe", "MZ game");
  WriteFile(t.Path() / "arc" / "data.txt", "data");
  for (const std::string& name : loose) WriteFile(t.Path() / "files" / name, "loose " + name);
  for (const std::string& name : entries) WriteFile(t.Path() / "arc" / name, "entry " + name);
  WriteFile(t.Path() / "setup.exe", "MZ setup");
  const Json project = {
      {"settings", {{"Title", "names"}, {"GameExe", "game.exe"}, {"RegistryKey", "VrTest\\Names"}}},
      {"files", "files"},
      {"archive", "arc"},
      {"capacity", "cd700"},
      {"setup", "setup.exe"},
      {"volume", "NAMES"}};
  WriteFile(t.Path() / "project.json", project.dump());
}

TEST(VrtoolNames, WritersRefuseNamesWindowsCannotHoldNamingFileAndRule) {
  const std::pair<std::string, std::string> cases[] = {{"aux.txt", "device name"},
                                                       {"con", "device name"},
                                                       {"a:b.txt", "character Windows refuses"},
                                                       {"x?.dat", "character Windows refuses"},
                                                       {"dot.", "trailing dot or space"},
                                                       {"sp ", "trailing dot or space"},
                                                       {"Com7.log", "device name"}};
  for (const auto& [name, rule] : cases) {
    for (bool asEntry : {false, true}) {
      TempDir t;
      MakeProject(t, asEntry ? std::vector<std::string>{} : std::vector<std::string>{name},
                  asEntry ? std::vector<std::string>{name} : std::vector<std::string>{});
      RunResult r = RunTool({"media", "build", t / "project.json", "-o", t / "out", "--iso"});
      EXPECT_EQ(r.Status, 2) << name;
      EXPECT_THAT(r.Err, HasSubstr((asEntry ? "arc/" : "files/") + name + ": a name Windows cannot hold"));
      EXPECT_THAT(r.Err, HasSubstr(rule)) << name;
      EXPECT_FALSE(fs::exists(t.Path() / "out")) << name;
      if (asEntry) {
        r = RunTool({"pack", "-q", t / "arc", "-o", t / "game.dat"});
        EXPECT_EQ(r.Status, 2) << name;
        EXPECT_THAT(r.Err, HasSubstr(rule)) << name;
        EXPECT_FALSE(fs::exists(t.Path() / "game.dat")) << name;
      }
    }
  }
}

TEST(VrtoolNames, WritersRefuseNamesThatOnlyDifferInCase) {
  for (bool asEntry : {false, true}) {
    TempDir t;
    const std::vector<std::string> names{"Read.txt", u8"sub/ＲＥＡＤ.txt", "read.txt", u8"SUB/ｒｅａｄ.txt"};
    MakeProject(t, asEntry ? std::vector<std::string>{} : names,
                asEntry ? names : std::vector<std::string>{});
    RunResult r = RunTool({"media", "build", t / "project.json", "-o", t / "out"});
    EXPECT_EQ(r.Status, 2);
    const std::string folder = asEntry ? "arc/" : "files/";
    EXPECT_THAT(r.Err, HasSubstr(folder + "read.txt: the same name to Windows as "));
    EXPECT_THAT(r.Err, HasSubstr(folder + "Read.txt (Windows does not tell upper and lower case apart)"));
    EXPECT_FALSE(fs::exists(t.Path() / "out"));
  }
  // Full-width letters fold too, across two spellings of one folder.
  TempDir t;
  WriteFile(t.Path() / "arc" / "sub" / u8"ＲＥＡＤ.txt", "1");
  WriteFile(t.Path() / "arc" / "SUB" / u8"ｒｅａｄ.txt", "2");
  RunResult r = RunTool({"pack", "-q", t / "arc", "-o", t / "game.dat"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr(u8"arc/sub/ＲＥＡＤ.txt: the same name to Windows as "));
  EXPECT_THAT(r.Err, HasSubstr(u8"arc/SUB/ｒｅａｄ.txt (Windows"));
  EXPECT_FALSE(fs::exists(t.Path() / "game.dat"));
}

TEST(VrtoolNames, ExtractRefusesTheSecondSpellingOfAName) {
  TempDir t;
  WriteFile(
      t.Path() / "two.dat",
      BuildArchive(
          102, {{"Read.txt", "first"}, {"dir\\a.txt", "a"}, {"read.txt", "second"}, {"DIR\\b.txt", "b"}}));
  RunResult r = RunTool({"extract", "-C", t / "out", t / "two.dat"});
  EXPECT_NE(r.Status, 0);
  EXPECT_THAT(r.Err, HasSubstr("read.txt: refused: the same name to Windows as Read.txt"));
  EXPECT_EQ(ReadFile(t.Path() / "out" / "Read.txt"), "first");  // never written over by the other
  EXPECT_FALSE(fs::exists(t.Path() / "out" / "read.txt"));
}

TEST(VrtoolNames, ImagesLeaveOutNamesWindowsCannotHoldOrTellApartEachNamed) {
  if (!HaveMasteringTools()) GTEST_SKIP() << "xorriso and genisoimage are not installed";
  TempDir t;
  const fs::path cd = t.Path() / "cd";
  fs::create_directories(cd);
  Json s = {{"Title", "names"},
            {"GameExe", "game.exe"},
            {"DiskCount", 1},
            {"PackageFiles", {"game.exe", "read.txt", "con", "aux.txt"}}};
  WriteFile(t.Path() / "s.json", s.dump());
  ASSERT_EQ(RunTool({"settings", "build", t / "s.json", "-o", (cd / "install.dat").string()}).Status, 0);
  WriteFile(t.Path() / "pack" / "data", "data");
  ASSERT_EQ(RunTool({"pack", "-q", t / "pack", "-o", (cd / "game.dat").string()}).Status, 0);
  WriteFile(cd / "game.exe", "MZ");
  WriteFile(cd / "Read.txt", "upper");
  WriteFile(cd / "read.txt", "lower");
  WriteFile(cd / "con", "device");
  WriteFile(cd / "aux.txt", "device");
  ASSERT_EQ(
      std::system(("genisoimage -J -o " + t / "names.iso" + " " + cd.string() + " >/dev/null 2>&1").c_str()),
      0);

  RunResult info = RunTool({"disc", "info", t / "names.iso"});
  EXPECT_EQ(info.Status, 0) << info.Err;
  EXPECT_THAT(info.Out, HasSubstr("left out: 3"));
  for (const std::string line : {"names.iso:read.txt: left out, the same name to Windows as Read.txt",
                                 "names.iso:con: left out, a name Windows cannot hold",
                                 "names.iso:aux.txt: left out, a name Windows cannot hold"})
    EXPECT_THAT(info.Err, HasSubstr(line));

  RunResult install = RunTool({"install", "-q", t / "names.iso", "-d", t / "game"});
  ASSERT_EQ(install.Status, 0) << install.Err;
  EXPECT_EQ(ReadFile(t.Path() / "game" / "Read.txt"), "upper");
  EXPECT_FALSE(fs::exists(t.Path() / "game" / "read.txt"));
  EXPECT_FALSE(fs::exists(t.Path() / "game" / "con"));
  EXPECT_FALSE(fs::exists(t.Path() / "game" / "aux.txt"));
}

TEST(VrtoolNames, MessagesAboutAFileInAnImageNameTheImageNotADrive) {
  if (!HaveMasteringTools()) GTEST_SKIP() << "xorriso and genisoimage are not installed";
  TempDir t;
  WriteFile(t.Path() / "cd" / "game.dat", BuildArchive(102, {{"a.txt", "a"}}));
  fs::create_symlink("/etc/passwd", t.Path() / "cd" / "passwd.txt");
  ASSERT_EQ(
      std::system(
          ("xorriso -as mkisofs -R -J -o " + t / "link.iso" + " " + t / "cd" + " >/dev/null 2>&1").c_str()),
      0);
  RunResult r = RunTool({"list", t / "link.iso:passwd.txt"});
  EXPECT_NE(r.Status, 0);
  EXPECT_THAT(r.Err, HasSubstr("link.iso:passwd.txt"));
  EXPECT_THAT(r.Err, Not(HasSubstr(":\\")));
}

TEST(VrtoolNames, APipeAmongTheLooseFilesStopsTheInstallBeforeItCopies) {
  TempDir t;
  const fs::path cd = t.Path() / "cd";
  fs::create_directories(cd);
  Json s = {{"Title", "pipe"},
            {"GameExe", "game.exe"},
            {"DiskCount", 1},
            {"PackageFiles", {"game.exe", "pipe.txt"}}};
  WriteFile(t.Path() / "s.json", s.dump());
  ASSERT_EQ(RunTool({"settings", "build", t / "s.json", "-o", (cd / "install.dat").string()}).Status, 0);
  WriteFile(t.Path() / "pack" / "data", "data");
  ASSERT_EQ(RunTool({"pack", "-q", t / "pack", "-o", (cd / "game.dat").string()}).Status, 0);
  WriteFile(cd / "game.exe", "MZ");
  ASSERT_EQ(mkfifo((cd / "pipe.txt").c_str(), 0600), 0);
  RunResult r = RunTool({"install", "-q", cd.string(), "-d", t / "game"});
  EXPECT_NE(r.Status, 0);
  EXPECT_THAT(r.Err, HasSubstr("pipe.txt: is not a regular file"));
  EXPECT_FALSE(fs::exists(t.Path() / "game" / "game.exe"));
}

}  // namespace
}  // namespace vrtest
