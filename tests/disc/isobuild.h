// Small ISO 9660 images written byte by byte, for inputs no mastering tool makes (loops, extents past
// the end, huge folders) and for the fuzz seeds. Sector 16 holds the primary volume descriptor, 17 the
// terminator, 18 the root folder; further sectors are added as folders and file data need them.
#pragma once

#include <cstdint>
#include <string>

namespace vrtest {

inline void PutBoth32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    s[at + i] = static_cast<char>(v >> (8 * i));
    s[at + 7 - i] = static_cast<char>(v >> (8 * i));
  }
}

// One directory record; `flags` 2 marks a folder, 0x80 "more extents follow".
inline std::string Record(const std::string& name, uint32_t sector, uint32_t length, uint8_t flags = 0,
                          const std::string& systemUse = "") {
  std::string r(33, '\0');
  r += name;
  if (name.size() % 2 == 0) r += '\0';
  r += systemUse;
  if (r.size() % 2) r += '\0';
  r[0] = static_cast<char>(r.size());
  PutBoth32(r, 2, sector);
  PutBoth32(r, 10, length);
  const char date[7] = {99, 4, 1, 12, 30, 10, 36};  // 1999-04-01 12:30:10
  r.replace(18, 7, date, 7);
  r[25] = static_cast<char>(flags);
  r[28] = 1;
  r[32] = static_cast<char>(name.size());
  return r;
}

class TIsoBuilder {
 public:
  TIsoBuilder() : bytes_(19 * 2048, '\0') {
    std::string& p = bytes_;
    const size_t pvd = 16 * 2048;
    p[pvd] = 1;
    p.replace(pvd + 1, 6, "CD001\x01", 6);
    p.replace(pvd + 40, 5, "TEST ");
    p[pvd + 128] = 0;
    p[pvd + 129] = 8;  // 2048-byte blocks
    p[17 * 2048] = static_cast<char>(255);
    p.replace(17 * 2048 + 1, 6, "CD001\x01", 6);
  }
  // Appends sectors holding `data`; returns the first one.
  uint32_t Add(const std::string& data) {
    const auto first = static_cast<uint32_t>(bytes_.size() / 2048);
    bytes_ += data;
    bytes_.resize((bytes_.size() + 2047) / 2048 * 2048, '\0');
    return first;
  }
  // A folder's data: "." and ".." followed by the records, each sector filled in turn.
  static std::string Folder(uint32_t self, uint32_t parent, const std::string& records, uint32_t length = 0,
                            const std::string& dotSystemUse = "") {
    std::string data = Record(std::string(1, '\0'), self, length, 2, dotSystemUse) +
                       Record(std::string(1, '\1'), parent, 0, 2);
    for (size_t at = 0; at < records.size();) {
      const size_t len = static_cast<unsigned char>(records[at]);
      if (data.size() % 2048 + len > 2048) data.resize((data.size() / 2048 + 1) * 2048, '\0');
      data += records.substr(at, len);
      at += len;
    }
    return data;
  }
  // The root folder (sector 18, at most one sector) with these records.
  void Root(const std::string& records, const std::string& dotSystemUse = "") {
    std::string data = Folder(18, 18, records, 2048, dotSystemUse);
    data.resize(2048, '\0');
    bytes_.replace(18 * 2048, 2048, data);
    bytes_.replace(16 * 2048 + 156, 34, Record(std::string(1, '\0'), 18, 2048, 2));
  }
  std::string& Bytes() { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace vrtest
