// Shell links and shell file operations of the POSIX platform layer.
//
// Links are written in the documented Shell Link binary format: a header, a LinkInfo block with the
// local target path (code page 932 and UTF-16) and the string block in UTF-16, so that Windows and
// link readers on any host see the same shortcut the shell would have written.
// File operations work on the layer's own file services, never follow a symbolic link into a folder and
// never ask: there is no user interface on this host, so nothing can be aborted either.
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/posix/posixplatform.h"

namespace vr {

namespace {

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void PutUtf16(std::string& out, const std::u16string& s) {
  for (char16_t c : s) Put16(out, c);
}

// One entry of the string block: a character count and the UTF-16 characters, no terminator.
void PutCountedString(std::string& out, const std::string& s) {
  const std::u16string wide = Cp932ToUtf16(s);
  Put16(out, static_cast<uint32_t>(wide.size()));
  PutUtf16(out, wide);
}

enum : uint32_t {
  kHasLinkInfo = 0x2,
  kHasName = 0x4,
  kHasRelativePath = 0x8,
  kHasWorkingDir = 0x10,
  kHasArguments = 0x20,
  kHasIconLocation = 0x40,
  kIsUnicode = 0x80,
};

bool IsDrivePath(const std::string& path) {
  return path.size() >= 3 && path[1] == ':' && IsPathDelimiterAt(path, 2) &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// LinkInfo with a volume (fixed drive, no label) and the local base path in both encodings.
std::string LinkInfoBlock(const std::string& target) {
  const uint32_t headerSize = 0x24;
  std::string volume;
  Put32(volume, 0x11);  // VolumeIDSize
  Put32(volume, 3);     // DRIVE_FIXED
  Put32(volume, 0);     // serial number
  Put32(volume, 0x10);  // VolumeLabelOffset: the empty label right after these fields
  volume += '\0';

  std::string body = volume;
  const uint32_t localBase = headerSize + static_cast<uint32_t>(body.size());
  body += target;
  body += '\0';
  const uint32_t suffix = headerSize + static_cast<uint32_t>(body.size());
  body += '\0';
  if (body.size() % 2) body += '\0';
  const uint32_t localBaseUnicode = headerSize + static_cast<uint32_t>(body.size());
  PutUtf16(body, Cp932ToUtf16(target));
  Put16(body, 0);
  const uint32_t suffixUnicode = headerSize + static_cast<uint32_t>(body.size());
  Put16(body, 0);

  std::string info;
  Put32(info, headerSize + static_cast<uint32_t>(body.size()));  // LinkInfoSize
  Put32(info, headerSize);
  Put32(info, 1);  // VolumeIDAndLocalBasePath
  Put32(info, headerSize);
  Put32(info, localBase);
  Put32(info, 0);  // no network location
  Put32(info, suffix);
  Put32(info, localBaseUnicode);
  Put32(info, suffixUnicode);
  return info + body;
}

}  // namespace

TShellLinkResult TPosixPlatform::SaveShellLink(const TShellLinkData& link, const std::string& path) {
  const bool local = IsDrivePath(link.Target);
  uint32_t flags = kIsUnicode;
  if (local) flags |= kHasLinkInfo;
  if (!link.Target.empty() && !local) flags |= kHasRelativePath;
  if (!link.Description.empty()) flags |= kHasName;
  if (!link.WorkDir.empty()) flags |= kHasWorkingDir;
  if (!link.Arguments.empty()) flags |= kHasArguments;
  if (!link.IconLocation.empty()) flags |= kHasIconLocation;

  uint32_t attributes = 0, size = 0;
  if (!link.Target.empty()) {
    const uint32_t attr = GetFileAttributes(link.Target);
    if (attr != faInvalid) {
      attributes = attr & (faReadOnly | faHidden | faSysFile | faDirectory | faArchive);
      if (const auto entries = ListFolder(ExtractFilePath(link.Target))) {
        const std::string name = ExtractFileName(link.Target);
        for (const TFindData& e : *entries)
          if (CompareTextJ(e.Name, name) == 0) size = static_cast<uint32_t>(e.Size);
      }
    }
  }

  std::string data;
  Put32(data, 0x4C);
  static const unsigned char kClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  data.append(reinterpret_cast<const char*>(kClsid), sizeof kClsid);
  Put32(data, flags);
  Put32(data, attributes);
  data.append(24, '\0');  // creation, access and write times
  Put32(data, size);
  Put32(data, static_cast<uint32_t>(link.IconIndex));
  Put32(data, static_cast<uint32_t>(link.ShowCommand));
  // The header keeps the modifiers in the high byte as HOTKEYF_* (Shift 1, Ctrl 2, Alt 4): the same bits.
  Put16(data, link.HotKey);
  data.append(10, '\0');  // reserved
  if (flags & kHasLinkInfo) data += LinkInfoBlock(link.Target);
  if (flags & kHasName) PutCountedString(data, link.Description);
  if (flags & kHasRelativePath) PutCountedString(data, link.Target);
  if (flags & kHasWorkingDir) PutCountedString(data, link.WorkDir);
  if (flags & kHasArguments) PutCountedString(data, link.Arguments);
  if (flags & kHasIconLocation) PutCountedString(data, link.IconLocation);
  Put32(data, 0);  // no extra data blocks

  // Written beside the link and renamed over it, so an existing link is replaced whole or not at all.
  const std::string temp = path + ".~tmp";
  const THandle h = FileCreate(temp);
  if (h == kInvalidHandle) return TShellLinkResult::SaveFailed;
  const bool written =
      FileWrite(h, data.data(), static_cast<int32_t>(data.size())) == static_cast<int32_t>(data.size());
  FileClose(h);
  if (!written || !MoveFileReplace(temp, path)) {
    DeleteFile(temp);
    return TShellLinkResult::SaveFailed;
  }
  return TShellLinkResult::Saved;
}

// --- file operations ------------------------------------------------------------------------------------

namespace {

enum : int {
  kErrFileNotFound = 2,
  kErrPathNotFound = 3,
  kErrAccessDenied = 5,
  kErrInvalidParameter = 87,
};

bool HasWildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

// Windows wildcard match without regard to ASCII case; "*.*" matches every name.
bool MatchMask(const char* mask, const char* name) {
  auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  if (std::string(mask) == "*.*") return true;
  while (*mask) {
    if (*mask == '*') {
      ++mask;
      for (const char* n = name;; ++n) {
        if (MatchMask(mask, n)) return true;
        if (!*n) return false;
      }
    }
    if (!*name) return false;
    if (*mask != '?' && fold(*mask) != fold(*name)) return false;
    ++mask;
    ++name;
  }
  return *name == '\0';
}

class TFileOps {
 public:
  explicit TFileOps(TPlatform& p) : p_(p) {}

