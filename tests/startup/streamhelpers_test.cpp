// Stream helpers: bulk copies with their buffer fallback, zlib compression and little-endian integers.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "framework/plainstream.h"
#include "startup/syshelpers.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

std::string Contents(TCustomMemoryStream& s) {
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
}

void Fill(TMemoryStream& m, const std::string& bytes) {
  m.Clear();
  if (!bytes.empty()) m.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>((i % 64 < 40) ? 'a' + (i % 7) : (x >> 24));  // partly compressible
  }
  return s;
}

TEST(CopyStreamRange, MemorySourceWholeOrFromPosition) {
  TMemoryStream src, dst;
  Fill(src, "0123456789");
  src.SetPosition(6);
  EXPECT_EQ(CopyStreamRange(dst, src, 0), 10) << "0 copies the whole source from its start";
  EXPECT_EQ(Contents(dst), "0123456789");
  EXPECT_EQ(src.Position(), 10);
  src.SetPosition(3);
  EXPECT_EQ(CopyStreamRange(dst, src, 4), 4);
  EXPECT_EQ(src.Position(), 7);
  EXPECT_EQ(Contents(dst), "01234567893456");
  src.SetPosition(8);
  EXPECT_THROW(CopyStreamRange(dst, src, 3), EReadError) << "more than the source holds";
  EXPECT_EQ(dst.Size(), 14) << "nothing was written";
  EXPECT_EQ(src.Position(), 8);
  EXPECT_THROW(CopyStreamRange(dst, src, -1), EReadError);
  TMemoryStream empty;
  EXPECT_EQ(CopyStreamRange(dst, empty, 0), 0);
}

TEST(CopyStreamRange, OtherSourcesUseABufferOfAtMostTenMiB) {
  const std::string data = Pattern(23 * 1048576 + 5);
  TPlainStream src(data);
  TMemoryStream dst;
  EXPECT_EQ(CopyStreamRange(dst, src, 0), static_cast<int64_t>(data.size()));
  EXPECT_EQ(src.largestRead, 10 * 1048576);
  ASSERT_EQ(dst.Size(), static_cast<int64_t>(data.size()));
  EXPECT_EQ(std::memcmp(dst.Memory(), data.data(), data.size()), 0);

  TPlainStream small(data);
  small.SetPosition(100);
  TMemoryStream part;
  EXPECT_EQ(CopyStreamRange(part, small, 5000), 5000);
  EXPECT_EQ(small.largestRead, 5000) << "the buffer is no larger than the count";
  EXPECT_EQ(Contents(part), data.substr(100, 5000));

  TPlainStream shortSource("only ten b");
  TMemoryStream out;
  EXPECT_THROW(CopyStreamRange(out, shortSource, 11), EReadError);
}

size_t gLargestAllowed = 0;
int gAttempts = 0;
std::unique_ptr<uint8_t[]> LimitedAllocator(size_t size) {
  ++gAttempts;
  if (size > gLargestAllowed) return nullptr;
  return std::unique_ptr<uint8_t[]>(new uint8_t[size]);
}

TEST(CopyStreamRange, ShrinksTheBufferWhenMemoryIsShort) {
  const std::string data = Pattern(12 * 1048576);
  TCopyBufferAllocator previous = SetCopyBufferAllocator(LimitedAllocator);
  gLargestAllowed = 3 * 1048576 + 100;
  gAttempts = 0;
  TPlainStream src(data);
  TMemoryStream dst;
  EXPECT_EQ(CopyStreamRange(dst, src, 0), static_cast<int64_t>(data.size()));
  EXPECT_EQ(gAttempts, 8) << "10, 9, ... 3 MiB";
  EXPECT_EQ(src.largestRead, 3 * 1048576);
  EXPECT_EQ(Contents(dst), data);

  gLargestAllowed = 0;
  gAttempts = 0;
  TPlainStream again(data);
  EXPECT_THROW(CopyStreamRange(dst, again, 0), EOutOfMemory);
  EXPECT_EQ(gAttempts, 10);

  // A count below one step: one attempt, then the error.
  gAttempts = 0;
  TPlainStream tiny("abc");
  EXPECT_THROW(CopyStreamRange(dst, tiny, 3), EOutOfMemory);
  EXPECT_EQ(gAttempts, 1);
  SetCopyBufferAllocator(previous);
}

