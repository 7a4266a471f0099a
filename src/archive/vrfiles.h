// The game archive: its directory in memory, reading and decoding entries, checking a data file,
// writing whole archives and merging newer entries into an installed data file.
//
// Layout of an archive at its start position A (little-endian):
//   "vf", int32 version (absent in version 0), int32 count N,
//   N x (int32 length, name bytes)          names masked from version 100 on,
//   N + 1 offsets relative to A             int64 from version 101 on (else int32), masked from 100 on,
//   N kinds, N int32 DOS times, N uint32 CRC-32 values   from version 101 on,
//   N separate flags                        from version 102 on,
// followed by each entry's stored bytes. Four placements: appended to an executable (six-byte trailer:
// int32 A, "rv"), a "DUMMY"/"BINTYPE" resource, a data file with the directory at its start, and a data
// file (possibly split into 1 GiB parts) whose directory lies in a ".ext" file beside it.
//
// Damaged input (counts, lengths or offsets that do not fit the stream, broken zlib data or scrambled
// containers, a trailer pointing outside the file) raises EVrError with a Japanese message; nothing is
// allocated beyond what the stream actually holds.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/bigstreams.h"
#include "archive/hash.h"
#include "framework/classes.h"

namespace vr {

// Directory version this program writes.
constexpr int32_t ArchiveVersion = 102;
// Key of the generator that masks names and offsets.
constexpr uint32_t DirectoryKey = 1384720569u;
// Content at or above this size is stored rather than compressed (layered images excepted).
constexpr int64_t kLargeContentLimit = 5242880;
// Loose files with one of these extensions are stored, not compressed (a substring test).
constexpr const char* kNoCompressExtensions = ".WAV.WMA.OGG.AVI.MPG.MPEG.M1V.WMV.ASF.DAT.";
// Name of the entry that stands for the end of the data after a load; never written as an entry.
constexpr const char* kEndMarkerName = "\\EOF\\";
// Names of superseded entries (kept in a data file after a newer version was merged) start with this.
constexpr char kSupersededPrefix = '/';

// Storage kinds.
enum : uint8_t {
  skCompressed = 0,           // zlib stream of the content
  skStored = 1,               // the content unchanged
  skScrambled = 2,            // scrambled container of the content
  skCompressedScrambled = 3,  // scrambled container of a zlib stream of the content
};

class TVrFileCollection;

// One archive entry.
class TVrFile : public THashCollectionItem {
 public:
  TVrFile() = default;
  ~TVrFile() override;

  // Position of the stored bytes in the collection's DataStream.
  int64_t Offset = 0;
  // Content to write for this entry (takes precedence over a loose file); owned.
  std::unique_ptr<TStream> Source;
  // Length of the stored bytes.
  int64_t Size = 0;
  // Storage kind (skCompressed ... skCompressedScrambled); other values read as stored.
  uint8_t Kind = 0;
  // DOS date-time of the entry's file.
  int32_t Time = 0;
  // CRC-32 of the stored bytes; of the decoded content for a separate entry. 0 = none.
  uint32_t CRC = 0;
  // 1: installed as a loose file, never copied into an installed data file.
  uint8_t Separate = 0;

  // The collection the entry belongs to (nullptr while it belongs to none).
  TVrFileCollection* Files() const;
  bool IsEndMarker() const { return Name() == kEndMarkerName; }
  bool IsSuperseded() const { return !Name().empty() && Name()[0] == kSupersededPrefix; }

  // Encodes the entry's content and appends the stored bytes at dest's position; sets Kind and CRC
  // (and Time for a loose file). Content comes from Source, else from the loose file BasePath + Name,
  // else from the collection itself (re-encoding an entry of an open archive). An entry already
  // scrambled (kind 2 or 3) is written scrambled whatever `scramble` says.
  void WriteData(TKoBigFileStream& dest, bool scramble);

  void SetName(const std::string& value) override;
  std::string ClassName() const override { return "TVrFile"; }

 protected:
  void LinkHash() override;

