// Writing a decoded picture as PNG, PPM (P6) or PAM (P7).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/classes.h"

namespace vrtool {

// 8-bit RGB pixels, rows top first, plus an optional 8-bit alpha plane of the same size.
struct RgbImage {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Rgb;    // Width * Height * 3
  std::vector<uint8_t> Alpha;  // empty, or Width * Height
  bool HasAlpha() const { return !Alpha.empty(); }
};

// A picture handed out row by row (top first): Row(y, rgb, alpha) fills Width * 3 bytes of RGB at rgb
// and, when HasAlpha and alpha is not null, Width bytes of alpha.
struct TPictureRows {
  int Width = 0;
  int Height = 0;
  bool HasAlpha = false;
  std::function<void(int y, uint8_t* rgb, uint8_t* alpha)> Row;
};

// The format the name's extension chooses: ".png", ".ppm" or ".pam" (any letter case; returned in
// lower case); a ToolError for any other extension.
std::string ImageFormat(const std::string& outName);

// The PPM or PAM file of the image (format as ImageFormat gives it).
std::string EncodeImage(const RgbImage& image, const std::string& format);

// The PNG file of the picture, written to `out` chunk by chunk. The rows go straight into the encoder's
// buffer: no other copy of the picture is made.
void WritePng(const TPictureRows& picture, vr::TStream& out);

}  // namespace vrtool
