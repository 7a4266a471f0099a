// The uninstall run: shortcuts, recorded files, save data on request, "game.ini", the folders left
// empty and the registry key. Driven through a TRunHost (the wizard, an unattended run, the tool).
#pragma once

#include <memory>
#include <string>

#include "platform/durablefiles.h"
#include "startup/instset.h"
#include "wizard/runhost.h"

namespace vr {

struct TUninstallOptions {
  // The installed game's folder (a trailing backslash is added when missing).
  std::string GameFolder;
  // Also delete "save.dat" in the game folder and in every user's save folder.
  bool DeleteSave = false;
  bool Shortcuts = true;
  bool Registry = true;
};

// True when "save.dat" lies in the game folder or in one of the per-user save folders of the title.
bool FindSaveData(const TRovaInstallSet& settings, const std::string& gameFolder);

// True for a folder whose sweep could reach into the system or a user's files: a drive root, or a
// folder that is (or holds) the Windows or system folder, Program Files, a Programs or Start menu, the
// desktop, the current user's profile, the users' folder, the all-users profile or the host user's home
// folder; and every profile folder directly in the users' folder.
bool IsProtectedFolder(const std::string& folder);

// Removes every folder below `folder` that is empty after its own subfolders were swept, and then
// `folder` itself when it is empty. A link (symbolic link, junction) met inside is removed itself and
// never entered. Each removed folder and link is logged through `log` when given. Each folder is listed
// once.
void RemoveEmptyFolders(const std::string& folder, TRunHost* log = nullptr);

class TFolderListings;

class TUninstallRun {
 public:
  TUninstallRun(TRunHost& host, const TRovaInstallSet& settings, TUninstallOptions options);
  ~TUninstallRun();
  TUninstallRun(const TUninstallRun&) = delete;
  TUninstallRun& operator=(const TUninstallRun&) = delete;

  // Every step in order. False when the user's abort stopped the run before any file was deleted (it
  // looks at the abort twice: before the shortcuts and before the files); true when it ran to its end.
  bool Execute();

 private:
  void DeleteRecordedFiles();
  void DeleteSaveData();
  void RemoveFolders();
  // Deletes one file below the game folder (a name from install.dat, matched without regard to case
  // in the listings of its folders); refused names, names that pass through a link and names of
  // folders are skipped.
  void DeleteBelowGameFolder(const std::string& name);
  // Deletes a file outside the game folder (the per-user save data).
  void DeleteAndLog(const std::string& path);

  TRunHost& host_;
  const TRovaInstallSet& settings_;
  TUninstallOptions options_;
  // The folders below the game folder as listed once in this run.
  std::unique_ptr<TFolderListings> listings_;
  bool settingsRecorded_ = false;
  TFolderFlushes removedFrom_;  // folders a removal changed, flushed before the settings file goes
};

}  // namespace vr
