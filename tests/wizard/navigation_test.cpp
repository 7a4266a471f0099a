// The wizard's pages, captions, buttons, close questions and run hooks, walked as the user walks them.
#include <gtest/gtest.h>

#include "framework/dialogs.h"
#include "wizard/insttype.h"
#include "wizard_support.h"

namespace vr {
namespace {

using wiztest::TWizardEnv;

std::vector<int> EnabledPages(const TFormType& f) {
  std::vector<int> pages;
  for (int i = 0; i < TFormType::kPageCount; ++i)
    if (f.PageEnabled[i]) pages.push_back(i);
  return pages;
}

void ThreeMedia(TRovaInstallSet& s, int32_t index) {
  s.SetDiskCount(3);
  s.DiskIndex = index;
  s.BaseSizes = {100, 0, 0};
  s.DataSizes = {1000, 2000, 0};
  s.SoundSizes = {0, 30000, 40000};
  s.MovieSizes = {0, 0, 500000};
  s.BaseSizeTotal = 100;
  s.DataSizeTotal = 3000;
  s.SoundSizeTotal = 70000;
  s.MovieSizeTotal = 500000;
}

TEST(WizardNavigation, FullInstallWalkFromTheFirstOfThreeMedia) {
  TWizardEnv env;
  ThreeMedia(env.Settings, 0);
  TFormType* f = env.CreateShown();

  EXPECT_EQ(EnabledPages(*f), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(f->DefaultButton(), f->btnNext);

  // "Hello"
  EXPECT_EQ(env.Page(), "Hello");
  EXPECT_EQ(f->Caption(), "ようこそ");
  EXPECT_EQ(f->EditHello->Text(), "ようこそ、テストゲームへ");
  EXPECT_TRUE(f->btnBack->Visible());
  EXPECT_FALSE(f->btnBack->Enabled());
  EXPECT_TRUE(f->btnNext->Enabled());
  EXPECT_EQ(f->btnNext->Caption(), "次へ(&N) >");
  EXPECT_EQ(f->btnAbort->Caption(), "中断(&A)");
  EXPECT_TRUE(f->LabelBack->Visible());
  EXPECT_TRUE(f->LabelBack2->Visible());

  // "License": Next follows the consent box, also when it is unticked again.
  headless::PressEnter(f);
  EXPECT_EQ(env.Page(), "License");
  EXPECT_EQ(f->Caption(), "ライセンス契約");
  EXPECT_EQ(f->EditLicense->Text(), "使用許諾契約書");
  EXPECT_TRUE(f->btnBack->Enabled());
  EXPECT_FALSE(f->btnNext->Enabled());
  EXPECT_FALSE(f->KeyEnter());
  headless::SetChecked(f->CheckLicense, true);
  EXPECT_TRUE(f->btnNext->Enabled());
  headless::SetChecked(f->CheckLicense, false);
  EXPECT_FALSE(f->btnNext->Enabled());
  headless::SetChecked(f->CheckLicense, true);
  headless::PressEnter(f);

  // "Media": all media chosen at start.
  EXPECT_EQ(env.Page(), "Media");
  EXPECT_EQ(f->Caption(), "インストールするディスク");
  EXPECT_EQ(f->LabelDisk->Caption(), "インストールするディスクを指定してください");
  EXPECT_EQ(f->RadioDiskAll->Caption(), "全てのディスクをインストール");
  EXPECT_EQ(f->RadioDiskThis->Caption(), "このディスクをインストール");
  EXPECT_TRUE(f->RadioDiskAll->Checked());
  EXPECT_FALSE(f->RadioDiskThis->Checked());
  env.Next();

  // "file": visibility and size from the totals.
  EXPECT_EQ(env.Page(), "file");
  EXPECT_EQ(f->Caption(), "インストールするファイル");
  EXPECT_TRUE(f->CheckProg->Visible() && f->CheckData->Visible() && f->CheckSound->Visible() &&
              f->CheckMovie->Visible());
  EXPECT_EQ(f->RequiredBytes, 100u);
  headless::SetChecked(f->CheckSound, true);
  EXPECT_EQ(f->RequiredBytes, 70100u);
  EXPECT_THROW(headless::SetChecked(f->CheckProg, false), EScriptError);  // disabled
  f->CheckProg->SetChecked(false);                                        // its handler ticks it again
  EXPECT_TRUE(f->CheckProg->Checked());

  // Back to "Media", choose this medium only: the counts of medium 0 apply on the way forward.
  env.Back();
  EXPECT_EQ(env.Page(), "Media");
  headless::Choose(f->RadioDiskThis);
  env.Next();
  EXPECT_TRUE(f->CheckProg->Visible());
  EXPECT_TRUE(f->CheckData->Visible());
  EXPECT_FALSE(f->CheckSound->Visible());  // 0 on medium 0, still ticked
  EXPECT_FALSE(f->CheckMovie->Visible());
  EXPECT_TRUE(f->CheckSound->Checked());
  EXPECT_EQ(f->RequiredBytes, 100u);
  headless::SetChecked(f->CheckData, true);
  EXPECT_EQ(f->RequiredBytes, 1100u);
  env.Next();

  // "seldir"
  EXPECT_EQ(env.Page(), "seldir");
  EXPECT_EQ(f->Caption(), "インストール先の選択");
  EXPECT_EQ(f->LabelSzNeed->Caption(), "インストールには最低 0.00 MBのディスクの空き容量が必要です");
  env.Next();

  // "confirm"
  EXPECT_EQ(env.Page(), "confirm");
  EXPECT_EQ(f->Caption(), "インストール準備完了");
  EXPECT_EQ(f->btnNext->Caption(), "インストール");
  EXPECT_TRUE(f->btnNext->Enabled());

  // Walking back keeps every choice.
  while (env.Page() != "License") env.Back();
  EXPECT_TRUE(f->CheckLicense->Checked());
  EXPECT_TRUE(f->btnNext->Enabled());
  EXPECT_EQ(f->btnNext->Caption(), "次へ(&N) >");
  while (env.Page() != "confirm") env.Next();
  EXPECT_TRUE(f->RadioDiskThis->Checked());
  EXPECT_TRUE(f->CheckData->Checked());
}

TEST(WizardNavigation, PageFlagsOfEachKindOfPackage) {
  struct TCase {
    const char* what;
    bool welcome, license;
    uint8_t kind;
    bool addOn;
    int32_t count, index;
    std::vector<int> pages;
    const char* first;
  };
  const TCase cases[] = {
      {"no texts, one medium", false, false, 0, false, 1, 0, {3, 4, 5, 6, 7, 8, 9}, "file"},
      {"welcome only", true, false, 0, false, 1, 0, {0, 3, 4, 5, 6, 7, 8, 9}, "Hello"},
      {"licence only", false, true, 0, false, 2, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}, "License"},
      {"later medium", true, true, 0, false, 3, 2, {0, 1, 3, 4, 5, 6, 7, 8, 9}, "Hello"},
      {"kind 1", false, false, 1, false, 3, 0, {4, 5, 6, 7, 8, 9}, "seldir"},
      {"add-on", false, true, 0, true, 3, 0, {1, 4, 5, 6, 7, 8, 9}, "License"},
      {"kind 2", true, true, 2, false, 3, 0, {0, 1, 5, 6, 7, 8, 9}, "Hello"},
      {"kind 2 without texts", false, false, 2, true, 1, 0, {5, 6, 7, 8, 9}, "confirm"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TWizardEnv env;
    ThreeMedia(env.Settings, 0);
    env.Settings.SetDiskCount(c.count);
    env.Settings.DiskIndex = c.index;
    if (!c.welcome) env.Settings.WelcomeText.clear();
    if (!c.license) env.Settings.LicenseText.clear();
    env.Settings.InstallKind = c.kind;
    env.Settings.AddOnPackage = c.addOn;
    TFormType* f = env.CreateShown();
    EXPECT_EQ(EnabledPages(*f), c.pages);
    EXPECT_EQ(env.Page(), c.first);
    EXPECT_FALSE(f->btnBack->Enabled());
    EXPECT_TRUE(f->btnBack->Visible());
    EXPECT_EQ(f->LabelBack->Visible(), std::string(c.first) != "confirm");
    EXPECT_EQ(f->LabelBack2->Visible(), f->LabelBack->Visible());
    // Enter walks to "confirm" through exactly the enabled pages (the licence ticked on the way).
    std::vector<int> visited{f->CurrentPage()};
    while (f->CurrentPage() != TFormType::pgConfirm) {
      if (f->CurrentPage() == TFormType::pgLicense) headless::SetChecked(f->CheckLicense, true);
      if (f->CurrentPage() == TFormType::pgSelDir && c.addOn) break;  // needs an installed game
      headless::PressEnter(f);
      visited.push_back(f->CurrentPage());
      // The focus stays on a control that shows, so that Enter keeps reaching Next.
      ASSERT_NE(f->ActiveControl(), nullptr);
      EXPECT_TRUE(f->ActiveControl()->Showing());
    }
    std::vector<int> expected;
    for (int p : c.pages)
      if (p <= visited.back()) expected.push_back(p);
    EXPECT_EQ(visited, expected);
  }
}

TEST(WizardNavigation, KindOneTicksEveryGroupAndCountsTheTotals) {
  TWizardEnv env;
  env.Settings.InstallKind = 1;
  TFormType* f = env.Create();
  EXPECT_TRUE(f->CheckData->Checked());
  EXPECT_TRUE(f->CheckSound->Checked());
  EXPECT_TRUE(f->CheckMovie->Checked());
  // 10 + 1024 + 512 MiB from the totals, though no medium choice was made.
  EXPECT_FALSE(f->RadioDiskAll->Checked());
  EXPECT_EQ(f->RequiredBytes, uint64_t(1546) * 1048576);
  EXPECT_EQ(f->LabelSize->Caption(), "最低 1546.00 MBのディスクの空き容量が必要です");
}

TEST(WizardNavigation, AbortAndCloseBoxAskBeforeClosing) {
  TWizardEnv env;
  TFormType* f = env.Create();
  // Abort on "Hello": No keeps the wizard on its page, then the close box and Yes close it.
  env.session->Then([&](TForm*) { headless::Click(f->btnAbort); });
  env.session->Answer(TMsgDlgType::mtConfirmation, "インストールを中断しますか？", mrNo);
  env.session->Then([&](TForm*) {
    EXPECT_EQ(env.Page(), "Hello");
    EXPECT_EQ(f->ModalResult(), mrNone);
    headless::CloseBox(f);
  });
  env.session->Answer(TMsgDlgType::mtConfirmation, "インストールを中断しますか？", mrYes);
  EXPECT_EQ(f->ShowModal(), mrCancel);
  ASSERT_EQ(env.session->Dialogs.size(), 2u);
  EXPECT_EQ(env.session->Dialogs[0].Text, "インストールを中断しますか？");
  EXPECT_EQ(env.session->Dialogs[0].Caption, "確認");

  // Another modal result closes without a question.
  env.session->Then([&](TForm*) { f->SetModalResult(mrOk); });
  EXPECT_EQ(f->ShowModal(), mrOk);
  EXPECT_EQ(env.session->Dialogs.size(), 2u);
}

TEST(WizardNavigation, UninstallModeAsksWithItsOwnWordAndHidesBack) {
  TWizardEnv env;
  env.Settings.Uninstaller = true;
  TFormType* f = env.CreateShown();
  EXPECT_EQ(EnabledPages(*f), (std::vector<int>{7, 8, 9}));
  EXPECT_EQ(env.Page(), "uninst");
  EXPECT_EQ(f->Caption(), "アンインストール");
  EXPECT_EQ(f->LabelUninst->Caption(), "テストゲーム をコンピュータから削除します");
  EXPECT_FALSE(f->btnBack->Visible());
  EXPECT_EQ(f->btnNext->Caption(), "実行");
  EXPECT_TRUE(f->btnNext->Enabled());
  EXPECT_FALSE(f->LabelBack->Visible());
  f->Hide();

  env.session->Then([&](TForm*) { headless::Click(f->btnAbort); });
  env.session->Answer(TMsgDlgType::mtConfirmation, "アンインストールを中断しますか？", mrNo);
  env.session->Then([&](TForm*) { headless::CloseBox(f); });
  env.session->Answer(TMsgDlgType::mtConfirmation, "アンインストールを中断しますか？", mrYes);
  EXPECT_EQ(f->ShowModal(), mrCancel);
  EXPECT_EQ(env.session->PendingAnswers(), 0u);
}

TEST(WizardNavigation, InstallWithoutPackageArchiveWritesNothingAndSaysSo) {
  TWizardEnv env;
  TFormType* f = env.CreateShown();
  const std::string destination = f->DestinationFolder();
  f->GoToPage("confirm");
  std::string pageAtWarning;
  env.session->Answer([&](const TDialogRecord& d) {
    EXPECT_EQ(d.Type, TMsgDlgType::mtWarning);
    EXPECT_NE(d.Text.find("インストール処理"), std::string::npos);
    pageAtWarning = env.Page();
    return mrOk;
  });
  headless::PressEnter(f);
  EXPECT_EQ(pageAtWarning, "confirm");  // the warning never stands over the progress page
  // Back on "confirm" with its buttons; no folder, settings file or registry value appeared.
  EXPECT_EQ(env.Page(), "confirm");
  EXPECT_EQ(f->Caption(), "インストール準備完了");
  EXPECT_EQ(f->btnNext->Caption(), "インストール");
  EXPECT_TRUE(f->btnNext->Enabled());
  EXPECT_EQ(f->ModalResult(), mrNone);
  EXPECT_EQ(env.session->PendingAnswers(), 0u);
  EXPECT_EQ(Platform().GetFileAttributes(ExcludeTrailingBackslash(destination)), faInvalid);
  EXPECT_EQ(env.Settings.ReadSetting("InstallPath", "<none>"), "<none>");
}

TEST(WizardNavigation, UninstallRunAbortedBeforeItsFilesDeletesNothing) {
  TWizardEnv un;
  un.Settings.Uninstaller = true;
  un.SourceFolder = un.drive.PathOf("game");
  un.drive.WriteFile("game\\save.dat", "save");
  un.Settings.AddInstalledFile("save.dat");
  un.Settings.WriteSetting("InstallPath", un.drive.PathOf("game"));
  TFormType* u = un.CreateShown();
  EXPECT_EQ(un.Page(), "uninst");
  EXPECT_EQ(u->btnNext->Caption(), "実行");
  // The user's confirmed abort reaches the run at its first check.
  u->SetModalResult(mrAbort);
  un.Next();
  EXPECT_EQ(un.Page(), "delete");
  EXPECT_EQ(u->Caption(), "削除");
  EXPECT_EQ(un.drive.ReadFile("game\\save.dat"), "save");
  EXPECT_EQ(un.Settings.ReadSetting("InstallPath", ""), un.drive.PathOf("game"));
}

TEST(WizardNavigation, RunHooksLeadToExitAndAbortConfirmations) {
  TWizardEnv env;
  env.Settings.WelcomeText.clear();
  env.Settings.LicenseText.clear();
  env.Settings.InstallKind = 2;
  TFormType* f = env.Create();
  ASSERT_EQ(env.Page(), "confirm");

  // A run that pumps messages until the user's confirmed abort; the first abort is declined.
  int steps = 0;
  f->OnEnterCopy = [&](TFormType& form) {
    form.SetCaption("ファイルコピー");
    while (steps < 1000) {
      Application->ProcessMessages();
      if (form.ModalResult() == mrAbort) return false;
      ++steps;
    }
    return false;
  };
  env.session->Then([&](TForm*) { headless::PressEnter(f); });
  env.session->When([&](TForm*) { return steps == 3; }, [&](TForm*) { headless::Click(f->btnAbort); });
  env.session->Answer(TMsgDlgType::mtConfirmation, "インストールを中断しますか？", mrNo);
  env.session->When([&](TForm*) { return steps == 6; }, [&](TForm*) { headless::Click(f->btnAbort); });
  env.session->Answer(TMsgDlgType::mtConfirmation, "インストールを中断しますか？", mrYes);
  EXPECT_EQ(f->ShowModal(), mrAbort);
  EXPECT_EQ(steps, 6);
  // The aborted run left the buttons as they were on "confirm".
  EXPECT_EQ(env.Page(), "copy");
  EXPECT_EQ(f->btnNext->Caption(), "インストール");
  EXPECT_EQ(f->Caption(), "ファイルコピー");

  // A run that finishes moves to "exit": Close has the focus and closes without a question.
  f->GoToPage("confirm");
  f->OnEnterCopy = [](TFormType& form) {
    form.btnBack->Hide();
    form.btnNext->Hide();
    form.GoToPage(form.CurrentPage() + 1);
    return true;
  };
  env.session->Then([&](TForm*) { headless::PressEnter(f); });
  env.session->Then([&](TForm*) {
    EXPECT_EQ(env.Page(), "exit");
    EXPECT_EQ(f->Caption(), "完了");
    EXPECT_EQ(f->btnAbort->Caption(), "閉じる(&C)");
    EXPECT_TRUE(f->btnAbort->Focused());
    EXPECT_EQ(f->LabelExit->Caption(), "インストールが完了しました");
    headless::PressEnter(f);  // the focused Close button
  });
  const size_t dialogs = env.session->Dialogs.size();
  EXPECT_EQ(f->ShowModal(), mrOk);
  EXPECT_EQ(env.session->Dialogs.size(), dialogs);

  // Next on "copy" (a run that left the button usable) closes with OK; Abort on "delete" asks.
  f->OnEnterCopy = [](TFormType&) { return true; };
  f->GoToPage("copy");
  f->btnNext->Show();
  f->btnNext->SetEnabled(true);
  env.session->Then([&](TForm*) { headless::Click(f->btnNext); });
  EXPECT_EQ(f->ShowModal(), mrOk);
  f->OnEnterDelete = [](TFormType&) { return true; };
  f->GoToPage("delete");
  env.session->Then([&](TForm*) { headless::Click(f->btnAbort); });
  env.session->Answer(TMsgDlgType::mtConfirmation, "アンインストールを中断しますか？", mrYes);
  EXPECT_EQ(f->ShowModal(), mrAbort);
}

}  // namespace
}  // namespace vr
