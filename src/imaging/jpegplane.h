// JPEG colour planes of layered images: full-size, best-quality decoding through libjpeg.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "framework/sysutils.h"

namespace vr {

// Raised for JPEG data the decoder refuses (damaged or truncated streams, unsupported kinds, a picture
// size other than the plane's). The message is the decoder's own text.
class EJpegError : public Exception {
 public:
  using Exception::Exception;
};

// Row layout the decoded pixels are written in.
enum class TJpegRowFormat {
  jrfBGR24,  // blue, green, red bytes
  jrfBGR32,  // blue, green, red, 0
  jrf555,    // 16-bit little-endian words, 5-5-5 (top bit 0)
  jrf565,    // 16-bit little-endian words, 5-6-5
};

// Decodes one JPEG (JFIF) stream of `size` bytes. The picture must be exactly width x height; each
// decoded row y (0 = top) is written into row(y), which must hold width pixels in `format`.
// Colour and grey-scale streams are accepted. Any decoder error or warning about damaged data raises
// EJpegError; nothing in the decoder ends the process.
void DecodeJpegPlane(const uint8_t* data, size_t size, int width, int height, TJpegRowFormat format,
                     const std::function<uint8_t*(int)>& row);

}  // namespace vr
