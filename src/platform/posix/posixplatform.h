// The platform layer on POSIX hosts: a working stand-in for the Windows services the program uses.
//
// Paths: "X:\a\b" goes through the drive map (letter -> host folder; C: defaults to <Root>/drive_c and is
// created on demand); backslashes become "/" and names are converted from code page 932 to UTF-8. A path
// that starts with "/" is a host path; a path starting with a single "\" is on drive C:; other relative
// paths are relative to the process's working folder. A path component that does not exist with the
// exact spelling is matched without regard to ASCII case, as Windows would.
//
// Sharing: open modes are honoured across handles and processes with open-file-description byte-range
// locks on marker bytes far past any data (Linux): every handle marks its access (read, write) and what
// it denies (read, write); an open that conflicts with another handle's marks fails like a sharing
// violation. Without that lock kind, sharing is not enforced.
//
// Registry: one file per root under <Root>/registry, read and replaced atomically under a lock file.
// Named mutexes: lock files under <Root>/mutex; a name exists while some handle (any process) holds it.
// Special folders: fixed folders inside drive C:, created when asked for.
// ShellExecute: starts the program detached, or, in recording mode, only records the call.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/windowsnames.h"

namespace vr {

struct TPosixConfig {
  // Host folder (UTF-8) that holds drive_c, the registry and the mutex lock files.
  std::string Root;
  // Further drives: upper-case letter -> host folder (UTF-8). An entry for 'C' replaces <Root>/drive_c.
  std::map<char, std::string> Drives;
  // Record ShellExecute calls instead of starting programs.
  bool RecordShell = false;
  // Host path (UTF-8) reported as the running executable; empty: /proc/self/exe.
  std::string ModulePath;
  // The registry is the layer's own files under <Root>/registry (seeded with a profile list); false
  // for a derived layer that keeps it elsewhere.
  bool FileRegistry = true;
  // Where the special folders of the user and of the programs lie.
  std::string UserProfile = "C:\\users\\user";
  std::string ProgramFiles = "C:\\Program Files";
};

// One recorded ShellExecute call.
struct TShellCall {
  std::string Operation, File, Parameters, Directory;
  int ShowCommand = 0;
};

// Registry value kinds as Windows numbers them.
enum : uint32_t { kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4, kRegMultiSz = 7 };

class TPosixPlatform : public TPlatform {
 public:
  explicit TPosixPlatform(TPosixConfig config);
  ~TPosixPlatform() override;
  TPosixPlatform(const TPosixPlatform&) = delete;
  TPosixPlatform& operator=(const TPosixPlatform&) = delete;

  // The default root when none is configured: $VR_POSIX_ROOT, else $HOME/.local/share/vrsetup.
  static std::string DefaultRoot();

  const TPosixConfig& Config() const { return config_; }
  // Host path (UTF-8) for a Windows-style path; empty when it names no reachable place (unknown drive,
  // UNC path). Components that do not exist as written are looked up without regard to case.
  std::string HostPath(const std::string& path);
  // Windows-style path (code page 932) for a host path: inside a mapped drive "X:\...", otherwise the
  // host path itself.
  std::string WindowsPath(const std::string& hostPath);
  void MapDrive(char letter, const std::string& hostFolder);

  // Recording mode of ShellExecute.
  void SetRecordShell(bool on);
  std::vector<TShellCall> ShellCalls();
  void ClearShellCalls();

  // Raw registry access (any value kind; data as stored, strings in code page 932 without the NUL).
  bool RegWriteRaw(TRegRoot root, const std::string& path, const std::string& name, uint32_t kind,
                   const std::string& data);
  bool RegReadRaw(TRegRoot root, const std::string& path, const std::string& name, uint32_t& kind,
                  std::string& data);

  // --- TPlatform ---------------------------------------------------------------------------------
  bool IsNTFamily() override;
  std::optional<bool> ShellIsUserAnAdmin() override;
  std::string ModuleFileName() override;
  std::string GetTempPath() override;
  std::string GetWindowsDirectory() override;
  std::string GetSystemDirectory() override;
  std::optional<std::string> GetSpecialFolder(int csidl) override;
  std::optional<std::string> HostHomeFolder() override;
  void Sleep(uint32_t milliseconds) override;
  uint32_t GetTickCount() override;

  THandle FileOpen(const std::string& name, uint16_t mode) override;
  THandle FileCreate(const std::string& name, uint16_t share = fmShareExclusive) override;
  int32_t FileRead(THandle h, void* buffer, int32_t count) override;
  int32_t FileWrite(THandle h, const void* buffer, int32_t count) override;
  int64_t FileSeek(THandle h, int64_t offset, TSeekOrigin origin) override;
  bool FileSetSize(THandle h, int64_t size) override;
  bool FileFlush(THandle h) override;
  bool FileFlushMany(const std::vector<THandle>& handles) override;
  bool FolderFlush(const std::string& folder) override;
  void FileClose(THandle h) override;
  uint32_t FileGetDosTime(THandle h) override;
  bool FileSetDosTime(THandle h, uint32_t dosTime) override;

