// Shared pieces of the start-up and launcher tests: a platform that records what the run starts and
// schedules, game packages built in a test folder, and a layered backdrop picture with known pixels.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/vrfiles.h"
#include "archive/vrfiles_testutil.h"
#include "framework/classes.h"
#include "framework/forwardplatform.h"
#include "framework/headless/headless.h"
#include "imaging/vskbuild.h"
#include "startup/instset.h"
#include "startup/startup.h"
#include "support/tempdrive.h"

namespace vr {
namespace starttest {

// One recorded ShellExecute call.
struct TStarted {
  std::string Operation, File, Parameters, Directory;
  int Show = 0;
};

// Forces the administrator answer, the start result and the module resource; records programs
// started and files scheduled for deletion at restart; keeps the temp folder inside the test folder.
class TStartupPlatform : public TForwardPlatform {
 public:
  explicit TStartupPlatform(std::string tempFolder) : temp_(std::move(tempFolder)) {
    TTempDrive::MakeFolders(ExcludeTrailingBackslash(temp_));
  }

  bool Admin = true;
  intptr_t ShellResult = 42;
  // The "DUMMY"/"BINTYPE" resource of the executable ResourceModule, when set.
  std::string ResourceModule;
  std::string ResourceBytes;
  std::vector<TStarted> Started;
  std::vector<std::string> RestartDeletes;
  // Called at each start, before it is recorded (to look at the state at that moment).
  std::function<void(const TStarted&)> OnStart;

  // Random bytes: the system's, or every byte `FixedRandom` when it is 0-255 (every name the same);
  // -2 for a system without a random source.
  int FixedRandom = -1;
  // The copy made of a file is cut short (a copy that does not hold the program's bytes).
  bool CutCopies = false;

  std::optional<bool> ShellIsUserAnAdmin() override { return Admin; }
  bool RandomBytes(void* buffer, size_t count) override {
    if (FixedRandom == -2) return false;
    if (FixedRandom < 0) return Inner().RandomBytes(buffer, count);
    std::memset(buffer, FixedRandom, count);
    return true;
  }
  bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override {
    if (!Inner().CopyFile(from, to, failIfExists)) return false;
    if (!CutCopies) return true;
    const THandle h = Inner().FileOpen(to, fmOpenWrite | fmShareDenyNone);
    const bool cut = h != kInvalidHandle && Inner().FileSetSize(h, 1);
    if (h != kInvalidHandle) Inner().FileClose(h);
    return cut;
  }
  std::string GetTempPath() override { return temp_; }
  intptr_t ShellExecute(const std::string& op, const std::string& file, const std::string& params,
                        const std::string& dir, int show) override {
    TStarted s{op, file, params, dir, show};
    if (OnStart) OnStart(s);
    Started.push_back(s);
    return ShellResult;
  }
  // Programs started and waited for (operation "wait"); the answer is the exit code.
  std::function<int32_t(const TStarted&)> OnWait = [](const TStarted&) { return 0; };
  int32_t RunProcessAndWait(const std::string& file, const std::string& params,
                            const std::function<bool()>&) override {
    TStarted s{"wait", file, params, "", 0};
    Started.push_back(s);
    return OnWait(s);
  }
  bool MoveFileDelayUntilReboot(const std::string& path) override {
    RestartDeletes.push_back(path);
    return true;
  }
  std::optional<TResourceData> FindResource(const std::string& module, const std::string& name,
                                            const std::string& type) override {
    if (!ResourceModule.empty() && module == ResourceModule && name == "DUMMY" && type == "BINTYPE") {
      TResourceData d;
      d.Data = reinterpret_cast<const uint8_t*>(ResourceBytes.data());
      d.Size = ResourceBytes.size();
      return d;
    }
    return Inner().FindResource(module, name, type);
  }

