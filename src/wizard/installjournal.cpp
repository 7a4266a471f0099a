// The install journal: every change is written down before it is made, and undone in reverse order.
// The journal file and its folder reach the disk as soon as it is made. A change to something that was
// there before the run is flushed to the disk before it is made; a note of something new (a file or
// folder the run makes) is only written, and reaches the disk with the next flush, always before the
// folder holding the new name is flushed: a power cut never keeps a new name the journal does not know.
#include "wizard/installjournal.h"

#include <algorithm>
#include <cstdlib>

#include "archive/bigstreams.h"
#include "archive/entrywriter.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/durablefiles.h"
#include "platform/platform.h"
#include "startup/syshelpers.h"
#include "wizard/runhost.h"

namespace vr {

const char* const kJournalName = "~vrinstall.jnl";

namespace {

using TRecord = TInstallJournal::TRecord;

const char kHeader[] = "vrjournal 1\n";
// A journal is a line per change; anything longer than this is not one of ours.
constexpr int64_t kMaxJournalBytes = 64 << 20;

enum : char {
  rkParentMade = 'P',  // a folder at or above the journal's folder (Arg: levels above it, 0 = itself)
  rkFolderMade = 'D',
  rkFileMade = 'F',
  rkSetAside = 'A',   // Arg: the backup the file was moved to
  rkCopyAside = 'C',  // Arg: the backup a copy of the file was written to
  rkGrowth = 'G',     // Arg: the file's length before the run appended to it
  rkRange = 'W',      // Arg: the backup holding bytes written over in place, ":", their offset
  rkCommitted = 'K',
  rkRollingBack = 'R',  // a rollback begun after the commit point: the commit no longer holds
};

// Record fields hold names of any bytes: control bytes, tabs and "%" are written as %XX.
std::string Escape(const std::string& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : s) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x20 || b == '%' || b == 0x7F) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      const std::string hex = s.substr(i + 1, 2);
      char* end = nullptr;
      const long v = std::strtol(hex.c_str(), &end, 16);
      if (end == hex.c_str() + 2) {
        out += static_cast<char>(v);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

std::string EncodeRecord(const TRecord& r) {
  return std::string(1, r.Kind) + "\t" + Escape(r.Name) + "\t" + Escape(r.Arg) + "\n";
}

// The complete lines of a journal; a line cut short by a crash (no line end) is not a record.
std::vector<TRecord> ParseRecords(const std::string& text) {
  std::vector<TRecord> records;
  if (text.compare(0, sizeof kHeader - 1, kHeader) != 0) return records;
  size_t at = sizeof kHeader - 1;
  for (;;) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const size_t tab1 = line.find('\t');
    const size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab1 != 1 || tab2 == std::string::npos) continue;
    records.push_back({line[0], Unescape(line.substr(2, tab2 - 2)), Unescape(line.substr(tab2 + 1))});
  }
  return records;
}

bool IsFileOrLink(TFileKind kind) { return kind == TFileKind::File || kind == TFileKind::Link; }

// A free name beside `path` for its backup.
std::string FreeBackupName(const std::string& path) {
  for (int n = 0;; ++n) {
    const std::string name = path + Format(".~vr%d", {n});
    if (Platform().GetFileKind(name) == TFileKind::None) return name;
  }
}

