// The install run driven by a scripted host: what lands in the destination, what is recorded, and
// what an aborted or failed install leaves behind (nothing).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "archive/bigstreams.h"
#include "archive/vrfiles.h"
#include "install_testutil.h"
#include "platform/forwardingplatform.h"
#include "startup/syshelpers.h"
#include "wizard/installrun.h"
#include "wizard/insttype.h"
#include "wizard_support.h"
#ifndef _WIN32
#include "platform/posix/posixplatform.h"
#endif

namespace vr {
namespace {

using runtest::Separate;
using runtest::TScriptHost;
using runtest::TTestPackage;
using vrtest::Compressed;
using vrtest::Stored;

constexpr int32_t kJan2000 = (20 << 25) | (1 << 21) | (1 << 16);  // 2000-01-01 00:00
constexpr int32_t kJan2001 = (21 << 25) | (1 << 21) | (1 << 16);
// 2050-01-01: a DOS date-time past 2043 has its top bit set.
constexpr uint32_t kJan2050 = (70u << 25) | (1u << 21) | (1u << 16);

// Everything one run test needs: a drive, a package and the run's host.
struct TRunFixture {
  TTempDrive drive;
  TTestPackage package{drive};
  TScriptHost host;
  TRunOutcome Last;
  std::string Dest() const { return drive.PathOf("games\\moon\\"); }

  // A package with program files, a read-me, sound, movie and three data entries.
  void Standard() {
    runtest::TMedium& m = package.Media[0];
    m.Loose = {{"moon.exe", "MZ game"}, {"install.exe", "MZ setup"}, {"readme.txt", "read me"},
               {"bgm\\a.OGG", "sound"}, {"mov\\op.MPG", "movie"},    {"sys\\cfg.txt", "config"}};
    m.Entries = {Compressed("scene\\a.txt", vrtest::Text(3000, 1), kJan2000),
                 Stored("pict\\b.png", vrtest::RandomBytes(2000, 2), kJan2000),
                 Stored("rova.rpb", "project", kJan2000)};
    package.ListPackageFiles();
    package.Settings.ReadmeFile = "readme.txt";
  }

  // Runs the install from medium folder "cd" with all groups, as the wizard would.
  bool Run() { return Run(Choices()); }
  bool Run(TInstallChoices choices) {
    TVrFileCollection archive;
    archive.Open(drive.PathOf("cd\\game.dat"));
    TInstallRun run(host, package.Settings, archive, choices);
    Last = run.Execute();
    return Last.Completed();
  }
  TInstallChoices Choices() const {
    TInstallChoices c;
    c.SourceFolder = drive.PathOf("cd\\");
    c.Destination = Dest();
    c.AllMedia = true;
    c.Data = c.Sound = c.Movie = true;
    c.RequiredBytes = 100000;
#ifdef _WIN32
    // Real shortcuts would land in this system's Programs menu and open its folder window.
    c.Shortcuts = false;
#endif
    return c;
  }
  std::unique_ptr<TRovaInstallSet> InstalledSettings() const {
    auto s = std::make_unique<TRovaInstallSet>();
    s->LoadFromFile(Dest() + "install.dat");
    return s;
  }
  // Every file and folder below the destination, relative, sorted.
  std::vector<std::string> Tree(const std::string& folder = "") const {
    std::vector<std::string> out;
    const std::string base = folder.empty() ? ExcludeTrailingBackslash(Dest()) : folder;
    if (auto list = Platform().ListFolder(base)) {
      for (const TFindData& f : *list) {
        const std::string path = base + "\\" + f.Name;
        const std::string rel = path.substr(Dest().size());
        out.push_back(rel);
        if (f.Attr & faDirectory) {
          auto sub = Tree(path);
          out.insert(out.end(), sub.begin(), sub.end());
        }
      }
    }
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST(InstallRun, NewInstallPutsEverythingInPlaceAndRecordsIt) {
  TRunFixture f;
  f.Standard();
  f.package.Media[0].Loose["extra.txt"] = "not a package file";
  f.package.WriteMedium(0, "cd");
  ASSERT_TRUE(f.Run());

  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "moon.exe"), "MZ game");
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "bgm\\a.OGG"), "sound");
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "sys\\cfg.txt"), "config");
  EXPECT_FALSE(FileExists(f.Dest() + "extra.txt"));
  // The data file holds the entries and passes its check; the project entry carries its first name.
  TVrFileCollection data;
  data.Open(f.Dest() + "game.dat");
  EXPECT_TRUE(data.VerifyData());
  EXPECT_EQ(vrtest::Extract(data, "scene\\a.txt"), vrtest::Text(3000, 1));
  EXPECT_EQ(data.IndexOf("/original_rova.rpb"), -1);

  const auto installed = f.InstalledSettings();
  const TRovaInstallSet& s = *installed;
  EXPECT_TRUE(s.Uninstaller);
  EXPECT_TRUE(s.DataInstalled);
  for (const char* name : {"moon.exe", "install.exe", "readme.txt", "bgm\\a.OGG", "mov\\op.MPG",
                           "sys\\cfg.txt", "game.ext", "game.dat", "install.dat"})
    EXPECT_GE(s.IndexOfInstalledFile(name), 0) << name;
  EXPECT_EQ(s.InstalledFileCount(), 9);
  EXPECT_EQ(f.package.Settings.ReadSetting("InstallPath", ""), f.Dest());
  // Pauses go through the host; the bar ends within its range.
  const std::vector<uint32_t> waits =
      f.Choices().Shortcuts ? std::vector<uint32_t>{2000, 1000} : std::vector<uint32_t>{1000};
  EXPECT_EQ(f.host.Waits, waits);
  EXPECT_EQ(f.host.RangeMax, 10000);
  // Nothing of the run's own bookkeeping is left behind.
  for (const std::string& name : f.Tree()) EXPECT_EQ(name.find(".~vr"), std::string::npos) << name;
}

