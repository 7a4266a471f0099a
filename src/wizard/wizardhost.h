// The wizard window as the host of the install and uninstall runs: labels and the bar of the run's
// page, the message queue, the standard dialogs, and the modal result as the abort signal. What a run's
// end means for the window (its modal result, its buttons) the wizard decides from the run's outcome.
#pragma once

#include "wizard/runhost.h"

namespace vr {

class TFormType;

class TWizardRunHost : public TRunHost {
 public:
  explicit TWizardRunHost(TFormType& form) : form_(form) {}

  void SetHeading(const std::string& text) override;
  void SetStatus(const std::string& text) override;
  void SetProgressRange(int32_t max) override;
  void SetProgressPosition(int32_t position) override;
  void HideProgress() override;
  void ProcessMessages() override;
  void Wait(uint32_t milliseconds) override;
  // The close box asks for Cancel; during a run it means the same as Abort and asks the same question.
  bool AbortRequested() override;
  bool PromptMedium(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  void Warning(const std::string& text) override;
  void ShowError(const std::string& text) override;

 private:
  TFormType& form_;
};

}  // namespace vr
