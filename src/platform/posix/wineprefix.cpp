#include "platform/posix/wineprefix.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/posix/wineregistry.h"

namespace vr {

namespace {

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return std::string();
  std::string out = real;
  std::free(real);
  return out;
}

// The lock files a server of the prefix would hold, by the places Wine builds make their folder in.
std::vector<std::string> ServerLocks(const std::string& prefix) {
  struct stat st;
  std::vector<std::string> locks;
  if (stat(prefix.c_str(), &st) != 0) return locks;
  char leaf[64];
  std::snprintf(leaf, sizeof leaf, "/server-%llx-%llx/lock", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  locks.push_back("/tmp/.wine-" + std::to_string(getuid()) + leaf);
  // Debian's Wine makes a folder of its own under the temporary folder and names it in the prefix.
  std::ifstream named(prefix + "/wineserver");
  std::string name;
  if (std::getline(named, name) && !name.empty() && name.find('/') == std::string::npos && name != "." &&
      name != "..") {
    locks.push_back("/tmp/" + name + leaf);
    const char* tmp = std::getenv("TMPDIR");
    if (tmp && *tmp == '/' && std::strcmp(tmp, "/tmp") != 0)
      locks.push_back(std::string(tmp) + "/" + name + leaf);
  }
  return locks;
}

// Holds the write lock of every server lock file that exists, so that no server starts while a
// registry file is replaced. Held() is false when a running server holds one.
class TServerLock {
 public:
  explicit TServerLock(const std::string& prefix) {
    for (const std::string& path : ServerLocks(prefix)) {
      const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
      if (fd < 0) continue;  // no such server folder: no server there
      struct flock fl;
      std::memset(&fl, 0, sizeof fl);
      fl.l_type = F_WRLCK;
      fl.l_whence = SEEK_SET;
      fds_.push_back(fd);
      if (fcntl(fd, F_SETLK, &fl) != 0) held_ = false;
    }
  }
  ~TServerLock() {
    for (int fd : fds_) close(fd);  // releases the locks
  }
  TServerLock(const TServerLock&) = delete;
  TServerLock& operator=(const TServerLock&) = delete;
  bool Held() const { return held_; }

 private:
  std::vector<int> fds_;
  bool held_ = true;
};

std::u16string Utf16Of(const std::string& data) {
  std::u16string s;
  for (size_t i = 0; i + 1 < data.size(); i += 2)
    s += static_cast<char16_t>(static_cast<uint8_t>(data[i]) | (static_cast<uint8_t>(data[i + 1]) << 8));
  return s;
}

std::string BytesOf(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

bool SameAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

bool WineServerRunning(const std::string& prefix) {
  const std::string real = RealPath(prefix);
  if (real.empty()) return false;
  TServerLock lock(real);
  return !lock.Held();
}

std::unique_ptr<TWinePrefixPlatform> TWinePrefixPlatform::Open(const std::string& prefix,
                                                               std::string& error) {
  const std::string real = RealPath(prefix);
  struct stat st;
  if (real.empty() || stat((real + "/system.reg").c_str(), &st) != 0 ||
      stat((real + "/user.reg").c_str(), &st) != 0) {
    error = prefix + ": not a Wine prefix (no system.reg and user.reg; make one with `wineboot -i`)";
    return nullptr;
  }
  TPosixConfig config;
  config.Root = real;
  config.FileRegistry = false;
  const std::string devices = real + "/dosdevices";
  if (DIR* d = opendir(devices.c_str())) {
    while (struct dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() != 2 || name[1] != ':' || !std::isalpha(static_cast<unsigned char>(name[0]))) continue;
      char target[PATH_MAX];
      const ssize_t n = readlink((devices + "/" + name).c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      std::string folder(target, static_cast<size_t>(n));
      if (folder[0] != '/') folder = devices + "/" + folder;
      const std::string resolved = RealPath(folder);
      config.Drives[static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])))] =
          resolved.empty() ? folder : resolved;
    }
    closedir(d);
  }
  if (!config.Drives.count('C')) {
    error = prefix + ": the prefix has no drive C: in dosdevices";
    return nullptr;
  }
  TWineRegistryFile user, system;
  if (!user.Load(real + "/user.reg") || !system.Load(real + "/system.reg")) {
    error = prefix + ": the registry files of the prefix cannot be read";
    return nullptr;
  }
  const std::string root = user.RootKey();
  const size_t cut = root.rfind('\\');
  const std::string sid = cut == std::string::npos ? root : root.substr(cut + 1);
  uint32_t kind = 0;
  std::string data;
  if (system.Read("Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid, "ProfileImagePath",
                  kind, data) &&
      (kind == 1 || kind == 2)) {
    std::u16string profile = Utf16Of(data);
    profile.resize(std::char_traits<char16_t>::length(profile.c_str()));
    if (!profile.empty()) config.UserProfile = Utf16ToCp932(profile);
  }
  bool win64 = false;
  std::ifstream head(real + "/system.reg");
  std::string line;
  for (int i = 0; i < 8 && std::getline(head, line); ++i) win64 = win64 || line.rfind("#arch=win64", 0) == 0;
  // The shipping setup program is a 32-bit one: in a 64-bit prefix its programs folder is the x86 one.
  if (win64) config.ProgramFiles = "C:\\Program Files (x86)";
  std::unique_ptr<TWinePrefixPlatform> p(new TWinePrefixPlatform(std::move(config), real));
  p->userSid_ = sid;
  return p;
}

