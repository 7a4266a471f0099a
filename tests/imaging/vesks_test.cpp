#include "imaging/vesks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "framework/classes.h"
#include "imaging/jpegplane.h"
#include "imaging/vesktestutil.h"

namespace vr {
namespace {

using vsktest::Bytes;
using vsktest::Frame;
using vsktest::Image;
using vsktest::Layer;

TEST(VeskDecode, EveryDepthInBothFormsAndStoredOrZlibRows) {
  const int depths[] = {1, 4, 8, 15, 16, 24, 32};
  const Image::Form forms[] = {Image::Xml, Image::Binary};
  for (int depth : depths) {
    for (Image::Form form : forms) {
      for (uint8_t comp : {0, 1}) {
        SCOPED_TRACE("depth " + std::to_string(depth) + " form " + std::to_string(form) + " comp " +
                     std::to_string(comp));
        Image img = OneLayer(form, depth, 37, 11, 100 + depth);
        img.compType = comp;
        img.blockWidth = 0;
        img.blockHeight = 32;  // one of the two at 0: whole rows
        auto list = Load(vsktest::Build(img), 0, false, true);
        ASSERT_EQ(list->Count(), 1);
        const TVeskFrame& frame = *list->GetFrame(0);
        EXPECT_EQ(frame.Surface().BitDepth(), depth);
        EXPECT_EQ(frame.Surface().Width(), 37);
        EXPECT_EQ(frame.Surface().Height(), 11);
        ASSERT_EQ(frame.Count(), 1);
        const TDIBSurface& layer = frame.Layers(0)->Surface();
        // Whole rows copy the padding too.
        ASSERT_EQ(layer.BitsSize(), img.frames[0].layers[0].rows.size());
        EXPECT_EQ(0, std::memcmp(layer.Bits(), img.frames[0].layers[0].rows.data(), layer.BitsSize()));
        ExpectPixels(frame.Surface(), img.frames[0].layers[0].rows, vsktest::BitCountOf(depth));
        if (depth <= 8) {
          for (size_t i = 0; i < img.frames[0].palette.size(); ++i) {
            const uint32_t c = img.frames[0].palette[i];
            EXPECT_EQ(frame.Surface().ColorTable[i].rgbRed, c & 0xFF);
            EXPECT_EQ(frame.Surface().ColorTable[i].rgbGreen, (c >> 8) & 0xFF);
            EXPECT_EQ(frame.Surface().ColorTable[i].rgbBlue, (c >> 16) & 0xFF);
          }
        }
      }
    }
  }
}

TEST(VeskDecode, PermutedRowsFollowTheIdentificationCode) {
  for (Image::Form form : {Image::Xml, Image::Binary}) {
    for (uint8_t comp : {0, 1}) {
      Image img = OneLayer(form, 24, 9, 23, 7);
      img.compType = comp;
      img.randomized = true;
      img.seed = 0xDEADBEEF;
      const Bytes file = vsktest::Build(img);
      auto list = Load(file, 0xDEADBEEF, false, true);
      ExpectPixels(list->GetFrame(0)->Layers(0)->Surface(), img.frames[0].layers[0].rows, 24);
      // Another code puts the rows elsewhere: the order really comes from the code.
      auto other = Load(file, 12345, false, true);
      const TDIBSurface& wrong = other->GetFrame(0)->Layers(0)->Surface();
      EXPECT_NE(0, std::memcmp(wrong.Bits(), img.frames[0].layers[0].rows.data(), wrong.BitsSize()));
      // Code 0 deals the identity, so the flag changes nothing then.
      img.seed = 0;
      auto plain = Load(vsktest::Build(img), 0, false, true);
      ExpectPixels(plain->GetFrame(0)->Layers(0)->Surface(), img.frames[0].layers[0].rows, 24);
    }
  }
}

// Two frames, two layers each; blocks of every kind in colour and alpha planes.
Image BlockImage(int depth, uint8_t comp, bool randomized) {
  Image img;
  img.form = Image::Binary;
  img.compType = comp;
  img.blockWidth = 32;
  img.blockHeight = 32;
  img.randomized = randomized;
  img.seed = 0x1234567;
  img.notFillBG = true;
  for (int f = 0; f < 2; ++f) {
    Frame frame = OneLayer(Image::Binary, depth, 100, 50, 10 + f).frames[0];
    frame.layers.push_back(frame.layers[0]);
    frame.layers[1].rows = vsktest::Noise(frame.layers[1].rows.size(), 99 + f);
    for (Layer& l : frame.layers) l.alphaRows = vsktest::Noise(vsktest::RowSize(100, 8) * 50, 7 + f);
    img.frames.push_back(frame);
  }
  // 4 x 2 blocks; the last column is 4 pixels wide, the last block row 18 pixels high.
  using R = vsktest::BlockRef;
  img.frames[0].layers[0].colorIndex = {R{-1, 0}, R{-2, 0}, R{-1, 0}, R{-1, 0},
                                        R{-2, 2}, R{-1, 0}, R{-2, 0}, R{-2, 3}};
  img.frames[0].layers[0].alphaIndex = {R{-1, 0}, R{-1, 0}, R{-2, 1}, R{-1, 0},
                                        R{-1, 0}, R{-2, 4}, R{-1, 0}, R{-1, 0}};
  img.frames[0].layers[1].colorIndex = {R{0, 0}, R{-1, 0}, R{0, 0}, R{-2, 1}, R{-1, 0},
                                        R{0, 0}, R{-1, 0}, R{0, 0}};  // block 3 repeats the wider block 1
  img.frames[0].layers[1].alphaIndex = {R{0, 0},  R{0, 0},  R{-1, 0}, R{-1, 0},
                                        R{-1, 0}, R{-1, 0}, R{0, 0},  R{0, 0}};
  img.frames[1].layers[0].colorIndex = {R{0, 1},  R{0, 0},  R{-1, 0}, R{-1, 0},
                                        R{-1, 0}, R{-2, 4}, R{0, 1},  R{0, 0}};
  img.frames[1].layers[1].colorIndex = {R{1, 0},  R{0, 1},  R{-1, 0}, R{-2, 2},
                                        R{-1, 0}, R{-1, 0}, R{-1, 0}, R{1, 0}};
  vsktest::ResolveBlocks(img);
  return img;
}

TEST(VeskDecode, BlockLayoutWithEveryReferenceKind) {
  for (int depth : {1, 4, 8, 16, 24, 32}) {
    for (uint8_t comp : {0, 1}) {
      for (bool randomized : {false, true}) {
        SCOPED_TRACE("depth " + std::to_string(depth) + " comp " + std::to_string(comp) + " random " +
                     std::to_string(randomized));
        Image img = BlockImage(depth, comp, randomized);
        auto list = Load(vsktest::Build(img), img.seed, false, true);
        ASSERT_EQ(list->Count(), 2);
        for (int f = 0; f < 2; ++f) {
          for (int l = 0; l < 2; ++l) {
            const TDIBSurface& s = list->GetFrame(f)->Layers(l)->Surface();
            ExpectPixels(s, img.frames[f].layers[l].rows, vsktest::BitCountOf(depth));
            ASSERT_NE(s.AlphaPlane(), nullptr);
            ExpectPixels(*s.AlphaPlane(), img.frames[f].layers[l].alphaRows, 8);
          }
        }
      }
    }
  }
  // The randomized index really is read in permuted order: another code gives other pixels or an error.
  Image img = BlockImage(24, 0, true);
  const Bytes file = vsktest::Build(img);
  bool differs = false;
  try {
    auto list = Load(file, 777, false, true);
    const TDIBSurface& s = list->GetFrame(0)->Layers(0)->Surface();
    differs = std::memcmp(s.Bits(), img.frames[0].layers[0].rows.data(), s.BitsSize()) != 0;
  } catch (const Exception&) {
    differs = true;
  }
  EXPECT_TRUE(differs);
}

TEST(VeskDecode, LegacyEncodingAndItsIdentificationCodeError) {
  // Binary "Vesk101": zlib rows top first, and stored rows in permuted order.
  Image img = OneLayer(Image::Binary, 8, 13, 17, 3);
  img.signatureVersion = img.version = 101;
  img.seed = 4242;
  img.frames[0].layers.push_back(img.frames[0].layers[0]);
  img.frames[0].layers[1].rows = vsktest::Noise(img.frames[0].layers[1].rows.size(), 5);
  img.frames[0].layers[1].legacyStored = true;
  img.frames[0].layers[1].alphaOn = true;
  img.frames[0].layers[1].alphaRows = vsktest::Noise(vsktest::RowSize(13, 8) * 17, 6);
  auto list = Load(vsktest::Build(img), 4242, false, true);
  EXPECT_EQ(list->Version, 101);
  ExpectPixels(list->GetFrame(0)->Layers(0)->Surface(), img.frames[0].layers[0].rows, 8);
  ExpectPixels(list->GetFrame(0)->Layers(1)->Surface(), img.frames[0].layers[1].rows, 8);
  ASSERT_TRUE(list->GetFrame(0)->Layers(1)->Surface().HasAlpha());
  ExpectPixels(*list->GetFrame(0)->Layers(1)->Surface().AlphaPlane(), img.frames[0].layers[1].alphaRows, 8);
  EXPECT_TRUE(list->GetFrame(0)->Layers(1)->AlphaOn);

  // A record of version 102 or below with the permutation flag needs a code for stored rows; zlib rows do
  // not.
  for (Image::Form form : {Image::Xml, Image::Binary}) {
    Image legacy = OneLayer(form, 24, 6, 5, 8);
    legacy.version = 102;  // the binary signature stays 107, the record governs the encoding
    legacy.randomized = true;
    legacy.frames[0].layers[0].legacyStored = true;
    EXPECT_EQ(ErrorOf(vsktest::Build(legacy), 0), "識別コードを設定してください");
    legacy.seed = 99;
    auto ok = Load(vsktest::Build(legacy), 99, false, true);
    ExpectPixels(ok->GetFrame(0)->Layers(0)->Surface(), legacy.frames[0].layers[0].rows, 24);
    legacy.frames[0].layers[0].legacyStored = false;
    EXPECT_EQ(ErrorOf(vsktest::Build(legacy), 0), "");
  }
}

TEST(VeskDecode, OldestBinaryShapesAndBackgroundByVersion) {
  // No signature: frame count, one unused byte, frames; layers without the alpha switch and alpha length.
  Image img = OneLayer(Image::NoSignature, 24, 5, 4, 1);
  img.version = 0;
  img.frames.push_back(OneLayer(Image::NoSignature, 24, 3, 2, 2).frames[0]);
  auto list = Load(vsktest::Build(img), 0, false, true);
  EXPECT_EQ(list->Version, 0);
  ASSERT_EQ(list->Count(), 2);
  ExpectPixels(list->GetFrame(1)->Surface(), img.frames[1].layers[0].rows, 24);
  EXPECT_FALSE(list->GetFrame(0)->Layers(0)->AlphaOn);

  // "Vesk102" carries a background colour, "Vesk101" leaves the list's as it was; below 105 the bottom
  // layer's transparent colour always shows the background.
  for (int version : {101, 102}) {
    Image v = OneLayer(Image::Binary, 24, 4, 1, 3);
    v.signatureVersion = v.version = version;
    v.bgColor = 0x0000FF;  // red
    v.frames[0].layers[0].rows = Bytes(12, 0);
    v.frames[0].layers[0].trans = 0;
    TVeskFrameList frames(0);
    frames.BGColor = 0x00FF00;
    TMemoryStream stream;
    const Bytes file = vsktest::Build(v);
    stream.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
    stream.SetPosition(0);
    frames.LoadFromStream(stream, false, false, false);
    EXPECT_FALSE(frames.NotFillBG);
    EXPECT_EQ(frames.GetFrame(0)->Surface().GetPixel(2, 0), version == 102 ? 0xFF0000u : 0x00FF00u);
  }
}

TEST(VeskDecode, JpegColourPlanes) {
  const int w = 40, h = 24;
  Bytes rgb(w * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(y * w + x) * 3];
      p[0] = static_cast<uint8_t>(x * 6);
      p[1] = static_cast<uint8_t>(y * 10);
      p[2] = static_cast<uint8_t>(200 - x * 2);
    }
  }
  const Bytes jpeg = vsktest::EncodeJpeg(rgb, w, h, 100);
  const Bytes progressive = vsktest::EncodeJpeg(rgb, w, h, 100, true);
  for (int depth : {16, 15, 24, 32}) {
    SCOPED_TRACE(depth);
    Image img = OneLayer(Image::Xml, depth, w, h, 1);
    img.compType = 2;
    img.randomized = true;  // the alpha plane of a JPEG image is never permuted
    img.seed = 31337;
    img.blockWidth = img.blockHeight = 16;  // nor in blocks
    img.frames[0].layers[0].rawColor = depth == 24 ? progressive : jpeg;
    img.frames[0].layers[0].alphaRows = vsktest::Noise(vsktest::RowSize(w, 8) * h, 12);
    auto list = Load(vsktest::Build(img), 31337, false, true);
    const TDIBSurface& s = list->GetFrame(0)->Layers(0)->Surface();
    EXPECT_EQ(s.BitDepth(), depth);
    int worst = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const uint32_t c = s.GetPixelColor(x, y);
        const uint8_t* p = &rgb[(y * w + x) * 3];
        worst = std::max({worst, std::abs(int(c & 0xFF) - p[0]), std::abs(int((c >> 8) & 0xFF) - p[1]),
                          std::abs(int((c >> 16) & 0xFF) - p[2])});
      }
    }
    EXPECT_LE(worst, depth <= 16 ? 12 : 6);
    ExpectPixels(*s.AlphaPlane(), img.frames[0].layers[0].alphaRows, 8);
    if (depth == 32) {
      EXPECT_EQ(s.GetPixel(3, 3) >> 24, 0u);
    }
  }
  // Size other than the plane's, damaged and cut data, palette frames: errors, never a process exit.
  Image img = OneLayer(Image::Binary, 24, w + 1, h, 1);
  img.compType = 2;
  img.frames[0].layers[0].rawColor = jpeg;
  EXPECT_THROW(Load(vsktest::Build(img), 0), EJpegError);
  img = OneLayer(Image::Binary, 24, w, h, 1);
  img.compType = 2;
  img.frames[0].layers[0].rawColor = Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2));
  EXPECT_THROW(Load(vsktest::Build(img), 0), EJpegError);
  Bytes damaged = jpeg;
  for (size_t i = 400; i < damaged.size() - 2; i += 7) damaged[i] = 0xFF;
  img.frames[0].layers[0].rawColor = damaged;
  EXPECT_THROW(Load(vsktest::Build(img), 0), EJpegError);
  img.frames[0].layers[0].rawColor = Bytes(100, 0x55);
  EXPECT_THROW(Load(vsktest::Build(img), 0), EJpegError);
  img = OneLayer(Image::Binary, 8, w, h, 1);
  img.compType = 2;
  img.frames[0].layers[0].rawColor = jpeg;
  EXPECT_EQ(ErrorOf(vsktest::Build(img), 0), "ファイルが破壊されています");
}

