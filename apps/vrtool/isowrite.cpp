#include "isowrite.h"

#include <algorithm>
#include <cstring>

#include "console.h"
#include "framework/classes.h"
#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/syshelpers.h"
#include "textconv.h"

namespace vrtool {
namespace {

constexpr int64_t kSector = 2048;
constexpr int64_t kMaxFileBytes = 0xFFFFFFFFLL - kSector;  // one extent
constexpr size_t kMaxRecord = 255;
constexpr int kMaxDepth = 64;

int64_t SectorsOf(int64_t bytes) { return (bytes + kSector - 1) / kSector; }

void Le16(std::string& b, size_t at, uint32_t v) {
  b[at] = static_cast<char>(v);
  b[at + 1] = static_cast<char>(v >> 8);
}
void Be16(std::string& b, size_t at, uint32_t v) {
  b[at] = static_cast<char>(v >> 8);
  b[at + 1] = static_cast<char>(v);
}
void Le32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
}
void Be32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<char>(v >> (24 - 8 * i));
}
void Both16(std::string& b, size_t at, uint32_t v) {
  Le16(b, at, v);
  Be16(b, at + 2, v);
}
void Both32(std::string& b, size_t at, uint32_t v) {
  Le32(b, at, v);
  Be32(b, at + 4, v);
}

// DOS date-time as the seven bytes of a directory record (years since 1900, ..., offset from GMT 0).
void RecordTime(std::string& b, size_t at, uint32_t dos) {
  b[at] = static_cast<char>(80 + ((dos >> 25) & 0x7F));
  b[at + 1] = static_cast<char>(std::max<uint32_t>(1, (dos >> 21) & 0x0F));
  b[at + 2] = static_cast<char>(std::max<uint32_t>(1, (dos >> 16) & 0x1F));
  b[at + 3] = static_cast<char>((dos >> 11) & 0x1F);
  b[at + 4] = static_cast<char>((dos >> 5) & 0x3F);
  b[at + 5] = static_cast<char>((dos & 0x1F) * 2);
  b[at + 6] = 0;
}

// The same as the seventeen digits of a volume descriptor.
void VolumeTime(std::string& b, size_t at, uint32_t dos) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u%02u%02u%02u%02u%02u00", 1980 + ((dos >> 25) & 0x7F),
                std::max<uint32_t>(1, (dos >> 21) & 0x0F), std::max<uint32_t>(1, (dos >> 16) & 0x1F),
                (dos >> 11) & 0x1F, (dos >> 5) & 0x3F, (dos & 0x1F) * 2);
  std::memcpy(&b[at], text, 16);
  b[at + 16] = 0;
}

std::string Ucs2(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c >> 8);
    out += static_cast<char>(c & 0xFF);
  }
  return out;
}

// ASCII letters upper-cased; the trail bytes of double-byte characters stay as they are.
std::string PrimaryId(const std::string& name) {
  std::string id = name;
  for (size_t i = 0; i < id.size(); ++i) {
    if (vr::IsLeadByte(static_cast<unsigned char>(id[i])) && i + 1 < id.size()) {
      ++i;
      continue;
    }
    if (id[i] >= 'a' && id[i] <= 'z') id[i] = static_cast<char>(id[i] - 'a' + 'A');
  }
  return id;
}

struct TNode {
  std::string Name;  // code page 932
  std::string Path;
  bool Folder = false;
  int64_t Size = 0;
  uint32_t Time = 0;
  int Parent = 0;
  std::vector<int> Children;  // in primary order
  std::string Primary, Joliet;
  int64_t Lba = 0, JolietLba = 0;
  int64_t Bytes = 0, JolietBytes = 0;  // directory extents
  int Number = 0, JolietNumber = 0;    // in the path tables
};

std::string Record(int64_t lba, int64_t length, uint32_t time, bool folder, const std::string& id) {
  std::string r(33 + id.size() + (id.size() % 2 == 0 ? 1 : 0), '\0');
  r[0] = static_cast<char>(r.size());
  Both32(r, 2, static_cast<uint32_t>(lba));
  Both32(r, 10, static_cast<uint32_t>(length));
  RecordTime(r, 18, time);
  r[25] = folder ? 2 : 0;
  Both16(r, 28, 1);
  r[32] = static_cast<char>(id.size());
  std::memcpy(&r[33], id.data(), id.size());
  return r;
}

}  // namespace

struct TIsoImage::TImpl {
  std::string Label;
  uint32_t Time = 0;
  std::vector<TNode> Nodes;
  // Breadth first, each folder's children in the order of the tree's own identifiers: the path tables'
  // order (ECMA-119 6.9.1).
  std::vector<int> Folders, JolietFolders;
  std::vector<int> Files;  // in the order their data is laid out
  int64_t PathTableBytes = 0, JolietPathTableBytes = 0;
  int64_t PathTableLba[4] = {};
  int64_t Sectors = 0;

