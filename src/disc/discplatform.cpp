#include "disc/discplatform.h"

#include <algorithm>
#include <cctype>

#include "platform/dbcspath.h"

namespace vr {
namespace {

// Handles of files on an image: odd numbers far above what the hosts hand out (the POSIX layer counts
// up from 0x100, Win32 handle values are multiples of four), so the two never meet.
constexpr THandle kFirstHandle = 0x7F000001;
constexpr size_t kCopyPiece = 1 << 20;

// Why the last failed call of this thread on an image failed; empty when the last one went elsewhere.
thread_local std::string lastError;

const char kReadOnly[] = "the disc image is read-only";
const char kNotFound[] = "no such file on the disc image";

}  // namespace

TDiscPlatform::TDiscPlatform(TPlatform& inner) : TForwardingPlatform(inner) {}
TDiscPlatform::~TDiscPlatform() = default;

void TDiscPlatform::Mount(char letter, std::unique_ptr<TDiscImage> image) {
  std::lock_guard<std::mutex> hold(lock_);
  TMount& m = mounts_[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))];
  m.Image = std::move(image);
  m.Index.clear();
}

char TDiscPlatform::FreeLetter() {
  for (char c = 'D'; c <= 'Y'; ++c) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (mounts_.count(c)) continue;
    }
    if (Inner().GetFileAttributes(std::string(1, c) + ":\\") == faInvalid) return c;
  }
  return 0;
}

TDiscImage* TDiscPlatform::ImageOf(const std::string& path) { return Resolve(path).Image; }

TDiscPlatform::TResolved TDiscPlatform::Resolve(const std::string& path) {
  TResolved r;
  if (path.size() < 2 || path[1] != ':') return r;
  std::lock_guard<std::mutex> hold(lock_);
  auto m = mounts_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
  if (m == mounts_.end()) return r;
  r.Image = m->second.Image.get();
  r.Where = TWhere::Missing;
  const std::vector<TDiscNode>& nodes = r.Image->Nodes();
  uint32_t node = 0;
  size_t start = 2;
  for (size_t i = 2; i <= path.size(); ++i) {
    if (i < path.size() && !IsPathDelimiterAt(path, i)) continue;
    const std::string part = path.substr(start, i - start);
    start = i + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      node = nodes[node].Parent;
      continue;
    }
    if (!nodes[node].Folder) return r;
    auto& index = m->second.Index[node];
    if (index.empty() && nodes[node].ChildCount) {
      for (uint32_t c = nodes[node].FirstChild; c < nodes[node].FirstChild + nodes[node].ChildCount; ++c)
        index.emplace(Inner().UpperCaseJ(nodes[c].Name), c);
    }
    auto found = index.find(Inner().UpperCaseJ(part));
    if (found == index.end()) return r;
    node = found->second;
  }
  r.Where = TWhere::Found;
  r.Node = node;
  return r;
}

bool TDiscPlatform::Refuse(const char* why) {
  lastError = why;
  return false;
}

TDiscPlatform::TOpen* TDiscPlatform::Find(THandle h) {
  auto it = open_.find(h);
  return it == open_.end() ? nullptr : &it->second;
}

std::string TDiscPlatform::LastErrorText() { return lastError.empty() ? Inner().LastErrorText() : lastError; }

// --- files -------------------------------------------------------------------------------------

THandle TDiscPlatform::FileOpen(const std::string& name, uint16_t mode) {
  lastError.clear();
  const TResolved r = Resolve(name);
  if (r.Where == TWhere::Elsewhere) return Inner().FileOpen(name, mode);
  if ((mode & 3) != fmOpenRead) return Refuse(kReadOnly), kInvalidHandle;
  if (r.Where == TWhere::Missing || r.Image->Node(r.Node).Folder) return Refuse(kNotFound), kInvalidHandle;
  std::lock_guard<std::mutex> hold(lock_);
  const THandle h = kFirstHandle + 2 * next_++;
  open_[h] = TOpen{r.Image, r.Node, 0};
  return h;
}

