// Quick look at a layered image file: was it saved without compression of its own?
#pragma once

#include <string>

#include "framework/classes.h"

namespace vr {

// Reads the signature of a layered image ("Vesk" and three version characters), then, for versions
// above 102, the binary header record, and reports whether its compression type is "stored" (1).
// Reads from the stream's current position and leaves the position after the bytes read.
// False for anything that is not a binary-headed image of version 103 or later (the XML-headed
// "VeskX200" form included). Version characters that are not a number raise EConvertError.
// At most 40 bytes of the header record are read, whatever length the file claims.
bool IsStoredUncompressed(TStream& stream);

// The integer conversion used for the version characters: leading blanks, an optional sign, then
// decimal digits, or hexadecimal digits after "$", "x", "X" or "0x"/"0X". Anything else, an empty
// text or a value outside the 32-bit range raises EConvertError.
int32_t VskTextToInt(const std::string& text);

}  // namespace vr
