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
};
int CmdInstall(const InstallOptions& io, const Options& opt);

// uninstall DIR: DIR is an installed game's folder (its install.dat names the installed files).
struct UninstallOptions {
  std::string GameFolder;
  bool DeleteSave = false;
  std::string LogFile;
};
int CmdUninstall(const UninstallOptions& uo, const Options& opt);

int CmdSettingsShow(const std::string& file, bool fromArchive, bool json);
int CmdSettingsBuild(const std::string& jsonFile, const std::string& out);

int CmdImageInfo(const std::string& file, uint32_t seed);
int CmdImageConvert(const std::string& file, uint32_t seed, int frame, const std::string& out);

}  // namespace vrtool
