// Opening archives for the commands and decoding entries without holding large contents in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/vrfiles.h"
#include "commands.h"

namespace vrtool {

// The archive's code page 932 path: on a disc image's drive, or the host path given.
std::string ArchivePath(const ArchiveSource& src);

// The archive in any placement; a ToolError or the library's error when it cannot be opened.
std::unique_ptr<vr::TVrFileCollection> OpenArchive(const ArchiveSource& src);

// Version of the directory the collection was loaded from (0, 100, 101, 102, ...).
int DirectoryVersion(const ArchiveSource& src);

// Number of real entries: the collection without its end marker.
int EntryCount(const vr::TVrFileCollection& archive);

// The entry for a name given on the command line (UTF-8; "/" also separates folders); nullptr when
// absent. Superseded entries ("/" in front) are never found.
vr::TVrFile* FindEntry(vr::TVrFileCollection& archive, const std::string& utf8Name);

// Decodes an entry's content into `sink` in pieces; every storage kind is streamed. `progress` receives the
// stored bytes consumed so far.
using TSink = std::function<void(const uint8_t* data, size_t size)>;
void DecodeEntry(vr::TVrFileCollection& archive, vr::TVrFile& entry, const TSink& sink,
                 const std::function<void(int64_t)>& progress = nullptr);

// The decoded content of a named entry (or of the loose file the reader falls back to).
void ReadArchiveEntry(const ArchiveSource& src, const std::string& cp932Name, vr::TMemoryStream& out);

// Every file below `folder` (code page 932), as names relative to it with "\" between folder levels
// ("prefix\" in front when `prefix` is not empty), sorted by bytes within each folder. Only regular files
// and folders are taken: a link, a pipe or a device is a ToolError naming it, and so are a name Windows
// cannot hold and two names it cannot tell apart. `shown` is the folder as the
// user named it (UTF-8), for messages; `depth` is 0 for the top.
void CollectFiles(const std::string& folder, const std::string& shown, const std::string& prefix,
                  std::vector<std::string>& names, int depth);

// Lower-case extension with the dot ("" when none), of a code page 932 name.
std::string LowerExt(const std::string& name);

}  // namespace vrtool
