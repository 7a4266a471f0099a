// The unattended mode as a driver of the runs: what the switches change, the refusals before anything
// is written, the failures taken back, the medium folders and the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include "archive/vrfiles.h"
#include "framework/headless/headless.h"
#include "install_testutil.h"
#include "platform/codepage.h"
#include "startup/syshelpers.h"
#include "wizard/installrun.h"
#include "wizard/unattended.h"
#include "wizard_support.h"

namespace vr {
namespace {

using runtest::TTestPackage;
using vrtest::Compressed;
using vrtest::Stored;

constexpr int32_t kJan2000 = (20 << 25) | (1 << 21) | (1 << 16);
constexpr int32_t kJan2001 = (21 << 25) | (1 << 21) | (1 << 16);

#ifdef _WIN32
// Shortcuts are COM objects; the setup program joins COM in its entry point.
void JoinCom();
void LeaveCom();
struct TComScope {
  TComScope() { JoinCom(); }
  ~TComScope() { LeaveCom(); }
};
#else
struct TComScope {};
#endif

struct TUnattendedFixture {
  TComScope com;
  TTempDrive drive;
  TTestPackage package{drive};
  std::string LogPath() const { return drive.PathOf("setup.log"); }
  std::string Dest() const { return drive.PathOf("games\\moon\\"); }

  TUnattendedFixture() {
    runtest::TMedium& m = package.Media[0];
    m.Loose = {{"moon.exe", "MZ game"},
               {"install.exe", "MZ setup"},
               {"bgm\\a.OGG", "sound"},
               {"mov\\op.MPG", "movie"}};
    m.Entries = {Compressed("scene\\a.txt", vrtest::Text(3000, 1), kJan2000),
                 Stored("rova.rpb", "project", kJan2000)};
    package.ListPackageFiles();
  }

