// Pixels of the gradient control and the picture control.
#include <gtest/gtest.h>

#include "framework/controls.h"
#include "framework/headless/headless.h"
#include "imaging/dxpaintbox.h"
#include "startup/gradbox.h"

namespace vr {
namespace {

constexpr TColor kBackground = 0x123456;

// Paints a gradient box of w x h on a background and returns the pixels.
TBitmap24 PaintGrad(TGradBox& box, int w, int h) {
  box.SetBounds(0, 0, w, h);
  TBitmap24 bitmap(w, h);
  TCanvas canvas(bitmap.Pixels());
  canvas.FillRect(TRect{0, 0, w, h}, kBackground);
  box.Paint(canvas);
  return bitmap;
}

TEST(GradBox, VerticalBandsOfTheBackdrop) {
  THeadlessSession session;
  TGradBox box(nullptr);
  EXPECT_EQ(box.Width(), 128);
  EXPECT_EQ(box.Height(), 128);
  EXPECT_EQ(box.StartColor(), clWhite);
  EXPECT_EQ(box.EndColor(), clBlack);
  EXPECT_EQ(box.GradStep(), 128);
  EXPECT_EQ(box.Direction(), gdVertical);
  box.SetStartColor(MakeColor(0, 0, 255));
  box.SetEndColor(MakeColor(0, 0, 128));
  TBitmap24 px = PaintGrad(box, 444, 283);
  EXPECT_EQ(box.BandSize(), 2);
  EXPECT_EQ(px.GetPixel(0, 0), MakeColor(0, 0, 255));
  EXPECT_EQ(px.GetPixel(443, 1), MakeColor(0, 0, 255));
  EXPECT_EQ(px.GetPixel(10, 2), MakeColor(0, 0, 254));    // 255 + round(-127 / 129)
  EXPECT_EQ(px.GetPixel(10, 257), MakeColor(0, 0, 129));  // band 128: 255 + round(-126.02)
  EXPECT_EQ(px.GetPixel(10, 258), MakeColor(0, 0, 128));  // band 129 is EndColor
  // Rows 260 to 282 are the leftover strip, filled with the last band's colour.
  for (int y = 258; y < 283; ++y) EXPECT_EQ(px.GetPixel(200, y), MakeColor(0, 0, 128)) << y;

  // A leftover of one row (not wider than a band) stays unpainted.
  px = PaintGrad(box, 50, 261);
  EXPECT_EQ(px.GetPixel(5, 259), MakeColor(0, 0, 128));
  EXPECT_EQ(px.GetPixel(5, 260), kBackground);
}

TEST(GradBox, BandSizeRoundsHalfToEvenAndNeverDropsToZero) {
  THeadlessSession session;
  TGradBox box(nullptr);
  box.SetGradStep(1);                    // three bands: white, grey, black
  TBitmap24 px = PaintGrad(box, 10, 5);  // 5 / 2 = 2.5 -> 2
  EXPECT_EQ(box.BandSize(), 2);
  EXPECT_EQ(px.GetPixel(0, 1), clWhite);
  EXPECT_EQ(px.GetPixel(0, 2), MakeColor(127, 127, 127));  // 255 + round(-127.5) = 255 - 128
  EXPECT_EQ(px.GetPixel(0, 4), clBlack);
  px = PaintGrad(box, 10, 7);  // 3.5 -> 4
  EXPECT_EQ(box.BandSize(), 4);
  EXPECT_EQ(px.GetPixel(0, 3), clWhite);
  EXPECT_EQ(px.GetPixel(0, 4), MakeColor(127, 127, 127));

  // Heights below GradStep + 1: one row per band, the rest clipped.
  box.SetGradStep(128);
  px = PaintGrad(box, 4, 64);  // 64 / 129 rounds to 0, taken as 1
  EXPECT_EQ(box.BandSize(), 1);
  EXPECT_EQ(px.GetPixel(0, 0), clWhite);
  EXPECT_EQ(px.GetPixel(0, 63), box.BandColor(63, clWhite, clBlack));
  EXPECT_EQ(px.GetPixel(3, 63), MakeColor(130, 130, 130));  // 255 + round(-255 / 129 * 63) = 255 - 125
  px = PaintGrad(box, 4, 100);                              // 0.775 -> 1
  EXPECT_EQ(box.BandSize(), 1);
  EXPECT_EQ(px.GetPixel(0, 99), box.BandColor(99, clWhite, clBlack));
}

TEST(GradBox, HorizontalAndCentredStrips) {
  THeadlessSession session;
  TGradBox box(nullptr);
  box.SetDirection(gdHorizontal);
  TBitmap24 px = PaintGrad(box, 444, 10);  // b = round(3.44) = 3; 130 bands end at x = 390
  EXPECT_EQ(box.BandSize(), 3);
  EXPECT_EQ(px.GetPixel(0, 9), clWhite);
  EXPECT_EQ(px.GetPixel(387, 0), clBlack);
  EXPECT_EQ(px.GetPixel(443, 5), clBlack);  // leftover filled

  box.SetDirection(gdHorzCenter);
  box.SetGradStep(4);  // k = 2, b = round(62 / 5) = 12
  px = PaintGrad(box, 62, 3);
  EXPECT_EQ(box.BandSize(), 12);
  EXPECT_EQ(px.GetPixel(0, 0), MakeColor(85, 85, 85));  // d = 2: 255 + round(-170)
  EXPECT_EQ(px.GetPixel(12, 0), MakeColor(170, 170, 170));
  EXPECT_EQ(px.GetPixel(25, 2), clWhite);  // band k has StartColor
  EXPECT_EQ(px.GetPixel(36, 0), MakeColor(170, 170, 170));
  EXPECT_EQ(px.GetPixel(48, 0), MakeColor(85, 85, 85));
  EXPECT_EQ(px.GetPixel(60, 0), clBlack);  // band n + 1 = EndColor for an even n
  // Nothing beyond the last band: 130 strips of 3 end at x = 390.
  box.SetGradStep(128);
  px = PaintGrad(box, 444, 3);
  EXPECT_EQ(px.GetPixel(389, 0), clBlack);
  EXPECT_EQ(px.GetPixel(390, 0), kBackground);
  box.SetGradStep(4);
  px = PaintGrad(box, 100, 2);  // b = 20: six bands reach x = 120, all clipped at 100
  EXPECT_EQ(px.GetPixel(99, 0), box.BandColor(4, clWhite, clBlack));

  // An odd step count overshoots EndColor at the last band; the sum wraps in one byte.
  box.SetStartColor(MakeColor(0, 0, 0));
  box.SetEndColor(MakeColor(200, 0, 0));
  box.SetGradStep(3);  // k = 1, band 4 has d = 3: 0 + round(200 / 2 * 3) = 300 -> 44
  EXPECT_EQ(box.BandColor(4, box.StartColor(), box.EndColor()), MakeColor(44, 0, 0));
  EXPECT_EQ(box.BandColor(1, box.StartColor(), box.EndColor()), MakeColor(0, 0, 0));
}

TEST(GradBox, ChangeNotifications) {
  THeadlessSession session;
  TGradBox box(nullptr);
  int changes = 0;
  box.OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, &box);
    ++changes;
  };
  box.SetStartColor(clWhite);  // same value: still raised
  box.SetEndColor(clBlack);
  box.SetGradStep(128);
  EXPECT_EQ(changes, 3);
  box.SetDirection(gdVertical);  // same value: nothing
  EXPECT_EQ(changes, 3);
  box.SetDirection(gdHorzCenter);
  EXPECT_EQ(changes, 4);
  box.SetColorByIndex(2, clBlue);
  EXPECT_EQ(box.EndColor(), clBlue);
  EXPECT_EQ(box.StartColor(), clWhite);
  EXPECT_EQ(changes, 5);
}

