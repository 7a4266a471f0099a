// Writing a decoded picture as PNG, PPM (P6) or PAM (P7).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrtool {

// 8-bit RGB pixels, rows top first, plus an optional 8-bit alpha plane of the same size.
struct RgbImage {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Rgb;    // Width * Height * 3
  std::vector<uint8_t> Alpha;  // empty, or Width * Height
  bool HasAlpha() const { return !Alpha.empty(); }
};

// The encoded file for the format the name's extension chooses (".png", ".ppm", ".pam", any letter
// case); a ToolError for any other extension.
std::string EncodeImage(const RgbImage& image, const std::string& outName);

}  // namespace vrtool
