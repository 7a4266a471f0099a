// The launcher window shown when the program starts from the medium without arguments, and the
// procedure that draws the package's backdrop picture into a picture box.
#pragma once

#include <cstdint>
#include <string>

#include "framework/controls.h"
#include "framework/forms.h"
#include "imaging/dxpaintbox.h"

namespace vr {

// Draws the backdrop picture named by the settings into the box, laid out as the settings say
// (0 centred, 1 stretched, 2 tiled over the box's present size; anything else draws nothing). Does
// nothing when the settings name no picture or no archive is open. A missing entry or a picture that
// cannot be decoded raises the archive's or the image reader's error.
void DrawBackdropPicture(TDXPaintBox* PaintBox);

class TFormStart : public TForm {
 public:
  explicit TFormStart(TComponent* owner);

  TDXPaintBox* PaintBox;
  TButton* btnStart;
  TButton* btnInstall;
  TButton* btnDirectX;
  TButton* btnWinMedia;
  TButton* btnExit;

  // 0 start the game, 1 install; read after an OK modal result.
  int32_t LaunchMode = 0;

  void FormCreate(TObject* Sender);
  void btnStartClick(TObject* Sender);
  void btnDirectXClick(TObject* Sender);
  void btnWinMediaClick(TObject* Sender);
  void btnExitClick(TObject* Sender);

 private:
  TButton* AddButton(const std::string& name, int top, const std::string& caption, int tag, int tabOrder);
  void RunSideSetup(const std::string& folder, const std::string& file);
  std::string exeFolder_;
};

}  // namespace vr
