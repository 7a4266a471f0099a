// Streams, string lists and collections of the framework.
#include "framework/classes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace vr {

uint16_t FileMode = fmOpenReadWrite;

namespace {

// Largest piece handed to one Read or Write call (their counts are 32-bit).
constexpr int64_t kMaxPiece = 0x40000000;

}  // namespace

// --- TStream -----------------------------------------------------------------------------------

void TStream::SetSize(int64_t /*newSize*/) {}

int64_t TStream::Size() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

// Both go on after a partial transfer and fail only when no progress is made.
void TStream::ReadBuffer(void* buffer, int32_t count) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    int32_t n = Read(p, count);
    if (n <= 0 || n > count) throw EReadError(SReadError);
    p += n;
    count -= n;
  }
  if (count < 0) throw EReadError(SReadError);
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    int32_t n = Write(p, count);
    if (n <= 0 || n > count) throw EWriteError(SWriteError);
    p += n;
    count -= n;
  }
  if (count < 0) throw EWriteError(SWriteError);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count <= 0) return 0;
  // A memory source is written straight from its memory.
  if (auto* mem = dynamic_cast<TCustomMemoryStream*>(&source)) {
    int64_t pos = mem->Position();
    if (pos < 0 || pos > mem->Size() || count > mem->Size() - pos) throw EReadError(SReadError);
    for (int64_t done = 0; done < count;) {
      int32_t piece = static_cast<int32_t>(std::min(count - done, kMaxPiece));
      WriteBuffer(mem->Memory() + pos + done, piece);
      done += piece;
    }
    mem->SetPosition(pos + count);
    return count;
  }
  const int64_t bufSize = std::min<int64_t>(count, 1 << 20);
  std::unique_ptr<uint8_t[]> buf(new uint8_t[static_cast<size_t>(bufSize)]);
  for (int64_t left = count; left > 0;) {
    int32_t piece = static_cast<int32_t>(std::min(left, bufSize));
    source.ReadBuffer(buf.get(), piece);
    WriteBuffer(buf.get(), piece);
    left -= piece;
  }
  return count;
}

// --- TCustomMemoryStream ----------------------------------------------------------------------

int32_t TCustomMemoryStream::Read(void* buffer, int32_t count) {
  if (position_ < 0 || count <= 0 || position_ >= size_) return 0;
  int64_t n = std::min<int64_t>(size_ - position_, count);
  std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
  position_ += n;
  return static_cast<int32_t>(n);
}

int64_t TCustomMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::soBeginning:
      position_ = offset;
      break;
    case TSeekOrigin::soCurrent:
      position_ += offset;
      break;
    case TSeekOrigin::soEnd:
      position_ = size_ + offset;
      break;
  }
  return position_;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) {
  for (int64_t done = 0; done < size_;) {
    int32_t piece = static_cast<int32_t>(std::min(size_ - done, kMaxPiece));
    stream.WriteBuffer(data_ + done, piece);
    done += piece;
  }
}

void TCustomMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

void TCustomMemoryStream::SetPointer(uint8_t* data, int64_t size) {
  data_ = data;
  size_ = size;
}

// --- TMemoryStream ----------------------------------------------------------------------------

TMemoryStream::~TMemoryStream() { std::free(data_); }

void TMemoryStream::Reserve(int64_t needed, bool exact) {
  if (needed < 0 || static_cast<uint64_t>(needed) > std::numeric_limits<size_t>::max() / 2)
    throw EOutOfMemory(SMemoryStreamError);
  size_t want = static_cast<size_t>(needed);
  if (want <= capacity_) return;
  size_t target = want;
  if (!exact) {
    size_t grown = capacity_ + capacity_ / 2;
    if (grown > target) target = grown;
    if (target < 4096) target = 4096;
  }
  void* p = std::realloc(data_, target);
  if (!p && target != want) {
    target = want;
    p = std::realloc(data_, target);
  }
  if (!p) throw EOutOfMemory(SMemoryStreamError);
  data_ = static_cast<uint8_t*>(p);
  capacity_ = target;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (position_ < 0 || count <= 0) return 0;
  int64_t end = position_ + count;
  if (end > size_) {
    Reserve(end, false);
    if (position_ > size_) std::memset(data_ + size_, 0, static_cast<size_t>(position_ - size_));
    size_ = end;
  }
  std::memcpy(data_ + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EStreamError(SStreamSetSizeError);
  int64_t oldPosition = position_;
  if (newSize == 0) {
    std::free(data_);
    data_ = nullptr;
    capacity_ = 0;
  } else if (static_cast<uint64_t>(newSize) > capacity_) {
    // A first allocation is exact; growing an existing buffer is geometric.
    Reserve(newSize, capacity_ == 0);
  } else if (static_cast<uint64_t>(newSize) < capacity_ / 4) {
    if (void* p = std::realloc(data_, static_cast<size_t>(newSize))) {
      data_ = static_cast<uint8_t*>(p);
      capacity_ = static_cast<size_t>(newSize);
    }
  }
  if (newSize > size_) std::memset(data_ + size_, 0, static_cast<size_t>(newSize - size_));
  size_ = newSize;
  if (oldPosition > newSize) position_ = newSize;
}

void TMemoryStream::Clear() {
  std::free(data_);
  data_ = nullptr;
  capacity_ = 0;
  size_ = 0;
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  int64_t count = stream.Size();
  SetSize(count);
  for (int64_t done = 0; done < count;) {
    int32_t piece = static_cast<int32_t>(std::min(count - done, kMaxPiece));
    stream.ReadBuffer(data_ + done, piece);
    done += piece;
  }
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::Swap(TMemoryStream& other) {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  std::swap(position_, other.position_);
  std::swap(capacity_, other.capacity_);
}

// --- THandleStream / TFileStream ---------------------------------------------------------------

int32_t THandleStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int32_t n = Platform().FileRead(handle_, buffer, count);
  return n < 0 ? 0 : n;
}

int32_t THandleStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int32_t n = Platform().FileWrite(handle_, buffer, count);
  return n < 0 ? 0 : n;
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
  return Platform().FileSeek(handle_, offset, origin);
}

