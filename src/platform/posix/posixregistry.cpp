// The file-backed registry of the POSIX platform layer, delete-at-restart records and INI editing.
//
// Each root is one text file <Root>/registry/<root>.reg: a header line, then "K <key path>" lines each
// followed by its "V <name> <kind> <hex data>" lines; paths and names are escaped (%XX for "%", blanks
// and control bytes). Readers take a shared lock on <Root>/registry/.lock, writers an exclusive one and
// replace the file through a temporary file and rename, so a reader never sees half a file.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/posix/posixplatform.h"

namespace vr {

namespace {

struct TRegValue {
  std::string Name;
  uint32_t Kind = kRegSz;
  std::string Data;
};

struct TRegKey {
  std::string Path;  // as first written
  std::vector<TRegValue> Values;
};

const char kHeader[] = "VRREG 1";

std::string Escape(const std::string& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (c <= 0x20 || c == 0x7F || c == '%') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out.empty() ? "%" : out;  // a lone "%" stands for the empty string
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(const std::string& s, std::string& out) {
  out.clear();
  if (s == "%") return true;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return false;
    const int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::string ToHex(const std::string& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out.empty() ? "-" : out;
}

bool FromHex(const std::string& s, std::string& out) {
  out.clear();
  if (s == "-") return true;
  if (s.size() % 2) return false;
  for (size_t i = 0; i < s.size(); i += 2) {
    const int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

// "\a\\b\" -> "a\b": no leading, trailing or doubled delimiters.
std::string NormalKeyPath(const std::string& path) {
  std::string out;
  for (const std::string& part : SplitPath(path)) {
    if (part.empty()) continue;
    if (!out.empty()) out += '\\';
    out += part;
  }
  return out;
}

std::string KeyFold(const std::string& s) { return FoldCaseCp932(s, true); }

bool SameName(const std::string& a, const std::string& b) { return KeyFold(a) == KeyFold(b); }

const char* RootFileName(TRegRoot root) {
  switch (root) {
    case TRegRoot::HKCU:
      return "HKCU.reg";
    case TRegRoot::HKLM:
      return "HKLM.reg";
    default:
      return "HKU.reg";
  }
}

class TFileLock {
 public:
  TFileLock(const std::string& path, int how) {
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0)
      while (flock(fd_, how) != 0 && errno == EINTR) {
      }
  }
  ~TFileLock() {
    if (fd_ >= 0) close(fd_);
  }
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;
  bool Ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace

struct TPosixPlatform::TRegStore {
  std::map<std::string, TRegKey> Keys;  // by folded path

  TRegKey* Find(const std::string& path) {
    auto it = Keys.find(KeyFold(path));
    return it == Keys.end() ? nullptr : &it->second;
  }
  TRegKey& Create(const std::string& path) {
    std::string prefix;
    TRegKey* key = nullptr;
    for (const std::string& part : SplitPath(path)) {
      prefix += (prefix.empty() ? "" : "\\") + part;
      auto& entry = Keys[KeyFold(prefix)];
      if (entry.Path.empty()) entry.Path = prefix;
      key = &entry;
    }
    return *key;
  }
  std::vector<std::string> Children(const std::string& path) {
    const std::string folded = KeyFold(path);
    const std::string prefix = folded.empty() ? std::string() : folded + "\\";
    std::vector<std::string> names;
    for (auto it = Keys.lower_bound(prefix); it != Keys.end(); ++it) {
      if (it->first.compare(0, prefix.size(), prefix) != 0) break;
      const std::string rest = it->first.substr(prefix.size());
      if (rest.empty() || LastDelimiter("\\", rest) != std::string::npos) continue;
      names.push_back(ExtractFileName(it->second.Path));
    }
    return names;
  }
};

bool TPosixPlatform::RegLoad(TRegRoot root, TRegStore& store) {
  std::ifstream in(config_.Root + "/registry/" + RootFileName(root), std::ios::binary);
  if (!in) return true;  // an empty registry
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return false;
  TRegKey* key = nullptr;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string tag, a, b, c;
    fields >> tag >> a;
    std::string text;
    if (tag == "K") {
      key = nullptr;
      if (!Unescape(a, text)) continue;  // a damaged line is dropped, not the whole key set
      text = NormalKeyPath(text);
      if (text.empty()) continue;
      key = &store.Create(text);
    } else if (tag == "V" && key) {
      fields >> b >> c;
      TRegValue v;
      unsigned long kind = 0;
      try {
        kind = std::stoul(b);
      } catch (...) {
        continue;
      }
      if (!Unescape(a, v.Name) || !FromHex(c, v.Data)) continue;
      v.Kind = static_cast<uint32_t>(kind);
      key->Values.push_back(std::move(v));
    }
  }
  return true;
}

template <class F>
bool TPosixPlatform::RegUpdate(TRegRoot root, F&& change) {
  const std::string folder = config_.Root + "/registry";
  mkdir(config_.Root.c_str(), 0777);
  mkdir(folder.c_str(), 0777);
  TFileLock lock(folder + "/.lock", LOCK_EX);
  if (!lock.Ok()) return false;
  TRegStore store;
  if (!RegLoad(root, store)) return false;
  if (!change(store)) return false;
  std::ostringstream out;
  out << kHeader << '\n';
  for (const auto& entry : store.Keys) {
    out << "K " << Escape(entry.second.Path) << '\n';
    for (const TRegValue& v : entry.second.Values)
      out << "V " << Escape(v.Name) << ' ' << v.Kind << ' ' << ToHex(v.Data) << '\n';
  }
  const std::string target = folder + "/" + RootFileName(root);
  const std::string temp = target + ".tmp" + std::to_string(getpid());
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    file << out.str();
    file.flush();
    if (!file) {
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), target.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

#define VR_REG_READ(rootValue, storeName)                                     \
  TRegStore storeName;                                                        \
  {                                                                           \
    mkdir((config_.Root + "/registry").c_str(), 0777);                        \
    TFileLock lock(config_.Root + "/registry/.lock", LOCK_SH);                \
    if (!lock.Ok() || !RegLoad(rootValue, storeName)) storeName.Keys.clear(); \
  }

bool TPosixPlatform::RegKeyExists(TRegRoot root, const std::string& path) {
  const std::string key = NormalKeyPath(path);
  if (key.empty()) return true;
  VR_REG_READ(root, store);
  return store.Find(key) != nullptr;
}

bool TPosixPlatform::RegReadRaw(TRegRoot root, const std::string& path, const std::string& name,
                                uint32_t& kind, std::string& data) {
  VR_REG_READ(root, store);
  TRegKey* key = store.Find(NormalKeyPath(path));
  if (!key) return false;
  for (const TRegValue& v : key->Values) {
    if (SameName(v.Name, name)) {
      kind = v.Kind;
      data = v.Data;
      return true;
    }
  }
  return false;
}

TRegRead TPosixPlatform::RegReadString(TRegRoot root, const std::string& path, const std::string& name,
                                       std::string& value) {
  uint32_t kind = 0;
  std::string data;
  if (!RegReadRaw(root, path, name, kind, data)) return TRegRead::Missing;
  if (kind != kRegSz && kind != kRegExpandSz) return TRegRead::NotString;
  // Stored strings may carry their terminating NUL; the text ends at the first one.
  const size_t nul = data.find('\0');
  value = nul == std::string::npos ? data : data.substr(0, nul);
  return TRegRead::Ok;
}

bool TPosixPlatform::RegWriteRaw(TRegRoot root, const std::string& path, const std::string& name,
                                 uint32_t kind, const std::string& data) {
  const std::string keyPath = NormalKeyPath(path);
  if (keyPath.empty()) return false;  // values directly below a root are not written
  return RegUpdate(root, [&](TRegStore& store) {
    TRegKey& key = store.Create(keyPath);
    for (TRegValue& v : key.Values) {
      if (SameName(v.Name, name)) {
        v.Kind = kind;
        v.Data = data;
        return true;
      }
    }
    key.Values.push_back(TRegValue{name, kind, data});
    return true;
  });
}

bool TPosixPlatform::RegWriteString(TRegRoot root, const std::string& path, const std::string& name,
                                    const std::string& value) {
  return RegWriteRaw(root, path, name, kRegSz, value);
}

bool TPosixPlatform::RegWriteDword(TRegRoot root, const std::string& path, const std::string& name,
                                   uint32_t value) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return RegWriteRaw(root, path, name, kRegDword, data);
}

std::optional<std::vector<std::string>> TPosixPlatform::RegSubKeyNames(TRegRoot root,
                                                                       const std::string& path) {
  const std::string keyPath = NormalKeyPath(path);
  VR_REG_READ(root, store);
  if (!keyPath.empty() && !store.Find(keyPath)) return std::nullopt;
  return store.Children(keyPath);
}

bool TPosixPlatform::RegKeyHasValues(TRegRoot root, const std::string& path) {
  VR_REG_READ(root, store);
  TRegKey* key = store.Find(NormalKeyPath(path));
  return key && !key->Values.empty();
}

bool TPosixPlatform::RegDeleteKeyTree(TRegRoot root, const std::string& path) {
  const std::string keyPath = NormalKeyPath(path);
  if (keyPath.empty()) return false;
  return RegUpdate(root, [&](TRegStore& store) {
    const std::string folded = KeyFold(keyPath);
    auto it = store.Keys.find(folded);
    if (it == store.Keys.end()) return false;
    it = store.Keys.erase(it);
    const std::string prefix = folded + "\\";
    while (it != store.Keys.end() && it->first.compare(0, prefix.size(), prefix) == 0)
      it = store.Keys.erase(it);
    return true;
  });
}

// A fresh store gets the profile list and one user's shell folders, as a Windows installation has them.
void TPosixPlatform::SeedRegistry() {
  struct stat st;
  if (stat((config_.Root + "/registry/HKLM.reg").c_str(), &st) == 0) return;
  const std::string sid = "S-1-5-21-1000";
  RegUpdate(TRegRoot::HKLM, [&](TRegStore& store) {
    if (!store.Keys.empty()) return false;  // another process seeded it meanwhile
    TRegKey& profile = store.Create("Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid);
    profile.Values.push_back(TRegValue{"ProfileImagePath", kRegExpandSz, "%SystemDrive%\\users\\user"});
    store.Create("SYSTEM\\CurrentControlSet\\Control\\Session Manager");
    return true;
  });
  RegWriteRaw(TRegRoot::HKU,
              sid + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
              "Local AppData", kRegExpandSz, "%USERPROFILE%\\AppData\\Local");
  RegWriteRaw(TRegRoot::HKU,
              ".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
              "Local AppData", kRegExpandSz, "%USERPROFILE%\\AppData\\Local");
}

// --- delete at restart ------------------------------------------------------------------------------

bool TPosixPlatform::MoveFileDelayUntilReboot(const std::string& path) {
  // Recorded like Windows' PendingFileRenameOperations: pairs of "\??\<path>" and an empty target.
  if (path.empty() || HostPath(path).empty()) return false;
  const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  return RegUpdate(TRegRoot::HKLM, [&](TRegStore& store) {
    TRegKey& k = store.Create(key);
    std::string entry = "\\??\\" + path + std::string(1, '\0') + std::string(1, '\0');
    for (TRegValue& v : k.Values) {
      if (SameName(v.Name, "PendingFileRenameOperations")) {
        if (v.Kind != kRegMultiSz) v.Data.clear();
        // The list ends with an extra NUL; new pairs go before it.
        if (!v.Data.empty() && v.Data.back() == '\0' && v.Data.size() >= 2 &&
            v.Data[v.Data.size() - 2] == '\0')
          v.Data.pop_back();
        v.Kind = kRegMultiSz;
        v.Data += entry + std::string(1, '\0');
        return true;
      }
    }
    k.Values.push_back(TRegValue{"PendingFileRenameOperations", kRegMultiSz, entry + std::string(1, '\0')});
    return true;
  });
}

// --- INI files --------------------------------------------------------------------------------------

namespace {

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  return s.substr(a, b - a);
}

}  // namespace

bool TPosixPlatform::WritePrivateProfileString(const std::string& section, const std::string& key,
                                               const std::string& value, const std::string& file) {
  if (section.empty() || key.empty()) return false;
  // A bare file name lies in the Windows folder, as with the system function.
  std::string name = file;
  if (ExtractFilePath(name).empty()) name = IncludeTrailingBackslash(GetWindowsDirectory()) + name;
  const std::string host = HostPath(name);
  if (host.empty()) return false;
  std::vector<std::string> lines;
  {
    std::ifstream in(host, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
  }
  const std::string entry = key + "=" + value;
  size_t sectionLine = std::string::npos;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string t = Trim(lines[i]);
    if (t.size() >= 2 && t.front() == '[') {
      const size_t close = t.find(']');
      if (close != std::string::npos && SameName(Trim(t.substr(1, close - 1)), section)) {
        sectionLine = i;
        break;
      }
    }
  }
  if (sectionLine == std::string::npos) {
    lines.push_back("[" + section + "]");
    lines.push_back(entry);
  } else {
    size_t end = sectionLine + 1;
    size_t lastEntry = sectionLine;
    bool replaced = false;
    for (; end < lines.size(); ++end) {
      const std::string t = Trim(lines[end]);
      if (!t.empty() && t.front() == '[') break;
      if (t.empty() || t.front() == ';') continue;
      lastEntry = end;
      const size_t eq = t.find('=');
      if (eq != std::string::npos && SameName(Trim(t.substr(0, eq)), key)) {
        lines[end] = Trim(t.substr(0, eq)) + "=" + value;  // the key keeps its spelling
        replaced = true;
        break;
      }
    }
    if (!replaced) lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastEntry + 1), entry);
  }
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  const std::string temp = host + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), host.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace vr
