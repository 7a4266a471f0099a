// Reading archives: directory versions, placements, masking, lookups, extraction, checks, damaged input.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "../support/tempdrive.h"
#include "archive/scrambles.h"
#include "archive/vrfiles.h"
#include "startup/instset.h"
#include "vrfiles_testutil.h"

namespace vr {
namespace {

using namespace vrtest;

std::vector<RawEntry> SampleEntries(int version) {
  // Directories before version 101 have no kinds: every entry is compressed.
  std::vector<RawEntry> e;
  e.push_back(Compressed("install.dat", "settings", 0x5A2B1C3D));
  e.push_back(Compressed("画像\\背景.vsk", Text(3000, 7), 0x12345678));
  e.push_back(Compressed("empty.txt", ""));
  if (version >= 101) {
    e.push_back(Stored("sound\\bgm01.ogg", RandomBytes(700, 3), 42));
    e.push_back(Stored("zero.bin", ""));
    e.back().crc = 0;
  }
  if (version >= 102) {
    e.push_back(Stored("readme.txt", "read me", 7));
    e.back().separate = 1;
  }
  return e;
}

TEST(VrFilesRead, EveryDirectoryVersion) {
  TTempDrive drive;
  for (int version : {0, 100, 101, 102}) {
    SCOPED_TRACE(version);
    const std::vector<RawEntry> entries = SampleEntries(version);
    drive.WriteFile("game.dat", BuildArchive(version, entries));
    TVrFileCollection files;
    files.Open(drive.PathOf("game.dat"));
    ASSERT_EQ(files.Count(), static_cast<int>(entries.size()) + 1);
    EXPECT_EQ(files.IndexOf("\\EOF\\"), static_cast<int>(entries.size()));
    EXPECT_EQ(files.BasePath, drive.Folder());
    const int64_t directory = static_cast<int64_t>(DirectorySize(version, entries));
    int64_t at = directory;
    for (size_t i = 0; i < entries.size(); ++i) {
      const TVrFile& f = *files.Items(static_cast<int>(i));
      EXPECT_EQ(f.Name(), entries[i].name);
      EXPECT_EQ(f.Offset, at);
      EXPECT_EQ(f.Size, static_cast<int64_t>(entries[i].stored.size()));
      EXPECT_EQ(f.Kind, version >= 101 ? entries[i].kind : 0);
      EXPECT_EQ(f.Time, version >= 101 ? entries[i].time : 0);
      EXPECT_EQ(f.CRC, version >= 101 ? entries[i].crc : 0u);
      EXPECT_EQ(f.Separate, version >= 102 ? entries[i].separate : 0);
      at += f.Size;
    }
    EXPECT_EQ(files.Items(files.Count() - 1)->Offset, at);
    EXPECT_EQ(Extract(files, "install.dat"), "settings");
    EXPECT_EQ(Extract(files, "画像\\背景.vsk"), Text(3000, 7));
    EXPECT_EQ(Extract(files, "EMPTY.TXT"), "");
    if (version >= 101) {
      EXPECT_EQ(Extract(files, "sound\\bgm01.ogg"), RandomBytes(700, 3));
      EXPECT_EQ(Extract(files, "zero.bin"), "");
    }
    EXPECT_TRUE(files.VerifyData());
  }
}

TEST(VrFilesRead, NameMaskingIsOneContinuousKeyStream) {
  // The second name's masking depends on the length of the first.
  const std::string a = BuildDirectory(102, {Stored("ab", ""), Stored("name", "")}, {0, 0, 0});
  const std::string b = BuildDirectory(102, {Stored("abc", ""), Stored("name", "")}, {0, 0, 0});
  const std::string secondA = a.substr(10 + 4 + 2 + 4, 4);
  const std::string secondB = b.substr(10 + 4 + 3 + 4, 4);
  EXPECT_NE(secondA, secondB);
  KeyStream k;
  k.Next();
  k.Next();
  EXPECT_EQ(static_cast<uint8_t>(secondA[0]), static_cast<uint8_t>('n' ^ (k.Next() & 0xFF)));

  // The reader follows the same stream across names of every length, the empty one included.
  TTempDrive drive;
  std::vector<RawEntry> entries;
  for (int i = 0; i < 40; ++i)
    entries.push_back(
        Stored(std::string(static_cast<size_t>(i % 7), 'a' + i % 26) + std::to_string(i), std::to_string(i)));
  entries.push_back(Stored("", "no name"));
  drive.WriteFile("m.dat", BuildArchive(100, entries));
  TVrFileCollection files;
  files.Open(drive.PathOf("m.dat"));
  ASSERT_EQ(files.Count(), 42);
  for (int i = 0; i < 41; ++i) EXPECT_EQ(files.Items(i)->Name(), entries[static_cast<size_t>(i)].name);

  // A 64-bit offset whose key has bit 31 set has its high half inverted.
  KeyStream o;
  int withBit = -1;
  for (int i = 0; i < 40 && withBit < 0; ++i)
    if (o.Next() & 0x80000000u) withBit = i;
  ASSERT_GE(withBit, 0);
  std::vector<int64_t> offsets(static_cast<size_t>(withBit) + 1, 0);
  const std::string dir =
      BuildDirectory(101, std::vector<RawEntry>(static_cast<size_t>(withBit), Stored("", "")), offsets);
  const size_t at = 10 + 4 * static_cast<size_t>(withBit) + 8 * static_cast<size_t>(withBit);
  EXPECT_EQ(GetLE32(dir, at + 4), 0xFFFFFFFFu);
}

TEST(VrFilesRead, PlacementsAndTheEndMarker) {
  TTempDrive drive;
  const std::vector<RawEntry> entries = {Stored("install.dat", "title"), Compressed("a.txt", Text(500)),
                                         Stored("empty", "")};
  const std::string archive = BuildArchive(102, entries);

  // Appended to an executable, found through the trailer; letter case of the extension does not matter.
  const std::string exeBody = "MZ" + RandomBytes(1000, 9);
  std::string exe = exeBody + archive;
  PutLE(exe, exeBody.size(), 4);
  exe += "rv";
  for (const char* name : {"setup.exe", "SETUP2.EXE", "saver.Scr"}) {
    drive.WriteFile(name, exe);
    TVrFileCollection files;
    files.Open(drive.PathOf(name));
    ASSERT_EQ(files.Count(), 4) << name;
    EXPECT_EQ(files.Items(0)->Offset, static_cast<int64_t>(exeBody.size() + DirectorySize(102, entries)));
    EXPECT_EQ(Extract(files, "a.txt"), Text(500));
    EXPECT_EQ(Extract(files, "empty"), "");
    EXPECT_TRUE(files.VerifyData());
  }

  // A data file with a directory file beside it takes the directory from there, even when the data
  // file also starts with one.
  {
    std::string data = BuildArchive(102, {Stored("decoy", "decoy")});
    std::vector<int64_t> offsets;
    for (const RawEntry& e : entries) {
      offsets.push_back(static_cast<int64_t>(data.size()));
      data += e.stored;
    }
    offsets.push_back(static_cast<int64_t>(data.size()));
    drive.WriteFile("game.dat", data);
    drive.WriteFile("game.ext", BuildDirectory(102, entries, offsets));
    TVrFileCollection files;
    files.Open(drive.PathOf("game.dat"));
    ASSERT_EQ(files.Count(), 4);
    EXPECT_EQ(files.IndexOf("decoy"), -1);
    EXPECT_EQ(Extract(files, "a.txt"), Text(500));
    EXPECT_EQ(Extract(files, "install.dat"), "title");
    EXPECT_TRUE(files.VerifyData());
    // The directory file alone can be listed, not extracted.
    TVrFileCollection listing;
    TKoBigMemoryStream directory;
    directory.LoadFromFile(drive.PathOf("game.ext"));
    directory.SetPosition(0);
    listing.LoadDirectory(directory);
    ASSERT_EQ(listing.Count(), 4);
    EXPECT_EQ(listing.Items(1)->Offset, files.Items(1)->Offset);
    EXPECT_THROW(Extract(listing, "a.txt"), EVrError);
  }

  // Opening a name that does not exist serves loose files of that folder.
  {
    drive.WriteFile("loose\\only.txt", "loose bytes");
    TVrFileCollection files;
    files.Open(drive.PathOf("loose"));
    EXPECT_EQ(files.Count(), 0);
    EXPECT_EQ(files.DataStream, nullptr);
    EXPECT_EQ(files.BasePath, drive.PathOf("loose\\"));
    EXPECT_EQ(Extract(files, "only.txt"), "loose bytes");
    EXPECT_FALSE(files.VerifyData());
    files.OpenPath(drive.PathOf("loose\\new.dat"), true);
    EXPECT_EQ(files.BasePath, drive.PathOf("loose\\"));
    EXPECT_EQ(files.FileName, drive.PathOf("loose\\new.dat"));
    // Open with an empty name closes and keeps the folder.
    files.Open(drive.PathOf("game.dat"));
    EXPECT_NE(files.DataStream, nullptr);
    files.Open("");
    EXPECT_EQ(files.Count(), 0);
    EXPECT_EQ(files.DataStream, nullptr);
    EXPECT_EQ(files.FileName, "");
    EXPECT_EQ(files.BasePath, drive.Folder());
  }
}

#ifndef _WIN32
class ResourcePlatform : public TPosixPlatform {
 public:
  using TPosixPlatform::TPosixPlatform;
  std::string Bytes;
  bool Present = true;
  std::optional<TResourceData> FindResource(const std::string& /*module*/, const std::string& name,
                                            const std::string& type) override {
    if (!Present || name != "DUMMY" || type != "BINTYPE") return std::nullopt;
    TResourceData d;
    d.Data = reinterpret_cast<const uint8_t*>(Bytes.data());
    d.Size = Bytes.size();
    return d;
  }
};

TEST(VrFilesRead, ResourcePlacement) {
  TTempDrive drive;
  ResourcePlatform platform(drive.PosixConfig());
  TPlatform* previous = SetPlatform(&platform);
  {
    platform.Bytes = BuildArchive(
        102, {Stored("install.dat", "from resource"), Stored("empty", ""), Compressed("c.txt", Text(100))});
    TVrFileCollection files;
    files.BasePath = "C:\\keep\\";
    files.OpenResource(platform.ModuleFileName(), "DUMMY", "BINTYPE");
    ASSERT_EQ(files.Count(), 4);
    EXPECT_EQ(files.BasePath, "C:\\keep\\");
    EXPECT_EQ(Extract(files, "install.dat"), "from resource");
    EXPECT_EQ(Extract(files, "empty"), "");
    EXPECT_EQ(Extract(files, "c.txt"), Text(100));
    EXPECT_TRUE(files.VerifyData());

    // Another module that does not exist: nothing opened, no error.
    files.OpenResource("C:\\nowhere\\other.exe", "DUMMY", "BINTYPE");
    EXPECT_EQ(files.Count(), 0);
    EXPECT_EQ(files.DataStream, nullptr);

    platform.Bytes.clear();
    try {
      files.OpenResource("", "DUMMY", "BINTYPE");
      ADD_FAILURE() << "empty resource accepted";
    } catch (const EVrError& e) {
      EXPECT_EQ(e.Message, "リソースが見つかりません");
    }
    platform.Present = false;
    EXPECT_THROW(files.OpenResource("", "DUMMY", "BINTYPE"), EResNotFound);
  }
  SetPlatform(previous);
}
#endif

TEST(VrFilesRead, LookupsAndLooseFileFallback) {
  TTempDrive drive;
  drive.WriteFile("game.dat",
                  BuildArchive(102, {Stored("/install.dat", "superseded"), Stored("Data\\Pic.PNG", "png"),
                                     Stored("dup", "first"), Stored("DUP", "second")}));
  drive.WriteFile("install.dat", "loose settings");
  TVrFileCollection files;
  files.Open(drive.PathOf("game.dat"));
  EXPECT_EQ(files.IndexOf("data\\pic.png"), 1);
  EXPECT_EQ(files.IndexOf("dup"), 3);  // the most recently named wins
  EXPECT_EQ(Extract(files, "Dup"), "second");
  // A superseded entry never answers the plain name: the loose file does.
  EXPECT_EQ(files.IndexOf("install.dat"), -1);
  EXPECT_EQ(Extract(files, "install.dat"), "loose settings");
  EXPECT_EQ(files.IndexOf("/install.dat"), 0);
  // The archive file itself is never taken as a loose file.
  try {
    Extract(files, "game.dat");
    ADD_FAILURE();
  } catch (const EVrError& e) {
    EXPECT_EQ(e.Message, "game.dat:ファイルがありません");
  }
  // Renaming moves an entry in the lookup at once.
  files.Items(2)->SetName("renamed");
  EXPECT_EQ(files.IndexOf("dup"), 3);
  files.Items(3)->SetName("other");
  EXPECT_EQ(files.IndexOf("dup"), -1);
  EXPECT_EQ(files.IndexOf("RENAMED"), 2);
  files.Delete(0);
  EXPECT_EQ(files.IndexOf("renamed"), 1);
  EXPECT_EQ(files.IndexOf("\\EOF\\"), 3);
  // Japanese names: letter case of full-width letters is ignored by the locale comparison.
  TVrFileCollection j;
  j.AddFile("ｄａｔａ\\画像.png");
  j.AddFile("plain");
  EXPECT_EQ(j.IndexOf("ｄａｔａ\\画像.png"), 0);
  EXPECT_EQ(j.IndexOf("ＤＡＴＡ\\画像.PNG"), 0);
  EXPECT_EQ(j.IndexOf("PLAIN"), 1);
  EXPECT_EQ(j.IndexOf("plain2"), -1);

  // No archive and no folder: every name is missing.
  TVrFileCollection none;
  TMemoryStream m;
  try {
    none.ExtractToStream(m, "install.dat");
    ADD_FAILURE();
  } catch (const EVrError& e) {
    EXPECT_EQ(e.Message, "install.dat:ファイルがありません");
  }
}

TEST(VrFilesRead, ExtractIntoFileStreamsAppendsAndRewinds) {
  TTempDrive drive;
  const std::string big = RandomBytes(3 * 1048576 + 17, 5);  // stored: goes through the buffer
  drive.WriteFile("game.dat", BuildArchive(102, {Stored("big.bin", big), Compressed("t.txt", Text(20000))}));
  drive.WriteFile("loose.txt", "loose");
  TVrFileCollection files;
  files.Open(drive.PathOf("game.dat"));
  for (const char* name : {"big.bin", "t.txt", "loose.txt"}) {
    const std::string expected = std::string(name) == "big.bin" ? big
                                 : std::string(name) == "t.txt" ? Text(20000)
                                                                : "loose";
    {
      TFileStream out(drive.PathOf("out.bin"), fmCreate);
      Put(out, std::string(100, 'p'));
      files.ExtractToStream(out, name);
      EXPECT_EQ(out.Position(), 0);
    }
    EXPECT_EQ(drive.ReadFile("out.bin"), std::string(100, 'p') + expected) << name;
  }
  // A memory stream is emptied first.
  TMemoryStream m;
  Put(m, "old contents that are longer");
  files.ExtractToStream(m, "t.txt");
  EXPECT_EQ(m.Position(), 0);
  EXPECT_EQ(MemoryText(m), Text(20000));

  // By index, and as files below a folder; names that would leave the folder are refused.
  files.AddFile("..\\evil.txt");
  files.AddFile("C:\\abs.txt");
  EXPECT_EQ(files.ExtractItemToFolder(1, drive.PathOf("x")), drive.PathOf("x\\t.txt"));
  EXPECT_EQ(drive.ReadFile("x\\t.txt"), Text(20000));
  EXPECT_THROW(files.ExtractItemToFolder(files.Count() - 2, drive.PathOf("x")), EVrError);
  EXPECT_THROW(files.ExtractItemToFolder(files.Count() - 1, drive.PathOf("x")), EVrError);
  EXPECT_FALSE(drive.Exists("evil.txt"));
}

TEST(VrFilesRead, VerifyDataChecksProgressAndCancel) {
  TTempDrive drive;
  std::vector<RawEntry> entries;
  for (int i = 0; i < 25; ++i) entries.push_back(Stored("f" + std::to_string(i), RandomBytes(100 + i, i)));
  entries[3].crc = 0;       // not checked
  entries[4].name = "/f4";  // superseded: not checked
  entries[4].crc = 0x12345678;
  std::string archive = BuildArchive(102, entries);
  drive.WriteFile("game.dat", archive);
  TVrFileCollection files;
  files.Open(drive.PathOf("game.dat"));
  std::vector<int> seen;
  files.OnProgress = [&](TVrFileCollection* sender, TVrFile* item, int64_t size, int32_t index, int32_t count,
                         bool& /*cancel*/) {
    EXPECT_EQ(sender, &files);
    EXPECT_EQ(item, files.Items(index));
    EXPECT_EQ(size, item->Size);
    EXPECT_EQ(count, 25);
    seen.push_back(index);
  };
  EXPECT_TRUE(files.VerifyData());
  EXPECT_EQ(seen, (std::vector<int>{9, 19}));

  // Damage entry 3 (no checksum) and entry 12.
  const size_t dir = DirectorySize(102, entries);
  auto offsetOf = [&](int k) {
    size_t at = dir;
    for (int i = 0; i < k; ++i) at += entries[static_cast<size_t>(i)].stored.size();
    return at;
  };
  archive[offsetOf(3)] ^= 1;
  files.Open("");
  drive.WriteFile("game.dat", archive);
  files.Open(drive.PathOf("game.dat"));
  files.OnProgress = nullptr;
  EXPECT_TRUE(files.VerifyData());
  archive[offsetOf(12) + 50] ^= 0x40;
  archive[offsetOf(20)] ^= 0x40;
  files.Open("");
  drive.WriteFile("game.dat", archive);
  files.Open(drive.PathOf("game.dat"));
  EXPECT_FALSE(files.VerifyData());
  const std::vector<TVerifyState> states = files.VerifyEach();
  ASSERT_EQ(states.size(), 26u);
  for (int i = 0; i < 26; ++i) {
    const TVerifyState expected = (i == 12 || i == 20)            ? TVerifyState::vsMismatch
                                  : (i == 3 || i == 4 || i == 25) ? TVerifyState::vsSkipped
                                                                  : TVerifyState::vsOk;
    EXPECT_EQ(states[static_cast<size_t>(i)], expected) << i;
  }
  // Cancel at the first report: the result so far (still true).
  files.OnProgress = [](TVrFileCollection*, TVrFile*, int64_t, int32_t, int32_t, bool& cancel) {
    cancel = true;
  };
  EXPECT_TRUE(files.VerifyData());
}

TEST(VrFilesRead, SplitDataFileAcrossParts) {
  TTempDrive drive;
  PartSizeScope parts(1000);
  std::vector<RawEntry> entries;
  for (int i = 0; i < 12; ++i)
    entries.push_back(i % 2 ? Stored("s" + std::to_string(i), RandomBytes(333 + 97 * i, i))
                            : Compressed("c" + std::to_string(i), Text(900 + 50 * i, i)));
  const std::string archive = BuildArchive(102, entries);
  {
    TKoBigFileStream out(drive.PathOf("game.dat"), fmCreate);
    out.WriteBuffer(archive.data(), static_cast<int64_t>(archive.size()));
  }
  ASSERT_TRUE(drive.Exists("game.001"));
  TVrFileCollection files;
  files.Open(drive.PathOf("game.dat"));
  ASSERT_EQ(files.Count(), 13);
  for (int i = 0; i < 12; ++i) {
    const std::string name = entries[static_cast<size_t>(i)].name;
    EXPECT_EQ(Extract(files, name), i % 2 ? RandomBytes(333 + 97 * i, i) : Text(900 + 50 * i, i)) << name;
  }
  EXPECT_TRUE(files.VerifyData());
}

// Loads bytes as game.dat; true when loaded, false on EVrError, test failure on anything else.
bool LoadsOrRefuses(TTempDrive& drive, const std::string& bytes, const char* name = "game.dat") {
  drive.WriteFile(name, bytes);
  TVrFileCollection files;
  try {
    files.Open(drive.PathOf(name));
  } catch (const EVrError&) {
    EXPECT_EQ(files.Count(), 0);
    EXPECT_EQ(files.DataStream, nullptr);
    return false;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected error: " << e.what();
    return false;
  }
  // Whatever loaded must decode or refuse cleanly too.
  for (int i = 0; i < files.Count(); ++i) {
    TMemoryStream m;
    try {
      files.ExtractItem(m, i);
    } catch (const EVrError&) {
    } catch (const std::exception& e) {
      ADD_FAILURE() << "unexpected error: " << e.what();
    }
  }
  files.VerifyData();
  return true;
}

TEST(VrFilesRead, DamagedDirectoriesAreRefused) {
  TTempDrive drive;
  auto dir = [](int32_t count, const std::string& rest) {
    std::string s = "vf";
    PutLE(s, 102, 4);
    PutLE(s, static_cast<uint32_t>(count), 4);
    return s + rest;
  };
  EXPECT_FALSE(LoadsOrRefuses(drive, ""));
  EXPECT_FALSE(LoadsOrRefuses(drive, "vf"));
  EXPECT_FALSE(LoadsOrRefuses(drive, dir(-1, std::string(100, '\0'))));
  EXPECT_FALSE(LoadsOrRefuses(drive, dir(0x7FFFFFFF, std::string(100, '\0'))));
  std::string negativeLength;
  PutLE(negativeLength, 0xFFFFFFF0u, 4);
  EXPECT_FALSE(LoadsOrRefuses(drive, dir(1, negativeLength + std::string(100, '\0'))));
  std::string longName;
  PutLE(longName, 1000000, 4);
  EXPECT_FALSE(LoadsOrRefuses(drive, dir(1, longName + std::string(100, '\0'))));

  const std::vector<RawEntry> two = {Stored("a", "aaaa"), Stored("b", "bbbb")};
  const int64_t base = static_cast<int64_t>(DirectorySize(102, two));
  // Offsets that run backwards, lie past the end or are negative.
  EXPECT_FALSE(LoadsOrRefuses(drive, BuildDirectory(102, two, {base + 4, base, base + 8}) + "aaaabbbb"));
  EXPECT_FALSE(LoadsOrRefuses(drive, BuildDirectory(102, two, {base, base + 4, base + 9}) + "aaaabbbb"));
  EXPECT_FALSE(LoadsOrRefuses(drive, BuildDirectory(102, two, {-5, base + 4, base + 8}) + "aaaabbbb"));
  EXPECT_TRUE(LoadsOrRefuses(drive, BuildDirectory(102, two, {base, base + 4, base + 8}) + "aaaabbbb"));

  // Every truncation of a valid archive is refused; random damage never crashes.
  const std::string good = BuildArchive(102, {Compressed("x.txt", Text(400)), Stored("y", "yyyy"),
                                              RawEntry{"z", std::string(8, '\0'), 2, 0, 0, 0}});
  for (size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(LoadsOrRefuses(drive, good.substr(0, n))) << n;
  std::mt19937 g(11);
  for (int round = 0; round < 150; ++round) {
    std::string bad = good;
    for (int k = 0; k < 3; ++k) bad[g() % bad.size()] ^= static_cast<char>(1 + g() % 255);
    LoadsOrRefuses(drive, bad);
  }
}

TEST(VrFilesRead, DamagedEntriesAndTrailers) {
  TTempDrive drive;
  std::string z = Zlib(Text(1000));
  z[z.size() / 2] ^= 0x55;
  z.resize(z.size() - 3);
  drive.WriteFile("game.dat", BuildArchive(102, {RawEntry{"bad.txt", z, 0, 0, 0, 0},
                                                 RawEntry{"short.scr", "abc", 2, 0, 0, 0},
                                                 RawEntry{"zeroblock", std::string(16, '\0'), 3, 0, 0, 0}}));
  TVrFileCollection files;
  files.Open(drive.PathOf("game.dat"));
  for (const char* name : {"bad.txt", "short.scr", "zeroblock"}) {
    try {
      Extract(files, name);
      ADD_FAILURE() << name;
    } catch (const EVrError& e) {
      EXPECT_EQ(e.Message, std::string(name) + ":アーカイブのデータが壊れています");
    }
  }

  const std::string archive = BuildArchive(102, {Stored("a", "a")});
  auto exeWith = [&](uint32_t start) {
    std::string exe = "MZ" + archive;
    PutLE(exe, start, 4);
    return exe + "rv";
  };
  EXPECT_TRUE(LoadsOrRefuses(drive, exeWith(2), "ok.exe"));
  EXPECT_FALSE(LoadsOrRefuses(drive, exeWith(0xFFFFFFF0u), "neg.exe"));
  EXPECT_FALSE(LoadsOrRefuses(drive, exeWith(static_cast<uint32_t>(archive.size() + 3)), "past.exe"));
  EXPECT_FALSE(LoadsOrRefuses(drive, "rv", "tiny.exe"));
  EXPECT_FALSE(LoadsOrRefuses(drive, "MZ no archive here at all", "plain.exe"));
}

// Stored bytes held in memory decode as the archive's own stream decodes them, on any thread at once.
TEST(VrFilesRead, DecodeStoredBytesInMemory) {
  auto scrambled = [](const std::string& bytes) {
    TMemoryStream m;
    Put(m, bytes);
    ScrambleStream(m, ScrambleBlockSize(m.Size()), 99);
    return MemoryText(m);
  };
  const std::string text = Text(50000, 5), big(6 << 20, 'z');
  struct Case {
    std::string stored;
    uint8_t kind;
    std::string content;
  };
  const std::vector<Case> cases{
      {"plain", skStored, "plain"},         {"", skStored, ""},
      {Zlib(text), skCompressed, text},     {Zlib(text) + "bytes behind the stream", skCompressed, text},
      {Zlib(big), skCompressed, big},  // far larger than a first guess from its stored size
      {scrambled(text), skScrambled, text}, {scrambled(Zlib(text)), skCompressedScrambled, text},
  };
  auto decode = [](const Case& c) {
    std::string out;
    DecodeStoredBytes(reinterpret_cast<const uint8_t*>(c.stored.data()),
                      static_cast<int64_t>(c.stored.size()), c.kind, "e",
                      [&](const uint8_t* p, size_t n) { out.append(reinterpret_cast<const char*>(p), n); });
    return out;
  };
  for (const Case& c : cases) EXPECT_EQ(decode(c), c.content);
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (size_t t = 0; t < wrong.size(); ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round)
        for (const Case& c : cases) wrong[t] += decode(c) != c.content;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));