THandle TDiscPlatform::FileCreate(const std::string& name, uint16_t share) {
  lastError.clear();
  if (OnImage(name)) return Refuse(kReadOnly), kInvalidHandle;
  return Inner().FileCreate(name, share);
}

THandle TDiscPlatform::FileCreateNew(const std::string& name) {
  lastError.clear();
  if (OnImage(name)) return Refuse(kReadOnly), kInvalidHandle;
  return Inner().FileCreateNew(name);
}

int32_t TDiscPlatform::FileRead(THandle h, void* buffer, int32_t count) {
  lastError.clear();
  TOpen file{nullptr, 0, 0};
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (TOpen* o = Find(h)) file = *o;
  }
  if (!file.Image) return Inner().FileRead(h, buffer, count);
  if (count < 0) return Refuse("a negative count"), -1;
  size_t got = 0;
  try {
    got = file.Image->Read(file.Node, file.Position, buffer, static_cast<size_t>(count));
  } catch (const EDiscError& e) {
    lastError = e.Message;
    return -1;
  }
  std::lock_guard<std::mutex> hold(lock_);
  if (TOpen* o = Find(h)) o->Position = file.Position + static_cast<int64_t>(got);
  return static_cast<int32_t>(got);
}

int32_t TDiscPlatform::FileWrite(THandle h, const void* buffer, int32_t count) {
  lastError.clear();
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (Find(h)) return Refuse(kReadOnly), -1;
  }
  return Inner().FileWrite(h, buffer, count);
}

int64_t TDiscPlatform::FileSeek(THandle h, int64_t offset, TSeekOrigin origin) {
  lastError.clear();
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (TOpen* o = Find(h)) {
      int64_t base = 0;
      if (origin == TSeekOrigin::soCurrent) base = o->Position;
      if (origin == TSeekOrigin::soEnd) base = o->Image->Node(o->Node).Size;
      if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return Refuse("a bad position"), -1;
      o->Position = base + offset;
      return o->Position;
    }
  }
  return Inner().FileSeek(h, offset, origin);
}

bool TDiscPlatform::FileSetSize(THandle h, int64_t size) {
  lastError.clear();
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (Find(h)) return Refuse(kReadOnly);
  }
  return Inner().FileSetSize(h, size);
}

bool TDiscPlatform::FileFlush(THandle h) {
  lastError.clear();
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (Find(h)) return Refuse(kReadOnly);
  }
  return Inner().FileFlush(h);
}

// An image's folders never change, so there is nothing of theirs to bring to the disk.
bool TDiscPlatform::FolderFlush(const std::string& folder) {
  lastError.clear();
  if (OnImage(folder)) return true;
  return Inner().FolderFlush(folder);
}

void TDiscPlatform::FileClose(THandle h) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (open_.erase(h)) return;
  }
  Inner().FileClose(h);
}

uint32_t TDiscPlatform::FileGetDosTime(THandle h) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (TOpen* o = Find(h)) return o->Image->Node(o->Node).DosTime;
  }
  return Inner().FileGetDosTime(h);
}

bool TDiscPlatform::FileSetDosTime(THandle h, uint32_t dosTime) {
  lastError.clear();
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (Find(h)) return Refuse(kReadOnly);
  }
  return Inner().FileSetDosTime(h, dosTime);
}

const uint8_t* TDiscPlatform::FileMapView(THandle h, int64_t offset, int64_t count) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (open_.count(h)) return nullptr;
  }
  return Inner().FileMapView(h, offset, count);
}

