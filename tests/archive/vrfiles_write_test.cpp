// Writing archives: storage-kind decisions, checksums, whole archives, merging, appended placement.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "../support/tempdrive.h"
#include "archive/scrambles.h"
#include "archive/vrfiles.h"
#include "vrfiles_testutil.h"

namespace vr {
namespace {

using namespace vrtest;

bool Save(TVrFileCollection& files, const std::string& path, bool scramble) {
  TKoBigFileStream out(path, fmCreate);
  return files.SaveToStream(out, scramble);
}

// The stored bytes of an entry of an open collection.
std::string StoredBytes(TVrFileCollection& files, int index) {
  const TVrFile& f = *files.Items(index);
  std::string s(static_cast<size_t>(f.Size), '\0');
  files.DataStream->SetPosition(f.Offset);
  if (f.Size > 0) files.DataStream->ReadBuffer(&s[0], f.Size);
  return s;
}

std::unique_ptr<TStream> SourceOf(const std::string& bytes) {
  auto m = std::make_unique<TMemoryStream>();
  Put(*m, bytes);
  return m;
}

std::string VeskBinary(int compType, const std::string& body) {
  std::string s = "Vesk107";
  PutLE(s, 40, 4);
  std::string record(40, '\0');
  record[22] = static_cast<char>(compType);
  return s + record + body;
}

TEST(VrFilesWrite, StorageKindsOfLooseFiles) {
  TTempDrive drive;
  const std::map<std::string, std::pair<std::string, int>> cases = {
      {"music.OGG", {Text(100), 1}},  // never compressed, any letter case
      {"voice.ogg", {Text(3000), 1}},
      {"clip.mp", {Text(3000), 1}},  // ".MP" is found inside ".MPG"
      {"text.txt", {Text(3000), 0}},
      {"noext", {Text(3000), 0}},
      {"tiny.txt", {"abcd", 1}},  // its zlib form is longer than 9/10
      {"empty.txt", {"", 1}},
      {"noise.bin", {RandomBytes(5000, 4), 1}},
      {"large.txt", {Text(5242880), 1}},  // at the size limit
      {"under.txt", {Text(5242879), 0}},
      {"xml.vsk", {"VeskX200" + Text(3000), 1}},
      {"raw.VSK", {VeskBinary(1, Text(3000)), 0}},
      {"zlib.vsk", {VeskBinary(0, Text(3000)), 1}},
      {"rawbig.vsk", {VeskBinary(1, Text(6000000)), 0}},  // size does not matter for images
  };
  for (const auto& c : cases) drive.WriteFile("src\\" + c.first, c.second.first);

  for (bool scramble : {false, true}) {
    SCOPED_TRACE(scramble);
    TVrFileCollection files;
    EXPECT_EQ(files.AddFolder(drive.PathOf("src"), false), static_cast<int>(cases.size()));
    ASSERT_TRUE(Save(files, drive.PathOf("out.dat"), scramble));
    for (int i = 0; i < files.Count(); ++i) {
      const TVrFile& f = *files.Items(i);
      const int expected = cases.at(f.Name()).second;
      EXPECT_EQ(f.Kind, scramble ? (expected == 1 ? 2 : 3) : expected) << f.Name();
      EXPECT_NE(f.Time, 0) << f.Name();
    }
    TVrFileCollection back;
    back.Open(drive.PathOf("out.dat"));
    ASSERT_EQ(back.Count(), files.Count() + 1);
    for (int i = 0; i < files.Count(); ++i) {
      const TVrFile& f = *back.Items(i);
      EXPECT_EQ(f.Kind, files.Items(i)->Kind);
      EXPECT_EQ(f.Time, files.Items(i)->Time);
      EXPECT_EQ(f.CRC, files.Items(i)->CRC);
      EXPECT_EQ(f.CRC, Crc(StoredBytes(back, i))) << f.Name();
      EXPECT_EQ(Extract(back, f.Name()), cases.at(f.Name()).first) << f.Name();
    }
    EXPECT_TRUE(back.VerifyData());
    if (!scramble) {
      const int tiny = back.IndexOf("tiny.txt"), empty = back.IndexOf("empty.txt");
      EXPECT_EQ(back.Items(tiny)->CRC, Crc("abcd"));
      EXPECT_EQ(StoredBytes(back, tiny), "abcd");
      EXPECT_EQ(back.Items(empty)->Size, 0);
      EXPECT_EQ(back.Items(empty)->CRC, 0u);
    }
  }
}

TEST(VrFilesWrite, SourceContentAndForcedScrambling) {
  TTempDrive drive;
  TVrFileCollection files;
  struct Case {
    std::string name;
    std::string content;
    bool scramble;
    uint8_t kindBefore;
    uint8_t kindAfter;
  };
  const std::vector<Case> cases = {
      {"empty", "", false, 0, 0},
      {"limit", Text(5242880), false, 0, 1},
      {"limit-s", Text(5242880), true, 0, 2},
      {"below", Text(5242879), false, 0, 0},
      {"below-s", Text(5242879), true, 0, 3},
      {"was3", Text(1000), false, 3, 3},  // already scrambled: stays scrambled
      {"was2", Text(1000), false, 2, 3},
      {"was1", Text(1000), false, 1, 0},
  };
  for (const Case& c : cases) {
    TVrFile& f = *files.AddFile(c.name);
    f.Source = SourceOf(c.content);
    f.Kind = c.kindBefore;
  }
  const std::string path = drive.PathOf("src.dat");
  for (size_t i = 0; i < cases.size(); ++i) {
    {
      TKoBigFileStream out(path, fmCreate);
      files.Items(static_cast<int>(i))->WriteData(out, cases[i].scramble);
    }
    EXPECT_EQ(files.Items(static_cast<int>(i))->Kind, cases[i].kindAfter) << cases[i].name;
    EXPECT_EQ(files.Items(static_cast<int>(i))->CRC, Crc(drive.ReadFile("src.dat"))) << cases[i].name;
    const std::string stored = drive.ReadFile("src.dat");
    if (cases[i].kindAfter == 0) {
      EXPECT_EQ(stored, Zlib(cases[i].content)) << cases[i].name;
    } else if (cases[i].kindAfter == 1) {
      EXPECT_EQ(stored, cases[i].content) << cases[i].name;
    } else if (cases[i].kindAfter == 2) {
      // Large content is scrambled block by block from its source: the container scrambling it in
      // memory with the same seed gives.
      TMemoryStream m;
      Put(m, cases[i].content);
      const uint32_t seed = GetLE32(stored, 4) ^ SeedMask;
      ScrambleStream(m, ScrambleBlockSize(m.Size()), seed, true);
      EXPECT_TRUE(stored == MemoryText(m)) << cases[i].name;
    }
  }
}

TEST(VrFilesWrite, SeparateEntriesCarryTheirContentChecksum) {
  TTempDrive drive;
  const std::string large = RandomBytes(5242880 + 10, 8);
  drive.WriteFile("src\\manual.ogg", RandomBytes(2000, 9));
  drive.WriteFile("src\\notes.txt", Text(2000));
  for (bool scramble : {false, true}) {
    TVrFileCollection files;
    files.BasePath = drive.PathOf("src\\");
    files.AddFile("manual.ogg")->Separate = 1;
    files.AddFile("notes.txt")->Separate = 1;
    TVrFile& big = *files.AddFile("large.bin");
    big.Source = SourceOf(large);
    big.Separate = 1;
    TVrFile& small = *files.AddFile("small.bin");
    small.Source = SourceOf(Text(700));
    small.Separate = 1;
    TVrFile& plain = *files.AddFile("plain.txt");
    plain.Source = SourceOf(Text(700));
    ASSERT_TRUE(Save(files, drive.PathOf("sep.dat"), scramble));

    TVrFileCollection back;
    back.Open(drive.PathOf("sep.dat"));
    const std::vector<std::string> contents = {RandomBytes(2000, 9), Text(2000), large, Text(700)};
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(back.Items(i)->Separate, 1);
      EXPECT_EQ(back.Items(i)->CRC, Crc(contents[static_cast<size_t>(i)]))
          << back.Items(i)->Name() << scramble;
      TMemoryStream m;
      back.ExtractItem(m, i);
      EXPECT_EQ(StreamCRC(m), back.Items(i)->CRC);
    }
    EXPECT_EQ(back.Items(2)->Kind, scramble ? 2 : 1);
    EXPECT_EQ(back.Items(4)->CRC, Crc(StoredBytes(back, 4)));
    EXPECT_EQ(back.Items(4)->Separate, 0);
  }
}

TEST(VrFilesWrite, DirectoryBytesMatchTheFormat) {
  TTempDrive drive;
  TVrFileCollection files;
  std::vector<RawEntry> expected;
  for (int i = 0; i < 6; ++i) {
    const std::string name =
        i == 3 ? "画像\\絵" + std::to_string(i) + ".png" : "file" + std::to_string(i * 111);
    const std::string content = Text(static_cast<size_t>(i * 400), i);
    TVrFile& f = *files.AddFile(name);
    f.Source = SourceOf(content);
    f.Time = 1000 + i;
    f.Separate = i == 2 ? 1 : 0;
    RawEntry e = Compressed(name, content, 1000 + i);
    e.separate = f.Separate;
    if (e.separate) e.crc = Crc(content);
    expected.push_back(e);
  }
  files.AddFile("\\EOF\\");  // never written as an entry
  ASSERT_TRUE(Save(files, drive.PathOf("fmt.dat"), false));
  EXPECT_EQ(drive.ReadFile("fmt.dat"), BuildArchive(102, expected));

  // An empty collection is a valid archive of no entries.
  TVrFileCollection none;
  ASSERT_TRUE(Save(none, drive.PathOf("none.dat"), true));
  EXPECT_EQ(drive.ReadFile("none.dat"), BuildArchive(102, {}));
  TVrFileCollection back;
  back.Open(drive.PathOf("none.dat"));
  EXPECT_EQ(back.Count(), 1);
  EXPECT_TRUE(back.VerifyData());
}

TEST(VrFilesWrite, RoundTripsForManySizesAndSeeds) {
  TTempDrive drive;
  const size_t sizes[] = {0, 1, 2, 255, 256, 257, 999, 1000, 4096, 25601, 409601, 1048577};
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 g(seed);
    const bool scramble = seed % 2 == 0;
    TVrFileCollection files;
    files.BasePath = drive.PathOf("rt" + std::to_string(seed) + "\\");
    std::vector<std::string> contents;
    const int n = static_cast<int>(g() % 14);
    for (int i = 0; i < n; ++i) {
      const size_t size = sizes[g() % 12];
      const std::string content = g() % 2 ? Text(size, g()) : RandomBytes(size, g());
      const std::string name =
          "d" + std::to_string(i % 3) + "\\e" + std::to_string(i) + (g() % 3 ? ".txt" : ".wav");
      contents.push_back(content);
      TVrFile& f = *files.AddFile(name);
      f.Separate = g() % 4 == 0 ? 1 : 0;
      if (g() % 2)
        f.Source = SourceOf(content);
      else
        drive.WriteFile("rt" + std::to_string(seed) + "\\" + name, content);
    }
    const std::string path = drive.PathOf("rt" + std::to_string(seed) + ".dat");
    ASSERT_TRUE(Save(files, path, scramble));
    TVrFileCollection back;
    back.Open(path);
    ASSERT_EQ(back.Count(), n + 1);
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(back.Items(i)->Name(), files.Items(i)->Name());
      EXPECT_EQ(back.Items(i)->Kind, files.Items(i)->Kind);
      EXPECT_EQ(back.Items(i)->CRC, files.Items(i)->CRC);
      EXPECT_EQ(back.Items(i)->Separate, files.Items(i)->Separate);
      EXPECT_EQ(back.Items(i)->Kind >= 2, scramble);
      TMemoryStream m;
      back.ExtractItem(m, i);
      EXPECT_EQ(MemoryText(m), contents[static_cast<size_t>(i)]) << back.Items(i)->Name();
    }
    EXPECT_TRUE(back.VerifyData());

