#include "archive/bigstreams.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "framework/sysutils.h"
#include "platform/dbcspath.h"

namespace vr {

namespace {

int64_t g_defaultPartSize = kBigPartSize;

// Largest count passed to one plain read or write (they take 32-bit counts).
constexpr int64_t kMaxIo = 1 << 30;

// Bytes of a memory stream from its position to its end (0 when the position lies outside).
int64_t MemoryLeft(TCustomMemoryStream& m) {
  const int64_t pos = m.Position();
  return pos < 0 || pos >= m.Size() ? 0 : m.Size() - pos;
}

// Reads up to count bytes from a plain stream, repeating short reads; returns the bytes read.
int64_t ReadPlain(TStream& s, void* buffer, int64_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int32_t piece = static_cast<int32_t>(std::min(count - done, kMaxIo));
    const int32_t got = s.Read(p + done, piece);
    if (got < 0) throw EReadError(SReadError);
    if (got == 0) break;
    done += got;
  }
  return done;
}

// Writes all of count bytes to a plain stream or raises EWriteError.
void WritePlain(TStream& s, const void* buffer, int64_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int32_t piece = static_cast<int32_t>(std::min(count - done, kMaxIo));
    const int32_t put = s.Write(p + done, piece);
    if (put != piece) throw EWriteError(SWriteError);
    done += put;
  }
}

// Copies count bytes through a buffer of at most bufferSize bytes. read(buffer, n) returns the bytes
// it got, fewer only at the end of the source; write(buffer, n) stores all of them. A source that ends
// early raises EReadError after what it held was copied when `exact`, and otherwise ends the copy.
// Returns the bytes copied.
template <class ReadFn, class WriteFn>
int64_t CopyThroughBuffer(int64_t count, int64_t bufferSize, bool exact, ReadFn read, WriteFn write) {
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(count, bufferSize)));
  int64_t done = 0;
  while (done < count) {
    const int64_t piece = std::min<int64_t>(count - done, static_cast<int64_t>(buf.size()));
    const int64_t got = read(buf.data(), piece);
    if (got > 0) write(buf.data(), got);
    done += std::max<int64_t>(got, 0);
    if (got < piece) {
      if (exact) throw EReadError(SReadError);
      break;
    }
  }
  return done;
}

// Copies count bytes from a memory stream's position straight out of its memory and moves the
// position past them; EReadError, after what it held was copied, when fewer remain.
template <class WriteFn>
int64_t CopyOutOfMemoryAtPosition(TCustomMemoryStream& mem, int64_t count, WriteFn write) {
  const int64_t pos = mem.Position();
  const int64_t n = std::min(count, MemoryLeft(mem));
  if (n > 0) write(mem.Memory() + pos, n);
  mem.SetPosition(pos + n);
  if (n < count) throw EReadError(SReadError);
  return count;
}

// Copies count bytes between plain streams (count 0: the whole source from its start). A source that
// ends early raises EReadError after what it held was copied.
int64_t CopyPlain(TStream& dest, TStream& source, int64_t count, uint32_t bufferSize) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count <= 0) return 0;
  auto write = [&](const uint8_t* p, int64_t n) { WritePlain(dest, p, n); };
  if (auto* mem = dynamic_cast<TCustomMemoryStream*>(&source))
    return CopyOutOfMemoryAtPosition(*mem, count, write);
  return CopyThroughBuffer(
      count, bufferSize, true, [&](uint8_t* b, int64_t n) { return ReadPlain(source, b, n); }, write);
}

// Reads count bytes at the position of a memory-backed stream, EReadError when fewer remain.
int64_t CopyOutOfMemory(TCustomMemoryStream& mem, TStream& dest, int64_t count) {
  if (count == 0) {
    mem.SetPosition(0);
    count = mem.Size();
  }
  if (count <= 0) return 0;
  const int64_t pos = mem.Position();
  if (MemoryLeft(mem) < count) throw EReadError(SReadError);
  WritePlain(dest, mem.Memory() + pos, count);
  mem.SetPosition(pos + count);
  return count;
}

int64_t ReadMemory(TCustomMemoryStream& mem, void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t pos = mem.Position();
  const int64_t n = std::min(count, MemoryLeft(mem));
  if (n <= 0) return 0;
  std::memcpy(buffer, mem.Memory() + pos, static_cast<size_t>(n));
  mem.SetPosition(pos + n);
  return n;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// TKoBigStream

void TKoBigStream::ReadBuffer(void* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError(SReadError);
}

void TKoBigStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError(SWriteError);
}

