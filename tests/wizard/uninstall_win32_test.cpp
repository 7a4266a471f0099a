// The uninstall run on the real Windows calls (under Wine): files, emptied folders, the shortcut folder
// and the registry key go; a folder link inside the game folder goes without what it points to.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "startup/syshelpers.h"
#include "support/tempdrive.h"
#include "wizard/shortcuts.h"
#include "wizard/uninstallrun.h"

// The system headers without the macros that rename the platform's methods.
#include "platform/win32/winapi.h"

namespace vr {
namespace {

class TQuietHost : public TRunHost {
 public:
  void SetHeading(const std::string&) override {}
  void SetStatus(const std::string&) override {}
  void SetProgressRange(int32_t) override {}
  void SetProgressPosition(int32_t) override {}
  void HideProgress() override {}
  void ProcessMessages() override {}
  void Wait(uint32_t) override {}
  bool AbortRequested() override { return false; }
  bool PromptMedium(const std::string&) override { return true; }
  bool Confirm(const std::string&) override { return true; }
  void Warning(const std::string&) override {}
  void ShowError(const std::string&) override {}
};

std::wstring W(const std::string& s) {
  const std::u16string u = Cp932ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}

TEST(UninstallWin32, RemovesTheInstallationAndOnlyTheLinkOfAFolderLink) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    TTempDrive drive;
    const std::string unique = ExtractFileName(ExcludeTrailingBackslash(drive.Folder()));
    const std::string game = drive.Folder() + "game\\";
    TRovaInstallSet settings;
    settings.Title = unique;
    settings.GameExe = "game.exe";
    settings.RegistryKey = "VrUninstWin32\\" + unique;
    for (const char* name : {"game.exe", "install.dat", "data\\a.bin"}) {
      drive.WriteFile(std::string("game\\") + name, name);
      settings.AddInstalledFile(name);
    }
    Platform().SetFileAttributes(game + "data\\a.bin", faReadOnly | faArchive);
    drive.WriteFile("outside\\keep.txt", "keep");
    TTempDrive::MakeFolders(drive.Folder() + "outside\\empty");
    // Symbolic links need a privilege Windows does not always grant; the run is checked without then.
    const bool linked = CreateSymbolicLinkW(W(game + "link").c_str(), W(drive.Folder() + "outside").c_str(),
                                            SYMBOLIC_LINK_FLAG_DIRECTORY) != 0;
    settings.WriteSetting("InstallPath", game);
    // (Not CreateShortcuts: it would open the folder in a shell window that keeps it in use.)
    MakeShortcut(unique, game + "game.exe", "", 0, 0, wsNormal, unique, ShortcutGroup(), game, unique);
    const std::string shortcuts = IncludeTrailingBackslash(GetSpecialFolder(ShortcutGroup())) + unique;
    ASSERT_TRUE(DirectoryExists(shortcuts));

    TQuietHost host;
    TUninstallOptions options;
    options.GameFolder = ExcludeTrailingBackslash(game);
    EXPECT_TRUE(TUninstallRun(host, settings, options).Execute());
    EXPECT_FALSE(DirectoryExists(game));
    EXPECT_FALSE(DirectoryExists(shortcuts));
    EXPECT_FALSE(Platform().RegKeyExists(TRegRoot::HKCU, "Software\\VrUninstWin32\\" + unique));
    EXPECT_EQ(drive.ReadFile("outside\\keep.txt"), "keep");
    if (linked) {
      EXPECT_TRUE(DirectoryExists(drive.Folder() + "outside\\empty"));
    }
  }
  CoUninitialize();
}

}  // namespace
}  // namespace vr

#endif
