#include "wizard/uninstallrun.h"

#include <algorithm>
#include <set>
#include <vector>

#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/syshelpers.h"
#include "wizard/shortcuts.h"

namespace vr {

namespace {

const char kSaveFile[] = "save.dat";
const char kGameIni[] = "game.ini";

bool IsLink(uint32_t attr) { return attr != faInvalid && (attr & faReparsePoint) != 0; }

// A full folder path: "X:\..." or "\\server\share\...".
bool IsAbsoluteFolder(const std::string& folder) {
  if (folder.size() >= 3 && folder[1] == ':' && IsPathDelimiterAt(folder, 2)) return true;
  return IsPathDelimiterAt(folder, 0) && IsPathDelimiterAt(folder, 1) && folder.size() > 2;
}

// The lower-cased form of a folder, ending in a backslash, for comparisons.
std::string FolderKey(const std::string& folder) {
  return IncludeTrailingBackslash(Platform().LowerCaseJ(folder));
}

std::vector<std::string> CriticalFolders() {
  TPlatform& p = Platform();
  std::vector<std::string> folders = {p.GetWindowsDirectory(), p.GetSystemDirectory()};
  // Desktop, Programs, Documents, Startup, Start menu, desktop folder, all users' Start menu, Programs,
  // Startup and desktop, application data (roaming, local, all users), Windows, system, Program Files
  // (both), common files (both), the user profile and the common documents.
  static const int kCsidls[] = {0x00, 0x02, 0x05, 0x07, 0x0B, 0x10, 0x16, 0x17, 0x18, 0x19, 0x1A,
                                0x1C, 0x23, 0x24, 0x25, 0x26, 0x2A, 0x2B, 0x2C, 0x28, 0x2E};
  for (int csidl : kCsidls) {
    if (std::optional<std::string> folder = p.GetSpecialFolder(csidl)) folders.push_back(*folder);
  }
  // The folder holding the profiles, and the all-users profile (the folder above the common
  // documents and the common desktop).
  for (int csidl : {0x28, 0x2E, 0x19}) {
    if (std::optional<std::string> folder = p.GetSpecialFolder(csidl))
      folders.push_back(ExtractFileDir(ExcludeTrailingBackslash(*folder)));
  }
  return folders;
}

}  // namespace

bool FindSaveData(const TRovaInstallSet& settings, const std::string& gameFolder) {
  if (FileExists(AddTrailingBackslash(gameFolder) + kSaveFile)) return true;
  TStringList folders;
  CollectLocalAppDataFolders(settings.Title, folders);
  for (const std::string& folder : folders.Items())
    if (FileExists(folder + kSaveFile)) return true;
  return false;
}

bool IsProtectedFolder(const std::string& folder) {
  if (!IsAbsoluteFolder(folder)) return true;
  const std::string key = FolderKey(folder);
  // A drive root ("c:\") or a share root ("\\server\share\").
  if (key.size() == 3) return true;
  if (key[0] == '\\') {
    const std::vector<std::string> parts = SplitPath(key.substr(2));
    if (parts.size() <= 3) return true;  // server, share and the empty part after the last backslash
  }
  for (const std::string& critical : CriticalFolders()) {
    if (critical.empty()) continue;
    const std::string c = FolderKey(critical);
    // The folder is a critical one, or holds one.
    if (c.compare(0, key.size(), key) == 0) return true;
  }
  return false;
}

void RemoveEmptyFolders(const std::string& folder, TRunHost* log) {
  TPlatform& p = Platform();
  const std::string base = AddTrailingBackslash(folder);
  if (auto entries = p.ListFolder(base)) {
    for (const TFindData& e : *entries) {
      if (!(e.Attr & faDirectory)) continue;
      if (e.Attr & faReparsePoint) {
        // A folder link: the link goes, what it points to is never entered.
        if (p.RemoveDirectory(base + e.Name) && log) log->Log("リンクを削除しました: " + base + e.Name);
        continue;
      }
      RemoveEmptyFolders(base + e.Name, log);
    }
  }
  std::optional<std::vector<TFindData>> rest = p.ListFolder(base);
  if (rest && rest->empty() && p.RemoveDirectory(ExcludeTrailingBackslash(base)) && log)
    log->Log("フォルダを削除しました: " + ExcludeTrailingBackslash(base));
}

TUninstallRun::TUninstallRun(TRunHost& host, const TRovaInstallSet& settings, TUninstallOptions options)
    : host_(host), settings_(settings), options_(std::move(options)) {
  if (!options_.GameFolder.empty()) options_.GameFolder = AddTrailingBackslash(options_.GameFolder);
}

bool TUninstallRun::Execute() {
  host_.SetHeading(settings_.Title + " を削除しています");
  host_.HideNavigation(false);
  host_.SetCaption("削除");
  host_.SetStatus("ショートカットを削除しています...");
  host_.ProcessMessages();
  if (host_.AbortRequested()) return false;

  if (options_.Shortcuts) {
    DeleteShortcuts(settings_);
    host_.Log("ショートカットのフォルダを削除しました: " + settings_.Title);
  }
  host_.Wait(3000);
  host_.BringToFront();
  // The uninstaller is started from the game folder (the shortcut's working folder), and a folder that
  // is this process's current folder could not be removed: the Windows folder takes its place.
  Platform().SetCurrentDirectory(Platform().GetWindowsDirectory());

  host_.SetStatus("ファイルを削除しています...");
  host_.ProcessMessages();
  if (host_.AbortRequested()) return false;

  // From here on the run goes to its end whatever the user does.
  if (IsAbsoluteFolder(options_.GameFolder)) {
    DeleteRecordedFiles();
    if (options_.DeleteSave) DeleteSaveData();
    DeleteBelowGameFolder(kGameIni);
    RemoveFolders();
  } else {
    host_.Log("ゲームのフォルダが正しくないため、ファイルは削除しません: " + options_.GameFolder);
  }

  host_.SetStatus("レジストリを削除しています...");
  host_.ProcessMessages();
  if (options_.Registry && !settings_.RegistryKey.empty()) {
    settings_.DeleteSettingsKey();
    host_.Log("レジストリキーを削除しました: HKEY_CURRENT_USER\\Software\\" + settings_.RegistryKey);
  }
  host_.Wait(1000);
  return true;
}

void TUninstallRun::DeleteAndLog(const std::string& path) {
  TPlatform& p = Platform();
  const uint32_t attr = p.GetFileAttributes(path);
  if (attr == faInvalid) return;
  // A link is deleted itself; its target keeps its attributes.
  if (!IsLink(attr)) ClearReadOnly(path);
  const bool deleted = (IsLink(attr) && (attr & faDirectory)) ? p.RemoveDirectory(path) : p.DeleteFile(path);
  if (deleted) host_.Log("ファイルを削除しました: " + path);
}

void TUninstallRun::DeleteBelowGameFolder(const std::string& name) {
  if (!IsSafeRelativeName(name) || IsPathDelimiterAt(name, name.size() - 1)) {
    host_.Log("ゲームのフォルダの外を指す名前は削除しません: " + name);
    return;
  }
  // A link on the way would lead out of the game folder: its files are not touched.
  std::string folder = ExcludeTrailingBackslash(options_.GameFolder);
  const std::vector<std::string> parts = SplitPath(name);
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    folder += "\\" + parts[i];
    if (IsLink(Platform().GetFileAttributes(folder))) {
      host_.Log("リンクの先にあるため削除しません: " + name);
      return;
    }
  }
  DeleteAndLog(options_.GameFolder + name);
}