// 24-bit helpers for composition checks.
Bytes Solid24(int w, int h, uint32_t packed) {
  const size_t rowSize = vsktest::RowSize(w, 24);
  Bytes rows(rowSize * h, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      rows[y * rowSize + x * 3] = static_cast<uint8_t>(packed);
      rows[y * rowSize + x * 3 + 1] = static_cast<uint8_t>(packed >> 8);
      rows[y * rowSize + x * 3 + 2] = static_cast<uint8_t>(packed >> 16);
    }
  }
  return rows;
}

TEST(VeskCompose, TransparentColourBackgroundAndFirstVisibleLayer) {
  // Bottom layer: left half transparent value 0x000001, right half 0x0000FF (packed: blue low byte).
  const int w = 4, h = 2;
  Bytes rows = Solid24(w, h, 0x0000FF);
  for (int y = 0; y < h; ++y)
    rows[y * vsktest::RowSize(w, 24)] = 1, rows[y * vsktest::RowSize(w, 24) + 3] = 1;
  for (bool notFill : {false, true}) {
    for (Image::Form form : {Image::Xml, Image::Binary}) {
      Image img = OneLayer(form, 24, w, h, 0);
      img.notFillBG = notFill;
      img.bgColor = 0x336699;  // red 0x99, green 0x66, blue 0x33
      img.frames[0].layers[0].rows = rows;
      img.frames[0].layers[0].trans = 1;
      // An invisible layer first does not change which layer counts as first.
      Layer hidden = img.frames[0].layers[0];
      hidden.visible = false;
      hidden.rows = Solid24(w, h, 0xABCDEF);
      img.frames[0].layers.insert(img.frames[0].layers.begin(), hidden);
      auto list = Load(vsktest::Build(img), 0);
      const TDIBSurface& s = list->GetFrame(0)->Surface();
      EXPECT_EQ(s.GetPixel(0, 0), notFill ? 1u : 0x996633u) << notFill;
      EXPECT_EQ(s.GetPixel(1, 1), notFill ? 1u : 0x996633u);
      EXPECT_EQ(s.GetPixel(3, 1), 0x0000FFu);
      EXPECT_EQ(list->GetFrame(0)->Count(), 0);  // layers freed without keepLayers
    }
  }
  // Without a transparent colour the bottom layer is copied whole either way.
  Image img = OneLayer(Image::Binary, 24, w, h, 0);
  img.bgColor = 0x336699;
  img.frames[0].layers[0].rows = rows;
  auto list = Load(vsktest::Build(img), 0);
  EXPECT_EQ(list->GetFrame(0)->Surface().GetPixel(0, 0), 1u);
}

