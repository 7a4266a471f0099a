#include "wizard/destination.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "archive/vrfiles.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"

namespace vr {

const char* const kBadDestinationText = "正しいインストール先を指定してください";
const char* const kLowSpaceQuestion =
    "ドライブにじゅうぶんな空き容量がありません\r\nこのまま処理を続けますか？";

namespace {

constexpr int kProgramFilesFolder = 38;  // CSIDL_PROGRAM_FILES
const char kProgramFilesTag[] = "<ProgramFiles>";

std::string RemoveLeadingBackslash(const std::string& s) {
  return !s.empty() && s[0] == '\\' ? s.substr(1) : s;
}

int64_t Positive(int64_t v) { return std::max<int64_t>(0, v); }

}  // namespace

int64_t SettingsSizeAt(const std::vector<int64_t>& sizes, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= sizes.size()) return 0;
  return std::max<int64_t>(0, sizes[static_cast<size_t>(index)]);
}

uint64_t RequiredInstallBytes(const TRovaInstallSet& s, bool allMedia, bool data, bool sound, bool movie) {
  int64_t bytes = 0;
  if (s.AddOnPackage) {
    bytes = Positive(s.BaseSizeTotal) + Positive(s.DataSizeTotal) + Positive(s.SoundSizeTotal) +
            Positive(s.MovieSizeTotal);
  } else if (allMedia || s.InstallKind == 1) {
    bytes = Positive(s.BaseSizeTotal);
    if (data) bytes += Positive(s.DataSizeTotal);
    if (sound) bytes += Positive(s.SoundSizeTotal);
    if (movie) bytes += Positive(s.MovieSizeTotal);
  } else {
    bytes = SettingsSizeAt(s.BaseSizes, s.DiskIndex);
    if (data) bytes += SettingsSizeAt(s.DataSizes, s.DiskIndex);
    if (sound) bytes += SettingsSizeAt(s.SoundSizes, s.DiskIndex);
    if (movie) bytes += SettingsSizeAt(s.MovieSizes, s.DiskIndex);
  }
  return static_cast<uint64_t>(bytes);
}

TProposedDestination ProposeInstallFolder(const TRovaInstallSet& settings) {
  TProposedDestination proposal;
  std::string& path = proposal.Path;
  std::string& subFolder = proposal.SubFolder;
  path = settings.ReadSetting("InstallPath", "");
  if (!DirectoryExists(path)) {
    const std::string& folder = settings.DefaultFolder;
    const size_t tagLength = sizeof kProgramFilesTag - 1;
    if (folder.compare(0, tagLength, kProgramFilesTag) == 0) {
      std::string programFiles;
      try {
        programFiles = ExcludeTrailingBackslash(GetSpecialFolder(kProgramFilesFolder));
      } catch (const Exception&) {
        // Without a program files folder the game goes below the root of the Windows drive.
        programFiles = Platform().GetWindowsDirectory().substr(0, 1) + ":";
      }
      subFolder = ExcludeTrailingBackslash(RemoveLeadingBackslash(folder.substr(tagLength)));
      path = AddTrailingBackslash(programFiles) + subFolder;
    } else {
      path = Platform().GetWindowsDirectory().substr(0, 1) + ":\\";
      subFolder = RemoveLeadingBackslash(folder);
      path += subFolder;
      subFolder = ExcludeTrailingBackslash(RemoveLeadingBackslash(subFolder));
    }
  }
  // A drive root keeps its backslash ("C:\"), anything longer loses one.
  if (!(path.size() == 3 && path[1] == ':')) path = ExcludeTrailingBackslash(path);
  if (DirectoryExists(path)) subFolder.clear();
  return proposal;
}

int32_t FreeMegabytesOn(char letter) {
  if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z'))) return 0;
  int64_t freeToCaller = 0, total = 0;
  if (!Platform().GetDiskFreeSpace(std::string(1, letter) + ":\\", freeToCaller, total) || freeToCaller < 0)
    return 0;
  return static_cast<int32_t>(std::min<int64_t>(freeToCaller / 1048576, std::numeric_limits<int32_t>::max()));
}

std::string InstallDestination(const TRovaInstallSet& settings, const std::string& named) {
  if (settings.InstallKind == 2) return AddTrailingBackslash(Platform().GetWindowsDirectory());
  return AddTrailingBackslash(named);
}

TDestinationCheck CheckInstallDestination(const TRovaInstallSet& settings, const std::string& named,
                                          uint64_t requiredBytes) {
  if (named.size() <= 3) return TDestinationCheck::dcBad;
  const std::string destination = InstallDestination(settings, named);
  if (settings.AddOnPackage) {
    bool accepted = false;
    try {
      const std::string settingsFile = destination + "install.dat";
      if (FileExists(settingsFile)) {
        TRovaInstallSet installed;
        installed.LoadFromFile(settingsFile);
        accepted = installed.Title == settings.Title;
      } else {
        accepted = !FindInstallerExe(destination, settings.Title).empty();
      }
    } catch (const Exception&) {
      // A settings file or executable that cannot be read does not show the game there.
      accepted = false;
    }
    if (!accepted) return TDestinationCheck::dcBad;
  }
  const uint64_t need = requiredBytes / 1024 / 1024;
  const int32_t available = FreeMegabytesOn(destination[0]);
  if (static_cast<uint64_t>(std::max<int32_t>(0, available)) < need) return TDestinationCheck::dcLowSpace;
  return TDestinationCheck::dcOk;
}

}  // namespace vr
