// System helpers: administrator test, mutexes, folders, restart deletion, copies, sizes and listings.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "framework/forwardplatform.h"
#include "startup/syshelpers.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

class TFamilyPlatform : public TForwardPlatform {
 public:
  bool nt = true;
  std::optional<bool> admin;
  std::vector<std::string> delayed;
  struct TProfileWrite {
    std::string section, key, value, file;
  };
  std::vector<TProfileWrite> profileWrites;
  int releases = 0, closes = 0;
  std::string systemDirectory;
  std::string windowsDirectory;

  bool IsNTFamily() override { return nt; }
  std::optional<bool> ShellIsUserAnAdmin() override { return admin; }
  bool MoveFileDelayUntilReboot(const std::string& p) override {
    delayed.push_back(p);
    return true;
  }
  bool WritePrivateProfileString(const std::string& s, const std::string& k, const std::string& v,
                                 const std::string& f) override {
    profileWrites.push_back({s, k, v, f});
    return TForwardPlatform::WritePrivateProfileString(s, k, v, f);
  }
  std::string GetSystemDirectory() override {
    return systemDirectory.empty() ? TForwardPlatform::GetSystemDirectory() : systemDirectory;
  }
  std::string GetWindowsDirectory() override {
    return windowsDirectory.empty() ? TForwardPlatform::GetWindowsDirectory() : windowsDirectory;
  }
  void ReleaseMutex(THandle h) override {
    ++releases;
    TForwardPlatform::ReleaseMutex(h);
  }
  void CloseMutex(THandle h) override {
    ++closes;
    TForwardPlatform::CloseMutex(h);
  }
};

TEST(SysHelpers, AdministratorOnBothFamilies) {
  TTempDrive drive;
  TFamilyPlatform p;
  p.admin = true;
  EXPECT_TRUE(IsAdministrator());
  p.admin = false;
  EXPECT_FALSE(IsAdministrator());
  p.admin = std::nullopt;
  EXPECT_FALSE(IsAdministrator()) << "a missing shell test counts as no administrator";
  p.nt = false;
  EXPECT_TRUE(IsAdministrator()) << "the 9x family has no such test";
}

TEST(SysHelpers, SingleInstanceMutex) {
  TTempDrive drive;
  TFamilyPlatform p;
  const std::string name = "VrTestSingleInstance-ゲーム";
  EXPECT_FALSE(MutexExists(name));
  THandle first = CreateSingleInstanceMutex(name);
  ASSERT_NE(first, kInvalidHandle);
  EXPECT_TRUE(MutexExists(name));
  p.releases = p.closes = 0;
  EXPECT_EQ(CreateSingleInstanceMutex(name), kInvalidHandle);
  EXPECT_EQ(p.releases, 1) << "the second handle is released";
  EXPECT_EQ(p.closes, 1) << "and closed";
  EXPECT_TRUE(MutexExists(name)) << "the first holder still has it";
  ReleaseSingleInstanceMutex(first);
  EXPECT_FALSE(MutexExists(name));
  p.releases = p.closes = 0;
  ReleaseSingleInstanceMutex(kInvalidHandle);
  EXPECT_EQ(p.releases + p.closes, 0);
}

TEST(SysHelpers, TrailingBackslashAndFolders) {
  TTempDrive drive;
  EXPECT_EQ(AddTrailingBackslash("C:"), "C:\\");
  EXPECT_EQ(AddTrailingBackslash(""), "\\");
  EXPECT_EQ(AddTrailingBackslash("C:\\Games\\"), "C:\\Games\\");
  EXPECT_EQ(AddTrailingBackslash("C:\\Games"), "C:\\Games\\");
  // "表" is 0x95 0x5C: its trail byte is not a delimiter.
  EXPECT_EQ(AddTrailingBackslash("C:\\表"), "C:\\表\\");
  EXPECT_EQ(AddTrailingBackslash("ソ"), "ソ\\");

  TFamilyPlatform p;
  p.systemDirectory = "D:\\WINNT\\system32";
  EXPECT_EQ(GetSystemDrive(), "D:");
  EXPECT_FALSE(GetSpecialFolder(38).empty());
  EXPECT_THROW(GetSpecialFolder(0x7FFF), EVrError);
}