    // Saving a loaded collection re-encodes its entries from the archive (which rewrites their kinds and
    // checksums) and leaves the end marker out.
    const std::string again = drive.PathOf("again" + std::to_string(seed) + ".dat");
    back.BasePath.clear();
    ASSERT_TRUE(Save(back, again, !scramble));
    TVrFileCollection third;
    third.Open(again);
    ASSERT_EQ(third.Count(), n + 1);
    for (int i = 0; i < n; ++i)
      EXPECT_EQ(Extract(third, third.Items(i)->Name()), contents[static_cast<size_t>(i)]);
    EXPECT_TRUE(third.VerifyData());
  }
}

TEST(VrFilesWrite, SaveReportsProgressCancelAndErrors) {
  TTempDrive drive;
  TVrFileCollection files;
  for (int i = 0; i < 3; ++i) files.AddFile("e" + std::to_string(i))->Source = SourceOf(Text(100 + i));
  std::vector<std::pair<int, int64_t>> calls;
  files.OnProgress = [&](TVrFileCollection*, TVrFile* item, int64_t size, int32_t index, int32_t count,
                         bool& cancel) {
    EXPECT_EQ(count, 3);
    EXPECT_EQ(item, files.Items(index));
    calls.emplace_back(index, size);
    cancel = calls.size() == 4;
  };
  EXPECT_FALSE(Save(files, drive.PathOf("c.dat"), false));
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0], std::make_pair(0, int64_t{0}));
  EXPECT_EQ(calls[1].first, 0);
  EXPECT_EQ(calls[1].second, static_cast<int64_t>(Zlib(Text(100)).size()));
  EXPECT_EQ(calls[2], std::make_pair(1, int64_t{0}));
  // The directory keeps its zero placeholders.
  const std::string raw = drive.ReadFile("c.dat");
  const size_t table = 10 + 3 * (4 + 2);
  EXPECT_EQ(raw.substr(table, 4 * 8 + 3 * 10), std::string(4 * 8 + 3 * 10, '\0'));

  // An entry without content fails; the reporter hears about it and the error goes on.
  files.OnProgress = nullptr;
  files.AddFile("missing.txt");
  std::vector<std::string> reports;
  TVrErrorReporter previous = SetVrErrorReporter([&](const std::string& m) { reports.push_back(m); });
  try {
    Save(files, drive.PathOf("e.dat"), false);
    ADD_FAILURE();
  } catch (const EVrError& e) {
    EXPECT_EQ(e.Message, "missing.txt:ファイルがありません");
  }
  SetVrErrorReporter(previous);
  EXPECT_EQ(reports, std::vector<std::string>{"エラー:missing.txt"});
}

