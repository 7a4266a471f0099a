// UDF images written descriptor by descriptor: the recognition sequence (optionally after ISO 9660
// descriptors of a bridge image whose own tree is empty), the volume descriptors at sector 32, the anchor
// at 256 (and in the last sector) and one partition from 257 holding the file set, file entries (plain or
// extended), folders of file identifiers and the files' data (in blocks, or inside small files' entries).
// From revision 2.50 on the file set, entries and folders may lie in a metadata partition. Names of code
// points below 256 are written in the 8-bit form, others in the 16-bit form; `Name8` writes raw bytes in the
// 8-bit form.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "isobuild.h"

namespace vrtest {

struct TUdfEntry {
  TUdfEntry(std::string path, std::string data, bool folder = false, std::string name8 = "")
      : Path(std::move(path)), Data(std::move(data)), Folder(folder), Name8(std::move(name8)) {}
  std::string Path;  // UTF-8, "/" between folders; a folder comes before what it holds
  std::string Data;
  bool Folder;
  std::string Name8;  // raw bytes of an 8-bit name, in place of the path's last part
};

struct TUdfOptions {
  uint16_t Revision = 0x0201;
  bool Extended = false;  // extended file entries
  bool Metadata = false;  // file set, entries and folders in a metadata partition (2.50 on)
  bool Embed = false;     // files of up to 1 KiB inside their entries
  bool Bridge = false;    // ISO 9660 descriptors first, with an empty root folder
};

namespace udf {

inline void Le(std::string& s, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

inline uint16_t Crc16(const std::string& s, size_t at, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(static_cast<unsigned char>(s[at + i]) << 8);
    for (int b = 0; b < 8; ++b) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

// The tag of the descriptor at `at` of `s` (its body `length` bytes from the tag's start).
inline void Tag(std::string& s, size_t at, uint16_t id, uint16_t version, uint32_t location, size_t length) {
  Le(s, at, id, 2);
  Le(s, at + 2, version, 2);
  Le(s, at + 8, Crc16(s, at + 16, length - 16), 2);
  Le(s, at + 10, length - 16, 2);
  Le(s, at + 12, location, 4);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = static_cast<uint8_t>(sum + static_cast<unsigned char>(s[at + i]));
  s[at + 4] = static_cast<char>(sum);
}

inline void RegId(std::string& s, size_t at, const std::string& id, uint16_t suffix = 0) {
  s.replace(at + 1, id.size(), id);
  Le(s, at + 24, suffix, 2);
}

inline void Time(std::string& s, size_t at) {
  Le(s, at, 0x1000, 2);
  Le(s, at + 2, 1999, 2);
  s[at + 4] = 4;
  s[at + 5] = 1;
  s[at + 6] = 12;
  s[at + 7] = 30;
  s[at + 8] = 10;
}

// OSTA compressed Unicode of UTF-8 text: 8-bit when every code point is below 256, else 16-bit.
inline std::string Cs0(const std::string& utf8) {
  std::u32string cps;
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = n == 1 ? c : c & (0xFF >> (n + 1));
    for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    cps += cp;
    i += static_cast<size_t>(n);
  }
  bool narrow = true;
  for (char32_t cp : cps) narrow = narrow && cp < 0x100;
  std::string out(1, static_cast<char>(narrow ? 8 : 16));
  for (char32_t cp : cps) {
    if (!narrow) out += static_cast<char>(cp >> 8);
    out += static_cast<char>(cp & 0xFF);
  }
  return out;
}

}  // namespace udf

inline std::string MakeUdf(const std::vector<TUdfEntry>& entries, const TUdfOptions& o) {
  using udf::Le;
  const uint16_t version = o.Revision >= 0x0200 ? 3 : 2;
  struct TNode {
    std::string Name;  // CS0
    std::string Data;
    bool Folder;
    size_t Parent;
    std::vector<size_t> Children;
    uint32_t Entry = 0;  // block of the entry, in the partition of the entries
    uint32_t First = 0;  // first block of the data
  };
  std::vector<TNode> nodes{{"", "", true, 0, {}}};
  std::vector<std::string> paths{""};
  for (const TUdfEntry& e : entries) {
    const size_t slash = e.Path.rfind('/');
    const std::string parent = slash == std::string::npos ? "" : e.Path.substr(0, slash);
    size_t p = 0;
    for (size_t i = 0; i < paths.size(); ++i)
      if (paths[i] == parent && nodes[i].Folder) p = i;
    const std::string leaf = slash == std::string::npos ? e.Path : e.Path.substr(slash + 1);
    nodes.push_back({e.Name8.empty() ? udf::Cs0(leaf) : "\x08" + e.Name8, e.Data, e.Folder, p, {}});
    paths.push_back(e.Path);
    nodes[p].Children.push_back(nodes.size() - 1);
  }
  const bool meta = o.Metadata;
  const uint16_t entryRef = meta ? 1 : 0;
  auto embedded = [&](const TNode& n) { return o.Embed && !n.Folder && n.Data.size() <= 1024; };
  // A folder's identifiers: the parent first, then each child (locations filled in below).
  auto fidSize = [](const std::string& name) { return (38 + name.size() + 3) & ~size_t{3}; };
  // Blocks of the entries' partition: the file set, then per node its entry and a folder's data.
  uint32_t next = 1;
  for (TNode& n : nodes) {
    n.Entry = next++;
    if (n.Folder) {
      size_t bytes = fidSize("");
      for (size_t c : n.Children) bytes += fidSize(nodes[c].Name);
      n.First = next;
      next += static_cast<uint32_t>((bytes + 2047) / 2048);
    }
  }
  const uint32_t metaBlocks = next;
  // Physical blocks: the metadata file's entry, the metadata partition, then the files' data.
  uint32_t physical = meta ? 1 + metaBlocks : metaBlocks;
  for (TNode& n : nodes) {
    if (n.Folder || embedded(n)) continue;
    n.First = physical;
    physical += static_cast<uint32_t>((n.Data.size() + 2047) / 2048);
  }
  const uint32_t partitionStart = 257;
  // The partition, then a last sector for the second anchor.
  const uint32_t last = partitionStart + physical;
  std::string image(static_cast<size_t>(last + 1) * 2048, '\0');
  auto entryAt = [&](uint32_t block) {  // byte of a block of the entries' partition
    return (static_cast<size_t>(partitionStart) + (meta ? 1 : 0) + block) * 2048;
  };
  auto dataAt = [&](uint32_t block) { return (static_cast<size_t>(partitionStart) + block) * 2048; };

  // Recognition sequence (after a bridge's ISO 9660 descriptors) and volume descriptors.
  size_t vrs = 16;
  if (o.Bridge) {
    std::string pvd(2048, '\0');
    pvd[0] = 1;
    pvd.replace(1, 6, "CD001\x01", 6);
    pvd.replace(40, 6, "BRIDGE");
    pvd[129] = 8;
    pvd.replace(156, 34, Record(std::string(1, '\0'), 21, 2048, 2));
    image.replace(16 * 2048, 2048, pvd);
    image[17 * 2048] = static_cast<char>(255);
    image.replace(17 * 2048 + 1, 6, "CD001\x01", 6);
    const std::string root = TIsoBuilder::Folder(21, 21, "", 2048);
    image.replace(21 * 2048, root.size(), root);
    vrs = 18;
  }
  for (const char* id : {"BEA01", version == 3 ? "NSR03" : "NSR02", "TEA01"}) {
    image.replace(vrs * 2048 + 1, 5, id);
    image[vrs * 2048 + 6] = 1;
    ++vrs;
  }
  auto descriptor = [&](uint32_t sector, uint16_t id, const std::function<void(std::string&)>& fill) {
    std::string d(2048, '\0');
    fill(d);
    udf::Tag(d, 0, id, version, sector, 512);
    image.replace(static_cast<size_t>(sector) * 2048, 2048, d);
  };
  descriptor(32, 1, [](std::string&) {});
  descriptor(33, 5, [&](std::string& d) {
    Le(d, 20, 1, 2);
    udf::RegId(d, 24, version == 3 ? "+NSR03" : "+NSR02");
    Le(d, 184, 1, 4);
    Le(d, 188, partitionStart, 4);
    Le(d, 192, physical, 4);
  });
  descriptor(34, 6, [&](std::string& d) {
    d.replace(21, 23, "OSTA Compressed Unicode");
    const std::string label = udf::Cs0("UDFDISC");
    d.replace(84, label.size(), label);
    d[84 + 127] = static_cast<char>(label.size());
    Le(d, 212, 2048, 4);
    udf::RegId(d, 216, "*OSTA UDF Compliant", o.Revision);
    Le(d, 248, 2048, 4);
    Le(d, 252, 0, 4);
    Le(d, 256, entryRef, 2);
    Le(d, 264, meta ? 6 + 64 : 6, 4);
    Le(d, 432, 2 * 2048, 4);
    Le(d, 436, 64, 4);
    Le(d, 268, meta ? 2 : 1, 4);
    d[440] = 1;
    d[441] = 6;
    Le(d, 442, 1, 2);
    if (meta) {
      d[446] = 2;
      d[447] = 64;
      udf::RegId(d, 446 + 4, "*UDF Metadata Partition", o.Revision);
      Le(d, 446 + 36, 1, 2);
      Le(d, 446 + 40, 0, 4);
      Le(d, 446 + 44, 0, 4);
      Le(d, 446 + 48, 0xFFFFFFFF, 4);
      Le(d, 446 + 52, 32, 4);
      Le(d, 446 + 56, 1, 2);
    }
  });
  descriptor(35, 7, [](std::string&) {});
  // The integrity sequence: the volume closed, with its file and folder counts.
  descriptor(64, 9, [&](std::string& d) {
    udf::Time(d, 16);
    Le(d, 28, 1, 4);
    Le(d, 72, 1, 4);
    Le(d, 76, 46, 4);
    Le(d, 84, physical, 4);
    udf::RegId(d, 88, "*vrtest");
    size_t folders = 0;
    for (const TNode& n : nodes) folders += n.Folder ? 1 : 0;
    Le(d, 88 + 32, nodes.size() - folders, 4);
    Le(d, 88 + 36, folders, 4);
    Le(d, 88 + 40, o.Revision, 2);
    Le(d, 88 + 42, o.Revision, 2);
    Le(d, 88 + 44, o.Revision, 2);
  });
  descriptor(65, 8, [](std::string&) {});
  descriptor(36, 8, [](std::string&) {});
  for (uint32_t anchor : {256u, last})
    descriptor(anchor, 2, [](std::string& d) {
      Le(d, 16, 5 * 2048, 4);
      Le(d, 20, 32, 4);
      Le(d, 24, 5 * 2048, 4);
      Le(d, 28, 32, 4);
    });

  // A file entry at `at` (tag location `block`) of `type` with allocation descriptors `ads` (kind `adType`).
  auto fileEntry = [&](size_t at, uint32_t block, uint8_t type, uint64_t size, int adType,
                       const std::string& ads) {
    std::string e(2048, '\0');
    const bool x = o.Extended;
    Le(e, 16 + 4, 4, 2);
    Le(e, 16 + 8, 1, 2);
    e[16 + 11] = static_cast<char>(type);
    Le(e, 16 + 18, static_cast<uint64_t>(adType), 2);
    Le(e, 36, 0xFFFFFFFF, 4);
    Le(e, 40, 0xFFFFFFFF, 4);
    Le(e, 44, 0x14A5, 4);
    Le(e, 48, 1, 2);
    Le(e, 56, size, 8);
    if (x) Le(e, 64, size, 8);
    Le(e, x ? 72 : 64, adType == 3 ? 0 : (size + 2047) / 2048, 8);
    udf::Time(e, x ? 80 : 72);
    udf::Time(e, x ? 92 : 84);
    udf::Time(e, x ? 116 : 96);
    Le(e, x ? 212 : 172, ads.size(), 4);
    const size_t base = x ? 216 : 176;
    e.replace(base, ads.size(), ads);
    udf::Tag(e, 0, x ? 266 : 261, version, block, base + ads.size());
    image.replace(at, 2048, e);
  };
  // Descriptors of `size` bytes from `first` of a partition: short (same partition) or long (with `ref`).
  auto ads = [](uint64_t size, uint32_t first, bool longForm, uint16_t ref) {
    std::string out;
    do {
      const uint64_t piece = std::min<uint64_t>(size, 0x3FFFF800);
      std::string a(longForm ? 16 : 8, '\0');
      Le(a, 0, piece, 4);
      Le(a, 4, first, 4);
      if (longForm) Le(a, 8, ref, 2);
      out += a;
      size -= piece;
      first += static_cast<uint32_t>(piece / 2048);
    } while (size > 0);
    return out;
  };
  if (meta)  // the metadata file: the metadata partition's blocks in the physical partition
    fileEntry(dataAt(0), 0, 250, uint64_t{metaBlocks} * 2048, 0,
              ads(uint64_t{metaBlocks} * 2048, 1, false, 0));

  // File set, then every node's entry and every folder's identifiers.
  {
    std::string f(2048, '\0');
    udf::Time(f, 16);
    Le(f, 28, 3, 2);
    Le(f, 30, 3, 2);
    Le(f, 32, 1, 4);
    Le(f, 36, 1, 4);
    Le(f, 400, 2048, 4);
    Le(f, 404, nodes[0].Entry, 4);
    Le(f, 408, entryRef, 2);
    udf::RegId(f, 416, "*OSTA UDF Compliant", o.Revision);
    udf::Tag(f, 0, 256, version, 0, 512);
    image.replace(entryAt(0), 2048, f);
  }
  for (size_t i = 0; i < nodes.size(); ++i) {
    TNode& n = nodes[i];
    if (n.Folder) {
      std::string fids;
      auto fid = [&](uint8_t characteristics, const std::string& name, const TNode& target) {
        std::string f(fidSize(name), '\0');
        Le(f, 16, 1, 2);
        f[18] = static_cast<char>(characteristics);
        f[19] = static_cast<char>(name.size());
        Le(f, 20, 2048, 4);
        Le(f, 24, target.Entry, 4);
        Le(f, 28, entryRef, 2);
        f.replace(38, name.size(), name);
        udf::Tag(f, 0, 257, version, n.First + static_cast<uint32_t>(fids.size() / 2048), f.size());
        fids += f;
      };
      fid(0x0A, "", nodes[n.Parent]);
      for (size_t c : n.Children) fid(nodes[c].Folder ? 0x02 : 0x00, nodes[c].Name, nodes[c]);
      image.replace(entryAt(n.First), fids.size(), fids);
      fileEntry(entryAt(n.Entry), n.Entry, 4, fids.size(), 0, ads(fids.size(), n.First, false, 0));
    } else if (embedded(n)) {
      fileEntry(entryAt(n.Entry), n.Entry, 5, n.Data.size(), 3, n.Data);
    } else {
      image.replace(dataAt(n.First), n.Data.size(), n.Data);
      fileEntry(entryAt(n.Entry), n.Entry, 5, n.Data.size(), meta ? 1 : 0,
                ads(n.Data.size(), n.First, meta, 0));
    }
  }
  return image;
}

}  // namespace vrtest
