// Rebuilding a one-executable game in a work folder: entries unpacked as loose files, packed into a new
// archive, appended to the program part and put back in place of the old executable.
#include "wizard/addonrebuild.h"

#include <cstdint>
#include <cstring>

#include "archive/bigstreams.h"
#include "archive/vrfiles.h"
#include "framework/classes.h"
#include "platform/dbcspath.h"
#include "platform/durablefiles.h"
#include "platform/platform.h"
#include "startup/syshelpers.h"

namespace vr {

namespace {

const char* const kWorkFolderText = "作業用フォルダが作成できません";
const char* const kUnsafeNameText = "%s:ファイル名が正しくありません";
const char* const kBadTrailerText = "%s:実行ファイルのアーカイブの位置が正しくありません";
const char* const kCopyFailedText = "コピーできません";

// Name of the new archive in the work folder; its part files share the name without the extension.
const char* const kNewArchiveName = "~rvupdate.pak";
const char* const kNewArchiveStem = "~rvupdate";
// Candidates tried for a fresh work folder or a temporary file before giving up.
constexpr int kMaxCandidates = 10000;

// Sets a file's last-write time; a file that cannot be opened keeps the time it has.
void SetFileDosTime(const std::string& path, int32_t time) {
  TPlatform& p = Platform();
  const THandle h = p.FileOpen(path, fmOpenReadWrite | fmShareExclusive);
  if (h == kInvalidHandle) return;
  p.FileSetDosTime(h, static_cast<uint32_t>(time));
  p.FileClose(h);
}

}  // namespace

TAddonRebuild::TAddonRebuild(const std::string& destination, const std::string& title)
    : destination_(destination), title_(title) {}

TAddonRebuild::~TAddonRebuild() {
  try {
    DeleteWorkFolder();
  } catch (...) {
    // Clean-up of a temporary folder never stops the run's own error from being reported.
  }
}

void TAddonRebuild::Prepare() {
  target_ = FindInstallerExe(destination_, title_);
  TPlatform& p = Platform();
  const std::string temp = AddTrailingBackslash(p.GetTempPath());
  ForceDirectories(temp);
  // A folder is taken only when this run creates it: one left over, or made by someone else between
  // the look and the creation, is never reused.
  for (int n = 1; n <= kMaxCandidates; ++n) {
    const std::string folder = n == 1 ? temp + "~rmupdate" : temp + Format("~rmupdate%d", {n});
    if (p.GetFileAttributes(folder) != faInvalid) continue;
    if (p.CreateDirectory(folder)) {
      workFolder_ = folder + "\\";
      return;
    }
    if (p.GetFileAttributes(folder) == faInvalid) break;
  }
  throw EVrError(kWorkFolderText);
}

void TAddonRebuild::RequireWorkFolder() const {
  if (workFolder_.empty() || target_.empty()) throw EVrError(kWorkFolderText);
}

std::string TAddonRebuild::TargetName() const { return ExtractFileName(target_); }

std::string TAddonRebuild::NewExecutable() const { return workFolder_ + "~" + TargetName(); }

void TAddonRebuild::TakeEntry(TVrFileCollection& source, int index, TVrFileCollection& data) {
  const TVrFile& item = *source.Items(index);
  const std::string& name = item.Name();
  if (!IsSafeRelativeName(name)) throw EVrError(Format(kUnsafeNameText, {name}));
  // The first part of the name must not be one of the files the rebuild itself writes there.
  const std::string first = SplitPath(name).front();
  TPlatform& p = Platform();
  if (SameTextJ(p, first, "~" + TargetName()) || SameTextJ(p, ChangeFileExt(first, ""), kNewArchiveStem))
    throw EVrError(Format(kUnsafeNameText, {name}));

  const std::string path = source.ExtractItemToFolder(index, workFolder_);
  SetFileDosTime(path, item.Time);
  const int existing = data.IndexOf(name);
  TVrFile* entry = existing >= 0 ? data.Items(existing) : data.AddFile(name);
  entry->Time = item.Time;
  entry->Size = item.Size;
  entry->Kind = item.Kind;
  entry->CRC = item.CRC;
}

void TAddonRebuild::TakeAddonEntries(TVrFileCollection& package, TVrFileCollection& data) {
  RequireWorkFolder();
  for (int i = 0; i < package.Count(); ++i) {
    const TVrFile& item = *package.Items(i);
    // Superseded versions are never looked up; as files they would land on the current version.
    if (item.Separate || item.IsEndMarker() || item.IsSuperseded()) continue;
    TakeEntry(package, i, data);
    if (SameTextJ(Platform(), item.Name(), TargetName())) addonProgram_ = workFolder_ + item.Name();
  }
}

void TAddonRebuild::TakeOldEntries(TVrFileCollection& data) {
  RequireWorkFolder();
  TVrFileCollection old;
  old.Open(target_);
  for (int i = 0; i < old.Count(); ++i) {
    const TVrFile& item = *old.Items(i);
    if (item.IsEndMarker() || item.IsSuperseded() || data.IndexOf(item.Name()) >= 0) continue;
    TakeEntry(old, i, data);
  }
}

void TAddonRebuild::CopyProgramPart(const std::string& fileName) const {
  TFileStream exe(target_, fmOpenRead | fmShareDenyWrite);
  const int64_t size = exe.Size();
  // The trailer names where the archive starts, which is the length of the program part; it has to
  // point at an archive directory inside the file.
  char trailer[6] = {};
  int64_t length = -1;
  if (size >= 8) {
    exe.SetPosition(size - 6);
    exe.ReadBuffer(trailer, 6);
    length = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint8_t>(trailer[0])) |
                                  static_cast<uint32_t>(static_cast<uint8_t>(trailer[1])) << 8 |
                                  static_cast<uint32_t>(static_cast<uint8_t>(trailer[2])) << 16 |
                                  static_cast<uint32_t>(static_cast<uint8_t>(trailer[3])) << 24);
  }
  char magic[2] = {};
  if (length > 0 && length <= size - 8 && std::memcmp(trailer + 4, "rv", 2) == 0) {
    exe.SetPosition(length);
    exe.ReadBuffer(magic, 2);
  }
  if (std::memcmp(magic, "vf", 2) != 0) throw EVrError(Format(kBadTrailerText, {target_}));
  TFileStream out(fileName, fmCreate);
  exe.SetPosition(0);
  CopyStreamRange(out, exe, length);
}