// ---------------------------------------------------------------------------------------------------
// TKoBigFileStream

int64_t TKoBigFileStream::SetDefaultPartSize(int64_t partSize) {
  const int64_t old = g_defaultPartSize;
  g_defaultPartSize = partSize > 0 ? partSize : kBigPartSize;
  return old;
}

int64_t TKoBigFileStream::DefaultPartSize() { return g_defaultPartSize; }

std::string TKoBigFileStream::PartFileName(const std::string& fileName, int index) {
  if (index == 0) return fileName;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%.3d", index);
  return ChangeFileExt(fileName, "") + "." + digits;
}

std::string TKoBigFileStream::PartFileName(int index) const { return PartFileName(FileName, index); }

TKoBigFileStream::TKoBigFileStream(const std::string& fileName, uint16_t mode, int64_t partSize)
    : FileName(fileName), Mode(mode), partSize_(partSize > 0 ? partSize : g_defaultPartSize) {
  TPlatform& os = Platform();
  const unsigned low = Mode & 0x0F;
  if (low != 0 && low != 2) {
    // Writing from scratch: remove the old parts up to the first missing number.
    for (int i = 0;; ++i) {
      const std::string name = PartFileName(i);
      const uint32_t attr = os.GetFileAttributes(name);
      if (attr == faInvalid) break;
      if ((attr & faDirectory) || !os.DeleteFile(name))
        throw EFCreateError(Format("%s:ファイルを削除できません", {name}));
    }
    return;
  }
  try {
    for (int i = 0;; ++i) {
      const std::string name = PartFileName(i);
      const uint32_t attr = os.GetFileAttributes(name);
      if (attr == faInvalid || (attr & faDirectory)) break;
      const THandle h = os.FileOpen(name, Mode);
      if (h == kInvalidHandle) throw EFOpenError(Format("%s:ファイルを開けません", {name}));
      handles_.push_back(h);
      const int64_t size = os.FileSeek(h, 0, TSeekOrigin::soEnd);
      if (size < 0) throw EFOpenError(Format("%s:ファイルを開けません", {name}));
      partSizes_.push_back(size);
    }
  } catch (...) {
    for (THandle h : handles_) os.FileClose(h);
    throw;
  }
}

TKoBigFileStream::~TKoBigFileStream() {
  TPlatform& os = Platform();
  const bool flush = Flushes();
  for (THandle h : handles_) {
    if (flush) os.FileFlush(h);
    os.FileClose(h);
  }
}

bool TKoBigFileStream::Writable() const {
  const unsigned access = Mode & 0x03;
  return Mode == fmCreate || access == 1 || access == 2;
}

bool TKoBigFileStream::Flushes() const {
  const unsigned low = Mode & 0x0F;
  return Mode == fmCreate || low == 1 || low == 2;
}

int64_t TKoBigFileStream::GetSize() {
  int64_t size = 0;
  for (int64_t s : partSizes_) size += s;
  return size;
}

void TKoBigFileStream::SetPosition(int64_t position) {
  if (position < 0) position = 0;
  const int64_t size = GetSize();
  Position = position > size ? size : position;
}

void TKoBigFileStream::CreatePart(int index) {
  const std::string name = PartFileName(index);
  const THandle h = Platform().FileCreate(name, fmShareExclusive);
  if (h == kInvalidHandle) throw EFCreateError(Format("%s:ファイルを作成できません", {name}));
  handles_.push_back(h);
  partSizes_.push_back(0);
}

void TKoBigFileStream::Truncate(int64_t size) {
  TPlatform& os = Platform();
  if (size < 0) size = 0;
  for (int i = PartCount() - 1; i >= 0; --i) {
    const int64_t partStart = static_cast<int64_t>(i) * partSize_;
    const size_t at = static_cast<size_t>(i);
    if (i > 0 && size <= partStart) {
      os.FileClose(handles_[at]);
      handles_.pop_back();
      partSizes_.pop_back();
      if (!os.DeleteFile(PartFileName(i))) throw EWriteError(Format("%s:書き込みエラー", {PartFileName(i)}));
      continue;
    }
    const int64_t keep = std::max<int64_t>(size - partStart, 0);
    if (keep < partSizes_[at]) {
      if (!os.FileSetSize(handles_[at], keep))
        throw EWriteError(Format("%s:書き込みエラー", {PartFileName(i)}));
      partSizes_[at] = keep;
    }
  }
  if (Position > size) Position = size;
}

