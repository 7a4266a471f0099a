#include "imaging/dibsfc.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "framework/sysutils.h"

namespace vr {
namespace {

// A surface of the given size and depth whose pixel (x, y) holds f(x, y).
template <class F>
void Paint(TDIBSurface& s, F f) {
  for (int y = 0; y < s.Height(); ++y)
    for (int x = 0; x < s.Width(); ++x) s.SetPixel(x, y, f(x, y));
}

void SetGreyTable(TDIB& d, int count) {
  for (int i = 0; i < count; ++i) {
    const uint8_t v = static_cast<uint8_t>(i * 255 / (count - 1));
    d.ColorTable[static_cast<size_t>(i)] = TRGBQuad{v, v, v, 0};
  }
  d.UpdatePalette();
}

TEST(DIBSurface, SizeDepthAndRowLayout) {
  TDIBSurface s;
  EXPECT_TRUE(s.Empty());
  const int depths[] = {1, 4, 8, 15, 16, 24, 32};
  const int rowSizes[] = {4, 4, 4, 8, 8, 12, 12};  // width 3
  for (int i = 0; i < 7; ++i) {
    s.SetSize(3, 2, depths[i]);
    EXPECT_EQ(s.RowSize(), rowSizes[i]) << depths[i];
    EXPECT_EQ(s.BitDepth(), depths[i]);
    EXPECT_EQ(s.BitsSize(), size_t(rowSizes[i]) * 2);
    EXPECT_EQ(s.ScanLine(1) - s.ScanLine(0), s.RowStride());
  }
  s.SetSize(33, 1, 1);
  EXPECT_EQ(s.RowSize(), 8);

  s.SetSize(4, 4, 15);
  EXPECT_EQ(s.BitCount(), 16);
  EXPECT_EQ(s.RedMask(), 0x7C00u);
  EXPECT_EQ(s.GreenMask(), 0x3E0u);
  EXPECT_EQ(s.BlueMask(), 0x1Fu);
  s.SetPixel(1, 1, 0x1234);
  s.SetSize(4, 4, 15);  // unchanged: pixels kept
  EXPECT_EQ(s.GetPixel(1, 1), 0x1234u);
  s.SetSize(4, 4, 16);  // same bit count, other masks: rebuilt
  EXPECT_EQ(s.BitDepth(), 16);
  EXPECT_EQ(s.GreenMask(), 0x7E0u);
  EXPECT_EQ(s.GetPixel(1, 1), 0u);
  s.SetSize(0, 5, 24);
  EXPECT_TRUE(s.Empty());
  EXPECT_EQ(s.BitsSize(), 0u);
}

TEST(DIBSurface, RowAccessAndSizeErrors) {
  TDIBSurface s;
  s.SetSize(2, 3, 8);
  try {
    s.ScanLine(3);
    ADD_FAILURE() << "no error";
  } catch (const EVrError& e) {
    EXPECT_EQ(e.Message, "スキャンラインのインデックスが範囲を越えました (3)");
  }
  EXPECT_THROW(s.ScanLine(-1), EVrError);
  const TDIBSurface& cs = s;
  EXPECT_THROW(cs.ScanLine(3), EVrError);
  // Absurd sizes are refused before anything is allocated; the old bitmap stays.
  EXPECT_THROW(s.SetSize(TDIB::MaxDimension + 1, 1, 8), EVrError);
  EXPECT_THROW(s.SetSize(30000, 30000, 32), EVrError);
  EXPECT_THROW(s.SetSize(2, 2, 12), EVrError);
  EXPECT_EQ(s.Width(), 2);
  EXPECT_EQ(s.Height(), 3);
  EXPECT_NO_THROW(s.SetSize(8192, 8192, 32));  // exactly at the byte limit
}

TEST(DIBSurface, PackedPixelsPerDepth) {
  TDIBSurface s;
  s.SetSize(9, 1, 1);
  s.SetPixel(0, 0, 1);
  s.SetPixel(8, 0, 3);  // only the low bit counts
  EXPECT_EQ(s.ScanLine(0)[0], 0x80);
  EXPECT_EQ(s.ScanLine(0)[1], 0x80);
  EXPECT_EQ(s.GetPixel(8, 0), 1u);

  s.SetSize(3, 1, 4);
  s.SetPixel(0, 0, 0xA);
  s.SetPixel(1, 0, 0x5);
  s.SetPixel(2, 0, 0xF);
  EXPECT_EQ(s.ScanLine(0)[0], 0xA5);
  EXPECT_EQ(s.ScanLine(0)[1], 0xF0);

  s.SetSize(2, 1, 24);
  s.SetPixel(1, 0, 0x123456);
  const uint8_t* row = s.ScanLine(0);
  EXPECT_EQ(row[3], 0x56);  // blue first
  EXPECT_EQ(row[4], 0x34);
  EXPECT_EQ(row[5], 0x12);
  EXPECT_EQ(s.GetPixel(1, 0), 0x123456u);
  EXPECT_EQ(s.GetPixelColor(1, 0), 0x563412u);  // as a colour, red in the low byte

  s.SetSize(1, 1, 32);
  s.SetPixel(0, 0, 0xAABBCCDD);
  EXPECT_EQ(s.GetPixel(0, 0), 0xAABBCCDDu);
  EXPECT_EQ(s.GetPixelColor(0, 0), 0xDDCCBBu);
  EXPECT_EQ(s.GetPixel(1, 0), 0u);  // outside
  s.SetPixel(-1, 0, 5);

  s.SetSize(1, 1, 15);
  EXPECT_EQ(s.PixelToColor(0x7FFF), 0xFFFFFFu);
  EXPECT_EQ(s.PixelToColor(0x7C00), 0x0000FFu);
  EXPECT_EQ(s.PixelToColor(0x0010), 0x840000u);  // 5-bit 16 widens to 0x84
  s.SetSize(1, 1, 16);
  EXPECT_EQ(s.PixelToColor(0x07E0), 0x00FF00u);
  EXPECT_EQ(s.PixelToColor(0x0020), 0x000400u);  // 6-bit 1 widens to 0x04

  s.SetSize(1, 1, 8);
  s.ColorTable[7] = TRGBQuad{1, 2, 3, 0};
  EXPECT_EQ(s.PixelToColor(7), 0x010203u);
}

TEST(DIBSurface, ColorToPixelByDepth) {
  TDIBSurface s;
  s.SetSize(1, 1, 15);
  EXPECT_EQ(s.ColorToPixel(31, 31, 31), 0x7FFFu);
  EXPECT_EQ(s.ColorToPixel(255, 0, 0), 0x7C00u);  // field values: 255 and 31
  s.SetSize(1, 1, 16);
  EXPECT_EQ(s.ColorToPixel(31, 63, 31), 0xFFFFu);
  EXPECT_EQ(s.ColorToPixel(1, 2, 3), 0x0843u);
  s.SetSize(1, 1, 24);
  EXPECT_EQ(s.ColorToPixel(0x12, 0x34, 0x56), 0x123456u);
  s.SetSize(1, 1, 32);
  EXPECT_EQ(s.ColorToPixel(0x112, 0x34, 0x56), 0x123456u);

  // Palette depths: the nearest entry of the palette, the lowest index on a tie.
  TDIBSurface p;
  p.ColorTable[0] = TRGBQuad{0, 0, 0, 0};
  p.ColorTable[1] = TRGBQuad{0, 0, 200, 0};  // red 200
  p.ColorTable[2] = TRGBQuad{0, 200, 0, 0};  // green 200
  p.ColorTable[3] = TRGBQuad{250, 0, 0, 0};
  p.SetSize(2, 2, 8);  // a rebuilt bitmap takes the colour table as its palette
  EXPECT_EQ(p.ColorToPixel(190, 10, 0), 1u);
  EXPECT_EQ(p.ColorToPixel(0, 180, 20), 2u);
  EXPECT_EQ(p.ColorToPixel(10, 10, 240), 3u);
  EXPECT_EQ(p.ColorToPixel(110, 110, 0), 1u);  // equally near 1 and 2
  p.ColorTable[5] = TRGBQuad{0, 0, 190, 0};
  EXPECT_EQ(p.ColorToPixel(190, 0, 0), 1u);  // palette not yet updated
  p.UpdatePalette();
  EXPECT_EQ(p.ColorToPixel(190, 0, 0), 5u);
  p.SetSize(2, 2, 1);
  EXPECT_EQ(p.PaletteCount(), 2);
  EXPECT_EQ(p.ColorToPixel(190, 0, 0), 1u);  // only entries 0 and 1 count
}

TEST(DIBSurface, FillRectCutsToSurfaceAndKeepsSharedBits) {
  TDIBSurface s;
  s.SetSize(4, 4, 8);
  s.ClipRect = DIBRect(0, 0, 1, 1);  // not used by FillRect
  s.FillRect(DIBRect(2, -5, 10, 2), 0x107);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(s.GetPixel(x, y), (x >= 2 && y < 2) ? 7u : 0u) << x << "," << y;
  EXPECT_EQ(s.ScanLine(0)[4 - 1], 7);
  s.FillRect(DIBRect(3, 3, 2, 4), 9);  // empty rectangle
  EXPECT_EQ(s.GetPixel(3, 3), 0u);

  s.SetSize(5, 1, 4);
  s.FillRect(s.BoundsRect(), 0x3);
  s.FillRect(DIBRect(1, 0, 4, 1), 0x1C);  // reduced to 0xC; x = 1 keeps the high nibble of byte 0
  EXPECT_EQ(s.ScanLine(0)[0], 0x3C);
  EXPECT_EQ(s.ScanLine(0)[1], 0xCC);
  EXPECT_EQ(s.ScanLine(0)[2], 0x30);

  s.SetSize(20, 1, 1);
  s.FillRect(DIBRect(3, 0, 13, 1), 2);  // 2 and 1 is 0: nothing set
  EXPECT_EQ(s.ScanLine(0)[0], 0);
  s.FillRect(DIBRect(3, 0, 13, 1), 3);
  EXPECT_EQ(s.ScanLine(0)[0], 0x1F);
  EXPECT_EQ(s.ScanLine(0)[1], 0xF8);
  EXPECT_EQ(s.ScanLine(0)[2], 0x00);

  s.SetSize(2, 1, 15);
  s.FillRect(s.BoundsRect(), 0xFFFF);
  EXPECT_EQ(s.GetPixel(1, 0), 0x7FFFu);
  s.SetSize(2, 1, 16);
  s.FillRect(s.BoundsRect(), 0xFFFF);
  EXPECT_EQ(s.GetPixel(1, 0), 0xFFFFu);
  s.SetSize(2, 1, 24);
  s.FillRect(DIBRect(1, 0, 2, 1), 0xFF123456);
  EXPECT_EQ(s.GetPixel(0, 0), 0u);
  EXPECT_EQ(s.GetPixel(1, 0), 0x123456u);
  s.SetSize(2, 1, 32);
  s.FillRect(s.BoundsRect(), 0xFF123456);
  EXPECT_EQ(s.GetPixel(1, 0), 0xFF123456u);
}

TEST(DIBSurface, DrawClipsToSourceTargetAndClipRect) {
  TDIBSurface src, dst;
  src.SetSize(4, 4, 8);
  Paint(src, [](int x, int y) { return uint32_t(10 * y + x + 1); });
  dst.SetSize(6, 6, 8);

  dst.Draw(-1, 3, src);  // left column and bottom row fall off
  EXPECT_EQ(dst.GetPixel(0, 3), 2u);
  EXPECT_EQ(dst.GetPixel(2, 5), 24u);
  EXPECT_EQ(dst.GetPixel(3, 3), 0u);
  EXPECT_EQ(dst.GetPixel(0, 2), 0u);

  // A source rectangle larger than the source is cut to it, moving the target by the cut.
  dst.FillRect(dst.BoundsRect(), 0);
  dst.DrawRect(0, 0, DIBRect(-2, -1, 10, 10), src);
  EXPECT_EQ(dst.GetPixel(2, 1), 1u);
  EXPECT_EQ(dst.GetPixel(5, 4), 34u);
  EXPECT_EQ(dst.GetPixel(1, 1), 0u);

  dst.FillRect(dst.BoundsRect(), 0);
  dst.ClipRect = DIBRect(1, 1, 3, 2);
  dst.Draw(0, 0, src);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool inside = x >= 1 && x < 3 && y == 1;
      EXPECT_EQ(dst.GetPixel(x, y), inside ? uint32_t(10 * y + x + 1) : 0u) << x << "," << y;
    }
  dst.ClipRect = DIBRect(4, 4, 100, 100);  // reaches past the surface: cut to it
  dst.Draw(2, 2, src);
  EXPECT_EQ(dst.GetPixel(5, 5), 34u);
  dst.ClipRect = TRect{};
  dst.Draw(100, 0, src);
  dst.Draw(0, -100, src);
  dst.DrawRect(0, 0, DIBRect(2, 2, 2, 4), src);
  EXPECT_EQ(dst.GetPixel(0, 0), 0u);

