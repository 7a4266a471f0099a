// The install run: puts a package into its destination folder. Loose files from the medium, the data
// file built from the package archive, the archive's separate entries, the data file's check, further
// media, "install.dat" with the installed-file list, shortcuts and the "InstallPath" value. It also
// installs add-on packages, merged into an installed data file or rebuilt into a one-executable game.
//
// The run holds no window: it shows, asks and waits through a TRunHost, so the wizard, the unattended
// mode and the command-line tool all drive this one piece of code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vr {

class TRovaInstallSet;
class TRunHost;
class TVrFile;
class TVrFileCollection;
class TInstallJournal;
class TAddonRebuild;

// What the user chose before the run.
struct TInstallChoices {
  // The folder holding the package's loose files, its "install.dat" and "game.dat".
  std::string SourceFolder;
  // The install folder.
  std::string Destination;
  // Every medium, or only the one the settings describe.
  bool AllMedia = false;
  // The file groups: scenario and graphics (the data file), sound, movie.
  bool Data = false;
  bool Sound = false;
  bool Movie = false;
  // Bytes the run is expected to handle, for the progress bar.
  uint64_t RequiredBytes = 0;
  // Programs-menu shortcuts, and the folder window shown after them.
  bool Shortcuts = true;
  bool OpenShortcutFolder = true;
  // The read-me opened after the install, when the package asks for it.
  bool OpenReadme = true;
  // The per-user "InstallPath" value.
  bool Registry = true;
};

class TInstallRun {
 public:
  // settings: the process's settings (changed by the run: medium, installed files, uninstaller flag);
  // package: the archive of the current medium (reopened on each further medium).
  TInstallRun(TRunHost& host, TRovaInstallSet& settings, TVrFileCollection& package, TInstallChoices choices);
  ~TInstallRun();
  TInstallRun(const TInstallRun&) = delete;
  TInstallRun& operator=(const TInstallRun&) = delete;

  // Runs every step. True when the install is complete; false when the run left early (the user's
  // abort, a folder or file that could not be made, a failed check), with the host's modal result
  // set. Errors propagate. A new install that does not complete is taken back first: what it created
  // is removed and what it replaced comes back.
  bool Execute();

  uint64_t CopiedBytes() const { return copiedBytes_; }
  // The destination was put back as it was before the run.
  bool RolledBack() const { return rolledBack_; }
  // The run stopped because the data file did not pass its check.
  bool CheckFailed() const { return checkFailed_; }

  // Text told to the user after a rollback.
  static const char* const RolledBackText;

 private:
  class TAbort {};  // leaves the run through its abort exit

  void Run();
  void CheckAbort();
  void SetProgressPosition();
  void RemoveOldDataFile();
  void OpenDataArchive();
  void ChangeMedium(int32_t index);
  void CopyLooseFiles();
  void BuildDataFile();
  void WriteSeparateEntries();
  void WriteSeparateEntry(int index);
  void CheckDataFile();
  void RecordPartFiles();
  void SaveSettingsAndShortcuts();
  void OpenReadmeAfterInstall();
  void OnBuildProgress(int64_t size, int32_t index, int32_t count, bool& cancel);
  void OnCheckProgress(int32_t index, int32_t count, bool& cancel);

  TRunHost& host_;
  TRovaInstallSet& settings_;
  TVrFileCollection& package_;
  TInstallChoices choices_;
  std::string destination_;
  std::unique_ptr<TVrFileCollection> data_;
  std::unique_ptr<TAddonRebuild> rebuild_;
  std::unique_ptr<TInstallJournal> journal_;
  uint64_t copiedBytes_ = 0;
  // The bar takes 32-bit values: bytes are divided by this (10, or more for very large packages).
  uint64_t progressDivisor_ = 10;
  bool shortcutsMade_ = false;
  // The run made the data file; its part files from this number on are not noted in the journal yet.
  bool dataFileCreated_ = false;
  int dataPartsNoted_ = 1;
  bool rolledBack_ = false;
  bool checkFailed_ = false;
};

}  // namespace vr