TEST(InstallRun, GroupsAndPackageFilesDecideWhatIsCopied) {
  TRunFixture f;
  f.Standard();
  f.package.WriteMedium(0, "cd");
  TInstallChoices c = f.Choices();
  c.Sound = c.Movie = c.Data = false;
  c.RequiredBytes = uint64_t(30) << 30;  // 30 GiB: the bar's values still fit
  ASSERT_TRUE(f.Run(c));
  EXPECT_FALSE(FileExists(f.Dest() + "bgm\\a.OGG"));
  EXPECT_FALSE(FileExists(f.Dest() + "mov\\op.MPG"));
  EXPECT_FALSE(FileExists(f.Dest() + "game.dat"));  // no data file, and no failed check for it
  EXPECT_TRUE(FileExists(f.Dest() + "moon.exe"));
  EXPECT_GT(f.host.RangeMax, 0);
  EXPECT_FALSE(f.InstalledSettings()->DataInstalled);
}

TEST(InstallRun, NothingChosenToCopyStillMakesTheFolderAndItsSettings) {
  TRunFixture f;
  f.package.Media[0].Loose = {{"bgm\\a.ogg", "sound"}};
  f.package.ListPackageFiles();
  f.package.WriteMedium(0, "cd");
  TInstallChoices c = f.Choices();
  c.Sound = c.Movie = c.Data = false;
  ASSERT_TRUE(f.Run(c));
  EXPECT_EQ(f.Tree(), (std::vector<std::string>{"install.dat"}));
  EXPECT_TRUE(f.InstalledSettings()->Uninstaller);
}

TEST(InstallRun, InstallOverAnEarlierOneReplacesItsDataFileUpToTheFirstGap) {
  TRunFixture f;
  f.Standard();
  f.package.WriteMedium(0, "cd");
  for (const char* old : {"game.dat", "game.ext", "game.001", "game.002", "game.004"})
    f.drive.WriteFile("games\\moon\\" + std::string(old), "old");
  f.drive.WriteFile("games\\moon\\save.dat", "save");
  ASSERT_TRUE(f.Run());
  EXPECT_FALSE(FileExists(f.Dest() + "game.001"));
  EXPECT_FALSE(FileExists(f.Dest() + "game.002"));
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "game.004"), "old");
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "save.dat"), "save");
  TVrFileCollection data;
  data.Open(f.Dest() + "game.dat");
  EXPECT_TRUE(data.VerifyData());
}

