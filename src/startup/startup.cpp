#include "startup/startup.h"

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

namespace vr {

namespace {

constexpr int kShowNormal = 5;  // SW_SHOW
constexpr const char* kResourceName = "DUMMY";
constexpr const char* kResourceType = "BINTYPE";
constexpr const char* kSettingsName = "install.dat";
constexpr const char* kDataFileName = "game.dat";

TSetupGlobals globals;
TWizardFactory wizardFactory;

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
  TStartup(const TStartupEnvironment& env, TStartupReport& report) : env_(env), report_(report) {
    exeFolder_ = AddTrailingBackslash(ExtractFilePath(env.ExeName));
    if (!env.Params.empty()) param_ = env.Params.front();
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
  bool HasParam() const { return !env_.Params.empty(); }
  bool ProbeResource();
  bool ProbeTrailer();
  bool LoadSettings();
  void LoadSettingsFromArchive(TVrFileCollection& files);
  void OpenArchive();
  void RunLauncher();
  void RunWizard();
  bool MakeTempCopy();
  // The running executable is a temp copy made by MakeTempCopy (in the temp folder, under its name).
  bool IsOwnTempCopy() const;
  void CleanUp();
  void StartTarget();

  const TStartupEnvironment& env_;
  TStartupReport& report_;
  std::string exeFolder_;
  std::string param_;

  bool hasResourceArchive_ = false;
  bool hasAppendedArchive_ = false;
  std::string sourceFolder_;
  int32_t launchMode_ = 0;
  std::string runTarget_;
  std::string runParameters_;

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
    SysMessageBox("管理者権限で実行してください", "警告", mbfOk | mbfIconWarning);
    report_.End = TEnd::NotAdministrator;
    return;
  }

  runTarget_.clear();
  hasResourceArchive_ = ProbeResource();
  if (!hasResourceArchive_) hasAppendedArchive_ = ProbeTrailer();

  settings_ = std::make_unique<TRovaInstallSet>();
  globals.Settings = settings_.get();
  globals.ExeName = env_.ExeName;
  if (!LoadSettings()) {
    report_.End = TEnd::NoSettings;
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
    report_.End = TEnd::GameRunning;
    return;
  }

  mutex_ = CreateSingleInstanceMutex(s.Title);
  if (mutex_ == kInvalidHandle) {
    report_.End = TEnd::SecondInstance;
    return;
  }

  if (s.Uninstaller) {
    if (HasParam()) {
      // The temp copy removes itself at the next restart.
      if (IsOwnTempCopy()) DeleteOnRestart(env_.ExeName);
      RunWizard();
    } else if (!MakeTempCopy()) {
      return;
    }
  } else {
    OpenArchive();
    if (HasParam() || s.AddOnPackage || s.InstallKind == 2) {
      // Only the temp copy this program made goes: a package copied to a disk keeps its setup program.
      if (!s.ArchiveInstall && IsOwnTempCopy()) DeleteOnRestart(env_.ExeName);
      RunWizard();
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
  files.ExtractToStream(stream, kSettingsName);
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
    const std::string name = AddTrailingBackslash(sourceFolder_) + kSettingsName;
    if (!FileExists(name)) {
      WarningDlg("インストール設定ファイルがありません");
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

void TStartup::RunLauncher() {
  TRovaInstallSet& s = *settings_;
  s.WriteSetting("CDDrive", exeFolder_.size() == 3 ? exeFolder_.substr(0, 2) : std::string());

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
  } else if (s.ArchiveInstall) {
    RunWizard();
  } else if (!MakeTempCopy()) {
    report_.End = TEnd::CopyFailed;
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

bool TStartup::IsOwnTempCopy() const {
  const std::string temp = AddTrailingBackslash(Platform().GetTempPath());
  TPlatform& p = Platform();
  if (p.CompareTextJ(ExtractFilePath(env_.ExeName), temp) != 0) return false;
  const std::string name = ExtractFileName(env_.ExeName);
  if (p.CompareTextJ(name, kTempCopyName) == 0) return true;
  for (int n = 0; n < kTempCopyAttempts; ++n)
    if (p.CompareTextJ(name, Format(kTempCopyNameN, {n})) == 0) return true;
  return false;
}

bool TStartup::MakeTempCopy() {
  const std::string temp = AddTrailingBackslash(Platform().GetTempPath());
  runTarget_ = temp + kTempCopyName;
  runParameters_ = "\"" + exeFolder_ + "\"";
  ClearReadOnly(runTarget_);
  for (int n = 0; n < kTempCopyAttempts; ++n) {
    if (Platform().CopyFile(env_.ExeName, runTarget_, false)) return true;
    runTarget_ = temp + Format(kTempCopyNameN, {n});
    ClearReadOnly(runTarget_);
  }
  runTarget_.clear();
  runParameters_.clear();
  WarningDlg("ファイルをコピーできません");
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
  const intptr_t result = Platform().ShellExecute("open", runTarget_, runParameters_, "", kShowNormal);
  if (result <= 32) {
    report_.End = TEnd::StartFailed;
    WarningDlg(std::string("プログラムを実行できませんでした\r\n") +
               Format("エラーコード[%d]", {static_cast<long long>(result)}));
  } else {
    report_.End = TEnd::Started;
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

int RunSetup(const TStartupEnvironment& env, TStartupReport* report) {
  TStartupReport local;
  TStartupReport& r = report ? *report : local;
  r = TStartupReport{};
  try {
    TStartup startup(env, r);
    startup.Run();
  } catch (const std::exception& e) {
    // The clean-up above has run; the scripted user of the tests is never reported to.
    if (IsScriptError(e)) throw;
    r.End = TStartupReport::TEnd::Error;
    Application->HandleException(e);
  }
  Application->FreeReleasedForms();
  globals = TSetupGlobals{};
  return 0;
}

}  // namespace vr
