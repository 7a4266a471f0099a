// Scrambled containers: any bytes, any block size and seed in the header.
#include <cstddef>
#include <cstdint>

#include "archive/scrambles.h"
#include "framework/sysutils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  vr::TMemoryStream stream;
  if (size) stream.WriteBuffer(data, static_cast<int32_t>(size));
  try {
    vr::UnscrambleStream(stream);
    // The payload is the container without its eight-byte header.
    if (size < 8 || stream.Size() != static_cast<int64_t>(size) - 8) __builtin_trap();
  } catch (const vr::Exception&) {
  }
  return 0;
}
