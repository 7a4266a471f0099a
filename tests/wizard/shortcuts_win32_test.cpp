// A shortcut written through the shell's link object, read back through the same object (Windows
// builds, under Wine), and a shortcut folder with a folder junction-like link removed without entering it.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "startup/syshelpers.h"
#include "support/tempdrive.h"
#include "wizard/sysctrls.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
// clang-format on

namespace vr {
namespace {

std::wstring W(const std::string& s) {
  const std::u16string u = Cp932ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}

TEST(ShortcutsWin32, LinkWrittenThroughComReadsBack) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    TTempDrive drive;
    const std::string sub = "vrtest-" + ExtractFileName(ExcludeTrailingBackslash(drive.Folder()));
    TShellLink link(nullptr);
    link.LinkType = lnkPrograms;
    link.SubDir = sub;
    link.Name = "game";
    link.SetFileName(drive.Folder() + "game.exe");
    link.Arguments = "-window";
    link.Description = "Game description";
    link.IconIndex = 2;
    link.HotKey = 'G' | hkCtrl;
    link.CreateLink();
    const std::string folder = IncludeTrailingBackslash(GetSpecialFolder(lnkPrograms)) + sub + "\\";
    const std::string path = folder + "game.lnk";
    ASSERT_TRUE(FileExists(path));

    IShellLinkA* shellLink = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                           reinterpret_cast<void**>(&shellLink))));
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
    ASSERT_TRUE(SUCCEEDED(file->Load(W(path).c_str(), STGM_READ)));
    char text[MAX_PATH] = {};
    int icon = -1;
    WORD hotKey = 0;
    shellLink->GetPath(text, MAX_PATH, nullptr, 0);
    EXPECT_STRCASEEQ(text, (drive.Folder() + "game.exe").c_str());
    shellLink->GetArguments(text, MAX_PATH);
    EXPECT_STREQ(text, "-window");
    shellLink->GetDescription(text, MAX_PATH);
    EXPECT_STREQ(text, "Game description");
    shellLink->GetIconLocation(text, MAX_PATH, &icon);
    EXPECT_STRCASEEQ(text, (drive.Folder() + "game.exe").c_str());
    EXPECT_EQ(icon, 2);
    shellLink->GetWorkingDirectory(text, MAX_PATH);
    EXPECT_STRCASEEQ(text, ExcludeTrailingBackslash(drive.Folder()).c_str());
    shellLink->GetHotkey(&hotKey);
    EXPECT_EQ(hotKey, 'G' + 0x200);
    file->Release();
    shellLink->Release();

    // The folder goes with the link in it; the special folder stays.
    DeleteShortcutFolder(lnkPrograms, sub);
    EXPECT_FALSE(DirectoryExists(folder));
    EXPECT_TRUE(DirectoryExists(GetSpecialFolder(lnkPrograms)));
  }
  CoUninitialize();
}

}  // namespace
}  // namespace vr

#endif