TEST(InstallRun, DataSpreadOverPartFiles) {
  TRunFixture f;
  vrtest::PartSizeScope parts(700);
  f.Standard();
  f.package.WriteMedium(0, "cd");
  ASSERT_TRUE(f.Run());
  EXPECT_TRUE(FileExists(f.Dest() + "game.002"));
  TVrFileCollection data;
  data.Open(f.Dest() + "game.dat");
  EXPECT_TRUE(data.VerifyData());
  const auto installed = f.InstalledSettings();
  const TRovaInstallSet& s = *installed;
  for (const char* part : {"game.dat", "game.001", "game.002"})
    EXPECT_GE(s.IndexOfInstalledFile(part), 0) << part;
}

TEST(InstallRun, SeparateEntriesByDateAndKind) {
  TRunFixture f;
  f.package.Settings.ArchiveInstall = true;
  f.package.Media[0].Entries = {
      Separate("movie\\op.mpg", "new movie", kJan2001), Separate("doc\\same.txt", "new doc", kJan2000),
      Separate("install.dat", "never written", kJan2001), Stored("scene\\a.txt", "scene", kJan2000),
      Separate("doc\\future.txt", "entry", kJan2001)};
  f.package.WriteMedium(0, "cd");
  // Installed copies: one older than its entry, one as new.
  f.drive.WriteFile("games\\moon\\movie\\op.mpg", "old movie");
  f.drive.WriteFile("games\\moon\\doc\\same.txt", "installed doc");
  f.drive.WriteFile("games\\moon\\doc\\future.txt", "installed later");
  for (const char* name : {"movie\\op.mpg", "doc\\same.txt", "doc\\future.txt"}) {
    const THandle h = Platform().FileOpen(f.Dest() + name, fmOpenReadWrite);
    Platform().FileSetDosTime(h, name[4] == 'f' ? kJan2050 : static_cast<uint32_t>(kJan2000));
    Platform().FileClose(h);
  }
  TInstallChoices c = f.Choices();
  c.Data = false;
  ASSERT_TRUE(f.Run(c));
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "movie\\op.mpg"), "new movie");
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "doc\\same.txt"), "installed doc");
  // Dates compare as unsigned DOS date-times: a file from 2050 is newer than an entry from 2001.
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "doc\\future.txt"), "installed later");
  const THandle h = Platform().FileOpen(f.Dest() + "movie\\op.mpg", fmOpenRead);
  EXPECT_EQ(Platform().FileGetDosTime(h), static_cast<uint32_t>(kJan2001));
  Platform().FileClose(h);
  // install.dat comes from the settings object, never from the archive.
  const auto installed = f.InstalledSettings();
  const TRovaInstallSet& s = *installed;
  EXPECT_TRUE(s.Uninstaller);
  EXPECT_GE(s.IndexOfInstalledFile("doc\\same.txt"), 0);
  EXPECT_GE(s.IndexOfInstalledFile("movie\\op.mpg"), 0);

  // InstallKind 2 writes them whatever their dates.
  TRunFixture k;
  k.package.Settings.ArchiveInstall = true;
  k.package.Settings.InstallKind = 2;
  k.package.Media[0].Entries = {Separate("doc\\same.txt", "new doc", kJan2000)};
  k.package.WriteMedium(0, "cd");
  k.drive.WriteFile("games\\moon\\doc\\same.txt", "installed doc");
  TInstallChoices kc = k.Choices();
  kc.Data = false;
  ASSERT_TRUE(k.Run(kc));
  EXPECT_EQ(k.drive.ReadFile(k.Dest() + "doc\\same.txt"), "new doc");
  EXPECT_FALSE(FileExists(k.Dest() + "install.dat"));  // InstallKind 2 writes no settings
}

