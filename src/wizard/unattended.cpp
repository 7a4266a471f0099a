#include "wizard/unattended.h"

#include "archive/vrfiles.h"
#include "framework/forms.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"
#include "wizard/destination.h"
#include "wizard/installrun.h"
#include "wizard/insttype.h"
#include "wizard/repairrun.h"
#include "wizard/uninstallrun.h"

namespace vr {

namespace {

// The archive writer names an entry it cannot write through its reporter (a message box in the setup
// program); during an unattended run the log takes the message instead.
class TReportToLog {
 public:
  explicit TReportToLog(TSetupLog& log)
      : previous_(SetVrErrorReporter([&log](const std::string& message) { log.Line(message); })) {}
  ~TReportToLog() { SetVrErrorReporter(std::move(previous_)); }
  TReportToLog(const TReportToLog&) = delete;
  TReportToLog& operator=(const TReportToLog&) = delete;

 private:
  TVrErrorReporter previous_;
};

// The progress window of /SILENT, shown for the scope's life; none for /VERYSILENT.
class TSilentWindow {
 public:
  explicit TSilentWindow(const TSetupSwitches& switches) {
    if (switches.VerySilent || !switches.Silent) return;
    form_ = CreateForm<TFormSilent>(Application);
    form_->Show();
  }
  ~TSilentWindow() {
    if (form_) form_->Release();
  }
  TSilentWindow(const TSilentWindow&) = delete;
  TSilentWindow& operator=(const TSilentWindow&) = delete;
  TFormSilent* Form() const { return form_; }

 private:
  TFormSilent* form_ = nullptr;
};

}  // namespace

TFormSilent::TFormSilent(TComponent* owner) : TForm(owner) {
  SetName("FormSilent");
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poScreenCenter);
  SetClientSize(400, 88);
  SetFont(WizardFont());
  SetCaption("セットアップ");
  auto label = [this](const char* name, int top) {
    auto* l = new TLabel(this);
    l->SetName(name);
    l->SetParent(this);
    l->SetAutoSize(false);
    l->SetBounds(16, top, 368, 12);
    return l;
  };
  LabelHeading = label("LabelHeading", 12);
  LabelStatus = label("LabelStatus", 36);
  Progress = new TProgressBar(this);
  Progress->SetName("Progress");
  Progress->SetParent(this);
  Progress->SetBounds(16, 56, 368, 16);
  OnCloseQuery = [this](TObject*, bool& canClose) {
    CloseRequested = true;
    canClose = false;
  };
}

TUnattendedHost::TUnattendedHost(TSetupLog& log, std::vector<std::string> mediaFolders, TFormSilent* window)
    : log_(log), media_(std::move(mediaFolders)), window_(window) {}

void TUnattendedHost::SetHeading(const std::string& text) {
  log_.Line(text);
  if (window_) window_->LabelHeading->SetCaption(text);
}

void TUnattendedHost::SetStatus(const std::string& text) {
  if (window_) window_->LabelStatus->SetCaption(text);
}

void TUnattendedHost::SetProgressRange(int32_t max) {
  if (window_) window_->Progress->SetRange(0, max);
}

void TUnattendedHost::SetProgressPosition(int32_t position) {
  if (window_) window_->Progress->SetPosition(position);
}

void TUnattendedHost::HideProgress() {
  if (!window_) return;
  window_->LabelStatus->SetVisible(false);
  window_->Progress->SetVisible(false);
}

void TUnattendedHost::ProcessMessages() {
  if (window_) Application->ProcessMessages();
}

void TUnattendedHost::Wait(uint32_t milliseconds) {
  if (!window_) return;
  Platform().Sleep(milliseconds);
  window_->BringToFront();
}

bool TUnattendedHost::AbortRequested() {
  if (window_ && window_->CloseRequested && !aborted_) {
    aborted_ = true;
    log_.Line("中断されました");
  }
  return aborted_;
}

bool TUnattendedHost::PromptMedium(const std::string& text) {
  log_.Line(text);
  switch (media_.Prompt(text)) {
    case TMediaFolders::TAnswer::NoFolders:
      log_.Line("2枚目以降のディスクのフォルダが指定されていません (/MEDIADIRS)");
      return false;
    case TMediaFolders::TAnswer::NotThere:
      log_.Line("指定されたフォルダにディスクがありません");
      return false;
    case TMediaFolders::TAnswer::Look:
      break;
  }
  return true;
}