TEST(CopyStreamRange, FileToFile) {
  TTempDrive drive;
  const std::string data = Pattern(11 * 1048576 + 3);
  drive.WriteFile("in.bin", data);
  {
    TFileStream in(drive.PathOf("in.bin"), fmOpenRead | fmShareDenyWrite);
    TFileStream out(drive.PathOf("out.bin"), fmCreate);
    in.SetPosition(7);
    EXPECT_EQ(CopyStreamRange(out, in, 0), static_cast<int64_t>(data.size()));
    in.SetPosition(1);
    EXPECT_EQ(CopyStreamRange(out, in, 2), 2);
  }
  EXPECT_EQ(drive.ReadFile("out.bin"), data + data.substr(1, 2));
}

TEST(Zlib, CompressLevelsRoundTrip) {
  const std::string data = Pattern(3 * 1000000 + 77);     // more than one inflate piece
  const uint8_t levelByte[4] = {0x01, 0x01, 0x9C, 0xDA};  // second header byte per level
  std::vector<int64_t> sizes;
  for (int level = 0; level < 4; ++level) {
    SCOPED_TRACE(level);
    TMemoryStream m;
    Fill(m, data);
    m.SetPosition(12345);  // compression always starts at the beginning
    CompressStream(m, level);
    EXPECT_EQ(m.Position(), m.Size());
    ASSERT_GT(m.Size(), 2);
    EXPECT_EQ(m.Memory()[0], 0x78);
    EXPECT_EQ(m.Memory()[1], levelByte[level]);
    sizes.push_back(m.Size());
    // zlib itself agrees.
    std::string plain(data.size(), '\0');
    uLongf plainSize = static_cast<uLongf>(plain.size());
    ASSERT_EQ(
        uncompress(reinterpret_cast<Bytef*>(&plain[0]), &plainSize, m.Memory(), static_cast<uLong>(m.Size())),
        Z_OK);
    EXPECT_EQ(plain, data);
    DecompressStream(m);
    EXPECT_EQ(m.Position(), 0);
    EXPECT_EQ(Contents(m), data);
  }
  EXPECT_GT(sizes[0], static_cast<int64_t>(data.size())) << "level 0 stores";
  EXPECT_LT(sizes[1], sizes[0]);
  EXPECT_LE(sizes[3], sizes[2]);
  EXPECT_LE(sizes[2], sizes[1]);

  TMemoryStream empty;
  CompressStream(empty, 2);
  EXPECT_GT(empty.Size(), 0);
  DecompressStream(empty);
  EXPECT_EQ(empty.Size(), 0);
  TMemoryStream bad;
  EXPECT_THROW(CompressStream(bad, 4), EZLibError);
}

TEST(Zlib, DamagedInputRaisesAndLeavesTheStreamAlone) {
  const std::string data = Pattern(500000);
  TMemoryStream m;
  Fill(m, data);
  CompressStream(m, 2);
  const std::string packed = Contents(m);

  std::vector<std::string> damaged = {
      "not zlib at all",
      packed.substr(0, packed.size() / 2),  // cut off
      packed.substr(0, 2),
  };
  std::string flipped = packed;
  flipped[packed.size() / 3] ^= 0x55;
  damaged.push_back(flipped);
  std::string badCheck = packed;
  badCheck[badCheck.size() - 1] ^= 1;  // Adler-32 wrong
  damaged.push_back(badCheck);
  for (size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE(i);
    Fill(m, damaged[i]);
    m.SetPosition(3);
    EXPECT_THROW(DecompressStream(m), EZLibError);
    EXPECT_EQ(Contents(m), damaged[i]);
    EXPECT_EQ(m.Position(), 3);
  }
  // Bytes after the end of the zlib stream are ignored.
  Fill(m, packed + "tail");
  DecompressStream(m);
  EXPECT_EQ(Contents(m), data);
  // A small input that inflates hugely is fine: the output grows as it comes.
  Fill(m, std::string(40 * 1048576, 'z'));
  CompressStream(m, 3);
  EXPECT_LT(m.Size(), 100000);
  DecompressStream(m);
  EXPECT_EQ(m.Size(), 40 * 1048576);
}

TEST(Int32Helpers, LittleEndian) {
  TMemoryStream m;
  WriteInt32(m, 0x01020304);
  WriteInt32(m, -2);
  EXPECT_EQ(Contents(m), std::string("\x04\x03\x02\x01\xFE\xFF\xFF\xFF", 8));
  m.SetPosition(0);
  EXPECT_EQ(ReadInt32(m), 0x01020304);
  EXPECT_EQ(ReadInt32(m), -2);
  EXPECT_THROW(ReadInt32(m), EReadError);
  m.SetPosition(6);
  EXPECT_THROW(ReadInt32(m), EReadError);
}

}  // namespace
}  // namespace vr
