// UDF (revisions 1.02 to 2.60) on DVD images, alone or beside ISO 9660 in a bridge image, where the
// UDF tree is taken. The volume recognition sequence from sector 16 holds "NSR02" or "NSR03"; the anchor
// at sector 256 points to the volume descriptors: the partitions (physical, and from 2.50 on the metadata
// partition whose blocks lie where its metadata file says), and the logical volume with its revision,
// partition maps and file set. From the file set's root, file entries (plain or extended) give each file's
// type, size, time and allocation descriptors (short, long, extended, or the data inside the entry), and
// a folder's data holds its file identifiers with the names in 8-bit or 16-bit form.
//
// Every descriptor's tag is checked (identifier, checksum, own location); partitions, extents, counts,
// continuation hops and folder loops are bounded as in the ISO 9660 reader.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "disc/bytefields.h"
#include "disc/discimage.h"
#include "disc/discnames.h"
#include "platform/codepage.h"
#include "platform/windowsnames.h"

namespace vr {
namespace {

constexpr int64_t kBlock = 2048;
constexpr int kMaxRecognition = 64;
constexpr int kAnchor = 256;
constexpr int64_t kMaxDescriptorSectors = 256;
constexpr int kMaxHops = 64;
constexpr size_t kMaxPartitionMaps = 8;
constexpr size_t kMaxFileExtents = 1 << 16;
constexpr size_t kMaxExtents = 1 << 22;

enum : uint16_t {
  kTagAnchor = 2,
  kTagPointer = 3,
  kTagPartition = 5,
  kTagLogicalVolume = 6,
  kTagTerminator = 8,
  kTagFileSet = 256,
  kTagFileId = 257,
  kTagAllocation = 258,
  kTagFileEntry = 261,
  kTagExtendedFileEntry = 266,
};

bool TagIs(const uint8_t* d, uint16_t id, int64_t location) {
  if (LeField16(d) != id) return false;
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = static_cast<uint8_t>(sum + d[i]);
  return sum == d[4] && LeField32(d + 12) == static_cast<uint32_t>(location);
}

// A name in OSTA compressed Unicode: 8 (one byte a character) or 16 (UTF-16 big-endian). Discs mastered in
// Japan carry Shift_JIS bytes in the 8-bit form; they are taken when they are well-formed code page 932.
std::string NameOf(const uint8_t* p, size_t n) {
  if (n < 1) return std::string();
  std::u16string u;
  if (p[0] == 8) {
    const std::string bytes(reinterpret_cast<const char*>(p + 1), n - 1);
    bool ascii = true;
    for (char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!ascii && IsDiscNameCp932(bytes)) return bytes;
    for (char c : bytes) u += static_cast<char16_t>(static_cast<unsigned char>(c));
  } else if (p[0] == 16) {
    for (size_t i = 1; i + 1 < n; i += 2) u += static_cast<char16_t>((p[i] << 8) | p[i + 1]);
  } else {
    return std::string();
  }
  const std::string cp = Utf16ToCp932(u);
  return Cp932ToUtf16(cp) == u ? cp : std::string();
}

uint32_t DosTimeOfUdf(const uint8_t* t) {
  const int year = LeField16(t + 2), month = t[4], day = t[5], hour = t[6], minute = t[7], second = t[8];
  if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
      minute > 59 || second > 59)
    return (1u << 21) | (1u << 16);  // 1980-01-01
  return (static_cast<uint32_t>(year - 1980) << 25) | (static_cast<uint32_t>(month) << 21) |
         (static_cast<uint32_t>(day) << 16) | (static_cast<uint32_t>(hour) << 11) |
         (static_cast<uint32_t>(minute) << 5) | (static_cast<uint32_t>(second) / 2u);
}

}  // namespace