// A 24-bit picture whose pixel (x, y) has red x % 256, green y % 256, blue 7.
void FillPattern(TDIBSurface& dib, int w, int h) {
  dib.SetSize(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) dib.SetPixel(x, y, 7 + (y % 256) * 256 + (x % 256) * 65536);
}
TColor PatternAt(int x, int y) { return MakeColor(x % 256, y % 256, 7); }

TBitmap24 PaintBoxPixels(TDXPaintBox& box, int w, int h) {
  box.SetBounds(0, 0, w, h);
  TBitmap24 bitmap(w, h);
  TCanvas canvas(bitmap.Pixels());
  canvas.FillRect(TRect{0, 0, w, h}, kBackground);
  box.Paint(canvas);
  return bitmap;
}

TEST(DXPaintBox, NaturalSizeCentredAndCut) {
  THeadlessSession session;
  TDXPaintBox box(nullptr);
  TBitmap24 px = PaintBoxPixels(box, 20, 20);  // empty bitmap: nothing painted
  EXPECT_TRUE(box.PaintRect().IsEmpty());
  EXPECT_EQ(px.GetPixel(0, 0), kBackground);

  FillPattern(box.DIB(), 100, 80);
  px = PaintBoxPixels(box, 265, 230);
  EXPECT_EQ(box.PaintRect(), Bounds(0, 0, 100, 80));  // neither stretched nor centred: top-left
  EXPECT_EQ(px.GetPixel(99, 79), PatternAt(99, 79));
  EXPECT_EQ(px.GetPixel(100, 0), kBackground);
  box.SetCenter(true);
  px = PaintBoxPixels(box, 265, 230);
  EXPECT_EQ(box.PaintRect(), Bounds(82, 75, 100, 80));
  EXPECT_EQ(px.GetPixel(82, 75), PatternAt(0, 0));
  EXPECT_EQ(px.GetPixel(181, 154), PatternAt(99, 79));
  EXPECT_EQ(px.GetPixel(81, 75), kBackground);  // only the picture's rectangle is painted
  EXPECT_EQ(px.GetPixel(182, 154), kBackground);

  // Larger than the box: the origin goes negative (truncated toward zero), cut on both sides.
  FillPattern(box.DIB(), 301, 200);
  px = PaintBoxPixels(box, 100, 100);
  EXPECT_EQ(box.PaintRect(), Bounds(-100, -50, 301, 200));  // (100 - 301) / 2 = -100
  EXPECT_EQ(px.GetPixel(0, 0), PatternAt(100, 50));
  EXPECT_EQ(px.GetPixel(99, 99), PatternAt(199, 149));
}