TEST(InstallRun, DamagedOrEscapingSeparateEntriesFailAndTakeTheInstallBack) {
  for (int variant = 0; variant < 3; ++variant) {
    TRunFixture f;
    f.Standard();
    f.package.Settings.ArchiveInstall = true;
    vrtest::RawEntry bad = Separate("doc\\manual.txt", "manual", kJan2000);
    if (variant == 0) bad.crc ^= 1;
    if (variant == 1) bad.name = "..\\..\\evil.txt";
    if (variant == 2) bad.name = "C:\\evil.txt";
    f.package.Media[0].Entries.push_back(bad);
    f.package.WriteMedium(0, "cd");
    f.drive.WriteFile("games\\moon\\keep.txt", "mine");
    f.drive.WriteFile("games\\moon\\moon.exe", "old game");
    EXPECT_FALSE(f.Run()) << variant;
    EXPECT_EQ(f.Last.End, TRunEnd::reFailed) << variant;
    EXPECT_TRUE(f.Last.RolledBack) << variant;
    EXPECT_EQ(f.host.Errors.size(), 1u) << variant;
    // Only what was there before, as it was.
    EXPECT_EQ(f.Tree(), (std::vector<std::string>{"keep.txt", "moon.exe"})) << variant;
    EXPECT_EQ(f.drive.ReadFile(f.Dest() + "moon.exe"), "old game");
    EXPECT_FALSE(FileExists(f.drive.PathOf("evil.txt")));
    EXPECT_FALSE(FileExists("C:\\evil.txt"));
    EXPECT_EQ(f.package.Settings.ReadSetting("InstallPath", "<none>"), "<none>");
  }
}

// A clock that moves one millisecond each time it is read.
class TSteppingClock : public TForwardingPlatform {
 public:
  TSteppingClock() : TForwardingPlatform(Platform()), previous_(SetPlatform(this)) {}
  ~TSteppingClock() override { SetPlatform(previous_); }
  uint32_t GetTickCount() override { return ++now_; }

 private:
  TPlatform* previous_;
  uint32_t now_ = 0;
};

TEST(InstallRun, ManySmallFilesAreDrawnAtMostEveryFewMilliseconds) {
  TRunFixture f;
  for (int i = 0; i < 100; ++i) f.package.Media[0].Loose["f" + std::to_string(100 + i) + ".txt"] = "x";
  f.package.Media[0].Entries = {Stored("scene", "scene", kJan2000)};
  f.package.ListPackageFiles();
  f.package.WriteMedium(0, "cd");
  int pumps = 0;
  f.host.OnProcess = [&pumps](TScriptHost&) { ++pumps; };
  {
    TSteppingClock clock;
    ASSERT_TRUE(f.Run());
  }
  std::vector<std::string> copying;
  for (const std::string& s : f.host.Statuses)
    if (s.find("をコピー中") != std::string::npos) copying.push_back(s);
  // One look a file; a redraw after every 25 of them, the first file always.
  ASSERT_EQ(copying.size(), 4u);
  EXPECT_EQ(copying[0], "f100.txt をコピー中...");
  EXPECT_EQ(copying[1], "f125.txt をコピー中...");
  EXPECT_LT(pumps, 12);
  // The bar still counts every file: 100 bytes of files (and 5 of data), in tens.
  EXPECT_EQ(f.host.Position, 10);
}

TEST(InstallRun, AbortAtEachKindOfStepLeavesTheDestinationAsItWas) {
  // 0: while copying loose files, 1: while building the data file, 2: while checking it.
  for (int step = 0; step < 3; ++step) {
    TRunFixture f;
    f.Standard();
    for (int i = 0; i < 30; ++i)
      f.package.Media[0].Entries.push_back(
          Stored("e" + std::to_string(i), vrtest::RandomBytes(100, i), kJan2000));
    f.package.WriteMedium(0, "cd");
    f.drive.WriteFile("games\\moon\\moon.exe", "old game");
    f.host.OnProcess = [step](TScriptHost& h) {
      const std::string& s = h.Status;
      const bool now = (step == 0 && s.find("をコピー中") != std::string::npos) ||
                       (step == 1 && s.find("構築中") != std::string::npos) ||
                       (step == 2 && s.find("調べています") != std::string::npos);
      if (now) h.ModalResult = mrAbort;
    };
    EXPECT_FALSE(f.Run()) << step;
    EXPECT_EQ(f.Tree(), std::vector<std::string>{"moon.exe"}) << step;
    EXPECT_EQ(f.drive.ReadFile(f.Dest() + "moon.exe"), "old game");
    ASSERT_EQ(f.host.Warnings.size(), 1u);
    EXPECT_EQ(f.host.Warnings[0], TInstallRun::RolledBackText);
  }
}

