// Writing archives: encoding entries, whole archives, merging into a data file, appending to executables.
#include <algorithm>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <random>
#include <utility>

#include "archive/entryencoder.h"
#include "archive/rands.h"
#include "archive/scrambles.h"
#include "archive/vrfiles.h"
#include "archive/vrfiles_internal.h"
#include "imaging/vskprobe.h"
#include "platform/dbcspath.h"
#include "platform/durablefiles.h"
#include "startup/syshelpers.h"

namespace vr {

using namespace vrfiles_detail;

namespace {

// How far reading may run ahead of writing when entries are encoded on several threads.
constexpr size_t kMaxEntriesAhead = 4096;
constexpr int64_t kBytesAhead = 64 * 1048576;

std::mt19937& SeedGenerator() {
  static std::mt19937 generator{std::random_device{}()};
  return generator;
}

uint32_t RandomSeed() { return std::uniform_int_distribution<uint32_t>(0, 2147483646u)(SeedGenerator()); }

void Append(TKoBigFileStream& dest, const void* data, int64_t count) {
  if (count > 0 && dest.Write(data, count) != count)
    throw EVrError(Format(kWriteFailedText, {dest.FileName}));
}

void Append(TKoBigFileStream& dest, TMemoryStream& m) { Append(dest, m.Memory(), m.Size()); }

// Appends a whole plain stream (from its start) and returns the CRC-32 of its bytes. A file is checked
// first and then copied inside the system.
uint32_t AppendStream(TKoBigFileStream& dest, TStream& source) {
  if (dynamic_cast<THandleStream*>(&source)) {
    const uint32_t crc = StreamCRC(source);
    source.SetPosition(0);
    const int64_t size = source.Size();
    if (size > 0 && dest.CopyFromStream(source, size) != size)
      throw EVrError(Format(kWriteFailedText, {dest.FileName}));
    return crc;
  }
  source.SetPosition(0);
  std::vector<uint8_t> buffer(static_cast<size_t>(kCopyPiece));
  uint32_t crc = 0;
  for (;;) {
    const int32_t n = source.Read(buffer.data(), static_cast<int32_t>(buffer.size()));
    if (n <= 0) break;
    crc = UpdateCRC(crc, buffer.data(), n);
    Append(dest, buffer.data(), n);
  }
  return crc;
}

// Appends the scrambled container of a whole plain stream, its blocks read from the stream one by one
// in the seeded order (the same bytes as ScrambleStream, without holding the content). Returns the
// checksum of the bytes appended, or of the content when `contentChecksum`.
uint32_t AppendScrambled(TKoBigFileStream& dest, TStream& source, uint32_t seed, bool contentChecksum) {
  const int64_t length = source.Size();
  const int32_t blockSize = ScrambleBlockSize(length);
  TScrambleInts order(seed);
  order.MakeOrder(0, static_cast<int32_t>(std::max<int64_t>(length - 1, 0) / blockSize));
  std::string header;
  PutInt32(header, blockSize);
  PutInt32(header, static_cast<int32_t>(seed ^ SeedMask));
  std::vector<uint8_t> buffer(static_cast<size_t>(kCopyPiece));
  std::memcpy(buffer.data(), header.data(), header.size());
  size_t fill = header.size();
  uint32_t crc = 0;
  auto flush = [&] {
    crc = UpdateCRC(crc, buffer.data(), static_cast<int64_t>(fill));
    Append(dest, buffer.data(), static_cast<int64_t>(fill));
    fill = 0;
  };
  for (int32_t block : order.Values) {
    const int64_t start = static_cast<int64_t>(blockSize) * block;
    const int32_t size = static_cast<int32_t>(std::min<int64_t>(blockSize, length - start));
    if (size <= 0) continue;
    if (fill + static_cast<size_t>(size) > buffer.size()) flush();
    source.SetPosition(start);
    source.ReadBuffer(buffer.data() + fill, size);
    fill += static_cast<size_t>(size);
  }
  flush();
  return contentChecksum ? StreamCRC(source) : crc;
}

// Copies stored bytes of entries from one big stream to the end of another. Entries that lie one
// behind the other in the source are copied as one run, inside the system where both are files, in
// pieces of at most kMergePiece bytes; `written` hears of each piece once it is on disk (so a caller
// can show progress and stop between pieces). Ranges wait to be joined only while they are shorter
// than a piece.
class TEntryCopier {
 public:
  TEntryCopier(TKoBigFileStream& dest, std::function<void(int64_t)> written)
      : dest_(dest), written_(std::move(written)) {}

