// The unattended mode of the setup program: the install and uninstall runs without a window, with
// the answers given on the command line, a log of every step and an exit code for the caller.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "startup/setupswitches.h"
#include "wizard/runhost.h"

namespace vr {

class TRovaInstallSet;
class TVrFileCollection;

// Shows nothing and asks nobody: what a window would show or ask goes to the log, a question takes
// the answer that lets the run go on (or stops it when there is none), and further media are looked
// for once each in the folders given for them.
class TUnattendedHost : public TRunHost {
 public:
  TUnattendedHost(TSetupLog& log, std::vector<std::string> mediaFolders);

  void SetCaption(const std::string&) override {}
  void SetHeading(const std::string& text) override { log_.Line(text); }
  void SetStatus(const std::string&) override {}
  void SetProgressRange(int32_t) override {}
  void SetProgressPosition(int32_t) override {}
  void HideProgress() override {}
  void HideNavigation(bool) override {}
  void ProcessMessages() override {}
  void BringToFront() override {}
  void Wait(uint32_t) override {}
  void Log(const std::string& line) override { log_.Line(line); }
  bool AbortRequested() override { return aborted_; }
  void SetModalResult(int result) override;
  bool PromptMedium(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  void Warning(const std::string& text) override { log_.Line(text); }
  std::string MediumFolder(int32_t index, const std::string& current) override;

 private:
  TSetupLog& log_;
  std::vector<std::string> mediaFolders_;
  std::set<std::string> prompted_;
  bool aborted_ = false;
};

// Installs the package as the wizard would with its proposals, changed by the switches (folder, file
// groups, no shortcuts, media folders). Returns kExitDone, kExitRefused (nothing written) or
// kExitFailed (the run failed or stopped; a new install is taken back).
int RunUnattendedInstall(TRovaInstallSet& settings, TVrFileCollection* archive,
                         const std::string& sourceFolder, const TSetupSwitches& switches, TSetupLog& log);

// Uninstalls the game in gameFolder; the save data go only with /DELETESAVE. kExitDone or kExitFailed.
int RunUnattendedUninstall(const TRovaInstallSet& settings, const std::string& gameFolder,
                           const TSetupSwitches& switches, TSetupLog& log);

}  // namespace vr
