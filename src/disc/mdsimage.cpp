// Alcohol's MDS descriptor, versions 1.x (little-endian). A header of 0x58 bytes points to the session
// blocks (24 bytes each); each session points to its track blocks (80 bytes each), one for every TOC
// entry of the session. Entries with point 1..99 are tracks: their mode, sector size (2048, 2352, or 2448
// with 96 bytes of subchannel data), first sector, byte offset in the MDF, an extra block with the pregap
// and the length, and a file name block naming the MDF ("*.mdf": the descriptor's own name).
#include <cstdio>

#include "disc/bytefields.h"
#include "disc/describedimage.h"
#include "platform/codepage.h"
#include "platform/dbcspath.h"

namespace vr {
namespace {

constexpr size_t kHeader = 0x58;
constexpr size_t kSessionBlock = 24;
constexpr size_t kTrackBlock = 80;
constexpr size_t kMaxSessions = 99;
constexpr size_t kMaxNameBytes = 1024;

// The bytes of a descriptor, every read checked against its end.
class TFields {
 public:
  explicit TFields(const std::string& bytes) : bytes_(bytes) {}
  const uint8_t* At(uint64_t offset, uint64_t count, const char* what) const {
    if (offset > bytes_.size() || count > bytes_.size() - offset)
      throw EDiscError(std::string("the descriptor's ") + what + " lies past its end");
    return reinterpret_cast<const uint8_t*>(bytes_.data()) + offset;
  }
  size_t Size() const { return bytes_.size(); }

 private:
  const std::string& bytes_;
};

TTrackMode ModeOf(uint8_t mode, uint16_t sectorSize, int& subchannel) {
  subchannel = 0;
  const int kind = mode & 0x0F;
  if (sectorSize == 2048) return TTrackMode::tmMode1_2048;
  if (sectorSize == 2336) return TTrackMode::tmMode2_2336;
  if (sectorSize != 2352 && sectorSize != 2448)
    throw EDiscError("sectors of " + std::to_string(sectorSize) + " bytes are not supported");
  if (sectorSize == 2448) subchannel = 96;
  if (kind == 0x9) return TTrackMode::tmAudio;
  if (kind == 0xA) return TTrackMode::tmMode1_2352;
  if (kind >= 0xB && kind <= 0xD) return TTrackMode::tmMode2_2352;
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", mode);
  throw EDiscError(std::string("track mode ") + hex + " is not supported");
}

std::string FileName(const TFields& f, const uint8_t* block, const std::string& mdsName) {
  const uint32_t at = LeField32(block);
  const bool wide = block[4] != 0;
  std::string name;
  if (wide) {
    std::u16string u;
    for (uint64_t i = at;; i += 2) {
      const uint8_t* c = f.At(i, 2, "file name");
      if (!c[0] && !c[1]) break;
      if (u.size() >= kMaxNameBytes / 2) throw EDiscError("the MDF's name is too long");
      u += static_cast<char16_t>(LeField16(c));
    }
    name = Utf16ToCp932(u);
    if (Cp932ToUtf16(name) != u) throw EDiscError("the MDF's name has characters code page 932 cannot hold");
  } else {
    for (uint64_t i = at;; ++i) {
      const char c = static_cast<char>(*f.At(i, 1, "file name"));
      if (!c) break;
      if (name.size() >= kMaxNameBytes) throw EDiscError("the MDF's name is too long");
      name += c;
    }
  }
  if (name.empty()) return ChangeFileExt(mdsName, ".mdf");
  if (name.size() >= 2 && name[0] == '*' && name[1] == '.') return ChangeFileExt(mdsName, name.substr(1));
  return name;
}

}  // namespace

TImageLayout ParseMds(const std::string& bytes, const std::string& mdsName) {
  TFields f(bytes);
  if (bytes.size() < kHeader || bytes.compare(0, 16, "MEDIA DESCRIPTOR") != 0)
    throw EDiscError("not an MDS descriptor");
  const uint8_t* h = f.At(0, kHeader, "header");
  if (h[16] != 1) throw EDiscError("MDS version " + std::to_string(h[16]) + " is not supported (1.x only)");
  const size_t sessions = LeField16(h + 0x14);
  if (sessions == 0 || sessions > kMaxSessions)
    throw EDiscError("an impossible count of sessions: " + std::to_string(sessions));
  TImageLayout layout;
  layout.Kind = "MDS/MDF";
  for (size_t s = 0; s < sessions; ++s) {
    const uint8_t* session =
        f.At(uint64_t{LeField32(h + 0x50)} + s * kSessionBlock, kSessionBlock, "session");
    const size_t blocks = session[0x0A];
    const uint64_t first = LeField32(session + 0x14);
    for (size_t b = 0; b < blocks; ++b) {
      const uint8_t* t = f.At(first + b * kTrackBlock, kTrackBlock, "track list");
      const uint8_t point = t[4];
      if (point < 1 || point > 99) continue;  // lead-in entries A0, A1, A2
      if (layout.Tracks.size() >= kMaxDescribedTracks)
        throw EDiscError("more than " + std::to_string(kMaxDescribedTracks) + " tracks");
      TDiscTrack track;
      track.Number = point;
      track.Mode = ModeOf(t[0], LeField16(t + 0x10), track.SubchannelBytes);
      track.Index1 = 0;
      track.Start = LeField32(t + 0x24);
      track.FileOffset = static_cast<int64_t>(LeField64(t + 0x28) & (~uint64_t{0} >> 1));
      if (const uint32_t extra = LeField32(t + 0x0C)) {
        const uint8_t* e = f.At(extra, 8, "track length");
        track.Pregap = LeField32(e);
        if (const uint32_t length = LeField32(e + 4)) track.Sectors = length;
      }
      if (layout.DataFile.empty() && LeField32(t + 0x30) > 0 && LeField32(t + 0x34) > 0)
        layout.DataFile = FileName(f, f.At(LeField32(t + 0x34), 16, "file name"), mdsName);
      layout.Tracks.push_back(track);
    }
  }
  if (layout.DataFile.empty()) layout.DataFile = ChangeFileExt(mdsName, ".mdf");
  return layout;
}

}  // namespace vr