TEST(SysHelpers, DeleteOnRestartPerFamily) {
  TTempDrive drive;
  TFamilyPlatform p;
  const std::string target = drive.PathOf("~rinstall.exe");
  drive.WriteFile("~rinstall.exe", "MZ");
  DeleteOnRestart(target);
  EXPECT_EQ(p.delayed, std::vector<std::string>{target});
  EXPECT_TRUE(p.profileWrites.empty());

  p.nt = false;
  p.windowsDirectory = ExcludeTrailingBackslash(drive.Folder());
  DeleteOnRestart(target);
  EXPECT_EQ(p.delayed.size(), 1u) << "no delayed move on the 9x family";
  ASSERT_EQ(p.profileWrites.size(), 1u);
  EXPECT_EQ(p.profileWrites[0].section, "rename");
  EXPECT_EQ(p.profileWrites[0].key, "NUL");
  EXPECT_EQ(p.profileWrites[0].value, Platform().GetShortPathName(target));
  EXPECT_EQ(p.profileWrites[0].file, drive.PathOf("wininit.ini"));
  const std::string ini = drive.ReadFile("wininit.ini");
  EXPECT_NE(ini.find("[rename]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("NUL="), std::string::npos) << ini;
}

// Registry answers for the profile tests, kept apart from the real registry.
class TProfilesPlatform : public TFamilyPlatform {
 public:
  std::map<std::string, std::map<std::string, std::string>> keys;  // "HKLM\\path" -> values
  std::optional<std::vector<std::string>> profiles;

  static std::string Id(TRegRoot r, const std::string& p) {
    return (r == TRegRoot::HKLM ? "HKLM\\" : r == TRegRoot::HKU ? "HKU\\" : "HKCU\\") + p;
  }
  bool RegKeyExists(TRegRoot r, const std::string& p) override { return keys.count(Id(r, p)) > 0; }
  TRegRead RegReadString(TRegRoot r, const std::string& p, const std::string& n, std::string& v) override {
    auto k = keys.find(Id(r, p));
    if (k == keys.end()) return TRegRead::Missing;
    auto value = k->second.find(n);
    if (value == k->second.end()) return TRegRead::Missing;
    v = value->second;
    return TRegRead::Ok;
  }
  std::optional<std::vector<std::string>> RegSubKeyNames(TRegRoot r, const std::string& p) override {
    if (r == TRegRoot::HKLM && p == "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList")
      return profiles;
    return std::nullopt;
  }
};

TEST(SysHelpers, LocalAppDataFoldersOfEveryProfile) {
  TTempDrive drive;
  TProfilesPlatform p;
  const std::string drv = ExtractFileDrive(drive.Folder());     // "C:"
  const std::string below = drive.Folder().substr(drv.size());  // "\work\" and the like
  p.systemDirectory = drv + "\\windows\\system32";
  const std::string list = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
  const std::string shell = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  p.profiles = std::vector<std::string>{"S-alice", "S-bob", "S-carol", "S-dave", "S-erin"};
  // alice: %SystemDrive% profile, her own shell folders.
  p.keys["HKLM\\" + list + "S-alice"]["ProfileImagePath"] = "%SystemDrive%" + below + "Users\\alice";
  p.keys["HKU\\S-alice" + shell]["Local AppData"] = "%USERPROFILE%\\AppData\\Local";
  drive.WriteFile("Users\\alice\\AppData\\Local\\My_Game_\\save.dat", "s");
  // bob: absolute profile path, no hive of his own: the default user's folders are used.
  p.keys["HKLM\\" + list + "S-bob"]["ProfileImagePath"] = drive.PathOf("Users\\bob\\");
  p.keys["HKU\\.Default" + shell]["Local AppData"] = "%USERPROFILE%\\Local Settings";
  drive.WriteFile("Users\\bob\\Local Settings\\My_Game_\\x", "s");
  // carol: an absolute local folder is skipped even though it exists.
  p.keys["HKLM\\" + list + "S-carol"]["ProfileImagePath"] = drive.PathOf("Users\\carol");
  p.keys["HKU\\S-carol" + shell]["Local AppData"] = drive.PathOf("Users\\carol\\Local");
  drive.WriteFile("Users\\carol\\Local\\My_Game_\\x", "s");
  // dave: profile folder missing; erin: no profile path at all.
  p.keys["HKLM\\" + list + "S-dave"]["ProfileImagePath"] = drive.PathOf("Users\\dave");
  p.keys["HKU\\S-dave" + shell]["Local AppData"] = "%USERPROFILE%\\AppData\\Local";
  p.keys["HKLM\\" + list + "S-erin"]["ProfileImagePath"] = "";

  TStringList found;
  found.Add("kept");
  EXPECT_EQ(CollectLocalAppDataFolders("My:Game?", found), 3);
  ASSERT_EQ(found.Count(), 3);
  EXPECT_EQ(found[0], "kept");
  EXPECT_EQ(found[1], drv + below + "Users\\alice\\AppData\\Local\\My_Game_\\");
  EXPECT_EQ(found[2], drive.PathOf("Users\\bob\\Local Settings\\My_Game_\\"));

  // "表" ends in 0x5C: that byte belongs to the character and is not replaced.
  drive.WriteFile("Users\\alice\\AppData\\Local\\表\\x", "s");
  TStringList dbcs;
  EXPECT_EQ(CollectLocalAppDataFolders("表", dbcs), 1);

  TStringList none;
  EXPECT_EQ(CollectLocalAppDataFolders("Other", none), 0) << "no such subfolders";
  EXPECT_EQ(CollectLocalAppDataFolders("", none), 0);
  p.nt = false;
  EXPECT_EQ(CollectLocalAppDataFolders("My:Game?", none), 0);
  EXPECT_EQ(none.Count(), 0);
  p.nt = true;
  p.profiles.reset();
  none.Add("x");
  EXPECT_EQ(CollectLocalAppDataFolders("My:Game?", none), 0) << "no profile list";
}

void SetTime(const std::string& path, uint32_t dosTime) {
  THandle h = Platform().FileOpen(path, fmOpenReadWrite | fmShareDenyNone);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_TRUE(Platform().FileSetDosTime(h, dosTime));
  Platform().FileClose(h);
}

TEST(SysHelpers, CopyFileIfChangedComparesTimeAndSize) {
  TTempDrive drive;
  const std::string src = drive.PathOf("src.dat"), dst = drive.PathOf("dst.dat");
  const uint32_t t1 = (45u << 25) | (6u << 21) | (15u << 16) | (12u << 11);  // 2025-06-15 12:00
  drive.WriteFile("src.dat", "source!");
  drive.WriteFile("dst.dat", "other!!");  // same size
  SetTime(src, t1);
  SetTime(dst, t1);
  EXPECT_TRUE(CopyFileIfChanged(src, dst, true));
  EXPECT_EQ(drive.ReadFile("dst.dat"), "other!!") << "same time and size: left alone";
  EXPECT_TRUE(CopyFileIfChanged(src, dst, false));
  EXPECT_EQ(drive.ReadFile("dst.dat"), "source!") << "without compare it always copies";

  drive.WriteFile("dst.dat", "longer content");
  SetTime(dst, t1);
  EXPECT_TRUE(CopyFileIfChanged(src, dst, true));
  EXPECT_EQ(drive.ReadFile("dst.dat"), "source!") << "sizes differ";

  drive.WriteFile("dst.dat", "other!!");
  SetTime(dst, t1 + 2);
  EXPECT_TRUE(CopyFileIfChanged(src, dst, true));
  EXPECT_EQ(drive.ReadFile("dst.dat"), "source!") << "times differ";

  EXPECT_TRUE(CopyFileIfChanged(src, drive.PathOf("new.dat"), true));
  EXPECT_EQ(drive.ReadFile("new.dat"), "source!");
  EXPECT_FALSE(CopyFileIfChanged(drive.PathOf("missing"), drive.PathOf("never.dat"), true));
  EXPECT_FALSE(drive.Exists("never.dat"));
}

class TModePlatform : public TForwardPlatform {
 public:
  std::vector<uint16_t> modes;
  THandle FileOpen(const std::string& name, uint16_t mode) override {
    modes.push_back(mode);
    return TForwardPlatform::FileOpen(name, mode);
  }
};

TEST(SysHelpers, FileSizeOfUsesTheDefaultReadMode) {
  TTempDrive drive;
  drive.WriteFile("f.bin", std::string(12345, 'x'));
  const uint16_t saved = FileMode;
  FileMode = fmOpenRead;
  {
    TModePlatform p;
    EXPECT_EQ(FileSizeOf(drive.PathOf("f.bin")), 12345);
    EXPECT_EQ(p.modes, std::vector<uint16_t>{fmOpenRead});
    EXPECT_EQ(FileSizeOf(drive.PathOf("missing.bin")), 0);
  }
  FileMode = saved;
  EXPECT_EQ(FileMode, fmOpenReadWrite) << "the framework's default";
}

TEST(SysHelpers, FormatThousands) {
  EXPECT_EQ(FormatThousands(0), "0");
  EXPECT_EQ(FormatThousands(999), "999");
  EXPECT_EQ(FormatThousands(1000), "1,000");
  EXPECT_EQ(FormatThousands(12345), "12,345");
  EXPECT_EQ(FormatThousands(123456), "123,456");
  EXPECT_EQ(FormatThousands(1234567), "1,234,567");
  EXPECT_EQ(FormatThousands(INT64_MAX), "9,223,372,036,854,775,807");
  EXPECT_EQ(FormatThousands(-1234), "-1,234");
  EXPECT_EQ(FormatThousands(-123), "-123");
}

std::vector<std::string> Sorted(const TStringList& l, const std::string& base) {
  std::vector<std::string> v;
  for (const std::string& s : l.Items())
    v.push_back(s.substr(0, base.size()) == base ? s.substr(base.size()) : s);
  std::sort(v.begin(), v.end());
  return v;
}

TEST(SysHelpers, ListFilesSelections) {
  TTempDrive drive;
  const std::string root = drive.PathOf("src");
  const std::string base = root + "\\";
  drive.WriteFile("src\\a.exe", "1");
  drive.WriteFile("src\\b.EXE", "1");
  drive.WriteFile("src\\c.txt", "1");
  drive.WriteFile("src\\ro.dat", "1");
  drive.WriteFile("src\\sub\\d.exe", "1");
  drive.WriteFile("src\\sub\\deep\\e.dat", "1");
  TTempDrive::MakeFolders(base + "void");
  ASSERT_TRUE(Platform().SetFileAttributes(base + "ro.dat", faReadOnly));

  TStringList l;
  ListFiles(root, 47, true, "", false, true, l, false);
  EXPECT_EQ(Sorted(l, base),
            (std::vector<std::string>{"a.exe", "b.EXE", "c.txt", "ro.dat", "sub\\d.exe", "sub\\deep\\e.dat"}))
      << "every file of the tree and no folder";

  ListFiles(base, 47, true, ".exe", false, false, l, true);
  EXPECT_EQ(Sorted(l, base), (std::vector<std::string>{"a.exe", "b.EXE"}));

  ListFiles(root, 16, false, "", false, false, l, true);
  EXPECT_EQ(Sorted(l, base), (std::vector<std::string>{"sub", "void"}));

  ListFiles(root, 63, true, "", true, false, l, true);
  EXPECT_EQ(Sorted(l, base),
            (std::vector<std::string>{"a.exe", "b.EXE", "c.txt", "ro.dat", "sub\\", "void\\"}));

  ListFiles(root, 63, true, "", false, false, l, true);
  EXPECT_EQ(Sorted(l, base), (std::vector<std::string>{"a.exe", "b.EXE", "c.txt", "ro.dat", "sub", "void"}));

  // Recursion lists subfolders with a suffix, each before its contents.
  ListFiles(root, 63, true, "", false, true, l, true);
  auto at = [&](const std::string& s) {
    return std::find(l.Items().begin(), l.Items().end(), base + s) - l.Items().begin();
  };
  EXPECT_LT(at("sub"), at("sub\\d.exe"));
  EXPECT_LT(at("sub\\deep\\"), at("sub\\deep\\e.dat"));
  EXPECT_EQ(l.Count(), 9);

  ListFiles(root, faReadOnly, false, "", false, false, l, true);
  EXPECT_EQ(Sorted(l, base), (std::vector<std::string>{"ro.dat"}));

  l.Add("kept");
  ListFiles(base + "void", 63, true, "", false, true, l, false);
  EXPECT_EQ(l.Count(), 2) << "an empty folder adds nothing";
  ListFiles(base + "void", 63, true, "", false, true, l, true);
  EXPECT_EQ(l.Count(), 0);
  ListFiles(base + "missing", 63, true, "", false, true, l, false);
  EXPECT_EQ(l.Count(), 0);
  Platform().SetFileAttributes(base + "ro.dat", faNormal);
}

}  // namespace
}  // namespace vr
