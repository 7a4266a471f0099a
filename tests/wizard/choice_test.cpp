// Media, file groups, required and free space, the proposed destination and the destination check.
#include <gtest/gtest.h>

#include "archive/bigstreams.h"
#include "archive/vrfiles.h"
#include "framework/dialogs.h"
#include "wizard/destination.h"
#include "wizard/insttype.h"
#include "wizard_support.h"

namespace vr {
namespace {

using wiztest::TWizardEnv;

TEST(WizardChoice, FileGroupsBySubstringOfTheExtension) {
  EXPECT_EQ(FileGroupOf(".mp3"), TFileGroup::fgSound);
  EXPECT_EQ(FileGroupOf(".WAV"), TFileGroup::fgSound);
  EXPECT_EQ(FileGroupOf(".mp"), TFileGroup::fgSound);  // part of ".mp2"
  EXPECT_EQ(FileGroupOf(".ogg"), TFileGroup::fgSound);
  EXPECT_EQ(FileGroupOf(".mpe"), TFileGroup::fgMovie);  // part of ".mpeg"
  EXPECT_EQ(FileGroupOf(".MPEG"), TFileGroup::fgMovie);
  EXPECT_EQ(FileGroupOf(".avi"), TFileGroup::fgMovie);
  EXPECT_EQ(FileGroupOf(".txt"), TFileGroup::fgOther);
  EXPECT_EQ(FileGroupOf(".exe"), TFileGroup::fgOther);
  EXPECT_EQ(FileGroupOf(""), TFileGroup::fgOther);
  EXPECT_EQ(FileGroupOf("."), TFileGroup::fgSound);  // a bare dot is part of the list too
}

#ifndef _WIN32

TEST(WizardChoice, SizeLabelsAndFreeSpace) {
  TWizardEnv env;
  env.Settings.WelcomeText.clear();
  env.Settings.LicenseText.clear();
  env.Settings.BaseSizes = {1536 * int64_t(1048576)};
  TFormType* f = env.CreateShown();
  ASSERT_EQ(env.Page(), "file");
  EXPECT_EQ(f->LabelSize->Caption(), "最低 1536.00 MBのディスクの空き容量が必要です");
  // Neither radio button is checked for one medium; the counts of medium 0 apply.
  EXPECT_FALSE(f->RadioDiskAll->Checked() || f->RadioDiskThis->Checked());
  EXPECT_FALSE(f->CheckMovie->Visible());
  headless::SetChecked(f->CheckData, true);
  EXPECT_EQ(f->RequiredBytes, uint64_t(2560) * 1048576);
  EXPECT_EQ(f->LabelSize->Caption(), "最低 2560.00 MBのディスクの空き容量が必要です");
  headless::SetChecked(f->CheckData, false);

  env.Space().Queried.clear();
  env.Next();
  EXPECT_EQ(env.Page(), "seldir");
  EXPECT_EQ(f->LabelSzNeed->Caption(), "インストールには最低 1536.00 MBのディスクの空き容量が必要です");
  EXPECT_EQ(f->LabelSzDrv->Caption(), "このドライブには 12,345 MBの空きがあります");
  ASSERT_FALSE(env.Space().Queried.empty());
  EXPECT_EQ(env.Space().Queried.back(), "C:\\");
  // Another drive in the list: its own free space; a failed query shows 0.
  env.Space().Fails = true;
  headless::SelectDrive(f->Drive, 'D');
  EXPECT_EQ(env.Space().Queried.back(), "D:\\");
  EXPECT_EQ(f->LabelSzDrv->Caption(), "このドライブには 0 MBの空きがあります");
  EXPECT_EQ(TFormType::FreeMegabytes('D'), 0);
  env.Space().Fails = false;
  env.Space().FreeBytes = int64_t(3) * 1048576 - 1;
  EXPECT_EQ(TFormType::FreeMegabytes('c'), 2);
  EXPECT_EQ(TFormType::FreeMegabytes('?'), 0);

  // 1,048,575 bytes show as 1.00 but count as 0 MiB: no question even without free space.
  env.Settings.BaseSizes = {1048575};
  f->UpdateRequiredSize();
  EXPECT_EQ(f->LabelSzNeed->Caption(), "インストールには最低 1.00 MBのディスクの空き容量が必要です");
  env.Space().FreeBytes = 0;
  headless::TypeText(f->EditDir, "C:\\Games\\Test");
  env.Next();
  EXPECT_EQ(env.Page(), "confirm");
}

TEST(WizardChoice, LaterMediumUsesItsOwnCountsAndHiddenTicksStillCount) {
  TWizardEnv env;
  env.Settings.SetDiskCount(3);
  env.Settings.DiskIndex = 1;
  env.Settings.BaseSizes = {100, 0, 7};
  env.Settings.DataSizes = {1000, 2000, 0};
  env.Settings.SoundSizes = {0, 30000, 40000};
  env.Settings.MovieSizes = {5, 0, 500000};
  env.Settings.MovieSizeTotal = 500005;
  TFormType* f = env.CreateShown();
  EXPECT_FALSE(f->PageEnabled[TFormType::pgMedia]);
  EXPECT_FALSE(f->RadioDiskAll->Checked());
  f->GoToPage("file");
  EXPECT_FALSE(f->CheckProg->Visible());
  EXPECT_TRUE(f->CheckData->Visible());
  EXPECT_TRUE(f->CheckSound->Visible());
  EXPECT_FALSE(f->CheckMovie->Visible());
  EXPECT_EQ(f->RequiredBytes, 0u);
  headless::SetChecked(f->CheckData, true);
  headless::SetChecked(f->CheckSound, true);
  EXPECT_EQ(f->RequiredBytes, 32000u);
  f->CheckMovie->SetChecked(true);  // hidden, yet its count (0 on this medium) is added
  EXPECT_EQ(f->RequiredBytes, 32000u);
  // A medium index outside the arrays counts nothing instead of reading past them.
  env.Settings.DiskIndex = 7;
  f->UpdateRequiredSize();
  EXPECT_EQ(f->RequiredBytes, 0u);
}

TEST(WizardChoice, ProposedDestinationBelowProgramFiles) {
  TWizardEnv env;
  TTempDrive::MakeFolders("C:\\Program Files\\Other");
  TFormType* f = env.CreateShown();
  EXPECT_EQ(f->EditDir->Text(), "C:\\Program Files\\Maker\\Game");
  EXPECT_EQ(f->Directory->Directory(), "C:\\Program Files");
  EXPECT_EQ(f->SubFolder, "Maker\\Game");
  EXPECT_EQ(f->Drive->Drive(), 'C');
  EXPECT_EQ(f->DestinationFolder(), "C:\\Program Files\\Maker\\Game\\");
  // Browsing keeps the game's own subfolder behind the picked folder.
  f->GoToPage("seldir");
  int other = -1;
  for (size_t i = 0; i < f->Directory->Items().size(); ++i)
    if (f->Directory->Items()[i].Text == "Other") other = static_cast<int>(i);
  ASSERT_GE(other, 0);
  headless::OpenFolder(f->Directory, other);
  EXPECT_EQ(f->EditDir->Text(), "C:\\Program Files\\Other\\Maker\\Game");
  headless::OpenFolder(f->Directory, 0);
  EXPECT_EQ(f->EditDir->Text(), "C:\\Maker\\Game");
}

TEST(WizardChoice, ProposedDestinationWhenPartOfItExists) {
  TWizardEnv env;
  TTempDrive::MakeFolders("C:\\Program Files\\Maker\\Earlier");
  TFormType* f = env.Create();
  // The list stands on the maker's folder; the proposal does not name it twice.
  EXPECT_EQ(f->Directory->Directory(), "C:\\Program Files\\Maker");
  EXPECT_EQ(f->EditDir->Text(), "C:\\Program Files\\Maker\\Game");
  EXPECT_EQ(f->SubFolder, "Maker\\Game");
}

TEST(WizardChoice, ProposedDestinationOnTheWindowsDrive) {
  {
    TWizardEnv env;
    env.Settings.DefaultFolder = "\\ゲーム表\\Game\\";  // 0x955C: a trail byte like a backslash
    TFormType* f = env.Create();
    EXPECT_EQ(f->EditDir->Text(), "C:\\ゲーム表\\Game");
    EXPECT_EQ(f->SubFolder, "ゲーム表\\Game");
    EXPECT_EQ(f->Directory->Directory(), "C:\\");
  }
  TWizardEnv kind2;
  kind2.Settings.InstallKind = 2;
  EXPECT_EQ(kind2.Create()->DestinationFolder(), "C:\\windows\\");
}

TEST(WizardChoice, ExistingInstallPathIsProposedAsItIs) {
  {
    TWizardEnv env;
    env.drive.WriteFile("Games\\テスト\\save\\a.dat", "x");
    env.Settings.WriteSetting("InstallPath", env.drive.PathOf("Games\\テスト\\"));
    TFormType* f = env.CreateShown();
    const std::string installed = env.drive.PathOf("Games\\テスト");
    EXPECT_EQ(f->EditDir->Text(), installed);
    EXPECT_EQ(f->SubFolder, "");
    EXPECT_EQ(f->Directory->Directory(), installed);
    f->GoToPage("seldir");
    const auto& items = f->Directory->Items();
    ASSERT_EQ(items.back().Text, "save");
    headless::OpenFolder(f->Directory, static_cast<int>(items.size()) - 1);
    EXPECT_EQ(f->EditDir->Text(), installed + "\\save");
  }

  // An InstallPath that no longer exists falls back to the default folder.
  TWizardEnv gone;
  gone.Settings.WriteSetting("InstallPath", gone.drive.PathOf("Removed"));
  EXPECT_EQ(gone.Create()->EditDir->Text(), "C:\\Program Files\\Maker\\Game");
}

TEST(WizardChoice, DestinationCheckWarnings) {
  TWizardEnv env;
  env.Settings.WelcomeText.clear();
  env.Settings.LicenseText.clear();
  env.Settings.InstallKind = 1;  // 1546 MiB needed
  TFormType* f = env.CreateShown();
  ASSERT_EQ(env.Page(), "seldir");

  for (const char* root : {"C:\\", "C:", ""}) {
    headless::TypeText(f->EditDir, root);
    env.session->Answer(TMsgDlgType::mtWarning, "正しいインストール先を指定してください", mrOk);
    env.Next();
    EXPECT_EQ(env.Page(), "seldir");
  }
  // Too little space on the drive of the typed folder (not the one in the drive list).
  env.Space().FreeBytes = int64_t(1545) * 1048576;
  headless::TypeText(f->EditDir, "D:\\Games\\Test");
  env.Space().Queried.clear();
  env.session->Answer(TMsgDlgType::mtWarning,
                      "ドライブにじゅうぶんな空き容量がありません\r\nこのまま処理を続けますか？", mrNo);
  env.Next();
  EXPECT_EQ(env.Page(), "seldir");
  EXPECT_EQ(env.Space().Queried, std::vector<std::string>{"D:\\"});
  EXPECT_EQ(env.session->Dialogs.back().Caption, "警告");
  EXPECT_EQ(env.session->Dialogs.back().Buttons, (std::vector<std::string>{"はい(&Y)", "いいえ(&N)"}));
  env.session->Answer(TMsgDlgType::mtWarning, "じゅうぶんな空き容量", mrYes);
  env.Next();
  EXPECT_EQ(env.Page(), "confirm");
  // Exactly enough: no question; a failed query counts as no space at all.
  env.Back();
  env.Space().FreeBytes = int64_t(1546) * 1048576;
  env.Next();
  EXPECT_EQ(env.Page(), "confirm");
  env.Back();
  env.Space().Fails = true;
  env.session->Answer(TMsgDlgType::mtWarning, "じゅうぶんな空き容量", mrNo);
  env.Next();
  EXPECT_EQ(env.Page(), "seldir");
  EXPECT_EQ(env.session->PendingAnswers(), 0u);
}

void MakeInstallerExe(TWizardEnv& env, const std::string& exe, const std::string& title) {
  TTempDrive::MakeFolders(env.drive.PathOf("pkg"));
  TRovaInstallSet packaged;
  packaged.Title = title;
  packaged.SaveToFile(env.drive.PathOf("pkg\\install.dat"));
  TVrFileCollection files;
  ASSERT_EQ(files.AddFolder(env.drive.PathOf("pkg"), false), 1);
  {
    TKoBigFileStream out(env.drive.PathOf("pack.dat"), fmCreate);
    ASSERT_TRUE(files.SaveToStream(out, false));
  }
  env.drive.WriteFile(exe, "MZ program bytes");
  AppendArchiveToExecutable(env.drive.PathOf(exe), env.drive.PathOf("pack.dat"));
}

TEST(WizardChoice, AddOnDestinationMustHoldItsGame) {
  TWizardEnv env;
  env.Settings.WelcomeText.clear();
  env.Settings.LicenseText.clear();
  env.Settings.AddOnPackage = true;
  TFormType* f = env.CreateShown();
  ASSERT_EQ(env.Page(), "seldir");
  // Every group counts for an add-on, whatever the boxes say.
  EXPECT_EQ(f->RequiredBytes, uint64_t(10 + 1024 + 512) * 1048576);
  // The folder list gives the folder it stands on alone for an add-on.
  EXPECT_EQ(f->EditDir->Text(), "C:\\Program Files");
  headless::OpenFolder(f->Directory, 0);
  EXPECT_EQ(f->EditDir->Text(), "C:\\");
  auto tryFolder = [&](const std::string& folder, bool accepted) {
    f->GoToPage("seldir");
    headless::TypeText(f->EditDir, env.drive.PathOf(folder));
    if (!accepted)
      env.session->Answer(TMsgDlgType::mtWarning, "正しいインストール先を指定してください", mrOk);
    env.Next();
    EXPECT_EQ(env.Page(), accepted ? "confirm" : "seldir") << folder;
  };
  env.drive.WriteFile("empty\\note.txt", "");
  tryFolder("empty", false);
  tryFolder("missing", false);

  TRovaInstallSet other;
  other.Title = "別のゲーム";
  env.drive.WriteFile("other\\x", "");
  other.SaveToFile(env.drive.PathOf("other\\install.dat"));
  tryFolder("other", false);
  env.drive.WriteFile("broken\\install.dat", "is108");
  tryFolder("broken", false);

  TRovaInstallSet same;
  same.Title = "テストゲーム";
  env.drive.WriteFile("game\\x", "");
  same.SaveToFile(env.drive.PathOf("game\\install.dat"));
  tryFolder("game", true);

  // Without a settings file, an installed single-executable game of the same title.
  env.drive.WriteFile("single\\readme.txt", "");
  MakeInstallerExe(env, "single\\game.exe", "テストゲーム");
  tryFolder("single", true);
  env.drive.WriteFile("single2\\readme.txt", "");
  MakeInstallerExe(env, "single2\\game.exe", "テストゲーム2");
  tryFolder("single2", false);
}

#endif

}  // namespace
}  // namespace vr
