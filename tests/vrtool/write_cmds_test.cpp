// pack, merge and append, read back with the tool itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <utime.h>

#include <nlohmann/json.hpp>

#include "tooltest.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

void SetTime(const fs::path& p, time_t when) {
  struct utimbuf t {
    when, when
  };
  ASSERT_EQ(utime(p.c_str(), &t), 0);
}

// A small game folder: texts, an incompressible file, a sound file, an empty file, Japanese names.
void MakeGameFolder(const fs::path& root, time_t when) {
  WriteFile(root / "install.dat", "settings v1");
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i % 17) + "\n";
  WriteFile(root / "script" / "main.txt", text);
  std::string noise;
  uint32_t x = 12345;
  for (int i = 0; i < 3000; ++i) {
    x = x * 1103515245 + 12345;
    noise += static_cast<char>(x >> 24);
  }
  WriteFile(root / "data" / "noise.bin", noise);
  WriteFile(root / "bgm.ogg", std::string(100, 'o'));
  WriteFile(root / "empty.txt", "");
  WriteFile(root / u8"画像" / u8"背景.txt", u8"日本語のテキスト");
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) SetTime(e.path(), when);
  }
}

Json List(const std::string& archive) {
  RunResult r = RunTool({"list", "--json", archive});
  EXPECT_EQ(r.Status, 0) << r.Err;
  return Json::parse(r.Out);
}

const Json* Find(const Json& list, const std::string& name) {
  for (const auto& e : list["entries"]) {
    if (e["name"] == name) return &e;
  }
  return nullptr;
}

TEST(VrtoolPack, RoundTripPlainScrambledAndSeparate) {
  TempDir t;
  MakeGameFolder(t.Path() / "game", 1100000000);
  for (bool scramble : {false, true}) {
    SCOPED_TRACE(scramble ? "scrambled" : "plain");
    std::vector<std::string> args{"pack"};
    if (scramble) args.push_back("--scramble");
    args.insert(args.end(), {"--separate", u8"画像/背景.txt", "-o", t / "out.dat", t / "game"});
    RunResult p = RunTool(args);
    ASSERT_EQ(p.Status, 0) << p.Err;
    Json j = List(t / "out.dat");
    EXPECT_EQ(j["version"], 102);
    ASSERT_EQ(j["entries"].size(), 6u);
    // Entries are the files below the folder, "\" between levels, in byte order of their names.
    EXPECT_EQ(j["entries"][0]["name"], "bgm.ogg");
    EXPECT_EQ(j["entries"][1]["name"], "data\\noise.bin");
    const Json* sound = Find(j, "bgm.ogg");
    const Json* text = Find(j, "script\\main.txt");
    const Json* noise = Find(j, "data\\noise.bin");
    const Json* empty = Find(j, "empty.txt");
    const Json* sep = Find(j, u8"画像\\背景.txt");
    ASSERT_TRUE(sound && text && noise && empty && sep);
    EXPECT_EQ((*sound)["kind"], scramble ? 2 : 1);
    EXPECT_EQ((*text)["kind"], scramble ? 3 : 0);
    EXPECT_EQ((*noise)["kind"], scramble ? 2 : 1);  // does not compress well enough
    EXPECT_EQ((*sep)["separate"], 1);
    EXPECT_EQ((*text)["separate"], 0);
    EXPECT_NE((*text)["time"], 0);
    if (!scramble) {
      EXPECT_EQ((*empty)["size"], 0);
      EXPECT_EQ((*empty)["crc"], 0);
    }
    RunResult v = RunTool({"verify", t / "out.dat"});
    EXPECT_EQ(v.Status, 0) << v.Out;
    fs::remove_all(t.Path() / "x");
    RunResult x = RunTool({"extract", "--quiet", "-C", t / "x", t / "out.dat"});
    ASSERT_EQ(x.Status, 0) << x.Err;
    EXPECT_EQ(ReadTree(t.Path() / "x"), ReadTree(t.Path() / "game"));
  }
  // Refusals: an unknown --separate name, a program as the output, a folder that does not exist.
  EXPECT_EQ(RunTool({"pack", "--separate", "nope.txt", "-o", t / "o2.dat", t / "game"}).Status, 2);
  EXPECT_FALSE(fs::exists(t.Path() / "o2.dat"));
  EXPECT_EQ(RunTool({"pack", "-o", t / "o.exe", t / "game"}).Status, 2);
  EXPECT_EQ(RunTool({"pack", "-o", t / "o3.dat", t / "nothing"}).Status, 2);
  EXPECT_EQ(RunTool({"pack", t / "game"}).Status, 2);  // -o is required
}

