// Reading an archive: the directory, decoding entries, checking a data file's checksums.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

#include <zlib.h>
#ifdef VR_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "archive/entrywriter.h"
#include "archive/rands.h"
#include "archive/readahead.h"
#include "archive/scrambles.h"
#include "archive/vrfiles.h"
#include "archive/vrfiles_internal.h"
#include "platform/dbcspath.h"
#include "startup/syshelpers.h"

namespace vr {

using namespace vrfiles_detail;

namespace {

void ReadDirectoryBytes(TKoBigStream& stream, void* buffer, int64_t count, const char* what) {
  if (count > 0 && stream.Read(buffer, count) != count) DamagedDirectory(what);
}

int32_t ReadDirectoryInt(TKoBigStream& stream, const char* what) {
  uint8_t b[4];
  ReadDirectoryBytes(stream, b, 4, what);
  return static_cast<int32_t>(GetUInt32(b));
}

// Creates a folder and the folders above it.
void ForceFolders(const std::string& folder) {
  if (folder.empty() || FileExists(folder)) return;
  if (!ForceDirectories(folder)) throw EVrError(Format(kWriteFailedText, {folder}));
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Directory

void TVrFileCollection::LoadDirectory(TKoBigStream& stream) {
  const int firstNew = Count();
  try {
    const int64_t start = stream.GetPosition();
    const int64_t streamSize = stream.GetSize();
    // Without a data stream (a directory file read on its own) the end of the data is unknown;
    // extraction checks every entry against the stream it reads from anyway.
    const int64_t dataSize = DataStream ? DataStream->GetSize() : INT64_MAX;
    if (streamSize - start < 4) DamagedDirectory("header");

    uint8_t magic[2];
    ReadDirectoryBytes(stream, magic, 2, "header");
    int32_t version = 0;
    if (magic[0] == 'v' && magic[1] == 'f') {
      version = ReadDirectoryInt(stream, "version");
    } else {
      stream.SetPosition(start);
    }
    const int32_t count = ReadDirectoryInt(stream, "count");
    if (count < 0) DamagedDirectory("count");

    // Every entry needs at least its name length, its offset and its fixed fields: a count that
    // cannot fit the rest of the stream is refused before anything is allocated.
    const int64_t offsetWidth = version >= 101 ? 8 : 4;
    const int64_t fieldBytes = (version >= 101 ? 9 : 0) + (version >= 102 ? 1 : 0);
    const int64_t afterCount = streamSize - stream.GetPosition();
    const int64_t tailBytes = (static_cast<int64_t>(count) + 1) * offsetWidth + count * fieldBytes;
    if (afterCount < offsetWidth || (afterCount - offsetWidth) / (4 + offsetWidth + fieldBytes) < count)
      DamagedDirectory("count");
    int64_t nameBudget = afterCount - tailBytes - 4 * static_cast<int64_t>(count);

    IndexReserve(static_cast<size_t>(Count()) + static_cast<size_t>(count) + 1);
    {
      TKoBuffBigStream names(stream);
      TKoRandom key(DirectoryKey);
      std::string name;
      for (int32_t i = 0; i < count; ++i) {
        uint8_t b[4];
        if (names.Read(b, 4) != 4) DamagedDirectory("names");
        const int32_t length = static_cast<int32_t>(GetUInt32(b));
        if (length < 0 || length > nameBudget) DamagedDirectory("name length");
        nameBudget -= length;
        name.resize(static_cast<size_t>(length));
        if (length > 0 && names.Read(&name[0], length) != length) DamagedDirectory("names");
        if (version >= 100)
          for (char& c : name)
            c = static_cast<char>(static_cast<uint8_t>(c) ^ static_cast<uint8_t>(key.Next()));
        AddFile(name);
      }
    }  // the buffered reader hands its unread bytes back: the stream stands after the last name
    AddFile(kEndMarkerName);

    std::vector<uint8_t> raw(static_cast<size_t>(tailBytes));
    ReadDirectoryBytes(stream, raw.data(), tailBytes, "offsets");
    std::vector<int64_t> offsets(static_cast<size_t>(count) + 1);
    TKoRandom key(DirectoryKey);
    const uint8_t* p = raw.data();
    for (int64_t& offset : offsets) {
      if (offsetWidth == 8) {
        const uint64_t low = GetUInt32(p), high = GetUInt32(p + 4);
        offset = MaskOffset64(static_cast<int64_t>(low | (high << 32)), key.Next());
      } else {
        uint32_t value = GetUInt32(p);
        if (version == 100) value ^= key.Next();
        offset = value;
      }
      p += offsetWidth;
    }
    for (int32_t i = 0; i <= count; ++i) {
      if (offsets[i] < 0) DamagedDirectory("offset");
      if (i > 0 && offsets[i] < offsets[i - 1]) DamagedDirectory("offsets run backwards");
    }
    if (offsets[count] > dataSize - start) {
      // Data ending early is most often a part file (game.001 ...) that is not there: name it.
      if (auto* parts = dynamic_cast<TKoBigFileStream*>(DataStream.get())) {
        const int64_t partEnd = static_cast<int64_t>(parts->PartCount()) * parts->PartSize();
        if (parts->PartCount() > 0 && dataSize == partEnd) {
          const std::string missing = parts->PartFileName(parts->PartCount());
          if (!FileExists(missing)) throw EVrError(Format(kNoFileText, {missing}));
        }
      }
      DamagedDirectory("offset beyond the end of the data");
    }

    const uint8_t* kinds = p;
    const uint8_t* times = kinds + (version >= 101 ? count : 0);
    const uint8_t* crcs = times + (version >= 101 ? 4 * static_cast<int64_t>(count) : 0);
    const uint8_t* separate = crcs + (version >= 101 ? 4 * static_cast<int64_t>(count) : 0);
    for (int32_t i = 0; i < count; ++i) {
      TVrFile& f = *Items(firstNew + i);
      f.Offset = start + offsets[i];
      f.Size = offsets[i + 1] - offsets[i];
      if (version >= 101) {
        f.Kind = kinds[i];
        f.Time = static_cast<int32_t>(GetUInt32(times + 4 * static_cast<int64_t>(i)));
        f.CRC = GetUInt32(crcs + 4 * static_cast<int64_t>(i));
      }
      if (version >= 102) f.Separate = separate[i];
    }
    Items(firstNew + count)->Offset = offsets[count];
  } catch (...) {
    while (Count() > firstNew) Delete(Count() - 1);
    throw;
  }
}

// ---------------------------------------------------------------------------------------------------
// Extraction

namespace {

// Stored bytes up to this size are read whole when unscrambling; larger containers are read block by
// block, so memory never follows the entry's size.
constexpr int64_t kScrambleWhole = 8 * 1048576;
// Bytes handed to the sink at a time.
constexpr size_t kDecodePiece = 1048576;

// Where one entry's stored bytes are read from: the data stream at the entry's offset, or memory that
// holds them whole. Positions are relative to the entry's first stored byte.
struct TStoredBytes {
  TKoBigStream* Stream = nullptr;
  int64_t Offset = 0;
  const uint8_t* Memory = nullptr;
  int64_t Size = 0;
  const std::string& Name;

  void ReadAt(int64_t pos, uint8_t* buffer, int64_t count) const {
    if (count <= 0) return;
    if (pos < 0 || count > Size - pos) DamagedEntry(Name);
    if (Memory) {
      std::memcpy(buffer, Memory + pos, static_cast<size_t>(count));
      return;
    }
    Stream->SetPosition(Offset + pos);
    if (Stream->Read(buffer, count) != count) DamagedEntry(Name);
  }
};

// Hands the payload of an entry's stored bytes (unscrambled when scrambled) to `put` in pieces, in
// order. `put` returns nothing; damaged containers raise EVrError.
void ReadPayload(const TStoredBytes& in, bool scrambled,
                 const std::function<void(const uint8_t*, size_t)>& put,
                 const std::function<void(int64_t)>& progress) {
  if (!scrambled) {
    std::vector<uint8_t> buffer(
        in.Memory ? 0 : static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(in.Size, 1), kCopyPiece)));
    for (int64_t done = 0; done < in.Size;) {
      const int64_t piece = std::min<int64_t>(in.Size - done, kCopyPiece);
      if (in.Memory) {
        put(in.Memory + done, static_cast<size_t>(piece));
      } else {
        in.ReadAt(done, buffer.data(), piece);
        put(buffer.data(), static_cast<size_t>(piece));
      }
      done += piece;
      if (progress) progress(done);
    }
    return;
  }
  if (in.Size < 8) DamagedEntry(in.Name);
  uint8_t header[8];
  in.ReadAt(0, header, 8);
  const int32_t blockSize = static_cast<int32_t>(GetUInt32(header));
  const uint32_t seed = GetUInt32(header + 4) ^ SeedMask;
  const int64_t length = in.Size - 8;
  if (blockSize < 1) DamagedEntry(in.Name);
  if (length == 0) return;
  const int64_t blocks = (length - 1) / blockSize + 1;
  // Writers cut blocks of at least 256 bytes (ScrambleBlockSize): a large container cut into far more
  // blocks would make the permutation (8 bytes a block while it is drawn) outgrow its payload.
  if (blocks > std::max<int64_t>(1 << 16, length / 256 + 1)) DamagedEntry(in.Name);
  TScrambleInts inverse(seed);
  inverse.MakeInverse(0, static_cast<int32_t>(blocks - 1));
  std::vector<uint8_t> read;
  const uint8_t* whole = in.Memory ? in.Memory + 8 : nullptr;
  if (!whole && in.Size <= kScrambleWhole) {
    read.resize(static_cast<size_t>(length));
    in.ReadAt(8, read.data(), length);
    whole = read.data();
  }
  std::vector<uint8_t> block(whole ? 0 : static_cast<size_t>(std::min<int64_t>(blockSize, length)));
  int64_t done = 0;
  for (int64_t v = 0; v < blocks; ++v) {
    // Every stored block but the last is whole; the payload's last block is always stored last.
    const int64_t storedAt = static_cast<int64_t>(inverse.Values[static_cast<size_t>(v)]) * blockSize;
    const int64_t size = std::min<int64_t>(blockSize, length - v * blockSize);
    if (storedAt + size > length) DamagedEntry(in.Name);
    if (whole) {
      put(whole + storedAt, static_cast<size_t>(size));
    } else {
      in.ReadAt(8 + storedAt, block.data(), size);
      put(block.data(), static_cast<size_t>(size));
    }
    done += size;
    if (progress) progress(8 + done);
  }
}

#ifdef VR_HAVE_LIBDEFLATE
// Inflates a zlib stream held whole in memory in one call, into a buffer the thread keeps: many small
// entries cost no set-up each. False, with nothing handed out, when the content does not fit the
// buffer tried (up to eight times the stored size, 16 MiB at most); damaged data raises EVrError.
bool InflateWhole(const TStoredBytes& in, const TVrSink& sink) {
  struct TState {
    libdeflate_decompressor* Decompressor = libdeflate_alloc_decompressor();
    std::unique_ptr<uint8_t[]> Out;
    size_t Capacity = 0;
    ~TState() { libdeflate_free_decompressor(Decompressor); }
  };
  thread_local TState state;
  if (!state.Decompressor) return false;
  const size_t want = static_cast<size_t>(std::clamp<int64_t>(in.Size * 8, 256 << 10, 16 << 20));
  if (state.Capacity < want) {
    state.Out.reset(new uint8_t[want]);
    state.Capacity = want;
  }
  size_t used = 0, produced = 0;
  // Bytes behind the end of the zlib stream are no content, as for the streamed inflate.
  switch (libdeflate_zlib_decompress_ex(state.Decompressor, in.Memory, static_cast<size_t>(in.Size),
                                        state.Out.get(), state.Capacity, &used, &produced)) {
    case LIBDEFLATE_SUCCESS:
      if (produced) sink(state.Out.get(), produced);
      return true;
    case LIBDEFLATE_INSUFFICIENT_SPACE:
      return false;
    default:
      DamagedEntry(in.Name);
  }
}
#endif

// Decodes stored bytes of storage kind `kind` into sink (see DecodeItemTo).
void DecodePayload(const TStoredBytes& in, uint8_t kind, const TVrSink& sink,
                   const std::function<void(int64_t)>& progress) {
  const bool scrambled = kind == skScrambled || kind == skCompressedScrambled;
  const bool compressed = kind == skCompressed || kind == skCompressedScrambled;
  if (!compressed) {
    ReadPayload(in, scrambled, sink, progress);
    return;
  }
#ifdef VR_HAVE_LIBDEFLATE
  if (in.Memory && !scrambled && InflateWhole(in, sink)) {
    if (progress) progress(in.Size);
    return;
  }
#endif
  // Inflated as a stream: memory stays at two pieces whatever the content's size.
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw EZLibError("zlib エラー: inflateInit");
  struct TEnd {
    z_stream* z;
    ~TEnd() { inflateEnd(z); }
  } end{&z};
  // Not zero-filled: clearing a whole piece for every entry cost more than inflating a small one.
  const std::unique_ptr<uint8_t[]> out(new uint8_t[kDecodePiece]);
  bool finished = false;
  ReadPayload(
      in, scrambled,
      [&](const uint8_t* p, size_t n) {
        if (finished) return;  // bytes behind the end of the zlib stream are no content
        z.next_in = const_cast<Bytef*>(p);
        z.avail_in = static_cast<uInt>(n);
        do {
          z.next_out = out.get();
          z.avail_out = static_cast<uInt>(kDecodePiece);
          const int rc = inflate(&z, Z_NO_FLUSH);
          if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) DamagedEntry(in.Name);
          const size_t produced = kDecodePiece - z.avail_out;
          if (produced) sink(out.get(), produced);
          if (rc == Z_STREAM_END) {
            finished = true;
            break;
          }
          if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
        } while (z.avail_in > 0 || z.avail_out == 0);
      },
      progress);
  if (!finished) DamagedEntry(in.Name);
}

}  // namespace

