// What every loaded disc image must hold to, whatever bytes it came from: children inside the node list,
// every parent a folder, and reads of a file's last bytes that return what was asked or fail with the
// image's own error.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "disc/describedimage.h"
#include "disc/discimage.h"

// readsMustWork: a read error is a fault too (an ISO image has no sector headers that could be damaged).
inline void CheckDiscTree(vr::TDiscImage& image, bool readsMustWork = false) {
  const auto& nodes = image.Nodes();
  std::vector<uint8_t> buffer(1 << 16);
  for (size_t i = 0; i < nodes.size(); ++i) {
    const vr::TDiscNode& n = nodes[i];
    if (!nodes[n.Parent].Folder) __builtin_trap();
    if (n.Folder && (n.FirstChild > nodes.size() || n.ChildCount > nodes.size() - n.FirstChild))
      __builtin_trap();
    if (n.Folder || i >= 256) continue;
    try {
      const size_t want = static_cast<size_t>(std::min<int64_t>(n.Size, static_cast<int64_t>(buffer.size())));
      if (image.Read(static_cast<uint32_t>(i), n.Size - static_cast<int64_t>(want), buffer.data(),
                     buffer.size()) != want)
        __builtin_trap();
    } catch (const vr::EDiscError&) {
      if (readsMustWork) __builtin_trap();
    }
  }
}

// A description and the file it describes in one input: the first two bytes give the description's length.
inline bool SplitDescribed(const uint8_t* data, size_t size, std::string& description, std::string& file) {
  if (size < 2) return false;
  const size_t length = std::min<size_t>(size - 2, data[0] | (data[1] << 8));
  description.assign(reinterpret_cast<const char*>(data) + 2, length);
  file.assign(reinterpret_cast<const char*>(data) + 2 + length, size - 2 - length);
  return true;
}

// The image the layout describes over `file`, checked; nothing when the layout or the file is refused.
inline void LoadDescribed(vr::TImageLayout layout, const std::string& file) {
  try {
    const size_t data = vr::CheckDataTrack(layout, static_cast<int64_t>(file.size()), "fuzz");
    auto image =
        vr::TDiscImage::FromTrack(vr::MemoryImageBytes(file), "fuzz", layout.Kind, layout.Tracks, data);
    CheckDiscTree(*image);
  } catch (const vr::EDiscError&) {
  }
}
