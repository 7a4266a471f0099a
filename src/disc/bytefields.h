// Little- and big-endian fields of the image descriptions, read from bytes already checked to be there.
#pragma once

#include <cstdint>

namespace vr {

inline uint16_t LeField16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LeField32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LeField64(const uint8_t* p) {
  return LeField32(p) | (static_cast<uint64_t>(LeField32(p + 4)) << 32);
}
inline uint16_t BeField16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t BeField32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
inline uint64_t BeField64(const uint8_t* p) {
  return (static_cast<uint64_t>(BeField32(p)) << 32) | BeField32(p + 4);
}

}  // namespace vr
