#include "wizard/sysctrls.h"

#include <memory>

#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "startup/syshelpers.h"

namespace vr {

namespace {

const char kSpecialFolderError[] = "Error in GetSpecialFolderLocation";

// A subfolder below a special folder: every part a plain name. A ".." part, an empty part (doubled,
// leading or trailing delimiter), a drive, or a part of dots and spaces only (which Windows shortens
// to "." or "") would reach the special folder itself or leave it.
bool IsPlainSubFolder(const std::string& subDir) {
  for (const std::string& part : SplitPath(subDir)) {
    if (part.empty() || part.find(':') != std::string::npos) return false;
    if (part.find_first_not_of(". ") == std::string::npos) return false;
  }
  return true;
}

}  // namespace

TShellLink::TShellLink(TComponent* owner) : TComponent(owner) {}

void TShellLink::SetFileName(const std::string& value) {
  if (value == fileName_) return;
  fileName_ = value;
  if (Description.empty()) Description = ChangeFileExt(ExtractFileName(value), "");
  if (WorkDir.empty()) {
    std::string folder = ExtractFilePath(value);
    // "C:\" keeps its backslash; any other folder loses it.
    if (!(folder.size() == 3 && folder[1] == ':')) folder = ExcludeTrailingBackslash(folder);
    WorkDir = folder;
  }
}

std::string TShellLink::Folder() const {
  if (!SubDir.empty() && !IsPlainSubFolder(SubDir))
    throw EShellLinkError(Format("ショートカットのフォルダ名が正しくありません:%s", {SubDir}));
  const std::optional<std::string> special = Platform().GetSpecialFolder(LinkType);
  if (!special) throw EShellLinkError(kSpecialFolderError);
  std::string folder = IncludeTrailingBackslash(*special);
  if (!SubDir.empty()) folder += IncludeTrailingBackslash(SubDir);
  return folder;
}

void TShellLink::CreateLink() {
  if (fileName_.empty()) SetFileName(Platform().ModuleFileName());
  uint16_t hotKey = HotKey & 0x1FFF;
  if (HotKey & hkShift) hotKey += 0x100;
  if (HotKey & hkCtrl) hotKey += 0x200;
  if (HotKey & hkAlt) hotKey += 0x400;
  const std::string folder = Folder();
  ForceDirectories(folder);

  TShellLinkData link;
  link.Description = Description;
  link.Target = fileName_;
  link.WorkDir = WorkDir;
  link.Arguments = Arguments;
  link.HotKey = hotKey;
  link.ShowCommand = WindowState == wsMinimized ? 6 : WindowState == wsMaximized ? 3 : 1;
  link.IconLocation = fileName_;
  link.IconIndex = IconIndex;
  switch (Platform().SaveShellLink(link, folder + Name + ".lnk")) {
    case TShellLinkResult::NoLinkObject:
      throw EVrError("ショートカットのオブジェクトを作成できません");
    case TShellLinkResult::NoPersistence:
      throw EShellLinkError("Error in QueryInterface");
    case TShellLinkResult::Saved:
    case TShellLinkResult::SaveFailed:  // not reported: the installation itself is complete
      break;
  }
}

void TShellLink::OpenFolder() {
  const std::string folder = Folder();
  Platform().ShellExecute("open", folder, "", folder, kShowWindow);
}

void TShellLink::DeleteFolder() {
  if (SubDir.empty()) return;
  const std::string folder = ExcludeTrailingBackslash(Folder());
  // A link on the way (the folder itself or a level of SubDir) is removed itself, never entered.
  const std::string special = ExcludeTrailingBackslash(folder.substr(0, folder.size() - SubDir.size()));
  std::string level = special;
  for (const std::string& part : SplitPath(SubDir)) {
    level += "\\" + part;
    const uint32_t attr = Platform().GetFileAttributes(level);
    if (attr == faInvalid) return;
    if (attr & faReparsePoint) {
      if (level == folder && ((attr & faDirectory) == 0 || !Platform().RemoveDirectory(level)))
        Platform().DeleteFile(level);
      return;
    }
  }
  DeleteTree(folder);
}

void MakeShortcut(const std::string& name, const std::string& fileName, const std::string& arguments,
                  int32_t iconIndex, uint16_t hotKey, TWindowState windowState, const std::string& subDir,
                  TShellLinkType linkType, const std::string& workDir, const std::string& description) {
  std::unique_ptr<TShellLink> link(new TShellLink(Application));
  link->Name = name;
  link->fileName_ = fileName;
  link->Arguments = arguments;
  link->Description = description;
  link->WorkDir = workDir;
  link->LinkType = linkType;
  link->SubDir = subDir;
  link->WindowState = windowState;
  link->HotKey = hotKey;
  link->IconIndex = iconIndex;
  link->CreateLink();
}

void DeleteShortcutFolder(TShellLinkType linkType, const std::string& subDir) {
  std::unique_ptr<TShellLink> link(new TShellLink(Application));
  link->LinkType = linkType;
  link->SubDir = subDir;
  link->DeleteFolder();
}

void OpenShortcutFolder(TShellLinkType linkType, const std::string& subDir) {
  std::unique_ptr<TShellLink> link(new TShellLink(Application));
  link->LinkType = linkType;
  link->SubDir = subDir;
  link->OpenFolder();
}

}  // namespace vr
