// The platform layer on Windows: the system calls themselves, through the wide (W) functions after an
// explicit code page 932 conversion, so the program behaves the same under every system locale.
#pragma once

#include "platform/platform.h"

namespace vr {

class TWin32Platform : public TPlatform {
 public:
  bool IsNTFamily() override;
  std::optional<bool> ShellIsUserAnAdmin() override;
  std::string ModuleFileName() override;
  std::string GetTempPath() override;
  std::string GetWindowsDirectory() override;
  std::string GetSystemDirectory() override;
  std::optional<std::string> GetSpecialFolder(int csidl) override;
  void Sleep(uint32_t milliseconds) override;
  uint32_t GetTickCount() override;

  THandle FileOpen(const std::string& name, uint16_t mode) override;
  THandle FileCreate(const std::string& name, uint16_t share = fmShareExclusive) override;
  int32_t FileRead(THandle h, void* buffer, int32_t count) override;
  int32_t FileWrite(THandle h, const void* buffer, int32_t count) override;
  int64_t FileSeek(THandle h, int64_t offset, TSeekOrigin origin) override;
  bool FileSetSize(THandle h, int64_t size) override;
  bool FileFlush(THandle h) override;
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
  int32_t RunProcessAndWait(const std::string& file, const std::string& parameters,
                            const std::function<bool()>& stopWaiting) override;
  int64_t FileCopyRange(THandle from, int64_t fromOffset, THandle to, int64_t toOffset,
                        int64_t count) override;
  const uint8_t* FileMapView(THandle h, int64_t offset, int64_t count) override;
  void FileUnmapView(const uint8_t* view, int64_t count) override;
};

}  // namespace vr