int64_t TKoBigFileStream::ReadPart(int index, int64_t offset, void* buffer, int64_t count) {
  TPlatform& os = Platform();
  const THandle h = handles_[static_cast<size_t>(index)];
  if (os.FileSeek(h, offset, TSeekOrigin::soBeginning) != offset)
    throw EReadError(Format("%s:読み込みエラー", {PartFileName(index)}));
  auto* p = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int32_t piece = static_cast<int32_t>(std::min(count - done, kMaxIo));
    const int32_t got = os.FileRead(h, p + done, piece);
    if (got < 0) throw EReadError(Format("%s:読み込みエラー", {PartFileName(index)}));
    if (got == 0) break;
    done += got;
  }
  return done;
}

void TKoBigFileStream::WritePart(int index, int64_t offset, const void* buffer, int64_t count) {
  TPlatform& os = Platform();
  if (index == PartCount()) CreatePart(index);
  const THandle h = handles_[static_cast<size_t>(index)];
  if (os.FileSeek(h, offset, TSeekOrigin::soBeginning) != offset)
    throw EWriteError(Format("%s:書き込みエラー", {PartFileName(index)}));
  const auto* p = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int32_t piece = static_cast<int32_t>(std::min(count - done, kMaxIo));
    const int32_t put = os.FileWrite(h, p + done, piece);
    if (put <= 0) {
      // Whatever reached the file before the failure is part of it now.
      int64_t& size = partSizes_[static_cast<size_t>(index)];
      size = std::max(size, offset + done + std::max(put, 0));
      throw EWriteError(Format("%s:書き込みエラー", {PartFileName(index)}));
    }
    done += put;
  }
  int64_t& size = partSizes_[static_cast<size_t>(index)];
  size = std::max(size, offset + count);
}

TMappedBytes TKoBigFileStream::View(int64_t position, int64_t count) {
  if (position < 0 || count <= 0) return {};
  const int64_t index = position / partSize_;
  const int64_t offset = position % partSize_;
  if (index >= PartCount()) return {};
  const int64_t length = std::min(count, partSizes_[static_cast<size_t>(index)] - offset);
  if (length <= 0) return {};
  return {Platform().FileMapView(handles_[static_cast<size_t>(index)], offset, length), length};
}

int64_t TKoBigFileStream::Read(void* buffer, int64_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  int64_t total = 0;
  while (count > 0) {
    const int64_t index = Position / partSize_;
    const int64_t offset = Position % partSize_;
    if (index >= PartCount()) break;
    const int64_t avail = partSizes_[static_cast<size_t>(index)] - offset;
    if (avail <= 0) break;
    const int64_t chunk = std::min(avail, count);
    const int64_t got = ReadPart(static_cast<int>(index), offset, p, chunk);
    total += got;
    Position += got;
    p += got;
    count -= got;
    if (got < chunk) break;
  }
  return total;
}

int64_t TKoBigFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (!Writable()) throw EWriteError(Format("%s:書き込みできません", {FileName}));
  const auto* p = static_cast<const uint8_t*>(buffer);
  int64_t total = 0;
  while (count > 0) {
    const int64_t index = Position / partSize_;
    const int64_t offset = Position % partSize_;
    if (index > PartCount() || index > 99999999)
      throw EWriteError(
          Format("%s:書き込みエラー", {PartFileName(static_cast<int>(std::min<int64_t>(index, 99999999)))}));
    const int64_t chunk = std::min(partSize_ - offset, count);
    WritePart(static_cast<int>(index), offset, p, chunk);
    total += chunk;
    Position += chunk;
    p += chunk;
    count -= chunk;
  }
  return total;
}

int64_t TKoBigFileStream::CopyFromBig(TKoBigStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  if (count <= 0) return 0;
  auto write = [&](const uint8_t* p, int64_t n) { Write(p, n); };
  // A memory source is copied straight out of its memory.
  if (auto* mem = dynamic_cast<TKoBigMemoryStream*>(&source))
    return CopyOutOfMemoryAtPosition(mem->Stream(), count, write);
  int64_t done = 0;
  if (auto* file = dynamic_cast<TKoBigFileStream*>(&source); file && file != this && Writable())
    done = CopyPartsInSystem(*file, count);
  if (done == count) return done;
  return done + CopyThroughBuffer(
                    count - done, CopyBufferSize, true,
                    [&](uint8_t* b, int64_t n) { return source.Read(b, n); }, write);
}

