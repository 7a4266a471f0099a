#include "platform/win32/winapi.h"
// (winapi.h first: it brings the system headers.)
#include <algorithm>

#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/win32/win32platform.h"
#include "platform/win32/win32text.h"

namespace vr {

// --- text ---------------------------------------------------------------------------------------------

std::wstring Wide(const std::string& s) {
  const std::u16string u = Cp932ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}

std::string Narrow(const std::wstring& s) { return Utf16ToCp932(std::u16string(s.begin(), s.end())); }

std::string Narrow(const wchar_t* s) { return s ? Narrow(std::wstring(s)) : std::string(); }

namespace {

HANDLE H(THandle h) { return reinterpret_cast<HANDLE>(h); }

// Runs a "fill this buffer" call, growing the buffer until the result fits.
template <class F>
std::wstring FillBuffer(F&& call) {
  std::wstring buffer(512, L'\0');
  for (;;) {
    const DWORD n = call(&buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(std::max<size_t>(n + 1, buffer.size() * 2));
  }
}

uint32_t DosTimeOf(const FILETIME& utc) {
  FILETIME local;
  WORD date = 0, time = 0;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time)) return 0;
  return (static_cast<uint32_t>(date) << 16) | time;
}

DWORD ShareOf(uint16_t mode, bool& ok) {
  ok = true;
  switch (mode & 0xF0) {
    case fmShareCompat:
    case fmShareExclusive:
      return 0;
    case fmShareDenyWrite:
      return FILE_SHARE_READ;
    case fmShareDenyRead:
      return FILE_SHARE_WRITE;
    case fmShareDenyNone:
      return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default:
      ok = false;
      return 0;
  }
}

HKEY RootKey(TRegRoot root) {
  switch (root) {
    case TRegRoot::HKCU:
      return HKEY_CURRENT_USER;
    case TRegRoot::HKLM:
      return HKEY_LOCAL_MACHINE;
    default:
      return HKEY_USERS;
  }
}

// Key paths are given with or without a leading backslash; the API wants none.
std::wstring KeyPath(const std::string& path) {
  std::string p = path;
  while (!p.empty() && IsPathDelimiterAt(p, 0)) p.erase(0, 1);
  while (!p.empty() && IsPathDelimiterAt(p, p.size() - 1)) p.pop_back();
  return Wide(p);
}

class TKey {
 public:
  TKey(TRegRoot root, const std::string& path, REGSAM access) {
    if (RegOpenKeyExW(RootKey(root), KeyPath(path).c_str(), 0, access, &key_) != ERROR_SUCCESS)
      key_ = nullptr;
  }
  explicit TKey(HKEY key) : key_(key) {}
  ~TKey() {
    if (key_) RegCloseKey(key_);
  }
  TKey(const TKey&) = delete;
  TKey& operator=(const TKey&) = delete;
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

bool DeleteTree(HKEY parent, const std::wstring& name) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, &raw) != ERROR_SUCCESS) return false;
  TKey key(raw);
  // Collect first: deleting while enumerating shifts the indexes.
  std::vector<std::wstring> children;
  wchar_t buffer[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(key.Get(), i, buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    children.emplace_back(buffer, length);
  }
  for (const std::wstring& child : children) DeleteTree(key.Get(), child);
  return RegDeleteKeyW(parent, name.c_str()) == ERROR_SUCCESS;
}

bool WriteValue(TRegRoot root, const std::string& path, const std::string& name, DWORD kind, const void* data,
                DWORD size) {
  HKEY raw = nullptr;
  if (RegCreateKeyExW(RootKey(root), KeyPath(path).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &raw,
                      nullptr) != ERROR_SUCCESS)
    return false;
  TKey key(raw);
  return RegSetValueExW(key.Get(), Wide(name).c_str(), 0, kind, static_cast<const BYTE*>(data), size) ==
         ERROR_SUCCESS;
}

}  // namespace

// --- system identity ------------------------------------------------------------------------------------

bool TWin32Platform::IsNTFamily() { return (::GetVersion() & 0x80000000u) == 0; }

