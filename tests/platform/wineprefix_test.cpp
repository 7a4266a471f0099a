// The registry files of a Wine prefix (read, changed and written in Wine's text form) and the platform
// over a prefix: its drives, special folders and registry roots, and the refusal while a server runs.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/posix/wineprefix.h"
#include "platform/posix/wineregistry.h"

namespace vr {
namespace {

namespace fs = std::filesystem;

// As Wine 8 writes user.reg: a hex value continued over lines, a multi-string, escapes of every kind.
const char kUserReg[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Control Panel\\\\Desktop] 1796707398\n"
    "#time=1dd86d43b7a925a\n"
    "\"ActiveWndTrkTimeout\"=dword:00000000\n"
    "\"UserPreferencesMask\"=hex:10,00,02,80,10,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,\\\n"
    "  00,00,00,00,00,00,00,00\n"
    "@=\"default\"\n"
    "\n"
    "[Software\\\\Wine\\\\Fonts\\\\Replacements] 1796707400\n"
    "#time=1dd86d43b7a9300\n"
    "\"\\x30d2\\x30e9\\x30ae\\x30ce\"=\"Q\\\"uo\\\\te\\n\"\n"
    "\"Multi\"=str(7):\"a\\0b\\0\"\n"
    "\"Path\"=str(2):\"%SystemRoot%\\\\x\"\n";

std::string Utf16(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return out + std::string(2, '\0');
}

TEST(WineRegistryFile, KeepsWhatItDoesNotChangeAndReadsEveryDataForm) {
  TWineRegistryFile reg;
  ASSERT_TRUE(reg.Parse(kUserReg));
  EXPECT_EQ(reg.Text(), kUserReg);
  EXPECT_EQ(reg.RootKey(), "REGISTRY\\User\\S-1-5-21-0-0-0-1000");

  uint32_t kind = 0;
  std::string data;
  ASSERT_TRUE(reg.Read("control panel\\DESKTOP", "UserPreferencesMask", kind, data));
  EXPECT_EQ(kind, 3u);
  EXPECT_EQ(data.size(), 31u);
  EXPECT_EQ(static_cast<uint8_t>(data[3]), 0x80);
  ASSERT_TRUE(reg.Read("Control Panel\\Desktop", "", kind, data));
  EXPECT_EQ(data, Utf16(u"default"));
  ASSERT_TRUE(reg.Read("Software\\Wine\\Fonts\\Replacements", u8"ヒラギノ", kind, data));
  EXPECT_EQ(kind, 1u);
  EXPECT_EQ(data, Utf16(u"Q\"uo\\te\n"));
  ASSERT_TRUE(reg.Read("Software\\Wine\\Fonts\\Replacements", "Multi", kind, data));
  EXPECT_EQ(kind, 7u);
  EXPECT_EQ(data, Utf16(std::u16string(u"a\0b\0", 4)));
  ASSERT_TRUE(reg.Read("Software\\Wine\\Fonts\\Replacements", "Path", kind, data));
  EXPECT_EQ(kind, 2u);
  EXPECT_FALSE(reg.Read("Software\\Wine", "Multi", kind, data));

  // Written values take Wine's own spelling: non-ASCII as \x escapes (four digits before a hex digit).
  reg.Write("Software\\vrsetup\\Demo", "InstallPath", 1, Utf16(u"C:\\\u00e91\\\u00e9\\星\\"));
  reg.Write("Software\\vrsetup\\Demo", "Count", 4, std::string("\x07\0\0\0", 4));
  reg.Write("Software\\Wine\\Fonts\\Replacements", "multi", 7, Utf16(std::u16string(u"x\0", 2)));
  const std::string text = reg.Text();
  EXPECT_NE(text.find("\"InstallPath\"=\"C:\\\\\\x00e91\\\\\\xe9\\\\\\x661f\\\\\"\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\"Count\"=dword:00000007\n"), std::string::npos);
  EXPECT_NE(text.find("\"Multi\"=str(7):\"x\\0\"\n"), std::string::npos);
  EXPECT_NE(text.find("\n[Software\\\\vrsetup\\\\Demo] "), std::string::npos);

  TWineRegistryFile again;
  ASSERT_TRUE(again.Parse(text));
  EXPECT_EQ(again.Text(), text);
  ASSERT_TRUE(again.Read("Software\\vrsetup\\Demo", "installpath", kind, data));
  EXPECT_EQ(data, Utf16(u"C:\\\u00e91\\\u00e9\\星\\"));
  EXPECT_FALSE(again.Parse("REGEDIT4\n[x]\n"));
}

TEST(WineRegistryFile, KeysBelowKeysAndDeletion) {
  TWineRegistryFile reg;
  ASSERT_TRUE(reg.Parse(kUserReg));
  // "Software" and "Software\Wine" have no block of their own: their subkeys make them.
  EXPECT_TRUE(reg.KeyExists("SOFTWARE\\wine"));
  EXPECT_EQ(reg.SubKeys("Software").value(), std::vector<std::string>{"Wine"});
  EXPECT_FALSE(reg.SubKeys("Software\\Win").has_value());
  EXPECT_FALSE(reg.HasValues("Software\\Wine"));
  reg.Write("Software\\vrsetup\\Demo\\Sub", "v", 1, Utf16(u"1"));
  EXPECT_EQ(reg.SubKeys("Software").value(), (std::vector<std::string>{"Wine", "vrsetup"}));
  EXPECT_TRUE(reg.DeleteTree("software\\VRSETUP\\demo"));
  EXPECT_FALSE(reg.KeyExists("Software\\vrsetup\\Demo\\Sub"));
  // The emptied parent stays, as a key of its own, until it is deleted itself.
  EXPECT_TRUE(reg.KeyExists("Software\\vrsetup"));
  EXPECT_TRUE(reg.SubKeys("Software\\vrsetup").value().empty());
  EXPECT_TRUE(reg.DeleteTree("Software\\vrsetup"));
  EXPECT_FALSE(reg.KeyExists("Software\\vrsetup"));
  EXPECT_FALSE(reg.DeleteTree("Software\\vrsetup"));
  EXPECT_EQ(reg.Text(), kUserReg);
}

// A prefix as wineboot leaves it, reduced to what the platform reads.
class FakePrefix {
 public:
  FakePrefix() {
    char name[] = "/tmp/vr-wineprefix-XXXXXX";
    path_ = mkdtemp(name);
    fs::create_directories(path_ / "drive_c/windows");
    fs::create_directories(path_ / "dosdevices");
    fs::create_symlink("../drive_c", path_ / "dosdevices/c:");
    fs::create_symlink("/", path_ / "dosdevices/z:");
    std::ofstream(path_ / "user.reg") << kUserReg;
    std::ofstream(path_ / "system.reg")
        << "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n"
           "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\ProfileList\\\\S-1-5-21-0-0-0-1000] 1\n"
           "\"ProfileImagePath\"=\"C:\\\\users\\\\player\"\n";
  }
  ~FakePrefix() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& Path() const { return path_; }
  std::string Read(const char* file) const {
    std::ostringstream s;
    s << std::ifstream(path_ / file).rdbuf();
    return s.str();
  }

