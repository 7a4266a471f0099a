#include "wizard/shortcuts.h"

#include "platform/platform.h"

namespace vr {

TShellLinkType ShortcutGroup() { return Platform().IsNTFamily() ? lnkCommonPrograms : lnkPrograms; }

void CreateShortcuts(const TRovaInstallSet& settings, const std::string& destination, bool openFolder) {
  const TShellLinkType group = ShortcutGroup();
  const std::string& title = settings.Title;
  MakeShortcut(title, destination + settings.GameExe, "", 0, 0, wsNormal, title, group, destination, title);
  const std::string uninstall = title + "のアンインストール";
  MakeShortcut(uninstall, destination + kUninstallerName, "", 1, 0, wsNormal, title, group, destination,
               uninstall);
  if (!settings.ReadmeFile.empty()) {
    const std::string readme = "お読みください";
    MakeShortcut(readme, destination + settings.ReadmeFile, "", 0, 0, wsNormal, title, group, destination,
                 readme);
  }
  if (openFolder) OpenShortcutFolder(group, title);
}

void DeleteShortcuts(const TRovaInstallSet& settings) {
  DeleteShortcutFolder(ShortcutGroup(), settings.Title);
}

}  // namespace vr
