#include "archive/hash.h"

#include "framework/sysutils.h"
#include "platform/codepage.h"

namespace vr {

namespace {

inline uint8_t LowerAscii(uint8_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c + 32) : c; }

// The bucket formula on the lower-cased name. Lower-casing on code page 932 changes only single-byte
// letters: both bytes of a double-byte character stay, so only t[0] and t[len-2] need looking at, and
// t[len-2] only when it is a single-byte character.
int BucketOf(const std::string& name) {
  const size_t len = name.size();
  int h = static_cast<int>(len * 16);
  if (len >= 2) {
    const uint8_t first = static_cast<uint8_t>(name[0]);
    const size_t k = len - 2;
    bool doubleByte = false;
    for (size_t i = 0; i <= k;) {
      const bool lead = IsLeadByte(static_cast<uint8_t>(name[i])) && i + 1 < len;
      if (i == k || (lead && i + 1 == k)) {
        doubleByte = lead;
        break;
      }
      i += lead ? 2 : 1;
    }
    const uint8_t second = static_cast<uint8_t>(name[k]);
    h += (doubleByte ? second : LowerAscii(second)) + LowerAscii(first);
  }
  return h & 0xFF;
}

// Equal when equal after lower-casing single-byte letters (double-byte characters compared exactly).
bool SameTextAnsi(const std::string& a, const std::string& b) {
  const size_t len = a.size();
  if (b.size() != len) return false;
  for (size_t i = 0; i < len;) {
    const uint8_t ca = static_cast<uint8_t>(a[i]);
    const uint8_t cb = static_cast<uint8_t>(b[i]);
    if (IsLeadByte(ca) && i + 1 < len) {
      if (ca != cb || a[i + 1] != b[i + 1]) return false;
      i += 2;
    } else {
      if (LowerAscii(ca) != LowerAscii(cb)) return false;
      ++i;
    }
  }
  return true;
}

bool HasHighBytes(const std::string& s) {
  for (char c : s)
    if (static_cast<uint8_t>(c) >= 0x80) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// TIntList

int32_t TIntList::Add(int32_t value) {
  items_.push_back(value);
  return Count() - 1;
}

void TIntList::Delete(int32_t index) {
  if (index < 0 || index >= Count()) throw EVrError("Error:TIntList.Delete");
  items_.erase(items_.begin() + index);
}

int32_t TIntList::GetInt(int32_t index) const {
  if (index < 0 || index >= Count()) throw EVrError("Error:TIntList.GetInt");
  return items_[static_cast<size_t>(index)];
}

// ---------------------------------------------------------------------------------------------------
// Buckets

int NameHash(const std::string& name) { return BucketOf(name); }

int NameHashMbcs(const std::string& name) { return BucketOf(name); }

// ---------------------------------------------------------------------------------------------------
// THashCollectionItem

THashCollectionItem::~THashCollectionItem() {
  THashCollection* owner = HashCollection();
  if (owner && !owner->clearing_) UnlinkHash();
}

THashCollection* THashCollectionItem::HashCollection() const {
  return dynamic_cast<THashCollection*>(Collection());
}

void THashCollectionItem::SetName(const std::string& value) {
  if (value == name_) return;
  name_ = value;
  if (HashCollection()) {
    UnlinkHash();
    LinkHash();
  }
}

void THashCollectionItem::Assign(const TCollectionItem& source) {
  if (auto* item = dynamic_cast<const THashCollectionItem*>(&source)) {
    SetName(item->name_);
    return;
  }
  throw EConvertError("Cannot assign to a " + ClassName());
}

std::string THashCollectionItem::GetDisplayName() const { return name_.empty() ? ClassName() : name_; }

void THashCollectionItem::LinkHash() {
  THashCollection* owner = HashCollection();
  if (!owner) return;
  hashCode_ = NameHash(name_);
  THashCollectionItem*& head = owner->buckets_[static_cast<size_t>(hashCode_)];
  hashPrev_ = nullptr;
  hashNext_ = head;
  if (head) head->hashPrev_ = this;
  head = this;
}

void THashCollectionItem::UnlinkHash() {
  THashCollection* owner = HashCollection();
  if (!owner) return;
  THashCollectionItem*& head = owner->buckets_[static_cast<size_t>(hashCode_ & 0xFF)];
  if (hashPrev_) {
    hashPrev_->hashNext_ = hashNext_;
  } else if (head == this) {
    head = hashNext_;
  } else {
    return;  // not linked
  }
  if (hashNext_) hashNext_->hashPrev_ = hashPrev_;
  hashPrev_ = nullptr;
  hashNext_ = nullptr;
}

// ---------------------------------------------------------------------------------------------------
// THashCollection

THashCollection::~THashCollection() { Clear(); }

std::unique_ptr<THashCollectionItem> THashCollection::CreateItem() {
  return std::make_unique<THashCollectionItem>();
}

THashCollectionItem* THashCollection::Add() { return Add(CreateItem()); }

THashCollectionItem* THashCollection::Add(std::unique_ptr<THashCollectionItem> item) {
  THashCollectionItem* raw = item.get();
  AddItem(std::move(item));
  raw->cachedIndex_ = Count() - 1;
  raw->LinkHash();
  return raw;
}

void THashCollection::Delete(int index) {
  if (index < 0 || index >= Count())
    throw EVrError("Error:THashCollection.Delete: index " + std::to_string(index));
  for (int i = index + 1; i < Count(); ++i) --Items(i)->cachedIndex_;
  Items(index)->UnlinkHash();
  TCollection::Delete(index);
}

void THashCollection::Clear() {
  // Items are destroyed without unlinking one by one; the chains go with them.
  struct Guard {
    bool& flag;
    ~Guard() { flag = false; }
  } guard{clearing_};
  clearing_ = true;
  TCollection::Clear();
  buckets_.fill(nullptr);
}

int THashCollection::IndexOf(const std::string& name) const {
  const int bucket = MbcsNames ? NameHashMbcs(name) : NameHash(name);
  for (const THashCollectionItem* p = buckets_[static_cast<size_t>(bucket)]; p; p = p->hashNext_) {
    if (p->name_.size() != name.size()) continue;
    if (SameTextAnsi(p->name_, name)) return p->cachedIndex_;
    if (MbcsNames && HasHighBytes(name) && Platform().CompareTextJ(p->name_, name) == 0)
      return p->cachedIndex_;
  }
  return -1;
}

}  // namespace vr
