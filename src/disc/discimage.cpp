#include "disc/discimage.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "disc/describedimage.h"
#include "disc/discnames.h"
#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/windowsnames.h"

namespace vr {
namespace {

constexpr int64_t kSector = 2048;
constexpr int kMaxDescriptors = 64;
constexpr int kMaxContinuations = 8;
constexpr size_t kMaxNameBytes = 255;
constexpr int64_t kMaxCueSheet = 1 << 20;
constexpr size_t kRawBatch = 32;  // raw sectors read at once

class TFileImageBytes : public TImageBytes {
 public:
  TFileImageBytes(TPlatform& platform, THandle handle, int64_t size)
      : platform_(platform), handle_(handle), size_(size) {}
  ~TFileImageBytes() override { platform_.FileClose(handle_); }
  int64_t Size() const override { return size_; }
  TPlatform* Owner() const override { return &platform_; }
  THandle Handle() const override { return handle_; }
  bool ReadAt(int64_t offset, void* buffer, size_t count) override {
    if (offset < 0 || offset > size_ || static_cast<int64_t>(count) > size_ - offset) return false;
    std::lock_guard<std::mutex> hold(lock_);
    if (platform_.FileSeek(handle_, offset, TSeekOrigin::soBeginning) != offset) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    while (count > 0) {
      const int32_t piece = static_cast<int32_t>(std::min<size_t>(count, 1 << 30));
      const int32_t got = platform_.FileRead(handle_, out, piece);
      if (got <= 0) return false;
      out += got;
      count -= static_cast<size_t>(got);
    }
    return true;
  }

