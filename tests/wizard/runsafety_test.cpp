// The install run's promises on the paths users hit by mistake: a failed add-on, an add-on aimed at the
// wrong folder, links planted in the destination, system folders, a run that fails or is killed at any
// one of its file-system calls.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "archive/vrfiles.h"
#include "install_testutil.h"
#include "platform/platform.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"
#include "treesnapshot.h"
#include "wizard/destination.h"
#include "wizard/installjournal.h"
#include "wizard/installrun.h"
#include "wizard/uninstallrun.h"

#ifndef _WIN32
#include <errno.h>
#include <sys/wait.h>

#include <unistd.h>
#include <cstring>

#include <filesystem>

#include "faultplatform.h"
#endif

namespace vr {
namespace {

using runtest::Separate;
using runtest::TScriptHost;
using runtest::TTestPackage;
using vrtest::Stored;
using namespace treetest;

constexpr int32_t kJan2001 = (21 << 25) | (1 << 21) | (1 << 16);

// A game installed in C:\work\games\moon, and an add-on for it on its own medium.
struct TAddonFixture {
  TTempDrive drive;
  TTestPackage game{drive};
  TTestPackage addon{drive};
  std::string Dest() const { return drive.PathOf("games\\moon\\"); }

  TAddonFixture() {
    game.Media[0].Loose = {{"moon.exe", "MZ game"}, {"bgm\\a.ogg", "old sound"}};
    game.Media[0].Entries = {Stored("scene\\a.txt", "first scene", kJan2000),
                             Stored("pict\\b.png", vrtest::RandomBytes(3000, 7), kJan2000)};
    game.ListPackageFiles();
    addon.Settings.Title = game.Settings.Title;
    addon.Settings.AddOnPackage = true;
    addon.Media[0].Loose = {{"bgm\\a.ogg", "new sound"}, {"bgm\\b.ogg", "more sound"}};
    addon.Media[0].Entries = {Stored("scene\\a.txt", "newer scene", kJan2001),
                              Stored("scene\\new.txt", vrtest::RandomBytes(5000, 9), kJan2001)};
    addon.ListPackageFiles();
  }

  TInstallChoices Choices(const std::string& medium) const {
    TInstallChoices c;
    c.SourceFolder = drive.PathOf(medium + "\\");
    c.Destination = Dest();
    c.AllMedia = c.Data = c.Sound = c.Movie = true;
    c.Shortcuts = c.Registry = c.OpenReadme = false;
    return c;
  }
  TRunOutcome Install(TTestPackage& package, const std::string& medium, TScriptHost& host) {
    package.WriteMedium(0, medium);
    TVrFileCollection archive;
    archive.Open(drive.PathOf(medium + "\\game.dat"));
    TInstallRun run(host, package.Settings, archive, Choices(medium));
    return run.Execute();
  }
  void InstallGame() {
    TScriptHost host;
    ASSERT_TRUE(Install(game, "cd", host).Completed());
  }
};

TEST(RunSafety, AFailedAddonPutsTheInstalledGameBackByteForByte) {
  TAddonFixture f;
  f.InstallGame();
  const TSnapshot before = Snapshot(f.drive, f.Dest());
  // A scratched add-on disc: one entry's bytes do not match its checksum.
  f.addon.Media[0].Entries[1].crc ^= 0x5A;
  TScriptHost host;
  const TRunOutcome outcome = f.Install(f.addon, "cd2", host);
  EXPECT_EQ(outcome.End, TRunEnd::reCheckFailed);
  EXPECT_TRUE(outcome.RolledBack);
  EXPECT_TRUE(Snapshot(f.drive, f.Dest()) == before) << Differences(Snapshot(f.drive, f.Dest()), before);
  {
    TVrFileCollection data;
    data.Open(f.Dest() + "game.dat");
    EXPECT_TRUE(data.VerifyData());
    EXPECT_EQ(vrtest::Extract(data, "scene\\a.txt"), "first scene");
  }

  // The same add-on from a sound disc goes in whole.
  f.addon.Media[0].Entries[1].crc ^= 0x5A;
  TScriptHost again;
  ASSERT_TRUE(f.Install(f.addon, "cd2", again).Completed());
  TVrFileCollection merged;
  merged.Open(f.Dest() + "game.dat");
  EXPECT_TRUE(merged.VerifyData());
  EXPECT_EQ(vrtest::Extract(merged, "scene\\a.txt"), "newer scene");
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "bgm\\a.ogg"), "new sound");
  for (const auto& [name, content] : Snapshot(f.drive, f.Dest()))
    EXPECT_EQ(name.find(".~vr"), std::string::npos) << name;
}

