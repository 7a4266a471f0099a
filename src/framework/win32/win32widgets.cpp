#include "framework/win32/win32widgets.h"

#include <algorithm>
#include <map>
#include <string>
#include <tuple>

#include "framework/controls.h"
#include "framework/dialogs.h"
#include "framework/forms.h"
#include "platform/codepage.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
// clang-format on

namespace vr {

namespace {

const wchar_t kFormClass[] = L"VrForm";
const wchar_t kPanelClass[] = L"VrPanel";
const wchar_t kAppClass[] = L"VrApplication";

std::wstring Wide(const std::string& s) {
  std::u16string u = Cp932ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}

std::string WindowTextOf(HWND hwnd) {
  int n = GetWindowTextLengthW(hwnd);
  std::wstring buffer(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(hwnd, &buffer[0], n + 1);
  return Utf16ToCp932(std::u16string(buffer.begin(), buffer.begin() + std::max(0, n)));
}

}  // namespace

class TWin32WidgetSet;

// The window of one control.
class TWin32Peer : public TWidgetPeer {
 public:
  enum class Kind { Form, Panel, Button, Check, Radio, RichEdit, Edit, Progress, ListBox, Combo };
  TWin32Peer(TWin32WidgetSet& ws, TWinControl& control);
  ~TWin32Peer() override;
  void Changed(TPeerChange what) override;
  void Invalidate(const TRect& r) override {
    RECT rc{r.Left, r.Top, r.Right, r.Bottom};
    InvalidateRect(hwnd_, &rc, FALSE);
  }
  void SetFocus() override { ::SetFocus(hwnd_); }
  bool Focused() const override { return GetFocus() == hwnd_; }
  intptr_t Handle() const override { return reinterpret_cast<intptr_t>(hwnd_); }

  TWinControl& Control() { return control_; }
  Kind kind() const { return kind_; }
  HWND hwnd() const { return hwnd_; }
  int id() const { return id_; }
  WNDPROC oldProc = nullptr;
  bool updating = false;
  // Messages handled by the container window of forms and panels.
  LRESULT ContainerMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 private:
  void ApplyAll();
  void SetTextOfWindow();
  void FillItems();
  void Paint();
  void Command(WPARAM wp, LPARAM lp);
  TWin32WidgetSet& ws_;
  TWinControl& control_;
  Kind kind_;
  HWND hwnd_ = nullptr;
  int id_ = 0;
};

TWin32Peer* PeerOf(HWND hwnd) {
  return hwnd ? reinterpret_cast<TWin32Peer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)) : nullptr;
}

class TWin32WidgetSet : public TWidgetSet, public TCanvasRenderer {
 public:
  TWin32WidgetSet();
  ~TWin32WidgetSet() override;

  std::unique_ptr<TWidgetPeer> CreatePeer(TWinControl& control) override {
    return std::make_unique<TWin32Peer>(*this, control);
  }
  void ShowForm(TForm& form, bool visible) override;
  void BringToFront(TForm& form) override;
  void EnableForm(TForm& form, bool enabled) override;
  void HandleMessage(TForm& form) override;
  void ProcessMessages() override;
  int MessageDlg(const TMsgDlgRequest& request) override;
  int SystemMessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void ShowException(const std::string& title, const std::string& message) override;
  TSize TextExtent(const TFont& font, const std::string& text) override;
  TColor SysColor(int index) override { return static_cast<TColor>(GetSysColor(index)); }
  int ScreenWidth() override { return GetSystemMetrics(SM_CXSCREEN); }
  int ScreenHeight() override { return GetSystemMetrics(SM_CYSCREEN); }
  TSize FrameSize(TFormBorderStyle style) override;
  std::vector<char> Drives() override;
  intptr_t AppHandle() override;
  void TitleChanged(const std::string& title) override {
    if (app_) SetWindowTextW(app_, Wide(title).c_str());
  }