// A backup name of `name`: name + ".~vr" + digits; anything else is not a backup the journal made.
bool IsBackupOf(const std::string& backup, const std::string& name) {
  const std::string prefix = name + ".~vr";
  if (backup.size() <= prefix.size() || backup.compare(0, prefix.size(), prefix) != 0) return false;
  return std::all_of(backup.begin() + static_cast<std::ptrdiff_t>(prefix.size()), backup.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// The path a record names below `folder`, or "" when it must not be touched: a name that leaves the
// folder, or one whose folders pass through a link.
std::string SafePath(const std::string& folder, const std::string& name) {
  return SafePathBelow(folder, name);
}

// The folder `levels` above `folder` (0: the folder itself), or "" above the root.
std::string FolderAbove(const std::string& folder, int levels) {
  std::string path = ExcludeTrailingBackslash(folder);
  for (int i = 0; i < levels; ++i) {
    const std::string parent = ExcludeTrailingBackslash(ExtractFilePath(path));
    if (parent.empty() || parent == path || (parent.size() == 2 && parent[1] == ':')) return std::string();
    path = parent;
  }
  return path;
}

// True when nothing but a folder is left under the name.
bool DeleteFileOrLink(const std::string& path) {
  const TFileKind kind = Platform().GetFileKind(path);
  if (kind == TFileKind::None || kind == TFileKind::Directory) return true;
  if (kind == TFileKind::File) ClearReadOnly(path);
  return Platform().DeleteFile(path);
}

void LogLine(TRunHost* log, const std::string& line) {
  if (log) log->Log(line);
}

// The folder whose entries change when `path` is made, renamed or removed.
std::string FolderOfPath(const std::string& path) { return ExcludeTrailingBackslash(ExtractFilePath(path)); }

// Undoes (or, for a committed run, completes) what the records describe, brings that to the disk, then
// deletes the journal. A step that fails keeps the journal, so that the next run tries again.
void Finish(const std::string& folder, const std::vector<TRecord>& records, bool committed, TRunHost* log) {
  TPlatform& p = Platform();
  bool clean = true;
  TFolderFlushes changed;
  // The journal goes only once what it undid or completed is on the disk, and its own removal is made
  // durable too: a power cut never brings back a journal of a finished run.
  auto dropJournal = [&]() {
    changed.FlushAll();
    p.DeleteFile(folder + kJournalName);
    changed.Add(folder);
    changed.FlushAll();
  };
  if (committed) {
    for (const TRecord& r : records) {
      if (r.Kind != rkSetAside && r.Kind != rkCopyAside && r.Kind != rkRange) continue;
      const std::string backup = r.Kind == rkRange ? r.Arg.substr(0, r.Arg.find(':')) : r.Arg;
      const std::string path = SafePath(folder, r.Name);
      if (path.empty() || !IsBackupOf(backup, r.Name) || SafePath(folder, backup).empty()) continue;
      clean &= DeleteFileOrLink(folder + backup);
      if (r.Kind != rkSetAside) clean &= DeleteFileOrLink(folder + backup + ".part");
      changed.AddFolderOf(folder + backup);
    }
    if (clean) dropJournal();
    return;
  }
  // A file set or copied aside whose backup is not there still holds what it held before the run: the
  // move never happened (or never reached the disk), or an earlier rollback put it back. A note that
  // the run made a file of that name must not remove it then.
  std::vector<std::string> original;
  for (const TRecord& r : records)
    if ((r.Kind == rkSetAside || r.Kind == rkCopyAside) && IsBackupOf(r.Arg, r.Name) &&
        !SafePath(folder, r.Arg).empty() && !IsFileOrLink(p.GetFileKind(folder + r.Arg)))
      original.push_back(r.Name);
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    const TRecord& r = *it;
    if (r.Kind == rkFolderMade || r.Kind == rkParentMade || r.Kind == rkCommitted || r.Kind == rkRollingBack)
      continue;
    const std::string path = SafePath(folder, r.Name);
    if (path.empty()) {
      LogLine(log, "元に戻せない名前を飛ばしました: " + r.Name);
      continue;
    }
    changed.AddFolderOf(path);
    switch (r.Kind) {
      case rkFileMade:
        if (std::find(original.begin(), original.end(), r.Name) == original.end())
          clean &= DeleteFileOrLink(path);
        break;
      case rkSetAside:
      case rkCopyAside: {
        if (!IsBackupOf(r.Arg, r.Name)) break;
        const std::string backup = folder + r.Arg;
        if (r.Kind == rkCopyAside) clean &= DeleteFileOrLink(backup + ".part");
        // A backup that is not there was never made (or is back already): the file stays as it is.
        if (!IsFileOrLink(p.GetFileKind(backup))) break;
        if (r.Kind == rkSetAside) clean &= DeleteFileOrLink(path);
        if (!p.MoveFileReplace(backup, path)) {
          clean = false;
          LogLine(log, "元に戻せませんでした: " + path);
        }
        break;
      }
      case rkRange: {
        const size_t colon = r.Arg.find(':');
        const std::string backup = colon == std::string::npos ? std::string() : r.Arg.substr(0, colon);
        if (!IsBackupOf(backup, r.Name)) break;
        clean &= DeleteFileOrLink(folder + backup + ".part");
        if (p.GetFileKind(folder + backup) != TFileKind::File) break;  // nothing was written over yet
        const int64_t offset = std::strtoll(r.Arg.c_str() + colon + 1, nullptr, 10);
        try {
          TFileStream kept(folder + backup, fmOpenRead | fmShareDenyWrite);
          TKoBigFileStream data(path, fmOpenReadWrite | fmShareExclusive);
          data.SetPosition(offset);
          if (offset < 0 || data.GetPosition() != offset ||
              data.CopyFromStream(kept, kept.Size()) != kept.Size())
            throw EVrError(path);
          // The stream flushes what it wrote when it closes.
        } catch (const Exception&) {
          clean = false;
          LogLine(log, "元に戻せませんでした: " + path);
          break;
        }
        clean &= DeleteFileOrLink(folder + backup);
        break;
      }
      case rkGrowth: {
        const int64_t size = std::strtoll(r.Arg.c_str(), nullptr, 10);
        if (size < 0 || p.GetFileKind(path) != TFileKind::File) break;
        const THandle h = p.FileOpen(path, fmOpenReadWrite | fmShareExclusive);
        if (h == kInvalidHandle) {
          clean = false;
          LogLine(log, "元に戻せませんでした: " + path);
          break;
        }
        if (p.FileSeek(h, 0, TSeekOrigin::soEnd) > size && (!p.FileSetSize(h, size) || !p.FileFlush(h)))
          clean = false;
        p.FileClose(h);
        break;
      }
      default:
        break;
    }
  }
  if (!clean) return;
  // Folders last, deepest first, and only when empty: a file somebody else put there keeps its folder.
  // Those below the journal go while it still names them; the journal's own folder and those above it
  // once it is gone.
  auto removeFolders = [&](char kind) {
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
      std::string path;
      if (it->Kind != kind) continue;
      if (kind == rkFolderMade) {
        path = SafePath(folder, it->Name);
      } else {
        const int levels = std::atoi(it->Arg.c_str());
        if (levels >= 0 && levels < 256) path = FolderAbove(folder, levels);
      }
      if (!path.empty() && p.GetFileKind(path) == TFileKind::Directory && p.RemoveDirectory(path))
        changed.Add(FolderOfPath(path));
    }
  };
  removeFolders(rkFolderMade);
  dropJournal();
  removeFolders(rkParentMade);
  changed.FlushAll();
}

}  // namespace

