// Writers of MDS/MDF, CCD/IMG/SUB and NRG images around an ISO 9660 image of 2048-byte sectors, laid out
// as the burning tools lay them out: one data track (2048, 2352 or 2448-byte sectors), optionally followed
// by an audio track of silence. Used for the reader's tests, the fuzz seeds and, through vrtool's tests,
// for installs from each format; the bytes are checked by independent converters where the machine has
// them.
#pragma once

#include <cstdint>
#include <string>

namespace vrtest {

inline void PutLe(std::string& s, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
inline void PutBe(std::string& s, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * (bytes - 1 - i)));
}
inline std::string Be(uint64_t v, int bytes) {
  std::string s(static_cast<size_t>(bytes), '\0');
  PutBe(s, 0, v, bytes);
  return s;
}

// The 2048-byte sectors of `iso` as raw sectors of `mode` (1, or 2 form 1) with sync, header (address in
// BCD minutes, seconds, frames from sector `first`) and user data; EDC/ECC are left zero. Each sector is
// followed by `subchannel` zero bytes.
inline std::string RawSectors(const std::string& iso, int mode, int subchannel = 0, int64_t first = 0) {
  auto bcd = [](int64_t v) { return static_cast<char>(((v / 10) << 4) | (v % 10)); };
  std::string out;
  out.reserve(iso.size() / 2048 * static_cast<size_t>(2352 + subchannel));
  for (size_t s = 0; s < iso.size() / 2048; ++s) {
    std::string sector(static_cast<size_t>(2352 + subchannel), '\0');
    sector.replace(1, 10, std::string(10, '\xFF'));
    const int64_t address = first + static_cast<int64_t>(s) + 150;
    sector[12] = bcd(address / 75 / 60);
    sector[13] = bcd(address / 75 % 60);
    sector[14] = bcd(address % 75);
    sector[15] = static_cast<char>(mode);
    sector.replace(mode == 1 ? 16 : 24, 2048, iso.substr(s * 2048, 2048));
    out += sector;
  }
  return out;
}

// The data track in its sector form: 2048 (as it is), 2352 (raw, mode 1) or 2448 (raw with subchannel).
inline std::string TrackBytes(const std::string& iso, int sectorBytes) {
  if (sectorBytes == 2048) return iso;
  return RawSectors(iso, 1, sectorBytes - 2352);
}

struct TMdsImage {
  std::string Mds, Mdf;
};

