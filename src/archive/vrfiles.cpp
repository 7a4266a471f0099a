// The archive directory: entries, name index, opening the four placements, checksums, installer search.
#include "archive/vrfiles.h"

#include <zlib.h>
#ifdef VR_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <cstring>

#include "archive/readahead.h"
#include "archive/vrfiles_internal.h"
#include "archive/workers.h"
#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"

namespace vr {

namespace vrfiles_detail {

const char* const kNoFileText = "%s:ファイルがありません";
const char* const kNoResourceText = "リソースが見つかりません";
const char* const kDamagedDirectoryText = "アーカイブのディレクトリが壊れています";
const char* const kDamagedEntryText = "%s:アーカイブのデータが壊れています";
const char* const kBadTrailerText = "%s:実行ファイルのアーカイブの位置が正しくありません";
const char* const kWriteFailedText = "%s:書き込みに失敗しました";
const char* const kUnsafeNameText = "%s:ファイル名が正しくありません";

void DamagedDirectory(const char* detail) {
  throw EVrError(std::string(kDamagedDirectoryText) + " (" + detail + ")");
}

void DamagedEntry(const std::string& name) { throw EVrError(Format(kDamagedEntryText, {name})); }

}  // namespace vrfiles_detail

using namespace vrfiles_detail;

namespace {

TVrErrorReporter& ErrorReporter() {
  static TVrErrorReporter reporter;
  return reporter;
}

bool HasHighBytes(const std::string& s) {
  for (char c : s)
    if (static_cast<uint8_t>(c) >= 0x80) return true;
  return false;
}

// Hash of a name with single-byte letters folded to lower case (double-byte characters as they are):
// names the hash collection takes for equal always get the same value. A name with double-byte text
// is hashed in the locale's lower-case form as UTF-16 text, which is what its comparison compares.
uint64_t FoldedNameHash(const std::string& name) {
  uint64_t h = 14695981039346656037ull;
  if (HasHighBytes(name)) {
    for (char16_t u : Cp932ToUtf16(Platform().LowerCaseJ(name))) {
      h = (h ^ (u & 0xFF)) * 1099511628211ull;
      h = (h ^ (u >> 8)) * 1099511628211ull;
    }
    return h;
  }
  const size_t len = name.size();
  for (size_t i = 0; i < len; ++i) {
    uint8_t c = static_cast<uint8_t>(name[i]);
    if (IsLeadByte(c) && i + 1 < len) {
      h = (h ^ c) * 1099511628211ull;
      c = static_cast<uint8_t>(name[++i]);
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<uint8_t>(c + 32);
    }
    h = (h ^ c) * 1099511628211ull;
  }
  return h;
}

// Equal after folding single-byte ASCII letters; for names without high bytes.
bool SameAsciiText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    uint8_t x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
    if (x == y) continue;
    if (x >= 'A' && x <= 'Z') x = static_cast<uint8_t>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<uint8_t>(y + 32);
    if (x != y) return false;
  }
  return true;
}

bool HasExeExtension(const std::string& fileName) {
  const std::string ext = UpperCaseAscii(ExtractFileExt(fileName));
  return ext == ".EXE" || ext == ".SCR";
}

}  // namespace

TVrErrorReporter SetVrErrorReporter(TVrErrorReporter reporter) {
  TVrErrorReporter previous = std::move(ErrorReporter());
  ErrorReporter() = std::move(reporter);
  return previous;
}

void vrfiles_detail::ReportVrError(const std::string& message) {
  if (ErrorReporter()) ErrorReporter()(message);
}

// ---------------------------------------------------------------------------------------------------
// TVrFile

TVrFile::~TVrFile() {
  if (TVrFileCollection* files = Files()) files->IndexRemove(*this);
}

TVrFileCollection* TVrFile::Files() const { return dynamic_cast<TVrFileCollection*>(Collection()); }

void TVrFile::SetName(const std::string& value) {
  if (value == Name()) return;
  if (TVrFileCollection* files = Files()) files->IndexRemove(*this);
  THashCollectionItem::SetName(value);  // relinks, which indexes the new name
}

void TVrFile::LinkHash() {
  THashCollectionItem::LinkHash();
  if (TVrFileCollection* files = Files()) {
    files->IndexRemove(*this);
    files->IndexAdd(*this);
  }
}

// ---------------------------------------------------------------------------------------------------
// TVrFileCollection: entries and lookups

TVrFileCollection::TVrFileCollection() { MbcsNames = true; }