int64_t TKoBigFileStream::CopyInSystem(THandle source, int64_t offset, int64_t count) {
  TPlatform& os = Platform();
  int64_t done = 0;
  while (done < count) {
    const int64_t index = Position / partSize_;
    const int64_t at = Position % partSize_;
    // A part beyond the next, or a bad count of parts, is left to the buffered copy to report.
    if (index > PartCount() || index > 99999999) break;
    if (index == PartCount()) CreatePart(static_cast<int>(index));
    const int64_t chunk = std::min(partSize_ - at, count - done);
    const int64_t n =
        os.FileCopyRange(source, offset + done, handles_[static_cast<size_t>(index)], at, chunk);
    if (n <= 0) break;
    int64_t& size = partSizes_[static_cast<size_t>(index)];
    size = std::max(size, at + n);
    Position += n;
    done += n;
    if (n < chunk) break;
  }
  return done;
}

template <typename CopyPiece>
int64_t TKoBigFileStream::ForEachPartPiece(int64_t count, CopyPiece copyPiece) {
  int64_t done = 0;
  while (done < count) {
    const int64_t index = Position / partSize_;
    const int64_t at = Position % partSize_;
    if (index >= PartCount()) break;
    const int64_t avail = partSizes_[static_cast<size_t>(index)] - at;
    if (avail <= 0) break;
    const int64_t chunk = std::min(avail, count - done);
    const int64_t n = copyPiece(handles_[static_cast<size_t>(index)], at, chunk, done);
    if (n <= 0) break;
    Position += n;
    done += n;
    if (n < chunk) break;
  }
  return done;
}

int64_t TKoBigFileStream::CopyToFileInSystem(THandle dest, int64_t destOffset, int64_t count) {
  return ForEachPartPiece(count, [&](THandle part, int64_t at, int64_t chunk, int64_t done) {
    return Platform().FileCopyRange(part, at, dest, destOffset + done, chunk);
  });
}

int64_t TKoBigFileStream::CopyPartsInSystem(TKoBigFileStream& source, int64_t count) {
  return source.ForEachPartPiece(
      count, [&](THandle part, int64_t at, int64_t chunk, int64_t) { return CopyInSystem(part, at, chunk); });
}

int64_t TKoBigFileStream::CopyFromStream(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count <= 0) return 0;
  auto write = [&](const uint8_t* p, int64_t n) { Write(p, n); };
  if (auto* mem = dynamic_cast<TCustomMemoryStream*>(&source))
    return CopyOutOfMemoryAtPosition(*mem, count, write);
  int64_t done = 0;
  if (auto* file = dynamic_cast<THandleStream*>(&source); file && Writable()) {
    const int64_t at = file->Position();
    if (at >= 0) {
      done = CopyInSystem(file->Handle(), at, count);
      file->Seek(at + done, TSeekOrigin::soBeginning);
    }
  }
  if (done == count) return done;
  return done + CopyThroughBuffer(
                    count - done, CopyBufferSize, true,
                    [&](uint8_t* b, int64_t n) { return ReadPlain(source, b, n); }, write);
}

int64_t TKoBigFileStream::CopyToStream(TStream& dest, int64_t count) {
  count = std::min(count, GetSize() - Position);
  if (count <= 0) return 0;
  if (auto* mem = dynamic_cast<TMemoryStream*>(&dest)) {
    // Read straight into the destination's memory.
    const int64_t pos = mem->Position();
    if (pos < 0) throw EWriteError(SWriteError);
    const int64_t oldSize = mem->Size();
    if (pos + count > oldSize) mem->SetSize(pos + count);
    int64_t got = 0;
    try {
      got = Read(mem->Memory() + pos, count);
    } catch (...) {
      mem->SetSize(oldSize);
      throw;
    }
    if (got < count) mem->SetSize(std::max(oldSize, pos + got));
    mem->SetPosition(pos + got);
    return got;
  }
  return CopyThroughBuffer(
      count, CopyBufferSize, false, [&](uint8_t* b, int64_t n) { return Read(b, n); },
      [&](const uint8_t* p, int64_t n) { WritePlain(dest, p, n); });
}

// ---------------------------------------------------------------------------------------------------
// TKoBigMemoryStream

TKoBigMemoryStream::TKoBigMemoryStream() : stream_(std::make_unique<TMemoryStream>()) {}
TKoBigMemoryStream::~TKoBigMemoryStream() = default;

void TKoBigMemoryStream::LoadFromFile(const std::string& fileName) { stream_->LoadFromFile(fileName); }

int64_t TKoBigMemoryStream::GetSize() { return stream_->Size(); }
int64_t TKoBigMemoryStream::GetPosition() { return stream_->Position(); }
void TKoBigMemoryStream::SetPosition(int64_t position) { stream_->SetPosition(position); }

