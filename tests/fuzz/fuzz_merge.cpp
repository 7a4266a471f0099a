// MergeFrom of a fuzzed archive into a valid installed data file. Whatever the source holds: a merge
// that fails leaves the data file and its directory file byte for byte as they were, and a merge that
// succeeds leaves every old entry intact (its checksum still matches).
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "archive/bigstreams.h"
#include "archive/vrfiles.h"
#include "framework/classes.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct TInstalled {
  std::string Folder, Data, Ext, DataBytes, ExtBytes;
  TInstalled() {
    char name[] = "/tmp/fuzz_merge-XXXXXX";
    if (!mkdtemp(name)) __builtin_trap();
    Folder = name;
    Data = Folder + "/game.dat";
    Ext = Folder + "/game.ext";
    // A valid installed data file of three entries, made by merging a packed archive once.
    const std::string packed = Folder + "/pack.dat";
    {
      vr::TVrFileCollection pack;
      const char* names[] = {"install.dat", "a\\b.txt", "c.bin"};
      for (int i = 0; i < 3; ++i) {
        auto m = std::make_unique<vr::TMemoryStream>();
        const std::string content(200 + 100 * i, static_cast<char>('a' + i));
        m->WriteBuffer(content.data(), static_cast<int32_t>(content.size()));
        vr::TVrFile* f = pack.AddFile(names[i]);
        f->Source = std::move(m);
        f->Time = 1000;
      }
      vr::TKoBigFileStream out(packed, vr::fmCreate);
      pack.SaveToStream(out, false);
    }
    vr::TVrFileCollection source, target;
    source.Open(packed);
    target.OpenPath(Data, true);
    target.MergeFrom(source);
    target.Open("");
    DataBytes = ReadAll(Data);
    ExtBytes = ReadAll(Ext);
  }
  ~TInstalled() {
    for (const std::string& f : {Data, Ext, Folder + "/pack.dat", Data + ".tmp", Ext + ".tmp"})
      unlink(f.c_str());
    rmdir(Folder.c_str());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  static TInstalled installed;
  WriteAll(installed.Data, installed.DataBytes);
  WriteAll(installed.Ext, installed.ExtBytes);

  vr::TVrFileCollection source;
  auto stream = std::make_unique<vr::TKoBigMemoryStream>();
  if (size) stream->Write(data, static_cast<int64_t>(size));
  stream->SetPosition(0);
  vr::TKoBigStream* raw = stream.get();
  source.DataStream = std::move(stream);
  try {
    source.LoadDirectory(*raw);
  } catch (const vr::Exception&) {
    return 0;
  }
  bool failed = false;
  {
    vr::TVrFileCollection target;
    target.Open(installed.Data);
    const int before = target.Count();
    try {
      target.MergeFrom(source);
    } catch (const vr::Exception&) {
      failed = true;
      if (target.Count() != before) __builtin_trap();
    }
  }
  if (failed) {
    if (ReadAll(installed.Data) != installed.DataBytes || ReadAll(installed.Ext) != installed.ExtBytes)
      __builtin_trap();
    return 0;
  }
  vr::TVrFileCollection check;
  check.Open(installed.Data);
  const auto states = check.VerifyEach();
  // The old entries come first and are never damaged by a merge (superseded ones are skipped).
  for (int i = 0; i < 3; ++i)
    if (states[static_cast<size_t>(i)] == vr::TVerifyState::vsMismatch ||
        states[static_cast<size_t>(i)] == vr::TVerifyState::vsTruncated)
      __builtin_trap();
  return 0;
}
