// Operating-system services used by the program, behind one interface.
//
// Every name and text crossing this interface is a code page 932 byte string with Windows path rules
// (backslashes, drive letters). The Win32 implementation converts to UTF-16 and calls the wide
// functions; the POSIX implementation maps drive letters to host folders and keeps its own registry,
// mutexes and special folders (see posix/posixplatform.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vr {

// Opaque handle of an open file, a mutex or a registry key; kInvalidHandle means "none".
using THandle = std::intptr_t;
constexpr THandle kInvalidHandle = -1;

// Results of TPlatform::RunProcessAndWait besides the program's own exit code.
constexpr int32_t kProcessNotStarted = -1;
constexpr int32_t kProcessStillRunning = -2;

// File attribute bits as Windows defines them.
enum : uint32_t {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faVolumeID = 0x08,
  faDirectory = 0x10,
  faArchive = 0x20,
  faNormal = 0x80,
  faReparsePoint = 0x400,  // a symbolic link or junction (the POSIX layer reports symbolic links)
  faInvalid = 0xFFFFFFFF,
};

// Open modes of the framework: bits 0-1 access, bits 4-7 sharing; 0xFFFF creates (or truncates).
enum : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFFFF,
};

enum class TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// Registry roots.
enum class TRegRoot { HKCU, HKLM, HKU };

// Result of reading a registry value.
enum class TRegRead { Ok, Missing, NotString };

// One entry of a folder listing ("." and ".." are never returned).
struct TFindData {
  std::string Name;  // name only, code page 932
  uint32_t Attr = 0;
  int64_t Size = 0;
  uint32_t DosTime = 0;  // last write time as DOS date-time (local time)
};

// What a name itself stands for, a final symbolic link not followed (GetFileKind).
enum class TFileKind {
  None,       // nothing of that name
  File,       // a regular file
  Directory,  // a folder
  Link,       // a symbolic link (dangling or not) or another reparse point
  Other,      // a pipe, device or socket
};

// Bytes of a module resource; `Keep` holds whatever owns the memory.
struct TResourceData {
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  std::shared_ptr<const void> Keep;
};

// The show command ShellExecute is given for what the program opens (SW_SHOW).
constexpr int kShowWindow = 5;

// Contents of a shell link (.lnk) file.
struct TShellLinkData {
  std::string Target;
  std::string WorkDir;
  std::string Arguments;
  std::string Description;
  std::string IconLocation;
  int32_t IconIndex = 0;
  // Virtual key in the low byte; 0x100 Shift, 0x200 Ctrl, 0x400 Alt.
  uint16_t HotKey = 0;
  int32_t ShowCommand = 1;  // SW_SHOWNORMAL
};

enum class TShellLinkResult {
  Saved,
  NoLinkObject,   // the shell's link object could not be created
  NoPersistence,  // the link object has no file-persistence interface
  SaveFailed,
};

// Operation codes and flags of the shell's file operation (SHFileOperation).
enum : uint32_t { foMove = 1, foCopy = 2, foDelete = 3, foRename = 4 };
enum : uint16_t {
  FOF_MULTIDESTFILES_ = 0x1,
  FOF_CONFIRMMOUSE_ = 0x2,
  FOF_SILENT_ = 0x4,
  FOF_RENAMEONCOLLISION_ = 0x8,
  FOF_NOCONFIRMATION_ = 0x10,
  FOF_ALLOWUNDO_ = 0x40,
  FOF_FILESONLY_ = 0x80,
  FOF_SIMPLEPROGRESS_ = 0x100,
  FOF_NOCONFIRMMKDIR_ = 0x200,
  FOF_NOERRORUI_ = 0x400,
};

struct TShellFileOp {
  uint32_t Operation = foCopy;
  // Names separated by a zero byte and ended by two zero bytes, as the shell takes them.
  std::string From;
  std::string To;
  uint16_t Flags = 0;
  std::optional<std::string> ProgressTitle;
};