TInstallJournal::TInstallJournal(const std::string& folder) : folder_(AddTrailingBackslash(folder)) {}

TInstallJournal::~TInstallJournal() {
  if (file_ != kInvalidHandle) Platform().FileClose(file_);
}

std::string TInstallJournal::Relative(const std::string& path) const {
  if (path.size() <= folder_.size() || path.compare(0, folder_.size(), folder_) != 0)
    throw EVrError(path + "\r\nファイルが作成できません");
  return path.substr(folder_.size());
}

void TInstallJournal::Write(const TRecord& record) {
  records_.push_back(record);
  if (file_ == kInvalidHandle &&
      Platform().GetFileKind(ExcludeTrailingBackslash(folder_)) != TFileKind::Directory) {
    // The destination is not made yet: the folders above it are written down once it is.
    pending_.push_back(record);
    return;
  }
  const bool madeByRun =
      record.Kind == rkFileMade || record.Kind == rkFolderMade || record.Kind == rkParentMade;
  WriteText(EncodeRecord(record), !madeByRun);
}

void TInstallJournal::WriteText(const std::string& text, bool flush) {
  TPlatform& p = Platform();
  const std::string name = folder_ + kJournalName;
  if (file_ == kInvalidHandle) {
    file_ = p.FileCreateNew(name);
    if (file_ == kInvalidHandle) throw EVrError(name + "\r\nファイルが作成できません" + SystemReason());
    std::string head = kHeader;
    TFolderFlushes made;
    made.Add(folder_);
    for (const TRecord& r : pending_) {
      head += EncodeRecord(r);
      // The folder holding a level the run made above the journal, so that the level stays known.
      if (r.Kind == rkParentMade) made.Add(FolderAbove(folder_, std::atoi(r.Arg.c_str()) + 1));
    }
    pending_.clear();
    // The journal and the folders leading to it are on the disk before anything it notes can be.
    WriteText(head, true);
    if (!made.FlushAll()) throw EVrError(name + "\r\nファイルに書き込めません" + SystemReason());
  }
  const std::string& line = text;
  if (p.FileWrite(file_, line.data(), static_cast<int32_t>(line.size())) != static_cast<int32_t>(line.size()))
    throw EVrError(name + "\r\nファイルに書き込めません" + SystemReason());
  if (!line.empty()) unflushed_ = true;
  if (flush && unflushed_) {
    if (!p.FileFlush(file_)) throw EVrError(name + "\r\nファイルに書き込めません" + SystemReason());
    unflushed_ = false;
  }
}

