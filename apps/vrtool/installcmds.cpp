// install and uninstall: the setup program's runs on this system, without a window. The runs are the
// ones the wizard drives; this file only answers them from the command line, a log and a progress bar.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "archive/vrfiles.h"
#include "commands.h"
#include "consolehost.h"
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
#include "wizard/destination.h"
#include "wizard/installrun.h"
#include "wizard/uninstallrun.h"

namespace vrtool {
namespace {

// The uninstall run sweeps only folders on a drive (a bare host path could lie anywhere), so the host's
// root gets a drive letter of its own, as Wine's Z: does.
std::string GameFolderForRun(const std::string& utf8) {
#ifndef _WIN32
  auto* posix = dynamic_cast<vr::TPosixPlatform*>(&vr::Platform());
  char* real = realpath(utf8.c_str(), nullptr);
  if (posix && real && !posix->Config().Drives.count('Z')) {
    std::string host(real);
    std::free(real);
    posix->MapDrive('Z', "/");
    std::replace(host.begin(), host.end(), '/', '\\');
    return vr::AddTrailingBackslash("Z:" + ToCp932(host, "folder name"));
  }
  std::free(real);
#endif
  return vr::AddTrailingBackslash(ToCp932(utf8, "folder name"));
}

// The --log file, made anew; an error when it cannot be.
void OpenLog(vr::TSetupLog& log, const std::string& utf8) {
  if (!utf8.empty() && !log.Open(ToCp932(utf8, "file name"), false))
    throw ToolError(utf8 + ": cannot be written");
}

const char kNoShellNote[] =
    "note: shortcuts and registry values have no meaning on this system and are skipped";

}  // namespace

int CmdInstall(const InstallOptions& io, const Options& opt) {
  const std::string medium = ToCp932(io.Medium, "folder name");
  std::string sourceFolder;
  auto settings = std::make_unique<vr::TRovaInstallSet>();
  vr::TVrFileCollection archive;
  if (vr::FileExists(medium)) {
    // An archive file or a program carrying one: its settings come from the archive.
    archive.Open(medium);
    vr::TMemoryStream stream;
    archive.ExtractToStream(stream, "install.dat");
    settings->LoadFromStream(stream);
    sourceFolder = vr::ExtractFilePath(medium);
  } else if (vr::DirectoryExists(medium)) {
    sourceFolder = vr::AddTrailingBackslash(medium);
    if (!vr::FileExists(sourceFolder + "install.dat"))
      throw ToolError(io.Medium + ": no install.dat in this folder");
    settings->LoadFromFile(sourceFolder + "install.dat");
    archive.Open(sourceFolder + "game.dat");
  } else {
    throw ToolError(io.Medium + ": no such file or folder");
  }
  if (settings->Uninstaller) throw ToolError(io.Medium + ": this is an installed game, not a package");

  vr::TInstallChoices choices;
  choices.SourceFolder = sourceFolder;
  choices.Destination = vr::AddTrailingBackslash(ToCp932(io.Destination, "folder name"));
  choices.AllMedia = true;
  for (const std::string& c :
       vr::SplitList(io.Components.empty() ? "data,sound,movie" : io.Components, ',')) {
    if (c == "data")
      choices.Data = true;
    else if (c == "sound")
      choices.Sound = true;
    else if (c == "movie")
      choices.Movie = true;
    else if (c != "program")
      throw ToolError("--components: unknown group '" + c + "' (data, sound, movie)");
  }
  choices.RequiredBytes =
      vr::RequiredInstallBytes(*settings, true, choices.Data, choices.Sound, choices.Movie);
  // Programs-menu shortcuts, the registry and the shell have no meaning here.
  choices.Shortcuts = choices.Registry = choices.OpenReadme = false;
  if (!opt.Quiet) PrintError(kNoShellNote);

  vr::TSetupLog log;
  OpenLog(log, io.LogFile);
  TConsoleHost host("install", !opt.Quiet && StderrIsTerminal(), log, vr::SplitList(io.MediaDirs, ';'));
  TInterruptScope interrupt;
  vr::TInstallRun run(host, *settings, archive, choices);
  bool complete = false;
  try {
    complete = run.Execute();
  } catch (...) {
    host.Finish();
    if (run.RolledBack()) log.Line(vr::TInstallRun::RolledBackText);
    throw;
  }
  host.Finish();
  if (complete) {
    WriteStdout("installed into " + io.Destination + "\n");
    return 0;
  }
  // A failed data check ends the run with Abort and its warning; anything else is an error.
  if (run.CheckFailed()) return 1;
  throw ToolError(Interrupted() ? "interrupted; the destination is as it was"
                                : "the install did not complete");
}

int CmdUninstall(const UninstallOptions& uo, const Options& opt) {
  if (!vr::DirectoryExists(vr::AddTrailingBackslash(ToCp932(uo.GameFolder, "folder name"))))
    throw ToolError(uo.GameFolder + ": no such folder");
  const std::string folder = GameFolderForRun(uo.GameFolder);
  if (!vr::DirectoryExists(folder)) throw ToolError(uo.GameFolder + ": no such folder");
  if (!vr::FileExists(folder + "install.dat"))
    throw ToolError(uo.GameFolder + ": no install.dat in this folder");
  vr::TRovaInstallSet settings;
  settings.LoadFromFile(folder + "install.dat");
  if (!settings.Uninstaller) throw ToolError(uo.GameFolder + ": this is a package, not an installed game");

  vr::TUninstallOptions options;
  options.GameFolder = folder;
  options.DeleteSave = uo.DeleteSave;
  options.Shortcuts = options.Registry = false;
  if (!opt.Quiet) PrintError(kNoShellNote);

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