// Entries are encoded on several threads but read, seeded and written in order: the archive, the
// progress calls and the entry an error names are the same for any number of threads.
TEST(VrFilesWrite, EncodingThreadsDoNotChangeTheArchive) {
  TTempDrive drive;
  // Compressible text, incompressible noise (stored after trying), stored sounds, one large file; the
  // loose files are written once (their times go into the archive).
  auto contentOf = [](int i) {
    return i == 7 ? Text(5242880 + 3, 7) : i % 3 ? Text(500 + 97 * i, i) : RandomBytes(3000, i);
  };
  auto nameOf = [](int i) { return "f" + std::to_string(i) + (i % 5 == 0 ? ".ogg" : ".txt"); };
  for (int i = 0; i < 60; ++i)
    if (i % 4 != 0) drive.WriteFile("mix\\" + nameOf(i), contentOf(i));
  auto fill = [&](TVrFileCollection& files) {
    files.BasePath = drive.PathOf("mix\\");
    for (int i = 0; i < 60; ++i) {
      TVrFile& f = *files.AddFile(nameOf(i));
      if (i % 4 == 0) f.Source = SourceOf(contentOf(i));
    }
    files.Items(11)->Separate = 1;
  };
  for (bool scramble : {false, true}) {
    SCOPED_TRACE(scramble);
    std::string first;
    std::vector<std::pair<int, int64_t>> firstCalls;
    for (unsigned threads : {1u, 4u}) {
      TVrFileCollection files;
      fill(files);
      files.EncodeThreads = threads;
      std::vector<std::pair<int, int64_t>> calls;
      files.OnProgress = [&](TVrFileCollection*, TVrFile*, int64_t size, int32_t index, int32_t, bool&) {
        calls.emplace_back(index, size);
      };
      SeedScrambleSeeds(42);
      ASSERT_TRUE(Save(files, drive.PathOf("mix.dat"), scramble));
      // Saving the loaded archive again re-encodes every entry from it.
      TVrFileCollection back;
      back.Open(drive.PathOf("mix.dat"));
      EXPECT_TRUE(back.VerifyData());
      back.BasePath.clear();
      back.EncodeThreads = threads;
      ASSERT_TRUE(Save(back, drive.PathOf("again.dat"), scramble));
      const std::string bytes = drive.ReadFile("mix.dat") + drive.ReadFile("again.dat");
      if (first.empty()) {
        first = bytes;
        firstCalls = calls;
      } else {
        EXPECT_TRUE(bytes == first) << threads << " threads";
        EXPECT_EQ(calls, firstCalls);
      }
    }
  }

  // A file that cannot be read, among entries encoded ahead of it, is the one reported.
  TVrFileCollection files;
  fill(files);
  files.EncodeThreads = 4;
  files.AddFile("zz-missing.txt");
  files.Items(3)->SetName("gone.txt");
  std::vector<std::string> reports;
  TVrErrorReporter previous = SetVrErrorReporter([&](const std::string& m) { reports.push_back(m); });
  EXPECT_THROW(Save(files, drive.PathOf("e.dat"), false), EVrError);
  SetVrErrorReporter(previous);
  EXPECT_EQ(reports, std::vector<std::string>{"エラー:gone.txt"});
}

