// Archive directory loading and extraction: any bytes as an archive with its directory at its start.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/bigstreams.h"
#include "archive/vrfiles.h"
#include "framework/classes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Small inputs keep inflated contents (up to about 1000 times larger) within the memory limit.
  if (size > 65536) return 0;
  vr::TVrFileCollection archive;
  auto stream = std::make_unique<vr::TKoBigMemoryStream>();
  if (size) stream->Write(data, static_cast<int64_t>(size));
  stream->SetPosition(0);
  vr::TKoBigStream* raw = stream.get();
  archive.DataStream = std::move(stream);
  try {
    archive.LoadDirectory(*raw);
  } catch (const vr::Exception&) {
    return 0;
  }
  // A loaded directory never promises more than the stream holds.
  for (int i = 0; i + 1 < archive.Count(); ++i) {
    vr::TVrFile* e = archive.Items(i);
    if (e->Size < 0 || e->Offset < 0 || e->Offset + e->Size > static_cast<int64_t>(size)) __builtin_trap();
  }
  for (int i = 0; i + 1 < archive.Count(); ++i) {
    try {
      // Streamed, as extract and cat decode: memory stays bounded whatever the entry inflates to.
      int64_t decoded = 0;
      archive.DecodeItemTo(i, [&decoded](const uint8_t*, size_t n) { decoded += static_cast<int64_t>(n); });
      // Lookups by name find an entry of that name.
      int found = archive.IndexOf(archive.Items(i)->Name());
      const std::string& name = archive.Items(i)->Name();
      if (!name.empty() && !archive.Items(i)->IsSuperseded() && found < 0) __builtin_trap();
    } catch (const vr::Exception&) {
    }
  }
  try {
    archive.VerifyEach();
  } catch (const vr::Exception&) {
  }
  return 0;
}
