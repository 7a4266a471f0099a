// list, cat, extract and verify on archives of every directory version, storage kind and placement.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>

#include "tooltest.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Json = nlohmann::json;

// Entry names are code page 932 in the archive ("画像" below is compiled to those bytes); the tool takes
// and prints UTF-8 (u8 literals).
std::vector<RawEntry> SampleEntries() {
  std::vector<RawEntry> e(5);
  e[0].Name = "install.dat";
  e[0].Content = "is108 settings bytes";
  e[0].Kind = 1;
  e[0].Time = DosTime(2004, 5, 6, 7, 8, 10);
  e[1].Name = "画像\\背景.vsk";
  e[1].Content = std::string(3000, 'x') + "tail";
  e[1].Kind = 0;
  e[1].Time = DosTime(2005, 1, 2, 3, 4, 6);
  e[2].Name = "script\\a.txt";
  for (int i = 0; i < 2000; ++i) e[2].Content += static_cast<char>('a' + (i * 7) % 26);
  e[2].Kind = 2;
  e[3].Name = "script\\b.txt";
  e[3].Content = std::string(1500, 'q');
  e[3].Kind = 3;
  e[4].Name = "empty.bin";
  e[4].Kind = 1;
  e[4].CrcRule = RawEntry::Crc::None;
  return e;
}

const char* kUtf8Names[] = {"install.dat", u8"画像\\背景.vsk", "script\\a.txt", "script\\b.txt", "empty.bin"};

// Checks `list --json` and `cat` of every entry against what was built.
void ExpectArchive(const std::vector<std::string>& source, int version,
                   const std::vector<RawEntry>& entries) {
  std::vector<std::string> args{"list", "--json"};
  args.insert(args.end(), source.begin(), source.end());
  RunResult r = RunTool(args);
  ASSERT_EQ(r.Status, 0) << r.Err;
  Json j = Json::parse(r.Out);
  EXPECT_EQ(j["version"], version);
  ASSERT_EQ(j["entries"].size(), entries.size());
  int64_t prevEnd = -1;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Json& e = j["entries"][i];
    RawEntry raw = entries[i];
    if (version < 101) raw.Kind = 0;
    std::string stored = StoredBytes(raw);
    EXPECT_EQ(e["index"], i);
    EXPECT_EQ(e["name"], kUtf8Names[i]);
    std::string hex;
    for (unsigned char c : raw.Name) {
      char b[3];
      snprintf(b, sizeof b, "%02x", c);
      hex += b;
    }
    EXPECT_EQ(e["name_hex"], hex);
    EXPECT_EQ(e["size"], stored.size()) << raw.Name;
    EXPECT_EQ(e["kind"], raw.Kind);
    if (prevEnd >= 0) {
      EXPECT_EQ(e["offset"], prevEnd);
    }
    prevEnd = e["offset"].get<int64_t>() + static_cast<int64_t>(stored.size());
    if (version >= 101) {
      EXPECT_EQ(e["time"], raw.Time);
      EXPECT_EQ(e["crc"], raw.CrcRule == RawEntry::Crc::None ? 0u : Crc32(stored));
    } else {
      EXPECT_EQ(e["time"], 0);
      EXPECT_EQ(e["crc"], 0);
    }
    std::vector<std::string> cat{"cat"};
    cat.insert(cat.end(), source.begin(), source.end());
    cat.push_back(kUtf8Names[i]);
    RunResult c = RunTool(cat);
    EXPECT_EQ(c.Status, 0) << c.Err;
    EXPECT_EQ(c.Out, raw.Content) << raw.Name;
  }
}

