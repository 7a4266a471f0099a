// Game archives built byte by byte, in every directory version the reader accepts and every
// placement, for tests, fuzz seeds and benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrtest {

// zlib stream (RFC 1950) of the bytes at the default level.
std::string Deflate(const std::string& bytes);
uint32_t Crc32(const std::string& bytes);

// One entry of a hand-built archive: content and how it is stored.
struct RawEntry {
  std::string Name;  // code page 932 bytes
  std::string Content;
  int Kind = 1;  // 0 zlib, 1 stored, 2 scrambled, 3 scrambled zlib; others stored
  int32_t Time = 0;
  uint8_t Separate = 0;
  // The checksum written: the stored bytes' CRC (default), the content's, or none (0).
  enum class Crc { Stored, Content, None, Wrong } CrcRule = Crc::Stored;
  uint32_t Seed = 12345;  // scramble seed
};

// The stored bytes of an entry (encoded as its kind says).
std::string StoredBytes(const RawEntry& e);

// A directory of `version` (0, 100, 101 or 102) with the entries' data following it (directory at
// position 0, as in a data file or an archive written to be appended).
std::string BuildArchive(int version, const std::vector<RawEntry>& entries);
// The same entries split into a directory file (".ext") and a data file holding only the stored bytes.
void BuildSplitArchive(int version, const std::vector<RawEntry>& entries, std::string& directory,
                       std::string& data);
// An executable image followed by the archive and the six-byte trailer.
std::string AppendToProgram(const std::string& program, const std::string& archive);
// A minimal PE executable whose resource section holds `payload` as resource "DUMMY" of type "BINTYPE".
std::string BuildPeWithResource(const std::string& payload);

// DOS date-time of a calendar time.
int32_t DosTime(int year, int month, int day, int hour, int minute, int second);

}  // namespace vrtest