  // Runs the install from medium folder "cd" with the switches.
  int Install(const std::vector<std::string>& params) {
    TSetupSwitches switches = ParseSetupSwitches(params);
    EXPECT_EQ(switches.Error, "");
    TSetupLog log;
    log.Open(LogPath(), false);
    TVrFileCollection archive;
    archive.Open(drive.PathOf("cd\\game.dat"));
    return RunUnattendedInstall(package.Settings, &archive, drive.PathOf("cd\\"), switches, log);
  }
  // The log as the code page 932 text of the tests.
  std::string Log() const { return Utf8ToCp932(drive.ReadFile(LogPath())); }
  bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }
  std::vector<std::string> Tree() const {
    std::vector<std::string> out;
    if (auto list = Platform().ListFolder(ExcludeTrailingBackslash(Dest())))
      for (const TFindData& f : *list) out.push_back(f.Name);
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST(UnattendedInstall, SwitchesChooseFolderGroupsAndShortcutsAndEachStepIsLogged) {
  TUnattendedFixture f;
  f.package.WriteMedium(0, "cd");
  EXPECT_EQ(f.Install({"/VERYSILENT", "/DIR=" + f.Dest(), "/COMPONENTS=data", "/NOICONS", "/LOG=x"}),
            kExitDone);
  EXPECT_TRUE(FileExists(f.Dest() + "moon.exe"));
  EXPECT_FALSE(FileExists(f.Dest() + "bgm\\a.OGG"));
  EXPECT_FALSE(FileExists(f.Dest() + "mov\\op.MPG"));
  TVrFileCollection data;
  data.Open(f.Dest() + "game.dat");
  EXPECT_TRUE(data.VerifyData());
  TRovaInstallSet installed;
  installed.LoadFromFile(f.Dest() + "install.dat");
  EXPECT_TRUE(installed.Uninstaller);
  for (const char* line :
       {"コピー: moon.exe", "データファイルのチェック: 正常", "インストールが完了しました"})
    EXPECT_TRUE(f.Logged(line)) << line;
  EXPECT_FALSE(f.Logged("ショートカット:"));
  EXPECT_EQ(f.package.Settings.ReadSetting("InstallPath", ""), f.Dest());

  // Without /COMPONENTS every group goes, and the shortcuts are made.
  TUnattendedFixture g;
  g.package.Settings.ReadmeFile = "moon.exe";
  g.package.Settings.OpenReadme = true;
  g.package.WriteMedium(0, "cd");
  EXPECT_EQ(g.Install({"/VERYSILENT", "/DIR=" + g.Dest()}), kExitDone);
  EXPECT_TRUE(FileExists(g.Dest() + "bgm\\a.OGG"));
  EXPECT_TRUE(FileExists(g.Dest() + "mov\\op.MPG"));
  EXPECT_TRUE(g.Logged("ショートカット:"));
#ifndef _WIN32
  // Nothing is opened on the screen: neither the shortcuts' folder nor the read-me.
  EXPECT_TRUE(g.drive.Posix()->ShellCalls().empty());
#endif
}

TEST(UnattendedInstall, UnusableDestinationsAreRefusedBeforeAnythingIsWritten) {
  TUnattendedFixture f;
  f.package.WriteMedium(0, "cd");
  f.drive.WriteFile("games\\file", "a file where the folder should go");
  for (const std::string& dir :
       {std::string("C:\\"), f.drive.PathOf("games\\file"), std::string("Q:\\nowhere")}) {
    EXPECT_EQ(f.Install({"/VERYSILENT", "/DIR=" + dir}), kExitRefused) << dir;
    EXPECT_TRUE(f.Logged("正しいインストール先を指定してください")) << dir;
  }
  // An add-on only goes where its game is.
  f.package.Settings.AddOnPackage = true;
  EXPECT_EQ(f.Install({"/VERYSILENT", "/DIR=" + f.Dest()}), kExitRefused);
  EXPECT_FALSE(DirectoryExists(f.Dest()));
  EXPECT_EQ(f.package.Settings.ReadSetting("InstallPath", "<none>"), "<none>");
}

#ifndef _WIN32
TEST(UnattendedInstall, TooLittleSpaceIsRefusedWithoutAQuestion) {
  TUnattendedFixture f;
  f.package.Settings.BaseSizes = {int64_t(50) * 1048576};
  f.package.WriteMedium(0, "cd");
  wiztest::TSpacePlatform space(f.drive.PosixConfig());
  space.FreeBytes = int64_t(10) * 1048576;
  TPlatform* previous = SetPlatform(&space);
  const int code = f.Install({"/VERYSILENT", "/SUPPRESSMSGBOXES", "/DIR=" + f.Dest()});
  SetPlatform(previous);
  EXPECT_EQ(code, kExitRefused);
  EXPECT_TRUE(f.Logged("じゅうぶんな空き容量がありません"));
  EXPECT_FALSE(DirectoryExists(f.Dest()));
}
#endif

TEST(UnattendedInstall, DamagedDataFailsAndLeavesTheDestinationAsItWas) {
  TUnattendedFixture f;
  vrtest::RawEntry bad = Stored("pict\\b.png", "picture", kJan2000);
  bad.crc ^= 1;
  f.package.Media[0].Entries.push_back(bad);
  f.package.WriteMedium(0, "cd");
  f.drive.WriteFile("games\\moon\\moon.exe", "old game");
  f.drive.WriteFile("games\\moon\\keep.txt", "mine");
  EXPECT_EQ(f.Install({"/VERYSILENT", "/DIR=" + f.Dest()}), kExitFailed);
  EXPECT_EQ(f.Tree(), (std::vector<std::string>{"keep.txt", "moon.exe"}));
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "moon.exe"), "old game");
  EXPECT_TRUE(f.Logged("インストール先を元の状態に戻しました"));
  EXPECT_TRUE(f.Logged("インストールは完了しませんでした"));
}

#ifndef _WIN32
// Writes into the rebuilt archive fail after its first megabyte, as on a full disk; everything else
// is written.
class TRebuildFails : public TPosixPlatform {
 public:
  using TPosixPlatform::TPosixPlatform;
  THandle FileCreate(const std::string& name, uint16_t share) override {
    const THandle h = TPosixPlatform::FileCreate(name, share);
    if (name.find("~rvupdate") != std::string::npos) writes_[h] = 0;
    return h;
  }
  int32_t FileWrite(THandle h, const void* buffer, int32_t count) override {
    auto it = writes_.find(h);
    if (it != writes_.end() && (it->second += count) > (1 << 20)) return -1;
    return TPosixPlatform::FileWrite(h, buffer, count);
  }

