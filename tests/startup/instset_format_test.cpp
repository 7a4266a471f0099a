// The install.dat format: every version's rows, round trips and damaged files.
#include <gtest/gtest.h>

#include "framework/classes.h"
#include "startup/instset.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

// Little-endian byte builder for hand-made settings files.
struct TBytes {
  std::string b;
  TBytes& I32(int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>(static_cast<uint32_t>(v) >> (8 * i)));
    return *this;
  }
  TBytes& I64(int64_t v) {
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<char>(static_cast<uint64_t>(v) >> (8 * i)));
    return *this;
  }
  TBytes& U8(uint8_t v) {
    b.push_back(static_cast<char>(v));
    return *this;
  }
  TBytes& Str(const std::string& s) {
    I32(static_cast<int32_t>(s.size()));
    b += s;
    return *this;
  }
  TBytes& Raw(const std::string& s) {
    b += s;
    return *this;
  }
};

void Load(TRovaInstallSet& set, const std::string& bytes) {
  TMemoryStream m;
  if (!bytes.empty()) m.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  m.SetPosition(0);
  set.LoadFromStream(m);
}

std::string Saved(const TRovaInstallSet& set) {
  TMemoryStream m;
  set.SaveToStream(m);
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

// Rows 2 to 16 with two media.
void CommonRows(TBytes& f) {
  f.I32(1).Str("テストゲーム").Str("(C) Maker").Str("<ProgramFiles>\\Maker\\Game").Str("readme.txt").U8(1);
  f.Str("back.vsk")
      .U8(2)
      .I32(2)
      .Str("game.exe")
      .I32(-12345)
      .U8(1)
      .U8(0xA5)
      .Str("ディスク")
      .Str("\\Maker\\Game");
}

// A file of the given version with every row that version holds (and trailing bytes nobody reads).
std::string FileOfVersion(int version, bool header) {
  TBytes f;
  if (header) {
    char h[8];
    std::snprintf(h, sizeof h, "is%03d", version);
    f.Raw(h);
  }
  CommonRows(f);
  const bool wide = version >= 100;
  for (int i = 0; i < 2 + 1; ++i) {  // two media, then the totals
    for (int k = 0; k < 4; ++k) {
      if (wide)
        f.I64((int64_t{5} << 32) + i * 10 + k);
      else
        f.I32(static_cast<int32_t>(0xF0000000u + i * 10 + k));
    }
  }
  f.U8(1);  // Uninstaller
  if (version >= 101) f.U8(1);
  if (version >= 102) f.I32(3).Str("a.dat").Str("").Str("sub\\b.dat");
  if (version >= 103) f.U8(1);
  if (version >= 104) f.U8(2);
  if (version >= 105) f.U8(1);
  if (version >= 106) f.I32(2).Str("").Str("se\\x.ogg");
  if (version >= 107) f.Str("キャプション");
  if (version >= 108) f.Str("ようこそ").Str("使用許諾");
  f.Raw("trailing bytes are ignored");
  return f.b;
}

// Values a load must leave alone when their rows are not in the file.
void Prefill(TRovaInstallSet& s) {
  s.AddOnPackage = false;
  s.DataInstalled = false;
  s.InstallKind = 7;
  s.ArchiveInstall = false;
  s.SetupCaption = "keep";
  s.WelcomeText = "keep";
  s.LicenseText = "keep";
  s.InstalledFiles.Add("stale");
  s.PackageFiles.Add("stale");
}

TEST(InstallSetFormat, EveryVersionReadsExactlyItsRows) {
  TTempDrive drive;  // locale functions of the platform
  struct TCase {
    int version;
    bool header;
  };
  for (TCase c : {TCase{0, false}, TCase{0, true}, TCase{99, true}, TCase{100, true}, TCase{101, true},
                  TCase{102, true}, TCase{103, true}, TCase{104, true}, TCase{105, true}, TCase{106, true},
                  TCase{107, true}, TCase{108, true}, TCase{109, true}}) {
    SCOPED_TRACE(testing::Message() << "version " << c.version << (c.header ? "" : " without header"));
    TRovaInstallSet s;
    Prefill(s);
    Load(s, FileOfVersion(c.version, c.header));
    const int v = c.version;
    EXPECT_EQ(s.SettingsVersion, v);
    EXPECT_EQ(s.DiskIndex, 1);
    EXPECT_EQ(s.Title, "テストゲーム");
    EXPECT_EQ(s.FooterText, "(C) Maker");
    EXPECT_EQ(s.DefaultFolder, "<ProgramFiles>\\Maker\\Game");
    EXPECT_EQ(s.ReadmeFile, "readme.txt");
    EXPECT_TRUE(s.OpenReadme);
    EXPECT_EQ(s.BackdropPicture, "back.vsk");
    EXPECT_EQ(s.BackdropLayout, 2);
    EXPECT_EQ(s.DiskCount, 2);
    EXPECT_EQ(s.GameExe, "game.exe");
    EXPECT_EQ(s.PictureSeed, -12345);
    EXPECT_TRUE(s.OfferRuntimes);
    EXPECT_EQ(s.ExtraFlag, 0xA5);
    EXPECT_EQ(s.MediaNoun, "ディスク");
    EXPECT_EQ(s.RegistryKey, "\\Maker\\Game");
    ASSERT_EQ(s.BaseSizes.size(), 2u);
    // Below 100 the sizes are 32-bit and widened with a zero upper half.
    auto size = [&](int i, int k) {
      return v >= 100 ? (int64_t{5} << 32) + i * 10 + k : int64_t{0xF0000000} + i * 10 + k;
    };
    EXPECT_EQ(s.BaseSizes[1], size(1, 0));
    EXPECT_EQ(s.DataSizes[1], size(1, 1));
    EXPECT_EQ(s.SoundSizes[0], size(0, 2));
    EXPECT_EQ(s.MovieSizes[0], size(0, 3));
    EXPECT_EQ(s.BaseSizeTotal, size(2, 0));
    EXPECT_EQ(s.MovieSizeTotal, size(2, 3));
    EXPECT_TRUE(s.Uninstaller);
    EXPECT_EQ(s.AddOnPackage, v >= 101);
    if (v >= 102) {
      ASSERT_EQ(s.InstalledFiles.Count(), 2) << "the empty entry is dropped";
      EXPECT_EQ(s.InstalledFiles[1], "sub\\b.dat");
    } else {
      EXPECT_EQ(s.InstalledFiles.Count(), 0) << "cleared even when its row is absent";
    }
    EXPECT_EQ(s.DataInstalled, v >= 103);
    EXPECT_EQ(s.InstallKind, v >= 104 ? 2 : 7);
    EXPECT_EQ(s.ArchiveInstall, v >= 105);
    if (v >= 106) {
      ASSERT_EQ(s.PackageFiles.Count(), 2) << "the empty entry is kept";
      EXPECT_EQ(s.PackageFiles[0], "");
      EXPECT_EQ(s.PackageFiles[1], "se\\x.ogg");
    } else {
      EXPECT_EQ(s.PackageFiles.Count(), 0);
    }
    EXPECT_EQ(s.SetupCaption, v >= 107 ? "キャプション" : "keep");
    EXPECT_EQ(s.WelcomeText, v >= 108 ? "ようこそ" : "keep");
    EXPECT_EQ(s.LicenseText, v >= 108 ? "使用許諾" : "keep");
  }
}

TEST(InstallSetFormat, HeaderVariantsAndZeroMedia) {
  TTempDrive drive;
  // "is" followed by text that is no number: version 0, reading goes on after the five bytes.
  std::string v0 = FileOfVersion(0, false);
  TRovaInstallSet s;
  Load(s, "isab!" + v0);
  EXPECT_EQ(s.SettingsVersion, 0);
  EXPECT_EQ(s.Title, "テストゲーム");
  EXPECT_EQ(s.BaseSizeTotal, int64_t{0xF0000000} + 20);

  // No media: row 17 takes no bytes.
  TBytes f;
  f.Raw("is108").I32(0).Str("T").Str("").Str("").Str("").U8(0).Str("").U8(0).I32(0).Str("g.exe").I32(0);
  f.U8(0).U8(0).Str("").Str("");
  f.I64(11).I64(22).I64(33).I64(44).U8(0).U8(0).I32(0).U8(0).U8(1).U8(0).I32(0).Str("").Str("w").Str("l");
  TRovaInstallSet z;
  z.SetDiskCount(3);
  Load(z, f.b);
  EXPECT_EQ(z.DiskCount, 0);
  EXPECT_TRUE(z.BaseSizes.empty());
  EXPECT_EQ(z.DataSizeTotal, 22);
  EXPECT_EQ(z.MovieSizeTotal, 44);
  EXPECT_EQ(z.InstallKind, 1);
  EXPECT_EQ(z.LicenseText, "l");

  // Tiny streams: nothing to read, nothing changed apart from the lists.
  for (const char* tiny : {"", "i", "is", "is10", "x"}) {
    TRovaInstallSet t;
    t.Title = "unchanged";
    Load(t, tiny);
    EXPECT_EQ(t.Title, "unchanged") << tiny;
  }
}

TEST(InstallSetFormat, SaveLoadRoundTripKeepsEveryField) {
  TTempDrive drive;
  TRovaInstallSet a;
  a.DiskIndex = 2;
  a.Title = "表示テスト";  // 0x5C trail byte inside
  a.FooterText = "footer";
  a.DefaultFolder = "C:\\Games\\X";
  a.ReadmeFile = "doc\\readme.txt";
  a.OpenReadme = true;
  a.BackdropPicture = "bg.vsk";
  a.BackdropLayout = 1;
  a.SetDiskCount(3);
  a.BaseSizes = {1, int64_t{1} << 40, 3};
  a.DataSizes = {4, 5, 6};
  a.SoundSizes = {7, 8, 9};
  a.MovieSizes = {10, 11, -1};
  a.GameExe = "bin\\game.exe";
  a.PictureSeed = 0x7FFFFFFF;
  a.OfferRuntimes = true;
  a.ExtraFlag = 200;
  a.MediaNoun = "CD";
  a.RegistryKey = "Maker\\Game";
  a.BaseSizeTotal = 100;
  a.DataSizeTotal = 200;
  a.SoundSizeTotal = 300;
  a.MovieSizeTotal = int64_t{3} << 33;
  a.Uninstaller = true;
  a.AddOnPackage = true;
  a.DataInstalled = true;
  a.InstallKind = 2;
  a.ArchiveInstall = true;
  a.InstalledFiles.Add("x.dat");
  a.InstalledFiles.Add("");
  a.InstalledFiles.Add("y\\z.dat");
  a.PackageFiles.Add("");
  a.PackageFiles.Add("movie\\op.mpg");
  a.SetupCaption = "caption";
  a.WelcomeText = std::string(70000, 'w');
  a.LicenseText = "license\r\nline 2";

  const std::string path = drive.PathOf("install.dat");
  a.SaveToFile(path);
  const std::string bytes = drive.ReadFile("install.dat");
  EXPECT_EQ(bytes.substr(0, 5), "is108");
  EXPECT_EQ(bytes, Saved(a));

  TRovaInstallSet b;
  b.LoadFromFile(path);
  EXPECT_EQ(b.SettingsVersion, 108);
  // Only the empty installed-file entry is lost.
  ASSERT_EQ(b.InstalledFiles.Count(), 2);
  EXPECT_EQ(b.InstalledFiles[1], "y\\z.dat");
  a.InstalledFiles.Delete(1);
  EXPECT_EQ(Saved(b), Saved(a));
  EXPECT_EQ(b.Title, a.Title);
  EXPECT_EQ(b.BaseSizes, a.BaseSizes);
  EXPECT_EQ(b.MovieSizes, a.MovieSizes);
  EXPECT_EQ(b.PackageFiles.Items(), a.PackageFiles.Items());
  EXPECT_EQ(b.WelcomeText.size(), 70000u);
  EXPECT_EQ(b.ExtraFlag, 200);
  EXPECT_EQ(b.PictureSeed, 0x7FFFFFFF);

  EXPECT_THROW(b.LoadFromFile(drive.PathOf("missing.dat")), EFOpenError);
}

TEST(InstallSetFormat, CutOffFilesKeepUnreadFieldsAndNeverThrow) {
  TTempDrive drive;
  const std::string full = FileOfVersion(108, true);
  TRovaInstallSet reference;
  Load(reference, full);
  for (size_t len = 0; len <= full.size(); ++len) {
    TRovaInstallSet s;
    s.Title = "T0";
    s.LicenseText = "L0";
    ASSERT_NO_THROW(Load(s, full.substr(0, len))) << len;
    // A field is either untouched or fully read, never half read.
    EXPECT_TRUE(s.Title == "T0" || s.Title == reference.Title) << len;
    EXPECT_TRUE(s.LicenseText == "L0" || s.LicenseText == reference.LicenseText) << len;
    EXPECT_EQ(s.DiskCount, static_cast<int32_t>(s.BaseSizes.size()));
  }
}

TEST(InstallSetFormat, HostileLengthsAndCountsStopTheLoad) {
  TTempDrive drive;
  {
    // A title length far beyond the stream.
    TBytes f;
    f.Raw("is108").I32(4).I32(0x7FFFFFF0).Raw("short");
    TRovaInstallSet s;
    s.Title = "old title";
    s.FooterText = "old footer";
    Load(s, f.b);
    EXPECT_EQ(s.DiskIndex, 4);
    EXPECT_EQ(s.Title, "old title");
    EXPECT_EQ(s.FooterText, "old footer");
  }
  {
    // A media count whose per-medium rows the stream cannot hold.
    TBytes f;
    f.Raw("is108").I32(0).Str("T").Str("").Str("").Str("").U8(0).Str("").U8(0).I32(0x7FFFFFFF).Str("g.exe");
    f.Raw(std::string(64, '\0'));
    TRovaInstallSet s;
    s.SetDiskCount(1);
    s.BaseSizes[0] = 99;
    s.GameExe = "old.exe";
    Load(s, f.b);
    EXPECT_EQ(s.Title, "T");
    EXPECT_EQ(s.DiskCount, 1);
    ASSERT_EQ(s.BaseSizes.size(), 1u);
    EXPECT_EQ(s.BaseSizes[0], 99);
    EXPECT_EQ(s.GameExe, "old.exe");
  }
  {
    // A negative media count is damage as well.
    TBytes f;
    f.Raw("is108").I32(0).Str("T").Str("").Str("").Str("").U8(0).Str("").U8(0).I32(-1).Str("g.exe");
    TRovaInstallSet s;
    Load(s, f.b);
    EXPECT_EQ(s.DiskCount, 0);
    EXPECT_EQ(s.GameExe, "");
  }
  {
    // A huge list count: the list stays empty and later rows are not read; negative lengths are "".
    TBytes f;
    f.Raw("is108");
    CommonRows(f);
    for (int i = 0; i < 12; ++i) f.I64(i);
    f.U8(1).U8(1).I32(0x40000000).Str("a").I32(-5);
    TRovaInstallSet s;
    s.DataInstalled = false;
    Load(s, f.b);
    EXPECT_TRUE(s.AddOnPackage);
    EXPECT_EQ(s.InstalledFiles.Count(), 0);
    EXPECT_FALSE(s.DataInstalled);
  }
  {
    // Negative lengths and counts read as empty and the load goes on.
    TBytes f;
    f.Raw("is108").I32(0).I32(-7).Str("F").Str("").Str("").U8(0).Str("").U8(0).I32(0).Str("g.exe").I32(0);
    f.U8(0).U8(0).Str("").Str("");
    for (int i = 0; i < 4; ++i) f.I64(1);
    f.U8(0).U8(0).I32(-3).U8(1).U8(0).U8(0).I32(-1).Str("c").Str("").Str("");
    TRovaInstallSet s;
    s.Title = "x";
    Load(s, f.b);
    EXPECT_EQ(s.Title, "");
    EXPECT_EQ(s.FooterText, "F");
    EXPECT_TRUE(s.DataInstalled);
    EXPECT_EQ(s.SetupCaption, "c");
  }
}

}  // namespace
}  // namespace vr