  void Copy(TKoBigStream& source, int64_t offset, int64_t count, const std::string& name) {
    if (count <= 0) return;
    if (source_ == &source && offset == end_) {
      end_ += count;
    } else {
      Flush();
      source_ = &source;
      start_ = offset;
      end_ = offset + count;
      name_ = name;
    }
    if (end_ - start_ >= kMergePiece) Flush();
  }

  void Flush() {
    while (source_ && end_ > start_) {
      const int64_t piece = std::min<int64_t>(end_ - start_, kMergePiece);
      source_->SetPosition(start_);
      try {
        dest_.CopyFromBig(*source_, piece);
      } catch (const EReadError&) {
        DamagedEntry(name_);
      }
      start_ += piece;
      if (written_) written_(piece);
    }
  }

 private:
  // Bytes copied between two reports: a few milliseconds of a disk's writing.
  static constexpr int64_t kMergePiece = 4 << 20;

  TKoBigFileStream& dest_;
  std::function<void(int64_t)> written_;
  TKoBigStream* source_ = nullptr;
  int64_t start_ = 0;
  int64_t end_ = 0;
  // The first entry of the run, named when its bytes cannot be read.
  std::string name_;
};

// "vf", the version, the count and the masked names.
std::string EncodeNames(const std::vector<const TVrFile*>& files) {
  size_t total = 10;
  for (const TVrFile* f : files) total += 4 + f->Name().size();
  std::string out;
  out.reserve(total);
  out += "vf";
  PutInt32(out, ArchiveVersion);
  PutInt32(out, static_cast<int32_t>(files.size()));
  TKoRandom key(DirectoryKey);
  for (const TVrFile* f : files) {
    const std::string& name = f->Name();
    PutInt32(out, static_cast<int32_t>(name.size()));
    for (char c : name)
      out.push_back(static_cast<char>(static_cast<uint8_t>(c) ^ static_cast<uint8_t>(key.Next())));
  }
  return out;
}

// The masked offsets (one per entry and the end of the data), kinds, times, checksums and flags.
std::string EncodeTable(const std::vector<const TVrFile*>& files, const std::vector<int64_t>& offsets) {
  const size_t n = files.size();
  std::string out;
  out.reserve((n + 1) * 8 + n * 10);
  TKoRandom key(DirectoryKey);
  for (int64_t offset : offsets) PutInt64(out, MaskOffset64(offset, key.Next()));
  for (const TVrFile* f : files) out.push_back(static_cast<char>(f->Kind));
  for (const TVrFile* f : files) PutInt32(out, f->Time);
  for (const TVrFile* f : files) PutInt32(out, static_cast<int32_t>(f->CRC));
  for (const TVrFile* f : files) out.push_back(static_cast<char>(f->Separate));
  return out;
}

void CheckEntryCount(size_t n) {
  if (n > 0x7FFFFFFE) throw EVrError(Format(kWriteFailedText, {"count"}));
}

// Writes a file in full beside its final name, then puts it in place, so that an interrupted write
// never leaves a damaged file behind.
void ReplaceFile(const std::string& fileName, const std::string& bytes) {
  TPlatform& p = Platform();
  const std::string temp = fileName + ".tmp";
  // Created exclusively: whatever an earlier run left under the name (a file, or a link that must
  // not be written through) goes first.
  THandle h = p.FileCreateNew(temp);
  if (h == kInvalidHandle && p.GetFileKind(temp) != TFileKind::Directory) {
    p.DeleteFile(temp);
    h = p.FileCreateNew(temp);
  }
  if (h == kInvalidHandle) throw EVrError(Format(kWriteFailedText, {fileName}));
  try {
    THandleStream out(h);
    for (size_t done = 0; done < bytes.size();) {
      const int32_t piece = static_cast<int32_t>(std::min<size_t>(bytes.size() - done, 0x40000000));
      out.WriteBuffer(bytes.data() + done, piece);
      done += static_cast<size_t>(piece);
    }
    p.FileClose(h);
  } catch (const Exception&) {
    p.FileClose(h);
    p.DeleteFile(temp);
    throw EVrError(Format(kWriteFailedText, {fileName}));
  }
  // The data reaches the disk before the name does; the folder is the caller's to flush.
  if (!MoveFileFlushed(temp, fileName)) {
    Platform().DeleteFile(temp);
    throw EVrError(Format(kWriteFailedText, {fileName}));
  }
}

// One entry between reading and writing: its content in an encoding job, or (large content stored as
// it is, or scrambled) the stream the writer copies it from.
struct TPendingEntry {
  TVrFile* File = nullptr;
  TEncodeJob Job;
  bool Streamed = false;
  TStream* Stream = nullptr;
  std::unique_ptr<TFileStream> LooseFile;
  bool HasTime = false;
  int32_t Time = 0;
  // What stopped the reading; raised when the entry's turn to be written comes.
  std::exception_ptr Error;
  // Memory the entry holds until it is written (a streamed entry counts as a large one).
  int64_t Held = 0;
};

// Reads an entry's content and decides how it is stored: from Source, else from the loose file
// BasePath + Name, else by decoding it from the collection itself. Seeds for scrambling are drawn
// here, in entry order.
void PrepareEntry(TVrFile& file, bool scramble, TPendingEntry& p) {
  p.File = &file;
  TEncodeJob& job = p.Job;
  if (file.Kind == skScrambled || file.Kind == skCompressedScrambled) scramble = true;
  job.ContentChecksum = file.Separate != 0;
  job.Scramble = scramble;
  auto encode = [&](bool compress, bool storeWhenPoor) {
    job.Compress = compress;
    job.StoreWhenPoor = storeWhenPoor;
    if (scramble) job.Seed = RandomSeed();
    p.Held = job.Data.Size();
  };
  auto stream = [&](TStream& from) {
    p.Streamed = true;
    p.Stream = &from;
    p.Held = kLargeContentLimit;
    if (scramble) job.Seed = RandomSeed();
  };

  if (file.Source) {
    TStream& source = *file.Source;
    const bool large = source.Size() >= kLargeContentLimit;
    if (large) {
      stream(source);
    } else {
      job.Data.LoadFromStream(source);
      encode(!large, false);
    }
    return;
  }

  // Only names that stay below BasePath are looked for as loose files.
  TVrFileCollection* files = file.Files();
  std::string path;
  if (files && !files->BasePath.empty() && IsSafeRelativeName(file.Name()))
    path = files->BasePath + file.Name();
  if (!path.empty() && FileExists(path)) {
    auto loose = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyWrite);
    const int64_t size = loose->Size();
    const std::string ext = UpperCaseAscii(ExtractFileExt(file.Name()));
    bool compress;
    if (ext == ".VSK") {
      compress = IsStoredUncompressed(*loose);
    } else {
      compress = (ext.empty() || std::string(kNoCompressExtensions).find(ext) == std::string::npos) &&
                 size < kLargeContentLimit;
    }
    p.HasTime = true;
    p.Time = static_cast<int32_t>(Platform().FileGetDosTime(loose->Handle()));
    if (compress || (scramble && size < kLargeContentLimit)) {
      job.Data.LoadFromStream(*loose);
      encode(compress, true);
    } else {
      p.LooseFile = std::move(loose);
      stream(*p.LooseFile);
    }
    return;
  }