TEST(VrtoolList, EveryDirectoryVersionAndPlacement) {
  for (int version : {0, 100, 101, 102}) {
    SCOPED_TRACE("version " + std::to_string(version));
    TempDir t;
    auto entries = SampleEntries();
    std::string archive = BuildArchive(version, entries);
    // Data file with its directory at its start.
    WriteFile(t / "game.dat", archive);
    ExpectArchive({t / "game.dat"}, version, entries);
    // Appended to a program, extension in capitals too.
    std::string program = "MZ" + std::string(510, '\x90');
    WriteFile(t / "setup.exe", AppendToProgram(program, archive));
    ExpectArchive({t / "setup.exe"}, version, entries);
    WriteFile(t / "SETUP2.EXE", AppendToProgram(program, archive));
    ExpectArchive({t / "SETUP2.EXE"}, version, entries);
    // Directory file beside the data file; the data file's own start is not a directory.
    std::string dir, data;
    BuildSplitArchive(version, entries, dir, data);
    WriteFile(t / "split.dat", data);
    WriteFile(t / "split.ext", dir);
    ExpectArchive({t / "split.dat"}, version, entries);
    // Resource of an executable.
    WriteFile(t / "res.exe", BuildPeWithResource(archive));
    ExpectArchive({"--resource", t / "res.exe"}, version, entries);
  }
}

