#include "imaging/backdrop.h"

#include <memory>

#include "archive/vrfiles.h"
#include "imaging/vesks.h"

namespace vr {

void LoadBackdropPictureFromStream(TStream& stream, uint32_t seed, TDIBSurface& picture) {
  TVeskFrameList frames(seed);
  frames.LoadFromStream(stream, true, false, false);
  ConvertSurfaceTo24(frames.GetFrame(0)->Surface(), picture);
}

void LoadBackdropPicture(TVrFileCollection& archive, const std::string& name, uint32_t seed,
                         TDIBSurface& picture) {
  TMemoryStream stream;
  archive.ExtractToStream(stream, name);
  stream.SetPosition(0);
  LoadBackdropPictureFromStream(stream, seed, picture);
}

bool PlaceBackdropPicture(const TDIBSurface& picture, int32_t layout, int boxWidth, int boxHeight,
                          TDIBSurface& bitmap) {
  if (layout != blCenter && layout != blStretch && layout != blTile) return false;
  bitmap.SetPixelFormat(0xFF0000, 0xFF00, 0xFF);
  // Drawing moves raw pixels, so the source must be 24 bits like the bitmap.
  const TDIBSurface* source = &picture;
  std::unique_ptr<TDIBSurface> converted;
  if (picture.BitCount() != 24) {
    converted = std::make_unique<TDIBSurface>();
    ConvertSurfaceTo24(picture, *converted);
    source = converted.get();
  }
  if (layout != blTile) {
    bitmap.SetSize(source->Width(), source->Height(), 24);
    if (!bitmap.Empty()) bitmap.Draw(0, 0, *source);
    return true;
  }
  bitmap.SetSize(boxWidth, boxHeight, 24);
  const int w = source->Width();
  const int h = source->Height();
  if (bitmap.Empty() || w <= 0 || h <= 0) return true;
  for (int y = 0; y < boxHeight; y += h) {
    for (int x = 0; x < boxWidth; x += w) bitmap.Draw(x, y, *source);
  }
  return true;
}

}  // namespace vr
