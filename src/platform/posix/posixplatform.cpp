// Paths, files, folders, system identity and named mutexes of the POSIX platform layer.
#include "platform/posix/posixplatform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/posix/posixutil.h"

namespace vr {

struct TPosixPlatform::TOpenFile {
  int Fd = -1;
  int LockFd = -1;  // descriptor carrying the sharing marks (Fd itself when it is readable)
};

namespace {

// Marker bytes of the sharing emulation, far beyond any real file content.
constexpr off_t kMarkBase = static_cast<off_t>(0x7FFFFFFF00000000LL);
enum : unsigned { kAccessRead = 1, kAccessWrite = 2 };
constexpr off_t kMarkRead = kMarkBase, kMarkWrite = kMarkBase + 1, kMarkDenyRead = kMarkBase + 2,
                kMarkDenyWrite = kMarkBase + 3;

#ifdef F_OFD_GETLK
// A lock request of `type` over `len` marker bytes from `start`.
struct flock MarkRange(short type, off_t start, off_t len) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  return fl;
}

bool MarkHeldByOthers(int fd, off_t mark) {
  struct flock fl = MarkRange(F_WRLCK, mark, 1);
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

// False only when another handle's lock is in the way (without such locks the marks are not enforced).
bool SetMark(int fd, off_t mark) {
  struct flock fl = MarkRange(F_RDLCK, mark, 1);
  return fcntl(fd, F_OFD_SETLK, &fl) == 0 || (errno != EAGAIN && errno != EACCES);
}

void ClearMarks(int fd) {
  struct flock fl = MarkRange(F_UNLCK, kMarkBase, 4);
  fcntl(fd, F_OFD_SETLK, &fl);
}
#endif

// Checks the sharing marks of the other handles on the file and, when compatible, sets this handle's.
// `writable`: lockFd is open for writing.
bool ClaimSharing(int lockFd, bool writable, unsigned access, unsigned deny) {
#ifdef F_OFD_GETLK
  if (deny == (kAccessRead | kAccessWrite) && writable) {
    // A handle that shares nothing conflicts with every other handle, whatever their marks. It takes
    // all four marks as one write lock, which the kernel grants only while no other handle holds any
    // mark and which makes every later check or claim of a mark fail: one call, no gate.
    struct flock fl = MarkRange(F_WRLCK, kMarkBase, 4);
    if (fcntl(lockFd, F_OFD_SETLK, &fl) == 0) return true;
    return errno != EAGAIN && errno != EACCES;  // no such locks on this file system: not enforced
  }
  while (flock(lockFd, LOCK_EX) != 0)
    if (errno != EINTR) return true;  // no gate on this file system: sharing is not enforced
  bool ok = true;
  if ((access & kAccessRead) && MarkHeldByOthers(lockFd, kMarkDenyRead)) ok = false;
  if ((access & kAccessWrite) && MarkHeldByOthers(lockFd, kMarkDenyWrite)) ok = false;
  if ((deny & kAccessRead) && MarkHeldByOthers(lockFd, kMarkRead)) ok = false;
  if ((deny & kAccessWrite) && MarkHeldByOthers(lockFd, kMarkWrite)) ok = false;
  if (ok) {
    // A claim fails only when a handle that shares nothing took its lock after the checks above.
    if ((access & kAccessRead) && !SetMark(lockFd, kMarkRead)) ok = false;
    if (ok && (access & kAccessWrite) && !SetMark(lockFd, kMarkWrite)) ok = false;
    if (ok && (deny & kAccessRead) && !SetMark(lockFd, kMarkDenyRead)) ok = false;
    if (ok && (deny & kAccessWrite) && !SetMark(lockFd, kMarkDenyWrite)) ok = false;
    if (!ok) ClearMarks(lockFd);
  }
  flock(lockFd, LOCK_UN);
  return ok;
#else
  return true;
#endif
}

bool ShareBits(uint16_t mode, unsigned& deny) {
  switch (mode & 0xF0) {
    case fmShareCompat:
    case fmShareExclusive:
      deny = kAccessRead | kAccessWrite;
      return true;
    case fmShareDenyWrite:
      deny = kAccessWrite;
      return true;
    case fmShareDenyRead:
      deny = kAccessRead;
      return true;
    case fmShareDenyNone:
      deny = 0;
      return true;
    default:
      return false;
  }
}

bool IsReadOnlyMode(mode_t m) { return (m & S_IWUSR) == 0; }

uint32_t AttributesOf(const struct stat& st) {
  uint32_t attr = S_ISDIR(st.st_mode) ? faDirectory : faArchive;
  if (IsReadOnlyMode(st.st_mode)) attr |= faReadOnly;
  return attr;
}

// A link's own attributes: a folder link is a folder, and neither is read-only (that is the target's).
uint32_t LinkAttributes(const struct stat& target) {
  return (S_ISDIR(target.st_mode) ? faDirectory : faArchive) | faReparsePoint;
}

char AsciiFold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The form under which a name is matched: the key under which Windows tells names apart (NameClashKey)
// of its code page 932 form (a few characters, such as WAVE DASH or MINUS SIGN, map to code page 932 and
// come back as another character, so a name listed from disk is looked up under that other one). A name
// the code page cannot hold keeps its own characters, with ASCII letters folded.
std::string NameKey(const std::string& utf8) {
  const std::string cp = Utf8ToCp932(utf8);
  if (std::count(cp.begin(), cp.end(), '?') == std::count(utf8.begin(), utf8.end(), '?'))
    return Utf16ToUtf8(NameClashKey(cp));
  std::string key = utf8;
  for (char& c : key) c = AsciiFold(c);
  return key;
}

uint64_t KeyHash(const std::string& key) {
  uint64_t h = 14695981039346656037ull;
  for (char c : key) h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  return h;
}

// Folder and last name of a host path ("." for a bare name, "/" for the root).
std::pair<std::string, std::string> SplitHost(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  if (slash == 0) return {"/", path.substr(1)};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

// Listings of folders for name matching: the match keys (hashed) of every name a folder holds, so that
// finding a name that is not there as written costs one hash lookup instead of a listing of the folder,
// and creating many files in one folder stays linear. Only the absence of a key is taken on trust; a key
// that is found is checked on disk, unless a kept listing saw that very spelling last.
//
// Normally one listing is kept (the folder looked in last) and taken as current while the folder's
// identity and modification time are unchanged: one stat per lookup. While a TFolderListingScope is held,
// every folder's listing is kept and trusted without that stat; this process's own creations, renames
// and removals update them (see NoteCreated, NoteRemoved, NoteFolderGone), changes by other processes
// are not seen. Listings belong to a folder's identity, so every spelling of its path shares one.
struct TFolderListing {
  struct timespec Mtime {};
  // Hash of each match key -> hash of the exact name last seen with it (0: not known).
  std::unordered_map<uint64_t, uint64_t> Keys;
};

using TFolderId = std::pair<dev_t, ino_t>;

struct TFolderListings {
  std::mutex Lock;
  int Held = 0;
  std::map<std::string, TFolderId> ByPath;  // ordered: the paths below a folder follow it
  std::map<TFolderId, TFolderListing> ById;
};

TFolderListings& FolderListings() {
  static TFolderListings listings;
  return listings;
}

bool SameMtime(const TFolderListing& f, const struct stat& st) {
  return f.Mtime.tv_sec == st.st_mtim.tv_sec && f.Mtime.tv_nsec == st.st_mtim.tv_nsec;
}

// The listing of `dir` (taken now when there is no usable one); nullptr when it is not a readable
// folder. Called with the lock held.
TFolderListing* ListingOf(TFolderListings& all, const std::string& dir) {
  if (all.Held) {
    auto path = all.ByPath.find(dir);
    if (path != all.ByPath.end()) {
      auto it = all.ById.find(path->second);
      if (it != all.ById.end()) return &it->second;
    }
  }
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  const TFolderId id{st.st_dev, st.st_ino};
  auto it = all.ById.find(id);
  if (all.Held) {
    all.ByPath[dir] = id;
    if (it != all.ById.end()) return &it->second;  // listed under another spelling
  } else {
    if (it != all.ById.end() && all.ByPath.count(dir) && SameMtime(it->second, st)) return &it->second;
    all.ByPath.clear();
    all.ById.clear();
  }
  DIR* d = opendir(dir.c_str());
  if (!d) return nullptr;
  TFolderListing& listing = all.ById[id];
  all.ByPath[dir] = id;
  while (struct dirent* e = readdir(d)) listing.Keys[KeyHash(NameKey(e->d_name))] = KeyHash(e->d_name);
  closedir(d);
  listing.Mtime = st.st_mtim;
  return &listing;
}

// The kept listing of the folder `dir`, looked up without listing it; nullptr when there is none. With
// `findAlias`, a folder not known under this spelling is looked for by its identity (one stat). Called
// with the lock held.
TFolderListing* KeptListing(TFolderListings& all, const std::string& dir, bool findAlias) {
  if (all.ById.empty()) return nullptr;
  TFolderId id;
  auto path = all.ByPath.find(dir);
  struct stat st;
  if (path != all.ByPath.end())
    id = path->second;
  else if (findAlias && stat(dir.c_str(), &st) == 0)
    id = {st.st_dev, st.st_ino};
  else
    return nullptr;
  auto it = all.ById.find(id);
  return it == all.ById.end() ? nullptr : &it->second;
}

// The name on disk in folder `dir` that matches `part` (see NameKey), or "" when none does. With
// `exactKnownMissing` false and the key present, a name spelt exactly as `part` is reported as itself
// (taken from a kept listing that saw that spelling last, else checked on disk).
std::string FindInFolder(const std::string& dir, const std::string& part, bool exactKnownMissing) {
  const std::string key = NameKey(part);
  {
    TFolderListings& all = FolderListings();
    std::lock_guard<std::mutex> guard(all.Lock);
    TFolderListing* listing = ListingOf(all, dir);
    if (!listing) return std::string();
    const auto it = listing->Keys.find(KeyHash(key));
    if (it == listing->Keys.end()) return std::string();
    if (!exactKnownMissing && all.Held && it->second == KeyHash(part)) return part;
  }
  if (!exactKnownMissing) {
    struct stat st;
    if (lstat((dir + "/" + part).c_str(), &st) == 0) return part;
  }
  // A match (or a stale key of a name removed since): the listing tells which.
  DIR* d = opendir(dir.c_str());
  if (!d) return std::string();
  std::string found;
  while (struct dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (NameKey(e->d_name) == key) {
      found = e->d_name;
      break;
    }
  }
  closedir(d);
  // The whole folder was looked at: a key no name holds any more (left by a removal) is dropped, so
  // that the next name of that key does not cost another look.
  if (found.empty()) {
    TFolderListings& all = FolderListings();
    std::lock_guard<std::mutex> guard(all.Lock);
    if (TFolderListing* listing = KeptListing(all, dir, false)) listing->Keys.erase(KeyHash(key));
  }
  return found;
}

// True when a listing kept for this command shows that nothing of the name's key is in its folder, so
// the name is known to be free without asking the disk.
bool KnownAbsent(const std::string& hostPath) {
  const auto [dir, name] = SplitHost(hostPath);
  TFolderListings& all = FolderListings();
  std::lock_guard<std::mutex> guard(all.Lock);
  if (!all.Held) return false;
  TFolderListing* listing = KeptListing(all, dir, false);
  return listing && !listing->Keys.count(KeyHash(NameKey(name)));
}

// Records a name this process just created (or renamed to) in the listing of its folder.
void NoteCreated(const std::string& hostPath) {
  const auto [dir, name] = SplitHost(hostPath);
  TFolderListings& all = FolderListings();
  std::lock_guard<std::mutex> guard(all.Lock);
  TFolderListing* listing = KeptListing(all, dir, all.Held != 0);
  if (!listing) return;
  if (!all.Held) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
      all.ByPath.clear();
      all.ById.clear();
      return;
    }
    listing->Mtime = st.st_mtim;
  }
  listing->Keys[KeyHash(NameKey(name))] = KeyHash(name);
}

// A name this process removed: a listing that saw it last no longer vouches for that spelling.
void NoteRemoved(const std::string& hostPath) {
  const auto [dir, name] = SplitHost(hostPath);
  TFolderListings& all = FolderListings();
  std::lock_guard<std::mutex> guard(all.Lock);
  if (TFolderListing* listing = KeptListing(all, dir, false)) {
    auto it = listing->Keys.find(KeyHash(NameKey(name)));
    if (it != listing->Keys.end() && it->second == KeyHash(name)) it->second = 0;
  }
}

// Forgets the listings of a folder this process removed, renamed or created anew, and of everything
// below it, under every spelling.
void NoteFolderGone(const std::string& hostPath) {
  TFolderListings& all = FolderListings();
  std::lock_guard<std::mutex> guard(all.Lock);
  // "/" + 1 is "0": the range holds exactly the paths below the folder.
  const auto first = all.ByPath.lower_bound(hostPath), last = all.ByPath.lower_bound(hostPath + "0");
  std::vector<TFolderId> gone;
  for (auto it = first; it != last; ++it)
    if (it->first == hostPath || it->first.compare(0, hostPath.size() + 1, hostPath + "/") == 0)
      gone.push_back(it->second);
  if (gone.empty()) return;
  for (const TFolderId& id : gone) all.ById.erase(id);
  for (auto it = all.ByPath.begin(); it != all.ByPath.end();)
    it = all.ById.count(it->second) ? std::next(it) : all.ByPath.erase(it);
}

// Spelling of `path` on disk: components that do not exist as written are matched without regard to
// ASCII case (and to the characters code page 932 maps one way only); the rest stays as given.
std::string ResolveCase(const std::string& path) {
  struct stat st;
  if (path.empty()) return path;
  // Mostly only the last part is missing (a file about to be created): its folder is not walked. A
  // kept listing that does not hold the name's key answers without asking the disk.
  if (path.back() != '/') {
    const auto [dir, name] = SplitHost(path);
    if (!name.empty()) {
      bool listed = false;
      {
        TFolderListings& all = FolderListings();
        std::lock_guard<std::mutex> guard(all.Lock);
        listed = all.Held && all.ByPath.count(dir);
      }
      if (listed) {
        const std::string found = FindInFolder(dir, name, false);
        if (found.empty() || found == name) return path;
        return path.substr(0, path.size() - name.size()) + found;
      }
    }
  }
  if (lstat(path.c_str(), &st) == 0) return path;
  if (path.back() != '/') {
    const auto [dir, name] = SplitHost(path);
    if (!name.empty() && lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      const std::string found = FindInFolder(dir, name, true);
      if (found.empty()) return path;
      return path.substr(0, path.size() - name.size()) + found;
    }
  }
  std::string resolved;
  size_t pos = 0;
  if (path[0] == '/') {
    resolved = "/";
    pos = 1;
  }
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    std::string part = path.substr(pos, next - pos);
    if (!part.empty()) {
      std::string candidate = resolved;
      if (!candidate.empty() && candidate.back() != '/') candidate += '/';
      if (lstat((candidate + part).c_str(), &st) != 0) {
        const std::string found =
            FindInFolder(candidate.empty()      ? "."
                         : candidate.size() > 1 ? candidate.substr(0, candidate.size() - 1)
                                                : candidate,
                         part, true);
        if (found.empty()) return candidate + path.substr(pos);
        part = found;
      }
      resolved = candidate + part;
    }
    if (next == path.size()) break;
    pos = next + 1;
  }
  if (!path.empty() && path.back() == '/' && resolved.back() != '/') resolved += '/';
  return resolved;
}

bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) MakeFolders(path.substr(0, slash));
  return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

std::string WithoutTrailingSlash(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

TFolderListingScope::TFolderListingScope() {
  TFolderListings& all = FolderListings();
  std::lock_guard<std::mutex> guard(all.Lock);
  if (all.Held++ == 0) {  // a listing kept so far was checked, not trusted
    all.ByPath.clear();
    all.ById.clear();
  }
}

TFolderListingScope::~TFolderListingScope() {
  TFolderListings& all = FolderListings();
  std::lock_guard<std::mutex> guard(all.Lock);
  if (--all.Held == 0) {
    all.ByPath.clear();
    all.ById.clear();
  }
}

// --- construction -------------------------------------------------------------------------------------

std::string TPosixPlatform::DefaultRoot() {
  if (const char* root = std::getenv("VR_POSIX_ROOT"); root && *root) return root;
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::string(home) + "/.local/share/vrsetup";
  return "/tmp/vrsetup-" + std::to_string(getuid());
}

TPosixPlatform::TPosixPlatform(TPosixConfig config) : config_(std::move(config)) {
  if (config_.Root.empty()) config_.Root = DefaultRoot();
  config_.Root = WithoutTrailingSlash(config_.Root);
  recordShell_ = config_.RecordShell;
  std::map<char, std::string> drives;
  for (const auto& [letter, folder] : config_.Drives)
    drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] =
        WithoutTrailingSlash(folder);
  config_.Drives = drives;
  MakeFolders(config_.Root);
  if (config_.FileRegistry) SeedRegistry();
}

