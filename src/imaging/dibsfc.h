// Device-independent bitmaps in plain memory and the pixel surface with its raw drawing operations.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/canvas.h"

namespace vr {

inline TRect DIBRect(int left, int top, int right, int bottom) { return TRect{left, top, right, bottom}; }

// One colour table entry, laid out as in Windows bitmaps.
struct TRGBQuad {
  uint8_t rgbBlue = 0;
  uint8_t rgbGreen = 0;
  uint8_t rgbRed = 0;
  uint8_t rgbReserved = 0;
};

// A device-independent bitmap held in plain memory.
//
// Rows are stored top-down: ScanLine(0) is the top row and RowStride() is the (positive) distance
// from one row to the next. Each row occupies RowSize() bytes (its bits rounded up to 32 bits).
// Bit counts: 1, 4, 8 (indices into the colour table), 16 (a word split by the channel masks),
// 24 (blue, green, red bytes) and 32 (blue, green, red and a fourth byte).
// Sizes are limited to MaxDimension per side and MaxBytes of pixel memory; larger requests raise
// EVrError before anything is allocated.
class TDIB {
 public:
  static constexpr int MaxDimension = 65535;
  static constexpr int64_t MaxBytes = int64_t(256) * 1024 * 1024;

  TDIB();
  virtual ~TDIB();
  TDIB(const TDIB&) = delete;
  TDIB& operator=(const TDIB&) = delete;

  // Sizes the bitmap at bitCount (1, 4, 8, 16, 24 or 32) with the current channel masks. The memory
  // is rebuilt (zeroed, palette taken from ColorTable) only when the width, height, bit count or masks
  // change; a width or height of 0 or less empties the bitmap. Other bit counts raise EVrError.
  virtual void SetSize(int width, int height, int bitCount);
  // Empties the bitmap.
  virtual void Clear();

  // Pixel format (channel masks) for 16-, 24- and 32-bit bitmaps, 8-8-8 at creation; it takes effect
  // at the next SetSize.
  void SetPixelFormat(uint32_t redMask, uint32_t greenMask, uint32_t blueMask);
  // Channel masks of the current pixel layout.
  uint32_t RedMask() const { return redMask_; }
  uint32_t GreenMask() const { return greenMask_; }
  uint32_t BlueMask() const { return blueMask_; }

  int Width() const { return width_; }
  int Height() const { return height_; }
  int BitCount() const { return bitCount_; }
  bool Empty() const { return width_ <= 0 || height_ <= 0; }
  int RowSize() const { return rowSize_; }
  // Signed byte distance from row y to row y + 1.
  std::ptrdiff_t RowStride() const { return rowSize_; }
  // The whole pixel memory (RowSize() * Height() bytes, top row first).
  uint8_t* Bits() { return bits_.data(); }
  const uint8_t* Bits() const { return bits_.data(); }
  std::size_t BitsSize() const { return bits_.size(); }

  // Address of row y (0 = top). y outside 0..Height-1 raises EVrError
  // "スキャンラインのインデックスが範囲を越えました (y)".
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;

  // Packed pixel value at (x, y): the index for 1, 4 and 8 bits, the word for 16 bits,
  // blue + green * 256 + red * 65536 for 24 bits and the whole word for 32 bits.
  // Outside the bitmap GetPixel gives 0 and SetPixel does nothing.
  uint32_t GetPixel(int x, int y) const;
  void SetPixel(int x, int y, uint32_t value);
  // The colour (red in the low byte, green next, blue in the third byte) a packed pixel value stands
  // for: through the colour table for 1, 4 and 8 bits, through the channel masks otherwise (fields narrower
  // than 8 bits are widened by repeating their top bits).
  uint32_t PixelToColor(uint32_t value) const;
  // PixelToColor(GetPixel(x, y)).
  uint32_t GetPixelColor(int x, int y) const { return PixelToColor(GetPixel(x, y)); }

  // Colour table of 256 entries; the palette follows it after UpdatePalette or a rebuild.
  std::array<TRGBQuad, 256> ColorTable{};
  // Makes the palette follow ColorTable.
  void UpdatePalette();
  // The palette in use: 2^BitCount entries for 1, 4 and 8 bits, none otherwise.
  const std::array<TRGBQuad, 256>& Palette() const { return palette_; }
  int PaletteCount() const;
  // Index of the palette entry nearest to (red, green, blue): least sum of squared differences, the
  // lowest index on a tie; 0 without a palette.
  int NearestPaletteIndex(int red, int green, int blue) const;

  // Kept for the drawing code's life cycle; a plain-memory bitmap is always dormant.
  void Dormant() {}

  // Copies size, bit count, masks, colour table, palette and pixels of source.
  void AssignBitmap(const TDIB& source);