  // TCanvasRenderer, over the memory device context of the window being painted.
  void TextRect(const TRect& rect, const TRect& clip, const std::string& text, const TFont& font,
                TAlignment alignment, bool wordWrap) override;
  void DrawIcon(int x, int y, TSystemIcon icon, const TRect& clip) override;

  HFONT Font(const TFont& font);
  HBRUSH Brush(TColor color);
  int NextId() { return nextId_++; }
  void Register(int id, TWin32Peer* peer) {
    if (peer)
      ids_[id] = peer;
    else
      ids_.erase(id);
  }
  TWin32Peer* PeerById(int id) const {
    auto it = ids_.find(id);
    return it == ids_.end() ? nullptr : it->second;
  }
  HDC paintDC = nullptr;

  static DWORD FormStyle(TFormBorderStyle style, DWORD* exStyle);
  // Loads the control libraries and registers this program's window classes, once, before the first
  // window: a run without windows never loads them.
  static void PrepareWindows();

 private:
  void Dispatch(MSG& msg);
  std::map<std::tuple<std::string, int, int, int>, HFONT> fonts_;
  std::map<TColor, HBRUSH> brushes_;
  std::map<int, TWin32Peer*> ids_;
  HWND app_ = nullptr;
  int nextId_ = 100;
};

namespace {

LRESULT CALLBACK ContainerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  TWin32Peer* peer = PeerOf(hwnd);
  if (!peer) return DefWindowProcW(hwnd, msg, wp, lp);
  try {
    return peer->ContainerMessage(hwnd, msg, wp, lp);
  } catch (const std::exception& e) {
    Application->HandleException(e);
  } catch (...) {
  }
  return 0;
}

// System controls are subclassed to keep Enter and Tab for the dialog keys.
LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  TWin32Peer* peer = PeerOf(hwnd);
  WNDPROC old = peer ? peer->oldProc : nullptr;
  if (!old) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_GETDLGCODE && peer->kind() == TWin32Peer::Kind::RichEdit) {
    LRESULT code = CallWindowProcW(old, hwnd, msg, wp, lp);
    return code & ~(DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTMESSAGE);
  }
  return CallWindowProcW(old, hwnd, msg, wp, lp);
}

LRESULT CALLBACK AppProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TWin32Peer

