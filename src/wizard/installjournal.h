// What an install run changed in its destination folder, so that a run that fails, is stopped, or is
// killed half-way can be taken back: files and folders it created are removed, files it replaced come
// back, files it appended to are cut back to their old length.
//
// The journal is kept on disk in the destination folder while the run lasts ("~vrinstall.jnl"): each
// change is written there before it is made, and flushed to the disk first when it changes something
// that was there before the run (a file set aside, copied, appended to or written over). The next run of any
// host (install or uninstall) that finds the file finishes what the killed run left: a run that had reached
// its commit point is committed (its backups deleted), any other is rolled back. The file names only paths
// below its own folder; a journal found on disk is untrusted like any other file there: names that leave the
// folder or pass through a link are skipped, and backups are only ever the "NAME.~vrN" files of NAME.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vr {

class TEntryWriter;
class TRunHost;

extern const char* const kJournalName;

class TInstallJournal {
 public:
  // folder: the destination folder; nothing is written before the first change.
  explicit TInstallJournal(const std::string& folder);
  // Closes the file and leaves it: a run that neither committed nor rolled back is finished by the
  // next one.
  ~TInstallJournal();
  TInstallJournal(const TInstallJournal&) = delete;
  TInstallJournal& operator=(const TInstallJournal&) = delete;

  // Creates the folder and the missing folders above it, noting each one made. False when it cannot be
  // made, or when a level below the destination folder is a link (never followed) or a file.
  bool MakeFolders(const std::string& folder);
  // Moves an existing file (or link) out of the way before the run writes or deletes it; it is kept
  // beside it under a backup name until Commit. True when the name is free afterwards.
  bool SetAside(const std::string& path);
  // Keeps a copy of an existing file that the run changes or replaces while still using it (an
  // installed data file's directory). True when there is nothing to keep or the copy is complete.
  bool CopyAside(const std::string& path);
  // Notes the length of a file the run is about to append to; a rollback cuts it back.
  void NoteGrowth(const std::string& path, int64_t size);
  // Notes a file the run is about to create where none exists.
  void FileCreated(const std::string& path);
  // Notes a folder below the destination about to be created (by someone else than MakeFolders).
  void FolderCreated(const std::string& folder);
  // Keeps the bytes offset .. offset + length of the data file `path` (with its part files) aside before
  // the run writes over them in place; a rollback writes them back. False when they cannot be kept.
  bool KeepRange(const std::string& path, int64_t offset, int64_t length);
  // Everything `writer` makes or replaces below the destination goes into this journal first.
  void Watch(TEntryWriter& writer);

  // Brings everything noted so far to the disk: the data of the files made, grown or written over,
  // then the journal, then the folders changed (a folder's new entry never reaches the disk before the
  // journal's note of it). Files and folders already brought there are not flushed again.
  void MakeDurable();
  // The commit point: from here on a run killed before Commit is completed by the next run, not
  // rolled back (its files are all in place). Everything noted is made durable first; then the mark is
  // written and flushed like a change.
  void MarkComplete();
  // The run is complete: marked so when it was not yet, then the backups are deleted and so is the
  // journal.
  void Commit();
  // Undoes every change, newest first, then deletes the journal and the folders made (only when
  // empty). Failures are skipped; nothing that was there before the run is deleted.
  void Rollback();

  // Finishes the run a journal in `folder` describes, if there is one: committed when it had reached
  // its commit point, otherwise rolled back. Each step is logged through `log` when given. True when a
  // journal was found.
  static bool Recover(const std::string& folder, TRunHost* log = nullptr);

  // The change records: kind, a name relative to the folder, and an argument (a backup's name, a
  // length, or the number of levels above the folder).
  struct TRecord {
    char Kind = 0;
    std::string Name;
    std::string Arg;
  };

 private:
  void Write(const TRecord& record);
  // Appends text to the journal file (created, with what was pending, on first use); with flush, it
  // and everything written before it reach the disk before this returns.
  void WriteText(const std::string& text, bool flush);
  std::string Relative(const std::string& path) const;

  std::string folder_;  // with a trailing backslash
  THandle file_ = kInvalidHandle;
  bool marked_ = false;
  bool unflushed_ = false;  // the journal file holds writes not yet flushed
  size_t durable_ = 0;      // records_ up to here are on the disk with what they name
  // Files whose data was flushed before they took their name (the entry writer's).
  std::set<std::string> flushedFiles_;
  std::vector<TRecord> records_;
  // Folders above or at the destination made before the journal could be written there.
  std::vector<TRecord> pending_;
};

}  // namespace vr
