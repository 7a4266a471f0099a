// Plain streams, string lists and collections of the application framework.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/sysutils.h"
#include "platform/platform.h"

namespace vr {

// Default open mode of files opened only for reading by helpers (file sizes, copies, settings).
// Start-up sets it to fmOpenRead, so files on read-only media can be opened.
extern uint16_t FileMode;

class TStream {
 public:
  virtual ~TStream() = default;
  // Read/Write return the byte count transferred (less at the end of the stream).
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(int64_t newSize);

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  virtual int64_t Size();

  // All or an EReadError / EWriteError.
  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);
  // Copies count bytes (0: the whole source from its start); returns the count copied.
  int64_t CopyFrom(TStream& source, int64_t count);
};

class TCustomMemoryStream : public TStream {
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return size_; }
  uint8_t* Memory() { return data_; }
  const uint8_t* Memory() const { return data_; }
  void SaveToStream(TStream& stream);
  void SaveToFile(const std::string& fileName);

 protected:
  void SetPointer(uint8_t* data, int64_t size);
  uint8_t* data_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// Grows geometrically, so appending piece by piece costs linear time.
class TMemoryStream : public TCustomMemoryStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;
  int32_t Write(const void* buffer, int32_t count) override;
  // New bytes are zero. EOutOfMemory when the memory cannot be had.
  void SetSize(int64_t newSize) override;
  void Clear();
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  // Exchanges contents, sizes and positions with another memory stream.
  void Swap(TMemoryStream& other);
  int64_t Capacity() const { return static_cast<int64_t>(capacity_); }

 private:
  void Reserve(int64_t needed, bool exact);
  size_t capacity_ = 0;
};

class THandleStream : public TStream {
 public:
  explicit THandleStream(THandle handle) : handle_(handle) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  THandle Handle() const { return handle_; }

 protected:
  THandle handle_;
};

// Opens (mode with access and sharing bits) or creates (fmCreate, optionally | sharing is ignored) a file.
// EFOpenError / EFCreateError with the file name when that fails.
class TFileStream : public THandleStream {
 public:
  TFileStream(const std::string& fileName, uint16_t mode);
  ~TFileStream() override;
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
};

// A module resource as a read-only stream; EResNotFound when absent, writing raises EStreamError.
class TResourceStream : public TCustomMemoryStream {
 public:
  TResourceStream(const std::string& module, const std::string& name, const std::string& type);
  int32_t Write(const void* buffer, int32_t count) override;

 private:
  TResourceData res_;
};

// Equality without regard to case under the Japanese locale comparison (Platform().CompareTextJ).
// Two printable ASCII strings are decided here (letters compare without case, every other character
// exactly), which gives the same answer without the cost of the locale call.
bool SameTextJ(TPlatform& platform, const std::string& a, const std::string& b);

// A list of byte strings. Case-insensitive lookups use the Japanese locale comparison.
class TStringList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& operator[](int index) const;  // EListError outside 0 .. Count - 1
  std::string& operator[](int index);
  int Add(const std::string& s);
  void Insert(int index, const std::string& s);
  void Delete(int index);
  void Clear() { items_.clear(); }
  int IndexOf(const std::string& s) const;  // case-insensitive, first match, -1 when absent
  bool CaseSensitive = false;
  // Lines separated by CR LF (reading also accepts LF and CR).
  std::string Text() const;
  void SetText(const std::string& text);
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;
  std::vector<std::string>& Items() { return items_; }
  const std::vector<std::string>& Items() const { return items_; }

 private:
  std::vector<std::string> items_;
};

class TCollection;

class TCollectionItem {
 public:
  virtual ~TCollectionItem() = default;
  TCollection* Collection() const { return collection_; }
  int Index() const;

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
};

// Owns its items; items know their collection and index.
class TCollection {
 public:
  virtual ~TCollection() { Clear(); }
  int Count() const { return static_cast<int>(items_.size()); }
  TCollectionItem* Item(int index) const;  // EListError outside 0 .. Count - 1
  // Takes ownership and appends.
  TCollectionItem* AddItem(std::unique_ptr<TCollectionItem> item);
  void Delete(int index);
  void Clear();
  int IndexOf(const TCollectionItem* item) const;

 protected:
  // Called after an item was added and before one is removed.
  virtual void Notify(TCollectionItem* /*item*/, bool /*added*/) {}

 private:
  std::vector<std::unique_ptr<TCollectionItem>> items_;
};

}  // namespace vr
