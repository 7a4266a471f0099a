// The widget set of real windows, checked through the windows it makes (Windows builds, under Wine).
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "framework/controls.h"
#include "framework/dialogs.h"
#include "framework/forms.h"
#include "framework/win32/win32widgets.h"
#include "startup/gradbox.h"
#include "support/win32_testutil.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

namespace vr {
namespace {

class TWin32Session {
 public:
  TWin32Session() {
    Application->DestroyComponents();
    previous_ = Application->SetWidgetSet(CreateWin32WidgetSet());
    Application->ClearTerminated();
  }
  ~TWin32Session() {
    Application->DestroyComponents();
    while (!Application->Forms().empty()) delete Application->Forms().back();
    Application->SetWidgetSet(std::move(previous_));
  }

 private:
  std::unique_ptr<TWidgetSet> previous_;
};

// For a look by eye (a screenshot): VR_SHOW_MS keeps the windows up that many milliseconds.
int ShowMilliseconds() {
  const char* ms = std::getenv("VR_SHOW_MS");
  return ms ? std::atoi(ms) : 0;
}
void ShowForALook() {
  DWORD until = GetTickCount() + static_cast<DWORD>(ShowMilliseconds());
  while (GetTickCount() < until) {
    Application->ProcessMessages();
    Sleep(20);
  }
}

class TWinForm : public TForm {
 public:
  explicit TWinForm(TComponent* owner) : TForm(owner) {
    SetBorderStyle(TFormBorderStyle::bsDialog);
    SetPosition(TPosition::poScreenCenter);
    SetClientSize(497, 336);
    SetCaption("インストールタイプの選択");
    Notebook = new TNotebook(this);
    Notebook->SetParent(this);
    Notebook->SetBounds(0, 0, 497, 293);
    TPage* hello = Notebook->AddPage("Hello");
    EditHello = new TRichEdit(this);
    EditHello->SetParent(hello);
    EditHello->SetBounds(8, 8, 481, 200);
    EditHello->SetReadOnly(true);
    EditHello->SetPlainText(true);
    EditHello->SetScrollBars(TScrollStyle::ssVertical);
    EditHello->SetLinesText("ようこそ。\r\nセットアップを開始します。");
    CheckData = new TCheckBox(this);
    CheckData->SetParent(hello);
    CheckData->SetBounds(24, 216, 200, 17);
    CheckData->SetCaption("シナリオ・グラフィック");
    Label = new TLabel(this);
    Label->SetParent(hello);
    Label->SetBounds(24, 240, 10, 12);
    Label->SetCaption("インストール先を選択してください");
    Progress = new TProgressBar(this);
    Progress->SetParent(hello);
    Progress->SetBounds(16, 260, 461, 16);
    btnNext = new TButton(this);
    btnNext->SetParent(this);
    btnNext->SetBounds(324, 300, 75, 25);
    btnNext->SetCaption("次へ(&N) >");
    btnNext->SetDefault(true);
    btnNext->OnClick = [this](TObject*) {
      ++nextClicks;
      SetModalResult(mrOk);
    };
    btnAbort = new TButton(this);
    btnAbort->SetParent(this);
    btnAbort->SetBounds(416, 300, 75, 25);
    btnAbort->SetCaption("中断(&A)");
    btnAbort->SetModalResult(mrAbort);
  }
  TNotebook* Notebook;
  TRichEdit* EditHello;
  TCheckBox* CheckData;
  TLabel* Label;
  TProgressBar* Progress;
  TButton* btnNext;
  TButton* btnAbort;
  int nextClicks = 0;
};

TEST(Win32Forms, WindowsCarryTheModelsState) {
  TWin32Session session;
  auto* form = CreateForm<TWinForm>(Application);
  form->Show();
  HWND hwnd = H(form);
  ASSERT_TRUE(IsWindow(hwnd));
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_EQ(TextOf(hwnd), L"インストールタイプの選択");
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 497);
  EXPECT_EQ(client.bottom, 336);
  LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & WS_THICKFRAME);
  RECT outer;
  GetWindowRect(hwnd, &outer);
  EXPECT_EQ(outer.right - outer.left, form->Width());
  EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - form->Width()) / 2);

  HWND next = H(form->btnNext);
  EXPECT_EQ(TextOf(next), L"次へ(&N) >");
  EXPECT_TRUE(GetWindowLongW(next, GWL_STYLE) & BS_DEFPUSHBUTTON);
  form->btnNext->SetCaption("インストール");
  EXPECT_EQ(TextOf(next), L"インストール");
  form->btnNext->SetEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(next));
  form->btnNext->SetEnabled(true);
  EXPECT_TRUE(IsWindowEnabled(next));
  form->btnAbort->Hide();
  EXPECT_FALSE(IsWindowVisible(H(form->btnAbort)));

  // The form's font: "ＭＳ Ｐゴシック", 12 pixels, Shift-JIS.
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(next, WM_GETFONT, 0, 0));
  LOGFONTW lf{};
  ASSERT_TRUE(GetObjectW(font, sizeof(lf), &lf));
  EXPECT_EQ(lf.lfHeight, -12);
  EXPECT_EQ(lf.lfCharSet, SHIFTJIS_CHARSET);
  EXPECT_EQ(std::wstring(lf.lfFaceName), L"ＭＳ Ｐゴシック");

  // Rich edit: the Japanese text arrives whole, read-only.
  HWND rich = H(form->EditHello);
  wchar_t cls[64];
  GetClassNameW(rich, cls, 64);
  EXPECT_EQ(_wcsicmp(cls, L"RICHEDIT50W"), 0) << cls;
  std::wstring richText = TextOf(rich);
  EXPECT_NE(richText.find(L"ようこそ。"), std::wstring::npos);
  EXPECT_NE(richText.find(L"セットアップを開始します。"), std::wstring::npos);
  EXPECT_TRUE(GetWindowLongW(rich, GWL_STYLE) & ES_READONLY);

  // Check box and progress bar follow the model; a click in the window reaches the model.
  HWND check = H(form->CheckData);
  EXPECT_EQ(TextOf(check), L"シナリオ・グラフィック");
  form->CheckData->SetChecked(true);
  EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), BST_CHECKED);
  SendMessageW(check, BM_CLICK, 0, 0);
  EXPECT_FALSE(form->CheckData->Checked());
  EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  form->Progress->SetRange(0, 400000000);
  form->Progress->SetPosition(123456789);
  EXPECT_EQ(SendMessageW(H(form->Progress), PBM_GETPOS, 0, 0), 123456789);

  // The auto-sized label was measured with the real font.
  EXPECT_GT(form->Label->Width(), 100);
  EXPECT_LT(form->Label->Width(), 16 * 12 + 1);

  // A new page hides the controls of the old one.
  TPage* other = form->Notebook->AddPage("License");
  form->Notebook->SetActivePage("License");
  EXPECT_FALSE(IsWindowVisible(check));
  EXPECT_TRUE(IsWindowVisible(H(other)));
  form->Notebook->SetActivePage("Hello");
  EXPECT_TRUE(IsWindowVisible(check));

  ShowForALook();
  SendMessageW(next, BM_CLICK, 0, 0);
  EXPECT_EQ(form->nextClicks, 1);
  delete form;
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(IsWindow(next));
}

