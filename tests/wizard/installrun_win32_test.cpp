// The install run in real windows (Windows builds, under Wine): the close box while files are being
// copied asks the abort question, Yes stops the run, and the destination is as it was.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <string>

#include "framework/forwardplatform.h"
#include "framework/win32/win32widgets.h"
#include "install_testutil.h"
#include "platform/codepage.h"
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
// The run is stopped once LabelCopy shows this text: with the close box, or else with Abort.
const char* gStopAt = "";
bool gByCloseBox = true;
// The data file's size when the question came (-1 until then).
int64_t gDataAtQuestion = -1;
std::string gDataFile;

int64_t SizeOnDisk(const std::string& path) {
  // As the folder shows it: the run holds the file open.
  WIN32_FILE_ATTRIBUTE_DATA data;
  const std::u16string name = Cp932ToUtf16(path);
  if (!GetFileAttributesExW(reinterpret_cast<const wchar_t*>(name.c_str()), GetFileExInfoStandard, &data))
    return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void CALLBACK Step(HWND, UINT, UINT_PTR, DWORD) {
  if (FindWindowW(L"VrForm", L"確認")) {
    if (gDataAtQuestion < 0 && !gDataFile.empty()) gDataAtQuestion = SizeOnDisk(gDataFile);
    PressDialogButton(L"確認", L"はい(&Y)");
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
             gForm->LabelCopy->Caption().find(gStopAt) != std::string::npos) {
    gClosed = true;
    if (gByCloseBox)
      PostMessageW(H(gForm), WM_CLOSE, 0, 0);
    else
      PostMessageW(H(gForm->btnAbort), BM_CLICK, 0, 0);
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
    gStopAt = "をコピー中";
    gByCloseBox = true;
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

// Writes at no more than about a gigabyte a second: a build of a hundred megabytes then lasts several of
// the run's redraw intervals on any machine, and the timer gets its turn in the run's message pumps.
class TPacedWrites : public TForwardPlatform {
 public:
  int32_t FileWrite(THandle h, const void* b, int32_t n) override {
    bytes_ += n > 0 ? n : 0;
    if (bytes_ >= (1 << 20)) {
      Sleep(static_cast<DWORD>(bytes_ >> 20));
      bytes_ &= (1 << 20) - 1;
    }
    return TForwardPlatform::FileWrite(h, b, n);
  }

 private:
  int64_t bytes_ = 0;
};

// Abort while the data file is being built: the question comes while the file is still growing, not
// after the whole file is written.
TEST(InstallRunWin32, AbortWhileTheDataFileIsBuiltIsAnsweredBeforeItIsWhole) {
  Application->DestroyComponents();
  auto previous = Application->SetWidgetSet(CreateWin32WidgetSet());
  gStarted = gClosed = gAsked = gToldRolledBack = false;
  {
    TTempDrive drive;
    runtest::TTestPackage package(drive);
    constexpr int64_t kEntry = 48 << 20;
    package.Media[0].Loose = {{"game.exe", "MZ game"}};
    package.Media[0].Entries = {vrtest::Stored("movie1.ogg", vrtest::RandomBytes(kEntry, 1)),
                                vrtest::Stored("movie2.ogg", vrtest::RandomBytes(kEntry, 2))};
    package.ListPackageFiles();
    package.Settings.InstallKind = 1;
    package.WriteMedium(0, "cd");
    package.Media[0].Entries.clear();
    TRovaInstallSet settings;
    settings.LoadFromFile(drive.PathOf("cd\\install.dat"));
    TVrFileCollection archive;
    archive.Open(drive.PathOf("cd\\game.dat"));

    gForm = CreateForm<TFormType>(Application, settings, &archive, drive.PathOf("cd\\"));
    gForm->EditDir->SetText(drive.PathOf("dest"));
    gForm->GoToPage(TFormType::pgConfirm);
    const std::string destination = gForm->DestinationFolder();
    gDataFile = destination + "game.dat";
    gDataAtQuestion = -1;
    gStopAt = "構築中";
    gByCloseBox = false;
    TPacedWrites paced;
    UINT_PTR timer = SetTimer(nullptr, 0, 10, Step);
    ASSERT_NE(timer, 0u);
    EXPECT_EQ(gForm->ShowModal(), mrAbort);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(gClosed);
    EXPECT_TRUE(gAsked);
    EXPECT_TRUE(gToldRolledBack);
    EXPECT_GE(gDataAtQuestion, 0);
    EXPECT_LT(gDataAtQuestion, 2 * kEntry) << "the question came only after the whole data file was written";
    EXPECT_FALSE(DirectoryExists(destination));
    gForm = nullptr;
  }
  Application->DestroyComponents();
  Application->SetWidgetSet(std::move(previous));
}

}  // namespace
}  // namespace vr

#endif