TPosixPlatform::~TPosixPlatform() {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto& entry : files_) {
    if (entry.second->LockFd != entry.second->Fd) close(entry.second->LockFd);
    close(entry.second->Fd);
    delete entry.second;
  }
  for (auto& entry : mutexes_) close(entry.second);
}

void TPosixPlatform::MapDrive(char letter, const std::string& hostFolder) {
  std::lock_guard<std::mutex> guard(lock_);
  config_.Drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] =
      WithoutTrailingSlash(hostFolder);
}

std::string TPosixPlatform::DriveFolder(char letter) {
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  std::string folder;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = config_.Drives.find(letter);
    if (it != config_.Drives.end()) folder = it->second;
  }
  if (folder.empty() && letter == 'C') {
    folder = config_.Root + "/drive_c";
    struct stat st;
    if (stat((folder + "/windows/system32").c_str(), &st) != 0) {
      MakeFolders(folder + "/windows/temp");
      MakeFolders(folder + "/windows/system32");
    }
  }
  return folder;
}

std::string TPosixPlatform::MapPath(const std::string& path) {
  if (path.empty()) return std::string();
  if (path[0] == '/') return Cp932ToUtf8(ReplaceDelimiters(path, '/'));
  std::string rest;
  std::string folder;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    folder = DriveFolder(path[0]);
    rest = path.substr(2);
  } else if (IsPathDelimiterAt(path, 0)) {
    if (IsPathDelimiterAt(path, 1)) return std::string();  // UNC paths have no host counterpart
    folder = DriveFolder('C');
    rest = path;
  } else {
    return Cp932ToUtf8(ReplaceDelimiters(path, '/'));
  }
  if (folder.empty()) return std::string();
  std::string converted = Cp932ToUtf8(ReplaceDelimiters(rest, '/'));
  if (converted.empty() || converted[0] != '/') converted.insert(converted.begin(), '/');
  return folder + converted;
}

