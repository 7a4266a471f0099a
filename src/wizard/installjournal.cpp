// The install journal: every change is noted before it is made, and undone in reverse order.
#include "wizard/installjournal.h"

#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/syshelpers.h"

namespace vr {

namespace {

// A name beside `path` that is not in use.
std::string FreeBackupName(const std::string& path) {
  for (int n = 0;; ++n) {
    const std::string name = path + Format(".~vr%d", {n});
    if (Platform().GetFileAttributes(name) == faInvalid) return name;
  }
}

}  // namespace

bool TInstallJournal::MakeFolders(const std::string& folder) {
  const std::string dir = ExcludeTrailingBackslash(folder);
  if (dir.empty()) return false;
  if (DirectoryExists(dir)) return true;
  // Find the missing levels from the top down, so that each one made is noted.
  std::vector<std::string> missing;
  for (std::string level = dir; !level.empty() && !DirectoryExists(level);) {
    missing.push_back(level);
    const std::string parent = ExcludeTrailingBackslash(ExtractFilePath(level));
    if (parent == level || (parent.size() == 2 && parent[1] == ':')) break;
    level = parent;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!Platform().CreateDirectory(*it)) {
      if (!DirectoryExists(*it)) return false;
      continue;  // made by somebody else meanwhile: not ours to remove
    }
    if (enabled_) changes_.push_back({TChange::TKind::FolderMade, *it, {}});
  }
  return true;
}

bool TInstallJournal::SetAside(const std::string& path) {
  const uint32_t attr = Platform().GetFileAttributes(path);
  if (attr == faInvalid) return true;
  if (attr & faDirectory) return false;
  if (!enabled_) {
    ClearReadOnly(path);
    return Platform().DeleteFile(path);
  }
  const std::string backup = FreeBackupName(path);
  if (!Platform().MoveFileReplace(path, backup)) return false;
  changes_.push_back({TChange::TKind::FileSetAside, path, backup});
  return true;
}

void TInstallJournal::FileCreated(const std::string& path) {
  if (enabled_) changes_.push_back({TChange::TKind::FileMade, path, {}});
}

void TInstallJournal::Commit() {
  for (const TChange& c : changes_) {
    if (c.Kind != TChange::TKind::FileSetAside) continue;
    ClearReadOnly(c.Backup);
    Platform().DeleteFile(c.Backup);
  }
  changes_.clear();
}

void TInstallJournal::Rollback() {
  for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) {
    switch (it->Kind) {
      case TChange::TKind::FileMade:
        ClearReadOnly(it->Path);
        Platform().DeleteFile(it->Path);
        break;
      case TChange::TKind::FolderMade:
        // Only when empty: a file somebody else put there keeps its folder.
        Platform().RemoveDirectory(it->Path);
        break;
      case TChange::TKind::FileSetAside:
        if (Platform().GetFileAttributes(it->Path) != faInvalid) {
          ClearReadOnly(it->Path);
          Platform().DeleteFile(it->Path);
        }
        Platform().MoveFileReplace(it->Backup, it->Path);
        break;
    }
  }
  changes_.clear();
}

}  // namespace vr