  void Scan(int node, int depth);
  std::vector<int> JolietOrder(const TNode& folder) const;
  std::vector<std::string> Records(const TNode& folder, bool joliet) const;
  static int64_t ExtentBytes(const std::vector<std::string>& records);
  std::string Extent(const TNode& folder, bool joliet) const;
  std::string PathTable(bool joliet, bool bigEndian) const;
  std::string Descriptor(bool joliet) const;
  void Layout();
};

void TIsoImage::TImpl::Scan(int node, int depth) {
  if (depth > kMaxDepth)
    throw ToolError(ToUtf8(Nodes[static_cast<size_t>(node)].Path) + ": folders nested too deeply");
  const std::string folder = Nodes[static_cast<size_t>(node)].Path;
  auto list = vr::Platform().ListFolder(folder);
  if (!list) throw ToolError(ToUtf8(folder) + ": the folder cannot be listed");
  std::vector<int> children;
  for (const vr::TFindData& f : *list) {
    TNode n;
    n.Name = f.Name;
    n.Path = folder + "\\" + f.Name;
    n.Parent = node;
    const vr::TFileKind kind = vr::Platform().GetFileKind(n.Path);
    if (kind != vr::TFileKind::File && kind != vr::TFileKind::Directory)
      throw ToolError(ToUtf8(n.Path) + ": only files and folders go on a disc image");
    n.Folder = kind == vr::TFileKind::Directory;
    n.Primary = PrimaryId(n.Name) + (n.Folder ? "" : ";1");
    n.Joliet = Ucs2(vr::Cp932ToUtf16(n.Name));
    if (33 + std::max(n.Primary.size(), n.Joliet.size()) + 1 > kMaxRecord)
      throw ToolError(ToUtf8(n.Path) + ": the name is too long for a disc image");
    if (n.Folder) {
      n.Time = Time;
    } else {
      n.Size = vr::TFileStream(n.Path, vr::fmOpenRead | vr::fmShareDenyNone).Size();
      if (n.Size > kMaxFileBytes)
        throw ToolError(ToUtf8(n.Path) + ": a file of 4 GiB or more cannot go on a disc image");
      const int64_t age = vr::FileAge(n.Path);
      n.Time = age < 0 ? Time : static_cast<uint32_t>(age);
    }
    children.push_back(static_cast<int>(Nodes.size()));
    Nodes.push_back(std::move(n));
  }
  std::sort(children.begin(), children.end(), [this](int a, int b) {
    return Nodes[static_cast<size_t>(a)].Primary < Nodes[static_cast<size_t>(b)].Primary;
  });
  for (size_t i = 1; i < children.size(); ++i) {
    const TNode& a = Nodes[static_cast<size_t>(children[i - 1])];
    const TNode& b = Nodes[static_cast<size_t>(children[i])];
    if (a.Primary == b.Primary)
      throw ToolError(ToUtf8(a.Path) + " and " + ToUtf8(b.Name) + ": names a disc cannot tell apart");
  }
  Nodes[static_cast<size_t>(node)].Children = children;
  for (int c : children)
    if (Nodes[static_cast<size_t>(c)].Folder) Scan(c, depth + 1);
}

// The children of a folder sorted by their Joliet identifiers (UCS-2, big-endian: bytes sort as
// characters).
std::vector<int> TIsoImage::TImpl::JolietOrder(const TNode& folder) const {
  std::vector<int> order = folder.Children;
  std::sort(order.begin(), order.end(), [this](int a, int b) {
    return Nodes[static_cast<size_t>(a)].Joliet < Nodes[static_cast<size_t>(b)].Joliet;
  });
  return order;
}

// ".", ".." and the children, each tree sorted by its own identifiers.
std::vector<std::string> TIsoImage::TImpl::Records(const TNode& folder, bool joliet) const {
  const TNode& parent = Nodes[static_cast<size_t>(folder.Parent)];
  std::vector<std::string> records;
  records.push_back(Record(joliet ? folder.JolietLba : folder.Lba, joliet ? folder.JolietBytes : folder.Bytes,
                           folder.Time, true, std::string(1, '\0')));
  records.push_back(Record(joliet ? parent.JolietLba : parent.Lba, joliet ? parent.JolietBytes : parent.Bytes,
                           parent.Time, true, std::string(1, '\1')));
  for (int c : joliet ? JolietOrder(folder) : folder.Children) {
    const TNode& n = Nodes[static_cast<size_t>(c)];
    if (n.Folder)
      records.push_back(Record(joliet ? n.JolietLba : n.Lba, joliet ? n.JolietBytes : n.Bytes, n.Time, true,
                               joliet ? n.Joliet : n.Primary));
    else
      records.push_back(Record(n.Size ? n.Lba : 0, n.Size, n.Time, false, joliet ? n.Joliet : n.Primary));
  }
  return records;
}

