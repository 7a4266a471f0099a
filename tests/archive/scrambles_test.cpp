// The multiply-with-carry generator, the block permutation and the stream scrambler.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/hash.h"
#include "archive/scrambles.h"
#include "framework/classes.h"
#include "framework/sysutils.h"

namespace vr {
namespace {

std::vector<uint8_t> Pattern(size_t n, unsigned mul, unsigned add) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * mul + add);
  return v;
}

void Fill(TMemoryStream& s, const std::vector<uint8_t>& bytes) {
  s.Clear();
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

std::vector<uint8_t> Contents(TMemoryStream& s) {
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

// The permutation drawn the plain way: a list from which each drawn position is deleted.
std::vector<int32_t> PlainOrder(uint32_t seed, int32_t low, int32_t high) {
  TIntList list;
  for (int32_t v = low; v <= high; ++v) list.Add(v);
  TGetRandom random;
  random.SetSeed(seed);
  std::vector<int32_t> out;
  while (list.Count() > 0) {
    const int32_t p = list.Count() < 2 ? 0 : random.NextInRange(0, list.Count() - 2);
    out.push_back(list.GetInt(p));
    list.Delete(p);
  }
  return out;
}

TEST(Mwc, SeedingAndStepsGiveTheReferenceValues) {
  MwcSeed(1);
  const TMwcState s = MwcState();
  EXPECT_EQ(s.X0, 2507986930u);
  EXPECT_EQ(s.X1, 3092934795u);
  EXPECT_EQ(s.X2, 3630815885u);
  EXPECT_EQ(s.X3, 1007234564u);
  EXPECT_EQ(s.C, 1057390902u);
  EXPECT_EQ(s.M3, 2111111111u);
  EXPECT_EQ(s.M0, 5115u);
  const uint32_t next[] = {806909100u, 404163808u, 448132079u, 136163972u, 2166720181u};
  for (uint32_t x : next) {
    const double r = MwcStep();
    EXPECT_EQ(MwcState().X0, x);
    EXPECT_EQ(MwcState().ResultLo, x);
    EXPECT_EQ(MwcState().ResultHi, 0u);
    EXPECT_DOUBLE_EQ(r, x / 4294967296.0);
    EXPECT_LT(r, 1.0);
  }

  MwcSeed(123456789);
  const int32_t ranged[] = {10, 16, 84, 67, 13, 16, 32, 15};
  for (int32_t v : ranged) EXPECT_EQ(MwcRange(0, 99), v);
}

TEST(Mwc, SeedZeroActsAsAllOnesAndRangeZeroStillSteps) {
  MwcSeed(0);
  const TMwcState zero = MwcState();
  MwcSeed(0xFFFFFFFFu);
  const TMwcState ones = MwcState();
  EXPECT_EQ(std::memcmp(&zero, &ones, sizeof zero), 0);

  MwcSeed(42);
  const uint32_t before = MwcState().X0;
  EXPECT_EQ(MwcRange(0, 0), 0);
  EXPECT_NE(MwcState().X0, before);
  EXPECT_EQ(MwcState().X1, before);
  EXPECT_EQ(MwcRange(7, 7), 7);
  for (int i = 0; i < 1000; ++i) {
    const int32_t v = MwcRange(-3, 3);
    ASSERT_GE(v, -3);
    ASSERT_LE(v, 3);
  }
}

TEST(GetRandom, ObjectsDrawIndependentlyOfEachOther) {
  TGetRandom a, b, alone;
  a.SetSeed(5);
  b.SetSeed(6);
  alone.SetSeed(5);
  std::vector<int32_t> fromA, fromAlone;
  for (int i = 0; i < 20; ++i) {
    fromA.push_back(a.NextInRange(0, 1000));
    b.NextInRange(0, 1000);
    MwcSeed(999);  // someone else using the shared state in between
  }
  for (int i = 0; i < 20; ++i) fromAlone.push_back(alone.NextInRange(0, 1000));
  EXPECT_EQ(fromA, fromAlone);
  EXPECT_EQ(a.Seed(), 5u);
}

TEST(ScrambleInts, OrdersMatchTheReferenceAndThePlainDraw) {
  TScrambleInts s(12345);
  s.MakeOrder(0, 9);
  EXPECT_EQ(s.Values, (std::vector<int32_t>{2, 4, 7, 6, 0, 1, 8, 5, 3, 9}));
  TScrambleInts z(0);
  z.MakeOrder(0, 9);
  EXPECT_EQ(z.Values, (std::vector<int32_t>{6, 5, 1, 7, 8, 2, 3, 4, 0, 9}));
  TScrambleInts shifted(7);
  shifted.MakeOrder(5, 12);
  EXPECT_EQ(shifted.Values, (std::vector<int32_t>{7, 9, 8, 5, 6, 10, 11, 12}));

  TScrambleInts single(99);
  single.MakeOrder(0, 0);
  EXPECT_EQ(single.Values, (std::vector<int32_t>{0}));
  single.MakeOrder(0, -1);
  EXPECT_TRUE(single.Values.empty());

  for (uint32_t seed : {0u, 1u, 77u, 0x7FFFFFFEu, 0xFFFFFFFFu}) {
    for (int32_t n : {1, 2, 3, 17, 300, 2049}) {
      TScrambleInts o(seed);
      o.MakeOrder(0, n - 1);
      ASSERT_EQ(o.Values, PlainOrder(seed, 0, n - 1)) << seed << " " << n;
      EXPECT_EQ(o.Values.back(), n - 1);
      TScrambleInts inv(seed);
      inv.MakeInverse(0, n - 1);
      for (int32_t i = 0; i < n; ++i) ASSERT_EQ(inv.Values[static_cast<size_t>(o.Values[i])], i);
    }
  }
}

TEST(ScrambleStream, ContainerLayoutMatchesTheReference) {
  TMemoryStream s;
  const std::vector<uint8_t> payload = Pattern(1000, 7, 3);
  Fill(s, payload);
  ScrambleStream(s, 256, 987654, true);
  ASSERT_EQ(s.Size(), 1008);
  EXPECT_EQ(s.Position(), 1008);
  const std::vector<uint8_t> c = Contents(s);
  EXPECT_EQ(crc32(0, c.data(), static_cast<uInt>(c.size())), 0xda2cc65cu);
  // Header: block size, then the seed with its low 16 bits masked.
  EXPECT_EQ(std::vector<uint8_t>(c.begin(), c.begin() + 8),
            (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x00, 0x2a, 0xa7, 0x0f, 0x00}));
  // The short fourth block (232 bytes) is stored last.
  EXPECT_TRUE(std::equal(payload.begin() + 768, payload.end(), c.begin() + 8 + 768));

  // A small payload, byte for byte.
  Fill(s, Pattern(37, 13, 1));
  ScrambleStream(s, 5, 0x7FFFFFFE, true);
  const std::string expected =
      "05000000d24aff7f4653606d7a8794a1aebb05121f2c39c4d1deebf8010e1b2835424f5c697683909daab7c8d5";
  const std::vector<uint8_t> small = Contents(s);
  std::string hex;
  for (uint8_t b : small) {
    static const char digits[] = "0123456789abcdef";
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  EXPECT_EQ(hex, expected);

  // Without the header only the blocks are left.
  Fill(s, Pattern(37, 13, 1));
  ScrambleStream(s, 5, 0x7FFFFFFE, false);
  EXPECT_EQ(Contents(s), std::vector<uint8_t>(small.begin() + 8, small.end()));
  EXPECT_EQ(s.Position(), 37);
  EXPECT_EQ(s.Size(), 37);
}

TEST(ScrambleStream, RoundTripsForManySizesBlockSizesAndSeeds) {
  for (size_t length : {0u, 1u, 2u, 255u, 256u, 257u, 1000u, 4096u * 3 + 5}) {
    for (int32_t block : {1, 2, 7, 256, 4096, 100000}) {
      for (uint32_t seed : {0u, 1u, 0xB52Cu, 0x7FFFFFFEu, 0xFFFFFFFFu}) {
        const std::vector<uint8_t> payload = Pattern(length, 31, static_cast<unsigned>(seed));
        TMemoryStream s;
        Fill(s, payload);
        ScrambleStream(s, block, seed, true);
        ASSERT_EQ(s.Size(), static_cast<int64_t>(length + 8));
        UnscrambleStream(s);
        ASSERT_EQ(Contents(s), payload) << length << " " << block << " " << seed;
        ASSERT_EQ(s.Position(), static_cast<int64_t>(length));
      }
    }
  }
}

TEST(UnscrambleStream, DamagedHeadersAreErrorsAndLeaveTheStreamAlone) {
  TMemoryStream s;
  Fill(s, {1, 2, 3});
  EXPECT_THROW(UnscrambleStream(s), EVrError);
  EXPECT_EQ(Contents(s), (std::vector<uint8_t>{1, 2, 3}));

  for (uint32_t bad : {0u, 0xFFFFFFFFu, 0x80000000u}) {
    std::vector<uint8_t> c = {static_cast<uint8_t>(bad),
                              static_cast<uint8_t>(bad >> 8),
                              static_cast<uint8_t>(bad >> 16),
                              static_cast<uint8_t>(bad >> 24),
                              0,
                              0,
                              0,
                              0,
                              9,
                              9};
    Fill(s, c);
    EXPECT_THROW(UnscrambleStream(s), EVrError);
    EXPECT_EQ(Contents(s), c);
  }
  TMemoryStream m;
  Fill(m, {1, 2});
  EXPECT_THROW(ScrambleStream(m, 0, 1, true), EVrError);
  EXPECT_EQ(Contents(m), (std::vector<uint8_t>{1, 2}));

  // A header-only container is the empty payload; a wrong seed reorders without an error.
  Fill(s, {4, 0, 0, 0, 0, 0, 0, 0});
  UnscrambleStream(s);
  EXPECT_EQ(s.Size(), 0);
  const std::vector<uint8_t> payload = Pattern(64, 3, 1);
  Fill(s, payload);
  ScrambleStream(s, 4, 1000, true);
  s.Memory()[4] ^= 0x01;
  UnscrambleStream(s);
  EXPECT_NE(Contents(s), payload);
  EXPECT_EQ(s.Size(), 64);
}

TEST(UnscrambleStream, OneByteBlocksRoundTrip) {
  const std::vector<uint8_t> payload = Pattern(1 << 16, 11, 5);
  TMemoryStream s;
  Fill(s, payload);
  ScrambleStream(s, 1, 31337, true);
  EXPECT_NE(Contents(s), payload);
  UnscrambleStream(s);
  EXPECT_EQ(Contents(s), payload);
}

}  // namespace
}  // namespace vr