TEST(VeskCompose, ConstantOpacityOnTrueColourAndPaletteFrames) {
  // 24 bits: opacity 128 of white over black blends to 0x80 in each byte.
  Image img = OneLayer(Image::Binary, 24, 3, 2, 0);
  img.frames[0].layers[0].rows = Solid24(3, 2, 0);
  Layer top = img.frames[0].layers[0];
  top.rows = Solid24(3, 2, 0xFFFFFF);
  top.alpha = 128;
  img.frames[0].layers.push_back(top);
  auto list = Load(vsktest::Build(img), 0);
  EXPECT_EQ(list->GetFrame(0)->Surface().GetPixel(1, 1), 0x808080u);

  // 8 bits: opacity 128 is screen-door level 8, whose top pattern row is 1110.
  Image pal = OneLayer(Image::Xml, 8, 4, 1, 0);
  pal.frames[0].layers[0].rows = Bytes(4, 7);
  Layer over = pal.frames[0].layers[0];
  over.rows = Bytes(4, 9);
  over.alpha = 128;
  pal.frames[0].layers.push_back(over);
  auto p = Load(vsktest::Build(pal), 0);
  const TDIBSurface& s = p->GetFrame(0)->Surface();
  const uint8_t pattern = ScreenDoorRow(8, 0);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(s.GetPixel(x, 0), (pattern >> (3 - x)) & 1 ? 9u : 7u) << x;
}

