// Integer list and the name-hashed collection.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "archive/hash.h"
#include "framework/sysutils.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

TEST(IntList, AddDeleteAndCheckedAccess) {
  TIntList l;
  EXPECT_EQ(l.Add(5), 0);
  EXPECT_EQ(l.Add(6), 1);
  EXPECT_EQ(l.Add(7), 2);
  l.Delete(1);
  EXPECT_EQ(l.Count(), 2);
  EXPECT_EQ(l.GetInt(1), 7);
  try {
    l.GetInt(2);
    ADD_FAILURE() << "no error";
  } catch (const EVrError& e) {
    EXPECT_EQ(e.Message, "Error:TIntList.GetInt");
  }
  EXPECT_THROW(l.GetInt(-1), EVrError);
  EXPECT_THROW(l.Delete(2), EVrError);
}

TEST(NameHash, BucketFormula) {
  EXPECT_EQ(NameHash(""), 0);
  EXPECT_EQ(NameHash("a"), 16);
  EXPECT_EQ(NameHash("Z"), 16);
  EXPECT_EQ(NameHash("ab"), (32 + 'a' + 'a') & 0xFF);
  EXPECT_EQ(NameHash("AB"), NameHash("ab"));
  EXPECT_EQ(NameHash("Install.DAT"), NameHash("install.dat"));
  EXPECT_EQ(NameHash("install.dat"), (11 * 16 + 'a' + 'i') & 0xFF);
  // A letter that is the second byte of a double-byte character is not lower-cased:
  // 0x83 0x41 is one katakana character.
  const std::string kana = "\x83\x41z";
  EXPECT_EQ(NameHash(kana), (48 + 0x41 + 0x83) & 0xFF);
  EXPECT_EQ(NameHashMbcs(kana), NameHash(kana));
  // ... while the same byte after a single-byte character is.
  EXPECT_EQ(NameHash("xAz"), (48 + 'a' + 'x') & 0xFF);
  // A half-width katakana byte is single-byte: "\xB1" then "A" is lower-cased.
  EXPECT_EQ(NameHash("\xB1"
                     "Az"),
            (48 + 'a' + 0xB1) & 0xFF);
}

class Named : public THashCollectionItem {
 public:
  int Payload = 0;
  std::string ClassName() const override { return "Named"; }
};

class NamedCollection : public THashCollection {
 protected:
  std::unique_ptr<THashCollectionItem> CreateItem() override { return std::make_unique<Named>(); }
};

THashCollectionItem* AddNamed(THashCollection& c, const std::string& name) {
  THashCollectionItem* item = c.Add();
  item->SetName(name);
  return item;
}

TEST(HashCollection, LookupsIgnoreCaseAndTheLastNamedWins) {
  NamedCollection c;
  EXPECT_EQ(c.IndexOf("anything"), -1);
  THashCollectionItem* first = c.Add();
  EXPECT_NE(dynamic_cast<Named*>(first), nullptr);
  EXPECT_EQ(first->HashCode(), 0);
  EXPECT_EQ(c.Bucket(0), first);
  EXPECT_EQ(first->GetDisplayName(), "Named");

  first->SetName("Data\\BG01.vsk");
  AddNamed(c, "data\\bg02.vsk");
  AddNamed(c, "install.dat");
  EXPECT_EQ(first->GetDisplayName(), "Data\\BG01.vsk");
  EXPECT_EQ(c.IndexOf("DATA\\bg01.VSK"), 0);
  EXPECT_EQ(c.IndexOf("data\\bg02.vsk"), 1);
  EXPECT_EQ(c.IndexOf("INSTALL.DAT"), 2);
  EXPECT_EQ(c.IndexOf("/install.dat"), -1);
  EXPECT_EQ(c.IndexOf("install.da"), -1);
  EXPECT_EQ(c.Bucket(0), nullptr);  // the empty name left bucket 0

  // Same name twice: the one named last is found; renaming the newer one brings back the older.
  THashCollectionItem* again = AddNamed(c, "Install.dat");
  EXPECT_EQ(c.IndexOf("install.dat"), 3);
  EXPECT_EQ(c.Bucket(again->HashCode()), again);
  EXPECT_EQ(again->HashNext(), c.Items(2));
  EXPECT_EQ(c.Items(2)->HashPrev(), again);
  again->SetName("/install.dat");
  EXPECT_EQ(c.IndexOf("install.dat"), 2);
  EXPECT_EQ(c.IndexOf("/INSTALL.DAT"), 3);
  EXPECT_EQ(again->HashCode(), NameHash("/install.dat"));

  // Renaming an older item to the same name makes it the one found.
  c.Items(2)->SetName("x");
  c.Items(2)->SetName("install.dat");
  c.Items(1)->SetName("install.dat");
  EXPECT_EQ(c.IndexOf("install.dat"), 1);
  EXPECT_EQ(c.IndexOf("data\\bg02.vsk"), -1);

  // Assign copies the name between hash items only.
  THashCollectionItem* copy = c.Add();
  copy->Assign(*first);
  EXPECT_EQ(copy->Name(), first->Name());
  EXPECT_EQ(c.IndexOf("data\\bg01.vsk"), copy->CachedIndex());
  TCollectionItem plain;
  EXPECT_THROW(copy->Assign(plain), EConvertError);
}