TEST(Win32Forms, ModalLoopEnterAndCloseBox) {
  TWin32Session session;
  auto* form = CreateForm<TWinForm>(Application);
  // Enter, posted as the user would type it, presses the default button inside the modal loop.
  form->OnShow = [form](TObject*) {
    HWND focus = GetFocus();
    PostMessageW(focus ? focus : H(form), WM_KEYDOWN, VK_RETURN, 0);
  };
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_EQ(form->nextClicks, 1);
  EXPECT_FALSE(IsWindowVisible(H(form)));
  // The close box gives Cancel, after the close query.
  int queries = 0;
  form->OnCloseQuery = [&](TObject*, bool& canClose) { canClose = ++queries > 1; };
  form->OnShow = [form](TObject*) {
    PostMessageW(H(form), WM_CLOSE, 0, 0);
    PostMessageW(H(form), WM_CLOSE, 0, 0);
  };
  EXPECT_EQ(form->ShowModal(), mrCancel);
  EXPECT_EQ(queries, 2);
  // A default button inside a page (not a direct child of the form) is found by Enter too.
  auto* onPage = new TButton(form);
  onPage->SetParent(form->Notebook->Pages(0));
  onPage->SetBounds(300, 216, 75, 25);
  onPage->SetCaption("再試行");
  onPage->SetModalResult(mrRetry);
  onPage->SetDefault(true);
  form->OnCloseQuery = nullptr;
  form->OnShow = [form](TObject*) {
    HWND focus = GetFocus();
    PostMessageW(focus ? focus : H(form), WM_KEYDOWN, VK_RETURN, 0);
  };
  EXPECT_EQ(form->ShowModal(), mrRetry);
  EXPECT_EQ(form->nextClicks, 1);
}