void TVrFileCollection::DecodeItemTo(int index, const TVrSink& sink,
                                     const std::function<void(int64_t)>& progress) {
  TVrFile& item = *Items(index);
  if (!DataStream) throw EVrError(Format(kNoFileText, {item.Name()}));
  TKoBigStream& data = *DataStream;
  if (item.Offset < 0 || item.Size < 0 || item.Size > data.GetSize() - item.Offset) DamagedEntry(item.Name());
  DecodePayload({&data, item.Offset, nullptr, item.Size, item.Name()}, item.Kind, sink, progress);
}

void DecodeStoredBytes(const uint8_t* stored, int64_t size, uint8_t kind, const std::string& name,
                       const TVrSink& sink) {
  if (size < 0) DamagedEntry(name);
  DecodePayload({nullptr, 0, stored, size, name}, kind, sink, nullptr);
}

void TVrFileCollection::DecodeItem(TVrFile& item, TStream& dest) {
  DecodeItemTo(item.CachedIndex(), [&dest](const uint8_t* p, size_t n) {
    for (size_t done = 0; done < n;) {
      const int32_t piece = static_cast<int32_t>(std::min<size_t>(n - done, 0x40000000));
      dest.WriteBuffer(p + done, piece);
      done += static_cast<size_t>(piece);
    }
  });
}

