// System helpers: administrator test, mutexes, folders, restart deletion, copies, listings and the
// stream chores (bulk copy, zlib).
#include "startup/syshelpers.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/codepage.h"
#include "platform/dbcspath.h"

namespace vr {

bool IsAdministrator() {
  TPlatform& p = Platform();
  if (!p.IsNTFamily()) return true;
  return p.ShellIsUserAnAdmin().value_or(false);
}

THandle CreateSingleInstanceMutex(const std::string& name) {
  TPlatform& p = Platform();
  bool alreadyExists = false;
  THandle h = p.CreateMutex(name, alreadyExists);
  if (alreadyExists && h != kInvalidHandle) {
    p.ReleaseMutex(h);
    p.CloseMutex(h);
    return kInvalidHandle;
  }
  return h;
}

void ReleaseSingleInstanceMutex(THandle handle) {
  if (handle == kInvalidHandle) return;
  Platform().ReleaseMutex(handle);
  Platform().CloseMutex(handle);
}

bool MutexExists(const std::string& name) {
  THandle h = Platform().OpenMutex(name);
  if (h == kInvalidHandle) return false;
  Platform().CloseMutex(h);
  return true;
}

std::string AddTrailingBackslash(const std::string& path) { return IncludeTrailingBackslash(path); }

std::string GetSpecialFolder(int csidl) {
  std::optional<std::string> folder = Platform().GetSpecialFolder(csidl);
  if (!folder) throw EVrError(Format("特殊フォルダ %d の場所を取得できません", {csidl}));
  return *folder;
}

std::string GetSystemDrive() { return ExtractFileDrive(Platform().GetSystemDirectory()); }

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  std::string p = path;
  if (p.size() == 2 && p[1] == ':') p += '\\';  // "C:" alone means the current folder of C:
  const uint32_t a = Platform().GetFileAttributes(p);
  return a != faInvalid && (a & faDirectory) != 0;
}

bool FileExists(const std::string& path) {
  const uint32_t a = Platform().GetFileAttributes(path);
  return a != faInvalid && (a & faDirectory) == 0;
}

bool ForceDirectories(const std::string& folder) {
  const std::string dir = ExcludeTrailingBackslash(folder);
  if (dir.empty()) return false;
  if (DirectoryExists(dir)) return true;
  const std::string parent = ExcludeTrailingBackslash(ExtractFilePath(dir));
  // A drive root or a name without a folder part has nothing above it to create.
  if (!parent.empty() && parent != dir && !(parent.size() == 2 && parent[1] == ':') &&
      !ForceDirectories(parent))
    return false;
  // Another process may have made it meanwhile; what counts is that it exists now.
  return Platform().CreateDirectory(dir) || DirectoryExists(dir);
}

void ClearReadOnly(const std::string& path) {
  const uint32_t attr = Platform().GetFileAttributes(path);
  if (attr == faInvalid || (attr & faReadOnly) == 0) return;
  const uint32_t rest = attr & ~static_cast<uint32_t>(faReadOnly);
  Platform().SetFileAttributes(path, rest == 0 ? static_cast<uint32_t>(faNormal) : rest);
}

