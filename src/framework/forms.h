// The form and control model: components with owners, controls with parents, forms with a modal
// loop, and the application object.
//
// Form code only sets properties, calls ShowModal, ProcessMessages and the message dialogs; a widget
// set (framework/widgetset.h) makes that real: real windows on Windows, a scripted headless one for
// tests and unattended runs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/canvas.h"
#include "framework/sysutils.h"

namespace vr {

class TWidgetPeer;
class TWidgetSet;
class TWinControl;
class TForm;
class TButton;

class TObject {
 public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// Binds a member function as an event handler: OnClick = Handler(this, &TFormType::btnNextClick).
template <class C>
TNotifyEvent Handler(C* object, void (C::*method)(TObject*)) {
  return [object, method](TObject* sender) { (object->*method)(sender); };
}

// Modal results (the values of the dialog box command identifiers).
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;
constexpr int mrRetry = 4;
constexpr int mrIgnore = 5;
constexpr int mrYes = 6;
constexpr int mrNo = 7;

// Raised for a misuse of the window model (showing a visible form modally, a control as its own parent).
class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

// What changed on a control; the widget set brings its window up to date.
enum class TPeerChange {
  Caption,
  Bounds,
  Visible,
  Enabled,
  Font,
  Color,
  Checked,
  Items,      // list contents (folder list, drive list)
  ItemIndex,  // selection of a list
  Position,   // progress bar position
  Range,      // progress bar range
  ReadOnly,
  Default,  // default button
  Page,     // active page of a page container
  TabOrder,
  Repaint,
};

// A component: owned by another (which frees it), named, tagged.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  intptr_t Tag() const { return tag_; }
  void SetTag(intptr_t tag) { tag_ = tag; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<size_t>(index)); }
  // Owned component of that name (ASCII letter case ignored), or nullptr.
  TComponent* FindComponent(const std::string& name) const;
  template <class T>
  T* Find(const std::string& name) const {
    return dynamic_cast<T*>(FindComponent(name));
  }
  // Frees every owned component, last created first.
  void DestroyComponents();

 private:
  TComponent* owner_;
  std::string name_;
  intptr_t tag_ = 0;
  std::vector<TComponent*> components_;
};

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// A visual control: a rectangle in its parent's client area.
class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);
  // The form the control sits on (itself for a form), or nullptr.
  TForm* ParentForm() const;

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return Bounds(left_, top_, width_, height_); }
  virtual int ClientWidth() const { return width_; }
  virtual int ClientHeight() const { return height_; }
  virtual void SetClientWidth(int v) { SetWidth(v); }
  virtual void SetClientHeight(int v) { SetHeight(v); }
  TRect ClientRect() const { return TRect{0, 0, ClientWidth(), ClientHeight()}; }
  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible with every parent visible (and, on a page container, on the active page).
  virtual bool Showing() const;
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  // Enabled with every parent enabled.
  bool EnabledInParents() const;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  const std::string& Text() const { return caption_; }
  void SetText(const std::string& text) { SetCaption(text); }

  TColor Color() const;
  void SetColor(TColor color);
  bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool v);
  const TFont& Font() const;
  void SetFont(const TFont& font);
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool v);

  TNotifyEvent OnClick;
  // The click behaviour, as the program triggers it (no check of visibility or enabled state).
  virtual void Click();
  // A click as the user gives it: only on a showing, enabled control. False when it was not possible.
  bool UserClick();
  // Showing, enabled and on a form that is not blocked by another form's modal loop.
  bool AcceptsUserInput() const;

  virtual bool IsWindowed() const { return false; }
  // Repaints the control's area.
  virtual void Invalidate();
  // Painting of a non-windowed control: the canvas has its origin at the control's top-left corner and
  // is clipped to the control.
  virtual void Paint(TCanvas& canvas) {}

  // Called by the widget set when the user changed the control's state in its window (text typed,
  // selection moved); the model updates itself without echoing to the window.
  virtual void PeerTextChanged(const std::string& text) {}
  virtual void PeerItemChosen(int index, bool open) {}

 protected:
  // Passes a change to the window (windowed controls) or repaints (non-windowed ones).
  virtual void Changed(TPeerChange what);
  virtual void FontChanged();
  virtual void ColorChanged();
  virtual void CaptionChanged() {}
  // What a user's click does (check boxes toggle, radio buttons check themselves); Click by default.
  virtual void UserClicked() { Click(); }
  // Sets the caption without raising change notifications of the model (a window already shows it).
  void StoreCaption(const std::string& caption) { caption_ = caption; }
  void SetBoundsQuiet(int left, int top, int width, int height);

 protected:
  friend class TWinControl;
  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TAlign align_ = TAlign::alNone;
  bool visible_ = true;
  bool enabled_ = true;
  std::string caption_;
  TColor color_ = clBtnFace;
  bool parentColor_ = true;
  TFont font_;
  bool parentFont_ = true;
};

// A control without a window of its own, painted on its parent.
class TGraphicControl : public TControl {
 public:
  using TControl::TControl;
};

