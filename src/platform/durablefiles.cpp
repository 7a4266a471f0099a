// Flushing files and folders in order. See durablefiles.h.
#include "platform/durablefiles.h"

#include "platform/dbcspath.h"
#include "platform/platform.h"

namespace vr {

namespace {

std::string FolderOf(const std::string& path) {
  const std::string folder = ExtractFilePath(path);
  // A drive's root keeps its backslash.
  return folder.size() > 3 ? ExcludeTrailingBackslash(folder) : folder;
}

}  // namespace

bool FlushFileData(const std::string& path) {
  TPlatform& p = Platform();
  const THandle h = p.FileOpen(path, fmOpenReadWrite | fmShareDenyNone);
  if (h == kInvalidHandle) return false;
  const bool flushed = p.FileFlush(h);
  p.FileClose(h);
  return flushed;
}

bool FlushFilesData(const std::vector<std::string>& paths) {
  TPlatform& p = Platform();
  constexpr size_t kGroup = 256;  // handles open at once
  for (size_t first = 0; first < paths.size(); first += kGroup) {
    std::vector<THandle> group;
    bool all = true;
    for (size_t i = first; i < paths.size() && i < first + kGroup; ++i) {
      const THandle h = p.FileOpen(paths[i], fmOpenReadWrite | fmShareDenyNone);
      if (h == kInvalidHandle) {
        all = false;
        break;
      }
      group.push_back(h);
    }
    all = all && p.FileFlushMany(group);
    for (THandle h : group) p.FileClose(h);
    if (!all) return false;
  }
  return true;
}

bool FlushFolderOf(const std::string& path) { return Platform().FolderFlush(FolderOf(path)); }

bool MoveFileFlushed(const std::string& from, const std::string& to) {
  return FlushFileData(from) && Platform().MoveFileReplace(from, to);
}

bool MoveFileDurably(const std::string& from, const std::string& to) {
  if (!MoveFileFlushed(from, to)) return false;
  TFolderFlushes folders;
  folders.AddFolderOf(to);
  folders.AddFolderOf(from);
  return folders.FlushAll();
}

bool FlushTree(const std::string& folder) {
  TPlatform& p = Platform();
  const std::string dir = folder.size() > 3 ? ExcludeTrailingBackslash(folder) : folder;
  const auto entries = p.ListFolder(dir);
  if (!entries) return false;
  bool all = true;
  for (const TFindData& f : *entries) {
    const std::string path = (dir.back() == '\\' ? dir : dir + "\\") + f.Name;
    if (f.Attr & faReparsePoint) continue;
    all &= (f.Attr & faDirectory) ? FlushTree(path) : FlushFileData(path);
  }
  return p.FolderFlush(dir) && all;
}

void TFolderFlushes::Add(const std::string& folder) {
  if (folder.empty()) return;
  folders_.insert(folder.size() > 3 ? ExcludeTrailingBackslash(folder) : folder);
}

void TFolderFlushes::AddFolderOf(const std::string& path) { folders_.insert(FolderOf(path)); }

bool TFolderFlushes::FlushAll() {
  TPlatform& p = Platform();
  bool all = true;
  for (const std::string& folder : folders_)
    if (!p.FolderFlush(folder) && p.GetFileKind(folder) == TFileKind::Directory) all = false;
  folders_.clear();
  return all;
}

}  // namespace vr