TEST(VeskCompose, AlphaPlanesOfLayers) {
  const int w = 3, h = 1;
  const size_t alphaRow = vsktest::RowSize(w, 8);
  for (Image::Form form : {Image::Xml, Image::Binary}) {
    Image img = OneLayer(form, 24, w, h, 0);
    Layer& bottom = img.frames[0].layers[0];
    bottom.rows = Solid24(w, h, 0x000000);
    bottom.alphaRows = Bytes(alphaRow, 0);
    bottom.alphaRows[0] = 10, bottom.alphaRows[1] = 20, bottom.alphaRows[2] = 30;
    bottom.alphaOn = true;
    bottom.trans = 5;
    Layer top = bottom;
    top.rows = Solid24(w, h, 0xFFFFFF);
    top.alphaRows[0] = 0, top.alphaRows[1] = 255, top.alphaRows[2] = 128;
    img.frames[0].layers.push_back(top);
    auto list = Load(vsktest::Build(img), 0, false, true);
    const TVeskFrame& frame = *list->GetFrame(0);
    // The first layer's alpha plane becomes the frame's.
    ASSERT_TRUE(frame.HasAlpha());
    EXPECT_EQ(frame.Surface().AlphaPlane()->GetPixel(1, 0), 20u);
    // The second is blended through its mask: 0 keeps, 255 copies, 128 mixes (shift by 8).
    EXPECT_EQ(frame.Surface().GetPixel(0, 0), 0u);
    EXPECT_EQ(frame.Surface().GetPixel(1, 0), 0xFFFFFFu);
    EXPECT_EQ(frame.Surface().GetPixel(2, 0), 0x7F7F7Fu);
    // The binary form drops the transparent colour of a layer drawn through its alpha plane.
    EXPECT_EQ(frame.Layers(1)->TransColor, form == Image::Binary ? -1 : 5);
  }
}

