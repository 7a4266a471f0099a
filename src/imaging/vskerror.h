// Error texts and small byte helpers shared by the layered image reader's units.
#pragma once

#include <cstdint>

#include "framework/sysutils.h"

namespace vr {

// "The file is damaged": raised for every structural fault of a layered image file (truncated data,
// impossible sizes or counts, references to things that do not exist).
[[noreturn]] inline void RaiseVeskDamaged() { throw EVrError("ファイルが破壊されています"); }

inline uint32_t ReadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace vr