 private:
  std::map<THandle, int64_t> writes_;
};

TEST(UnattendedInstall, AnEntryThatCannotBeWrittenIsLoggedNotShown) {
  TUnattendedFixture f;
  // An add-on for a game that is one executable carrying its archive: the archive is rebuilt.
  TMemoryStream settings;
  f.package.Settings.SaveToStream(settings);
  f.drive.WriteFile("games\\moon\\moon.exe", "MZ old program");
  f.drive.WriteFile("old.pak",
                    vrtest::BuildArchive(102, {Stored("install.dat", vrtest::MemoryText(settings), kJan2000),
                                               Stored("big", vrtest::RandomBytes(4 << 20, 7), kJan2000)}));
  AppendArchiveToExecutable(f.Dest() + "moon.exe", f.drive.PathOf("old.pak"));
  f.package.Settings.AddOnPackage = true;
  f.package.Settings.ArchiveInstall = true;
  f.package.Media[0].Entries = {Stored("scene", "new scene", kJan2001)};
  f.package.WriteMedium(0, "cd");
  const std::string before = f.drive.ReadFile(f.Dest() + "moon.exe");

  std::vector<std::string> shown;
  TVrErrorReporter previous = SetVrErrorReporter([&shown](const std::string& m) { shown.push_back(m); });
  TRebuildFails full(f.drive.PosixConfig());
  TPlatform* platform = SetPlatform(&full);
  const int code = f.Install({"/VERYSILENT", "/DIR=" + f.Dest()});
  SetPlatform(platform);
  EXPECT_EQ(code, kExitFailed);
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(f.Logged("エラー:big"));
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "moon.exe"), before);
  // The program's reporter is back after the run.
  TVrErrorReporter current = SetVrErrorReporter(std::move(previous));
  ASSERT_TRUE(current);
  current("after");
  EXPECT_EQ(shown, std::vector<std::string>{"after"});
}
#endif

TEST(UnattendedInstall, FurtherMediaComeOnlyFromTheMediaFolders) {
  TUnattendedFixture f;
  f.package.Media.resize(2);
  f.package.Media[1].Loose = {{"disc2.txt", "disc 2"}};
  f.package.Media[1].Entries = {Stored("data2", "data of 2", kJan2000)};
  f.package.ListPackageFiles();
  f.package.WriteMedium(0, "cd");
  EXPECT_EQ(f.Install({"/VERYSILENT", "/DIR=" + f.Dest()}), kExitFailed);
  EXPECT_TRUE(f.Logged("/MEDIADIRS"));
  EXPECT_FALSE(DirectoryExists(f.Dest()));
  // A folder without the medium is looked at once, not asked for forever.
  EXPECT_EQ(f.Install({"/VERYSILENT", "/DIR=" + f.Dest(), "/MEDIADIRS=" + f.drive.PathOf("empty")}),
            kExitFailed);
  EXPECT_TRUE(f.Logged("指定されたフォルダにディスクがありません"));

  f.package.WriteMedium(1, "cd2");
  EXPECT_EQ(f.Install({"/VERYSILENT", "/DIR=" + f.Dest(), "/MEDIADIRS=" + f.drive.PathOf("cd2")}), kExitDone);
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "disc2.txt"), "disc 2");
  TVrFileCollection data;
  data.Open(f.Dest() + "game.dat");
  EXPECT_GE(data.IndexOf("data2"), 0);
}

