// Install settings: registry values, installed-file and package-file lookups, and the atomic save.
// Registry tests use key names of their own so that they can share a real registry under Wine.
#include <gtest/gtest.h>

#include "framework/forwardplatform.h"
#include "startup/instset.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

bool KeyExists(const std::string& path) { return Platform().RegKeyExists(TRegRoot::HKCU, path); }

TEST(InstallSetRegistry, ReadAndWriteWithOrWithoutLeadingBackslash) {
  TTempDrive drive;
  Platform().RegDeleteKeyTree(TRegRoot::HKCU, "Software\\VrTestRw");
  TRovaInstallSet s;
  s.RegistryKey = "\\VrTestRw\\Game";
  EXPECT_EQ(s.ReadSetting("InstallPath", "default"), "default") << "missing key";
  s.WriteSetting("InstallPath", "C:\\ゲーム\\表");
  s.WriteSetting("CDDrive", "");
  EXPECT_TRUE(KeyExists("Software\\VrTestRw\\Game"));
  TRovaInstallSet t;
  t.RegistryKey = "VrTestRw\\Game";
  EXPECT_EQ(t.ReadSetting("InstallPath", "x"), "C:\\ゲーム\\表");
  EXPECT_EQ(t.ReadSetting("CDDrive", "x"), "") << "an empty value is a value";
  EXPECT_EQ(t.ReadSetting("Other", "dflt"), "dflt") << "missing value";
  t.RegistryKey = "VrTestRw\\Game\\";
  EXPECT_EQ(t.ReadSetting("InstallPath", "x"), "C:\\ゲーム\\表") << "a trailing backslash names the same key";

  TRovaInstallSet none;  // no key: no registry access at all
  none.WriteSetting("InstallPath", "nowhere");
  EXPECT_EQ(none.ReadSetting("InstallPath", "d"), "d");

  if (Platform().RegWriteDword(TRegRoot::HKCU, "Software\\VrTestRw\\Game", "Number", 5)) {
    EXPECT_THROW(t.ReadSetting("Number", ""), ERegistryException);
  }
  Platform().RegDeleteKeyTree(TRegRoot::HKCU, "Software\\VrTestRw");
}

TEST(InstallSetRegistry, DeleteRemovesKeyAndEmptiedParentsOnly) {
  TTempDrive drive;
  Platform().RegDeleteKeyTree(TRegRoot::HKCU, "Software\\VrTestDelMaker");
  TRovaInstallSet game;
  game.RegistryKey = "VrTestDelMaker\\Series\\Game";
  game.WriteSetting("InstallPath", "C:\\x");
  Platform().RegWriteString(TRegRoot::HKCU, "Software\\VrTestDelMaker\\Series\\Game\\Sub", "v", "1");
  TRovaInstallSet other;
  other.RegistryKey = "\\VrTestDelMaker\\Other";
  other.WriteSetting("InstallPath", "C:\\y");

  game.DeleteSettingsKey();
  EXPECT_FALSE(KeyExists("Software\\VrTestDelMaker\\Series\\Game")) << "removed with its subkeys";
  EXPECT_FALSE(KeyExists("Software\\VrTestDelMaker\\Series")) << "left empty, so removed";
  EXPECT_TRUE(KeyExists("Software\\VrTestDelMaker")) << "still holds Other";
  EXPECT_EQ(other.ReadSetting("InstallPath", ""), "C:\\y");

  other.DeleteSettingsKey();
  EXPECT_FALSE(KeyExists("Software\\VrTestDelMaker"));
  EXPECT_TRUE(KeyExists("Software"));
  EXPECT_NO_THROW(other.DeleteSettingsKey()) << "a missing key is no error";

  // A parent holding a value of its own stays.
  Platform().RegWriteString(TRegRoot::HKCU, "Software\\VrTestDelValue", "keep", "1");
  TRovaInstallSet withValue;
  withValue.RegistryKey = "VrTestDelValue\\Game";
  withValue.WriteSetting("InstallPath", "C:\\z");
  withValue.DeleteSettingsKey();
  EXPECT_FALSE(KeyExists("Software\\VrTestDelValue\\Game"));
  EXPECT_TRUE(KeyExists("Software\\VrTestDelValue"));
  Platform().RegDeleteKeyTree(TRegRoot::HKCU, "Software\\VrTestDelValue");
}

TEST(InstallSetRegistry, KeysWithoutANameDeleteNothing) {
  TTempDrive drive;
  Platform().RegWriteString(TRegRoot::HKCU, "Software\\VrTestSurvivor", "v", "1");
  for (const char* key : {"\\", "\\\\", "\\\\\\", "VrTestSurvivor\\\\x", "\\\\VrTestSurvivor"}) {
    TRovaInstallSet s;
    s.RegistryKey = key;
    s.DeleteSettingsKey();
    EXPECT_TRUE(KeyExists("Software")) << key;
    EXPECT_TRUE(KeyExists("Software\\VrTestSurvivor")) << key;
  }
  Platform().RegDeleteKeyTree(TRegRoot::HKCU, "Software\\VrTestSurvivor");
}

