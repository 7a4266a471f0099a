#include "wizard/wizardhost.h"

#include "framework/dialogs.h"
#include "platform/platform.h"

namespace vr {

void TWizardRunHost::SetCaption(const std::string& text) { form_.SetCaption(text); }

void TWizardRunHost::SetHeading(const std::string& text) {
  (OnDeletePage() ? form_.LabelDelTitle : form_.LabelCopyCap)->SetCaption(text);
}

void TWizardRunHost::SetStatus(const std::string& text) {
  (OnDeletePage() ? form_.LabelDel : form_.LabelCopy)->SetCaption(text);
}

void TWizardRunHost::SetProgressRange(int32_t max) { form_.Progress->SetRange(0, max); }

void TWizardRunHost::SetProgressPosition(int32_t position) { form_.Progress->SetPosition(position); }

void TWizardRunHost::HideProgress() {
  form_.LabelCopy->SetVisible(false);
  form_.Progress->SetVisible(false);
}

void TWizardRunHost::HideNavigation(bool keepBack) {
  form_.btnNext->SetVisible(false);
  if (!keepBack) form_.btnBack->SetVisible(false);
}

void TWizardRunHost::ProcessMessages() { Application->ProcessMessages(); }

void TWizardRunHost::BringToFront() { form_.BringToFront(); }

void TWizardRunHost::Wait(uint32_t milliseconds) { Platform().Sleep(milliseconds); }

bool TWizardRunHost::AbortRequested() { return form_.ModalResult() == mrAbort; }

void TWizardRunHost::SetModalResult(int result) { form_.SetModalResult(result); }

bool TWizardRunHost::PromptMedium(const std::string& text) { return InfoAbortDlg(text) == mrOk; }

bool TWizardRunHost::Confirm(const std::string& text) { return ConfirmDlg(text) == mrYes; }

void TWizardRunHost::Warning(const std::string& text) { WarningDlg(text); }

}  // namespace vr
