#include "platform/peresource.h"

#include <algorithm>

#include "platform/codepage.h"

namespace vr {

namespace {

struct TSection {
  uint32_t VirtualAddress, VirtualSize, RawSize, RawOffset;
};

class TPeReader {
 public:
  TPeReader(const TReadAt& read, uint64_t size) : read_(read), size_(size) {}

  bool Bytes(uint64_t offset, void* buffer, size_t count) const {
    if (offset > size_ || count > size_ - offset) return false;
    return count == 0 || read_(offset, buffer, count);
  }
  bool U16(uint64_t offset, uint32_t& v) const {
    uint8_t b[2];
    if (!Bytes(offset, b, 2)) return false;
    v = b[0] | (b[1] << 8);
    return true;
  }
  bool U32(uint64_t offset, uint32_t& v) const {
    uint8_t b[4];
    if (!Bytes(offset, b, 4)) return false;
    v = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return true;
  }

  bool LoadHeaders() {
    uint32_t magic = 0, peOffset = 0, signature = 0;
    if (!U16(0, magic) || magic != 0x5A4D || !U32(0x3C, peOffset)) return false;
    if (!U32(peOffset, signature) || signature != 0x00004550) return false;
    uint32_t sections = 0, optionalSize = 0, optMagic = 0;
    if (!U16(peOffset + 6, sections) || !U16(peOffset + 20, optionalSize)) return false;
    const uint64_t opt = static_cast<uint64_t>(peOffset) + 24;
    if (!U16(opt, optMagic)) return false;
    uint64_t countAt, dirsAt;
    if (optMagic == 0x10B) {
      countAt = opt + 92;
      dirsAt = opt + 96;
    } else if (optMagic == 0x20B) {
      countAt = opt + 108;
      dirsAt = opt + 112;
    } else {
      return false;
    }
    uint32_t dirCount = 0;
    if (!U32(countAt, dirCount) || dirCount < 3) return false;
    // The resource directory entry must lie inside the optional header.
    if (dirsAt + 3 * 8 > opt + optionalSize) return false;
    if (!U32(dirsAt + 16, rsrcRva_) || !U32(dirsAt + 20, rsrcSize_) || rsrcRva_ == 0 || rsrcSize_ == 0)
      return false;
    if (sections == 0 || sections > 96) return false;
    const uint64_t table = opt + optionalSize;
    for (uint32_t i = 0; i < sections; ++i) {
      const uint64_t at = table + 40ull * i;
      TSection s;
      if (!U32(at + 8, s.VirtualSize) || !U32(at + 12, s.VirtualAddress) || !U32(at + 16, s.RawSize) ||
          !U32(at + 20, s.RawOffset))
        return false;
      sections_.push_back(s);
    }
    return true;
  }

  // File offset of `count` bytes at `rva`, all inside one section's raw data; false otherwise.
  bool RvaToOffset(uint32_t rva, uint64_t count, uint64_t& offset) const {
    for (const TSection& s : sections_) {
      if (rva < s.VirtualAddress) continue;
      const uint64_t delta = rva - s.VirtualAddress;
      const uint64_t span = s.VirtualSize ? std::min<uint64_t>(s.VirtualSize, s.RawSize) : s.RawSize;
      if (delta >= span && !(count == 0 && delta == span)) continue;
      if (count > span - delta) return false;
      offset = static_cast<uint64_t>(s.RawOffset) + delta;
      return offset <= size_ && count <= size_ - offset;
    }
    return false;
  }

  // Offset inside the resource section (as stored in directory entries) to a file offset.
  bool ResourceOffset(uint32_t relative, uint64_t count, uint64_t& offset) const {
    if (relative > rsrcSize_ || count > rsrcSize_ - relative) return false;
    return RvaToOffset(rsrcRva_ + relative, count, offset);
  }

