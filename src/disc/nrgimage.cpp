// Nero's NRG image: the sectors first, then chunks (a four-letter id, a big-endian 32-bit length, the
// data), then a footer pointing to the first chunk: "NERO" with a 32-bit offset (version 1) or "NER5" with
// a 64-bit offset (version 2). The tracks come from the disc-at-once chunks ("DAOI", "DAOX": per track its
// sector size, mode and the byte offsets of INDEX 00, INDEX 01 and its end) or from the track-at-once
// chunks ("ETNF", "ETN2": per track its byte offset, byte length, mode and first sector). Every field is
// big-endian.
#include <cstring>

#include "disc/bytefields.h"
#include "disc/describedimage.h"

namespace vr {
namespace {

constexpr int kMaxChunks = 1024;
constexpr uint32_t kMaxTrackChunk = 64 << 10;
constexpr size_t kDaoHeader = 22;
constexpr int kAudioMode = 7;

int SectorBytesOfMode(uint32_t mode) {
  switch (mode) {
    case 0:
    case 2:
      return 2048;
    case 3:
      return 2336;
    case 5:
    case 6:
    case 7:
      return 2352;
    default:
      return 0;
  }
}

// The mode of a track of `sectorBytes`-byte sectors; raw data sectors are told apart by their header.
TTrackMode ModeOf(TImageBytes& bytes, uint32_t mode, int sectorBytes, int64_t firstByte, int& subchannel) {
  subchannel = 0;
  switch (sectorBytes) {
    case 2048:
      return TTrackMode::tmMode1_2048;
    case 2336:
      return TTrackMode::tmMode2_2336;
    case 2448:
      subchannel = 96;
      [[fallthrough]];
    case 2352: {
      if (mode == kAudioMode) return TTrackMode::tmAudio;
      uint8_t header[16] = {};
      if (bytes.ReadAt(firstByte, header, sizeof header) && header[15] == 2) return TTrackMode::tmMode2_2352;
      return TTrackMode::tmMode1_2352;
    }
    default:
      throw EDiscError("sectors of " + std::to_string(sectorBytes) + " bytes are not supported");
  }
}

}  // namespace

TImageLayout ReadNrgLayout(TImageBytes& bytes) {
  const int64_t size = bytes.Size();
  uint8_t tail[12] = {};
  int64_t chunks = -1, chunkEnd = 0;
  if (size >= 12 && bytes.ReadAt(size - 12, tail, 12) && std::memcmp(tail, "NER5", 4) == 0) {
    chunks = static_cast<int64_t>(BeField64(tail + 4) & (~uint64_t{0} >> 1));
    chunkEnd = size - 12;
  } else if (size >= 8 && std::memcmp(tail + 4, "NERO", 4) == 0) {
    chunks = BeField32(tail + 8);
    chunkEnd = size - 8;
  } else {
    throw EDiscError("not an NRG image (no NERO or NER5 footer at its end; a truncated image?)");
  }
  if (chunks > chunkEnd) throw EDiscError("the NRG footer points past the end of the image");

  TImageLayout layout;
  layout.Kind = "NRG";
  int64_t nextStart = 0;  // disc sector after the last track laid out
  auto add = [&](TDiscTrack track) {
    if (layout.Tracks.size() >= kMaxDescribedTracks)
      throw EDiscError("more than " + std::to_string(kMaxDescribedTracks) + " tracks");
    track.Number = static_cast<int>(layout.Tracks.size()) + 1;
    layout.Tracks.push_back(track);
  };
  std::string data;
  int64_t at = chunks;
  for (int n = 0;; ++n) {
    if (n >= kMaxChunks)
      throw EDiscError("more than " + std::to_string(kMaxChunks) + " chunks in the NRG image");
    uint8_t head[8];
    if (at > chunkEnd - 8 || !bytes.ReadAt(at, head, sizeof head))
      throw EDiscError("the NRG chunks run into the footer (a damaged image?)");
    const std::string id(reinterpret_cast<const char*>(head), 4);
    const uint32_t length = BeField32(head + 4);
    if (id == "END!") break;
    if (length > chunkEnd - at - 8)
      throw EDiscError("the NRG chunk " + id + " runs past the end of the image");
    const bool dao = id == "DAOI" || id == "DAOX", etn = id == "ETNF" || id == "ETN2";
    if (dao || etn) {
      if (length > kMaxTrackChunk) throw EDiscError("the NRG chunk " + id + " is too large");
      data.resize(length);
      if (!bytes.ReadAt(at + 8, data.data(), data.size())) throw EDiscError("the NRG image cannot be read");
      const auto* d = reinterpret_cast<const uint8_t*>(data.data());
      const bool wide = id == "DAOX" || id == "ETN2";
      if (dao) {
        const size_t entry = wide ? 42 : 30;
        if (length < kDaoHeader + entry || (length - kDaoHeader) % entry)
          throw EDiscError("the NRG chunk " + id + " has a damaged track list");
        for (size_t e = kDaoHeader; e < length; e += entry) {
          const uint8_t* t = d + e;
          auto offset = [&](int i) {
            return wide ? static_cast<int64_t>(BeField64(t + 18 + 8 * i) & (~uint64_t{0} >> 1))
                        : int64_t{BeField32(t + 18 + 4 * i)};
          };
          const int64_t index0 = offset(0), index1 = offset(1), end = offset(2);
          const int sectorBytes = BeField16(t + 12);
          if (index0 > index1 || index1 > end)
            throw EDiscError("track " + std::to_string(layout.Tracks.size() + 1) +
                             " of the NRG image ends before it starts");
          TDiscTrack track;
          track.Mode = ModeOf(bytes, t[14], sectorBytes, index1, track.SubchannelBytes);
          const int64_t sectorSize = SectorSize(track.Mode) + track.SubchannelBytes;
          track.Index1 = 0;
          track.FileOffset = index1;
          track.Pregap = (index1 - index0) / sectorSize;
          track.Start = layout.Tracks.empty() ? 0 : nextStart + track.Pregap;
          track.Sectors = (end - index1) / sectorSize;
          nextStart = track.Start + track.Sectors;
          add(track);
        }
      } else {
        const size_t entry = wide ? 32 : 20;
        if (length == 0 || length % entry)
          throw EDiscError("the NRG chunk " + id + " has a damaged track list");
        for (size_t e = 0; e < length; e += entry) {
          const uint8_t* t = d + e;
          const int64_t offset =
              wide ? static_cast<int64_t>(BeField64(t) & (~uint64_t{0} >> 1)) : BeField32(t);
          const int64_t bytesOfTrack =
              wide ? static_cast<int64_t>(BeField64(t + 8) & (~uint64_t{0} >> 1)) : BeField32(t + 4);
          const uint32_t mode = BeField32(t + (wide ? 16 : 8));
          const int sectorBytes = SectorBytesOfMode(mode);
          if (!sectorBytes)
            throw EDiscError("track mode " + std::to_string(mode) + " of the NRG image is not supported");
          TDiscTrack track;
          track.Mode = ModeOf(bytes, mode, sectorBytes, offset, track.SubchannelBytes);
          track.Index1 = 0;
          track.FileOffset = offset;
          track.Start = BeField32(t + (wide ? 20 : 12));
          track.Sectors = bytesOfTrack / sectorBytes;
          add(track);
        }
      }
    }
    at += 8 + int64_t{length};
  }
  if (layout.Tracks.empty()) throw EDiscError("the NRG image lists no track");
  return layout;
}

}  // namespace vr