int64_t TDiscPlatform::FileCopyRange(THandle from, int64_t fromOffset, THandle to, int64_t toOffset,
                                     int64_t count) {
  TOpen source{nullptr, 0, 0};
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (Find(to)) return -1;
    if (TOpen* o = Find(from)) source = *o;
  }
  if (!source.Image) return Inner().FileCopyRange(from, fromOffset, to, toOffset, count);
  // A file stored as it is in an image file is copied by the system from there, one extent at a time;
  // raw sectors go through memory (the caller's copy).
  TDiscImage::TPlainRange range;
  if (count <= 0 || !source.Image->PlainRange(source.Node, fromOffset, range) || range.Owner != &Inner())
    return -1;
  return Inner().FileCopyRange(range.Handle, range.Offset, to, toOffset, std::min(count, range.Length));
}

// --- names ------------------------------------------------------------------------------------

uint32_t TDiscPlatform::GetFileAttributes(const std::string& name) {
  lastError.clear();
  const TResolved r = Resolve(name);
  if (r.Where == TWhere::Elsewhere) return Inner().GetFileAttributes(name);
  if (r.Where == TWhere::Missing) return Refuse(kNotFound), faInvalid;
  const TDiscNode& n = r.Image->Node(r.Node);
  return faReadOnly | (n.Folder ? faDirectory : 0u) | (n.Hidden ? faHidden : 0u);
}

TFileKind TDiscPlatform::GetFileKind(const std::string& name) {
  const TResolved r = Resolve(name);
  if (r.Where == TWhere::Elsewhere) return Inner().GetFileKind(name);
  if (r.Where == TWhere::Missing) return TFileKind::None;
  return r.Image->Node(r.Node).Folder ? TFileKind::Directory : TFileKind::File;
}

std::optional<std::vector<TFindData>> TDiscPlatform::ListFolder(const std::string& folder) {
  lastError.clear();
  const TResolved r = Resolve(folder);
  if (r.Where == TWhere::Elsewhere) return Inner().ListFolder(folder);
  if (r.Where == TWhere::Missing || !r.Image->Node(r.Node).Folder) return Refuse(kNotFound), std::nullopt;
  const TDiscNode& dir = r.Image->Node(r.Node);
  std::vector<TFindData> entries;
  entries.reserve(dir.ChildCount);
  for (uint32_t c = dir.FirstChild; c < dir.FirstChild + dir.ChildCount; ++c) {
    const TDiscNode& n = r.Image->Node(c);
    TFindData d;
    d.Name = n.Name;
    d.Attr = faReadOnly | (n.Folder ? faDirectory : 0u) | (n.Hidden ? faHidden : 0u);
    d.Size = n.Folder ? 0 : n.Size;
    d.DosTime = n.DosTime;
    entries.push_back(std::move(d));
  }
  // The order a folder listing of the host gives.
  std::sort(entries.begin(), entries.end(), [this](const TFindData& a, const TFindData& b) {
    const int c = Inner().CompareTextJ(a.Name, b.Name);
    return c != 0 ? c < 0 : a.Name < b.Name;
  });
  return entries;
}