  // The entry of the directory at `dir` (resource-relative) matching `key`; for an empty key, the first.
  bool FindEntry(uint32_t dir, const std::u16string* name, uint32_t id, bool first, uint32_t& target) const {
    uint64_t at = 0;
    uint32_t named = 0, ids = 0;
    if (!ResourceOffset(dir, 16, at) || !U16(at + 12, named) || !U16(at + 14, ids)) return false;
    const uint64_t count = static_cast<uint64_t>(named) + ids;
    uint64_t entries = 0;
    if (!ResourceOffset(dir + 16, count * 8, entries)) return false;
    for (uint64_t i = 0; i < count; ++i) {
      uint32_t entryName = 0, data = 0;
      if (!U32(entries + 8 * i, entryName) || !U32(entries + 8 * i + 4, data)) return false;
      bool match = first;
      if (!match && name && (entryName & 0x80000000u)) {
        std::u16string stored;
        match = ReadName(entryName & 0x7FFFFFFFu, stored) && Upper(stored) == *name;
      } else if (!match && !name && !(entryName & 0x80000000u)) {
        match = entryName == id;
      }
      if (match) {
        target = data;
        return true;
      }
    }
    return false;
  }

  bool ReadName(uint32_t relative, std::u16string& out) const {
    uint64_t at = 0;
    uint32_t length = 0;
    if (!ResourceOffset(relative, 2, at) || !U16(at, length)) return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(length) * 2);
    if (!ResourceOffset(relative + 2, bytes.size(), at) || !Bytes(at, bytes.data(), bytes.size()))
      return false;
    out.clear();
    for (size_t i = 0; i < length; ++i) out += static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return true;
  }

  static std::u16string Upper(std::u16string s) {
    for (char16_t& c : s) {
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
      if (c >= 0xFF41 && c <= 0xFF5A) c = static_cast<char16_t>(c - 0x20);
    }
    return s;
  }

  std::optional<std::vector<uint8_t>> Find(const std::string& name, const std::string& type) const {
    uint32_t dir = 0;
    if (!Step(0, type, false, dir) || !(dir & 0x80000000u)) return std::nullopt;
    if (!Step(dir & 0x7FFFFFFFu, name, false, dir) || !(dir & 0x80000000u)) return std::nullopt;
    if (!Step(dir & 0x7FFFFFFFu, std::string(), true, dir) || (dir & 0x80000000u)) return std::nullopt;
    uint64_t at = 0;
    uint32_t dataRva = 0, dataSize = 0;
    if (!ResourceOffset(dir, 16, at) || !U32(at, dataRva) || !U32(at + 4, dataSize)) return std::nullopt;
    if (!RvaToOffset(dataRva, dataSize, at)) return std::nullopt;
    std::vector<uint8_t> data(dataSize);
    if (dataSize && !Bytes(at, data.data(), dataSize)) return std::nullopt;
    return data;
  }

 private:
  bool Step(uint32_t dir, const std::string& key, bool first, uint32_t& target) const {
    if (first) return FindEntry(dir, nullptr, 0, true, target);
    if (key.size() > 1 && key[0] == '#') {
      uint32_t id = 0;
      for (size_t i = 1; i < key.size(); ++i) {
        if (key[i] < '0' || key[i] > '9' || id > 0xFFFF) return false;
        id = id * 10 + static_cast<uint32_t>(key[i] - '0');
      }
      return id <= 0xFFFF && FindEntry(dir, nullptr, id, false, target);
    }
    const std::u16string wanted = Upper(Cp932ToUtf16(key));
    return FindEntry(dir, &wanted, 0, false, target);
  }

  const TReadAt& read_;
  uint64_t size_;
  uint32_t rsrcRva_ = 0, rsrcSize_ = 0;
  std::vector<TSection> sections_;
};

}  // namespace

std::optional<std::vector<uint8_t>> FindPeResource(const TReadAt& read, uint64_t fileSize,
                                                   const std::string& name, const std::string& type) {
  if (name.empty() || type.empty()) return std::nullopt;
  TPeReader reader(read, fileSize);
  if (!reader.LoadHeaders()) return std::nullopt;
  return reader.Find(name, type);
}

}  // namespace vr
