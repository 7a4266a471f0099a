#include "startup/tempcopy.h"

#include <cstring>
#include <vector>

#include "framework/classes.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "startup/syshelpers.h"

namespace vr {

namespace {

constexpr size_t kTokenBytes = 16;
constexpr int32_t kCompareChunk = 1 << 20;

// Reads up to `count` bytes, going on after short reads; the count read.
int32_t ReadFully(TPlatform& p, THandle h, char* buffer, int32_t count) {
  int32_t done = 0;
  while (done < count) {
    const int32_t n = p.FileRead(h, buffer + done, count - done);
    if (n <= 0) break;
    done += n;
  }
  return done;
}

// The open file `held` holds exactly the bytes of the file `original`.
bool SameBytes(TPlatform& p, THandle held, const std::string& original) {
  const THandle source = p.FileOpen(original, fmOpenRead | fmShareDenyWrite);
  if (source == kInvalidHandle) return false;
  bool same = p.FileSeek(held, 0, TSeekOrigin::soBeginning) == 0;
  std::vector<char> a(kCompareChunk), b(kCompareChunk);
  while (same) {
    const int32_t n = ReadFully(p, source, a.data(), kCompareChunk);
    const int32_t m = ReadFully(p, held, b.data(), kCompareChunk);
    same = n == m && std::memcmp(a.data(), b.data(), static_cast<size_t>(n)) == 0;
    if (n < kCompareChunk) break;
  }
  p.FileClose(source);
  return same;
}

bool IsHexToken(const std::string& token) {
  if (token.size() != 2 * kTokenBytes) return false;
  for (const char c : token)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

}  // namespace

std::string NewTempCopyToken() {
  unsigned char bytes[kTokenBytes];
  if (!Platform().RandomBytes(bytes, sizeof bytes)) return std::string();
  static const char digits[] = "0123456789abcdef";
  std::string token;
  for (const unsigned char b : bytes) {
    token += digits[b >> 4];
    token += digits[b & 15];
  }
  return token;
}

bool IsTempCopy(const std::string& exeName, const std::string& token) {
  if (!IsHexToken(token)) return false;
  TPlatform& p = Platform();
  const std::string folder = ExtractFileDir(exeName);
  return p.CompareTextJ(ExtractFileName(exeName), kTempCopyName) == 0 &&
         p.CompareTextJ(ExtractFileName(folder), kTempCopyFolderPrefix + token) == 0;
}

void RemoveTempCopyAtRestart(const std::string& exeName) {
  // In this order: the folder can go only once it is empty.
  DeleteOnRestart(exeName);
  DeleteOnRestart(ExtractFileDir(exeName));
}

TTempCopy::~TTempCopy() { Release(); }

bool TTempCopy::Make(const std::string& exeName, const std::string& tempFolder) {
  Release();
  for (int attempt = 0; attempt < kTempCopyAttempts; ++attempt)
    if (TryFolder(exeName, AddTrailingBackslash(tempFolder))) return true;
  path_.clear();
  folder_.clear();
  token_.clear();
  return false;
}

bool TTempCopy::TryFolder(const std::string& exeName, const std::string& tempFolder) {
  TPlatform& p = Platform();
  token_ = NewTempCopyToken();
  if (token_.empty()) return false;
  folder_ = tempFolder + kTempCopyFolderPrefix + token_ + "\\";
  path_ = folder_ + kTempCopyName;
  if (!p.CreatePrivateDirectory(ExcludeTrailingBackslash(folder_))) return false;
  // A copy from a read-only medium is read-only too; it must stay removable.
  if (!p.CopyFile(exeName, path_, true) || !p.SetFileAttributes(path_, faArchive)) {
    Discard();
    return false;
  }
  held_ = p.FileOpen(path_, fmOpenRead | fmShareDenyWrite);
  if (held_ == kInvalidHandle || !SameBytes(p, held_, exeName)) {
    Discard();
    return false;
  }
  return true;
}

void TTempCopy::Discard() {
  Release();
  TPlatform& p = Platform();
  p.DeleteFile(path_);
  p.RemoveDirectory(ExcludeTrailingBackslash(folder_));
}

void TTempCopy::Release() {
  if (held_ == kInvalidHandle) return;
  Platform().FileClose(held_);
  held_ = kInvalidHandle;
}

bool TTempCopy::Remove() {
  Release();
  if (path_.empty()) return true;
  TPlatform& p = Platform();
  const bool fileGone = p.DeleteFile(path_) || !FileExists(path_);
  return p.RemoveDirectory(ExcludeTrailingBackslash(folder_)) && fileGone;
}

}  // namespace vr
