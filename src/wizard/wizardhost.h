// The wizard window as the host of the install and uninstall runs: texts go to the labels of the page
// the run is on ("copy" or "delete"), questions to the standard message dialogs, and the abort signal is
// the window's modal result.
#pragma once

#include "wizard/insttype.h"
#include "wizard/runhost.h"

namespace vr {

class TWizardRunHost : public TRunHost {
 public:
  explicit TWizardRunHost(TFormType& form) : form_(form) {}

  void SetCaption(const std::string& text) override;
  // LabelCopyCap on "copy", LabelDelTitle on "delete".
  void SetHeading(const std::string& text) override;
  // LabelCopy on "copy", LabelDel on "delete".
  void SetStatus(const std::string& text) override;
  void SetProgressRange(int32_t max) override;
  void SetProgressPosition(int32_t position) override;
  void HideProgress() override;
  void HideNavigation(bool keepBack) override;
  void ProcessMessages() override;
  void BringToFront() override;
  void Wait(uint32_t milliseconds) override;
  bool AbortRequested() override;
  void SetModalResult(int result) override;
  bool PromptMedium(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  void Warning(const std::string& text) override;

 private:
  bool OnDeletePage() const { return form_.CurrentPage() == TFormType::pgDelete; }

  TFormType& form_;
};

}  // namespace vr
