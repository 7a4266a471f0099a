#include "framework/canvas.h"

#include <algorithm>
#include <cstring>

namespace vr {

TRect IntersectRect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
  if (r.IsEmpty()) return TRect{};
  return r;
}

TRect OffsetRect(const TRect& r, int dx, int dy) {
  return TRect{r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
}

void TBitmap24::SetSize(int width, int height) {
  if (width <= 0 || height <= 0) {
    width_ = height_ = 0;
    stride_ = 0;
    data_.clear();
    return;
  }
  width_ = width;
  height_ = height;
  stride_ = (static_cast<std::ptrdiff_t>(width) * 3 + 3) & ~std::ptrdiff_t(3);
  data_.assign(static_cast<size_t>(stride_) * static_cast<size_t>(height), 0);
}

TColor TBitmap24::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return -1;
  const uint8_t* p = data_.data() + stride_ * y + x * 3;
  return MakeColor(p[2], p[1], p[0]);
}

TCanvas::TCanvas(TPixels24 pixels, TCanvasRenderer* renderer) : px_(pixels), renderer_(renderer) {
  clip_ = TRect{0, 0, px_.Width, px_.Height};
}

void TCanvas::Enter(const TRect& rect) {
  TRect abs = OffsetRect(rect, originX_, originY_);
  clip_ = IntersectRect(clip_, abs);
  originX_ = abs.Left;
  originY_ = abs.Top;
}

void TCanvas::FillRect(const TRect& rect, TColor color) {
  TRect r = IntersectRect(OffsetRect(rect, originX_, originY_), clip_);
  if (r.IsEmpty()) return;
  uint8_t b = static_cast<uint8_t>(GetBValue(color)), g = static_cast<uint8_t>(GetGValue(color)),
          red = static_cast<uint8_t>(GetRValue(color));
  for (int y = r.Top; y < r.Bottom; ++y) {
    uint8_t* p = px_.Row(y) + r.Left * 3;
    for (int x = r.Left; x < r.Right; ++x) {
      *p++ = b;
      *p++ = g;
      *p++ = red;
    }
  }
}

void TCanvas::HLine(int x1, int x2, int y, TColor color) { FillRect(TRect{x1, y, x2, y + 1}, color); }
void TCanvas::VLine(int x, int y1, int y2, TColor color) { FillRect(TRect{x, y1, x + 1, y2}, color); }

void TCanvas::Draw(int x, int y, const TPixels24& source) {
  TRect dst = OffsetRect(TRect{x, y, x + source.Width, y + source.Height}, originX_, originY_);
  TRect r = IntersectRect(dst, clip_);
  if (r.IsEmpty()) return;
  for (int row = r.Top; row < r.Bottom; ++row) {
    const uint8_t* s = source.Row(row - dst.Top) + (r.Left - dst.Left) * 3;
    std::memcpy(px_.Row(row) + r.Left * 3, s, static_cast<size_t>(r.Width()) * 3);
  }
}

void TCanvas::StretchDraw(const TRect& rect, const TPixels24& source) {
  if (rect.IsEmpty() || source.Width <= 0 || source.Height <= 0) return;
  TRect dst = OffsetRect(rect, originX_, originY_);
  TRect r = IntersectRect(dst, clip_);
  if (r.IsEmpty()) return;
  const int64_t dw = dst.Width(), dh = dst.Height();
  for (int row = r.Top; row < r.Bottom; ++row) {
    int sy = static_cast<int>((row - dst.Top) * int64_t(source.Height) / dh);
    const uint8_t* srow = source.Row(sy);
    uint8_t* d = px_.Row(row) + r.Left * 3;
    for (int col = r.Left; col < r.Right; ++col) {
      int sx = static_cast<int>((col - dst.Left) * int64_t(source.Width) / dw);
      const uint8_t* s = srow + sx * 3;
      *d++ = s[0];
      *d++ = s[1];
      *d++ = s[2];
    }
  }
}

void TCanvas::TextRect(const TRect& rect, const std::string& text, const TFont& font, TAlignment alignment,
                       bool wordWrap) {
  if (!renderer_) return;
  TRect abs = OffsetRect(rect, originX_, originY_);
  TRect clip = IntersectRect(abs, clip_);
  if (clip.IsEmpty()) return;
  renderer_->TextRect(abs, clip, text, font, alignment, wordWrap);
}

void TCanvas::DrawIcon(int x, int y, TSystemIcon icon) {
  if (renderer_) renderer_->DrawIcon(x + originX_, y + originY_, icon, clip_);
}

TColor TCanvas::Pixel(int x, int y) const {
  x += originX_;
  y += originY_;
  if (x < 0 || y < 0 || x >= px_.Width || y >= px_.Height) return -1;
  const uint8_t* p = px_.Row(y) + x * 3;
  return MakeColor(p[2], p[1], p[0]);
}

}  // namespace vr
