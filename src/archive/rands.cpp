#include "archive/rands.h"

#include "framework/sysutils.h"

namespace vr {

void TIntDeck::Init(int32_t n) {
  if (n < 0) n = 0;
  count_ = n;
  tree_.assign(static_cast<size_t>(n) + 1, 0);
  // Every value present: node i covers (i - lowbit(i), i], so it counts lowbit(i) values.
  for (int32_t i = 1; i <= n; ++i) tree_[static_cast<size_t>(i)] = i & -i;
  topBit_ = 1;
  while (topBit_ <= n / 2) topBit_ <<= 1;
}

int32_t TIntDeck::Take(int32_t index) {
  if (index < 0 || index >= count_) throw EVrError("Error:TIntDeck.Take");
  const int32_t n = static_cast<int32_t>(tree_.size()) - 1;
  // Binary lifting: the largest pos whose prefix count is <= index, so value pos is the index-th one.
  int32_t pos = 0;
  int32_t rest = index + 1;
  for (int32_t step = topBit_; step > 0; step >>= 1) {
    const int32_t next = pos + step;
    if (next <= n && tree_[static_cast<size_t>(next)] < rest) {
      pos = next;
      rest -= tree_[static_cast<size_t>(next)];
    }
  }
  for (int32_t i = pos + 1; i <= n; i += i & -i) --tree_[static_cast<size_t>(i)];
  --count_;
  return pos;
}

uint32_t TKoRandom::Next() {
  State = State * 5u + Seed;
  return State;
}

void TKoRandom::InitDeck(int32_t n) {
  deckSize_ = n < 0 ? 0 : n;
  Deck.Init(deckSize_);
}

int32_t TKoRandom::Deal() {
  State = State * 5u + Seed;
  const int32_t left = Deck.Count();
  if (left <= 0) throw EVrError("Error:TKoRandom.Deal");
  return Deck.Take(static_cast<int32_t>(State % static_cast<uint32_t>(left)));
}

}  // namespace vr
