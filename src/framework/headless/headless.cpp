#include "framework/headless/headless.h"

#include <algorithm>
#include <cstdlib>

#include "platform/codepage.h"
#include "platform/platform.h"

namespace vr {

bool IsScriptError(const std::exception& e) { return dynamic_cast<const EScriptError*>(&e) != nullptr; }

namespace {

std::string Describe(const TForm* form) {
  if (!form) return "(no form)";
  std::string s = "form";
  if (!form->Name().empty()) s += " " + form->Name();
  return s + " \"" + Cp932ToUtf8(form->Caption()) + "\"";
}

std::string Describe(const TDialogRecord& d) {
  static const char* const kinds[] = {"message dialog", "system message box", "error report"};
  return std::string(kinds[static_cast<int>(d.Kind)]) + " \"" + Cp932ToUtf8(d.Caption) + "\": \"" +
         Cp932ToUtf8(d.Text) + "\"";
}

std::string Describe(const TControl* c) {
  return c->Name().empty() ? "\"" + Cp932ToUtf8(c->Caption()) + "\"" : c->Name();
}

}  // namespace

THeadlessWidgetSet& THeadlessWidgetSet::Then(TStep step) {
  steps_.push_back(TScriptStep{nullptr, std::move(step)});
  return *this;
}

THeadlessWidgetSet& THeadlessWidgetSet::When(TReady ready, TStep step) {
  steps_.push_back(TScriptStep{std::move(ready), std::move(step)});
  return *this;
}

THeadlessWidgetSet& THeadlessWidgetSet::Answer(TMsgDlgType type, const std::string& textPart, int result) {
  TAnswer a;
  a.Kind = TDialogKind::MessageDialog;
  a.Type = type;
  a.TextPart = textPart;
  a.Result = result;
  answers_.push_back(std::move(a));
  return *this;
}

THeadlessWidgetSet& THeadlessWidgetSet::Answer(TDecide decide) {
  TAnswer a;
  a.Decide = std::move(decide);
  answers_.push_back(std::move(a));
  return *this;
}

THeadlessWidgetSet& THeadlessWidgetSet::AnswerSystemBox(const std::string& textPart, int result) {
  TAnswer a;
  a.Kind = TDialogKind::SystemBox;
  a.TextPart = textPart;
  a.Result = result;
  answers_.push_back(std::move(a));
  return *this;
}

void THeadlessWidgetSet::ShowForm(TForm& form, bool visible) {
  modalStack_.erase(std::remove(modalStack_.begin(), modalStack_.end(), &form), modalStack_.end());
  if (visible && form.Modal()) modalStack_.push_back(&form);
  if (visible) FrontForm = &form;
}

bool THeadlessWidgetSet::RunStep(TForm* active, bool mustRun, const std::string& waiting) {
  if (steps_.empty()) {
    if (mustRun) throw EScriptError(waiting + " waits for input, but the script has no step left");
    return false;
  }
  if (steps_.front().Ready && !steps_.front().Ready(active)) {
    if (mustRun) throw EScriptError(waiting + " waits for input, but the next script step is not ready");
    return false;
  }
  TStep step = std::move(steps_.front().Step);
  steps_.pop_front();
  try {
    step(active);
  } catch (const EScriptError&) {
    throw;
  } catch (const std::exception& e) {
    // What a message loop does with an error raised by an event handler.
    Application->HandleException(e);
  }
  return true;
}

void THeadlessWidgetSet::HandleMessage(TForm& form) {
  RunStep(ActiveModalForm() ? ActiveModalForm() : &form, true, "the modal " + Describe(&form));
}

void THeadlessWidgetSet::ProcessMessages() {
  ++ProcessMessagesCalls;
  RunStep(ActiveModalForm(), false, std::string());
}

int THeadlessWidgetSet::Reply(TDialogRecord record, const std::vector<int>& allowed) {
  if (answers_.empty()) {
    Dialogs.push_back(record);
    throw EScriptError("unexpected " + Describe(record));
  }
  TAnswer a = std::move(answers_.front());
  answers_.pop_front();
  if (a.Kind && *a.Kind != record.Kind) {
    Dialogs.push_back(record);
    throw EScriptError("the script expected another kind of dialog, got " + Describe(record));
  }
  if (a.Type && *a.Type != record.Type) {
    Dialogs.push_back(record);
    throw EScriptError("the script expected another dialog type, got " + Describe(record));
  }
  if (!a.TextPart.empty() && record.Text.find(a.TextPart) == std::string::npos) {
    Dialogs.push_back(record);
    throw EScriptError("the script expected a dialog containing \"" + Cp932ToUtf8(a.TextPart) + "\", got " +
                       Describe(record));
  }
  int result = a.Decide ? a.Decide(record) : a.Result;
  if (std::find(allowed.begin(), allowed.end(), result) == allowed.end()) {
    Dialogs.push_back(record);
    throw EScriptError("the script answered " + std::to_string(result) + ", which the " + Describe(record) +
                       " cannot give");
  }
  record.Answer = result;
  Dialogs.push_back(record);
  return result;
}

int THeadlessWidgetSet::MessageDlg(const TMsgDlgRequest& request) {
  TDialogRecord r;
  r.Kind = TDialogKind::MessageDialog;
  r.Type = request.Type;
  r.Caption = request.Caption;
  r.Text = request.Text;
  r.Icon = request.Icon;
  r.Buttons = request.ButtonCaptions;
  std::vector<int> allowed = request.Results;
  allowed.push_back(mrCancel);  // the close box
  return Reply(std::move(r), allowed);
}

int THeadlessWidgetSet::SystemMessageBox(const std::string& text, const std::string& caption,
                                         unsigned flags) {
  TDialogRecord r;
  r.Kind = TDialogKind::SystemBox;
  r.Flags = flags;
  r.Caption = caption;
  r.Text = text;
  switch (flags & 0xF0) {
    case mbfIconError:
      r.Icon = TSystemIcon::siError;
      break;
    case mbfIconQuestion:
      r.Icon = TSystemIcon::siQuestion;
      break;
    case mbfIconWarning:
      r.Icon = TSystemIcon::siWarning;
      break;
    case mbfIconInformation:
      r.Icon = TSystemIcon::siInformation;
      break;
    default:
      break;
  }
  std::vector<int> allowed;
  switch (flags & 0xF) {
    case mbfOkCancel:
      r.Buttons = {"OK", "キャンセル"};
      allowed = {mrOk, mrCancel};
      break;
    case mbfYesNo:
      r.Buttons = {"はい(&Y)", "いいえ(&N)"};
      allowed = {mrYes, mrNo};
      break;
    default:
      r.Buttons = {"OK"};
      allowed = {mrOk};
      break;
  }
  return Reply(std::move(r), allowed);
}

void THeadlessWidgetSet::ShowException(const std::string& title, const std::string& message) {
  Errors.push_back(message);
  TDialogRecord r;
  r.Kind = TDialogKind::ErrorReport;
  r.Caption = title;
  r.Text = message;
  r.Icon = TSystemIcon::siError;
  r.Buttons = {"OK"};
  r.Answer = mrOk;
  Dialogs.push_back(std::move(r));
}

TSize EstimateTextExtent(const TFont& font, const std::string& text) {
  int h = std::abs(font.Height);
  if (h == 0) h = 12;
  int lines = 1, width = 0, best = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r') continue;
    if (c == '\n') {
      best = std::max(best, width);
      width = 0;
      ++lines;
      continue;
    }
    if (IsLeadByte(c) && i + 1 < text.size()) {
      width += h;
      ++i;
    } else {
      width += h / 2;
    }
  }
  best = std::max(best, width);
  return TSize{best, lines * h};
}

