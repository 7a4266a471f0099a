// The uninstall run on the POSIX layer: what it deletes, what it keeps, its steps as the host sees them,
// and the hostile lists, titles and folders it must not let out of the game folder.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "framework/dialogs.h"
#include "framework/forwardplatform.h"
#include "platform/codepage.h"
#include "startup/syshelpers.h"
#include "wizard/shortcuts.h"
#include "wizard/uninstallrun.h"
#include "wizard_support.h"

namespace vr {
namespace {

const char kPrograms[] = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\";
const char kUserSave[] = "C:\\users\\user\\AppData\\Local\\Game\\";

// A host that records what the run shows and asks, and answers the abort poll from a script.
class TRecordingHost : public TRunHost {
 public:
  std::vector<std::string> Steps;
  std::vector<std::string> Logs;
  int AbortAtPoll = 0;  // the poll (1, 2) that answers yes; 0 never
  int Polls = 0;
  void SetHeading(const std::string& t) override { Steps.push_back("heading " + t); }
  void SetStatus(const std::string& t) override { Steps.push_back("status " + t); }
  void SetProgressRange(int32_t) override {}
  void SetProgressPosition(int32_t) override {}
  void HideProgress() override {}
  void ProcessMessages() override {}
  void Wait(uint32_t ms) override { Steps.push_back("wait " + std::to_string(ms)); }
  void Log(const std::string& line) override { Logs.push_back(line); }
  bool AbortRequested() override { return ++Polls == AbortAtPoll; }
  bool PromptMedium(const std::string&) override { return true; }
  bool Confirm(const std::string&) override { return true; }
  void Warning(const std::string&) override {}
  void ShowError(const std::string&) override {}
};

// An installed game in C:\Game with its shortcuts and registry key.
struct TInstalled {
  TTempDrive drive;
  TRovaInstallSet settings;
  std::string game = "C:\\Game\\";

  explicit TInstalled(const std::string& title = "Game") {
    settings.Title = title;
    settings.GameExe = "game.exe";
    settings.RegistryKey = "VrUninstTest\\Maker\\Game";
    for (const char* name : {"game.exe", "install.dat", "install.exe", "game.dat", "game.ext", "game.001",
                             "data\\a.bin", "data\\deep\\b.bin"}) {
      Write(game + name, name);
      settings.AddInstalledFile(name);
    }
    TTempDrive::MakeFolders(game + "data\\empty\\inner");
    settings.WriteSetting("InstallPath", game);
  }
  ~TInstalled() { settings.DeleteSettingsKey(); }

