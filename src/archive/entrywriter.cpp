// Writing archive entries as files below a root folder. See entrywriter.h.
#include "archive/entrywriter.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <vector>

#include "archive/bigstreams.h"
#include "archive/crcstream.h"
#include "archive/vrfiles_internal.h"
#include "platform/dbcspath.h"
#include "platform/durablefiles.h"

namespace vr {

using namespace vrfiles_detail;

namespace {

const char* FaultText(TEntryWriteFault fault) {
  switch (fault) {
    case TEntryWriteFault::UnsafeName:
      return kUnsafeNameText;
    case TEntryWriteFault::LinkInTheWay:
      return "%s:シンボリックリンクがあるため書き込めません";
    case TEntryWriteFault::FileInTheWay:
      return "%s:同じ名前のファイルがあるためフォルダを作成できません";
    case TEntryWriteFault::FolderNotCreated:
      return "%s:フォルダを作成できません";
    case TEntryWriteFault::NoTemporary:
      return "%s:一時ファイルを作成できません";
    case TEntryWriteFault::WriteFailed:
      return kWriteFailedText;
    case TEntryWriteFault::ChecksumMismatch:
      return "%s:ファイルが壊れています";
    case TEntryWriteFault::FolderInTheWay:
      return "%s:同じ名前のフォルダがあるため書き込めません";
    case TEntryWriteFault::NotReplaced:
      return "%s:書き込みできません";
    case TEntryWriteFault::NameClash:
      return "%s:%s と同じ名前になります(Windows は大文字と小文字を区別しません)";
  }
  return "%s";
}

// A temporary name in `folder`: a random part fixed for the process and a counter, so no two files of
// one process try the same name (which would make a kept folder listing look the name up on disk).
// Later attempts for one file add a random part.
std::string TempName(const std::string& folder, const std::string& stem, int attempt) {
  static const std::string run = std::to_string(std::random_device{}() % 100000000u) + "-";
  static std::atomic<uint64_t> serial{0};
  std::string name;
  name.reserve(folder.size() + stem.size() + run.size() + 32);
  name += folder;
  name += stem;
  name += run;
  name += std::to_string(serial++);
  if (attempt > 0) name += "-" + std::to_string(std::random_device{}() % 1000000u);
  name += ".tmp";
  return name;
}

void WritePieces(TStream& out, const uint8_t* data, size_t size) {
  for (size_t done = 0; done < size;) {
    const int32_t piece = static_cast<int32_t>(std::min<size_t>(size - done, 0x40000000));
    out.WriteBuffer(data + done, piece);
    done += static_cast<size_t>(piece);
  }
}

// Copies a stored entry of a data file into the new file `h` inside the system (one copy, as cp makes).
// False, with the file left empty, for any other entry or when the system refuses the copy: the entry
// is then decoded through memory, which also reports damaged data.
bool CopyStoredInSystem(TVrFileCollection& archive, const TVrFile& entry, THandle h,
                        const std::string& target, const std::function<void(int64_t)>& progress) {
  const bool stored =
      entry.Kind != skCompressed && entry.Kind != skScrambled && entry.Kind != skCompressedScrambled;
  auto* data = dynamic_cast<TKoBigFileStream*>(archive.DataStream.get());
  if (!stored || !data || entry.Size <= 0 || entry.Offset < 0) return false;
  data->SetPosition(entry.Offset);
  if (data->GetPosition() != entry.Offset) return false;
  const int64_t done = data->CopyToFileInSystem(h, 0, entry.Size);
  if (done == entry.Size) {
    if (progress) progress(done);
    return true;
  }
  if (done > 0 && !Platform().FileSetSize(h, 0))
    throw EEntryWriteError(TEntryWriteFault::WriteFailed, target);
  return false;
}

// Joins the folder levels of `name` below `root` into `folder` (with room left for the last part),
// noting the end of each level in `ends` when given, and sets `last` to the name's last part ("" for a
// folder entry). Returns the number of levels.
size_t SplitBelow(const std::string& root, const std::string& name, std::string& folder, std::string& last,
                  std::vector<size_t>* ends) {
  std::vector<std::string> parts = SplitPath(name);
  folder.reserve(root.size() + name.size() + 1);
  folder = root;
  if (ends) ends->reserve(parts.size());
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    folder += '\\';
    folder += parts[i];
    if (ends) ends->push_back(folder.size());
  }
  last = std::move(parts.back());
  return parts.size() - 1;
}

}  // namespace

EEntryWriteError::EEntryWriteError(TEntryWriteFault fault, const std::string& path, const std::string& other)
    : EVrError(Format(FaultText(fault), {path, other})), Fault(fault), Path(path), Other(other) {}

TEntryWriter::TEntryWriter(const std::string& root) : root_(ExcludeTrailingBackslash(root)) {}

std::string TEntryWriter::Write(TVrFileCollection& archive, int index, const TEntryWriteOptions& options) {
  const std::string target = PrepareFolders(archive.Items(index)->Name());
  if (target.empty()) return target;
  std::string temp;
  const THandle h = CreateTemp(target, temp);
  if (h == kInvalidHandle) throw EEntryWriteError(TEntryWriteFault::NoTemporary, target);
  bool open = true;
  try {
    const bool check = options.ExpectedCrc.has_value();
    const uint32_t crc = WriteContent(archive, index, h, target, check, options.Progress);
    open = false;
    Platform().FileClose(h);
    if (check && crc != *options.ExpectedCrc)
      throw EEntryWriteError(TEntryWriteFault::ChecksumMismatch, target);
    MoveIntoPlace(temp, target);
  } catch (...) {
    if (open) Platform().FileClose(h);
    RemoveTemp(temp);
    throw;
  }
  return target;
}

