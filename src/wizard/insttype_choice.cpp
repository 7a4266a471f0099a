// The choice pages of the wizard: media, file groups with the space they need, and the destination
// folder with its free space and the check made before leaving the page.
#include <algorithm>
#include <limits>

#include "archive/vrfiles.h"
#include "framework/dialogs.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/syshelpers.h"
#include "wizard/insttype.h"

namespace vr {

namespace {

constexpr int kProgramFilesFolder = 38;  // CSIDL_PROGRAM_FILES
const char kProgramFilesTag[] = "<ProgramFiles>";
const char kBadDestination[] = "正しいインストール先を指定してください";

std::string RemoveLeadingBackslash(const std::string& s) {
  return !s.empty() && s[0] == '\\' ? s.substr(1) : s;
}

// A byte count read from the settings; negative counts make no sense and count as nothing.
int64_t SizeAt(const std::vector<int64_t>& sizes, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= sizes.size()) return 0;
  return std::max<int64_t>(0, sizes[static_cast<size_t>(index)]);
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

// ---------------------------------------------------------------------------------------------
// Media

void TFormType::FillMediaTexts() {
  const std::string& noun = settings_.MediaNoun;
  LabelDisk->SetCaption(Format("インストールする%sを指定してください", {noun}));
  RadioDiskAll->SetCaption(Format("全ての%sをインストール", {noun}));
  RadioDiskThis->SetCaption(Format("この%sをインストール", {noun}));
  if (settings_.DiskIndex == 0 && settings_.DiskCount > 1) RadioDiskAll->SetChecked(true);
}

// ---------------------------------------------------------------------------------------------
// File groups and required size

void TFormType::EnterFilePage() {
  const TRovaInstallSet& s = settings_;
  if (RadioDiskAll->Checked()) {
    CheckProg->SetVisible(s.BaseSizeTotal > 0);
    CheckData->SetVisible(s.DataSizeTotal > 0);
    CheckSound->SetVisible(s.SoundSizeTotal > 0);
    CheckMovie->SetVisible(s.MovieSizeTotal > 0);
  } else {
    CheckProg->SetVisible(SizeAt(s.BaseSizes, s.DiskIndex) > 0);
    CheckData->SetVisible(SizeAt(s.DataSizes, s.DiskIndex) > 0);
    CheckSound->SetVisible(SizeAt(s.SoundSizes, s.DiskIndex) > 0);
    CheckMovie->SetVisible(SizeAt(s.MovieSizes, s.DiskIndex) > 0);
  }
  UpdateRequiredSize();
}

void TFormType::UpdateRequiredSize() {
  const TRovaInstallSet& s = settings_;
  int64_t bytes = 0;
  if (s.AddOnPackage) {
    bytes = Positive(s.BaseSizeTotal) + Positive(s.DataSizeTotal) + Positive(s.SoundSizeTotal) +
            Positive(s.MovieSizeTotal);
  } else if (RadioDiskAll->Checked() || s.InstallKind == 1) {
    bytes = Positive(s.BaseSizeTotal);
    if (CheckData->Checked()) bytes += Positive(s.DataSizeTotal);
    if (CheckSound->Checked()) bytes += Positive(s.SoundSizeTotal);
    if (CheckMovie->Checked()) bytes += Positive(s.MovieSizeTotal);
  } else {
    bytes = SizeAt(s.BaseSizes, s.DiskIndex);
    if (CheckData->Checked()) bytes += SizeAt(s.DataSizes, s.DiskIndex);
    if (CheckSound->Checked()) bytes += SizeAt(s.SoundSizes, s.DiskIndex);
    if (CheckMovie->Checked()) bytes += SizeAt(s.MovieSizes, s.DiskIndex);
  }
  RequiredBytes = static_cast<uint64_t>(bytes);
  const double megabytes = static_cast<double>(RequiredBytes) / 1048576.0;
  LabelSize->SetCaption(Format("最低 %2f MBのディスクの空き容量が必要です", {megabytes}));
  LabelSzNeed->SetCaption(Format("インストールには最低 %2f MBのディスクの空き容量が必要です", {megabytes}));
}

void TFormType::CheckDataClick(TObject*) { UpdateRequiredSize(); }

void TFormType::CheckProgClick(TObject*) { CheckProg->SetChecked(true); }

// ---------------------------------------------------------------------------------------------
// Free space

int32_t TFormType::FreeMegabytes(char letter) {
  if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z'))) return 0;
  int64_t freeToCaller = 0, total = 0;
  if (!Platform().GetDiskFreeSpace(std::string(1, letter) + ":\\", freeToCaller, total) || freeToCaller < 0)
    return 0;
  return static_cast<int32_t>(std::min<int64_t>(freeToCaller / 1048576, std::numeric_limits<int32_t>::max()));
}

void TFormType::UpdateFreeSpaceLabel() {
  const int32_t available = FreeMegabytes(Drive->Drive());
  if (available >= 0)
    LabelSzDrv->SetCaption("このドライブには " + FormatThousands(available) + " MBの空きがあります");
}

void TFormType::DriveChange(TObject*) { UpdateFreeSpaceLabel(); }

// ---------------------------------------------------------------------------------------------
// Destination

void TFormType::ProposeDestination() {
  std::string path = settings_.ReadSetting("InstallPath", "");
  if (!DirectoryExists(path)) {
    const std::string& folder = settings_.DefaultFolder;
    const size_t tagLength = sizeof kProgramFilesTag - 1;
    if (folder.compare(0, tagLength, kProgramFilesTag) == 0) {
      std::string programFiles;
      try {
        programFiles = ExcludeTrailingBackslash(GetSpecialFolder(kProgramFilesFolder));
      } catch (const Exception&) {
        // Without a program files folder the game goes below the root of the Windows drive.
        programFiles = Platform().GetWindowsDirectory().substr(0, 1) + ":";
      }
      SubFolder = ExcludeTrailingBackslash(RemoveLeadingBackslash(folder.substr(tagLength)));
      path = AddTrailingBackslash(programFiles) + SubFolder;
    } else {
      path = Platform().GetWindowsDirectory().substr(0, 1) + ":\\";
      SubFolder = RemoveLeadingBackslash(folder);
      path += SubFolder;
      SubFolder = ExcludeTrailingBackslash(RemoveLeadingBackslash(SubFolder));
    }
  }
  // A drive root keeps its backslash ("C:\"), anything longer loses one.
  if (!(path.size() == 3 && path[1] == ':')) path = ExcludeTrailingBackslash(path);
  EditDir->SetText(path);
  if (DirectoryExists(path)) SubFolder.clear();

  if (!path.empty()) {
    char letter = path[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    const std::vector<char>& letters = Drive->DriveLetters();
    if (std::find(letters.begin(), letters.end(), letter) != letters.end()) Drive->SetDrive(letter);
  }

  // Cut back to the nearest folder that exists; the cut stops at the drive.
  std::string existing = path;
  while (!existing.empty() && !DirectoryExists(existing)) {
    const std::string parent = ExtractFilePath(ExcludeTrailingBackslash(existing));
    if (parent.empty() || parent == existing) break;
    existing = parent;
  }
  if (DirectoryExists(existing)) Directory->SetDirectory(existing);
  // Moving the lists above rewrote the edit box with the list's folder + SubFolder; when part of the
  // subfolder exists already (the maker's folder of another game) that would name it twice, so the
  // box shows the proposal itself. Folders picked later get SubFolder appended. (An add-on keeps the
  // folder the list stands on.)
  if (!settings_.AddOnPackage) EditDir->SetText(path);
}

void TFormType::DirectoryChange(TObject*) {
  if (!SubFolder.empty() && !settings_.AddOnPackage)
    EditDir->SetText(AddTrailingBackslash(Directory->Directory()) + SubFolder);
  else
    EditDir->SetText(Directory->Directory());
}

std::string TFormType::DestinationFolder() const {
  if (settings_.InstallKind == 2) return AddTrailingBackslash(Platform().GetWindowsDirectory());
  return AddTrailingBackslash(EditDir->Text());
}

bool TFormType::CheckDestination() {
  if (EditDir->Text().size() <= 3) {
    WarningDlg(kBadDestination);
    return false;
  }
  const std::string destination = DestinationFolder();
  if (settings_.AddOnPackage) {
    bool accepted = false;
    try {
      const std::string settingsFile = destination + "install.dat";
      if (FileExists(settingsFile)) {
        TRovaInstallSet installed;
        installed.LoadFromFile(settingsFile);
        accepted = installed.Title == settings_.Title;
      } else {
        accepted = !FindInstallerExe(destination, settings_.Title).empty();
      }
    } catch (const Exception&) {
      // A settings file or executable that cannot be read does not show the game there.
      accepted = false;
    }
    if (!accepted) {
      WarningDlg(kBadDestination);
      return false;
    }
  }
  const uint64_t need = RequiredBytes / 1024 / 1024;
  const int32_t available = FreeMegabytes(destination[0]);
  if (static_cast<uint64_t>(std::max<int32_t>(0, available)) < need) {
    if (WarningYesNoDlg("ドライブにじゅうぶんな空き容量がありません\r\nこのまま処理を続けますか？") != mrYes)
      return false;
  }
  return true;
}

}  // namespace vr