TEST(VeskCompose, TransparentColourValueAndPaletteBackground) {
  Image img = OneLayer(Image::Binary, 8, 2, 2, 0);
  img.frames[0].palette.assign(256, 0);
  img.frames[0].palette[3] = 0x00FF10;  // green-ish
  img.frames[0].palette[200] = 0x0000F0;
  img.frames[0].trans = 3;
  img.bgColor = 0x0000FF;  // pure red is nearest to entry 200
  img.frames[0].layers[0].rows = Bytes(8, 3);
  img.frames[0].layers[0].trans = 3;
  auto list = Load(vsktest::Build(img), 0);
  EXPECT_EQ(list->GetFrame(0)->TransRGB, 0x00FF10);
  EXPECT_EQ(list->GetFrame(0)->Surface().GetPixel(1, 1), 200u);

  Image tc = OneLayer(Image::Xml, 24, 2, 1, 0);
  tc.frames[0].trans = 0x112233;
  auto t = Load(vsktest::Build(tc), 0);
  EXPECT_EQ(t->GetFrame(0)->TransRGB, 0x332211);

  // 15- and 16-bit frames get the background colour narrowed to their fields.
  for (int depth : {15, 16}) {
    Image hi = OneLayer(Image::Binary, depth, 2, 1, 0);
    hi.frames[0].layers.clear();
    hi.bgColor = 0xFFFFFF;
    auto l = Load(vsktest::Build(hi), 0);
    EXPECT_EQ(l->GetFrame(0)->Surface().GetPixel(0, 0), depth == 15 ? 0x7FFFu : 0xFFFFu);
  }
}

