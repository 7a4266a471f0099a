#include "startup/start.h"

#include "archive/vrfiles.h"
#include "imaging/backdrop.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/instset.h"
#include "startup/startup.h"
#include "startup/syshelpers.h"

namespace vr {

namespace {}  // namespace

void DrawBackdropPicture(TDXPaintBox* PaintBox) {
  const TSetupGlobals& g = SetupGlobals();
  if (!g.Settings || !g.Archive || g.Settings->BackdropPicture.empty()) return;
  const TRovaInstallSet& s = *g.Settings;
  TDIBSurface picture;
  LoadBackdropPicture(*g.Archive, s.BackdropPicture, static_cast<uint32_t>(s.PictureSeed), picture);
  if (!PlaceBackdropPicture(picture, s.BackdropLayout, PaintBox->Width(), PaintBox->Height(),
                            PaintBox->DIB()))
    return;
  if (s.BackdropLayout == blStretch) PaintBox->SetStretch(true);
  if (s.BackdropLayout == blCenter) PaintBox->SetCenter(true);
  PaintBox->Invalidate();
}

TFormStart::TFormStart(TComponent* owner) : TForm(owner) {
  SetName("FormStart");
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poDesktopCenter);
  SetFont(TFont{});
  SetClientSize(265, 230);

  PaintBox = new TDXPaintBox(this);
  PaintBox->SetName("PaintBox");
  PaintBox->SetParent(this);
  PaintBox->SetAlign(TAlign::alClient);

  btnStart = AddButton("btnStart", 12, "ゲームスタート", 0, 0);
  btnStart->OnClick = Handler(this, &TFormStart::btnStartClick);
  btnInstall = AddButton("btnInstall", 64, "インストール", 1, 1);
  btnInstall->OnClick = Handler(this, &TFormStart::btnStartClick);
  btnDirectX = AddButton("btnDirectX", 100, "DirectXをインストール", 2, 2);
  btnDirectX->OnClick = Handler(this, &TFormStart::btnDirectXClick);
  btnWinMedia = AddButton("btnWinMedia", 136, "WindowsMediaPlayerをインストール", 3, 3);
  btnWinMedia->OnClick = Handler(this, &TFormStart::btnWinMediaClick);
  btnExit = AddButton("btnExit", 188, "終了", 0, 4);
  btnExit->OnClick = Handler(this, &TFormStart::btnExitClick);

  OnCreate = Handler(this, &TFormStart::FormCreate);
}

TButton* TFormStart::AddButton(const std::string& name, int top, const std::string& caption, int tag,
                               int tabOrder) {
  auto* b = new TButton(this);
  b->SetName(name);
  b->SetParent(this);
  b->SetBounds(28, top, 213, 29);
  b->SetCaption(caption);
  b->SetTag(tag);
  b->SetTabOrder(tabOrder);
  return b;
}

void TFormStart::FormCreate(TObject* /*Sender*/) {
  const TSetupGlobals& g = SetupGlobals();
  const TRovaInstallSet& s = *g.Settings;
  exeFolder_ = AddTrailingBackslash(ExtractFilePath(g.ExeName));
  Application->SetTitle(s.Title);
  SetCaption(s.Title);
  btnStart->SetEnabled(s.IsGameInstalled());
  DrawBackdropPicture(PaintBox);

  const int shift = btnDirectX->Top() - btnInstall->Top();
  if (!s.OfferRuntimes || !FileExists(exeFolder_ + "directx\\dxsetup.exe")) {
    btnDirectX->SetVisible(false);
    btnWinMedia->SetTop(btnWinMedia->Top() - shift);
    btnExit->SetTop(btnExit->Top() - shift);
    SetClientHeight(ClientHeight() - shift);
  }
  if (!s.OfferRuntimes || !FileExists(exeFolder_ + "winmedia\\mp71.exe")) {
    btnWinMedia->SetVisible(false);
    btnExit->SetTop(btnExit->Top() - shift);
    SetClientHeight(ClientHeight() - shift);
  }
}

void TFormStart::btnStartClick(TObject* Sender) {
  if (auto* button = dynamic_cast<TComponent*>(Sender)) LaunchMode = static_cast<int32_t>(button->Tag());
  SetModalResult(mrOk);
}

void TFormStart::RunSideSetup(const std::string& folder, const std::string& file) {
  // The setup runs on its own; its result is not looked at and the launcher stays open.
  // It runs in its own folder on the medium.
  Platform().ShellExecute("open", exeFolder_ + folder + file, "", exeFolder_ + folder, kShowWindow);
}

void TFormStart::btnDirectXClick(TObject* /*Sender*/) { RunSideSetup("directx\\", "dxsetup.exe"); }

void TFormStart::btnWinMediaClick(TObject* /*Sender*/) { RunSideSetup("winmedia\\", "mp71.exe"); }

void TFormStart::btnExitClick(TObject* /*Sender*/) { SetModalResult(mrCancel); }

}  // namespace vr
