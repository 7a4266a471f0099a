#include "archive/entryencoder.h"

#include <cstring>

#include "archive/scrambles.h"
#include "archive/vrfiles.h"
#include "startup/syshelpers.h"

namespace vr {

namespace {

// zlib's default level among CompressStream's four steps.
constexpr int kDefaultCompression = 2;

}  // namespace

void TEncodeJob::Run() noexcept {
  try {
    const int64_t size = Data.Size();
    const uint32_t contentCRC = ContentChecksum ? UpdateCRC(0, Data.Memory(), size) : 0;
    Kind = skStored;
    if (Compress) {
      if (StoreWhenPoor) {
        TMemoryStream packed;
        packed.SetSize(size);
        if (size > 0) std::memcpy(packed.Memory(), Data.Memory(), static_cast<size_t>(size));
        CompressStream(packed, kDefaultCompression);
        if (packed.Size() <= size * 9 / 10) {
          Data.Swap(packed);
          Kind = skCompressed;
        }
      } else {
        CompressStream(Data, kDefaultCompression);
        Kind = skCompressed;
      }
    }
    if (Scramble) {
      ScrambleStream(Data, ScrambleBlockSize(Data.Size()), Seed, true);
      Kind = Kind == skStored ? skScrambled : skCompressedScrambled;
    }
    CRC = ContentChecksum ? contentCRC : UpdateCRC(0, Data.Memory(), Data.Size());
  } catch (...) {
    Error = std::current_exception();
  }
}

}  // namespace vr