  std::string damaged = Zlib(text);
  damaged[damaged.size() / 2] ^= 0x55;
  for (const Case& c : {Case{damaged, skCompressed, ""}, Case{Zlib(text).substr(0, 100), skCompressed, ""},
                        Case{"abc", skScrambled, ""}}) {
    try {
      decode(c);
      ADD_FAILURE() << "accepted damaged bytes of kind " << int{c.kind};
    } catch (const EVrError& e) {
      EXPECT_EQ(e.Message, "e:アーカイブのデータが壊れています");
    }
  }
}

TEST(VrFilesRead, FindInstallerExe) {
  TTempDrive drive;
  auto installer = [](const std::string& title) {
    TRovaInstallSet settings;
    settings.Title = title;
    TMemoryStream m;
    settings.SaveToStream(m);
    const std::string archive = BuildArchive(102, {Stored("install.dat", MemoryText(m))});
    std::string exe = "MZ" + archive;
    PutLE(exe, 2, 4);
    return exe + "rv";
  };
  drive.WriteFile("d1\\a.exe", installer("First Game"));
  drive.WriteFile("d1\\b.exe", installer("Second Game"));
  drive.WriteFile("d1\\readme.txt", "not an exe");
  EXPECT_EQ(FindInstallerExe(drive.PathOf("d1"), "Second Game"), drive.PathOf("d1\\b.exe"));
  EXPECT_EQ(FindInstallerExe(drive.PathOf("d1"), "First Game"), drive.PathOf("d1\\a.exe"));
  EXPECT_EQ(FindInstallerExe(drive.PathOf("d1"), "first game"), "");
  // The first executable without the trailer ends the search.
  drive.WriteFile("d2\\a.exe", "MZ plain program");
  drive.WriteFile("d2\\b.exe", installer("Second Game"));
  EXPECT_EQ(FindInstallerExe(drive.PathOf("d2"), "Second Game"), "");
  EXPECT_EQ(FindInstallerExe(drive.PathOf("nowhere"), "Second Game"), "");
}

TEST(VrFilesRead, ChecksumHelpers) {
  const std::string data = RandomBytes(3 * 1048576 + 5, 2);
  TMemoryStream m;
  Put(m, data);
  m.SetPosition(77);
  EXPECT_EQ(StreamCRC(m), Crc(data));
  EXPECT_EQ(StreamCRC(m), Crc(data));  // rewinds first
  TTempDrive drive;
  drive.WriteFile("f.bin", data);
  TFileStream f(drive.PathOf("f.bin"), fmOpenRead | fmShareDenyWrite);
  EXPECT_EQ(StreamCRC(f), Crc(data));
  TKoBigMemoryStream big;
  Put(big.Stream(), data);
  big.SetPosition(10);
  std::vector<uint8_t> buffer(1000);
  EXPECT_EQ(BigStreamCRC(big, 5000, buffer.data(), 1000), Crc(data.substr(10, 5000)));
  EXPECT_EQ(big.GetPosition(), 5010);
  big.SetPosition(static_cast<int64_t>(data.size()) - 4);
  EXPECT_THROW(BigStreamCRC(big, 5, buffer.data(), 1000), EVrError);
  TMemoryStream nine;
  Put(nine, "123456789");
  EXPECT_EQ(StreamCRC(nine), 0xCBF43926u);
  EXPECT_EQ(ScrambleBlockSize(0), 256);
  EXPECT_EQ(ScrambleBlockSize(1000), 256);
  EXPECT_EQ(ScrambleBlockSize(30000), 300);
  EXPECT_EQ(ScrambleBlockSize(10000000), 4096);
}

}  // namespace
}  // namespace vr
