// The start-up sequence run headless, many times per process: every source of the package, every mode,
// the silent ends, the warnings, the temp copy names and errors on the way.
#include <gtest/gtest.h>

#include <stdexcept>

#include "framework/dialogs.h"
#include "platform/dbcspath.h"
#include "startup/main.h"
#include "startup/start.h"
#include "startup/startup_testutil.h"
#include "startup/syshelpers.h"

namespace vr {
namespace {

using starttest::TPackage;
using starttest::TStarted;
using starttest::TStartupPlatform;
using TEnd = TStartupReport::TEnd;

template <class F>
F* As(TForm* active) {
  auto* form = dynamic_cast<F*>(active);
  if (!form) throw std::runtime_error("another window is active");
  return form;
}

class StartupRun : public starttest::TStartupFixture {
 protected:
  ~StartupRun() override { SetWizardFactory(nullptr); }

  // The title's single-instance mutex can be taken (nobody holds it any more).
  bool TitleFree() {
    const THandle h = CreateSingleInstanceMutex(package.Settings.Title);
    if (h == kInvalidHandle) return false;
    ReleaseSingleInstanceMutex(h);
    return true;
  }
  size_t TempEntries() {
    const auto entries = Platform().ListFolder(ExcludeTrailingBackslash(TempFolder()));
    return entries ? entries->size() : 0;
  }
  // Everything the run created is gone.
  void ExpectCleanedUp() {
    EXPECT_TRUE(Application->Forms().empty());
    EXPECT_TRUE(TitleFree());
    EXPECT_EQ(SetupGlobals().Settings, nullptr);
    EXPECT_EQ(SetupGlobals().Archive, nullptr);
  }
  void ClickLauncher(TButton* TFormStart::*button) {
    session->Then([button](TForm* active) { headless::Click(As<TFormStart>(active)->*button); });
  }
  // The default wizard: the backdrop window behind it, then its close button.
  void CloseWizard(std::function<void(TFormMain*, TFormPending*)> look = nullptr) {
    session->Then([look](TForm* active) {
      auto* wizard = As<TFormPending>(active);
      auto* main = dynamic_cast<TFormMain*>(wizard->Owner());
      ASSERT_NE(main, nullptr);
      EXPECT_TRUE(main->Visible());
      if (look) look(main, wizard);
      headless::Click(wizard->btnClose);
    });
  }
};

TEST_F(StartupRun, LauncherFromTheOwnFolderEndsSilentlyOnExitOrCloseBox) {
  const std::string exe = package.WriteMedium();
  ClickLauncher(&TFormStart::btnExit);
  FileMode = fmOpenReadWrite;
  EXPECT_EQ(Run(exe), 0);
  EXPECT_EQ(FileMode, fmOpenRead);  // plain reads ask for read access alone from here on
  EXPECT_EQ(report.End, TEnd::LauncherClosed);
  EXPECT_TRUE(session->Dialogs.empty());
  EXPECT_TRUE(platform.Started.empty());
  EXPECT_TRUE(platform.RestartDeletes.empty());
  // Not at a drive root: the medium drive is written empty.
  EXPECT_EQ(package.Settings.ReadSetting("CDDrive", "none"), "");
  ExpectCleanedUp();

  session->Then([](TForm* active) { headless::CloseBox(As<TFormStart>(active)); });
  EXPECT_EQ(Run(exe), 0);
  EXPECT_EQ(report.End, TEnd::LauncherClosed);
  EXPECT_TRUE(platform.Started.empty());
  ExpectCleanedUp();
  EXPECT_EQ(session->PendingSteps(), 0u);
}

#ifndef _WIN32
TEST_F(StartupRun, LauncherAtADriveRootWritesTheDrive) {
  const std::string host = drive.HostRoot() + "/cdrom";
  std::filesystem::create_directories(host);
  drive.Posix()->MapDrive('Q', host);
  Platform().CopyFile(package.WriteMedium(), "Q:\\setup.exe", false);
  Platform().CopyFile(drive.PathOf("medium\\install.dat"), "Q:\\install.dat", false);
  Platform().CopyFile(drive.PathOf("medium\\game.dat"), "Q:\\game.dat", false);
  ClickLauncher(&TFormStart::btnExit);
  Run("Q:\\setup.exe");
  EXPECT_EQ(report.End, TEnd::LauncherClosed);
  EXPECT_EQ(package.Settings.ReadSetting("CDDrive", ""), "Q:");
}
#endif

TEST_F(StartupRun, LauncherInstallStartsTheTempCopyWithTheMediumFolder) {
  const std::string exe = package.WriteMedium();
  bool freeAtStart = false, settingsGone = false, heldAtStart = false;
  platform.OnStart = [&](const TStarted& started) {
    freeAtStart = TitleFree();
    settingsGone = SetupGlobals().Settings == nullptr;
    // Until it has been started nobody can write or remove the copy.
    const THandle h = Platform().FileOpen(started.File, fmOpenWrite | fmShareDenyNone);
    heldAtStart = h == kInvalidHandle;
    if (h != kInvalidHandle) Platform().FileClose(h);
  };
  ClickLauncher(&TFormStart::btnInstall);
  EXPECT_EQ(Run(exe), 0);
  EXPECT_EQ(report.End, TEnd::Started);
  ASSERT_EQ(platform.Started.size(), 1u);
  const TStarted& s = platform.Started[0];
  EXPECT_EQ(s.Operation, "open");
  // In a new folder of its own named after the token it is handed, and started there.
  const std::string token = TokenOf(s);
  EXPECT_EQ(token.size(), 32u);
  EXPECT_EQ(s.File, TempCopyPath(token));
  EXPECT_EQ(s.Parameters, "\"" + drive.Folder() + "medium\\\" /TEMPCOPY=" + token);
  EXPECT_EQ(s.Directory, ExtractFilePath(s.File));
  EXPECT_EQ(s.Show, 5);
  EXPECT_TRUE(heldAtStart);
  const THandle free = Platform().FileOpen(s.File, fmOpenWrite | fmShareDenyNone);
  EXPECT_NE(free, kInvalidHandle) << "let go of once started";
  if (free != kInvalidHandle) Platform().FileClose(free);
  EXPECT_TRUE(freeAtStart) << "the mutex must be released before the copy starts";
  EXPECT_TRUE(settingsGone);
  EXPECT_EQ(drive.ReadFile(s.File), package.ExeBytes);
  // The first process schedules nothing for deletion; the copy does that itself.
  EXPECT_TRUE(platform.RestartDeletes.empty());
  EXPECT_TRUE(session->Dialogs.empty());
  ExpectCleanedUp();
}

TEST_F(StartupRun, LauncherStartsTheInstalledGameWithoutParameters) {
  package.Install("games\\star");
  const std::string exe = package.WriteMedium();
  session->Then([](TForm* active) {
    auto* form = As<TFormStart>(active);
    EXPECT_TRUE(form->btnStart->Enabled());
    headless::Click(form->btnStart);
  });
  Run(exe);
  EXPECT_EQ(report.End, TEnd::Started);
  ASSERT_EQ(platform.Started.size(), 1u);
  EXPECT_EQ(platform.Started[0].File, drive.PathOf("games\\star\\star.exe"));
  EXPECT_EQ(platform.Started[0].Parameters, "");
  // In its own folder, not in the one the setup program was started from.
  EXPECT_EQ(platform.Started[0].Directory, drive.PathOf("games\\star\\"));
  EXPECT_EQ(TempEntries(), 0u);
  ExpectCleanedUp();

  // A game name that would leave the install folder is refused, not started.
  package.Settings.GameExe = "..\\..\\evil.exe";
  drive.WriteFile("medium\\install.dat", starttest::SettingsBytes(package.Settings));
  drive.WriteFile("evil.exe", "x");  // games\star\..\..\evil.exe
  package.Settings.WriteSetting("InstallPath", drive.PathOf("games\\star"));
  session->Then([](TForm* active) { headless::Click(As<TFormStart>(active)->btnStart); });
  Run(exe);
  EXPECT_EQ(report.End, TEnd::Error);
  EXPECT_EQ(platform.Started.size(), 1u);
  EXPECT_EQ(session->Errors.size(), 1u);
  ExpectCleanedUp();
}

TEST_F(StartupRun, ArchiveInstallRunsTheWizardInThisProcess) {
  package.Settings.ArchiveInstall = true;
  const std::string exe = package.WriteMedium();
  ClickLauncher(&TFormStart::btnInstall);
  bool archiveOpen = false;
  CloseWizard([&](TFormMain*, TFormPending*) { archiveOpen = SetupGlobals().Archive != nullptr; });
  EXPECT_EQ(Run(exe), 0);
  EXPECT_EQ(report.End, TEnd::Wizard);
  EXPECT_TRUE(archiveOpen);
  EXPECT_TRUE(platform.Started.empty());
  EXPECT_TRUE(platform.RestartDeletes.empty());
  EXPECT_FALSE(drive.Exists("temp\\~rinstall.exe"));
  ExpectCleanedUp();
}

TEST_F(StartupRun, FolderArgumentRunsTheWizardDirectlyAndSchedulesSelfDeletion) {
  package.WriteMedium();
  const std::string token(32, 'a');
  const std::string copy = TempCopyPath(token);
  drive.WriteFile("temp\\~rinstall-" + token + "\\~rinstall.exe", package.ExeBytes);
  std::string archiveName, caption, sourceFolder;
  int pictureWidth = 0;
  SetWizardFactory([&](TForm* owner) -> TForm* {
    // The wizard is created over the backdrop with the archive open.
    archiveName = SetupGlobals().Archive->FileName;
    sourceFolder = SetupGlobals().SourceFolder;
    caption = owner->Caption();
    pictureWidth = static_cast<TFormMain*>(owner)->PaintBox->DIB().Width();
    return CreateForm<TFormPending>(owner);
  });
  CloseWizard();
  EXPECT_EQ(Run(copy, {drive.Folder() + "medium\\", "/TEMPCOPY=" + token}), 0);
  EXPECT_EQ(report.End, TEnd::Wizard);
  // The copy and then its folder.
  EXPECT_EQ(platform.RestartDeletes, (std::vector<std::string>{copy, ExtractFileDir(copy)}));
  EXPECT_TRUE(platform.Started.empty());
  EXPECT_EQ(archiveName, drive.Folder() + "medium\\game.dat");
  EXPECT_EQ(sourceFolder, drive.Folder() + "medium\\");
  EXPECT_EQ(caption, package.Settings.Title + "のセットアップ");
  EXPECT_EQ(pictureWidth, package.PictureWidth);
  ExpectCleanedUp();

  // With a medium folder given without its trailing backslash, the same files are found.
  CloseWizard();
  EXPECT_EQ(Run(copy, {drive.Folder() + "medium", "/TEMPCOPY=" + token}), 0);
  EXPECT_EQ(report.End, TEnd::Wizard);
  EXPECT_TRUE(session->Errors.empty());

  // Without its token, or with another one, a program in that place is no temp copy of ours and
  // schedules nothing; nor does one that merely has the old name in the temp folder.
  platform.RestartDeletes.clear();
  drive.WriteFile("temp\\~rinstall.exe", package.ExeBytes);
  for (const auto& [exe, params] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {copy, {drive.Folder() + "medium\\"}},
           {copy, {drive.Folder() + "medium\\", "/TEMPCOPY=" + std::string(32, 'b')}},
           {TempFolder() + "~rinstall.exe", {drive.Folder() + "medium\\", "/TEMPCOPY=" + token}}}) {
    CloseWizard();
    EXPECT_EQ(Run(exe, params), 0);
    EXPECT_EQ(report.End, TEnd::Wizard);
  }
  EXPECT_TRUE(platform.RestartDeletes.empty());
}

TEST_F(StartupRun, ArchiveFileArgumentGivesSettingsAndArchive) {
  drive.WriteFile("pkg\\star.pak", package.Archive(true));
  drive.WriteFile("bin\\setup.exe", package.ExeBytes);
  std::string archiveName;
  CloseWizard([&](TFormMain* main, TFormPending*) {
    archiveName = SetupGlobals().Archive->FileName;
    EXPECT_EQ(main->PaintBox->DIB().Height(), package.PictureHeight);
  });
  EXPECT_EQ(Run(drive.PathOf("bin\\setup.exe"), {drive.PathOf("pkg\\star.pak")}), 0);
  EXPECT_EQ(report.End, TEnd::Wizard);
  EXPECT_EQ(archiveName, drive.PathOf("pkg\\star.pak"));
  EXPECT_TRUE(session->Errors.empty());
  ExpectCleanedUp();
}

TEST_F(StartupRun, AppendedAndResourceArchivesFeedTheLauncher) {
  const std::string appended = package.WriteAppended("cd\\setup.exe");
  session->Then([&](TForm* active) {
    auto* form = As<TFormStart>(active);
    EXPECT_EQ(form->Caption(), package.Settings.Title);
    const TDIBSurface& dib = form->PaintBox->DIB();
    EXPECT_EQ(dib.Width(), package.PictureWidth);
    EXPECT_EQ(dib.GetPixelColor(7, 3), static_cast<uint32_t>(starttest::PicturePixel(7, 3)));
    EXPECT_EQ(SetupGlobals().Archive->FileName, appended);
    headless::Click(form->btnExit);
  });
  Run(appended);
  EXPECT_EQ(report.End, TEnd::LauncherClosed);
  EXPECT_TRUE(session->Dialogs.empty());

  // The resource placement: the executable itself is plain, the archive is its resource.
  drive.WriteFile("cd2\\setup.exe", package.ExeBytes);
  platform.ResourceModule = drive.PathOf("cd2\\setup.exe");
  platform.ResourceBytes = package.Archive(true);
  session->Then([&](TForm* active) {
    auto* form = As<TFormStart>(active);
    EXPECT_EQ(form->PaintBox->DIB().Height(), package.PictureHeight);
    headless::Click(form->btnInstall);
  });
  Run(platform.ResourceModule);
  EXPECT_EQ(report.End, TEnd::Started);
  ASSERT_EQ(platform.Started.size(), 1u);
  EXPECT_EQ(platform.Started[0].Parameters,
            "\"" + drive.PathOf("cd2\\") + "\" /TEMPCOPY=" + TokenOf(platform.Started[0]));
  ExpectCleanedUp();

  // A resource that is no archive is not taken: the program looks for install.dat beside itself.
  platform.ResourceBytes = "xx" + package.Archive(true);
  session->Answer(TMsgDlgType::mtWarning, "インストール設定ファイルがありません", mrOk);
  Run(platform.ResourceModule);
  EXPECT_EQ(report.End, TEnd::NoSettings);
  ExpectCleanedUp();
}

TEST_F(StartupRun, InstallKindTwoAndAddOnPackagesNeverShowTheLauncher) {
  package.Settings.InstallKind = 2;
  const std::string exe = package.WriteMedium();
  CloseWizard();
  Run(exe);
  EXPECT_EQ(report.End, TEnd::Wizard);
  // Not a temp copy of its own: the package's setup program stays where it is.
  EXPECT_TRUE(platform.RestartDeletes.empty());

  // An add-on package opens the archive appended to itself, also with its settings beside it.
  package.Settings.InstallKind = 0;
  package.Settings.AddOnPackage = true;
  package.Settings.ArchiveInstall = true;
  const std::string addon = package.WriteAppended("addon\\setup.exe");
  std::string archiveName;
  CloseWizard([&](TFormMain*, TFormPending*) { archiveName = SetupGlobals().Archive->FileName; });
  Run(addon);
  EXPECT_EQ(report.End, TEnd::Wizard);
  EXPECT_EQ(archiveName, addon);
  // ArchiveInstall: the program is not scheduled for deletion.
  EXPECT_TRUE(platform.RestartDeletes.empty());
  ExpectCleanedUp();
}

TEST_F(StartupRun, UninstallerCopiesItselfAndTheCopyRunsTheWizard) {
  package.Settings.Uninstaller = true;
  package.Install("games\\star");
  drive.WriteFile("games\\star\\install.exe", package.ExeBytes);
  drive.WriteFile("games\\star\\install.dat", starttest::SettingsBytes(package.Settings));
  const std::string installed = drive.PathOf("games\\star\\install.exe");

  Run(installed);
  EXPECT_EQ(report.End, TEnd::Started);
  ASSERT_EQ(platform.Started.size(), 1u);
  const std::string token = TokenOf(platform.Started[0]);
  EXPECT_EQ(platform.Started[0].File, TempCopyPath(token));
  EXPECT_EQ(platform.Started[0].Parameters, "\"" + drive.PathOf("games\\star\\") + "\" /TEMPCOPY=" + token);
  EXPECT_TRUE(platform.RestartDeletes.empty());
  EXPECT_TRUE(Application->Forms().empty());

  // The copy: no archive, the removal caption, only the gradient and the footer behind the wizard.
  const std::string copy = platform.Started[0].File;
  bool archiveOpen = true;
  CloseWizard([&](TFormMain* main, TFormPending* wizard) {
    archiveOpen = SetupGlobals().Archive != nullptr;
    EXPECT_EQ(main->Caption(), package.Settings.Title + "の削除");
    EXPECT_EQ(wizard->Caption(), package.Settings.Title + "の削除");
    EXPECT_TRUE(main->PaintBox->DIB().Empty());
  });
  Run(copy, {drive.PathOf("games\\star\\"), "/TEMPCOPY=" + token});
  EXPECT_EQ(report.End, TEnd::Wizard);
  EXPECT_FALSE(archiveOpen);
  EXPECT_EQ(platform.RestartDeletes, (std::vector<std::string>{copy, ExtractFileDir(copy)}));
  EXPECT_EQ(platform.Started.size(), 1u);
  ExpectCleanedUp();
}

TEST_F(StartupRun, RunningGameAndSecondInstanceEndWithoutAMessage) {
  const std::string exe = package.WriteMedium();
  // 表 is 0x95 0x5C: its second byte is no delimiter. The full-width ａ is a double-byte character and
  // keeps its case.
  package.Settings.WriteSetting("InstallPath", "c:\\Games\\表ａ\\Tale");
  bool exists = false;
  THandle game = Platform().CreateMutex("C:-GAMES-表ａ-TALE-", exists);
  ASSERT_NE(game, kInvalidHandle);
  EXPECT_EQ(Run(exe), 0);
  EXPECT_EQ(report.End, TEnd::GameRunning);
  Platform().CloseMutex(game);
  // Once the game has ended the launcher comes up.
  session->Then([](TForm* active) { headless::Click(As<TFormStart>(active)->btnExit); });
  Run(exe);
  EXPECT_EQ(report.End, TEnd::LauncherClosed);

  const THandle other = CreateSingleInstanceMutex(package.Settings.Title);
  ASSERT_NE(other, kInvalidHandle);
  EXPECT_EQ(Run(exe), 0);
  EXPECT_EQ(report.End, TEnd::SecondInstance);
  ReleaseSingleInstanceMutex(other);
  EXPECT_TRUE(session->Dialogs.empty());
  EXPECT_TRUE(platform.Started.empty());
  ExpectCleanedUp();
}

TEST_F(StartupRun, TempCopyFolderIsNewAndPrivateAndFailuresLeaveNothing) {
  package.Settings.Uninstaller = true;
  drive.WriteFile("inst\\install.exe", package.ExeBytes);
  drive.WriteFile("inst\\install.dat", starttest::SettingsBytes(package.Settings));
  const std::string exe = drive.PathOf("inst\\install.exe");

  // Whatever holds the name a token gives (a folder planted in advance, a file, a link) is never
  // used: the next token is taken.
  platform.FixedRandom = 0x11;
  const std::string planted = std::string(32, '1');
  drive.WriteFile("temp\\~rinstall-" + planted + "\\~rinstall.exe", "planted");
  Platform().SetFileAttributes(TempCopyPath(planted), faReadOnly | faArchive);
  session->Answer(TMsgDlgType::mtWarning, "ファイルをコピーできません", mrOk);
  EXPECT_EQ(Run(exe), 0);
  EXPECT_EQ(report.End, TEnd::CopyFailed);
  EXPECT_TRUE(platform.Started.empty());
  EXPECT_EQ(drive.ReadFile(TempCopyPath(planted)), "planted");
  ExpectCleanedUp();

  platform.FixedRandom = -1;
  Run(exe);
  ASSERT_EQ(platform.Started.size(), 1u);
  const std::string copy = platform.Started[0].File;
  EXPECT_EQ(drive.ReadFile(copy), package.ExeBytes);
  EXPECT_EQ(Platform().GetFileAttributes(copy) & faReadOnly, 0u) << "it must stay removable";
#ifndef _WIN32
  const auto perms = std::filesystem::status(drive.Posix()->HostPath(ExtractFileDir(copy))).permissions();
  EXPECT_EQ(perms & std::filesystem::perms::all, std::filesystem::perms::owner_all);
#endif

  // A copy that does not hold the program's bytes is never started; 100 attempts, then the warning,
  // and no folder is left behind.
  platform.CutCopies = true;
  session->Answer(TMsgDlgType::mtWarning, "ファイルをコピーできません", mrOk);
  EXPECT_EQ(Run(exe), 0);
  EXPECT_EQ(report.End, TEnd::CopyFailed);
  EXPECT_EQ(platform.Started.size(), 1u);
  EXPECT_EQ(TempEntries(), 2u);  // the planted folder and the copy started above
  platform.CutCopies = false;

  // Without a random source there is no name nobody could guess: no copy.
  platform.FixedRandom = -2;
  session->Answer(TMsgDlgType::mtWarning, "ファイルをコピーできません", mrOk);
  EXPECT_EQ(Run(exe), 0);
  EXPECT_EQ(report.End, TEnd::CopyFailed);
  EXPECT_EQ(session->Dialogs.size(), 3u);
  ExpectCleanedUp();

  // The launcher's install choice ends the same way.
  package.Settings.Uninstaller = false;
  const std::string medium = package.WriteMedium();
  ClickLauncher(&TFormStart::btnInstall);
  session->Answer(TMsgDlgType::mtWarning, "ファイルをコピーできません", mrOk);
  Run(medium);
  EXPECT_EQ(report.End, TEnd::CopyFailed);
  EXPECT_EQ(platform.Started.size(), 1u);
  ExpectCleanedUp();
}

TEST_F(StartupRun, RefusalsAndFailedStartsAreReported) {
  // Not an administrator: the system's message box and nothing else, not even the settings search.
  platform.Admin = false;
  session->AnswerSystemBox("管理者権限で実行してください", mrOk);
  drive.WriteFile("empty\\setup.exe", package.ExeBytes);
  EXPECT_EQ(Run(drive.PathOf("empty\\setup.exe")), 0);
  EXPECT_EQ(report.End, TEnd::NotAdministrator);
  ASSERT_EQ(session->Dialogs.size(), 1u);
  EXPECT_EQ(session->Dialogs[0].Kind, TDialogKind::SystemBox);
  EXPECT_EQ(session->Dialogs[0].Caption, "警告");
  EXPECT_EQ(session->Dialogs[0].Flags, mbfOk | mbfIconWarning);

  // No settings beside the program.
  platform.Admin = true;
  session->Answer(TMsgDlgType::mtWarning, "", mrOk);
  EXPECT_EQ(Run(drive.PathOf("empty\\setup.exe")), 0);
  EXPECT_EQ(report.End, TEnd::NoSettings);
  ASSERT_EQ(session->Dialogs.size(), 2u);
  EXPECT_EQ(session->Dialogs[1].Text, "インストール設定ファイルがありません");
  EXPECT_EQ(session->Dialogs[1].Caption, "警告");
  EXPECT_EQ(session->Dialogs[1].Buttons, std::vector<std::string>{"OK"});
  ExpectCleanedUp();

  // The start fails: the result is shown.
  package.Install("games\\star");
  const std::string exe = package.WriteMedium();
  platform.ShellResult = 2;
  ClickLauncher(&TFormStart::btnStart);
  session->Answer(TMsgDlgType::mtWarning, "エラーコード", mrOk);
  EXPECT_EQ(Run(exe), 0);
  EXPECT_EQ(report.End, TEnd::StartFailed);
  ASSERT_EQ(session->Dialogs.size(), 3u);
  EXPECT_EQ(session->Dialogs[2].Text, "プログラムを実行できませんでした\r\nエラーコード[2]");
  ExpectCleanedUp();
}

TEST_F(StartupRun, StartupErrorsReachTheErrorReportAfterTheCleanUp) {
  // A damaged data file beside the settings.
  std::string exe = package.WriteMedium();
  std::string damaged = "vf";
  vrtest::PutLE(damaged, 102, 4);
  vrtest::PutLE(damaged, 0x7FFFFFF0, 4);
  drive.WriteFile("medium\\game.dat", damaged + "short");
  EXPECT_EQ(Run(exe), 0);
  EXPECT_EQ(report.End, TEnd::Error);
  ASSERT_EQ(session->Errors.size(), 1u);
  EXPECT_FALSE(session->Errors[0].empty());
  ExpectCleanedUp();

  // An appended archive without the settings entry.
  std::vector<vrtest::RawEntry> entries{vrtest::Stored("other.txt", "x")};
  drive.WriteFile("noset\\setup.exe", package.ExeBytes);
  drive.WriteFile("noset\\a.pak", vrtest::BuildArchive(102, entries));
  AppendArchiveToExecutable(drive.PathOf("noset\\setup.exe"), drive.PathOf("noset\\a.pak"));
  EXPECT_EQ(Run(drive.PathOf("noset\\setup.exe")), 0);
  EXPECT_EQ(report.End, TEnd::Error);
  ASSERT_EQ(session->Errors.size(), 2u);
  EXPECT_EQ(session->Errors[1], "install.dat:ファイルがありません");
  ExpectCleanedUp();

  // A picture that cannot be decoded: the launcher is never shown.
  exe = package.WriteMedium();
  entries = {vrtest::Stored(package.Settings.BackdropPicture, "Vesk107 but nothing of a picture")};
  drive.WriteFile("medium\\game.dat", vrtest::BuildArchive(102, entries));
  EXPECT_EQ(Run(exe), 0);
  EXPECT_EQ(report.End, TEnd::Error);
  ASSERT_EQ(session->Errors.size(), 3u);
  EXPECT_FALSE(session->Errors[2].empty());
  ExpectCleanedUp();

  // The same picture behind the wizard: the backdrop window goes again.
  CloseWizard();  // never reached
  drive.WriteFile("temp\\x.exe", package.ExeBytes);
  EXPECT_EQ(Run(TempFolder() + "x.exe", {drive.PathOf("medium")}), 0);
  EXPECT_EQ(report.End, TEnd::Error);
  EXPECT_EQ(session->Errors.size(), 4u);
  EXPECT_EQ(session->PendingSteps(), 1u);
  ExpectCleanedUp();
  EXPECT_TRUE(platform.Started.empty());
}

TEST(StartupCommandLine, QuotesGroupAndBackslashesStayPlain) {
  using V = std::vector<std::string>;
  // The temp copy's parameter: a folder ending in a backslash inside quotes.
  EXPECT_EQ(ParamsFromCommandLine("\"C:\\windows\\temp\\~rinstall.exe\" \"D:\\\""), V{"D:\\"});
  EXPECT_EQ(ParamsFromCommandLine("setup.exe \"E:\\ゲーム 体験版\\\" second"),
            (V{"E:\\ゲーム 体験版\\", "second"}));
  EXPECT_EQ(ParamsFromCommandLine("setup.exe   a\"b c\"d\te"), (V{"ab cd", "e"}));
  EXPECT_EQ(ParamsFromCommandLine("setup.exe \"\" \"\"x"), V{"x"});
  EXPECT_EQ(ParamsFromCommandLine("setup.exe \"unterminated folder\\"), V{"unterminated folder\\"});
  EXPECT_EQ(ParamsFromCommandLine("  \"C:\\Program Files\\setup.exe\"  "), V{});
  EXPECT_EQ(ParamsFromCommandLine(""), V{});
  // 表 ends in the byte 0x5C; it neither escapes the quote nor splits anything.
  EXPECT_EQ(ParamsFromCommandLine("s.exe \"C:\\表\" x"), (V{"C:\\表", "x"}));
}

}  // namespace
}  // namespace vr