TWin32Peer::TWin32Peer(TWin32WidgetSet& ws, TWinControl& control) : ws_(ws), control_(control) {
  TWin32WidgetSet::PrepareWindows();
  HINSTANCE inst = GetModuleHandleW(nullptr);
  const wchar_t* cls = kPanelClass;
  DWORD style = WS_CLIPSIBLINGS, ex = 0;
  HWND parent = nullptr;
  if (auto* form = dynamic_cast<TForm*>(&control)) {
    kind_ = Kind::Form;
    cls = kFormClass;
    style = TWin32WidgetSet::FormStyle(form->BorderStyle(), &ex) | WS_CLIPCHILDREN;
    if (auto* owner = dynamic_cast<TForm*>(form->Owner()))
      parent = reinterpret_cast<HWND>(owner->Handle());
    else if (dynamic_cast<TMessageForm*>(form))
      parent = GetActiveWindow();
  } else {
    parent = reinterpret_cast<HWND>(control.Parent()->Peer()->Handle());
    style |= WS_CHILD;
    if (dynamic_cast<TButton*>(&control)) {
      kind_ = Kind::Button;
      cls = L"BUTTON";
      style |= WS_TABSTOP | BS_PUSHBUTTON;
    } else if (dynamic_cast<TCheckBox*>(&control)) {
      kind_ = Kind::Check;
      cls = L"BUTTON";
      style |= WS_TABSTOP | BS_CHECKBOX;
    } else if (dynamic_cast<TRadioButton*>(&control)) {
      kind_ = Kind::Radio;
      cls = L"BUTTON";
      style |= WS_TABSTOP | BS_RADIOBUTTON;
    } else if (auto* rich = dynamic_cast<TRichEdit*>(&control)) {
      kind_ = Kind::RichEdit;
      cls = MSFTEDIT_CLASS;
      style |= WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_NOHIDESEL;
      if (rich->ScrollBars() == TScrollStyle::ssVertical || rich->ScrollBars() == TScrollStyle::ssBoth)
        style |= WS_VSCROLL;
      if (rich->ScrollBars() == TScrollStyle::ssHorizontal || rich->ScrollBars() == TScrollStyle::ssBoth)
        style |= WS_HSCROLL;
      if (rich->ReadOnly()) style |= ES_READONLY;
      ex |= WS_EX_CLIENTEDGE;
    } else if (dynamic_cast<TEdit*>(&control)) {
      kind_ = Kind::Edit;
      cls = L"EDIT";
      style |= WS_TABSTOP | ES_AUTOHSCROLL;
      ex |= WS_EX_CLIENTEDGE;
    } else if (dynamic_cast<TProgressBar*>(&control)) {
      kind_ = Kind::Progress;
      cls = PROGRESS_CLASSW;
    } else if (dynamic_cast<TDirectoryListBox*>(&control)) {
      kind_ = Kind::ListBox;
      cls = L"LISTBOX";
      style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
      ex |= WS_EX_CLIENTEDGE;
    } else if (dynamic_cast<TDriveComboBox*>(&control)) {
      kind_ = Kind::Combo;
      cls = L"COMBOBOX";
      style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
    } else {
      kind_ = Kind::Panel;
      style |= WS_CLIPCHILDREN;
      ex |= WS_EX_CONTROLPARENT;
    }
    if (control.Visible()) style |= WS_VISIBLE;
    if (!control.Enabled()) style |= WS_DISABLED;
    id_ = ws_.NextId();
  }
  int x = control.Left(), y = control.Top(), w = control.Width(), h = control.Height();
  if (kind_ == Kind::Combo) h = std::max(h, 200);  // the drop-down list
  bool ours = kind_ == Kind::Form || kind_ == Kind::Panel;
  hwnd_ = CreateWindowExW(ex, cls, L"", style, x, y, w, h, parent,
                          kind_ == Kind::Form ? nullptr : reinterpret_cast<HMENU>(static_cast<intptr_t>(id_)),
                          inst, ours ? this : nullptr);
  if (!hwnd_) throw EVrError(Format("ウィンドウを作成できません (%d)", {static_cast<int>(GetLastError())}));
  if (!ours) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ws_.Register(id_, this);
    oldProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ControlProc)));
  }
  if (kind_ != Kind::Form)
    SetWindowPos(hwnd_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (kind_ == Kind::RichEdit) SendMessageW(hwnd_, EM_SETTEXTMODE, TM_PLAINTEXT | TM_MULTICODEPAGE, 0);
  ApplyAll();
}

TWin32Peer::~TWin32Peer() {
  if (!hwnd_) return;
  if (id_) ws_.Register(id_, nullptr);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  if (oldProc) SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldProc));
  DestroyWindow(hwnd_);
}

void TWin32Peer::ApplyAll() {
  updating = true;
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(ws_.Font(control_.Font())), FALSE);
  SetTextOfWindow();
  switch (kind_) {
    case Kind::Button:
      Changed(TPeerChange::Default);
      break;
    case Kind::Check:
    case Kind::Radio:
      Changed(TPeerChange::Checked);
      break;
    case Kind::RichEdit: {
      auto& rich = static_cast<TRichEdit&>(control_);
      if (rich.MaxLength() > 0) SendMessageW(hwnd_, EM_EXLIMITTEXT, 0, rich.MaxLength());
      SendMessageW(hwnd_, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(ColorToRGB(control_.Color())));
      SetTextOfWindow();
      break;
    }
    case Kind::Edit:
      SendMessageW(hwnd_, EM_SETREADONLY, static_cast<TEdit&>(control_).ReadOnly(), 0);
      break;
    case Kind::Progress:
      Changed(TPeerChange::Range);
      Changed(TPeerChange::Position);
      break;
    case Kind::ListBox:
    case Kind::Combo:
      FillItems();
      break;
    case Kind::Form: {
      // Outer bounds as the model computed them from the client size.
      SetWindowPos(hwnd_, nullptr, control_.Left(), control_.Top(), control_.Width(), control_.Height(),
                   SWP_NOZORDER | SWP_NOACTIVATE);
      break;
    }
    default:
      break;
  }
  updating = false;
}

