#include "startup/startup.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/vrfiles.h"
#include "framework/classes.h"
#include "framework/dialogs.h"
#include "framework/headless/headless.h"
#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/instset.h"
#include "startup/main.h"
#include "startup/start.h"
#include "startup/syshelpers.h"
#include "startup/tempcopy.h"

namespace vr {

namespace {

constexpr const char* kResourceName = "DUMMY";
constexpr const char* kResourceType = "BINTYPE";
// Beside the temp copy: the outcome of an unattended uninstall, written before the copy waits for its
// starter to end.
constexpr const char* kOutcomeSuffix = ".exit";
// How long the temp copy waits for its starter to end before leaving install.exe to the next restart.
constexpr int kStarterEndPolls = 300;
constexpr uint32_t kStarterEndPollMs = 100;

TSetupGlobals globals;
TWizardFactory wizardFactory;
TUnattendedRunner unattendedRunner;

void DeleteFileIfExists(const std::string& path) {
  if (FileExists(path)) Platform().DeleteFile(path);
}

// Releases a form at scope end unless it was handed on.
struct TReleaseGuard {
  TForm* Form = nullptr;
  ~TReleaseGuard() {
    if (Form) Form->Release();
  }
};

// Upper-cases the single-byte letters; a double-byte character (full-width letters included) stays as
// it is, and its second byte is never taken for a letter.
std::string UpperCaseSingleBytes(std::string s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (IsLeadByte(c) && i + 1 < s.size())
      ++i;
    else if (c >= 'a' && c <= 'z')
      s[i] = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The name of the mutex the game holds while it runs: the install folder upper-cased, with a trailing
// delimiter, every delimiter replaced by "-".
std::string GameMutexName(const std::string& installPath) {
  return ReplaceDelimiters(AddTrailingBackslash(UpperCaseSingleBytes(installPath)), '-');
}

class TStartup {
 public:
  TStartup(const TStartupEnvironment& env, const TSetupSwitches& switches, TSetupLog& log,
           TStartupReport& report)
      : env_(env), switches_(switches), log_(log), report_(report) {
    exeFolder_ = AddTrailingBackslash(ExtractFilePath(env.ExeName));
    if (!switches.Plain.empty()) param_ = switches.Plain.front();
  }
  ~TStartup() { CleanUp(); }
  TStartup(const TStartup&) = delete;
  TStartup& operator=(const TStartup&) = delete;

  void Run();

 private:
  using TEnd = TStartupReport::TEnd;
  std::string ResourceModule() const {
    return env_.ExeName == Platform().ModuleFileName() ? std::string() : env_.ExeName;
  }
  bool HasParam() const { return !switches_.Plain.empty(); }
  bool Unattended() const { return switches_.Unattended(); }
  // A message for the user: a warning box, or in unattended mode a line of the log.
  void Tell(const std::string& text) {
    if (Unattended())
      log_.Line(text);
    else
      WarningDlg(text);
  }
  // The run could not start: the exit code says so when the caller asked for one.
  void NotStarted(TEnd end, const std::string& logLine) {
    report_.End = end;
    if (!Unattended()) return;
    report_.ExitCode = kExitNotStarted;
    if (!logLine.empty()) log_.Line(logLine);
  }
  void RunUnattended();
  void FinishUnattendedUninstall();
  bool ProbeResource();
  bool ProbeTrailer();
  bool LoadSettings();
  void LoadSettingsFromArchive(TVrFileCollection& files);
  void OpenArchive();
  // The medium's drive ("D:" when the program runs from a drive root), as the launcher records it.
  void RecordMediumDrive();
  void RunLauncher();
  void RunWizard();
  bool MakeTempCopy();
  // The running executable is the temp copy its starter made (it was handed the copy's token).
  bool IsOwnTempCopy() const { return IsTempCopy(env_.ExeName, switches_.TempCopyToken); }
  void CleanUp();
  void StartTarget();
  // Starts the temp copy with the switches and takes its outcome as this process's exit code.
  void StartAndWait();

  const TStartupEnvironment& env_;
  const TSetupSwitches& switches_;
  TSetupLog& log_;
  TStartupReport& report_;
  std::string exeFolder_;
  std::string param_;

  bool hasResourceArchive_ = false;
  bool hasAppendedArchive_ = false;
  std::string sourceFolder_;
  int32_t launchMode_ = 0;
  std::string runTarget_;
  std::string runParameters_;
  // The folder the started program runs in.
  std::string runFolder_;
  TTempCopy tempCopy_;

  std::unique_ptr<TRovaInstallSet> settings_;
  THandle mutex_ = kInvalidHandle;
  std::unique_ptr<TVrFileCollection> archive_;
  TForm* launcher_ = nullptr;
};

void TStartup::Run() {
  // Files opened only for reading ask for read access alone, so read-only media work.
  FileMode = fmOpenRead;
  // Until the settings name the game, reports carry the program's name.
  if (Application->Title().empty()) Application->SetTitle(ChangeFileExt(ExtractFileName(env_.ExeName), ""));

  if (!IsAdministrator()) {
    const char* text = "管理者権限で実行してください";
    if (!Unattended()) SysMessageBox(text, "警告", mbfOk | mbfIconWarning);
    NotStarted(TEnd::NotAdministrator, text);
    return;
  }

  runTarget_.clear();
  hasResourceArchive_ = ProbeResource();
  if (!hasResourceArchive_) hasAppendedArchive_ = ProbeTrailer();

  settings_ = std::make_unique<TRovaInstallSet>();
  globals.Settings = settings_.get();
  globals.ExeName = env_.ExeName;
  if (!LoadSettings()) {
    NotStarted(TEnd::NoSettings, "");
    return;
  }
  TRovaInstallSet& s = *settings_;
  if (sourceFolder_.empty())
    globals.SourceFolder = exeFolder_;
  else if (FileExists(sourceFolder_))
    globals.SourceFolder = ExtractFilePath(sourceFolder_);
  else
    globals.SourceFolder = AddTrailingBackslash(sourceFolder_);

  const std::string installPath = s.ReadSetting("InstallPath", "");
  if (!installPath.empty() && MutexExists(GameMutexName(installPath))) {
    NotStarted(TEnd::GameRunning, s.Title + " が実行中のため、セットアップを開始できません");
    return;
  }

  mutex_ = CreateSingleInstanceMutex(s.Title);
  if (mutex_ == kInvalidHandle) {
    NotStarted(TEnd::SecondInstance, s.Title + " のセットアップは既に実行中です");
    return;
  }

  if (s.Uninstaller) {
    if (HasParam()) {
      // The temp copy removes itself at the next restart.
      if (IsOwnTempCopy()) RemoveTempCopyAtRestart(env_.ExeName);
      if (!Unattended()) {
        RunWizard();
      } else {
        RunUnattended();
        CleanUp();
        FinishUnattendedUninstall();
        return;
      }
    } else if (!MakeTempCopy()) {
      NotStarted(TEnd::CopyFailed, "");
      return;
    }
  } else {
    OpenArchive();
    if (HasParam() || s.AddOnPackage || s.InstallKind == kInstallSystem) {
      // Only the temp copy this program made goes: a package copied to a disk keeps its setup program.
      if (!s.ArchiveInstall && IsOwnTempCopy()) RemoveTempCopyAtRestart(env_.ExeName);
      if (Unattended())
        RunUnattended();
      else
        RunWizard();
    } else if (Unattended()) {
      // No launcher: straight to the install, in this process or in the temp copy.
      RecordMediumDrive();
      if (s.ArchiveInstall) {
        RunUnattended();
      } else if (!MakeTempCopy()) {
        NotStarted(TEnd::CopyFailed, "");
        return;
      }
    } else {
      RunLauncher();
      if (report_.End == TEnd::LauncherClosed || report_.End == TEnd::CopyFailed) return;
    }
    archive_.reset();
    globals.Archive = nullptr;
  }

  // The mutex goes before anything is started, so that a started temp copy can take it.
  CleanUp();
  StartTarget();
}

bool TStartup::ProbeResource() {
  const auto res = Platform().FindResource(ResourceModule(), kResourceName, kResourceType);
  return res && res->Size >= 2 && std::memcmp(res->Data, "vf", 2) == 0;
}

bool TStartup::ProbeTrailer() {
  TFileStream file(env_.ExeName, fmOpenRead | fmShareDenyWrite);
  const int64_t size = file.Size();
  if (size < 2) return false;
  char tail[2] = {0, 0};
  file.Seek(size - 2, TSeekOrigin::soBeginning);
  return file.Read(tail, 2) == 2 && tail[0] == 'r' && tail[1] == 'v';
}

void TStartup::LoadSettingsFromArchive(TVrFileCollection& files) {
  TMemoryStream stream;
  files.ExtractToStream(stream, kSettingsFileName);
  settings_->LoadFromStream(stream);
}

bool TStartup::LoadSettings() {
  if (hasResourceArchive_) {
    TVrFileCollection files;
    files.OpenResource(ResourceModule(), kResourceName, kResourceType);
    LoadSettingsFromArchive(files);
  } else if (hasAppendedArchive_) {
    TVrFileCollection files;
    files.Open(env_.ExeName);
    LoadSettingsFromArchive(files);
  } else if (HasParam() && FileExists(param_)) {
    TVrFileCollection files;
    files.Open(param_);
    LoadSettingsFromArchive(files);
    sourceFolder_ = param_;
  } else {
    sourceFolder_ = HasParam() ? param_ : exeFolder_;
    const std::string name = AddTrailingBackslash(sourceFolder_) + kSettingsFileName;
    if (!FileExists(name)) {
      Tell("インストール設定ファイルがありません");
      return false;
    }
    settings_->LoadFromFile(name);
  }
  return true;
}

void TStartup::OpenArchive() {
  archive_ = std::make_unique<TVrFileCollection>();
  globals.Archive = archive_.get();
  if (hasResourceArchive_)
    archive_->OpenResource(ResourceModule(), kResourceName, kResourceType);
  else if (hasAppendedArchive_)
    archive_->Open(env_.ExeName);
  else if (!sourceFolder_.empty() && FileExists(sourceFolder_))
    archive_->Open(sourceFolder_);
  else if (settings_->AddOnPackage)
    archive_->Open(env_.ExeName);
  else
    archive_->Open(AddTrailingBackslash(sourceFolder_) + kDataFileName);
}

void TStartup::RecordMediumDrive() {
  settings_->WriteSetting("CDDrive", exeFolder_.size() == 3 ? exeFolder_.substr(0, 2) : std::string());
}

void TStartup::RunLauncher() {
  TRovaInstallSet& s = *settings_;
  RecordMediumDrive();

  auto* form = CreateForm<TFormStart>(Application);
  launcher_ = form;
  const int result = form->ShowModal();
  launchMode_ = form->LaunchMode;
  launcher_ = nullptr;
  form->Release();
  if (result != mrOk) {
    report_.End = TEnd::LauncherClosed;
    return;
  }
  if (launchMode_ == lmStartGame) {
    const std::string folder = s.ReadSetting("InstallPath", "");
    // The name comes from the package; it must stay inside the install folder.
    if (!IsSafeRelativeName(s.GameExe))
      throw EVrError(Format("%s:ファイル名が正しくありません", {s.GameExe}));
    runTarget_ = AddTrailingBackslash(folder) + s.GameExe;
    runParameters_.clear();
    // The game runs in its own folder, never in the one this program was started from.
    runFolder_ = ExtractFilePath(runTarget_);
  } else if (s.ArchiveInstall) {
    RunWizard();
  } else if (!MakeTempCopy()) {
    report_.End = TEnd::CopyFailed;
  }
}

void TStartup::RunUnattended() {
  report_.End = TEnd::Unattended;
  if (!unattendedRunner) {
    report_.ExitCode = kExitNotStarted;
    log_.Line("このプログラムには自動実行の機能がありません");
    return;
  }
  report_.ExitCode = unattendedRunner(switches_, log_);
}

void TStartup::FinishUnattendedUninstall() {
  // The starter waits for this outcome and then ends, which frees its executable in the game folder.
  if (IsOwnTempCopy()) {
    const std::string outcome = env_.ExeName + kOutcomeSuffix;
    const std::string text = std::to_string(report_.ExitCode);
    try {
      {
        TFileStream file(outcome + ".tmp", fmCreate);
        file.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
      }
      if (!Platform().MoveFileReplace(outcome + ".tmp", outcome)) DeleteFileIfExists(outcome + ".tmp");
    } catch (const Exception&) {
      // Without the outcome the starter waits for this process's end and its exit code instead.
    }
  }
  if (report_.ExitCode != kExitDone) return;
  const std::string game = globals.SourceFolder;
  const std::string folder = ExcludeTrailingBackslash(game);
  const std::string uninstaller = game + kUninstallerName;
  if (FileExists(uninstaller)) {
    // Started as the uninstaller itself (not as its copy), nothing can free it before this ends.
    const bool self = Platform().CompareTextJ(env_.ExeName, uninstaller) == 0;
    bool gone = false;
    for (int i = 0; !self && !gone && i < kStarterEndPolls; ++i) {
      gone = Platform().DeleteFile(uninstaller);
      if (!gone) Platform().Sleep(kStarterEndPollMs);
    }
    if (!gone) {
      DeleteOnRestart(uninstaller);
      DeleteOnRestart(folder);
      log_.Line("次回の起動時に削除します: " + uninstaller);
      return;
    }
    log_.Line("ファイルを削除しました: " + uninstaller);
  }
  const auto rest = Platform().ListFolder(folder);
  if (!rest || !rest->empty()) return;  // what the game made, or save data kept, stays
  if (Platform().RemoveDirectory(folder)) {
    log_.Line("フォルダを削除しました: " + game);
  } else {
    DeleteOnRestart(folder);
    log_.Line("次回の起動時に削除します: " + game);
  }
}

void TStartup::RunWizard() {
  TReleaseGuard backdrop;
  auto* main = CreateForm<TFormMain>(Application);
  backdrop.Form = main;
  main->Show();
  main->BringToFront();
  TReleaseGuard wizardGuard;
  TForm* wizard = wizardFactory ? wizardFactory(main) : CreateForm<TFormPending>(main);
  wizardGuard.Form = wizard;
  wizard->ShowModal();
  report_.End = TEnd::Wizard;
}

bool TStartup::MakeTempCopy() {
  if (tempCopy_.Make(env_.ExeName, Platform().GetTempPath())) {
    runTarget_ = tempCopy_.Path();
    runFolder_ = tempCopy_.Folder();
    runParameters_ = "\"" + exeFolder_ + "\"";
    // The copy does the same unattended run and reports its outcome to this process.
    if (Unattended()) runParameters_ += " " + SwitchesCommandLine(switches_);
    runParameters_ += " /TEMPCOPY=" + tempCopy_.Token();
    return true;
  }
  runTarget_.clear();
  runParameters_.clear();
  Tell("ファイルをコピーできません");
  report_.End = TEnd::CopyFailed;
  return false;
}

void TStartup::CleanUp() {
  if (launcher_) {
    launcher_->Release();
    launcher_ = nullptr;
  }
  Application->FreeReleasedForms();
  archive_.reset();
  globals.Archive = nullptr;
  if (mutex_ != kInvalidHandle) {
    ReleaseSingleInstanceMutex(mutex_);
    mutex_ = kInvalidHandle;
  }
  settings_.reset();
  globals.Settings = nullptr;
}

void TStartup::StartTarget() {
  report_.RunTarget = runTarget_;
  report_.RunParameters = runParameters_;
  if (runTarget_.empty()) return;
  if (Unattended()) {
    StartAndWait();
    return;
  }
  const intptr_t result =
      Platform().ShellExecute("open", runTarget_, runParameters_, runFolder_, kShowWindow);
  // Held until here so that nothing else could take its place; the started copy removes it at the next
  // restart, one that did not start goes now.
  if (result > 32)
    tempCopy_.Release();
  else
    tempCopy_.Remove();
  if (result <= 32) {
    report_.End = TEnd::StartFailed;
    WarningDlg(std::string("プログラムを実行できませんでした\r\n") +
               Format("エラーコード[%d]", {static_cast<long long>(result)}));
  } else {
    report_.End = TEnd::Started;
  }
}

void TStartup::StartAndWait() {
  const std::string outcome = runTarget_ + kOutcomeSuffix;
  DeleteFileIfExists(outcome);
  log_.Line("開始: " + runTarget_ + " " + runParameters_);
  const int32_t code =
      Platform().RunProcessAndWait(runTarget_, runParameters_, [&outcome]() { return FileExists(outcome); });
  tempCopy_.Release();
  // A copy that has ended goes with its folder; one still running removes itself.
  if (code != kProcessStillRunning) {
    DeleteFileIfExists(outcome);
    tempCopy_.Remove();
  }
  if (code == kProcessNotStarted) {
    report_.End = TEnd::StartFailed;
    report_.ExitCode = kExitNotStarted;
    log_.Line("プログラムを実行できませんでした: " + runTarget_);
    return;
  }
  report_.End = TEnd::Started;
  report_.ExitCode = code;
  if (code == kProcessStillRunning) {
    // The copy has finished its work and goes on to remove what the uninstall left in the game
    // folder once this process has ended.
    report_.ExitCode = kExitFailed;
    try {
      TFileStream file(outcome, fmOpenRead | fmShareDenyNone);
      char text[16] = {};
      const int32_t n = file.Read(text, sizeof text - 1);
      if (n > 0) report_.ExitCode = std::atoi(text);
    } catch (const Exception&) {
      log_.Line("結果を読み取れませんでした: " + outcome);
    }
    DeleteFileIfExists(outcome);
  }
}

}  // namespace

std::vector<std::string> ParamsFromCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t i = 0;
  const size_t n = commandLine.size();
  for (;;) {
    while (i < n && blank(commandLine[i])) ++i;
    // An empty pair of quotes between blanks is no argument.
    if (i + 1 < n && commandLine[i] == '"' && commandLine[i + 1] == '"' &&
        (i + 2 == n || blank(commandLine[i + 2]))) {
      i += 2;
      continue;
    }
    if (i >= n) break;
    std::string word;
    while (i < n && !blank(commandLine[i])) {
      if (commandLine[i] == '"') {
        ++i;
        while (i < n && commandLine[i] != '"') word += commandLine[i++];
        if (i < n) ++i;
      } else {
        word += commandLine[i++];
      }
    }
    words.push_back(word);
  }
  if (!words.empty()) words.erase(words.begin());
  return words;
}

TSetupGlobals& SetupGlobals() { return globals; }

TWizardFactory SetWizardFactory(TWizardFactory factory) {
  TWizardFactory previous = std::move(wizardFactory);
  wizardFactory = std::move(factory);
  return previous;
}

TUnattendedRunner SetUnattendedRunner(TUnattendedRunner runner) {
  TUnattendedRunner previous = std::move(unattendedRunner);
  unattendedRunner = std::move(runner);
  return previous;
}

int RunSetup(const TStartupEnvironment& env, TStartupReport* report) {
  TStartupReport local;
  TStartupReport& r = report ? *report : local;
  r = TStartupReport{};
  const TSetupSwitches switches = ParseSetupSwitches(env.Params);
  TSetupLog log;
  if (switches.Unattended()) {
    // A temp copy goes on with the log its starter began.
    log.Open(switches.LogFile, IsTempCopy(env.ExeName, switches.TempCopyToken));
  }
  if (!switches.Error.empty()) {
    r.End = TStartupReport::TEnd::BadSwitch;
    r.ExitCode = kExitNotStarted;
    if (switches.Unattended())
      log.Line(switches.Error);
    else
      SysMessageBox(switches.Error + "\r\n\r\n" + kSwitchesHelp, "セットアップ", mbfOk | mbfIconWarning);
    return r.ExitCode;
  }
  if (switches.Help) {
    r.End = TStartupReport::TEnd::Help;
    SysMessageBox(kSwitchesHelp, "セットアップ", mbfOk | mbfIconInformation);
    return r.ExitCode;
  }
  try {
    TStartup startup(env, switches, log, r);
    startup.Run();
  } catch (const std::exception& e) {
    // The clean-up above has run; the scripted user of the tests is never reported to.
    if (IsScriptError(e)) throw;
    r.End = TStartupReport::TEnd::Error;
    if (switches.Unattended()) {
      const auto* error = dynamic_cast<const Exception*>(&e);
      log.Line(error ? error->Message : std::string(e.what()));
      // The runs report their own failures; what reaches here stopped the start.
      r.ExitCode = kExitNotStarted;
    } else {
      Application->HandleException(e);
    }
  }
  Application->FreeReleasedForms();
  globals = TSetupGlobals{};
  return r.ExitCode;
}

}  // namespace vr
