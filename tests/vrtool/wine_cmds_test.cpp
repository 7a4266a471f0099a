// install, uninstall and start with a Wine prefix, on a prefix made by the test and a stand-in Wine that
// records how it was started. (The comparison with setup.exe under real Wine is tests/e2e/wineprefix.sh.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include <nlohmann/json.hpp>

#include "tooltest.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;

// Sets an environment variable for the length of a scope (the tool inherits the test's environment).
class EnvScope {
 public:
  EnvScope(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~EnvScope() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// desktop-file-validate accepts the entry (when it is installed).
void ExpectValidEntry(const fs::path& entry) {
  if (std::system("command -v desktop-file-validate >/dev/null") != 0) return;
  const std::string command = "desktop-file-validate '" + entry.string() + "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(entry);
}

// The command of an entry's Exec line as a launcher takes it: the string value unescaped, "%%" made "%",
// then split into arguments at spaces outside double quotes, a backslash in quotes taking the next
// character as it is.
std::vector<std::string> ExecArguments(const std::string& entry) {
  const size_t at = entry.find("\nExec=") + 6;
  const std::string value = entry.substr(at, entry.find('\n', at) - at);
  std::string plain;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char c = value[++i];
      plain += c == 't' ? '\t' : c == 's' ? ' ' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    } else if (value[i] == '%' && i + 1 < value.size() && value[i + 1] == '%') {
      plain += value[i++];
    } else {
      plain += value[i];
    }
  }
  std::vector<std::string> args;
  std::string arg;
  bool quoted = false, any = false;
  for (size_t i = 0; i < plain.size(); ++i) {
    const char c = plain[i];
    if (quoted && c == '\\' && i + 1 < plain.size()) {
      arg += plain[++i];
    } else if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any || !arg.empty()) args.push_back(arg);
      arg.clear();
      any = false;
    } else {
      arg += c;
    }
  }
  if (any || !arg.empty()) args.push_back(arg);
  return args;
}

