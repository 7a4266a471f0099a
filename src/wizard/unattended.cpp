#include "wizard/unattended.h"

#include "framework/forms.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"
#include "wizard/destination.h"
#include "wizard/installrun.h"
#include "wizard/uninstallrun.h"

namespace vr {

TUnattendedHost::TUnattendedHost(TSetupLog& log, std::vector<std::string> mediaFolders)
    : log_(log), mediaFolders_(std::move(mediaFolders)) {}

void TUnattendedHost::SetModalResult(int result) {
  if (result == mrAbort) aborted_ = true;
}

bool TUnattendedHost::PromptMedium(const std::string& text) {
  log_.Line(text);
  if (mediaFolders_.empty()) {
    log_.Line("2枚目以降のディスクのフォルダが指定されていません (/MEDIADIRS)");
    return false;
  }
  // The folder named for the medium was already looked at; asking again cannot change it.
  if (!prompted_.insert(text).second) {
    log_.Line("指定されたフォルダにディスクがありません");
    return false;
  }
  return true;
}

bool TUnattendedHost::Confirm(const std::string& text) {
  // The runs ask only whether to stop after a medium could not be found: there is no way on.
  log_.Line(text + " -> はい");
  return true;
}

std::string TUnattendedHost::MediumFolder(int32_t index, const std::string& current) {
  if (index < 1 || static_cast<size_t>(index) > mediaFolders_.size()) return current;
  return mediaFolders_[static_cast<size_t>(index) - 1];
}

int RunUnattendedInstall(TRovaInstallSet& settings, TVrFileCollection* archive,
                         const std::string& sourceFolder, const TSetupSwitches& switches, TSetupLog& log) {
  if (!archive) {
    log.Line("パッケージのアーカイブが開かれていないため、インストール処理を実行できません");
    return kExitNotStarted;
  }
  TInstallChoices choices;
  choices.SourceFolder = sourceFolder;
  // The wizard's media and file pages: every medium when the first of several is inserted; the
  // groups are chosen only where the wizard lets the user choose them.
  choices.AllMedia = settings.DiskIndex == 0 && settings.DiskCount > 1;
  const bool choosesGroups =
      !(settings.InstallKind == 1 || settings.InstallKind == 2 || settings.AddOnPackage);
  choices.Data = choosesGroups ? switches.Data : settings.InstallKind == 1;
  choices.Sound = choosesGroups ? switches.Sound : settings.InstallKind == 1;
  choices.Movie = choosesGroups ? switches.Movie : settings.InstallKind == 1;
  choices.RequiredBytes =
      RequiredInstallBytes(settings, choices.AllMedia, choices.Data, choices.Sound, choices.Movie);
  choices.Shortcuts = !switches.NoIcons;
  // Nothing is shown: no folder window after the shortcuts, no read-me.
  choices.OpenShortcutFolder = choices.OpenReadme = false;

  const std::string named = switches.HasDir ? switches.Dir : ProposeInstallFolder(settings).Path;
  choices.Destination = InstallDestination(settings, named);
  switch (CheckInstallDestination(settings, named, choices.RequiredBytes)) {
    case TDestinationCheck::dcOk:
      break;
    case TDestinationCheck::dcBad:
      log.Line(kBadDestinationText + std::string(": ") + named);
      return kExitRefused;
    case TDestinationCheck::dcLowSpace:
      log.Line(kLowSpaceQuestion + std::string(" -> いいえ"));
      return kExitRefused;
  }
  // A file in the folder's place, or a drive that does not exist, cannot take the install.
  int64_t freeBytes = 0, totalBytes = 0;
  if (FileExists(ExcludeTrailingBackslash(choices.Destination)) ||
      !Platform().GetDiskFreeSpace(choices.Destination.substr(0, 3), freeBytes, totalBytes)) {
    log.Line(kBadDestinationText + std::string(": ") + named);
    return kExitRefused;
  }

  TUnattendedHost host(log, switches.MediaDirs);
  TInstallRun run(host, settings, *archive, choices);
  try {
    if (run.Execute()) {
      log.Line("インストールが完了しました");
      return kExitDone;
    }
  } catch (const Exception& e) {
    log.Line(e.Message);
    if (run.RolledBack()) log.Line(TInstallRun::RolledBackText);
  }
  log.Line("インストールは完了しませんでした");
  return kExitFailed;
}

int RunUnattendedUninstall(const TRovaInstallSet& settings, const std::string& gameFolder,
                           const TSetupSwitches& switches, TSetupLog& log) {
  TUnattendedHost host(log, {});
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
