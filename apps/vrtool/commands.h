// The commands of vrtool. Each returns the process exit status (0 success, 1 a check failed) and
// raises an error (exit status 2) for anything else. Arguments are UTF-8 as given on the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrtool {

// Where an archive comes from: a file in any placement, or the "DUMMY"/"BINTYPE" resource of an
// executable.
struct ArchiveSource {
  std::string Path;
  bool Resource = false;
  // Path names a disc image (IMAGE or IMAGE:PATH): the archive's code page 932 path on the image's drive,
  // and, when no PATH was given, the drive's root ("E:\").
  std::string Mounted;
  std::string ImageRoot;
};

struct Options {
  bool Quiet = false;
};

int CmdList(const ArchiveSource& src, bool json);
int CmdCat(const ArchiveSource& src, const std::string& name);
int CmdExtract(const ArchiveSource& src, const std::string& dir, const std::vector<std::string>& names,
               const Options& opt);
int CmdVerify(const ArchiveSource& src, const Options& opt);
// threads: encoding threads, 0 for one per processor (the archive is the same for any number).
int CmdPack(const std::string& dir, const std::string& out, bool scramble,
            const std::vector<std::string>& separate, unsigned threads, const Options& opt);
int CmdMerge(const std::string& dataFile, const ArchiveSource& source, const Options& opt);
int CmdAppend(const std::string& program, const std::string& archive);

// install MEDIUM -d DIR: MEDIUM is a package folder (install.dat and game.dat) or an archive file.
struct InstallOptions {
  std::string Medium;
  std::string Destination;
  std::string Components;  // "data,sound,movie" (any of them); empty: all
  std::string MediaDirs;   // folders of the further media, separated by ';'
  std::string LogFile;
  std::vector<std::string> MoreMedia;  // further media named after MEDIUM (disc images or folders)
  // Install into this Wine prefix as the setup program would there (shortcuts and registry included);
  // Destination may then be empty (the proposed folder) or a Windows path.
  std::string WinePrefix;
  bool NoFonts = false;  // with WinePrefix: leave the prefix's font settings alone
};
int CmdInstall(const InstallOptions& io, const Options& opt);

// uninstall DIR: DIR is an installed game's folder (its install.dat names the installed files).
struct UninstallOptions {
  std::string GameFolder;
  bool DeleteSave = false;
  std::string LogFile;
  std::string WinePrefix;  // the shortcuts and registry values of this Wine prefix go too
};
int CmdUninstall(const UninstallOptions& uo, const Options& opt);

// check DIR / repair DIR: an installed game against its install.dat and its media (package folders:
// the first medium, then the further ones). Exit 0 healthy (or repaired), 1 damage found (or left).
struct CheckOptions {
  std::string GameFolder;
  std::string Medium;
  std::string MediaDirs;  // further media, separated by ';'
  std::string LogFile;
  bool Json = false;
};
int CmdCheck(const CheckOptions& co, const Options& opt);
int CmdRepair(const CheckOptions& co, const Options& opt);

// start DIR: the installed game under Wine in a Japanese locale; or its desktop launcher.
struct StartOptions {
  std::string GameFolder;
  std::string WinePrefix;  // empty: $WINEPREFIX, else Wine's default
  std::string Wine;        // empty: "wine" on PATH
  bool DesktopEntry = false;
  std::vector<std::string> Arguments;
};
int CmdStart(const StartOptions& so, const Options& opt);

int CmdSettingsShow(const std::string& file, bool fromArchive, bool json);
int CmdSettingsBuild(const std::string& jsonFile, const std::string& out);

// disc info IMAGE: the image's volume, file system, tracks and the package it holds.
int CmdDiscInfo(const std::string& image);
// disc convert IMAGE -o OUT: the image's first data track as an ISO of 2048-byte sectors, written beside
// OUT under a temporary name and renamed into place; nothing is left when it fails.
int CmdDiscConvert(const std::string& image, const std::string& out, const Options& opt);
// disc verify IMAGE... --dat FILE: each image's files (a sheet or descriptor and the files it names)
// against the games of a Logiqx DAT; 0 when every image is a good dump of one game, 1 when not, a
// ToolError (2) for a DAT that cannot be read.
int CmdDiscVerifyDat(const std::vector<std::string>& images, const std::string& dat, const Options& opt);
// verify IMAGE: every archive on the image.
int CmdVerifyDisc(const ArchiveSource& src, const Options& opt);

// media build PROJECT -o OUT: the media of a studio's project file; media check: a set of media (folders
// or disc images) complete and agreeing with their install.dat (exit 1 when not).
struct MediaBuildOptions {
  std::string Project;
  std::string Out;
  std::string Setup;  // replaces the project's setup program when not empty
  bool Iso = false;
  unsigned Threads = 0;
};
int CmdMediaBuild(const MediaBuildOptions& mo, const Options& opt);
int CmdMediaCheck(const std::vector<std::string>& media, const Options& opt);

int CmdImageInfo(const std::string& file, uint32_t seed);
int CmdImageConvert(const std::string& file, uint32_t seed, int frame, const std::string& out);

}  // namespace vrtool
