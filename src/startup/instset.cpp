// Install settings: the "install.dat" format and the per-user registry values of the game.
#include "startup/instset.h"

#include <algorithm>
#include <cstring>

#include "platform/dbcspath.h"
#include "platform/durablefiles.h"
#include "startup/syshelpers.h"

namespace vr {

namespace {

constexpr int kCurrentVersion = 108;

// Reads little-endian values; after the first value that the stream cannot supply every further read
// fails. A field is assigned only when its whole value was read.
class TSettingsReader {
 public:
  explicit TSettingsReader(TStream& stream) : stream_(stream) {
    int64_t size = stream.Size();
    int64_t pos = stream.Position();
    remaining_ = size > pos && pos >= 0 ? size - pos : 0;
  }

  int64_t Remaining() const { return remaining_; }

  bool Bytes(void* buffer, int32_t count) {
    if (!ok_) return false;
    if (count > remaining_) {
      ok_ = false;
      return false;
    }
    int32_t got = count > 0 ? stream_.Read(buffer, count) : 0;
    if (got != count) {
      ok_ = false;
      return false;
    }
    remaining_ -= got;
    return true;
  }

  bool Int32(int32_t& out) {
    uint8_t b[4];
    if (!Bytes(b, 4)) return false;
    out = static_cast<int32_t>(uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 |
                               uint32_t{b[3]} << 24);
    return true;
  }

  bool Int64(int64_t& out) {
    uint8_t b[8];
    if (!Bytes(b, 8)) return false;
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | b[i];
    out = static_cast<int64_t>(v);
    return true;
  }

  // A size value: 8 bytes, or 4 bytes widened with a zero upper half.
  bool Size(int64_t& out, bool wide) {
    if (wide) return Int64(out);
    int32_t v;
    if (!Int32(v)) return false;
    out = static_cast<int64_t>(static_cast<uint32_t>(v));
    return true;
  }

  bool Byte(uint8_t& out) { return Bytes(&out, 1); }

  bool Flag(bool& out) {
    uint8_t b;
    if (!Byte(b)) return false;
    out = b != 0;
    return true;
  }

  bool String(std::string& out) {
    int32_t n;
    if (!Int32(n)) return false;
    if (n <= 0) {
      out.clear();
      return true;
    }
    if (n > remaining_) {
      ok_ = false;
      return false;
    }
    std::string s(static_cast<size_t>(n), '\0');
    if (!Bytes(&s[0], n)) return false;
    out = std::move(s);
    return true;
  }

  // The count of a string list, refused when the stream cannot hold that many strings (4 bytes at least).
  bool ListCount(int32_t& out) {
    int32_t c;
    if (!Int32(c)) return false;
    if (c > 0 && c > remaining_ / 4) {
      ok_ = false;
      return false;
    }
    out = c;
    return true;
  }

