// Checksum passes: reading ahead gives the caller the same bytes wherever it jumps, whatever the reader
// returns at once, and a reader's failure reaches the caller of the piece it belongs to; long runs summed
// in halves on two threads and mapped files give the checksum of one plain pass.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <zlib.h>

#include "archive/readahead.h"
#include "archive/vrfiles.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return bytes;
}

TEST(ReadAhead, PiecesMatchTheSourceInOrderAndAfterJumps) {
  const std::vector<uint8_t> source = Pattern(10000);
  std::atomic<int> reads{0};
  // Short reads (at most 333 bytes at once) must still give whole pieces.
  TReadAhead ahead(
      [&](int64_t position, uint8_t* buffer, int64_t count) -> int64_t {
        ++reads;
        const int64_t n = std::min<int64_t>({count, 333, static_cast<int64_t>(source.size()) - position});
        std::memcpy(buffer, source.data() + position, static_cast<size_t>(n));
        return n;
      },
      static_cast<int64_t>(source.size()), 1024);
  auto expectAt = [&](int64_t position, int64_t length) {
    const TReadAhead::TPiece piece = ahead.At(position);
    ASSERT_EQ(piece.Length, length) << "at " << position;
    EXPECT_EQ(std::memcmp(piece.Data, source.data() + position, static_cast<size_t>(length)), 0)
        << "at " << position;
  };
  for (int64_t at = 0; at < 4096; at += 1024) expectAt(at, 1024);
  expectAt(7000, 1024);  // a jump past the piece read ahead
  expectAt(100, 1024);   // and back
  expectAt(9500, 500);   // the last piece is short
  EXPECT_EQ(ahead.At(10000).Length, 0);
  EXPECT_EQ(ahead.At(-1).Length, 0);
  ahead.Settle();
  EXPECT_GT(reads.load(), 0);
}

TEST(ReadAhead, AFailedReadIsThrownForItsOwnPiece) {
  const std::vector<uint8_t> source = Pattern(8192);
  TReadAhead ahead(
      [&](int64_t position, uint8_t* buffer, int64_t count) -> int64_t {
        if (position >= 4096) throw std::runtime_error("disk gone");
        std::memcpy(buffer, source.data() + position, static_cast<size_t>(count));
        return count;
      },
      static_cast<int64_t>(source.size()), 2048);
  EXPECT_EQ(ahead.At(0).Length, 2048);     // the piece at 4096 fails while read ahead
  EXPECT_EQ(ahead.At(2048).Length, 2048);  // ... and is not blamed on this one
  EXPECT_THROW(ahead.At(4096), std::runtime_error);
  EXPECT_EQ(ahead.At(0).Length, 2048);  // the reader still works where it can
}

TEST(ChecksumPass, LongRunsAndMappedFilesSumAsOnePlainPass) {
  const std::vector<uint8_t> bytes = Pattern((size_t{20} << 20) + 12345);  // past the two-thread length
  const uLong plain = crc32(0, bytes.data(), static_cast<uInt>(bytes.size()));
  EXPECT_EQ(UpdateCRC(0, bytes.data(), static_cast<int64_t>(bytes.size())), plain);
  // Continued from an earlier run's checksum.
  const uint32_t head = UpdateCRC(0, bytes.data(), 1000);
  EXPECT_EQ(UpdateCRC(head, bytes.data() + 1000, static_cast<int64_t>(bytes.size()) - 1000), plain);

  TTempDrive drive;
  drive.WriteFile("big.bin", std::string(bytes.begin(), bytes.end()));
  TFileStream file(drive.PathOf("big.bin"), fmOpenRead | fmShareDenyWrite);
  EXPECT_EQ(StreamCRC(file), plain);
  EXPECT_EQ(file.Position(), file.Size());
}

}  // namespace
}  // namespace vr