TEST(InstallSetRegistry, GameInstalledWhenExecutableExists) {
  TTempDrive drive;
  Platform().RegDeleteKeyTree(TRegRoot::HKCU, "Software\\VrTestInstalled");
  TRovaInstallSet s;
  s.RegistryKey = "VrTestInstalled";
  s.GameExe = "bin\\game.exe";
  EXPECT_FALSE(s.IsGameInstalled()) << "no InstallPath";
  s.WriteSetting("InstallPath", ExcludeTrailingBackslash(drive.Folder()));
  EXPECT_FALSE(s.IsGameInstalled()) << "no executable";
  drive.WriteFile("bin\\game.exe", "MZ");
  EXPECT_TRUE(s.IsGameInstalled());
  s.GameExe = "bin";
  EXPECT_FALSE(s.IsGameInstalled()) << "a folder is not the game";
  s.WriteSetting("InstallPath", "");
  s.GameExe = "bin\\game.exe";
  EXPECT_FALSE(s.IsGameInstalled());
  Platform().RegDeleteKeyTree(TRegRoot::HKCU, "Software\\VrTestInstalled");
}

TEST(InstallSetLists, InstalledFilesUniqueAndPackageFilesLowerCase) {
  TTempDrive drive;
  TRovaInstallSet s;
  s.AddInstalledFile("Data\\Voice.dat");
  s.AddInstalledFile("DATA\\voice.DAT");
  s.AddInstalledFile("ＳＥ.dat");
  s.AddInstalledFile("ｓｅ.dat");
  s.AddInstalledFile("game.exe");
  EXPECT_EQ(s.InstalledFileCount(), 3);
  EXPECT_EQ(s.InstalledFile(0), "Data\\Voice.dat");
  EXPECT_EQ(s.IndexOfInstalledFile("GAME.EXE"), 2);
  EXPECT_EQ(s.IndexOfInstalledFile("other"), -1);
  EXPECT_THROW(s.InstalledFile(3), EListError);

  s.PackageFiles.Add("se\\voice.ogg");
  s.PackageFiles.Add("");
  EXPECT_TRUE(s.IsPackageFile("SE\\Voice.OGG"));
  EXPECT_TRUE(s.IsPackageFile(""));
  EXPECT_FALSE(s.IsPackageFile("se\\voice.ogg.bak"));

  EXPECT_EQ(s.GetSetupCaption(), "のセットアップ");
  s.Title = "ゲーム";
  EXPECT_EQ(s.GetSetupCaption(), "ゲームのセットアップ");
  s.SetupCaption = "独自";
  EXPECT_EQ(s.GetSetupCaption(), "独自");

  s.SetDiskCount(2);
  s.BaseSizes[1] = 5;
  s.SetDiskCount(3);
  EXPECT_EQ(s.BaseSizes, (std::vector<int64_t>{0, 5, 0}));
  EXPECT_EQ(s.MovieSizes.size(), 3u);
  s.SetDiskCount(1);
  EXPECT_EQ(s.DataSizes.size(), 1u);
  EXPECT_EQ(s.DiskCount, 1);
}

// Makes chosen file operations fail.
class TFailingSavePlatform : public TForwardPlatform {
 public:
  bool failCreate = false, failMove = false;
  int writesBeforeFailure = -1;
  THandle FileCreate(const std::string& name, uint16_t share) override {
    if (failCreate) return kInvalidHandle;
    return TForwardPlatform::FileCreate(name, share);
  }
  THandle FileCreateNew(const std::string& name) override {
    if (failCreate) return kInvalidHandle;
    return TForwardPlatform::FileCreateNew(name);
  }
  int32_t FileWrite(THandle h, const void* b, int32_t n) override {
    if (writesBeforeFailure == 0) return -1;
    if (writesBeforeFailure > 0) --writesBeforeFailure;
    return TForwardPlatform::FileWrite(h, b, n);
  }
  bool MoveFileReplace(const std::string& f, const std::string& t) override {
    if (failMove) return false;
    return TForwardPlatform::MoveFileReplace(f, t);
  }
};

TEST(InstallSetSave, FailuresRaiseCreateErrorAndKeepTheOldFile) {
  TTempDrive drive;
  const std::string path = drive.PathOf("install.dat");
  TRovaInstallSet old;
  old.Title = "old";
  old.SaveToFile(path);
  const std::string before = drive.ReadFile("install.dat");
  ASSERT_FALSE(before.empty());

  TRovaInstallSet next;
  next.Title = "new and longer";
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(mode);
    TFailingSavePlatform platform;
    platform.failCreate = mode == 0;
    platform.writesBeforeFailure = mode == 1 ? 0 : -1;
    platform.failMove = mode == 2;
    try {
      next.SaveToFile(path);
      FAIL() << "no error";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message, Format("ファイル %s を作成できません", {path}));
    }
    EXPECT_EQ(drive.ReadFile("install.dat"), before);
    auto entries = Platform().ListFolder(ExcludeTrailingBackslash(drive.Folder()));
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(entries->size(), 1u) << "no temporary file is left behind";
  }
  next.SaveToFile(path);
  TRovaInstallSet check;
  check.LoadFromFile(path);
  EXPECT_EQ(check.Title, "new and longer");
  EXPECT_THROW(next.SaveToFile(drive.PathOf("no\\folder\\install.dat")), EFCreateError);
}

}  // namespace
}  // namespace vr
