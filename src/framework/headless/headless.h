// The widget set without a screen. A script stands in for the user: its steps run whenever the
// program lets input in (a modal loop waiting, ProcessMessages), and a queue of answers replies to the
// message dialogs. Everything the program shows is recorded; input the script did not foresee (a
// modal loop with no step left, a dialog with no answer) fails with EScriptError.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/controls.h"
#include "framework/dialogs.h"
#include "framework/forms.h"
#include "framework/widgetset.h"

namespace vr {

// The script and the program disagree; never shown by the default error report.
class EScriptError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};
bool IsScriptError(const std::exception& e);

enum class TDialogKind { MessageDialog, SystemBox, ErrorReport };

// One dialog the program showed.
struct TDialogRecord {
  TDialogKind Kind = TDialogKind::MessageDialog;
  TMsgDlgType Type = TMsgDlgType::mtCustom;  // message dialogs
  unsigned Flags = 0;                        // system message boxes
  std::string Caption;
  std::string Text;
  TSystemIcon Icon = TSystemIcon::siNone;
  std::vector<std::string> Buttons;
  int Answer = 0;
};

class THeadlessWidgetSet : public TWidgetSet {
 public:
  using TStep = std::function<void(TForm* active)>;
  using TReady = std::function<bool(TForm* active)>;
  using TDecide = std::function<int(const TDialogRecord& dialog)>;

  // A step run at the next chance to act; `active` is the innermost modal form (or nullptr).
  THeadlessWidgetSet& Then(TStep step);
  // A step that waits until ready(active) holds at a chance to act; the steps after it wait too.
  THeadlessWidgetSet& When(TReady ready, TStep step);
  size_t PendingSteps() const { return steps_.size(); }

  // The next message dialog must be of `type` and contain `textPart`; it is answered with `result`.
  THeadlessWidgetSet& Answer(TMsgDlgType type, const std::string& textPart, int result);
  // The next dialog of any kind is answered by decide (its record is complete but for Answer).
  THeadlessWidgetSet& Answer(TDecide decide);
  // The next dialog must be a system message box containing textPart.
  THeadlessWidgetSet& AnswerSystemBox(const std::string& textPart, int result);
  size_t PendingAnswers() const { return answers_.size(); }

  // Everything shown, oldest first.
  std::vector<TDialogRecord> Dialogs;
  // Texts of the default error report.
  std::vector<std::string> Errors;
  int ProcessMessagesCalls = 0;
  // The form last brought to the front.
  TForm* FrontForm = nullptr;

  int Screen_Width = 1024;
  int Screen_Height = 768;
  // Drive letters reported to drive lists; empty: the drives the platform has (C: to Z:).
  std::vector<char> DriveLetters;

  // The innermost form in a modal loop, or nullptr.
  TForm* ActiveModalForm() const { return modalStack_.empty() ? nullptr : modalStack_.back(); }

  // TWidgetSet
  std::unique_ptr<TWidgetPeer> CreatePeer(TWinControl& control) override { return nullptr; }
  void ShowForm(TForm& form, bool visible) override;
  void BringToFront(TForm& form) override { FrontForm = &form; }
  void EnableForm(TForm& form, bool enabled) override {}
  void HandleMessage(TForm& form) override;
  void ProcessMessages() override;
  int MessageDlg(const TMsgDlgRequest& request) override;
  int SystemMessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void ShowException(const std::string& title, const std::string& message) override;
  TSize TextExtent(const TFont& font, const std::string& text) override;
  TColor SysColor(int index) override { return DefaultSysColor(index); }
  int ScreenWidth() override { return Screen_Width; }
  int ScreenHeight() override { return Screen_Height; }
  TSize FrameSize(TFormBorderStyle style) override;
  std::vector<char> Drives() override;
  intptr_t AppHandle() override { return 0; }

 private:
  struct TScriptStep {
    TReady Ready;
    TStep Step;
  };
  struct TAnswer {
    std::optional<TDialogKind> Kind;
    std::optional<TMsgDlgType> Type;
    std::string TextPart;
    int Result = 0;
    TDecide Decide;
  };
  bool RunStep(TForm* active, bool mustRun, const std::string& waiting);
  int Reply(TDialogRecord record, const std::vector<int>& allowed);
  std::deque<TScriptStep> steps_;
  std::deque<TAnswer> answers_;
  std::vector<TForm*> modalStack_;
};

// Text size estimate without a screen: half the font height per single-byte character, the full
// height per double-byte character, the height per line.
TSize EstimateTextExtent(const TFont& font, const std::string& text);

// Paints a form's client area as the window would show it, without text or system icons: each
// windowed control fills its area with its colour, then its non-windowed children paint on it.
TBitmap24 RenderForm(TForm& form);

// Installs a fresh headless widget set for the life of the object; on the way out every form is
// freed and the previous widget set comes back.
class THeadlessSession {
 public:
  THeadlessSession();
  ~THeadlessSession();
  THeadlessSession(const THeadlessSession&) = delete;
  THeadlessSession& operator=(const THeadlessSession&) = delete;
  THeadlessWidgetSet& Widgets() { return *widgets_; }
  THeadlessWidgetSet* operator->() { return widgets_; }

 private:
  THeadlessWidgetSet* widgets_;
  std::unique_ptr<TWidgetSet> previous_;
};

// The user's actions for scripts; each raises EScriptError when the user could not do it (control
// hidden, disabled, on a form blocked by a modal loop).
namespace headless {
void Click(TControl* control);
void SetChecked(TCheckBox* box, bool checked);
void Choose(TRadioButton* radio);
void TypeText(TEdit* edit, const std::string& text);
void PressEnter(TForm* form);
// The close box of the title bar.
void CloseBox(TForm* form);
void OpenFolder(TDirectoryListBox* list, int index);
void SelectDrive(TDriveComboBox* combo, char letter);
}  // namespace headless

}  // namespace vr
