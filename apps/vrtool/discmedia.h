// Disc images as media and archive sources of the commands. Each image named on the command line is
// opened once and served as a drive of its own ("E:\") by a platform that wraps the host's, so the
// archive reader and the install run read it as they read a folder.
#pragma once

#include <string>
#include <vector>

#include "commands.h"

namespace vrtool {

// True when the file (a UTF-8 path) is a disc image: a CUE sheet (".cue"), an MDS, CCD or NRG image (by
// its extension), raw 2352-byte sectors, or an ISO 9660 or UDF file.
bool IsDiscImage(const std::string& utf8Path);

// Opens the image and serves it as a drive; returns the drive's root ("E:\"). An image named twice gets
// the drive it got the first time. A ToolError or an image error when it cannot be opened.
std::string MountImage(const std::string& utf8Path);

// IMAGE or IMAGE:PATH in src.Path: sets src.Mounted to the archive's path on the image's drive (PATH,
// or without it the package's data archive) and, without PATH, src.ImageRoot to the drive's root.
// False, changing nothing, when src.Path names no image.
bool ResolveImageSource(ArchiveSource& src);

// The package's data archive in a folder (code page 932, trailing backslash): "game.dat", or else a
// program there with an archive appended. Empty when there is neither.
std::string PackageArchiveIn(const std::string& folder);

// The media of an install as the run takes them: the first medium (code page 932: a folder with a
// trailing backslash, or an archive file) and the folders of the further media (UTF-8, medium 2 first).
struct TInstallMedia {
  std::string Medium;
  std::vector<std::string> Further;
};
// Without images and with one medium named: that medium and the --media-dirs folders, unchanged.
// Otherwise every named medium (image or package folder) and every --media-dirs folder is placed by the
// DiskIndex of its install.dat; another title, the same disc twice or a missing disc is an error
// before anything is written.
TInstallMedia PlanInstallMedia(const InstallOptions& io);

}  // namespace vrtool
