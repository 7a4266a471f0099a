// The install run, step by step. See installrun.h.
#include "wizard/installrun.h"

#include <algorithm>
#include <limits>

#include "archive/bigstreams.h"
#include "archive/vrfiles.h"
#include "framework/forms.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"
#include "wizard/addonrebuild.h"
#include "wizard/installjournal.h"
#include "wizard/insttype.h"
#include "wizard/runhost.h"
#include "wizard/shortcuts.h"

namespace vr {

const char* const TInstallRun::RolledBackText =
    "インストールを中止しました\r\nインストール先のフォルダは元の状態に戻してあります";

namespace {

const char kDataFileName[] = "game.dat";
const char kSettingsName[] = "install.dat";
const char kProjectEntry[] = "rova.rpb";
const char kOriginalProjectEntry[] = "/original_rova.rpb";
const char kAbortQuestion[] = "インストールを中断しますか？";
const char kCheckFailedText[] =
    "ファイルの内容が正しくありません\r\nインストールしなおしてください\r\n何度も失敗する場合は、スキャンディ"
    "スクを実行して\r\n"
    "ハードディスクに異常がないか調べてください";
constexpr int64_t kLargeEntry = 3145728;
constexpr int kShowNormal = 5;  // SW_SHOW

// Writes into a file and computes the CRC-32 of what was written on the way. Should the writer ever
// go back over bytes already written, the sum is taken from the finished file instead.
class TCrcWriteStream : public TStream {
 public:
  explicit TCrcWriteStream(TStream& file) : file_(file) {}
  int32_t Read(void* buffer, int32_t count) override {
    const int32_t n = file_.Read(buffer, count);
    if (n > 0) position_ += n;
    return n;
  }
  int32_t Write(const void* buffer, int32_t count) override {
    const int32_t n = file_.Write(buffer, count);
    if (n <= 0) return n;
    if (position_ == summed_) {
      crc_ = UpdateCRC(crc_, buffer, n);
      summed_ += n;
    } else {
      sequential_ = false;
    }
    position_ += n;
    return n;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    const int64_t at = file_.Seek(offset, origin);
    if (at >= 0) position_ = at;
    return at;
  }
  void SetSize(int64_t size) override {
    file_.SetSize(size);
    if (size != summed_) sequential_ = false;
  }
  uint32_t Crc() {
    if (sequential_ && file_.Size() == summed_) return crc_;
    return StreamCRC(file_);
  }

