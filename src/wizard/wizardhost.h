// The wizard window as the host of the install and uninstall runs: labels and the bar of the run's
// page, the message queue, the standard dialogs, and the modal result as the abort signal.
#pragma once

#include "wizard/runhost.h"

namespace vr {

class TFormType;

class TWizardRunHost : public TRunHost {
 public:
  explicit TWizardRunHost(TFormType& form) : form_(form) {}

  void SetCaption(const std::string& text) override;
  void SetHeading(const std::string& text) override;
  void SetStatus(const std::string& text) override;
  void SetProgressRange(int32_t max) override;
  void SetProgressPosition(int32_t position) override;
  void HideProgress() override;
  void HideNavigation(bool keepBack) override;
  void ProcessMessages() override;
  void BringToFront() override;
  void Wait(uint32_t milliseconds) override;
  // The close box asks for Cancel; during a run it means the same as Abort and asks the same question.
  bool AbortRequested() override;
  void SetModalResult(int result) override;
  bool PromptMedium(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  void Warning(const std::string& text) override;

 private:
  TFormType& form_;
};

}  // namespace vr