TEST(RunSafety, AnAddonGoesOnlyWhereItsGameIs) {
  // 0: no install.dat, 1: another title, 2: no such folder, 3: a one-executable game whose trailer
  // points past its end.
  for (int variant = 0; variant < 4; ++variant) {
    TAddonFixture f;
    if (variant == 0) f.drive.WriteFile("games\\moon\\moon.exe", "MZ no archive");
    if (variant == 1) {
      f.game.Settings.Title = "別のゲーム";
      f.InstallGame();
    }
    if (variant == 3)
      f.drive.WriteFile("games\\moon\\moon.exe", std::string("MZ game\xff\xff\xff\x7frv", 13));
    const TSnapshot before = Snapshot(f.drive, f.drive.Folder());
    EXPECT_EQ(CheckInstallDestination(f.addon.Settings, ExcludeTrailingBackslash(f.Dest()), 0),
              TDestinationCheck::dcNoGame)
        << variant;
    // The run refuses it as well, before anything is written.
    TScriptHost host;
    const TRunOutcome outcome = f.Install(f.addon, "cd2", host);
    EXPECT_EQ(outcome.End, TRunEnd::reFailed) << variant;
    TSnapshot after = Snapshot(f.drive, f.drive.Folder());
    for (auto it = after.begin(); it != after.end();)
      it = it->first.compare(0, 3, "cd2") == 0 ? after.erase(it) : std::next(it);
    EXPECT_EQ(after, before) << variant;
  }
}

TEST(RunSafety, TheDestinationCheckRefusesSystemFoldersForEveryHost) {
  TTempDrive drive;
  TRovaInstallSet s;
  s.Title = "Game";
  const std::string windows = Platform().GetWindowsDirectory();
  for (const std::string& folder :
       {windows, windows + "\\", windows + "\\Games", Platform().GetSystemDirectory(), std::string("C:\\."),
        *Platform().GetSpecialFolder(0x28), ExtractFileDir(*Platform().GetSpecialFolder(0x28))})
    EXPECT_EQ(CheckInstallDestination(s, folder, 0), TDestinationCheck::dcSystemFolder) << folder;
  EXPECT_EQ(CheckInstallDestination(s, "C:\\", 0), TDestinationCheck::dcBad);
  EXPECT_EQ(CheckInstallDestination(s, drive.PathOf("games\\moon"), 0), TDestinationCheck::dcOk);
  // A file in the folder's place.
  drive.WriteFile("games\\file", "x");
  EXPECT_EQ(CheckInstallDestination(s, drive.PathOf("games\\file"), 0), TDestinationCheck::dcBad);
  // A system install goes into the Windows folder by design.
  s.InstallKind = kInstallSystem;
  EXPECT_EQ(CheckInstallDestination(s, drive.PathOf("games\\moon"), 0), TDestinationCheck::dcOk);
}

#ifndef _WIN32
// A package of a few dozen files for the runs tried at every one of their file-system calls: loose
// files in folders, a data file over three parts, a separate entry.
void FaultPackage(TTestPackage& p, int version) {
  const std::string v = std::to_string(version);
  p.Media[0].Loose = {
      {"moon.exe", "MZ game " + v}, {"sys\\cfg.txt", "config " + v}, {"bgm\\a.ogg", "sound " + v}};
  p.Media[0].Entries.clear();
  for (int i = 0; i < 6; ++i)
    p.Media[0].Entries.push_back(Stored("scene\\" + std::to_string(i) + ".txt",
                                        vrtest::RandomBytes(400, static_cast<uint32_t>(i + 10 * version)),
                                        version == 1 ? kJan2000 : kJan2001));
  p.Media[0].Entries.push_back(
      Separate("doc\\manual.txt", "manual " + v, version == 1 ? kJan2000 : kJan2001));
  p.Settings.ArchiveInstall = true;
  p.ListPackageFiles();
}