  // A source with a wildcard in its name: the matching entries (only files with filesOnly).
  std::vector<std::string> Expand(const std::string& source, bool filesOnly) {
    if (!HasWildcard(ExtractFileName(source))) return {source};
    std::vector<std::string> out;
    const std::string folder = ExtractFilePath(source);
    const std::string mask = ExtractFileName(source);
    if (auto entries = p_.ListFolder(folder))
      for (const TFindData& e : *entries)
        if (MatchMask(mask.c_str(), e.Name.c_str()) && !(filesOnly && (e.Attr & faDirectory)))
          out.push_back(folder + e.Name);
    return out;
  }

  bool Exists(const std::string& path) { return p_.GetFileAttributes(path) != faInvalid; }
  bool IsRealFolder(const std::string& path) {
    const uint32_t a = p_.GetFileAttributes(path);
    return a != faInvalid && (a & faDirectory) && !(a & faReparsePoint);
  }

  // Removes a file, a link or a whole folder; links are removed themselves, never followed.
  bool Delete(const std::string& path) {
    const uint32_t a = p_.GetFileAttributes(path);
    if (a == faInvalid) return false;
    if (a & faReparsePoint) return p_.RemoveDirectory(path) || p_.DeleteFile(path);
    if (!(a & faDirectory)) return p_.DeleteFile(path);
    if (auto entries = p_.ListFolder(path))
      for (const TFindData& e : *entries) Delete(IncludeTrailingBackslash(path) + e.Name);
    return p_.RemoveDirectory(path);
  }

