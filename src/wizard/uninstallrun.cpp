#include "wizard/uninstallrun.h"

#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/syshelpers.h"
#include "wizard/installjournal.h"
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
  if (std::optional<std::string> home = p.HostHomeFolder()) folders.push_back(*home);
  return folders;
}

}  // namespace

// Listings of folders, each taken once and then kept current with the deletions made through it. A
// name is looked up as spelt on disk, else without regard to case as the file system matches names, so
// a name that is missing or in other letter cases costs no look at the disk (the POSIX layer would read
// the whole folder again for each), and the sweep knows which folders are empty without listing them
// again.
class TFolderListings {
 public:
  struct TEntry {
    std::string Name;
    uint32_t Attr = 0;
    bool Gone = false;
  };
  struct TFolder {
    bool Listed = false;  // false: the folder could not be listed
    std::vector<TEntry> Entries;
    size_t Left = 0;  // entries not gone
    std::unordered_map<std::string_view, size_t> Exact;
    // Lower-cased name -> entries, made at the first name not found as spelt.
    std::unordered_map<std::string, std::vector<size_t>> Folded;
    bool FoldedMade = false;
  };

  // The listing of `folder` (no trailing backslash), taken at its first use.
  TFolder& Of(const std::string& folder) {
    auto [it, inserted] = folders_.try_emplace(folder);
    TFolder& f = it->second;
    if (!inserted) return f;
    if (std::optional<std::vector<TFindData>> list = Platform().ListFolder(folder)) {
      f.Listed = true;
      f.Entries.reserve(list->size());
      for (TFindData& e : *list) f.Entries.push_back(TEntry{std::move(e.Name), e.Attr, false});
      f.Left = f.Entries.size();
      f.Exact.reserve(f.Entries.size());
      for (size_t i = 0; i < f.Entries.size(); ++i) f.Exact.emplace(f.Entries[i].Name, i);
    }
    return f;
  }

  // The entry of `folder` named `name`; nullptr when there is none.
  TEntry* Find(TFolder& folder, const std::string& name) {
    if (auto it = folder.Exact.find(name); it != folder.Exact.end() && !folder.Entries[it->second].Gone)
      return &folder.Entries[it->second];
    TPlatform& p = Platform();
    if (!folder.FoldedMade) {
      folder.FoldedMade = true;
      for (size_t i = 0; i < folder.Entries.size(); ++i)
        folder.Folded[p.LowerCaseJ(folder.Entries[i].Name)].push_back(i);
    }
    if (auto it = folder.Folded.find(p.LowerCaseJ(name)); it != folder.Folded.end())
      for (size_t i : it->second)
        if (!folder.Entries[i].Gone) return &folder.Entries[i];
    return nullptr;
  }

  // Notes that `entry` was deleted or removed.
  static void Remove(TFolder& folder, TEntry& entry) {
    if (entry.Gone) return;
    entry.Gone = true;
    --folder.Left;
  }

 private:
  std::unordered_map<std::string, TFolder> folders_;
};