void TWin32Peer::SetTextOfWindow() {
  const std::string& text = control_.Caption();
  switch (kind_) {
    case Kind::Panel:
    case Kind::Progress:
    case Kind::ListBox:
    case Kind::Combo:
      return;
    case Kind::RichEdit: {
      // The text goes in as code page 932 bytes; the control converts.
      SETTEXTEX st{ST_DEFAULT, 932};
      SendMessageW(hwnd_, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&st),
                   reinterpret_cast<LPARAM>(text.c_str()));
      return;
    }
    default:
      SetWindowTextW(hwnd_, Wide(text).c_str());
  }
}

void TWin32Peer::FillItems() {
  bool was = updating;
  updating = true;
  if (kind_ == Kind::ListBox) {
    auto& list = static_cast<TDirectoryListBox&>(control_);
    SendMessageW(hwnd_, LB_RESETCONTENT, 0, 0);
    for (const auto& item : list.Items()) {
      std::wstring text(static_cast<size_t>(item.Level) * 2, L' ');
      text += (item.Open ? L"\x25BD " : L"\x25B7 ") + Wide(item.Text);
      SendMessageW(hwnd_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    SendMessageW(hwnd_, LB_SETITEMHEIGHT, 0, list.ItemHeight());
    SendMessageW(hwnd_, LB_SETCURSEL, static_cast<WPARAM>(list.ItemIndex()), 0);
  } else if (kind_ == Kind::Combo) {
    auto& combo = static_cast<TDriveComboBox&>(control_);
    SendMessageW(hwnd_, CB_RESETCONTENT, 0, 0);
    for (const std::string& t : combo.ItemTexts())
      SendMessageW(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(t).c_str()));
    SendMessageW(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(combo.ItemIndex()), 0);
  }
  updating = was;
}

void TWin32Peer::Changed(TPeerChange what) {
  bool was = updating;
  updating = true;
  switch (what) {
    case TPeerChange::Caption:
      SetTextOfWindow();
      break;
    case TPeerChange::Bounds:
      if (kind_ == Kind::Form) {
        SetWindowPos(hwnd_, nullptr, control_.Left(), control_.Top(), control_.Width(), control_.Height(),
                     SWP_NOZORDER | SWP_NOACTIVATE);
      } else {
        int h = kind_ == Kind::Combo ? std::max(control_.Height(), 200) : control_.Height();
        MoveWindow(hwnd_, control_.Left(), control_.Top(), control_.Width(), h, TRUE);
      }
      break;
    case TPeerChange::Visible:
      if (kind_ != Kind::Form) ShowWindow(hwnd_, control_.Visible() ? SW_SHOWNA : SW_HIDE);
      break;
    case TPeerChange::Enabled:
      EnableWindow(hwnd_, control_.Enabled());
      break;
    case TPeerChange::Font:
      SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(ws_.Font(control_.Font())), TRUE);
      InvalidateRect(hwnd_, nullptr, TRUE);
      break;
    case TPeerChange::Color:
      if (kind_ == Kind::RichEdit)
        SendMessageW(hwnd_, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(ColorToRGB(control_.Color())));
      InvalidateRect(hwnd_, nullptr, TRUE);
      break;
    case TPeerChange::Checked:
      if (auto* check = dynamic_cast<TCheckBox*>(&control_))
        SendMessageW(hwnd_, BM_SETCHECK, check->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      else if (auto* radio = dynamic_cast<TRadioButton*>(&control_))
        SendMessageW(hwnd_, BM_SETCHECK, radio->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case TPeerChange::Items:
    case TPeerChange::ItemIndex:
      FillItems();
      break;
    case TPeerChange::Position:
      if (auto* bar = dynamic_cast<TProgressBar*>(&control_))
        SendMessageW(hwnd_, PBM_SETPOS, bar->Position(), 0);
      break;
    case TPeerChange::Range:
      if (auto* bar = dynamic_cast<TProgressBar*>(&control_))
        SendMessageW(hwnd_, PBM_SETRANGE32, static_cast<WPARAM>(bar->Min()), bar->Max());
      break;
    case TPeerChange::ReadOnly:
      if (auto* rich = dynamic_cast<TRichEdit*>(&control_))
        SendMessageW(hwnd_, EM_SETREADONLY, rich->ReadOnly(), 0);
      if (auto* edit = dynamic_cast<TEdit*>(&control_))
        SendMessageW(hwnd_, EM_SETREADONLY, edit->ReadOnly(), 0);
      break;
    case TPeerChange::Default:
      if (auto* button = dynamic_cast<TButton*>(&control_))
        SendMessageW(hwnd_, BM_SETSTYLE, button->Default() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
      break;
    case TPeerChange::TabOrder:
      // Tab moves through the windows in z-order: lay the siblings out in tab order.
      if (TWinControl* parent = control_.Parent()) {
        for (TWinControl* sibling : parent->TabList())
          if (sibling->Peer())
            SetWindowPos(reinterpret_cast<HWND>(sibling->Peer()->Handle()), HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      }
      break;
    case TPeerChange::Page:
    case TPeerChange::Repaint:
      InvalidateRect(hwnd_, nullptr, FALSE);
      break;
  }
  updating = was;
}

void TWin32Peer::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  RECT client;
  GetClientRect(hwnd_, &client);
  int w = client.right, h = client.bottom;
  if (w > 0 && h > 0) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (mem && bmp && bits) {
      HGDIOBJ old = SelectObject(mem, bmp);
      TPixels24 px{static_cast<uint8_t*>(bits), w, h, static_cast<std::ptrdiff_t>(((w * 3) + 3) & ~3)};
      TCanvas canvas(px, &ws_);
      HDC previous = ws_.paintDC;
      ws_.paintDC = mem;
      TRect clip{ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom};
      try {
        canvas.FillRect(TRect{0, 0, w, h}, ColorToRGB(control_.Color()));
        control_.PaintControls(canvas, clip);
      } catch (...) {
        ws_.paintDC = previous;
        SelectObject(mem, old);
        DeleteObject(bmp);
        DeleteDC(mem);
        EndPaint(hwnd_, &ps);
        throw;
      }
      ws_.paintDC = previous;
      GdiFlush();
      BitBlt(dc, clip.Left, clip.Top, clip.Width(), clip.Height(), mem, clip.Left, clip.Top, SRCCOPY);
      SelectObject(mem, old);
    }
    if (bmp) DeleteObject(bmp);
    if (mem) DeleteDC(mem);
  }
  EndPaint(hwnd_, &ps);
}

void TWin32Peer::Command(WPARAM wp, LPARAM lp) {
  HWND child = reinterpret_cast<HWND>(lp);
  int id = LOWORD(wp), code = HIWORD(wp);
  TWin32Peer* peer = PeerOf(child);
  if (!peer) {
    // Commands of the dialog manager (Enter, Escape) may come without the control's window.
    TForm* form = control_.ParentForm();
    if (!form) return;
    if (id == IDCANCEL) {
      for (int i = 0; i < form->ComponentCount(); ++i) {
        auto* b = dynamic_cast<TButton*>(form->Components(i));
        if (b && b->Cancel()) {
          b->UserClick();
          return;
        }
      }
      return;
    }
    // Controls inside panels are not the form's direct children: look the identifier up.
    peer = ws_.PeerById(id);
    if (!peer || peer->control_.ParentForm() != form) return;
    code = BN_CLICKED;
  }
  if (peer->updating) return;
  TWinControl& c = peer->control_;
  switch (peer->kind_) {
    case Kind::Button:
    case Kind::Check:
    case Kind::Radio:
      if (code == BN_CLICKED) c.UserClick();
      break;
    case Kind::Edit:
      if (code == EN_CHANGE) c.PeerTextChanged(WindowTextOf(peer->hwnd_));
      break;
    case Kind::ListBox:
      if (code == LBN_DBLCLK || code == LBN_SELCHANGE) {
        int sel = static_cast<int>(SendMessageW(peer->hwnd_, LB_GETCURSEL, 0, 0));
        c.PeerItemChosen(sel, code == LBN_DBLCLK);
      }
      break;
    case Kind::Combo:
      if (code == CBN_SELCHANGE) {
        int sel = static_cast<int>(SendMessageW(peer->hwnd_, CB_GETCURSEL, 0, 0));
        c.PeerItemChosen(sel, false);
      }
      break;
    default:
      break;
  }
}

LRESULT TWin32Peer::ContainerMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_COMMAND:
      Command(wp, lp);
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      TWin32Peer* child = PeerOf(reinterpret_cast<HWND>(lp));
      TColor color = ColorToRGB(child ? child->control_.Color() : control_.Color());
      SetBkColor(reinterpret_cast<HDC>(wp), static_cast<COLORREF>(color));
      return reinterpret_cast<LRESULT>(ws_.Brush(color));
    }
    case DM_GETDEFID:
      if (auto* form = dynamic_cast<TForm*>(&control_)) {
        // Enter presses the focused button, else the default one (as TForm::KeyEnter does).
        TButton* b = nullptr;
        if (TWin32Peer* focused = PeerOf(GetFocus())) b = dynamic_cast<TButton*>(&focused->control_);
        if (!b || b->ParentForm() != form || !b->AcceptsUserInput()) b = form->DefaultButton();
        if (b && b->AcceptsUserInput() && b->Peer()) {
          auto* bp = static_cast<TWin32Peer*>(b->Peer());
          return MAKELRESULT(bp->id_, DC_HASDEFID);
        }
      }
      return 0;
    case WM_CLOSE:
      if (auto* form = dynamic_cast<TForm*>(&control_)) {
        if (form->AcceptsInput()) form->Close();
        return 0;
      }
      break;
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE) {
        if (auto* form = dynamic_cast<TForm*>(&control_)) {
          TWinControl* active = form->ActiveControl();
          if (active && active->Peer() && active->CanFocus()) {
            active->Peer()->SetFocus();
            return 0;
          }
        }
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// ---------------------------------------------------------------------------------------------
// TWin32WidgetSet

TWin32WidgetSet::TWin32WidgetSet() = default;

void TWin32WidgetSet::PrepareWindows() {
  static bool prepared = false;
  if (prepared) return;
  prepared = true;
  // The theme library and its drawing helpers, which the controls bind late, and the rich edit
  // control's library come from the system folder by their full paths, whatever the search path
  // holds (Wine binds a library's late imports through the search path, the program's folder first).
  // Common controls 6 come through the manifest's activation context.
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n > 0 && n < MAX_PATH)
    for (const wchar_t* name : {L"msimg32.dll", L"uxtheme.dll", L"Msftedit.dll"})
      LoadLibraryW((std::wstring(system, n) + L"\\" + name).c_str());
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = ContainerProc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hIcon = LoadIconW(inst, MAKEINTRESOURCEW(1));
  if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  wc.lpszClassName = kFormClass;
  RegisterClassExW(&wc);
  wc.hIcon = nullptr;
  wc.lpszClassName = kPanelClass;
  RegisterClassExW(&wc);
  wc.lpfnWndProc = AppProc;
  wc.lpszClassName = kAppClass;
  RegisterClassExW(&wc);
}