TSize THeadlessWidgetSet::TextExtent(const TFont& font, const std::string& text) {
  return EstimateTextExtent(font, text);
}

TSize THeadlessWidgetSet::FrameSize(TFormBorderStyle style) {
  switch (style) {
    case TFormBorderStyle::bsNone:
      return TSize{0, 0};
    case TFormBorderStyle::bsSizeable:
      return TSize{8, 27};
    case TFormBorderStyle::bsToolWindow:
      return TSize{6, 21};
    default:
      return TSize{6, 25};
  }
}

std::vector<char> THeadlessWidgetSet::Drives() {
  if (!DriveLetters.empty()) return DriveLetters;
  std::vector<char> drives;
  for (char c = 'C'; c <= 'Z'; ++c) {
    uint32_t attr = Platform().GetFileAttributes(std::string(1, c) + ":\\");
    if (attr != faInvalid && (attr & faDirectory)) drives.push_back(c);
  }
  return drives;
}

namespace {
void RenderTree(TWinControl& control, TCanvas& canvas) {
  canvas.FillRect(control.ClientRect(), ColorToRGB(control.Color()));
  control.PaintControls(canvas, control.ClientRect());
  for (TWinControl* child : control.TabList()) {
    if (!child->Visible()) continue;
    TCanvas::TState saved = canvas.Save();
    canvas.Enter(child->BoundsRect());
    RenderTree(*child, canvas);
    canvas.Restore(saved);
  }
}
}  // namespace

TBitmap24 RenderForm(TForm& form) {
  TBitmap24 bitmap(form.ClientWidth(), form.ClientHeight());
  TCanvas canvas(bitmap.Pixels());
  RenderTree(form, canvas);
  return bitmap;
}

// ---------------------------------------------------------------------------------------------

THeadlessSession::THeadlessSession() {
  Application->DestroyComponents();
  while (!Application->Forms().empty()) delete Application->Forms().back();
  auto widgets = std::make_unique<THeadlessWidgetSet>();
  widgets_ = widgets.get();
  previous_ = Application->SetWidgetSet(std::move(widgets));
  Application->ClearTerminated();
}

THeadlessSession::~THeadlessSession() {
  Application->DestroyComponents();
  while (!Application->Forms().empty()) delete Application->Forms().back();
  Application->ClearTerminated();
  Application->SetWidgetSet(std::move(previous_));
}

namespace headless {

void Click(TControl* control) {
  if (!control->UserClick())
    throw EScriptError("cannot click " + Describe(control) + ": hidden, disabled or blocked");
}

void SetChecked(TCheckBox* box, bool checked) {
  if (box->Checked() != checked) Click(box);
}

void Choose(TRadioButton* radio) { Click(radio); }

void TypeText(TEdit* edit, const std::string& text) {
  if (!edit->UserSetText(text)) throw EScriptError("cannot type into " + Describe(edit));
}

void PressEnter(TForm* form) {
  if (!form->KeyEnter()) throw EScriptError("Enter pressed no button on " + Describe(form));
}

void CloseBox(TForm* form) {
  if (!form->Visible() || !form->AcceptsInput()) throw EScriptError("cannot close " + Describe(form));
  form->Close();
}

void OpenFolder(TDirectoryListBox* list, int index) {
  if (!list->UserOpenItem(index))
    throw EScriptError("cannot open item " + std::to_string(index) + " of " + Describe(list));
}

void SelectDrive(TDriveComboBox* combo, char letter) {
  if (!combo->UserSelectDrive(letter))
    throw EScriptError(std::string("cannot choose drive ") + letter + " in " + Describe(combo));
}

}  // namespace headless

}  // namespace vr
