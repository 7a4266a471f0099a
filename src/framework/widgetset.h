// The interface between the form model and a window system.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/canvas.h"
#include "framework/forms.h"

namespace vr {

struct TMsgDlgRequest;

// The window of one windowed control (or form).
class TWidgetPeer {
 public:
  virtual ~TWidgetPeer() = default;
  // Brings the window up to date with the control's model state.
  virtual void Changed(TPeerChange what) = 0;
  // Repaints a rectangle of the client area (client coordinates).
  virtual void Invalidate(const TRect& rect) = 0;
  virtual void SetFocus() = 0;
  virtual bool Focused() const = 0;
  virtual intptr_t Handle() const = 0;
};

class TWidgetSet {
 public:
  virtual ~TWidgetSet() = default;

  // Creates the window of a windowed control; its parent's window exists already (forms have none).
  // nullptr when the widget set keeps no windows.
  virtual std::unique_ptr<TWidgetPeer> CreatePeer(TWinControl& control) = 0;
  // Shows or hides a form (its window exists).
  virtual void ShowForm(TForm& form, bool visible) = 0;
  virtual void BringToFront(TForm& form) = 0;
  // Enables or disables a form's window for a modal loop of another form.
  virtual void EnableForm(TForm& form, bool enabled) = 0;

  // Waits for and handles one piece of input while `form` is modal.
  virtual void HandleMessage(TForm& form) = 0;
  // Handles pending input without waiting.
  virtual void ProcessMessages() = 0;

  // The standard message dialog; returns the modal result of the chosen button.
  virtual int MessageDlg(const TMsgDlgRequest& request) = 0;
  // A plain system message box without owner; returns the command identifier (IDOK = 1 ...).
  virtual int SystemMessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  // The default error report.
  virtual void ShowException(const std::string& title, const std::string& message) = 0;

  virtual TSize TextExtent(const TFont& font, const std::string& text) = 0;
  virtual TColor SysColor(int index) = 0;
  virtual int ScreenWidth() = 0;
  virtual int ScreenHeight() = 0;
  // Width and height the frame (borders and caption) adds to the client area.
  virtual TSize FrameSize(TFormBorderStyle style) = 0;
  // Drive letters that exist, upper case, in order.
  virtual std::vector<char> Drives() = 0;
  virtual intptr_t AppHandle() = 0;
  virtual void TitleChanged(const std::string& title) {}
};

// System colour values of a classic Windows scheme, for widget sets without a screen.
TColor DefaultSysColor(int index);

}  // namespace vr