  uint32_t GetFileAttributes(const std::string& name) override;
  bool SetFileAttributes(const std::string& name, uint32_t attr) override;
  bool DeleteFile(const std::string& name) override;
  bool CreateDirectory(const std::string& name) override;
  bool RemoveDirectory(const std::string& name) override;
  bool MoveFileReplace(const std::string& from, const std::string& to) override;
  bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override;
  std::optional<std::vector<TFindData>> ListFolder(const std::string& folder) override;
  std::string GetShortPathName(const std::string& path) override;
  bool GetDiskFreeSpace(const std::string& path, int64_t& freeToCaller, int64_t& total) override;
  bool MoveFileDelayUntilReboot(const std::string& path) override;
  bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                                 const std::string& file) override;

  THandle CreateMutex(const std::string& name, bool& alreadyExists) override;
  THandle OpenMutex(const std::string& name) override;
  void ReleaseMutex(THandle h) override;
  void CloseMutex(THandle h) override;

  bool RegKeyExists(TRegRoot root, const std::string& path) override;
  TRegRead RegReadString(TRegRoot root, const std::string& path, const std::string& name,
                         std::string& value) override;
  bool RegWriteString(TRegRoot root, const std::string& path, const std::string& name,
                      const std::string& value) override;
  bool RegWriteDword(TRegRoot root, const std::string& path, const std::string& name,
                     uint32_t value) override;
  std::optional<std::vector<std::string>> RegSubKeyNames(TRegRoot root, const std::string& path) override;
  bool RegKeyHasValues(TRegRoot root, const std::string& path) override;
  bool RegDeleteKeyTree(TRegRoot root, const std::string& path) override;

  std::optional<TResourceData> FindResource(const std::string& module, const std::string& name,
                                            const std::string& type) override;

  intptr_t ShellExecute(const std::string& operation, const std::string& file, const std::string& parameters,
                        const std::string& directory, int showCommand) override;

  int CompareTextJ(const std::string& a, const std::string& b) override;
  std::string LowerCaseJ(const std::string& s) override;
  std::string UpperCaseJ(const std::string& s) override;

  TShellLinkResult SaveShellLink(const TShellLinkData& link, const std::string& path) override;
  TShellFileOpResult ShellFileOperation(const TShellFileOp& operation) override;
  TFileKind GetFileKind(const std::string& name) override;
  THandle FileCreateNew(const std::string& name) override;
  std::string LastErrorText() override;
  bool SetCurrentDirectory(const std::string& path) override;
  bool CreatePrivateDirectory(const std::string& name) override;
  bool RandomBytes(void* buffer, size_t count) override;
  // In recording mode the call is recorded (operation "wait") and reports exit code 0.
  int32_t RunProcessAndWait(const std::string& file, const std::string& parameters,
                            const std::function<bool()>& stopWaiting) override;
  int64_t FileCopyRange(THandle from, int64_t fromOffset, THandle to, int64_t toOffset,
                        int64_t count) override;
  const uint8_t* FileMapView(THandle h, int64_t offset, int64_t count) override;
  void FileUnmapView(const uint8_t* view, int64_t count) override;

 private:
  struct TOpenFile;
  struct TRegStore;
  std::string DriveFolder(char letter);
  std::string MapPath(const std::string& path);
  TOpenFile* FindFile(THandle h);
  THandle OpenHost(const std::string& hostPath, int flags, unsigned access, unsigned deny);
  template <class F>
  bool RegUpdate(TRegRoot root, F&& change);
  bool RegLoad(TRegRoot root, TRegStore& store);
  void SeedRegistry();

  TPosixConfig config_;
  std::mutex lock_;
  std::map<THandle, TOpenFile*> files_;
  std::map<THandle, int> mutexes_;
  THandle nextHandle_ = 0x100;
  bool recordShell_ = false;
  std::vector<TShellCall> shellCalls_;
};

// For the length of one command: while an object of this type lives, the listings of folders that name
// matching takes are kept for every folder and trusted, so a file created where no name of another
// spelling exists costs no look at its folder. This process's own creations, renames and removals
// keep them current; what other processes change in those folders meanwhile is not seen (a name of
// another spelling they add is not matched). Scopes may nest.
class TFolderListingScope {
 public:
  TFolderListingScope();
  ~TFolderListingScope();
  TFolderListingScope(const TFolderListingScope&) = delete;
  TFolderListingScope& operator=(const TFolderListingScope&) = delete;
};

}  // namespace vr