TWin32WidgetSet::~TWin32WidgetSet() {
  if (app_) DestroyWindow(app_);
  for (auto& f : fonts_) DeleteObject(f.second);
  for (auto& b : brushes_) DeleteObject(b.second);
}

DWORD TWin32WidgetSet::FormStyle(TFormBorderStyle style, DWORD* exStyle) {
  *exStyle = WS_EX_CONTROLPARENT;
  switch (style) {
    case TFormBorderStyle::bsNone:
      return WS_POPUP;
    case TFormBorderStyle::bsDialog:
      *exStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
      return WS_POPUP | WS_CAPTION | WS_SYSMENU;
    case TFormBorderStyle::bsToolWindow:
      *exStyle |= WS_EX_TOOLWINDOW;
      return WS_POPUP | WS_CAPTION | WS_SYSMENU;
    case TFormBorderStyle::bsSingle:
      return WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    case TFormBorderStyle::bsSizeable:
      break;
  }
  return WS_OVERLAPPEDWINDOW;
}

TSize TWin32WidgetSet::FrameSize(TFormBorderStyle style) {
  DWORD ex = 0;
  DWORD s = FormStyle(style, &ex);
  RECT r{0, 0, 0, 0};
  AdjustWindowRectEx(&r, s, FALSE, ex);
  return TSize{r.right - r.left, r.bottom - r.top};
}

