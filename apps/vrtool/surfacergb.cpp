#include "surfacergb.h"

#include <algorithm>
#include <cstring>

#include "console.h"

namespace vrtool {
namespace {

inline uint8_t Widen5(uint32_t v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
inline uint8_t Widen6(uint32_t v) { return static_cast<uint8_t>((v << 2) | (v >> 4)); }

void RowToRgb(const vr::TDIBSurface& surface, int y, uint8_t* out) {
  const size_t w = static_cast<size_t>(surface.Width());
  const uint8_t* row = surface.ScanLine(y);
  const int bits = surface.BitCount();
  switch (bits) {
    case 1:
    case 4:
    case 8:
      for (size_t x = 0; x < w; ++x, out += 3) {
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
      }
      return;
    case 16: {
      const bool fifteen = surface.BitDepth() == 15;
      for (size_t x = 0; x < w; ++x, out += 3) {
        const uint32_t v = static_cast<uint32_t>(row[x * 2]) | (static_cast<uint32_t>(row[x * 2 + 1]) << 8);
        if (fifteen) {
          out[0] = Widen5((v >> 10) & 31);
          out[1] = Widen5((v >> 5) & 31);
        } else {
          out[0] = Widen5((v >> 11) & 31);
          out[1] = Widen6((v >> 5) & 63);
        }
        out[2] = Widen5(v & 31);
      }
      return;
    }
    case 24:
    case 32: {
      const size_t step = static_cast<size_t>(bits / 8);
      for (size_t x = 0; x < w; ++x, out += 3, row += step) {
        out[0] = row[2];
        out[1] = row[1];
        out[2] = row[0];
      }
      return;
    }
    default:
      throw ToolError("unsupported bit depth " + std::to_string(bits));
  }
}

}  // namespace

TPictureRows SurfaceRows(const vr::TDIBSurface& surface) {
  TPictureRows rows;
  if (surface.Empty()) return rows;
  rows.Width = surface.Width();
  rows.Height = surface.Height();
  const vr::TDIBSurface* alpha = surface.AlphaPlane();
  if (alpha && (alpha->Width() != rows.Width || alpha->Height() != rows.Height || alpha->BitCount() != 8))
    throw ToolError("the frame's alpha plane does not match its size");
  const int bits = surface.BitCount();
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    throw ToolError("unsupported bit depth " + std::to_string(bits));
  rows.HasAlpha = alpha != nullptr;
  rows.Row = [&surface, alpha](int y, uint8_t* rgb, uint8_t* alphaOut) {
    RowToRgb(surface, y, rgb);
    if (alpha && alphaOut) std::memcpy(alphaOut, alpha->ScanLine(y), static_cast<size_t>(alpha->Width()));
  };
  return rows;
}

RgbImage SurfaceToRgb(const vr::TDIBSurface& surface) {
  RgbImage img;
  img.Width = surface.Width();
  img.Height = surface.Height();
  const TPictureRows rows = SurfaceRows(surface);
  if (!rows.Row) return img;
  const size_t w = static_cast<size_t>(img.Width);
  img.Rgb.resize(w * static_cast<size_t>(img.Height) * 3);
  if (rows.HasAlpha) img.Alpha.resize(w * static_cast<size_t>(img.Height));
  for (int y = 0; y < img.Height; ++y)
    rows.Row(y, &img.Rgb[static_cast<size_t>(y) * w * 3],
             rows.HasAlpha ? &img.Alpha[static_cast<size_t>(y) * w] : nullptr);
  return img;
}

}  // namespace vrtool
