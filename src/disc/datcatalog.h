// Catalogues of good dumps in Logiqx XML DAT form: <datafile> holds <game> (or <machine>) elements, each
// with its <rom name size crc md5 sha1> files. The files of an image are matched against them: the game
// that most of the files belong to is chosen, and every file is judged against that game's ROM of the
// same name (size, CRC-32, MD5 and SHA-1, each where the DAT gives it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disc/discimage.h"

namespace vr {

struct TDatRom {
  std::string Name;  // as the DAT writes it (UTF-8)
  int64_t Size = -1;
  std::string Crc, Md5, Sha1;  // lower-case hex; empty when the DAT gives none
};

struct TDatGame {
  std::string Name;
  std::vector<TDatRom> Roms;
};

// Limits of a DAT; more is refused with an EDiscError.
constexpr int64_t kMaxDatBytes = 256 << 20;
constexpr size_t kMaxDatRoms = 2000000;

// The games of a DAT file's bytes; EDiscError when it is no well-formed XML or holds no <datafile>.
std::vector<TDatGame> ParseDat(const std::string& xml);

// The size and sums of one file of an image.
struct TFileDigest {
  std::string Name;  // the file's own name (UTF-8), compared with the ROM names
  bool Missing = false;
  int64_t Size = 0;
  std::string Crc, Md5, Sha1;
};

// Reads `bytes` to its end once for all four values.
TFileDigest DigestOf(TImageBytes& bytes, const std::string& name);

// The verdict on each file (and on each ROM of the chosen game that no file stands for).
struct TDatVerdict {
  const TDatGame* Game = nullptr;  // null when no file matched any ROM by name or sums
  struct TLine {
    std::string Name;
    bool Good = false;
    std::string What;  // "ok", "missing", "not in the game", or what differs
  };
  std::vector<TLine> Lines;
  bool AllGood() const;
};

TDatVerdict MatchDat(const std::vector<TDatGame>& games, const std::vector<TFileDigest>& files);

}  // namespace vr
