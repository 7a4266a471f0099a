// A platform that passes every call to another one; a layer over a platform (disc images served as
// drives, a test's forced answers) derives from it and overrides only what it changes.
#pragma once

#include "platform/platform.h"

namespace vr {

class TForwardingPlatform : public TPlatform {
 public:
  explicit TForwardingPlatform(TPlatform& inner) : inner_(inner) {}
  TForwardingPlatform(const TForwardingPlatform&) = delete;
  TForwardingPlatform& operator=(const TForwardingPlatform&) = delete;

  TPlatform& Inner() { return inner_; }

  bool IsNTFamily() override { return inner_.IsNTFamily(); }
  std::optional<bool> ShellIsUserAnAdmin() override { return inner_.ShellIsUserAnAdmin(); }
  std::string ModuleFileName() override { return inner_.ModuleFileName(); }
  std::string GetTempPath() override { return inner_.GetTempPath(); }
  std::string GetWindowsDirectory() override { return inner_.GetWindowsDirectory(); }
  std::string GetSystemDirectory() override { return inner_.GetSystemDirectory(); }
  std::optional<std::string> GetSpecialFolder(int csidl) override { return inner_.GetSpecialFolder(csidl); }
  std::optional<std::string> HostHomeFolder() override { return inner_.HostHomeFolder(); }
  void Sleep(uint32_t ms) override { inner_.Sleep(ms); }
  uint32_t GetTickCount() override { return inner_.GetTickCount(); }

  THandle FileOpen(const std::string& name, uint16_t mode) override { return inner_.FileOpen(name, mode); }
  THandle FileCreate(const std::string& name, uint16_t share) override {
    return inner_.FileCreate(name, share);
  }
  int32_t FileRead(THandle h, void* b, int32_t n) override { return inner_.FileRead(h, b, n); }
  int32_t FileWrite(THandle h, const void* b, int32_t n) override { return inner_.FileWrite(h, b, n); }
  int64_t FileSeek(THandle h, int64_t o, TSeekOrigin origin) override {
    return inner_.FileSeek(h, o, origin);
  }
  bool FileSetSize(THandle h, int64_t size) override { return inner_.FileSetSize(h, size); }
  bool FileFlush(THandle h) override { return inner_.FileFlush(h); }
  bool FileFlushMany(const std::vector<THandle>& handles) override { return inner_.FileFlushMany(handles); }
  bool FolderFlush(const std::string& folder) override { return inner_.FolderFlush(folder); }
  std::string LastErrorText() override { return inner_.LastErrorText(); }
  void FileClose(THandle h) override { inner_.FileClose(h); }
  uint32_t FileGetDosTime(THandle h) override { return inner_.FileGetDosTime(h); }
  bool FileSetDosTime(THandle h, uint32_t t) override { return inner_.FileSetDosTime(h, t); }

  uint32_t GetFileAttributes(const std::string& n) override { return inner_.GetFileAttributes(n); }
  bool SetFileAttributes(const std::string& n, uint32_t a) override { return inner_.SetFileAttributes(n, a); }
  bool DeleteFile(const std::string& n) override { return inner_.DeleteFile(n); }
  bool CreateDirectory(const std::string& n) override { return inner_.CreateDirectory(n); }
  bool RemoveDirectory(const std::string& n) override { return inner_.RemoveDirectory(n); }
  bool MoveFileReplace(const std::string& f, const std::string& t) override {
    return inner_.MoveFileReplace(f, t);
  }
  bool CopyFile(const std::string& f, const std::string& t, bool fail) override {
    return inner_.CopyFile(f, t, fail);
  }
  std::optional<std::vector<TFindData>> ListFolder(const std::string& f) override {
    return inner_.ListFolder(f);
  }
  std::string GetShortPathName(const std::string& p) override { return inner_.GetShortPathName(p); }
  bool GetDiskFreeSpace(const std::string& p, int64_t& f, int64_t& t) override {
    return inner_.GetDiskFreeSpace(p, f, t);
  }
  bool MoveFileDelayUntilReboot(const std::string& p) override { return inner_.MoveFileDelayUntilReboot(p); }
  bool WritePrivateProfileString(const std::string& s, const std::string& k, const std::string& v,
                                 const std::string& f) override {
    return inner_.WritePrivateProfileString(s, k, v, f);
  }