TEST(InstallRun, ThreeMediaAskedForInTurn) {
  TRunFixture f;
  f.package.Media.resize(3);
  for (int i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i + 1);
    f.package.Media[static_cast<size_t>(i)].Loose = {{"disc" + n + ".txt", "disc " + n}};
    f.package.Media[static_cast<size_t>(i)].Entries = {Stored("data" + n, "data of " + n, kJan2000)};
  }
  f.package.ListPackageFiles();
  f.package.WriteMedium(0, "cd");
  // A medium of another game is refused; then Abort on the prompt, No to the question, prompt again.
  int prompts = 0;
  f.host.OnPrompt = [&](const std::string& text) {
    ++prompts;
    if (text.find("ディスク2") != std::string::npos) {
      if (prompts == 1) {
        const std::string title = f.package.Settings.Title;
        f.package.Settings.Title = "別のゲーム";
        f.package.WriteMedium(1, "cd");
        f.package.Settings.Title = title;
        return true;
      }
      if (prompts == 2) return false;  // Abort, then No
      f.package.WriteMedium(1, "cd");
      return true;
    }
    f.package.WriteMedium(2, "cd");
    return true;
  };
  f.host.ConfirmAnswers = {false};
  ASSERT_TRUE(f.Run());
  EXPECT_EQ(prompts, 4);
  EXPECT_EQ(f.host.Questions, std::vector<std::string>{"インストールを中断しますか？"});
  const auto installed = f.InstalledSettings();
  const TRovaInstallSet& s = *installed;
  for (const char* name : {"disc1.txt", "disc2.txt", "disc3.txt", "game.dat"})
    EXPECT_GE(s.IndexOfInstalledFile(name), 0) << name;
  TVrFileCollection data;
  data.Open(f.Dest() + "game.dat");
  EXPECT_TRUE(data.VerifyData());
  for (const char* name : {"data1", "data2", "data3"}) EXPECT_GE(data.IndexOf(name), 0) << name;
  EXPECT_EQ(s.DiskIndex, 2);
}

TEST(InstallRun, AbortOnALaterMediumTakesBackThePartFilesOfEveryMedium) {
  TRunFixture f;
  vrtest::PartSizeScope parts(700);
  f.package.Media.resize(3);
  for (int i = 0; i < 3; ++i)
    f.package.Media[static_cast<size_t>(i)].Entries = {
        Stored("data" + std::to_string(i), vrtest::RandomBytes(1500, static_cast<uint32_t>(i)), kJan2000)};
  f.package.WriteMedium(0, "cd");
  f.drive.WriteFile("games\\moon\\moon.exe", "old game");
  // Disc 2 goes in; at the prompt for disc 3 the player gives up.
  f.host.OnPrompt = [&](const std::string& text) {
    if (text.find("ディスク2") == std::string::npos) return false;
    f.package.WriteMedium(1, "cd");
    return true;
  };
  f.host.ConfirmAnswers = {true};
  EXPECT_FALSE(f.Run());
  EXPECT_EQ(f.Tree(), std::vector<std::string>{"moon.exe"});
}

TEST(InstallRun, AddOnMergesIntoTheInstalledDataFileAndList) {
  TRunFixture f;
  f.Standard();
  f.package.WriteMedium(0, "cd");
  ASSERT_TRUE(f.Run());

  // The add-on, from its own medium, into the same folder.
  TTestPackage addon(f.drive);
  addon.Settings.Title = f.package.Settings.Title;
  addon.Settings.RegistryKey = f.package.Settings.RegistryKey;
  addon.Settings.AddOnPackage = true;
  addon.Media[0].Loose = {{"bgm\\b.OGG", "more sound"}};
  addon.Media[0].Entries = {Stored("scene\\a.txt", "newer scene", kJan2001),
                            Stored("rova.rpb", "v2", kJan2001),
                            Stored("scene\\new.txt", "new scene", kJan2001)};
  addon.ListPackageFiles();
  addon.WriteMedium(0, "cd2");
  TInstallChoices c = f.Choices();
  c.SourceFolder = f.drive.PathOf("cd2\\");
  c.Sound = false;  // an add-on takes its sound files anyway
  TVrFileCollection archive;
  archive.Open(f.drive.PathOf("cd2\\game.dat"));
  TScriptHost host;
  TInstallRun run(host, addon.Settings, archive, c);
  ASSERT_TRUE(run.Execute().Completed());

  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "bgm\\b.OGG"), "more sound");
  TVrFileCollection data;
  data.Open(f.Dest() + "game.dat");
  EXPECT_TRUE(data.VerifyData());
  EXPECT_EQ(vrtest::Extract(data, "scene\\a.txt"), "newer scene");
  // The project entry's first version keeps its own name from the first merge on.
  EXPECT_EQ(vrtest::Extract(data, "rova.rpb"), "v2");
  EXPECT_EQ(vrtest::Extract(data, "/original_rova.rpb"), "project");
  const auto installed = f.InstalledSettings();
  const TRovaInstallSet& s = *installed;
  EXPECT_GE(s.IndexOfInstalledFile("bgm\\b.OGG"), 0);
  EXPECT_GE(s.IndexOfInstalledFile("moon.exe"), 0);    // the earlier list stays
  EXPECT_EQ(host.Waits, std::vector<uint32_t>{1000});  // no shortcuts for an add-on
}