  static void Write(const std::string& path, const std::string& bytes) {
    TTempDrive::MakeFolders(ExtractFileDir(path));
    const THandle h = Platform().FileCreate(path);
    ASSERT_NE(h, kInvalidHandle) << path;
    Platform().FileWrite(h, bytes.data(), static_cast<int32_t>(bytes.size()));
    Platform().FileClose(h);
  }
  bool Run(TRecordingHost& host, bool deleteSave = false) {
    TUninstallOptions options;
    options.GameFolder = game;
    options.DeleteSave = deleteSave;
    return TUninstallRun(host, settings, options).Execute();
  }
  std::string Host(const std::string& path) { return drive.Posix()->HostPath(path); }
};

TEST(UninstallRun, DeletesEverythingRecordedInItsStepsAndLeavesNothingEmpty) {
  TInstalled g;
  CreateShortcuts(g.settings, g.game);
  g.Write(g.game + "game.ini", "not recorded");
  Platform().SetFileAttributes(g.game + "data\\a.bin", faReadOnly | faArchive);
  TRecordingHost host;
  EXPECT_TRUE(g.Run(host));

  EXPECT_FALSE(DirectoryExists("C:\\Game"));
  EXPECT_FALSE(DirectoryExists(std::string(kPrograms) + "Game"));
  EXPECT_TRUE(DirectoryExists(kPrograms));
  EXPECT_FALSE(Platform().RegKeyExists(TRegRoot::HKCU, "Software\\VrUninstTest"));
  EXPECT_TRUE(Platform().RegKeyExists(TRegRoot::HKCU, "Software"));
  EXPECT_EQ(host.Steps,
            (std::vector<std::string>{
                "heading Game を削除しています", "status ショートカットを削除しています...", "wait 3000",
                "status ファイルを削除しています...", "status レジストリを削除しています...", "wait 1000"}));
  EXPECT_EQ(host.Polls, 2);
  // Every file, folder and the key are in the log.
  EXPECT_EQ(host.Logs.size(), 1u + 9u + 5u + 1u);
}

TEST(UninstallRun, KeepsWhatTheGameMadeAndStopsAtEitherAbortCheck) {
  {
    TInstalled g;
    g.Write(g.game + "data\\deep\\user.cfg", "made by the game");
    TRecordingHost host;
    g.Run(host);
    EXPECT_TRUE(FileExists(g.game + "data\\deep\\user.cfg"));
    EXPECT_FALSE(FileExists(g.game + "data\\deep\\b.bin"));
    EXPECT_FALSE(DirectoryExists(g.game + "data\\empty"));
    EXPECT_EQ(Platform().ListFolder(g.game)->size(), 1u) << "only the folder holding the game's file";
  }
  for (int poll : {1, 2}) {
    TInstalled g;
    CreateShortcuts(g.settings, g.game);
    TRecordingHost host;
    host.AbortAtPoll = poll;
    EXPECT_FALSE(g.Run(host));
    EXPECT_EQ(DirectoryExists(std::string(kPrograms) + "Game"), poll == 1);
    EXPECT_TRUE(FileExists(g.game + "game.exe"));
    EXPECT_TRUE(Platform().RegKeyExists(TRegRoot::HKCU, "Software\\VrUninstTest\\Maker\\Game"));
  }
}

TEST(UninstallRun, SaveDataInTheGameFolderAndTheUserFolders) {
  struct TCase {
    bool inGame, inUser, box;
  };
  for (TCase c : {TCase{true, false, true}, TCase{false, true, true}, TCase{true, true, true},
                  TCase{true, true, false}}) {
    SCOPED_TRACE(std::to_string(c.inGame) + std::to_string(c.inUser) + std::to_string(c.box));
    TInstalled g;
    if (c.inGame) g.Write(g.game + "save.dat", "s");
    if (c.inUser) g.Write(std::string(kUserSave) + "save.dat", "s");
    EXPECT_TRUE(FindSaveData(g.settings, g.game));
    TRecordingHost host;
    g.Run(host, c.box);
    EXPECT_EQ(FileExists(g.game + "save.dat"), c.inGame && !c.box);
    EXPECT_EQ(DirectoryExists("C:\\Game"), c.inGame && !c.box) << "the game folder goes once it is empty";
    EXPECT_EQ(DirectoryExists(kUserSave), c.inUser && !c.box);
  }
  // Nothing anywhere: no save data, and the user folders are left alone.
  TInstalled g;
  TTempDrive::MakeFolders(std::string(kUserSave) + "other");
  EXPECT_FALSE(FindSaveData(g.settings, g.game));
  TRecordingHost host;
  g.Run(host, true);
  EXPECT_TRUE(DirectoryExists(std::string(kUserSave) + "other"));
}

TEST(UninstallRun, HostileListsDeleteNothingOutsideTheGameFolder) {
  TInstalled g;
  for (const char* path : {"C:\\outside.txt", "C:\\Other\\x.txt", "C:\\Other\\sub\\y.txt", "C:\\CON"})
    g.Write(path, "keep");
  TTempDrive::MakeFolders("C:\\Other\\empty");
  for (const char* name : {"..\\outside.txt", "..\\Other\\x.txt", "data\\..\\..\\outside.txt",
                           "C:\\outside.txt", "C:outside.txt", "\\outside.txt", "\\\\?\\C:\\outside.txt",
                           "..", "CON", "NUL.txt", "link\\x.txt", "dirlink\\sub\\y.txt", "filelink"})
    g.settings.AddInstalledFile(name);
  // Links inside the game folder that point out of it.
  ASSERT_EQ(symlink(g.Host("C:\\Other").c_str(), (g.Host("C:\\Game") + "/link").c_str()), 0);
  ASSERT_EQ(symlink(g.Host("C:\\Other").c_str(), (g.Host("C:\\Game") + "/dirlink").c_str()), 0);
  ASSERT_EQ(symlink(g.Host("C:\\outside.txt").c_str(), (g.Host("C:\\Game") + "/filelink").c_str()), 0);
  Platform().SetFileAttributes("C:\\outside.txt", faReadOnly);
  TRecordingHost host;
  g.Run(host);

  for (const char* path : {"C:\\outside.txt", "C:\\Other\\x.txt", "C:\\Other\\sub\\y.txt", "C:\\CON"})
    EXPECT_EQ(g.drive.ReadFile(path), "keep") << path;
  EXPECT_TRUE(DirectoryExists("C:\\Other\\empty")) << "a link is never swept through";
  EXPECT_NE(Platform().GetFileAttributes("C:\\outside.txt") & faReadOnly, 0u);
  EXPECT_FALSE(DirectoryExists("C:\\Game")) << "the links themselves went";
}

TEST(UninstallRun, SystemFoldersAndDriveRootsAreNeverSwept) {
  TInstalled g;
  std::filesystem::create_directories(g.drive.HostRoot() + "/drive_d");
  g.drive.Posix()->MapDrive('D', g.drive.HostRoot() + "/drive_d");
  for (const char* folder :
       {"C:\\", "D:\\", "C:\\windows", "C:\\WINDOWS\\system32\\", "C:\\users", "C:\\users\\user",
        "C:\\users\\Public", "C:\\ProgramData", "C:\\ProgramData\\Microsoft", "C:\\Program Files",
        "\\\\server\\share", "\\\\server\\share\\", "game", ""})
    EXPECT_TRUE(IsProtectedFolder(folder)) << folder;
  for (const char* folder :
       {"C:\\Game", "C:\\Program Files\\Maker\\Game\\", "D:\\Game", "\\\\server\\share\\game"})
    EXPECT_FALSE(IsProtectedFolder(folder)) << folder;

  // A game installed straight into a drive root: its files and their emptied folders go, nothing else.
  g.game = "D:\\";
  g.Write("D:\\game.exe", "g");
  g.Write("D:\\data\\a.bin", "a");
  g.Write("D:\\data\\deep\\b.bin", "b");
  TTempDrive::MakeFolders("D:\\Unrelated\\empty");
  TRecordingHost host;
  g.Run(host);
  EXPECT_FALSE(FileExists("D:\\game.exe"));
  EXPECT_FALSE(DirectoryExists("D:\\data"));
  EXPECT_TRUE(DirectoryExists("D:\\Unrelated\\empty"));
  EXPECT_TRUE(DirectoryExists("D:\\"));
}

// Counts what the POSIX layer can only answer by reading a whole folder: listings, and names below
// the game folder that are not on disk as spelt (matched without regard to case by a look at the
// folder).
class TLookCounter : public TForwardPlatform {
 public:
  TLookCounter(std::string game, std::string hostGame)
      : game_(std::move(game)), hostGame_(std::move(hostGame)) {}
  std::map<std::string, int> Listings;  // lower-cased folder -> listings of it
  int Unspelt = 0;

