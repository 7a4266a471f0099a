// Memory streams, the stream base operations, string lists and collections (no files involved).
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "framework/classes.h"
#include "framework/plainstream.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

std::string Contents(TCustomMemoryStream& s) {
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
}

void Put(TStream& s, const std::string& text) {
  s.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

TEST(MemoryStream, ReadWriteSeekAndSize) {
  TMemoryStream m;
  EXPECT_EQ(m.Size(), 0);
  Put(m, "hello world");
  EXPECT_EQ(m.Size(), 11);
  EXPECT_EQ(m.Position(), 11);
  m.SetPosition(6);
  Put(m, "there!");  // overwrites and extends
  EXPECT_EQ(Contents(m), "hello there!");
  EXPECT_EQ(m.Seek(-3, TSeekOrigin::soEnd), 9);
  char buf[16] = {};
  EXPECT_EQ(m.Read(buf, 8), 3);  // less at the end
  EXPECT_EQ(std::string(buf, 3), "re!");
  EXPECT_EQ(m.Read(buf, 8), 0);
  m.SetPosition(-1);
  EXPECT_EQ(m.Read(buf, 1), 0);
  EXPECT_EQ(m.Write("x", 1), 0);
  m.SetPosition(0);
  EXPECT_THROW(m.ReadBuffer(buf, 13), EReadError);
  m.SetPosition(0);
  EXPECT_NO_THROW(m.ReadBuffer(buf, 5));
  EXPECT_EQ(std::string(buf, 5), "hello");
}

TEST(MemoryStream, GapsAndGrowthAreZeroedAndShrinkMovesPosition) {
  TMemoryStream m;
  Put(m, "ab");
  m.SetPosition(6);
  Put(m, "z");
  EXPECT_EQ(Contents(m), std::string("ab\0\0\0\0z", 7));
  m.SetSize(10);
  EXPECT_EQ(Contents(m), std::string("ab\0\0\0\0z\0\0\0", 10));
  EXPECT_EQ(m.Position(), 7);
  m.SetSize(3);
  EXPECT_EQ(m.Position(), 3);
  EXPECT_EQ(Contents(m), std::string("ab\0", 3));
  m.SetSize(0);
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.Position(), 0);
  EXPECT_THROW(m.SetSize(-1), EStreamError);
  Put(m, "again");
  m.Clear();
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.Position(), 0);
}

TEST(MemoryStream, AppendingInSmallPiecesGrowsGeometrically) {
  TMemoryStream m;
  std::set<int64_t> capacities;
  const int64_t total = 4 << 20;
  const char piece[16] = "0123456789abcde";
  for (int64_t done = 0; done < total; done += 16) {
    m.WriteBuffer(piece, 16);
    capacities.insert(m.Capacity());
  }
  EXPECT_EQ(m.Size(), total);
  // Each growth step adds half again: some tens of reallocations, never one per write.
  EXPECT_LT(capacities.size(), 40u);
  EXPECT_LE(m.Capacity(), total * 2);
  EXPECT_EQ(std::memcmp(m.Memory() + total - 16, piece, 16), 0);
}

TEST(MemoryStream, CopyFromLoadAndSwap) {
  TMemoryStream src;
  Put(src, "0123456789");
  src.SetPosition(7);
  TMemoryStream dst;
  EXPECT_EQ(dst.CopyFrom(src, 0), 10);  // 0: the whole source from its start
  EXPECT_EQ(Contents(dst), "0123456789");
  src.SetPosition(2);
  EXPECT_EQ(dst.CopyFrom(src, 3), 3);
  EXPECT_EQ(src.Position(), 5);
  EXPECT_EQ(Contents(dst), "0123456789234");
  src.SetPosition(8);
  EXPECT_THROW(dst.CopyFrom(src, 5), EReadError);
  EXPECT_EQ(dst.Size(), 13) << "nothing written when the source is short";

  TPlainStream trickle("abcdefghij", 3);
  TMemoryStream viaRead;
  EXPECT_EQ(viaRead.CopyFrom(trickle, 0), 10);
  EXPECT_EQ(Contents(viaRead), "abcdefghij");
  trickle.SetPosition(8);
  EXPECT_THROW(viaRead.CopyFrom(trickle, 5), EReadError);

  TMemoryStream loaded;
  Put(loaded, "old contents that are longer");
  trickle.SetPosition(4);
  loaded.LoadFromStream(trickle);
  EXPECT_EQ(Contents(loaded), "abcdefghij");
  EXPECT_EQ(loaded.Position(), 0);

  loaded.Swap(src);
  EXPECT_EQ(Contents(loaded), "0123456789");
  EXPECT_EQ(Contents(src), "abcdefghij");

  TMemoryStream saved;
  loaded.SaveToStream(saved);
  EXPECT_EQ(Contents(saved), "0123456789");
}

