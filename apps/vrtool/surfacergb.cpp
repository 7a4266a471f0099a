#include "surfacergb.h"

#include <algorithm>

#include "console.h"

namespace vrtool {
namespace {

inline uint8_t Widen5(uint32_t v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
inline uint8_t Widen6(uint32_t v) { return static_cast<uint8_t>((v << 2) | (v >> 4)); }

}  // namespace

RgbImage SurfaceToRgb(const vr::TDIBSurface& surface) {
  RgbImage img;
  img.Width = surface.Width();
  img.Height = surface.Height();
  if (surface.Empty()) return img;
  const size_t w = static_cast<size_t>(img.Width);
  img.Rgb.resize(w * static_cast<size_t>(img.Height) * 3);
  const int depth = surface.BitDepth();
  const int bits = surface.BitCount();
  for (int y = 0; y < img.Height; ++y) {
    const uint8_t* row = surface.ScanLine(y);
    uint8_t* out = &img.Rgb[static_cast<size_t>(y) * w * 3];
    for (size_t x = 0; x < w; ++x, out += 3) {
      switch (bits) {
        case 1:
        case 4:
        case 8: {
          uint32_t index;
          if (bits == 8) {
            index = row[x];
          } else if (bits == 4) {
            index = (x & 1) ? (row[x / 2] & 0x0F) : (row[x / 2] >> 4);
          } else {
            index = (row[x / 8] >> (7 - (x & 7))) & 1;
          }
          const vr::TRGBQuad& q = surface.ColorTable[index];
          out[0] = q.rgbRed;
          out[1] = q.rgbGreen;
          out[2] = q.rgbBlue;
          break;
        }
        case 16: {
          uint32_t v = static_cast<uint32_t>(row[x * 2]) | (static_cast<uint32_t>(row[x * 2 + 1]) << 8);
          if (depth == 15) {
            out[0] = Widen5((v >> 10) & 31);
            out[1] = Widen5((v >> 5) & 31);
          } else {
            out[0] = Widen5((v >> 11) & 31);
            out[1] = Widen6((v >> 5) & 63);
          }
          out[2] = Widen5(v & 31);
          break;
        }
        case 24:
        case 32: {
          const uint8_t* p = row + x * static_cast<size_t>(bits / 8);
          out[0] = p[2];
          out[1] = p[1];
          out[2] = p[0];
          break;
        }
        default:
          throw ToolError("unsupported bit depth " + std::to_string(bits));
      }
    }
  }
  if (const vr::TDIBSurface* alpha = surface.AlphaPlane()) {
    if (alpha->Width() != img.Width || alpha->Height() != img.Height || alpha->BitCount() != 8) {
      throw ToolError("the frame's alpha plane does not match its size");
    }
    img.Alpha.resize(w * static_cast<size_t>(img.Height));
    for (int y = 0; y < img.Height; ++y) {
      const uint8_t* row = alpha->ScanLine(y);
      std::copy(row, row + w, img.Alpha.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(y) * w));
    }
  }
  return img;
}

}  // namespace vrtool