TEST(VeskOptions, FirstFrameOnlyKeepLayersPrepareAndExtraLists) {
  Image img = OneLayer(Image::Binary, 8, 4, 2, 1);
  img.frames.push_back(OneLayer(Image::Binary, 8, 4, 2, 2).frames[0]);
  img.frames[0].extraA = {std::array<uint8_t, 16>{1, 2, 3}};
  img.frames[0].extraB = {std::array<uint8_t, 16>{9}, std::array<uint8_t, 16>{8}};
  const Bytes file = vsktest::Build(img);
  auto all = Load(file, 0, false, false);
  EXPECT_EQ(all->Count(), 2);
  EXPECT_EQ(all->GetFrame(1)->Count(), 0);
  ASSERT_EQ(all->GetFrame(0)->ExtraListB.size(), 2u);
  EXPECT_EQ(all->GetFrame(0)->ExtraListA[0][2], 3);
  EXPECT_EQ(all->GetFrame(0)->ExtraListB[1][0], 8);
  EXPECT_EQ(Load(file, 0, true, false)->Count(), 1);
  img.form = Image::Xml;
  EXPECT_EQ(Load(vsktest::Build(img), 0, true, false)->Count(), 1);
  EXPECT_EQ(Load(vsktest::Build(img), 0, false, true)->GetFrame(1)->Count(), 1);

  // Prepare: a palette frame with a transparent colour gets a mask and becomes 24 bits.
  Image pal = OneLayer(Image::Binary, 8, 3, 2, 0);
  pal.notFillBG = true;
  pal.signatureVersion = pal.version = 105;
  pal.frames[0].palette.assign(256, 0x010203);
  pal.frames[0].palette[4] = 0x405060;
  pal.frames[0].trans = 4;
  pal.frames[0].layers[0].rows = Bytes(8, 1);
  pal.frames[0].layers[0].rows[5] = 4;  // pixel (1, 1)
  pal.frames[0].layers[0].rows[2] = 4;  // pixel (2, 0): found first
  TVeskFrameList list(0);
  TMemoryStream stream;
  const Bytes palFile = vsktest::Build(pal);
  stream.WriteBuffer(palFile.data(), static_cast<int32_t>(palFile.size()));
  stream.SetPosition(0);
  list.LoadFromStream(stream, false, false, true);
  const TVeskFrame& frame = *list.GetFrame(0);
  EXPECT_EQ(frame.Surface().BitDepth(), 24);
  ASSERT_TRUE(frame.HasAlpha());
  EXPECT_EQ(frame.Surface().AlphaPlane()->GetPixel(1, 1), 0u);
  EXPECT_EQ(frame.Surface().AlphaPlane()->GetPixel(0, 1), 255u);
  EXPECT_EQ(frame.TransColor, 0x605040);  // the converted value of entry 4
  EXPECT_EQ(frame.Surface().GetPixel(2, 0), 0x605040u);
}

TEST(VeskHeaderNames, CompressionKindNames) {
  EXPECT_EQ(VeskCompTypeName(0, false), "Default compression");
  EXPECT_EQ(VeskCompTypeName(1, true), "無圧縮");
  EXPECT_EQ(VeskCompTypeName(2, true), "不可逆圧縮");
  EXPECT_EQ(VeskCompTypeName(3, false), "");
  Image img = OneLayer(Image::Binary, 24, 2, 2, 0);
  img.compType = 1;
  img.blockWidth = 16;
  img.blockHeight = 8;
  auto list = Load(vsktest::Build(img), 0);
  EXPECT_EQ(list->Header().CompType, 1);
  EXPECT_EQ(list->Header().BlockWidth, 16);
  EXPECT_EQ(list->Header().BlockHeight, 8);
  EXPECT_EQ(list->Header().Version, 107);
}

}  // namespace
}  // namespace vr
