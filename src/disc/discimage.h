// Read-only CD and DVD images: ISO 9660 files (2048-byte sectors) and raw BIN files, alone or described
// by a CUE sheet. This is the one place that parses image bytes: volume descriptors, directory records,
// Joliet and Rock Ridge names, CUE sheets and raw sector headers.
//
// Opening an image reads its whole directory tree once and checks it: every extent lies inside the
// image, no folder is reached twice (loops), names, folders and directory bytes stay under fixed limits.
// Names are code page 932: Joliet names (UCS-2) when the image has a Joliet tree, else Rock Ridge names
// where present, else the primary names as they are (Japanese discs mastered without Joliet carry
// Shift_JIS bytes there). Names that cannot be represented or that Windows cannot hold (windowsnames.h),
// a second name Windows cannot tell from an earlier one of its folder, symbolic links and special files
// are left out of the tree, each with a line naming it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/sysutils.h"
#include "platform/platform.h"

namespace vr {

// Any fault of an image: unreadable, truncated, damaged or beyond the reader's limits.
class TNameClashSet;

class EDiscError : public Exception {
 public:
  using Exception::Exception;
};

// Random access to the bytes of an image file. ReadAt may be called from several threads.
class TImageBytes {
 public:
  virtual ~TImageBytes() = default;
  virtual int64_t Size() const = 0;
  // Reads exactly `count` bytes at `offset`; false when they are not all there or the read fails.
  virtual bool ReadAt(int64_t offset, void* buffer, size_t count) = 0;
  // The open file and the platform that opened it, when the bytes are a file's; else null and
  // kInvalidHandle.
  virtual TPlatform* Owner() const { return nullptr; }
  virtual THandle Handle() const { return kInvalidHandle; }
};

// A file opened for reading through `platform`; EDiscError when it cannot be opened.
std::unique_ptr<TImageBytes> OpenImageBytes(TPlatform& platform, const std::string& path);
// Bytes held in memory.
std::unique_ptr<TImageBytes> MemoryImageBytes(std::string bytes);

// How a track's sectors are stored.
enum class TTrackMode { tmAudio, tmMode1_2048, tmMode1_2352, tmMode2_2352, tmMode2_2336 };
const char* TrackModeName(TTrackMode mode);

// One track of a CUE sheet, and where the image lays it out once its files are known.
struct TDiscTrack {
  int Number = 0;
  TTrackMode Mode = TTrackMode::tmAudio;
  int FileIndex = 0;        // into TCueSheet::Files
  int64_t Index0 = -1;      // INDEX 00 in sectors from its file's start; -1 when none
  int64_t Index1 = 0;       // INDEX 01 likewise
  int64_t Pregap = 0;       // PREGAP sectors (not held in the file)
  int64_t Start = -1;       // disc sector of INDEX 01; -1 when not known
  int64_t Sectors = -1;     // sectors from INDEX 01 to the next track or the file's end; -1 when not known
  int64_t FileOffset = -1;  // byte of INDEX 01 in its file; -1 when not known
  int SubchannelBytes = 0;  // bytes of subchannel data after each sector (96 in 2448-byte sectors)
};

// The tracks of a CUE sheet's text with the files they lie in. EDiscError on lines it cannot take.
struct TCueSheet {
  std::vector<std::string> Files;  // as the FILE lines name them (code page 932)
  std::vector<TDiscTrack> Tracks;
};
TCueSheet ParseCueSheet(const std::string& text);

// Bytes of one sector of a track mode, and where its 2048 user bytes start.
int SectorSize(TTrackMode mode);
int UserOffset(TTrackMode mode);

// A file or folder of the image. The root is node 0; a folder's children are the nodes
// FirstChild .. FirstChild + ChildCount - 1.
struct TDiscNode {
  std::string Name;  // code page 932; empty for the root
  uint32_t Parent = 0;
  bool Folder = false;
  bool Hidden = false;
  uint32_t DosTime = 0;  // as recorded (the mastering machine's local time)
  int64_t Size = 0;
  uint32_t FirstChild = 0, ChildCount = 0;    // folders
  uint32_t FirstExtent = 0, ExtentCount = 0;  // files
};

struct TDiscInfo {
  std::string Kind;   // "ISO", "BIN/CUE", "BIN", "MDS/MDF", "CCD/IMG" or "NRG"
  std::string Label;  // volume identifier, code page 932
  bool Joliet = false, RockRidge = false;
  bool JolietNames = false;        // names come from the Joliet tree
  std::vector<TDiscTrack> Tracks;  // of a CUE sheet or a raw BIN
  int64_t Sectors = 0;             // 2048-byte sectors of the file system's track
  uint32_t LeftOut = 0;            // names, links and special files not in the tree
  std::string Udf;                 // the UDF revision ("2.01") when the tree is UDF's; else empty
  // For each of them: its path in the image and why.
  std::vector<std::string> LeftOutLines;
};

class TDiscImage {
 public:
  // Limits of one image; more is refused with an EDiscError.
  static constexpr uint32_t kMaxNodes = 500000;
  static constexpr int64_t kMaxFolderBytes = 64 << 20;
  static constexpr int64_t kMaxDirectoryBytes = 256 << 20;
  static constexpr int kMaxDepth = 64;