HWND gDialog = nullptr;
std::wstring gDialogText;
std::wstring gButtons;

void CALLBACK AnswerNo(HWND, UINT, UINT_PTR id, DWORD) {
  HWND dlg = FindWindowW(L"VrForm", L"確認");
  if (!dlg) return;
  KillTimer(nullptr, id);
  gDialog = dlg;
  for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    std::wstring t = TextOf(child);
    gButtons += t + L"|";
    if (t == L"いいえ(&N)") PostMessageW(child, BM_CLICK, 0, 0);
  }
}

TEST(Win32Forms, MessageDialogShowsJapaneseButtons) {
  TWin32Session session;
  UINT_PTR timer = SetTimer(nullptr, 0, 50 + ShowMilliseconds(), AnswerNo);
  ASSERT_NE(timer, 0u);
  EXPECT_EQ(ConfirmDlg("インストールを中断しますか？"), mrNo);
  EXPECT_NE(gDialog, nullptr);
  EXPECT_EQ(gButtons, L"はい(&Y)|いいえ(&N)|");
  EXPECT_FALSE(IsWindow(gDialog));
}

TEST(Win32Forms, GradientPaintsThroughTheWindow) {
  TWin32Session session;
  auto* form = new TForm(Application);
  form->SetBorderStyle(TFormBorderStyle::bsDialog);
  form->SetClientSize(300, 200);
  form->SetCaption("グラデーション");
  auto* grad = new TGradBox(form);
  grad->SetParent(form);
  grad->SetAlign(TAlign::alClient);
  grad->SetStartColor(MakeColor(0, 0, 255));
  grad->SetEndColor(MakeColor(0, 0, 128));
  auto* label = new TLabel(form);
  label->SetParent(form);
  label->SetAutoSize(false);
  label->SetColor(clBlack);
  label->SetBounds(0, 180, 300, 12);
  TFont white = form->Font();
  white.Color = clWhite;
  label->SetFont(white);
  label->SetCaption("フッター");
  form->Show();
  HWND hwnd = H(form);
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  Application->ProcessMessages();
  HDC dc = GetDC(hwnd);
  EXPECT_EQ(static_cast<TColor>(GetPixel(dc, 5, 1)), MakeColor(0, 0, 255));
  EXPECT_EQ(static_cast<TColor>(GetPixel(dc, 5, 100)),
            grad->BandColor(50, MakeColor(0, 0, 255), MakeColor(0, 0, 128)));
  EXPECT_EQ(static_cast<TColor>(GetPixel(dc, 299, 191)), clBlack);
  ReleaseDC(hwnd, dc);
  ShowForALook();
}

}  // namespace
}  // namespace vr

#endif  // _WIN32