bool TDiscImage::LoadUdf() {
  // Volume recognition: "NSR02" or "NSR03" among the descriptors from sector 16 on.
  if (map_.Base != 0) return false;  // UDF is read on images of one data track
  bool nsr = false, iso = false;
  uint8_t d[kBlock];
  for (int i = 0; i < kMaxRecognition && 16 + i < map_.Sectors; ++i) {
    ReadSectors(16 + i, 0, d, sizeof d);
    const std::string id(reinterpret_cast<const char*>(d + 1), 5);
    if (id == "NSR02" || id == "NSR03") nsr = true;
    iso = iso || id == "CD001";
    if (id != "BEA01" && id != "NSR02" && id != "NSR03" && id != "TEA01" && id != "CD001" && id != "BOOT2" &&
        id != "CDW02")
      break;
  }
  if (!nsr) return false;
  if (map_.Sectors <= kAnchor) Fail("a UDF image too small for its anchor (a truncated image?)");
  ReadSectors(kAnchor, 0, d, sizeof d);
  if (!TagIs(d, kTagAnchor, kAnchor)) Fail("the UDF anchor at sector 256 is damaged");

  // The volume descriptors: partitions and the logical volume.
  struct TPartition {
    uint16_t Number;
    int64_t Start, Length;
  };
  std::vector<TPartition> partitions;
  std::vector<uint8_t> volume;
  int64_t at = LeField32(d + 20), count = LeField32(d + 16) / kBlock;
  for (int hops = 0, read = 0; count > 0; ++at, --count) {
    if (++read > kMaxDescriptorSectors) Fail("more than 256 UDF volume descriptors");
    if (at >= map_.Sectors) Fail("the UDF volume descriptors lie past the end of the image");
    ReadSectors(at, 0, d, sizeof d);
    const uint16_t tag = LeField16(d);
    if (!TagIs(d, tag, at)) Fail("a damaged UDF volume descriptor at sector " + std::to_string(at));
    if (tag == kTagTerminator) break;
    if (tag == kTagPointer) {
      if (++hops > kMaxHops) Fail("the UDF volume descriptors point in a loop");
      count = LeField32(d + 20) / kBlock + 1;
      at = static_cast<int64_t>(LeField32(d + 24)) - 1;
    } else if (tag == kTagPartition && partitions.size() < kMaxPartitionMaps) {
      partitions.push_back({LeField16(d + 22), LeField32(d + 188), LeField32(d + 192)});
    } else if (tag == kTagLogicalVolume && volume.empty()) {
      volume.assign(d, d + kBlock);
    }
  }
  if (volume.empty() || partitions.empty()) Fail("the UDF volume has no logical volume or no partition");
  const uint8_t* lv = volume.data();
  if (LeField32(lv + 212) != kBlock) Fail("UDF blocks other than 2048 bytes are not supported");
  if (std::memcmp(lv + 217, "*OSTA UDF Compliant", 19) != 0) Fail("not an OSTA UDF volume");
  const uint16_t revision = LeField16(lv + 240);
  if (revision < 0x0100 || revision > 0x0260) {
    char text[16];
    std::snprintf(text, sizeof text, "%x.%02x", revision >> 8, revision & 0xFF);
    Fail(std::string("UDF revision ") + text + " is not supported");
  }

  // Partition maps: a physical partition, or the metadata partition laid over one.
  struct TMap {
    int64_t Start = 0, Length = 0;  // physical: sectors of the partition
    std::vector<TExtent> Metadata;  // metadata: where its blocks lie, in order
    bool IsMetadata = false;
  };
  std::vector<TMap> maps;
  const uint32_t mapCount = LeField32(lv + 268);
  const uint32_t mapBytes = LeField32(lv + 264);
  if (mapCount > kMaxPartitionMaps || mapBytes > kBlock - 440) Fail("an impossible UDF partition map table");
  struct TPendingMetadata {
    size_t Map;
    uint16_t Partition;
    uint32_t FileBlock;
  };
  std::vector<TPendingMetadata> pendingMetadata;
  auto partitionNumbered = [&](uint16_t number) -> const TPartition& {
    for (const TPartition& p : partitions)
      if (p.Number == number) return p;
    Fail("a UDF partition map names partition " + std::to_string(number) + ", which the volume lacks");
  };
  for (uint32_t i = 0, pos = 440; i < mapCount; ++i) {
    const uint8_t* m = lv + pos;
    if (pos + 2 > 440 + mapBytes || m[1] < 6 || pos + m[1] > 440 + mapBytes)
      Fail("a damaged UDF partition map");
    TMap map;
    if (m[0] == 1) {
      const TPartition& p = partitionNumbered(LeField16(m + 4));
      map.Start = p.Start;
      map.Length = p.Length;
    } else if (m[0] == 2 && m[1] >= 64 && std::memcmp(m + 5, "*UDF Metadata Partition", 23) == 0) {
      map.IsMetadata = true;
      pendingMetadata.push_back({maps.size(), LeField16(m + 38), LeField32(m + 40)});
    } else {
      Fail("UDF partitions of this kind (virtual or sparable, for written-to discs) are not supported");
    }
    maps.push_back(map);
    pos += m[1];
  }
  if (maps.empty()) Fail("the UDF volume has no partition map");

  const int64_t imageBytes = map_.Sectors * kBlock;
  auto inside = [&](int64_t sector, int64_t skip, int64_t length) {
    return sector >= 0 && sector < map_.Sectors && length >= 0 &&
           skip + length <= imageBytes - sector * kBlock;
  };
  // The extents of `length` bytes from block `block` of partition map `ref`, appended to `out`.
  auto locate = [&](uint16_t ref, uint32_t block, int64_t length, std::vector<TExtent>& out) {
    if (ref >= maps.size()) Fail("a UDF partition reference out of range");
    const TMap& map = maps[ref];
    if (!map.IsMetadata) {
      if (block >= map.Length || (length + kBlock - 1) / kBlock > map.Length - block)
        Fail("a UDF extent lies outside its partition");
      if (!inside(map.Start + block, 0, length))
        Fail("a UDF extent lies past the end of the image (a truncated image?)");
      out.push_back({map.Start + block, length});
      return;
    }
    int64_t byte = int64_t{block} * kBlock, start = 0;
    for (const TExtent& x : map.Metadata) {
      if (length <= 0) break;
      if (byte < start + x.Length) {
        const int64_t piece = std::min(length, start + x.Length - byte);
        out.push_back({x.Sector + (byte - start) / kBlock, piece});
        byte += piece;
        length -= piece;
      }
      start += x.Length;
    }
    if (length > 0) Fail("a UDF extent lies outside the metadata partition");
  };

  // A file entry: its type, size, time and the extents of its data.
  struct TEntry {
    uint8_t Type = 0;
    int64_t Size = 0;
    uint32_t DosTime = 0;
    int64_t Sector = 0;
    std::vector<TExtent> Extents;
  };
  auto readEntry = [&](uint16_t ref, uint32_t block) {
    TEntry entry;
    std::vector<TExtent> where;
    locate(ref, block, kBlock, where);
    entry.Sector = where.front().Sector;
    uint8_t e[kBlock];
    ReadSectors(entry.Sector, 0, e, sizeof e);
    const bool extended = LeField16(e) == kTagExtendedFileEntry;
    if (!TagIs(e, extended ? kTagExtendedFileEntry : kTagFileEntry, block))
      Fail("a damaged UDF file entry at sector " + std::to_string(entry.Sector));
    entry.Type = e[16 + 11];
    entry.Size = static_cast<int64_t>(LeField64(e + 56) & (~uint64_t{0} >> 2));
    entry.DosTime = DosTimeOfUdf(e + (extended ? 92 : 84));
    const uint32_t eaLength = LeField32(e + (extended ? 208 : 168));
    const uint32_t adLength = LeField32(e + (extended ? 212 : 172));
    const uint32_t base = extended ? 216 : 176;
    if (eaLength > kBlock - base || adLength > kBlock - base - eaLength)
      Fail("a damaged UDF file entry at sector " + std::to_string(entry.Sector));
    const int adType = LeField16(e + 16 + 18) & 7;
    if (adType == 3) {  // the data inside the entry
      if (entry.Size > adLength) Fail("a damaged UDF file entry at sector " + std::to_string(entry.Sector));
      entry.Extents.push_back({entry.Sector, entry.Size, base + eaLength});
      return entry;
    }
    if (adType > 2) Fail("a UDF file entry with unknown allocation descriptors");
    const size_t adSize = adType == 0 ? 8 : adType == 1 ? 16 : 20;
    std::vector<uint8_t> area(e + base + eaLength, e + base + eaLength + adLength);
    int64_t total = 0;
    for (int hops = 0;;) {
      bool more = false;
      for (size_t i = 0; i + adSize <= area.size() && total < entry.Size; i += adSize) {
        const uint8_t* a = area.data() + i;
        const uint32_t length = LeField32(a) & 0x3FFFFFFF, kind = LeField32(a) >> 30;
        if (length == 0) break;
        const uint32_t adBlock = LeField32(a + (adType == 2 ? 12 : 4));
        const uint16_t partition = adType == 0 ? ref : LeField16(a + (adType == 2 ? 16 : 8));
        if (kind == 3) {  // the descriptors go on in another block
          if (++hops > kMaxHops) Fail("UDF allocation descriptors continue in a loop");
          std::vector<TExtent> next;
          locate(partition, adBlock, kBlock, next);
          uint8_t c[kBlock];
          ReadSectors(next.front().Sector, 0, c, sizeof c);
          if (!TagIs(c, kTagAllocation, adBlock)) Fail("a damaged UDF allocation extent");
          const uint32_t n = std::min<uint32_t>(LeField32(c + 20), kBlock - 24);
          area.assign(c + 24, c + 24 + n);
          more = true;
          break;
        }
        const int64_t piece = std::min<int64_t>(length, entry.Size - total);
        if (kind == 0)
          locate(partition, adBlock, piece, entry.Extents);
        else
          entry.Extents.push_back({-1, piece});
        total += piece;
        if (entry.Extents.size() > kMaxFileExtents) Fail("a UDF file of too many extents");
      }
      if (!more) break;
    }
    if (total < entry.Size)
      Fail("a UDF file's data is shorter than its size at sector " + std::to_string(entry.Sector) +
           " (a damaged image?)");
    return entry;
  };

  for (const TPendingMetadata& pending : pendingMetadata) {
    size_t physical = maps.size();
    for (size_t i = 0; i < maps.size(); ++i)
      if (!maps[i].IsMetadata && maps[i].Start == partitionNumbered(pending.Partition).Start) physical = i;
    if (physical == maps.size()) Fail("the UDF metadata partition lies on no physical partition");
    TEntry file = readEntry(static_cast<uint16_t>(physical), pending.FileBlock);
    for (const TExtent& x : file.Extents)
      if (x.Sector < 0 || x.Skip != 0) Fail("the UDF metadata file is not recorded");
    maps[pending.Map].Metadata = std::move(file.Extents);
  }

  // The file set and its root folder.
  std::vector<TExtent> fileSet;
  locate(LeField16(lv + 256), LeField32(lv + 252), kBlock, fileSet);
  ReadSectors(fileSet.front().Sector, 0, d, sizeof d);
  if (!TagIs(d, kTagFileSet, LeField32(lv + 252))) Fail("the UDF file set descriptor is damaged");
  char revisionText[16];
  std::snprintf(revisionText, sizeof revisionText, "%x.%02x", revision >> 8, revision & 0xFF);
  info_.Udf = revisionText;
  if (!iso && info_.Kind == "ISO") info_.Kind = "UDF";
  info_.Sectors = map_.Sectors;
  if (lv[84 + 127] > 0 && lv[84 + 127] < 127) {
    const std::string label = NameOf(lv + 84, lv[84 + 127]);
    if (!label.empty()) info_.Label = label;
  }

  nodes_.clear();
  extents_.clear();
  TDiscNode root;
  root.Folder = true;
  nodes_.push_back(root);
  struct TPending {
    uint32_t Node;
    uint16_t Ref;
    uint32_t Block;
    int Depth;
  };
  std::vector<TPending> folders{{0, LeField16(d + 400 + 8), LeField32(d + 400 + 4), 0}};
  std::unordered_set<int64_t> seen;
  int64_t directoryBytes = 0;
  std::vector<uint8_t> data;
  for (size_t next = 0; next < folders.size(); ++next) {
    const TPending folder = folders[next];
    const std::string shownFolder = folder.Node ? PathOf(folder.Node) : std::string("the root folder");
    const TEntry entry = readEntry(folder.Ref, folder.Block);
    if (!seen.insert(entry.Sector).second)
      Fail(shownFolder + ": a folder reached twice (a loop in the folders)");
    if (entry.Type != 4) Fail(shownFolder + ": not a folder in the UDF tree");
    nodes_[folder.Node].DosTime = entry.DosTime;
    if (entry.Size > kMaxFolderBytes)
      Fail(shownFolder + ": the folder is larger than " + std::to_string(kMaxFolderBytes >> 20) + " MiB");
    directoryBytes += entry.Size;
    if (directoryBytes > kMaxDirectoryBytes)
      Fail("the folders take more than " + std::to_string(kMaxDirectoryBytes >> 20) + " MiB");
    data.assign(static_cast<size_t>(entry.Size), 0);
    size_t filled = 0;
    for (const TExtent& x : entry.Extents) {
      if (x.Sector >= 0) ReadSectors(x.Sector, x.Skip, data.data() + filled, static_cast<size_t>(x.Length));
      filled += static_cast<size_t>(x.Length);
    }

    nodes_[folder.Node].FirstChild = static_cast<uint32_t>(nodes_.size());
    TNameClashSet names;
    for (size_t pos = 0; pos + 38 <= data.size();) {
      const uint8_t* f = &data[pos];
      const size_t nameLength = f[19], useLength = LeField16(f + 36);
      const size_t length = 38 + useLength + nameLength;
      if (!TagIs(f, kTagFileId, LeField32(f + 12)) || length > data.size() - pos)
        Fail(shownFolder + ": a damaged UDF file identifier");
      pos += (length + 3) & ~size_t{3};
      const uint8_t characteristics = f[18];
      if (characteristics & 0x0C) continue;  // deleted, or the parent
      const std::string name = NameOf(f + 38 + useLength, nameLength);
      const TEntry child = readEntry(LeField16(f + 20 + 8), LeField32(f + 20 + 4));
      const bool isFolder = child.Type == 4;
      if (!Admit(folder.Node, name, child.Type != 4 && child.Type != 5, names)) continue;
      if (nodes_.size() >= kMaxNodes) Fail("more than " + std::to_string(kMaxNodes) + " files and folders");
      TDiscNode node;
      node.Name = name;
      node.Parent = folder.Node;
      node.Folder = isFolder;
      node.Hidden = (characteristics & 0x01) != 0;
      node.DosTime = child.DosTime;
      const auto index = static_cast<uint32_t>(nodes_.size());
      nodes_.push_back(node);
      ++nodes_[folder.Node].ChildCount;
      if (isFolder) {
        if (folder.Depth + 1 > kMaxDepth)
          Fail(PathOf(index) + ": folders nested deeper than " + std::to_string(kMaxDepth) + " levels");
        folders.push_back({index, LeField16(f + 20 + 8), LeField32(f + 20 + 4), folder.Depth + 1});
        continue;
      }
      if (extents_.size() + child.Extents.size() > kMaxExtents) Fail("a UDF tree of too many extents");
      nodes_[index].FirstExtent = static_cast<uint32_t>(extents_.size());
      nodes_[index].ExtentCount = static_cast<uint32_t>(child.Extents.size());
      nodes_[index].Size = child.Size;
      extents_.insert(extents_.end(), child.Extents.begin(), child.Extents.end());
    }
  }
  return true;
}

}  // namespace vr
