// The backdrop window behind the install and uninstall wizard: a blue gradient, the package's picture
// and a footer line.
#pragma once

#include "framework/controls.h"
#include "framework/forms.h"
#include "imaging/dxpaintbox.h"
#include "startup/gradbox.h"

namespace vr {

class TFormMain : public TForm {
 public:
  explicit TFormMain(TComponent* owner);

  TGradBox* GradBox;
  TDXPaintBox* PaintBox;
  TLabel* LabelRight;

  void FormCreate(TObject* Sender);
};

// Stands in for the install wizard until this program has one: says plainly that this build installs
// and removes nothing, and closes with its only button.
class TFormPending : public TForm {
 public:
  explicit TFormPending(TComponent* owner);

  TLabel* LabelMessage;
  TButton* btnClose;

  void btnCloseClick(TObject* Sender);
};

}  // namespace vr