namespace {

// A registry string; empty when the value is missing or not a string.
std::string RegString(TRegRoot root, const std::string& path, const std::string& name) {
  std::string value;
  if (Platform().RegReadString(root, path, name, value) != TRegRead::Ok) return std::string();
  return value;
}

const char kProfileList[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

}  // namespace

int CollectLocalAppDataFolders(const std::string& subFolder, TStringList& list) {
  TPlatform& p = Platform();
  if (!p.IsNTFamily() || subFolder.empty()) return 0;

  std::string name = subFolder;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsLeadByte(c) && i + 1 < name.size()) {
      ++i;  // a trail byte is part of its character, never one of the characters below
      continue;
    }
    if (std::strchr("\\/:,;*?\"<>|", c) && c != 0) name[i] = '_';
  }

  std::optional<std::vector<std::string>> profiles = p.RegSubKeyNames(TRegRoot::HKLM, kProfileList);
  if (!profiles) return 0;

  struct TProfile {
    std::string folder, sid;
  };
  std::vector<TProfile> found;
  for (const std::string& sid : *profiles) {
    std::string key = std::string(kProfileList) + "\\" + sid;
    if (!p.RegKeyExists(TRegRoot::HKLM, key)) continue;
    std::string folder = RegString(TRegRoot::HKLM, key, "ProfileImagePath");
    if (folder.empty()) continue;
    static const std::string kSystemDrive = "%SystemDrive%";
    if (folder.compare(0, kSystemDrive.size(), kSystemDrive) == 0)
      folder.replace(0, kSystemDrive.size(), GetSystemDrive());
    if (DirectoryExists(folder)) found.push_back({ExcludeTrailingBackslash(folder), sid});
  }

  for (const TProfile& profile : found) {
    std::string key = profile.sid + "\\" + kShellFolders;
    if (!p.RegKeyExists(TRegRoot::HKU, key)) {
      key = std::string(".Default\\") + kShellFolders;
      if (!p.RegKeyExists(TRegRoot::HKU, key)) continue;
    }
    std::string local = RegString(TRegRoot::HKU, key, "Local AppData");
    static const std::string kUserProfile = "%USERPROFILE%";
    if (local.compare(0, kUserProfile.size(), kUserProfile) != 0) continue;
    local.replace(0, kUserProfile.size(), profile.folder);
    std::string folder = AddTrailingBackslash(local) + name + "\\";
    if (DirectoryExists(folder)) list.Add(folder);
  }
  return list.Count();
}

void DeleteOnRestart(const std::string& path) {
  TPlatform& p = Platform();
  if (p.IsNTFamily()) {
    p.MoveFileDelayUntilReboot(path);
    return;
  }
  std::string ini = AddTrailingBackslash(p.GetWindowsDirectory()) + "wininit.ini";
  p.WritePrivateProfileString("rename", "NUL", p.GetShortPathName(path), ini);
}

int64_t FileAge(const std::string& path) {
  TPlatform& p = Platform();
  THandle h = p.FileOpen(path, fmOpenRead | fmShareDenyNone);
  if (h == kInvalidHandle) return -1;
  uint32_t t = p.FileGetDosTime(h);
  p.FileClose(h);
  return t == 0 ? -1 : static_cast<int64_t>(t);
}

namespace {

void DeleteEntry(TPlatform& p, const std::string& path, uint32_t attr) {
  if (attr & faReparsePoint) {
    // The link goes, never what it points to.
    if (!(attr & faDirectory) || !p.RemoveDirectory(path)) p.DeleteFile(path);
    return;
  }
  if (!(attr & faDirectory)) {
    p.DeleteFile(path);
    return;
  }
  if (auto entries = p.ListFolder(path)) {
    for (const TFindData& e : *entries) DeleteEntry(p, IncludeTrailingBackslash(path) + e.Name, e.Attr);
  }
  p.RemoveDirectory(path);
}

}  // namespace

void DeleteTree(const std::string& folder) {
  const std::string path = ExcludeTrailingBackslash(folder);
  if (path.empty()) return;
  TPlatform& p = Platform();
  const uint32_t attr = p.GetFileAttributes(path);
  if (attr == faInvalid || !(attr & faDirectory)) return;
  DeleteEntry(p, path, attr);
}

bool CopyFileIfChanged(const std::string& source, const std::string& destination, bool compare) {
  if (compare && FileExists(destination)) {
    int64_t sourceAge = FileAge(source);
    if (sourceAge != -1 && sourceAge == FileAge(destination)) {
      int64_t sourceSize = -1;
      try {
        TFileStream s(source, FileMode);
        sourceSize = s.Size();
      } catch (const EFOpenError&) {
        sourceSize = -1;  // copy below
      }
      if (sourceSize >= 0) {
        TFileStream d(destination, FileMode);  // an error here reaches the caller
        if (d.Size() == sourceSize) return true;
      }
    }
  }
  return Platform().CopyFile(source, destination, false);
}

int64_t FileSizeOf(const std::string& path) {
  TPlatform& p = Platform();
  THandle h = p.FileOpen(path, FileMode);
  if (h == kInvalidHandle) return 0;
  int64_t size = p.FileSeek(h, 0, TSeekOrigin::soEnd);
  p.FileClose(h);
  return size < 0 ? 0 : size;
}

std::string SafePathBelow(const std::string& folder, const std::string& name) {
  if (!IsSafeRelativeName(name)) return std::string();
  const std::string base = AddTrailingBackslash(folder);
  const std::vector<std::string> parts = SplitPath(name);
  std::string path = ExcludeTrailingBackslash(base);
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    path += "\\" + parts[i];
    if (Platform().GetFileKind(path) == TFileKind::Link) return std::string();
  }
  return base + name;
}

