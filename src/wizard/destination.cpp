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
#include "wizard/uninstallrun.h"

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

TFileGroup FileGroupOf(const std::string& extension) {
  if (extension.empty()) return TFileGroup::fgOther;
  const std::string ext = LowerCaseAscii(extension);
  if (std::string(".mp2.mp3.wma.wav.mid.ogg").find(ext) != std::string::npos) return TFileGroup::fgSound;
  if (std::string(".avi.wmv.asf.mpg.mpeg").find(ext) != std::string::npos) return TFileGroup::fgMovie;
  return TFileGroup::fgOther;
}

TInstallChoices MakeInstallChoices(const TRovaInstallSet& settings, const std::string& sourceFolder,
                                   const std::string& named, bool allMedia, bool data, bool sound,
                                   bool movie) {
  TInstallChoices choices;
  choices.SourceFolder = AddTrailingBackslash(sourceFolder);
  choices.Destination = InstallDestination(settings, named);
  choices.AllMedia = allMedia;
  const bool choosesGroups = !(settings.InstallKind == kInstallFull ||
                               settings.InstallKind == kInstallSystem || settings.AddOnPackage);
  const bool full = settings.InstallKind == kInstallFull;
  choices.Data = choosesGroups ? data : full;
  choices.Sound = choosesGroups ? sound : full;
  choices.Movie = choosesGroups ? movie : full;
  choices.RequiredBytes =
      RequiredInstallBytes(settings, allMedia, choices.Data, choices.Sound, choices.Movie);
  return choices;
}

int64_t SettingsSizeAt(const std::vector<int64_t>& sizes, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= sizes.size()) return 0;
  return std::max<int64_t>(0, sizes[static_cast<size_t>(index)]);
}

uint64_t RequiredInstallBytes(const TRovaInstallSet& s, bool allMedia, bool data, bool sound, bool movie) {
  int64_t bytes = 0;
  if (s.AddOnPackage) {
    bytes = Positive(s.BaseSizeTotal) + Positive(s.DataSizeTotal) + Positive(s.SoundSizeTotal) +
            Positive(s.MovieSizeTotal);
  } else if (allMedia || s.InstallKind == kInstallFull) {
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
  if (settings.InstallKind == kInstallSystem) return AddTrailingBackslash(Platform().GetWindowsDirectory());
  return AddTrailingBackslash(named);
}

bool HoldsGameForAddon(const TRovaInstallSet& settings, const std::string& folder) {
  const std::string dir = AddTrailingBackslash(folder);
  if (!DirectoryExists(dir)) return false;
  try {
    const std::string settingsFile = dir + kSettingsFileName;
    if (FileExists(settingsFile)) {
      TRovaInstallSet installed;
      installed.LoadFromFile(settingsFile);
      return installed.Title == settings.Title;
    }
    return !FindInstallerExe(dir, settings.Title).empty();
  } catch (const Exception&) {
    // A settings file or executable that cannot be read does not show the game there.
    return false;
  }
}

namespace {

// The folder with its "." and ".." parts resolved ("C:\\games\\..\\." is "C:").
std::string ResolveDots(const std::string& path) {
  const std::string drive = ExtractFileDrive(path);
  std::vector<std::string> kept;
  for (const std::string& part : SplitPath(path.substr(drive.size()))) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(part);
  }
  std::string out = drive;
  for (const std::string& part : kept) out += "\\" + part;
  return out;
}

// The destination folders that no install may take: a drive's root, the Windows folder and anything
// in it, and the folders an uninstall would never sweep (system, profile and shell folders).
bool IsSystemDestination(const std::string& destination) {
  const std::string folder = ResolveDots(ExcludeTrailingBackslash(destination));
  if (folder.size() <= 2 || IsProtectedFolder(folder)) return true;
  const std::string key = IncludeTrailingBackslash(Platform().LowerCaseJ(folder));
  const std::string windows =
      IncludeTrailingBackslash(Platform().LowerCaseJ(Platform().GetWindowsDirectory()));
  return key.compare(0, windows.size(), windows) == 0;
}

// The nearest folder of the path that exists (its free space is the destination's), or "".
std::string NearestExistingFolder(const std::string& path) {
  std::string folder = ExcludeTrailingBackslash(path);
  while (!folder.empty() && !DirectoryExists(folder)) {
    const std::string parent = ExcludeTrailingBackslash(ExtractFilePath(folder));
    if (parent == folder) return std::string();
    folder = parent;
  }
  return folder;
}

}  // namespace

TDestinationCheck CheckInstallDestination(const TRovaInstallSet& settings, const std::string& named,
                                          uint64_t requiredBytes) {
  if (named.size() <= 3) return TDestinationCheck::dcBad;
  const std::string destination = InstallDestination(settings, named);
  if (settings.InstallKind != kInstallSystem && IsSystemDestination(destination))
    return TDestinationCheck::dcSystemFolder;
  if (settings.AddOnPackage && !HoldsGameForAddon(settings, destination)) return TDestinationCheck::dcNoGame;
  const std::string existing = NearestExistingFolder(destination);
  // A file in the folder's place, or a drive that does not exist, cannot take the install.
  if (FileExists(ExcludeTrailingBackslash(destination)) || existing.empty()) return TDestinationCheck::dcBad;
  // Space that cannot be asked for counts as none.
  int64_t freeToCaller = 0, total = 0;
  if (!Platform().GetDiskFreeSpace(AddTrailingBackslash(existing), freeToCaller, total)) freeToCaller = 0;
  const uint64_t need = requiredBytes / 1024 / 1024;
  const uint64_t available = static_cast<uint64_t>(std::max<int64_t>(0, freeToCaller)) / 1048576;
  if (available < need) return TDestinationCheck::dcLowSpace;
  return TDestinationCheck::dcOk;
}

}  // namespace vr
