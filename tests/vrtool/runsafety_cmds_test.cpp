// install on the paths users hit by mistake: wrong folders for an add-on or a game, and a run killed
// with SIGKILL at each of its steps, finished by the next run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include <nlohmann/json.hpp>

#include "tooltest.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

// A package in `pkg`: settings from `settings`, an archive packed from `content` (a folder of files)
// with the named entries kept as separate files, and the loose files given.
void MakePackage(const TempDir& t, const fs::path& pkg, const Json& settings, const fs::path& content,
                 const std::vector<std::string>& separate, const std::map<std::string, std::string>& loose) {
  fs::create_directories(pkg);
  WriteFile(t.Path() / "s.json", settings.dump());
  ASSERT_EQ(RunTool({"settings", "build", t / "s.json", "-o", (pkg / "install.dat").string()}).Status, 0);
  std::vector<std::string> pack = {"pack", "-q", "-o", (pkg / "game.dat").string()};
  for (const std::string& s : separate) pack.insert(pack.end(), {"--separate", s});
  pack.push_back(content.string());
  ASSERT_EQ(RunTool(pack).Status, 0);
  for (const auto& [name, bytes] : loose) {
    std::string path = name;
    std::replace(path.begin(), path.end(), '\\', '/');
    WriteFile(pkg / path, bytes);
  }
}

// `mib` MiB of incompressible bytes (stored as they are by pack).
void WriteNoise(const fs::path& file, int mib, uint64_t seed) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  std::vector<uint64_t> piece(1 << 17);
  uint64_t x = seed * 2654435761u + 88172645463325252ull;
  for (int i = 0; i < mib; ++i) {
    for (uint64_t& v : piece) v = (x ^= x << 13, x ^= x >> 7, x ^= x << 17);
    out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(piece.size() * 8));
  }
}

bool NoDebris(const fs::path& folder) {
  for (const auto& [name, content] : ReadTree(folder))
    if (name.find(".~vr") != std::string::npos || name.find("~vrinstall") != std::string::npos ||
        name.find(".tmp") != std::string::npos)
      return false;
  return true;
}

TEST(VrtoolRunSafety, AnAddonOrAGameGoesOnlyWhereItMay) {
  TempDir t;
  fs::create_directories(t.Path() / "content");
  WriteFile(t.Path() / "content" / "scene.txt", "newer scene");
  MakePackage(t, t.Path() / "addon",
              {{"Title", "game"}, {"GameExe", "game.exe"}, {"DiskCount", 1}, {"AddOnPackage", true}},
              t.Path() / "content", {}, {});
  fs::create_directories(t.Path() / "other");
  WriteFile(t.Path() / "other" / "game.exe", "MZ not this game");
  const auto before = ReadTree(t.Path() / "other");
  for (const fs::path& dest : {t.Path() / "missing", t.Path() / "other"}) {
    RunResult r = RunTool({"install", "-q", t / "addon", "-d", dest.string()});
    EXPECT_EQ(r.Status, 2) << dest;
    EXPECT_THAT(r.Err, HasSubstr("not installed there")) << dest;
  }
  EXPECT_FALSE(fs::exists(t.Path() / "missing"));
  EXPECT_EQ(ReadTree(t.Path() / "other"), before);

  // A drive's root is no install folder.
  MakePackage(t, t.Path() / "pkg", {{"Title", "game"}, {"GameExe", "game.exe"}, {"DiskCount", 1}},
              t.Path() / "content", {}, {});
  RunResult root = RunTool({"install", "-q", t / "pkg", "-d", "/"});
  EXPECT_EQ(root.Status, 2);
  EXPECT_THAT(root.Err, HasSubstr("/: "));
}