std::optional<bool> TWin32Platform::ShellIsUserAnAdmin() {
  HMODULE shell = LoadLibraryW(L"shell32.dll");
  if (!shell) return std::nullopt;
  typedef BOOL(WINAPI * TIsAdmin)();
  // Ordinal 680: the shell's "is the user an administrator" test.
  const TIsAdmin test =
      reinterpret_cast<TIsAdmin>(reinterpret_cast<void*>(GetProcAddress(shell, MAKEINTRESOURCEA(680))));
  std::optional<bool> answer;
  if (test) answer = (static_cast<DWORD>(test()) & 0xFF) != 0;
  FreeLibrary(shell);
  return answer;
}

std::string TWin32Platform::ModuleFileName() {
  std::wstring buffer(512, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return Narrow(buffer.substr(0, n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string TWin32Platform::GetTempPath() {
  return Narrow(FillBuffer([](wchar_t* b, DWORD n) { return GetTempPathW(n, b); }));
}

std::string TWin32Platform::GetWindowsDirectory() {
  return Narrow(FillBuffer([](wchar_t* b, DWORD n) { return GetWindowsDirectoryW(b, n); }));
}

std::string TWin32Platform::GetSystemDirectory() {
  return Narrow(FillBuffer([](wchar_t* b, DWORD n) { return GetSystemDirectoryW(b, n); }));
}

std::optional<std::string> TWin32Platform::GetSpecialFolder(int csidl) {
  LPITEMIDLIST items = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || !items) return std::nullopt;
  wchar_t path[MAX_PATH + 1] = {};
  const BOOL ok = SHGetPathFromIDListW(items, path);
  CoTaskMemFree(items);
  if (!ok || !path[0]) return std::nullopt;
  return Narrow(path);
}

void TWin32Platform::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t TWin32Platform::GetTickCount() { return ::GetTickCount(); }

// --- files ----------------------------------------------------------------------------------------------

THandle TWin32Platform::FileOpen(const std::string& name, uint16_t mode) {
  if (mode == fmCreate) return FileCreate(name);
  bool ok = false;
  const DWORD share = ShareOf(mode, ok);
  static const DWORD kAccess[3] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
  if (!ok || (mode & 0x0F) > 2) return kInvalidHandle;
  const HANDLE h = CreateFileW(Wide(name).c_str(), kAccess[mode & 0x0F], share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<THandle>(h);
}

THandle TWin32Platform::FileCreate(const std::string& name, uint16_t share) {
  bool ok = false;
  const DWORD shareMode = ShareOf(share, ok);
  if (!ok) return kInvalidHandle;
  const HANDLE h = CreateFileW(Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, shareMode, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<THandle>(h);
}

int32_t TWin32Platform::FileRead(THandle h, void* buffer, int32_t count) {
  DWORD done = 0;
  if (count < 0 || !ReadFile(H(h), buffer, static_cast<DWORD>(count), &done, nullptr)) return -1;
  return static_cast<int32_t>(done);
}

int32_t TWin32Platform::FileWrite(THandle h, const void* buffer, int32_t count) {
  DWORD done = 0;
  if (count < 0 || !WriteFile(H(h), buffer, static_cast<DWORD>(count), &done, nullptr)) return -1;
  return static_cast<int32_t>(done);
}

int64_t TWin32Platform::FileSeek(THandle h, int64_t offset, TSeekOrigin origin) {
  LARGE_INTEGER distance, position;
  distance.QuadPart = offset;
  const DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                       : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                          : FILE_END;
  if (!SetFilePointerEx(H(h), distance, &position, method)) return -1;
  return position.QuadPart;
}

bool TWin32Platform::FileSetSize(THandle h, int64_t size) {
  LARGE_INTEGER distance;
  distance.QuadPart = size;
  return size >= 0 && SetFilePointerEx(H(h), distance, nullptr, FILE_BEGIN) && SetEndOfFile(H(h));
}

bool TWin32Platform::FileFlush(THandle h) { return FlushFileBuffers(H(h)) != 0; }

// A folder opens only with backup semantics; writing its entries to the disk needs write access.
bool TWin32Platform::FolderFlush(const std::string& folder) {
  // A drive's root keeps its backslash ("C:" alone is the drive's current folder).
  const std::string path = folder.size() > 3 ? ExcludeTrailingBackslash(folder) : folder;
  const DWORD attr = GetFileAttributesW(Wide(path).c_str());
  if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY)) return false;
  const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // FAT and some network file systems refuse to flush a folder: they keep their entries as they can.
  const bool flushed = FlushFileBuffers(h) != 0 || GetLastError() == ERROR_INVALID_FUNCTION ||
                       GetLastError() == ERROR_NOT_SUPPORTED;
  CloseHandle(h);
  return flushed;
}

void TWin32Platform::FileClose(THandle h) {
  if (h != kInvalidHandle) CloseHandle(H(h));
}

uint32_t TWin32Platform::FileGetDosTime(THandle h) {
  FILETIME written;
  if (!GetFileTime(H(h), nullptr, nullptr, &written)) return 0;
  return DosTimeOf(written);
}

bool TWin32Platform::FileSetDosTime(THandle h, uint32_t dosTime) {
  FILETIME local, utc;
  if (!DosDateTimeToFileTime(static_cast<WORD>(dosTime >> 16), static_cast<WORD>(dosTime & 0xFFFF), &local) ||
      !LocalFileTimeToFileTime(&local, &utc))
    return false;
  // DosDateTimeToFileTime accepts impossible fields (month 13); refuse what does not round-trip.
  if (DosTimeOf(utc) != dosTime) return false;
  return SetFileTime(H(h), nullptr, nullptr, &utc) != 0;
}

uint32_t TWin32Platform::GetFileAttributes(const std::string& name) {
  return ::GetFileAttributesW(Wide(name).c_str());
}

bool TWin32Platform::SetFileAttributes(const std::string& name, uint32_t attr) {
  return ::SetFileAttributesW(Wide(name).c_str(), attr) != 0;
}

bool TWin32Platform::DeleteFile(const std::string& name) { return ::DeleteFileW(Wide(name).c_str()) != 0; }

bool TWin32Platform::CreateDirectory(const std::string& name) {
  return ::CreateDirectoryW(Wide(name).c_str(), nullptr) != 0;
}

bool TWin32Platform::RemoveDirectory(const std::string& name) {
  return ::RemoveDirectoryW(Wide(name).c_str()) != 0;
}

bool TWin32Platform::MoveFileReplace(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool TWin32Platform::CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  return ::CopyFileW(Wide(from).c_str(), Wide(to).c_str(), failIfExists ? TRUE : FALSE) != 0;
}

std::optional<std::vector<TFindData>> TWin32Platform::ListFolder(const std::string& folder) {
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW(Wide(IncludeTrailingBackslash(folder) + "*").c_str(), &data);
  std::vector<TFindData> entries;
  if (find == INVALID_HANDLE_VALUE) {
    // An empty drive root has no "." entry; anything else is a folder that cannot be listed.
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return entries;
    return std::nullopt;
  }
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    TFindData d;
    d.Name = Narrow(name);
    d.Attr = data.dwFileAttributes;
    d.Size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    d.DosTime = DosTimeOf(data.ftLastWriteTime);
    entries.push_back(std::move(d));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(entries.begin(), entries.end(), [this](const TFindData& a, const TFindData& b) {
    const int c = CompareTextJ(a.Name, b.Name);
    return c != 0 ? c < 0 : a.Name < b.Name;
  });
  return entries;
}

std::string TWin32Platform::GetShortPathName(const std::string& path) {
  const std::wstring wide = Wide(path);
  const std::wstring shortName =
      FillBuffer([&wide](wchar_t* b, DWORD n) { return GetShortPathNameW(wide.c_str(), b, n); });
  return shortName.empty() ? path : Narrow(shortName);
}

bool TWin32Platform::GetDiskFreeSpace(const std::string& path, int64_t& freeToCaller, int64_t& total) {
  ULARGE_INTEGER available, size;
  if (!GetDiskFreeSpaceExW(Wide(path).c_str(), &available, &size, nullptr)) return false;
  freeToCaller = static_cast<int64_t>(available.QuadPart);
  total = static_cast<int64_t>(size.QuadPart);
  return true;
}

bool TWin32Platform::MoveFileDelayUntilReboot(const std::string& path) {
  return MoveFileExW(Wide(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool TWin32Platform::WritePrivateProfileString(const std::string& section, const std::string& key,
                                               const std::string& value, const std::string& file) {
  return WritePrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), Wide(value).c_str(),
                                    Wide(file).c_str()) != 0;
}

// --- named mutexes --------------------------------------------------------------------------------------

THandle TWin32Platform::CreateMutex(const std::string& name, bool& alreadyExists) {
  const HANDLE h = CreateMutexW(nullptr, FALSE, Wide(name).c_str());
  alreadyExists = h && GetLastError() == ERROR_ALREADY_EXISTS;
  return h ? reinterpret_cast<THandle>(h) : kInvalidHandle;
}

THandle TWin32Platform::OpenMutex(const std::string& name) {
  const HANDLE h = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, Wide(name).c_str());
  return h ? reinterpret_cast<THandle>(h) : kInvalidHandle;
}

void TWin32Platform::ReleaseMutex(THandle h) {
  if (h != kInvalidHandle) ::ReleaseMutex(H(h));
}

void TWin32Platform::CloseMutex(THandle h) {
  if (h != kInvalidHandle) CloseHandle(H(h));
}

// --- registry -------------------------------------------------------------------------------------------

bool TWin32Platform::RegKeyExists(TRegRoot root, const std::string& path) {
  TKey key(root, path, KEY_READ);
  return key.Get() != nullptr;
}

TRegRead TWin32Platform::RegReadString(TRegRoot root, const std::string& path, const std::string& name,
                                       std::string& value) {
  TKey key(root, path, KEY_READ);
  if (!key.Get()) return TRegRead::Missing;
  const std::wstring wname = Wide(name);
  DWORD kind = 0, size = 0;
  if (RegQueryValueExW(key.Get(), wname.c_str(), nullptr, &kind, nullptr, &size) != ERROR_SUCCESS)
    return TRegRead::Missing;
  if (kind != REG_SZ && kind != REG_EXPAND_SZ) return TRegRead::NotString;
  std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
  DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key.Get(), wname.c_str(), nullptr, &kind, reinterpret_cast<BYTE*>(&buffer[0]),
                       &bytes) != ERROR_SUCCESS)
    return TRegRead::Missing;
  buffer.resize(bytes / sizeof(wchar_t));
  // The stored text may or may not carry its NUL; it ends at the first one.
  const size_t nul = buffer.find(L'\0');
  if (nul != std::wstring::npos) buffer.resize(nul);
  value = Narrow(buffer);
  return TRegRead::Ok;
}

bool TWin32Platform::RegWriteString(TRegRoot root, const std::string& path, const std::string& name,
                                    const std::string& value) {
  const std::wstring w = Wide(value);
  return WriteValue(root, path, name, REG_SZ, w.c_str(),
                    static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t)));
}