 private:
  fs::path path_;
};

TEST(WinePrefixPlatform, DrivesFoldersAndRegistryRootsOfThePrefix) {
  FakePrefix pfx;
  std::string error;
  auto p = TWinePrefixPlatform::Open(pfx.Path().string(), error);
  ASSERT_TRUE(p) << error;
  EXPECT_EQ(p->HostPath("C:\\windows"), (pfx.Path() / "drive_c/windows").string());
  EXPECT_EQ(p->DriveOf((pfx.Path() / "drive_c/Games").string()), 'C');
  EXPECT_EQ(p->DriveOf("/srv/games"), 0);  // only Z:, the whole host, holds it
  // The 32-bit setup program's folders in a 64-bit prefix, and the prefix's own user.
  EXPECT_EQ(p->GetSpecialFolder(0x26).value(), "C:\\Program Files (x86)");
  EXPECT_EQ(p->GetSpecialFolder(0x1C).value(), "C:\\users\\player\\AppData\\Local");
  EXPECT_EQ(p->GetSpecialFolder(0x17).value(), "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");

  ASSERT_TRUE(p->RegWriteString(TRegRoot::HKCU, "Software\\vrsetup\\表", "InstallPath", "C:\\ゲーム\\"));
  std::string value;
  ASSERT_EQ(
      p->RegReadString(TRegRoot::HKU, "S-1-5-21-0-0-0-1000\\Software\\vrsetup\\表", "InstallPath", value),
      TRegRead::Ok);
  EXPECT_EQ(value, "C:\\ゲーム\\");
  EXPECT_NE(pfx.Read("user.reg").find("[Software\\\\vrsetup\\\\\\x8868] "), std::string::npos);
  EXPECT_EQ(p->RegSubKeyNames(TRegRoot::HKLM, "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList")
                .value(),
            std::vector<std::string>{"S-1-5-21-0-0-0-1000"});
  EXPECT_FALSE(p->RegWriteString(TRegRoot::HKU, "S-1-5-18\\Software", "x", "y"));  // no file holds it
  ASSERT_TRUE(p->MoveFileDelayUntilReboot("C:\\windows\\a"));
  ASSERT_TRUE(p->MoveFileDelayUntilReboot("C:\\windows\\b"));
  EXPECT_NE(pfx.Read("system.reg")
                .find("\"PendingFileRenameOperations\"=str(7):"
                      "\"\\\\??\\\\C:\\\\windows\\\\a\\0\\0\\\\??\\\\C:\\\\windows\\\\b\\0\\0\""),
            std::string::npos);
  EXPECT_TRUE(p->RegDeleteKeyTree(TRegRoot::HKCU, "Software\\vrsetup\\表"));
  EXPECT_EQ(p->RegReadString(TRegRoot::HKCU, "Software\\vrsetup\\表", "InstallPath", value),
            TRegRead::Missing);

  fs::remove(pfx.Path() / "user.reg");
  EXPECT_FALSE(TWinePrefixPlatform::Open(pfx.Path().string(), error));
  EXPECT_NE(error.find("not a Wine prefix"), std::string::npos);
}

TEST(WinePrefixPlatform, RefusesToWriteWhileAServerRunsForThePrefix) {
  FakePrefix pfx;
  std::string error;
  auto p = TWinePrefixPlatform::Open(pfx.Path().string(), error);
  ASSERT_TRUE(p) << error;
  // The server folder as Debian's Wine makes it: named in the prefix, keyed by the prefix's identity.
  char tmp[] = "/tmp/wine-vrtestXXXXXX";
  const fs::path serverRoot = mkdtemp(tmp);
  std::ofstream(pfx.Path() / "wineserver") << serverRoot.filename().string();
  struct stat st;
  ASSERT_EQ(stat(pfx.Path().c_str(), &st), 0);
  char leaf[64];
  std::snprintf(leaf, sizeof leaf, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  fs::create_directories(serverRoot / leaf);
  const std::string lock = (serverRoot / leaf / "lock").string();
  std::ofstream(lock).close();

  // A server is another process holding the lock.
  int ready[2], finish[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(finish), 0);
  const pid_t server = fork();
  if (server == 0) {
    close(finish[1]);  // so that the parent's close ends the read below
    const int fd = open(lock.c_str(), O_RDWR);
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    char c = fcntl(fd, F_SETLK, &fl) == 0 ? 'y' : 'n';
    if (write(ready[1], &c, 1) != 1 || read(finish[0], &c, 1) < 0) _exit(1);
    _exit(0);
  }
  close(finish[0]);
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  const std::string before = pfx.Read("user.reg");
  EXPECT_TRUE(WineServerRunning(pfx.Path().string()));
  EXPECT_FALSE(p->RegWriteString(TRegRoot::HKCU, "Software\\vrsetup", "InstallPath", "C:\\x\\"));
  EXPECT_TRUE(p->ServerWasRunning());
  EXPECT_EQ(pfx.Read("user.reg"), before);

  close(finish[1]);
  close(ready[0]);
  int status = 0;
  waitpid(server, &status, 0);
  EXPECT_FALSE(WineServerRunning(pfx.Path().string()));
  EXPECT_TRUE(p->RegWriteString(TRegRoot::HKCU, "Software\\vrsetup", "InstallPath", "C:\\x\\"));
  EXPECT_FALSE(p->ServerWasRunning());
  fs::remove_all(serverRoot);
}

}  // namespace
}  // namespace vr
#endif
