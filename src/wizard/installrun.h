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

#include "framework/classes.h"
#include "wizard/destination.h"
#include "wizard/runhost.h"

namespace vr {

class TRovaInstallSet;
class TVrFile;
class TVrFileCollection;
class TInstallJournal;
class TAddonRebuild;
class TEntryWriter;
class TDataFileBuild;

class TInstallRun {
 public:
  // settings: the process's settings (changed by the run: medium, installed files, uninstaller flag);
  // package: the archive of the current medium (reopened on each further medium).
  TInstallRun(TRunHost& host, TRovaInstallSet& settings, TVrFileCollection& package, TInstallChoices choices);
  ~TInstallRun();
  TInstallRun(const TInstallRun&) = delete;
  TInstallRun& operator=(const TInstallRun&) = delete;

  // Finishes first what a killed run left in the destination (its journal), then runs every step.
  // An install (new or add-on) that does not complete is taken back: what it created is removed, what
  // it replaced comes back, the data file it appended to is cut back; the run tells the user so. The
  // framework's errors end the run as reFailed (shown through the host); other exceptions propagate
  // after the rollback.
  TRunOutcome Execute();

  uint64_t CopiedBytes() const { return copiedBytes_; }

  // Text told to the user after a rollback.
  static const char* const RolledBackText;

 private:
  // Leaves the run through its abort exit, ending it as `end`.
  struct TAbort {
    TRunEnd End;
  };

  void Run();
  void CheckAddonTarget();
  void CheckAbort();
  void SetProgressPosition();
  bool RedrawDue();
  void OpenDataArchive();
  void ChangeMedium(int32_t index);
  TStringList UsableLooseFiles(const TStringList& files, size_t prefixLength);
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
  std::unique_ptr<TDataFileBuild> dataBuild_;
  // Writes the separate entries (made on first use).
  std::unique_ptr<TEntryWriter> entryWriter_;
  uint64_t copiedBytes_ = 0;
  // The bar takes 32-bit values: bytes are divided by this (10, or more for very large packages).
  uint64_t progressDivisor_ = 10;
  bool shortcutsMade_ = false;
  // Build progress: the bytes and the entry count at the last redraw.
  uint64_t drawnBytes_ = 0;
  int32_t drawnIndex_ = -1;
  // The time of the last redraw, and whether a stage has begun since (see RedrawDue).
  uint32_t drawnTick_ = 0;
  bool newStage_ = true;
};

}  // namespace vr