bool TInstallJournal::MakeFolders(const std::string& folder) {
  TPlatform& p = Platform();
  const std::string dir = ExcludeTrailingBackslash(folder);
  const std::string root = ExcludeTrailingBackslash(folder_);
  if (dir.empty()) return false;
  // Levels below the destination that exist must be folders, never links: whatever lies behind a link
  // is not the destination's.
  const bool inside = dir.size() > root.size() && dir.compare(0, folder_.size(), folder_) == 0;
  if (inside) {
    std::string level = root;
    for (const std::string& part : SplitPath(dir.substr(folder_.size()))) {
      level += "\\" + part;
      const TFileKind kind = p.GetFileKind(level);
      if (kind == TFileKind::None) break;
      if (kind != TFileKind::Directory) return false;
    }
  }
  if (DirectoryExists(dir)) {
    if (!pending_.empty()) WriteText(std::string(), false);
    return true;
  }
  // Find the missing levels from the top down, so that each one made is noted.
  std::vector<std::string> missing;
  for (std::string level = dir; !level.empty() && !DirectoryExists(level);) {
    missing.push_back(level);
    const std::string parent = ExcludeTrailingBackslash(ExtractFilePath(level));
    if (parent == level || (parent.size() == 2 && parent[1] == ':')) break;
    level = parent;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    const std::string& level = *it;
    if (level.size() > root.size() && level.compare(0, folder_.size(), folder_) == 0) {
      Write({rkFolderMade, level.substr(folder_.size()), ""});
    } else {
      // The destination itself or a folder above it.
      int levels = 0;
      for (std::string up = root; up.size() > level.size(); ++levels)
        up = ExcludeTrailingBackslash(ExtractFilePath(up));
      Write({rkParentMade, "", IntToStr(levels)});
    }
    if (!p.CreateDirectory(level) && p.GetFileKind(level) != TFileKind::Directory) return false;
  }
  // The folders above the destination are on record as soon as the journal can be written.
  if (!pending_.empty()) WriteText(std::string(), false);
  return true;
}

bool TInstallJournal::SetAside(const std::string& path) {
  TPlatform& p = Platform();
  const TFileKind kind = p.GetFileKind(path);
  if (kind == TFileKind::None) return true;
  if (kind == TFileKind::Directory) return false;
  const std::string backup = FreeBackupName(path);
  Write({rkSetAside, Relative(path), Relative(backup)});
  return p.MoveFileReplace(path, backup);
}

bool TInstallJournal::CopyAside(const std::string& path) {
  TPlatform& p = Platform();
  const TFileKind kind = p.GetFileKind(path);
  if (kind == TFileKind::None) return true;
  if (kind != TFileKind::File) return false;
  const std::string backup = FreeBackupName(path);
  Write({rkCopyAside, Relative(path), Relative(backup)});
  // Copied under a part name and flushed first, so that a backup under its own name is complete.
  const std::string part = backup + ".part";
  if (!p.CopyFile(path, part, false)) return false;
  const THandle h = p.FileOpen(part, fmOpenReadWrite | fmShareExclusive);
  const bool flushed = h != kInvalidHandle && p.FileFlush(h);
  if (h != kInvalidHandle) p.FileClose(h);
  if (!flushed || !p.MoveFileReplace(part, backup)) {
    p.DeleteFile(part);
    return false;
  }
  // The file is changed next: its backup is on the disk under its name first.
  return FlushFolderOf(backup);
}

void TInstallJournal::NoteGrowth(const std::string& path, int64_t size) {
  Write({rkGrowth, Relative(path), IntToStr(size)});
}

void TInstallJournal::FileCreated(const std::string& path) { Write({rkFileMade, Relative(path), ""}); }

bool TInstallJournal::KeepRange(const std::string& path, int64_t offset, int64_t length) {
  const std::string backup = FreeBackupName(path);
  Write({rkRange, Relative(path), Relative(backup) + ":" + IntToStr(offset)});
  // Kept under a part name and flushed first, so that a backup under its own name is complete.
  const std::string part = backup + ".part";
  try {
    TKoBigFileStream data(path, fmOpenRead | fmShareDenyWrite);
    data.SetPosition(offset);
    const THandle h = Platform().FileCreateNew(part);
    if (h == kInvalidHandle) return false;
    bool done = false;
    {
      THandleStream out(h);
      done =
          data.GetPosition() == offset && data.CopyToStream(out, length) == length && Platform().FileFlush(h);
    }
    Platform().FileClose(h);
    // The bytes are written over next: their backup is on the disk under its name first.
    if (done && Platform().MoveFileReplace(part, backup)) return FlushFolderOf(backup);
  } catch (const Exception&) {
    // Reported as not kept.
  }
  Platform().DeleteFile(part);
  return false;
}

