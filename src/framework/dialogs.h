// The standard message dialog and the plain system message box.
#pragma once

#include <string>
#include <vector>

#include "framework/controls.h"
#include "framework/forms.h"

namespace vr {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum class TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore };
using TMsgDlgButtons = std::vector<TMsgDlgBtn>;

// Everything a widget set needs to show one message dialog.
struct TMsgDlgRequest {
  TMsgDlgType Type = TMsgDlgType::mtCustom;
  std::string Caption;
  std::string Text;
  TSystemIcon Icon = TSystemIcon::siNone;
  TMsgDlgButtons Buttons;
  std::vector<std::string> ButtonCaptions;  // per button
  std::vector<int> Results;                 // modal result per button
  int DefaultIndex = 0;                     // button pressed by Enter
  int CancelIndex = 0;                      // button pressed by Escape
};

// "警告", "エラー", "情報", "確認"; the application title for mtCustom.
std::string MsgDlgCaption(TMsgDlgType type);
TSystemIcon MsgDlgIcon(TMsgDlgType type);
// "はい(&Y)", "いいえ(&N)", "OK", "キャンセル", "中止(&A)", "再試行(&R)", "無視(&I)".
std::string MsgDlgButtonCaption(TMsgDlgBtn button);
int MsgDlgButtonResult(TMsgDlgBtn button);
TMsgDlgRequest MakeMsgDlgRequest(const std::string& text, TMsgDlgType type, const TMsgDlgButtons& buttons);

// Shows the message dialog and returns the modal result of the button chosen (mrCancel when it was
// closed without one).
int MessageDlg(const std::string& text, TMsgDlgType type, const TMsgDlgButtons& buttons);

// The four forms every question and warning of the program takes.
// Warning: caption "警告", warning icon, "OK". Returns mrOk.
int WarningDlg(const std::string& text);
// Warning question: caption "警告", warning icon, "はい(&Y)" and "いいえ(&N)". Returns mrYes or mrNo.
int WarningYesNoDlg(const std::string& text);
// Confirmation: caption "確認", question icon, "はい(&Y)" and "いいえ(&N)". Returns mrYes or mrNo.
int ConfirmDlg(const std::string& text);
// Information with abort: caption "情報", information icon, "OK" and "中止(&A)". Returns mrOk or mrAbort.
int InfoAbortDlg(const std::string& text);

// Flags of the system message box (the values the system uses).
constexpr unsigned mbfOk = 0x0;
constexpr unsigned mbfOkCancel = 0x1;
constexpr unsigned mbfYesNo = 0x4;
constexpr unsigned mbfIconError = 0x10;
constexpr unsigned mbfIconQuestion = 0x20;
constexpr unsigned mbfIconWarning = 0x30;
constexpr unsigned mbfIconInformation = 0x40;

// The system's own message box, without owner; returns the command identifier (1 OK, 2 Cancel,
// 6 Yes, 7 No).
int SysMessageBox(const std::string& text, const std::string& caption, unsigned flags);

// The message dialog as a form of the model, laid out for the font's text size; windowed widget sets
// show it modally. The chosen button's modal result closes it.
class TMessageForm : public TForm {
 public:
  TMessageForm(TComponent* owner, const TMsgDlgRequest& request);
  TIconImage* Image = nullptr;
  TLabel* Message = nullptr;
  std::vector<TButton*> Buttons;
};

}  // namespace vr
