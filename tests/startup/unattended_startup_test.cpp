// The switches of the setup program and its unattended start: the switch parser and its round trip
// to the temp copy, the log, the exit codes, refusals that go to the log instead of a window, and the
// uninstaller's copy that ends its starter's wait before it removes the uninstaller.
#include <gtest/gtest.h>

#include "framework/dialogs.h"
#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "startup/setupswitches.h"
#include "startup/startup_testutil.h"
#include "startup/syshelpers.h"

namespace vr {
namespace {

using starttest::TPackage;
using starttest::TStarted;
using starttest::TStartupPlatform;
using TEnd = TStartupReport::TEnd;

TEST(SetupSwitches, NamesIgnoreCaseValuesKeepTheirTextAndPlainArgumentsStay) {
  const TSetupSwitches s = ParseSetupSwitches({"D:\\", "/verysilent", "/Dir=C:\\Program Files\\月の詩\\",
                                               "/components=Data,MOVIE", "/mediadirs=E:\\;;F:\\ disc",
                                               "/LOG=c:\\log file.txt", "/noicons", "/SuppressMsgBoxes"});
  EXPECT_EQ(s.Error, "");
  EXPECT_TRUE(s.VerySilent && s.Unattended() && s.NoIcons && s.SuppressMsgBoxes && s.Any);
  EXPECT_FALSE(s.Silent || s.DeleteSave || s.Help);
  EXPECT_EQ(s.Plain, std::vector<std::string>{"D:\\"});
  EXPECT_EQ(s.Dir, "C:\\Program Files\\月の詩\\");
  EXPECT_TRUE(s.Data && s.Movie && !s.Sound);
  EXPECT_EQ(s.MediaDirs, (std::vector<std::string>{"E:\\", "F:\\ disc"}));
  EXPECT_EQ(s.LogFile, "c:\\log file.txt");

  // What the temp copy receives reads back the same, blanks and trailing backslashes included.
  const TSetupSwitches copy =
      ParseSetupSwitches(ParamsFromCommandLine("x.exe \"D:\\\" " + SwitchesCommandLine(s)));
  EXPECT_EQ(copy.Plain, s.Plain);
  EXPECT_EQ(copy.Dir, s.Dir);
  EXPECT_EQ(copy.MediaDirs, s.MediaDirs);
  EXPECT_EQ(copy.LogFile, s.LogFile);
  EXPECT_TRUE(copy.VerySilent && copy.NoIcons && copy.SuppressMsgBoxes && copy.HasComponents);
  EXPECT_TRUE(copy.Data && copy.Movie && !copy.Sound);
  // Without /COMPONENTS nothing is said about the groups; an empty list leaves only the base files.
  EXPECT_EQ(SwitchesCommandLine(ParseSetupSwitches({"/SILENT", "/DELETESAVE"})), "/SILENT /DELETESAVE");
  const TSetupSwitches none = ParseSetupSwitches({"/COMPONENTS="});
  EXPECT_TRUE(none.HasComponents && !none.Data && !none.Sound && !none.Movie);
  EXPECT_FALSE(ParseSetupSwitches({"C:\\game"}).Any);
}

TEST(SetupSwitches, BadSwitchesAreNamedAndHelpIsRecognised) {
  for (const char* bad : {"/DIR", "/LOG=", "/SILENT=yes", "/COMPONENTS=data,music", "/FOO", "/"}) {
    const TSetupSwitches s = ParseSetupSwitches({"/VERYSILENT", bad});
    EXPECT_NE(s.Error.find(bad), std::string::npos) << bad;
    EXPECT_TRUE(s.VerySilent) << bad;
  }
  EXPECT_TRUE(ParseSetupSwitches({"/?"}).Help);
  EXPECT_TRUE(ParseSetupSwitches({"/help"}).Help);
}

TEST(SetupLog, LinesAreUtf8OneMessageALineAndACopyAppends) {
  TTempDrive drive;
  const std::string path = drive.PathOf("setup.log");
  drive.WriteFile("setup.log", "old run\r\n");
  TSetupLog log;
  log.Open(path, false);
  log.Line("開始");
  log.Line("一行目\r\n二行目");
  TSetupLog copy;
  copy.Open(path, true);
  copy.Line("続き");
  EXPECT_EQ(drive.ReadFile("setup.log"), Cp932ToUtf8("開始\r\n一行目 二行目\r\n続き\r\n"));
  TSetupLog none;
  none.Line("nowhere");
  EXPECT_FALSE(none.IsOpen());
}

TEST(SetupLog, ControlCharactersOfNamesAreEscapedAsOnTheTerminal) {
  TTempDrive drive;
  TSetupLog log;
  log.Open(drive.PathOf("setup.log"), false);
  log.Line("削除しました: evil\x1b[2J\rname\x07\nnext\x7f\t.txt\r\n次の行");
  log.Line(std::string("nul\0byte", 8));
  EXPECT_EQ(drive.ReadFile("setup.log"),
            Cp932ToUtf8("削除しました: evil\\x1b[2J\\rname\\x07\\nnext\\x7f\\t.txt 次の行\r\n") +
                "nul\\x00byte\r\n");
  EXPECT_EQ(Printable(u8"a\u0085b\u00a0c"), u8"a\\u0085b\u00a0c") << "C1 controls, not other characters";
}

class UnattendedStartup : public starttest::TStartupFixture {
 protected:
  ~UnattendedStartup() override { SetUnattendedRunner(nullptr); }
  std::string LogPath() const { return drive.PathOf("setup.log"); }
  bool Logged(const std::string& text) const {
    return Utf8ToCp932(drive.ReadFile(LogPath())).find(text) != std::string::npos;
  }
};

TEST_F(UnattendedStartup, MediumHandsTheSwitchesToItsCopyAndEndsWithTheCopysOutcome) {
  const std::string exe = package.WriteMedium();
  const std::string medium = drive.PathOf("medium\\");
  platform.OnWait = [](const TStarted&) { return kExitFailed; };
  EXPECT_EQ(Run(exe, {"/VERYSILENT", "/DIR=C:\\games\\star", "/LOG=" + LogPath()}), kExitFailed);
  ASSERT_EQ(platform.Started.size(), 1u);
  EXPECT_EQ(platform.Started[0].Operation, "wait");
  const std::string token = TokenOf(platform.Started[0]);
  EXPECT_EQ(platform.Started[0].File, TempCopyPath(token));
  EXPECT_EQ(platform.Started[0].Parameters, "\"" + medium +
                                                "\" /VERYSILENT /DIR=\"C:\\games\\star\" /LOG=\"" +
                                                LogPath() + "\" /TEMPCOPY=" + token);
  // The copy has ended: it and its folder are gone.
  EXPECT_FALSE(Platform().GetFileAttributes(ExtractFileDir(TempCopyPath(token))) != faInvalid);
  // As the launcher does: the medium is not at a drive root.
  EXPECT_EQ(package.Settings.ReadSetting("CDDrive", "<none>"), "");

  // The copy runs the install in its process, with the package the wizard would get, and goes on
  // with the log.
  std::string title, source;
  bool archive = false;
  SetUnattendedRunner([&](const TSetupSwitches& switches, TSetupLog& log) {
    title = SetupGlobals().Settings->Title;
    source = SetupGlobals().SourceFolder;
    archive = SetupGlobals().Archive != nullptr;
    EXPECT_EQ(switches.Dir, "C:\\games\\star");
    log.Line("作業");
    return kExitRefused;
  });
  const std::string copy = platform.Started[0].File;
  drive.WriteFile(copy.substr(drive.Folder().size()), package.ExeBytes);
  EXPECT_EQ(Run(copy, ParamsFromCommandLine("x " + platform.Started[0].Parameters)), kExitRefused);
  EXPECT_EQ(report.End, TEnd::Unattended);
  EXPECT_EQ(title, package.Settings.Title);
  EXPECT_EQ(source, medium);
  EXPECT_TRUE(archive);
  EXPECT_EQ(platform.RestartDeletes, (std::vector<std::string>{copy, ExtractFileDir(copy)}));
  EXPECT_TRUE(Logged("開始: " + copy));
  EXPECT_TRUE(Logged("作業"));
  EXPECT_TRUE(session->Dialogs.empty());
  EXPECT_TRUE(Application->Forms().empty());
}

TEST_F(UnattendedStartup, RefusalsGoToTheLogAndEndWithOne) {
  const std::string exe = package.WriteMedium();
  const std::vector<std::string> silent{"/VERYSILENT", "/LOG=" + LogPath()};
  auto with = [&](std::string extra) {
    std::vector<std::string> p = silent;
    p.push_back(extra);
    return p;
  };
  EXPECT_EQ(Run(exe, with("/DIR")), kExitNotStarted);
  EXPECT_EQ(report.End, TEnd::BadSwitch);
  EXPECT_TRUE(Logged("スイッチ /DIR が正しくありません"));

  const THandle other = CreateSingleInstanceMutex(package.Settings.Title);
  EXPECT_EQ(Run(exe, silent), kExitNotStarted);
  EXPECT_EQ(report.End, TEnd::SecondInstance);
  EXPECT_TRUE(Logged("既に実行中です"));
  ReleaseSingleInstanceMutex(other);

  drive.WriteFile("empty\\setup.exe", package.ExeBytes);
  EXPECT_EQ(Run(drive.PathOf("empty\\setup.exe"), silent), kExitNotStarted);
  EXPECT_EQ(report.End, TEnd::NoSettings);
  EXPECT_TRUE(Logged("インストール設定ファイルがありません"));

  platform.Admin = false;
  EXPECT_EQ(Run(exe, silent), kExitNotStarted);
  EXPECT_TRUE(Logged("管理者権限で実行してください"));
  platform.Admin = true;

  // A copy without the unattended mode built in cannot do the run.
  EXPECT_EQ(Run(exe, with(drive.PathOf("medium\\"))), kExitNotStarted);
  EXPECT_EQ(report.End, TEnd::Unattended);
  EXPECT_TRUE(session->Dialogs.empty());
  EXPECT_TRUE(platform.Started.empty());

  // Without /SILENT or /VERYSILENT a bad switch is shown, still with exit code 1; refusals keep 0.
  session->AnswerSystemBox("スイッチ /BAD", mrOk);
  EXPECT_EQ(Run(exe, {"/BAD"}), kExitNotStarted);
  EXPECT_EQ(session->Dialogs.size(), 1u);
  session->Answer(TMsgDlgType::mtWarning, "", mrOk);
  EXPECT_EQ(Run(drive.PathOf("empty\\setup.exe"), {"/DIR=C:\\x"}), 0);
  EXPECT_EQ(session->Dialogs.size(), 2u);
}

TEST_F(UnattendedStartup, UninstallerCopyEndsTheWaitThenRemovesTheUninstallerAndTheFolder) {
  package.Settings.Uninstaller = true;
  drive.WriteFile("games\\star\\install.exe", package.ExeBytes);
  drive.WriteFile("games\\star\\install.dat", starttest::SettingsBytes(package.Settings));
  const std::string game = drive.PathOf("games\\star\\");
  const std::vector<std::string> switches{"/VERYSILENT", "/DELETESAVE", "/LOG=" + LogPath()};

  // The starter: its wait ends on the outcome the copy leaves beside itself, while the copy runs on.
  platform.OnWait = [&](const TStarted& s) {
    TFileStream outcome(s.File + ".exit", fmCreate);
    outcome.WriteBuffer("0", 1);
    return kProcessStillRunning;
  };
  EXPECT_EQ(Run(game + "install.exe", switches), kExitDone);
  ASSERT_EQ(platform.Started.size(), 1u);
  const std::string copy = platform.Started[0].File;
  EXPECT_FALSE(FileExists(copy + ".exit"));
  EXPECT_NE(platform.Started[0].Parameters.find("/DELETESAVE"), std::string::npos);

  // The copy: a failed run keeps the uninstaller and says so in the outcome.
  int runnerCode = kExitFailed;
  SetUnattendedRunner([&](const TSetupSwitches& s, TSetupLog&) {
    EXPECT_TRUE(s.DeleteSave);
    if (runnerCode == kExitDone) Platform().DeleteFile(game + "install.dat");
    return runnerCode;
  });
  const std::vector<std::string> params = ParamsFromCommandLine("x " + platform.Started[0].Parameters);
  EXPECT_EQ(Run(copy, params), kExitFailed);
  EXPECT_EQ(drive.ReadFile(copy + ".exit"), "4");
  EXPECT_TRUE(FileExists(game + "install.exe"));

  runnerCode = kExitDone;
  EXPECT_EQ(Run(copy, params), kExitDone);
  EXPECT_EQ(drive.ReadFile(copy + ".exit"), "0");
  EXPECT_FALSE(FileExists(game + "install.exe"));
  EXPECT_FALSE(DirectoryExists(game));
  EXPECT_TRUE(Logged("フォルダを削除しました: " + game));

  // Save data kept: the folder stays with them. Run as the uninstaller itself (not a copy), it cannot be
  // freed before the process ends: it goes at the next restart.
  drive.WriteFile("games\\star\\install.exe", package.ExeBytes);
  drive.WriteFile("games\\star\\install.dat", starttest::SettingsBytes(package.Settings));
  drive.WriteFile("games\\star\\save.dat", "progress");
  EXPECT_EQ(Run(copy, params), kExitDone);
  EXPECT_FALSE(FileExists(game + "install.exe"));
  EXPECT_EQ(drive.ReadFile(game + "save.dat"), "progress");
  drive.WriteFile("games\\star\\install.exe", package.ExeBytes);
  drive.WriteFile("games\\star\\install.dat", starttest::SettingsBytes(package.Settings));
  platform.RestartDeletes.clear();
  EXPECT_EQ(Run(game + "install.exe", {game, "/VERYSILENT", "/DELETESAVE"}), kExitDone);
  EXPECT_EQ(platform.RestartDeletes,
            (std::vector<std::string>{game + "install.exe", ExcludeTrailingBackslash(game)}));
  EXPECT_TRUE(session->Dialogs.empty());
}

}  // namespace
}  // namespace vr
