// Runs of install and uninstall inside a Wine prefix: the prefix's platform for the length of a command,
// and the Japanese fonts Wine needs there when the locale is not Japanese.
#pragma once

#include <memory>
#include <string>

namespace vr {
class TWinePrefixPlatform;
class TPlatform;
}  // namespace vr

namespace vrtool {

// While it lives, the process's platform is the Wine prefix's (drives, registry, special folders).
// ToolError when PFX is no prefix, or when a Wine server runs for it: the server holds the registry in
// memory and would write its copy over what the run writes.
class TWinePrefixScope {
 public:
  explicit TWinePrefixScope(const std::string& utf8Prefix);
  ~TWinePrefixScope();
  TWinePrefixScope(const TWinePrefixScope&) = delete;
  TWinePrefixScope& operator=(const TWinePrefixScope&) = delete;

  vr::TWinePrefixPlatform& Prefix() { return *platform_; }
  // DIR as the run's folder (code page 932, trailing backslash): a Windows path ("C:\Games\x") as it
  // is, a host path on the drive that holds it. ToolError when only the drive of the whole host ("Z:")
  // reaches it: the game would lie outside the prefix.
  std::string FolderOnDrive(const std::string& utf8Dir);
  // The host path (UTF-8) of a Windows path in the prefix.
  std::string HostPath(const std::string& windowsPath);

 private:
  std::unique_ptr<vr::TWinePrefixPlatform> platform_;
  vr::TPlatform* previous_ = nullptr;
  std::string name_;
};

// Links Japanese fonts into the prefix where it has none of its own: Wine's system links for the
// fonts it draws captions and dialogs with, and replacements for the Japanese font names programs ask
// for. Values already there are kept. Prints what it did, or why it did nothing.
void SetUpJapaneseFonts(vr::TWinePrefixPlatform& prefix, bool quiet);

}  // namespace vrtool
