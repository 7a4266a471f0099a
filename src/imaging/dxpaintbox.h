// The picture control: owns a bitmap and paints it on its parent, unscaled, centred or stretched.
#pragma once

#include "framework/forms.h"
#include "imaging/dibsfc.h"

namespace vr {

class TDXPaintBox : public TGraphicControl {
 public:
  explicit TDXPaintBox(TComponent* owner);

  // The owned bitmap, empty at creation. Call Invalidate after drawing into it.
  TDIBSurface& DIB() { return dib_; }
  const TDIBSurface& DIB() const { return dib_; }

  bool Stretch() const { return stretch_; }
  bool Center() const { return center_; }
  bool KeepAspect() const { return keepAspect_; }
  bool AutoStretch() const { return autoStretch_; }
  int ViewWidth() const { return viewWidth_; }
  int ViewHeight() const { return viewHeight_; }
  // Setting Stretch or Center to a different value repaints; the same value does nothing.
  void SetStretch(bool v);
  void SetCenter(bool v);
  void SetKeepAspect(bool v);
  void SetAutoStretch(bool v);
  // A view size above 0 stands in for the bitmap's size in the sizing rules (0 keeps the bitmap's).
  void SetViewWidth(int v);
  void SetViewHeight(int v);

  // Rectangle (client coordinates) the bitmap is painted into; empty while the bitmap is empty.
  TRect PaintRect() const;
  void Paint(TCanvas& canvas) override;

 private:
  TDIBSurface dib_;
  bool stretch_ = false;
  bool center_ = false;
  bool keepAspect_ = false;
  bool autoStretch_ = false;
  int viewWidth_ = 0;
  int viewHeight_ = 0;
};

}  // namespace vr
