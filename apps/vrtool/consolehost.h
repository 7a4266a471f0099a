// The console as the host of the setup program's install and uninstall runs: a progress bar on
// stderr, a UTF-8 log file, fixed answers to the run's questions, and Ctrl-C as the abort.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "console.h"
#include "startup/setupswitches.h"
#include "wizard/runhost.h"

namespace vrtool {

// Ctrl-C, SIGTERM and a closed terminal (SIGHUP, unless it is ignored as under nohup) ask the run to
// stop at its next check while the scope lives.
class TInterruptScope {
 public:
  TInterruptScope();
  ~TInterruptScope();
  TInterruptScope(const TInterruptScope&) = delete;
  TInterruptScope& operator=(const TInterruptScope&) = delete;

 private:
  void (*previousInt_)(int);
  void (*previousTerm_)(int);
#ifdef SIGHUP
  void (*previousHup_)(int);
#endif
};
// One of those signals came during the last TInterruptScope.
bool Interrupted();

// The runs and the destination check know folders on a drive (a bare host path could lie anywhere), so
// the host's root gets a drive letter of its own, as Wine's Z: does. The part of the path that exists
// is resolved; missing levels at its end are kept as given. With a trailing backslash.
std::string FolderForRun(const std::string& utf8);

// The --log file of a run, made anew; an error when it cannot be.
void OpenLog(vr::TSetupLog& log, const std::string& utf8);

class TConsoleHost : public vr::TRunHost {
 public:
  TConsoleHost(const std::string& label, bool progress, vr::TSetupLog& log,
               std::vector<std::string> mediaDirs);

  void SetHeading(const std::string& text) override { log_.Line(text); }
  void SetStatus(const std::string& text) override;
  void SetProgressRange(int32_t max) override { max_ = max; }
  void SetProgressPosition(int32_t position) override;
  void HideProgress() override {}
  void ProcessMessages() override {}
  void Wait(uint32_t) override {}
  void Log(const std::string& line) override { log_.Line(line); }
  bool AbortRequested() override;
  bool PromptMedium(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  void Warning(const std::string& text) override;
  void ShowError(const std::string& text) override;
  std::string MediumFolder(int32_t index, const std::string& current) override;

  void Finish() { bar_.Finish(); }

 private:
  void Report(const std::string& utf8);
  ProgressBar bar_;
  vr::TSetupLog& log_;
  vr::TMediaFolders media_;
  std::string status_;
  int64_t position_ = 0, max_ = 0;
  bool aborted_ = false;
};

}  // namespace vrtool
