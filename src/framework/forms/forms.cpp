#include "framework/forms.h"

#include <algorithm>

#include "framework/controls.h"
#include "framework/headless/headless.h"
#include "framework/widgetset.h"

namespace vr {

namespace {
TApplication gApplication;

bool SameTextAscii(const std::string& a, const std::string& b) {
  return a.size() == b.size() && UpperCaseAscii(a) == UpperCaseAscii(b);
}
}  // namespace

TApplication* const Application = &gApplication;

TColor ColorToRGB(TColor c) {
  if (c & clSystemColor) return Application->Widgets().SysColor(c & 0xFF);
  return c;
}

TColor DefaultSysColor(int index) {
  switch (index) {
    case 5:
      return clWhite;  // window
    case 8:
      return clBlack;  // window text
    case 15:
      return MakeColor(240, 240, 240);  // button face
    case 16:
      return MakeColor(160, 160, 160);  // button shadow
    case 18:
      return clBlack;  // button text
    case 20:
      return clWhite;  // button highlight
    case 21:
      return MakeColor(105, 105, 105);  // dark shadow
    case 22:
      return MakeColor(227, 227, 227);  // light
    default:
      return clGray;
  }
}

// ---------------------------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  DestroyComponents();
  if (owner_) {
    auto& list = owner_->components_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameTextAscii(c->name_, name)) return c;
  return nullptr;
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* c = components_.back();
    delete c;  // the destructor takes it off the list
  }
}

// ---------------------------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() {
  if (TForm* form = ParentForm()) {
    if (form != this) form->ControlDestroyed(this);
  }
  if (parent_) parent_->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  for (TWinControl* p = parent; p; p = p->parent_)
    if (p == this) throw EInvalidOperation("コントロールを自分自身の親にすることはできません");
  if (parent_) {
    if (TForm* form = ParentForm()) form->ControlDestroyed(this);
    if (auto* self = dynamic_cast<TWinControl*>(this)) self->DestroyHandle();
    parent_->RemoveControl(this);
  }
  parent_ = parent;
  if (parent_) {
    parent_->InsertControl(this);
    if (auto* self = dynamic_cast<TWinControl*>(this)) {
      if (parent_->HandleAllocated()) self->HandleNeeded();
    } else {
      Invalidate();
    }
    if (align_ != TAlign::alNone) parent_->Realign();
  }
}

TForm* TControl::ParentForm() const {
  const TControl* c = this;
  while (c->parent_) c = c->parent_;
  return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

void TControl::SetBoundsQuiet(int left, int top, int width, int height) {
  left_ = left;
  top_ = top;
  width_ = std::max(0, width);
  height_ = std::max(0, height);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  if (!IsWindowed()) Invalidate();
  bool resized = width != width_ || height != height_;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  Changed(TPeerChange::Bounds);
  if (resized) {
    if (auto* self = dynamic_cast<TWinControl*>(this)) self->Realign();
  }
  if (parent_ && align_ != TAlign::alNone) parent_->Realign();
}

void TControl::SetAlign(TAlign align) {
  if (align == align_) return;
  align_ = align;
  if (parent_) parent_->Realign();
}

void TControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  if (!IsWindowed()) Invalidate();
  visible_ = visible;
  Changed(TPeerChange::Visible);
  if (parent_ && align_ != TAlign::alNone) parent_->Realign();
}

bool TControl::Showing() const { return visible_ && parent_ && parent_->Showing(); }

void TControl::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Changed(TPeerChange::Enabled);
}

bool TControl::EnabledInParents() const {
  for (const TControl* c = this; c; c = c->parent_)
    if (!c->enabled_) return false;
  return true;
}

void TControl::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  Changed(TPeerChange::Caption);
  CaptionChanged();
}

TColor TControl::Color() const { return parentColor_ && parent_ ? parent_->Color() : color_; }

void TControl::SetColor(TColor color) {
  if (!parentColor_ && color == color_) return;
  color_ = color;
  parentColor_ = false;
  ColorChanged();
}

void TControl::SetParentColor(bool v) {
  if (v == parentColor_) return;
  if (!v) color_ = Color();
  parentColor_ = v;
  ColorChanged();
}

const TFont& TControl::Font() const { return parentFont_ && parent_ ? parent_->Font() : font_; }

void TControl::SetFont(const TFont& font) {
  if (!parentFont_ && font == font_) return;
  font_ = font;
  parentFont_ = false;
  FontChanged();
}

void TControl::SetParentFont(bool v) {
  if (v == parentFont_) return;
  if (!v) font_ = Font();
  parentFont_ = v;
  FontChanged();
}

