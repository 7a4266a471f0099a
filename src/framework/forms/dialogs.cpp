#include "framework/dialogs.h"

#include <algorithm>

#include "framework/widgetset.h"

namespace vr {

std::string MsgDlgCaption(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning:
      return "警告";
    case TMsgDlgType::mtError:
      return "エラー";
    case TMsgDlgType::mtInformation:
      return "情報";
    case TMsgDlgType::mtConfirmation:
      return "確認";
    case TMsgDlgType::mtCustom:
      break;
  }
  return Application->Title();
}

TSystemIcon MsgDlgIcon(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning:
      return TSystemIcon::siWarning;
    case TMsgDlgType::mtError:
      return TSystemIcon::siError;
    case TMsgDlgType::mtInformation:
      return TSystemIcon::siInformation;
    case TMsgDlgType::mtConfirmation:
      return TSystemIcon::siQuestion;
    case TMsgDlgType::mtCustom:
      break;
  }
  return TSystemIcon::siNone;
}

std::string MsgDlgButtonCaption(TMsgDlgBtn button) {
  switch (button) {
    case TMsgDlgBtn::mbYes:
      return "はい(&Y)";
    case TMsgDlgBtn::mbNo:
      return "いいえ(&N)";
    case TMsgDlgBtn::mbOK:
      return "OK";
    case TMsgDlgBtn::mbCancel:
      return "キャンセル";
    case TMsgDlgBtn::mbAbort:
      return "中止(&A)";
    case TMsgDlgBtn::mbRetry:
      return "再試行(&R)";
    case TMsgDlgBtn::mbIgnore:
      return "無視(&I)";
  }
  return std::string();
}

int MsgDlgButtonResult(TMsgDlgBtn button) {
  switch (button) {
    case TMsgDlgBtn::mbYes:
      return mrYes;
    case TMsgDlgBtn::mbNo:
      return mrNo;
    case TMsgDlgBtn::mbOK:
      return mrOk;
    case TMsgDlgBtn::mbCancel:
      return mrCancel;
    case TMsgDlgBtn::mbAbort:
      return mrAbort;
    case TMsgDlgBtn::mbRetry:
      return mrRetry;
    case TMsgDlgBtn::mbIgnore:
      return mrIgnore;
  }
  return mrNone;
}

TMsgDlgRequest MakeMsgDlgRequest(const std::string& text, TMsgDlgType type, const TMsgDlgButtons& buttons) {
  TMsgDlgRequest r;
  r.Type = type;
  r.Caption = MsgDlgCaption(type);
  r.Text = text;
  r.Icon = MsgDlgIcon(type);
  r.Buttons = buttons.empty() ? TMsgDlgButtons{TMsgDlgBtn::mbOK} : buttons;
  auto indexOf = [&](TMsgDlgBtn b) {
    auto it = std::find(r.Buttons.begin(), r.Buttons.end(), b);
    return it == r.Buttons.end() ? -1 : static_cast<int>(it - r.Buttons.begin());
  };
  for (TMsgDlgBtn b : r.Buttons) {
    r.ButtonCaptions.push_back(MsgDlgButtonCaption(b));
    r.Results.push_back(MsgDlgButtonResult(b));
  }
  // Enter: OK, else Yes, else the first button. Escape: Cancel, else No, else OK, else the last button.
  r.DefaultIndex = indexOf(TMsgDlgBtn::mbOK);
  if (r.DefaultIndex < 0) r.DefaultIndex = indexOf(TMsgDlgBtn::mbYes);
  if (r.DefaultIndex < 0) r.DefaultIndex = 0;
  r.CancelIndex = indexOf(TMsgDlgBtn::mbCancel);
  if (r.CancelIndex < 0) r.CancelIndex = indexOf(TMsgDlgBtn::mbNo);
  if (r.CancelIndex < 0) r.CancelIndex = indexOf(TMsgDlgBtn::mbOK);
  if (r.CancelIndex < 0) r.CancelIndex = static_cast<int>(r.Buttons.size()) - 1;
  return r;
}

int MessageDlg(const std::string& text, TMsgDlgType type, const TMsgDlgButtons& buttons) {
  return Application->Widgets().MessageDlg(MakeMsgDlgRequest(text, type, buttons));
}

int WarningDlg(const std::string& text) {
  return MessageDlg(text, TMsgDlgType::mtWarning, {TMsgDlgBtn::mbOK});
}

int WarningYesNoDlg(const std::string& text) {
  return MessageDlg(text, TMsgDlgType::mtWarning, {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo});
}

int ConfirmDlg(const std::string& text) {
  return MessageDlg(text, TMsgDlgType::mtConfirmation, {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo});
}

int InfoAbortDlg(const std::string& text) {
  return MessageDlg(text, TMsgDlgType::mtInformation, {TMsgDlgBtn::mbOK, TMsgDlgBtn::mbAbort});
}

int SysMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  return Application->Widgets().SystemMessageBox(text, caption, flags);
}

TMessageForm::TMessageForm(TComponent* owner, const TMsgDlgRequest& request) : TForm(owner) {
  const int margin = 12, buttonWidth = 75, buttonHeight = 25, buttonGap = 8;
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poScreenCenter);
  SetCaption(request.Caption);
  TSize text = Application->Widgets().TextExtent(Font(), request.Text);
  int textLeft = margin, top = margin, contentBottom = margin;
  if (request.Icon != TSystemIcon::siNone) {
    Image = new TIconImage(this);
    Image->SetName("Image");
    Image->SetIcon(request.Icon);
    Image->SetBounds(margin, margin, 32, 32);
    Image->SetParent(this);
    textLeft = margin + 32 + margin;
    contentBottom = margin + 32;
    if (text.cy < 32) top = margin + (32 - text.cy) / 2;
  }
  Message = new TLabel(this);
  Message->SetName("Message");
  Message->SetParent(this);
  Message->SetCaption(request.Text);
  Message->SetBounds(textLeft, top, text.cx, text.cy);
  contentBottom = std::max(contentBottom, top + text.cy);

  int n = static_cast<int>(request.ButtonCaptions.size());
  int buttonsWidth = n * buttonWidth + std::max(0, n - 1) * buttonGap;
  int clientWidth = std::max(textLeft + text.cx + margin, buttonsWidth + 2 * margin);
  clientWidth = std::max(clientWidth, 180);
  int buttonTop = contentBottom + 16;
  SetClientSize(clientWidth, buttonTop + buttonHeight + margin);
  int x = (clientWidth - buttonsWidth) / 2;
  for (int i = 0; i < n; ++i) {
    auto* b = new TButton(this);
    b->SetName("Button" + std::to_string(i));
    b->SetParent(this);
    b->SetCaption(request.ButtonCaptions[static_cast<size_t>(i)]);
    b->SetBounds(x, buttonTop, buttonWidth, buttonHeight);
    b->SetModalResult(request.Results[static_cast<size_t>(i)]);
    if (i == request.DefaultIndex) {
      b->SetDefault(true);
      SetActiveControl(b);
    }
    if (i == request.CancelIndex) b->SetCancel(true);
    Buttons.push_back(b);
    x += buttonWidth + buttonGap;
  }
}

}  // namespace vr
