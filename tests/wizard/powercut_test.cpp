// The runs under a power cut at each of their flushes, renames and removals, with the disk having kept
// none, all or some of what was not flushed: once the next run has recovered, the game's folder is as
// it was before the run or complete, byte for byte, and nothing of the run is left.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "archive/vrfiles.h"
#include "install_testutil.h"
#include "startup/instset.h"
#include "support/powercutplatform.h"
#include "treesnapshot.h"
#include "wizard/checkrun.h"
#include "wizard/installjournal.h"
#include "wizard/installrun.h"
#include "wizard/repairrun.h"
#include "wizard/uninstallrun.h"

namespace vr {
namespace {

using namespace treetest;
using runtest::TScriptHost;
using runtest::TTestPackage;
using TMode = TPowerCutPlatform::TMode;

constexpr int32_t kJan2001 = (21 << 25) | (1 << 21) | (1 << 16);

// Loose files in folders and a data file over three parts (version 1), or the data file and a separate
// entry written by the entry writer (version 2, newer entries).
void CutPackage(TTestPackage& p, int version) {
  const std::string v = std::to_string(version);
  p.Media[0].Loose = {{"moon.exe", "MZ game " + v}, {"bgm\\a.ogg", "sound " + v}};
  p.Media[0].Entries.clear();
  for (int i = 0; i < 4; ++i)
    p.Media[0].Entries.push_back(
        vrtest::Stored("scene\\" + std::to_string(i) + ".txt",
                       vrtest::RandomBytes(700, static_cast<uint32_t>(i + 10 * version)),
                       version == 1 ? kJan2000 : kJan2001));
  if (version == 2) {
    p.Settings.ArchiveInstall = true;
    p.Media[0].Entries.push_back(runtest::Separate("doc\\manual.txt", "manual " + v, kJan2001));
  }
  p.ListPackageFiles();
}

struct TCutFixture {
  TTempDrive drive;
  vrtest::PartSizeScope parts{1000};
  TTestPackage game{drive};
  TTestPackage next{drive};
  TTestPackage addon{drive};
  std::string Games() const { return drive.PathOf("games"); }
  std::string Dest() const { return drive.PathOf("games\\moon\\"); }