HFONT TWin32WidgetSet::Font(const TFont& font) {
  auto key =
      std::make_tuple(font.Name, font.Height, static_cast<int>(font.Charset), static_cast<int>(font.Style));
  auto it = fonts_.find(key);
  if (it != fonts_.end()) return it->second;
  HFONT f = CreateFontW(font.Height, 0, 0, 0, (font.Style & 1) ? FW_BOLD : FW_NORMAL, (font.Style & 2) != 0,
                        (font.Style & 4) != 0, FALSE, font.Charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                        DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Wide(font.Name).c_str());
  fonts_[key] = f;
  return f;
}

HBRUSH TWin32WidgetSet::Brush(TColor color) {
  auto it = brushes_.find(color);
  if (it != brushes_.end()) return it->second;
  HBRUSH b = CreateSolidBrush(static_cast<COLORREF>(color));
  brushes_[color] = b;
  return b;
}

void TWin32WidgetSet::TextRect(const TRect& rect, const TRect& clip, const std::string& text,
                               const TFont& font, TAlignment alignment, bool wordWrap) {
  if (!paintDC || text.empty()) return;
  GdiFlush();
  int saved = SaveDC(paintDC);
  IntersectClipRect(paintDC, clip.Left, clip.Top, clip.Right, clip.Bottom);
  SelectObject(paintDC, Font(font));
  SetTextColor(paintDC, static_cast<COLORREF>(ColorToRGB(font.Color)));
  SetBkMode(paintDC, TRANSPARENT);
  RECT r{rect.Left, rect.Top, rect.Right, rect.Bottom};
  UINT format = DT_EXPANDTABS | (wordWrap ? DT_WORDBREAK : 0);
  if (alignment == TAlignment::taRightJustify) format |= DT_RIGHT;
  if (alignment == TAlignment::taCenter) format |= DT_CENTER;
  std::wstring w = Wide(text);
  DrawTextW(paintDC, w.c_str(), static_cast<int>(w.size()), &r, format);
  RestoreDC(paintDC, saved);
  GdiFlush();
}

