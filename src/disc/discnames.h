// The name rules the image readers share (defined in discimage.cpp).
#pragma once

#include <string>

namespace vr {

// Well-formed code page 932: lead bytes with a trail byte, no undefined single bytes.
bool IsDiscNameCp932(const std::string& s);

}  // namespace vr