  TCutFixture() {
    CutPackage(game, 1);
    game.WriteMedium(0, "cd");
    next.Settings.Title = game.Settings.Title;
    CutPackage(next, 2);
    next.WriteMedium(0, "cd2");
    addon.Settings.Title = game.Settings.Title;
    addon.Settings.AddOnPackage = true;
    addon.Media[0].Loose = {{"bgm\\a.ogg", "new sound"}, {"bgm\\b.ogg", "more sound"}};
    addon.Media[0].Entries = {vrtest::Stored("scene\\1.txt", "newer scene", kJan2001),
                              vrtest::Stored("scene\\new.txt", vrtest::RandomBytes(900, 9), kJan2001)};
    addon.ListPackageFiles();
    addon.WriteMedium(0, "cd3");
  }
  TRunOutcome Install(TTestPackage& package, const std::string& medium, const std::string& dest) {
    TScriptHost host;
    TVrFileCollection archive;
    archive.Open(drive.PathOf(medium + "\\game.dat"));
    TInstallChoices c;
    c.SourceFolder = drive.PathOf(medium + "\\");
    c.Destination = dest;
    c.AllMedia = c.Data = c.Sound = c.Movie = true;
    c.Shortcuts = c.Registry = c.OpenReadme = false;
    return TInstallRun(host, package.Settings, archive, c).Execute();
  }
  // The first game installed, with the player's save data and a file of the player's beside it.
  void InstallGame() {
    ASSERT_TRUE(Install(game, "cd", Dest()).Completed());
    drive.WriteFile("games\\moon\\save.dat", "progress");
    drive.WriteFile("games\\moon\\shots\\1.png", "the player's");
  }
};

// Flushes that return at once: the test's disk is the power-cut platform's model, and hundreds of real
// flushes would only make it wait.
class TNoWaitPlatform : public TForwardPlatform {
 public:
  bool FileFlush(THandle) override { return true; }
  bool FolderFlush(const std::string&) override { return true; }
};

struct TTally {
  int Cuts = 0, AsBefore = 0, Complete = 0, EmptyFolderLeft = 0;
};

// `after` without the empty folders `before` has not: the run makes the destination's folders before its
// journal can be written there, so a cut in that instant may keep a folder no journal names yet.
TSnapshot WithoutNewEmptyFolders(const TSnapshot& after, const TSnapshot& before) {
  TSnapshot out = after;
  for (bool again = true; again;) {
    again = false;
    for (auto it = out.begin(); it != out.end(); ++it) {
      const std::string inside = it->first + "\\";
      const auto child = out.lower_bound(inside);
      const bool empty = child == out.end() || child->first.compare(0, inside.size(), inside) != 0;
      if (it->second == "<dir>" && empty && !before.count(it->first)) {
        out.erase(it);
        again = true;
        break;
      }
    }
  }
  return out;
}

// Cuts the power at every step of `run` in each mode, for every step until a run gets through, each
// time from `before` in the games folder. After each cut `recover` runs; the games folder must then be
// `before` or `complete` and hold nothing of the run's own.
void EveryCut(TCutFixture& f, const TSnapshot& before, const std::function<void()>& run,
              const std::function<void()>& recover, TTally& tally) {
  Restore(f.drive, f.Games(), before);
  run();
  const TSnapshot complete = Snapshot(f.drive, f.Games());
  ASSERT_NE(complete, before);
  for (TMode mode : TPowerCutPlatform::kModes) {
    for (long n = 1;; ++n) {
      Restore(f.drive, f.Games(), before);
      std::fflush(nullptr);
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        TPowerCutPlatform power(f.Games());
        power.Arm(mode, n, static_cast<uint32_t>(n * 7 + static_cast<int>(mode)));
        run();
        _exit(0);
      }
      int status = 0;
      waitpid(child, &status, 0);
      ASSERT_TRUE(WIFEXITED(status));
      if (WEXITSTATUS(status) == 0) break;  // the run got through before step n
      ASSERT_EQ(WEXITSTATUS(status), TPowerCutPlatform::kCutStatus);
      ++tally.Cuts;
      recover();
      TSnapshot after = Snapshot(f.drive, f.Games());
      if (after != before && WithoutNewEmptyFolders(after, before) == before) {
        ++tally.EmptyFolderLeft;
        after = before;
      }
      EXPECT_TRUE(after == before || after == complete)
          << "mode " << static_cast<int>(mode) << ", cut at step " << n
          << "\nagainst before:" << Differences(after, before)
          << "\nagainst complete:" << Differences(after, complete);
      EXPECT_TRUE(NoDebris(after)) << "mode " << static_cast<int>(mode) << ", cut at step " << n;
      tally.AsBefore += after == before;
      tally.Complete += after == complete;
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(PowerCut, EveryRunIsAsBeforeOrCompleteAfterACutAtAnyStep) {
  TCutFixture f;
  TNoWaitPlatform noWait;
  TTally tally;
  auto recoverInstall = [&] {
    TScriptHost host;
    TInstallJournal::Recover(f.Dest(), &host);
  };
  // A new install into a folder that is not there yet.
  const TSnapshot empty = Snapshot(f.drive, f.Games());
  EveryCut(
      f, empty, [&] { f.Install(f.next, "cd2", f.Dest()); }, recoverInstall, tally);

  f.InstallGame();
  const TSnapshot installed = Snapshot(f.drive, f.Games());
  // A reinstall of a newer version over it, then an add-on merged into it.
  EveryCut(
      f, installed, [&] { f.Install(f.next, "cd2", f.Dest()); }, recoverInstall, tally);
  EveryCut(
      f, installed, [&] { f.Install(f.addon, "cd3", f.Dest()); }, recoverInstall, tally);

  // A repair of a damaged loose file and a damaged data file entry.
  Restore(f.drive, f.Games(), installed);
  f.drive.WriteFile("games\\moon\\bgm\\a.ogg", "sound X");
  std::string data = f.drive.ReadFile(f.Dest() + "game.dat");
  data[20] = static_cast<char>(data[20] ^ 0x40);
  f.drive.WriteFile("games\\moon\\game.dat", data);
  const TSnapshot damaged = Snapshot(f.drive, f.Games());
  EveryCut(
      f, damaged,
      [&] {
        TScriptHost host;
        TRepairRun(host, {f.Dest(), {f.drive.PathOf("cd")}}).Execute();
      },
      recoverInstall, tally);

  // An uninstall keeping the save data: the next uninstall finishes what a cut one left.
  TRovaInstallSet settings;
  Restore(f.drive, f.Games(), installed);
  settings.LoadFromFile(f.Dest() + kSettingsFileName);
  auto uninstall = [&] {
    TScriptHost host;
    TUninstallOptions options;
    options.GameFolder = f.Dest();
    options.Shortcuts = options.Registry = false;
    TUninstallRun(host, settings, options).Execute();
  };
  TTally uninstalls;
  EveryCut(f, installed, uninstall, uninstall, uninstalls);
  EXPECT_EQ(uninstalls.AsBefore, 0);

  std::printf(
      "[ power cut ] %d cuts tried (steps x 3 modes): %d as before (%d of them with an empty new "
      "folder left), %d complete\n",
      tally.Cuts + uninstalls.Cuts, tally.AsBefore, tally.EmptyFolderLeft,
      tally.Complete + uninstalls.Complete);
  EXPECT_GT(tally.AsBefore, 100);
  EXPECT_GT(tally.Complete, 10);
}

}  // namespace
}  // namespace vr
#endif
