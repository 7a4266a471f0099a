#include "startup/main.h"

#include <algorithm>
#include <cstdlib>

#include "startup/instset.h"
#include "startup/start.h"
#include "startup/startup.h"

namespace vr {

TFormMain::TFormMain(TComponent* owner) : TForm(owner) {
  SetName("FormMain");
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poDesktopCenter);
  SetFont(TFont{});
  SetClientSize(444, 283);

  GradBox = new TGradBox(this);
  GradBox->SetName("GradBox");
  GradBox->SetParent(this);
  GradBox->SetAlign(TAlign::alClient);
  GradBox->SetStartColor(MakeColor(0, 0, 255));
  GradBox->SetEndColor(MakeColor(0, 0, 128));
  GradBox->SetGradStep(128);
  GradBox->SetDirection(gdVertical);

  PaintBox = new TDXPaintBox(this);
  PaintBox->SetName("PaintBox");
  PaintBox->SetParent(this);
  PaintBox->SetAlign(TAlign::alClient);

  LabelRight = new TLabel(this);
  LabelRight->SetName("LabelRight");
  LabelRight->SetParent(this);
  LabelRight->SetAutoSize(false);
  LabelRight->SetAlignment(TAlignment::taRightJustify);
  LabelRight->SetTransparent(false);
  LabelRight->SetParentColor(false);
  LabelRight->SetColor(clBlack);
  TFont white = Font();
  white.Color = clWhite;
  LabelRight->SetFont(white);

  OnCreate = Handler(this, &TFormMain::FormCreate);
}

void TFormMain::FormCreate(TObject* /*Sender*/) {
  const TSetupGlobals& g = SetupGlobals();
  const TRovaInstallSet& s = *g.Settings;
  Application->SetTitle(s.Title);
  SetClientSize(std::max(600, Application->ScreenWidth() - 100),
                std::max(400, Application->ScreenHeight() - 200));
  SetCaption(s.Uninstaller ? s.Title + "の削除" : s.GetSetupCaption());
  if (g.Archive) DrawBackdropPicture(PaintBox);
  LabelRight->SetCaption(s.FooterText + " ");
  const int height = std::abs(LabelRight->Font().Height);
  LabelRight->SetBounds(0, ClientHeight() - height - 8, ClientWidth(), height);
}

TFormPending::TFormPending(TComponent* owner) : TForm(owner) {
  SetName("FormPending");
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poScreenCenter);
  SetFont(TFont{});
  SetClientSize(500, 112);
  const TRovaInstallSet* s = SetupGlobals().Settings;
  if (s) SetCaption(s->Uninstaller ? s->Title + "の削除" : s->GetSetupCaption());

  LabelMessage = new TLabel(this);
  LabelMessage->SetName("LabelMessage");
  LabelMessage->SetParent(this);
  LabelMessage->SetAutoSize(false);
  LabelMessage->SetWordWrap(true);
  LabelMessage->SetBounds(16, 16, 468, 48);
  LabelMessage->SetCaption(
      "このセットアッププログラムにはまだインストールと削除の画面がありません。\r\n"
      "ファイルのコピーや削除、レジストリとショートカットの変更は何も行われていません。");

  btnClose = new TButton(this);
  btnClose->SetName("btnClose");
  btnClose->SetParent(this);
  btnClose->SetBounds(212, 76, 75, 25);
  btnClose->SetCaption("終了");
  btnClose->SetDefault(true);
  btnClose->SetCancel(true);
  btnClose->OnClick = Handler(this, &TFormPending::btnCloseClick);
}

void TFormPending::btnCloseClick(TObject* /*Sender*/) { SetModalResult(mrCancel); }

}  // namespace vr
