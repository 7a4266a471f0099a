// Disc images: any bytes as an ISO 9660 image or raw sectors, and as a CUE sheet's text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "disctree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    vr::ParseCueSheet(bytes);
  } catch (const vr::EDiscError&) {
  }
  std::unique_ptr<vr::TDiscImage> image;
  try {
    image = vr::TDiscImage::FromBytes(vr::MemoryImageBytes(bytes), "fuzz.iso");
  } catch (const vr::EDiscError&) {
    return 0;
  }
  // A loaded tree is consistent, and the files of an ISO image read whole without an error.
  CheckDiscTree(*image, image->Info().Kind == "ISO");
  return 0;
}