struct TShellFileOpResult {
  int Result = 0;  // 0 on success
  bool Aborted = false;
};

// The names of a zero-separated, double-zero-ended list (empty names are skipped).
std::vector<std::string> SplitZeroList(const std::string& list);

// Window handle the shell calls use as owner (the application window); 0 until a source is set.
// The forms layer installs a function returning its application window, so this layer needs nothing
// of it.
using TOwnerWindowSource = intptr_t (*)();
void SetOwnerWindowSource(TOwnerWindowSource source);
intptr_t OwnerWindow();

class TPlatform {
 public:
  virtual ~TPlatform() = default;

  // --- system identity -------------------------------------------------------------------------
  virtual bool IsNTFamily() = 0;
  // The shell's administrator test (shell32 export ordinal 680); nullopt when it cannot be found.
  virtual std::optional<bool> ShellIsUserAnAdmin() = 0;
  // Full path of the running executable.
  virtual std::string ModuleFileName() = 0;
  virtual std::string GetTempPath() = 0;          // with trailing backslash
  virtual std::string GetWindowsDirectory() = 0;  // without trailing backslash
  virtual std::string GetSystemDirectory() = 0;   // without trailing backslash
  // Shell special folder (CSIDL); nullopt when the shell cannot resolve the number.
  virtual std::optional<std::string> GetSpecialFolder(int csidl) = 0;
  // The host user's own home folder where it is not one of the special folders (the POSIX layer's
  // $HOME, as a path on the drive that maps it); nullopt when there is none or no drive maps it.
  virtual std::optional<std::string> HostHomeFolder() { return std::nullopt; }
  virtual void Sleep(uint32_t milliseconds) = 0;
  virtual uint32_t GetTickCount() = 0;

  // --- files ----------------------------------------------------------------------------------
  // Opens an existing file with a framework open mode (not fmCreate); kInvalidHandle on failure.
  virtual THandle FileOpen(const std::string& name, uint16_t mode) = 0;
  // Creates or truncates a file for reading and writing with the given sharing bits.
  virtual THandle FileCreate(const std::string& name, uint16_t share = fmShareExclusive) = 0;
  // Return the byte count transferred, or -1 on error.
  virtual int32_t FileRead(THandle h, void* buffer, int32_t count) = 0;
  virtual int32_t FileWrite(THandle h, const void* buffer, int32_t count) = 0;
  // Returns the new position, or -1 on error.
  virtual int64_t FileSeek(THandle h, int64_t offset, TSeekOrigin origin) = 0;
  // Sets the file's size (SetEndOfFile at that offset); the position ends at the new size.
  virtual bool FileSetSize(THandle h, int64_t size) = 0;
  virtual bool FileFlush(THandle h) = 0;
  // FileFlush of every handle; where the system can bring a whole volume to the disk in one call
  // (Linux: syncfs), many files on one volume are flushed that way, with one wait for the disk instead
  // of one per file. False when any one could not be flushed.
  virtual bool FileFlushMany(const std::vector<THandle>& handles) {
    bool all = true;
    for (THandle h : handles) all = FileFlush(h) && all;
    return all;
  }
  // Makes the folder's own entries durable: files made, renamed into or out of it, or removed from it
  // since the last flush reach the disk (fsync of the folder; FlushFileBuffers of a folder handle on
  // Windows). Without it a power cut may undo such a change even after the file's data was flushed.
  // True also where the file system has no way to flush a folder (it then keeps its entries as it can).
  virtual bool FolderFlush(const std::string& folder) = 0;
  virtual void FileClose(THandle h) = 0;
  virtual uint32_t FileGetDosTime(THandle h) = 0;  // 0 on failure
  virtual bool FileSetDosTime(THandle h, uint32_t dosTime) = 0;

