// The check and repair runs: each kind of damage found by name and repaired from the medium, files the
// install did not record left alone, a repair that fails or is stopped at any step taking itself back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/vrfiles.h"
#include "install_testutil.h"
#include "startup/instset.h"
#include "treesnapshot.h"
#include "wizard/checkrun.h"
#include "wizard/installjournal.h"
#include "wizard/installrun.h"
#include "wizard/repairrun.h"

#ifndef _WIN32
#include "faultplatform.h"
#endif

namespace vr {
namespace {

using namespace treetest;
using runtest::TScriptHost;
using runtest::TTestPackage;

// A game installed from medium "cd" into C:\work\games\moon, with a data file over three parts, then
// save data and a file the game made.
struct TRepairFixture {
  TTempDrive drive;
  vrtest::PartSizeScope parts{1000};
  TTestPackage package{drive};
  TSnapshot fresh;
  std::string Dest() const { return drive.PathOf("games\\moon\\"); }

  explicit TRepairFixture(bool separate = false) {
    runtest::TMedium& m = package.Media[0];
    for (int i = 0; i < 6; ++i)
      m.Entries.push_back(vrtest::Stored("scene\\" + std::to_string(i) + ".txt",
                                         vrtest::RandomBytes(400, static_cast<uint32_t>(i)), kJan2000));
    if (separate) {
      package.Settings.ArchiveInstall = true;
      m.Entries.push_back(runtest::Separate("doc\\manual.txt", "the manual", kJan2000));
    } else {
      m.Loose = {{"moon.exe", "MZ game"}, {"bgm\\a.ogg", "sound"}, {"sys\\cfg.txt", "config"}};
    }
    package.ListPackageFiles();
    package.WriteMedium(0, "cd");
    TScriptHost host;
    TVrFileCollection archive;
    archive.Open(drive.PathOf("cd\\game.dat"));
    TInstallChoices c;
    c.SourceFolder = drive.PathOf("cd\\");
    c.Destination = Dest();
    c.AllMedia = c.Data = c.Sound = c.Movie = true;
    c.Shortcuts = c.Registry = c.OpenReadme = false;
    EXPECT_TRUE(TInstallRun(host, package.Settings, archive, c).Execute().Completed());
    drive.WriteFile("games\\moon\\save.dat", "progress");
    drive.WriteFile("games\\moon\\shots\\1.png", "made by the game");
    fresh = Snapshot(drive, Dest());
  }
  TCheckOptions Options() const { return {Dest(), {drive.PathOf("cd")}}; }
  void Flip(const std::string& name, size_t at) {
    std::string bytes = drive.ReadFile(Dest() + name);
    bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
    drive.WriteFile("games\\moon\\" + name, bytes);
  }
};

TEST(RepairRun, EachKindOfDamageIsFoundByNameAndRepaired) {
  // 0: a loose file missing, 1: a loose file with a flipped byte, 2: a damaged data file entry, 3: a part
  // file missing, 4: a damaged directory file.
  const char* names[] = {"moon.exe", "bgm\\a.ogg", "scene\\0.txt", "game.001", "game.ext"};
  for (int kind = 0; kind < 5; ++kind) {
    TRepairFixture f;
    if (kind == 0) Platform().DeleteFile(f.Dest() + "moon.exe");
    if (kind == 1) f.Flip("bgm\\a.ogg", 2);
    if (kind == 2) f.Flip("game.dat", 10);
    if (kind == 3) Platform().DeleteFile(f.Dest() + "game.001");
    if (kind == 4) f.Flip("game.ext", 30);
    TScriptHost checkHost;
    const TCheckReport report = TCheckRun(checkHost, f.Options()).Execute();
    EXPECT_FALSE(report.Healthy()) << kind;
    EXPECT_NE(report.Summary().find(names[kind]), std::string::npos) << kind << ": " << report.Summary();

    TScriptHost host;
    const TRepairOutcome outcome = TRepairRun(host, f.Options()).Execute();
    EXPECT_EQ(outcome.End, TRunEnd::reCompleted) << kind << ": " << outcome.After.Summary();
    EXPECT_TRUE(outcome.After.Healthy()) << kind;
    const TSnapshot after = Snapshot(f.drive, f.Dest());
    EXPECT_TRUE(after == f.fresh) << kind << Differences(after, f.fresh);
  }
}

TEST(RepairRun, ASeparateEntryIsWrittenAgainAndAHostileListIsOnlyReported) {
  TRepairFixture f(true);
  f.Flip("doc\\manual.txt", 1);
  TScriptHost host;
  EXPECT_TRUE(TRepairRun(host, f.Options()).Execute().After.Healthy());
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "doc\\manual.txt"), "the manual");