TVrFileCollection::~TVrFileCollection() {
  // Entries go first, while the name index they are linked into still exists.
  Close();
}

std::unique_ptr<THashCollectionItem> TVrFileCollection::CreateItem() { return std::make_unique<TVrFile>(); }

void TVrFileCollection::IndexReserve(size_t count) {
  if (count <= indexBuckets_.size()) return;
  size_t size = std::max<size_t>(1024, indexBuckets_.size());
  while (size < count) size *= 2;
  // Relink every entry into the larger table.
  std::vector<TVrFile*> grown(size, nullptr);
  const size_t mask = grown.size() - 1;
  for (TVrFile* head : indexBuckets_) {
    while (head) {
      TVrFile* next = head->indexNext_;
      TVrFile*& slot = grown[head->indexHash_ & mask];
      head->indexNext_ = slot;
      slot = head;
      head = next;
    }
  }
  indexBuckets_.swap(grown);
}

void TVrFileCollection::IndexAdd(TVrFile& item) {
  if (indexCount_ >= indexBuckets_.size()) IndexReserve(std::max<size_t>(1024, indexBuckets_.size() * 2));
  item.indexHash_ = FoldedNameHash(item.Name());
  item.linkSerial_ = ++linkSerial_;
  TVrFile*& slot = indexBuckets_[item.indexHash_ & (indexBuckets_.size() - 1)];
  item.indexNext_ = slot;
  slot = &item;
  item.indexed_ = true;
  ++indexCount_;
}

void TVrFileCollection::IndexRemove(TVrFile& item) {
  if (!item.indexed_) return;
  item.indexed_ = false;
  if (indexSuspended_) return;
  for (TVrFile** p = &indexBuckets_[item.indexHash_ & (indexBuckets_.size() - 1)]; *p;
       p = &(*p)->indexNext_) {
    if (*p == &item) {
      *p = item.indexNext_;
      --indexCount_;
      break;
    }
  }
  item.indexNext_ = nullptr;
}

int TVrFileCollection::IndexOf(const std::string& name) const {
  if (indexBuckets_.empty()) return -1;
  const uint64_t hash = FoldedNameHash(name);
  const TVrFile* best = nullptr;
  if (HasHighBytes(name)) {
    // Names with double-byte text: the hash collection's rule (same length and bucket, equal under
    // the Japanese locale's case-insensitive comparison), among the names of the same folded hash.
    const int32_t bucket = NameHashMbcs(name);
    for (const TVrFile* f = indexBuckets_[hash & (indexBuckets_.size() - 1)]; f; f = f->indexNext_) {
      if (f->indexHash_ != hash || f->Name().size() != name.size() || f->HashCode() != bucket) continue;
      if (best && f->linkSerial_ < best->linkSerial_) continue;
      if (f->Name() == name || Platform().CompareTextJ(f->Name(), name) == 0) best = f;
    }
    return best ? best->CachedIndex() : -1;
  }
  for (const TVrFile* f = indexBuckets_[hash & (indexBuckets_.size() - 1)]; f; f = f->indexNext_) {
    if (f->indexHash_ == hash && SameAsciiText(f->Name(), name) &&
        (!best || f->linkSerial_ > best->linkSerial_))
      best = f;
  }
  return best ? best->CachedIndex() : -1;
}

TVrFile* TVrFileCollection::AddFile(const std::string& name) {
  auto item = std::make_unique<TVrFile>();
  item->SetName(name);  // not in a collection yet: only stores the name
  return static_cast<TVrFile*>(Add(std::move(item)));
}

int TVrFileCollection::AddFolder(const std::string& folder, bool recurse) {
  const std::string base = AddTrailingBackslash(folder);
  TStringList list;
  ListFiles(base, faReadOnly | faHidden | faSysFile | faArchive | faNormal, true, "", true, recurse, list,
            true);
  int added = 0;
  for (const std::string& path : list.Items()) {
    if (!path.empty() && IsPathDelimiterAt(path, path.size() - 1)) continue;  // a folder
    if (path.size() <= base.size()) continue;
    AddFile(path.substr(base.size()));
    ++added;
  }
  BasePath = base;
  return added;
}

// ---------------------------------------------------------------------------------------------------
// Opening

void TVrFileCollection::Close() {
  // Every entry goes: drop the name index at once instead of entry by entry.
  indexBuckets_.clear();
  indexCount_ = 0;
  indexSuspended_ = true;
  try {
    Clear();
  } catch (...) {
    indexSuspended_ = false;
    throw;
  }
  indexSuspended_ = false;
  DataStream.reset();
}