TWinePrefixPlatform::TWinePrefixPlatform(TPosixConfig config, std::string prefix)
    : TPosixPlatform(std::move(config)), prefix_(std::move(prefix)) {}

char TWinePrefixPlatform::DriveOf(const std::string& hostPath) {
  char best = 0;
  size_t bestLength = 0;
  for (const auto& [letter, folder] : Config().Drives) {
    const bool inside = folder == "/" || hostPath == folder ||
                        (hostPath.size() > folder.size() && hostPath.compare(0, folder.size(), folder) == 0 &&
                         hostPath[folder.size()] == '/');
    const size_t length = folder == "/" ? 0 : folder.size();
    if (inside && (best == 0 || length > bestLength)) {
      best = letter;
      bestLength = length;
    }
  }
  return bestLength == 0 ? 0 : best;
}

std::string TWinePrefixPlatform::FileFor(TRegRoot root, const std::string& path, std::string& inside) {
  const std::string utf8 = Cp932ToUtf8(path);
  inside = utf8;
  switch (root) {
    case TRegRoot::HKLM:
      return prefix_ + "/system.reg";
    case TRegRoot::HKCU:
      return prefix_ + "/user.reg";
    case TRegRoot::HKU:
      break;
  }
  const size_t cut = utf8.find('\\');
  const std::string first = utf8.substr(0, cut);
  inside = cut == std::string::npos ? std::string() : utf8.substr(cut + 1);
  if (SameAscii(first, ".Default")) return prefix_ + "/userdef.reg";
  if (!userSid_.empty() && SameAscii(first, userSid_)) return prefix_ + "/user.reg";
  return std::string();
}

bool TWinePrefixPlatform::Load(const std::string& file, TWineRegistryFile& reg) {
  return !file.empty() && reg.Load(file);
}

template <class F>
bool TWinePrefixPlatform::Update(TRegRoot root, const std::string& path, F&& change) {
  serverRunning_ = false;
  std::string inside;
  const std::string file = FileFor(root, path, inside);
  TServerLock lock(prefix_);
  if (!lock.Held()) {
    serverRunning_ = true;
    return false;
  }
  TWineRegistryFile reg;
  if (!Load(file, reg) || !change(reg, inside)) return false;
  return reg.Save(file);
}

