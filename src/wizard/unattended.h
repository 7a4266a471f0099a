// The unattended mode of the setup program: the install and uninstall runs without a window, with
// the answers given on the command line, a log of every step and an exit code for the caller.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "framework/controls.h"
#include "framework/forms.h"
#include "startup/setupswitches.h"
#include "wizard/runhost.h"

namespace vr {

class TRovaInstallSet;
class TVrFileCollection;

// The one window of /SILENT: the run's heading, its current step and the progress bar. The close box
// asks the run to stop (an install is then taken back).
class TFormSilent : public TForm {
 public:
  explicit TFormSilent(TComponent* owner);
  TLabel* LabelHeading;
  TLabel* LabelStatus;
  TProgressBar* Progress;
  bool CloseRequested = false;
};

// Asks nobody: what a dialog would show or ask goes to the log, a question takes the answer that lets
// the run go on (or stops it when there is none), and further media are looked for once each in the
// folders given for them. With a progress window (/SILENT) the run's progress is shown there;
// without one (/VERYSILENT) nothing is shown at all.
class TUnattendedHost : public TRunHost {
 public:
  TUnattendedHost(TSetupLog& log, std::vector<std::string> mediaFolders, TFormSilent* window = nullptr);

  void SetHeading(const std::string& text) override;
  void SetStatus(const std::string& text) override;
  void SetProgressRange(int32_t max) override;
  void SetProgressPosition(int32_t position) override;
  void HideProgress() override;
  void ProcessMessages() override;
  // The run's pauses keep the progress window up long enough to be read; without it they are skipped.
  void Wait(uint32_t milliseconds) override;
  void Log(const std::string& line) override { log_.Line(line); }
  bool AbortRequested() override;
  bool PromptMedium(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  void Warning(const std::string& text) override { log_.Line(text); }
  void ShowError(const std::string& text) override { log_.Line(text); }
  std::string MediumFolder(int32_t index, const std::string& current) override;

 private:
  TSetupLog& log_;
  TMediaFolders media_;
  TFormSilent* window_;
  bool aborted_ = false;
};

// Installs the package as the wizard would with its proposals, changed by the switches (folder, file
// groups, no shortcuts, media folders). Returns kExitDone, kExitRefused (nothing written) or
// kExitFailed (the run failed or stopped; a new install is taken back).
int RunUnattendedInstall(TRovaInstallSet& settings, TVrFileCollection* archive,
                         const std::string& sourceFolder, const TSetupSwitches& switches, TSetupLog& log);

// Checks the installed game in /DIR (else the folder the wizard would propose) and repairs it from the
// medium in sourceFolder and the /MEDIADIRS folders. kExitDone when it is healthy afterwards,
// kExitRefused when /DIR holds no installed game of this title (nothing written), kExitFailed when
// damage is left or the repair failed (what it replaced is put back).
int RunUnattendedRepair(const TRovaInstallSet& settings, const std::string& sourceFolder,
                        const TSetupSwitches& switches, TSetupLog& log);

// Uninstalls the game in gameFolder; the save data go only with /DELETESAVE. kExitDone or kExitFailed.
int RunUnattendedUninstall(const TRovaInstallSet& settings, const std::string& gameFolder,
                           const TSetupSwitches& switches, TSetupLog& log);

}  // namespace vr