bool TAddonRebuild::Rebuild(TVrFileCollection& package, TVrFileCollection& data) {
  RequireWorkFolder();
  const std::string program = NewExecutable();
  const int index = package.IndexOf(TargetName());
  if (index >= 0) {
    TFileStream out(program, fmCreate);
    package.ExtractItem(out, index);
  } else if (!addonProgram_.empty()) {
    // An earlier medium of the add-on carried the new program.
    TFileStream in(addonProgram_, fmOpenRead | fmShareDenyWrite);
    TFileStream out(program, fmCreate);
    CopyStreamRange(out, in, 0);
  } else {
    CopyProgramPart(program);
  }

  const std::string archive = workFolder_ + kNewArchiveName;
  {
    TKoBigFileStream out(archive, fmCreate);
    if (!data.SaveToStream(out, false)) return false;
  }
  AppendArchiveToExecutable(program, archive);
  data.Open(program);
  return true;
}

void TAddonRebuild::CopyBack(const std::function<void(const std::string&)>& beforeCreate) {
  RequireWorkFolder();
  TPlatform& p = Platform();
  const std::string program = NewExecutable();
  ClearReadOnly(target_);
  // The new executable is copied in full beside the target and then renamed over it, so that the
  // target is the old executable or the new one, never a part of either.
  const std::string stem = ExtractFilePath(target_) + "~" + TargetName();
  bool done = false;
  for (int n = 1; n <= kMaxCandidates && !done; ++n) {
    const std::string temp = stem + (n == 1 ? std::string() : IntToStr(n)) + ".tmp";
    if (p.GetFileAttributes(temp) != faInvalid) continue;
    if (beforeCreate) beforeCreate(temp);
    // A copy that fails takes its partial file away itself; one that finds the name taken leaves
    // that file alone.
    if (!p.CopyFile(program, temp, true)) break;
    done = MoveFileFlushed(temp, target_);
    if (!done) {
      p.DeleteFile(temp);
      break;
    }
  }
  if (!done) throw EVrError(program + " --> " + target_ + kCopyFailedText);
}

void TAddonRebuild::DeleteWorkFolder() {
  if (workFolder_.empty()) return;
  DeleteTree(workFolder_);
  workFolder_.clear();
}

}  // namespace vr