 protected:
  int width_ = 0;
  int height_ = 0;
  int bitCount_ = 0;
  int rowSize_ = 0;
  // Masks of the current layout, and the pixel format asked for by SetPixelFormat.
  uint32_t redMask_ = 0xFF0000, greenMask_ = 0xFF00, blueMask_ = 0xFF;
  uint32_t formatRed_ = 0xFF0000, formatGreen_ = 0xFF00, formatBlue_ = 0xFF;
  std::vector<uint8_t> bits_;
  std::array<TRGBQuad, 256> palette_{};
};

// A bitmap with an optional 8-bit alpha plane, a clip rectangle and raw pixel operations for every bit
// count. Source and target of a drawing operation have the same bit count; pixels move as raw values.
class TDIBSurface : public TDIB {
 public:
  TDIBSurface();
  ~TDIBSurface() override;

  // depth 1, 4, 8, 15 (16 bits, 5-5-5), 16 (5-6-5), 24 or 32 (8-8-8). An existing alpha plane follows
  // the new width and height.
  void SetSize(int width, int height, int depth) override;
  // Empties the bitmap and frees the alpha plane.
  void Clear() override;
  // The bit count, except 15 for a 16-bit surface whose green mask is 0x3E0.
  int BitDepth() const;

  // The owned alpha plane (8 bits, same size; 0 transparent, 255 opaque) or nullptr.
  TDIBSurface* AlphaPlane() const { return alpha_.get(); }
  bool HasAlpha() const { return alpha_ != nullptr; }
  // Creates the alpha plane, or resizes it to the surface; contents undefined until filled.
  void CreateAlpha();
  void FreeAlpha();
  // Sets every byte of the alpha plane to 255; nothing without one.
  void FillAlphaOpaque();
  // CreateAlpha, then copies every row of source (8 bits, same size, else EVrError) into it.
  void CopyAlphaFrom(const TDIB& source);

  // (0, 0, Width, Height).
  TRect BoundsRect() const { return TRect{0, 0, width_, height_}; }
  // Target clip of the drawing operations; an empty rectangle stands for the whole surface.
  TRect ClipRect{};

  // Fills rect (cut to the surface, not to ClipRect) with a packed pixel value, reduced to 1 bit,
  // 4 bits or 15 bits on those depths.
  void FillRect(const TRect& rect, uint32_t value);
  // Packed pixel value for a colour: nearest palette index for 1, 4 and 8 bits; for 15 and 16 bits the
  // components are field values (0-31, 0-63); otherwise red * 65536 + green * 256 + blue.
  uint32_t ColorToPixel(int red, int green, int blue) const;

  // Plain copy of the whole source to (x, y).
  void Draw(int x, int y, const TDIBSurface& source);
  // Plain copy of sourceRect of source to (x, y).
  void DrawRect(int x, int y, const TRect& sourceRect, const TDIBSurface& source);
  // Copy that skips source pixels equal to trans (a negative trans skips nothing; on 1 bit any
  // positive trans stands for 1). Other bit counts fall back to DrawRect.
  void DrawTransparent(int x, int y, int32_t trans, const TRect& sourceRect, const TDIBSurface& source);
  // Constant-opacity blend skipping pixels equal to trans (negative: none). Opacity 0 draws nothing;
  // 255 or more, a negative opacity, or level 15 on palette surfaces is DrawTransparent; palette
  // surfaces use 4 x 4 screen-door patterns of level opacity / 16.
  void DrawAlpha(int x, int y, int opacity, int32_t trans, const TRect& sourceRect,
                 const TDIBSurface& source);
  // Per-pixel blend with the source's alpha plane; without one it is DrawAlpha with trans -1.
  void DrawAlphaMask(int x, int y, int opacity, const TRect& sourceRect, const TDIBSurface& source);

  // Copies size, depth, masks, colour table, pixels and alpha plane of source.
  void Assign(const TDIBSurface& source);
  // Converts the pixels to depth (1, 4, 8, 15, 16, 24 or 32) keeping the alpha plane. Palette targets
  // keep a palette source's colour table when it fits, else take a fixed palette (black and white,
  // the 16 standard colours, or a 6 x 6 x 6 cube with 40 greys) with nearest-entry mapping, no dithering.
  void ConvertToDepth(int depth);

 private:
  std::unique_ptr<TDIBSurface> alpha_;
};

// Makes target a 24-bit copy of source (colours through its palette or channel masks); the alpha
// plane is not copied. An empty source empties target.
void ConvertSurfaceTo24(const TDIB& source, TDIBSurface& target);

// The 4 x 4 screen-door pattern of a level (0-15): bit (3 - column) of entry row is 1 where the
// source pixel is drawn.
uint8_t ScreenDoorRow(int level, int row);

}  // namespace vr