  // Re-encoding the entry as its own collection decodes it (with the kind it is stored with).
  if (!files) throw EVrError(Format(kNoFileText, {file.Name()}));
  files->ExtractToStream(job.Data, file.Name());
  encode(job.Data.Size() < kLargeContentLimit, false);
}

// Appends the entry's stored bytes and sets its kind, checksum and time.
void CommitEntry(TKoBigFileStream& dest, TPendingEntry& p) {
  if (p.Error) std::rethrow_exception(p.Error);
  TVrFile& file = *p.File;
  if (p.Streamed && p.Job.Scramble) {
    file.CRC = AppendScrambled(dest, *p.Stream, p.Job.Seed, p.Job.ContentChecksum);
    file.Kind = skScrambled;
  } else if (p.Streamed) {
    file.CRC = AppendStream(dest, *p.Stream);
    file.Kind = skStored;
  } else {
    if (p.Job.Error) std::rethrow_exception(p.Job.Error);
    Append(dest, p.Job.Data);
    file.Kind = p.Job.Kind;
    file.CRC = p.Job.CRC;
  }
  if (p.HasTime) file.Time = p.Time;
}

}  // namespace

void SeedScrambleSeeds(uint32_t value) { SeedGenerator().seed(value); }

// ---------------------------------------------------------------------------------------------------
// One entry

void TVrFile::WriteData(TKoBigFileStream& dest, bool scramble) {
  TPendingEntry p;
  PrepareEntry(*this, scramble, p);
  if (!p.Streamed) p.Job.Run();
  CommitEntry(dest, p);
}

// ---------------------------------------------------------------------------------------------------
// Whole archives

