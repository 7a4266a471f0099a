// The repair run. See repairrun.h.
#include "wizard/repairrun.h"

#include <algorithm>
#include <set>

#include "archive/bigstreams.h"
#include "archive/entrywriter.h"
#include "archive/vrfiles.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/durablefiles.h"
#include "platform/platform.h"
#include "startup/syshelpers.h"
#include "wizard/datafilebuild.h"
#include "wizard/installjournal.h"

namespace vr {

namespace {

const char kNoMediaText[] = "修復にはディスクが必要です";
const char kCannotCreate[] = "%s\r\nファイルが作成できません";
// Bytes copied between two looks at the user's abort.
constexpr int64_t kPatchPiece = 4 << 20;

}  // namespace

TRepairRun::TRepairRun(TRunHost& host, TCheckOptions options)
    : host_(host), options_(std::move(options)), folder_(AddTrailingBackslash(options_.GameFolder)) {}

TRepairRun::~TRepairRun() = default;

void TRepairRun::CheckAbort() {
  host_.ProcessMessages();
  if (host_.AbortRequested()) throw TAbort();
}

TRepairOutcome TRepairRun::Execute() {
  TRepairOutcome outcome;
  if (options_.Media.empty()) throw EVrError(kNoMediaText);
  TInstallJournal::Recover(folder_, &host_);
  {
    TCheckRun check(host_, options_);
    outcome.Before = check.Execute();
    if (outcome.Before.Healthy()) {
      outcome.After = outcome.Before;
      host_.Log("修復の必要はありません");
      return outcome;
    }
    host_.SetHeading(check.Settings().Title + " を修復しています");
    journal_ = std::make_unique<TInstallJournal>(folder_);
    try {
      Repair(outcome.Before, check);
      journal_->Commit();
    } catch (const TAbort&) {
      outcome.End = TRunEnd::reStopped;
    } catch (const Exception& e) {
      outcome.End = TRunEnd::reFailed;
      outcome.Error = e.Message;
      host_.ShowError(e.Message);
    }
    writer_.reset();
    if (outcome.End != TRunEnd::reCompleted) {
      journal_->Rollback();
      outcome.RolledBack = true;
      host_.Log("修復を中止し、変更を元に戻しました");
    }
  }
  // The check once more: what is still damaged.
  outcome.After = TCheckRun(host_, options_).Execute();
  if (outcome.End == TRunEnd::reCompleted && !outcome.After.Healthy()) outcome.End = TRunEnd::reFailed;
  host_.Log(outcome.After.Healthy() ? "修復が完了しました" : "修復できなかったファイルがあります");
  return outcome;
}

void TRepairRun::Repair(const TCheckReport& report, TCheckRun& check) {
  // The data file: patched in place entry by entry while its directory and parts are there, rebuilt from
  // the media when they are not.
  bool rebuild = report.DataFileUnreadable || report.DirectoryDiffers;
  for (const TCheckedFile& f : report.Files)
    if (IsDataFileName(f.Name) && f.State == TFileState::fsMissing) rebuild = true;
  if (!rebuild && !report.BadEntries.empty()) rebuild = !PatchEntries(report, check);
  if (rebuild) RebuildDataFile(check);

  for (const TCheckedFile& f : report.Files) {
    if (f.State != TFileState::fsMissing && f.State != TFileState::fsDamaged) continue;
    if (IsDataFileName(f.Name) || f.Source.empty()) continue;
    CheckAbort();
    RepairFile(f, check);
  }
}

// A loose file is copied to a temporary file beside its target and renamed into place; a separate
// entry is written by the entry writer. The old file is set aside in the journal first.
void TRepairRun::RepairFile(const TCheckedFile& file, TCheckRun& check) {
  const std::string target = SafePathBelow(folder_, file.Name);
  if (target.empty()) return;
  host_.SetStatus(Format("%s を修復しています...", {ExtractFileName(file.Name)}));
  if (file.SourceEntry >= 0) {
    if (!writer_) {
      writer_ = std::make_unique<TEntryWriter>(folder_);
      journal_->Watch(*writer_);
    }
    TEntryWriteOptions options;
    TVrFileCollection& archive = check.MediumArchive(file.SourceMedium);
    options.ExpectedCrc = archive.Items(file.SourceEntry)->CRC;
    try {
      writer_->Write(archive, file.SourceEntry, options);
    } catch (const EEntryWriteError& e) {
      throw EVrError(Format(kCannotCreate, {e.Path}));
    }
  } else {
    if (!journal_->MakeFolders(ExtractFilePath(target))) throw EVrError(Format(kCannotCreate, {target}));
    const std::string temp = target + ".~vrtmp";
    TPlatform& p = Platform();
    const TFileKind left = p.GetFileKind(temp);
    if (left == TFileKind::File || left == TFileKind::Link) p.DeleteFile(temp);
    journal_->FileCreated(temp);
    if (!p.CopyFile(file.Source, temp, true)) {
      const std::string reason = SystemReason();
      p.DeleteFile(temp);
      throw EVrError(Format(kCannotCreate, {target}) + reason);
    }
    ClearReadOnly(temp);
    if (!journal_->SetAside(target)) throw EVrError(Format(kCannotCreate, {target}));
    journal_->FileCreated(target);
    if (!MoveFileFlushed(temp, target)) {
      const std::string reason = SystemReason();
      throw EVrError(Format(kCannotCreate, {target}) + reason);
    }
  }
  host_.Log("修復: " + file.Name);
}

// Each damaged entry gets its stored bytes again from the medium whose entry has the same size and
// checksum, written over it in place (the old bytes kept in the journal). False when the data file is
// shorter than its directory says: then it is rebuilt instead.
bool TRepairRun::PatchEntries(const TCheckReport& report, TCheckRun& check) {
  const std::string data = folder_ + kDataFileName;
  struct TPatch {
    std::string Name;
    int64_t Offset, Size;
    TVrFileCollection* Source;
    int64_t SourceOffset;
  };
  std::vector<TPatch> patches;
  {
    TVrFileCollection installed;
    installed.OpenPath(data, true);
    const int64_t end = installed.DataStream ? installed.DataStream->GetSize() : 0;
    const std::set<std::string> bad(report.BadEntries.begin(), report.BadEntries.end());
    for (int i = 0; i < installed.Count(); ++i) {
      const TVrFile& e = *installed.Items(i);
      if (!bad.count(e.Name()) || e.IsEndMarker() || e.IsSuperseded()) continue;
      if (e.Offset < 0 || e.Size < 0 || e.Size > end - e.Offset) return false;
      // The last medium holding the same stored bytes (same size and checksum).
      for (int m = check.MediaCount() - 1; m >= 0; --m) {
        TVrFileCollection& medium = check.MediumArchive(m);
        const int index = medium.IndexOf(e.Name());
        if (index < 0) continue;
        const TVrFile& source = *medium.Items(index);
        if (source.Separate || source.Size != e.Size || source.CRC != e.CRC || !medium.DataStream) continue;
        if (source.Offset < 0 || source.Size > medium.DataStream->GetSize() - source.Offset) continue;
        patches.push_back({e.Name(), e.Offset, e.Size, &medium, source.Offset});
        break;
      }
    }
  }
  if (patches.empty()) return true;
  std::vector<uint8_t> buffer(static_cast<size_t>(kPatchPiece));
  for (const TPatch& patch : patches) {
    CheckAbort();
    host_.SetStatus(Format("%s を修復しています...", {patch.Name}));
    if (!journal_->KeepRange(data, patch.Offset, patch.Size)) {
      const std::string reason = SystemReason();
      throw EVrError(Format(kCannotCreate, {data}) + reason);
    }
    TKoBigFileStream out(data, fmOpenReadWrite | fmShareExclusive);
    TKoBigStream& in = *patch.Source->DataStream;
    for (int64_t done = 0; done < patch.Size;) {
      const int64_t piece = std::min(kPatchPiece, patch.Size - done);
      in.SetPosition(patch.SourceOffset + done);
      out.SetPosition(patch.Offset + done);
      if (in.Read(buffer.data(), piece) != piece)
        throw EVrError(Format("%s:読み込みエラー", {patch.Source->FileName}));
      if (out.Write(buffer.data(), piece) != piece) {
        const std::string reason = SystemReason();
        throw EVrError(Format("%s:書き込みに失敗しました", {data}) + reason);
      }
      done += piece;
      CheckAbort();
    }
    host_.Log("データファイルのエントリを修復: " + patch.Name);
  }
  return true;
}

// The data file again from the media, medium by medium, as the install built it; the old one is set
// aside until the repair commits.
void TRepairRun::RebuildDataFile(TCheckRun& check) {
  host_.SetStatus("データファイルを作り直しています...");
  CheckAbort();
  TDataFileBuild build(*journal_, folder_);
  build.SetAsideOld();
  TVrFileCollection data;
  data.OpenPath(folder_ + kDataFileName, true);
  data.OnProgress = [this](TVrFileCollection*, TVrFile*, int64_t, int32_t index, int32_t count,
                           bool& cancel) {
    host_.SetProgressRange(std::max(1, count));
    host_.SetProgressPosition(index);
    host_.ProcessMessages();
    if (host_.AbortRequested()) cancel = true;
  };
  for (int m = 0; m < check.MediaCount(); ++m) {
    build.Merge(data, check.MediumArchive(m));
    CheckAbort();
  }
  host_.Log("データファイルを作り直しました");
}

}  // namespace vr