// Runs `run` with the N-th counted call failing, for every N until a run gets through untouched; each
// time the run must report the failure and leave `folder` as `before`.
template <class Run>
int EveryFailure(TTempDrive& drive, const std::string& folder, const TSnapshot& before, Run run) {
  int n = 1;
  for (;; ++n) {
    TScriptHost host;
    TRunOutcome outcome;
    bool hit = false;
    {
      TFaultPlatform faults;
      // The run arms the faults once its package is open.
      outcome = run(host, [&] { faults.Arm(TFaultPlatform::TMode::Fail, n); });
      hit = faults.Calls >= n;
    }
    if (!hit) {
      Restore(drive, folder, before);
      break;
    }
    if (outcome.Completed()) {
      // A failure the run could go on from (a time stamp not set, a copy done another way).
      Restore(drive, folder, before);
      continue;
    }
    EXPECT_TRUE(!host.Errors.empty() || !host.Warnings.empty()) << "call " << n;
    EXPECT_TRUE(outcome.RolledBack) << "call " << n;
    const TSnapshot after = Snapshot(drive, folder);
    EXPECT_TRUE(after == before) << "call " << n << Differences(after, before);
    if (after != before) break;
  }
  return n;
}

// Version 1 of the fault package installed, version 2 on medium "cd3" and the add-on on "cd2".
struct TReinstallFixture : TAddonFixture {
  vrtest::PartSizeScope parts{1000};
  TTestPackage next{drive};
  TSnapshot installed;
  TReinstallFixture() {
    FaultPackage(game, 1);
    InstallGame();
    installed = Snapshot(drive, Dest());
    next.Settings.Title = game.Settings.Title;
    FaultPackage(next, 2);
    next.WriteMedium(0, "cd3");
  }
};

TEST(RunSafety, AnInstallFailingAtAnyCallLeavesTheDestinationAsItWas) {
  TReinstallFixture f;
  const TSnapshot& installed = f.installed;
  TTestPackage& next = f.next;
  // Over an earlier install (whose files are set aside and must come back), then an add-on.
  f.addon.WriteMedium(0, "cd2");
  auto install = [&](TTestPackage& package, const std::string& medium) {
    return [&, medium](TScriptHost& host, const std::function<void()>& arm) {
      TVrFileCollection archive;
      archive.Open(f.drive.PathOf(medium + "\\game.dat"));
      arm();
      TInstallRun run(host, package.Settings, archive, f.Choices(medium));
      return run.Execute();
    };
  };
  const int reinstallCalls = EveryFailure(f.drive, f.Dest(), installed, install(next, "cd3"));
  const int addonCalls = EveryFailure(f.drive, f.Dest(), installed, install(f.addon, "cd2"));
  EXPECT_GT(reinstallCalls, 50);
  EXPECT_GT(addonCalls, 20);
  // And into an empty folder: nothing is left, not even the folders.
  TSnapshot empty = Snapshot(f.drive, f.drive.PathOf("games"));
  const std::string fresh = f.drive.PathOf("games\\fresh\\");
  EveryFailure(f.drive, f.drive.PathOf("games"), empty,
               [&](TScriptHost& host, const std::function<void()>& arm) {
                 TVrFileCollection archive;
                 archive.Open(f.drive.PathOf("cd3\\game.dat"));
                 arm();
                 TInstallChoices c = f.Choices("cd3");
                 c.Destination = fresh;
                 return TInstallRun(host, next.Settings, archive, c).Execute();
               });
  EXPECT_TRUE(NoDebris(Snapshot(f.drive, f.drive.Folder())));
}

TEST(RunSafety, AnUninstallFailingAtAnyCallCanBeRepeated) {
  TAddonFixture f;
  FaultPackage(f.game, 1);
  f.InstallGame();
  TRovaInstallSet settings;
  settings.LoadFromFile(f.Dest() + "install.dat");
  const TSnapshot installed = Snapshot(f.drive, f.Dest());
  for (int n = 1;; ++n) {
    // Back to the installed game each time.
    Restore(f.drive, f.Dest(), installed);
    bool hit = false;
    {
      TFaultPlatform faults;
      faults.Mode = TFaultPlatform::TMode::Fail;
      faults.At = n;
      TScriptHost host;
      TUninstallOptions options;
      options.GameFolder = f.Dest();
      options.Shortcuts = options.Registry = false;
      TUninstallRun(host, settings, options).Execute();
      hit = faults.Calls >= n;
    }
    // Every file is there as it was or gone.
    for (const auto& [name, content] : Snapshot(f.drive, f.Dest())) {
      const auto was = installed.find(name);
      EXPECT_TRUE(was != installed.end() && was->second == content) << "call " << n << ": " << name;
    }
    TScriptHost host;
    TUninstallOptions options;
    options.GameFolder = f.Dest();
    options.Shortcuts = options.Registry = false;
    EXPECT_TRUE(TUninstallRun(host, settings, options).Execute());
    EXPECT_FALSE(DirectoryExists(f.Dest())) << "call " << n;
    if (!hit) break;
  }
}

