// An MDS descriptor and its MDF, split from one input, read as the image they make.
#include <cstddef>
#include <cstdint>
#include <string>

#include "disctree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string description, file;
  if (!SplitDescribed(data, size, description, file)) return 0;
  vr::TImageLayout layout;
  try {
    layout = vr::ParseMds(description, "fuzz.mds");
  } catch (const vr::EDiscError&) {
    return 0;
  }
  LoadDescribed(layout, file);
  return 0;
}
