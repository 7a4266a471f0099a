// The check run: looks at an installed game against its "install.dat" and, when given, its media.
// Every recorded file present, every entry of the data file matching its CRC-32, and (with the media)
// every loose file equal to the medium's copy and every separate entry matching the archive's CRC.
// Nothing is written. Recorded names are untrusted: a name that would leave the game folder or pass
// through a link is reported, never followed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "startup/instset.h"
#include "wizard/runhost.h"

namespace vr {

class TVrFileCollection;

enum class TFileState {
  fsOk,
  fsMissing,
  fsDamaged,    // differs from the medium's copy, or a data file entry in it fails its check
  fsRefused,    // the name leaves the game folder or passes through a link
  fsUnchecked,  // present; no medium holds a copy to compare it with
};

struct TCheckedFile {
  std::string Name;  // as recorded in install.dat
  TFileState State = TFileState::fsOk;
  // Where the medium's copy lies (a loose file's path, or the archive holding the separate entry), for
  // a repair; empty when no medium has it.
  std::string Source;
  // The entry's index in that archive for a separate entry; -1 for a loose file.
  int SourceEntry = -1;
  int SourceMedium = -1;
};

struct TCheckReport {
  std::vector<TCheckedFile> Files;
  // Entries of the data file that fail their check (missing bytes included).
  std::vector<std::string> BadEntries;
  // The data file's directory (or its first part) cannot be read at all.
  bool DataFileUnreadable = false;
  // The directory reads, but disagrees with the media's archives (an entry's name, size, kind, time
  // or checksum that no medium has, or a medium's entry it lacks).
  bool DirectoryDiffers = false;
  bool HasDataFile = false;

  int Count(TFileState state) const;
  bool Healthy() const;
  // "N files checked, K missing, J damaged: names" (English; the console prints it).
  std::string Summary() const;
};

// The media of a check or repair: folders, each holding a medium of the installed game (its
// "install.dat" names the title), in the order they are to be read.
struct TCheckOptions {
  std::string GameFolder;
  std::vector<std::string> Media;
};

class TCheckRun {
 public:
  TCheckRun(TRunHost& host, TCheckOptions options);
  ~TCheckRun();

  // The game folder's settings ("install.dat" with the uninstaller flag): EVrError when there is none.
  // Media of another title are refused with EVrError naming the folder.
  TCheckReport Execute();

  const TRovaInstallSet& Settings() const { return settings_; }
  // The media's archives, open (index as in TCheckOptions::Media); valid after Execute.
  TVrFileCollection& MediumArchive(int index) const { return *archives_[static_cast<size_t>(index)]; }
  int MediaCount() const { return static_cast<int>(archives_.size()); }

 private:
  void OpenMedia();
  void CheckDataFile(TCheckReport& report);
  bool DirectoryMatchesMedia(const TVrFileCollection& installed);
  TCheckedFile CheckFile(const std::string& name, bool isDataFile);

  TRunHost& host_;
  TCheckOptions options_;
  TRovaInstallSet settings_;
  std::vector<std::unique_ptr<TVrFileCollection>> archives_;
};

// True for the names of the data file, its directory and its part files ("game.dat", "game.ext",
// "game.001" ...), which the data file check covers.
bool IsDataFileName(const std::string& name);

}  // namespace vr