std::string TPosixPlatform::HostPath(const std::string& path) { return ResolveCase(MapPath(path)); }

std::string TPosixPlatform::WindowsPath(const std::string& hostPath) {
  std::map<char, std::string> drives;
  {
    std::lock_guard<std::mutex> guard(lock_);
    drives = config_.Drives;
  }
  if (!drives.count('C')) drives['C'] = config_.Root + "/drive_c";
  for (const auto& [letter, folder] : drives) {
    std::string forms[2] = {folder, folder};
    if (char* real = realpath(folder.c_str(), nullptr)) {
      forms[1] = real;
      std::free(real);
    }
    for (const std::string& form : forms) {
      // A drive mapped to the host's root holds every absolute path.
      const std::string f = form == "/" ? std::string() : form;
      if (hostPath == f || (hostPath.size() > f.size() && hostPath.compare(0, f.size(), f) == 0 &&
                            hostPath[f.size()] == '/')) {
        std::string rest = hostPath.substr(f.size());
        std::replace(rest.begin(), rest.end(), '/', '\\');
        if (rest.empty()) rest = "\\";
        return std::string(1, letter) + ":" + Utf8ToCp932(rest);
      }
    }
  }
  return Utf8ToCp932(hostPath);
}

// --- system identity -------------------------------------------------------------------------------

bool TPosixPlatform::IsNTFamily() { return true; }

std::optional<bool> TPosixPlatform::ShellIsUserAnAdmin() { return true; }

std::string TPosixPlatform::ModuleFileName() {
  if (!config_.ModulePath.empty()) return WindowsPath(config_.ModulePath);
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return WindowsPath(std::string(buffer, static_cast<size_t>(n)));
}

std::string TPosixPlatform::GetTempPath() {
  MakeFolders(MapPath("C:\\windows\\temp"));
  return "C:\\windows\\temp\\";
}

std::string TPosixPlatform::GetWindowsDirectory() { return "C:\\windows"; }

std::string TPosixPlatform::GetSystemDirectory() { return "C:\\windows\\system32"; }

