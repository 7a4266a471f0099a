// The choice pages of the wizard: media, file groups with the space they need, and the destination
// folder with its free space and the check made before leaving the page.
#include <algorithm>

#include "framework/dialogs.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/syshelpers.h"
#include "wizard/destination.h"
#include "wizard/insttype.h"

namespace vr {

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
    CheckProg->SetVisible(SettingsSizeAt(s.BaseSizes, s.DiskIndex) > 0);
    CheckData->SetVisible(SettingsSizeAt(s.DataSizes, s.DiskIndex) > 0);
    CheckSound->SetVisible(SettingsSizeAt(s.SoundSizes, s.DiskIndex) > 0);
    CheckMovie->SetVisible(SettingsSizeAt(s.MovieSizes, s.DiskIndex) > 0);
  }
  UpdateRequiredSize();
}

void TFormType::UpdateRequiredSize() {
  RequiredBytes = RequiredInstallBytes(settings_, RadioDiskAll->Checked(), CheckData->Checked(),
                                       CheckSound->Checked(), CheckMovie->Checked());
  const double megabytes = static_cast<double>(RequiredBytes) / 1048576.0;
  LabelSize->SetCaption(Format("最低 %2f MBのディスクの空き容量が必要です", {megabytes}));
  LabelSzNeed->SetCaption(Format("インストールには最低 %2f MBのディスクの空き容量が必要です", {megabytes}));
}

void TFormType::CheckDataClick(TObject*) { UpdateRequiredSize(); }

void TFormType::CheckProgClick(TObject*) { CheckProg->SetChecked(true); }

// ---------------------------------------------------------------------------------------------
// Free space

int32_t TFormType::FreeMegabytes(char letter) { return FreeMegabytesOn(letter); }

void TFormType::UpdateFreeSpaceLabel() {
  const int32_t available = FreeMegabytes(Drive->Drive());
  if (available >= 0)
    LabelSzDrv->SetCaption("このドライブには " + FormatThousands(available) + " MBの空きがあります");
}

void TFormType::DriveChange(TObject*) { UpdateFreeSpaceLabel(); }

// ---------------------------------------------------------------------------------------------
// Destination

void TFormType::ProposeDestination() {
  TProposedDestination proposal = ProposeInstallFolder(settings_);
  const std::string path = proposal.Path;
  SubFolder = proposal.SubFolder;
  EditDir->SetText(path);

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

std::string TFormType::DestinationFolder() const { return InstallDestination(settings_, EditDir->Text()); }

bool TFormType::CheckDestination() {
  switch (CheckInstallDestination(settings_, EditDir->Text(), RequiredBytes)) {
    case TDestinationCheck::dcOk:
      return true;
    case TDestinationCheck::dcBad:
    case TDestinationCheck::dcSystemFolder:
    case TDestinationCheck::dcNoGame:
      WarningDlg(kBadDestinationText);
      return false;
    case TDestinationCheck::dcLowSpace:
      return WarningYesNoDlg(kLowSpaceQuestion) == mrYes;
  }
  return false;
}

}  // namespace vr