 private:
  TStream& stream_;
  int64_t remaining_ = 0;
  bool ok_ = true;
};

void PutBytes(TStream& s, const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    int32_t piece = static_cast<int32_t>(std::min<size_t>(n, 0x40000000));
    s.WriteBuffer(p, piece);
    p += piece;
    n -= piece;
  }
}

void PutInt64(TStream& s, int64_t v) {
  uint8_t b[8];
  uint64_t u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(u >> (8 * i));
  s.WriteBuffer(b, 8);
}

void PutByte(TStream& s, uint8_t v) { s.WriteBuffer(&v, 1); }

void PutString(TStream& s, const std::string& v) {
  WriteInt32(s, static_cast<int32_t>(v.size()));
  PutBytes(s, v.data(), v.size());
}

void PutList(TStream& s, const TStringList& list) {
  WriteInt32(s, list.Count());
  for (const std::string& item : list.Items()) PutString(s, item);
}

// RegistryKey without one leading backslash and without trailing backslashes.
std::string KeyBelowSoftware(const std::string& registryKey) {
  std::string k = registryKey;
  if (!k.empty() && k[0] == '\\') k.erase(0, 1);
  while (!k.empty() && IsPathDelimiterAt(k, k.size() - 1) && k.back() == '\\') k.pop_back();
  return k;
}

std::string SoftwarePath(const std::string& k) {
  return k.empty() ? std::string("Software") : "Software\\" + k;
}

// Every backslash-separated part of k is a name (no empty parts).
bool HasOnlyNamedParts(const std::string& k) {
  if (k.empty()) return false;
  size_t start = 0;
  for (size_t i = 0; i <= k.size(); ++i) {
    bool delimiter = i == k.size() || (k[i] == '\\' && !IsTrailByteAt(k, i));
    if (!delimiter) continue;
    if (i == start) return false;
    start = i + 1;
  }
  return true;
}

// Drops one trailing backslash, then cuts at the last backslash; "" when there is none.
std::string ParentKey(std::string k) {
  if (!k.empty() && k.back() == '\\' && !IsTrailByteAt(k, k.size() - 1)) k.pop_back();
  size_t at = LastDelimiter("\\", k);
  return at == std::string::npos ? std::string() : k.substr(0, at);
}

}  // namespace

void TRovaInstallSet::LoadFromStream(TStream& stream) {
  InstalledFiles.Clear();
  PackageFiles.Clear();
  const int64_t start = stream.Position();

  int version = 0;
  char magic[2] = {0, 0};
  if (stream.Read(magic, 2) == 2 && magic[0] == 'i' && magic[1] == 's') {
    char digits[3];
    if (stream.Read(digits, 3) != 3) return;
    try {
      version = static_cast<int>(StrToInt(std::string(digits, 3)));
    } catch (const EConvertError&) {
      version = 0;
    }
  } else {
    stream.Seek(start, TSeekOrigin::soBeginning);
  }
  TSettingsReader r(stream);
  SettingsVersion = version;
  const bool wide = version >= 100;

  if (!r.Int32(DiskIndex)) return;
  if (!r.String(Title)) return;
  if (!r.String(FooterText)) return;
  if (!r.String(DefaultFolder)) return;
  if (!r.String(ReadmeFile)) return;
  if (!r.Flag(OpenReadme)) return;
  if (!r.String(BackdropPicture)) return;
  if (!r.Byte(BackdropLayout)) return;
  int32_t count;
  if (!r.Int32(count)) return;
  // Row 17 needs count * 4 sizes; a count the stream cannot hold is damage, not a reason to allocate.
  if (count < 0 || count > r.Remaining() / (wide ? 32 : 16)) return;
  SetDiskCount(count);
  if (!r.String(GameExe)) return;
  if (!r.Int32(PictureSeed)) return;
  if (!r.Flag(OfferRuntimes)) return;
  if (!r.Byte(ExtraFlag)) return;
  if (!r.String(MediaNoun)) return;
  if (!r.String(RegistryKey)) return;
  for (int32_t i = 0; i < count; ++i) {
    if (!r.Size(BaseSizes[i], wide)) return;
    if (!r.Size(DataSizes[i], wide)) return;
    if (!r.Size(SoundSizes[i], wide)) return;
    if (!r.Size(MovieSizes[i], wide)) return;
  }
  if (!r.Size(BaseSizeTotal, wide)) return;
  if (!r.Size(DataSizeTotal, wide)) return;
  if (!r.Size(SoundSizeTotal, wide)) return;
  if (!r.Size(MovieSizeTotal, wide)) return;
  if (!r.Flag(Uninstaller)) return;
  if (version >= 101 && !r.Flag(AddOnPackage)) return;
  if (version >= 102) {
    int32_t c;
    if (!r.ListCount(c)) return;
    for (int32_t i = 0; i < c; ++i) {
      std::string s;
      if (!r.String(s)) return;
      if (!s.empty()) InstalledFiles.Add(s);
    }
  }
  if (version >= 103 && !r.Flag(DataInstalled)) return;
  if (version >= 104 && !r.Byte(InstallKind)) return;
  if (version >= 105 && !r.Flag(ArchiveInstall)) return;
  if (version >= 106) {
    int32_t c;
    if (!r.ListCount(c)) return;
    for (int32_t i = 0; i < c; ++i) {
      std::string s;
      if (!r.String(s)) return;
      PackageFiles.Add(s);
    }
  }
  if (version >= 107 && !r.String(SetupCaption)) return;
  if (version >= 108) {
    if (!r.String(WelcomeText)) return;
    if (!r.String(LicenseText)) return;
  }
}