TEST(HashCollection, DeletingKeepsPositionsCurrent) {
  THashCollection c;
  for (int i = 0; i < 10; ++i) AddNamed(c, "file" + std::to_string(i));
  c.Delete(3);
  EXPECT_EQ(c.Count(), 9);
  EXPECT_EQ(c.IndexOf("file3"), -1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(c.IndexOf("file" + std::to_string(i)), i);
  for (int i = 4; i < 10; ++i) {
    EXPECT_EQ(c.IndexOf("FILE" + std::to_string(i)), i - 1);
    EXPECT_EQ(c.Items(i - 1)->CachedIndex(), i - 1);
  }
  c.Delete(8);
  c.Delete(0);
  EXPECT_EQ(c.IndexOf("file9"), -1);
  EXPECT_EQ(c.IndexOf("file1"), 0);
  EXPECT_THROW(c.Delete(7), EVrError);

  // Emptied and filled again: no stale chain survives.
  c.Clear();
  EXPECT_EQ(c.IndexOf("file1"), -1);
  for (int b = 0; b < 256; ++b) ASSERT_EQ(c.Bucket(b), nullptr);
  AddNamed(c, "file1");
  EXPECT_EQ(c.IndexOf("file1"), 0);
}

TEST(HashCollection, ItemsNamedBeforeJoiningAreLinkedWhenAdded) {
  THashCollection c;
  auto item = std::make_unique<THashCollectionItem>();
  item->SetName("early.txt");
  EXPECT_EQ(item->HashCollection(), nullptr);
  THashCollectionItem* raw = c.Add(std::move(item));
  EXPECT_EQ(raw->CachedIndex(), 0);
  EXPECT_EQ(c.IndexOf("EARLY.TXT"), 0);
}

TEST(HashCollection, JapaneseNamesUnderTheLocaleComparison) {
  TTempDrive drive;  // the platform's Japanese comparison
  THashCollection c;
  // "データ\Ａ.txt" and the same with a lower-case full-width letter.
  const std::string upper = "\x83\x66\x81\x5B\x83\x5E\\\x82\x60.txt";
  const std::string lower = "\x83\x66\x81\x5B\x83\x5E\\\x82\x81.txt";
  AddNamed(c, upper);
  EXPECT_EQ(NameHashMbcs(lower), NameHash(upper));
  EXPECT_EQ(c.IndexOf(upper), 0);
  EXPECT_EQ(c.IndexOf(lower), -1);  // plain rule: double-byte characters compared as bytes
  c.MbcsNames = true;
  EXPECT_EQ(c.IndexOf(upper), 0);
  EXPECT_EQ(c.IndexOf(lower), 0);
  EXPECT_EQ(c.IndexOf("\x83\x66\x81\x5B\x83\x5E\\\x82\x61.txt"), -1);
}

TEST(HashCollection, ManyEntriesStayFindable) {
  THashCollection big;
  for (int i = 0; i < 200000; ++i) AddNamed(big, "data\\file" + std::to_string(i) + ".bin");
  EXPECT_EQ(big.Count(), 200000);
  EXPECT_EQ(big.IndexOf("DATA\\FILE199999.BIN"), 199999);
  EXPECT_EQ(big.IndexOf("data\\file0.bin"), 0);
  EXPECT_EQ(big.IndexOf("data\\file200000.bin"), -1);
  big.Clear();
  EXPECT_EQ(big.Count(), 0);
  EXPECT_EQ(big.IndexOf("data\\file0.bin"), -1);
}

}  // namespace
}  // namespace vr