TEST(StringList, IndexOfAddDeleteAndRanges) {
  TTempDrive drive;  // the locale comparison comes from the platform
  TStringList l;
  EXPECT_EQ(l.Add("Game.exe"), 0);
  EXPECT_EQ(l.Add("data\\Voice.dat"), 1);
  l.Insert(0, "first");
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(l.IndexOf("GAME.EXE"), 1);
  EXPECT_EQ(l.IndexOf("DATA\\voice.DAT"), 2);
  EXPECT_EQ(l.IndexOf("missing"), -1);
  l.CaseSensitive = true;
  EXPECT_EQ(l.IndexOf("GAME.EXE"), -1);
  EXPECT_EQ(l.IndexOf("Game.exe"), 1);
  l.Delete(0);
  EXPECT_EQ(l[0], "Game.exe");
  EXPECT_THROW(l[2], EListError);
  EXPECT_THROW(l[-1], EListError);
  EXPECT_THROW(l.Delete(5), EListError);
  EXPECT_THROW(l.Insert(4, "x"), EListError);
  l.Insert(2, "last");
  EXPECT_EQ(l[2], "last");
  l.CaseSensitive = false;
  l.Add("ＡＢＣ");
  EXPECT_EQ(l.IndexOf("ａｂｃ"), 3) << "full-width letters compare without case too";
}

TEST(StringList, AsciiShortcutAgreesWithTheLocaleComparison) {
  TTempDrive drive;
  TPlatform& p = Platform();
  const std::vector<std::string> words = {"abc",  "ABC", "aBc", "ab",  "abc ", "a-b",   "ab-",   "co-op",
                                          "coop", "a'b", "ab'", "a_b", "A_B",  "x.dat", "X.DAT", "x.da",
                                          "[Z]",  "[z]", "@",   "`",   "{",    "^",     "",      "~1.TMP"};
  for (const std::string& a : words)
    for (const std::string& b : words)
      EXPECT_EQ(SameTextJ(p, a, b), p.CompareTextJ(a, b) == 0) << "'" << a << "' vs '" << b << "'";
}

TEST(StringList, TextUsesCrLfAndReadsAnyLineBreak) {
  TStringList l;
  l.Add("一行目");
  l.Add("");
  l.Add("three");
  EXPECT_EQ(l.Text(), "一行目\r\n\r\nthree\r\n");
  l.SetText("a\r\nb\nc\rd");
  ASSERT_EQ(l.Count(), 4);
  EXPECT_EQ(l[3], "d");
  l.SetText("x\r\n");
  EXPECT_EQ(l.Count(), 1);
  l.SetText("");
  EXPECT_EQ(l.Count(), 0);
  l.SetText("\r\n\r\n");
  EXPECT_EQ(l.Count(), 2);
}

class TCountingItem : public TCollectionItem {
 public:
  explicit TCountingItem(int* alive) : alive_(alive) { ++*alive_; }
  ~TCountingItem() override { --*alive_; }

 private:
  int* alive_;
};

class TNotifyingCollection : public TCollection {
 public:
  int added = 0, removed = 0;
  ~TNotifyingCollection() override { Clear(); }

 protected:
  void Notify(TCollectionItem*, bool isAdded) override { (isAdded ? added : removed)++; }
};

TEST(Collection, OwnsItemsAndKeepsIndexes) {
  int alive = 0;
  {
    TNotifyingCollection c;
    TCollectionItem* a = c.AddItem(std::make_unique<TCountingItem>(&alive));
    TCollectionItem* b = c.AddItem(std::make_unique<TCountingItem>(&alive));
    TCollectionItem* d = c.AddItem(std::make_unique<TCountingItem>(&alive));
    EXPECT_EQ(alive, 3);
    EXPECT_EQ(c.added, 3);
    EXPECT_EQ(b->Index(), 1);
    EXPECT_EQ(b->Collection(), &c);
    c.Delete(0);
    EXPECT_EQ(alive, 2);
    EXPECT_EQ(c.removed, 1);
    EXPECT_EQ(b->Index(), 0);
    EXPECT_EQ(d->Index(), 1);
    EXPECT_EQ(c.IndexOf(a), -1);
    EXPECT_EQ(c.Item(1), d);
    EXPECT_THROW(c.Item(2), EListError);
    EXPECT_THROW(c.Delete(-1), EListError);
  }
  EXPECT_EQ(alive, 0);
}

}  // namespace
}  // namespace vr