  // faInvalid when absent. A link or junction reports what it points to plus faReparsePoint.
  virtual uint32_t GetFileAttributes(const std::string& name) = 0;
  virtual bool SetFileAttributes(const std::string& name, uint32_t attr) = 0;
  virtual bool DeleteFile(const std::string& name) = 0;
  virtual bool CreateDirectory(const std::string& name) = 0;
  // Removes an empty folder, or a link or junction to a folder (the link itself, not its target).
  virtual bool RemoveDirectory(const std::string& name) = 0;
  // Renames a file, replacing an existing target (atomic where the host allows it).
  virtual bool MoveFileReplace(const std::string& from, const std::string& to) = 0;
  // CopyFileA: copies content and attributes; fails when failIfExists and the target exists.
  virtual bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) = 0;
  // Entries of a folder (not recursive); nullopt when the folder cannot be listed. Links and junctions
  // carry faReparsePoint besides the attributes of what they point to.
  virtual std::optional<std::vector<TFindData>> ListFolder(const std::string& folder) = 0;
  virtual std::string GetShortPathName(const std::string& path) = 0;  // the path itself when none
  // Free bytes available to the caller and total bytes of the volume holding `path`.
  virtual bool GetDiskFreeSpace(const std::string& path, int64_t& freeToCaller, int64_t& total) = 0;
  // Schedules deletion at the next restart (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT).
  virtual bool MoveFileDelayUntilReboot(const std::string& path) = 0;
  virtual bool WritePrivateProfileString(const std::string& section, const std::string& key,
                                         const std::string& value, const std::string& file) = 0;

  // --- named mutexes --------------------------------------------------------------------------
  // CreateMutexA without initial ownership; alreadyExists reports ERROR_ALREADY_EXISTS.
  virtual THandle CreateMutex(const std::string& name, bool& alreadyExists) = 0;
  virtual THandle OpenMutex(const std::string& name) = 0;  // kInvalidHandle when absent
  virtual void ReleaseMutex(THandle h) = 0;
  virtual void CloseMutex(THandle h) = 0;

  // --- registry (paths below the root, backslash separated, no leading backslash) -------------
  virtual bool RegKeyExists(TRegRoot root, const std::string& path) = 0;
  virtual TRegRead RegReadString(TRegRoot root, const std::string& path, const std::string& name,
                                 std::string& value) = 0;
  // Creates the key when needed and writes a REG_SZ value.
  virtual bool RegWriteString(TRegRoot root, const std::string& path, const std::string& name,
                              const std::string& value) = 0;
  // Creates the key when needed and writes a REG_DWORD value (not a string for RegReadString).
  virtual bool RegWriteDword(TRegRoot root, const std::string& path, const std::string& name,
                             uint32_t value) {
    return false;
  }
  virtual std::optional<std::vector<std::string>> RegSubKeyNames(TRegRoot root, const std::string& path) = 0;
  virtual bool RegKeyHasValues(TRegRoot root, const std::string& path) = 0;
  // Deletes the key with all its subkeys and values.
  virtual bool RegDeleteKeyTree(TRegRoot root, const std::string& path) = 0;

  // --- modules and resources ------------------------------------------------------------------
  // The resource `name` of type `type` in the executable `module` (empty: the running executable).
  virtual std::optional<TResourceData> FindResource(const std::string& module, const std::string& name,
                                                    const std::string& type) = 0;

  // --- shell -----------------------------------------------------------------------------------
  // ShellExecuteA with OwnerWindow() as owner; returns its instance value (greater than 32 on success).
  virtual intptr_t ShellExecute(const std::string& operation, const std::string& file,
                                const std::string& parameters, const std::string& directory,
                                int showCommand) = 0;

  // --- Japanese locale ------------------------------------------------------------------------
  // CompareStringA for locale 0x411 with NORM_IGNORECASE: <0, 0, >0.
  virtual int CompareTextJ(const std::string& a, const std::string& b) = 0;
  virtual std::string LowerCaseJ(const std::string& s) = 0;
  virtual std::string UpperCaseJ(const std::string& s) = 0;

  // --- shell links and file operations ---------------------------------------------------------
  // Writes a shell link file at `path`, replacing an existing one.
  virtual TShellLinkResult SaveShellLink(const TShellLinkData& link, const std::string& path) = 0;
  // SHFileOperation with OwnerWindow() as owner: copy, move, delete or rename.
  virtual TShellFileOpResult ShellFileOperation(const TShellFileOp& operation) = 0;

  // --- links and special files -------------------------------------------------------------------
  // What `name` itself is; a symbolic link (or junction) as the last part is reported, not followed.
  virtual TFileKind GetFileKind(const std::string& name) = 0;
  // Creates a new, empty file for reading and writing (sharing: exclusive). Fails, creating nothing,
  // when anything of that name exists already, a link (dangling or not) included: never follows one.
  virtual THandle FileCreateNew(const std::string& name) = 0;
  // The system's own words for why the last failed file call of this thread failed ("" when it has
  // none); read it right after the failure.
  virtual std::string LastErrorText() { return std::string(); }

  // --- the process -------------------------------------------------------------------------------
  // Makes `path` the process's current folder (a folder that is some process's current folder cannot be
  // removed on Windows).
  virtual bool SetCurrentDirectory(const std::string& path) = 0;

  // --- a folder of the program's own ------------------------------------------------------------
  // Creates a new folder that only the current user, the administrators and the system may change
  // (an explicit access list where the system has them). Fails, creating nothing, when anything of that
  // name exists already, a link included.
  virtual bool CreatePrivateDirectory(const std::string& name) = 0;
  // Fills `buffer` from the system's source of random bytes (for names nobody can guess); false when
  // there is none.
  virtual bool RandomBytes(void* buffer, size_t count) = 0;

  // --- processes -------------------------------------------------------------------------------
  // Starts the program `file` with `parameters` (a command line of its own) and waits for its end, or
  // until `stopWaiting` (asked about every 100 ms; may be empty) returns true. Returns the program's
  // exit code, kProcessNotStarted when it could not be started, or kProcessStillRunning when
  // `stopWaiting` ended the wait.
  virtual int32_t RunProcessAndWait(const std::string& file, const std::string& parameters,
                                    const std::function<bool()>& stopWaiting) = 0;

  // --- copies inside the system ------------------------------------------------------------------
  // Copies up to `count` bytes from `from` at `fromOffset` to `to` at `toOffset` without passing them
  // through this process; the handles' own positions are neither used nor changed. Returns the bytes
  // copied (fewer at the source's end, or when the copy stopped part-way), or -1 when nothing was
  // copied because the system cannot copy between these files this way or the copy failed: the caller
  // then copies through memory, which also reports real errors.
  virtual int64_t FileCopyRange(THandle from, int64_t fromOffset, THandle to, int64_t toOffset,
                                int64_t count) = 0;

  // --- views of files ----------------------------------------------------------------------------
  // The `count` bytes of an open file from `offset` on, mapped read-only into memory straight from the
  // system's file cache (no copy through a buffer), or nullptr where the system or the file does not map
  // (the caller reads instead). The range must lie within the file. Released with FileUnmapView and the
  // same count; the view stays valid after the handle is closed.
  virtual const uint8_t* FileMapView(THandle /*h*/, int64_t /*offset*/, int64_t /*count*/) { return nullptr; }
  virtual void FileUnmapView(const uint8_t* /*view*/, int64_t /*count*/) {}
};

// The process-wide platform. Tests may install their own (derived from the host's) and restore it.
TPlatform& Platform();
TPlatform* SetPlatform(TPlatform* platform);  // returns the previous one; nullptr restores the host's

// Creates the host's implementation (Win32 on Windows, the POSIX layer elsewhere).
std::unique_ptr<TPlatform> CreateHostPlatform();

}  // namespace vr