  THandle CreateMutex(const std::string& n, bool& exists) override { return inner_.CreateMutex(n, exists); }
  THandle OpenMutex(const std::string& n) override { return inner_.OpenMutex(n); }
  void ReleaseMutex(THandle h) override { inner_.ReleaseMutex(h); }
  void CloseMutex(THandle h) override { inner_.CloseMutex(h); }

  bool RegKeyExists(TRegRoot r, const std::string& p) override { return inner_.RegKeyExists(r, p); }
  TRegRead RegReadString(TRegRoot r, const std::string& p, const std::string& n, std::string& v) override {
    return inner_.RegReadString(r, p, n, v);
  }
  bool RegWriteString(TRegRoot r, const std::string& p, const std::string& n, const std::string& v) override {
    return inner_.RegWriteString(r, p, n, v);
  }
  bool RegWriteDword(TRegRoot r, const std::string& p, const std::string& n, uint32_t v) override {
    return inner_.RegWriteDword(r, p, n, v);
  }
  std::optional<std::vector<std::string>> RegSubKeyNames(TRegRoot r, const std::string& p) override {
    return inner_.RegSubKeyNames(r, p);
  }
  bool RegKeyHasValues(TRegRoot r, const std::string& p) override { return inner_.RegKeyHasValues(r, p); }
  bool RegDeleteKeyTree(TRegRoot r, const std::string& p) override { return inner_.RegDeleteKeyTree(r, p); }

  std::optional<TResourceData> FindResource(const std::string& m, const std::string& n,
                                            const std::string& t) override {
    return inner_.FindResource(m, n, t);
  }
  intptr_t ShellExecute(const std::string& op, const std::string& f, const std::string& p,
                        const std::string& d, int show) override {
    return inner_.ShellExecute(op, f, p, d, show);
  }

  int CompareTextJ(const std::string& a, const std::string& b) override { return inner_.CompareTextJ(a, b); }
  std::string LowerCaseJ(const std::string& s) override { return inner_.LowerCaseJ(s); }
  std::string UpperCaseJ(const std::string& s) override { return inner_.UpperCaseJ(s); }

  TShellLinkResult SaveShellLink(const TShellLinkData& link, const std::string& path) override {
    return inner_.SaveShellLink(link, path);
  }
  TShellFileOpResult ShellFileOperation(const TShellFileOp& operation) override {
    return inner_.ShellFileOperation(operation);
  }
  TFileKind GetFileKind(const std::string& name) override { return inner_.GetFileKind(name); }
  THandle FileCreateNew(const std::string& name) override { return inner_.FileCreateNew(name); }
  bool SetCurrentDirectory(const std::string& path) override { return inner_.SetCurrentDirectory(path); }
  bool CreatePrivateDirectory(const std::string& name) override {
    return inner_.CreatePrivateDirectory(name);
  }
  bool RandomBytes(void* buffer, size_t count) override { return inner_.RandomBytes(buffer, count); }
  int32_t RunProcessAndWait(const std::string& f, const std::string& p,
                            const std::function<bool()>& stop) override {
    return inner_.RunProcessAndWait(f, p, stop);
  }
  int64_t FileCopyRange(THandle from, int64_t fromOffset, THandle to, int64_t toOffset,
                        int64_t count) override {
    return inner_.FileCopyRange(from, fromOffset, to, toOffset, count);
  }

  const uint8_t* FileMapView(THandle h, int64_t offset, int64_t count) override {
    return inner_.FileMapView(h, offset, count);
  }
  void FileUnmapView(const uint8_t* view, int64_t count) override { inner_.FileUnmapView(view, count); }

 private:
  TPlatform& inner_;
};

}  // namespace vr
