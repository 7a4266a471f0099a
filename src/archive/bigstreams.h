// Streams with 64-bit sizes and positions: split data files, memory blocks and module resources.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/classes.h"
#include "platform/platform.h"

namespace vr {

// Size of one part file of a split data file (1 GiB).
constexpr int64_t kBigPartSize = 1073741824;

// Bytes of a file seen in place, mapped read-only from the system's file cache (Platform().FileMapView);
// unmapped when it goes. Empty where nothing could be mapped.
class TMappedBytes {
 public:
  TMappedBytes() = default;
  TMappedBytes(const uint8_t* data, int64_t length) : data_(data), length_(data ? length : 0) {}
  TMappedBytes(TMappedBytes&& other) noexcept { *this = std::move(other); }
  TMappedBytes& operator=(TMappedBytes&& other) noexcept {
    if (this != &other) {
      Release();
      data_ = other.data_;
      length_ = other.length_;
      other.data_ = nullptr;
      other.length_ = 0;
    }
    return *this;
  }
  ~TMappedBytes() { Release(); }
  const uint8_t* Data() const { return data_; }
  int64_t Length() const { return length_; }

 private:
  void Release() {
    if (data_) Platform().FileUnmapView(data_, length_);
    data_ = nullptr;
    length_ = 0;
  }
  const uint8_t* data_ = nullptr;
  int64_t length_ = 0;
};

// Abstract 64-bit stream. Every operation of the base does nothing and returns 0.
class TKoBigStream {
 public:
  virtual ~TKoBigStream() = default;
  virtual int64_t GetSize() { return 0; }
  virtual int64_t GetPosition() { return 0; }
  virtual void SetPosition(int64_t /*position*/) {}
  // Returns the number of bytes written.
  virtual int64_t Write(const void* /*buffer*/, int64_t /*count*/) { return 0; }
  // Returns the number of bytes read (fewer at the end of the stream).
  virtual int64_t Read(void* /*buffer*/, int64_t /*count*/) { return 0; }
  // Copies count bytes from the source's position to this stream's position (0: the whole source
  // from its start).
  virtual int64_t CopyFromBig(TKoBigStream& /*source*/, int64_t /*count*/) { return 0; }
  // Copies count bytes from a plain stream (0: the whole plain source from its start).
  virtual int64_t CopyFromStream(TStream& /*source*/, int64_t /*count*/) { return 0; }
  // Copies count bytes from this stream's position into a plain stream, at the plain stream's position.
  virtual int64_t CopyToStream(TStream& /*dest*/, int64_t /*count*/) { return 0; }

  // Up to count bytes from `position` on, seen in place (fewer at the end of a part file), or nothing
  // where the stream's bytes cannot be mapped: the caller reads them instead.
  virtual TMappedBytes View(int64_t /*position*/, int64_t /*count*/) { return {}; }

  // Non-virtual helpers: all of count or EReadError / EWriteError.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);

 protected:
  TKoBigStream() = default;
};

// A file spread over numbered part files of PartSize bytes each: part 0 is FileName itself, part i >= 1
// is FileName without its extension, a dot and i with at least three digits (game.dat, game.001, ...).
//
// Modes: 0x20 (read, others may read) opens the existing parts 0, 1, ... up to the first gap and never
// adds one; 0x22 (read and write, others may read) opens them the same way and adds parts as writing
// crosses a part boundary; fmCreate (0xFFFF) and write-only modes delete the existing part files first
// and create parts as they are written. New parts are created exclusively.
//
// Errors: a part file that exists but cannot be opened raises EFOpenError; a part that cannot be created
// raises EFCreateError; a failed or short write raises EWriteError; a failed read raises EReadError.
// Writing to a stream opened read-only (access bits 0) raises EWriteError.
class TKoBigFileStream : public TKoBigStream {
 public:
  // partSize 0 takes DefaultPartSize() (1 GiB unless a test changed it).
  TKoBigFileStream(const std::string& fileName, uint16_t mode, int64_t partSize = 0);
  ~TKoBigFileStream() override;
  TKoBigFileStream(const TKoBigFileStream&) = delete;
  TKoBigFileStream& operator=(const TKoBigFileStream&) = delete;

  int64_t GetSize() override;
  int64_t GetPosition() override { return Position; }
  // Values beyond the size are taken as the size, negative values as 0.
  void SetPosition(int64_t position) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // Stops at the end of the last part (or at a short part in the middle).
  int64_t Read(void* buffer, int64_t count) override;
  TMappedBytes View(int64_t position, int64_t count) override;
  // Raises EReadError when the source ends before count bytes. From another big file stream, or from a
  // file handle stream, the bytes are copied inside the system where it can (Platform().FileCopyRange),
  // the rest through the buffer.
  int64_t CopyFromBig(TKoBigStream& source, int64_t count) override;
  int64_t CopyFromStream(TStream& source, int64_t count) override;
  // Stops at the end of the last part; a count of 0 copies nothing.
  int64_t CopyToStream(TStream& dest, int64_t count) override;

  // Copies up to count bytes from Position to the file `dest` at destOffset inside the system
  // (Platform().FileCopyRange); Position advances by the bytes copied, which are returned: fewer when the
  // system refuses or stops, or the stream ends.
  int64_t CopyToFileInSystem(THandle dest, int64_t destOffset, int64_t count);

