#include "rawarchive.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

#include "archive/scrambles.h"
#include "framework/classes.h"

namespace vrtest {

std::string Deflate(const std::string& bytes) {
  uLongf len = compressBound(static_cast<uLong>(bytes.size()));
  std::string out(len, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &len, reinterpret_cast<const Bytef*>(bytes.data()),
                static_cast<uLong>(bytes.size()), Z_DEFAULT_COMPRESSION) != Z_OK) {
    throw std::runtime_error("compress2 failed");
  }
  out.resize(len);
  return out;
}

uint32_t Crc32(const std::string& bytes) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

namespace {

std::string Scramble(const std::string& payload, uint32_t seed) {
  vr::TMemoryStream m;
  if (!payload.empty()) m.WriteBuffer(payload.data(), static_cast<int32_t>(payload.size()));
  int32_t block = std::min<int32_t>(std::max<int32_t>(static_cast<int32_t>(payload.size() / 100), 256), 4096);
  vr::ScrambleStream(m, block, seed, true);
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Put64(std::string& s, uint64_t v) {
  Put32(s, static_cast<uint32_t>(v));
  Put32(s, static_cast<uint32_t>(v >> 32));
}

constexpr uint32_t kDirectoryKey = 1384720569u;

// The directory bytes for entries whose stored bytes start at dataStart (relative to the archive start).
std::string Directory(int version, const std::vector<RawEntry>& entries,
                      const std::vector<std::string>& stored, uint64_t dataStart) {
  std::string d;
  if (version != 0) {
    d += "vf";
    Put32(d, static_cast<uint32_t>(version));
  }
  Put32(d, static_cast<uint32_t>(entries.size()));
  uint32_t state = 0;
  for (const auto& e : entries) {
    Put32(d, static_cast<uint32_t>(e.Name.size()));
    for (char c : e.Name) {
      if (version >= 100) {
        state = state * 5 + kDirectoryKey;
        c = static_cast<char>(static_cast<uint8_t>(c) ^ (state & 0xFF));
      }
      d += c;
    }
  }
  state = 0;
  uint64_t offset = dataStart;
  for (size_t i = 0; i <= entries.size(); ++i) {
    uint64_t v = offset;
    if (version >= 100) {
      state = state * 5 + kDirectoryKey;
      uint64_t key = state;
      if (version >= 101 && (state & 0x80000000u)) key |= 0xFFFFFFFF00000000ull;
      v ^= key;
    }
    if (version >= 101) {
      Put64(d, v);
    } else {
      Put32(d, static_cast<uint32_t>(v));
    }
    if (i < entries.size()) offset += stored[i].size();
  }
  if (version >= 101) {
    for (const auto& e : entries) d += static_cast<char>(e.Kind);
    for (const auto& e : entries) Put32(d, static_cast<uint32_t>(e.Time));
    for (size_t i = 0; i < entries.size(); ++i) {
      const RawEntry& e = entries[i];
      uint32_t crc = 0;
      switch (e.CrcRule) {
        case RawEntry::Crc::Stored:
          crc = Crc32(stored[i]);
          break;
        case RawEntry::Crc::Content:
          crc = Crc32(e.Content);
          break;
        case RawEntry::Crc::None:
          crc = 0;
          break;
        case RawEntry::Crc::Wrong:
          crc = Crc32(stored[i]) ^ 0x5A5A5A5Au;
          break;
      }
      Put32(d, crc);
    }
  }
  if (version >= 102) {
    for (const auto& e : entries) d += static_cast<char>(e.Separate);
  }
  return d;
}

std::vector<std::string> AllStored(int version, const std::vector<RawEntry>& entries) {
  std::vector<std::string> stored;
  for (RawEntry e : entries) {
    if (version < 101) e.Kind = 0;  // older directories hold only compressed entries
    stored.push_back(StoredBytes(e));
  }
  return stored;
}

}  // namespace

std::string StoredBytes(const RawEntry& e) {
  switch (e.Kind) {
    case 0:
      return Deflate(e.Content);
    case 2:
      return Scramble(e.Content, e.Seed);
    case 3:
      return Scramble(Deflate(e.Content), e.Seed);
    default:
      return e.Content;
  }
}

std::string BuildArchive(int version, const std::vector<RawEntry>& entries) {
  std::vector<std::string> stored = AllStored(version, entries);
  // The directory's size does not depend on the offsets' values.
  size_t dirSize = Directory(version, entries, stored, 0).size();
  std::string out = Directory(version, entries, stored, dirSize);
  for (const auto& s : stored) out += s;
  return out;
}

void BuildSplitArchive(int version, const std::vector<RawEntry>& entries, std::string& directory,
                       std::string& data) {
  std::vector<std::string> stored = AllStored(version, entries);
  directory = Directory(version, entries, stored, 0);
  data.clear();
  for (const auto& s : stored) data += s;
}

std::string AppendToProgram(const std::string& program, const std::string& archive) {
  std::string out = program + archive;
  Put32(out, static_cast<uint32_t>(program.size()));
  out += "rv";
  return out;
}

std::string BuildPeWithResource(const std::string& payload) {
  auto put16 = [](std::string& s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
  };
  auto put32 = [](std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  const uint32_t kRva = 0x1000, kRaw = 0x200;
  // Resource section: root (type) -> "BINTYPE" -> "DUMMY" -> language 0x411 -> data.
  std::string rs(120, '\0');
  put16(rs, 12, 1);                  // root: one named entry
  put32(rs, 16, 0x80000000u | 88);   // name "BINTYPE"
  put32(rs, 20, 0x80000000u | 24);   // -> name directory
  put16(rs, 24 + 12, 1);             // name directory: one named entry
  put32(rs, 40, 0x80000000u | 104);  // name "DUMMY"
  put32(rs, 44, 0x80000000u | 48);   // -> language directory
  put16(rs, 48 + 14, 1);             // language directory: one id entry
  put32(rs, 64, 0x411);
  put32(rs, 68, 72);          // -> data entry
  put32(rs, 72, kRva + 120);  // data RVA
  put32(rs, 76, static_cast<uint32_t>(payload.size()));
  auto putName = [&](size_t at, const char* name) {
    size_t n = std::char_traits<char>::length(name);
    put16(rs, at, static_cast<uint16_t>(n));
    for (size_t i = 0; i < n; ++i) put16(rs, at + 2 + 2 * i, static_cast<uint16_t>(name[i]));
  };
  putName(88, "BINTYPE");
  putName(104, "DUMMY");
  rs += payload;
  while (rs.size() % 0x200) rs += '\0';

  std::string pe(kRaw, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  put32(pe, 0x3C, 0x40);
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  size_t coff = 0x44;
  put16(pe, coff, 0x14C);
  put16(pe, coff + 2, 1);
  put16(pe, coff + 16, 224);
  put16(pe, coff + 18, 0x0102);
  size_t opt = coff + 20;
  put16(pe, opt, 0x10B);
  put32(pe, opt + 28, 0x400000);  // image base
  put32(pe, opt + 32, 0x1000);    // section alignment
  put32(pe, opt + 36, 0x200);     // file alignment
  put16(pe, opt + 48, 4);         // subsystem version
  put32(pe, opt + 56, kRva + static_cast<uint32_t>((rs.size() + 0xFFF) & ~size_t(0xFFF)));  // image size
  put32(pe, opt + 60, kRaw);                                                                // headers size
  put16(pe, opt + 68, 2);                                                                   // GUI subsystem
  put32(pe, opt + 92, 16);  // data directories
  put32(pe, opt + 96 + 2 * 8, kRva);
  put32(pe, opt + 96 + 2 * 8 + 4, static_cast<uint32_t>(rs.size()));
  size_t sec = opt + 224;
  pe.replace(sec, 5, ".rsrc");
  put32(pe, sec + 8, static_cast<uint32_t>(rs.size()));
  put32(pe, sec + 12, kRva);
  put32(pe, sec + 16, static_cast<uint32_t>(rs.size()));
  put32(pe, sec + 20, kRaw);
  put32(pe, sec + 36, 0x40000040u);
  return pe + rs;
}

int32_t DosTime(int year, int month, int day, int hour, int minute, int second) {
  uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  uint32_t time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return static_cast<int32_t>((date << 16) | time);
}

}  // namespace vrtest