void TVrFileCollection::ExtractToStream(TStream& dest, const std::string& name) {
  auto* memory = dynamic_cast<TMemoryStream*>(&dest);
  if (memory) memory->Clear();
  if (DataStream) {
    const int index = IndexOf(name);
    if (index >= 0) {
      DecodeItem(*Items(index), dest);
      dest.SetPosition(0);
      return;
    }
  }
  if (!BasePath.empty()) {
    const std::string path = BasePath + name;
    if (FileExists(path) && Platform().CompareTextJ(path, FileName) != 0) {
      if (memory) {
        memory->LoadFromFile(path);
      } else {
        TFileStream file(path, fmOpenRead | fmShareDenyWrite);
        CopyStreamRange(dest, file, 0);
      }
      dest.SetPosition(0);
      return;
    }
  }
  throw EVrError(Format(kNoFileText, {name}));
}

void TVrFileCollection::ExtractItem(TStream& dest, int index) {
  TVrFile& item = *Items(index);
  if (!DataStream) throw EVrError(Format(kNoFileText, {item.Name()}));
  if (auto* memory = dynamic_cast<TMemoryStream*>(&dest)) memory->Clear();
  DecodeItem(item, dest);
  dest.SetPosition(0);
}

std::string TVrFileCollection::ExtractItemToFolder(int index, const std::string& folder) {
  const std::string& name = Items(index)->Name();
  if (!IsSafeRelativeName(name)) throw EVrError(Format(kUnsafeNameText, {name}));
  ForceFolders(ExcludeTrailingBackslash(folder));
  TEntryWriter writer(folder);
  const std::string path = writer.Write(*this, index);
  // A folder entry names no file to write.
  if (path.empty()) throw EVrError(Format(kUnsafeNameText, {name}));
  return path;
}

