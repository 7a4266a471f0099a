// The tool against hostile archives and unlucky runs: links in the target folder, leftovers, part
// files the user owns, special files, control characters and NUL bytes in names.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "imaging/vskbuild.h"
#include "tooltest.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(VrtoolHarden, ExtractNeverFollowsLinksInTheTargetFolder) {
  TempDir t;
  RawEntry a{"a.txt", "new a", 1}, b{"sub\\b.txt", "new b", 1}, c{"dangling.txt", "new c", 1};
  WriteFile(t / "game.dat", BuildArchive(102, {a, b, c}));
  fs::create_directories(t.Path() / "out");
  fs::create_directories(t.Path() / "outside");
  WriteFile(t / "outside/a.txt", "precious");
  fs::create_symlink(t.Path() / "outside/a.txt", t.Path() / "out/a.txt");
  fs::create_directory_symlink(t.Path() / "outside", t.Path() / "out/sub");
  fs::create_symlink(t.Path() / "outside/c.txt", t.Path() / "out/dangling.txt");

  RunResult r = RunTool({"extract", "-q", "-C", t / "out", t / "game.dat"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("symbolic link"));
  EXPECT_EQ(ReadFile(t.Path() / "outside/a.txt"), "precious");
  EXPECT_FALSE(fs::exists(t.Path() / "outside/b.txt"));
  EXPECT_FALSE(fs::exists(t.Path() / "outside/c.txt"));
  // Links named like an entry are replaced by the entry's file, never written through.
  EXPECT_FALSE(fs::is_symlink(t.Path() / "out/a.txt"));
  EXPECT_EQ(ReadFile(t.Path() / "out/a.txt"), "new a");
  EXPECT_EQ(ReadFile(t.Path() / "out/dangling.txt"), "new c");
}

TEST(VrtoolHarden, FailedWritesLeaveNoFilesBehind) {
  TempDir t;
  RawEntry good{"good.txt", "fine", 1}, bad{"bad.txt", "this is not zlib at all", 1};
  // Both stored; the kind byte of the second then says "compressed", which its bytes are not.
  std::string raw = BuildArchive(102, {good, bad});
  const size_t kinds = raw.find(std::string("\x01\x01", 2), 30);
  ASSERT_NE(kinds, std::string::npos);
  raw[kinds + 1] = '\0';
  WriteFile(t / "game.dat", raw);
  fs::create_directories(t.Path() / "out");
  WriteFile(t / "out/bad.txt", "old content");
  RunResult r = RunTool({"extract", "-q", "-C", t / "out", t / "game.dat"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("bad.txt"));
  EXPECT_EQ(ReadFile(t.Path() / "out/bad.txt"), "old content");
  EXPECT_EQ(Names(t.Path() / "out"), (std::vector<std::string>{"bad.txt", "good.txt"}));
}

TEST(VrtoolHarden, PackRemovesOnlyItsOwnPartFilesAndTakesRegularFilesOnly) {
  TempDir t;
  fs::create_directories(t.Path() / "game");
  WriteFile(t / "game/a.txt", "aaa");
  WriteFile(t / "out.001", "the user's own file");
  RunResult r = RunTool({"pack", "-q", "-o", t / "out.dat", t / "game"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("out.001"));
  EXPECT_EQ(ReadFile(t.Path() / "out.001"), "the user's own file");
  EXPECT_FALSE(fs::exists(t.Path() / "out.dat"));
  fs::remove(t.Path() / "out.001");
  EXPECT_EQ(RunTool({"pack", "-q", "-o", t / "out.dat", t / "game"}).Status, 0);
  // Packing again over its own archive is fine.
  EXPECT_EQ(RunTool({"pack", "-q", "-o", t / "out.dat", t / "game"}).Status, 0);
  EXPECT_EQ(Names(t.Path()), (std::vector<std::string>{"game", "out.dat"}));

  ASSERT_EQ(mkfifo((t.Path() / "game/pipe").c_str(), 0600), 0);
  r = RunTool({"pack", "-q", "-o", t / "two.dat", t / "game"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("pipe"));
  fs::remove(t.Path() / "game/pipe");
  fs::create_symlink("/etc/passwd", t.Path() / "game/link");
  r = RunTool({"pack", "-q", "-o", t / "two.dat", t / "game"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("symbolic link"));
  EXPECT_EQ(Names(t.Path()), (std::vector<std::string>{"game", "out.dat"}));
}

TEST(VrtoolHarden, PackNamesAFileWhoseNameCodePage932CannotHold) {
  TempDir t;
  fs::create_directories(t.Path() / "game" / "sub");
  WriteFile(t / "game/a.txt", "a");
  WriteFile(t.Path() / "game" / "sub" / u8"café.txt", "c");
  RunResult r = RunTool({"pack", "-q", "-o", t / "out.dat", (t.Path() / "game/").string()});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr((t.Path() / "game" / "sub" / u8"café.txt").string() +
                               ": the name cannot be represented in code page 932"));
  EXPECT_THAT(r.Err, Not(HasSubstr("pipe")));
  EXPECT_EQ(Names(t.Path()), (std::vector<std::string>{"game"}));
}

TEST(VrtoolHarden, InterruptedPackLeavesNoTemporaryFiles) {
  TempDir t;
  fs::create_directories(t.Path() / "game");
  // Enough incompressible data to take a moment.
  std::string noise(48 << 20, '\0');
  uint32_t x = 1;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  WriteFile(t / "game/a.bin", noise);
  WriteFile(t / "game/b.bin", noise);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const std::string out = t / "out.dat", dir = t / "game";
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    execl(VRTOOL_PATH, "vrtool", "pack", "-q", "--scramble", "-o", out.c_str(), dir.c_str(), nullptr);
    _exit(127);
  }
  // Wait until the temporary file appears, then interrupt.
  bool seen = false;
  for (int i = 0; i < 500 && !seen; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (const std::string& n : Names(t.Path())) seen = seen || n.rfind("~vrtool", 0) == 0;
  }
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(Names(t.Path()), (std::vector<std::string>{"game"}));
}

// Small entries are written ahead on worker threads: an interruption must still find every temporary
// file, whichever thread is writing one.
TEST(VrtoolHarden, InterruptedExtractLeavesNoTemporaryFiles) {
  TempDir t;
  std::vector<RawEntry> entries;
  for (int i = 0; i < 40000; ++i)
    entries.push_back(RawEntry{"f" + std::to_string(i % 4) + "\\" + std::to_string(i) + ".txt",
                               std::string(300 + i % 500, static_cast<char>('a' + i % 26)), i % 4});
  WriteFile(t / "game.dat", BuildArchive(102, entries));
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const std::string out = t / "out", archive = t / "game.dat";
    execl(VRTOOL_PATH, "vrtool", "extract", "-q", "-C", out.c_str(), archive.c_str(), nullptr);
    _exit(127);
  }
  // Interrupted once it is well under way.
  size_t files = 0;
  for (int i = 0; i < 1000 && files < 2000; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    files = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(t.Path() / "out", ec); !ec && it != fs::end(it);
         it.increment(ec))
      ++files;
  }
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was interrupted";
  size_t written = 0;
  for (const auto& e : fs::recursive_directory_iterator(t.Path() / "out")) {
    EXPECT_NE(e.path().filename().string().rfind("~vrtool", 0), 0u) << e.path();
    written += e.is_regular_file();
  }
  EXPECT_GT(written, 0u);
}