// A control with a window: it can hold children, take the focus and sits in its parent's tab order.
class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  bool IsWindowed() const override { return true; }
  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const { return controls_.at(static_cast<size_t>(index)); }
  // Windowed children in tab order.
  const std::vector<TWinControl*>& TabList() const { return tabList_; }

  int TabOrder() const;
  void SetTabOrder(int order);
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool v) { tabStop_ = v; }
  virtual bool CanFocus() const;
  // Gives the control the keyboard focus (EInvalidOperation when it cannot take it).
  void SetFocus();
  bool Focused() const;

  // The window of the control, created on demand (the forms create theirs when first shown).
  TWidgetPeer* Peer() const { return peer_.get(); }
  bool HandleAllocated() const { return peer_ != nullptr; }
  void HandleNeeded();
  void DestroyHandle();
  // Native window handle (0 headless).
  intptr_t Handle();

  // Lays out the aligned children again.
  void Realign();
  // Paints the non-windowed children, bottom first, that meet clip (in client coordinates).
  void PaintControls(TCanvas& canvas, const TRect& clip);

 protected:
  void Changed(TPeerChange what) override;
  void FontChanged() override;
  void ColorChanged() override;
  virtual void CreatePeer();
  virtual void ChildrenCreated() {}

 private:
  friend class TControl;
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);
  std::vector<TControl*> controls_;
  std::vector<TWinControl*> tabList_;
  bool tabStop_ = false;
  bool aligning_ = false;
  std::unique_ptr<TWidgetPeer> peer_;
};

enum class TPosition {
  poDesigned,
  poDefault,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};
enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

// A top-level window. The client size is what the model keeps; the outer size adds the frame the
// widget set reports for the border style.
class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  int ClientWidth() const override { return clientWidth_; }
  int ClientHeight() const override { return clientHeight_; }
  void SetClientWidth(int v) override;
  void SetClientHeight(int v) override;
  void SetClientSize(int width, int height);
  void SetBounds(int left, int top, int width, int height) override;

  TPosition Position() const { return position_; }
  void SetPosition(TPosition p) { position_ = p; }
  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle s);

  int ModalResult() const { return modalResult_; }
  void SetModalResult(int result) { modalResult_ = result; }
  bool Modal() const { return modal_; }

  // Shows the form modally: other forms are disabled, the message loop runs until the modal result is
  // non-zero and the close query agrees. Returns the modal result.
  int ShowModal();
  void SetVisible(bool visible) override;
  void Close();
  // Frees the form at the next message processing (after the code on the stack has returned).
  void Release();
  void BringToFront();
  bool Showing() const override { return Visible(); }
  // False while another form's modal loop runs.
  bool AcceptsInput() const { return disabledCount_ == 0; }

  TButton* DefaultButton() const { return defaultButton_; }
  TWinControl* ActiveControl() const { return activeControl_; }
  void SetActiveControl(TWinControl* control);

  // Enter as the user presses it: clicks the focused button, or else the default button when it is
  // showing and enabled. True when a button was clicked.
  bool KeyEnter();

  // Runs OnCreate; CreateForm calls it once the derived constructor has built the controls.
  void DoCreate();
  // The close query: OnCloseQuery decides; true when the form may close.
  virtual bool CloseQuery();

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnDestroy;
  TCloseQueryEvent OnCloseQuery;
  TCloseEvent OnClose;

 protected:
  void CreatePeer() override;

 private:
  friend class TButton;
  friend class TApplication;
  friend class TControl;
  friend class TWinControl;
  void CloseModal();
  void ControlDestroyed(TControl* control);
  void PlaceOnShow();
  void UpdateOuterSize();
  int clientWidth_ = 0;
  int clientHeight_ = 0;
  TPosition position_ = TPosition::poDesigned;
  TFormBorderStyle borderStyle_ = TFormBorderStyle::bsSizeable;
  int modalResult_ = mrNone;
  bool modal_ = false;
  bool released_ = false;
  int disabledCount_ = 0;
  TButton* defaultButton_ = nullptr;
  TWinControl* activeControl_ = nullptr;
};

// Creates a form of class T and runs its OnCreate. An error raised by OnCreate frees the form and
// passes on.
template <class T, class... Args>
T* CreateForm(TComponent* owner, Args&&... args) {
  std::unique_ptr<T> form(new T(owner, std::forward<Args>(args)...));
  form->DoCreate();
  return form.release();
}

// The application: owner of the forms, the message loop's entry points and the default error report.
class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title);
  // Native handle of the application window (0 headless).
  intptr_t Handle();

  // Lets pending window messages (headless: the script) run, then frees released forms.
  void ProcessMessages();
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  void ClearTerminated() { terminated_ = false; }

  // The default error report: shows the error's text. Used for errors that reach the message loop.
  void HandleException(const std::exception& error);
  void ShowException(const std::string& message);

  int ScreenWidth();
  int ScreenHeight();

  // Every form that exists, oldest first.
  const std::vector<TForm*>& Forms() const { return forms_; }
  // Frees the forms whose Release was called.
  void FreeReleasedForms();

  // The widget set in use; a headless one is created when none was installed.
  TWidgetSet& Widgets();
  // Installs a widget set and returns the previous one. Every form must be gone before.
  std::unique_ptr<TWidgetSet> SetWidgetSet(std::unique_ptr<TWidgetSet> widgets);

 private:
  friend class TForm;
  std::string title_;
  bool terminated_ = false;
  std::vector<TForm*> forms_;
  std::vector<TForm*> released_;
  std::unique_ptr<TWidgetSet> widgets_;
};

extern TApplication* const Application;

}  // namespace vr