  // A recorded name that leaves the game folder is reported, never looked at or written.
  TRovaInstallSet settings;
  settings.LoadFromFile(f.Dest() + "install.dat");
  settings.AddInstalledFile("..\\outside.txt");
  settings.SaveToFile(f.Dest() + "install.dat");
  TScriptHost again;
  const TRepairOutcome outcome = TRepairRun(again, f.Options()).Execute();
  EXPECT_EQ(outcome.After.Count(TFileState::fsRefused), 1);
  EXPECT_FALSE(Platform().GetFileKind(f.drive.PathOf("games\\outside.txt")) != TFileKind::None);
}

TEST(RepairRun, ASecondSpellingOfARecordedNameIsOneFileLookedAtOnce) {
  TRepairFixture f;
  TRovaInstallSet settings;
  settings.LoadFromFile(f.Dest() + "install.dat");
  settings.AddInstalledFile("MOON.EXE");
  settings.AddInstalledFile("Bgm\\A.OGG");
  settings.SaveToFile(f.Dest() + "install.dat");
  f.Flip("moon.exe", 1);
  TScriptHost host;
  const TCheckReport report = TCheckRun(host, f.Options()).Execute();
  std::vector<std::string> damaged;
  for (const TCheckedFile& file : report.Files) {
    EXPECT_NE(file.Name, "MOON.EXE");
    EXPECT_NE(file.Name, "Bgm\\A.OGG");
    if (file.State == TFileState::fsDamaged) damaged.push_back(file.Name);
  }
  EXPECT_EQ(damaged, std::vector<std::string>{"moon.exe"});
  TScriptHost repairHost;
  EXPECT_TRUE(TRepairRun(repairHost, f.Options()).Execute().After.Healthy());
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "moon.exe"), "MZ game");
}

TEST(RepairRun, WithoutAnInstalledGameOrWithAnotherGamesMediumItRefuses) {
  TRepairFixture f;
  TScriptHost host;
  EXPECT_THROW(TCheckRun(host, {f.drive.PathOf("cd"), {}}).Execute(), EVrError);  // a package, not a game
  f.package.Settings.Title = "別のゲーム";
  f.package.WriteMedium(0, "other");
  EXPECT_THROW(TRepairRun(host, {f.Dest(), {f.drive.PathOf("other")}}).Execute(), EVrError);
}

#ifndef _WIN32
TEST(RepairRun, ARepairFailingOrStoppedAtAnyStepLeavesNoTornFile) {
  TRepairFixture f;
  // Every kind of damage at once.
  Platform().DeleteFile(f.Dest() + "moon.exe");
  f.Flip("bgm\\a.ogg", 2);
  f.Flip("game.dat", 10);
  const TSnapshot damaged = Snapshot(f.drive, f.Dest());
  // Stopped by the user at the first file it repairs: as before.
  {
    TScriptHost host;
    host.OnProcess = [](TScriptHost& h) {
      if (h.Status.find("修復しています") != std::string::npos) h.ModalResult = mrAbort;
    };
    EXPECT_EQ(TRepairRun(host, f.Options()).Execute().End, TRunEnd::reStopped);
    EXPECT_TRUE(Snapshot(f.drive, f.Dest()) == damaged);
  }
  // A failure at each call: as before (everything put back) or repaired, never anything between.
  for (int n = 1;; ++n) {
    TScriptHost host;
    bool hit = false;
    {
      TFaultPlatform faults;
      faults.Arm(TFaultPlatform::TMode::Fail, n);
      try {
        TRepairRun(host, f.Options()).Execute();
      } catch (const Exception&) {
        // The first check could not read what it needs: nothing was changed.
      }
      hit = faults.Calls >= n;
    }
    // The next run of any host finishes what the failed one could not (a backup it could not delete).
    TInstallJournal::Recover(f.Dest());
    const TSnapshot after = Snapshot(f.drive, f.Dest());
    EXPECT_TRUE(after == damaged || after == f.fresh)
        << "call " << n << "\nagainst the damaged folder:" << Differences(after, damaged)
        << "\nagainst the fresh install:" << Differences(after, f.fresh);
    EXPECT_TRUE(NoDebris(after)) << "call " << n;
    if (!hit || HasFailure()) break;
    Restore(f.drive, f.Dest(), damaged);
  }
}
#endif

}  // namespace
}  // namespace vr