// ---------------------------------------------------------------------------------------------------
// Checking

bool TVrFileCollection::RunVerify(bool stopAtMismatch, std::vector<TVerifyState>* states) {
  TKoBigStream& data = *DataStream;
  const int64_t dataSize = data.GetSize();
  if (states) states->assign(static_cast<size_t>(Count()), TVerifyState::vsSkipped);
  // Entries lie one after the other: checking every entry that falls into a window of the data turns
  // many small entries into one sequential pass. The windows are mapped from the file cache where the
  // data's files can be (no copy at all), else read, the next one while this one is summed.
  TMappedBytes mapped;
  bool mapping = true;
  TReadAhead windows(
      [&data](int64_t position, uint8_t* buffer, int64_t count) {
        data.SetPosition(position);
        return data.Read(buffer, count);
      },
      dataSize, kReadAheadPiece);
  const uint8_t* window = nullptr;
  int64_t windowStart = 0, windowLength = 0;
  bool result = true;
  // Every entry but the end marker is checked: after a merge the last entry is a real one.
  const int count = Count();
  const int checked = count > 0 && Items(count - 1)->IsEndMarker() ? count - 1 : count;
  for (int i = 0; i < count; ++i) {
    TVrFile& item = *Items(i);
    if (item.IsEndMarker()) continue;
    if (i % 10 == 9 && OnProgress) {
      bool cancel = false;
      OnProgress(this, &item, item.Size, i, checked, cancel);
      if (cancel) return result;
    }
    if (item.CRC == 0 || item.IsSuperseded()) continue;
    TVerifyState state = TVerifyState::vsOk;
    const bool encoded =
        item.Kind == skCompressed || item.Kind == skScrambled || item.Kind == skCompressedScrambled;
    if (item.Offset < 0 || item.Size < 0 || item.Size > dataSize - item.Offset) {
      state = TVerifyState::vsTruncated;
    } else if (item.Separate && encoded) {
      // A separate entry carries the checksum of its content: decode it (as a stream) and check that.
      uint32_t crc = 0;
      windows.Settle();  // the decoder reads the data stream itself
      try {
        DecodeItemTo(
            i, [&crc](const uint8_t* p, size_t n) { crc = UpdateCRC(crc, p, static_cast<int64_t>(n)); });
        if (crc != item.CRC) state = TVerifyState::vsMismatch;
      } catch (const EVrError&) {
        state = TVerifyState::vsMismatch;
      } catch (const EZLibError&) {
        state = TVerifyState::vsMismatch;
      }
    } else {
      uint32_t crc = 0;
      for (int64_t pos = item.Offset, left = item.Size; left > 0;) {
        if (pos >= windowStart && pos < windowStart + windowLength) {
          const int64_t take = std::min(left, windowStart + windowLength - pos);
          crc = UpdateCRC(crc, window + (pos - windowStart), take);
          pos += take;
          left -= take;
          continue;
        }
        TReadAhead::TPiece piece;
        if (mapping) {
          mapped = TMappedBytes();  // the last window goes before the next one is mapped
          mapped = data.View(pos, std::min(kMappedWindow, dataSize - pos));
          piece = {mapped.Data(), mapped.Length()};
          mapping = piece.Length > 0;
        }
        if (!mapping) piece = windows.At(pos);
        if (piece.Length <= 0) {
          state = TVerifyState::vsTruncated;
          break;
        }
        window = piece.Data;
        windowStart = pos;
        windowLength = piece.Length;
      }
      if (state == TVerifyState::vsOk && crc != item.CRC) state = TVerifyState::vsMismatch;
    }
    if (states) (*states)[static_cast<size_t>(i)] = state;
    if (state != TVerifyState::vsOk) {
      result = false;
      if (stopAtMismatch) return false;
    }
  }
  return result;
}

bool TVrFileCollection::VerifyData() {
  if (!DataStream) return false;
  return RunVerify(true, nullptr);
}

std::vector<TVerifyState> TVrFileCollection::VerifyEach() {
  if (!DataStream) throw EVrError(Format(kNoFileText, {FileName}));
  std::vector<TVerifyState> states;
  RunVerify(false, &states);
  return states;
}

}  // namespace vr
