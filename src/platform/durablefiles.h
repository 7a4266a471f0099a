// Bringing files and folder entries to the disk in the order a power cut needs: a file's data before
// the name that makes it count, a folder's entries before anything that relies on them.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace vr {

// Flushes the data of the file `path`, opened for the flush only. False when it cannot be opened or
// flushed.
bool FlushFileData(const std::string& path);
// Flushes the data of every file of `paths`, a group at a time (TPlatform::FileFlushMany), so that the
// disk takes them together. False when one could not be opened or flushed.
bool FlushFilesData(const std::vector<std::string>& paths);
// Flushes the entries of the folder that holds `path`.
bool FlushFolderOf(const std::string& path);
// Renames `from` over `to` once the data of `from` is on the disk: whenever the new name survives a
// power cut, it holds the complete file. False, with nothing renamed, when the data cannot be flushed or
// the rename fails. The folders are left to the caller (a run flushes them once at the end of a stage).
bool MoveFileFlushed(const std::string& from, const std::string& to);
// MoveFileFlushed, then the folder of `to` (and that of `from` when it is another) flushed: the new
// name itself survives a power cut from here on. False when any step fails.
bool MoveFileDurably(const std::string& from, const std::string& to);

// Flushes the data of every file below `folder` and the entries of every folder there, `folder`
// included (a tree built under a temporary name before it is moved into place). Links are not
// followed. False when anything could not be flushed.
bool FlushTree(const std::string& folder);

// The folders a stage of a run changed, each flushed once when the stage ends.
class TFolderFlushes {
 public:
  void Add(const std::string& folder);
  void AddFolderOf(const std::string& path);
  bool Empty() const { return folders_.empty(); }
  // Flushes every folder added since the last call; folders that are gone by now are skipped. False when
  // one that is there could not be flushed.
  bool FlushAll();

 private:
  std::set<std::string> folders_;  // without trailing backslash
};

}  // namespace vr
