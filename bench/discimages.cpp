// Writes an ISO's MDS/MDF (raw 2352-byte sectors), CCD/IMG/SUB and NRG (version 2, 2048-byte sectors)
// images for the install rows of scripts/bench.sh: vr_disc_images ISO OUTDIR.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "disc/describedbuild.h"

namespace fs = std::filesystem;

static void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error(path.string() + ": cannot be written");
}

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: vr_disc_images ISO OUTDIR\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string iso = buffer.str();
  if (!in || iso.size() % 2048) {
    std::cerr << argv[1] << ": not an ISO of whole 2048-byte sectors\n";
    return 1;
  }
  const fs::path out = argv[2];
  {
    const vrtest::TMdsImage m = vrtest::MakeMds(iso, 2352);
    Write(out / "mds" / "game.mds", m.Mds);
    Write(out / "mds" / "game.mdf", m.Mdf);
  }
  {
    const vrtest::TCcdImage c = vrtest::MakeCcd(iso);
    Write(out / "ccd" / "game.ccd", c.Ccd);
    Write(out / "ccd" / "game.img", c.Img);
    Write(out / "ccd" / "game.sub", c.Sub);
  }
  Write(out / "nrg" / "game.nrg", vrtest::MakeNrg(iso, 2, 2048));
  return 0;
}
