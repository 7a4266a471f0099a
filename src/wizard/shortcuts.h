// The wizard's two steps over the Programs menu: the game's folder with its shortcuts after an
// install, and that folder taken away by the uninstaller.
#pragma once

#include <string>

namespace vr {

class TRovaInstallSet;

// destination: the install folder with a trailing backslash.
void CreateShortcuts(const TRovaInstallSet& settings, const std::string& destination);
void DeleteShortcuts(const TRovaInstallSet& settings);

}  // namespace vr