bool TUnattendedHost::Confirm(const std::string& text) {
  // The runs ask only whether to stop after a medium could not be found: there is no way on.
  log_.Line(text + " -> はい");
  return true;
}

std::string TUnattendedHost::MediumFolder(int32_t index, const std::string& current) {
  return media_.Folder(index, current);
}

int RunUnattendedInstall(TRovaInstallSet& settings, TVrFileCollection* archive,
                         const std::string& sourceFolder, const TSetupSwitches& switches, TSetupLog& log) {
  if (!archive) {
    log.Line("パッケージのアーカイブが開かれていないため、インストール処理を実行できません");
    return kExitNotStarted;
  }
  const std::string named = switches.HasDir ? switches.Dir : ProposeInstallFolder(settings).Path;
  // The wizard's media page: every medium when the first of several is inserted.
  TInstallChoices choices =
      MakeInstallChoices(settings, sourceFolder, named, settings.DiskIndex == 0 && settings.DiskCount > 1,
                         switches.Data, switches.Sound, switches.Movie);
  choices.Shortcuts = !switches.NoIcons;
  // Nothing is shown: no folder window after the shortcuts, no read-me.
  choices.OpenShortcutFolder = choices.OpenReadme = false;
  switch (CheckInstallDestination(settings, named, choices.RequiredBytes)) {
    case TDestinationCheck::dcOk:
      break;
    case TDestinationCheck::dcBad:
    case TDestinationCheck::dcSystemFolder:
    case TDestinationCheck::dcNoGame:
      log.Line(kBadDestinationText + std::string(": ") + named);
      return kExitRefused;
    case TDestinationCheck::dcLowSpace:
      log.Line(kLowSpaceQuestion + std::string(" -> いいえ"));
      return kExitRefused;
  }

  TSilentWindow window(switches);
  TUnattendedHost host(log, switches.MediaDirs, window.Form());
  TReportToLog report(log);
  if (window.Form()) window.Form()->SetCaption("ファイルコピー");
  TInstallRun run(host, settings, *archive, choices);
  try {
    if (run.Execute().Completed()) {
      log.Line("インストールが完了しました");
      return kExitDone;
    }
  } catch (const std::exception& e) {
    log.Line(e.what());
  }
  log.Line("インストールは完了しませんでした");
  return kExitFailed;
}

int RunUnattendedRepair(const TRovaInstallSet& settings, const std::string& sourceFolder,
                        const TSetupSwitches& switches, TSetupLog& log) {
  const std::string folder =
      InstallDestination(settings, switches.HasDir ? switches.Dir : ProposeInstallFolder(settings).Path);
  TCheckOptions options;
  options.GameFolder = folder;
  options.Media.push_back(sourceFolder);
  for (const std::string& dir : switches.MediaDirs) options.Media.push_back(dir);
  TSilentWindow window(switches);
  if (window.Form()) window.Form()->SetCaption("修復");
  TUnattendedHost host(log, {}, window.Form());
  TRepairOutcome outcome;
  try {
    outcome = TRepairRun(host, options).Execute();
  } catch (const Exception& e) {
    // The check could not start: no installed game of this title there, or a medium of another one.
    log.Line(e.Message);
    return kExitRefused;
  }
  log.Line(outcome.After.Summary());
  return outcome.After.Healthy() && outcome.End == TRunEnd::reCompleted ? kExitDone : kExitFailed;
}

int RunUnattendedUninstall(const TRovaInstallSet& settings, const std::string& gameFolder,
                           const TSetupSwitches& switches, TSetupLog& log) {
  TSilentWindow window(switches);
  if (window.Form()) window.Form()->SetCaption("削除");
  TUnattendedHost host(log, {}, window.Form());
  TUninstallOptions options;
  options.GameFolder = gameFolder;
  // As in the wizard: the save data question is only asked when there are save data.
  options.DeleteSave = switches.DeleteSave && FindSaveData(settings, gameFolder);
  try {
    if (TUninstallRun(host, settings, options).Execute()) {
      log.Line("アンインストールが完了しました");
      return kExitDone;
    }
  } catch (const Exception& e) {
    log.Line(e.Message);
  }
  log.Line("アンインストールは完了しませんでした");
  return kExitFailed;
}

}  // namespace vr