// Starts `vrtool install` with a log, waits until `when` says so (given the log's text and the
// destination), kills it with SIGKILL and returns true; false when the run ended first.
bool KillInstallWhen(const TempDir& t, const fs::path& pkg, const fs::path& dest,
                     const std::function<bool(const std::string&)>& when) {
  const fs::path log = t.Path() / "kill.log";
  fs::remove(log);
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    execl(VRTOOL_PATH, "vrtool", "install", "-q", "--log", log.c_str(), pkg.c_str(), "-d", dest.c_str(),
          nullptr);
    _exit(127);
  }
  int status = 0;
  for (int i = 0; i < 60000; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return false;
    std::ifstream in(log, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (when(text)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return WIFSIGNALED(status);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return false;
}

TEST(VrtoolRunSafety, AnInstallKilledAtEachStepIsFinishedByTheNextRun) {
  TempDir t;
  // A game of loose files and a 128 MiB data file, installed once already.
  std::map<std::string, std::string> loose;
  for (int i = 0; i < 300; ++i)
    loose["data\\f" + std::to_string(i) + ".txt"] = std::string(2000, 'a' + i % 26);
  Json settings = {
      {"Title", "killed"}, {"GameExe", "game.exe"}, {"DiskCount", 1}, {"PackageFiles", Json::array()}};
  for (const auto& [name, bytes] : loose) settings["PackageFiles"].push_back(name);
  WriteNoise(t.Path() / "content" / "movie.ogg", 128, 1);
  MakePackage(t, t.Path() / "pkg", settings, t.Path() / "content", {}, loose);
  // The same game as one archive with large separate entries.
  Json archiveOnly = {
      {"Title", "killed2"}, {"GameExe", "game.exe"}, {"DiskCount", 1}, {"ArchiveInstall", true}};
  for (int i = 0; i < 8; ++i)
    WriteNoise(t.Path() / "content2" / ("m" + std::to_string(i) + ".ogg"), 8, 10 + i);
  std::vector<std::string> separate;
  for (int i = 0; i < 8; ++i) separate.push_back("m" + std::to_string(i) + ".ogg");
  MakePackage(t, t.Path() / "pkg2", archiveOnly, t.Path() / "content2", separate, {});

  const fs::path dest = t.Path() / "game";
  const fs::path dest2 = t.Path() / "game2";
  ASSERT_EQ(RunTool({"install", "-q", t / "pkg", "-d", dest.string()}).Status, 0);
  const auto complete = ReadTree(dest);
  ASSERT_EQ(RunTool({"install", "-q", t / "pkg2", "-d", dest2.string()}).Status, 0);
  const auto complete2 = ReadTree(dest2);

  struct TPoint {
    const char* Step;
    fs::path Pkg, Dest;
    std::function<bool(const std::string&)> When;
  };
  auto inLog = [](const char* text) {
    return [text](const std::string& log) { return log.find(text) != std::string::npos; };
  };
  // The earlier data file is set aside and the new one has grown past 16 MiB.
  auto growing = [&](const std::string&) {
    std::error_code ec;
    const auto size = fs::file_size(dest / "game.dat", ec);
    return !ec && fs::exists(dest / "game.dat.~vr0") && size > (16u << 20) && size < (100u << 20);
  };
  const std::vector<TPoint> points = {
      {"loose files", t.Path() / "pkg", dest, inLog(u8"コピー: data")},
      {"data build", t.Path() / "pkg", dest, growing},
      {"separate entries", t.Path() / "pkg2", dest2, inLog(u8"書き出し: m2")},
      {"check", t.Path() / "pkg", dest, inLog(u8"データファイルをチェックしています")},
      {"settings", t.Path() / "pkg", dest, inLog(u8"設定ファイル")},
  };
  for (const TPoint& p : points) {
    const auto& full = p.Dest == dest ? complete : complete2;
    // Separate entries as new as the installed files are not written again: those go into a new folder.
    if (p.Dest == dest2) fs::remove_all(dest2);
    const bool killed = KillInstallWhen(t, p.Pkg, p.Dest, p.When);
    EXPECT_TRUE(killed) << p.Step << ": the run ended before it was killed";
    // A killed run leaves its journal; the next run finishes it and installs.
    RunResult again = RunTool({"install", "-q", p.Pkg.string(), "-d", p.Dest.string()});
    EXPECT_EQ(again.Status, 0) << p.Step << ": " << again.Err;
    EXPECT_EQ(ReadTree(p.Dest), full) << p.Step;
    EXPECT_TRUE(NoDebris(p.Dest)) << p.Step;
  }
  // An uninstall after a kill finishes the killed run as well, and removes the game.
  ASSERT_TRUE(KillInstallWhen(t, t.Path() / "pkg", dest, growing));
  RunResult out = RunTool({"uninstall", "-q", dest.string()});
  EXPECT_EQ(out.Status, 0) << out.Err;
  EXPECT_FALSE(fs::exists(dest));
}

TEST(VrtoolRepair, CheckFindsTheDamageByNameAndRepairRestoresTheInstall) {
  TempDir t;
  std::map<std::string, std::string> loose = {{"game.exe", "MZ game"}, {"bgm\\a.ogg", "sound"}};
  for (int i = 0; i < 4; ++i)
    WriteFile(t.Path() / "content" / ("s" + std::to_string(i) + ".txt"), std::string(3000, 'a' + i));
  MakePackage(t, t.Path() / "pkg",
              {{"Title", "repaired"},
               {"GameExe", "game.exe"},
               {"DiskCount", 1},
               {"PackageFiles", {"game.exe", "bgm\\a.ogg"}}},
              t.Path() / "content", {}, loose);
  const fs::path game = t.Path() / "game";
  ASSERT_EQ(RunTool({"install", "-q", t / "pkg", "-d", game.string()}).Status, 0);
  WriteFile(game / "save.dat", "progress");
  const auto fresh = ReadTree(game);
  EXPECT_EQ(RunTool({"check", game.string(), "--medium", t / "pkg"}).Status, 0);

  fs::remove(game / "game.exe");
  WriteFile(game / "bgm" / "a.ogg", "sounD");
  RunResult found = RunTool({"check", "--json", game.string(), "--medium", t / "pkg"});
  EXPECT_EQ(found.Status, 1);
  const Json report = Json::parse(found.Out);
  EXPECT_FALSE(report["healthy"].get<bool>());
  std::map<std::string, std::string> states;
  for (const Json& f : report["files"]) states[f["name"]] = f["state"];
  EXPECT_EQ(states["game.exe"], "missing");
  EXPECT_EQ(states["bgm\\a.ogg"], "damaged");

  RunResult repaired = RunTool({"repair", "-q", game.string(), "--medium", t / "pkg"});
  EXPECT_EQ(repaired.Status, 0) << repaired.Err;
  EXPECT_THAT(repaired.Out, HasSubstr("after:  "));
  EXPECT_EQ(ReadTree(game), fresh);
  EXPECT_EQ(RunTool({"check", game.string()}).Status, 0);
  // A package folder is no installed game.
  EXPECT_EQ(RunTool({"check", t / "pkg"}).Status, 2);
}

TEST(VrtoolRepair, MessagesNameTheFileInTheUsersLanguageOnOneLine) {
  TempDir t;
  WriteFile(t.Path() / "content" / "s.txt", std::string(5000, 's'));
  const Json settings = {
      {"Title", "mine"}, {"GameExe", "game.exe"}, {"DiskCount", 1}, {"PackageFiles", {"game.exe"}}};
  MakePackage(t, t.Path() / "pkg", settings, t.Path() / "content", {}, {{"game.exe", "MZ"}});
  Json other = settings;
  other["Title"] = "another";
  MakePackage(t, t.Path() / "other", other, t.Path() / "content", {}, {{"game.exe", "MZ"}});
  const fs::path game = t.Path() / "game";
  ASSERT_EQ(RunTool({"install", "-q", t / "pkg", "-d", game.string()}).Status, 0);
  const std::string full = ReadFile(t.Path() / "pkg" / "game.dat");
  fs::create_directories(t.Path() / "cut");
  fs::copy(t.Path() / "pkg" / "install.dat", t.Path() / "cut" / "install.dat");
  WriteFile(t.Path() / "cut" / "game.dat", full.substr(0, 12));
  const std::pair<std::string, std::string> cases[] = {
      {"other", t / "other" + ": a medium of another game"},
      {"cut", t / "cut" + "/game.dat: the medium's archive cannot be read: "},
  };
  for (const auto& [medium, message] : cases)
    for (const char* command : {"check", "repair"}) {
      RunResult r = RunTool({command, "-q", game.string(), "--medium", t / medium});
      EXPECT_EQ(r.Status, 2) << command << " " << medium;
      EXPECT_THAT(r.Err, HasSubstr(message)) << command;
      EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
      EXPECT_EQ(r.Err.find("\\r"), std::string::npos) << r.Err;
      EXPECT_EQ(r.Err.find("Z:"), std::string::npos) << r.Err;
      // Nothing Japanese is left under an English locale (UTF-8 lead bytes of kana and kanji).
      EXPECT_EQ(r.Err.find("\xE3"), std::string::npos) << r.Err;
    }
}

}  // namespace
}  // namespace vrtest