  // Drawing a surface onto itself behaves as drawing a copy.
  src.Draw(1, 1, src);
  EXPECT_EQ(src.GetPixel(1, 1), 1u);
  EXPECT_EQ(src.GetPixel(3, 3), 23u);
  EXPECT_EQ(src.GetPixel(0, 0), 1u);
}

TEST(DIBSurface, DrawShiftsSubBytePixels) {
  TDIBSurface src, dst;
  src.SetSize(11, 2, 1);
  Paint(src, [](int x, int y) { return uint32_t((x * 7 + y) % 3 == 0); });
  dst.SetSize(16, 2, 1);
  dst.FillRect(dst.BoundsRect(), 1);
  dst.DrawRect(3, 1, DIBRect(2, 0, 11, 1), src);  // source phase 2, target phase 3
  for (int x = 0; x < 16; ++x) {
    const uint32_t want = (x >= 3 && x < 12) ? src.GetPixel(x - 1, 0) : 1u;
    EXPECT_EQ(dst.GetPixel(x, 1), want) << x;
    EXPECT_EQ(dst.GetPixel(x, 0), 1u);
  }

  src.SetSize(5, 1, 4);
  Paint(src, [](int x, int) { return uint32_t(x + 1); });
  dst.SetSize(6, 1, 4);
  dst.FillRect(dst.BoundsRect(), 0xF);
  dst.DrawRect(1, 0, DIBRect(0, 0, 4, 1), src);  // even source start onto an odd target start
  EXPECT_EQ(dst.ScanLine(0)[0], 0xF1);
  EXPECT_EQ(dst.ScanLine(0)[1], 0x23);
  EXPECT_EQ(dst.ScanLine(0)[2], 0x4F);
}

TEST(DIBSurface, DrawTransparentSkipsTheTransparentValue) {
  TDIBSurface src, dst;
  src.SetSize(3, 1, 8);
  Paint(src, [](int x, int) { return uint32_t(x * 2); });  // 0, 2, 4
  dst.SetSize(3, 1, 8);
  dst.FillRect(dst.BoundsRect(), 9);
  dst.DrawTransparent(0, 0, 2, src.BoundsRect(), src);
  EXPECT_EQ(dst.GetPixel(0, 0), 0u);
  EXPECT_EQ(dst.GetPixel(1, 0), 9u);
  EXPECT_EQ(dst.GetPixel(2, 0), 4u);
  // A source rectangle past the source is cut to it rather than read out of bounds.
  dst.FillRect(dst.BoundsRect(), 9);
  dst.DrawTransparent(0, 0, 2, DIBRect(1, 0, 50, 50), src);
  EXPECT_EQ(dst.GetPixel(1, 0), 4u);
  EXPECT_EQ(dst.GetPixel(2, 0), 9u);

  // One bit: any positive transparent value stands for 1; a negative one skips nothing.
  src.SetSize(4, 1, 1);
  Paint(src, [](int x, int) { return uint32_t(x & 1); });
  dst.SetSize(4, 1, 1);
  dst.DrawTransparent(0, 0, 5, src.BoundsRect(), src);
  dst.FillRect(dst.BoundsRect(), 1);
  dst.DrawTransparent(0, 0, 5, src.BoundsRect(), src);
  EXPECT_EQ(dst.ScanLine(0)[0] & 0xF0, 0x50);
  dst.FillRect(dst.BoundsRect(), 0);
  dst.DrawTransparent(0, 0, -1, src.BoundsRect(), src);
  EXPECT_EQ(dst.ScanLine(0)[0] & 0xF0, 0x50);

  // 32 bits compare whole words; -1 means no transparent value even for an all-ones pixel.
  src.SetSize(2, 1, 32);
  src.SetPixel(0, 0, 0xFFFFFFFF);
  src.SetPixel(1, 0, 0x00FF00FF);
  dst.SetSize(2, 1, 32);
  dst.DrawTransparent(0, 0, 0x00FF00FF, src.BoundsRect(), src);
  EXPECT_EQ(dst.GetPixel(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(dst.GetPixel(1, 0), 0u);
  dst.DrawTransparent(0, 0, -1, src.BoundsRect(), src);
  EXPECT_EQ(dst.GetPixel(1, 0), 0x00FF00FFu);
}

TEST(DIBSurface, ScreenDoorPatterns) {
  // Level n draws n + 1 pixels of sixteen, each level adding to the one before.
  uint16_t previous = 0;
  for (int level = 0; level < 16; ++level) {
    uint16_t bits = 0;
    for (int r = 0; r < 4; ++r) bits = static_cast<uint16_t>(bits | (ScreenDoorRow(level, r) << (4 * r)));
    int count = 0;
    for (int b = 0; b < 16; ++b) count += (bits >> b) & 1;
    EXPECT_EQ(count, level + 1) << level;
    EXPECT_EQ(bits & previous, previous) << level;
    previous = bits;
  }
  EXPECT_EQ(ScreenDoorRow(0, 0), 0x8);
  EXPECT_EQ(ScreenDoorRow(5, 3), 0x1);
  EXPECT_EQ(ScreenDoorRow(9, 2), 0xB);
  EXPECT_EQ(ScreenDoorRow(13, 3), 0x7);

  // Opacity 16 on 8 bits is level 1: (0, 0) and (2, 2) of every 4 x 4 cell of the target.
  TDIBSurface src, dst;
  src.SetSize(8, 8, 8);
  src.FillRect(src.BoundsRect(), 5);
  src.SetPixel(1, 1, 3);  // lands on target (2, 2) and is transparent
  dst.SetSize(9, 9, 8);
  dst.DrawAlpha(1, 1, 16, 3, src.BoundsRect(), src);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) {
      const bool on = x >= 1 && y >= 1 && ((x % 4 == 0 && y % 4 == 0) || (x % 4 == 2 && y % 4 == 2));
      const bool skipped = x == 2 && y == 2;
      EXPECT_EQ(dst.GetPixel(x, y), (on && !skipped) ? 5u : 0u) << x << "," << y;
    }

  // The same pattern on 4 and 1 bits.
  src.SetSize(4, 4, 4);
  src.FillRect(src.BoundsRect(), 0xE);
  dst.SetSize(4, 4, 4);
  dst.DrawAlpha(0, 0, 47, -1, src.BoundsRect(), src);  // level 2: 1010 / 0000 / 0010 / 0000
  EXPECT_EQ(dst.ScanLine(0)[0], 0xE0);
  EXPECT_EQ(dst.ScanLine(0)[1], 0xE0);
  EXPECT_EQ(dst.ScanLine(1)[0], 0x00);
  EXPECT_EQ(dst.ScanLine(2)[1], 0xE0);
  src.SetSize(4, 4, 1);
  src.FillRect(src.BoundsRect(), 1);
  dst.SetSize(4, 4, 1);
  dst.DrawAlpha(0, 0, 224, -1, src.BoundsRect(), src);  // level 14
  EXPECT_EQ(dst.ScanLine(0)[0], 0xF0);
  EXPECT_EQ(dst.ScanLine(3)[0], 0x70);
}

TEST(DIBSurface, DrawAlphaBlendsPerDepth) {
  TDIBSurface src, dst;
  // 32 bits divide by 256, 24 bits by 255.
  src.SetSize(1, 1, 32);
  src.SetPixel(0, 0, 0xFFFFFFFF);
  dst.SetSize(1, 1, 32);
  dst.SetPixel(0, 0, 0xFF000000);
  dst.DrawAlpha(0, 0, 128, -1, src.BoundsRect(), src);
  EXPECT_EQ(dst.GetPixel(0, 0), 0x007F7F7Fu);

  src.SetSize(2, 1, 24);
  src.FillRect(src.BoundsRect(), 0xFFFFFF);
  src.SetPixel(1, 0, 0x010203);
  dst.SetSize(2, 1, 24);
  dst.DrawAlpha(0, 0, 128, 0x7F010203, src.BoundsRect(), src);  // only the low three bytes compare
  EXPECT_EQ(dst.GetPixel(0, 0), 0x808080u);
  EXPECT_EQ(dst.GetPixel(1, 0), 0u);
  dst.DrawAlpha(0, 0, 0, -1, src.BoundsRect(), src);  // opacity 0: nothing
  EXPECT_EQ(dst.GetPixel(1, 0), 0u);

  // 16 bits blend each channel inside its mask.
  src.SetSize(1, 1, 16);
  src.SetPixel(0, 0, 0xFFFF);
  dst.SetSize(1, 1, 16);
  dst.SetPixel(0, 0, (10u << 11) | (20u << 5) | 3u);
  dst.DrawAlpha(0, 0, 100, -1, src.BoundsRect(), src);
  const uint32_t r = ((155u * (10u << 11) + 100u * 0xF800u) / 255) & 0xF800u;
  const uint32_t g = ((155u * (20u << 5) + 100u * 0x7E0u) / 255) & 0x7E0u;
  const uint32_t b = ((155u * 3u + 100u * 0x1Fu) / 255) & 0x1Fu;
  EXPECT_EQ(dst.GetPixel(0, 0), r | g | b);
  dst.SetPixel(0, 0, 0);
  dst.DrawAlpha(0, 0, 100, 0xFFFF, src.BoundsRect(), src);
  EXPECT_EQ(dst.GetPixel(0, 0), 0u);
}

TEST(DIBSurface, DrawAlphaFallsBackToTransparentCopy) {
  TDIBSurface src, a, b;
  for (int depth : {8, 24}) {
    src.SetSize(5, 5, depth);
    Paint(src, [](int x, int y) { return uint32_t((x * 5 + y) % 4); });
    const int opacities[] = {255, 300, -3, 240};
    for (int opacity : opacities) {
      if (depth == 24 && opacity == 240) continue;
      a.SetSize(7, 7, depth);
      b.SetSize(7, 7, depth);
      a.FillRect(a.BoundsRect(), 1);
      b.FillRect(b.BoundsRect(), 1);
      a.DrawAlpha(1, 2, opacity, 2, src.BoundsRect(), src);
      b.DrawTransparent(1, 2, 2, src.BoundsRect(), src);
      EXPECT_EQ(std::string(a.Bits(), a.Bits() + a.BitsSize()),
                std::string(b.Bits(), b.Bits() + b.BitsSize()))
          << depth << " " << opacity;
      EXPECT_NE(a.GetPixel(1, 2), 1u);
    }
  }
  // Opacity 239 on 8 bits is still a screen door (level 14): one pixel of the cell is kept.
  src.SetSize(4, 4, 8);
  src.FillRect(src.BoundsRect(), 6);
  a.SetSize(4, 4, 8);
  a.DrawAlpha(0, 0, 239, -1, src.BoundsRect(), src);
  EXPECT_EQ(a.GetPixel(0, 3), 0u);
  EXPECT_EQ(a.GetPixel(1, 3), 6u);
}

TEST(DIBSurface, DrawAlphaMaskPerDepth) {
  TDIBSurface src, dst;
  src.SetSize(3, 1, 8);
  src.FillRect(src.BoundsRect(), 7);
  src.CreateAlpha();
  src.AlphaPlane()->SetPixel(0, 0, 128);
  src.AlphaPlane()->SetPixel(1, 0, 127);
  src.AlphaPlane()->SetPixel(2, 0, 255);
  dst.SetSize(3, 1, 8);
  dst.CreateAlpha();
  dst.AlphaPlane()->FillRect(dst.BoundsRect(), 9);
  dst.DrawAlphaMask(0, 0, 255, src.BoundsRect(), src);
  EXPECT_EQ(dst.GetPixel(0, 0), 7u);
  EXPECT_EQ(dst.GetPixel(1, 0), 0u);
  EXPECT_EQ(dst.GetPixel(2, 0), 7u);
  EXPECT_EQ(dst.AlphaPlane()->GetPixel(0, 0), 9u);  // the target's plane is never changed

  // 24 bits at full opacity: keep, blend (>> 8), copy.
  src.SetSize(3, 1, 24);
  src.FillRect(src.BoundsRect(), 0xC8C8C8);  // 200
  src.AlphaPlane()->SetPixel(0, 0, 0);
  src.AlphaPlane()->SetPixel(1, 0, 128);
  src.AlphaPlane()->SetPixel(2, 0, 255);
  dst.SetSize(3, 1, 24);
  dst.FillRect(dst.BoundsRect(), 0x646464);  // 100
  dst.DrawAlphaMask(0, 0, 255, src.BoundsRect(), src);
  EXPECT_EQ(dst.GetPixel(0, 0), 0x646464u);
  EXPECT_EQ(dst.GetPixel(1, 0), 0x959595u);  // (128*200 + 127*100) >> 8 = 149
  EXPECT_EQ(dst.GetPixel(2, 0), 0xC8C8C8u);

  // 24 bits below full opacity: drawn only where opacity * mask > 255.
  src.AlphaPlane()->SetPixel(0, 0, 1);
  src.AlphaPlane()->SetPixel(1, 0, 2);
  src.AlphaPlane()->SetPixel(2, 0, 255);
  dst.FillRect(dst.BoundsRect(), 0x646464);
  dst.DrawAlphaMask(0, 0, 128, src.BoundsRect(), src);
  EXPECT_EQ(dst.GetPixel(0, 0), 0x646464u);  // 128 * 1 <= 255
  EXPECT_EQ(dst.GetPixel(1, 0), 0x646464u);  // m' = 1: (254*100 + 200) >> 8 = 100
  EXPECT_EQ(dst.GetPixel(2, 0), 0x959595u);  // m' = 127: (128*100 + 127*200) >> 8 = 149

  // 32 bits: the 32-bit blend with the mask value; full and empty masks copy and keep whole words.
  src.SetSize(3, 1, 32);
  src.FillRect(src.BoundsRect(), 0xFFFFFFFF);
  src.AlphaPlane()->SetPixel(0, 0, 0);
  src.AlphaPlane()->SetPixel(1, 0, 128);
  src.AlphaPlane()->SetPixel(2, 0, 255);
  dst.SetSize(3, 1, 32);
  dst.FillRect(dst.BoundsRect(), 0x11000000);
  dst.DrawAlphaMask(0, 0, 17, src.BoundsRect(), src);
  EXPECT_EQ(dst.GetPixel(0, 0), 0x11000000u);
  EXPECT_EQ(dst.GetPixel(1, 0), 0x007F7F7Fu);
  EXPECT_EQ(dst.GetPixel(2, 0), 0xFFFFFFFFu);

  // 16 bits (5-5-5): per-channel blend shifted right by 8.
  src.SetSize(2, 1, 15);
  src.FillRect(src.BoundsRect(), 0x7FFF);
  src.AlphaPlane()->SetPixel(0, 0, 100);
  src.AlphaPlane()->SetPixel(1, 0, 0);
  dst.SetSize(2, 1, 15);
  dst.FillRect(dst.BoundsRect(), 0x0421);  // 1, 1, 1
  dst.DrawAlphaMask(0, 0, 255, src.BoundsRect(), src);
  const uint32_t r = ((155u * 0x400u + 100u * 0x7C00u) >> 8) & 0x7C00u;
  const uint32_t g = ((155u * 0x20u + 100u * 0x3E0u) >> 8) & 0x3E0u;
  const uint32_t b = ((155u * 0x1u + 100u * 0x1Fu) >> 8) & 0x1Fu;
  EXPECT_EQ(dst.GetPixel(0, 0), r | g | b);
  EXPECT_EQ(dst.GetPixel(1, 0), 0x0421u);

  // Without a source alpha plane: a constant-opacity blend with no transparent value.
  src.SetSize(1, 1, 24);
  src.FreeAlpha();
  src.SetPixel(0, 0, 0xFFFFFF);
  dst.SetSize(1, 1, 24);
  dst.SetPixel(0, 0, 0);
  dst.DrawAlphaMask(0, 0, 128, src.BoundsRect(), src);
  EXPECT_EQ(dst.GetPixel(0, 0), 0x808080u);
}

TEST(DIBSurface, AlphaPlaneLifecycle) {
  TDIBSurface s;
  s.SetSize(3, 2, 24);
  EXPECT_FALSE(s.HasAlpha());
  s.FillAlphaOpaque();  // nothing without a plane
  s.CreateAlpha();
  ASSERT_TRUE(s.HasAlpha());
  TDIBSurface* a = s.AlphaPlane();
  EXPECT_EQ(a->BitCount(), 8);
  EXPECT_EQ(a->Width(), 3);
  s.FillAlphaOpaque();
  for (size_t i = 0; i < a->BitsSize(); ++i) ASSERT_EQ(a->Bits()[i], 255) << i;  // padding too
  s.SetSize(5, 4, 24);
  EXPECT_EQ(s.AlphaPlane()->Width(), 5);
  EXPECT_EQ(s.AlphaPlane()->Height(), 4);

  TDIBSurface m;
  m.SetSize(5, 4, 8);
  Paint(m, [](int x, int y) { return uint32_t(x * 16 + y); });
  s.FreeAlpha();
  s.CopyAlphaFrom(m);
  EXPECT_EQ(s.AlphaPlane()->GetPixel(4, 3), 67u);
  m.SetSize(4, 4, 8);
  EXPECT_THROW(s.CopyAlphaFrom(m), EVrError);
  m.SetSize(5, 4, 24);
  EXPECT_THROW(s.CopyAlphaFrom(m), EVrError);

  TDIBSurface copy;
  copy.Assign(s);
  EXPECT_EQ(copy.AlphaPlane()->GetPixel(4, 3), 67u);
  EXPECT_EQ(copy.BitDepth(), 24);
  s.Clear();
  EXPECT_FALSE(s.HasAlpha());
  EXPECT_TRUE(s.Empty());
}

TEST(DIBSurface, ConversionsThroughColourTableAndMasks) {
  TDIBSurface pal;
  pal.SetSize(2, 1, 4);
  pal.ColorTable[3] = TRGBQuad{0x30, 0x20, 0x10, 0};
  pal.SetPixel(1, 0, 3);
  TDIBSurface out;
  out.CreateAlpha();
  ConvertSurfaceTo24(pal, out);
  EXPECT_EQ(out.BitDepth(), 24);
  EXPECT_FALSE(out.HasAlpha());
  EXPECT_EQ(out.GetPixel(1, 0), 0x102030u);

  TDIBSurface hi;
  hi.SetSize(2, 1, 15);
  hi.SetPixel(0, 0, 0x7C00);
  hi.SetPixel(1, 0, 0x0210);  // green 16, blue 16
  ConvertSurfaceTo24(hi, out);
  EXPECT_EQ(out.GetPixel(0, 0), 0xFF0000u);
  EXPECT_EQ(out.GetPixel(1, 0), 0x008484u);
  hi.SetSize(1, 1, 16);
  hi.SetPixel(0, 0, 0x07E0);
  ConvertSurfaceTo24(hi, out);
  EXPECT_EQ(out.GetPixel(0, 0), 0x00FF00u);
  hi.SetSize(1, 1, 32);
  hi.SetPixel(0, 0, 0xAA123456);
  ConvertSurfaceTo24(hi, hi);  // in place
  EXPECT_EQ(hi.BitDepth(), 24);
  EXPECT_EQ(hi.GetPixel(0, 0), 0x123456u);

  // Depth conversion keeps the alpha plane.
  TDIBSurface t;
  t.SetSize(2, 1, 24);
  t.SetPixel(0, 0, 0xFF0000);  // red
  t.SetPixel(1, 0, 0x0800FF);  // blue
  t.CreateAlpha();
  t.FillAlphaOpaque();
  t.ConvertToDepth(15);
  EXPECT_EQ(t.BitDepth(), 15);
  EXPECT_EQ(t.GetPixel(0, 0), 0x7C00u);
  EXPECT_EQ(t.GetPixel(1, 0), 0x041Fu);
  EXPECT_EQ(t.AlphaPlane()->GetPixel(1, 0), 255u);
  t.ConvertToDepth(8);  // fixed palette, nearest entry
  EXPECT_EQ(t.BitCount(), 8);
  EXPECT_EQ(t.GetPixelColor(0, 0), 0x0000FFu);
  EXPECT_EQ(t.ColorToPixel(255, 0, 0), t.GetPixel(0, 0));
  t.ConvertToDepth(32);
  EXPECT_EQ(t.GetPixel(0, 0), 0xFF0000u);

  // A palette picture moved to a larger palette depth keeps its indices and table.
  pal.ConvertToDepth(8);
  EXPECT_EQ(pal.BitCount(), 8);
  EXPECT_EQ(pal.GetPixel(1, 0), 3u);
  EXPECT_EQ(pal.ColorTable[3].rgbRed, 0x10);
  EXPECT_THROW(pal.ConvertToDepth(12), EVrError);
}

TEST(DIBSurface, SourceOfAnotherDepthIsConvertedBeforeDrawing) {
  TDIBSurface src, dst;
  src.SetSize(2, 1, 24);
  src.SetPixel(0, 0, 0x123456);
  src.SetPixel(1, 0, 0xABCDEF);
  dst.SetSize(3, 1, 32);
  dst.Draw(1, 0, src);
  EXPECT_EQ(dst.GetPixel(0, 0), 0u);
  EXPECT_EQ(dst.GetPixel(1, 0), 0x123456u);
  EXPECT_EQ(dst.GetPixel(2, 0), 0xABCDEFu);

  TDIBSurface grey;
  SetGreyTable(grey, 256);
  grey.SetSize(1, 1, 8);
  src.SetPixel(0, 0, 0x404040);
  grey.Draw(0, 0, src);
  EXPECT_EQ(grey.GetPixel(0, 0), 0x40u);
}

TEST(DIBSurface, RandomGeometryNeverWritesOutsideTheClip) {
  std::mt19937 rng(12345);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int depth : {1, 4, 8, 15, 16, 24, 32}) {
    for (int round = 0; round < 150; ++round) {
      TDIBSurface src, dst;
      src.SetSize(pick(1, 9), pick(1, 9), depth);
      Paint(src, [&](int, int) { return uint32_t(rng()); });
      if (pick(0, 1)) {
        src.CreateAlpha();
        Paint(*src.AlphaPlane(), [&](int, int) { return uint32_t(pick(0, 2) * 127 + pick(0, 1)); });
      }
      dst.SetSize(13, 11, depth);
      Paint(dst, [](int x, int y) { return uint32_t(x * 7 + y * 3 + 1); });
      TDIBSurface before;
      before.Assign(dst);
      dst.ClipRect = DIBRect(pick(-3, 14), pick(-3, 12), pick(-3, 16), pick(-3, 14));
      const TRect rect = DIBRect(pick(-5, 10), pick(-5, 10), pick(-5, 14), pick(-5, 14));
      const int x = pick(-12, 15), y = pick(-12, 13), opacity = pick(-1, 256);
      const int32_t trans = pick(-1, 3);
      switch (pick(0, 4)) {
        case 0:
          dst.Draw(x, y, src);
          break;
        case 1:
          dst.DrawRect(x, y, rect, src);
          break;
        case 2:
          dst.DrawTransparent(x, y, trans, rect, src);
          break;
        case 3:
          dst.DrawAlpha(x, y, opacity, trans, rect, src);
          break;
        default:
          dst.DrawAlphaMask(x, y, opacity, rect, src);
          break;
      }
      const TRect c = dst.ClipRect.IsEmpty() ? dst.BoundsRect() : dst.ClipRect;
      for (int yy = 0; yy < 11; ++yy) {
        for (int xx = 0; xx < 13; ++xx) {
          if (xx < c.Left || xx >= c.Right || yy < c.Top || yy >= c.Bottom) {
            ASSERT_EQ(dst.GetPixel(xx, yy), before.GetPixel(xx, yy)) << depth << " " << round;
          }
        }
      }
      // Row padding is never touched either.
      const int used = (13 * dst.BitCount() + 7) / 8;
      for (int yy = 0; yy < 11; ++yy)
        for (int b = used; b < dst.RowSize(); ++b) ASSERT_EQ(dst.ScanLine(yy)[b], before.ScanLine(yy)[b]);
    }
  }
}

}  // namespace
}  // namespace vr