bool TWin32Platform::RegWriteDword(TRegRoot root, const std::string& path, const std::string& name,
                                   uint32_t value) {
  const DWORD v = value;
  return WriteValue(root, path, name, REG_DWORD, &v, sizeof v);
}

std::optional<std::vector<std::string>> TWin32Platform::RegSubKeyNames(TRegRoot root,
                                                                       const std::string& path) {
  TKey key(root, path, KEY_READ);
  if (!key.Get()) return std::nullopt;
  DWORD count = 0, longest = 0;
  if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return std::nullopt;
  std::vector<std::string> names;
  std::wstring buffer(longest + 2, L'\0');
  for (DWORD i = 0; i < count; ++i) {
    DWORD length = static_cast<DWORD>(buffer.size());
    if (RegEnumKeyExW(key.Get(), i, &buffer[0], &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.push_back(Narrow(buffer.substr(0, length)));
  }
  return names;
}

bool TWin32Platform::RegKeyHasValues(TRegRoot root, const std::string& path) {
  TKey key(root, path, KEY_READ);
  DWORD values = 0;
  return key.Get() &&
         RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                          nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
         values > 0;
}

bool TWin32Platform::RegDeleteKeyTree(TRegRoot root, const std::string& path) {
  const std::wstring full = KeyPath(path);
  if (full.empty()) return false;
  const size_t slash = full.find_last_of(L'\\');
  if (slash == std::wstring::npos) return DeleteTree(RootKey(root), full);
  HKEY raw = nullptr;
  if (RegOpenKeyExW(RootKey(root), full.substr(0, slash).c_str(), 0, KEY_READ | KEY_WRITE, &raw) !=
      ERROR_SUCCESS)
    return false;
  TKey parent(raw);
  return DeleteTree(parent.Get(), full.substr(slash + 1));
}

// --- modules and resources ------------------------------------------------------------------------------

std::optional<TResourceData> TWin32Platform::FindResource(const std::string& module, const std::string& name,
                                                          const std::string& type) {
  HMODULE handle = nullptr;
  std::shared_ptr<const void> keep;
  if (module.empty()) {
    handle = GetModuleHandleW(nullptr);
  } else {
    handle = LoadLibraryExW(Wide(module).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (handle)
      keep = std::shared_ptr<const void>(
          handle, [](const void* h) { FreeLibrary(static_cast<HMODULE>(const_cast<void*>(h))); });
  }
  if (!handle) return std::nullopt;
  const HRSRC info = FindResourceW(handle, Wide(name).c_str(), Wide(type).c_str());
  if (!info) return std::nullopt;
  const HGLOBAL loaded = LoadResource(handle, info);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return std::nullopt;
  TResourceData result;
  result.Data = static_cast<const uint8_t*>(data);
  result.Size = SizeofResource(handle, info);
  result.Keep = keep;
  return result;
}

// --- shell ----------------------------------------------------------------------------------------------

intptr_t TWin32Platform::ShellExecute(const std::string& operation, const std::string& file,
                                      const std::string& parameters, const std::string& directory,
                                      int showCommand) {
  // Nothing is looked up on the search path or in the current folder.
  if (!IsFullPath(file)) return ERROR_FILE_NOT_FOUND;
  const std::wstring op = Wide(operation), f = Wide(file), params = Wide(parameters), dir = Wide(directory);
  const HINSTANCE r = ShellExecuteW(
      reinterpret_cast<HWND>(OwnerWindow()), operation.empty() ? nullptr : op.c_str(), f.c_str(),
      parameters.empty() ? nullptr : params.c_str(), directory.empty() ? nullptr : dir.c_str(), showCommand);
  return reinterpret_cast<intptr_t>(r);
}

// --- processes ---------------------------------------------------------------------------------------

int32_t TWin32Platform::RunProcessAndWait(const std::string& file, const std::string& parameters,
                                          const std::function<bool()>& stopWaiting) {
  if (!IsFullPath(file)) return kProcessNotStarted;
  std::wstring commandLine = L"\"" + Wide(file) + L"\"";
  if (!parameters.empty()) commandLine += L" " + Wide(parameters);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // The program starts in its own folder: inheriting this process's folder would keep that folder in
  // use (an uninstaller started in the game folder could not remove it).
  const std::wstring folder = Wide(ExtractFilePath(file));
  if (!CreateProcessW(Wide(file).c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process))
    return kProcessNotStarted;
  CloseHandle(process.hThread);
  int32_t result = kProcessStillRunning;
  for (;;) {
    const DWORD wait = WaitForSingleObject(process.hProcess, stopWaiting ? 100 : INFINITE);
    if (wait == WAIT_OBJECT_0) {
      DWORD code = 0;
      result = GetExitCodeProcess(process.hProcess, &code) ? static_cast<int32_t>(code) : kProcessNotStarted;
      break;
    }
    if (wait != WAIT_TIMEOUT) {
      result = kProcessNotStarted;
      break;
    }
    if (stopWaiting()) break;
  }
  CloseHandle(process.hProcess);
  return result;
}

// --- Japanese locale ------------------------------------------------------------------------------------

int TWin32Platform::CompareTextJ(const std::string& a, const std::string& b) {
  const std::wstring x = Wide(a), y = Wide(b);
  const int r = CompareStringW(0x411, NORM_IGNORECASE, x.data(), static_cast<int>(x.size()), y.data(),
                               static_cast<int>(y.size()));
  if (r == CSTR_LESS_THAN) return -1;
  if (r == CSTR_GREATER_THAN) return 1;
  if (r == CSTR_EQUAL) return 0;
  return x < y ? -1 : x > y ? 1 : 0;
}

namespace {

// Maps the case of each character that has another case form; every other byte stays as it is (a
// round trip through UTF-16 would replace duplicate codes such as the NEC-selected IBM rows).
std::string MapCase(const std::string& s, DWORD flag) {
  std::string out;
  out.reserve(s.size());
  for (const auto& chunk : SplitCp932(s)) {
    const char* bytes = s.data() + chunk.first;
    if (chunk.second == 1) {
      char c = bytes[0];
      if (flag == LCMAP_LOWERCASE && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (flag == LCMAP_UPPERCASE && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      out += c;
      continue;
    }
    wchar_t unit, mapped;
    if (Cp932CharToUnit(bytes, 2, unit) && LCMapStringW(0x411, flag, &unit, 1, &mapped, 1) == 1 &&
        mapped != unit) {
      char back[4];
      BOOL usedDefault = FALSE;
      const int n =
          WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, &mapped, 1, back, sizeof back, "?", &usedDefault);
      if (n == 2 && !usedDefault) {
        out.append(back, 2);
        continue;
      }
    }
    out.append(bytes, 2);
  }
  return out;
}

}  // namespace

std::string TWin32Platform::LowerCaseJ(const std::string& s) { return MapCase(s, LCMAP_LOWERCASE); }

std::string TWin32Platform::UpperCaseJ(const std::string& s) { return MapCase(s, LCMAP_UPPERCASE); }

std::unique_ptr<TPlatform> CreateHostPlatform() { return std::make_unique<TWin32Platform>(); }

// --- links and special files ---------------------------------------------------------------------------

TFileKind TWin32Platform::GetFileKind(const std::string& name) {
  const DWORD attr = ::GetFileAttributesW(Wide(name).c_str());
  if (attr == INVALID_FILE_ATTRIBUTES) return TFileKind::None;
  if (attr & FILE_ATTRIBUTE_REPARSE_POINT) return TFileKind::Link;
  if (attr & FILE_ATTRIBUTE_DIRECTORY) return TFileKind::Directory;
  if (attr & FILE_ATTRIBUTE_DEVICE) return TFileKind::Other;
  return TFileKind::File;
}

THandle TWin32Platform::FileCreateNew(const std::string& name) {
  // CREATE_NEW fails on any existing name, a link included; the reparse flag keeps it from being followed.
  const HANDLE h = CreateFileW(Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<THandle>(h);
}

std::string TWin32Platform::LastErrorText() {
  const DWORD code = GetLastError();
  if (code == 0) return std::string();
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n && text ? std::wstring(text, n) : std::wstring();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
    message.pop_back();
  return Narrow(message);
}

bool TWin32Platform::SetCurrentDirectory(const std::string& path) {
  return ::SetCurrentDirectoryW(Wide(path).c_str()) != 0;
}

// --- a folder of the program's own ------------------------------------------------------------------------

namespace {

// "D:P(...)" granting full access to the system, the administrators and the user this process runs
// as, and nothing inherited from the folder above; empty when the user's SID cannot be read.
std::wstring PrivateFolderSddl() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
  std::wstring sddl;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  LPWSTR sid = nullptr;
  if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
    sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
  }
  CloseHandle(token);
  return sddl;
}

}  // namespace

bool TWin32Platform::CreatePrivateDirectory(const std::string& name) {
  const std::wstring sddl = PrivateFolderSddl();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (sddl.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                            &descriptor, nullptr))
    return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  // CreateDirectoryW fails on anything of that name, a link or junction included.
  const bool made = ::CreateDirectoryW(Wide(name).c_str(), &attributes) != 0;
  LocalFree(descriptor);
  return made;
}

bool TWin32Platform::RandomBytes(void* buffer, size_t count) {
  return RtlGenRandom(buffer, static_cast<ULONG>(count)) != FALSE;
}

// --- copies inside the system --------------------------------------------------------------------------

// Win32 has no copy between two open handles (block cloning exists on ReFS only): callers copy through
// their buffers.
int64_t TWin32Platform::FileCopyRange(THandle, int64_t, THandle, int64_t, int64_t) { return -1; }

namespace {
// Views start at a multiple of the allocation granularity (64 KiB).
uint64_t MapGranularity() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwAllocationGranularity;
}
}  // namespace

const uint8_t* TWin32Platform::FileMapView(THandle h, int64_t offset, int64_t count) {
  if (offset < 0 || count <= 0) return nullptr;
  static const uint64_t granularity = MapGranularity();
  const uint64_t start = static_cast<uint64_t>(offset) / granularity * granularity;
  const uint64_t lead = static_cast<uint64_t>(offset) - start;
  if (static_cast<uint64_t>(count) + lead > SIZE_MAX) return nullptr;
  HANDLE mapping = CreateFileMappingA(H(h), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping) return nullptr;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(start >> 32),
                             static_cast<DWORD>(start), static_cast<SIZE_T>(count + lead));
  // The view keeps the mapping alive.
  CloseHandle(mapping);
  return view ? static_cast<const uint8_t*>(view) + lead : nullptr;
}

void TWin32Platform::FileUnmapView(const uint8_t* view, int64_t) {
  static const uint64_t granularity = MapGranularity();
  if (view)
    UnmapViewOfFile(
        reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(view) / granularity * granularity));
}

}  // namespace vr