TEST(VrFilesWrite, MergeRules) {
  TTempDrive drive;
  TVrFileCollection pack;
  for (int i = 0; i < 5; ++i) {
    TVrFile& f = *pack.AddFile("data\\f" + std::to_string(i) + ".bin");
    f.Source = SourceOf(Text(200 + i * 50, i));
    f.Time = 100;
  }
  TVrFile& inst = *pack.AddFile("install.dat");
  inst.Source = SourceOf("old settings");
  inst.Time = 100;
  TVrFile& sep = *pack.AddFile("readme.txt");
  sep.Source = SourceOf("separate");
  sep.Separate = 1;
  ASSERT_TRUE(Save(pack, drive.PathOf("disc1.dat"), true));

  TVrFileCollection disc1;
  disc1.Open(drive.PathOf("disc1.dat"));
  TVrFileCollection installed;
  TTempDrive::MakeFolders(drive.PathOf("inst"));
  installed.OpenPath(drive.PathOf("inst\\game.dat"), true);
  EXPECT_TRUE(installed.MergeFrom(disc1));
  EXPECT_EQ(installed.Count(), 6);  // separate entry and end marker not taken
  EXPECT_EQ(installed.IndexOf("readme.txt"), -1);
  EXPECT_EQ(installed.IndexOf("\\EOF\\"), -1);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(installed.Items(i)->Kind, disc1.Items(i)->Kind);
    EXPECT_EQ(installed.Items(i)->CRC, disc1.Items(i)->CRC);
    EXPECT_EQ(StoredBytes(installed, i), StoredBytes(disc1, i));  // copied unchanged
  }
  installed.Open("");
  const std::string ext1 = drive.ReadFile("inst\\game.ext");
  ASSERT_FALSE(ext1.empty());
  EXPECT_FALSE(drive.Exists("inst\\game.ext.tmp"));
  EXPECT_EQ(GetLE32(ext1, 6), 6u);

  // Nothing newer: nothing taken, the directory file is left alone.
  const std::string data1 = drive.ReadFile("inst\\game.dat");
  {
    TVrFileCollection again;
    again.Open(drive.PathOf("inst\\game.dat"));
    EXPECT_FALSE(again.MergeFrom(disc1));
  }
  EXPECT_EQ(drive.ReadFile("inst\\game.ext"), ext1);
  EXPECT_EQ(drive.ReadFile("inst\\game.dat"), data1);

  // A newer install.dat supersedes the old entry, which keeps its bytes.
  TVrFileCollection update;
  TVrFile& newer = *update.AddFile("INSTALL.DAT");
  newer.Source = SourceOf("new settings");
  newer.Time = 200;
  TVrFile& older = *update.AddFile("data\\f1.bin");
  older.Source = SourceOf("older");
  older.Time = 50;
  TVrFile& added = *update.AddFile("data\\f9.bin");
  added.Source = SourceOf("brand new");
  added.Time = 1;
  ASSERT_TRUE(Save(update, drive.PathOf("update.dat"), false));
  TVrFileCollection updateFiles;
  updateFiles.Open(drive.PathOf("update.dat"));
  TVrFileCollection reopened;
  reopened.Open(drive.PathOf("inst\\game.dat"));
  ASSERT_EQ(reopened.Count(), 7);  // loaded from game.ext, with the end marker
  EXPECT_TRUE(reopened.MergeFrom(updateFiles));
  EXPECT_EQ(reopened.Count(), 8);
  EXPECT_EQ(reopened.Items(5)->Name(), "/install.dat");
  reopened.Open("");
  EXPECT_EQ(GetLE32(drive.ReadFile("inst\\game.ext"), 6), 8u);

  TVrFileCollection result;
  result.Open(drive.PathOf("inst\\game.dat"));
  ASSERT_EQ(result.Count(), 9);
  EXPECT_EQ(Extract(result, "install.dat"), "new settings");
  EXPECT_EQ(Extract(result, "data\\f1.bin"), Text(250, 1));
  EXPECT_EQ(Extract(result, "data\\f9.bin"), "brand new");
  TMemoryStream old;
  result.ExtractItem(old, result.IndexOf("/install.dat"));
  EXPECT_EQ(MemoryText(old), "old settings");
  EXPECT_EQ(result.Items(result.Count() - 1)->Offset,
            static_cast<int64_t>(drive.ReadFile("inst\\game.dat").size()));
  EXPECT_TRUE(result.VerifyData());

  // Cancel: nothing is taken, neither the directory file nor the data file changes.
  TVrFileCollection more;
  TVrFile& later = *more.AddFile("later.bin");
  later.Source = SourceOf("later");
  ASSERT_TRUE(Save(more, drive.PathOf("more.dat"), false));
  TVrFileCollection moreFiles;
  moreFiles.Open(drive.PathOf("more.dat"));
  const std::string ext2 = drive.ReadFile("inst\\game.ext");
  const std::string data2 = drive.ReadFile("inst\\game.dat");
  result.OnProgress = [](TVrFileCollection*, TVrFile*, int64_t, int32_t, int32_t, bool& cancel) {
    cancel = true;
  };
  EXPECT_FALSE(result.MergeFrom(moreFiles));
  EXPECT_EQ(drive.ReadFile("inst\\game.ext"), ext2);
  EXPECT_EQ(drive.ReadFile("inst\\game.dat"), data2);
  EXPECT_EQ(result.IndexOf("later.bin"), -1);
}