void TControl::FontChanged() { Changed(TPeerChange::Font); }
void TControl::ColorChanged() { Changed(TPeerChange::Color); }

void TControl::Click() {
  if (OnClick) OnClick(this);
}

bool TControl::AcceptsUserInput() const {
  if (!Showing() || !EnabledInParents()) return false;
  TForm* form = ParentForm();
  return !form || form->AcceptsInput();
}

bool TControl::UserClick() {
  if (!AcceptsUserInput()) return false;
  UserClicked();
  return true;
}

void TControl::Invalidate() {
  if (IsWindowed()) return;
  if (parent_ && parent_->Peer() && visible_) parent_->Peer()->Invalidate(BoundsRect());
}

void TControl::Changed(TPeerChange what) {
  switch (what) {
    case TPeerChange::Bounds:
    case TPeerChange::Visible:
    case TPeerChange::Caption:
    case TPeerChange::Font:
    case TPeerChange::Color:
    case TPeerChange::Repaint:
    case TPeerChange::Enabled:
      Invalidate();
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  DestroyHandle();
  for (TControl* c : controls_) c->parent_ = nullptr;
  controls_.clear();
  tabList_.clear();
}

void TWinControl::InsertControl(TControl* control) {
  controls_.push_back(control);
  if (auto* w = dynamic_cast<TWinControl*>(control)) tabList_.push_back(w);
}

void TWinControl::RemoveControl(TControl* control) {
  if (!control->IsWindowed()) control->Invalidate();
  controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
  tabList_.erase(std::remove(tabList_.begin(), tabList_.end(), control), tabList_.end());
}

int TWinControl::TabOrder() const {
  if (!parent_) return -1;
  const auto& list = parent_->tabList_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int order) {
  if (!parent_) return;
  auto& list = parent_->tabList_;
  int count = static_cast<int>(list.size());
  order = std::max(0, std::min(order, count - 1));
  int current = TabOrder();
  if (current < 0 || current == order) return;
  list.erase(list.begin() + current);
  list.insert(list.begin() + order, this);
  Changed(TPeerChange::TabOrder);
}

bool TWinControl::CanFocus() const {
  if (!Showing() || !EnabledInParents()) return false;
  TForm* form = ParentForm();
  return !form || form->AcceptsInput();
}

void TWinControl::SetFocus() {
  if (!CanFocus()) throw EInvalidOperation("使用不可または非表示のウィンドウにはフォーカスを設定できません");
  if (TForm* form = ParentForm()) {
    if (form != this) form->activeControl_ = this;
  }
  if (peer_) peer_->SetFocus();
}

bool TWinControl::Focused() const {
  if (peer_) return peer_->Focused();
  TForm* form = ParentForm();
  return form && form != this && form->ActiveControl() == this;
}

void TWinControl::HandleNeeded() {
  if (peer_) return;
  if (!dynamic_cast<TForm*>(this) && (!parent_ || !parent_->peer_)) return;
  CreatePeer();
  if (!peer_) return;
  for (TWinControl* child : tabList_) child->HandleNeeded();
  ChildrenCreated();
}

void TWinControl::CreatePeer() { peer_ = Application->Widgets().CreatePeer(*this); }

void TWinControl::DestroyHandle() {
  if (!peer_) return;
  for (TWinControl* child : tabList_) child->DestroyHandle();
  peer_.reset();
}

intptr_t TWinControl::Handle() {
  HandleNeeded();
  return peer_ ? peer_->Handle() : 0;
}

void TWinControl::Changed(TPeerChange what) {
  if (peer_) peer_->Changed(what);
}

void TWinControl::FontChanged() {
  Changed(TPeerChange::Font);
  for (TControl* c : controls_)
    if (c->parentFont_) c->FontChanged();
}

void TWinControl::ColorChanged() {
  Changed(TPeerChange::Color);
  for (TControl* c : controls_)
    if (c->parentColor_) c->ColorChanged();
}

void TWinControl::Realign() {
  if (aligning_) return;
  aligning_ = true;
  TRect r = ClientRect();
  auto place = [&](TAlign which) {
    for (TControl* c : controls_) {
      if (c->align_ != which || !c->visible_) continue;
      switch (which) {
        case TAlign::alTop:
          c->SetBounds(r.Left, r.Top, r.Width(), c->height_);
          r.Top += c->height_;
          break;
        case TAlign::alBottom:
          c->SetBounds(r.Left, r.Bottom - c->height_, r.Width(), c->height_);
          r.Bottom -= c->height_;
          break;
        case TAlign::alLeft:
          c->SetBounds(r.Left, r.Top, c->width_, r.Height());
          r.Left += c->width_;
          break;
        case TAlign::alRight:
          c->SetBounds(r.Right - c->width_, r.Top, c->width_, r.Height());
          r.Right -= c->width_;
          break;
        case TAlign::alClient:
          c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
          break;
        default:
          break;
      }
    }
  };
  try {
    for (TAlign a : {TAlign::alTop, TAlign::alBottom, TAlign::alLeft, TAlign::alRight, TAlign::alClient})
      place(a);
  } catch (...) {
    aligning_ = false;
    throw;
  }
  aligning_ = false;
}

void TWinControl::PaintControls(TCanvas& canvas, const TRect& clip) {
  for (TControl* c : controls_) {
    if (c->IsWindowed() || !c->visible_) continue;
    TRect b = c->BoundsRect();
    if (IntersectRect(b, clip).IsEmpty()) continue;
    TCanvas::TState saved = canvas.Save();
    canvas.Enter(b);
    c->Paint(canvas);
    canvas.Restore(saved);
  }
}

// ---------------------------------------------------------------------------------------------
// TForm

TForm::TForm(TComponent* owner) : TWinControl(owner) {
  visible_ = false;
  parentFont_ = false;
  parentColor_ = false;
  color_ = clBtnFace;
  Application->forms_.push_back(this);
}

TForm::~TForm() {
  if (OnDestroy) {
    try {
      OnDestroy(this);
    } catch (const std::exception& e) {
      Application->HandleException(e);
    }
  }
  auto& forms = Application->forms_;
  forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
  auto& released = Application->released_;
  released.erase(std::remove(released.begin(), released.end(), this), released.end());
  // Owned forms and controls go first; their windows belong to this one.
  DestroyComponents();
  DestroyHandle();
}

void TForm::ControlDestroyed(TControl* control) {
  if (activeControl_ == control) activeControl_ = nullptr;
  if (defaultButton_ == control) defaultButton_ = nullptr;
}

void TForm::UpdateOuterSize() {
  TSize frame = Application->Widgets().FrameSize(borderStyle_);
  width_ = clientWidth_ + frame.cx;
  height_ = clientHeight_ + frame.cy;
}

void TForm::SetClientSize(int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  if (width == clientWidth_ && height == clientHeight_) return;
  clientWidth_ = width;
  clientHeight_ = height;
  UpdateOuterSize();
  Changed(TPeerChange::Bounds);
  Realign();
}

void TForm::SetClientWidth(int v) { SetClientSize(v, clientHeight_); }
void TForm::SetClientHeight(int v) { SetClientSize(clientWidth_, v); }

void TForm::SetBounds(int left, int top, int width, int height) {
  TSize frame = Application->Widgets().FrameSize(borderStyle_);
  int cw = std::max(0, width - frame.cx), ch = std::max(0, height - frame.cy);
  bool resized = cw != clientWidth_ || ch != clientHeight_;
  if (!resized && left == left_ && top == top_) return;
  left_ = left;
  top_ = top;
  clientWidth_ = cw;
  clientHeight_ = ch;
  UpdateOuterSize();
  Changed(TPeerChange::Bounds);
  if (resized) Realign();
}

void TForm::SetBorderStyle(TFormBorderStyle s) {
  if (s == borderStyle_) return;
  borderStyle_ = s;
  UpdateOuterSize();
  Changed(TPeerChange::Bounds);
}

void TForm::PlaceOnShow() {
  int sw = Application->ScreenWidth(), sh = Application->ScreenHeight();
  int left = left_, top = top_;
  switch (position_) {
    case TPosition::poScreenCenter:
    case TPosition::poDesktopCenter:
      left = (sw - width_) / 2;
      top = (sh - height_) / 2;
      break;
    case TPosition::poMainFormCenter:
    case TPosition::poOwnerFormCenter: {
      TForm* center = dynamic_cast<TForm*>(Owner());
      if (center && center->Visible()) {
        left = center->left_ + (center->width_ - width_) / 2;
        top = center->top_ + (center->height_ - height_) / 2;
        left = std::max(0, std::min(left, sw - width_));
        top = std::max(0, std::min(top, sh - height_));
      } else {
        left = (sw - width_) / 2;
        top = (sh - height_) / 2;
      }
      break;
    }
    default:
      break;
  }
  if (left != left_ || top != top_) {
    left_ = left;
    top_ = top;
    Changed(TPeerChange::Bounds);
  }
}

void TForm::SetVisible(bool visible) {
  if (visible == visible_) return;
  if (visible) {
    PlaceOnShow();
    visible_ = true;
    HandleNeeded();
    Application->Widgets().ShowForm(*this, true);
    if (OnShow) OnShow(this);
  } else {
    visible_ = false;
    Application->Widgets().ShowForm(*this, false);
    if (OnHide) OnHide(this);
  }
}

int TForm::ShowModal() {
  if (Visible() || modal_) throw EInvalidOperation("表示中のウィンドウはモーダルにできません");
  TWidgetSet& widgets = Application->Widgets();
  std::vector<TForm*> disabled;
  for (TForm* f : Application->forms_) {
    if (f == this) continue;
    if (f->disabledCount_++ == 0) widgets.EnableForm(*f, false);
    disabled.push_back(f);
  }
  auto restore = [&]() {
    modal_ = false;
    for (TForm* f : disabled) {
      // A form freed during the loop has left the list.
      auto& forms = Application->forms_;
      if (std::find(forms.begin(), forms.end(), f) == forms.end()) continue;
      if (--f->disabledCount_ == 0) widgets.EnableForm(*f, true);
    }
  };
  modal_ = true;
  modalResult_ = mrNone;
  try {
    Show();
    for (;;) {
      Application->FreeReleasedForms();
      widgets.HandleMessage(*this);
      if (Application->Terminated())
        modalResult_ = mrCancel;
      else if (modalResult_ != mrNone)
        CloseModal();
      if (modalResult_ != mrNone) break;
    }
    restore();
    Hide();
  } catch (...) {
    restore();
    if (visible_) {
      visible_ = false;
      widgets.ShowForm(*this, false);
    }
    throw;
  }
  return modalResult_;
}

void TForm::CloseModal() {
  try {
    TCloseAction action = TCloseAction::caNone;
    if (CloseQuery()) {
      action = TCloseAction::caHide;
      if (OnClose) OnClose(this, action);
    }
    if (action == TCloseAction::caNone)
      modalResult_ = mrNone;
    else if (action == TCloseAction::caFree)
      Release();
  } catch (const std::exception& e) {
    if (IsScriptError(e)) throw;
    modalResult_ = mrNone;
    Application->HandleException(e);
  }
}

bool TForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

void TForm::Close() {
  if (modal_) {
    modalResult_ = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = TCloseAction::caHide;
  if (OnClose) OnClose(this, action);
  if (action == TCloseAction::caHide)
    Hide();
  else if (action == TCloseAction::caFree)
    Release();
}

void TForm::Release() {
  if (released_) return;
  released_ = true;
  Application->released_.push_back(this);
}

void TForm::BringToFront() {
  if (Visible()) Application->Widgets().BringToFront(*this);
}

void TForm::SetActiveControl(TWinControl* control) {
  activeControl_ = control;
  if (control && control->Peer() && control->CanFocus()) control->Peer()->SetFocus();
}

bool TForm::KeyEnter() {
  if (!Visible() || !AcceptsInput()) return false;
  if (auto* focused = dynamic_cast<TButton*>(activeControl_)) {
    if (focused->Focused() && focused->UserClick()) return true;
  }
  return defaultButton_ && defaultButton_->UserClick();
}

void TForm::DoCreate() {
  if (OnCreate) OnCreate(this);
}

void TForm::CreatePeer() { TWinControl::CreatePeer(); }

// ---------------------------------------------------------------------------------------------
// TApplication

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication() {
  DestroyComponents();
  while (!forms_.empty()) delete forms_.back();
  widgets_.reset();
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  if (widgets_) widgets_->TitleChanged(title);
}

intptr_t TApplication::Handle() { return Widgets().AppHandle(); }

void TApplication::ProcessMessages() {
  Widgets().ProcessMessages();
  FreeReleasedForms();
}

void TApplication::HandleException(const std::exception& error) { ShowException(error.what()); }

void TApplication::ShowException(const std::string& message) { Widgets().ShowException(title_, message); }

int TApplication::ScreenWidth() { return Widgets().ScreenWidth(); }
int TApplication::ScreenHeight() { return Widgets().ScreenHeight(); }

void TApplication::FreeReleasedForms() {
  std::vector<TForm*> pending;
  for (TForm* f : released_)
    if (!f->modal_) pending.push_back(f);
  for (TForm* f : pending) {
    if (std::find(released_.begin(), released_.end(), f) != released_.end()) delete f;
  }
}

TWidgetSet& TApplication::Widgets() {
  if (!widgets_) widgets_ = std::make_unique<THeadlessWidgetSet>();
  return *widgets_;
}

std::unique_ptr<TWidgetSet> TApplication::SetWidgetSet(std::unique_ptr<TWidgetSet> widgets) {
  std::swap(widgets, widgets_);
  return widgets;
}

}  // namespace vr