void TUninstallRun::DeleteRecordedFiles() {
  for (int i = 0; i < settings_.InstalledFileCount(); ++i) DeleteBelowGameFolder(settings_.InstalledFile(i));
}

void TUninstallRun::DeleteSaveData() {
  DeleteBelowGameFolder(kSaveFile);
  TStringList folders;
  CollectLocalAppDataFolders(settings_.Title, folders);
  for (const std::string& folder : folders.Items()) {
    if (!FileExists(folder + kSaveFile)) continue;
    DeleteAndLog(folder + kSaveFile);
    if (Platform().RemoveDirectory(ExcludeTrailingBackslash(folder)))
      host_.Log("フォルダを削除しました: " + ExcludeTrailingBackslash(folder));
  }
}

void TUninstallRun::RemoveFolders() {
  const std::string& game = options_.GameFolder;
  if (!IsProtectedFolder(game)) {
    RemoveEmptyFolders(game, &host_);
    return;
  }
  // A game folder that is a drive root or a system folder is never swept: only the folders that held
  // recorded files go when they are empty, deepest first, and the game folder itself stays.
  std::set<std::string> folders;
  for (int i = 0; i < settings_.InstalledFileCount(); ++i) {
    const std::string& name = settings_.InstalledFile(i);
    if (!IsSafeRelativeName(name)) continue;
    std::vector<std::string> parts = SplitPath(name);
    std::string path = ExcludeTrailingBackslash(game);
    for (size_t j = 0; j + 1 < parts.size(); ++j) {
      path += "\\" + parts[j];
      folders.insert(path);
    }
  }
  std::vector<std::string> ordered(folders.begin(), folders.end());
  std::sort(ordered.begin(), ordered.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  TPlatform& p = Platform();
  for (const std::string& folder : ordered) {
    const uint32_t attr = p.GetFileAttributes(folder);
    if (attr == faInvalid || !(attr & faDirectory) || IsLink(attr)) continue;
    std::optional<std::vector<TFindData>> entries = p.ListFolder(folder);
    if (entries && entries->empty() && p.RemoveDirectory(folder))
      host_.Log("フォルダを削除しました: " + folder);
  }
}

}  // namespace vr