bool TDiscPlatform::CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  lastError.clear();
  const TResolved source = Resolve(from);
  if (OnImage(to)) return Refuse(kReadOnly);
  if (source.Where == TWhere::Elsewhere) return Inner().CopyFile(from, to, failIfExists);
  if (source.Where == TWhere::Missing || source.Image->Node(source.Node).Folder) return Refuse(kNotFound);
  if (failIfExists && Inner().GetFileAttributes(to) != faInvalid) return Refuse("the target exists");
  const THandle out = Inner().FileCreate(to, fmShareExclusive);
  if (out == kInvalidHandle) return false;
  std::vector<uint8_t> piece(kCopyPiece);
  const TDiscNode& node = source.Image->Node(source.Node);
  bool ok = true;
  try {
    for (int64_t at = 0; ok && at < node.Size;) {
      // Copied by the system where the image file holds the bytes as they are, else through memory.
      TDiscImage::TPlainRange range;
      if (source.Image->PlainRange(source.Node, at, range) && range.Owner == &Inner()) {
        const int64_t n = Inner().FileCopyRange(range.Handle, range.Offset, out, at, range.Length);
        if (n > 0) {
          at += n;
          continue;
        }
      }
      const size_t got = source.Image->Read(source.Node, at, piece.data(), piece.size());
      ok = got > 0 && Inner().FileSeek(out, at, TSeekOrigin::soBeginning) == at &&
           Inner().FileWrite(out, piece.data(), static_cast<int32_t>(got)) == static_cast<int32_t>(got);
      at += static_cast<int64_t>(got);
    }
  } catch (const EDiscError& e) {
    lastError = e.Message;
    ok = false;
  }
  const std::string reason = ok ? std::string() : LastErrorText();
  if (ok) Inner().FileSetDosTime(out, node.DosTime);
  Inner().FileClose(out);
  if (!ok) {
    // A copy that did not arrive leaves nothing behind.
    Inner().DeleteFile(to);
    lastError = reason;
  }
  return ok;
}

bool TDiscPlatform::SetFileAttributes(const std::string& name, uint32_t attr) {
  lastError.clear();
  if (OnImage(name)) return Refuse(kReadOnly);
  return Inner().SetFileAttributes(name, attr);
}

bool TDiscPlatform::DeleteFile(const std::string& name) {
  lastError.clear();
  if (OnImage(name)) return Refuse(kReadOnly);
  return Inner().DeleteFile(name);
}

bool TDiscPlatform::CreateDirectory(const std::string& name) {
  lastError.clear();
  if (OnImage(name)) return Refuse(kReadOnly);
  return Inner().CreateDirectory(name);
}

bool TDiscPlatform::RemoveDirectory(const std::string& name) {
  lastError.clear();
  if (OnImage(name)) return Refuse(kReadOnly);
  return Inner().RemoveDirectory(name);
}

bool TDiscPlatform::MoveFileReplace(const std::string& from, const std::string& to) {
  lastError.clear();
  if (OnImage(from) || OnImage(to)) return Refuse(kReadOnly);
  return Inner().MoveFileReplace(from, to);
}

std::string TDiscPlatform::GetShortPathName(const std::string& path) {
  return OnImage(path) ? path : Inner().GetShortPathName(path);
}

bool TDiscPlatform::GetDiskFreeSpace(const std::string& path, int64_t& freeToCaller, int64_t& total) {
  if (TDiscImage* image = ImageOf(path)) {
    freeToCaller = 0;
    total = image->Info().Sectors * 2048;
    return true;
  }
  return Inner().GetDiskFreeSpace(path, freeToCaller, total);
}

bool TDiscPlatform::MoveFileDelayUntilReboot(const std::string& path) {
  if (OnImage(path)) return Refuse(kReadOnly);
  return Inner().MoveFileDelayUntilReboot(path);
}

bool TDiscPlatform::WritePrivateProfileString(const std::string& section, const std::string& key,
                                              const std::string& value, const std::string& file) {
  if (OnImage(file)) return Refuse(kReadOnly);
  return Inner().WritePrivateProfileString(section, key, value, file);
}

std::optional<TResourceData> TDiscPlatform::FindResource(const std::string& module, const std::string& name,
                                                         const std::string& type) {
  // Modules are loaded by the system from files, not from images.
  if (OnImage(module)) return std::nullopt;
  return Inner().FindResource(module, name, type);
}

TShellLinkResult TDiscPlatform::SaveShellLink(const TShellLinkData& link, const std::string& path) {
  if (OnImage(path)) return TShellLinkResult::SaveFailed;
  return Inner().SaveShellLink(link, path);
}

bool TDiscPlatform::SetCurrentDirectory(const std::string& path) {
  if (OnImage(path)) return Refuse("a disc image cannot be the current folder");
  return Inner().SetCurrentDirectory(path);
}

}  // namespace vr