namespace {

// Removes the empty folders below `folder` deepest first, then `folder` itself when it is empty; links
// go themselves and are never entered. True when `folder` was removed.
bool Sweep(TFolderListings& listings, const std::string& folder, TRunHost* log) {
  TPlatform& p = Platform();
  TFolderListings::TFolder& listing = listings.Of(folder);
  if (!listing.Listed) return false;
  bool changed = false;
  for (TFolderListings::TEntry& e : listing.Entries) {
    if (e.Gone || !(e.Attr & faDirectory)) continue;
    const std::string path = folder + "\\" + e.Name;
    if (e.Attr & faReparsePoint) {
      // A folder link: the link goes, what it points to is never entered.
      if (!p.RemoveDirectory(path)) continue;
      TFolderListings::Remove(listing, e);
      changed = true;
      if (log) log->Log("リンクを削除しました: " + path);
    } else if (Sweep(listings, path, log)) {
      TFolderListings::Remove(listing, e);
      changed = true;
    }
  }
  if (listing.Left != 0 || !p.RemoveDirectory(folder)) {
    // A folder that stays has its removals on the disk; one that goes leaves that to its parent.
    if (changed) p.FolderFlush(folder);
    return false;
  }
  if (log) log->Log("フォルダを削除しました: " + folder);
  return true;
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
  // Another user's profile: a folder directly in the one holding the current user's.
  if (std::optional<std::string> profile = Platform().GetSpecialFolder(0x28)) {
    const std::string users = FolderKey(ExtractFileDir(ExcludeTrailingBackslash(*profile)));
    if (FolderKey(ExtractFileDir(ExcludeTrailingBackslash(key))) == users) return true;
  }
  return false;
}

void RemoveEmptyFolders(const std::string& folder, TRunHost* log) {
  TFolderListings listings;
  Sweep(listings, ExcludeTrailingBackslash(folder), log);
}

TUninstallRun::TUninstallRun(TRunHost& host, const TRovaInstallSet& settings, TUninstallOptions options)
    : host_(host), settings_(settings), options_(std::move(options)), listings_(new TFolderListings) {
  if (!options_.GameFolder.empty()) options_.GameFolder = AddTrailingBackslash(options_.GameFolder);
}

TUninstallRun::~TUninstallRun() = default;

bool TUninstallRun::Execute() {
  host_.SetHeading(settings_.Title + " を削除しています");
  host_.SetStatus("ショートカットを削除しています...");
  host_.ProcessMessages();
  if (host_.AbortRequested()) return false;

  if (options_.Shortcuts) {
    DeleteShortcuts(settings_);
    host_.Log("ショートカットのフォルダを削除しました: " + settings_.Title);
  }
  host_.Wait(3000);
  // The uninstaller is started from the game folder (the shortcut's working folder), and a folder that
  // is this process's current folder could not be removed: the Windows folder takes its place.
  Platform().SetCurrentDirectory(Platform().GetWindowsDirectory());

  host_.SetStatus("ファイルを削除しています...");
  host_.ProcessMessages();
  if (host_.AbortRequested()) return false;

  // From here on the run goes to its end whatever the user does.
  if (IsAbsoluteFolder(options_.GameFolder)) {
    // An install killed in this folder is finished first, so that its backups go too.
    TInstallJournal::Recover(options_.GameFolder, &host_);
    DeleteRecordedFiles();
    if (options_.DeleteSave) DeleteSaveData();
    DeleteBelowGameFolder(kGameIni);
    removedFrom_.FlushAll();
    // The settings file goes last: an uninstall a power cut stopped still finds it, and the next one
    // finishes the work.
    if (settingsRecorded_) DeleteBelowGameFolder(kSettingsFileName);
    RemoveFolders();
    removedFrom_.Add(options_.GameFolder);
    removedFrom_.AddFolderOf(ExcludeTrailingBackslash(options_.GameFolder));
    removedFrom_.FlushAll();
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
  // Each part is taken as the listing of its folder spells it. A link on the way would lead out of the
  // game folder: its files are not touched.
  std::string folder = ExcludeTrailingBackslash(options_.GameFolder);
  const std::vector<std::string> parts = SplitPath(name);
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const TFolderListings::TEntry* sub = listings_->Find(listings_->Of(folder), parts[i]);
    if (!sub) return;
    if (IsLink(sub->Attr)) {
      host_.Log("リンクの先にあるため削除しません: " + name);
      return;
    }
    if (!(sub->Attr & faDirectory)) return;
    folder += "\\" + sub->Name;
  }
  TFolderListings::TFolder& listing = listings_->Of(folder);
  TFolderListings::TEntry* entry = listings_->Find(listing, parts.back());
  if (!entry) return;
  TPlatform& p = Platform();
  const std::string path = folder + "\\" + entry->Name;
  bool deleted = false;
  if (IsLink(entry->Attr)) {
    // A link is deleted itself; its target keeps its attributes.
    deleted = (entry->Attr & faDirectory) ? p.RemoveDirectory(path) : p.DeleteFile(path);
  } else if (!(entry->Attr & faDirectory)) {
    if (entry->Attr & faReadOnly) {
      const uint32_t rest = entry->Attr & ~static_cast<uint32_t>(faReadOnly);
      p.SetFileAttributes(path, rest == 0 ? static_cast<uint32_t>(faNormal) : rest);
    }
    deleted = p.DeleteFile(path);
  }
  if (!deleted) return;
  removedFrom_.Add(folder);
  TFolderListings::Remove(listing, *entry);
  host_.Log("ファイルを削除しました: " + path);
}
void TUninstallRun::DeleteRecordedFiles() {
  for (int i = 0; i < settings_.InstalledFileCount(); ++i) {
    const std::string& name = settings_.InstalledFile(i);
    if (Platform().CompareTextJ(name, kSettingsFileName) == 0)
      settingsRecorded_ = true;
    else
      DeleteBelowGameFolder(name);
  }
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
  const std::string game = ExcludeTrailingBackslash(options_.GameFolder);
  if (!IsProtectedFolder(options_.GameFolder)) {
    Sweep(*listings_, game, &host_);
    return;
  }
  // A game folder that is a drive root, a system folder or a user's home is never swept itself. The
  // folders that held recorded files are the install's: they go with the empty folders below them.
  // The folders above them on the way may be the user's (".config" of ".config\game\x.ini"): they go
  // only when that leaves them empty, and what else lies in them is never looked at.
  std::set<std::string> holders, above;
  for (int i = 0; i < settings_.InstalledFileCount(); ++i) {
    const std::string& name = settings_.InstalledFile(i);
    if (!IsSafeRelativeName(name)) continue;
    const std::vector<std::string> parts = SplitPath(name);
    std::string folder;
    for (size_t j = 0; j + 1 < parts.size(); ++j) {
      if (!folder.empty()) above.insert(folder);
      folder += (folder.empty() ? "" : "\\") + parts[j];
    }
    if (!folder.empty()) holders.insert(folder);
  }
  auto depth = [](const std::string& f) { return std::count(f.begin(), f.end(), '\\'); };
  std::vector<std::string> order(holders.begin(), holders.end());
  // Outer ones first: sweeping a folder covers the holders below it.
  std::sort(order.begin(), order.end(),
            [&](const std::string& a, const std::string& b) { return depth(a) < depth(b); });
  std::vector<std::string> swept;
  TPlatform& p = Platform();
  for (const std::string& folder : order) {
    const bool covered = std::any_of(swept.begin(), swept.end(), [&](const std::string& s) {
      return folder.size() > s.size() && folder.compare(0, s.size() + 1, s + "\\") == 0;
    });
    if (covered) continue;
    swept.push_back(folder);
    const uint32_t attr = p.GetFileAttributes(game + "\\" + folder);
    if (attr == faInvalid || !(attr & faDirectory) || IsLink(attr)) continue;
    Sweep(*listings_, game + "\\" + folder, &host_);
  }
  std::vector<std::string> up(above.begin(), above.end());
  std::sort(up.begin(), up.end(),
            [&](const std::string& a, const std::string& b) { return depth(a) > depth(b); });
  for (const std::string& folder : up) {
    if (holders.count(folder)) continue;
    const std::string path = game + "\\" + folder;
    const uint32_t attr = p.GetFileAttributes(path);
    if (attr == faInvalid || !(attr & faDirectory) || IsLink(attr)) continue;
    if (p.RemoveDirectory(path)) host_.Log("フォルダを削除しました: " + path);
  }
}

}  // namespace vr
