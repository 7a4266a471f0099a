// Writing archive entries as files below a root folder, without ever following a symbolic link and
// without leaving a half-written file under an entry's name.
//
// For each entry the writer
//   1. refuses a name that would leave the root or that Windows cannot hold (IsSafeRelativeName), and a
//      name Windows cannot tell from another one this writer took (NamesClash): the two would be one file,
//   2. prepares the entry's folders one level at a time: a missing level is created, a level that is a
//      symbolic link or junction, a file or anything but a folder is refused, never followed. Levels
//      are remembered once checked: each folder is looked at once, and an entry in a known folder costs
//      one look-up however deep the folder lies,
//   3. creates a new temporary file beside the target exclusively (FileCreateNew: fails on any existing
//      name, a link included), named TempStem + "<random>-<counter>.tmp" (no name of one process
//      repeats),
//   4. writes the content: a stored entry of a data file is copied inside the system when the content's
//      checksum is not wanted, anything else is decoded as a stream (the checksum, when wanted, summed
//      on the way); sets the entry's DOS time,
//   5. checks the CRC-32 of the content against an expected value when asked to,
//   6. renames the file over the target: an existing file or link of that name is replaced (a link is
//      never written through), a folder of that name is an error. With FlushBeforeReplace the file's
//      data reaches the disk first, so that a power cut never leaves the name on a file short of data.
// Any failure removes the temporary file and leaves the target as it was.
//
// The root is the caller's: it must exist, and links above or at it are not the writer's concern.
// One writer is used by one thread at a time (only WriteStoredBytes may run on others).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>

#include "archive/vrfiles.h"
#include "framework/sysutils.h"
#include "platform/platform.h"
#include "platform/windowsnames.h"

namespace vr {

// What stopped an entry from being written (EEntryWriteError::Fault).
enum class TEntryWriteFault {
  UnsafeName,        // the name leaves the root or names a device; Path: the name
  LinkInTheWay,      // a level of the entry's folders is a symbolic link or junction; Path: that level
  FileInTheWay,      // a level of the entry's folders is a file (or a pipe, a device ...); Path: that level
  FolderNotCreated,  // a level of the entry's folders cannot be created; Path: that level
  NoTemporary,       // no temporary file can be created beside the target; Path: the target
  WriteFailed,       // writing the temporary file failed (a full disk ...); Path: the target
  ChecksumMismatch,  // the content's CRC-32 is not the expected one; Path: the target
  FolderInTheWay,    // a folder has the target's name; Path: the target
  NotReplaced,       // the target cannot be replaced (read-only, in use ...); Path: the target
  NameClash,         // Windows cannot tell the name from one written before; Path: the name, Other: that one
};

// A failure of the writer itself, with a Japanese message naming Path. Broken archive data raises the
// reader's own errors (EVrError, EZLibError) instead.
class EEntryWriteError : public EVrError {
 public:
  EEntryWriteError(TEntryWriteFault fault, const std::string& path, const std::string& other = "");
  TEntryWriteFault Fault;
  std::string Path;
  std::string Other;
};

struct TEntryWriteOptions {
  // When set, the decoded content's CRC-32 must be this value (TVrFile::CRC of a separate entry).
  std::optional<uint32_t> ExpectedCrc;
  // Stored bytes consumed so far (as TVrFileCollection::DecodeItemTo reports them).
  std::function<void(int64_t)> Progress;
};

class TEntryWriter {
 public:
  // `root`: the folder the entries' names are joined to (a trailing backslash is optional).
  explicit TEntryWriter(const std::string& root);
  virtual ~TEntryWriter() = default;
  TEntryWriter(const TEntryWriter&) = delete;
  TEntryWriter& operator=(const TEntryWriter&) = delete;

  const std::string& Root() const { return root_; }

  // ---- hooks (each optional) ------------------------------------------------------------------
  // A folder below the root is about to be created by the writer (nothing of that name exists): an
  // install notes it here to take it away again. An exception stops the write and reaches the caller.
  std::function<void(const std::string& folder)> OnFolderCreating;
  // A temporary file is about to be created under this name: called before it exists, so that a
  // clean-up at any moment finds it. Must not throw.
  std::function<void(const std::string& temp)> OnTempCreating;
  // The temporary file of this name is gone (removed, or renamed into place). Must not throw.
  std::function<void(const std::string& temp)> OnTempGone;
  // The finished temporary file is about to replace the target (which may or may not exist): an
  // install sets an existing target aside here. An exception stops the write (the temporary file is
  // removed) and reaches the caller.
  std::function<void(const std::string& target)> OnBeforeReplace;
  // First part of temporary names; it should be a name no entry of a package uses.
  std::string TempStem = "~vr";
  // Flush each file's data before it takes the target's name (an install's files; an extraction does
  // without and leaves the flushing to the system).
  bool FlushBeforeReplace = false;

  // ---- one entry, every step ------------------------------------------------------------------
  // Writes the entry at `index` as the file root + its name and returns that path; for a name ending
  // with a delimiter (a folder entry) only the folders are made and "" is returned. Raises
  // EEntryWriteError, or the reader's error when the entry's data is broken.
  std::string Write(TVrFileCollection& archive, int index, const TEntryWriteOptions& options = {});

  // ---- the steps, for callers that schedule the work themselves -------------------------------
  // Checks the name and prepares its folders (steps 1 and 2); returns the target path, or "" for a
  // folder entry.
  std::string PrepareFolders(const std::string& name);
  // The target path without touching the disk: "" unless the name is safe and clashes with none taken
  // before, every folder of it was prepared already and the name is a file's. The name is taken.
  std::string KnownPath(const std::string& name);
  // Creates a new temporary file beside `target` (step 3), trying up to `attempts` names; sets `temp`
  // to its name and returns its handle, or kInvalidHandle (temp empty) when none could be created.
  THandle CreateTemp(const std::string& target, std::string& temp, int attempts = 100);
  // Removes a temporary file of CreateTemp (that may already be gone) and tells OnTempGone.
  void RemoveTemp(const std::string& temp);
  // Step 4 into the open temporary file `h` of `target`: the entry's content and DOS time; returns the
  // content's CRC-32 when `wantCrc` (else 0, and a stored entry may be copied inside the system).
  uint32_t WriteContent(TVrFileCollection& archive, int index, THandle h, const std::string& target,
                        bool wantCrc, const std::function<void(int64_t)>& progress = nullptr);
  // Step 4 for stored bytes already held in memory: decoded (DecodeStoredBytes) into the open file `h`,
  // the entry's DOS time set. Touches no writer's state: any thread may call it.
  static void WriteStoredBytes(THandle h, const TVrFile& entry, const uint8_t* stored, int64_t size);
  // Step 6: OnBeforeReplace, then renames the closed temporary file over `target` and tells OnTempGone.
  // On failure the temporary file stays (the caller removes it).
  void MoveIntoPlace(const std::string& temp, const std::string& target);

 private:
  void PrepareFolder(const std::string& path);
  // Takes the name; returns the earlier name it clashes with, or "".
  std::string Clash(const std::string& name);

  std::string root_;
  std::unordered_set<std::string> known_;  // folders below the root checked or created, no trailing "\"
  TNameClashSet names_;                    // the names taken so far
};

}  // namespace vr
