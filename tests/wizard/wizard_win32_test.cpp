// The wizard in real windows over a backdrop window, walked with keys posted as the user types them
// (Windows builds, under Wine). VR_SHOW_MS slows the walk down for a look at each page.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "framework/win32/win32widgets.h"
#include "support/win32_testutil.h"
#include "wizard/insttype.h"

// clang-format off
#include <windows.h>
// clang-format on

namespace vr {
namespace {

int Pause() {
  const char* ms = std::getenv("VR_SHOW_MS");
  return 80 + (ms ? std::atoi(ms) : 0);
}

void PostKey(HWND target, WPARAM key) {
  PostMessageW(target, WM_KEYDOWN, key, 0);
  PostMessageW(target, WM_KEYUP, key, 0xC0000000);
}

// What the timer saw on each visit.
struct TVisit {
  std::string Page;
  std::wstring Caption;
  std::wstring Next;
  bool NextEnabled = false;
  bool FocusOnPage = false;  // the focus is on a control of the form
  bool FocusOnClose = false;
};

TFormType* gForm = nullptr;
std::vector<TVisit> gVisits;
int gDirItems = -1, gDriveItems = -1;
bool gAsked = false;

void CALLBACK Step(HWND, UINT, UINT_PTR, DWORD) {
  if (PressDialogButton(L"確認", L"いいえ(&N)")) {
    gAsked = true;
    return;
  }
  if (!gForm || !gForm->Visible()) return;
  TFormType& f = *gForm;
  HWND focus = GetFocus();
  TVisit v;
  v.Page = f.CurrentPageName();
  v.Caption = TextOf(H(&f));
  v.Next = TextOf(H(f.btnNext));
  v.NextEnabled = IsWindowEnabled(H(f.btnNext));
  v.FocusOnPage = focus && IsChild(H(&f), focus) && IsWindowVisible(focus);
  v.FocusOnClose = focus == H(f.btnAbort);
  if (gVisits.empty() || gVisits.back().Page != v.Page || gVisits.back().NextEnabled != v.NextEnabled)
    gVisits.push_back(v);
  if (v.Page == "seldir") {
    gDirItems = static_cast<int>(SendMessageW(H(f.Directory), LB_GETCOUNT, 0, 0));
    gDriveItems = static_cast<int>(SendMessageW(H(f.Drive), CB_GETCOUNT, 0, 0));
  }
  if (v.Page == "License" && !f.CheckLicense->Checked()) {
    PostKey(focus, VK_SPACE);
  } else if (v.Page == "exit") {
    PostKey(focus, VK_RETURN);  // the focused Close button
  } else if (v.Page == "Hello" && !gAsked) {
    PostMessageW(H(&f), WM_CLOSE, 0, 0);  // the close box; the question is answered No
  } else {
    PostKey(focus ? focus : H(&f), VK_RETURN);
  }
}

TEST(WizardWin32, KeyboardWalkOverTheBackdrop) {
  Application->DestroyComponents();
  auto previous = Application->SetWidgetSet(CreateWin32WidgetSet());
  {
    TRovaInstallSet settings;
    settings.Title = "テストゲーム";
    settings.DefaultFolder = "<ProgramFiles>\\Maker\\Game";
    settings.MediaNoun = "ディスク";
    settings.WelcomeText = "ようこそ。\r\nテストゲームのセットアップを開始します。";
    settings.LicenseText = "使用許諾契約書\r\n本ソフトウェアを使用する前にお読みください。";
    settings.SetDiskCount(2);
    settings.BaseSizes = {1048576, 0};
    settings.DataSizes = {int64_t(700) * 1048576, int64_t(600) * 1048576};
    settings.SoundSizes = {int64_t(100) * 1048576, 0};
    settings.MovieSizes = {0, int64_t(300) * 1048576};
    settings.BaseSizeTotal = 1048576;
    settings.DataSizeTotal = int64_t(1300) * 1048576;
    settings.SoundSizeTotal = int64_t(100) * 1048576;
    settings.MovieSizeTotal = int64_t(300) * 1048576;

    auto* backdrop = new TForm(Application);
    backdrop->SetBorderStyle(TFormBorderStyle::bsSingle);
    backdrop->SetClientSize(640, 480);
    backdrop->SetPosition(TPosition::poScreenCenter);
    backdrop->SetCaption("テストゲームのセットアップ");
    backdrop->Show();
    gForm = CreateForm<TFormType>(backdrop, settings, nullptr);
    gVisits.clear();
    // Stands in for the install run: it ends on "exit" as a finished run does.
    gForm->OnEnterCopy = [](TFormType& form) {
      form.btnBack->Hide();
      form.btnNext->Hide();
      form.GoToPage(TFormType::pgExit);
      return true;
    };
    UINT_PTR timer = SetTimer(nullptr, 0, static_cast<UINT>(Pause()), Step);
    ASSERT_NE(timer, 0u);
    EXPECT_EQ(gForm->ShowModal(), mrOk);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(gAsked);

    std::vector<std::string> pages;
    for (const TVisit& v : gVisits) pages.push_back(v.Page);
    EXPECT_EQ(pages, (std::vector<std::string>{"Hello", "License", "License", "Media", "file", "seldir",
                                               "confirm", "exit"}));
    ASSERT_EQ(gVisits.size(), 8u);
    EXPECT_EQ(gVisits[0].Caption, L"ようこそ");
    EXPECT_FALSE(gVisits[1].NextEnabled);
    EXPECT_TRUE(gVisits[2].NextEnabled);
    EXPECT_EQ(gVisits[3].Caption, L"インストールするディスク");
    EXPECT_EQ(gVisits[6].Next, L"インストール");
    EXPECT_EQ(gVisits[7].Caption, L"完了");
    EXPECT_TRUE(gVisits[7].FocusOnClose);
    EXPECT_EQ(TextOf(H(gForm->btnAbort)), L"閉じる(&C)");
    for (const TVisit& v : gVisits) EXPECT_TRUE(v.FocusOnPage) << v.Page;
    EXPECT_GT(gDirItems, 0);
    EXPECT_GT(gDriveItems, 0);
    // Centred on the backdrop, which stays below it.
    EXPECT_EQ(gForm->Left(), backdrop->Left() + (backdrop->Width() - gForm->Width()) / 2);
    // The long confirmation line fits the page.
    EXPECT_LE(gForm->LabelBack->Left() + gForm->LabelBack->Width(), 497);
    EXPECT_LE(gForm->Label2->Left() + gForm->Label2->Width(), 497);
    gForm = nullptr;
  }
  Application->DestroyComponents();
  Application->SetWidgetSet(std::move(previous));
}

}  // namespace
}  // namespace vr

#endif