  // The image file `path` (code page 932) through `platform`: a CUE sheet (".cue"; its BIN files are
  // looked for beside it and never outside its folder), an MDS, CCD or NRG image (describedimage.h), a
  // raw BIN with 2352-byte sectors, or an ISO 9660 file.
  static std::unique_ptr<TDiscImage> Open(TPlatform& platform, const std::string& path);
  // Image bytes already open: ISO 9660 or raw 2352-byte sectors; `shown` names it in messages.
  static std::unique_ptr<TDiscImage> FromBytes(std::unique_ptr<TImageBytes> bytes, const std::string& shown);
  // The file system of track `data` of `tracks`, whose FileOffset, Start, Sectors and sector layout are
  // known and lie inside `bytes`; `kind` names the image format in Info().
  static std::unique_ptr<TDiscImage> FromTrack(std::unique_ptr<TImageBytes> bytes, const std::string& shown,
                                               const std::string& kind, const std::vector<TDiscTrack>& tracks,
                                               size_t data);

  const TDiscInfo& Info() const { return info_; }
  const std::vector<TDiscNode>& Nodes() const { return nodes_; }
  const TDiscNode& Node(uint32_t index) const { return nodes_[index]; }
  // The path of a node below the root ("DIR\FILE"), for messages.
  std::string PathOf(uint32_t index) const;
  // Reads up to `count` bytes of file `node` from `offset`; returns the bytes read, 0 at the end.
  // EDiscError when a sector cannot be read.
  size_t Read(uint32_t node, int64_t offset, void* buffer, size_t count);
  // Reads `count` bytes of the file system's track (Info().Sectors sectors of 2048 bytes) from byte
  // `offset`; EDiscError when they are not all there or cannot be read.
  void ReadTrack(int64_t offset, void* buffer, size_t count);
  // Where the bytes of file `node` from `offset` on lie in one piece in the image file, when the image
  // holds them as they are (2048-byte sectors): the file's owner, handle, byte offset and the bytes up to
  // the end of the extent. False otherwise.
  struct TPlainRange {
    TPlatform* Owner = nullptr;
    THandle Handle = kInvalidHandle;
    int64_t Offset = 0, Length = 0;
  };
  bool PlainRange(uint32_t node, int64_t offset, TPlainRange& range) const;

 private:
  struct TExtent {
    int64_t Sector;  // -1: bytes not recorded, read as zeros
    int64_t Length;
    int64_t Skip = 0;  // bytes into the sector where they start (data held inside a UDF file entry)
  };
  // Where the user data of the file system's sectors lie in the image bytes.
  struct TSectorMap {
    int64_t ByteStart = 0;  // sector 0 of the track
    int64_t Base = 0;       // file-system sector number of the track's first sector
    int SectorSize = 2048;
    int UserOffset = 0;
    int Mode = 0;  // 1 or 2: the raw header is checked; 0: none
    int64_t Sectors = 0;
  };
  TDiscImage(std::unique_ptr<TImageBytes> bytes, std::string shown);
  // The sectors of the file system's track: where they start in the file, their size and form.
  void MapTrack(const TDiscTrack& track);
  void Load();
  void ReadSectors(int64_t sector, int64_t offsetInSector, void* buffer, size_t count);
  void ReadTree(int64_t rootSector, int64_t rootLength, bool joliet, int64_t rrSkip);
  // The UDF tree, when the image has one (udfimage.cpp); false when it has none.
  bool LoadUdf();
  [[noreturn]] void Fail(const std::string& what) const;
  void LeaveOut(uint32_t folder, const std::string& name, const std::string& why);
  // Whether `name` joins the folder `folder`, whose names so far are in `names`: one Windows can hold,
  // of a file or folder, and no other spelling of an earlier one. A name that does not is left out.
  bool Admit(uint32_t folder, const std::string& name, bool notFile, TNameClashSet& names);

  std::unique_ptr<TImageBytes> bytes_;
  std::vector<std::unique_ptr<TImageBytes>> keep_;
  std::string shown_;
  TSectorMap map_;
  TDiscInfo info_;
  std::vector<TDiscNode> nodes_;
  std::vector<TExtent> extents_;
};

}  // namespace vr