// A record never crosses a sector's end.
int64_t TIsoImage::TImpl::ExtentBytes(const std::vector<std::string>& records) {
  int64_t at = 0;
  for (const std::string& r : records) {
    if (at % kSector + static_cast<int64_t>(r.size()) > kSector) at = (at / kSector + 1) * kSector;
    at += static_cast<int64_t>(r.size());
  }
  return SectorsOf(at) * kSector;
}

std::string TIsoImage::TImpl::Extent(const TNode& folder, bool joliet) const {
  std::string out;
  for (const std::string& r : Records(folder, joliet)) {
    if (out.size() % kSector + r.size() > kSector) out.resize((out.size() / kSector + 1) * kSector, '\0');
    out += r;
  }
  out.resize(static_cast<size_t>(SectorsOf(static_cast<int64_t>(out.size())) * kSector), '\0');
  return out;
}

std::string TIsoImage::TImpl::PathTable(bool joliet, bool bigEndian) const {
  std::string out;
  for (int f : joliet ? JolietFolders : Folders) {
    const TNode& n = Nodes[static_cast<size_t>(f)];
    const std::string id = f == 0 ? std::string(1, '\0') : joliet ? n.Joliet : n.Primary;
    std::string r(8 + id.size() + id.size() % 2, '\0');
    r[0] = static_cast<char>(id.size());
    const auto lba = static_cast<uint32_t>(joliet ? n.JolietLba : n.Lba);
    const TNode& up = Nodes[static_cast<size_t>(n.Parent)];
    const auto parent = static_cast<uint32_t>(joliet ? up.JolietNumber : up.Number);
    if (bigEndian) {
      Be32(r, 2, lba);
      Be16(r, 6, parent);
    } else {
      Le32(r, 2, lba);
      Le16(r, 6, parent);
    }
    std::memcpy(&r[8], id.data(), id.size());
    out += r;
  }
  return out;
}

void TIsoImage::TImpl::Layout() {
  // Path tables: directory numbers in breadth-first order, children in each tree's own order.
  Folders = {0};
  for (size_t i = 0; i < Folders.size(); ++i) {
    Nodes[static_cast<size_t>(Folders[i])].Number = static_cast<int>(i + 1);
    for (int c : Nodes[static_cast<size_t>(Folders[i])].Children)
      if (Nodes[static_cast<size_t>(c)].Folder) Folders.push_back(c);
  }
  JolietFolders = {0};
  for (size_t i = 0; i < JolietFolders.size(); ++i) {
    Nodes[static_cast<size_t>(JolietFolders[i])].JolietNumber = static_cast<int>(i + 1);
    for (int c : JolietOrder(Nodes[static_cast<size_t>(JolietFolders[i])]))
      if (Nodes[static_cast<size_t>(c)].Folder) JolietFolders.push_back(c);
  }
  PathTableBytes = static_cast<int64_t>(PathTable(false, false).size());
  JolietPathTableBytes = static_cast<int64_t>(PathTable(true, false).size());
  int64_t next = 16 + 3;  // system area, primary and Joliet descriptors, terminator
  for (int t = 0; t < 4; ++t) {
    PathTableLba[t] = next;
    next += SectorsOf(std::max<int64_t>(1, t < 2 ? PathTableBytes : JolietPathTableBytes));
  }
  // Extent sizes depend on names only, not on where things lie.
  for (bool joliet : {false, true}) {
    for (int f : Folders) {
      TNode& n = Nodes[static_cast<size_t>(f)];
      const int64_t bytes = ExtentBytes(Records(n, joliet));
      (joliet ? n.JolietBytes : n.Bytes) = bytes;
      (joliet ? n.JolietLba : n.Lba) = next;
      next += bytes / kSector;
    }
  }
  Files.clear();
  for (int f : Folders)
    for (int c : Nodes[static_cast<size_t>(f)].Children)
      if (!Nodes[static_cast<size_t>(c)].Folder) Files.push_back(c);
  for (int f : Files) {
    TNode& n = Nodes[static_cast<size_t>(f)];
    n.Lba = next;
    next += SectorsOf(n.Size);
  }
  Sectors = next;
}