  std::optional<std::vector<TFindData>> ListFolder(const std::string& f) override {
    ++Listings[LowerCaseJ(ExcludeTrailingBackslash(f))];
    return TForwardPlatform::ListFolder(f);
  }
  uint32_t GetFileAttributes(const std::string& n) override {
    Look(n);
    return TForwardPlatform::GetFileAttributes(n);
  }
  bool SetFileAttributes(const std::string& n, uint32_t a) override {
    Look(n);
    return TForwardPlatform::SetFileAttributes(n, a);
  }
  bool DeleteFile(const std::string& n) override {
    Look(n);
    return TForwardPlatform::DeleteFile(n);
  }
  bool RemoveDirectory(const std::string& n) override {
    Look(n);
    return TForwardPlatform::RemoveDirectory(n);
  }

 private:
  void Look(const std::string& path) {
    if (path.compare(0, game_.size(), game_) != 0) return;
    struct stat st;
    const std::string rest = Cp932ToUtf8(ReplaceDelimiters(path.substr(game_.size()), '/'));
    if (lstat((hostGame_ + "/" + rest).c_str(), &st) != 0) ++Unspelt;
  }
  std::string game_, hostGame_;
};

TEST(UninstallRun, ListsEachFolderOnceWhateverNamesAreMissingOrInOtherCases) {
  TInstalled g;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "data\\many\\file" + std::to_string(i) + ".bin";
    if (i % 3 == 0) {
      g.settings.AddInstalledFile(name);  // recorded, never on disk
    } else if (i % 3 == 1) {
      g.Write(g.game + name, "x");
      g.settings.AddInstalledFile(Platform().UpperCaseJ(name));
    } else {
      g.Write(g.game + name, "x");
      g.settings.AddInstalledFile(name);
    }
  }
  g.settings.AddInstalledFile("Data\\Deep\\B.BIN");  // the same file again, in other cases
  TLookCounter counter(g.game, g.Host("C:\\Game"));
  TRecordingHost host;
  EXPECT_TRUE(g.Run(host));

