// The install's choices, size and destination as plain functions: the file group of a file, the
// choices made from a host's answers, what the chosen groups need, the folder proposed for the game,
// and the check made before anything is written. The wizard's choice pages, the unattended mode and
// the command-line tool all decide with these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vr {

class TRovaInstallSet;

extern const char* const kBadDestinationText;
extern const char* const kLowSpaceQuestion;

// The file groups a loose file can belong to, by its extension.
enum class TFileGroup { fgOther, fgSound, fgMovie };
// Case-insensitive: ".mp2.mp3.wma.wav.mid.ogg" sound, ".avi.wmv.asf.mpg.mpeg" movie; a substring test.
TFileGroup FileGroupOf(const std::string& extension);

// What the user chose before the run.
struct TInstallChoices {
  // The folder holding the package's loose files, its "install.dat" and "game.dat".
  std::string SourceFolder;
  // The install folder (with a trailing backslash).
  std::string Destination;
  // Every medium, or only the one the settings describe.
  bool AllMedia = false;
  // The file groups: scenario and graphics (the data file), sound, movie.
  bool Data = false;
  bool Sound = false;
  bool Movie = false;
  // Bytes the run is expected to handle, for the progress bar and the free-space check.
  uint64_t RequiredBytes = 0;
  // Programs-menu shortcuts, and the folder window shown after them.
  bool Shortcuts = true;
  bool OpenShortcutFolder = true;
  // The read-me opened after the install, when the package asks for it.
  bool OpenReadme = true;
  // The per-user "InstallPath" value.
  bool Registry = true;
};

// The choices of an install from a host's answers: `named` is the folder as the user gave it, the
// groups are those the user ticked. Groups count only where the package lets the user choose them (a
// full install takes every group, a system install and an add-on none); the destination and the bytes
// required follow from the settings.
TInstallChoices MakeInstallChoices(const TRovaInstallSet& settings, const std::string& sourceFolder,
                                   const std::string& named, bool allMedia, bool data, bool sound,
                                   bool movie);

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
  dcBad,           // too short, a file in the folder's place, or a drive that does not exist
  dcSystemFolder,  // a drive's root, the Windows folder or a folder in it, a system or profile root
  dcNoGame,        // an add-on's folder without the game it adds to
  dcLowSpace,      // less free space than required
};
// The check every host makes before the run starts; `named` is the folder as the user gave it. Only
// dcOk and dcLowSpace (when the user accepts it) let a run start.
TDestinationCheck CheckInstallDestination(const TRovaInstallSet& settings, const std::string& named,
                                          uint64_t requiredBytes);
// For an add-on: true when `folder` holds the game of that title (an "install.dat" with the title, or
// a one-executable game whose appended archive is sound and carries the title).
bool HoldsGameForAddon(const TRovaInstallSet& settings, const std::string& folder);

}  // namespace vr