 private:
  TStream& file_;
  int64_t position_ = 0;
  int64_t summed_ = 0;
  uint32_t crc_ = 0;
  bool sequential_ = true;
};

std::string DataFilePart(const std::string& destination, int n) {
  return destination + "game" + Format(".%.3d", {n});
}

}  // namespace

TInstallRun::TInstallRun(TRunHost& host, TRovaInstallSet& settings, TVrFileCollection& package,
                         TInstallChoices choices)
    : host_(host), settings_(settings), package_(package), choices_(std::move(choices)) {
  destination_ = AddTrailingBackslash(choices_.Destination);
  choices_.SourceFolder = AddTrailingBackslash(choices_.SourceFolder);
}

TInstallRun::~TInstallRun() = default;

bool TInstallRun::Execute() {
  // Only a new install is taken back; an add-on changes an installation that was there before.
  journal_ = std::make_unique<TInstallJournal>(!settings_.AddOnPackage);
  auto takeBack = [&]() {
    data_.reset();
    rebuild_.reset();
    if (!journal_->Enabled()) return;
    if (shortcutsMade_) {
      try {
        DeleteShortcuts(settings_);
      } catch (const Exception&) {
        // The files go back in any case.
      }
    }
    journal_->Rollback();
    rolledBack_ = true;
    host_.Log("インストール先を元の状態に戻しました");
  };
  try {
    Run();
    journal_->Commit();
    return true;
  } catch (const TAbort&) {
    takeBack();
    if (rolledBack_) host_.Warning(RolledBackText);
    return false;
  } catch (...) {
    takeBack();
    throw;
  }
}

void TInstallRun::CheckAbort() {
  if (host_.AbortRequested()) throw TAbort();
}

void TInstallRun::SetProgressPosition() {
  const uint64_t position = copiedBytes_ / progressDivisor_;
  host_.SetProgressPosition(
      static_cast<int32_t>(std::min<uint64_t>(position, std::numeric_limits<int32_t>::max())));
}

void TInstallRun::Run() {
  const TRovaInstallSet& s = settings_;
  host_.HideNavigation(false);
  host_.SetCaption("ファイルコピー");
  host_.ProcessMessages();
  host_.Log("インストール先: " + destination_);

  if (s.AddOnPackage && !FileExists(destination_ + kSettingsName)) {
    rebuild_ = std::make_unique<TAddonRebuild>(destination_, s.Title);
    rebuild_->Prepare();
    if (rebuild_->Target().empty()) rebuild_.reset();
  }

  copiedBytes_ = 0;
  // "Bytes div 10" as long as that fits the bar; larger packages are scaled further.
  progressDivisor_ = std::max<uint64_t>(10, choices_.RequiredBytes / std::numeric_limits<int32_t>::max() + 1);
  host_.SetProgressRange(static_cast<int32_t>(choices_.RequiredBytes / progressDivisor_));

  if (!s.AddOnPackage) RemoveOldDataFile();
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
  if (rebuild_) rebuild_->CopyBack();
  RecordPartFiles();
  data_.reset();
  if (rebuild_) rebuild_->DeleteWorkFolder();

  if (s.InstallKind != 2 && !rebuild_) SaveSettingsAndShortcuts();
  OpenReadmeAfterInstall();
}

// A new install replaces the data file of an earlier one: "game.dat", its directory file and its part
// files up to the first number that is missing.
void TInstallRun::RemoveOldDataFile() {
  const std::string data = destination_ + kDataFileName;
  journal_->SetAside(data);
  journal_->SetAside(ChangeFileExt(data, ".ext"));
  for (int n = 1; FileExists(DataFilePart(destination_, n)); ++n) {
    if (!journal_->SetAside(DataFilePart(destination_, n))) break;
  }
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

void TInstallRun::OnBuildProgress(int64_t size, int32_t index, int32_t count, bool& cancel) {
  copiedBytes_ += static_cast<uint64_t>(std::max<int64_t>(0, size));
  if (index % 10 != 9 && size <= kLargeEntry) return;
  SetProgressPosition();
  host_.SetStatus(Format("データファイルを構築中(%d/%d)...", {index + 1, count}));
  host_.ProcessMessages();
  if (host_.AbortRequested()) cancel = true;
}

void TInstallRun::OnCheckProgress(int32_t index, int32_t count, bool& cancel) {
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
  const std::string settingsFile = choices_.SourceFolder + kSettingsName;
  while (settings_.DiskIndex != index) {
    if (!host_.PromptMedium(Format("ディスク%dを入れてからOKをクリックしてください", {index + 1}))) {
      if (host_.Confirm(kAbortQuestion)) {
        host_.SetModalResult(mrAbort);
        throw TAbort();
      }
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

  for (int i = 0; i < list.Count(); ++i) {
    const std::string source = list[i];
    const std::string relative = source.substr(std::min(prefixLength, source.size()));
    copiedBytes_ += static_cast<uint64_t>(FileSizeOf(source));
    SetProgressPosition();
    host_.SetStatus(Format("%s をコピー中...", {ExtractFileName(source)}));
    host_.ProcessMessages();
    CheckAbort();

    const std::string target = destination_ + relative;
    if (!journal_->MakeFolders(ExtractFilePath(target))) {
      host_.Warning("ディレクトリを作成できませんでした");
      host_.SetModalResult(mrOk);
      throw TAbort();
    }
    const bool placed = journal_->SetAside(target);
    if (placed) journal_->FileCreated(target);
    if (!placed || !CopyFileIfChanged(source, target, false)) {
      // A file that did not arrive is never recorded as installed.
      host_.Warning(Format("%s\r\nファイルをコピーできませんでした", {target}));
      host_.Log("コピーできませんでした: " + target);
      host_.SetModalResult(mrOk);
      throw TAbort();
    }
    ClearReadOnly(target);
    settings_.AddInstalledFile(relative);
    host_.Log("コピー: " + relative);
  }
}

void TInstallRun::BuildDataFile() {
  // The project entry's first version keeps a name of its own in a data file. A rebuilt executable's
  // entries are files in the work folder, where such a name has no file: it is left as it is there.
  if (!rebuild_ && data_->IndexOf(kOriginalProjectEntry) < 0) {
    const int project = data_->IndexOf(kProjectEntry);
    if (project >= 0) data_->Items(project)->SetName(kOriginalProjectEntry);
  }
  if (!journal_->MakeFolders(destination_)) throw EVrError(destination_ + "\r\nファイルが作成できません");
  if (rebuild_) {
    rebuild_->TakeAddonEntries(package_, *data_);
  } else {
    const std::string data = destination_ + kDataFileName;
    if (!FileExists(data)) {
      dataFileCreated_ = true;
      journal_->FileCreated(data);
      journal_->FileCreated(ChangeFileExt(data, ".ext"));
    }
    // Part files the merges of a data file this run created have added since the last look (a later
    // medium may add more).
    auto noteParts = [&]() {
      auto* stream = dynamic_cast<TKoBigFileStream*>(data_->DataStream.get());
      if (!stream || !dataFileCreated_) return;
      for (; dataPartsNoted_ < stream->PartCount(); ++dataPartsNoted_)
        journal_->FileCreated(stream->PartFileName(dataPartsNoted_));
    };
    bool added = false;
    try {
      added = data_->MergeFrom(package_);
    } catch (...) {
      noteParts();
      throw;
    }
    noteParts();
    if (added) settings_.AddInstalledFile(ChangeFileExt(kDataFileName, ".ext"));
    host_.Log("データファイル: " + data);
  }
  CheckAbort();
  if (choices_.Data && !settings_.AddOnPackage) settings_.DataInstalled = true;
}

void TInstallRun::WriteSeparateEntries() {
  const std::string targetName = rebuild_ ? ExtractFileName(rebuild_->Target()) : std::string();
  for (int i = 0; i < package_.Count(); ++i) {
    const TVrFile& entry = *package_.Items(i);
    if (!entry.Separate || entry.IsEndMarker() || entry.Name() == kSettingsName) continue;
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
      settings_.InstallKind != 2) {
    settings_.AddInstalledFile(name);
    return;
  }
  const std::string cannotCreate = target + "\r\nファイルが作成できません";
  if (!journal_->MakeFolders(ExtractFilePath(target))) throw EVrError(cannotCreate);

  const std::string temporary = target + ".~vrnew";
  uint32_t crc = 0;
  journal_->FileCreated(temporary);
  try {
    std::unique_ptr<TFileStream> file;
    try {
      file = std::make_unique<TFileStream>(temporary, fmCreate);
    } catch (const EStreamError&) {
      throw EVrError(cannotCreate);
    }
    TCrcWriteStream writer(*file);
    try {
      package_.ExtractItem(writer, index);
    } catch (const EWriteError&) {
      throw EVrError(cannotCreate);
    }
    crc = writer.Crc();
    if (crc == entry.CRC) Platform().FileSetDosTime(file->Handle(), static_cast<uint32_t>(entry.Time));
  } catch (...) {
    Platform().DeleteFile(temporary);
    throw;
  }
  if (crc != entry.CRC) {
    Platform().DeleteFile(temporary);
    throw EVrError("ファイルが壊れています");
  }
  if (!journal_->SetAside(target)) {
    Platform().DeleteFile(temporary);
    throw EVrError(cannotCreate);
  }
  journal_->FileCreated(target);
  if (!Platform().MoveFileReplace(temporary, target)) {
    Platform().DeleteFile(temporary);
    throw EVrError(cannotCreate);
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
  if (!data_->VerifyData()) {
    checkFailed_ = true;
    host_.Log("データファイルのチェック: 不正");
    host_.Warning(kCheckFailedText);
    host_.SetModalResult(mrAbort);
    throw TAbort();
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
  s.AddInstalledFile(kSettingsName);
  const std::string settingsFile = destination_ + kSettingsName;
  if (s.AddOnPackage && FileExists(settingsFile)) {
    TRovaInstallSet installed;
    installed.LoadFromFile(settingsFile);
    for (int i = 0; i < s.InstalledFileCount(); ++i) installed.AddInstalledFile(s.InstalledFile(i));
    installed.SaveToFile(settingsFile);
  } else {
    if (!journal_->SetAside(settingsFile)) throw EFCreateError(settingsFile + "\r\nファイルが作成できません");
    journal_->FileCreated(settingsFile);
    s.SaveToFile(settingsFile);
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
    host_.BringToFront();
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
  Platform().ShellExecute("open", destination_ + s.ReadmeFile, "", destination_, kShowNormal);
  host_.Wait(1000);
  host_.BringToFront();
}

}  // namespace vr
