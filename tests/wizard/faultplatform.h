// A platform whose N-th file-system call that changes something (or opens a file) fails, or ends the
// process on the spot as a crash or power cut would: the runs are tried at every step.
#pragma once

#include <unistd.h>

#include <cstdlib>

#include "framework/forwardplatform.h"

namespace vr {

class TFaultPlatform : public TForwardPlatform {
 public:
  enum class TMode { Count, Fail, Crash };
  TMode Mode = TMode::Count;
  // The call (counted from 1) that fails or crashes.
  long At = 0;
  long Calls = 0;
  // Exit status of a process the crash mode ends.
  static constexpr int kCrashStatus = 77;

  // Counts from here on: the `at`-th call fails or crashes.
  void Arm(TMode mode, long at) {
    Mode = mode;
    At = at;
    Calls = 0;
  }

  THandle FileOpen(const std::string& name, uint16_t mode) override {
    return Hit() ? kInvalidHandle : TForwardPlatform::FileOpen(name, mode);
  }
  THandle FileCreate(const std::string& name, uint16_t share) override {
    return Hit() ? kInvalidHandle : TForwardPlatform::FileCreate(name, share);
  }
  THandle FileCreateNew(const std::string& name) override {
    return Hit() ? kInvalidHandle : TForwardPlatform::FileCreateNew(name);
  }
  int32_t FileWrite(THandle h, const void* b, int32_t n) override {
    return Hit() ? -1 : TForwardPlatform::FileWrite(h, b, n);
  }
  bool FileSetSize(THandle h, int64_t size) override {
    return !Hit() && TForwardPlatform::FileSetSize(h, size);
  }
  bool FileFlush(THandle h) override { return !Hit() && TForwardPlatform::FileFlush(h); }
  bool FileFlushMany(const std::vector<THandle>& handles) override {
    return !Hit() && TForwardPlatform::FileFlushMany(handles);
  }
  bool FileSetDosTime(THandle h, uint32_t t) override {
    return !Hit() && TForwardPlatform::FileSetDosTime(h, t);
  }
  bool SetFileAttributes(const std::string& n, uint32_t a) override {
    return !Hit() && TForwardPlatform::SetFileAttributes(n, a);
  }
  bool DeleteFile(const std::string& n) override { return !Hit() && TForwardPlatform::DeleteFile(n); }
  bool CreateDirectory(const std::string& n) override {
    return !Hit() && TForwardPlatform::CreateDirectory(n);
  }
  bool RemoveDirectory(const std::string& n) override {
    return !Hit() && TForwardPlatform::RemoveDirectory(n);
  }
  bool MoveFileReplace(const std::string& f, const std::string& t) override {
    return !Hit() && TForwardPlatform::MoveFileReplace(f, t);
  }
  bool CopyFile(const std::string& f, const std::string& t, bool fail) override {
    return !Hit() && TForwardPlatform::CopyFile(f, t, fail);
  }
  int64_t FileCopyRange(THandle from, int64_t fo, THandle to, int64_t too, int64_t count) override {
    return Hit() ? -1 : TForwardPlatform::FileCopyRange(from, fo, to, too, count);
  }

 private:
  bool Hit() {
    ++Calls;
    if (Mode == TMode::Count || Calls != At) return false;
    if (Mode == TMode::Crash) _exit(kCrashStatus);
    return true;
  }
};

}  // namespace vr