std::string TIsoImage::TImpl::Descriptor(bool joliet) const {
  std::string d(kSector, '\0');
  d[0] = joliet ? 2 : 1;
  std::memcpy(&d[1], "CD001", 5);
  d[6] = 1;
  const TNode& root = Nodes[0];
  if (joliet) {
    for (size_t i = 8; i < 72; i += 2) d[i + 1] = ' ';  // system identifier
    std::string label = Ucs2(vr::Utf8ToUtf16(Label)).substr(0, 32);
    label.resize(32, '\0');
    for (size_t i = 0; i < 32; i += 2)
      if (label[i] == 0 && label[i + 1] == 0) label[i + 1] = ' ';
    std::memcpy(&d[40], label.data(), 32);
    std::memcpy(&d[88], "%/E", 3);
  } else {
    std::memset(&d[8], ' ', 32);
    std::string label = Label;
    label.resize(32, ' ');
    std::memcpy(&d[40], label.data(), 32);
  }
  Both32(d, 80, static_cast<uint32_t>(Sectors));
  Both16(d, 120, 1);
  Both16(d, 124, 1);
  Both16(d, 128, kSector);
  const int64_t ptBytes = joliet ? JolietPathTableBytes : PathTableBytes;
  Both32(d, 132, static_cast<uint32_t>(ptBytes));
  Le32(d, 140, static_cast<uint32_t>(PathTableLba[joliet ? 2 : 0]));
  Be32(d, 148, static_cast<uint32_t>(PathTableLba[joliet ? 3 : 1]));
  const std::string rootRecord =
      Record(joliet ? root.JolietLba : root.Lba, joliet ? root.JolietBytes : root.Bytes, Time, true,
             std::string(1, '\0'));
  std::memcpy(&d[156], rootRecord.data(), 34);
  if (joliet) {
    for (size_t i = 190; i < 702; i += 2) d[i + 1] = ' ';  // set, publisher, preparer, application
    for (size_t i = 702; i < 813; i += 2) d[i + 1] = ' ';
  } else {
    std::memset(&d[190], ' ', 813 - 190);
  }
  VolumeTime(d, 813, Time);
  VolumeTime(d, 830, Time);
  std::memset(&d[847], '0', 16);
  d[863] = 0;
  VolumeTime(d, 864, Time);
  d[881] = 1;
  return d;
}

TIsoImage::TIsoImage(const std::string& folder, const std::string& label, uint32_t time)
    : impl_(std::make_unique<TImpl>()) {
  impl_->Label = label;
  impl_->Time = time;
  TNode root;
  root.Folder = true;
  root.Path = vr::ExcludeTrailingBackslash(folder);
  root.Time = time;
  impl_->Nodes.push_back(root);
  impl_->Scan(0, 0);
  impl_->Layout();
}

TIsoImage::~TIsoImage() = default;

int64_t TIsoImage::Size() const { return impl_->Sectors * kSector; }

void TIsoImage::Write(const std::string& image, const std::function<bool()>& stopped) const {
  const TImpl& m = *impl_;
  vr::TFileStream out(image, vr::fmCreate);
  auto put = [&](const std::string& bytes) {
    out.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  };
  auto padTo = [&](int64_t sector) {
    const int64_t gap = sector * kSector - out.Position();
    if (gap < 0) throw ToolError(ToUtf8(image) + ": the image's layout is inconsistent");
    put(std::string(static_cast<size_t>(gap), '\0'));
  };
  padTo(16);
  put(m.Descriptor(false));
  put(m.Descriptor(true));
  std::string end(kSector, '\0');
  end[0] = static_cast<char>(255);
  std::memcpy(&end[1], "CD001", 5);
  end[6] = 1;
  put(end);
  for (int t = 0; t < 4; ++t) {
    padTo(m.PathTableLba[t]);
    put(m.PathTable(t >= 2, t % 2 == 1));
  }
  for (bool joliet : {false, true})
    for (int f : m.Folders) {
      const TNode& n = m.Nodes[static_cast<size_t>(f)];
      padTo(joliet ? n.JolietLba : n.Lba);
      put(m.Extent(n, joliet));
    }
  std::vector<char> buffer(1 << 20);
  for (int f : m.Files) {
    const TNode& n = m.Nodes[static_cast<size_t>(f)];
    padTo(n.Lba);
    vr::TFileStream in(n.Path, vr::fmOpenRead | vr::fmShareDenyNone);
    if (in.Size() != n.Size) throw ToolError(ToUtf8(n.Path) + ": changed while the image was written");
    for (int64_t left = n.Size; left > 0;) {
      if (stopped && stopped()) return;
      const auto piece = static_cast<int32_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
      in.ReadBuffer(buffer.data(), piece);
      out.WriteBuffer(buffer.data(), piece);
      left -= piece;
    }
  }
  padTo(m.Sectors);
}

bool IsVolumeLabel(const std::string& label) {
  if (label.empty() || label.size() > 32) return false;
  return std::all_of(label.begin(), label.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; });
}

}  // namespace vrtool
