// Writes seed inputs for the fuzz targets: <folder>/<target>/<n>.bin.
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../disc/describedbuild.h"
#include "../disc/isobuild.h"
#include "../disc/udfbuild.h"
#include "archive/scrambles.h"
#include "framework/classes.h"
#include "rawarchive.h"
#include "startup/instset.h"

namespace fs = std::filesystem;
using vrtest::RawEntry;

namespace {

void Save(const fs::path& folder, const std::string& target, int n, const std::string& bytes) {
  fs::create_directories(folder / target);
  std::ofstream out(folder / target / (std::to_string(n) + ".bin"), std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Bytes(vr::TMemoryStream& m) {
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

void I32(std::string& s, int32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); }

// One 2 x 2 frame, one layer, rows stored; depth 8 carries a palette, `alpha` adds an alpha plane.
std::string BinaryVesk(int depth, bool alpha) {
  std::string v = "Vesk101";
  I32(v, 1);
  v += '\0';
  I32(v, 0);
  I32(v, -1);
  I32(v, 10);
  v += '\0';
  I32(v, 0);
  I32(v, 1);
  I32(v, 2);
  I32(v, 2);
  I32(v, depth);
  if (depth <= 8) v += std::string(4u << depth, '\x40');
  v += std::string(8, '\0');
  v += '\1';
  I32(v, -1);
  I32(v, 255);
  v += alpha ? '\1' : '\0';
  I32(v, 0);
  int rowSize = ((2 * (depth == 15 ? 16 : depth) + 31) / 32) * 4;
  I32(v, rowSize * 2);
  v += std::string(static_cast<size_t>(rowSize) * 2, '\x5A');
  I32(v, alpha ? 8 : 0);
  if (alpha) v += std::string("\x00\x40\x00\x00\x80\xFF\x00\x00", 8);
  return v;
}

std::string XmlText() {
  return "<Vesk Version=\"200\" Count=\"1\" CompType=\"1\" BlockWidth=\"2\" BlockHeight=\"1\" "
         "BGColor=\"255\">"
         "<Frame Name=\"a\" Delay=\"5\"><Layers Count=\"1\" Width=\"2\" Height=\"2\" Bpp=\"24\">"
         "<Layer Alpha=\"200\"/></Layers></Frame></Vesk>";
}

std::string XmlVesk() {
  std::string xml = XmlText();
  uLongf len = compressBound(static_cast<uLong>(xml.size()));
  std::string z(len, '\0');
  compress(reinterpret_cast<Bytef*>(z.data()), &len, reinterpret_cast<const Bytef*>(xml.data()),
           static_cast<uLong>(xml.size()));
  z.resize(len);
  std::string v = "VeskX200";
  I32(v, static_cast<int32_t>(z.size()));
  v += z;
  // Block layout: an index of two literal blocks, then their rows (2 pixels x 3 bytes each).
  std::string plane;
  I32(plane, -1);
  I32(plane, 0);
  I32(plane, -2);
  I32(plane, 0);
  plane += std::string("\x01\x02\x03\x04\x05\x06", 6);
  I32(v, static_cast<int32_t>(plane.size()));
  v += plane;
  I32(v, 0);
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
    return 2;
  }
  fs::path folder = argv[1];

  // Archives of every directory version and storage kind.
  std::vector<RawEntry> entries(5);
  entries[0].Name = "install.dat";
  entries[0].Content = "is108";
  entries[1].Name = "a\\b.txt";
  entries[1].Content = std::string(600, 'b');
  entries[1].Kind = 0;
  entries[2].Name = "c.bin";
  entries[2].Content = std::string(300, 'c');
  entries[2].Kind = 2;
  entries[3].Name = "/d.txt";
  entries[3].Content = "old";
  entries[3].Kind = 3;
  entries[4].Name = "e.txt";
  entries[4].Separate = 1;
  entries[4].CrcRule = RawEntry::Crc::Content;
  int n = 0;
  for (int version : {0, 100, 101, 102})
    Save(folder, "fuzz_archive", n++, vrtest::BuildArchive(version, entries));

  // The merge target reads the same archives as sources.
  n = 0;
  for (int version : {0, 100, 101, 102})
    Save(folder, "fuzz_merge", n++, vrtest::BuildArchive(version, entries));

  // XML texts: a layered image header, elements with attributes, entities and nesting.
  Save(folder, "fuzz_xml", 0, XmlText());
  Save(folder, "fuzz_xml", 1, "<a x=\"1\" y=\"&#65;&amp;\"><b>text</b><c/><d><e/></d></a>");

  // Scrambled containers of several sizes.
  n = 0;
  for (int length : {0, 1, 255, 256, 1000, 5000}) {
    vr::TMemoryStream m;
    std::string payload(static_cast<size_t>(length), 'p');
    for (int i = 0; i < length; ++i) payload[static_cast<size_t>(i)] = static_cast<char>(i * 31);
    if (length) m.WriteBuffer(payload.data(), length);
    vr::ScrambleStream(m, length < 256 ? 16 : 256, 4242u + static_cast<uint32_t>(length), true);
    Save(folder, "fuzz_unscramble", n++, Bytes(m));
  }

  // Install settings: a full current file and a headerless old one.
  vr::TRovaInstallSet s;
  s.Title = "Title";
  s.SetDiskCount(2);
  s.BaseSizes = {1, 2};
  s.InstalledFiles.Add("game.exe");
  s.PackageFiles.Add("movie.mpg");
  s.WelcomeText = "hello";
  vr::TMemoryStream m;
  s.SaveToStream(m);
  Save(folder, "fuzz_settings", 0, Bytes(m));
  std::string old;
  I32(old, 0);
  I32(old, 3);
  old += "Old";
  old += std::string(40, '\0');
  Save(folder, "fuzz_settings", 1, old);

  // Layered images (the first byte is the reading options of the target).
  n = 0;
  for (int depth : {8, 15, 16, 24, 32}) {
    Save(folder, "fuzz_vesk", n++, std::string(1, '\0') + BinaryVesk(depth, depth == 32));
  }
  Save(folder, "fuzz_vesk", n++, std::string(1, '\2') + XmlVesk());

  // Disc images: Rock Ridge names, a folder and a file of two extents; the same as raw MODE1 sectors;
  // a CUE sheet.
  vrtest::TIsoBuilder iso;
  const std::string sp("SP\7\1\xBE\xEF\0", 7);
  const uint32_t text = iso.Add("file data");
  const uint32_t sub = iso.Add(vrtest::TIsoBuilder::Folder(0, 18, vrtest::Record("INNER.TXT;1", text, 9)));
  iso.Root(vrtest::Record("A.TXT;1", text, 4, 0x80, std::string("NM\6\1\0a", 6)) +
               vrtest::Record("A.TXT;1", text, 9) + vrtest::Record("SUB", sub, 2048, 2),
           sp);
  Save(folder, "fuzz_disc", 0, iso.Bytes());
  std::string raw;
  for (size_t s = 0; s < iso.Bytes().size() / 2048; ++s) {
    std::string sector(2352, '\0');
    sector.replace(1, 10, std::string(10, '\xFF'));
    sector[15] = 1;
    sector.replace(16, 2048, iso.Bytes().substr(s * 2048, 2048));
    raw += sector;
  }
  Save(folder, "fuzz_disc", 1, raw);
  Save(folder, "fuzz_disc", 2,
       "FILE \"d.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
       "    INDEX 00 00:10:00\n    INDEX 01 00:12:00\n");

  // The described images around the same ISO: description and data file in one input for MDS and CCD.
  auto described = [](const std::string& description, const std::string& file) {
    return std::string{static_cast<char>(description.size() & 0xFF),
                       static_cast<char>(description.size() >> 8)} +
           description + file;
  };
  int seed = 0;
  for (int sectorBytes : {2048, 2352, 2448}) {
    const vrtest::TMdsImage mds = vrtest::MakeMds(iso.Bytes(), sectorBytes, sectorBytes == 2352 ? 4 : 0);
    Save(folder, "fuzz_mds", seed++, described(mds.Mds, mds.Mdf));
  }
  const vrtest::TCcdImage ccd = vrtest::MakeCcd(iso.Bytes(), 4);
  Save(folder, "fuzz_ccd", 0, described(ccd.Ccd, ccd.Img));
  seed = 0;
  for (int version : {1, 2})
    for (int sectorBytes : {2048, 2352})
      Save(folder, "fuzz_nrg", seed++, vrtest::MakeNrg(iso.Bytes(), version, sectorBytes, 4));

  // UDF: a plain 1.02 volume with a file inside its entry, and a 2.50 volume with a metadata partition.
  const std::vector<vrtest::TUdfEntry> udfFiles{
      {"A.TXT", "file data"}, {"SUB", "", true}, {"SUB/INNER.DAT", std::string(5000, 'u')}};
  Save(folder, "fuzz_udf", 0, vrtest::MakeUdf(udfFiles, {0x0102, false, false, true, false}));
  Save(folder, "fuzz_udf", 1, vrtest::MakeUdf(udfFiles, {0x0250, true, true, false, true}));
  return 0;
}