int64_t TKoBigMemoryStream::Read(void* buffer, int64_t count) { return ReadMemory(*stream_, buffer, count); }

int64_t TKoBigMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  WritePlain(*stream_, buffer, count);
  return count;
}

int64_t TKoBigMemoryStream::CopyFromBig(TKoBigStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  if (count <= 0) return 0;
  if (count > source.GetSize() - source.GetPosition()) throw EReadError(SReadError);
  // Read straight into the memory at the position.
  const int64_t pos = stream_->Position();
  if (pos < 0) throw EWriteError(SWriteError);
  const int64_t oldSize = stream_->Size();
  if (pos + count > oldSize) stream_->SetSize(pos + count);
  int64_t got = 0;
  try {
    got = source.Read(stream_->Memory() + pos, count);
  } catch (...) {
    stream_->SetSize(oldSize);
    throw;
  }
  if (got < count) {
    stream_->SetSize(std::max(oldSize, pos + std::max<int64_t>(got, 0)));
    throw EReadError(SReadError);
  }
  stream_->SetPosition(pos + count);
  return count;
}

int64_t TKoBigMemoryStream::CopyFromStream(TStream& source, int64_t count) {
  return CopyPlain(*stream_, source, count, 1048576);
}

int64_t TKoBigMemoryStream::CopyToStream(TStream& dest, int64_t count) {
  return CopyOutOfMemory(*stream_, dest, count);
}

// ---------------------------------------------------------------------------------------------------
// TKoBigResourceStream

TKoBigResourceStream::TKoBigResourceStream(const std::string& module, const std::string& resName,
                                           const std::string& resType)
    : ResName(resName),
      ResType(resType),
      stream_(std::make_unique<TResourceStream>(module, resName, resType)) {}

TKoBigResourceStream::~TKoBigResourceStream() = default;

int64_t TKoBigResourceStream::GetSize() { return stream_->Size(); }
int64_t TKoBigResourceStream::GetPosition() { return stream_->Position(); }
void TKoBigResourceStream::SetPosition(int64_t position) { stream_->SetPosition(position); }

int64_t TKoBigResourceStream::Read(void* buffer, int64_t count) {
  return ReadMemory(*stream_, buffer, count);
}

int64_t TKoBigResourceStream::Write(const void* /*buffer*/, int64_t /*count*/) {
  // The resource stream raises its read-only error.
  uint8_t b = 0;
  stream_->Write(&b, 1);
  throw EStreamError("Resource stream is read-only");
}

int64_t TKoBigResourceStream::CopyFromBig(TKoBigStream& /*source*/, int64_t /*count*/) {
  uint8_t b = 0;
  return Write(&b, 1);
}

int64_t TKoBigResourceStream::CopyFromStream(TStream& /*source*/, int64_t /*count*/) {
  uint8_t b = 0;
  return Write(&b, 1);
}

int64_t TKoBigResourceStream::CopyToStream(TStream& dest, int64_t count) {
  return CopyOutOfMemory(*stream_, dest, count);
}

// ---------------------------------------------------------------------------------------------------
// TKoBuffBigStream

TKoBuffBigStream::TKoBuffBigStream(TKoBigStream& source) : source_(source) {}

TKoBuffBigStream::~TKoBuffBigStream() {
  const size_t unread = bufLen_ - bufPos_;
  if (unread == 0) return;
  try {
    source_.SetPosition(source_.GetPosition() - static_cast<int64_t>(unread));
  } catch (...) {
    // Nothing sensible is left to do while being destroyed.
  }
}

int32_t TKoBuffBigStream::Read(void* buffer, int32_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  int32_t total = 0;
  while (count > 0) {
    if (bufPos_ >= bufLen_) {
      bufPos_ = bufLen_ = 0;
      const int64_t fill = std::min<int64_t>(source_.GetSize() - source_.GetPosition(), BufferSize);
      if (fill <= 0) break;
      if (buffer_.size() < static_cast<size_t>(fill)) buffer_.resize(static_cast<size_t>(fill));
      const int64_t got = source_.Read(buffer_.data(), fill);
      if (got <= 0) break;
      bufLen_ = static_cast<size_t>(got);
    }
    const size_t take = std::min(static_cast<size_t>(count), bufLen_ - bufPos_);
    std::memcpy(p, buffer_.data() + bufPos_, take);
    bufPos_ += take;
    p += take;
    total += static_cast<int32_t>(take);
    count -= static_cast<int32_t>(take);
  }
  return total;
}

void TKoBuffBigStream::ReadBuffer(void* buffer, int32_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError(SReadError);
}

}  // namespace vr
