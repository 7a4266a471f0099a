// install and uninstall: the setup program's runs on this system, without a window. The runs are the
// ones the wizard drives; this file only answers them from the command line, a log and a progress bar.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "archive/vrfiles.h"
#include "commands.h"
#include "consolehost.h"
#include "discmedia.h"
#include "framework/forms.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#ifndef _WIN32
#include "platform/posix/posixplatform.h"
#endif
#include "startup/instset.h"
#include "startup/setupswitches.h"
#include "startup/syshelpers.h"
#include "textconv.h"
#include "winehost.h"
#include "wizard/destination.h"
#include "wizard/installrun.h"
#include "wizard/uninstallrun.h"

namespace vrtool {
namespace {

const char kNoShellNote[] =
    "note: shortcuts and registry values have no meaning on this system and are skipped";

}  // namespace

int CmdInstall(const InstallOptions& io, const Options& opt) {
  // In a Wine prefix the runs see its drives, registry and Start Menu: the prefix's platform first.
  std::unique_ptr<TWinePrefixScope> wine;
  if (!io.WinePrefix.empty()) wine = std::make_unique<TWinePrefixScope>(io.WinePrefix);
  // The destination first: images are served by a platform that wraps the host's.
  std::string named = !wine                    ? FolderForRun(io.Destination)
                      : io.Destination.empty() ? std::string()
                                               : wine->FolderOnDrive(io.Destination);
  const TInstallMedia media = PlanInstallMedia(io);
  const std::string& medium = media.Medium;
  std::string sourceFolder;
  auto settings = std::make_unique<vr::TRovaInstallSet>();
  vr::TVrFileCollection archive;
  if (vr::FileExists(medium)) {
    // An archive file or a program carrying one: its settings come from the archive.
    archive.Open(medium);
    vr::TMemoryStream stream;
    archive.ExtractToStream(stream, vr::kSettingsFileName);
    settings->LoadFromStream(stream);
    sourceFolder = vr::ExtractFilePath(medium);
  } else if (vr::DirectoryExists(medium)) {
    sourceFolder = vr::AddTrailingBackslash(medium);
    if (!vr::FileExists(sourceFolder + vr::kSettingsFileName))
      throw ToolError(io.Medium + ": no install.dat in this folder");
    settings->LoadFromFile(sourceFolder + vr::kSettingsFileName);
    archive.Open(sourceFolder + vr::kDataFileName);
  } else {
    throw ToolError(io.Medium + ": no such file or folder");
  }
  if (settings->Uninstaller) throw ToolError(io.Medium + ": this is an installed game, not a package");
  // Without -d, the folder setup proposes in that prefix (the recorded one, else the package's).
  if (named.empty()) named = vr::AddTrailingBackslash(vr::ProposeInstallFolder(*settings).Path);
  const std::string shown = io.Destination.empty() ? ToUtf8(named) : io.Destination;

  bool data = false, sound = false, movie = false;
  for (const std::string& c :
       vr::SplitList(io.Components.empty() ? "data,sound,movie" : io.Components, ',')) {
    if (c == "data")
      data = true;
    else if (c == "sound")
      sound = true;
    else if (c == "movie")
      movie = true;
    else if (c != "program")
      throw ToolError("--components: unknown group '" + c + "' (data, sound, movie)");
  }
  vr::TInstallChoices choices =
      vr::MakeInstallChoices(*settings, sourceFolder, named, settings->DiskIndex == 0, data, sound, movie);
  // Programs-menu shortcuts and the registry have a meaning in a Wine prefix only; nobody is there to
  // look at opened folders and read-mes.
  choices.Shortcuts = choices.Registry = wine != nullptr;
  choices.OpenShortcutFolder = choices.OpenReadme = false;
  switch (vr::CheckInstallDestination(*settings, named, choices.RequiredBytes)) {
    case vr::TDestinationCheck::dcOk:
      break;
    case vr::TDestinationCheck::dcBad:
      // A name of three characters at most is a drive's root ("D:\\"), which may be a home folder
      // mapped as a drive, whether the drive is there or not.
      if (named.size() <= 3)
        throw ToolError(shown +
                        ": a drive's root (in a Wine prefix often a home folder) cannot be the "
                        "install folder");
      throw ToolError(shown + ": cannot take the install (a file is in its place, or its drive is missing)");
    case vr::TDestinationCheck::dcSystemFolder:
      throw ToolError(shown +
                      ": a drive's root, a system folder or a home folder cannot be the install folder");
    case vr::TDestinationCheck::dcNoGame:
      throw ToolError(shown + ": the game this add-on belongs to is not installed there");
    case vr::TDestinationCheck::dcLowSpace:
      throw ToolError(shown + ": not enough free space for the install");
  }
  if (!opt.Quiet && !wine) PrintError(kNoShellNote);

  vr::TSetupLog log;
  OpenLog(log, io.LogFile);
  TConsoleHost host("install", !opt.Quiet && StderrIsTerminal(), log, media.Further);
  TInterruptScope interrupt;
  vr::TInstallRun run(host, *settings, archive, choices);
  vr::TRunOutcome outcome;
  try {
    outcome = run.Execute();
  } catch (...) {
    host.Finish();
    throw;
  }
  host.Finish();
  switch (outcome.End) {
    case vr::TRunEnd::reCompleted:
      if (wine) {
        WriteStdout("installed into " + ToUtf8(named) + " (" + wine->HostPath(named) + ")\n");
        if (!io.NoFonts) SetUpJapaneseFonts(wine->Prefix(), opt.Quiet);
      } else {
        WriteStdout("installed into " + io.Destination + "\n");
      }
      return 0;
    case vr::TRunEnd::reCheckFailed:
      // The run has said why (its warning) and that the destination is as it was.
      return 1;
    case vr::TRunEnd::reStopped:
      throw ToolError(Interrupted() ? "interrupted; the destination is as it was"
                                    : "stopped; the destination is as it was");
    case vr::TRunEnd::reFailed:
      break;
  }
  throw ToolError(outcome.RolledBack ? "the install did not complete; the destination is as it was"
                                     : "the install did not complete");
}

int CmdUninstall(const UninstallOptions& uo, const Options& opt) {
  std::unique_ptr<TWinePrefixScope> wine;
  if (!uo.WinePrefix.empty()) wine = std::make_unique<TWinePrefixScope>(uo.WinePrefix);
  if (!vr::DirectoryExists(vr::AddTrailingBackslash(ToCp932(uo.GameFolder, "folder name"))))
    throw ToolError(uo.GameFolder + ": no such folder");
  const std::string folder = wine ? wine->FolderOnDrive(uo.GameFolder) : FolderForRun(uo.GameFolder);
  if (!vr::DirectoryExists(folder)) throw ToolError(uo.GameFolder + ": no such folder");
  if (!vr::FileExists(folder + vr::kSettingsFileName))
    throw ToolError(uo.GameFolder + ": no install.dat in this folder");
  vr::TRovaInstallSet settings;
  settings.LoadFromFile(folder + vr::kSettingsFileName);
  if (!settings.Uninstaller) throw ToolError(uo.GameFolder + ": this is a package, not an installed game");

  vr::TUninstallOptions options;
  options.GameFolder = folder;
  options.DeleteSave = uo.DeleteSave;
  options.Shortcuts = options.Registry = wine != nullptr;
  if (!opt.Quiet && !wine) PrintError(kNoShellNote);

  vr::TSetupLog log;
  OpenLog(log, uo.LogFile);
  TConsoleHost host("uninstall", !opt.Quiet && StderrIsTerminal(), log, {});
  TInterruptScope interrupt;
  const bool complete = vr::TUninstallRun(host, settings, options).Execute();
  host.Finish();
  // The run looks at the abort only before it deletes anything.
  if (!complete) throw ToolError("interrupted; nothing was removed");
  WriteStdout("uninstalled " + uo.GameFolder + "\n");
  return 0;
}

}  // namespace vrtool
