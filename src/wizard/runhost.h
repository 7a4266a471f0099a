// What the install and uninstall runs need from whoever drives them: the wizard window, the unattended
// mode of the setup program, or the command-line tool. The runs hold all the logic; a host only shows,
// asks and waits.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace vr {

// How a run ended.
enum class TRunEnd {
  reCompleted,    // every step done
  reStopped,      // the user's abort (or the medium prompt given up)
  reFailed,       // an error, or a file or folder that could not be made
  reCheckFailed,  // the data file did not pass its check
};

struct TRunOutcome {
  TRunEnd End = TRunEnd::reCompleted;
  // The destination was put back as it was before the run (the run has told the user so).
  bool RolledBack = false;
  // reFailed: the error that ended the run, already shown through TRunHost::ShowError; empty when the
  // run told the user with a warning of its own.
  std::string Error;
  bool Completed() const { return End == TRunEnd::reCompleted; }
};

class TRunHost {
 public:
  virtual ~TRunHost() = default;

  // --- what the user sees ----------------------------------------------------------------------
  // The page's heading (LabelCopyCap while installing, LabelDelTitle while uninstalling).
  virtual void SetHeading(const std::string& text) = 0;
  // The line under it (LabelCopy, LabelDel).
  virtual void SetStatus(const std::string& text) = 0;
  // The progress bar: range 0 .. max and position, as the bar takes them.
  virtual void SetProgressRange(int32_t max) = 0;
  virtual void SetProgressPosition(int32_t position) = 0;
  // Hides the status line and the progress bar for the rest of the run.
  virtual void HideProgress() = 0;
  // Lets the message queue run.
  virtual void ProcessMessages() = 0;
  // A fixed pause of the run (a window host sleeps and then comes back to the front, since what the
  // run opened before it may have covered the window; unattended hosts and tests need not wait).
  virtual void Wait(uint32_t milliseconds) = 0;
  // One line for the record of what was done; hosts without a log ignore it.
  virtual void Log(const std::string& /*line*/) {}

  // --- the user's answers ----------------------------------------------------------------------
  // The confirmed abort of the user (the wizard's modal result is Abort).
  virtual bool AbortRequested() = 0;
  // The information dialog with OK and Abort; true for OK.
  virtual bool PromptMedium(const std::string& text) = 0;
  // The confirmation dialog (Yes and No); true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  // The warning dialog (OK).
  virtual void Warning(const std::string& text) = 0;
  // The error that ends the run (the framework's error report in a window).
  virtual void ShowError(const std::string& text) = 0;
  // The folder that holds medium `index` (counted from 0) when the run asks for it. A window host
  // keeps the one folder in which the user swaps the media.
  virtual std::string MediumFolder(int32_t /*index*/, const std::string& current) { return current; }
};

// The further media of a host with nobody to ask: medium i (counted from 0) lies in folder i - 1 of the
// list, and each is looked at once, since asking again cannot change what a folder holds.
class TMediaFolders {
 public:
  explicit TMediaFolders(std::vector<std::string> folders) : folders_(std::move(folders)) {}
  enum class TAnswer { Look, NoFolders, NotThere };
  // The answer to the medium prompt `text`: look (once), or give up and why.
  TAnswer Prompt(const std::string& text) {
    if (folders_.empty()) return TAnswer::NoFolders;
    return prompted_.insert(text).second ? TAnswer::Look : TAnswer::NotThere;
  }
  // TRunHost::MediumFolder.
  std::string Folder(int32_t index, const std::string& current) const {
    if (index < 1 || static_cast<size_t>(index) > folders_.size()) return current;
    return folders_[static_cast<size_t>(index) - 1];
  }

 private:
  std::vector<std::string> folders_;
  std::set<std::string> prompted_;
};

}  // namespace vr