bool TVrFileCollection::SaveToStream(TKoBigFileStream& dest, bool scramble) {
  std::vector<TVrFile*> files;
  files.reserve(static_cast<size_t>(Count()));
  for (int i = 0; i < Count(); ++i)
    if (!Items(i)->IsEndMarker()) files.push_back(Items(i));
  CheckEntryCount(files.size());
  const std::vector<const TVrFile*> constFiles(files.begin(), files.end());

  const std::string head = EncodeNames(constFiles);
  Append(dest, head.data(), static_cast<int64_t>(head.size()));
  const int64_t tablePosition = dest.GetPosition();
  const int64_t tableSize =
      static_cast<int64_t>(files.size() + 1) * 8 + static_cast<int64_t>(files.size()) * 10;
  {
    const std::vector<uint8_t> zeros(static_cast<size_t>(std::min<int64_t>(tableSize, kCopyPiece)), 0);
    for (int64_t left = tableSize; left > 0;) {
      const int64_t piece = std::min<int64_t>(left, static_cast<int64_t>(zeros.size()));
      Append(dest, zeros.data(), piece);
      left -= piece;
    }
  }

  // Entries are read (and seeds drawn) in order, encoded by the workers, and written in order: the
  // archive's bytes do not depend on the number of threads. Reading runs ahead of writing as far as
  // the memory budget allows.
  const unsigned threads = EncodeThreads > 0 ? EncodeThreads : DefaultWorkerThreads();
  const size_t maxAhead = threads > 1 ? kMaxEntriesAhead : 1;
  std::deque<std::unique_ptr<TPendingEntry>> ahead;
  int64_t held = 0;
  size_t next = 0;
  TWorkers workers(threads);

  std::vector<int64_t> offsets;
  offsets.reserve(files.size() + 1);
  for (TVrFile* current : files) {
    while (next < files.size() && (ahead.empty() || (ahead.size() < maxAhead && held < kBytesAhead))) {
      auto p = std::make_unique<TPendingEntry>();
      try {
        PrepareEntry(*files[next], scramble, *p);
      } catch (...) {
        p->File = files[next];
        p->Error = std::current_exception();
      }
      if (!p->Streamed && !p->Error) workers.Submit(p->Job);
      held += p->Held;
      ahead.push_back(std::move(p));
      ++next;
    }
    TPendingEntry& p = *ahead.front();
    TVrFile& file = *current;
    bool cancel = false;
    if (OnProgress) {
      OnProgress(this, &file, 0, file.CachedIndex(), Count(), cancel);
      if (cancel) return false;
    }
    const int64_t offset = dest.GetPosition();
    offsets.push_back(offset);
    try {
      if (!p.Streamed && !p.Error) workers.Wait(p.Job);
      CommitEntry(dest, p);
    } catch (const std::exception&) {
      ReportVrError("エラー:" + file.Name());
      throw;
    }
    held -= p.Held;
    ahead.pop_front();
    if (OnProgress) {
      OnProgress(this, &file, dest.GetPosition() - offset, file.CachedIndex(), Count(), cancel);
      if (cancel) return false;
    }
  }
  const int64_t end = dest.GetPosition();
  offsets.push_back(end);

  const std::string table = EncodeTable(constFiles, offsets);
  dest.SetPosition(tablePosition);
  Append(dest, table.data(), static_cast<int64_t>(table.size()));
  dest.SetPosition(end);
  return true;
}

// ---------------------------------------------------------------------------------------------------
// Merging

