// install and uninstall: a three-medium package made with the tool, installed, verified and removed.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "tooltest.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

// Medium N (1..3) in folder cdN: its settings, a data file holding "dataN" and a loose "discN.txt".
void MakeMedia(const TempDir& t) {
  for (int n = 1; n <= 3; ++n) {
    const std::string i = std::to_string(n);
    const fs::path cd = t.Path() / ("cd" + i);
    fs::create_directories(cd);
    Json s = {
        {"Title", u8"三枚組"},    {"GameExe", "game.exe"},
        {"DiskCount", 3},         {"DiskIndex", n - 1},
        {"RegistryKey", "Test3"}, {"PackageFiles", {"game.exe", "disc1.txt", "disc2.txt", "disc3.txt"}}};
    WriteFile(t.Path() / ("s" + i + ".json"), s.dump());
    ASSERT_EQ(
        RunTool({"settings", "build", t / ("s" + i + ".json"), "-o", (cd / "install.dat").string()}).Status,
        0);
    WriteFile(t.Path() / ("pack" + i) / ("data" + i), "entry of medium " + i);
    ASSERT_EQ(RunTool({"pack", t / ("pack" + i), "-o", (cd / "game.dat").string()}).Status, 0);
    WriteFile(cd / ("disc" + i + ".txt"), "loose file of medium " + i);
    if (n == 1) WriteFile(cd / "game.exe", "MZ game");
  }
}

TEST(VrtoolInstall, ThreeMediaInstallVerifyAndUninstall) {
  TempDir t;
  MakeMedia(t);
  const std::string dest = t / "game";
  const std::string media = t / "cd2" + ";" + t / "cd3";
  RunResult in =
      RunTool({"install", "-q", t / "cd1", "-d", dest, "--media-dirs", media, "--log", t / "install.log"});
  ASSERT_EQ(in.Status, 0) << in.Err;
  EXPECT_EQ(RunTool({"verify", dest + "/game.dat"}).Status, 0);
  for (const char* n : {"1", "2", "3"})
    EXPECT_EQ(ReadFile(t.Path() / "game" / (std::string("disc") + n + ".txt")),
              std::string("loose file of medium ") + n);
  EXPECT_EQ(RunTool({"cat", dest + "/game.dat", "data3"}).Out, "entry of medium 3");
  const Json installed = Json::parse(RunTool({"settings", "show", "--json", dest + "/install.dat"}).Out);
  EXPECT_EQ(installed["Uninstaller"], true);
  EXPECT_THAT(ReadFile(t.Path() / "install.log"), HasSubstr(u8"データファイルのチェック: 正常"));

  // A package is not something to uninstall; the save data stay unless asked for.
  EXPECT_EQ(RunTool({"uninstall", t / "cd1"}).Status, 2);
  WriteFile(t.Path() / "game" / "save.dat", "progress");
  RunResult out = RunTool({"uninstall", dest, "--log", t / "uninstall.log"});
  ASSERT_EQ(out.Status, 0) << out.Err;
  EXPECT_THAT(out.Err, HasSubstr("skipped"));
  EXPECT_EQ(ReadTree(t.Path() / "game"),
            (std::vector<std::pair<std::string, std::string>>{{"save.dat", "progress"}}));
  EXPECT_THAT(ReadFile(t.Path() / "uninstall.log"), HasSubstr("game.dat"));
  EXPECT_EQ(RunTool({"uninstall", dest}).Status, 2);

  ASSERT_EQ(RunTool({"install", "-q", t / "cd1", "-d", dest, "--media-dirs", media}).Status, 0);
  ASSERT_EQ(RunTool({"uninstall", "-q", "--delete-save", dest}).Status, 0);
  EXPECT_FALSE(fs::exists(dest));
}

TEST(VrtoolInstall, FurtherMediaWithoutTheirFoldersFailAndLeaveNothing) {
  TempDir t;
  MakeMedia(t);
  RunResult r = RunTool({"install", "-q", t / "cd1", "-d", t / "game"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("--media-dirs"));
  EXPECT_FALSE(fs::exists(t.Path() / "game"));
}

// Entries directly in a folder; 0 when it cannot be read.
size_t EntryCount(const fs::path& folder) {
  std::error_code ec;
  size_t n = 0;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++n;
  return n;
}

TEST(VrtoolInstall, ClosedTerminalTakesTheInstallBack) {
  TempDir t;
  const fs::path pkg = t.Path() / "pkg", game = t.Path() / "game";
  fs::create_directories(pkg);
  WriteFile(t.Path() / "s.json",
            Json{{"Title", "big"}, {"GameExe", "game.exe"}, {"DiskCount", 1}, {"PackageFiles", {"game.exe"}}}
                .dump());
  ASSERT_EQ(RunTool({"settings", "build", t / "s.json", "-o", (pkg / "install.dat").string()}).Status, 0);
  // 384 MiB of incompressible bytes, stored as they are: the run takes a while.
  fs::create_directories(t.Path() / "src");
  {
    std::ofstream out(t.Path() / "src" / "movie.ogg", std::ios::binary);
    std::vector<uint64_t> piece(1 << 20);
    uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 48; ++i) {
      for (uint64_t& v : piece) v = (x ^= x << 13, x ^= x >> 7, x ^= x << 17);
      out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(piece.size() * 8));
    }
  }
  ASSERT_EQ(RunTool({"pack", "-q", "-o", (pkg / "game.dat").string(), t / "src"}).Status, 0);
  fs::remove_all(t.Path() / "src");
  WriteFile(pkg / "game.exe", "MZ game");
  fs::create_directories(game);
  WriteFile(game / "keep.txt", "the user's");
  const int err = open((t / "err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(err, 0);
  const size_t besideBefore = EntryCount(t.Path());

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGHUP, SIG_DFL);
    dup2(err, 2);
    execl(VRTOOL_PATH, "vrtool", "install", "-q", pkg.c_str(), "-d", game.c_str(), nullptr);
    _exit(127);
  }
  // The hangup comes once the run has begun to change the destination or what lies beside it.
  for (int i = 0; i < 10000 && EntryCount(game) == 1 && EntryCount(t.Path()) == besideBefore; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  kill(pid, SIGHUP);
  int status = 0;
  waitpid(pid, &status, 0);
  close(err);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_THAT(ReadFile(t.Path() / "err.txt"), HasSubstr("interrupted"));
  EXPECT_EQ(ReadTree(game), (std::vector<std::pair<std::string, std::string>>{{"keep.txt", "the user's"}}));
  EXPECT_EQ(EntryCount(game), 1u);
  EXPECT_EQ(EntryCount(t.Path()), besideBefore) << "nothing new next to the game folder";
}

}  // namespace
}  // namespace vrtest
