// The install run, step by step. See installrun.h.
#include "wizard/installrun.h"

#include <algorithm>
#include <limits>

#include "archive/bigstreams.h"
#include "archive/entrywriter.h"
#include "archive/vrfiles.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "platform/windowsnames.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"
#include "wizard/addonrebuild.h"
#include "wizard/datafilebuild.h"
#include "wizard/installjournal.h"
#include "wizard/runhost.h"
#include "wizard/shortcuts.h"

namespace vr {

const char* const TInstallRun::RolledBackText =
    "インストールを中止しました\r\nインストール先のフォルダは元の状態に戻してあります";

namespace {

const char kAbortQuestion[] = "インストールを中断しますか？";
const char kCheckFailedText[] =
    "ファイルの内容が正しくありません\r\nインストールしなおしてください\r\n何度も失敗する場合は、スキャンディ"
    "スクを実行して\r\n"
    "ハードディスクに異常がないか調べてください";
// The build's progress is redrawn at least after this many bytes written (and every tenth entry).
constexpr int64_t kLargeEntry = 3145728;
// The bar, the status line and the message queue are looked after at most this often (milliseconds)
// while files are copied, the data file is built and its entries are checked: drawing them after every
// small file or entry takes longer than the copy itself.
constexpr uint32_t kRedrawInterval = 25;

}  // namespace

TInstallRun::TInstallRun(TRunHost& host, TRovaInstallSet& settings, TVrFileCollection& package,
                         TInstallChoices choices)
    : host_(host), settings_(settings), package_(package), choices_(std::move(choices)) {
  destination_ = AddTrailingBackslash(choices_.Destination);
  choices_.SourceFolder = AddTrailingBackslash(choices_.SourceFolder);
}

TInstallRun::~TInstallRun() = default;

TRunOutcome TInstallRun::Execute() {
  TRunOutcome outcome;
  TInstallJournal::Recover(destination_, &host_);
  journal_ = std::make_unique<TInstallJournal>(destination_);
  auto takeBack = [&]() {
    data_.reset();
    rebuild_.reset();
    if (shortcutsMade_) {
      try {
        DeleteShortcuts(settings_);
      } catch (const Exception&) {
        // The files go back in any case.
      }
    }
    journal_->Rollback();
    outcome.RolledBack = true;
    host_.Log("インストール先を元の状態に戻しました");
  };
  try {
    Run();
    journal_->MarkComplete();
  } catch (const TAbort& abort) {
    outcome.End = abort.End;
  } catch (const Exception& e) {
    outcome.End = TRunEnd::reFailed;
    outcome.Error = e.Message;
    host_.ShowError(e.Message);
  } catch (...) {
    takeBack();
    throw;
  }
  if (outcome.Completed()) {
    journal_->Commit();
    return outcome;
  }
  takeBack();
  host_.Warning(RolledBackText);
  return outcome;
}

void TInstallRun::CheckAbort() {
  if (host_.AbortRequested()) throw TAbort{TRunEnd::reStopped};
}

void TInstallRun::SetProgressPosition() {
  const uint64_t position = copiedBytes_ / progressDivisor_;
  host_.SetProgressPosition(
      static_cast<int32_t>(std::min<uint64_t>(position, std::numeric_limits<int32_t>::max())));
}

// The first step of each stage (loose files, data file, check) is always drawn, so that its status shows
// however short the stage is.
bool TInstallRun::RedrawDue() {
  const uint32_t now = Platform().GetTickCount();
  if (!newStage_ && now - drawnTick_ < kRedrawInterval) return false;
  newStage_ = false;
  drawnTick_ = now;
  return true;
}

void TInstallRun::Run() {
  const TRovaInstallSet& s = settings_;
  host_.ProcessMessages();
  host_.Log("インストール先: " + destination_);

  if (s.AddOnPackage) CheckAddonTarget();

  copiedBytes_ = 0;
  // "Bytes div 10" as long as that fits the bar; larger packages are scaled further.
  progressDivisor_ = std::max<uint64_t>(10, choices_.RequiredBytes / std::numeric_limits<int32_t>::max() + 1);
  host_.SetProgressRange(static_cast<int32_t>(choices_.RequiredBytes / progressDivisor_));

  dataBuild_ = std::make_unique<TDataFileBuild>(*journal_, destination_);
  // A new install replaces the data file of an earlier one.
  if (!s.AddOnPackage) dataBuild_->SetAsideOld();
  if (choices_.Data || s.ArchiveInstall || s.AddOnPackage) OpenDataArchive();

  const int32_t diskCount = s.DiskCount;
  for (int32_t i = 0; i < diskCount; ++i) {
    if (!choices_.AllMedia && i != settings_.DiskIndex) continue;
    if (i != settings_.DiskIndex) ChangeMedium(i);
    if (!s.ArchiveInstall) CopyLooseFiles();
    if (choices_.Data || s.AddOnPackage) BuildDataFile();
    if (rebuild_) rebuild_->TakeOldEntries(*data_);
    if (s.ArchiveInstall) WriteSeparateEntries();
  }

  if (rebuild_ && !rebuild_->Rebuild(package_, *data_)) CheckAbort();
  CheckDataFile();
  if (rebuild_) {
    // The old executable is kept aside until the run commits.
    const std::string& target = rebuild_->Target();
    if (!journal_->SetAside(target)) throw EVrError(target + "\r\nファイルが作成できません" + SystemReason());
    journal_->FileCreated(target);
    rebuild_->CopyBack([this](const std::string& temp) { journal_->FileCreated(temp); });
  }
  RecordPartFiles();
  data_.reset();
  if (rebuild_) rebuild_->DeleteWorkFolder();

  if (s.InstallKind != kInstallSystem && !rebuild_) SaveSettingsAndShortcuts();
  OpenReadmeAfterInstall();
}

// An add-on goes only where its game is: a folder whose "install.dat" has its title, or a
// one-executable game of that title whose archive can be read. Refused before anything is written.
void TInstallRun::CheckAddonTarget() {
  if (!HoldsGameForAddon(settings_, destination_))
    throw EVrError(kBadDestinationText + std::string("\r\n") + destination_);
  if (FileExists(destination_ + kSettingsFileName)) return;
  rebuild_ = std::make_unique<TAddonRebuild>(destination_, settings_.Title);
  rebuild_->Prepare();
  if (rebuild_->Target().empty()) throw EVrError(kBadDestinationText + std::string("\r\n") + destination_);
}

void TInstallRun::OpenDataArchive() {
  data_ = std::make_unique<TVrFileCollection>();
  if (rebuild_)
    data_->Open(rebuild_->WorkFolder());
  else
    data_->OpenPath(destination_ + kDataFileName, true);
  data_->OnProgress = [this](TVrFileCollection*, TVrFile*, int64_t size, int32_t index, int32_t count,
                             bool& cancel) { OnBuildProgress(size, index, count, cancel); };
}

// Sizes are bytes on disk, reported after each piece written: the bar follows the file as it grows,
// and the user's abort is looked at between pieces.
void TInstallRun::OnBuildProgress(int64_t size, int32_t index, int32_t count, bool& cancel) {
  copiedBytes_ += static_cast<uint64_t>(std::max<int64_t>(0, size));
  const bool tenth = index % 10 == 9 && index != drawnIndex_;
  if (!tenth && copiedBytes_ - drawnBytes_ <= static_cast<uint64_t>(kLargeEntry)) return;
  if (!RedrawDue()) return;
  drawnBytes_ = copiedBytes_;
  drawnIndex_ = index;
  SetProgressPosition();
  host_.SetStatus(Format("データファイルを構築中(%d/%d)...", {index + 1, count}));
  host_.ProcessMessages();
  if (host_.AbortRequested()) cancel = true;
}

void TInstallRun::OnCheckProgress(int32_t index, int32_t count, bool& cancel) {
  if (!RedrawDue()) return;
  host_.SetProgressRange(count - 1);
  host_.SetProgressPosition(index);
  host_.SetStatus(Format("データファイルを調べています(%d/%d)...", {index + 1, count}));
  host_.ProcessMessages();
  if (host_.AbortRequested()) cancel = true;
}

// The package archive lies on the next medium: the prompt repeats until the medium's settings name
// the asked-for medium of this same title.
void TInstallRun::ChangeMedium(int32_t index) {
  package_.Open("");
  choices_.SourceFolder = AddTrailingBackslash(host_.MediumFolder(index, choices_.SourceFolder));
  const std::string settingsFile = choices_.SourceFolder + kSettingsFileName;
  while (settings_.DiskIndex != index) {
    if (!host_.PromptMedium(Format("ディスク%dを入れてからOKをクリックしてください", {index + 1}))) {
      if (host_.Confirm(kAbortQuestion)) throw TAbort{TRunEnd::reStopped};
      continue;
    }
    host_.Wait(500);
    if (!FileExists(settingsFile)) continue;
    // The settings of a medium describe the package, not this install: what the run has gathered so
    // far stays.
    TRovaInstallSet medium;
    try {
      medium.LoadFromFile(settingsFile);
    } catch (const Exception&) {
      continue;  // not readable (yet): ask again
    }
    if (medium.Title != settings_.Title) continue;
    TStringList installed = settings_.InstalledFiles;
    const bool dataInstalled = settings_.DataInstalled;
    settings_.LoadFromFile(settingsFile);
    for (int i = 0; i < settings_.InstalledFiles.Count(); ++i) {
      if (installed.IndexOf(settings_.InstalledFiles[i]) < 0) installed.Add(settings_.InstalledFiles[i]);
    }
    settings_.InstalledFiles = installed;
    settings_.DataInstalled = dataInstalled;
  }
  host_.Log(Format("ディスク%d", {index + 1}));
  package_.Open(choices_.SourceFolder + kDataFileName);
}

// A name Windows cannot hold, or cannot tell from an earlier one, is left out with a line in the log;
// anything but a regular file (a pipe would block the copy for ever) stops the run before a file is copied.
TStringList TInstallRun::UsableLooseFiles(const TStringList& files, size_t prefixLength) {
  TStringList usable;
  TNameClashSet names;
  for (int i = 0; i < files.Count(); ++i) {
    const std::string relative = files[i].substr(std::min(prefixLength, files[i].size()));
    const TNameFault fault = WindowsNameFault(relative);
    const std::string earlier = fault == TNameFault::None ? names.Add(relative) : std::string();
    if (fault != TNameFault::None || !earlier.empty()) {
      host_.Log("コピーしません: " + relative + " (" +
                (earlier.empty() ? std::string(NameFaultTextJ(fault)) : earlier + " と同じ名前です") + ")");
      continue;
    }
    if (Platform().GetFileKind(files[i]) != TFileKind::File) {
      host_.Warning(Format("%s\r\n通常のファイルではないためコピーできません", {files[i]}));
      host_.Log("通常のファイルではありません: " + files[i]);
      throw TAbort{TRunEnd::reFailed};
    }
    usable.Add(files[i]);
  }
  return usable;
}

void TInstallRun::CopyLooseFiles() {
  TStringList list;
  ListFiles(choices_.SourceFolder, 47, true, "", false, true, list, false);
  const size_t prefixLength = Platform().LowerCaseJ(choices_.SourceFolder).size();

  // From the last entry to the first: only the package's own files, and of those the sound and movie
  // files only when their group was chosen (an add-on takes them all).
  for (int i = list.Count() - 1; i >= 0; --i) {
    const std::string relative = list[i].substr(std::min(prefixLength, list[i].size()));
    bool keep = settings_.IsPackageFile(relative);
    if (keep && !settings_.AddOnPackage) {
      const TFileGroup group = FileGroupOf(ExtractFileExt(relative));
      if ((group == TFileGroup::fgSound && !choices_.Sound) ||
          (group == TFileGroup::fgMovie && !choices_.Movie))
        keep = false;
    }
    if (!keep) list.Delete(i);
  }
  list = UsableLooseFiles(list, prefixLength);

  newStage_ = true;
  for (int i = 0; i < list.Count(); ++i) {
    const std::string source = list[i];
    const std::string relative = source.substr(std::min(prefixLength, source.size()));
    copiedBytes_ += static_cast<uint64_t>(FileSizeOf(source));
    if (RedrawDue()) {
      SetProgressPosition();
      host_.SetStatus(Format("%s をコピー中...", {ExtractFileName(source)}));
      host_.ProcessMessages();
    }
    CheckAbort();

    const std::string target = destination_ + relative;
    if (!journal_->MakeFolders(ExtractFilePath(target))) {
      host_.Warning("ディレクトリを作成できませんでした");
      host_.Log("ディレクトリを作成できませんでした: " + ExtractFilePath(target));
      throw TAbort{TRunEnd::reFailed};
    }
    const bool placed = journal_->SetAside(target);
    if (placed) journal_->FileCreated(target);
    if (!placed || !CopyFileIfChanged(source, target, false)) {
      // A file that did not arrive is never recorded as installed.
      const std::string reason = SystemReason();
      host_.Warning(Format("%s\r\nファイルをコピーできませんでした", {target}) + reason);
      host_.Log("コピーできませんでした: " + target + reason);
      throw TAbort{TRunEnd::reFailed};
    }
    ClearReadOnly(target);
    settings_.AddInstalledFile(relative);
    host_.Log("コピー: " + relative);
  }
  // The bar shows every copied file, those skipped between redraws included.
  if (list.Count() > 0) SetProgressPosition();
}

void TInstallRun::BuildDataFile() {
  if (!journal_->MakeFolders(destination_)) throw EVrError(destination_ + "\r\nファイルが作成できません");
  newStage_ = true;
  if (rebuild_) {
    // A rebuilt executable's entries are files in the work folder.
    rebuild_->TakeAddonEntries(package_, *data_);
  } else {
    if (dataBuild_->Merge(*data_, package_)) settings_.AddInstalledFile(ChangeFileExt(kDataFileName, ".ext"));
    host_.Log("データファイル: " + destination_ + kDataFileName);
  }
  CheckAbort();
  if (choices_.Data && !settings_.AddOnPackage) settings_.DataInstalled = true;
}

void TInstallRun::WriteSeparateEntries() {
  const std::string targetName = rebuild_ ? ExtractFileName(rebuild_->Target()) : std::string();
  for (int i = 0; i < package_.Count(); ++i) {
    const TVrFile& entry = *package_.Items(i);
    if (!entry.Separate || entry.IsEndMarker() || entry.Name() == kSettingsFileName) continue;
    if (!targetName.empty() && Platform().CompareTextJ(entry.Name(), targetName) == 0) continue;
    WriteSeparateEntry(i);
  }
}

// The entry goes to a temporary file beside its target, its checksum taken while it streams; only a
// complete file whose checksum matches takes the target's name.
void TInstallRun::WriteSeparateEntry(int index) {
  const TVrFile& entry = *package_.Items(index);
  const std::string& name = entry.Name();
  if (!IsSafeRelativeName(name)) throw EVrError(Format("%s:ファイル名が正しくありません", {name}));
  const std::string target = destination_ + name;
  // DOS date-times compare as unsigned values (a signed compare flips for dates after 2043).
  if (FileExists(target) && FileAge(target) >= static_cast<int64_t>(static_cast<uint32_t>(entry.Time)) &&
      settings_.InstallKind != kInstallSystem) {
    settings_.AddInstalledFile(name);
    return;
  }
  const std::string cannotCreate = target + "\r\nファイルが作成できません";
  if (!entryWriter_) {
    if (!journal_->MakeFolders(destination_)) throw EVrError(cannotCreate);
    // Everything the writer makes or replaces is in the journal before it happens.
    entryWriter_ = std::make_unique<TEntryWriter>(destination_);
    journal_->Watch(*entryWriter_);
  }
  TEntryWriteOptions options;
  options.ExpectedCrc = entry.CRC;
  try {
    entryWriter_->Write(package_, index, options);
  } catch (const EEntryWriteError& e) {
    if (e.Fault == TEntryWriteFault::ChecksumMismatch) throw EVrError("ファイルが壊れています");
    if (e.Fault == TEntryWriteFault::UnsafeName)
      throw EVrError(Format("%s:ファイル名が正しくありません", {name}));
    // A link or a file in the way of the entry's folders: the writer's own message names it.
    if (e.Fault == TEntryWriteFault::LinkInTheWay || e.Fault == TEntryWriteFault::FileInTheWay) throw;
    throw EVrError(e.Path + "\r\nファイルが作成できません");
  }
  settings_.AddInstalledFile(name);
  host_.Log("書き出し: " + name);
}

void TInstallRun::CheckDataFile() {
  // Without a data stream nothing went into a data file, and there is nothing to check.
  if (!data_ || !data_->DataStream) return;
  data_->OnProgress = [this](TVrFileCollection*, TVrFile*, int64_t, int32_t index, int32_t count,
                             bool& cancel) { OnCheckProgress(index, count, cancel); };
  host_.SetHeading("データファイルをチェックしています");
  newStage_ = true;
  if (!data_->VerifyData()) {
    host_.Log("データファイルのチェック: 不正");
    host_.Warning(kCheckFailedText);
    throw TAbort{TRunEnd::reCheckFailed};
  }
  CheckAbort();
  host_.Log("データファイルのチェック: 正常");
}

void TInstallRun::RecordPartFiles() {
  if (!data_ || !data_->DataStream) return;
  auto* stream = dynamic_cast<TKoBigFileStream*>(data_->DataStream.get());
  if (!stream) return;
  for (int k = 0; k < stream->PartCount(); ++k)
    settings_.AddInstalledFile(ExtractFileName(stream->PartFileName(k)));
}

void TInstallRun::SaveSettingsAndShortcuts() {
  TRovaInstallSet& s = settings_;
  s.Uninstaller = true;
  s.AddInstalledFile(kSettingsFileName);
  const std::string settingsFile = destination_ + kSettingsFileName;
  // Replaced, never rewritten in place: a rollback puts the old file back. A package that brought no
  // file of its own (no medium, or nothing chosen) has not made the destination yet.
  auto replace = [&](TRovaInstallSet& settings) {
    if (!journal_->MakeFolders(destination_) || !journal_->SetAside(settingsFile)) {
      const std::string reason = SystemReason();
      throw EFCreateError(settingsFile + "\r\nファイルが作成できません" + reason);
    }
    journal_->FileCreated(settingsFile);
    journal_->FileCreated(TRovaInstallSet::TempFileName(settingsFile));
    // Every file of the install is on the disk before the settings file is written.
    journal_->MakeDurable();
    settings.SaveToFile(settingsFile);
    // With the settings file the game's files are all in place: a run killed from here on is
    // completed, not taken back.
    journal_->MarkComplete();
  };
  if (s.AddOnPackage && FileExists(settingsFile)) {
    TRovaInstallSet installed;
    installed.LoadFromFile(settingsFile);
    for (int i = 0; i < s.InstalledFileCount(); ++i) installed.AddInstalledFile(s.InstalledFile(i));
    replace(installed);
  } else {
    replace(s);
  }
  host_.Log("設定ファイル: " + settingsFile);

  if (!s.AddOnPackage && choices_.Shortcuts) {
    host_.SetHeading("ショートカットを作成しています");
    host_.HideProgress();
    host_.ProcessMessages();
    shortcutsMade_ = true;
    CreateShortcuts(s, destination_, choices_.OpenShortcutFolder);
    host_.Log("ショートカット: " + s.Title);
    host_.Wait(2000);
  }
  if (choices_.Registry) {
    s.WriteSetting("InstallPath", destination_);
    host_.Log("レジストリ: InstallPath = " + destination_);
  }
  host_.SetHeading("レジストリを更新しています");
  host_.ProcessMessages();
  host_.Wait(1000);
}

void TInstallRun::OpenReadmeAfterInstall() {
  const TRovaInstallSet& s = settings_;
  if (s.ReadmeFile.empty() || !s.OpenReadme || !choices_.OpenReadme) return;
  // The name comes from the package: it must stay inside the install folder.
  if (!IsSafeRelativeName(s.ReadmeFile)) return;
  Platform().ShellExecute("open", destination_ + s.ReadmeFile, "", destination_, kShowWindow);
  host_.Wait(1000);
}

}  // namespace vr