TEST(UnattendedInstall, SilentShowsOnlyAProgressWindowWhoseCloseBoxStopsTheRun) {
  TUnattendedFixture f;
  f.package.WriteMedium(0, "cd");
#ifndef _WIN32
  wiztest::TSpacePlatform pauses(f.drive.PosixConfig());
  TPlatform* previous = SetPlatform(&pauses);
#endif
  THeadlessSession session;
  auto window = []() -> TFormSilent* {
    for (TForm* form : Application->Forms())
      if (auto* w = dynamic_cast<TFormSilent*>(form)) return w;
    return nullptr;
  };
  std::string heading;
  bool visible = false;
  session->When([&](TForm*) { return window() && !window()->LabelHeading->Caption().empty(); },
                [&](TForm*) {
                  visible = window()->Visible();
                  heading = window()->LabelHeading->Caption();
                });
  EXPECT_EQ(f.Install({"/SILENT", "/DIR=" + f.Dest()}), kExitDone);
  EXPECT_EQ(session->PendingSteps(), 0u);
  EXPECT_TRUE(visible);
  EXPECT_FALSE(heading.empty());
#ifndef _WIN32
  // The window stays up for the run's pauses, as the wizard's does.
  EXPECT_FALSE(pauses.Sleeps.empty());
  SetPlatform(previous);
#endif
  Application->FreeReleasedForms();
  EXPECT_TRUE(Application->Forms().empty());
  EXPECT_TRUE(session->Dialogs.empty());

  TUnattendedFixture g;
  g.package.WriteMedium(0, "cd");
  session->Then([&](TForm*) { window()->Close(); });
  EXPECT_EQ(g.Install({"/SILENT", "/DIR=" + g.Dest()}), kExitFailed);
  EXPECT_FALSE(DirectoryExists(g.Dest()));
  EXPECT_TRUE(g.Logged("中断されました"));
  // /VERYSILENT wins: no window at all.
  TUnattendedFixture h;
  h.package.WriteMedium(0, "cd");
  const int calls = session->ProcessMessagesCalls;
  EXPECT_EQ(h.Install({"/SILENT", "/VERYSILENT", "/DIR=" + h.Dest()}), kExitDone);
  EXPECT_EQ(session->ProcessMessagesCalls, calls);
  Application->FreeReleasedForms();
  EXPECT_TRUE(Application->Forms().empty());
}

TEST(UnattendedRepair, RepairsFromTheMediumAndRefusesAFolderWithoutTheGame) {
  TUnattendedFixture f;
  f.package.WriteMedium(0, "cd");
  ASSERT_EQ(f.Install({"/VERYSILENT", "/NOICONS", "/DIR=" + f.Dest()}), kExitDone);
  Platform().DeleteFile(f.Dest() + "moon.exe");
  f.drive.WriteFile("games\\moon\\save.dat", "progress");
  auto repair = [&](const std::string& dir) {
    TSetupSwitches switches = ParseSetupSwitches({"/VERYSILENT", "/REPAIR", "/DIR=" + dir});
    EXPECT_TRUE(switches.Repair);
    TSetupLog log;
    log.Open(f.LogPath(), false);
    return RunUnattendedRepair(f.package.Settings, f.drive.PathOf("cd\\"), switches, log);
  };
  EXPECT_EQ(repair(f.Dest()), kExitDone);
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "moon.exe"), "MZ game");
  EXPECT_EQ(f.drive.ReadFile(f.Dest() + "save.dat"), "progress");
  EXPECT_TRUE(f.Logged("0 missing, 0 damaged"));
  EXPECT_EQ(repair(f.Dest()), kExitDone);  // healthy now
  EXPECT_EQ(repair(f.drive.PathOf("games\\other")), kExitRefused);
  EXPECT_FALSE(DirectoryExists(f.drive.PathOf("games\\other")));
}

TEST(UnattendedUninstall, RemovesTheGameAndTheSaveDataOnlyWhenAsked) {
  for (bool deleteSave : {false, true}) {
    TUnattendedFixture f;
    f.package.WriteMedium(0, "cd");
    ASSERT_EQ(f.Install({"/VERYSILENT", "/DIR=" + f.Dest()}), kExitDone);
    f.drive.WriteFile("games\\moon\\save.dat", "progress");
    TRovaInstallSet installed;
    installed.LoadFromFile(f.Dest() + "install.dat");
    TSetupLog log;
    log.Open(f.LogPath(), false);
    std::vector<std::string> params{"/VERYSILENT"};
    if (deleteSave) params.push_back("/DELETESAVE");
    EXPECT_EQ(RunUnattendedUninstall(installed, f.Dest(), ParseSetupSwitches(params), log), kExitDone);
    EXPECT_TRUE(f.Logged("アンインストールが完了しました"));
    EXPECT_FALSE(FileExists(f.Dest() + "moon.exe"));
    EXPECT_EQ(FileExists(f.Dest() + "save.dat"), !deleteSave);
    EXPECT_EQ(DirectoryExists(f.Dest()), !deleteSave);
  }
}

}  // namespace
}  // namespace vr

#ifdef _WIN32
// Last: <objbase.h> renames the platform's functions of the same names.
#include <objbase.h>
namespace vr {
namespace {
void JoinCom() { CoInitialize(nullptr); }
void LeaveCom() { CoUninitialize(); }
}  // namespace
}  // namespace vr
#endif
