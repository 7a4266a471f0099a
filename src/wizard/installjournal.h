// What an install run changed in the file system, so that an aborted or failed install can be taken
// back: files and folders it created are removed, files it replaced or deleted come back.
#pragma once

#include <string>
#include <vector>

namespace vr {

class TInstallJournal {
 public:
  // A disabled journal keeps nothing: replaced files are simply deleted, and Rollback does nothing.
  explicit TInstallJournal(bool enabled) : enabled_(enabled) {}
  ~TInstallJournal() = default;
  TInstallJournal(const TInstallJournal&) = delete;
  TInstallJournal& operator=(const TInstallJournal&) = delete;

  bool Enabled() const { return enabled_; }

  // Creates the folder and the missing folders above it, noting each one made. True when it exists.
  bool MakeFolders(const std::string& folder);
  // Moves an existing file out of the way before the run writes or deletes it (kept beside it under a
  // backup name until Commit). True when the name is free afterwards.
  bool SetAside(const std::string& path);
  // Notes a file the run is about to create where none existed.
  void FileCreated(const std::string& path);

  // The install succeeded: the set-aside files are deleted.
  void Commit();
  // Removes every noted file and folder (folders only when empty) and puts the set-aside files back,
  // newest change first. Failures are skipped; nothing that was there before is deleted.
  void Rollback();

 private:
  struct TChange {
    enum class TKind { FolderMade, FileMade, FileSetAside } Kind;
    std::string Path;
    std::string Backup;
  };
  bool enabled_;
  std::vector<TChange> changes_;
};

}  // namespace vr
