// The linear congruential generator and its deck.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "archive/rands.h"
#include "framework/sysutils.h"

namespace vr {
namespace {

TEST(KoRandom, SequencesOfKnownSeeds) {
  TKoRandom one(1);
  EXPECT_EQ(one.Next(), 1u);
  EXPECT_EQ(one.Next(), 6u);
  EXPECT_EQ(one.Next(), 31u);
  EXPECT_EQ(one.Next(), 156u);
  EXPECT_EQ(one.Next(), 781u);

  TKoRandom zero(0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(zero.Next(), 0u);

  // The directory key: the second value wraps around 2^32.
  TKoRandom key(1384720569u);
  EXPECT_EQ(key.Next(), 1384720569u);
  EXPECT_EQ(key.Next(), 4013356118u);
  EXPECT_EQ(key.State, 4013356118u);
}

TEST(KoRandom, DealWithSeedZeroIsTheIdentity) {
  TKoRandom r(0);
  r.InitDeck(6);
  EXPECT_EQ(r.DeckCount(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r.Deal(), i);
  EXPECT_EQ(r.DeckCount(), 0);
  EXPECT_THROW(r.Deal(), EVrError);
}

// The deck must behave exactly like a plain list from which the dealt value is erased.
TEST(KoRandom, DealMatchesAPlainListForManySeedsAndSizes) {
  for (uint32_t seed : {1u, 7u, 1384720569u, 0x80000001u, 0xFFFFFFFFu}) {
    for (int n : {1, 2, 3, 10, 64, 257, 1000}) {
      TKoRandom r(seed);
      r.InitDeck(n);
      std::vector<int> list(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) list[static_cast<size_t>(i)] = i;
      uint32_t state = 0;
      for (int k = 0; k < n; ++k) {
        state = state * 5u + seed;
        const size_t index = state % list.size();
        const int expected = list[index];
        list.erase(list.begin() + static_cast<long>(index));
        ASSERT_EQ(r.Deal(), expected) << "seed " << seed << " n " << n << " deal " << k;
      }
    }
  }
}

TEST(KoRandom, InitDeckRestartsTheDeckButNotTheGenerator) {
  TKoRandom r(3);
  r.InitDeck(4);
  r.Deal();
  r.InitDeck(3);
  EXPECT_EQ(r.DeckCount(), 3);
  EXPECT_EQ(r.DeckSize(), 3);
  EXPECT_EQ(r.State, 3u);  // one step so far
  std::vector<int> dealt{r.Deal(), r.Deal(), r.Deal()};
  std::sort(dealt.begin(), dealt.end());
  EXPECT_EQ(dealt, (std::vector<int>{0, 1, 2}));
  r.InitDeck(-5);
  EXPECT_EQ(r.DeckCount(), 0);
}

TEST(IntDeck, TakesAnyPositionAndRejectsOthers) {
  TIntDeck deck;
  deck.Init(10);
  EXPECT_EQ(deck.Take(9), 9);
  EXPECT_EQ(deck.Take(0), 0);
  EXPECT_EQ(deck.Take(3), 4);  // remaining 1 2 3 4 ...
  EXPECT_EQ(deck.Count(), 7);
  EXPECT_THROW(deck.Take(7), EVrError);
  EXPECT_THROW(deck.Take(-1), EVrError);
}

}  // namespace
}  // namespace vr