TEST(VrtoolMerge, NewerEntriesIntoADataFileAndItsDirectoryFile) {
  TempDir t;
  MakeGameFolder(t.Path() / "v1", 1100000000);
  ASSERT_EQ(RunTool({"pack", "-o", t / "v1.dat", t / "v1"}).Status, 0);
  // Build the installed data file from the first package: every entry is taken over.
  RunResult first = RunTool({"merge", t / "game.dat", t / "v1.dat"});
  ASSERT_EQ(first.Status, 0) << first.Err;
  EXPECT_THAT(first.Out, HasSubstr("6 entries merged"));
  EXPECT_TRUE(fs::exists(t.Path() / "game.ext"));
  EXPECT_EQ(RunTool({"verify", t / "game.dat"}).Status, 0);

  // An update with one changed file and one new file, newer than the first.
  fs::create_directories(t.Path() / "v2");
  WriteFile(t.Path() / "v2" / "install.dat", "settings v2");
  WriteFile(t.Path() / "v2" / "new.txt", "brand new");
  WriteFile(t.Path() / "v2" / "bgm.ogg", std::string(100, 'o'));
  SetTime(t.Path() / "v2" / "install.dat", 1200000000);
  SetTime(t.Path() / "v2" / "new.txt", 1200000000);
  SetTime(t.Path() / "v2" / "bgm.ogg", 1000000000);  // older: not taken
  ASSERT_EQ(RunTool({"pack", "-o", t / "v2.dat", t / "v2"}).Status, 0);
  // The update is read from a program it was appended to.
  WriteFile(t.Path() / "upd.exe", "MZ update program");
  ASSERT_EQ(RunTool({"append", t / "upd.exe", t / "v2.dat"}).Status, 0);
  RunResult second = RunTool({"merge", t / "game.dat", t / "upd.exe"});
  ASSERT_EQ(second.Status, 0) << second.Err;
  EXPECT_THAT(second.Out, HasSubstr("2 entries merged"));
  Json j = List(t / "game.dat");
  EXPECT_EQ(j["entries"].size(), 8u);
  EXPECT_NE(Find(j, "/install.dat"), nullptr);
  EXPECT_NE(Find(j, "new.txt"), nullptr);
  EXPECT_EQ(Find(j, "/bgm.ogg"), nullptr);
  EXPECT_EQ(RunTool({"cat", t / "game.dat", "install.dat"}).Out, "settings v2");
  EXPECT_EQ(RunTool({"cat", t / "game.dat", "script/main.txt"}).Out,
            ReadFile(t.Path() / "v1" / "script" / "main.txt"));
  EXPECT_EQ(RunTool({"verify", t / "game.dat"}).Status, 0);
  // Extracting skips the superseded copy.
  ASSERT_EQ(RunTool({"extract", "-C", t / "x", t / "game.dat", "install.dat"}).Status, 0);
  EXPECT_EQ(ReadFile(t.Path() / "x" / "install.dat"), "settings v2");

  // Nothing newer: the directory file stays as it was.
  std::string ext = ReadFile(t.Path() / "game.ext");
  RunResult again = RunTool({"merge", t / "game.dat", t / "v2.dat"});
  EXPECT_EQ(again.Status, 0);
  EXPECT_THAT(again.Out, HasSubstr("nothing newer"));
  EXPECT_EQ(ReadFile(t.Path() / "game.ext"), ext);

  // A program or a directory file is not a data file to merge into.
  EXPECT_EQ(RunTool({"merge", t / "upd.exe", t / "v1.dat"}).Status, 2);
  EXPECT_EQ(RunTool({"merge", t / "game.dat", t / "missing.dat"}).Status, 2);
}

TEST(VrtoolAppend, ProgramWithTrailerReadsBack) {
  TempDir t;
  MakeGameFolder(t.Path() / "game", 1100000000);
  ASSERT_EQ(RunTool({"pack", "--scramble", "-o", t / "game.dat", t / "game"}).Status, 0);
  std::string program = "MZ" + std::string(1000, '\xCC');
  WriteFile(t.Path() / "setup.exe", program);
  RunResult a = RunTool({"append", t / "setup.exe", t / "game.dat"});
  ASSERT_EQ(a.Status, 0) << a.Err;
  std::string exe = ReadFile(t.Path() / "setup.exe");
  std::string archive = ReadFile(t.Path() / "game.dat");
  ASSERT_EQ(exe.size(), program.size() + archive.size() + 6);
  EXPECT_EQ(exe.substr(0, program.size()), program);
  EXPECT_EQ(exe.substr(program.size(), archive.size()), archive);
  EXPECT_EQ(exe.substr(exe.size() - 6), std::string("\xEA\x03\x00\x00rv", 6));  // 1002 = old length
  EXPECT_EQ(RunTool({"verify", t / "setup.exe"}).Status, 0);
  EXPECT_EQ(RunTool({"cat", t / "setup.exe", u8"画像/背景.txt"}).Out, u8"日本語のテキスト");
  ASSERT_EQ(RunTool({"extract", "-C", t / "x", t / "setup.exe"}).Status, 0);
  EXPECT_EQ(ReadTree(t.Path() / "x"), ReadTree(t.Path() / "game"));

  // Only an archive with its directory at its start can be appended; the program stays as it was.
  std::string before = ReadFile(t.Path() / "setup.exe");
  ASSERT_EQ(RunTool({"merge", t / "split.dat", t / "game.dat"}).Status, 0);
  EXPECT_EQ(RunTool({"append", t / "setup.exe", t / "split.dat"}).Status, 2);
  EXPECT_EQ(RunTool({"append", t / "setup.exe", t / "missing.dat"}).Status, 2);
  WriteFile(t.Path() / "junk.dat", "not an archive");
  EXPECT_EQ(RunTool({"append", t / "setup.exe", t / "junk.dat"}).Status, 2);
  EXPECT_EQ(ReadFile(t.Path() / "setup.exe"), before);
}

}  // namespace
}  // namespace vrtest