TEST(InstallRun, AddOnRebuildsAOneExecutableGame) {
  TRunFixture f;
  // The installed game: one executable carrying its archive, no install.dat beside it.
  TMemoryStream settings;
  f.package.Settings.SaveToStream(settings);
  f.drive.WriteFile("games\\moon\\moon.exe", "MZ old program");
  f.drive.WriteFile(
      "old.pak",
      vrtest::BuildArchive(102, {Stored("install.dat", vrtest::MemoryText(settings), kJan2000),
                                 Stored("scene", "old scene", kJan2000), Stored("kept", "kept", kJan2000)}));
  AppendArchiveToExecutable(f.Dest() + "moon.exe", f.drive.PathOf("old.pak"));
  f.package.Settings.AddOnPackage = true;
  f.package.Settings.ArchiveInstall = true;
  f.package.Media[0].Entries = {Stored("scene", "new scene", kJan2001)};
  f.package.WriteMedium(0, "cd");
  ASSERT_TRUE(f.Run());

  TVrFileCollection game;
  game.Open(f.Dest() + "moon.exe");
  EXPECT_TRUE(game.VerifyData());
  EXPECT_EQ(vrtest::Extract(game, "scene"), "new scene");
  EXPECT_EQ(vrtest::Extract(game, "kept"), "kept");
  EXPECT_GE(game.IndexOf("install.dat"), 0);
  game.Open("");
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "moon.exe").substr(0, 14), "MZ old program");
  // Nothing else: no settings file, no registry value, and the work folder is gone.
  EXPECT_EQ(f.Tree(), std::vector<std::string>{"moon.exe"});
  EXPECT_EQ(f.package.Settings.ReadSetting("InstallPath", "<none>"), "<none>");
  EXPECT_FALSE(DirectoryExists(AddTrailingBackslash(Platform().GetTempPath()) + "~rmupdate"));
}

#ifndef _WIN32
// The POSIX layer with a disk that fills up after a budget of bytes.
class TFullDiskPlatform : public TPosixPlatform {
 public:
  using TPosixPlatform::TPosixPlatform;
  int64_t Budget = 0;
  int32_t FileWrite(THandle h, const void* buffer, int32_t count) override {
    if (Budget <= 0) return -1;
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, Budget));
    Budget -= n;
    return TPosixPlatform::FileWrite(h, buffer, n);
  }
  int64_t FileCopyRange(THandle from, int64_t fromAt, THandle to, int64_t toAt, int64_t count) override {
    if (Budget <= 0) return -1;
    const int64_t n = TPosixPlatform::FileCopyRange(from, fromAt, to, toAt, std::min(count, Budget));
    if (n > 0) Budget -= n;
    return n;
  }
  bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override {
    const uint32_t attr = GetFileAttributes(from);
    (void)attr;
    if (Budget < 4096) return false;
    Budget -= 4096;
    return TPosixPlatform::CopyFile(from, to, failIfExists);
  }
};