TEST(VrFilesWrite, MergeAcrossPartBoundaries) {
  TTempDrive drive;
  PartSizeScope parts(1000);
  TVrFileCollection pack;
  std::vector<std::string> contents;
  for (int i = 0; i < 15; ++i) {
    contents.push_back(i % 3 ? RandomBytes(150 + 211 * static_cast<size_t>(i), i) : Text(900 + 10 * i, i));
    pack.AddFile("p" + std::to_string(i))->Source = SourceOf(contents.back());
  }
  ASSERT_TRUE(Save(pack, drive.PathOf("src.dat"), false));
  ASSERT_TRUE(drive.Exists("src.002"));
  TVrFileCollection source;
  source.Open(drive.PathOf("src.dat"));
  TVrFileCollection target;
  target.OpenPath(drive.PathOf("game.dat"), true);
  ASSERT_TRUE(target.MergeFrom(source));
  // Right after the merge the last entry is a real one (no end marker): it is checked too.
  EXPECT_TRUE(target.VerifyData());
  target.Items(target.Count() - 1)->CRC ^= 1;
  EXPECT_FALSE(target.VerifyData());
  target.Open("");
  EXPECT_TRUE(drive.Exists("game.003"));
  TVrFileCollection check;
  check.Open(drive.PathOf("game.dat"));
  ASSERT_EQ(check.Count(), 16);
  for (int i = 0; i < 15; ++i)
    EXPECT_EQ(Extract(check, "p" + std::to_string(i)), contents[static_cast<size_t>(i)]);
  EXPECT_TRUE(check.VerifyData());

  // Part files that cannot be created are errors, never bytes counted as written.
  TVrFileCollection nowhere;
  nowhere.OpenPath(drive.PathOf("missing\\game.dat"), true);
  EXPECT_THROW(nowhere.MergeFrom(source), Exception);
  TTempDrive::MakeFolders(drive.PathOf("blocked.002"));
  TVrFileCollection blocked;
  blocked.OpenPath(drive.PathOf("blocked.dat"), true);
  EXPECT_THROW(blocked.MergeFrom(source), Exception);
  EXPECT_FALSE(drive.Exists("blocked.ext"));
}

