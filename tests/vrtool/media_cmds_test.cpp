// media build and media check: a generated game folder on three media of a small capacity, installed
// from the folders and from the images; refused projects leave nothing behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "tooltest.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

std::string Noise(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

// A game: loose program, sound and movie files, an archive of incompressible and text entries, some
// with Japanese names; the project puts it on media of 600,000 bytes.
void MakeGame(const TempDir& t, const std::string& capacity = "600000") {
  WriteFile(t.Path() / "files" / "game.exe", Noise(200000, 1));
  WriteFile(t.Path() / "files" / u8"資料" / u8"説明書.txt", u8"遊び方\r\n");
  WriteFile(t.Path() / "files" / "bgm" / "theme.OGG", Noise(150000, 2));
  WriteFile(t.Path() / "files" / "movie" / "op.mpg", Noise(180000, 3));
  for (int i = 0; i < 4; ++i)
    WriteFile(t.Path() / "arc" / u8"画像" / ("cg" + std::to_string(i) + ".bin"), Noise(120000, 10 + i));
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\n";
  WriteFile(t.Path() / "arc" / "scenario.txt", text);
  WriteFile(t.Path() / "arc" / "omake.txt", "extra");
  WriteFile(t.Path() / "setup.exe", "MZ setup stand-in");
  Json project = {{"settings",
                   {{"Title", u8"星の丘"},
                    {"GameExe", "game.exe"},
                    {"RegistryKey", "VrTest\\Media"},
                    {"BackdropPicture", u8"画像\\cg3.bin"}}},
                  {"files", "files"},
                  {"archive", "arc"},
                  {"separate", {"omake.txt"}},
                  {"scramble", true},
                  {"capacity", std::stoll(capacity)},
                  {"setup", "setup.exe"},
                  {"volume", "HOSHI"}};
  WriteFile(t.Path() / "project.json", project.dump());
}

Json SettingsOf(const fs::path& installDat) {
  RunResult r = RunTool({"settings", "show", "--json", installDat.string()});
  EXPECT_EQ(r.Status, 0) << r.Err;
  return Json::parse(r.Out);
}

// Every file of a folder except the builder's own, relative name -> content.
std::map<std::string, std::string> Files(const fs::path& root, const std::vector<std::string>& skip = {}) {
  std::map<std::string, std::string> files;
  for (const auto& [name, content] : ReadTree(root))
    if (std::find(skip.begin(), skip.end(), name) == skip.end()) files[name] = content;
  return files;
}

TEST(MediaBuild, ThreeMediaInstallEveryFileAndEntryAndCountWhatTheyHold) {
  TempDir t;
  MakeGame(t);
  RunResult built =
      RunTool({"media", "build", t / "project.json", "-o", t / "out", "--iso", "--threads", "2"});
  ASSERT_EQ(built.Status, 0) << built.Err;
  EXPECT_THAT(built.Out, HasSubstr("3 media of 600,000 bytes"));
  const fs::path out = t.Path() / "out";
  ASSERT_TRUE(fs::is_directory(out / "disc3"));
  EXPECT_FALSE(fs::exists(out / "disc4"));
  for (int i = 1; i <= 3; ++i) EXPECT_LE(fs::file_size(out / ("disc" + std::to_string(i) + ".iso")), 600000u);
  // Beside the Joliet names, the primary volume names files in code page 932, as Japanese discs do.
  EXPECT_NE(ReadFile(out / "disc1.iso").find("\x90\xe0\x96\xbe\x8f\x91.TXT;1"), std::string::npos);
  // The launcher's backdrop is on the first medium, whatever its name's place in the order.
  EXPECT_EQ(RunTool({"cat", (out / "disc1" / "game.dat").string(), u8"画像/cg3.bin"}).Out, Noise(120000, 13));

  // The sizes of each install.dat are a fresh count: listed loose files by extension, and the stored
  // bytes of the entries that go into the installed data file.
  std::vector<int64_t> base, data, sound, movie;
  for (int i = 0; i < 3; ++i) {
    const fs::path disc = out / ("disc" + std::to_string(i + 1));
    const Json s = SettingsOf(disc / "install.dat");
    EXPECT_EQ(s["DiskIndex"], i);
    EXPECT_EQ(s["DiskCount"], 3);
    EXPECT_EQ(s["Title"], u8"星の丘");
    EXPECT_EQ(fs::exists(disc / "install.exe"), i == 0);
    EXPECT_EQ(ReadFile(disc / "setup.exe"), "MZ setup stand-in");
    EXPECT_THAT(ReadFile(disc / "autorun.inf"), HasSubstr("open=setup.exe"));
    int64_t b = 0, d = 0, so = 0, m = 0;
    for (const Json& listed : s["PackageFiles"]) {
      std::string name = listed.get<std::string>();
      std::replace(name.begin(), name.end(), '\\', '/');
      for (const auto& f : fs::recursive_directory_iterator(disc)) {
        std::string rel = fs::relative(f.path(), disc).string();
        std::transform(rel.begin(), rel.end(), rel.begin(), [](char c) { return std::tolower(c); });
        if (rel != name) continue;
        const auto size = static_cast<int64_t>(fs::file_size(f.path()));
        (rel.find(".ogg") != std::string::npos ? so : rel.find(".mpg") != std::string::npos ? m : b) += size;
      }
    }
    RunResult list = RunTool({"list", "--json", (disc / "game.dat").string()});
    ASSERT_EQ(list.Status, 0) << list.Err;
    const Json listing = Json::parse(list.Out);
    for (const Json& e : listing["entries"])
      if (e["separate"] == 0) d += e["size"].get<int64_t>();
    EXPECT_EQ(s["BaseSizes"][i], b) << disc;
    EXPECT_EQ(s["DataSizes"][i], d) << disc;
    EXPECT_EQ(s["SoundSizes"][i], so) << disc;
    EXPECT_EQ(s["MovieSizes"][i], m) << disc;
    base.push_back(b), data.push_back(d), sound.push_back(so), movie.push_back(m);
  }
  const Json first = SettingsOf(out / "disc1" / "install.dat");
  EXPECT_EQ(first["BaseSizes"], Json(base));
  EXPECT_EQ(first["DataSizeTotal"], data[0] + data[1] + data[2]);
  EXPECT_EQ(first["SoundSizeTotal"], sound[0] + sound[1] + sound[2]);
  EXPECT_EQ(first["MovieSizeTotal"], movie[0] + movie[1] + movie[2]);

  for (const std::vector<std::string>& media :
       {std::vector<std::string>{(out / "disc1").string(), (out / "disc2").string(),
                                 (out / "disc3").string()},
        std::vector<std::string>{(out / "disc1.iso").string(), (out / "disc2.iso").string(),
                                 (out / "disc3.iso").string()}}) {
    RunResult check = RunTool({"media", "check", media[0], media[1], media[2]});
    EXPECT_EQ(check.Status, 0) << check.Out << check.Err;
    const std::string dest = t / ("game" + std::to_string(media[0].size()));
    RunResult install = RunTool({"install", "-q", media[0], media[1], media[2], "-d", dest});
    ASSERT_EQ(install.Status, 0) << install.Err;
    // Every loose file arrives, and the uninstaller; every entry but the separate one is in game.dat.
    std::map<std::string, std::string> expected = Files(t.Path() / "files");
    expected["install.exe"] = "MZ setup stand-in";
    EXPECT_EQ(Files(dest, {"game.dat", "game.ext", "install.dat"}), expected);
    const std::string extracted = t / ("x" + std::to_string(media[0].size()));
    ASSERT_EQ(RunTool({"extract", "-C", extracted, dest + "/game.dat"}).Status, 0);
    std::map<std::string, std::string> entries = Files(t.Path() / "arc");
    entries.erase("omake.txt");
    EXPECT_EQ(Files(extracted), entries);
  }

  // The same project, built again with another number of threads, gives the same bytes.
  ASSERT_EQ(
      RunTool({"media", "build", t / "project.json", "-o", t / "again", "--iso", "--threads", "1"}).Status,
      0);
  EXPECT_EQ(ReadTree(out), ReadTree(t.Path() / "again"));

  // A set with a disc twice, or with a disc of another game, is refused.
  Json other = Json::parse(ReadFile(t.Path() / "project.json"));
  other["settings"]["Title"] = u8"別のゲーム";
  WriteFile(t.Path() / "other.json", other.dump());
  ASSERT_EQ(RunTool({"media", "build", t / "other.json", "-o", t / "other"}).Status, 0);
  const std::string disc1 = (out / "disc1").string(), disc3 = (out / "disc3").string();
  RunResult mixed = RunTool({"media", "check", disc1, disc1, t / "other/disc2", disc3});
  EXPECT_EQ(mixed.Status, 1);
  EXPECT_THAT(mixed.Out, HasSubstr("disc 1 again"));
  EXPECT_THAT(mixed.Out, HasSubstr(u8"another title (\"別のゲーム\""));

  // A medium whose loose file changed no longer agrees with its install.dat.
  WriteFile(out / "disc1" / "game.exe", "MZ");
  RunResult check = RunTool({"media", "check", (out / "disc1").string(), (out / "disc2").string()});
  EXPECT_EQ(check.Status, 1);
  EXPECT_THAT(check.Out, HasSubstr("BaseSizes[0]"));
  EXPECT_THAT(check.Out, HasSubstr("disc 3 of 3 is missing"));
}

TEST(MediaBuild, RefusedProjectsNameTheCauseAndLeaveNothing) {
  TempDir t;
  MakeGame(t);
  const Json good = Json::parse(ReadFile(t.Path() / "project.json"));
  struct Case {
    const char* What;
    Json Project;
    std::string Message;
  };
  std::vector<Case> cases;
  Json p = good;
  p["capacity"] = 200000;
  cases.push_back({"an entry larger than a medium", p, "game.exe: 200,000 bytes do not fit"});
  p = good;
  p["archive"] = "missing";
  cases.push_back({"a missing folder", p, "field archive"});
  p = good;
  p["capacity"] = "cd800";
  cases.push_back({"an unknown capacity", p, "field capacity"});
  p = good;
  p["volum"] = "X";
  cases.push_back({"a misspelt field", p, "unknown field \"volum\""});
  p = good;
  p["settings"]["DiskCount"] = 5;
  cases.push_back(
      {"a computed field that disagrees", p, "settings field DiskCount says 5, the media give 3"});
  p = good;
  p["separate"] = {"nothing.txt"};
  cases.push_back({"a separate entry that is not there", p, "field separate"});
  for (const Case& c : cases) {
    WriteFile(t.Path() / "bad.json", c.Project.dump());
    RunResult r = RunTool({"media", "build", t / "bad.json", "-o", t / "out"});
    EXPECT_EQ(r.Status, 2) << c.What;
    EXPECT_THAT(r.Err, HasSubstr(c.Message)) << c.What;
    EXPECT_FALSE(fs::exists(t.Path() / "out")) << c.What;
    for (const auto& f : fs::directory_iterator(t.Path()))
      EXPECT_EQ(f.path().filename().string().find("~vrtool"), std::string::npos) << c.What;
  }
  // An output folder that holds something is never written into.
  WriteFile(t.Path() / "full" / "keep.txt", "mine");
  RunResult r = RunTool({"media", "build", t / "project.json", "-o", t / "full"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(Files(t.Path() / "full").size(), 1u);
}

// The identifiers and parent numbers of an image's little-endian path table, of the Joliet volume or the
// primary one.
std::vector<std::pair<int, std::string>> PathTable(const std::string& iso, bool joliet) {
  auto le = [&](size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(iso[at + i]);
    return v;
  };
  for (size_t d = 16 * 2048; d + 2048 <= iso.size() && iso[d] != '\xFF'; d += 2048) {
    if (iso[d] != (joliet ? 2 : 1) || (joliet && iso.compare(d + 88, 3, "%/E") != 0)) continue;
    std::vector<std::pair<int, std::string>> table;
    const size_t start = le(d + 140, 4) * 2048, end = start + le(d + 132, 4);
    for (size_t at = start; at < end;) {
      const size_t n = static_cast<unsigned char>(iso[at]);
      table.emplace_back(le(at + 6, 2), iso.substr(at + 8, n));
      at += 8 + n + n % 2;
    }
    return table;
  }
  return {};
}

TEST(MediaBuild, EachPathTableIsSortedByItsOwnNamesAndOtherToolsReadTheJolietTree) {
  TempDir t;
  MakeGame(t, "700000000");
  for (const std::string folder : {"aa", "B", u8"画像", u8"日本語", u8"日本語/Zz", u8"日本語/ab"})
    WriteFile(t.Path() / "files" / folder / "f.txt", folder);
  ASSERT_EQ(RunTool({"media", "build", t / "project.json", "-o", t / "out", "--iso"}).Status, 0);
  const std::string iso = ReadFile(t.Path() / "out" / "disc1.iso");
  for (bool joliet : {false, true}) {
    const auto table = PathTable(iso, joliet);
    ASSERT_GT(table.size(), 7u) << joliet;
    // ECMA-119 6.9.1: by level, then by the parent's number, then by identifier.
    for (size_t i = 2; i < table.size(); ++i)
      EXPECT_TRUE(table[i - 1].first < table[i].first ||
                  (table[i - 1].first == table[i].first && table[i - 1].second < table[i].second))
          << (joliet ? "Joliet " : "primary ") << i;
  }
  // "aa" before "B" in the primary names ("AA" < "B"), after it in the Joliet ones ("B" < "a").
  const auto joliet = PathTable(iso, true);
  EXPECT_EQ(joliet[1].second, std::string("\0B", 2));

  const fs::path disc = t.Path() / "out" / "disc1";
  std::vector<std::string> expected;
  for (const auto& f : fs::recursive_directory_iterator(disc))
    expected.push_back("/" + fs::relative(f.path(), disc).generic_u8string());
  std::sort(expected.begin(), expected.end());
  auto listed = [&](const std::string& command) {
    const std::string out = t / "listed.txt";
    EXPECT_EQ(std::system((command + " > " + out + " 2>/dev/null").c_str()), 0) << command;
    std::vector<std::string> names;
    std::istringstream lines(ReadFile(out));
    for (std::string line; std::getline(lines, line);) {
      if (line.size() > 1 && line.front() == '\'' && line.back() == '\'')
        line = line.substr(1, line.size() - 2);
      if (!line.empty() && line != "/") names.push_back(line);
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(listed("LANG=C.UTF-8 xorriso -read_fs norock -joliet_map unmapped -indev " + t / "out/disc1.iso" +
                   " -find /"),
            expected);
  // isoinfo shows each character beyond ASCII as "_".
  std::vector<std::string> ascii;
  for (const std::string& name : expected) {
    std::string a;
    for (unsigned char c : name)
      if (c < 0x80 || c >= 0xC0) a += c < 0x80 ? static_cast<char>(c) : '_';
    ascii.push_back(a);
  }
  std::sort(ascii.begin(), ascii.end());
  EXPECT_EQ(listed("isoinfo -J -f -i " + t / "out/disc1.iso"), ascii);
}

}  // namespace
}  // namespace vrtest
