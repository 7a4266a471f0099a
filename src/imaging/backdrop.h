// The package's backdrop picture: from the archive entry to the 24-bit bitmap a picture box shows.
#pragma once

#include <cstdint>
#include <string>

#include "framework/classes.h"
#include "imaging/dibsfc.h"

namespace vr {

class TVrFileCollection;

// Layouts of the backdrop picture (BackdropLayout of the install settings).
enum TBackdropLayout : int32_t {
  blCenter = 0,   // the picture at its own size, centred by the box
  blStretch = 1,  // the picture at its own size, stretched by the box
  blTile = 2,     // the box's size, covered with copies of the picture from (0, 0)
};

// Reads the layered image held in the archive entry `name` (or the loose file of that name beside
// the archive), decodes its first frame with the identification code `seed` and returns that frame as
// a 24-bit blue-green-red picture: palette pictures through their colour table, 15-, 16- and 32-bit
// pictures through their channel masks; the alpha plane takes no part. Errors of the archive (a
// missing entry) and of the image reader ("Error:TVeskFrameList.GetFrame" for an image without frames)
// pass through; the stream and the frame list are freed either way.
void LoadBackdropPicture(TVrFileCollection& archive, const std::string& name, uint32_t seed,
                         TDIBSurface& picture);

// The same from a stream holding the image at its current position.
void LoadBackdropPictureFromStream(TStream& stream, uint32_t seed, TDIBSurface& picture);

// Puts a picture into a picture box's bitmap, which gets 8-8-8 channel masks and 24 bits per pixel:
// layouts 0 and 1 give it the picture's size and a plain copy; layout 2 gives it the box's size
// (boxWidth x boxHeight) covered with copies at x = 0, w, 2w, ... and y = 0, h, 2h, ..., the last ones
// cut by the bitmap's edge. Any other layout leaves the bitmap as it was and returns false.
bool PlaceBackdropPicture(const TDIBSurface& picture, int32_t layout, int boxWidth, int boxHeight,
                          TDIBSurface& bitmap);

}  // namespace vr
