// The media builder: a studio's project file (settings, the loose files, the archive's content, the
// setup program, the capacity of one medium) turned into finished media folders disc1 ... discN, each
// with setup.exe, its install.dat, its share of the archive as game.dat, its loose files and an
// autorun.inf, optionally with an ISO image of each; and the count of a medium's bytes that the
// install.dat of a medium must agree with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settingsjson.h"

namespace vrtool {

// A project file with its paths resolved (relative paths are relative to the project file's folder).
struct TMediaProject {
  std::string Shown;  // the project file as named (UTF-8)
  Json Settings;      // the "settings" object, in the form `settings build` takes
  // Folders of the loose files and of the archive's content (code page 932, no trailing backslash;
  // empty when the project names none) and as the project names them (UTF-8).
  std::string Files, FilesShown;
  std::string Archive, ArchiveShown;
  std::vector<std::string> Separate;  // entry names (code page 932)
  bool Scramble = false;
  int64_t Capacity = 0;  // bytes of one medium
  std::string Setup, SetupShown;
  std::string Volume;  // label of the first medium; further media add "_2", "_3", ...
};

// Reads and checks the project file; `setup`, when not empty, replaces the project's setup program.
// A ToolError naming the field for anything missing, misspelt or of the wrong kind.
TMediaProject LoadMediaProject(const std::string& utf8File, const std::string& setup);

// The bytes of a medium the install run takes, by file group: the loose files its install.dat lists
// (sorted into program, sound and movie files by extension, as the run sorts them) and the stored
// bytes of the entries of its game.dat that go into the installed data file.
struct TMediumSizes {
  int64_t Base = 0, Data = 0, Sound = 0, Movie = 0;
  bool operator==(const TMediumSizes& o) const {
    return Base == o.Base && Data == o.Data && Sound == o.Sound && Movie == o.Movie;
  }
};
// `folder`: the medium's root (code page 932, with a trailing backslash).
TMediumSizes CountMedium(const std::string& folder, const vr::TRovaInstallSet& settings);

struct TMediaBuildOptions {
  bool Iso = false;
  unsigned Threads = 0;   // encoding threads of the archives; 0: one per processor
  bool Progress = false;  // a progress bar on stderr while each archive is written
};

struct TBuiltMedium {
  std::string Name;  // "disc1", ...
  int Files = 0;
  int64_t Bytes = 0;      // of the files
  int64_t DiscBytes = 0;  // of its ISO 9660 image (written or not)
  TMediumSizes Sizes;
};

// Writes the media into the folder `out` (UTF-8), which must not exist or be empty. Everything is
// written into a folder beside it and renamed into place once every medium was written and read back;
// a failure leaves `out` as it was.
std::vector<TBuiltMedium> BuildMedia(const TMediaProject& project, const std::string& out,
                                     const TMediaBuildOptions& options);

}  // namespace vrtool
