// Registry values, kinds, subkeys and deletion; persistence across platform instances.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/platform.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

std::string UniqueKey() {
  return "Software\\VrPlatformTest\\" + std::to_string(Platform().GetTickCount()) + "-" +
         std::to_string(reinterpret_cast<uintptr_t>(&UniqueKey) % 9973);
}

TEST(PlatformRegistry, ValuesKindsAndCase) {
  TTempDrive drive;
  TPlatform& p = Platform();
  const std::string key = UniqueKey() + "\\ゲーム表";
  EXPECT_FALSE(p.RegKeyExists(TRegRoot::HKCU, key));
  std::string value = "untouched";
  EXPECT_EQ(p.RegReadString(TRegRoot::HKCU, key, "InstallPath", value), TRegRead::Missing);
  EXPECT_EQ(value, "untouched");
  ASSERT_TRUE(p.RegWriteString(TRegRoot::HKCU, key, "InstallPath", "C:\\ゲーム\\表"));
  EXPECT_TRUE(p.RegKeyExists(TRegRoot::HKCU, key));
  // Key and value names are matched without regard to case, with or without a leading backslash.
  std::string upperKey = key;
  std::transform(upperKey.begin(), upperKey.end(), upperKey.begin(),
                 [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; });
  EXPECT_EQ(p.RegReadString(TRegRoot::HKCU, "\\" + upperKey, "installpath", value), TRegRead::Ok);
  EXPECT_EQ(value, "C:\\ゲーム\\表");
  // Overwrite, empty strings, a value that is not a string.
  ASSERT_TRUE(p.RegWriteString(TRegRoot::HKCU, key, "INSTALLPATH", "D:\\x"));
  EXPECT_EQ(p.RegReadString(TRegRoot::HKCU, key, "InstallPath", value), TRegRead::Ok);
  EXPECT_EQ(value, "D:\\x");
  ASSERT_TRUE(p.RegWriteString(TRegRoot::HKCU, key, "Empty", ""));
  EXPECT_EQ(p.RegReadString(TRegRoot::HKCU, key, "Empty", value), TRegRead::Ok);
  EXPECT_EQ(value, "");
  ASSERT_TRUE(p.RegWriteDword(TRegRoot::HKCU, key, "Count", 7));
  EXPECT_EQ(p.RegReadString(TRegRoot::HKCU, key, "Count", value), TRegRead::NotString);
  // The roots are separate.
  EXPECT_FALSE(p.RegKeyExists(TRegRoot::HKLM, key));
  EXPECT_TRUE(p.RegDeleteKeyTree(TRegRoot::HKCU, ExtractFileDir(key)));
}

TEST(PlatformRegistry, SubKeysValuesAndTreeDeletion) {
  TTempDrive drive;
  TPlatform& p = Platform();
  const std::string base = UniqueKey();
  EXPECT_FALSE(p.RegSubKeyNames(TRegRoot::HKCU, base).has_value());
  ASSERT_TRUE(p.RegWriteString(TRegRoot::HKCU, base + "\\Beta\\Deep\\Deeper", "v", "1"));
  ASSERT_TRUE(p.RegWriteString(TRegRoot::HKCU, base + "\\alpha", "v", "2"));
  ASSERT_TRUE(p.RegWriteString(TRegRoot::HKCU, base + "\\Gamma", "v", "3"));
  auto names = p.RegSubKeyNames(TRegRoot::HKCU, base);
  ASSERT_TRUE(names.has_value());
  std::sort(names->begin(), names->end());
  EXPECT_EQ(*names, (std::vector<std::string>{"Beta", "Gamma", "alpha"}));  // only direct children
  // Intermediate keys exist but hold no values.
  EXPECT_TRUE(p.RegKeyExists(TRegRoot::HKCU, base + "\\Beta\\Deep"));
  EXPECT_FALSE(p.RegKeyHasValues(TRegRoot::HKCU, base + "\\Beta"));
  EXPECT_TRUE(p.RegKeyHasValues(TRegRoot::HKCU, base + "\\Gamma"));
  EXPECT_TRUE(p.RegSubKeyNames(TRegRoot::HKCU, base + "\\Gamma")->empty());
  // Deleting a subtree leaves its siblings; deleting a missing key fails.
  EXPECT_TRUE(p.RegDeleteKeyTree(TRegRoot::HKCU, base + "\\BETA"));
  EXPECT_FALSE(p.RegKeyExists(TRegRoot::HKCU, base + "\\Beta\\Deep\\Deeper"));
  EXPECT_FALSE(p.RegKeyExists(TRegRoot::HKCU, base + "\\Beta"));
  EXPECT_TRUE(p.RegKeyExists(TRegRoot::HKCU, base + "\\alpha"));
  EXPECT_FALSE(p.RegDeleteKeyTree(TRegRoot::HKCU, base + "\\Beta"));
  EXPECT_TRUE(p.RegDeleteKeyTree(TRegRoot::HKCU, base));
  EXPECT_FALSE(p.RegKeyExists(TRegRoot::HKCU, base + "\\alpha"));
}

