// The platform with disc images as drives of their own: an image mounted as "E" serves "E:\" and every
// path below it, read-only, from the image; every other call goes to the platform it wraps. So the
// archive reader, the big streams and the install run read from an image exactly as from a folder.
//
// On a mounted drive: opens for reading give handles over the file's data (any open for writing
// fails), listings and attributes come from the image's folders (files and folders are read-only),
// CopyFile copies out of the image in bounded pieces and keeps the file's time, and anything that
// would change the drive fails. Names are matched without regard to letter case, as on Windows.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "disc/discimage.h"
#include "platform/forwardingplatform.h"

namespace vr {

class TDiscPlatform : public TForwardingPlatform {
 public:
  explicit TDiscPlatform(TPlatform& inner);
  ~TDiscPlatform() override;
  TDiscPlatform(const TDiscPlatform&) = delete;
  TDiscPlatform& operator=(const TDiscPlatform&) = delete;

  // Serves `image` as drive `letter` (upper case); the image stays open while the platform lives.
  void Mount(char letter, std::unique_ptr<TDiscImage> image);
  // The first letter from D to Y that neither an image nor the wrapped platform uses; 0 when none.
  char FreeLetter();
  // The image serving `path`, or nullptr.
  TDiscImage* ImageOf(const std::string& path);

  THandle FileOpen(const std::string& name, uint16_t mode) override;
  THandle FileCreate(const std::string& name, uint16_t share) override;
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

  std::optional<TResourceData> FindResource(const std::string& module, const std::string& name,
                                            const std::string& type) override;
  TShellLinkResult SaveShellLink(const TShellLinkData& link, const std::string& path) override;
  TFileKind GetFileKind(const std::string& name) override;
  THandle FileCreateNew(const std::string& name) override;
  std::string LastErrorText() override;
  bool SetCurrentDirectory(const std::string& path) override;
  int64_t FileCopyRange(THandle from, int64_t fromOffset, THandle to, int64_t toOffset,
                        int64_t count) override;
  // Files of an image are never mapped (their bytes may lie in a BIN file's sectors): read instead.
  const uint8_t* FileMapView(THandle h, int64_t offset, int64_t count) override;

 private:
  struct TMount {
    std::unique_ptr<TDiscImage> Image;
    // Per folder: upper-cased name -> node, made when the folder is first looked into.
    std::unordered_map<uint32_t, std::unordered_map<std::string, uint32_t>> Index;
  };
  struct TOpen {
    TDiscImage* Image;
    uint32_t Node;
    int64_t Position = 0;
  };
  enum class TWhere { Elsewhere, Missing, Found };
  struct TResolved {
    TWhere Where = TWhere::Elsewhere;
    TDiscImage* Image = nullptr;
    uint32_t Node = 0;
  };
  TResolved Resolve(const std::string& path);
  bool OnImage(const std::string& path) { return Resolve(path).Where != TWhere::Elsewhere; }
  bool Refuse(const char* why);
  TOpen* Find(THandle h);

  std::mutex lock_;
  std::map<char, TMount> mounts_;
  std::map<THandle, TOpen> open_;
  THandle next_ = 0;
};

}  // namespace vr