 private:
  friend class TVrFileCollection;
  uint64_t indexHash_ = 0;
  uint64_t linkSerial_ = 0;
  TVrFile* indexNext_ = nullptr;
  bool indexed_ = false;
};

// Progress of VerifyData, SaveToStream and MergeFrom; set cancel to true to stop the operation. For the
// writers `size` is the bytes written since the last call (SaveToStream: once per entry; MergeFrom:
// after every piece of at most a few MiB on disk, for the entry being copied), so the sizes add up to
// what is on disk.
using TVrProgressEvent = std::function<void(TVrFileCollection* sender, TVrFile* item, int64_t size,
                                            int32_t index, int32_t count, bool& cancel)>;

// Receives decoded content piece by piece (DecodeItemTo).
using TVrSink = std::function<void(const uint8_t* data, size_t size)>;

// Decodes an entry's stored bytes of storage kind `kind` (TVrFile::Kind), held whole in memory, as
// DecodeItemTo does; damaged data raises EVrError naming `name`. Touches no shared state: any thread may
// call it.
void DecodeStoredBytes(const uint8_t* stored, int64_t size, uint8_t kind, const std::string& name,
                       const TVrSink& sink);

// Result of checking one entry (VerifyEach).
enum class TVerifyState {
  vsOk,         // stored bytes match the checksum
  vsSkipped,    // no checksum (0), superseded entry, or the end marker
  vsMismatch,   // checksum differs
  vsTruncated,  // the data stream ends before the entry's bytes
};

// Receives the text "エラー:" + entry name when writing an entry fails in SaveToStream (the error itself
// propagates afterwards). The GUI shows it in a message box, the command-line tool prints it.
using TVrErrorReporter = std::function<void(const std::string& message)>;
// Installs the process-wide reporter; returns the previous one. None by default.
TVrErrorReporter SetVrErrorReporter(TVrErrorReporter reporter);

// The directory of one game archive and its open data stream.
class TVrFileCollection : public THashCollection {
 public:
  TVrFileCollection();
  ~TVrFileCollection() override;

  // Folder of loose files, with a trailing backslash when not empty.
  std::string BasePath;
  // The open data stream; none when closed.
  std::unique_ptr<TKoBigStream> DataStream;
  TVrProgressEvent OnProgress;
  // Threads SaveToStream encodes entries on; 0: one per processor. The archive written is the same
  // whatever the number.
  unsigned EncodeThreads = 0;
  // The archive file last given to Open / OpenPath.
  std::string FileName;

  // ---- opening ----------------------------------------------------------------------------------
  // OpenPath(fileName, false). An empty name closes the archive and keeps BasePath.
  void Open(const std::string& fileName);
  // Closes what was open, then: an existing file (or any name when nameIsFile) makes its folder the
  // BasePath, otherwise the name is taken as the folder. An existing ".exe"/".scr" file is read through
  // its "rv" trailer; another file takes its directory from a ".ext" file beside it when there is one,
  // else from its own start. A name that does not exist opens nothing (loose files only).
  void OpenPath(const std::string& fileName, bool nameIsFile);
  // Closes what was open and reads the archive held by a module resource (module "" or the program's
  // own path: the running program). A module file that does not exist leaves the directory empty
  // without error; a missing resource raises EResNotFound, an empty one EVrError.
  void OpenResource(const std::string& module, const std::string& resName, const std::string& resType);
  // Reads a directory at the stream's position and appends its entries and the end marker. Offsets
  // must not run backwards and, when a DataStream is open, must lie inside it. Without a DataStream
  // (a ".ext" directory file listed on its own) entries can be listed but not extracted.
  void LoadDirectory(TKoBigStream& stream);

  // ---- entries ----------------------------------------------------------------------------------
  TVrFile* Items(int index) const { return static_cast<TVrFile*>(Item(index)); }
  // Index of the most recently named entry with this name (letter case ignored), or -1.
  int IndexOf(const std::string& name) const override;
  using THashCollection::IndexOf;
  TVrFile* AddFile(const std::string& name);
  // Adds every file below `folder` (with `recurse`, also of its subfolders) as an entry named by its
  // path relative to the folder, and makes the folder the BasePath, so that SaveToStream packs the
  // files. Returns the number of entries added.
  int AddFolder(const std::string& folder, bool recurse);

