// Helpers of the archive tests: archives built byte by byte, independently of the writer under test.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "archive/vrfiles.h"
#include "framework/classes.h"

namespace vr {
namespace vrtest {

inline uint32_t Crc(const std::string& s) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

inline std::string Zlib(const std::string& s) {
  uLongf n = compressBound(static_cast<uLong>(s.size()));
  std::string out(n, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(s.data()),
                      static_cast<uLong>(s.size()), Z_DEFAULT_COMPRESSION),
            Z_OK);
  out.resize(n);
  return out;
}

inline std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 g(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(g() & 0xFF);
  return s;
}

// Text that compresses well.
inline std::string Text(size_t n, uint32_t seed = 1) {
  static const char* const words[] = {"alpha ", "beta ", "gamma ", "delta\r\n", "シナリオ ", "背景 "};
  std::mt19937 g(seed);
  std::string s;
  while (s.size() < n) s += words[g() % 6];
  s.resize(n);
  return s;
}

inline void Put(TStream& s, const std::string& bytes) {
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

inline std::string MemoryText(TMemoryStream& m) {
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

inline void PutLE(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline uint32_t GetLE32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}

// The directory key stream: state * 5 + 1384720569, from state 0.
struct KeyStream {
  uint32_t state = 0;
  uint32_t Next() { return state = state * 5u + 1384720569u; }
};

struct RawEntry {
  std::string name;
  std::string stored;  // the stored bytes as they go into the archive
  uint8_t kind = 1;
  int32_t time = 0;
  uint32_t crc = 0;
  uint8_t separate = 0;
};

// Size of the directory of these entries in the given version.
inline size_t DirectorySize(int version, const std::vector<RawEntry>& entries) {
  size_t n = entries.size();
  size_t size = (version > 0 ? 6 : 0) + 4;
  for (const RawEntry& e : entries) size += 4 + e.name.size();
  size += (n + 1) * (version >= 101 ? 8 : 4);
  if (version >= 101) size += n * 9;
  if (version >= 102) size += n;
  return size;
}

// Just the directory, with offsets given relative to the archive start.
inline std::string BuildDirectory(int version, const std::vector<RawEntry>& entries,
                                  const std::vector<int64_t>& offsets) {
  std::string out;
  if (version > 0) {
    out += "vf";
    PutLE(out, static_cast<uint32_t>(version), 4);
  }
  PutLE(out, entries.size(), 4);
  KeyStream names;
  for (const RawEntry& e : entries) {
    PutLE(out, e.name.size(), 4);
    for (char c : e.name)
      out.push_back(static_cast<char>(version >= 100 ? (c ^ static_cast<char>(names.Next())) : c));
  }
  KeyStream offs;
  for (int64_t o : offsets) {
    if (version >= 101) {
      const uint32_t k = offs.Next();
      const uint64_t mask = static_cast<uint64_t>(k) | ((k & 0x80000000u) ? 0xFFFFFFFF00000000ull : 0);
      PutLE(out, static_cast<uint64_t>(o) ^ mask, 8);
    } else {
      uint32_t v = static_cast<uint32_t>(o);
      if (version == 100) v ^= offs.Next();
      PutLE(out, v, 4);
    }
  }
  if (version >= 101) {
    for (const RawEntry& e : entries) out.push_back(static_cast<char>(e.kind));
    for (const RawEntry& e : entries) PutLE(out, static_cast<uint32_t>(e.time), 4);
    for (const RawEntry& e : entries) PutLE(out, e.crc, 4);
  }
  if (version >= 102)
    for (const RawEntry& e : entries) out.push_back(static_cast<char>(e.separate));
  return out;
}

// Directory followed by the stored bytes; offsets relative to the archive start.
inline std::string BuildArchive(int version, const std::vector<RawEntry>& entries) {
  std::vector<int64_t> offsets;
  int64_t at = static_cast<int64_t>(DirectorySize(version, entries));
  std::string data;
  for (const RawEntry& e : entries) {
    offsets.push_back(at);
    at += static_cast<int64_t>(e.stored.size());
    data += e.stored;
  }
  offsets.push_back(at);
  return BuildDirectory(version, entries, offsets) + data;
}

// A stored entry (kind 1) with its checksum.
inline RawEntry Stored(const std::string& name, const std::string& content, int32_t time = 0) {
  return RawEntry{name, content, 1, time, Crc(content), 0};
}
// A compressed entry (kind 0) with the checksum of its stored bytes.
inline RawEntry Compressed(const std::string& name, const std::string& content, int32_t time = 0) {
  std::string z = Zlib(content);
  return RawEntry{name, z, 0, time, Crc(z), 0};
}

// Decodes an entry of an open collection by name.
inline std::string Extract(TVrFileCollection& files, const std::string& name) {
  TMemoryStream m;
  files.ExtractToStream(m, name);
  return MemoryText(m);
}

// Restores the default part size of split files at scope end.
struct PartSizeScope {
  explicit PartSizeScope(int64_t size) : previous(TKoBigFileStream::SetDefaultPartSize(size)) {}
  ~PartSizeScope() { TKoBigFileStream::SetDefaultPartSize(previous); }
  int64_t previous;
};

}  // namespace vrtest
}  // namespace vr