// An MDS 1.3 descriptor and its MDF. `mdfName` is written into the descriptor ("*.mdf": the descriptor's
// own name).
inline TMdsImage MakeMds(const std::string& iso, int sectorBytes, int64_t audioSectors = 0,
                         const std::string& mdfName = "*.mdf") {
  TMdsImage image;
  const int64_t dataSectors = static_cast<int64_t>(iso.size() / 2048);
  image.Mdf = TrackBytes(iso, sectorBytes);
  const int audioBytes = sectorBytes == 2448 ? 2448 : 2352;
  image.Mdf += std::string(static_cast<size_t>(audioSectors * audioBytes), '\0');
  const int tracks = audioSectors ? 2 : 1;
  const size_t sessionAt = 0x58, trackAt = 0x70, extraAt = trackAt + (3 + tracks) * 80,
               nameBlockAt = extraAt + 8 * tracks, nameAt = nameBlockAt + 16;
  std::string& m = image.Mds;
  m.assign(nameAt, '\0');
  m.replace(0, 16, "MEDIA DESCRIPTOR");
  m[16] = 1;
  m[17] = 3;
  PutLe(m, 0x12, sectorBytes == 2048 ? 0x10 : 0, 2);  // a DVD, else a CD
  PutLe(m, 0x14, 1, 2);
  PutLe(m, 0x50, sessionAt, 4);
  PutLe(m, sessionAt + 0, static_cast<uint32_t>(-150), 4);
  PutLe(m, sessionAt + 4, static_cast<uint64_t>(dataSectors + audioSectors), 4);
  PutLe(m, sessionAt + 8, 1, 2);
  m[sessionAt + 0x0A] = static_cast<char>(3 + tracks);
  m[sessionAt + 0x0B] = 3;
  PutLe(m, sessionAt + 0x0C, 1, 2);
  PutLe(m, sessionAt + 0x0E, static_cast<uint64_t>(tracks), 2);
  PutLe(m, sessionAt + 0x14, trackAt, 4);
  for (int e = 0; e < 3; ++e) {  // the lead-in entries A0 (first track), A1 (last track), A2 (lead-out)
    const size_t b = trackAt + static_cast<size_t>(e) * 80;
    m[b + 2] = 0x14;
    m[b + 4] = static_cast<char>(0xA0 + e);
    m[b + 9] = static_cast<char>(e == 0 ? 1 : e == 1 ? tracks : 0);
  }
  for (int t = 0; t < tracks; ++t) {
    const bool audio = t == 1;
    const size_t b = trackAt + static_cast<size_t>(3 + t) * 80;
    m[b + 0] = static_cast<char>(audio ? 0xA9 : sectorBytes == 2048 ? 0x02 : 0xAA);
    m[b + 1] = static_cast<char>(sectorBytes == 2448 ? 0x08 : 0);
    m[b + 2] = static_cast<char>(audio ? 0x10 : 0x14);
    m[b + 4] = static_cast<char>(t + 1);
    PutLe(m, b + 0x0C, extraAt + static_cast<size_t>(t) * 8, 4);
    PutLe(m, b + 0x10, static_cast<uint64_t>(audio ? audioBytes : sectorBytes), 2);
    PutLe(m, b + 0x24, static_cast<uint64_t>(audio ? dataSectors : 0), 4);
    PutLe(m, b + 0x28, audio ? static_cast<uint64_t>(dataSectors) * static_cast<uint64_t>(sectorBytes) : 0,
          8);
    PutLe(m, b + 0x30, 1, 4);
    PutLe(m, b + 0x34, nameBlockAt, 4);
    PutLe(m, extraAt + static_cast<size_t>(t) * 8, audio || sectorBytes == 2048 ? 0 : 150, 4);
    PutLe(m, extraAt + static_cast<size_t>(t) * 8 + 4,
          static_cast<uint64_t>(audio ? audioSectors : dataSectors), 4);
  }
  PutLe(m, nameBlockAt, nameAt, 4);
  m += mdfName + '\0';
  return image;
}

struct TCcdImage {
  std::string Ccd, Img, Sub;
};

// A CloneCD control file (version 3), its IMG of raw 2352-byte sectors and its SUB of 96 bytes a sector.
inline TCcdImage MakeCcd(const std::string& iso, int64_t audioSectors = 0) {
  TCcdImage image;
  const int64_t dataSectors = static_cast<int64_t>(iso.size() / 2048);
  image.Img = RawSectors(iso, 1) + std::string(static_cast<size_t>(audioSectors * 2352), '\0');
  image.Sub.assign(static_cast<size_t>((dataSectors + audioSectors) * 96), '\0');
  const int tracks = audioSectors ? 2 : 1;
  const int64_t leadOut = dataSectors + audioSectors;
  std::string& c = image.Ccd;
  c = "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=" + std::to_string(3 + tracks) +
      "\r\nSessions=1\r\nDataTracksScrambled=0\r\nCDTextLength=0\r\n[Session "
      "1]\r\nPreGapMode=1\r\nPreGapSubC=0\r\n";
  auto entry = [&](int n, const std::string& point, int control, int pmin, int psec, int pframe,
                   int64_t plba) {
    c += "[Entry " + std::to_string(n) + "]\r\nSession=1\r\nPoint=" + point + "\r\nADR=0x01\r\nControl=0x0" +
         std::to_string(control) +
         "\r\nTrackNo=0\r\nAMin=0\r\nASec=0\r\nAFrame=0\r\nALBA=-150\r\nZero=0\r\nPMin=" +
         std::to_string(pmin) + "\r\nPSec=" + std::to_string(psec) + "\r\nPFrame=" + std::to_string(pframe) +
         "\r\nPLBA=" + std::to_string(plba) + "\r\n";
  };
  auto msf = [](int64_t lba, int part) {
    const int64_t a = lba + 150;
    return static_cast<int>(part == 0 ? a / 4500 : part == 1 ? a / 75 % 60 : a % 75);
  };
  entry(0, "0xa0", 4, 1, 0, 0, 4350);
  entry(1, "0xa1", audioSectors ? 0 : 4, tracks, 0, 0, tracks * 4500 - 150);
  entry(2, "0xa2", audioSectors ? 0 : 4, msf(leadOut, 0), msf(leadOut, 1), msf(leadOut, 2), leadOut);
  entry(3, "0x01", 4, 0, 2, 0, 0);
  if (audioSectors)
    entry(4, "0x02", 0, msf(dataSectors, 0), msf(dataSectors, 1), msf(dataSectors, 2), dataSectors);
  c += "[TRACK 1]\r\nMODE=1\r\nINDEX 1=0\r\n";
  if (audioSectors) c += "[TRACK 2]\r\nMODE=0\r\nINDEX 1=" + std::to_string(dataSectors) + "\r\n";
  return image;
}