TEST(VrFilesWrite, ManySameBucketNamesMergeAndLookUp) {
  // Names of one pattern share their hash bucket; lookups must stay right (and fast) anyway.
  TTempDrive drive;
  TVrFileCollection pack;
  const int n = 5000;
  for (int i = 0; i < n; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "data\\f%05d.png", i);
    TVrFile& f = *pack.AddFile(name);
    f.Source = SourceOf(std::to_string(i));
  }
  ASSERT_TRUE(Save(pack, drive.PathOf("many.dat"), false));
  TVrFileCollection source;
  source.Open(drive.PathOf("many.dat"));
  TVrFileCollection target;
  TTempDrive::MakeFolders(drive.PathOf("t"));
  target.OpenPath(drive.PathOf("t\\game.dat"), true);
  ASSERT_TRUE(target.MergeFrom(source));
  EXPECT_EQ(target.Count(), n);
  EXPECT_FALSE(target.MergeFrom(source));
  EXPECT_EQ(target.IndexOf("DATA\\F04321.PNG"), 4321);
  EXPECT_EQ(Extract(target, "data\\f04321.png"), "4321");
  EXPECT_EQ(target.IndexOf("data\\f05000.png"), -1);
}

TEST(VrFilesWrite, AppendedPlacementAndFolderPacking) {
  TTempDrive drive;
  drive.WriteFile("pkg\\install.dat", "settings");
  drive.WriteFile("pkg\\sub\\deep\\pic.png", RandomBytes(3000, 1));
  drive.WriteFile("pkg\\sub\\text.txt", Text(4000));
  TVrFileCollection files;
  EXPECT_EQ(files.AddFolder(drive.PathOf("pkg"), true), 3);
  EXPECT_EQ(files.BasePath, drive.PathOf("pkg\\"));
  EXPECT_GE(files.IndexOf("sub\\deep\\pic.png"), 0);
  ASSERT_TRUE(Save(files, drive.PathOf("pack.dat"), true));

  const std::string program = "MZ" + RandomBytes(5000, 2);
  drive.WriteFile("setup.exe", program);
  AppendArchiveToExecutable(drive.PathOf("setup.exe"), drive.PathOf("pack.dat"));
  const std::string exe = drive.ReadFile("setup.exe");
  ASSERT_EQ(exe.size(), program.size() + drive.ReadFile("pack.dat").size() + 6);
  EXPECT_EQ(exe.substr(exe.size() - 2), "rv");
  EXPECT_EQ(GetLE32(exe, exe.size() - 6), program.size());
  EXPECT_EQ(exe.substr(0, program.size()), program);

  TVrFileCollection back;
  back.Open(drive.PathOf("setup.exe"));
  ASSERT_EQ(back.Count(), 4);
  EXPECT_EQ(Extract(back, "install.dat"), "settings");
  EXPECT_EQ(Extract(back, "SUB\\deep\\pic.png"), RandomBytes(3000, 1));
  EXPECT_EQ(Extract(back, "sub\\text.txt"), Text(4000));
  EXPECT_TRUE(back.VerifyData());
  EXPECT_THROW(AppendArchiveToExecutable(drive.PathOf("setup.exe"), drive.PathOf("missing.dat")), EVrError);
}

}  // namespace
}  // namespace vr