void THandleStream::SetSize(int64_t newSize) {
  Seek(newSize, TSeekOrigin::soBeginning);
  if (!Platform().FileSetSize(handle_, newSize)) throw EStreamError(SStreamSetSizeError);
}

TFileStream::TFileStream(const std::string& fileName, uint16_t mode)
    : THandleStream(kInvalidHandle), fileName_(fileName) {
  if (mode == fmCreate) {
    handle_ = Platform().FileCreate(fileName, fmShareExclusive);
    if (handle_ == kInvalidHandle) throw EFCreateError(Format(SFCreateError, {fileName}));
  } else {
    handle_ = Platform().FileOpen(fileName, mode);
    if (handle_ == kInvalidHandle) throw EFOpenError(Format(SFOpenError, {fileName}));
  }
}

TFileStream::~TFileStream() {
  if (handle_ != kInvalidHandle) Platform().FileClose(handle_);
}

// --- TResourceStream --------------------------------------------------------------------------

TResourceStream::TResourceStream(const std::string& module, const std::string& name,
                                 const std::string& type) {
  std::optional<TResourceData> res = Platform().FindResource(module, name, type);
  if (!res) throw EResNotFound(Format(SResNotFound, {name}));
  res_ = std::move(*res);
  SetPointer(const_cast<uint8_t*>(res_.Data), static_cast<int64_t>(res_.Size));
}

int32_t TResourceStream::Write(const void* /*buffer*/, int32_t /*count*/) {
  throw EStreamError(SCantWriteResourceStream);
}

// --- TStringList ------------------------------------------------------------------------------

namespace {

[[noreturn]] void RaiseListIndex(int index) { throw EListError(Format(SListIndexError, {index})); }

}  // namespace

const std::string& TStringList::operator[](int index) const {
  if (index < 0 || index >= Count()) RaiseListIndex(index);
  return items_[index];
}

std::string& TStringList::operator[](int index) {
  if (index < 0 || index >= Count()) RaiseListIndex(index);
  return items_[index];
}

int TStringList::Add(const std::string& s) {
  items_.push_back(s);
  return Count() - 1;
}

void TStringList::Insert(int index, const std::string& s) {
  if (index < 0 || index > Count()) RaiseListIndex(index);
  items_.insert(items_.begin() + index, s);
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) RaiseListIndex(index);
  items_.erase(items_.begin() + index);
}

namespace {

bool IsPrintableAscii(const std::string& s) {
  for (char c : s)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool SameTextJ(TPlatform& platform, const std::string& a, const std::string& b) {
  if (a == b) return true;
  if (IsPrintableAscii(a) && IsPrintableAscii(b)) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
  }
  return platform.CompareTextJ(a, b) == 0;
}

int TStringList::IndexOf(const std::string& s) const {
  const int n = Count();
  if (CaseSensitive) {
    for (int i = 0; i < n; ++i)
      if (items_[i] == s) return i;
    return -1;
  }
  TPlatform& platform = Platform();
  for (int i = 0; i < n; ++i)
    if (SameTextJ(platform, items_[i], s)) return i;
  return -1;
}

std::string TStringList::Text() const {
  size_t total = 0;
  for (const std::string& s : items_) total += s.size() + 2;
  std::string out;
  out.reserve(total);
  for (const std::string& s : items_) {
    out += s;
    out += "\r\n";
  }
  return out;
}

void TStringList::SetText(const std::string& text) {
  items_.clear();
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    size_t start = i;
    while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
    items_.emplace_back(text, start, i - start);
    if (i < n && text[i] == '\r') ++i;
    if (i < n && text[i] == '\n') ++i;
  }
}

void TStringList::LoadFromFile(const std::string& fileName) {
  TMemoryStream mem;
  mem.LoadFromFile(fileName);
  SetText(std::string(reinterpret_cast<const char*>(mem.Memory()), static_cast<size_t>(mem.Size())));
}

void TStringList::SaveToFile(const std::string& fileName) const {
  std::string text = Text();
  TFileStream file(fileName, fmCreate);
  for (size_t done = 0; done < text.size();) {
    size_t piece = std::min<size_t>(text.size() - done, static_cast<size_t>(kMaxPiece));
    file.WriteBuffer(text.data() + done, static_cast<int32_t>(piece));
    done += piece;
  }
}

// --- TCollection ------------------------------------------------------------------------------

int TCollectionItem::Index() const { return collection_ ? collection_->IndexOf(this) : -1; }

TCollectionItem* TCollection::Item(int index) const {
  if (index < 0 || index >= Count()) RaiseListIndex(index);
  return items_[index].get();
}

TCollectionItem* TCollection::AddItem(std::unique_ptr<TCollectionItem> item) {
  TCollectionItem* raw = item.get();
  raw->collection_ = this;
  items_.push_back(std::move(item));
  Notify(raw, true);
  return raw;
}

void TCollection::Delete(int index) {
  if (index < 0 || index >= Count()) RaiseListIndex(index);
  Notify(items_[index].get(), false);
  items_.erase(items_.begin() + index);
}

void TCollection::Clear() {
  while (!items_.empty()) {
    Notify(items_.back().get(), false);
    items_.pop_back();
  }
}

int TCollection::IndexOf(const TCollectionItem* item) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == item) return static_cast<int>(i);
  return -1;
}

}  // namespace vr