// A run killed at its N-th call (a crash, a power cut, SIGKILL), for every N: the next run finishes
// what it left, and the destination is as before the run or fully installed, with no debris.
TEST(RunSafety, AnInstallKilledAtAnyCallIsFinishedByTheNextRun) {
  TReinstallFixture f;
  const TSnapshot& before = f.installed;
  TTestPackage& next = f.next;
  // The install as it ends when nothing goes wrong, from the earlier install as every try starts.
  Restore(f.drive, f.Dest(), before);
  TSnapshot complete;
  {
    const TSnapshot& keep = before;
    TScriptHost host;
    TVrFileCollection archive;
    archive.Open(f.drive.PathOf("cd3\\game.dat"));
    ASSERT_TRUE(TInstallRun(host, next.Settings, archive, f.Choices("cd3")).Execute().Completed());
    complete = Snapshot(f.drive, f.Dest());
    Restore(f.drive, f.Dest(), keep);
  }
  int finishedAsBefore = 0, finishedComplete = 0;
  for (int n = 1;; ++n) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TFaultPlatform crash;
      TScriptHost host;
      TVrFileCollection archive;
      archive.Open(f.drive.PathOf("cd3\\game.dat"));
      crash.Arm(TFaultPlatform::TMode::Crash, n);
      TInstallRun(host, next.Settings, archive, f.Choices("cd3")).Execute();
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 0) break;  // the run got through before call n
    ASSERT_EQ(WEXITSTATUS(status), TFaultPlatform::kCrashStatus);
    // The next run of any host: here the journal's recovery on its own, as every run starts with it.
    TScriptHost host;
    TInstallJournal::Recover(f.Dest(), &host);
    const TSnapshot after = Snapshot(f.drive, f.Dest());
    EXPECT_TRUE(after == before || after == complete)
        << "killed at call " << n << "\nagainst before:" << Differences(after, before)
        << "\nagainst complete:" << Differences(after, complete);
    EXPECT_TRUE(NoDebris(after)) << "killed at call " << n;
    if (after == complete) {
      ++finishedComplete;
      // Back to the earlier install for the next try.
      Restore(f.drive, f.Dest(), before);
    } else {
      ++finishedAsBefore;
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(finishedAsBefore, 50);
  EXPECT_GT(finishedComplete, 0);
}

// Watches the journal file: whether everything written to it has been flushed, and how often it was.
class TJournalWatch : public TForwardPlatform {
 public:
  int Flushes = 0;
  int BackupsMade = 0;
  int UnflushedBackups = 0;  // files set aside while the journal's note of it could still be lost

  THandle FileCreateNew(const std::string& name) override {
    const THandle h = TForwardPlatform::FileCreateNew(name);
    if (ExtractFileName(name) == kJournalName) journal_ = h;
    return h;
  }
  int32_t FileWrite(THandle h, const void* b, int32_t n) override {
    if (h == journal_ && n > 0) unflushed_ = true;
    return TForwardPlatform::FileWrite(h, b, n);
  }
  bool FileFlush(THandle h) override {
    if (h == journal_) {
      ++Flushes;
      unflushed_ = false;
    }
    return TForwardPlatform::FileFlush(h);
  }
  bool MoveFileReplace(const std::string& from, const std::string& to) override {
    if (to.find(".~vr") != std::string::npos) {
      ++BackupsMade;
      if (unflushed_) ++UnflushedBackups;
    }
    return TForwardPlatform::MoveFileReplace(from, to);
  }

 private:
  THandle journal_ = kInvalidHandle;
  bool unflushed_ = false;
};