std::string SystemReason() {
  const std::string reason = Platform().LastErrorText();
  return reason.empty() ? std::string() : "\r\n(" + reason + ")";
}

std::string FormatThousands(int64_t value) {
  std::string digits = IntToStr(value);
  std::string sign;
  if (!digits.empty() && digits[0] == '-') {
    sign = "-";
    digits.erase(0, 1);
  }
  for (int pos = static_cast<int>(digits.size()) - 3; pos > 0; pos -= 3) digits.insert(pos, 1, ',');
  return sign + digits;
}

void ListFiles(const std::string& folder, uint32_t mask, bool plain, const std::string& ext,
               bool folderSuffix, bool recurse, TStringList& list, bool clearList) {
  TPlatform& p = Platform();
  const std::string base = AddTrailingBackslash(folder);
  if (clearList) list.Clear();
  std::optional<std::vector<TFindData>> entries = p.ListFolder(base);
  if (!entries) return;
  for (const TFindData& e : *entries) {
    if (e.Name == "." || e.Name == "..") continue;
    const bool isFolder = (e.Attr & faDirectory) != 0;
    std::string path = base + e.Name;
    if (isFolder && folderSuffix) path = AddTrailingBackslash(path);
    bool selected;
    if (isFolder)
      selected = (mask & faDirectory) != 0;
    else
      selected = (e.Attr & mask) != 0 || (plain && (e.Attr & 0x3F) == 0);
    if (selected) {
      if (isFolder || ext.empty() || SameTextJ(p, ExtractFileExt(path), ext)) list.Add(path);
    }
    if (recurse && isFolder) ListFiles(path, mask, plain, ext, true, true, list, false);
  }
}

// --- stream copies ----------------------------------------------------------------------------

namespace {

constexpr int64_t kCopyBuffer = 10 * 1048576;
constexpr int64_t kCopyStep = 1048576;
constexpr int64_t kMaxPiece = 0x40000000;

std::unique_ptr<uint8_t[]> HeapAllocator(size_t size) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size]);
}

TCopyBufferAllocator copyAllocator = HeapAllocator;

}  // namespace

TCopyBufferAllocator SetCopyBufferAllocator(TCopyBufferAllocator allocator) {
  TCopyBufferAllocator previous = copyAllocator;
  copyAllocator = allocator ? allocator : HeapAllocator;
  return previous;
}

int64_t CopyStreamRange(TStream& destination, TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count < 0) throw EReadError(SReadError);
  if (count == 0) return 0;

  if (auto* mem = dynamic_cast<TCustomMemoryStream*>(&source)) {
    const int64_t pos = mem->Position();
    if (pos < 0 || pos > mem->Size() || count > mem->Size() - pos) throw EReadError(SReadError);
    for (int64_t done = 0; done < count;) {
      int32_t piece = static_cast<int32_t>(std::min(count - done, kMaxPiece));
      destination.WriteBuffer(mem->Memory() + pos + done, piece);
      done += piece;
    }
    mem->SetPosition(pos + count);
    return count;
  }

  int64_t bufSize = std::min(count, kCopyBuffer);
  std::unique_ptr<uint8_t[]> buf;
  while (!(buf = copyAllocator(static_cast<size_t>(bufSize)))) {
    bufSize -= kCopyStep;
    if (bufSize <= 0) throw EOutOfMemory(SOutOfMemory);
  }
  for (int64_t left = count; left > 0;) {
    int32_t want = static_cast<int32_t>(std::min(left, bufSize));
    int32_t got = source.Read(buf.get(), want);
    if (got <= 0) throw EReadError(SReadError);
    destination.WriteBuffer(buf.get(), got);
    left -= got;
  }
  return count;
}

// --- zlib ---------------------------------------------------------------------------------------

namespace {

std::string ZMessage(const z_stream& z, int code) {
  if (z.msg) return z.msg;
  const char* text = zError(code);
  return text ? text : "zlib";
}

constexpr int64_t kInflatePiece = 1000000;
constexpr uInt kMaxZIn = 0x40000000;

}  // namespace