// Runs the arguments as one command (no shell of the test's own between); returns its exit status.
int RunArguments(const std::vector<std::string>& args, const fs::path& cwd) {
  std::string command = "cd '" + cwd.string() + "' &&";
  for (const std::string& a : args) {
    command += " '";
    for (char c : a) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += "'";
  }
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A prefix with what the tool reads of one: its registry files and its drives.
void MakePrefix(const fs::path& pfx) {
  fs::create_directories(pfx / "drive_c/windows");
  fs::create_directories(pfx / "dosdevices");
  fs::create_symlink("../drive_c", pfx / "dosdevices/c:");
  fs::create_symlink("/", pfx / "dosdevices/z:");
  WriteFile(pfx / "user.reg",
            "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
            "#arch=win32\n");
  WriteFile(pfx / "system.reg",
            "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
            "#arch=win32\n");
}

void MakePackage(const TempDir& t) {
  nlohmann::json s = {{"Title", u8"星の丘"},
                      {"GameExe", "game.exe"},
                      {"DiskCount", 1},
                      {"RegistryKey", "vrtest\\Star"},
                      {"DefaultFolder", u8"<ProgramFiles>\\星の丘"},
                      {"PackageFiles", {"game.exe"}}};
  WriteFile(t.Path() / "s.json", s.dump());
  fs::create_directories(t.Path() / "cd");
  ASSERT_EQ(RunTool({"settings", "build", t / "s.json", "-o", t / "cd/install.dat"}).Status, 0);
  WriteFile(t.Path() / "pack/data", "data");
  ASSERT_EQ(RunTool({"pack", t / "pack", "-o", t / "cd/game.dat"}).Status, 0);
  WriteFile(t.Path() / "cd/game.exe", "MZ game");
}

TEST(VrtoolWinePrefix, InstallWritesShortcutsAndRegistryIntoThePrefixAndUninstallRemovesThem) {
  TempDir t;
  MakePackage(t);
  const fs::path pfx = t.Path() / "pfx";
  MakePrefix(pfx);
  // Outside the prefix's own drives (only Z:, the whole host, reaches it): refused, nothing written.
  RunResult outside =
      RunTool({"install", "-q", "--wine-prefix", pfx.string(), t / "cd", "-d", t / "elsewhere"});
  EXPECT_EQ(outside.Status, 2);
  EXPECT_THAT(outside.Err, HasSubstr("outside the drives of the prefix"));
  EXPECT_FALSE(fs::exists(t.Path() / "elsewhere"));
  // A drive of the prefix that maps a home folder: its root is refused as what it is.
  fs::create_directories(t.Path() / "home");
  fs::create_symlink(t.Path() / "home", pfx / "dosdevices/d:");
  for (const char* root : {"D:\\", "d:\\"}) {
    RunResult home = RunTool({"install", "-q", "--wine-prefix", pfx.string(), t / "cd", "-d", root});
    EXPECT_EQ(home.Status, 2);
    EXPECT_THAT(home.Err,
                HasSubstr(std::string(root) + ": a drive's root (in a Wine prefix often a home folder)"));
    EXPECT_TRUE(fs::is_empty(t.Path() / "home"));
  }
  fs::remove(pfx / "dosdevices/d:");

  RunResult in = RunTool({"install", "-q", "--no-fonts", "--wine-prefix", pfx.string(), t / "cd"});
  ASSERT_EQ(in.Status, 0) << in.Err;
  const fs::path game = pfx / u8"drive_c/Program Files/星の丘";
  EXPECT_EQ(ReadFile(game / "game.exe"), "MZ game");
  const fs::path menu = pfx / u8"drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/星の丘";
  EXPECT_TRUE(fs::is_regular_file(menu / u8"星の丘.lnk"));
  EXPECT_TRUE(fs::is_regular_file(menu / u8"星の丘のアンインストール.lnk"));
  const std::string user = ReadFile(pfx / "user.reg");
  EXPECT_THAT(user, HasSubstr("[Software\\\\vrtest\\\\Star] "));
  EXPECT_THAT(user, HasSubstr("\"InstallPath\"=\"C:\\\\Program Files\\\\\\x661f\\x306e\\x4e18\\\\\""));
  EXPECT_THAT(ReadFile(pfx / "system.reg"), ::testing::Not(HasSubstr("IPAPGothic")));

  RunResult out = RunTool({"uninstall", "-q", "--wine-prefix", pfx.string(), game.string()});
  ASSERT_EQ(out.Status, 0) << out.Err;
  EXPECT_FALSE(fs::exists(game));
  EXPECT_FALSE(fs::exists(menu));
  EXPECT_THAT(ReadFile(pfx / "user.reg"), ::testing::Not(HasSubstr("vrtest")));
}

TEST(VrtoolStart, StartsWineInTheGameFolderWithAJapaneseLocaleOrSaysWhatIsMissing) {
  TempDir t;
  MakePackage(t);
  const fs::path pfx = t.Path() / "pfx";
  MakePrefix(pfx);
  const fs::path game = pfx / "drive_c/Games/star";
  ASSERT_EQ(
      RunTool({"install", "-q", "--no-fonts", "--wine-prefix", pfx.string(), t / "cd", "-d", game.string()})
          .Status,
      0);
  // The stand-in Wine writes down its folder, its environment and its arguments.
  const fs::path bin = t.Path() / "bin";
  WriteFile(bin / "wine",
            "#!/bin/sh\n{ echo \"cwd=$(pwd)\"; env | grep -E '^(LANG|LC_ALL|HOST_LC_ALL|WINEPREFIX)=' | sort;"
            " for a in \"$@\"; do echo \"arg=$a\"; done; } > \"$RECORD\"\nexit 7\n");
  fs::permissions(bin / "wine", fs::perms::owner_all);
  EnvScope path("PATH", bin.string() + ":" + std::getenv("PATH"));
  EnvScope record("RECORD", t / "record");

  const bool japanese = [] {
    locale_t l = newlocale(LC_ALL_MASK, "ja_JP.UTF-8", static_cast<locale_t>(0));
    if (l) freelocale(l);
    return l != static_cast<locale_t>(0);
  }();
  RunResult r = RunTool({"start", "-q", "--wine-prefix", pfx.string(), game.string(), "--", "-x", "a b"});
  if (!japanese) {
    EXPECT_EQ(r.Status, 2);
    EXPECT_THAT(r.Err, HasSubstr("no Japanese locale"));
    return;
  }
  ASSERT_EQ(r.Status, 7) << r.Err;  // the tool became Wine
  EXPECT_EQ(ReadFile(t.Path() / "record"),
            "cwd=" + fs::canonical(game).string() +
                "\nHOST_LC_ALL=ja_JP.UTF-8\nLANG=ja_JP.UTF-8\nLC_ALL=ja_JP.UTF-8\n"
                "WINEPREFIX=" +
                fs::canonical(pfx).string() + "\narg=C:\\Games\\star\\game.exe\narg=-x\narg=a b\n");

  // The desktop entry does the same through env; quoting doubles each backslash twice.
  EnvScope data("XDG_DATA_HOME", t / "share");
  RunResult entry = RunTool({"start", "--desktop-entry", "--wine-prefix", pfx.string(), game.string()});
  ASSERT_EQ(entry.Status, 0) << entry.Err;
  fs::path desktop;
  for (const auto& e : fs::directory_iterator(t.Path() / "share/applications")) desktop = e.path();
  const std::string text = ReadFile(desktop);
  EXPECT_THAT(text, HasSubstr(u8"\nName=星の丘\n"));
  EXPECT_THAT(
      text, HasSubstr("\nExec=env \"WINEPREFIX=" + fs::canonical(pfx).string() +
                      "\" \"LANG=ja_JP.UTF-8\" \"LC_ALL=ja_JP.UTF-8\" \"HOST_LC_ALL=ja_JP.UTF-8\" /bin/sh -c "
                      "\"exec \\\\\"\\\\$0\\\\\" \\\\\"\\\\$@\\\\\"\" \"" +
                      (bin / "wine").string() + "\" \"C:\\\\\\\\Games\\\\\\\\star\\\\\\\\game.exe\"\n"));
  EXPECT_THAT(text, HasSubstr("\nPath=" + fs::canonical(game).string() + "\n"));
  ExpectValidEntry(desktop);
  // A line break would start a key of its own (another Exec=): refused, the entry left as it was.
  RunResult broken =
      RunTool({"start", "--desktop-entry", "--wine-prefix", pfx.string(), game.string(), "--", "x\nExec=sh"});
  EXPECT_EQ(broken.Status, 2);
  EXPECT_EQ(ReadFile(desktop), text);

  RunResult noWine = RunTool({"start", "--wine", (t.Path() / "none").string(), game.string()});
  EXPECT_EQ(noWine.Status, 2);
  EXPECT_THAT(noWine.Err, HasSubstr("install Wine"));
  fs::remove(game / "game.exe");
  RunResult noGame = RunTool({"start", game.string()});
  EXPECT_EQ(noGame.Status, 2);
  EXPECT_THAT(noGame.Err, HasSubstr("the game's program is missing"));
}

TEST(VrtoolStart, DesktopEntriesAreValidAndStartWineWhateverItsPathAndTheArgumentsHold) {
  const bool japanese = [] {
    locale_t l = newlocale(LC_ALL_MASK, "ja_JP.UTF-8", static_cast<locale_t>(0));
    if (l) freelocale(l);
    return l != static_cast<locale_t>(0);
  }();
  if (!japanese) GTEST_SKIP() << "no Japanese locale";
  TempDir t;
  MakePackage(t);
  const fs::path game = t.Path() / "game";
  ASSERT_EQ(RunTool({"install", "-q", t / "cd", "-d", game.string()}).Status, 0);
  // Wine in folders env would take for an assignment or an option.
  for (const std::string folder : {"w=1", "-u x", "100%$`\"a\\"}) {
    const fs::path bin = t.Path() / folder;
    WriteFile(bin / "wine",
              "#!/bin/sh\nfor a in \"$@\"; do echo \"arg=$a\"; done > \"" + t / "record" + "\"\nexit 7\n");
    fs::permissions(bin / "wine", fs::perms::owner_all);
    const fs::path share = t.Path() / ("share" + std::to_string(folder.size()));
    EnvScope data("XDG_DATA_HOME", share.string());
    RunResult r = RunTool({"start", "--desktop-entry", "--wine", (bin / "wine").string(), game.string(), "--",
                           "tab\there", "%f", "a \"b\" $HOME `x` \\y"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    fs::path desktop;
    for (const auto& e : fs::directory_iterator(share / "applications")) desktop = e.path();
    ExpectValidEntry(desktop);
    fs::remove(t.Path() / "record");
    EXPECT_EQ(RunArguments(ExecArguments(ReadFile(desktop)), game), 7) << folder;
    EXPECT_EQ(ReadFile(t.Path() / "record"),
              "arg=" + (game / "game.exe").string() + "\narg=tab\there\narg=%f\narg=a \"b\" $HOME `x` \\y\n")
        << folder;
  }
  // Control characters other than a tab have no escape: refused.
  RunResult bell = RunTool({"start", "--desktop-entry", game.string(), "--", "a\x07"});
  EXPECT_EQ(bell.Status, 2);
  EXPECT_THAT(bell.Err, HasSubstr("control character"));
}

}  // namespace
}  // namespace vrtest
