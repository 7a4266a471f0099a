// The install's size and destination as plain functions: what the chosen file groups need, the
// folder proposed for the game, and the check made before anything is written. The wizard's choice
// pages and the unattended mode both decide with these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vr {

class TRovaInstallSet;

extern const char* const kBadDestinationText;
extern const char* const kLowSpaceQuestion;

// The byte count of one medium from a per-medium list of the settings; 0 for a medium it does not
// list or a negative count.
int64_t SettingsSizeAt(const std::vector<int64_t>& sizes, int32_t index);

// Bytes the install needs: the base files and the chosen groups, of every medium or of this one.
uint64_t RequiredInstallBytes(const TRovaInstallSet& settings, bool allMedia, bool data, bool sound,
                              bool movie);

struct TProposedDestination {
  // The folder proposed: the recorded "InstallPath" when it exists, else the package's default.
  std::string Path;
  // The part appended to a folder picked later; empty when Path exists.
  std::string SubFolder;
};
TProposedDestination ProposeInstallFolder(const TRovaInstallSet& settings);

// Megabytes free to the caller on drive `letter`; 0 when the drive is unknown.
int32_t FreeMegabytesOn(char letter);

// The install folder (with a trailing backslash) for the folder the user named; a system install
// goes into the Windows folder.
std::string InstallDestination(const TRovaInstallSet& settings, const std::string& named);

enum class TDestinationCheck {
  dcOk,
  dcBad,       // too short, or an add-on's folder without the game
  dcLowSpace,  // less free space than required
};
// The check made before the copy starts; `named` is the folder as the user gave it.
TDestinationCheck CheckInstallDestination(const TRovaInstallSet& settings, const std::string& named,
                                          uint64_t requiredBytes);

}  // namespace vr