std::string TEntryWriter::PrepareFolders(const std::string& name) {
  if (!IsSafeRelativeName(name)) throw EEntryWriteError(TEntryWriteFault::UnsafeName, name);
  const std::string earlier = Clash(name);
  if (!earlier.empty()) throw EEntryWriteError(TEntryWriteFault::NameClash, name, earlier);
  std::string folder, last;
  std::vector<size_t> ends;
  // Once the whole folder is known, so is every level above it (a level is remembered only after the
  // ones above it): an entry in a known folder costs one look-up.
  if (SplitBelow(root_, name, folder, last, &ends) > 0 && !known_.count(folder)) {
    std::string level = root_;
    for (size_t end : ends) {
      level.append(folder, level.size(), end - level.size());
      if (!known_.count(level)) PrepareFolder(level);
    }
  }
  // A name ending with a delimiter stands for a folder: nothing more to write.
  if (last.empty()) return std::string();
  folder += '\\';
  folder += last;
  return folder;
}

std::string TEntryWriter::Clash(const std::string& name) {
  // The same name again is written over; another spelling of it would land on the same file.
  const std::string earlier = names_.Add(name);
  return earlier == ReplaceDelimiters(name, '\\') ? std::string() : earlier;
}

std::string TEntryWriter::KnownPath(const std::string& name) {
  if (!IsSafeRelativeName(name) || !Clash(name).empty()) return std::string();
  std::string folder, last;
  const size_t levels = SplitBelow(root_, name, folder, last, nullptr);
  if (last.empty() || (levels > 0 && !known_.count(folder))) return std::string();
  folder += '\\';
  folder += last;
  return folder;
}

void TEntryWriter::PrepareFolder(const std::string& path) {
  TPlatform& p = Platform();
  TFileKind kind = p.GetFileKind(path);
  if (kind == TFileKind::None) {
    if (OnFolderCreating) OnFolderCreating(path);
    // Created right here: a link put in its place meanwhile makes the next entry's check fail.
    if (p.CreateDirectory(path)) {
      kind = TFileKind::Directory;
    } else {
      kind = p.GetFileKind(path);
      if (kind == TFileKind::None) throw EEntryWriteError(TEntryWriteFault::FolderNotCreated, path);
    }
  }
  if (kind == TFileKind::Link) throw EEntryWriteError(TEntryWriteFault::LinkInTheWay, path);
  if (kind != TFileKind::Directory) throw EEntryWriteError(TEntryWriteFault::FileInTheWay, path);
  known_.insert(path);
}

THandle TEntryWriter::CreateTemp(const std::string& target, std::string& temp, int attempts) {
  const std::string folder = ExtractFilePath(target);
  for (int attempt = 0; attempt < attempts; ++attempt) {
    temp = TempName(folder, TempStem, attempt);
    if (OnTempCreating) OnTempCreating(temp);
    const THandle h = Platform().FileCreateNew(temp);
    if (h != kInvalidHandle) return h;
    if (OnTempGone) OnTempGone(temp);
  }
  temp.clear();
  return kInvalidHandle;
}

void TEntryWriter::RemoveTemp(const std::string& temp) {
  Platform().DeleteFile(temp);
  if (OnTempGone) OnTempGone(temp);
}

uint32_t TEntryWriter::WriteContent(TVrFileCollection& archive, int index, THandle h,
                                    const std::string& target, bool wantCrc,
                                    const std::function<void(int64_t)>& progress) {
  const TVrFile& entry = *archive.Items(index);
  uint32_t crc = 0;
  if (wantCrc || !CopyStoredInSystem(archive, entry, h, target, progress)) {
    THandleStream file(h);
    TCrcWriteStream summed(file);
    TStream& out = wantCrc ? static_cast<TStream&>(summed) : file;
    try {
      archive.DecodeItemTo(
          index, [&out](const uint8_t* data, size_t size) { WritePieces(out, data, size); }, progress);
    } catch (const EWriteError&) {
      throw EEntryWriteError(TEntryWriteFault::WriteFailed, target);
    }
    if (wantCrc) crc = summed.Crc();
  }
  if (entry.Time != 0) Platform().FileSetDosTime(h, static_cast<uint32_t>(entry.Time));
  return crc;
}

void TEntryWriter::WriteStoredBytes(THandle h, const TVrFile& entry, const uint8_t* stored, int64_t size) {
  THandleStream out(h);
  DecodeStoredBytes(stored, size, entry.Kind, entry.Name(),
                    [&out](const uint8_t* data, size_t n) { WritePieces(out, data, n); });
  if (entry.Time != 0) Platform().FileSetDosTime(h, static_cast<uint32_t>(entry.Time));
}

void TEntryWriter::MoveIntoPlace(const std::string& temp, const std::string& target) {
  if (FlushBeforeReplace && !FlushFileData(temp))
    throw EEntryWriteError(TEntryWriteFault::WriteFailed, target);
  if (OnBeforeReplace) OnBeforeReplace(target);
  // The move refuses a folder in the way; only then is it worth a look to tell why.
  if (!Platform().MoveFileReplace(temp, target)) {
    if (Platform().GetFileKind(target) == TFileKind::Directory)
      throw EEntryWriteError(TEntryWriteFault::FolderInTheWay, target);
    throw EEntryWriteError(TEntryWriteFault::NotReplaced, target);
  }
  if (OnTempGone) OnTempGone(temp);
}

}  // namespace vr
