#include "archiveaccess.h"

#include <algorithm>
#include <vector>

#include "archive/bigstreams.h"
#include "console.h"
#include "framework/classes.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "textconv.h"

namespace vrtool {
namespace {

constexpr int64_t kChunk = 1 << 20;

bool IsExecutableName(const std::string& name) {
  std::string ext = LowerExt(name);
  return ext == ".exe" || ext == ".scr";
}

// The file must exist and be a file: the reader would otherwise serve loose files from a folder.
void RequireFile(const std::string& cp932Path, const std::string& utf8Path) {
  uint32_t attr = vr::Platform().GetFileAttributes(cp932Path);
  if (attr == vr::faInvalid) {
    // The framework's own open error carries the system's reason.
    vr::TFileStream probe(cp932Path, vr::fmOpenRead | vr::fmShareDenyNone);
    throw ToolError(utf8Path + ": cannot be opened");
  }
  if (attr & vr::faDirectory) throw ToolError(utf8Path + ": is a folder, not an archive");
}

int32_t ReadInt32At(vr::TKoBigStream& s, int64_t pos) {
  uint8_t b[4];
  s.SetPosition(pos);
  if (s.Read(b, 4) != 4) return 0;
  return static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24));
}

int VersionAt(vr::TKoBigStream& s, int64_t pos) {
  char magic[2] = {0, 0};
  s.SetPosition(pos);
  if (s.Read(magic, 2) != 2 || magic[0] != 'v' || magic[1] != 'f') return 0;
  return ReadInt32At(s, pos + 2);
}

}  // namespace

std::string ArchivePath(const ArchiveSource& src) {
  return src.Mounted.empty() ? HostPathToCp932(src.Path, "file name") : src.Mounted;
}

std::string LowerExt(const std::string& name) { return vr::LowerCaseAscii(vr::ExtractFileExt(name)); }

namespace {
std::unique_ptr<vr::TVrFileCollection> OpenArchiveOf(const ArchiveSource& src);
}

std::unique_ptr<vr::TVrFileCollection> OpenArchive(const ArchiveSource& src) {
  try {
    return OpenArchiveOf(src);
  } catch (const vr::Exception& e) {
    // The reader's texts do not always name the file: every message about it does here.
    std::string message = Localize(ToUtf8(e.Message));
    if (message.find(src.Path) == std::string::npos &&
        message.find(ToUtf8(ArchivePath(src))) == std::string::npos)
      message = src.Path + ": " + message;
    throw ToolError(message);
  }
}

namespace {
std::unique_ptr<vr::TVrFileCollection> OpenArchiveOf(const ArchiveSource& src) {
  std::string path = ArchivePath(src);
  RequireFile(path, src.Path);
  auto archive = std::make_unique<vr::TVrFileCollection>();
  if (src.Resource) {
    archive->OpenResource(path, "DUMMY", "BINTYPE");
    if (!archive->DataStream) throw ToolError(src.Path + ": the executable cannot be loaded");
    return archive;
  }
  if (IsExecutableName(path)) {
    // Without the trailer the reader would take arbitrary bytes for the directory's position.
    vr::TKoBigFileStream f(path, vr::fmOpenRead | vr::fmShareDenyWrite);
    char tail[2] = {0, 0};
    int64_t size = f.GetSize();
    if (size >= 6) {
      f.SetPosition(size - 2);
      f.Read(tail, 2);
    }
    if (size < 6 || tail[0] != 'r' || tail[1] != 'v') {
      throw ToolError(src.Path + ": no archive is appended to this program (no \"rv\" trailer)");
    }
  }
  archive->Open(path);
  if (!archive->DataStream) throw ToolError(src.Path + ": cannot be opened as an archive");
  return archive;
}
}  // namespace

int DirectoryVersion(const ArchiveSource& src) {
  std::string path = ArchivePath(src);
  if (src.Resource) {
    vr::TKoBigResourceStream r(path, "DUMMY", "BINTYPE");
    return VersionAt(r, 0);
  }
  if (IsExecutableName(path)) {
    vr::TKoBigFileStream f(path, vr::fmOpenRead | vr::fmShareDenyWrite);
    return VersionAt(f, ReadInt32At(f, f.GetSize() - 6));
  }
  std::string ext = vr::ChangeFileExt(path, ".ext");
  uint32_t attr = vr::Platform().GetFileAttributes(ext);
  if (attr != vr::faInvalid && !(attr & vr::faDirectory)) {
    vr::TKoBigFileStream f(ext, vr::fmOpenRead | vr::fmShareDenyWrite);
    return VersionAt(f, 0);
  }
  vr::TKoBigFileStream f(path, vr::fmOpenRead | vr::fmShareDenyWrite);
  return VersionAt(f, 0);
}

int EntryCount(const vr::TVrFileCollection& archive) {
  int n = archive.Count();
  if (n > 0 && archive.Items(n - 1)->Name() == "\\EOF\\") --n;
  return n;
}

vr::TVrFile* FindEntry(vr::TVrFileCollection& archive, const std::string& utf8Name) {
  std::string name = ToCp932(utf8Name, "entry name");
  int i = archive.IndexOf(name);
  if (i < 0 && name.find('/') != std::string::npos) i = archive.IndexOf(vr::ReplaceDelimiters(name, '\\'));
  if (i < 0 || i >= EntryCount(archive)) return nullptr;
  return archive.Items(i);
}

void DecodeEntry(vr::TVrFileCollection& archive, vr::TVrFile& entry, const TSink& sink,
                 const std::function<void(int64_t)>& progress) {
  if (entry.Size < 0) throw ToolError(ToUtf8(entry.Name()) + ": the directory gives a negative size");
  // Every storage kind is decoded as a stream: memory stays bounded whatever the entry claims.
  archive.DecodeItemTo(entry.CachedIndex(), sink, progress);
}

void ReadArchiveEntry(const ArchiveSource& src, const std::string& cp932Name, vr::TMemoryStream& out) {
  auto archive = OpenArchive(src);
  const int index = archive->IndexOf(cp932Name);
  if (index < 0 || index >= EntryCount(*archive)) {
    archive->ExtractToStream(out, cp932Name);  // the loose file beside it, or the reader's message
    return;
  }
  // Held whole in memory to be parsed: a content claiming more than any settings file needs is refused
  // while it is decoded, not after.
  constexpr int64_t kLimit = 64 << 20;
  out.Clear();
  archive->DecodeItemTo(index, [&](const uint8_t* data, size_t size) {
    if (out.Size() + static_cast<int64_t>(size) > kLimit)
      throw ToolError(src.Path + ": " + ToUtf8(cp932Name) + ": larger than " + std::to_string(kLimit >> 20) +
                      " MiB, too large to be read");
    out.WriteBuffer(data, static_cast<int32_t>(size));
  });
  out.SetPosition(0);
}

}  // namespace vrtool
