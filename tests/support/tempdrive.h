// A fresh, private folder for one test, reachable through vr::Platform().
//
//   TEST(MyUnit, Saves) {
//     vr::TTempDrive drive;                         // installs the test platform, restored at scope end
//     drive.WriteFile("in\\a.txt", "bytes");        // relative names, backslashes, code page 932
//     Save(drive.Folder() + "out.dat");             // Folder(): Windows-style path ending in "\"
//     EXPECT_EQ(drive.ReadFile("out.dat"), "...");
//   }
//
// Natively a TPosixPlatform rooted in a new host temp folder is installed (drive C: lies inside it, the
// registry and named mutexes are private to the test, ShellExecute only records its calls: see
// drive.Posix()->ShellCalls()). Folder() is "C:\work\". To force answers (9x family, not an administrator,
// little free space) derive from vr::TPosixPlatform, construct it with drive.PosixConfig() and install it
// with vr::SetPlatform(); the destructor restores the platform that was current before the drive.
// Under Windows (mingw builds under Wine) the real platform is used and Folder() is a unique folder below
// the temp path; it is removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/dbcspath.h"
#include "platform/platform.h"
#ifndef _WIN32
#include "platform/posix/posixplatform.h"
#endif

namespace vr {

class TTempDrive {
 public:
  TTempDrive() {
    static std::atomic<unsigned> counter{0};
    const unsigned serial = counter++;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string unique =
        std::to_string(static_cast<unsigned long long>(stamp) % 1000000007ull) + "-" + std::to_string(serial);
#ifndef _WIN32
    hostRoot_ = (std::filesystem::temp_directory_path() / ("vrtest-" + unique)).string();
    std::filesystem::create_directories(hostRoot_);
    config_.Root = hostRoot_;
    config_.RecordShell = true;
    posix_ = std::make_unique<TPosixPlatform>(config_);
    previous_ = SetPlatform(posix_.get());
    folder_ = "C:\\work\\";
#else
    folder_ = Platform().GetTempPath() + "vrtest-" + unique + "\\";
#endif
    Platform().CreateDirectory(ExcludeTrailingBackslash(folder_));
  }

  ~TTempDrive() {
    RemoveTree(ExcludeTrailingBackslash(folder_));
#ifndef _WIN32
    SetPlatform(previous_);
    posix_.reset();
    std::error_code ec;
    std::filesystem::remove_all(hostRoot_, ec);
#endif
  }

  TTempDrive(const TTempDrive&) = delete;
  TTempDrive& operator=(const TTempDrive&) = delete;

  // Windows-style folder (code page 932) with a trailing backslash.
  const std::string& Folder() const { return folder_; }
  std::string PathOf(const std::string& relative) const { return folder_ + relative; }

  // Writes a file below Folder(), creating its folders; fails the test when it cannot.
  void WriteFile(const std::string& relative, const std::string& bytes) const {
    const std::string path = PathOf(relative);
    MakeFolders(ExtractFileDir(path));
    const THandle h = Platform().FileCreate(path);
    ASSERT_NE(h, kInvalidHandle) << "cannot create " << relative;
    const int32_t n = Platform().FileWrite(h, bytes.data(), static_cast<int32_t>(bytes.size()));
    Platform().FileClose(h);
    ASSERT_EQ(n, static_cast<int32_t>(bytes.size())) << "cannot write " << relative;
  }

  // Whole content of a file below Folder() (a full path also works); "" when it cannot be read.
  std::string ReadFile(const std::string& relativeOrFull) const {
    const std::string path = ExtractFileDrive(relativeOrFull).empty() && !IsPathDelimiterAt(relativeOrFull, 0)
                                 ? PathOf(relativeOrFull)
                                 : relativeOrFull;
    const THandle h = Platform().FileOpen(path, fmOpenRead | fmShareDenyNone);
    if (h == kInvalidHandle) return std::string();
    std::string out;
    char buffer[65536];
    int32_t n;
    while ((n = Platform().FileRead(h, buffer, sizeof buffer)) > 0)
      out.append(buffer, static_cast<size_t>(n));
    Platform().FileClose(h);
    return out;
  }

  bool Exists(const std::string& relative) const {
    return Platform().GetFileAttributes(PathOf(relative)) != faInvalid;
  }

  // Creates a folder and its parents (a full Windows-style path).
  static void MakeFolders(const std::string& path) {
    if (path.empty() || Platform().GetFileAttributes(path) != faInvalid) return;
    const std::string parent = ExtractFileDir(path);
    if (!parent.empty() && parent != path) MakeFolders(parent);
    Platform().CreateDirectory(path);
  }

#ifndef _WIN32
  TPosixPlatform* Posix() const { return posix_.get(); }
  const TPosixConfig& PosixConfig() const { return config_; }
  const std::string& HostRoot() const { return hostRoot_; }
#endif

  // Removes a folder (a full Windows-style path) with everything in it.
  static void RemoveTree(const std::string& path) {
    if (auto entries = Platform().ListFolder(path)) {
      for (const TFindData& e : *entries) {
        const std::string child = IncludeTrailingBackslash(path) + e.Name;
        if (e.Attr & faDirectory) {
          RemoveTree(child);
        } else {
          Platform().SetFileAttributes(child, faNormal);
          Platform().DeleteFile(child);
        }
      }
    }
    Platform().SetFileAttributes(path, faNormal);
    Platform().RemoveDirectory(path);
  }

 private:
  std::string folder_;
#ifndef _WIN32
  TPlatform* previous_ = nullptr;
  std::string hostRoot_;
  TPosixConfig config_;
  std::unique_ptr<TPosixPlatform> posix_;
#endif
};

}  // namespace vr
