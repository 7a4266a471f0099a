// Install settings of a game package and their file "install.dat".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/classes.h"

namespace vr {

// The files of a package and of an installed game.
constexpr const char* kSettingsFileName = "install.dat";
constexpr const char* kDataFileName = "game.dat";
constexpr const char* kUninstallerName = "install.exe";

// TRovaInstallSet::InstallKind.
enum : uint8_t {
  kInstallChoice = 0,  // the user picks the media and file groups
  kInstallFull = 1,    // every file group, no choice pages
  kInstallSystem = 2,  // into the Windows folder, no destination page, nothing recorded
};

// The description of one game package. Fields are public so that tools can dump and rebuild every one
// of them; the file format is read by LoadFromStream and written by SaveToStream.
class TRovaInstallSet {
 public:
  TRovaInstallSet() = default;
  TRovaInstallSet(const TRovaInstallSet&) = delete;
  TRovaInstallSet& operator=(const TRovaInstallSet&) = delete;

  // Header version of the last file read (0 for a file without header); files are written as 108.
  int SettingsVersion = 0;

  int32_t DiskCount = 0;
  TStringList InstalledFiles;
  std::string SetupCaption;
  int32_t DiskIndex = 0;
  std::string Title;
  std::string FooterText;
  std::string DefaultFolder;
  std::string ReadmeFile;
  uint8_t InstallKind = 0;
  bool OpenReadme = false;
  std::string BackdropPicture;
  uint8_t BackdropLayout = 0;
  std::string GameExe;
  int32_t PictureSeed = 0;
  bool OfferRuntimes = false;
  uint8_t ExtraFlag = 0;
  std::string MediaNoun;
  std::string RegistryKey;
  std::vector<int64_t> BaseSizes, DataSizes, SoundSizes, MovieSizes;  // DiskCount entries each
  int64_t BaseSizeTotal = 0;
  int64_t DataSizeTotal = 0;
  int64_t SoundSizeTotal = 0;
  int64_t MovieSizeTotal = 0;
  bool Uninstaller = false;
  bool AddOnPackage = false;
  bool DataInstalled = false;
  bool ArchiveInstall = false;
  TStringList PackageFiles;
  std::string WelcomeText;
  std::string LicenseText;

  // Reads the settings from the stream's start position. Rows missing from an older version, or cut off
  // by the end of the stream, leave their fields unchanged (both lists are emptied in any case).
  // A length or count larger than what the stream still holds ends the reading there.
  void LoadFromStream(TStream& stream);
  // Opens for reading (others may read, nobody may write); EFOpenError when that fails.
  void LoadFromFile(const std::string& fileName);
  // Writes the current version ("is108") with every row.
  void SaveToStream(TStream& stream) const;
  // Replaces the file atomically (temporary file beside it, then rename); EFCreateError on failure,
  // leaving any previous file as it was.
  // Written under TempFileName(fileName) first, flushed, then renamed over the file, and the folder
  // flushed: once it returns, a power cut leaves the new file.
  void SaveToFile(const std::string& fileName) const;
  static std::string TempFileName(const std::string& fileName);

  // Sets DiskCount and resizes the four per-medium arrays, keeping existing entries, zeroing new ones.
  void SetDiskCount(int32_t count);

  // Per-user registry values below HKEY_CURRENT_USER\Software\ + RegistryKey; an empty key disables them.
  std::string ReadSetting(const std::string& name, const std::string& defaultValue) const;
  void WriteSetting(const std::string& name, const std::string& value) const;
  // Removes the key and then every parent the removal left empty.
  void DeleteSettingsKey() const;

  // The game executable exists in the folder recorded as "InstallPath".
  bool IsGameInstalled() const;

  int IndexOfInstalledFile(const std::string& name) const;  // case-insensitive; -1 when absent
  void AddInstalledFile(const std::string& name);           // unless already listed
  int InstalledFileCount() const { return InstalledFiles.Count(); }
  const std::string& InstalledFile(int index) const { return InstalledFiles[index]; }

  bool IsPackageFile(const std::string& name) const;  // the lower-cased name is in PackageFiles
  std::string GetSetupCaption() const;                // SetupCaption or Title + "のセットアップ"
};

}  // namespace vr
