// The launcher window and the backdrop window built headless over a package: layouts with and without
// the runtime buttons, the picture layouts, the backdrop's size on two screens, what they paint.
#include <gtest/gtest.h>

#include <memory>

#include "archive/vrfiles.h"
#include "startup/main.h"
#include "startup/start.h"
#include "startup/startup_testutil.h"

namespace vr {
namespace {

using starttest::PicturePixel;
using starttest::TGlobalsScope;
using starttest::TPackage;
using starttest::TStartupPlatform;

class LauncherWindows : public ::testing::Test {
 protected:
  LauncherWindows() : platform(drive.Folder() + "temp\\"), package(drive) {}

  // Opens the package's archive and makes the references the windows read.
  void Open() {
    exe = package.WriteMedium();
    archive = std::make_unique<TVrFileCollection>();
    archive->Open(drive.PathOf("medium\\game.dat"));
    globals = std::make_unique<TGlobalsScope>(&package.Settings, archive.get(), exe);
  }
  TFormStart* Launcher() { return CreateForm<TFormStart>(Application); }

  TTempDrive drive;
  TStartupPlatform platform;
  TPackage package;
  THeadlessSession session;
  std::string exe;
  std::unique_ptr<TVrFileCollection> archive;
  std::unique_ptr<TGlobalsScope> globals;
};

TEST_F(LauncherWindows, RuntimeButtonsShiftTheLayout) {
  Open();
  // None offered (the files present do not matter then).
  drive.WriteFile("medium\\directx\\dxsetup.exe", "dx");
  drive.WriteFile("medium\\winmedia\\mp71.exe", "wm");
  std::unique_ptr<TFormStart> form(Launcher());
  EXPECT_EQ(form->ClientWidth(), 265);
  EXPECT_EQ(form->ClientHeight(), 158);
  EXPECT_FALSE(form->btnDirectX->Visible());
  EXPECT_FALSE(form->btnWinMedia->Visible());
  EXPECT_EQ(form->btnDirectX->Top(), 100);  // a hidden button keeps its place
  EXPECT_EQ(form->btnExit->Top(), 116);
  EXPECT_EQ(form->btnInstall->Top(), 64);
  EXPECT_EQ(form->BorderStyle(), TFormBorderStyle::bsDialog);
  EXPECT_EQ(form->Position(), TPosition::poDesktopCenter);
  EXPECT_EQ(form->Font().Name, "ＭＳ Ｐゴシック");
  EXPECT_EQ(form->Font().Height, -12);

  // Both offered and present.
  package.Settings.OfferRuntimes = true;
  form.reset(Launcher());
  EXPECT_EQ(form->ClientHeight(), 230);
  EXPECT_TRUE(form->btnDirectX->Visible());
  EXPECT_TRUE(form->btnWinMedia->Visible());
  EXPECT_EQ(form->btnWinMedia->Top(), 136);
  EXPECT_EQ(form->btnExit->Top(), 188);
  const std::vector<std::string> order{"btnStart", "btnInstall", "btnDirectX", "btnWinMedia", "btnExit"};
  ASSERT_EQ(form->TabList().size(), order.size());
  for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(form->TabList()[i]->Name(), order[i]);

  // Only the Windows Media Player setup present: it moves into the DirectX button's place.
  Platform().DeleteFile(drive.PathOf("medium\\directx\\dxsetup.exe"));
  form.reset(Launcher());
  EXPECT_EQ(form->ClientHeight(), 194);
  EXPECT_FALSE(form->btnDirectX->Visible());
  EXPECT_TRUE(form->btnWinMedia->Visible());
  EXPECT_EQ(form->btnWinMedia->Top(), 100);
  EXPECT_EQ(form->btnExit->Top(), 152);

  // Only DirectX.
  drive.WriteFile("medium\\directx\\dxsetup.exe", "dx");
  Platform().DeleteFile(drive.PathOf("medium\\winmedia\\mp71.exe"));
  form.reset(Launcher());
  EXPECT_EQ(form->ClientHeight(), 194);
  EXPECT_TRUE(form->btnDirectX->Visible());
  EXPECT_FALSE(form->btnWinMedia->Visible());
  EXPECT_EQ(form->btnExit->Top(), 152);
}

TEST_F(LauncherWindows, ButtonsStartSetupsOrCloseWithTheirChoice) {
  package.Settings.OfferRuntimes = true;
  Open();
  drive.WriteFile("medium\\directx\\dxsetup.exe", "dx");
  drive.WriteFile("medium\\winmedia\\mp71.exe", "wm");
  auto* form = Launcher();
  EXPECT_EQ(form->Caption(), package.Settings.Title);
  EXPECT_EQ(Application->Title(), package.Settings.Title);
  EXPECT_FALSE(form->btnStart->Enabled());  // nothing installed
  session->Then([&](TForm*) {
    // The side setups start, twice if asked, and the launcher stays.
    headless::Click(form->btnDirectX);
    headless::Click(form->btnDirectX);
    headless::Click(form->btnWinMedia);
    EXPECT_EQ(form->ModalResult(), mrNone);
    EXPECT_THROW(headless::Click(form->btnStart), EScriptError);
    headless::Click(form->btnInstall);
  });
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_EQ(form->LaunchMode, 1);
  ASSERT_EQ(platform.Started.size(), 3u);
  EXPECT_EQ(platform.Started[0].File, drive.PathOf("medium\\directx\\dxsetup.exe"));
  EXPECT_EQ(platform.Started[1].File, platform.Started[0].File);
  EXPECT_EQ(platform.Started[2].File, drive.PathOf("medium\\winmedia\\mp71.exe"));
  EXPECT_EQ(platform.Started[2].Parameters, "");
  EXPECT_EQ(platform.Started[2].Directory, drive.PathOf("medium\\winmedia\\"));
  EXPECT_EQ(platform.Started[2].Show, 5);
  // A failing side setup shows nothing.
  platform.ShellResult = 2;
  session->Then([&](TForm*) {
    headless::Click(form->btnWinMedia);
    headless::Click(form->btnExit);
  });
  EXPECT_EQ(form->ShowModal(), mrCancel);
  EXPECT_TRUE(session->Dialogs.empty());
  delete form;

  package.Install("games\\star");
  form = Launcher();
  EXPECT_TRUE(form->btnStart->Enabled());
  session->Then([&](TForm*) { headless::Click(form->btnStart); });
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_EQ(form->LaunchMode, 0);
  delete form;
}

TEST_F(LauncherWindows, PictureLayoutsInTheLauncher) {
  package.PictureWidth = 100;
  package.PictureHeight = 100;
  Open();
  // Centre: the bitmap has the picture's size and is painted in the middle of the window.
  std::unique_ptr<TFormStart> form(Launcher());
  EXPECT_TRUE(form->PaintBox->Center());
  EXPECT_FALSE(form->PaintBox->Stretch());
  EXPECT_EQ(form->PaintBox->DIB().Width(), 100);
  EXPECT_EQ(form->PaintBox->Align(), TAlign::alClient);
  TBitmap24 shot = RenderForm(*form);
  const int x0 = (265 - 100) / 2, y0 = (158 - 100) / 2;
  // Between the buttons (rows 41-63 and 93-115) the picture shows.
  EXPECT_EQ(shot.GetPixel(x0 + 3, y0 + 20), PicturePixel(3, 20));
  EXPECT_EQ(shot.GetPixel(x0 + 99, y0 + 70), PicturePixel(99, 70));
  EXPECT_NE(shot.GetPixel(x0 - 1, y0 + 20), PicturePixel(0, 20));

  // Stretch: the bitmap keeps the picture's size, the box scales it to the client area.
  package.Settings.BackdropLayout = 1;
  form.reset(Launcher());
  EXPECT_TRUE(form->PaintBox->Stretch());
  EXPECT_FALSE(form->PaintBox->Center());
  EXPECT_EQ(form->PaintBox->PaintRect(), Rect(0, 0, 265, 158));

  // Tile: the box's size when the picture was drawn (before the window shrank).
  package.Settings.BackdropLayout = 2;
  form.reset(Launcher());
  EXPECT_EQ(form->PaintBox->DIB().Width(), 265);
  EXPECT_EQ(form->PaintBox->DIB().Height(), 230);
  EXPECT_EQ(form->PaintBox->DIB().GetPixelColor(205, 130), static_cast<uint32_t>(PicturePixel(5, 30)));

  // Any other layout: the picture is read, nothing is drawn.
  package.Settings.BackdropLayout = 3;
  form.reset(Launcher());
  EXPECT_TRUE(form->PaintBox->DIB().Empty());

  // No picture named: nothing read, the buttons work as usual.
  package.Settings.BackdropLayout = 0;
  package.Settings.BackdropPicture.clear();
  form.reset(Launcher());
  EXPECT_TRUE(form->PaintBox->DIB().Empty());
  EXPECT_TRUE(form->btnInstall->Enabled());
}

TEST_F(LauncherWindows, BackdropSizeCaptionFooterAndPainting) {
  Open();
  std::unique_ptr<TFormMain> main(CreateForm<TFormMain>(Application));
  EXPECT_EQ(main->ClientWidth(), 924);
  EXPECT_EQ(main->ClientHeight(), 568);
  EXPECT_EQ(main->Caption(), package.Settings.Title + "のセットアップ");
  EXPECT_EQ(main->LabelRight->Caption(), "(C) 2024 テスト ");
  EXPECT_EQ(main->LabelRight->BoundsRect(), Bounds(0, 568 - 12 - 8, 924, 12));
  EXPECT_EQ(main->LabelRight->Alignment(), TAlignment::taRightJustify);
  EXPECT_FALSE(main->LabelRight->AutoSize());
  EXPECT_EQ(main->LabelRight->Color(), clBlack);
  EXPECT_EQ(main->LabelRight->Font().Color, clWhite);
  EXPECT_EQ(main->GradBox->StartColor(), MakeColor(0, 0, 255));
  EXPECT_EQ(main->GradBox->EndColor(), MakeColor(0, 0, 128));
  EXPECT_EQ(main->GradBox->Direction(), gdVertical);
  EXPECT_EQ(main->GradBox->BoundsRect(), Rect(0, 0, 924, 568));

  // Painted bottom first: gradient, centred picture, footer strip.
  TBitmap24 shot = RenderForm(*main);
  EXPECT_EQ(shot.GetPixel(0, 0), MakeColor(0, 0, 255));
  EXPECT_EQ(shot.GetPixel(900, 540), MakeColor(0, 0, 128));
  const int x0 = (924 - 40) / 2, y0 = (568 - 30) / 2;
  EXPECT_EQ(shot.GetPixel(x0 + 39, y0 + 29), PicturePixel(39, 29));
  EXPECT_EQ(shot.GetPixel(5, 568 - 20), clBlack);
  EXPECT_EQ(shot.GetPixel(5, 568 - 21), shot.GetPixel(5, 568 - 22));

  // The minimum on a small screen; the setup caption when the settings have one.
  session->Screen_Width = 640;
  session->Screen_Height = 480;
  package.Settings.SetupCaption = "星の物語 インストーラー";
  package.Settings.FooterText.clear();
  main.reset(CreateForm<TFormMain>(Application));
  EXPECT_EQ(main->ClientWidth(), 600);
  EXPECT_EQ(main->ClientHeight(), 400);
  EXPECT_EQ(main->Caption(), "星の物語 インストーラー");
  EXPECT_EQ(main->LabelRight->Caption(), " ");
  EXPECT_EQ(main->LabelRight->BoundsRect(), Bounds(0, 380, 600, 12));

  // Uninstaller: no archive, the removal caption, only gradient and footer.
  package.Settings.Uninstaller = true;
  SetupGlobals().Archive = nullptr;
  main.reset(CreateForm<TFormMain>(Application));
  EXPECT_EQ(main->Caption(), package.Settings.Title + "の削除");
  EXPECT_TRUE(main->PaintBox->DIB().Empty());
  shot = RenderForm(*main);
  EXPECT_EQ(shot.GetPixel(300, 1), MakeColor(0, 0, 255));
}

TEST_F(LauncherWindows, TiledBackdropCoversTheWindowAndBadPicturesFail) {
  package.Settings.BackdropLayout = 2;
  Open();
  std::unique_ptr<TFormMain> main(CreateForm<TFormMain>(Application));
  TBitmap24 shot = RenderForm(*main);
  EXPECT_EQ(shot.GetPixel(40 * 22 + 3, 30 * 18 + 4), PicturePixel(3, 4));
  EXPECT_EQ(shot.GetPixel(923, 0), PicturePixel(923 % 40, 0));
  main.reset();

  // A picture that is not in the archive: window creation fails and no window stays.
  package.Settings.BackdropPicture = "pict\\none.vsk";
  const size_t before = Application->Forms().size();
  EXPECT_THROW(CreateForm<TFormMain>(Application), Exception);
  EXPECT_THROW(CreateForm<TFormStart>(Application), Exception);
  EXPECT_EQ(Application->Forms().size(), before);
}

}  // namespace
}  // namespace vr