 private:
  TPlatform& platform_;
  THandle handle_;
  int64_t size_;
  std::mutex lock_;
};

class TMemoryImageBytes : public TImageBytes {
 public:
  explicit TMemoryImageBytes(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  bool ReadAt(int64_t offset, void* buffer, size_t count) override {
    if (offset < 0 || offset > Size() || static_cast<int64_t>(count) > Size() - offset) return false;
    if (count) std::memcpy(buffer, bytes_.data() + offset, count);
    return true;
  }

 private:
  std::string bytes_;
};

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool IsAscii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// Well-formed code page 932: lead bytes with a trail byte, no undefined single bytes.
bool IsCp932(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (IsLeadByte(c)) {
      if (i + 1 >= s.size()) return false;
      const auto t = static_cast<unsigned char>(s[++i]);
      if (t < 0x40 || t == 0x7F || t > 0xFC) return false;
    } else if (c == 0x80 || c == 0xA0 || c >= 0xFD) {
      return false;
    }
  }
  return true;
}

// A name that may stand for one level of a path: no delimiter, and one Windows can hold.
bool IsUsableName(const std::string& s) {
  return s.size() <= kMaxNameBytes && LastDelimiter("\\/", s) == std::string::npos && CanWindowsHoldName(s);
}

// A name of another encoding in code page 932; empty when it has no exact form there.
std::string FromUtf8(const std::string& s) {
  const std::string cp = Utf8ToCp932(s);
  return Cp932ToUtf8(cp) == s ? cp : std::string();
}

std::string FromUcs2(const uint8_t* p, size_t n) {
  std::u16string u;
  for (size_t i = 0; i + 1 < n; i += 2) u += static_cast<char16_t>((p[i] << 8) | p[i + 1]);
  const size_t version = u.rfind(u';');
  if (version != std::u16string::npos) u.erase(version);
  while (!u.empty() && u.back() == u' ') u.pop_back();
  const std::string cp = Utf16ToCp932(u);
  return Cp932ToUtf16(cp) == u ? cp : std::string();
}

std::string PrimaryName(const uint8_t* p, size_t n) {
  std::string name(reinterpret_cast<const char*>(p), n);
  const size_t version = name.rfind(';');
  if (version != std::string::npos) name.erase(version);
  if (!name.empty() && name.back() == '.') name.pop_back();
  return IsCp932(name) ? name : std::string();
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

}  // namespace

bool IsDiscNameCp932(const std::string& s) { return IsCp932(s); }

namespace {

uint32_t DosTimeOf(const uint8_t* d) {
  const int year = 1900 + d[0];
  if (year < 1980 || year > 2107 || d[1] < 1 || d[1] > 12 || d[2] < 1 || d[2] > 31 || d[3] > 23 ||
      d[4] > 59 || d[5] > 59)
    return (1u << 21) | (1u << 16);  // 1980-01-01
  return (static_cast<uint32_t>(year - 1980) << 25) | (static_cast<uint32_t>(d[1]) << 21) |
         (static_cast<uint32_t>(d[2]) << 16) | (static_cast<uint32_t>(d[3]) << 11) |
         (static_cast<uint32_t>(d[4]) << 5) | (d[5] / 2u);
}

// What the Rock Ridge entries of one directory record say.
struct TRockRidge {
  std::string Name;
  bool HasName = false;
  bool Skip = false;     // a relocated folder, listed where its child link is
  bool NotFile = false;  // a symbolic link or a special file
  int64_t ChildLink = -1;
};

bool IsSync(const uint8_t* s) {
  if (s[0] != 0 || s[11] != 0) return false;
  for (int i = 1; i <= 10; ++i)
    if (s[i] != 0xFF) return false;
  return true;
}

}  // namespace

std::unique_ptr<TImageBytes> OpenImageBytes(TPlatform& platform, const std::string& path) {
  const uint32_t attr = platform.GetFileAttributes(path);
  if (attr != faInvalid && (attr & faDirectory)) throw EDiscError(path + ": is a folder, not an image");
  // Opening a pipe or a device could wait for ever for a writer.
  if (platform.GetFileKind(path) == TFileKind::Other)
    throw EDiscError(path + ": is a pipe, device or socket, not an image");
  const THandle h = platform.FileOpen(path, fmOpenRead | fmShareDenyWrite);
  if (h == kInvalidHandle) {
    const std::string reason = platform.LastErrorText();
    throw EDiscError(path + ": cannot be opened" + (reason.empty() ? "" : " (" + reason + ")"));
  }
  const int64_t size = platform.FileSeek(h, 0, TSeekOrigin::soEnd);
  if (size < 0) {
    platform.FileClose(h);
    throw EDiscError(path + ": cannot be read");
  }
  return std::make_unique<TFileImageBytes>(platform, h, size);
}

std::unique_ptr<TImageBytes> MemoryImageBytes(std::string bytes) {
  return std::make_unique<TMemoryImageBytes>(std::move(bytes));
}

TDiscImage::TDiscImage(std::unique_ptr<TImageBytes> bytes, std::string shown)
    : bytes_(std::move(bytes)), shown_(std::move(shown)) {}

void TDiscImage::Fail(const std::string& what) const { throw EDiscError(shown_ + ": " + what); }

std::unique_ptr<TDiscImage> TDiscImage::FromBytes(std::unique_ptr<TImageBytes> bytes,
                                                  const std::string& shown) {
  std::unique_ptr<TDiscImage> image(new TDiscImage(std::move(bytes), shown));
  uint8_t head[16] = {};
  TImageBytes& b = *image->bytes_;
  const bool raw = b.Size() >= 2352 && b.ReadAt(0, head, sizeof head) && IsSync(head);
  TDiscTrack track;
  track.Number = 1;
  if (raw) {
    track.Mode = head[15] == 2 ? TTrackMode::tmMode2_2352 : TTrackMode::tmMode1_2352;
    image->info_.Kind = "BIN";
  } else {
    track.Mode = TTrackMode::tmMode1_2048;
    image->info_.Kind = "ISO";
  }
  track.Index1 = track.Start = track.FileOffset = 0;
  track.Sectors = b.Size() / SectorSize(track.Mode);
  if (raw) image->info_.Tracks.push_back(track);
  image->map_.SectorSize = SectorSize(track.Mode);
  image->map_.UserOffset = UserOffset(track.Mode);
  image->map_.Mode = raw ? (track.Mode == TTrackMode::tmMode2_2352 ? 2 : 1) : 0;
  image->map_.Sectors = track.Sectors;
  image->Load();
  return image;
}

std::unique_ptr<TDiscImage> TDiscImage::FromTrack(std::unique_ptr<TImageBytes> bytes,
                                                  const std::string& shown, const std::string& kind,
                                                  const std::vector<TDiscTrack>& tracks, size_t data) {
  const TDiscTrack& track = tracks.at(data);
  std::unique_ptr<TDiscImage> image(new TDiscImage(std::move(bytes), shown));
  image->info_.Kind = kind;
  image->info_.Tracks = tracks;
  image->MapTrack(track);
  image->Load();
  return image;
}

std::unique_ptr<TDiscImage> TDiscImage::Open(TPlatform& platform, const std::string& path) {
  if (std::unique_ptr<TDiscImage> described = OpenDescribedImage(platform, path)) return described;
  if (LowerCaseAscii(ExtractFileExt(path)) != ".cue") return FromBytes(OpenImageBytes(platform, path), path);

  std::unique_ptr<TImageBytes> sheetBytes = OpenImageBytes(platform, path);
  if (sheetBytes->Size() > kMaxCueSheet) throw EDiscError(path + ": too large for a CUE sheet");
  std::string text(static_cast<size_t>(sheetBytes->Size()), '\0');
  if (!sheetBytes->ReadAt(0, text.data(), text.size())) throw EDiscError(path + ": cannot be read");
  TCueSheet sheet;
  try {
    sheet = ParseCueSheet(text);
  } catch (const EDiscError& e) {
    throw EDiscError(path + ": " + e.Message);
  }
  size_t data = 0;
  while (data < sheet.Tracks.size() && sheet.Tracks[data].Mode == TTrackMode::tmAudio) ++data;
  if (data == sheet.Tracks.size()) throw EDiscError(path + ": the CUE sheet has no data track");

  // Files are looked for beside the sheet, never outside its folder.
  const std::string folder = ExtractFilePath(path);
  auto fileOf = [&](int index) {
    const std::string& name = sheet.Files[static_cast<size_t>(index)];
    const std::string relative = ReplaceDelimiters(name, '\\');
    if (!IsSafeRelativeName(relative))
      throw EDiscError(path + ": the CUE sheet names a file outside its folder: " + name);
    // A link on the way could lead anywhere: never followed.
    for (size_t i = 0; i <= relative.size(); ++i) {
      if (i < relative.size() && !IsPathDelimiterAt(relative, i)) continue;
      if (platform.GetFileKind(folder + relative.substr(0, i)) == TFileKind::Link)
        throw EDiscError(path + ": the CUE sheet names a file through a link: " + name);
    }
    if (platform.GetFileKind(folder + relative) == TFileKind::Other)
      throw EDiscError(path + ": the CUE sheet names a pipe, device or socket, not a file: " + name);
    return folder + relative;
  };
  std::vector<std::unique_ptr<TImageBytes>> files;
  const int dataFile = sheet.Tracks[data].FileIndex;
  // Every file up to the data track's is opened: their lengths place the data track on the disc.
  int64_t fileBase = 0, pregaps = 0;
  for (int f = 0; f <= dataFile; ++f) {
    const std::string name = fileOf(f);
    try {
      files.push_back(OpenImageBytes(platform, name));
    } catch (const EDiscError& e) {
      throw EDiscError(path + ": the file " + sheet.Files[static_cast<size_t>(f)] +
                       " of the CUE sheet is missing or unreadable (" + e.Message + ")");
    }
    const int64_t size = files.back()->Size();
    int64_t byte = 0, frame = 0;
    TDiscTrack* previous = nullptr;
    for (TDiscTrack& t : sheet.Tracks) {
      if (t.FileIndex != f) continue;
      const int64_t start = t.Index0 >= 0 ? t.Index0 : t.Index1;
      if (previous) {
        previous->Sectors = start - previous->Index1;
        byte = previous->FileOffset + (start - previous->Index1) * SectorSize(previous->Mode);
        frame = start;
      } else {
        byte = start * SectorSize(t.Mode);  // sectors ahead of the first track, in its own mode
        frame = start;
      }
      t.FileOffset = byte + (t.Index1 - frame) * SectorSize(t.Mode);
      pregaps += t.Pregap;
      t.Start = fileBase + pregaps + t.Index1;
      previous = &t;
    }
    if (previous) {
      previous->Sectors = std::max<int64_t>(0, (size - previous->FileOffset) / SectorSize(previous->Mode));
      fileBase += previous->Index1 + previous->Sectors;
    }
    // Every track the sheet places in this file must lie in it.
    for (const TDiscTrack& t : sheet.Tracks)
      if (t.FileIndex == f && (t.FileOffset > size || t.Sectors > (size - t.FileOffset) / SectorSize(t.Mode)))
        throw EDiscError(path + ": " + sheet.Files[static_cast<size_t>(f)] +
                         " is shorter than the CUE sheet says (track " + std::to_string(t.Number) +
                         " does not fit in its " + std::to_string(size) + " bytes): a truncated BIN");
  }
  const TDiscTrack& track = sheet.Tracks[data];
  if (track.FileOffset > files.back()->Size())
    throw EDiscError(path + ": the data track starts past the end of " + sheet.Files[dataFile]);

  std::unique_ptr<TImageBytes> bytes = std::move(files.back());
  files.pop_back();
  std::unique_ptr<TDiscImage> image(new TDiscImage(std::move(bytes), path));
  image->keep_ = std::move(files);
  image->info_.Kind = "BIN/CUE";
  image->info_.Tracks = sheet.Tracks;
  image->MapTrack(track);
  image->Load();
  return image;
}

void TDiscImage::MapTrack(const TDiscTrack& track) {
  map_.ByteStart = track.FileOffset;
  map_.Base = track.Start;
  map_.SectorSize = SectorSize(track.Mode) + track.SubchannelBytes;
  map_.UserOffset = UserOffset(track.Mode);
  map_.Mode = track.Mode == TTrackMode::tmMode1_2352 ? 1 : track.Mode == TTrackMode::tmMode2_2352 ? 2 : 0;
  map_.Sectors = track.Sectors;
}

void TDiscImage::ReadSectors(int64_t sector, int64_t offsetInSector, void* buffer, size_t count) {
  const int64_t rel = sector - map_.Base;
  if (rel < 0 || rel > map_.Sectors) Fail("a sector outside the image was asked for");
  int64_t logical = rel * kSector + offsetInSector;
  if (logical < 0 || logical > map_.Sectors * kSector ||
      static_cast<int64_t>(count) > map_.Sectors * kSector - logical)
    Fail("the image ends before its data does (a truncated image?)");
  auto* out = static_cast<uint8_t*>(buffer);
  if (map_.SectorSize == kSector) {
    if (!bytes_->ReadAt(map_.ByteStart + logical, out, count))
      Fail("cannot be read at byte " + std::to_string(map_.ByteStart + logical));
    return;
  }
  std::vector<uint8_t> raw;
  while (count > 0) {
    const int64_t first = logical / kSector;
    const int64_t within = logical % kSector;
    const size_t sectors =
        std::min<size_t>(kRawBatch, static_cast<size_t>((within + count + kSector - 1) / kSector));
    raw.resize(sectors * static_cast<size_t>(map_.SectorSize));
    const int64_t at = map_.ByteStart + first * map_.SectorSize;
    if (!bytes_->ReadAt(at, raw.data(), raw.size()))
      Fail("cannot be read at byte " + std::to_string(at) + " (a truncated image?)");
    for (size_t s = 0; s < sectors && count > 0; ++s) {
      const uint8_t* r = raw.data() + s * static_cast<size_t>(map_.SectorSize);
      if (map_.Mode && (!IsSync(r) || r[15] != map_.Mode || (map_.Mode == 2 && (r[18] & 0x20))))
        Fail("sector " + std::to_string(map_.Base + first + static_cast<int64_t>(s)) +
             " is not a data sector of the track's mode");
      const size_t from = s == 0 ? static_cast<size_t>(within) : 0;
      const size_t n = std::min<size_t>(count, static_cast<size_t>(kSector) - from);
      std::memcpy(out, r + map_.UserOffset + from, n);
      out += n;
      count -= n;
      logical += static_cast<int64_t>(n);
    }
  }
}

void TDiscImage::Load() {
  if (map_.Sectors < 17) Fail("too small for a CD or DVD image");
  if (LoadUdf()) return;
  std::vector<uint8_t> primary, joliet;
  uint8_t d[kSector];
  for (int i = 0; i < kMaxDescriptors && 16 + i < map_.Sectors; ++i) {
    ReadSectors(map_.Base + 16 + i, 0, d, sizeof d);
    if (std::memcmp(d + 1, "CD001", 5) != 0) break;
    if (d[0] == 255) break;
    if (d[0] == 1 && primary.empty()) primary.assign(d, d + kSector);
    if (d[0] == 2 && joliet.empty() && d[88] == '%' && d[89] == '/' &&
        (d[90] == '@' || d[90] == 'C' || d[90] == 'E'))
      joliet.assign(d, d + kSector);
  }
  if (primary.empty()) Fail("not an ISO 9660 image (no primary volume descriptor)");
  if (Le16(&primary[128]) != kSector) Fail("logical blocks other than 2048 bytes are not supported");
  info_.Sectors = map_.Sectors;
  info_.Label = Trimmed(std::string(reinterpret_cast<const char*>(&primary[40]), 32));
  info_.Joliet = !joliet.empty();

  // The base of a later data track: its sectors are counted on the disc unless the tree says otherwise.
  const int64_t rootSector = Le32(&primary[156 + 2]) + primary[156 + 1];
  if (map_.Base > 0 && rootSector < map_.Base) map_.Base = 0;

  // Rock Ridge: the root's "." record begins its system use area with SUSP's "SP" entry.
  int64_t rrSkip = -1;
  {
    const int64_t rootLength = Le32(&primary[156 + 10]);
    if (rootLength >= 34) {
      uint8_t first[kSector];
      ReadSectors(rootSector, 0, first, sizeof first);
      const size_t len = first[0], nameLen = first[32];
      const size_t su = 33 + nameLen + (nameLen % 2 == 0 ? 1 : 0);
      if (len >= 34 && len <= kSector && su + 7 <= len && first[su] == 'S' && first[su + 1] == 'P' &&
          first[su + 4] == 0xBE && first[su + 5] == 0xEF) {
        rrSkip = first[su + 6];
        info_.RockRidge = true;
      }
    }
  }
  if (info_.Joliet) {
    const std::string label = FromUcs2(&joliet[40], 32);
    if (!Trimmed(label).empty()) info_.Label = Trimmed(label);
    info_.JolietNames = true;
    ReadTree(Le32(&joliet[156 + 2]) + joliet[156 + 1], Le32(&joliet[156 + 10]), true, -1);
  } else {
    ReadTree(rootSector, Le32(&primary[156 + 10]), false, rrSkip);
  }
}

void TDiscImage::ReadTree(int64_t rootSector, int64_t rootLength, bool joliet, int64_t rrSkip) {
  nodes_.clear();
  extents_.clear();
  TDiscNode root;
  root.Folder = true;
  nodes_.push_back(root);
  struct TPending {
    uint32_t Node;
    int64_t Sector, Length;
    int Depth;
  };
  std::vector<TPending> folders{{0, rootSector, rootLength, 0}};
  std::unordered_set<int64_t> seen{rootSector};
  int64_t directoryBytes = 0;
  const int64_t imageBytes = map_.Sectors * kSector;
  auto inside = [&](int64_t sector, int64_t length) {
    const int64_t rel = sector - map_.Base;
    return rel >= 0 && rel <= map_.Sectors && length <= imageBytes - rel * kSector;
  };

  // System use entries of one record, following continuation areas.
  auto readRockRidge = [&](const uint8_t* area, size_t n, TRockRidge& rr) {
    std::vector<uint8_t> more;
    for (int hops = 0;; ++hops) {
      int64_t ceSector = -1, ceOffset = 0, ceLength = 0;
      for (size_t i = 0; i + 4 <= n;) {
        const uint8_t* e = area + i;
        const size_t len = e[2];
        if (len < 4 || i + len > n) break;
        const char a = static_cast<char>(e[0]), b = static_cast<char>(e[1]);
        if (a == 'S' && b == 'T') break;
        if (a == 'N' && b == 'M' && len >= 5) {
          if (!(e[4] & 0x06)) {
            rr.Name.append(reinterpret_cast<const char*>(e + 5), len - 5);
            rr.HasName = true;
          }
        } else if (a == 'P' && b == 'X' && len >= 12) {
          const uint32_t type = Le32(e + 4) & 0170000;
          if (type != 0040000 && type != 0100000) rr.NotFile = true;
        } else if (a == 'S' && b == 'L') {
          rr.NotFile = true;
        } else if (a == 'C' && b == 'L' && len >= 12) {
          rr.ChildLink = Le32(e + 4);
        } else if (a == 'R' && b == 'E') {
          rr.Skip = true;
        } else if (a == 'C' && b == 'E' && len >= 28) {
          ceSector = Le32(e + 4);
          ceOffset = Le32(e + 12);
          ceLength = Le32(e + 20);
        }
        i += len;
      }
      if (ceSector < 0 || hops >= kMaxContinuations) return;
      if (ceOffset >= kSector || ceLength > kSector - ceOffset || !inside(ceSector, ceOffset + ceLength))
        return;
      more.resize(static_cast<size_t>(ceLength));
      ReadSectors(ceSector, ceOffset, more.data(), more.size());
      area = more.data();
      n = more.size();
    }
  };

  std::vector<uint8_t> data;
  for (size_t next = 0; next < folders.size(); ++next) {
    const TPending folder = folders[next];
    const std::string shownFolder = folder.Node ? PathOf(folder.Node) : std::string("the root folder");
    if (folder.Length < 0 || folder.Length > kMaxFolderBytes)
      Fail(shownFolder + ": the folder is larger than " + std::to_string(kMaxFolderBytes >> 20) + " MiB");
    if (!inside(folder.Sector, folder.Length))
      Fail(shownFolder + ": the folder lies past the end of the image");
    directoryBytes += folder.Length;
    if (directoryBytes > kMaxDirectoryBytes)
      Fail("the folders take more than " + std::to_string(kMaxDirectoryBytes >> 20) + " MiB");
    data.resize(static_cast<size_t>(folder.Length));
    ReadSectors(folder.Sector, 0, data.data(), data.size());

    const auto first = static_cast<uint32_t>(nodes_.size());
    nodes_[folder.Node].FirstChild = first;
    TNameClashSet names;
    bool continuing = false;  // the last file has more extents to come
    for (size_t pos = 0; pos < data.size();) {
      const size_t len = data[pos];
      if (len == 0) {
        pos = (pos / kSector + 1) * kSector;
        continue;
      }
      const uint8_t* r = &data[pos];
      const size_t nameLen = len >= 33 ? r[32] : 0;
      if (len < 34 || pos + len > data.size() || pos % kSector + len > kSector || 33 + nameLen > len)
        Fail(shownFolder + ": a damaged directory record");
      pos += len;
      if (nameLen == 1 && r[33] <= 1) continue;  // "." and ".."

      const uint8_t flags = r[25];
      const int64_t sector = static_cast<int64_t>(Le32(r + 2)) + r[1];
      const int64_t length = Le32(r + 10);
      std::string name;
      TRockRidge rr;
      if (rrSkip >= 0) {
        const size_t su = 33 + nameLen + (nameLen % 2 == 0 ? 1 : 0) + static_cast<size_t>(rrSkip);
        if (su < len) readRockRidge(r + su, len - su, rr);
      }
      if (rr.Skip) continue;
      if (joliet) {
        name = FromUcs2(r + 33, nameLen);
      } else if (rr.HasName) {
        name = IsAscii(rr.Name) ? rr.Name : FromUtf8(rr.Name);
        if (name.empty() && IsCp932(rr.Name)) name = rr.Name;
      } else {
        name = PrimaryName(r + 33, nameLen);
      }
      const bool isFolder = (flags & 0x02) != 0 || rr.ChildLink >= 0;
      if (continuing) {
        TDiscNode& last = nodes_.back();
        if (!isFolder && name == last.Name) {
          if (length > 0) {
            if (!inside(sector, length))
              Fail(PathOf(static_cast<uint32_t>(nodes_.size() - 1)) +
                   ": its data lies past the end of the image (a truncated image?)");
            extents_.push_back({sector, length});
            ++last.ExtentCount;
            last.Size += length;
          }
          continuing = (flags & 0x80) != 0;
          continue;
        }
        continuing = false;
      }
      if (!Admit(folder.Node, name, rr.NotFile, names)) continue;
      if (nodes_.size() >= kMaxNodes) Fail("more than " + std::to_string(kMaxNodes) + " files and folders");
      TDiscNode node;
      node.Name = name;
      node.Parent = folder.Node;
      node.Folder = isFolder;
      node.Hidden = (flags & 0x01) != 0;
      node.DosTime = DosTimeOf(r + 18);
      const auto index = static_cast<uint32_t>(nodes_.size());
      nodes_.push_back(node);
      ++nodes_[folder.Node].ChildCount;
      if (isFolder) {
        int64_t at = sector, size = length;
        if (rr.ChildLink >= 0) {
          // A relocated folder: its own "." record gives its length.
          at = rr.ChildLink;
          if (!inside(at, kSector)) Fail(PathOf(index) + ": the folder lies past the end of the image");
          uint8_t dot[34];
          ReadSectors(at, 0, dot, sizeof dot);
          size = Le32(dot + 10);
        }
        if (folder.Depth + 1 > kMaxDepth)
          Fail(PathOf(index) + ": folders nested deeper than " + std::to_string(kMaxDepth) + " levels");
        if (!seen.insert(at).second) Fail(PathOf(index) + ": a folder reached twice (a loop in the folders)");
        folders.push_back({index, at, size, folder.Depth + 1});
      } else {
        if (r[26] != 0 || r[27] != 0) Fail(PathOf(index) + ": interleaved files are not supported");
        nodes_[index].FirstExtent = static_cast<uint32_t>(extents_.size());
        if (length > 0) {
          if (!inside(sector, length))
            Fail(PathOf(index) + ": its data lies past the end of the image (a truncated image?)");
          extents_.push_back({sector, length});
          nodes_[index].ExtentCount = 1;
          nodes_[index].Size = length;
        }
        continuing = (flags & 0x80) != 0;
      }
    }
  }
}

bool TDiscImage::PlainRange(uint32_t node, int64_t offset, TPlainRange& range) const {
  const TDiscNode& n = nodes_.at(node);
  if (map_.SectorSize != kSector || !bytes_->Owner() || n.Folder || offset < 0 || offset >= n.Size)
    return false;
  int64_t start = 0;
  for (uint32_t e = n.FirstExtent; e < n.FirstExtent + n.ExtentCount; ++e) {
    const TExtent& x = extents_[e];
    if (offset < start + x.Length) {
      range.Owner = bytes_->Owner();
      range.Handle = bytes_->Handle();
      if (x.Sector < 0) return false;
      range.Offset = map_.ByteStart + (x.Sector - map_.Base) * kSector + x.Skip + (offset - start);
      range.Length = start + x.Length - offset;
      return true;
    }
    start += x.Length;
  }
  return false;
}

void TDiscImage::ReadTrack(int64_t offset, void* buffer, size_t count) {
  if (offset < 0) Fail("a sector outside the image was asked for");
  ReadSectors(map_.Base + offset / kSector, offset % kSector, buffer, count);
}

bool TDiscImage::Admit(uint32_t folder, const std::string& name, bool notFile, TNameClashSet& names) {
  if (notFile || !IsUsableName(name)) {
    LeaveOut(folder, name, notFile ? "not a file or folder" : "a name Windows cannot hold");
    return false;
  }
  const std::string clash = names.Add(name);
  if (clash.empty()) return true;
  LeaveOut(folder, name, "the same name to Windows as " + clash);
  return false;
}

void TDiscImage::LeaveOut(uint32_t folder, const std::string& name, const std::string& why) {
  ++info_.LeftOut;
  const std::string shown = name.empty() ? std::string("(a name with no code page 932 form)") : name;
  info_.LeftOutLines.push_back(folder ? PathOf(folder) + "\\" + shown : shown);
  info_.LeftOutLines.back() += ": left out, " + why;
}

std::string TDiscImage::PathOf(uint32_t index) const {
  std::string path;
  for (int guard = 0; index != 0 && index < nodes_.size() && guard <= kMaxDepth; ++guard) {
    path = path.empty() ? nodes_[index].Name : nodes_[index].Name + "\\" + path;
    index = nodes_[index].Parent;
  }
  return path;
}

size_t TDiscImage::Read(uint32_t node, int64_t offset, void* buffer, size_t count) {
  const TDiscNode& n = nodes_.at(node);
  if (n.Folder || offset < 0 || offset >= n.Size) return 0;
  count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), n.Size - offset));
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  int64_t start = 0;
  for (uint32_t e = n.FirstExtent; e < n.FirstExtent + n.ExtentCount && done < count; ++e) {
    const TExtent& x = extents_[e];
    const int64_t at = offset + static_cast<int64_t>(done);
    if (at < start + x.Length) {
      const size_t piece =
          static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count - done), start + x.Length - at));
      if (x.Sector < 0)
        std::memset(out + done, 0, piece);
      else
        ReadSectors(x.Sector, x.Skip + at - start, out + done, piece);
      done += piece;
    }
    start += x.Length;
  }
  return done;
}

}  // namespace vr
