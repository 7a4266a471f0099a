// The gradient control painted behind the backdrop window.
#pragma once

#include <cstdint>

#include "framework/forms.h"

namespace vr {

enum TGradDirection : uint8_t {
  gdHorizontal = 0,  // vertical strips from left to right
  gdVertical = 1,    // horizontal strips from top to bottom
  gdHorzCenter = 2,  // vertical strips, StartColor in the middle, EndColor towards both sides
};

// A non-windowed control filled with GradStep + 2 colour bands from StartColor to EndColor.
class TGradBox : public TGraphicControl {
 public:
  explicit TGradBox(TComponent* owner);

  TColor StartColor() const { return startColor_; }
  TColor EndColor() const { return endColor_; }
  // The shared colour setter: index 1 stores StartColor, index 2 EndColor. Repaints and raises
  // OnChange, also when the value did not change.
  void SetColorByIndex(int index, TColor value);
  void SetStartColor(TColor value) { SetColorByIndex(1, value); }
  void SetEndColor(TColor value) { SetColorByIndex(2, value); }
  uint8_t GradStep() const { return gradStep_; }
  // Repaints and raises OnChange, also when the value did not change.
  void SetGradStep(uint8_t value);
  TGradDirection Direction() const { return direction_; }
  // Does nothing when the value is unchanged; otherwise repaints and raises OnChange.
  void SetDirection(TGradDirection value);

  TNotifyEvent OnChange;

  void Paint(TCanvas& canvas) override;

  // Band size and the colour of band i for the current properties (the painting uses these).
  int BandSize() const;
  TColor BandColor(int index, TColor start, TColor end) const;

 private:
  void Change();
  TColor startColor_ = clWhite;
  TColor endColor_ = clBlack;
  uint8_t gradStep_ = 128;
  TGradDirection direction_ = gdVertical;
};

}  // namespace vr
