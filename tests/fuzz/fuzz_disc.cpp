// Disc images: any bytes as an ISO 9660 image or raw sectors, and as a CUE sheet's text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disc/discimage.h"

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
  // A loaded tree is consistent: children inside the node list, every parent a folder, and the files of
  // an ISO image (no sector headers to check) read whole without an error.
  const auto& nodes = image->Nodes();
  std::vector<uint8_t> buffer(1 << 16);
  for (size_t i = 0; i < nodes.size(); ++i) {
    const vr::TDiscNode& n = nodes[i];
    if (!nodes[n.Parent].Folder) __builtin_trap();
    if (n.Folder && (n.FirstChild > nodes.size() || n.ChildCount > nodes.size() - n.FirstChild))
      __builtin_trap();
    if (n.Folder || i >= 256) continue;
    try {
      const size_t want = static_cast<size_t>(std::min<int64_t>(n.Size, static_cast<int64_t>(buffer.size())));
      if (image->Read(static_cast<uint32_t>(i), n.Size - static_cast<int64_t>(want), buffer.data(),
                      buffer.size()) != want)
        __builtin_trap();
    } catch (const vr::EDiscError&) {
      if (image->Info().Kind == "ISO") __builtin_trap();
    }
  }
  return 0;
}