void CompressStream(TMemoryStream& stream, int level) {
  static const int kLevels[4] = {Z_NO_COMPRESSION, Z_BEST_SPEED, Z_DEFAULT_COMPRESSION, Z_BEST_COMPRESSION};
  if (level < 0 || level > 3) throw EZLibError(Format("zlib の圧縮レベル %d は使えません", {level}));
  z_stream z;
  std::memset(&z, 0, sizeof z);
  int rc = deflateInit(&z, kLevels[level]);
  if (rc != Z_OK) throw EZLibError(Format("zlib エラー: %s", {ZMessage(z, rc)}));

  TMemoryStream out;
  const int64_t total = stream.Size();
  int64_t inDone = 0;
  int64_t outSize = 0;
  // The first guess is zlib's bound for small inputs; larger ones grow as needed.
  int64_t step = std::max<int64_t>(64 * 1024, std::min<int64_t>(total / 2, 64 * 1048576));
  try {
    for (;;) {
      if (z.avail_in == 0 && inDone < total) {
        z.next_in = const_cast<Bytef*>(stream.Memory() + inDone);
        z.avail_in = static_cast<uInt>(std::min<int64_t>(total - inDone, kMaxZIn));
        inDone += z.avail_in;
      }
      if (outSize == out.Size()) out.SetSize(outSize + step);
      z.next_out = out.Memory() + outSize;
      uInt room = static_cast<uInt>(std::min<int64_t>(out.Size() - outSize, kMaxZIn));
      z.avail_out = room;
      rc = deflate(&z, inDone == total && z.avail_in == 0 ? Z_FINISH : Z_NO_FLUSH);
      outSize += room - z.avail_out;
      if (rc == Z_STREAM_END) break;
      if (rc != Z_OK && rc != Z_BUF_ERROR) throw EZLibError(Format("zlib エラー: %s", {ZMessage(z, rc)}));
    }
  } catch (...) {
    deflateEnd(&z);
    throw;
  }
  deflateEnd(&z);
  out.SetSize(outSize);
  out.SetPosition(outSize);
  stream.Swap(out);
}

void DecompressStream(TMemoryStream& stream) {
  const int64_t total = stream.Size();
  if (total == 0) {
    stream.SetPosition(0);
    return;
  }
  z_stream z;
  std::memset(&z, 0, sizeof z);
  int rc = inflateInit(&z);
  if (rc != Z_OK) throw EZLibError(Format("zlib エラー: %s", {ZMessage(z, rc)}));

  TMemoryStream out;
  int64_t inDone = 0;
  int64_t outSize = 0;
  try {
    for (;;) {
      if (z.avail_in == 0 && inDone < total) {
        z.next_in = const_cast<Bytef*>(stream.Memory() + inDone);
        z.avail_in = static_cast<uInt>(std::min<int64_t>(total - inDone, kMaxZIn));
        inDone += z.avail_in;
      }
      // Output in pieces of at most 1,000,000 bytes; the stream grows geometrically underneath.
      if (outSize + kInflatePiece > out.Size()) out.SetSize(outSize + kInflatePiece);
      z.next_out = out.Memory() + outSize;
      z.avail_out = static_cast<uInt>(kInflatePiece);
      rc = inflate(&z, Z_NO_FLUSH);
      outSize += kInflatePiece - z.avail_out;
      if (rc == Z_STREAM_END) break;
      if (rc == Z_BUF_ERROR && z.avail_in == 0 && inDone == total)
        throw EZLibError("zlib エラー: データが途中で終わっています");
      if (rc != Z_OK && rc != Z_BUF_ERROR) throw EZLibError(Format("zlib エラー: %s", {ZMessage(z, rc)}));
    }
  } catch (...) {
    inflateEnd(&z);
    throw;
  }
  inflateEnd(&z);
  out.SetSize(outSize);
  out.SetPosition(0);
  stream.Swap(out);
}

// --- little-endian integers ---------------------------------------------------------------------

void WriteInt32(TStream& stream, int32_t value) {
  uint32_t u = static_cast<uint32_t>(value);
  uint8_t b[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
                  static_cast<uint8_t>(u >> 24)};
  stream.WriteBuffer(b, 4);
}

int32_t ReadInt32(TStream& stream) {
  uint8_t b[4];
  stream.ReadBuffer(b, 4);
  return static_cast<int32_t>(uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 |
                              uint32_t{b[3]} << 24);
}

}  // namespace vr
