#include "archive/scrambles.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "archive/rands.h"
#include "framework/sysutils.h"

namespace vr {

namespace {

// Per thread, so that entries can be scrambled on several threads at once.
thread_local TMwcState g_mwc;

void PutInt32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetInt32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Highest block index of a payload of `length` bytes cut into blocks of `blockSize`; (length - 1) div
// blockSize with the division truncated toward zero, so an empty payload gives 0 (or -1 for blocks of
// one byte, which draws no block at all: the same empty result).
int32_t LastBlockIndex(int64_t length, int32_t blockSize, const char* who) {
  const int64_t last = (length - 1) / blockSize;
  if (last > std::numeric_limits<int32_t>::max() - 1)
    throw EVrError(std::string("Error:") + who + ": too many blocks");
  return static_cast<int32_t>(last);
}

// Draws the permutation of low..high into `sink(i, value)`.
template <typename Sink>
void DrawOrder(uint32_t seed, int32_t low, int32_t high, Sink sink) {
  const int64_t n = static_cast<int64_t>(high) - low + 1;
  if (n <= 0) return;
  TIntDeck deck;
  deck.Init(static_cast<int32_t>(n));
  TGetRandom random;
  random.SetSeed(seed);
  for (int32_t i = 0; deck.Count() > 0; ++i) {
    const int32_t count = deck.Count();
    const int32_t p = count < 2 ? 0 : random.NextInRange(0, count - 2);
    sink(i, static_cast<int32_t>(low + deck.Take(p)));
  }
}

}  // namespace

TMwcState& MwcState() { return g_mwc; }

void MwcSeed(uint32_t seed) {
  uint32_t s = seed == 0 ? 0xFFFFFFFFu : seed;
  uint32_t* words[5] = {&g_mwc.X0, &g_mwc.X1, &g_mwc.X2, &g_mwc.X3, &g_mwc.C};
  for (uint32_t* w : words) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    *w = s;
  }
  for (int i = 0; i < 19; ++i) MwcStep();
}

double MwcStep() {
  TMwcState& g = g_mwc;
  const uint64_t sum = static_cast<uint64_t>(g.M3) * g.X3 + static_cast<uint64_t>(g.M2) * g.X2 +
                       static_cast<uint64_t>(g.M1) * g.X1 + static_cast<uint64_t>(g.M0) * g.X0 + g.C;
  g.X3 = g.X2;
  g.X2 = g.X1;
  g.X1 = g.X0;
  g.X0 = static_cast<uint32_t>(sum);
  g.C = static_cast<uint32_t>(sum >> 32);
  g.ResultLo = g.X0;
  g.ResultHi = 0;
  return static_cast<double>(g.X0) * static_cast<double>(g.Scale);
}

int32_t MwcRange(int32_t min, int32_t max) {
  MwcStep();
  // trunc(X0 * 2^-32 * n) is exact in 64-bit integers: X0 < 2^32 and |n| <= 2^32.
  const int64_t n = static_cast<int64_t>(max) - min + 1;
  const uint64_t x = g_mwc.X0;
  int64_t r;
  if (n >= 0)
    r = static_cast<int64_t>((x * static_cast<uint64_t>(n)) >> 32);
  else
    r = -static_cast<int64_t>((x * static_cast<uint64_t>(-n)) >> 32);
  return static_cast<int32_t>(static_cast<uint32_t>(min) + static_cast<uint32_t>(r));
}

void TGetRandom::SetSeed(uint32_t seed) {
  seed_ = seed;
  MwcSeed(seed);
  state_ = g_mwc;
}

int32_t TGetRandom::NextInRange(int32_t min, int32_t max) {
  g_mwc = state_;
  const int32_t r = MwcRange(min, max);
  state_ = g_mwc;
  return r;
}

void TScrambleInts::MakeOrder(int32_t low, int32_t high) {
  const int64_t n = static_cast<int64_t>(high) - low + 1;
  Values.assign(n > 0 ? static_cast<size_t>(n) : 0, 0);
  DrawOrder(Seed, low, high, [this](int32_t i, int32_t v) { Values[static_cast<size_t>(i)] = v; });
}

void TScrambleInts::MakeInverse(int32_t low, int32_t high) {
  const int64_t n = static_cast<int64_t>(high) - low + 1;
  Values.assign(n > 0 ? static_cast<size_t>(n) : 0, 0);
  DrawOrder(Seed, low, high, [this, low](int32_t i, int32_t v) {
    Values[static_cast<size_t>(static_cast<int64_t>(v) - low)] = i;
  });
}

void ScrambleStream(TMemoryStream& stream, int32_t blockSize, uint32_t seed, bool withHeader) {
  if (blockSize < 1) throw EVrError("Error:ScrambleStream: block size " + std::to_string(blockSize));
  const int64_t length = stream.Size();
  const int32_t last = LastBlockIndex(length, blockSize, "ScrambleStream");
  std::vector<uint8_t> copy(stream.Memory(), stream.Memory() + length);
  TScrambleInts order(seed);
  order.MakeOrder(0, last);

  const int64_t header = withHeader ? 8 : 0;
  stream.Clear();
  stream.SetSize(length + header);
  uint8_t* out = stream.Memory();
  int64_t at = header;
  for (int32_t block : order.Values) {
    const int64_t start = static_cast<int64_t>(blockSize) * block;
    const int64_t size = std::min<int64_t>(blockSize, length - start);
    if (size > 0) std::memcpy(out + at, copy.data() + start, static_cast<size_t>(size));
    at += size;
  }
  if (withHeader) {
    PutInt32(out, static_cast<uint32_t>(blockSize));
    PutInt32(out + 4, seed ^ SeedMask);
  }
  stream.Seek(0, TSeekOrigin::soEnd);
}

void UnscrambleStream(TMemoryStream& stream) {
  const int64_t total = stream.Size();
  if (total < 8) throw EVrError("Error:UnscrambleStream: container shorter than its header");
  const uint8_t* in = stream.Memory();
  const int32_t blockSize = static_cast<int32_t>(GetInt32(in));
  const uint32_t seed = GetInt32(in + 4) ^ SeedMask;
  if (blockSize < 1) throw EVrError("Error:UnscrambleStream: block size " + std::to_string(blockSize));
  const int64_t length = total - 8;
  const int32_t last = LastBlockIndex(length, blockSize, "UnscrambleStream");

  TScrambleInts inverse(seed);
  inverse.MakeInverse(0, last);
  std::vector<uint8_t> payload(static_cast<size_t>(length));
  const uint8_t* blocks = in + 8;
  int64_t at = 0;
  for (int32_t stored : inverse.Values) {
    const int64_t start = static_cast<int64_t>(blockSize) * stored;
    const int64_t size = std::min<int64_t>(blockSize, length - start);
    if (size > 0) std::memcpy(payload.data() + at, blocks + start, static_cast<size_t>(size));
    at += size;
  }
  stream.Clear();
  stream.SetSize(length);
  if (length > 0) std::memcpy(stream.Memory(), payload.data(), static_cast<size_t>(length));
  stream.Seek(0, TSeekOrigin::soEnd);
}

}  // namespace vr
