// The install run in real windows (Windows builds, under Wine): the close box while files are being
// copied asks the abort question, Yes stops the run, and the destination is as it was.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <string>

#include "framework/win32/win32widgets.h"
#include "install_testutil.h"
#include "startup/syshelpers.h"
#include "support/win32_testutil.h"
#include "wizard/installrun.h"
#include "wizard/insttype.h"

// clang-format off
#include <windows.h>
// clang-format on

namespace vr {
namespace {

TFormType* gForm = nullptr;
bool gStarted = false, gClosed = false, gAsked = false, gToldRolledBack = false;

void CALLBACK Step(HWND, UINT, UINT_PTR, DWORD) {
  if (PressDialogButton(L"確認", L"はい(&Y)")) {
    gAsked = true;
    return;
  }
  if (PressDialogButton(L"警告", L"OK")) {
    gToldRolledBack = true;
    return;
  }
  if (!gForm || !gForm->Visible()) return;
  if (!gStarted && gForm->CurrentPage() == TFormType::pgConfirm) {
    gStarted = true;
    PostMessageW(H(gForm->btnNext), BM_CLICK, 0, 0);
  } else if (!gClosed && gForm->CurrentPage() == TFormType::pgCopy &&
             gForm->LabelCopy->Caption().find("をコピー中") != std::string::npos) {
    gClosed = true;
    PostMessageW(H(gForm), WM_CLOSE, 0, 0);  // the close box
  }
}

TEST(InstallRunWin32, CloseBoxDuringTheRunAsksAndTakesTheInstallBack) {
  Application->DestroyComponents();
  auto previous = Application->SetWidgetSet(CreateWin32WidgetSet());
  {
    TTempDrive drive;
    runtest::TTestPackage package(drive);
    // Enough files that the run is still copying when the close box is pressed.
    for (int i = 0; i < 400; ++i)
      package.Media[0].Loose["data\\f" + std::to_string(i) + ".txt"] = vrtest::RandomBytes(32768, i);
    package.Media[0].Entries = {vrtest::Stored("scene", "scene")};
    package.ListPackageFiles();
    package.Settings.InstallKind = 1;  // every group chosen, no media or file pages
    package.WriteMedium(0, "cd");
    TRovaInstallSet settings;
    settings.LoadFromFile(drive.PathOf("cd\\install.dat"));
    TVrFileCollection archive;
    archive.Open(drive.PathOf("cd\\game.dat"));

    gForm = CreateForm<TFormType>(Application, settings, &archive, drive.PathOf("cd\\"));
    gForm->EditDir->SetText(drive.PathOf("dest"));
    gForm->GoToPage(TFormType::pgConfirm);
    const std::string destination = gForm->DestinationFolder();
    UINT_PTR timer = SetTimer(nullptr, 0, 20, Step);
    ASSERT_NE(timer, 0u);
    EXPECT_EQ(gForm->ShowModal(), mrAbort);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(gStarted);
    EXPECT_TRUE(gClosed);
    EXPECT_TRUE(gAsked);
    EXPECT_TRUE(gToldRolledBack);
    EXPECT_FALSE(DirectoryExists(destination + "data"));
    EXPECT_FALSE(FileExists(destination + "install.dat"));
    EXPECT_EQ(settings.ReadSetting("InstallPath", "<none>"), "<none>");
    gForm = nullptr;
  }
  Application->DestroyComponents();
  Application->SetWidgetSet(std::move(previous));
}

}  // namespace
}  // namespace vr

#endif
