#include "disc/datcatalog.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <pugixml.hpp>
#include <tuple>

#include "disc/digests.h"

namespace vr {
namespace {

constexpr size_t kPiece = 1 << 20;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Hex8(uint32_t v) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", v);
  return text;
}

// The digits of a sum as the DAT gives them, lower-cased; empty when absent or not hex.
std::string SumOf(const pugi::xml_node& rom, const char* attribute) {
  std::string s = Lower(rom.attribute(attribute).as_string());
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::string();
  return s;
}

int64_t SizeOf(const pugi::xml_node& rom) {
  const std::string text = rom.attribute("size").as_string();
  if (text.empty() || text.size() > 18) return -1;
  int64_t size = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    size = size * 10 + (c - '0');
  }
  return size;
}

// What differs between a file and a ROM; empty when nothing does.
std::string Differences(const TFileDigest& f, const TDatRom& r) {
  std::string out;
  auto add = [&](const std::string& what, const std::string& file, const std::string& dat) {
    out += (out.empty() ? "" : ", ") + what + " " + file + " (DAT " + dat + ")";
  };
  if (r.Size >= 0 && r.Size != f.Size) add("size", std::to_string(f.Size), std::to_string(r.Size));
  if (!r.Crc.empty() && r.Crc != f.Crc) add("CRC-32", f.Crc, r.Crc);
  if (!r.Md5.empty() && r.Md5 != f.Md5) add("MD5", f.Md5, r.Md5);
  if (!r.Sha1.empty() && r.Sha1 != f.Sha1) add("SHA-1", f.Sha1, r.Sha1);
  return out;
}

// A ROM whose sums say it is this file: the size and at least one sum given, none differing.
bool SameSums(const TFileDigest& f, const TDatRom& r) {
  return !f.Missing && r.Size >= 0 && !(r.Crc.empty() && r.Md5.empty() && r.Sha1.empty()) &&
         Differences(f, r).empty();
}

const TDatRom* RomNamed(const TDatGame& game, const std::string& name) {
  for (const TDatRom& r : game.Roms)
    if (Lower(r.Name) == Lower(name)) return &r;
  return nullptr;
}

}  // namespace

std::vector<TDatGame> ParseDat(const std::string& xml) {
  if (static_cast<int64_t>(xml.size()) > kMaxDatBytes)
    throw EDiscError("larger than " + std::to_string(kMaxDatBytes >> 20) + " MiB, not a DAT file");
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
  if (!parsed)
    throw EDiscError(std::string("not well-formed XML (") + parsed.description() + " at byte " +
                     std::to_string(parsed.offset) + ")");
  const pugi::xml_node root = doc.child("datafile");
  if (!root) throw EDiscError("not a Logiqx DAT file (no <datafile> element)");
  std::vector<TDatGame> games;
  size_t roms = 0;
  for (const pugi::xml_node& g : root.children()) {
    if (std::string(g.name()) != "game" && std::string(g.name()) != "machine") continue;
    TDatGame game;
    game.Name = g.attribute("name").as_string();
    for (const pugi::xml_node& r : g.children("rom")) {
      if (++roms > kMaxDatRoms) throw EDiscError("more than " + std::to_string(kMaxDatRoms) + " ROMs");
      game.Roms.push_back(
          {r.attribute("name").as_string(), SizeOf(r), SumOf(r, "crc"), SumOf(r, "md5"), SumOf(r, "sha1")});
    }
    games.push_back(std::move(game));
  }
  return games;
}

TFileDigest DigestOf(TImageBytes& bytes, const std::string& name) {
  TFileDigest d;
  d.Name = name;
  d.Size = bytes.Size();
  TMd5 md5;
  TSha1 sha1;
  uLong crc = crc32(0L, Z_NULL, 0);
  std::vector<uint8_t> piece(kPiece);
  for (int64_t at = 0; at < d.Size;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(d.Size - at, static_cast<int64_t>(kPiece)));
    if (!bytes.ReadAt(at, piece.data(), n))
      throw EDiscError(name + ": cannot be read at byte " + std::to_string(at));
    crc = crc32(crc, piece.data(), static_cast<uInt>(n));
    md5.Update(piece.data(), n);
    sha1.Update(piece.data(), n);
    at += static_cast<int64_t>(n);
  }
  d.Crc = Hex8(static_cast<uint32_t>(crc));
  d.Md5 = md5.Hex();
  d.Sha1 = sha1.Hex();
  return d;
}

bool TDatVerdict::AllGood() const {
  if (!Game || Lines.empty()) return false;
  for (const TLine& l : Lines)
    if (!l.Good) return false;
  return true;
}

TDatVerdict MatchDat(const std::vector<TDatGame>& games, const std::vector<TFileDigest>& files) {
  TDatVerdict verdict;
  // The game most files belong to: by name and sums, then by name alone, then by sums alone.
  std::tuple<size_t, size_t, size_t> best{0, 0, 0};
  for (const TDatGame& game : games) {
    std::tuple<size_t, size_t, size_t> score{0, 0, 0};
    for (const TFileDigest& f : files) {
      const TDatRom* named = RomNamed(game, f.Name);
      if (named && SameSums(f, *named)) ++std::get<0>(score);
      if (named) ++std::get<1>(score);
      for (const TDatRom& r : game.Roms)
        if (SameSums(f, r)) {
          ++std::get<2>(score);
          break;
        }
    }
    if (score > best) {
      best = score;
      verdict.Game = &game;
    }
  }
  if (!verdict.Game) {
    for (const TFileDigest& f : files) verdict.Lines.push_back({f.Name, false, "in no game of the DAT"});
    return verdict;
  }
  std::vector<const TDatRom*> used;
  for (const TFileDigest& f : files) {
    const TDatRom* rom = RomNamed(*verdict.Game, f.Name);
    if (!rom && !f.Missing)
      for (const TDatRom& r : verdict.Game->Roms)
        if (SameSums(f, r) && std::find(used.begin(), used.end(), &r) == used.end()) rom = &r;
    if (!rom) {
      verdict.Lines.push_back({f.Name, false, "not in the game"});
      continue;
    }
    used.push_back(rom);
    if (f.Missing) {
      verdict.Lines.push_back({f.Name, false, "missing"});
      continue;
    }
    const std::string differs = Differences(f, *rom);
    if (!differs.empty())
      verdict.Lines.push_back({f.Name, false, differs});
    else
      verdict.Lines.push_back(
          {f.Name, true, rom->Name == f.Name ? "ok" : "ok (the DAT's " + rom->Name + ")"});
  }
  for (const TDatRom& r : verdict.Game->Roms)
    if (std::find(used.begin(), used.end(), &r) == used.end())
      verdict.Lines.push_back({r.Name, false, "missing"});
  return verdict;
}

}  // namespace vr
