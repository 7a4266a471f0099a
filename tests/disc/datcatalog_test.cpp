// MD5 and SHA-1 against the system's md5sum and sha1sum, and files matched against a Logiqx DAT.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "disc/datcatalog.h"
#include "disc/digests.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;

std::string Md5(const std::string& s, size_t piece) {
  vr::TMd5 h;
  for (size_t at = 0; at < s.size(); at += piece) h.Update(s.data() + at, std::min(piece, s.size() - at));
  return h.Hex();
}
std::string Sha1(const std::string& s, size_t piece) {
  vr::TSha1 h;
  for (size_t at = 0; at < s.size(); at += piece) h.Update(s.data() + at, std::min(piece, s.size() - at));
  return h.Hex();
}

TEST(Digests, AgreeWithTheSystemToolsAtEveryPaddingEdge) {
  EXPECT_EQ(Md5("abc", 1), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Sha1("abc", 2), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Md5("", 1), "d41d8cd98f00b204e9800998ecf8427e");
#ifndef _WIN32
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "vrtest-digests.bin";
  for (size_t length :
       {size_t{55}, size_t{56}, size_t{63}, size_t{64}, size_t{65}, size_t{119}, size_t{100003}}) {
    std::string data;
    for (size_t i = 0; i < length; ++i) data += static_cast<char>(i * 131 % 257);
    std::ofstream(file, std::ios::binary) << data;
    auto tool = [&](const std::string& name) {
      std::string out(64, '\0');
      FILE* p = popen((name + " '" + file.string() + "'").c_str(), "r");
      out.resize(p ? std::fread(out.data(), 1, out.size(), p) : 0);
      if (p) pclose(p);
      return out.substr(0, out.find(' '));
    };
    for (size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{4096}}) {
      EXPECT_EQ(Md5(data, piece), tool("md5sum")) << length << " in pieces of " << piece;
      EXPECT_EQ(Sha1(data, piece), tool("sha1sum")) << length << " in pieces of " << piece;
    }
  }
  std::filesystem::remove(file);
#endif
}

vr::TFileDigest DigestOfText(const std::string& name, const std::string& text) {
  return vr::DigestOf(*vr::MemoryImageBytes(text), name);
}

std::string RomLine(const vr::TFileDigest& d, const std::string& name = "") {
  return "<rom name=\"" + (name.empty() ? d.Name : name) + "\" size=\"" + std::to_string(d.Size) +
         "\" crc=\"" + d.Crc + "\" md5=\"" + d.Md5 + "\" sha1=\"" + d.Sha1 + "\"/>";
}

std::string Verdict(const vr::TDatVerdict& v) {
  std::string out = v.Game ? v.Game->Name : "-";
  for (const auto& l : v.Lines) out += "|" + l.Name + ": " + l.What;
  return out;
}

TEST(DatCatalog, TheGameOfTheFilesIsFoundAndEachDifferenceNamed) {
  const vr::TFileDigest cue = DigestOfText("Game (Japan).cue", "FILE \"Game (Japan).bin\" BINARY\n");
  const vr::TFileDigest bin = DigestOfText("Game (Japan).bin", std::string(5000, 'b'));
  EXPECT_EQ(cue.Crc, "d6cf1af8");  // zlib's CRC-32 of the same bytes
  const std::string dat =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE datafile SYSTEM \"x.dtd\">\n<datafile><header><name>t"
      "</name></header><game name=\"Other\">" +
      RomLine(DigestOfText("Other.bin", "x")) + "</game><game name=\"Game (Japan)\">" + RomLine(cue) +
      RomLine(bin) + "</game></datafile>";
  const std::vector<vr::TDatGame> games = vr::ParseDat(dat);
  ASSERT_EQ(games.size(), 2u);

  vr::TDatVerdict good = vr::MatchDat(games, {cue, bin});
  EXPECT_TRUE(good.AllGood());
  EXPECT_EQ(Verdict(good), "Game (Japan)|Game (Japan).cue: ok|Game (Japan).bin: ok");

  vr::TFileDigest changed = DigestOfText("Game (Japan).bin", std::string(4999, 'b') + "c");
  vr::TDatVerdict bad = vr::MatchDat(games, {cue, changed});
  EXPECT_FALSE(bad.AllGood());
  EXPECT_THAT(Verdict(bad),
              HasSubstr("Game (Japan).bin: CRC-32 " + changed.Crc + " (DAT " + bin.Crc + "), MD5 "));
  EXPECT_THAT(Verdict(bad), HasSubstr("SHA-1 " + changed.Sha1));

  vr::TFileDigest shorter = DigestOfText("Game (Japan).bin", std::string(4999, 'b'));
  EXPECT_THAT(Verdict(vr::MatchDat(games, {cue, shorter})),
              HasSubstr("Game (Japan).bin: size 4999 (DAT 5000)"));

  vr::TFileDigest missing;
  missing.Name = "Game (Japan).bin";
  missing.Missing = true;
  EXPECT_EQ(Verdict(vr::MatchDat(games, {cue, missing})),
            "Game (Japan)|Game (Japan).cue: ok|Game (Japan).bin: missing");
  EXPECT_EQ(Verdict(vr::MatchDat(games, {cue})),
            "Game (Japan)|Game (Japan).cue: ok|Game (Japan).bin: missing");
  vr::TDatVerdict extra = vr::MatchDat(games, {cue, bin, DigestOfText("readme.txt", "hi")});
  EXPECT_FALSE(extra.AllGood());
  EXPECT_THAT(Verdict(extra), HasSubstr("readme.txt: not in the game"));
  // A renamed file is known by its sums.
  vr::TFileDigest renamed = bin;
  renamed.Name = "disc.bin";
  EXPECT_TRUE(vr::MatchDat(games, {cue, renamed}).AllGood());
  EXPECT_EQ(Verdict(vr::MatchDat(games, {DigestOfText("z.iso", "z")})), "-|z.iso: in no game of the DAT");
}

TEST(DatCatalog, FilesThatAreNoDatAreRefused) {
  for (const std::string& bad : {std::string("<datafile><game name=\"a\">"), std::string("<other/>"),
                                 std::string("not xml at all"), std::string()})
    EXPECT_THROW(vr::ParseDat(bad), vr::EDiscError) << bad;
  // Entities are not expanded beyond XML's own five; machine elements count as games.
  const auto games = vr::ParseDat(
      "<!DOCTYPE d [<!ENTITY a \"aaaaaaaa\">]><datafile><machine name=\"m &amp; &a;\"><rom name=\"r\" "
      "size=\"x\"/>"
      "</machine></datafile>");
  ASSERT_EQ(games.size(), 1u);
  EXPECT_EQ(games[0].Name, "m & &a;");
  EXPECT_EQ(games[0].Roms[0].Size, -1);
}

}  // namespace
}  // namespace vrtest