TEST(DXPaintBox, StretchAspectAndAutoStretch) {
  THeadlessSession session;
  TDXPaintBox box(nullptr);
  FillPattern(box.DIB(), 320, 240);
  box.SetStretch(true);
  TBitmap24 px = PaintBoxPixels(box, 600, 400);
  EXPECT_EQ(box.PaintRect(), Bounds(0, 0, 600, 400));  // aspect ratio not kept
  EXPECT_EQ(px.GetPixel(0, 0), PatternAt(0, 0));
  EXPECT_EQ(px.GetPixel(599, 399), PatternAt(319, 239));
  EXPECT_EQ(px.GetPixel(300, 200), PatternAt(160, 120));
  box.SetKeepAspect(true);
  box.SetCenter(true);
  px = PaintBoxPixels(box, 600, 400);
  EXPECT_EQ(box.PaintRect(), Bounds(33, 0, 533, 400));  // 320 * 5 / 3 = 533.3
  EXPECT_EQ(px.GetPixel(32, 200), kBackground);
  EXPECT_EQ(px.GetPixel(33, 0), PatternAt(0, 0));

  TDXPaintBox autoBox(nullptr);
  autoBox.SetAutoStretch(true);
  FillPattern(autoBox.DIB(), 400, 200);
  PaintBoxPixels(autoBox, 100, 100);
  EXPECT_EQ(autoBox.PaintRect(), Bounds(0, 0, 100, 50));
  FillPattern(autoBox.DIB(), 50, 40);  // fits: natural size
  PaintBoxPixels(autoBox, 100, 100);
  EXPECT_EQ(autoBox.PaintRect(), Bounds(0, 0, 50, 40));
  // A view size stands in for the bitmap's size.
  autoBox.SetAutoStretch(false);
  autoBox.SetViewWidth(100);
  autoBox.SetViewHeight(80);
  px = PaintBoxPixels(autoBox, 100, 100);
  EXPECT_EQ(autoBox.PaintRect(), Bounds(0, 0, 100, 80));
  EXPECT_EQ(px.GetPixel(99, 79), PatternAt(49, 39));
}

TEST(DXPaintBox, PaletteBitmapsAndTheBackdropComposition) {
  THeadlessSession session;
  auto* form = new TForm(Application);
  form->SetClientSize(300, 200);
  auto* grad = new TGradBox(form);
  grad->SetParent(form);
  grad->SetAlign(TAlign::alClient);
  grad->SetStartColor(MakeColor(0, 0, 255));
  grad->SetEndColor(MakeColor(0, 0, 128));
  auto* box = new TDXPaintBox(form);
  box->SetParent(form);
  box->SetAlign(TAlign::alClient);
  box->SetCenter(true);
  // An 8-bit picture: colours come through its palette.
  box->DIB().ColorTable[1] = TRGBQuad{10, 20, 30, 0};
  box->DIB().SetSize(20, 10, 8);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) box->DIB().SetPixel(x, y, 1);
  auto* label = new TLabel(form);
  label->SetParent(form);
  label->SetAutoSize(false);
  label->SetColor(clBlack);
  label->SetBounds(0, 180, 300, 12);
  TBitmap24 px = RenderForm(*form);
  EXPECT_EQ(grad->BoundsRect(), Bounds(0, 0, 300, 200));
  EXPECT_EQ(px.GetPixel(150, 100), MakeColor(30, 20, 10));  // picture, centred
  EXPECT_EQ(px.GetPixel(0, 0), MakeColor(0, 0, 255));       // gradient around it
  EXPECT_EQ(px.GetPixel(139, 94), grad->BandColor(47, MakeColor(0, 0, 255), MakeColor(0, 0, 128)));
  EXPECT_EQ(px.GetPixel(5, 185), clBlack);  // opaque label on top
}

}  // namespace
}  // namespace vr