  // ---- reading ----------------------------------------------------------------------------------
  // Decodes the named entry (or, when the archive does not hold the name, the loose file
  // BasePath + name) into dest at its position, then rewinds dest to 0. A memory stream is emptied
  // first. Stored entries bound for another kind of stream are copied through a buffer.
  // "%s:ファイルがありません" when neither exists.
  void ExtractToStream(TStream& dest, const std::string& name);
  // The same for the entry at `index` (duplicates and superseded entries included); no loose file.
  void ExtractItem(TStream& dest, int index);
  // Decodes the entry at `index` (any storage kind) piece by piece into sink, in order: memory stays
  // bounded whatever the entry's stored or decoded size. `progress` receives the stored bytes consumed
  // so far. Damaged data raises EVrError "%s:アーカイブのデータが壊れています" (possibly after some
  // pieces were handed out).
  void DecodeItemTo(int index, const TVrSink& sink, const std::function<void(int64_t)>& progress = nullptr);
  // Writes the entry at `index` as the file folder + its name and returns the path (TEntryWriter: the
  // folder is created as needed, the folders below it one level at a time and never through a link;
  // the file is written under a temporary name and renamed into place). Names that could leave the
  // folder ("..", absolute paths, drives, device names) and folder entries are refused with EVrError.
  std::string ExtractItemToFolder(int index, const std::string& folder);

  // True when every entry with a checksum (superseded ones and the end marker excepted) matches its
  // stored bytes (a separate entry that is compressed or scrambled: its decoded content); stops at the
  // first mismatch. False without a data stream or for a truncated one.
  // OnProgress every tenth entry; Cancel returns the result so far.
  bool VerifyData();
  // Checks every entry, not stopping at a mismatch; one state per entry (the end marker: skipped).
  // Raises EVrError without a data stream. OnProgress as for VerifyData; on Cancel the rest is skipped.
  std::vector<TVerifyState> VerifyEach();

  // ---- writing ----------------------------------------------------------------------------------
  // Writes the whole collection (the end marker left out) as an archive at dest's position, which
  // should be 0 of a newly created stream. False when cancelled through OnProgress.
  bool SaveToStream(TKoBigFileStream& dest, bool scramble);
  // Appends the source's entries that are newer than (or missing from) this collection to the data
  // file FileName, their stored bytes copied unchanged; replaced entries get "/" in front of their
  // names. Separate entries and the end marker are never taken. When anything was taken, the whole
  // directory is rewritten into the ".ext" file beside FileName. True when anything was taken.
  // New bytes go right behind the data the directory describes; bytes behind that (left by a merge
  // that was interrupted) are never counted into an entry. A merge that fails (an error, or cancel
  // through OnProgress, which returns false) cuts the data file back to its old length, leaves the
  // ".ext" file alone and restores the collection's entries and names. Stored bytes are copied in
  // pieces with OnProgress between them.
  bool MergeFrom(TVrFileCollection& source);

 protected:
  std::unique_ptr<THashCollectionItem> CreateItem() override;

 private:
  friend class TVrFile;
  void Close();
  void DecodeItem(TVrFile& item, TStream& dest);
  bool RunVerify(bool stopAtMismatch, std::vector<TVerifyState>* states);
  void IndexReserve(size_t count);
  void IndexAdd(TVrFile& item);
  void IndexRemove(TVrFile& item);

  // Name lookups: a chained hash table over the hash of the case-folded name (the 256 name buckets
  // alone degrade to a scan for names of one pattern, double-byte names included).
  std::vector<TVrFile*> indexBuckets_;
  size_t indexCount_ = 0;
  uint64_t linkSerial_ = 0;
  bool indexSuspended_ = false;
};

// Restarts the generator that draws the seeds of scrambled entries (random by default) at a fixed
// value, so that an archive can be written again byte for byte.
void SeedScrambleSeeds(uint32_t value);

// Bytes per block of a scrambled container for a payload of `length` bytes.
int32_t ScrambleBlockSize(int64_t length);
// CRC-32 of a plain stream's whole contents (it is rewound first).
uint32_t StreamCRC(TStream& stream);
// CRC-32 of `count` bytes from the big stream's position, read through the caller's buffer at most
// `bufferSize` bytes at a time. EVrError when the stream ends early.
uint32_t BigStreamCRC(TKoBigStream& stream, int64_t count, void* buffer, int64_t bufferSize);
// Continues a CRC-32 (start with 0) over a block of memory.
uint32_t UpdateCRC(uint32_t crc, const void* data, int64_t length);

// The first ".exe" of the folder whose appended archive holds an "install.dat" of that title; empty
// when none. The search ends at the first ".exe" without the "rv" trailer.
std::string FindInstallerExe(const std::string& folder, const std::string& title);

// Appends the archive file (written from position 0) to the executable, followed by the int32
// former length of the executable and "rv". The executable must stay below 2 GiB.
void AppendArchiveToExecutable(const std::string& exeFileName, const std::string& archiveFileName);

}  // namespace vr