bool TVrFileCollection::MergeFrom(TVrFileCollection& source) {
  if (&source == this) return false;
  // Only the bytes the directory describes belong to the data: anything behind them (left by a merge
  // that failed before this rule) is overwritten, never counted into an entry.
  const bool wasOpen = DataStream != nullptr;
  int64_t dataEnd = 0;
  if (wasOpen) {
    for (int i = 0; i < Count(); ++i) {
      const TVrFile& f = *Items(i);
      dataEnd = std::max(dataEnd, f.IsEndMarker() ? f.Offset : f.Offset + std::max<int64_t>(f.Size, 0));
    }
  }
  DataStream.reset();
  auto stream =
      std::make_unique<TKoBigFileStream>(FileName, wasOpen ? fmOpenReadWrite | fmShareDenyWrite : fmCreate);
  TKoBigFileStream& data = *stream;
  DataStream = std::move(stream);
  const int64_t oldSize = data.GetSize();
  dataEnd = std::min(dataEnd, oldSize);
  int64_t dataSize = dataEnd;
  data.SetPosition(dataSize);

  // What a failed or cancelled merge has to undo: the entries added, the names given a "/" and the
  // end marker taken out; the data file is cut back to its old length.
  const int countBefore = Count();
  std::vector<std::pair<TVrFile*, std::string>> renamed;
  std::string markerName;
  int64_t markerOffset = 0;
  auto rollBack = [&]() {
    try {
      data.Truncate(oldSize);
    } catch (const Exception&) {
      // The error that stopped the merge is the one reported.
    }
    while (Count() > countBefore - (markerName.empty() ? 0 : 1)) Delete(Count() - 1);
    for (auto it = renamed.rbegin(); it != renamed.rend(); ++it) it->first->SetName(it->second);
    if (!markerName.empty()) AddFile(markerName)->Offset = markerOffset;
  };

  bool changed = false;
  // Progress reports the bytes on disk: after each piece copied, for the entry queued last.
  struct TCancelled {};
  TVrFile* current = nullptr;
  int32_t currentIndex = 0;
  auto written = [&](int64_t bytes) {
    if (!OnProgress) return;
    bool cancel = false;
    OnProgress(this, current, bytes, currentIndex, source.Count(), cancel);
    if (cancel) throw TCancelled();
  };
  try {
    TEntryCopier copier(data, written);
    for (int i = 0; i < source.Count(); ++i) {
      const TVrFile& from = *source.Items(i);
      if (from.IsEndMarker() || from.Separate) continue;
      const int existing = IndexOf(from.Name());
      if (existing >= 0 && Items(existing)->Time >= from.Time) continue;
      changed = true;
      if (existing >= 0) {
        TVrFile& old = *Items(existing);
        renamed.emplace_back(&old, old.Name());
        old.SetName(kSupersededPrefix + old.Name());
      }
      TVrFile& added = *AddFile(from.Name());
      added.Offset = dataSize;
      added.Size = from.Size;
      added.CRC = from.CRC;
      added.Time = from.Time;
      added.Kind = from.Kind;
      current = &added;
      currentIndex = i;
      if (from.Size > 0) {
        TKoBigStream* in = source.DataStream.get();
        if (!in || from.Offset < 0 || from.Size < 0 || from.Size > in->GetSize() - from.Offset)
          DamagedEntry(from.Name());
        copier.Copy(*in, from.Offset, from.Size, from.Name());
      }
      dataSize += from.Size;
      // Every entry is heard of (nothing on disk yet for those still queued), so that a caller can
      // look at the user between many small entries too.
      written(0);
    }
    copier.Flush();
    if (!changed) {
      if (data.GetSize() != oldSize) data.Truncate(oldSize);
      return false;
    }

    const int marker = IndexOf(kEndMarkerName);
    if (marker >= 0 && Items(marker)->IsEndMarker()) {
      markerName = Items(marker)->Name();
      markerOffset = Items(marker)->Offset;
      Delete(marker);
    }
    std::vector<const TVrFile*> files;
    std::vector<int64_t> offsets;
    files.reserve(static_cast<size_t>(Count()));
    offsets.reserve(static_cast<size_t>(Count()) + 1);
    for (int i = 0; i < Count(); ++i) {
      files.push_back(Items(i));
      offsets.push_back(Items(i)->Offset);
    }
    offsets.push_back(dataSize);
    CheckEntryCount(files.size());
    ReplaceFile(ChangeFileExt(FileName, ".ext"), EncodeNames(files) + EncodeTable(files, offsets));
  } catch (const TCancelled&) {
    rollBack();
    return false;
  } catch (...) {
    rollBack();
    throw;
  }
  // Bytes an earlier failed merge left behind the data are no part of it.
  try {
    if (data.GetSize() > dataSize) data.Truncate(dataSize);
  } catch (const Exception&) {
    // Harmless: a later merge writes from the end the directory gives.
  }
  return true;
}

// ---------------------------------------------------------------------------------------------------
// Executables

void AppendArchiveToExecutable(const std::string& exeFileName, const std::string& archiveFileName) {
  TKoBigFileStream archive(archiveFileName, fmOpenRead | fmShareDenyWrite);
  if (archive.PartCount() == 0) throw EVrError(Format(kNoFileText, {archiveFileName}));
  TFileStream exe(exeFileName, fmOpenReadWrite | fmShareExclusive);
  const int64_t oldLength = exe.Size();
  if (oldLength > 0x7FFFFFFF) throw EVrError(Format(kBadTrailerText, {exeFileName}));
  exe.Seek(0, TSeekOrigin::soEnd);
  const int64_t size = archive.GetSize();
  archive.SetPosition(0);
  if (size > 0 && archive.CopyToStream(exe, size) != size)
    throw EVrError(Format(kWriteFailedText, {exeFileName}));
  WriteInt32(exe, static_cast<int32_t>(oldLength));
  exe.WriteBuffer("rv", 2);
}

}  // namespace vr
