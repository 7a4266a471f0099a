// Pieces shared by the archive reader and writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/bigstreams.h"
#include "archive/vrfiles.h"

namespace vr {
namespace vrfiles_detail {

// Message texts.
extern const char* const kNoFileText;            // "%s:ファイルがありません"
extern const char* const kNoResourceText;        // "リソースが見つかりません"
extern const char* const kDamagedDirectoryText;  // directory does not fit its stream
extern const char* const kDamagedEntryText;      // "%s:..." entry data damaged or truncated
extern const char* const kBadTrailerText;        // "%s:..." executable trailer outside the file
extern const char* const kWriteFailedText;       // "%s:..." short write
extern const char* const kUnsafeNameText;        // "%s:..." name that would leave its folder

// Hands a message to the reporter installed with SetVrErrorReporter, if any.
void ReportVrError(const std::string& message);

[[noreturn]] void DamagedDirectory(const char* detail);
[[noreturn]] void DamagedEntry(const std::string& name);

// Size of the pieces the checksum pass and the copies move at a time.
constexpr int64_t kCopyPiece = 1048576;
// Checksum passes map files in windows this large: few mappings, and the mapped pages a process holds
// (its resident size) stay well below the 64 MiB every run keeps to.
constexpr int64_t kMappedWindow = int64_t{16} << 20;
// Runs at least this long are checksummed on two threads.
constexpr int64_t kParallelCrcRun = int64_t{8} << 20;

inline void PutInt32(std::string& out, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  const char b[4] = {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
                     static_cast<char>(u >> 24)};
  out.append(b, 4);
}
inline void PutInt64(std::string& out, int64_t v) {
  PutInt32(out, static_cast<int32_t>(static_cast<uint64_t>(v)));
  PutInt32(out, static_cast<int32_t>(static_cast<uint64_t>(v) >> 32));
}
inline uint32_t GetUInt32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Masks (or unmasks: the operation is its own inverse) one offset with the next key value.
inline int64_t MaskOffset64(int64_t offset, uint32_t key) {
  const uint64_t k = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(key)));
  return static_cast<int64_t>(static_cast<uint64_t>(offset) ^ k);
}

}  // namespace vrfiles_detail
}  // namespace vr
