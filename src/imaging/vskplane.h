// Pixel planes of layered images: one plane's bytes into the rows of its target surface.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/dibsfc.h"

namespace vr {

// Compression kinds of layered images (header record CompType).
enum TVeskCompType : uint8_t {
  vctZlib = 0,    // "Default compression": zlib
  vctStored = 1,  // "No compression"
  vctJpeg = 2,    // "Nonreversible compression": JPEG colour planes, zlib alpha planes
};

// Header values that govern how planes are stored.
struct TVeskPlaneParams {
  int32_t Version = 0;  // 102 and below: legacy encoding
  uint8_t CompType = vctZlib;
  int32_t BlockWidth = 0;  // block grid; 0 in either direction means whole rows
  int32_t BlockHeight = 0;
  bool Randomized = false;  // rows or block index permuted
  uint32_t IdentCode = 0;   // seed of the permutations
};

// The plane of the same kind (colour plane, or alpha plane when the plane being decoded is one) of
// layer `layer` of frame `frame`, for blocks copied from another layer. Raises for a frame or layer
// that does not exist or whose plane has not been decoded yet.
using TVeskPlaneLookup = std::function<const TDIB&(int32_t frame, int32_t layer)>;

// Decodes one plane of size bytes at data into target: a layer's colour surface, or its 8-bit alpha
// plane (isAlpha), already sized. The bytes are only read; stored data is copied from them in place and
// compressed data inflated straight into the target's rows.
// Errors: "識別コードを設定してください" for a stored legacy plane with IdentCode 0 and Randomized;
// EZLibError / EJpegError for damaged compressed data; "ファイルが破壊されています" for data that runs
// short or refers to blocks, layers or frames that do not exist or are not decoded yet.
// Every pixel of the target is written, or an error is raised.
void DecodePlane(const uint8_t* data, size_t size, TDIB& target, bool isAlpha, const TVeskPlaneParams& params,
                 const TVeskPlaneLookup& lookup);

// Number of blocks of a width x height plane in a blockWidth x blockHeight grid (both above 0).
int64_t VeskBlockCount(int width, int height, int32_t blockWidth, int32_t blockHeight);

// Smallest plane (in bytes) that can fill a target of rowBytes * height bytes in the given layout,
// allowing for the largest expansion zlib and the block references can give. Used to refuse sizes
// that the rest of a file cannot justify.
int64_t VeskMinPlaneBytes(const TVeskPlaneParams& params, bool isAlpha, int width, int height,
                          int64_t rowBytes);

}  // namespace vr
