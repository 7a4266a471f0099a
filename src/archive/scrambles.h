// Block scrambler of archive entries and the multiply-with-carry generator that drives it.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/classes.h"

namespace vr {

// XORed into the seed stored in a scrambled container's header (only its low 16 bits change).
constexpr uint32_t SeedMask = 0xB52C;

// State of the multiply-with-carry generator (Marsaglia's "Mother of All" multipliers).
struct TMwcState {
  uint32_t X0 = 0, X1 = 0, X2 = 0, X3 = 0;  // the last four outputs, X0 the newest
  uint32_t C = 0;                           // carry
  uint32_t M3 = 2111111111, M2 = 1492, M1 = 1776, M0 = 5115;
  float Scale = 2.3283064365386963e-10f;  // 2^-32
  uint32_t ResultLo = 0, ResultHi = 0;    // the last output
};

// The shared generator state (one per thread).
TMwcState& MwcState();
// Seeds the shared generator (0 acts as 0xFFFFFFFF) and runs 19 discarded steps.
void MwcSeed(uint32_t seed);
// One step of the shared generator: a number in [0, 1).
double MwcStep();
// min + trunc(step * (max - min + 1)); advances the shared generator by one step.
int32_t MwcRange(int32_t min, int32_t max);

// A private generator: keeps its own copy of the state and swaps it into the shared state per draw,
// so several objects can be drawn from in turn without disturbing each other.
class TGetRandom {
 public:
  void SetSeed(uint32_t seed);
  int32_t NextInRange(int32_t min, int32_t max);
  uint32_t Seed() const { return seed_; }
  const TMwcState& State() const { return state_; }

 private:
  TMwcState state_;
  uint32_t seed_ = 0;
};

// A seeded permutation of the block indices of a scrambled container.
class TScrambleInts {
 public:
  explicit TScrambleInts(uint32_t seed) : Seed(seed) {}
  // Values := a permutation of low..high; the last value is always high.
  void MakeOrder(int32_t low, int32_t high);
  // Values[v - low] := the position at which MakeOrder(low, high) draws v.
  void MakeInverse(int32_t low, int32_t high);

  uint32_t Seed;
  std::vector<int32_t> Values;
};

// Replaces the stream's contents by its blocks of blockSize bytes in the seeded order, preceded by the
// eight-byte header (int32 block size, int32 seed xor SeedMask) when withHeader is set. The position is
// left at the end. blockSize below 1 raises EVrError.
void ScrambleStream(TMemoryStream& stream, int32_t blockSize, uint32_t seed, bool withHeader = true);
// Replaces a scrambled container (header and blocks) by the payload it was made from; the position is
// left at the end of the payload. A container shorter than its header or with a block size below 1
// raises EVrError and leaves the stream unchanged.
void UnscrambleStream(TMemoryStream& stream);

}  // namespace vr
