// Resources of a PE executable, read straight from its resource section (no loader involved).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vr {

// Copies `count` bytes from `offset` of the file into `buffer`; false when the range is not all there.
using TReadAt = std::function<bool(uint64_t offset, void* buffer, size_t count)>;

// The data of resource `name` of type `type` (first language entry) in a PE file of `fileSize` bytes.
// Names and types are code page 932 strings compared without regard to case, or "#<number>" for a
// numeric identifier. nullopt when the file is no PE image, has no such resource, or is damaged; every
// offset and size is checked against the file, so hostile files are safe.
std::optional<std::vector<uint8_t>> FindPeResource(const TReadAt& read, uint64_t fileSize,
                                                   const std::string& name, const std::string& type);

}  // namespace vr