// A file of the user's is moved aside only once the journal's note of it is on the disk; notes of what
// the run makes itself are not flushed one by one.
TEST(RunSafety, TheJournalIsFlushedBeforeAFileIsSetAsideAndNotForEveryNewFile) {
  TReinstallFixture f;
  {
    TJournalWatch watch;
    TScriptHost host;
    TVrFileCollection archive;
    archive.Open(f.drive.PathOf("cd3\\game.dat"));
    ASSERT_TRUE(TInstallRun(host, f.next.Settings, archive, f.Choices("cd3")).Execute().Completed());
    EXPECT_GT(watch.BackupsMade, 2);
    EXPECT_EQ(watch.UnflushedBackups, 0);
  }
  // A fresh install of many files: the journal reaches the disk at its commit point, not per file.
  for (int i = 0; i < 40; ++i) f.next.Media[0].Loose["sys\\" + std::to_string(i) + ".txt"] = "x";
  f.next.ListPackageFiles();
  f.next.WriteMedium(0, "cd4");
  TJournalWatch watch;
  TScriptHost host;
  TVrFileCollection archive;
  archive.Open(f.drive.PathOf("cd4\\game.dat"));
  TInstallChoices c = f.Choices("cd4");
  c.Destination = f.drive.PathOf("games\\fresh\\");
  ASSERT_TRUE(TInstallRun(host, f.next.Settings, archive, c).Execute().Completed());
  EXPECT_EQ(watch.BackupsMade, 0);
  EXPECT_GE(watch.Flushes, 1);
  EXPECT_LE(watch.Flushes, 3);
}

// A file system mounted read-only: everything that would change it fails with the system's reason.
class TReadOnlyPlatform : public TForwardPlatform {
 public:
  THandle FileCreate(const std::string&, uint16_t) override { return Refuse(kInvalidHandle); }
  THandle FileCreateNew(const std::string&) override { return Refuse(kInvalidHandle); }
  THandle FileOpen(const std::string& name, uint16_t mode) override {
    return (mode & 3) != 0 ? Refuse(kInvalidHandle) : TForwardPlatform::FileOpen(name, mode);
  }
  bool DeleteFile(const std::string&) override { return Refuse(false); }
  bool CreateDirectory(const std::string&) override { return Refuse(false); }
  bool MoveFileReplace(const std::string&, const std::string&) override { return Refuse(false); }
  bool CopyFile(const std::string&, const std::string&, bool) override { return Refuse(false); }

 private:
  template <class T>
  static T Refuse(T value) {
    errno = EROFS;
    return value;
  }
};

TEST(RunSafety, AReinstallOntoAReadOnlyDiskReportsTheFirstFailureWithItsReason) {
  TAddonFixture f;
  f.InstallGame();
  const TSnapshot before = Snapshot(f.drive, f.Dest());
  f.game.WriteMedium(0, "cd");
  TScriptHost host;
  {
    TVrFileCollection archive;
    archive.Open(f.drive.PathOf("cd\\game.dat"));
    TReadOnlyPlatform readOnly;
    const TRunOutcome outcome = TInstallRun(host, f.game.Settings, archive, f.Choices("cd")).Execute();
    EXPECT_EQ(outcome.End, TRunEnd::reFailed);
  }
  ASSERT_EQ(host.Errors.size(), 1u);
  EXPECT_NE(host.Errors[0].find(kJournalName), std::string::npos) << host.Errors[0];
  EXPECT_NE(host.Errors[0].find(std::strerror(EROFS)), std::string::npos) << host.Errors[0];
  EXPECT_TRUE(Snapshot(f.drive, f.Dest()) == before);
}

TEST(RunSafety, NothingIsWrittenThroughALinkPlantedInTheDestination) {
  TAddonFixture f;
  f.game.Settings.ArchiveInstall = true;
  f.game.Media[0].Loose.clear();
  f.game.Media[0].Entries.push_back(Separate("link\\e8.txt", "separate", kJan2000));
  f.game.Media[0].Entries.push_back(Separate("sub\\deep\\e9.txt", "separate", kJan2000));
  f.drive.WriteFile("outside\\keep.txt", "mine");
  f.drive.WriteFile("games\\moon\\placeholder", "");
  namespace fs = std::filesystem;
  const fs::path host = fs::path(f.drive.HostRoot()) / "drive_c" / "work";
  // Try both: the entry's folder is a link, and a folder further down is one.
  fs::create_directory_symlink(host / "outside", host / "games" / "moon" / "link");
  fs::create_directories(host / "games" / "moon" / "sub");
  fs::create_directory_symlink(host / "outside", host / "games" / "moon" / "sub" / "deep");
  TScriptHost h;
  const TRunOutcome outcome = f.Install(f.game, "cd", h);
  EXPECT_EQ(outcome.End, TRunEnd::reFailed);
  EXPECT_EQ(Snapshot(f.drive, f.drive.PathOf("outside")), (TSnapshot{{"keep.txt", "mine"}}));
  EXPECT_TRUE(fs::is_symlink(host / "games" / "moon" / "link"));
}
#endif

}  // namespace
}  // namespace vr