#ifndef _WIN32
TEST(PlatformRegistry, StoreIsSharedByInstancesAndSurvivesOddBytes) {
  TTempDrive drive;
  TPlatform& p = Platform();
  const std::string odd = std::string("a b%c\x01\x7F") + "表\n=";
  ASSERT_TRUE(
      p.RegWriteString(TRegRoot::HKCU, "Software\\Odd " + odd, odd, odd + std::string(1, '\0') + "x"));
  TPosixPlatform other(drive.PosixConfig());
  std::string value;
  EXPECT_EQ(other.RegReadString(TRegRoot::HKCU, "software\\ODD " + odd, odd, value), TRegRead::Ok);
  EXPECT_EQ(value, odd);  // the text ends at an embedded NUL, as a Windows string read would
  uint32_t kind = 0;
  std::string raw;
  ASSERT_TRUE(other.RegReadRaw(TRegRoot::HKCU, "Software\\Odd " + odd, odd, kind, raw));
  EXPECT_EQ(kind, static_cast<uint32_t>(kRegSz));
  EXPECT_EQ(raw.size(), odd.size() + 2);
  ASSERT_TRUE(other.RegDeleteKeyTree(TRegRoot::HKCU, "Software\\Odd " + odd));
  EXPECT_FALSE(p.RegKeyExists(TRegRoot::HKCU, "Software\\Odd " + odd));
  // A fresh store knows the profile list and the user's shell folders.
  auto profiles =
      p.RegSubKeyNames(TRegRoot::HKLM, "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList");
  ASSERT_TRUE(profiles.has_value());
  ASSERT_EQ(profiles->size(), 1u);
  EXPECT_EQ(p.RegReadString(TRegRoot::HKLM,
                            "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + (*profiles)[0],
                            "ProfileImagePath", value),
            TRegRead::Ok);
  EXPECT_EQ(value, "%SystemDrive%\\users\\user");
  EXPECT_EQ(
      p.RegReadString(
          TRegRoot::HKU,
          (*profiles)[0] + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
          "Local AppData", value),
      TRegRead::Ok);
  EXPECT_EQ(value, "%USERPROFILE%\\AppData\\Local");
}

TEST(PlatformRegistry, DelayedDeletionIsRecordedLikeWindows) {
  TTempDrive drive;
  TPosixPlatform& p = *drive.Posix();
  drive.WriteFile("~rinstall.exe", "x");
  ASSERT_TRUE(p.MoveFileDelayUntilReboot(drive.PathOf("~rinstall.exe")));
  ASSERT_TRUE(p.MoveFileDelayUntilReboot("C:\\other.tmp"));
  uint32_t kind = 0;
  std::string data;
  ASSERT_TRUE(p.RegReadRaw(TRegRoot::HKLM, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                           "PendingFileRenameOperations", kind, data));
  EXPECT_EQ(kind, static_cast<uint32_t>(kRegMultiSz));
  const std::string z(1, '\0');
  EXPECT_EQ(data, "\\??\\" + drive.PathOf("~rinstall.exe") + z + z + "\\??\\C:\\other.tmp" + z + z + z);
  EXPECT_TRUE(drive.Exists("~rinstall.exe"));  // nothing is deleted now
  EXPECT_FALSE(p.MoveFileDelayUntilReboot("Q:\\unmapped.txt"));
}
#endif

}  // namespace
}  // namespace vr