void TInstallJournal::Watch(TEntryWriter& writer) {
  writer.FlushBeforeReplace = true;
  writer.OnFolderCreating = [this](const std::string& folder) { FolderCreated(folder); };
  writer.OnTempCreating = [this](const std::string& temp) { FileCreated(temp); };
  writer.OnBeforeReplace = [this](const std::string& path) {
    if (!SetAside(path)) throw EEntryWriteError(TEntryWriteFault::NotReplaced, path);
    FileCreated(path);
    // The writer flushes a file's data before it takes its name.
    flushedFiles_.insert(path);
  };
}

void TInstallJournal::FolderCreated(const std::string& folder) {
  Write({rkFolderMade, Relative(ExcludeTrailingBackslash(folder)), ""});
}

void TInstallJournal::MakeDurable() {
  TPlatform& p = Platform();
  TFolderFlushes folders;
  std::vector<std::string> files;
  auto flushData = [&](const std::string& path) {
    if (!flushedFiles_.count(path) && p.GetFileKind(path) == TFileKind::File) files.push_back(path);
  };
  for (; durable_ < records_.size(); ++durable_) {
    const TRecord& r = records_[durable_];
    switch (r.Kind) {
      case rkFileMade:
      case rkGrowth:
      case rkRange:
        flushData(folder_ + r.Name);
        folders.AddFolderOf(folder_ + r.Name);
        break;
      case rkSetAside:
      case rkCopyAside:
        folders.AddFolderOf(folder_ + r.Name);
        break;
      case rkFolderMade:
        folders.Add(folder_ + r.Name);
        folders.AddFolderOf(folder_ + r.Name);
        break;
      case rkParentMade: {
        const int levels = std::atoi(r.Arg.c_str());
        folders.Add(FolderAbove(folder_, levels));
        folders.Add(FolderAbove(folder_, levels + 1));
        break;
      }
      default:
        break;
    }
  }
  // The files together, then the journal, then the folders.
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  if (!FlushFilesData(files)) throw EVrError(folder_ + "\r\nファイルに書き込めません" + SystemReason());
  flushedFiles_.insert(files.begin(), files.end());
  if (file_ != kInvalidHandle) WriteText(std::string(), true);
  if (!folders.FlushAll()) throw EVrError(folder_ + "\r\nファイルに書き込めません" + SystemReason());
}

void TInstallJournal::MarkComplete() {
  if (marked_ || records_.empty()) return;
  MakeDurable();
  Write({rkCommitted, "", ""});
  marked_ = true;
}

void TInstallJournal::Commit() {
  MarkComplete();
  if (file_ != kInvalidHandle) Platform().FileClose(file_);
  file_ = kInvalidHandle;
  if (!records_.empty()) Finish(folder_, records_, true, nullptr);
  records_.clear();
  pending_.clear();
  marked_ = false;
  unflushed_ = false;
  durable_ = 0;
  flushedFiles_.clear();
}

void TInstallJournal::Rollback() {
  if (marked_) {
    try {
      Write({rkRollingBack, "", ""});
    } catch (const Exception&) {
      // The rollback goes on; only a crash during it would now complete the run instead.
    }
  }
  if (file_ != kInvalidHandle) Platform().FileClose(file_);
  file_ = kInvalidHandle;
  if (!records_.empty()) Finish(folder_, records_, false, nullptr);
  records_.clear();
  pending_.clear();
  marked_ = false;
  unflushed_ = false;
  durable_ = 0;
  flushedFiles_.clear();
}

bool TInstallJournal::Recover(const std::string& folder, TRunHost* log) {
  TPlatform& p = Platform();
  const std::string dir = AddTrailingBackslash(folder);
  const std::string name = dir + kJournalName;
  if (p.GetFileKind(name) != TFileKind::File) return false;
  std::string text;
  const THandle h = p.FileOpen(name, fmOpenRead | fmShareDenyNone);
  if (h == kInvalidHandle) return false;
  const int64_t size = p.FileSeek(h, 0, TSeekOrigin::soEnd);
  if (size > 0 && size <= kMaxJournalBytes && p.FileSeek(h, 0, TSeekOrigin::soBeginning) == 0) {
    text.resize(static_cast<size_t>(size));
    if (p.FileRead(h, &text[0], static_cast<int32_t>(size)) != static_cast<int32_t>(size)) text.clear();
  }
  p.FileClose(h);
  const std::vector<TRecord> records = ParseRecords(text);
  // The last word on the run: the commit point, or a rollback begun after it.
  bool committed = false;
  for (const TRecord& r : records) {
    if (r.Kind == rkCommitted) committed = true;
    if (r.Kind == rkRollingBack) committed = false;
  }
  Finish(dir, records, committed, log);
  LogLine(log, committed ? "前回のインストールを完了させました: " + dir
                         : "前回中断されたインストールを元に戻しました: " + dir);
  return true;
}

}  // namespace vr
