// Layered image reader: any bytes as an image, read with and without layers, with two codes.
#include <cstddef>
#include <cstdint>

#include "framework/classes.h"
#include "imaging/vesks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  // The first byte picks the reading options; the rest is the file.
  const uint8_t options = data[0];
  vr::TMemoryStream in;
  if (size > 1) in.WriteBuffer(data + 1, static_cast<int32_t>(size - 1));
  in.SetPosition(0);
  vr::TVeskFrameList list((options & 4) ? 0x12345678u : 0u);
  try {
    list.LoadFromStream(in, (options & 1) != 0, (options & 2) != 0, (options & 8) != 0);
  } catch (const vr::Exception&) {
  }
  // Whatever was read must be self-consistent.
  for (int i = 0; i < list.Count(); ++i) {
    const vr::TDIBSurface& s = list.GetFrame(i)->Surface();
    if (!s.Empty() && s.BitsSize() < static_cast<size_t>(s.RowSize()) * static_cast<size_t>(s.Height())) {
      __builtin_trap();
    }
  }
  return 0;
}
