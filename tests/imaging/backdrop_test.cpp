#include "imaging/backdrop.h"

#include <gtest/gtest.h>

#include <string>

#include "archive/vrfiles.h"
#include "imaging/vesktestutil.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

using vsktest::Bytes;
using vsktest::Image;

std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A 10 x 6 palette picture, pixel (x, y) = index x + y, rows permuted with the seed.
Image PalettePicture(uint32_t seed) {
  Image img = OneLayer(Image::Binary, 8, 10, 6, 1);
  img.randomized = true;
  img.seed = seed;
  for (int i = 0; i < 256; ++i) img.frames[0].palette[i] = static_cast<uint32_t>(i * 0x010305);
  auto& rows = img.frames[0].layers[0].rows;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 10; ++x) rows[y * 12 + x] = static_cast<uint8_t>(x + y);
  return img;
}

TEST(Backdrop, LoadsFrameZeroAsTwentyFourBitsFromTheArchive) {
  TTempDrive drive;
  drive.WriteFile("pict\\back.vsk", AsText(vsktest::Build(PalettePicture(0xC0FFEE))));
  TVrFileCollection archive;
  archive.BasePath = drive.Folder();
  TDIBSurface picture;
  LoadBackdropPicture(archive, "pict\\back.vsk", 0xC0FFEE, picture);
  ASSERT_EQ(picture.BitCount(), 24);
  ASSERT_EQ(picture.Width(), 10);
  ASSERT_EQ(picture.Height(), 6);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 10; ++x) {
      EXPECT_EQ(picture.GetPixelColor(x, y), static_cast<uint32_t>((x + y) * 0x010305)) << x << "," << y;
    }
  }
  // Missing entries, images without frames and wrong codes are errors that reach the caller.
  EXPECT_THROW(LoadBackdropPicture(archive, "none.vsk", 0, picture), Exception);
  Image empty = PalettePicture(0);
  empty.frames.clear();
  drive.WriteFile("empty.vsk", AsText(vsktest::Build(empty)));
  try {
    LoadBackdropPicture(archive, "empty.vsk", 0, picture);
    ADD_FAILURE() << "no error";
  } catch (const EVrError& e) {
    EXPECT_EQ(e.Message, "Error:TVeskFrameList.GetFrame");
  }
  Image legacy = PalettePicture(0);
  legacy.version = 102;
  legacy.frames[0].layers[0].legacyStored = true;
  drive.WriteFile("legacy.vsk", AsText(vsktest::Build(legacy)));
  EXPECT_THROW(LoadBackdropPicture(archive, "legacy.vsk", 0, picture), EVrError);
}

TEST(Backdrop, ChannelMasksAndAlphaPlaneDoNotReachTheBitmap) {
  // 16 bits (5-6-5) with an alpha plane that is 0 in places: the bitmap shows the composed pixels.
  Image img = OneLayer(Image::Xml, 16, 2, 1, 0);
  img.frames[0].layers[0].rows = Bytes{0x00, 0xF8, 0x1F, 0x00};  // pure red, pure blue
  img.frames[0].layers[0].alphaRows = Bytes{0, 0, 0, 0};
  img.frames[0].layers[0].alphaOn = true;
  TMemoryStream stream;
  const Bytes file = vsktest::Build(img);
  stream.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
  stream.SetPosition(0);
  TDIBSurface picture;
  LoadBackdropPictureFromStream(stream, 0, picture);
  EXPECT_EQ(picture.GetPixel(0, 0), 0xFF0000u);
  EXPECT_EQ(picture.GetPixel(1, 0), 0x0000FFu);
  EXPECT_FALSE(picture.HasAlpha());
}

TEST(Backdrop, LayoutsOfTheBoxBitmap) {
  TDIBSurface picture;
  picture.SetSize(10, 10, 24);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) picture.SetPixel(x, y, static_cast<uint32_t>(x * 16 + y));
  TDIBSurface bitmap;
  for (int32_t layout : {blCenter, blStretch}) {
    ASSERT_TRUE(PlaceBackdropPicture(picture, layout, 300, 200, bitmap));
    EXPECT_EQ(bitmap.Width(), 10);
    EXPECT_EQ(bitmap.Height(), 10);
    EXPECT_EQ(bitmap.GetPixel(9, 3), 9u * 16 + 3);
  }
  ASSERT_TRUE(PlaceBackdropPicture(picture, blTile, 25, 23, bitmap));
  EXPECT_EQ(bitmap.Width(), 25);
  EXPECT_EQ(bitmap.Height(), 23);
  EXPECT_EQ(bitmap.BitCount(), 24);
  EXPECT_EQ(bitmap.GetPixel(24, 22), 4u * 16 + 2);  // copy at (20, 20), cut by the edge
  EXPECT_EQ(bitmap.GetPixel(13, 7), 3u * 16 + 7);
  // Other layouts leave the bitmap alone.
  EXPECT_FALSE(PlaceBackdropPicture(picture, 3, 50, 50, bitmap));
  EXPECT_EQ(bitmap.Width(), 25);
  // Palette pictures are converted before they are copied.
  TDIBSurface pal;
  pal.ColorTable[1] = TRGBQuad{0x30, 0x20, 0x10, 0};
  pal.SetSize(3, 2, 8);
  pal.SetPixel(2, 1, 1);
  ASSERT_TRUE(PlaceBackdropPicture(pal, blCenter, 0, 0, bitmap));
  EXPECT_EQ(bitmap.GetPixel(2, 1), 0x102030u);
}

}  // namespace
}  // namespace vr
