// The wizard's two shortcut steps: the game's folder in the Programs menu (all users on the NT family,
// the current user otherwise), named after the title.
#pragma once

#include <string>

#include "startup/instset.h"
#include "wizard/sysctrls.h"

namespace vr {

// The Programs menu the shortcuts go to on this system.
TShellLinkType ShortcutGroup();

// After an install: the game, uninstall and (with a ReadmeFile) read-me shortcuts in the folder Title,
// then that folder opened in the shell unless openFolder is false. destination: the game folder with a
// trailing backslash.
void CreateShortcuts(const TRovaInstallSet& settings, const std::string& destination, bool openFolder = true);
// In an uninstall: the folder Title with everything in it.
void DeleteShortcuts(const TRovaInstallSet& settings);

}  // namespace vr