// An NRG image of `version` 1 ("NERO", DAOI and CUES chunks) or 2 ("NER5", DAOX and CUEX chunks) with its
// data track in 2048 or 2352-byte sectors after a pregap of 150 sectors.
inline std::string MakeNrg(const std::string& iso, int version, int sectorBytes, int64_t audioSectors = 0) {
  const bool v2 = version == 2;
  const int64_t dataSectors = static_cast<int64_t>(iso.size() / 2048);
  std::string out(static_cast<size_t>(150 * sectorBytes), '\0');
  const int64_t index1 = static_cast<int64_t>(out.size());
  out += TrackBytes(iso, sectorBytes);
  const int64_t dataEnd = static_cast<int64_t>(out.size());
  out += std::string(static_cast<size_t>(audioSectors * 2352), '\0');
  const int tracks = audioSectors ? 2 : 1;
  const int64_t chunks = static_cast<int64_t>(out.size());

  auto chunk = [&](const std::string& id, const std::string& body) { out += id + Be(body.size(), 4) + body; };
  // The cue: lead-in, each track's INDEX 00 and 01, lead-out; addresses in sectors (v2) or BCD MSF (v1).
  std::string cue;
  auto point = [&](int control, int track, int index, int64_t lba) {
    cue += static_cast<char>(control);
    cue += static_cast<char>(((track / 10) << 4) | (track % 10));
    cue += static_cast<char>(index);
    cue += '\0';
    if (v2) {
      cue += Be(static_cast<uint32_t>(lba), 4);
    } else {
      const int64_t a = lba + 150;
      cue += '\0';
      for (int64_t part : {a / 4500, a / 75 % 60, a % 75})
        cue += static_cast<char>(((part / 10) << 4) | (part % 10));
    }
  };
  point(0x41, 0, 0, -150);
  point(0x41, 1, 0, -150);
  point(0x41, 1, 1, 0);
  if (audioSectors) {
    point(0x01, 2, 0, dataSectors);
    point(0x01, 2, 1, dataSectors);
  }
  point(0x01, 0xAA, 1, dataSectors + audioSectors);
  chunk(v2 ? "CUEX" : "CUES", cue);

  std::string dao(22, '\0');
  dao[20] = 1;
  dao[21] = static_cast<char>(tracks);
  auto daoTrack = [&](int size, int mode, int64_t i0, int64_t i1, int64_t end) {
    std::string t(12, '\0');
    t += Be(static_cast<uint64_t>(size), 2);
    t += static_cast<char>(mode);
    t += std::string(3, '\0');
    for (int64_t v : {i0, i1, end}) t += Be(static_cast<uint64_t>(v), v2 ? 8 : 4);
    dao += t;
  };
  daoTrack(sectorBytes, sectorBytes == 2048 ? 0x00 : 0x05, 0, index1, dataEnd);
  if (audioSectors) daoTrack(2352, 0x07, dataEnd, dataEnd, dataEnd + audioSectors * 2352);
  PutBe(dao, 0, dao.size(), 4);
  chunk(v2 ? "DAOX" : "DAOI", dao);
  chunk("SINF", Be(static_cast<uint64_t>(tracks), 4));
  if (v2) chunk("MTYP", Be(1, 4));
  chunk("END!", "");
  out += v2 ? "NER5" + Be(static_cast<uint64_t>(chunks), 8) : "NERO" + Be(static_cast<uint64_t>(chunks), 4);
  return out;
}

}  // namespace vrtest
