#include "startup/gradbox.h"

#include <cmath>
#include <cstdlib>

namespace vr {

TGradBox::TGradBox(TComponent* owner) : TGraphicControl(owner) { SetBoundsQuiet(0, 0, 128, 128); }

void TGradBox::Change() {
  Invalidate();
  if (OnChange) OnChange(this);
}

void TGradBox::SetColorByIndex(int index, TColor value) {
  if (index == 1)
    startColor_ = value;
  else if (index == 2)
    endColor_ = value;
  Change();
}

void TGradBox::SetGradStep(uint8_t value) {
  gradStep_ = value;
  Change();
}

void TGradBox::SetDirection(TGradDirection value) {
  if (value == direction_) return;
  direction_ = value;
  Change();
}

int TGradBox::BandSize() const {
  // Rounded to nearest, ties to even (the default rounding mode of nearbyint).
  long double extent = direction_ == gdVertical ? Height() : Width();
  int b = static_cast<int>(std::nearbyintl(extent / (gradStep_ + 1)));
  return b == 0 ? 1 : b;
}

TColor TGradBox::BandColor(int index, TColor start, TColor end) const {
  const int n = gradStep_;
  long double divisor = n + 1, distance = index;
  if (direction_ == gdHorzCenter) {
    int k = n / 2;
    divisor = k + 1;
    distance = std::abs(k - index);
  }
  auto channel = [&](int s, int e) {
    long double step = static_cast<long double>(e - s) / divisor * distance;
    long long v = s + static_cast<long long>(std::nearbyintl(step));
    return static_cast<int>(v & 0xFF);  // stored in one byte
  };
  return MakeColor(channel(GetRValue(start), GetRValue(end)), channel(GetGValue(start), GetGValue(end)),
                   channel(GetBValue(start), GetBValue(end)));
}

void TGradBox::Paint(TCanvas& canvas) {
  const int n = gradStep_, w = Width(), h = Height();
  TColor start = canvas.NearestColor(startColor_), end = canvas.NearestColor(endColor_);
  const int b = BandSize();
  int x = 0, y = 0;
  TColor last = start;
  for (int i = 0; i <= n + 1; ++i) {
    last = BandColor(i, start, end);
    if (direction_ == gdVertical) {
      canvas.FillRect(TRect{x, y, w, y + b}, last);
      y += b;
    } else {
      canvas.FillRect(TRect{x, y, x + b, h}, last);
      x += b;
    }
  }
  // The leftover strip is filled only when it is wider than one band.
  if (direction_ == gdVertical) {
    if (y + b < h) canvas.FillRect(TRect{x, y, w, h}, last);
  } else if (direction_ == gdHorizontal) {
    if (x + b < w) canvas.FillRect(TRect{x, y, w, h}, last);
  }
}

}  // namespace vr
