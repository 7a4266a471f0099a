// The shortcut component: writes a shell link (.lnk) into a shell special folder, opens such a folder in
// the shell and deletes a subfolder of it.
#pragma once

#include <cstdint>
#include <string>

#include "framework/forms.h"
#include "framework/sysutils.h"

namespace vr {

// Each value is the shell's special-folder number (CSIDL) it stands for.
enum TShellLinkType : uint8_t {
  lnkDesktop = 0,
  lnkReserved1 = 1,
  lnkPrograms = 2,
  lnkControls = 3,
  lnkPrinters = 4,
  lnkPersonal = 5,
  lnkFavorites = 6,
  lnkStartup = 7,
  lnkRecent = 8,
  lnkSendTo = 9,
  lnkBitBucket = 10,
  lnkStartMenu = 11,
  lnkReserved2 = 12,
  lnkReserved3 = 13,
  lnkReserved4 = 14,
  lnkReserved5 = 15,
  lnkDesktopDirectory = 16,
  lnkDrives = 17,
  lnkNetwork = 18,
  lnkNetHood = 19,
  lnkFonts = 20,
  lnkTemplates = 21,
  lnkCommonStartMenu = 22,
  lnkCommonPrograms = 23,
  lnkCommonStartup = 24,
  lnkCommonDesktopDirectory = 25,
  lnkAppData = 26,
  lnkPrintHood = 27,
};

enum TWindowState : uint8_t { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

// Hot-key modifier bits of TShellLink::HotKey (the key code is in the low byte).
enum : uint16_t { hkShift = 0x2000, hkCtrl = 0x4000, hkAlt = 0x8000 };

class EShellLinkError : public Exception {
 public:
  using Exception::Exception;
};

class TShellLink : public TComponent {
 public:
  explicit TShellLink(TComponent* owner);

  std::string Arguments;
  std::string Description;
  const std::string& FileName() const { return fileName_; }
  // Stores a new target; an empty Description becomes its name without folder and extension, an empty
  // WorkDir its folder.
  void SetFileName(const std::string& value);
  int32_t IconIndex = 0;
  uint16_t HotKey = 0;
  TShellLinkType LinkType = lnkDesktop;
  TWindowState WindowState = wsNormal;
  std::string WorkDir;
  // Folder below the special folder; may span levels ("a\b"), may be empty. A ".." or empty part or a
  // drive is refused with EShellLinkError.
  std::string SubDir;
  // Shortcut file name without ".lnk".
  std::string Name;

  // Writes <special folder>\<SubDir>\<Name>.lnk, creating the folders. EShellLinkError when the special
  // folder is unknown or SubDir is refused, or "Error in QueryInterface"; EVrError when the shell's link
  // object cannot be created. A shortcut that cannot be saved is not reported.
  void CreateLink();
  // Opens <special folder>\<SubDir> in the shell.
  void OpenFolder();
  // Deletes <special folder>\<SubDir> with everything in it; nothing when SubDir is empty. Links met
  // inside are removed themselves, never followed. Single failures are skipped.
  void DeleteFolder();

 private:
  friend void MakeShortcut(const std::string&, const std::string&, const std::string&, int32_t, uint16_t,
                           TWindowState, const std::string&, TShellLinkType, const std::string&,
                           const std::string&);
  // The special folder with SubDir, ending in a backslash.
  std::string Folder() const;

  std::string fileName_;
};

// Each creates a TShellLink, uses it once and frees it.
void MakeShortcut(const std::string& name, const std::string& fileName, const std::string& arguments,
                  int32_t iconIndex, uint16_t hotKey, TWindowState windowState, const std::string& subDir,
                  TShellLinkType linkType, const std::string& workDir, const std::string& description);
void DeleteShortcutFolder(TShellLinkType linkType, const std::string& subDir);
void OpenShortcutFolder(TShellLinkType linkType, const std::string& subDir);

}  // namespace vr