void TRovaInstallSet::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TRovaInstallSet::SaveToStream(TStream& s) const {
  PutBytes(s, "is108", 5);
  static_assert(kCurrentVersion == 108, "header text and rows go together");
  WriteInt32(s, DiskIndex);
  PutString(s, Title);
  PutString(s, FooterText);
  PutString(s, DefaultFolder);
  PutString(s, ReadmeFile);
  PutByte(s, OpenReadme ? 1 : 0);
  PutString(s, BackdropPicture);
  PutByte(s, BackdropLayout);
  const int32_t count = std::max<int32_t>(DiskCount, 0);
  WriteInt32(s, count);
  PutString(s, GameExe);
  WriteInt32(s, PictureSeed);
  PutByte(s, OfferRuntimes ? 1 : 0);
  PutByte(s, ExtraFlag);
  PutString(s, MediaNoun);
  PutString(s, RegistryKey);
  auto at = [](const std::vector<int64_t>& v, int32_t i) {
    return i < static_cast<int32_t>(v.size()) ? v[i] : 0;
  };
  for (int32_t i = 0; i < count; ++i) {
    PutInt64(s, at(BaseSizes, i));
    PutInt64(s, at(DataSizes, i));
    PutInt64(s, at(SoundSizes, i));
    PutInt64(s, at(MovieSizes, i));
  }
  PutInt64(s, BaseSizeTotal);
  PutInt64(s, DataSizeTotal);
  PutInt64(s, SoundSizeTotal);
  PutInt64(s, MovieSizeTotal);
  PutByte(s, Uninstaller ? 1 : 0);
  PutByte(s, AddOnPackage ? 1 : 0);
  PutList(s, InstalledFiles);
  PutByte(s, DataInstalled ? 1 : 0);
  PutByte(s, InstallKind);
  PutByte(s, ArchiveInstall ? 1 : 0);
  PutList(s, PackageFiles);
  PutString(s, SetupCaption);
  PutString(s, WelcomeText);
  PutString(s, LicenseText);
}

std::string TRovaInstallSet::TempFileName(const std::string& fileName) {
  return ExtractFilePath(fileName) + "~" + ExtractFileName(fileName) + ".tmp";
}

void TRovaInstallSet::SaveToFile(const std::string& fileName) const {
  TMemoryStream content;
  SaveToStream(content);
  TPlatform& p = Platform();
  const std::string temp = TempFileName(fileName);
  // Created anew and exclusively: what an earlier run left under the name goes first, and a link of
  // that name is removed, never written through.
  if (p.GetFileKind(temp) == TFileKind::File || p.GetFileKind(temp) == TFileKind::Link) p.DeleteFile(temp);
  const THandle h = p.FileCreateNew(temp);
  if (h == kInvalidHandle) throw EFCreateError(Format(SFCreateError, {fileName}));
  try {
    THandleStream file(h);
    content.SaveToStream(file);
    if (!p.FileFlush(h)) throw EWriteError(SWriteError);
    p.FileClose(h);
  } catch (const Exception&) {
    p.FileClose(h);
    p.DeleteFile(temp);
    throw EFCreateError(Format(SFCreateError, {fileName}));
  }
  if (!p.MoveFileReplace(temp, fileName)) {
    p.DeleteFile(temp);
    throw EFCreateError(Format(SFCreateError, {fileName}));
  }
  // The new name reaches the disk before anything relies on it.
  if (!FlushFolderOf(fileName)) throw EFCreateError(Format(SFCreateError, {fileName}));
}