void TVrFileCollection::Open(const std::string& fileName) { OpenPath(fileName, false); }

void TVrFileCollection::OpenPath(const std::string& fileName, bool nameIsFile) {
  Close();
  FileName = fileName;
  if (fileName.empty()) return;

  const bool exists = FileExists(fileName);
  BasePath = (exists || nameIsFile) ? ExtractFilePath(fileName) : fileName;
  if (!BasePath.empty()) BasePath = AddTrailingBackslash(BasePath);
  if (!exists) return;

  try {
    DataStream = std::make_unique<TKoBigFileStream>(fileName, fmOpenRead | fmShareDenyWrite);
    if (!HasExeExtension(fileName)) {
      const std::string extName = ChangeFileExt(fileName, ".ext");
      if (FileExists(extName)) {
        TKoBigMemoryStream directory;
        directory.LoadFromFile(extName);
        directory.SetPosition(0);
        LoadDirectory(directory);
      } else {
        DataStream->SetPosition(0);
        LoadDirectory(*DataStream);
      }
    } else {
      const int64_t size = DataStream->GetSize();
      if (size < 6) throw EVrError(Format(kBadTrailerText, {fileName}));
      uint8_t trailer[4];
      DataStream->SetPosition(size - 6);
      DataStream->ReadBuffer(trailer, 4);
      const int64_t start = static_cast<int32_t>(GetUInt32(trailer));
      if (start < 0 || start > size - 6) throw EVrError(Format(kBadTrailerText, {fileName}));
      DataStream->SetPosition(start);
      LoadDirectory(*DataStream);
    }
  } catch (...) {
    // A directory that cannot be read leaves the collection closed, not half filled.
    Close();
    throw;
  }
}

void TVrFileCollection::OpenResource(const std::string& module, const std::string& resName,
                                     const std::string& resType) {
  Close();
  std::string target = module;
  if (!module.empty() && Platform().CompareTextJ(module, Platform().ModuleFileName()) == 0) target.clear();
  // Another module that is not there cannot be loaded: nothing is opened, and that is no error.
  if (!target.empty() && !FileExists(target)) return;
  auto stream = std::make_unique<TKoBigResourceStream>(target, resName, resType);
  if (stream->GetSize() == 0) throw EVrError(kNoResourceText);
  DataStream = std::move(stream);
  try {
    DataStream->SetPosition(0);
    LoadDirectory(*DataStream);
  } catch (...) {
    Close();
    throw;
  }
}

// ---------------------------------------------------------------------------------------------------
// Checksums

namespace {

uint32_t SerialCRC(uint32_t crc, const void* data, int64_t length) {
  const Bytef* p = static_cast<const Bytef*>(data);
  uint32_t c = crc;
  while (length > 0) {
    const uInt piece = static_cast<uInt>(std::min<int64_t>(length, 0x40000000));
#ifdef VR_HAVE_LIBDEFLATE
    c = libdeflate_crc32(c, p, piece);
#else
    c = static_cast<uint32_t>(crc32(c, p, piece));
#endif
    p += piece;
    length -= piece;
  }
  return c;
}

// The second half of a long run, summed on a worker thread.
class TCrcJob : public TWorkerJob {
 public:
  TCrcJob(const uint8_t* data, int64_t length) : data_(data), length_(length) {}
  void Run() noexcept override { crc = SerialCRC(0, data_, length_); }
  uint32_t crc = 0;

 private:
  const uint8_t* data_;
  int64_t length_;
};

// Sums second halves of long runs. Under Windows (and Wine, where making a thread is slow) two threads
// are made on first use and kept for the process's life: idle, they end with the process. Elsewhere each
// run has its own, cheap to make there, and a child made by fork (which has none of its parent's
// threads) is never handed a pool whose threads are gone.
class TCrcThreads {
 public:
#ifdef _WIN32
  TWorkers& Workers() {
    static TWorkers* const workers = new TWorkers(2);
    return *workers;
  }
#else
  TWorkers& Workers() { return workers_; }

 private:
  TWorkers workers_{2};
#endif
};

}  // namespace

