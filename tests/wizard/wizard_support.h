// Shared set-up of the wizard tests: a private drive, a platform whose free space the test decides,
// a headless session and a package's settings.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/headless/headless.h"
#include "platform/dbcspath.h"
#include "startup/instset.h"
#include "support/tempdrive.h"
#include "wizard/insttype.h"

namespace vr {
namespace wiztest {

#ifndef _WIN32
// The POSIX platform with a free-space answer chosen by the test.
class TSpacePlatform : public TPosixPlatform {
 public:
  using TPosixPlatform::TPosixPlatform;
  int64_t FreeBytes = int64_t(12345) * 1048576;
  bool Fails = false;
  std::vector<std::string> Queried;
  // The runs' fixed pauses are recorded, not slept.
  std::vector<uint32_t> Sleeps;
  void Sleep(uint32_t milliseconds) override { Sleeps.push_back(milliseconds); }
  bool GetDiskFreeSpace(const std::string& path, int64_t& freeToCaller, int64_t& total) override {
    Queried.push_back(path);
    if (Fails) return false;
    freeToCaller = FreeBytes;
    total = FreeBytes * 2;
    return true;
  }
};
#endif

// Everything one wizard test needs; the wizard is created by Create() once the settings are filled.
class TWizardEnv {
 public:
  TWizardEnv() {
#ifndef _WIN32
    space_ = std::make_unique<TSpacePlatform>(drive.PosixConfig());
    SetPlatform(space_.get());
    // The drive list offers C: and D:, so both exist.
    std::filesystem::create_directories(drive.HostRoot() + "/drive_d");
    space_->MapDrive('D', drive.HostRoot() + "/drive_d");
#endif
    session->DriveLetters = {'C', 'D'};
    Settings.Title = "テストゲーム";
    Settings.RegistryKey = "VrWizardTest\\" + ExtractFileName(ExcludeTrailingBackslash(drive.Folder()));
    Settings.DefaultFolder = "<ProgramFiles>\\Maker\\Game";
    Settings.MediaNoun = "ディスク";
    Settings.WelcomeText = "ようこそ、テストゲームへ";
    Settings.LicenseText = "使用許諾契約書";
    Settings.SetDiskCount(1);
    Settings.BaseSizes = {int64_t(10) * 1048576};
    Settings.DataSizes = {int64_t(1024) * 1048576};
    Settings.SoundSizes = {int64_t(512) * 1048576};
    Settings.MovieSizes = {0};
    Settings.BaseSizeTotal = int64_t(10) * 1048576;
    Settings.DataSizeTotal = int64_t(1024) * 1048576;
    Settings.SoundSizeTotal = int64_t(512) * 1048576;
    Settings.MovieSizeTotal = 0;
  }
  ~TWizardEnv() {
    Settings.DeleteSettingsKey();
#ifndef _WIN32
    SetPlatform(drive.Posix());
#endif
  }

  TFormType* Create() {
    form = CreateForm<TFormType>(Application, Settings, nullptr, SourceFolder);
    return form;
  }
  // The wizard shown without a modal loop, so that a test can act step by step as the user.
  TFormType* CreateShown() {
    Create();
    form->Show();
    return form;
  }

  void Next() { headless::Click(form->btnNext); }
  void Back() { headless::Click(form->btnBack); }
  std::string Page() const { return form->CurrentPageName(); }

#ifndef _WIN32
  TSpacePlatform& Space() { return *space_; }
#endif

  TTempDrive drive;
  THeadlessSession session;
  TRovaInstallSet Settings;
  // The first command-line argument the wizard is created with.
  std::string SourceFolder;
  TFormType* form = nullptr;

 private:
#ifndef _WIN32
  std::unique_ptr<TSpacePlatform> space_;
#endif
};

}  // namespace wiztest
}  // namespace vr