std::optional<std::string> TPosixPlatform::GetSpecialFolder(int csidl) {
  static const struct {
    int Csidl;
    const char* Path;
  } kFolders[] = {
      {0x00, "C:\\users\\user\\Desktop"},
      {0x02, "C:\\users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
      {0x05, "C:\\users\\user\\Documents"},
      {0x06, "C:\\users\\user\\Favorites"},
      {0x07, "C:\\users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
      {0x08, "C:\\users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
      {0x0B, "C:\\users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
      {0x0D, "C:\\users\\user\\Music"},
      {0x10, "C:\\users\\user\\Desktop"},
      {0x14, "C:\\windows\\Fonts"},
      {0x16, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu"},
      {0x17, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
      {0x18, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
      {0x19, "C:\\users\\Public\\Desktop"},
      {0x1A, "C:\\users\\user\\AppData\\Roaming"},
      {0x1C, "C:\\users\\user\\AppData\\Local"},
      {0x23, "C:\\ProgramData"},
      {0x24, "C:\\windows"},
      {0x25, "C:\\windows\\system32"},
      {0x26, "C:\\Program Files"},
      {0x27, "C:\\users\\user\\Pictures"},
      {0x28, "C:\\users\\user"},
      {0x2B, "C:\\Program Files\\Common Files"},
      {0x2E, "C:\\users\\Public\\Documents"},
  };
  for (const auto& f : kFolders) {
    if (f.Csidl == csidl) {
      std::string path = f.Path;
      for (const auto& [fixed, configured] :
           {std::pair<std::string, std::string>{"C:\\users\\user", config_.UserProfile},
            {"C:\\Program Files", config_.ProgramFiles}}) {
        if (path.compare(0, fixed.size(), fixed) == 0 &&
            (path.size() == fixed.size() || path[fixed.size()] == '\\'))
          path.replace(0, fixed.size(), configured);
      }
      const std::string host = MapPath(path);
      if (host.empty() || !MakeFolders(ResolveCase(host))) return std::nullopt;
      return path;
    }
  }
  return std::nullopt;
}

std::optional<std::string> TPosixPlatform::HostHomeFolder() {
  const char* home = std::getenv("HOME");
  if (!home || *home != '/') return std::nullopt;
  std::string host = WithoutTrailingSlash(home);
  if (char* real = realpath(host.c_str(), nullptr)) {
    host = real;
    std::free(real);
  }
  const std::string path = WindowsPath(host);
  if (path.size() < 2 || path[1] != ':') return std::nullopt;
  return path;
}

void TPosixPlatform::Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint32_t TPosixPlatform::GetTickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

// --- files -----------------------------------------------------------------------------------------

TPosixPlatform::TOpenFile* TPosixPlatform::FindFile(THandle h) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = files_.find(h);
  return it == files_.end() ? nullptr : it->second;
}

THandle TPosixPlatform::OpenHost(const std::string& hostPath, int flags, unsigned access, unsigned deny) {
  if (hostPath.empty()) {
    errno = ENOENT;
    return kInvalidHandle;
  }
  // O_EXCL opens only a file it creates itself: a new, empty regular file, nothing to check first.
  const bool createsNew = (flags & O_CREAT) && (flags & O_EXCL);
  struct stat st;
  bool exists = false;
  if (!createsNew) {
    exists = stat(hostPath.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      return kInvalidHandle;
    }
    // A read-only file cannot be opened for writing, also not by a privileged user.
    if (exists && (access & kAccessWrite) && IsReadOnlyMode(st.st_mode)) {
      errno = EACCES;
      return kInvalidHandle;
    }
  }
  const int fd = open(hostPath.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) return kInvalidHandle;
  if ((flags & O_CREAT) && !exists) NoteCreated(hostPath);
  if (!createsNew && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd);
    errno = EACCES;
    return kInvalidHandle;
  }
  int lockFd = fd;
  if (!(access & kAccessRead)) {
    lockFd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (lockFd < 0) lockFd = fd;  // not readable: sharing is not enforced for this handle
  }
  const bool writable = lockFd == fd && (flags & O_ACCMODE) == O_RDWR;
  if ((lockFd != fd || (access & kAccessRead)) && !ClaimSharing(lockFd, writable, access, deny)) {
    if (lockFd != fd) close(lockFd);
    close(fd);
    errno = EBUSY;
    return kInvalidHandle;
  }
  auto* file = new TOpenFile;
  file->Fd = fd;
  file->LockFd = lockFd;
  std::lock_guard<std::mutex> guard(lock_);
  const THandle h = nextHandle_++;
  files_[h] = file;
  return h;
}

THandle TPosixPlatform::FileOpen(const std::string& name, uint16_t mode) {
  if (mode == fmCreate) return FileCreate(name);
  unsigned deny = 0;
  if (!ShareBits(mode, deny)) return kInvalidHandle;
  switch (mode & 0x0F) {
    case fmOpenRead:
      return OpenHost(HostPath(name), O_RDONLY, kAccessRead, deny);
    case fmOpenWrite:
      return OpenHost(HostPath(name), O_WRONLY, kAccessWrite, deny);
    case fmOpenReadWrite:
      return OpenHost(HostPath(name), O_RDWR, kAccessRead | kAccessWrite, deny);
    default:
      return kInvalidHandle;
  }
}

THandle TPosixPlatform::FileCreate(const std::string& name, uint16_t share) {
  unsigned deny = 0;
  if (!ShareBits(share, deny)) return kInvalidHandle;
  // Truncated only after the sharing check, so a file another handle protects keeps its content.
  const THandle h = OpenHost(HostPath(name), O_RDWR | O_CREAT, kAccessRead | kAccessWrite, deny);
  if (h == kInvalidHandle) return h;
  if (ftruncate(FindFile(h)->Fd, 0) != 0) {
    FileClose(h);
    return kInvalidHandle;
  }
  return h;
}

int32_t TPosixPlatform::FileRead(THandle h, void* buffer, int32_t count) {
  TOpenFile* file = FindFile(h);
  if (!file || count < 0) return -1;
  int32_t done = 0;
  while (done < count) {
    const ssize_t n = read(file->Fd, static_cast<char*>(buffer) + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

const uint8_t* TPosixPlatform::FileMapView(THandle h, int64_t offset, int64_t count) {
  TOpenFile* file = FindFile(h);
  if (!file || offset < 0 || count <= 0) return nullptr;
  static const int64_t page = sysconf(_SC_PAGESIZE);
  const int64_t start = offset / page * page;
  const int64_t lead = offset - start;
  if (static_cast<uint64_t>(count + lead) > SIZE_MAX) return nullptr;
  void* view = mmap(nullptr, static_cast<size_t>(count + lead), PROT_READ, MAP_SHARED, file->Fd,
                    static_cast<off_t>(start));
  if (view == MAP_FAILED) return nullptr;
  // Read once from the start to the end: the kernel may read ahead and drop behind.
  madvise(view, static_cast<size_t>(count + lead), MADV_SEQUENTIAL);
  return static_cast<const uint8_t*>(view) + lead;
}

void TPosixPlatform::FileUnmapView(const uint8_t* view, int64_t count) {
  if (!view) return;
  static const int64_t page = sysconf(_SC_PAGESIZE);
  const uintptr_t at = reinterpret_cast<uintptr_t>(view);
  const uintptr_t start = at / static_cast<uintptr_t>(page) * static_cast<uintptr_t>(page);
  munmap(reinterpret_cast<void*>(start), static_cast<size_t>(count) + (at - start));
}

int64_t TPosixPlatform::FileCopyRange(THandle from, int64_t fromOffset, THandle to, int64_t toOffset,
                                      int64_t count) {
  TOpenFile* in = FindFile(from);
  TOpenFile* out = FindFile(to);
  if (!in || !out || count < 0 || fromOffset < 0 || toOffset < 0) return -1;
  off_t inAt = static_cast<off_t>(fromOffset);
  off_t outAt = static_cast<off_t>(toOffset);
  int64_t done = 0;
  while (done < count) {
    const size_t piece = static_cast<size_t>(std::min<int64_t>(count - done, 0x40000000));
    const ssize_t n = copy_file_range(in->Fd, &inAt, out->Fd, &outAt, piece, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int32_t TPosixPlatform::FileWrite(THandle h, const void* buffer, int32_t count) {
  TOpenFile* file = FindFile(h);
  if (!file || count < 0) return -1;
  int32_t done = 0;
  while (done < count) {
    const ssize_t n =
        write(file->Fd, static_cast<const char*>(buffer) + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    done += static_cast<int32_t>(n);
  }
  return done;
}

int64_t TPosixPlatform::FileSeek(THandle h, int64_t offset, TSeekOrigin origin) {
  TOpenFile* file = FindFile(h);
  if (!file) return -1;
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  const off_t r = lseek(file->Fd, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

bool TPosixPlatform::FileSetSize(THandle h, int64_t size) {
  TOpenFile* file = FindFile(h);
  if (!file || size < 0) return false;
  if (ftruncate(file->Fd, static_cast<off_t>(size)) != 0) return false;
  return lseek(file->Fd, static_cast<off_t>(size), SEEK_SET) >= 0;
}

std::string TPosixPlatform::LastErrorText() {
  const int code = errno;
  if (code == 0) return std::string();
  // The C locale's words: ASCII, whatever the process's locale (texts here are code page 932).
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c ? std::string(strerror_l(code, c)) : std::string(std::strerror(code));
}

bool TPosixPlatform::FileFlush(THandle h) {
  TOpenFile* file = FindFile(h);
  return file && fsync(file->Fd) == 0;
}

bool TPosixPlatform::FileFlushMany(const std::vector<THandle>& handles) {
#ifdef __linux__
  // Many files on one file system: one syncfs writes them all (and whatever else waits there) with one
  // flush of the disk's cache, where fsync would wait for the disk once per file.
  constexpr size_t kManyFiles = 8;
  if (handles.size() >= kManyFiles) {
    int fd = -1;
    dev_t device = 0;
    bool oneVolume = true;
    for (THandle h : handles) {
      const TOpenFile* file = FindFile(h);
      struct stat st;
      if (!file || fstat(file->Fd, &st) != 0 || (fd >= 0 && st.st_dev != device)) {
        oneVolume = false;
        break;
      }
      fd = file->Fd;
      device = st.st_dev;
    }
    if (oneVolume && syncfs(fd) == 0) return true;
  }
#endif
  bool all = true;
  for (THandle h : handles) all = FileFlush(h) && all;
  return all;
}

bool TPosixPlatform::FolderFlush(const std::string& folder) {
  const std::string host = HostPath(folder);
  if (host.empty()) return false;
  const int fd = open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Some file systems refuse to flush a folder: they keep their entries as they can.
  const bool flushed = fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
  close(fd);
  return flushed;
}

void TPosixPlatform::FileClose(THandle h) {
  TOpenFile* file = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = files_.find(h);
    if (it == files_.end()) return;
    file = it->second;
    files_.erase(it);
  }
  if (file->LockFd != file->Fd) close(file->LockFd);
  close(file->Fd);
  delete file;
}

uint32_t TPosixPlatform::FileGetDosTime(THandle h) {
  TOpenFile* file = FindFile(h);
  struct stat st;
  if (!file || fstat(file->Fd, &st) != 0) return 0;
  return UnixToDosTime(st.st_mtime);
}

bool TPosixPlatform::FileSetDosTime(THandle h, uint32_t dosTime) {
  TOpenFile* file = FindFile(h);
  time_t t;
  if (!file || !DosToUnixTime(dosTime, t)) return false;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = t;
  times[1].tv_nsec = 0;
  return futimens(file->Fd, times) == 0;
}

uint32_t TPosixPlatform::GetFileAttributes(const std::string& name) {
  struct stat st, linkStat;
  // Without a trailing slash, which would make lstat look through a link to a folder.
  const std::string host = WithoutTrailingSlash(HostPath(name));
  if (host.empty() || lstat(host.c_str(), &linkStat) != 0) return faInvalid;
  if (!S_ISLNK(linkStat.st_mode)) return AttributesOf(linkStat);
  // A link shows what it points to, marked as a reparse point; a dangling one shows as a plain file.
  if (stat(host.c_str(), &st) != 0) st = linkStat;
  return LinkAttributes(st);
}

bool TPosixPlatform::SetFileAttributes(const std::string& name, uint32_t attr) {
  // Only the read-only bit has a host counterpart (the write permission bits).
  struct stat st;
  const std::string host = HostPath(name);
  if (host.empty() || lstat(host.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) return true;  // a link has no attributes of its own here; the target keeps its
  mode_t mode = st.st_mode & 07777;
  if (attr & faReadOnly)
    mode &= static_cast<mode_t>(~0222);
  else
    mode |= S_IWUSR | ((mode & S_IRGRP) ? S_IWGRP : 0);
  return chmod(host.c_str(), mode) == 0;
}

bool TPosixPlatform::DeleteFile(const std::string& name) {
  struct stat st;
  const std::string host = HostPath(name);
  if (host.empty() || lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode)) return false;
  if (unlink(host.c_str()) != 0) return false;
  NoteRemoved(host);
  return true;
}

bool TPosixPlatform::CreateDirectory(const std::string& name) {
  const std::string host = HostPath(name);
  if (host.empty() || mkdir(host.c_str(), 0777) != 0) return false;
  NoteFolderGone(WithoutTrailingSlash(host));  // a listing of an earlier folder of that name
  NoteCreated(WithoutTrailingSlash(host));
  return true;
}

bool TPosixPlatform::CreatePrivateDirectory(const std::string& name) {
  const std::string host = HostPath(name);
  // mkdir never follows a link in the last part and fails on anything there.
  if (host.empty() || mkdir(WithoutTrailingSlash(host).c_str(), 0700) != 0) return false;
  NoteFolderGone(WithoutTrailingSlash(host));
  NoteCreated(WithoutTrailingSlash(host));
  return true;
}

bool TPosixPlatform::RandomBytes(void* buffer, size_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    const ssize_t n = getrandom(out, count, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool TPosixPlatform::RemoveDirectory(const std::string& name) {
  const std::string host = WithoutTrailingSlash(HostPath(name));
  if (host.empty()) return false;
  // Like RemoveDirectoryW on a folder link: the link goes, what it points to stays.
  struct stat linkStat, st;
  if (lstat(host.c_str(), &linkStat) == 0 && S_ISLNK(linkStat.st_mode))
    return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && unlink(host.c_str()) == 0;
  if (rmdir(host.c_str()) != 0) return false;
  NoteFolderGone(host);
  return true;
}

bool TPosixPlatform::MoveFileReplace(const std::string& from, const std::string& to) {
  const std::string src = HostPath(from), dst = HostPath(to);
  struct stat st;
  if (src.empty() || dst.empty()) return false;
  if (!KnownAbsent(dst) && lstat(dst.c_str(), &st) == 0 &&
      (S_ISDIR(st.st_mode) || IsReadOnlyMode(st.st_mode)))
    return false;
  if (rename(src.c_str(), dst.c_str()) != 0) return false;
  NoteRemoved(WithoutTrailingSlash(src));
  // When a folder moved, listings under either name describe what is no longer there.
  NoteFolderGone(WithoutTrailingSlash(src));
  NoteFolderGone(WithoutTrailingSlash(dst));
  NoteCreated(WithoutTrailingSlash(dst));
  return true;
}

bool TPosixPlatform::CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  const std::string src = HostPath(from), dst = HostPath(to);
  struct stat st;
  if (src.empty() || dst.empty() || stat(src.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  struct stat dstStat;
  const bool existed = stat(dst.c_str(), &dstStat) == 0;
  if (existed && failIfExists) return false;
  const THandle in = OpenHost(src, O_RDONLY, kAccessRead, kAccessWrite);
  if (in == kInvalidHandle) return false;
  const THandle out = OpenHost(dst, O_RDWR | O_CREAT, kAccessRead | kAccessWrite, kAccessRead | kAccessWrite);
  if (out == kInvalidHandle) {
    FileClose(in);
    return false;
  }
  const int inFd = FindFile(in)->Fd, outFd = FindFile(out)->Fd;
  bool ok = ftruncate(outFd, 0) == 0;
  std::vector<char> buffer(1 << 20);
  while (ok) {
    const int32_t n = FileRead(in, buffer.data(), static_cast<int32_t>(buffer.size()));
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (FileWrite(out, buffer.data(), n) != n) ok = false;
  }
  if (ok) {
    // Like CopyFileA: the copy keeps the last write time and the read-only attribute.
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = st.st_mtim;
    futimens(outFd, times);
    fchmod(outFd, st.st_mode & 07777);
  }
  (void)inFd;
  FileClose(in);
  FileClose(out);
  if (!ok) unlink(dst.c_str());
  return ok;
}

std::optional<std::vector<TFindData>> TPosixPlatform::ListFolder(const std::string& folder) {
  std::string host = HostPath(folder);
  if (host.empty()) return std::nullopt;
  DIR* dir = opendir(host.c_str());
  if (!dir) return std::nullopt;
  if (host.back() != '/') host += '/';
  std::vector<TFindData> entries;
  while (struct dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    const std::string entry = host + e->d_name;
    struct stat st, linkStat;
    if (lstat(entry.c_str(), &linkStat) != 0) continue;
    const bool link = S_ISLNK(linkStat.st_mode);
    // A link shows what it points to, marked as a reparse point; a dangling one shows as a plain file.
    if (stat(entry.c_str(), &st) != 0) {
      if (!link) continue;
      st = linkStat;
    }
    TFindData d;
    d.Name = Utf8ToCp932(e->d_name);
    d.Attr = link ? LinkAttributes(st) : AttributesOf(st);
    d.Size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
    d.DosTime = UnixToDosTime(st.st_mtime);
    entries.push_back(std::move(d));
  }
  closedir(dir);
  // A stable order, like the upper-cased name order of NTFS listings.
  std::sort(entries.begin(), entries.end(), [this](const TFindData& a, const TFindData& b) {
    const int c = CompareTextJ(a.Name, b.Name);
    return c != 0 ? c < 0 : a.Name < b.Name;
  });
  return entries;
}

std::string TPosixPlatform::GetShortPathName(const std::string& path) { return path; }

bool TPosixPlatform::GetDiskFreeSpace(const std::string& path, int64_t& freeToCaller, int64_t& total) {
  const std::string host = HostPath(path);
  struct statvfs vfs;
  if (host.empty() || statvfs(host.c_str(), &vfs) != 0) return false;
  freeToCaller = static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
  total = static_cast<int64_t>(vfs.f_blocks) * static_cast<int64_t>(vfs.f_frsize);
  return true;
}

// --- named mutexes ----------------------------------------------------------------------------------
//
// Every handle holds a shared flock on <Root>/mutex/<name>; the name exists while any handle anywhere
// holds it (the kernel drops the lock of a process that dies). The check "does anybody else hold it" is a
// non-blocking exclusive attempt, made under the exclusive gate <Root>/mutex/.gate so that the check and
// the shared claim are one step for every other process.

namespace {

std::string MutexFileName(const std::string& name) {
  // Kernel object names are case-sensitive: every byte outside [A-Za-z0-9_-] is escaped.
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "m_";
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (out.size() > 200) {
    uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ULL;
    char tail[24];
    std::snprintf(tail, sizeof tail, "#%016llx", static_cast<unsigned long long>(hash));
    out = out.substr(0, 180) + tail;
  }
  return out;
}

class TGate {
 public:
  explicit TGate(const std::string& folder) {
    fd_ = open((folder + "/.gate").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~TGate() {
    if (fd_ >= 0) close(fd_);
  }
  TGate(const TGate&) = delete;
  TGate& operator=(const TGate&) = delete;
  bool Ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool HeldByOthers(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    flock(fd, LOCK_UN);
    return false;
  }
  return true;
}

}  // namespace

THandle TPosixPlatform::CreateMutex(const std::string& name, bool& alreadyExists) {
  alreadyExists = false;
  const std::string folder = config_.Root + "/mutex";
  MakeFolders(folder);
  TGate gate(folder);
  if (!gate.Ok()) return kInvalidHandle;
  const int fd = open((folder + "/" + MutexFileName(name)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return kInvalidHandle;
  alreadyExists = HeldByOthers(fd);
  if (flock(fd, LOCK_SH) != 0) {
    close(fd);
    alreadyExists = false;
    return kInvalidHandle;
  }
  std::lock_guard<std::mutex> guard(lock_);
  const THandle h = nextHandle_++;
  mutexes_[h] = fd;
  return h;
}

THandle TPosixPlatform::OpenMutex(const std::string& name) {
  const std::string folder = config_.Root + "/mutex";
  MakeFolders(folder);
  TGate gate(folder);
  if (!gate.Ok()) return kInvalidHandle;
  const std::string path = folder + "/" + MutexFileName(name);
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return kInvalidHandle;
  if (!HeldByOthers(fd)) {
    unlink(path.c_str());  // left behind by a holder that is gone
    close(fd);
    return kInvalidHandle;
  }
  if (flock(fd, LOCK_SH) != 0) {
    close(fd);
    return kInvalidHandle;
  }
  std::lock_guard<std::mutex> guard(lock_);
  const THandle h = nextHandle_++;
  mutexes_[h] = fd;
  return h;
}

void TPosixPlatform::ReleaseMutex(THandle h) {
  // Handles are created without ownership and nobody waits on them: there is nothing to hand over.
  (void)h;
}

void TPosixPlatform::CloseMutex(THandle h) {
  int fd = -1;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = mutexes_.find(h);
    if (it == mutexes_.end()) return;
    fd = it->second;
    mutexes_.erase(it);
  }
  close(fd);
}

// --- links and special files ---------------------------------------------------------------------------

TFileKind TPosixPlatform::GetFileKind(const std::string& name) {
  const std::string host = HostPath(name);
  struct stat st;
  if (host.empty() || lstat(host.c_str(), &st) != 0) return TFileKind::None;
  if (S_ISLNK(st.st_mode)) return TFileKind::Link;
  if (S_ISDIR(st.st_mode)) return TFileKind::Directory;
  if (S_ISREG(st.st_mode)) return TFileKind::File;
  return TFileKind::Other;
}

THandle TPosixPlatform::FileCreateNew(const std::string& name) {
  // O_EXCL fails on any existing name, a dangling link included, and never follows a link.
  const THandle h = OpenHost(HostPath(name), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW,
                             kAccessRead | kAccessWrite, kAccessRead | kAccessWrite);
  return h;
}

bool TPosixPlatform::SetCurrentDirectory(const std::string& path) {
  const std::string host = HostPath(path);
  return !host.empty() && chdir(host.c_str()) == 0;
}

}  // namespace vr
