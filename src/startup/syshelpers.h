// Free helpers for operating-system services and for path, file and stream chores. None keeps state
// between calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "framework/classes.h"
#include "platform/platform.h"

namespace vr {

// True for an administrator on the NT family (the shell's own test; false when it cannot be found),
// always true on the 9x family.
bool IsAdministrator();

// A new named mutex for one instance per name; kInvalidHandle when another process holds the name
// (the handle obtained is released and closed again) or when it cannot be created.
THandle CreateSingleInstanceMutex(const std::string& name);
void ReleaseSingleInstanceMutex(THandle handle);
bool MutexExists(const std::string& name);

// Appends "\" unless the path already ends with a delimiter; "" becomes "\". Double-byte aware.
std::string AddTrailingBackslash(const std::string& path);

// An existing file (not a folder) / an existing folder.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates the folder and every missing folder above it; true when the folder exists afterwards.
bool ForceDirectories(const std::string& folder);
// Clears the read-only attribute of an existing file, keeping its other attributes (never writing 0).
void ClearReadOnly(const std::string& path);

// Last write time of a file as a DOS date-time; -1 when it cannot be read.
int64_t FileAge(const std::string& path);
// Removes the folder with everything in it. Failures are ignored. A symbolic link or junction met on
// the way (the folder itself included) is removed itself, never followed.
void DeleteTree(const std::string& folder);

// Path of a shell special folder (CSIDL number); EVrError when the shell cannot resolve it.
std::string GetSpecialFolder(int csidl);
// Drive of the system folder, such as "C:".
std::string GetSystemDrive();

// Appends to `list` the existing folder <local application data>\<subFolder>\ of every user profile
// (NT family only) and returns the list's count afterwards; 0 when nothing could be looked at.
int CollectLocalAppDataFolders(const std::string& subFolder, TStringList& list);

// Schedules the file for deletion at the next restart. Failures are not reported.
void DeleteOnRestart(const std::string& path);

// Copies source to destination (overwriting). With compare set, an existing destination with the same
// time stamp and size is left alone. True when the destination holds the file afterwards.
bool CopyFileIfChanged(const std::string& source, const std::string& destination, bool compare);

// Size of a file opened with the default read mode (FileMode); 0 when it cannot be opened. The full
// 64-bit size: files of 2 GiB and more never count as negative.
int64_t FileSizeOf(const std::string& path);

// folder + name for a name from a file (install.dat, an archive, a journal) that may be joined below the
// folder: "" when the name leaves it (IsSafeRelativeName) or one of its folders is a link or junction.
// The last part itself may be anything (the caller decides what to do with a link there).
std::string SafePathBelow(const std::string& folder, const std::string& name);

// The system's reason for the last failed file call, as a line to append to a message ("\r\n(" +
// reason + ")"); "" when the system gives none.
std::string SystemReason();

// Decimal text with "," between groups of three digits: 12345 -> "12,345".
std::string FormatThousands(int64_t value);

// Collects entries of `folder` into `list` as full paths.
// Selected: folders when `mask` has faDirectory; files when one of their attribute bits is in `mask`,
// or when `plain` is set and they carry none of the six standard bits. Files must also have the
// extension `ext` (with the dot, any case) unless it is empty. Folders get a trailing "\" when
// `folderSuffix` is set; with `recurse` every folder is listed too (with suffixes), after its own entry.
void ListFiles(const std::string& folder, uint32_t mask, bool plain, const std::string& ext,
               bool folderSuffix, bool recurse, TStringList& list, bool clearList);

// Copies count bytes from source's position to destination (0: the whole source from its start) and
// returns the count. A memory source is written straight from its memory; otherwise a buffer of up
// to 10 MiB is used, 1 MiB smaller per failed allocation (EOutOfMemory when none can be had).
// EReadError when the source holds fewer bytes than asked for.
int64_t CopyStreamRange(TStream& destination, TStream& source, int64_t count);

// Allocator of CopyStreamRange's buffer: returns nullptr when the memory cannot be had. The default
// uses the heap; tests install their own to simulate shortage. Returns the previous allocator.
using TCopyBufferAllocator = std::unique_ptr<uint8_t[]> (*)(size_t size);
TCopyBufferAllocator SetCopyBufferAllocator(TCopyBufferAllocator allocator);

// Replaces the whole contents by their zlib (RFC 1950) compressed form; level 0 stored, 1 fastest,
// 2 zlib's default, 3 best. The position is left at the end.
void CompressStream(TMemoryStream& stream, int level);
// Replaces the whole contents by their inflated form, position 0. EZLibError for data that is not a
// complete zlib stream; the stream is then left unchanged.
void DecompressStream(TMemoryStream& stream);

// 32-bit little-endian integers (EWriteError / EReadError when the stream cannot take or give 4 bytes).
void WriteInt32(TStream& stream, int32_t value);
int32_t ReadInt32(TStream& stream);

}  // namespace vr