void TRovaInstallSet::SetDiskCount(int32_t count) {
  if (count < 0) count = 0;
  DiskCount = count;
  BaseSizes.resize(count, 0);
  DataSizes.resize(count, 0);
  SoundSizes.resize(count, 0);
  MovieSizes.resize(count, 0);
}

std::string TRovaInstallSet::ReadSetting(const std::string& name, const std::string& defaultValue) const {
  if (RegistryKey.empty()) return defaultValue;
  const std::string path = SoftwarePath(KeyBelowSoftware(RegistryKey));
  std::string value;
  switch (Platform().RegReadString(TRegRoot::HKCU, path, name, value)) {
    case TRegRead::Ok:
      return value;
    case TRegRead::Missing:
      return defaultValue;
    case TRegRead::NotString:
      break;
  }
  throw ERegistryException(Format("レジストリの値 %s は文字列ではありません", {name}));
}

void TRovaInstallSet::WriteSetting(const std::string& name, const std::string& value) const {
  if (RegistryKey.empty()) return;
  const std::string path = SoftwarePath(KeyBelowSoftware(RegistryKey));
  if (!Platform().RegWriteString(TRegRoot::HKCU, path, name, value))
    throw ERegistryException(Format("レジストリに値 %s を書き込めません", {name}));
}

void TRovaInstallSet::DeleteSettingsKey() const {
  if (RegistryKey.empty()) return;
  std::string k = KeyBelowSoftware(RegistryKey);
  // Only a key with a name of its own is removed: never Software itself or anything addressed through
  // an empty part.
  if (!HasOnlyNamedParts(k)) return;
  TPlatform& p = Platform();
  if (!p.RegKeyExists(TRegRoot::HKCU, "Software")) return;
  p.RegDeleteKeyTree(TRegRoot::HKCU, SoftwarePath(k));
  for (k = ParentKey(k); !k.empty(); k = ParentKey(k)) {
    const std::string path = SoftwarePath(k);
    if (!p.RegKeyExists(TRegRoot::HKCU, path)) return;
    std::optional<std::vector<std::string>> subKeys = p.RegSubKeyNames(TRegRoot::HKCU, path);
    if (!subKeys || !subKeys->empty() || p.RegKeyHasValues(TRegRoot::HKCU, path)) return;
    if (!p.RegDeleteKeyTree(TRegRoot::HKCU, path)) return;
  }
}

bool TRovaInstallSet::IsGameInstalled() const {
  std::string folder = ReadSetting("InstallPath", "");
  if (folder.empty()) return false;
  uint32_t a = Platform().GetFileAttributes(AddTrailingBackslash(folder) + GameExe);
  return a != faInvalid && (a & faDirectory) == 0;
}

int TRovaInstallSet::IndexOfInstalledFile(const std::string& name) const {
  TPlatform& p = Platform();
  const int n = InstalledFiles.Count();
  for (int i = 0; i < n; ++i)
    if (SameTextJ(p, InstalledFiles.Items()[i], name)) return i;
  return -1;
}

void TRovaInstallSet::AddInstalledFile(const std::string& name) {
  if (IndexOfInstalledFile(name) < 0) InstalledFiles.Add(name);
}

bool TRovaInstallSet::IsPackageFile(const std::string& name) const {
  return PackageFiles.IndexOf(Platform().LowerCaseJ(name)) >= 0;
}

std::string TRovaInstallSet::GetSetupCaption() const {
  return SetupCaption.empty() ? Title + "のセットアップ" : SetupCaption;
}

}  // namespace vr
