// The wizard window as a run's host.
#include "wizard/wizardhost.h"

#include "framework/dialogs.h"
#include "platform/platform.h"
#include "wizard/insttype.h"

namespace vr {

namespace {

bool Deleting(const TFormType& form) { return form.CurrentPage() == TFormType::pgDelete; }

}  // namespace

void TWizardRunHost::SetHeading(const std::string& text) {
  (Deleting(form_) ? form_.LabelDelTitle : form_.LabelCopyCap)->SetCaption(text);
}

void TWizardRunHost::SetStatus(const std::string& text) {
  (Deleting(form_) ? form_.LabelDel : form_.LabelCopy)->SetCaption(text);
}

void TWizardRunHost::SetProgressRange(int32_t max) { form_.Progress->SetRange(0, max); }

void TWizardRunHost::SetProgressPosition(int32_t position) { form_.Progress->SetPosition(position); }

void TWizardRunHost::HideProgress() {
  form_.LabelCopy->SetVisible(false);
  form_.Progress->SetVisible(false);
}

void TWizardRunHost::ProcessMessages() { Application->ProcessMessages(); }

void TWizardRunHost::Wait(uint32_t milliseconds) {
  Platform().Sleep(milliseconds);
  form_.BringToFront();
}

bool TWizardRunHost::AbortRequested() {
  if (form_.ModalResult() == mrCancel) {
    // Closing the window must not end a run half way without the question, nor be asked about once
    // the run is over: it is the Abort button's question, and only Yes stops the run.
    form_.SetModalResult(mrNone);
    form_.btnAbortClick(nullptr);
  }
  return form_.ModalResult() == mrAbort;
}

bool TWizardRunHost::PromptMedium(const std::string& text) { return InfoAbortDlg(text) == mrOk; }

bool TWizardRunHost::Confirm(const std::string& text) { return ConfirmDlg(text) == mrYes; }

void TWizardRunHost::Warning(const std::string& text) { WarningDlg(text); }

void TWizardRunHost::ShowError(const std::string& text) { Application->ShowException(text); }

}  // namespace vr
