// Any bytes as an NRG image: its footer, chunks and track list, then the data track's tree.
#include <cstddef>
#include <cstdint>
#include <string>

#include "disctree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  vr::TImageLayout layout;
  try {
    auto image = vr::MemoryImageBytes(bytes);
    layout = vr::ReadNrgLayout(*image);
  } catch (const vr::EDiscError&) {
    return 0;
  }
  LoadDescribed(layout, bytes);
  return 0;
}