bool TWinePrefixPlatform::WineRegRead(TRegRoot root, const std::string& path, const std::string& name,
                                      uint32_t& kind, std::string& data) {
  std::string inside;
  TWineRegistryFile reg;
  return Load(FileFor(root, path, inside), reg) && reg.Read(inside, Cp932ToUtf8(name), kind, data);
}

bool TWinePrefixPlatform::WineRegWrite(TRegRoot root, const std::string& path, const std::string& name,
                                       uint32_t kind, const std::string& data) {
  return Update(root, path, [&](TWineRegistryFile& reg, const std::string& inside) {
    if (inside.empty()) return false;  // values directly below a root are not written
    reg.Write(inside, Cp932ToUtf8(name), kind, data);
    return true;
  });
}

bool TWinePrefixPlatform::RegKeyExists(TRegRoot root, const std::string& path) {
  std::string inside;
  TWineRegistryFile reg;
  return Load(FileFor(root, path, inside), reg) && reg.KeyExists(inside);
}

TRegRead TWinePrefixPlatform::RegReadString(TRegRoot root, const std::string& path, const std::string& name,
                                            std::string& value) {
  uint32_t kind = 0;
  std::string data;
  if (!WineRegRead(root, path, name, kind, data)) return TRegRead::Missing;
  if (kind != kRegSz && kind != kRegExpandSz) return TRegRead::NotString;
  std::u16string text = Utf16Of(data);
  text.resize(std::char_traits<char16_t>::length(text.c_str()));
  value = Utf16ToCp932(text);
  return TRegRead::Ok;
}

bool TWinePrefixPlatform::RegWriteString(TRegRoot root, const std::string& path, const std::string& name,
                                         const std::string& value) {
  return WineRegWrite(root, path, name, kRegSz, BytesOf(Cp932ToUtf16(value) + u'\0'));
}

bool TWinePrefixPlatform::RegWriteDword(TRegRoot root, const std::string& path, const std::string& name,
                                        uint32_t value) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return WineRegWrite(root, path, name, kRegDword, data);
}

std::optional<std::vector<std::string>> TWinePrefixPlatform::RegSubKeyNames(TRegRoot root,
                                                                            const std::string& path) {
  std::string inside;
  TWineRegistryFile reg;
  if (!Load(FileFor(root, path, inside), reg)) return std::nullopt;
  auto names = reg.SubKeys(inside);
  if (names)
    for (std::string& n : *names) n = Utf8ToCp932(n);
  return names;
}

bool TWinePrefixPlatform::RegKeyHasValues(TRegRoot root, const std::string& path) {
  std::string inside;
  TWineRegistryFile reg;
  return Load(FileFor(root, path, inside), reg) && reg.HasValues(inside);
}

bool TWinePrefixPlatform::RegDeleteKeyTree(TRegRoot root, const std::string& path) {
  return Update(root, path, [&](TWineRegistryFile& reg, const std::string& inside) {
    return !inside.empty() && reg.DeleteTree(inside);
  });
}

bool TWinePrefixPlatform::MoveFileDelayUntilReboot(const std::string& path) {
  if (path.empty() || HostPath(path).empty()) return false;
  // As Windows keeps them: pairs of "\??\<path>" and an empty target, the list ended by an extra NUL.
  const std::string key = "System\\CurrentControlSet\\Control\\Session Manager";
  uint32_t kind = 0;
  std::string data;
  std::u16string list;
  if (WineRegRead(TRegRoot::HKLM, key, "PendingFileRenameOperations", kind, data) && kind == kRegMultiSz) {
    list = Utf16Of(data);
    if (list.size() >= 2 && list[list.size() - 1] == 0 && list[list.size() - 2] == 0) list.pop_back();
  }
  list += u"\\??\\" + Cp932ToUtf16(path) + u'\0' + u'\0' + u'\0';
  return WineRegWrite(TRegRoot::HKLM, key, "PendingFileRenameOperations", kRegMultiSz, BytesOf(list));
}

}  // namespace vr