  bool MakeFolders(const std::string& folder) {
    const std::string dir = ExcludeTrailingBackslash(folder);
    if (dir.empty() || IsRealFolder(dir)) return true;
    const std::string parent = ExcludeTrailingBackslash(ExtractFilePath(dir));
    if (!parent.empty() && parent != dir && !(parent.size() == 2 && parent[1] == ':')) MakeFolders(parent);
    return p_.CreateDirectory(dir) || IsRealFolder(dir);
  }

  // Copies a file, or a folder with its contents (links inside a folder are not followed: skipped).
  bool Copy(const std::string& from, const std::string& to) {
    const uint32_t a = p_.GetFileAttributes(from);
    if (a == faInvalid) return false;
    if (!(a & faDirectory)) return p_.CopyFile(from, to, false);
    if (!MakeFolders(to)) return false;
    bool ok = true;
    if (auto entries = p_.ListFolder(from)) {
      for (const TFindData& e : *entries) {
        if (e.Attr & faReparsePoint) continue;
        ok = Copy(IncludeTrailingBackslash(from) + e.Name, IncludeTrailingBackslash(to) + e.Name) && ok;
      }
    }
    return ok;
  }

  bool Move(const std::string& from, const std::string& to) {
    if (p_.MoveFileReplace(from, to)) return true;
    return Copy(from, to) && Delete(from);
  }

 private:
  TPlatform& p_;
};

}  // namespace

TShellFileOpResult TPosixPlatform::ShellFileOperation(const TShellFileOp& operation) {
  TShellFileOpResult result;
  TFileOps ops(*this);
  const bool filesOnly = (operation.Flags & FOF_FILESONLY_) != 0;
  const std::vector<std::string> given = SplitZeroList(operation.From);
  const std::vector<std::string> targets = SplitZeroList(operation.To);
  if (given.empty() || operation.Operation < foMove || operation.Operation > foDelete + 1) {
    result.Result = kErrInvalidParameter;
    return result;
  }
  const bool multiDest = (operation.Flags & FOF_MULTIDESTFILES_) != 0;
  for (size_t i = 0; i < given.size(); ++i) {
    const bool wildcard = HasWildcard(ExtractFileName(given[i]));
    const std::vector<std::string> sources = ops.Expand(given[i], filesOnly);
    if (!wildcard && !ops.Exists(given[i])) {
      result.Result = kErrFileNotFound;
      return result;
    }
    for (const std::string& source : sources) {
      if (operation.Operation == foDelete) {
        if (!ops.Delete(source)) result.Result = kErrAccessDenied;
        continue;
      }
      std::string target;
      if (multiDest && i < targets.size())
        target = targets[i];
      else if (!targets.empty())
        target = targets[0];
      if (target.empty()) {
        result.Result = kErrPathNotFound;
        return result;
      }
      if (operation.Operation == foRename) {
        // A bare new name stays in the source's folder.
        if (ExtractFilePath(target).empty()) target = ExtractFilePath(source) + target;
        if (ops.Exists(target) || !MoveFileReplace(source, target)) result.Result = kErrAccessDenied;
        continue;
      }
      // Into a folder when the target is one, or when several names go to one target.
      const bool intoFolder =
          ops.IsRealFolder(target) || (!multiDest && (wildcard || sources.size() > 1 || given.size() > 1));
      if (intoFolder) {
        if (!ops.MakeFolders(target)) {
          result.Result = kErrPathNotFound;
          return result;
        }
        target = IncludeTrailingBackslash(target) + ExtractFileName(ExcludeTrailingBackslash(source));
      } else {
        ops.MakeFolders(ExtractFilePath(target));
      }
      const bool ok = operation.Operation == foCopy ? ops.Copy(source, target) : ops.Move(source, target);
      if (!ok) result.Result = kErrAccessDenied;
    }
  }
  return result;
}

}  // namespace vr
