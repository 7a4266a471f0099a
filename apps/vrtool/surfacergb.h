// Pixels of a composed frame as 8-bit RGB with its optional alpha plane.
#pragma once

#include "imagewriter.h"
#include "imaging/dibsfc.h"

namespace vrtool {

// The surface row by row: palette pixels through the colour table, 15-bit (5-5-5) and 16-bit (5-6-5)
// fields widened by repeating their top bits, 24-bit as stored, 32-bit without the fourth byte; the
// alpha plane, when there is one, as the alpha channel. The surface must outlive the rows.
TPictureRows SurfaceRows(const vr::TDIBSurface& surface);

// The whole surface at once, as SurfaceRows hands it out.
RgbImage SurfaceToRgb(const vr::TDIBSurface& surface);

}  // namespace vrtool
