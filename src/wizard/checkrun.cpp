// The check run. See checkrun.h.
#include "wizard/checkrun.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "archive/vrfiles.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "platform/windowsnames.h"
#include "startup/syshelpers.h"

namespace vr {

namespace {

const char kNotInstalledText[] = "%s\r\nインストールされたゲームの設定ファイルではありません";
const char kOtherTitleText[] = "%s\r\n別のゲームのディスクです";
const char kUnreadableArchiveText[] = "%s\r\nディスクのアーカイブを読めません:%s";

uint32_t FileCRC(const std::string& path) {
  TFileStream file(path, fmOpenRead | fmShareDenyWrite);
  return StreamCRC(file);
}

int64_t SizeOf(const std::string& path) {
  TFileStream file(path, fmOpenRead | fmShareDenyWrite);
  return file.Size();
}

}  // namespace

bool IsDataFileName(const std::string& name) {
  const std::string lower = LowerCaseAscii(name);
  if (lower == kDataFileName || lower == ChangeFileExt(kDataFileName, ".ext")) return true;
  // game.001, game.002, ...: the stem and a dot, then digits only.
  const std::string stem = ChangeFileExt(kDataFileName, ".");
  if (lower.size() < stem.size() + 3 || lower.compare(0, stem.size(), stem) != 0) return false;
  return std::all_of(lower.begin() + static_cast<std::ptrdiff_t>(stem.size()), lower.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

int TCheckReport::Count(TFileState state) const {
  return static_cast<int>(
      std::count_if(Files.begin(), Files.end(), [state](const TCheckedFile& f) { return f.State == state; }));
}

bool TCheckReport::Healthy() const {
  return BadEntries.empty() && !DataFileUnreadable && !DirectoryDiffers &&
         Count(TFileState::fsMissing) == 0 && Count(TFileState::fsDamaged) == 0 &&
         Count(TFileState::fsRefused) == 0;
}

std::string TCheckReport::Summary() const {
  std::string names;
  auto add = [&](const std::string& name) { names += (names.empty() ? ": " : ", ") + name; };
  for (const TCheckedFile& f : Files)
    if (f.State == TFileState::fsMissing || f.State == TFileState::fsDamaged ||
        f.State == TFileState::fsRefused)
      add(f.Name);
  for (const std::string& entry : BadEntries) add(std::string(kDataFileName) + ":" + entry);
  return IntToStr(static_cast<int64_t>(Files.size())) + " files checked, " +
         IntToStr(Count(TFileState::fsMissing)) + " missing, " +
         IntToStr(Count(TFileState::fsDamaged) + static_cast<int>(BadEntries.size())) + " damaged, " +
         IntToStr(Count(TFileState::fsRefused)) + " refused" + names;
}

TCheckRun::TCheckRun(TRunHost& host, TCheckOptions options) : host_(host), options_(std::move(options)) {
  options_.GameFolder = AddTrailingBackslash(options_.GameFolder);
  for (std::string& m : options_.Media) m = AddTrailingBackslash(m);
}

TCheckRun::~TCheckRun() = default;

TCheckReport TCheckRun::Execute() {
  const std::string settingsFile = options_.GameFolder + kSettingsFileName;
  if (!FileExists(settingsFile)) throw EVrError(Format("%s:ファイルがありません", {settingsFile}));
  settings_.LoadFromFile(settingsFile);
  if (!settings_.Uninstaller) throw EVrError(Format(kNotInstalledText, {settingsFile}));
  host_.SetHeading(settings_.Title + " を調べています");
  host_.ProcessMessages();
  OpenMedia();

  TCheckReport report;
  CheckDataFile(report);
  const int count = settings_.InstalledFileCount();
  host_.SetProgressRange(std::max(1, count));
  // A second spelling of a recorded name is the same file to Windows: looked at once.
  TNameClashSet names;
  for (int i = 0; i < count; ++i) {
    const std::string& name = settings_.InstalledFile(i);
    const std::string earlier = names.Add(name);
    if (!earlier.empty() && earlier != ReplaceDelimiters(name, '\\')) {
      host_.Log(name + ": " + earlier + " と同じファイルです");
      continue;
    }
    host_.SetStatus(Format("%s を調べています...", {ExtractFileName(name)}));
    host_.SetProgressPosition(i);
    host_.ProcessMessages();
    TCheckedFile checked = CheckFile(name, IsDataFileName(name));
    // A data file whose entries fail its check counts as damaged in each of its files.
    if (checked.State == TFileState::fsOk && IsDataFileName(name) &&
        (report.DataFileUnreadable || report.DirectoryDiffers || !report.BadEntries.empty()))
      checked.State = TFileState::fsDamaged;
    const char* word = checked.State == TFileState::fsOk        ? "正常"
                       : checked.State == TFileState::fsMissing ? "ありません"
                       : checked.State == TFileState::fsDamaged ? "壊れています"
                       : checked.State == TFileState::fsRefused ? "ゲームのフォルダの外を指すため調べません"
                                                                : "比べるディスクがありません";
    host_.Log(name + ": " + word);
    report.Files.push_back(std::move(checked));
  }
  host_.SetProgressPosition(std::max(1, count));
  return report;
}

void TCheckRun::OpenMedia() {
  archives_.clear();
  for (const std::string& folder : options_.Media) {
    const std::string file = folder + kSettingsFileName;
    TRovaInstallSet medium;
    if (!FileExists(file)) throw EVrError(Format("%s:ファイルがありません", {file}));
    medium.LoadFromFile(file);
    if (medium.Title != settings_.Title) throw EVrError(Format(kOtherTitleText, {folder}));
    auto archive = std::make_unique<TVrFileCollection>();
    try {
      archive->OpenPath(folder + kDataFileName, true);
    } catch (const Exception& e) {
      throw EVrError(Format(kUnreadableArchiveText, {folder + kDataFileName, e.Message}));
    }
    archives_.push_back(std::move(archive));
  }
}

void TCheckRun::CheckDataFile(TCheckReport& report) {
  const std::string data = options_.GameFolder + kDataFileName;
  if (Platform().GetFileKind(data) != TFileKind::File) return;
  report.HasDataFile = true;
  host_.SetStatus("データファイルを調べています...");
  host_.ProcessMessages();
  TVrFileCollection collection;
  std::vector<TVerifyState> states;
  try {
    collection.OpenPath(data, true);
    collection.OnProgress = [this](TVrFileCollection*, TVrFile*, int64_t, int32_t index, int32_t count,
                                   bool&) {
      host_.SetProgressRange(std::max(1, count));
      host_.SetProgressPosition(index);
      host_.ProcessMessages();
    };
    states = collection.VerifyEach();
  } catch (const Exception& e) {
    report.DataFileUnreadable = true;
    host_.Log("データファイルを読めません: " + e.Message);
    return;
  }
  for (size_t i = 0; i < states.size(); ++i) {
    if (states[i] != TVerifyState::vsMismatch && states[i] != TVerifyState::vsTruncated) continue;
    report.BadEntries.push_back(collection.Items(static_cast<int>(i))->Name());
    host_.Log("データファイルのエントリが壊れています: " + report.BadEntries.back());
  }
  if (!archives_.empty() && !DirectoryMatchesMedia(collection)) {
    report.DirectoryDiffers = true;
    host_.Log("データファイルのディレクトリがディスクと一致しません");
  }
}

// Every current entry of the installed directory is the latest of its name on the media (same size,
// kind, time and checksum), and every entry the media bring is there.
bool TCheckRun::DirectoryMatchesMedia(const TVrFileCollection& installed) {
  int current = 0;
  for (int i = 0; i < installed.Count(); ++i) {
    const TVrFile& e = *installed.Items(i);
    if (e.IsEndMarker() || e.IsSuperseded()) continue;
    ++current;
    const TVrFile* latest = nullptr;
    for (const auto& archive : archives_) {
      const int index = archive->IndexOf(e.Name());
      if (index < 0 || archive->Items(index)->Separate) continue;
      const TVrFile* candidate = archive->Items(index);
      if (!latest || candidate->Time > latest->Time) latest = candidate;
    }
    if (!latest || latest->Size != e.Size || latest->Kind != e.Kind || latest->Time != e.Time ||
        latest->CRC != e.CRC)
      return false;
  }
  // Names the media bring (the project entry under either of its names).
  std::set<std::string> brought;
  for (const auto& archive : archives_)
    for (int i = 0; i < archive->Count(); ++i) {
      const TVrFile& m = *archive->Items(i);
      if (!m.IsEndMarker() && !m.Separate && !m.IsSuperseded())
        brought.insert(Platform().LowerCaseJ(m.Name()));
    }
  return current >= static_cast<int>(brought.size());
}

TCheckedFile TCheckRun::CheckFile(const std::string& name, bool isDataFile) {
  TCheckedFile checked;
  checked.Name = name;
  const std::string path = SafePathBelow(options_.GameFolder, name);
  if (path.empty() || IsPathDelimiterAt(name, name.size() - 1)) {
    checked.State = TFileState::fsRefused;
    return checked;
  }
  // The medium's copy: a loose file, else a separate entry of its archive (the last medium that has
  // the file wins, as it did when the game was installed).
  if (!isDataFile && name != kSettingsFileName) {
    for (int m = static_cast<int>(options_.Media.size()) - 1; m >= 0 && checked.Source.empty(); --m) {
      const std::string loose = SafePathBelow(options_.Media[static_cast<size_t>(m)], name);
      if (!loose.empty() && Platform().GetFileKind(loose) == TFileKind::File) {
        checked.Source = loose;
        checked.SourceMedium = m;
        break;
      }
      TVrFileCollection& archive = *archives_[static_cast<size_t>(m)];
      const int index = archive.IndexOf(name);
      if (index >= 0 && archive.Items(index)->Separate) {
        checked.Source = archive.FileName;
        checked.SourceEntry = index;
        checked.SourceMedium = m;
      }
    }
  }
  const TFileKind kind = Platform().GetFileKind(path);
  if (kind == TFileKind::None) {
    checked.State = TFileState::fsMissing;
    return checked;
  }
  if (kind != TFileKind::File) {
    checked.State = kind == TFileKind::Link ? TFileState::fsRefused : TFileState::fsDamaged;
    return checked;
  }
  if (isDataFile || name == kSettingsFileName) return checked;
  if (checked.Source.empty()) {
    checked.State = options_.Media.empty() ? TFileState::fsOk : TFileState::fsUnchecked;
    return checked;
  }
  try {
    if (checked.SourceEntry < 0) {
      if (SizeOf(path) != SizeOf(checked.Source) || FileCRC(path) != FileCRC(checked.Source))
        checked.State = TFileState::fsDamaged;
    } else {
      const TVrFile& entry =
          *archives_[static_cast<size_t>(checked.SourceMedium)]->Items(checked.SourceEntry);
      if (entry.CRC != 0 && FileCRC(path) != entry.CRC) checked.State = TFileState::fsDamaged;
    }
  } catch (const Exception&) {
    checked.State = TFileState::fsDamaged;  // present but unreadable
  }
  return checked;
}

}  // namespace vr