uint32_t UpdateCRC(uint32_t crc, const void* data, int64_t length) {
  // A long run (a mapped window of a file) is summed in two halves side by side and the two checksums
  // joined: the run costs half the time where a second processor is free. Halves of at most 512 MiB keep
  // the join's length within zlib's offset type on every target.
  if (length < kParallelCrcRun || DefaultWorkerThreads() < 2) return SerialCRC(crc, data, length);
  const auto* bytes = static_cast<const uint8_t*>(data);
  TCrcThreads threads;
  TWorkers& workers = threads.Workers();
  for (int64_t done = 0; done < length;) {
    const int64_t run = std::min<int64_t>(length - done, int64_t{1} << 30);
    const int64_t first = run / 2;
    TCrcJob second(bytes + done + first, run - first);
    workers.Submit(second);
    const uint32_t head = SerialCRC(crc, bytes + done, first);
    workers.Wait(second);
    crc = static_cast<uint32_t>(crc32_combine(head, second.crc, static_cast<z_off_t>(run - first)));
    done += run;
  }
  return crc;
}

uint32_t StreamCRC(TStream& stream) {
  stream.SetPosition(0);
  if (auto* memory = dynamic_cast<TCustomMemoryStream*>(&stream)) {
    const uint32_t crc = UpdateCRC(0, memory->Memory(), memory->Size());
    stream.Seek(0, TSeekOrigin::soEnd);
    return crc;
  }
  // A file is summed where it lies in the file cache, window by window, where it can be mapped.
  if (auto* file = dynamic_cast<THandleStream*>(&stream)) {
    const int64_t size = stream.Size();
    uint32_t crc = 0;
    int64_t at = 0;
    for (; at < size; at += kMappedWindow) {
      const int64_t length = std::min(kMappedWindow, size - at);
      const TMappedBytes window(Platform().FileMapView(file->Handle(), at, length), length);
      if (!window.Data()) break;
      crc = UpdateCRC(crc, window.Data(), window.Length());
    }
    if (at >= size && size > 0) {
      stream.Seek(0, TSeekOrigin::soEnd);
      return crc;
    }
    stream.SetPosition(0);  // not mapped (or empty): read from the start
  }
  // The stream is read in order: the reader's position argument is where the stream already is.
  TReadAhead pieces(
      [&stream](int64_t, uint8_t* buffer, int64_t count) {
        return static_cast<int64_t>(stream.Read(buffer, static_cast<int32_t>(count)));
      },
      stream.Size(), kReadAheadPiece);
  uint32_t crc = 0;
  for (int64_t position = 0;;) {
    const TReadAhead::TPiece piece = pieces.At(position);
    if (piece.Length <= 0) break;
    crc = UpdateCRC(crc, piece.Data, piece.Length);
    position += piece.Length;
  }
  return crc;
}

uint32_t BigStreamCRC(TKoBigStream& stream, int64_t count, void* buffer, int64_t bufferSize) {
  if (bufferSize <= 0 && count > 0) throw EVrError("BigStreamCRC: buffer size");
  uint32_t crc = 0;
  while (count > 0) {
    const int64_t piece = std::min(count, bufferSize);
    const int64_t n = stream.Read(buffer, piece);
    if (n != piece) throw EVrError(Format(kDamagedEntryText, {IntToStr(stream.GetPosition())}));
    crc = UpdateCRC(crc, buffer, n);
    count -= n;
  }
  return crc;
}

int32_t ScrambleBlockSize(int64_t length) {
  return static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(length / 100, 256), 4096));
}

// ---------------------------------------------------------------------------------------------------
// Installer search

std::string FindInstallerExe(const std::string& folder, const std::string& title) {
  TStringList list;
  ListFiles(folder, faReadOnly | faHidden | faSysFile | faArchive | faNormal, true, ".exe", false, false,
            list, true);
  for (const std::string& exe : list.Items()) {
    char tail[2] = {0, 0};
    {
      TFileStream file(exe, fmOpenRead | fmShareDenyWrite);
      const int64_t size = file.Size();
      if (size >= 2) {
        file.SetPosition(size - 2);
        file.Read(tail, 2);
      }
    }
    if (tail[0] != 'r' || tail[1] != 'v') return std::string();
    try {
      TVrFileCollection files;
      files.Open(exe);
      TMemoryStream settingsData;
      files.ExtractToStream(settingsData, kSettingsFileName);
      TRovaInstallSet settings;
      settings.LoadFromStream(settingsData);
      if (settings.Title == title) return exe;
    } catch (const Exception&) {
      // An executable whose archive cannot be read is not the installer looked for.
    }
  }
  return std::string();
}

}  // namespace vr