void TWin32WidgetSet::DrawIcon(int x, int y, TSystemIcon icon, const TRect& clip) {
  if (!paintDC) return;
  LPCWSTR id = nullptr;
  switch (icon) {
    case TSystemIcon::siWarning:
      id = reinterpret_cast<LPCWSTR>(IDI_WARNING);
      break;
    case TSystemIcon::siError:
      id = reinterpret_cast<LPCWSTR>(IDI_ERROR);
      break;
    case TSystemIcon::siInformation:
      id = reinterpret_cast<LPCWSTR>(IDI_INFORMATION);
      break;
    case TSystemIcon::siQuestion:
      id = reinterpret_cast<LPCWSTR>(IDI_QUESTION);
      break;
    case TSystemIcon::siNone:
      return;
  }
  GdiFlush();
  int saved = SaveDC(paintDC);
  IntersectClipRect(paintDC, clip.Left, clip.Top, clip.Right, clip.Bottom);
  DrawIconEx(paintDC, x, y, LoadIconW(nullptr, id), 32, 32, 0, nullptr, DI_NORMAL);
  RestoreDC(paintDC, saved);
  GdiFlush();
}

TSize TWin32WidgetSet::TextExtent(const TFont& font, const std::string& text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, Font(font));
  std::wstring w = Wide(text.empty() ? std::string(" ") : text);
  RECT r{0, 0, 0, 0};
  DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &r, DT_CALCRECT | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return TSize{text.empty() ? 0 : r.right - r.left, r.bottom - r.top};
}

