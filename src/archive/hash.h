// Collections whose items are found by name through a 256-bucket hash, and a plain integer list.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/classes.h"

namespace vr {

// A list of 32-bit integers.
class TIntList {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  int32_t Add(int32_t value);
  // EVrError "Error:TIntList.Delete" outside 0 .. Count()-1.
  void Delete(int32_t index);
  // EVrError "Error:TIntList.GetInt" outside 0 .. Count()-1.
  int32_t GetInt(int32_t index) const;
  void Clear() { items_.clear(); }

 private:
  std::vector<int32_t> items_;
};

// Bucket (0 .. 255) of a name: (length * 16 + t[len-2] + t[0]) mod 256 on the lower-cased bytes t, where
// only the length counts below two bytes. Lower-casing changes single-byte letters A-Z only; both bytes
// of a double-byte character (code page 932) stay as they are.
int NameHash(const std::string& name);
// The same bucket computed by walking the name as Shift-JIS text (lead bytes skip their trail byte).
int NameHashMbcs(const std::string& name);

class THashCollection;

// A collection item with a name, linked into the bucket chain of its collection.
class THashCollectionItem : public TCollectionItem {
 public:
  THashCollectionItem() = default;
  ~THashCollectionItem() override;
  THashCollectionItem(const THashCollectionItem&) = delete;
  THashCollectionItem& operator=(const THashCollectionItem&) = delete;

  const std::string& Name() const { return name_; }
  // Renames (exact comparison, letter case counted) and moves the item to the new name's bucket.
  virtual void SetName(const std::string& value);
  // Copies the name of another hash item; any other source raises EConvertError.
  virtual void Assign(const TCollectionItem& source);
  // The name, or the class name when the name is empty.
  virtual std::string GetDisplayName() const;
  virtual std::string ClassName() const { return "THashCollectionItem"; }

  int32_t HashCode() const { return hashCode_; }
  // Position of the item in its collection, kept current by the collection.
  int32_t CachedIndex() const { return cachedIndex_; }
  THashCollectionItem* HashPrev() const { return hashPrev_; }
  THashCollectionItem* HashNext() const { return hashNext_; }
  THashCollection* HashCollection() const;

 protected:
  // Links the item as the head of bucket NameHash(Name).
  virtual void LinkHash();
  void UnlinkHash();

 private:
  friend class THashCollection;
  int32_t hashCode_ = 0;
  int32_t cachedIndex_ = -1;
  std::string name_;
  THashCollectionItem* hashPrev_ = nullptr;
  THashCollectionItem* hashNext_ = nullptr;
};

// An owned, ordered collection of named items with a name lookup that never scans the whole collection.
// Items are added and removed only through this class's Add, Delete and Clear.
class THashCollection : public TCollection {
 public:
  THashCollection() = default;
  ~THashCollection() override;
  THashCollection(const THashCollection&) = delete;
  THashCollection& operator=(const THashCollection&) = delete;

  // Appends a new item made by CreateItem (empty name, bucket 0).
  THashCollectionItem* Add();
  // Appends the given item, takes ownership, links it under its current name.
  THashCollectionItem* Add(std::unique_ptr<THashCollectionItem> item);
  // Removes and destroys item index; later items' cached positions move down by one.
  void Delete(int index);
  // Destroys every item (linear time).
  void Clear();

  THashCollectionItem* Items(int index) const { return static_cast<THashCollectionItem*>(Item(index)); }
  // Index of the most recently named item with that name (letter case ignored), or -1. With MbcsNames
  // the name is compared as Japanese text under the locale's case-insensitive comparison.
  virtual int IndexOf(const std::string& name) const;
  using TCollection::IndexOf;
  // Head of a bucket chain (0 .. 255).
  THashCollectionItem* Bucket(int hashCode) const { return buckets_[hashCode & 0xFF]; }

  bool MbcsNames = false;

 protected:
  // The item class of the collection.
  virtual std::unique_ptr<THashCollectionItem> CreateItem();

 private:
  friend class THashCollectionItem;
  std::array<THashCollectionItem*, 256> buckets_{};
  bool clearing_ = false;
};

}  // namespace vr
