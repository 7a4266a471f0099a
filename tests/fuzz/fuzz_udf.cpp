// Any bytes as a UDF image (alone or bridged with ISO 9660): its descriptors, partitions and tree.
#include <cstddef>
#include <cstdint>
#include <string>

#include "disctree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    auto image = vr::TDiscImage::FromBytes(
        vr::MemoryImageBytes(std::string(reinterpret_cast<const char*>(data), size)), "fuzz.iso");
    CheckDiscTree(*image);
  } catch (const vr::EDiscError&) {
  }
  return 0;
}