  EXPECT_FALSE(DirectoryExists("C:\\Game")) << "every file went, whatever its spelling";
  for (const auto& [folder, count] : counter.Listings) EXPECT_EQ(count, 1) << folder;
  EXPECT_EQ(counter.Listings.size(), 6u);
  EXPECT_EQ(counter.Unspelt, 0);
  EXPECT_EQ(host.Logs.size(), 1u + 8u + 200u + 6u + 1u);
}

// Host paths of the drive that maps the host's root, as vrtool uninstall reaches a game folder.
std::string OnRootDrive(const std::string& host) { return "Z:" + ReplaceDelimiters(host, '\\'); }

TEST(UninstallRun, AHomeOrProfileFolderLosesOnlyWhatTheInstallMade) {
  TInstalled g;
  const std::string hostHome = g.drive.HostRoot() + "/home/player";
  std::filesystem::create_directories(hostHome);
  g.drive.Posix()->MapDrive('Z', "/");
  struct THome {
    bool had = std::getenv("HOME") != nullptr;
    std::string saved = had ? std::getenv("HOME") : "";
    explicit THome(const std::string& home) { setenv("HOME", home.c_str(), 1); }
    ~THome() { had ? setenv("HOME", saved.c_str(), 1) : unsetenv("HOME"); }
  } homeSet(hostHome + "/");
  const std::string home = OnRootDrive(hostHome);

  for (const std::string& folder : {std::string("C:\\users\\other"), std::string("C:\\USERS\\Other\\"), home,
                                    OnRootDrive(g.drive.HostRoot() + "/home")})
    EXPECT_TRUE(IsProtectedFolder(folder)) << folder;
  for (const std::string& folder : {std::string("C:\\users\\other\\Games\\Title"), home + "\\Games",
                                    OnRootDrive(g.drive.HostRoot() + "/homeless")})
    EXPECT_FALSE(IsProtectedFolder(folder)) << folder;

  for (const std::string& game :
       {std::string("C:\\users\\user\\"), std::string("C:\\users\\other\\"), home + "\\"}) {
    SCOPED_TRACE(game);
    g.game = game;
    for (int i = 0; i < g.settings.InstalledFileCount(); ++i)
      g.Write(game + g.settings.InstalledFile(i), "file");
    for (const char* folder : {"data\\empty\\inner", "Desktop", "Music", ".config\\app"})
      TTempDrive::MakeFolders(game + folder);
    // A recorded file below a folder the user had: that folder keeps its other (empty) folders.
    g.Write(game + ".config\\game\\x.ini", "file");
    g.settings.AddInstalledFile(".config\\game\\x.ini");
    TRecordingHost host;
    EXPECT_TRUE(g.Run(host));
    EXPECT_FALSE(DirectoryExists(game + "data")) << "the install's folder goes with what is empty in it";
    EXPECT_FALSE(DirectoryExists(game + ".config\\game"));
    for (const char* kept : {"Desktop", "Music", ".config\\app"})
      EXPECT_TRUE(DirectoryExists(game + kept)) << kept;
    EXPECT_TRUE(DirectoryExists(game));
  }
}

TEST(UninstallRun, HostileTitleStopsTheRunBeforeAnyDeletion) {
  for (const char* title : {"..\\", "..", "a\\\\b", "\\a", "C:\\x"}) {
    SCOPED_TRACE(title);
    TInstalled g(title);
    TInstalled::Write(std::string(kPrograms) + "Other\\keep.lnk", "k");
    TRecordingHost host;
    EXPECT_THROW(g.Run(host), EShellLinkError);
    EXPECT_TRUE(FileExists(std::string(kPrograms) + "Other\\keep.lnk"));
    EXPECT_TRUE(FileExists(g.game + "game.exe"));
  }
}

// The wizard of an installation in C:\\work\\game, with or without save data.
void SetUpUninstall(wiztest::TWizardEnv& env, bool withSave) {
  env.Settings.Uninstaller = true;
  env.Settings.Title = "Game";
  env.SourceFolder = env.drive.PathOf("game");  // as the command line gives it, no trailing backslash
  env.drive.WriteFile("game\\game.exe", "g");
  if (withSave) env.drive.WriteFile("game\\save.dat", "s");
  env.Settings.AddInstalledFile("game.exe");
  env.Settings.WriteSetting("InstallPath", env.SourceFolder);
}

TEST(UninstallWizard, SaveBoxFollowsTheSaveDataAndTheRunEndsOnExit) {
  {
    wiztest::TWizardEnv env;
    SetUpUninstall(env, false);
    EXPECT_FALSE(env.CreateShown()->CheckDelSave->Visible());
  }
  wiztest::TWizardEnv env;
  SetUpUninstall(env, true);
  TFormType* f = env.CreateShown();
  EXPECT_TRUE(f->CheckDelSave->Visible());
  EXPECT_FALSE(f->CheckDelSave->Checked());
  EXPECT_TRUE(f->FileOperation->Options == (TFileOpFlags{fofSilent, fofNoConfirmation, fofFilesOnly}));
  headless::SetChecked(f->CheckDelSave, true);
  env.Next();
  EXPECT_EQ(env.Page(), "exit");
  EXPECT_EQ(f->LabelExit->Caption(), "アンインストールが完了しました");
  EXPECT_EQ(f->LabelDelTitle->Caption(), "Game を削除しています");
  EXPECT_EQ(f->LabelDel->Caption(), "レジストリを削除しています...");
  EXPECT_EQ(f->Caption(), "完了");
  EXPECT_FALSE(f->btnNext->Visible());
  EXPECT_EQ(f->btnAbort->Caption(), "閉じる(&C)");
  EXPECT_EQ(f->Directory->Directory(), "C:\\windows");
  EXPECT_EQ(env.Space().Sleeps, (std::vector<uint32_t>{3000, 1000}));
  EXPECT_FALSE(env.drive.Exists("game"));
  EXPECT_EQ(env.Settings.ReadSetting("InstallPath", "<none>"), "<none>");
}

}  // namespace
}  // namespace vr

#endif
