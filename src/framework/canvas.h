// Colours, rectangles and a drawing surface over a 24-bit pixel buffer.
//
// Graphic controls paint through TCanvas: headless it draws into a plain buffer, on Windows into the
// bits of a DIB section that is then blitted to the window. Text and system icons need the window
// system; a canvas forwards them to an optional TCanvasRenderer and otherwise leaves them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vr {

// Colour: red in the low byte, green next, blue in the third byte. Values with the top bit set name a
// system colour (0x80000000 + COLOR_* index).
using TColor = int32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clBtnHighlight = clSystemColor | 20;

inline TColor MakeColor(int r, int g, int b) { return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16); }
inline int GetRValue(TColor c) { return c & 0xFF; }
inline int GetGValue(TColor c) { return (c >> 8) & 0xFF; }
inline int GetBValue(TColor c) { return (c >> 16) & 0xFF; }
// A system colour resolved through the window system; plain colours unchanged.
TColor ColorToRGB(TColor c);

// Rectangle; Right and Bottom are exclusive.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Left >= Right || Top >= Bottom; }
  bool operator==(const TRect& o) const {
    return Left == o.Left && Top == o.Top && Right == o.Right && Bottom == o.Bottom;
  }
  bool operator!=(const TRect& o) const { return !(*this == o); }
};
inline TRect Rect(int l, int t, int r, int b) { return TRect{l, t, r, b}; }
inline TRect Bounds(int l, int t, int w, int h) { return TRect{l, t, l + w, t + h}; }
TRect IntersectRect(const TRect& a, const TRect& b);
TRect OffsetRect(const TRect& r, int dx, int dy);

struct TSize {
  int cx = 0;
  int cy = 0;
};

enum class TFontStyle : uint8_t { Bold = 1, Italic = 2, Underline = 4 };
constexpr uint8_t SHIFTJIS_CHARSET_ = 128;

// A font as the window system creates it. Height < 0 is the character height in pixels (the cell
// height without internal leading), as CreateFont takes it.
struct TFont {
  std::string Name = "ＭＳ Ｐゴシック";
  int Height = -12;
  uint8_t Charset = SHIFTJIS_CHARSET_;
  TColor Color = clWindowText;
  uint8_t Style = 0;  // TFontStyle bits
  bool operator==(const TFont& o) const {
    return Name == o.Name && Height == o.Height && Charset == o.Charset && Color == o.Color &&
           Style == o.Style;
  }
  bool operator!=(const TFont& o) const { return !(*this == o); }
};

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

// Icons of the message dialogs.
enum class TSystemIcon { siNone, siWarning, siError, siInformation, siQuestion };

// Edge styles of the bevel.
enum class TEdgeKind { Lowered, Raised };

// Pixels of a 24-bit (blue, green, red) bitmap; stride may be negative for bottom-up memory.
struct TPixels24 {
  uint8_t* Bits = nullptr;  // top row
  int Width = 0;
  int Height = 0;
  std::ptrdiff_t Stride = 0;
  uint8_t* Row(int y) const { return Bits + Stride * y; }
};

// A 24-bit bitmap in plain memory, top-down, rows padded to 4 bytes.
class TBitmap24 {
 public:
  TBitmap24() = default;
  TBitmap24(int width, int height) { SetSize(width, height); }
  void SetSize(int width, int height);
  int Width() const { return width_; }
  int Height() const { return height_; }
  TPixels24 Pixels() { return TPixels24{data_.data(), width_, height_, stride_}; }
  // Colour at (x, y); -1 outside.
  TColor GetPixel(int x, int y) const;

 private:
  int width_ = 0;
  int height_ = 0;
  std::ptrdiff_t stride_ = 0;
  std::vector<uint8_t> data_;
};

class TCanvas;

// What the window system draws on a canvas: text and system icons. Coordinates are absolute pixels of
// the canvas's buffer; the clip rectangle is absolute too.
class TCanvasRenderer {
 public:
  virtual ~TCanvasRenderer() = default;
  virtual void TextRect(const TRect& rect, const TRect& clip, const std::string& text, const TFont& font,
                        TAlignment alignment, bool wordWrap) = 0;
  virtual void DrawIcon(int x, int y, TSystemIcon icon, const TRect& clip) = 0;
  virtual TSize TextExtent(const TFont& font, const std::string& text) = 0;
};

// Drawing surface with an origin and a clip rectangle (both in buffer pixels).
class TCanvas {
 public:
  explicit TCanvas(TPixels24 pixels, TCanvasRenderer* renderer = nullptr);

  // Moves the origin and narrows the clip to rect (given in current coordinates); returns the previous
  // state for Restore.
  struct TState {
    int OriginX, OriginY;
    TRect Clip;
  };
  TState Save() const { return TState{originX_, originY_, clip_}; }
  void Restore(const TState& s) {
    originX_ = s.OriginX;
    originY_ = s.OriginY;
    clip_ = s.Clip;
  }
  void Enter(const TRect& rect);
  // The clip rectangle in current coordinates.
  TRect ClipRect() const { return OffsetRect(clip_, -originX_, -originY_); }

  // The colour the surface shows for c (a 24-bit surface shows every RGB value). System colour values
  // are not resolved here: their low three bytes are taken as they are.
  TColor NearestColor(TColor c) const { return c & 0xFFFFFF; }
  void FillRect(const TRect& rect, TColor color);
  // Horizontal or vertical line of one pixel (end exclusive).
  void HLine(int x1, int x2, int y, TColor color);
  void VLine(int x, int y1, int y2, TColor color);
  // Copies a 24-bit bitmap to (x, y) unscaled.
  void Draw(int x, int y, const TPixels24& source);
  // Copies a 24-bit bitmap scaled (nearest pixel) into rect.
  void StretchDraw(const TRect& rect, const TPixels24& source);
  void TextRect(const TRect& rect, const std::string& text, const TFont& font, TAlignment alignment,
                bool wordWrap = false);
  void DrawIcon(int x, int y, TSystemIcon icon);
  TColor Pixel(int x, int y) const;  // -1 outside the buffer
  TCanvasRenderer* Renderer() const { return renderer_; }

 private:
  TPixels24 px_;
  TCanvasRenderer* renderer_;
  int originX_ = 0;
  int originY_ = 0;
  TRect clip_;
};

}  // namespace vr