  // Cuts the stream back to `size` bytes (never grows it): the part holding the new end is shortened,
  // later parts are closed and deleted. The position is kept unless it lies beyond the new end.
  // EWriteError when a part cannot be shortened or removed.
  void Truncate(int64_t size);

  // Number of parts opened or created so far.
  int PartCount() const { return static_cast<int>(handles_.size()); }
  // File name of part i.
  std::string PartFileName(int index) const;
  // File name of part i of the data file `fileName`.
  static std::string PartFileName(const std::string& fileName, int index);
  int64_t PartSize() const { return partSize_; }

  // Part size used by streams created with partSize 0; returns the previous value. For tests.
  static int64_t SetDefaultPartSize(int64_t partSize);
  static int64_t DefaultPartSize();

  const std::string FileName;
  const uint16_t Mode;
  int64_t Position = 0;
  uint32_t CopyBufferSize = 1048576;

 private:
  bool Writable() const;
  bool Flushes() const;
  // Creates part file `index` (== PartCount()) anew, exclusively.
  void CreatePart(int index);
  // Reads from one part at an offset; returns the bytes read (fewer at its end).
  int64_t ReadPart(int index, int64_t offset, void* buffer, int64_t count);
  // Writes all of count bytes into one part (created when index == PartCount()).
  void WritePart(int index, int64_t offset, const void* buffer, int64_t count);
  // Copies up to count bytes of a file handle, from `offset` on, to Position inside the system; returns
  // the bytes copied (stops at the first shortfall).
  int64_t CopyInSystem(THandle source, int64_t offset, int64_t count);
  // The same from another big file stream's position over its parts; both positions advance.
  int64_t CopyPartsInSystem(TKoBigFileStream& source, int64_t count);
  // Hands up to count bytes from Position on to copyPiece(part handle, offset in it, bytes, bytes done
  // so before), part by part, and advances Position by what it reports copied; stops at its first
  // shortfall or the stream's end. Returns the bytes copied.
  template <typename CopyPiece>
  int64_t ForEachPartPiece(int64_t count, CopyPiece copyPiece);

  int64_t partSize_;
  std::vector<THandle> handles_;    // one per part, owned
  std::vector<int64_t> partSizes_;  // current size of each part
};

// A big stream over an owned plain memory stream.
class TKoBigMemoryStream : public TKoBigStream {
 public:
  TKoBigMemoryStream();
  ~TKoBigMemoryStream() override;

  // Loads the whole file into the memory stream; the caller then sets the position.
  void LoadFromFile(const std::string& fileName);
  TMemoryStream& Stream() { return *stream_; }

  int64_t GetSize() override;
  int64_t GetPosition() override;
  void SetPosition(int64_t position) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Read(void* buffer, int64_t count) override;
  // Copies from any big stream (count 0: the whole source from its start); EReadError when the source
  // ends early.
  int64_t CopyFromBig(TKoBigStream& source, int64_t count) override;
  // Count 0: the whole plain source from its start. EReadError when the source ends early.
  int64_t CopyFromStream(TStream& source, int64_t count) override;
  // Count 0: the whole memory stream from its start. EReadError when fewer bytes remain.
  int64_t CopyToStream(TStream& dest, int64_t count) override;

 private:
  std::unique_ptr<TMemoryStream> stream_;
};

// A read-only big stream over a module resource. Opening a missing resource raises EResNotFound;
// Write, CopyFromStream and CopyFromBig raise the resource stream's read-only error.
class TKoBigResourceStream : public TKoBigStream {
 public:
  // module: the executable's file name, empty for the running program.
  TKoBigResourceStream(const std::string& module, const std::string& resName, const std::string& resType);
  ~TKoBigResourceStream() override;

  TResourceStream& Stream() { return *stream_; }
  const std::string ResName;
  const std::string ResType;

  int64_t GetSize() override;
  int64_t GetPosition() override;
  void SetPosition(int64_t position) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t CopyFromBig(TKoBigStream& source, int64_t count) override;
  int64_t CopyFromStream(TStream& source, int64_t count) override;
  // Count 0: the whole resource from its start. EReadError when fewer bytes remain.
  int64_t CopyToStream(TStream& dest, int64_t count) override;

 private:
  std::unique_ptr<TResourceStream> stream_;
};

// Read-ahead buffer over a big stream (not owned): many small reads become one source read per
// BufferSize bytes. On destruction the source's position is moved back by the bytes not handed out,
// so it stands right behind the last byte read through the buffer.
class TKoBuffBigStream {
 public:
  explicit TKoBuffBigStream(TKoBigStream& source);
  ~TKoBuffBigStream();
  TKoBuffBigStream(const TKoBuffBigStream&) = delete;
  TKoBuffBigStream& operator=(const TKoBuffBigStream&) = delete;

  // Returns the bytes read; fewer than count only at the end of the source.
  int32_t Read(void* buffer, int32_t count);
  // All of count or EReadError.
  void ReadBuffer(void* buffer, int32_t count);

  TKoBigStream& Source() { return source_; }
  uint32_t BufferSize = 102400;

 private:
  TKoBigStream& source_;
  std::vector<uint8_t> buffer_;
  size_t bufPos_ = 0;
  size_t bufLen_ = 0;
};

}  // namespace vr