TEST(VrtoolHarden, ControlCharactersAreEscapedAndNulNamesRefused) {
  TempDir t;
  RawEntry esc{"evil\x1b[2J\rname.txt", "x", 1};
  WriteFile(t / "esc.dat", BuildArchive(102, {esc}));
  RunResult r = RunTool({"list", t / "esc.dat"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_THAT(r.Out, Not(HasSubstr("\x1b")));
  EXPECT_THAT(r.Out, HasSubstr("evil\\x1b[2J\\rname.txt"));
  r = RunTool({"extract", "-q", "-C", t / "out", t / "esc.dat"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, Not(HasSubstr("\x1b")));

  // A lead byte followed by NUL: written as "a\x81" it would collide with another entry.
  RawEntry nul{std::string("a\x81\0b.txt", 7), "one", 1}, other{"a\x81", "two", 1};
  WriteFile(t / "nul.dat", BuildArchive(102, {nul, other}));
  r = RunTool({"extract", "-q", "-C", t / "out2", t / "nul.dat"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("refused"));
}

TEST(VrtoolHarden, MessagesNameWhatWentWrong) {
  TempDir t;
  RunResult r = RunTool({"lsit", t / "game.dat"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("\"lsit\""));
  std::string sizes = "[0";
  for (int i = 0; i < (1 << 20); ++i) sizes += ",0";
  WriteFile(t / "s.json", "{\"BaseSizes\": " + sizes + "]}");
  r = RunTool({"settings", "build", t / "s.json", "-o", t / "install.dat"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("DiskCount"));
  WriteFile(t / "bad.dat", "vf\x66\0\0\0\x05\0\0\0");
  r = RunTool({"list", t / "bad.dat"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr("bad.dat: the archive directory is damaged"));
}

TEST(VrtoolHarden, ImageInfoReadsWhatConvertReads) {
  // A large picture of few compressed bytes: its frame fits the memory bound of one load, its frame
  // and its kept layer together do not.
  TempDir t;
  const vsktest::Bytes file =
      vsktest::Picture24(5000, 5000, 7, [](int, int, uint8_t* p) { p[0] = p[1] = p[2] = 0; });
  WriteFile(t / "big.vsk", std::string(file.begin(), file.end()));
  RunResult convert = RunTool({"image", "convert", "--seed", "7", t / "big.vsk", t / "big.pam"});
  ASSERT_EQ(convert.Status, 0) << convert.Err;
  RunResult info = RunTool({"image", "info", "--seed", "7", t / "big.vsk"});
  EXPECT_EQ(info.Status, 0) << info.Err;
  EXPECT_THAT(info.Out, HasSubstr("5000x5000"));
  EXPECT_THAT(info.Out, HasSubstr("layers not shown"));  // keeping them would pass the bound
}

TEST(VrtoolHarden, HostPathsTakeAnyCharacters) {
  TempDir t;
  const fs::path folder = t.Path() / u8"josé";
  fs::create_directories(folder / "src");
  // Code page 932 maps these one way only: the file is listed under other characters.
  WriteFile(folder / "src" / u8"a〜b−c¢d‖.txt", "content");
  RunResult r = RunTool({"pack", "-q", "-o", (folder / "g.dat").string(), (folder / "src").string()});
  ASSERT_EQ(r.Status, 0) << r.Err;
  r = RunTool({"extract", "-q", "-C", (folder / "out").string(), (folder / "g.dat").string()});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadFile(folder / "out" / u8"a～b－c￠d∥.txt"), "content");
  r = RunTool({"list", (folder / u8"é.dat").string()});
  EXPECT_EQ(r.Status, 2);
  EXPECT_THAT(r.Err, HasSubstr(u8"é.dat"));
}

}  // namespace
}  // namespace vrtest