TEST(InstallRun, FullDiskIsReportedAndTakenBack) {
  auto attempt = [](int64_t budget, int64_t* used) {
    TRunFixture f;
    f.Standard();
    f.package.Media[0].Entries.push_back(Stored("big", vrtest::RandomBytes(20000, 9), kJan2000));
    f.package.WriteMedium(0, "cd");
    f.drive.WriteFile("games\\moon\\moon.exe", "old game");
    TFullDiskPlatform full(f.drive.PosixConfig());
    full.Budget = budget;
    TPlatform* previous = SetPlatform(&full);
    bool complete = false;
    std::string error;
    // Without shortcuts (whose failures go unreported) the last write is the settings file's.
    TInstallChoices choices = f.Choices();
    choices.Shortcuts = false;
    try {
      complete = f.Run(choices);
    } catch (const Exception& e) {
      error = e.what();
    }
    SetPlatform(previous);
    if (used) {
      *used = budget - full.Budget;
      EXPECT_TRUE(complete);
      return;
    }
    EXPECT_FALSE(complete) << budget;
    // Reported (a warning or an error), and nothing of the install is left.
    EXPECT_TRUE(!error.empty() || !f.host.Errors.empty() || f.host.Warnings.size() == 2u) << budget;
    EXPECT_EQ(f.Tree(), std::vector<std::string>{"moon.exe"}) << budget;
    EXPECT_EQ(f.drive.ReadFile(f.Dest() + "moon.exe"), "old game");
    EXPECT_EQ(f.package.Settings.ReadSetting("InstallPath", "<none>"), "<none>");
  };
  int64_t used = 0;
  attempt(int64_t(1) << 30, &used);
  ASSERT_GT(used, 6 * 4096);
  // Full while copying loose files, while building the data file, and at the very last write.
  for (int64_t budget : {int64_t(3 * 4096), int64_t(6 * 4096 + 5000), used - 1}) attempt(budget, nullptr);
}
#endif

}  // namespace
}  // namespace vr

namespace vr {
namespace {

#ifndef _WIN32
// The wizard drives the same run: from "confirm" to "exit", and the close box during the run asks the
// abort question instead of ending the run half way.
TEST(InstallRunWizard, CopyPageRunsTheInstallAndTheCloseBoxAsksToAbort) {
  for (bool closeDuringRun : {true, false}) {
    SCOPED_TRACE(closeDuringRun);
    wiztest::TWizardEnv env;
    TTestPackage package(env.drive);
    package.Media[0].Loose = {{"moon.exe", "MZ game"}, {"a.txt", "a"}, {"b.txt", "b"}};
    package.Media[0].Entries = {Stored("scene", "scene", kJan2000)};
    package.ListPackageFiles();
    package.Settings.DefaultFolder = "<ProgramFiles>\\Moon";
    package.Settings.BaseSizes = {3};
    package.Settings.BaseSizeTotal = 3;
    package.WriteMedium(0, "cd");
    env.Settings.LoadFromFile(env.drive.PathOf("cd\\install.dat"));
    TVrFileCollection archive;
    archive.Open(env.drive.PathOf("cd\\game.dat"));
    TFormType* f = CreateForm<TFormType>(Application, env.Settings, &archive, env.drive.PathOf("cd\\"));
    env.form = f;
    const std::string destination = f->DestinationFolder();
    // file, seldir, confirm, then "インストール" starts the run inside its click.
    for (int i = 0; i < 3; ++i) env.session->Then([&env](TForm*) { env.Next(); });
    if (closeDuringRun) {
      env.session->When([f](TForm*) { return f->LabelCopy->Caption().find("a.txt") != std::string::npos; },
                        [f](TForm*) { headless::CloseBox(f); });
      env.session->Answer(TMsgDlgType::mtConfirmation, "インストールを中断しますか？", mrYes);
      env.session->Answer(TMsgDlgType::mtWarning, TInstallRun::RolledBackText, mrOk);
    } else {
      env.session->When([&env](TForm*) { return env.Page() == "exit"; },
                        [f](TForm*) { headless::Click(f->btnAbort); });
    }
    const int result = f->ShowModal();
    if (closeDuringRun) {
      EXPECT_EQ(result, mrAbort);
      EXPECT_FALSE(DirectoryExists(destination));
      continue;
    }
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(env.Page(), "exit");
    EXPECT_FALSE(f->btnNext->Visible());
    EXPECT_FALSE(f->btnBack->Visible());
    EXPECT_EQ(f->btnAbort->Caption(), "閉じる(&C)");
    EXPECT_EQ(env.drive.ReadFile(destination + "moon.exe"), "MZ game");
    EXPECT_EQ(env.Settings.ReadSetting("InstallPath", ""), destination);
  }
}

#endif

}  // namespace
}  // namespace vr