TEST(VrtoolList, TextListingAndEndMarker) {
  TempDir t;
  auto entries = SampleEntries();
  entries[3].Separate = 1;
  entries.push_back(RawEntry{});
  entries.back().Name = "/script\\a.txt";  // superseded copy
  entries.back().Content = "old";
  WriteFile(t / "game.dat", BuildArchive(102, entries));
  RunResult r = RunTool({"list", t / "game.dat"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_THAT(r.Out, HasSubstr("directory version 102, 6 entries"));
  EXPECT_THAT(r.Out, HasSubstr(u8"画像\\背景.vsk"));
  EXPECT_THAT(r.Out, HasSubstr("2004-05-06 07:08:10"));
  EXPECT_THAT(r.Out, HasSubstr("/script\\a.txt"));
  EXPECT_THAT(r.Out, Not(HasSubstr("EOF")));
  Json j = Json::parse(RunTool({"list", "--json", t / "game.dat"}).Out);
  EXPECT_EQ(j["entries"][3]["separate"], 1);
  EXPECT_EQ(j["entries"][0]["separate"], 0);
  // A lookup of the plain name finds the current entry, never the superseded one.
  RunResult c = RunTool({"cat", t / "game.dat", "script/a.txt"});
  EXPECT_EQ(c.Status, 0);
  EXPECT_EQ(c.Out, entries[2].Content);
  // Letter case is ignored by lookups.
  EXPECT_EQ(RunTool({"cat", t / "game.dat", "INSTALL.DAT"}).Out, entries[0].Content);
}

TEST(VrtoolCat, MissingEntryLooseFileAndUnknownKind) {
  TempDir t;
  std::vector<RawEntry> entries(1);
  entries[0].Name = "odd.bin";
  entries[0].Content = "kind seven reads as stored";
  entries[0].Kind = 7;
  WriteFile(t / "game.dat", BuildArchive(102, entries));
  EXPECT_EQ(RunTool({"cat", t / "game.dat", "odd.bin"}).Out, entries[0].Content);
  // A name the directory lacks comes from a loose file beside the archive, as the reader does.
  WriteFile(t / "loose.txt", "loose");
  RunResult loose = RunTool({"cat", t / "game.dat", "loose.txt"});
  EXPECT_EQ(loose.Status, 0);
  EXPECT_EQ(loose.Out, "loose");
  RunResult missing = RunTool({"cat", t / "game.dat", "nothing.txt"});
  EXPECT_EQ(missing.Status, 2);
  EXPECT_THAT(missing.Err, HasSubstr("nothing.txt: no such file"));
  // The library's Japanese text where the user reads Japanese.
  EXPECT_THAT(RunTool({"cat", t / "game.dat", "nothing.txt"}, "", "ja_JP.UTF-8").Err,
              HasSubstr(u8"nothing.txt:ファイルがありません"));
  EXPECT_TRUE(missing.Out.empty());
}

TEST(VrtoolExtract, AllEntriesEveryKindWithTimes) {
  TempDir t;
  auto entries = SampleEntries();
  entries.push_back(RawEntry{});
  entries.back().Name = "/install.dat";
  entries.back().Content = "superseded";
  WriteFile(t / "game.dat", BuildArchive(102, entries));
  RunResult r = RunTool({"extract", "-C", t / "out", t / "game.dat"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  auto tree = ReadTree(t.Path() / "out");
  std::vector<std::pair<std::string, std::string>> expected{
      {"empty.bin", ""},
      {"install.dat", entries[0].Content},
      {"script/a.txt", entries[2].Content},
      {"script/b.txt", entries[3].Content},
      {u8"画像/背景.vsk", entries[1].Content},
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(tree, expected);
  // The entry's time stamp is kept (DOS time is local time, two-second steps).
  struct stat st {};
  ASSERT_EQ(stat((t / "out/install.dat").c_str(), &st), 0);
  std::tm tm = *std::localtime(&st.st_mtime);
  EXPECT_EQ(tm.tm_year + 1900, 2004);
  EXPECT_EQ(tm.tm_mon + 1, 5);
  EXPECT_EQ(tm.tm_sec, 10);
  // Named entries only, "/" as folder separator accepted; the current folder is the default target.
  fs::create_directory(t.Path() / "cwd");
  RunResult some = RunTool({"extract", t / "game.dat", "script/b.txt", u8"画像\\背景.vsk"}, t / "cwd");
  ASSERT_EQ(some.Status, 0) << some.Err;
  auto part = ReadTree(t.Path() / "cwd");
  ASSERT_EQ(part.size(), 2u);
  EXPECT_EQ(part[0].first, "script/b.txt");
  // A missing name fails the run but the others are still written.
  RunResult miss = RunTool({"extract", "-C", t / "miss", t / "game.dat", "nope.txt", "install.dat"});
  EXPECT_EQ(miss.Status, 2);
  EXPECT_THAT(miss.Err, HasSubstr("nope.txt"));
  EXPECT_EQ(ReadFile(t.Path() / "miss" / "install.dat"), entries[0].Content);
}

// Small entries are decoded and written ahead of their turn: files, messages and their order must still
// be those of a run that writes one entry after the other.
TEST(VrtoolExtract, EntriesDoneAheadComeOutAsIfDoneInTurn) {
  TempDir t;
  std::vector<RawEntry> entries;
  std::map<std::string, std::string> expected;
  for (int i = 0; i < 1500; ++i) {
    RawEntry e;
    e.Name = "f" + std::to_string(i % 3) + "\\n" + std::to_string(i) + ".txt";
    e.Content =
        std::string(static_cast<size_t>(i % 700), static_cast<char>('a' + i % 26)) + std::to_string(i);
    e.Kind = i % 4;
    entries.push_back(e);
    expected["f" + std::to_string(i % 3) + "/n" + std::to_string(i) + ".txt"] = e.Content;
  }
  auto add = [&](const std::string& name, const std::string& content, int kind) {
    entries.push_back(RawEntry{name, content, kind});
  };
  add("f1\\n7.txt", "a later entry of the same name wins", 0);
  expected["f1/n7.txt"] = "a later entry of the same name wins";
  // One that differs in case would be the same file on Windows: refused, the first one stays.
  add("F2\\N8.TXT", "refused: Windows cannot tell it from f2\\n8.txt", 3);
  add("f0\\damaged.txt", std::string(4000, 'd'), 0);
  add("blocker", "a file where a later entry wants a folder", 1);
  expected["blocker"] = "a file where a later entry wants a folder";
  add("blocker\\inner.txt", "never written", 1);
  std::string big(3 << 20, 'b');
  for (size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>(i * 31);
  add("f2\\big.bin", big, 2);
  expected["f2/big.bin"] = big;
  // Small when stored, far larger once inflated.
  add("f1\\zeros.bin", std::string(3 << 20, 'z'), 0);
  expected["f1/zeros.bin"] = std::string(3 << 20, 'z');
  add("f0\\last.txt", "after everything", 0);
  expected["f0/last.txt"] = "after everything";
  std::string archive = BuildArchive(102, entries);
  // Spoil the damaged entry's stored bytes (one deflate stream of 4,000 'd').
  const std::string stored = StoredBytes(entries[1502]);
  const size_t at = archive.find(stored);
  ASSERT_NE(at, std::string::npos);
  for (size_t i = 2; i < stored.size(); ++i) archive[at + i] = static_cast<char>(archive[at + i] ^ 0x5a);
  WriteFile(t / "game.dat", archive);

  RunResult r = RunTool({"extract", "-C", t / "out", t / "game.dat"});
  EXPECT_EQ(r.Status, 2);
  const size_t damaged = r.Err.find("damaged.txt"), blocker = r.Err.find("blocker");
  ASSERT_NE(damaged, std::string::npos) << r.Err;
  ASSERT_NE(blocker, std::string::npos) << r.Err;
  EXPECT_LT(damaged, blocker);
  EXPECT_THAT(r.Err, HasSubstr("F2\\N8.TXT: refused: the same name to Windows as f2\\n8.txt"));
  EXPECT_THAT(r.Err, HasSubstr("3 entries were not extracted"));
  auto tree = ReadTree(t.Path() / "out");
  const std::vector<std::pair<std::string, std::string>> want(expected.begin(), expected.end());
  EXPECT_EQ(tree, want);
}

TEST(VrtoolExtract, HostileNamesAreRefusedAndNothingLeavesTheFolder) {
  TempDir t;
  std::vector<std::string> hostile{
      "..\\escape.txt", "a\\..\\..\\escape2.txt", "\\rooted.txt", "C:\\drive.txt", "D:rel.txt", "CON",
      "sub\\nul.txt",   "/..\\..\\sup.txt",       "../slash.txt"};
  std::vector<RawEntry> entries;
  for (const auto& name : hostile) {
    RawEntry e;
    e.Name = name;
    e.Content = "bad";
    entries.push_back(e);
  }
  RawEntry good;
  good.Name = "good\\ok.txt";
  good.Content = "fine";
  entries.push_back(good);
  WriteFile(t / "evil.dat", BuildArchive(102, entries));
  fs::create_directories(t.Path() / "deep" / "target");
  RunResult r = RunTool({"extract", "-C", t / "deep/target", t / "evil.dat"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("refused"));
  EXPECT_THAT(r.Err, HasSubstr("escape.txt"));
  // Only the good entry was written, and nothing appeared anywhere else below the temp folder.
  auto inside = ReadTree(t.Path() / "deep" / "target");
  ASSERT_EQ(inside.size(), 1u);
  EXPECT_EQ(inside[0].first, "good/ok.txt");
  auto all = ReadTree(t.Path());
  EXPECT_EQ(all.size(), 2u);  // evil.dat and good/ok.txt
  // Naming a hostile entry explicitly is refused the same way.
  RunResult named = RunTool({"extract", "-C", t / "deep/target", t / "evil.dat", "..\\escape.txt"});
  EXPECT_EQ(named.Status, 2);
  EXPECT_FALSE(fs::exists(t.Path() / "deep" / "escape.txt"));
}

TEST(VrtoolVerify, ChecksumsOfStoredBytesAndOfSeparateContent) {
  TempDir t;
  auto entries = SampleEntries();
  // A separate entry carries its content's checksum.
  entries[1].Separate = 1;
  entries[1].CrcRule = RawEntry::Crc::Content;
  WriteFile(t / "ok.dat", BuildArchive(102, entries));
  RunResult ok = RunTool({"verify", t / "ok.dat"});
  EXPECT_EQ(ok.Status, 0) << ok.Out << ok.Err;
  EXPECT_THAT(ok.Out, HasSubstr("4 checked, 1 without checksum, 0 bad"));

  // The stored bytes' checksum on a compressed separate entry is what the install run rejects.
  auto wrongSep = entries;
  wrongSep[1].CrcRule = RawEntry::Crc::Stored;
  WriteFile(t / "sep.dat", BuildArchive(102, wrongSep));
  RunResult sep = RunTool({"verify", t / "sep.dat"});
  EXPECT_EQ(sep.Status, 1);
  EXPECT_THAT(sep.Out, HasSubstr(u8"BAD  画像\\背景.vsk"));

  auto bad = entries;
  bad[3].CrcRule = RawEntry::Crc::Wrong;
  WriteFile(t / "bad.dat", BuildArchive(102, bad));
  RunResult b = RunTool({"verify", t / "bad.dat"});
  EXPECT_EQ(b.Status, 1);
  EXPECT_THAT(b.Out, HasSubstr("BAD  script\\b.txt"));
  EXPECT_THAT(b.Out, HasSubstr("1 bad"));

  // A superseded entry is never checked, even with a wrong checksum.
  auto old = entries;
  old[3].Name = "/script\\b.txt";
  old[3].CrcRule = RawEntry::Crc::Wrong;
  WriteFile(t / "old.dat", BuildArchive(102, old));
  EXPECT_EQ(RunTool({"verify", t / "old.dat"}).Status, 0);

  // A data file cut short is refused as damaged when its directory is loaded.
  std::string dir, data;
  BuildSplitArchive(102, entries, dir, data);
  WriteFile(t / "cut.ext", dir);
  WriteFile(t / "cut.dat", data.substr(0, data.size() - 100));
  RunResult cut = RunTool({"verify", t / "cut.dat"});
  EXPECT_EQ(cut.Status, 2);
  EXPECT_FALSE(cut.Err.empty());

  // Version 0 directories carry no checksums at all.
  WriteFile(t / "v0.dat", BuildArchive(0, entries));
  RunResult v0 = RunTool({"verify", t / "v0.dat"});
  EXPECT_EQ(v0.Status, 0);
  EXPECT_THAT(v0.Out, HasSubstr("0 checked, 5 without checksum"));
}

TEST(VrtoolErrors, MissingFilesBadArchivesAndUsage) {
  TempDir t;
  RunResult missing = RunTool({"list", t / "absent.dat"});
  EXPECT_EQ(missing.Status, 2);
  EXPECT_THAT(missing.Err, HasSubstr("absent.dat"));
  EXPECT_TRUE(missing.Out.empty());

  WriteFile(t / "plain.exe", "MZ not an installer at all");
  RunResult noTrailer = RunTool({"list", t / "plain.exe"});
  EXPECT_EQ(noTrailer.Status, 2);
  EXPECT_THAT(noTrailer.Err, HasSubstr("rv"));

  // A directory whose count promises more than the file holds is an error, not a crash or a hang.
  std::string junk = "vf";
  junk += std::string("\x66\x00\x00\x00", 4);
  junk += std::string("\xff\xff\xff\x7f", 4);
  WriteFile(t / "junk.dat", junk);
  RunResult j = RunTool({"list", t / "junk.dat"});
  EXPECT_EQ(j.Status, 2);
  EXPECT_FALSE(j.Err.empty());

  // Damaged compressed data: cat fails with exit status 2.
  std::vector<RawEntry> entries(1);
  entries[0].Name = "z.txt";
  entries[0].Content = std::string(5000, 'z');
  entries[0].Kind = 0;
  std::string archive = BuildArchive(102, entries);
  archive[archive.size() - 20] ^= 0x55;
  WriteFile(t / "damaged.dat", archive);
  EXPECT_EQ(RunTool({"cat", t / "damaged.dat", "z.txt"}).Status, 2);

  EXPECT_EQ(RunTool({}).Status, 2);
  EXPECT_EQ(RunTool({"frobnicate"}).Status, 2);
  EXPECT_EQ(RunTool({"cat", t / "damaged.dat"}).Status, 2);
  EXPECT_EQ(RunTool({"list", "--bogus", t / "damaged.dat"}).Status, 2);
  RunResult help = RunTool({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_THAT(help.Out, HasSubstr("extract"));
}

}  // namespace
}  // namespace vrtest