 private:
  std::string temp_;
};

// Picture of the tests: 24 bits, w x h, pixel (x, y) has red 4x, green 6y and blue 0x80; rows
// permuted with the settings' seed.
inline TColor PicturePixel(int x, int y) { return MakeColor(4 * x, 6 * y, 0x80); }

inline std::string BuildPicture(int w, int h, uint32_t seed) {
  const vsktest::Bytes bytes = vsktest::Picture24(w, h, seed, [](int x, int y, uint8_t* p) {
    const TColor c = PicturePixel(x, y);
    p[0] = static_cast<uint8_t>(GetBValue(c));
    p[1] = static_cast<uint8_t>(GetGValue(c));
    p[2] = static_cast<uint8_t>(GetRValue(c));
  });
  return std::string(bytes.begin(), bytes.end());
}

inline std::string SettingsBytes(const TRovaInstallSet& s) {
  TMemoryStream m;
  s.SaveToStream(m);
  return vrtest::MemoryText(m);
}

// A package: settings, a picture and the test's folders. Title and registry key are unique per object,
// so packages never share a mutex or a registry key, also under Windows where both are the system's.
class TPackage {
 public:
  explicit TPackage(const TTempDrive& drive) : drive_(drive) {
    static std::atomic<int> serial{0};
    const std::string n = std::to_string(serial++) + "-" + std::to_string(drive.Folder().size());
    Settings.Title = "星の物語" + n;
    Settings.RegistryKey =
        "VrStartupTest\\Star" + n + "-" + ExtractFileName(ExcludeTrailingBackslash(drive.Folder()));
    Settings.GameExe = "star.exe";
    Settings.FooterText = "(C) 2024 テスト";
    Settings.BackdropPicture = "pict\\back.vsk";
    Settings.BackdropLayout = 0;
    Settings.PictureSeed = 4321;
  }
  ~TPackage() { Settings.DeleteSettingsKey(); }
  TPackage(const TPackage&) = delete;
  TPackage& operator=(const TPackage&) = delete;

  TRovaInstallSet Settings;
  int PictureWidth = 40;
  int PictureHeight = 30;
  std::string ExeBytes = "MZ this stands in for the setup program";

  // The archive with the picture, and with the settings too when asked.
  std::string Archive(bool withSettings) const {
    std::vector<vrtest::RawEntry> entries;
    if (withSettings) entries.push_back(vrtest::Stored("install.dat", SettingsBytes(Settings)));
    entries.push_back(vrtest::Compressed(
        Settings.BackdropPicture,
        BuildPicture(PictureWidth, PictureHeight, static_cast<uint32_t>(Settings.PictureSeed))));
    return vrtest::BuildArchive(102, entries);
  }

  // medium\setup.exe with install.dat and game.dat beside it; returns the executable's path.
  std::string WriteMedium(const std::string& folder = "medium") const {
    drive_.WriteFile(folder + "\\setup.exe", ExeBytes);
    drive_.WriteFile(folder + "\\install.dat", SettingsBytes(Settings));
    drive_.WriteFile(folder + "\\game.dat", Archive(false));
    return drive_.PathOf(folder + "\\setup.exe");
  }

  // An executable carrying the archive (with the settings) through the six-byte trailer.
  std::string WriteAppended(const std::string& relative) const {
    drive_.WriteFile(relative, ExeBytes);
    drive_.WriteFile(relative + ".pak", Archive(true));
    AppendArchiveToExecutable(drive_.PathOf(relative), drive_.PathOf(relative + ".pak"));
    Platform().DeleteFile(drive_.PathOf(relative + ".pak"));
    return drive_.PathOf(relative);
  }

  // Marks the game as installed in the folder `relative` (with its executable there).
  void Install(const std::string& relative) const {
    drive_.WriteFile(relative + "\\" + Settings.GameExe, "game");
    Settings.WriteSetting("InstallPath", drive_.PathOf(relative));
  }

 private:
  const TTempDrive& drive_;
};

// Fills the process-wide references for tests that build the windows without a start-up run.
class TGlobalsScope {
 public:
  TGlobalsScope(TRovaInstallSet* settings, TVrFileCollection* archive, const std::string& exeName) {
    SetupGlobals() = TSetupGlobals{settings, archive, exeName, ExtractFilePath(exeName)};
  }
  ~TGlobalsScope() { SetupGlobals() = TSetupGlobals{}; }
};

// A whole start-up run on a temporary drive: the package, the platform that records what the run
// starts, a headless session and the run's report. The run changes the process-wide default read mode;
// it is put back afterwards.
class TStartupFixture : public ::testing::Test {
 protected:
  TStartupFixture() : platform(drive.Folder() + "temp\\"), package(drive) {}
  ~TStartupFixture() override { FileMode = savedFileMode; }

  int Run(const std::string& exe, std::vector<std::string> params = {}) {
    return RunSetup(TStartupEnvironment{exe, std::move(params)}, &report);
  }
  std::string TempFolder() const { return drive.Folder() + "temp\\"; }
  // The token a start handed to a temp copy ("" when it handed none).
  static std::string TokenOf(const TStarted& s) {
    const size_t at = s.Parameters.rfind(" /TEMPCOPY=");
    return at == std::string::npos ? std::string() : s.Parameters.substr(at + 11);
  }
  // Where the temp copy that `token` names lives.
  std::string TempCopyPath(const std::string& token) const {
    return TempFolder() + "~rinstall-" + token + "\\~rinstall.exe";
  }

  TTempDrive drive;
  TStartupPlatform platform;
  TPackage package;
  THeadlessSession session;
  TStartupReport report;
  uint16_t savedFileMode = FileMode;
};

}  // namespace starttest
}  // namespace vr