void TWin32WidgetSet::ShowForm(TForm& form, bool visible) {
  if (!form.Peer()) return;
  HWND hwnd = reinterpret_cast<HWND>(form.Peer()->Handle());
  if (!visible) {
    ShowWindow(hwnd, SW_HIDE);
    return;
  }
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  TWinControl* active = form.ActiveControl();
  if (active && active->Peer() && active->CanFocus()) {
    active->Peer()->SetFocus();
  } else if (HWND first = GetNextDlgTabItem(hwnd, nullptr, FALSE)) {
    ::SetFocus(first);
  }
  UpdateWindow(hwnd);
}

void TWin32WidgetSet::BringToFront(TForm& form) {
  if (!form.Peer()) return;
  HWND hwnd = reinterpret_cast<HWND>(form.Peer()->Handle());
  BringWindowToTop(hwnd);
  SetForegroundWindow(hwnd);
}

void TWin32WidgetSet::EnableForm(TForm& form, bool enabled) {
  if (form.Peer()) EnableWindow(reinterpret_cast<HWND>(form.Peer()->Handle()), enabled);
}

void TWin32WidgetSet::Dispatch(MSG& msg) {
  HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  TWin32Peer* peer = PeerOf(root);
  if (peer && peer->kind() == TWin32Peer::Kind::Form && IsDialogMessageW(root, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

void TWin32WidgetSet::HandleMessage(TForm& form) {
  MSG msg{};
  BOOL r = GetMessageW(&msg, nullptr, 0, 0);
  const int exitCode = static_cast<int>(msg.wParam);
  if (r == 0 || r == -1) {
    // WM_QUIT ends every modal loop; keep it for the outer loops.
    if (r == 0) PostQuitMessage(exitCode);
    Application->Terminate();
    return;
  }
  Dispatch(msg);
}

void TWin32WidgetSet::ProcessMessages() {
  MSG msg{};
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      Application->Terminate();
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    Dispatch(msg);
  }
}

int TWin32WidgetSet::MessageDlg(const TMsgDlgRequest& request) {
  std::unique_ptr<TMessageForm> form(new TMessageForm(nullptr, request));
  return form->ShowModal();
}

int TWin32WidgetSet::SystemMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  return MessageBoxW(nullptr, Wide(text).c_str(), Wide(caption).c_str(), flags);
}

void TWin32WidgetSet::ShowException(const std::string& title, const std::string& message) {
  MessageBoxW(GetActiveWindow(), Wide(message).c_str(), Wide(title).c_str(), MB_OK | MB_ICONSTOP);
}

std::vector<char> TWin32WidgetSet::Drives() {
  std::vector<char> drives;
  DWORD mask = GetLogicalDrives();
  for (int i = 0; i < 26; ++i)
    if (mask & (1u << i)) drives.push_back(static_cast<char>('A' + i));
  return drives;
}

intptr_t TWin32WidgetSet::AppHandle() {
  if (!app_) {
    PrepareWindows();
    app_ = CreateWindowExW(WS_EX_TOOLWINDOW, kAppClass, Wide(Application->Title()).c_str(), WS_POPUP, 0, 0, 0,
                           0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  return reinterpret_cast<intptr_t>(app_);
}

std::unique_ptr<TWidgetSet> CreateWin32WidgetSet() { return std::make_unique<TWin32WidgetSet>(); }

}  // namespace vr
