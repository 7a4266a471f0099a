// Small seeded linear congruential generator with a deck of integers.
#pragma once

#include <cstdint>
#include <vector>

namespace vr {

// The integers 0 .. n-1 from which the value at any position of the remaining ones is taken and
// removed in O(log n) (the remaining values stay in ascending order).
class TIntDeck {
 public:
  void Init(int32_t n);
  int32_t Count() const { return count_; }
  // Takes the value at position index (0 .. Count()-1) of the remaining values and removes it.
  int32_t Take(int32_t index);

 private:
  std::vector<int32_t> tree_;  // Fenwick tree of "still present" flags
  int32_t count_ = 0;
  int32_t topBit_ = 0;
};

// next = state * 5 + Seed (mod 2^32), state starting at 0.
class TKoRandom {
 public:
  explicit TKoRandom(uint32_t seed) : Seed(seed) {}
  uint32_t Next();
  // Deck := 0, 1, ..., n-1 (n below 0 gives an empty deck).
  void InitDeck(int32_t n);
  // Steps the generator and takes the value at (state mod values left); EVrError on an empty deck.
  int32_t Deal();
  int32_t DeckCount() const { return Deck.Count(); }
  int32_t DeckSize() const { return deckSize_; }

  uint32_t Seed;
  uint32_t State = 0;
  TIntDeck Deck;

 private:
  int32_t deckSize_ = 0;
};

}  // namespace vr
