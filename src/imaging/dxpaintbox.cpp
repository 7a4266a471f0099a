#include "imaging/dxpaintbox.h"

#include <algorithm>
#include <cmath>

namespace vr {

TDXPaintBox::TDXPaintBox(TComponent* owner) : TGraphicControl(owner) { SetBoundsQuiet(0, 0, 105, 105); }

void TDXPaintBox::SetStretch(bool v) {
  if (v == stretch_) return;
  stretch_ = v;
  Invalidate();
}

void TDXPaintBox::SetCenter(bool v) {
  if (v == center_) return;
  center_ = v;
  Invalidate();
}

void TDXPaintBox::SetKeepAspect(bool v) {
  if (v == keepAspect_) return;
  keepAspect_ = v;
  Invalidate();
}

void TDXPaintBox::SetAutoStretch(bool v) {
  if (v == autoStretch_) return;
  autoStretch_ = v;
  Invalidate();
}

void TDXPaintBox::SetViewWidth(int v) {
  if (v == viewWidth_) return;
  viewWidth_ = v;
  Invalidate();
}

void TDXPaintBox::SetViewHeight(int v) {
  if (v == viewHeight_) return;
  viewHeight_ = v;
  Invalidate();
}

TRect TDXPaintBox::PaintRect() const {
  if (dib_.Empty()) return TRect{};
  int bw = dib_.Width(), bh = dib_.Height();
  // The view size, where given, is the size the rules below start from.
  if (viewWidth_ > 0) bw = viewWidth_;
  if (viewHeight_ > 0) bh = viewHeight_;
  const int cw = ClientWidth(), ch = ClientHeight();
  int w = bw, h = bh;
  auto aspectFit = [&]() {
    double s = std::min(static_cast<double>(cw) / bw, static_cast<double>(ch) / bh);
    w = static_cast<int>(std::nearbyint(bw * s));
    h = static_cast<int>(std::nearbyint(bh * s));
  };
  if (autoStretch_) {
    if (!(cw >= bw && ch >= bh)) aspectFit();
  } else if (!stretch_) {
    // natural size
  } else if (!keepAspect_) {
    w = cw;
    h = ch;
  } else {
    aspectFit();
  }
  int x = 0, y = 0;
  if (center_) {
    x = (cw - w) / 2;  // truncates toward zero
    y = (ch - h) / 2;
  }
  return Bounds(x, y, w, h);
}

void TDXPaintBox::Paint(TCanvas& canvas) {
  TRect r = PaintRect();
  if (r.IsEmpty()) return;
  const TDIB* source = &dib_;
  TDIBSurface converted;
  bool plain24 = dib_.BitCount() == 24 && dib_.RedMask() == 0xFF0000 && dib_.GreenMask() == 0xFF00 &&
                 dib_.BlueMask() == 0xFF;
  if (!plain24) {
    ConvertSurfaceTo24(dib_, converted);
    source = &converted;
  }
  TPixels24 pixels{const_cast<uint8_t*>(source->Bits()), source->Width(), source->Height(),
                   source->RowStride()};
  if (r.Width() == source->Width() && r.Height() == source->Height())
    canvas.Draw(r.Left, r.Top, pixels);
  else
    canvas.StretchDraw(r, pixels);
}

}  // namespace vr
