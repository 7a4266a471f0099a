#include "imagewriter.h"

#include <algorithm>
#include <cctype>
#include <csetjmp>

#include "console.h"

#ifdef VRTOOL_HAVE_PNG
#include <png.h>
#endif

namespace vrtool {
namespace {

std::string LowerExtension(const std::string& name) {
  size_t dot = name.find_last_of('.');
  size_t slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

std::string EncodePpm(const RgbImage& image) {
  std::string out = "P6\n" + std::to_string(image.Width) + " " + std::to_string(image.Height) + "\n255\n";
  out.append(reinterpret_cast<const char*>(image.Rgb.data()), image.Rgb.size());
  return out;
}

std::string EncodePam(const RgbImage& image) {
  int depth = image.HasAlpha() ? 4 : 3;
  std::string out = "P7\nWIDTH " + std::to_string(image.Width) + "\nHEIGHT " + std::to_string(image.Height) +
                    "\nDEPTH " + std::to_string(depth) + "\nMAXVAL 255\nTUPLTYPE " +
                    (image.HasAlpha() ? "RGB_ALPHA" : "RGB") + "\nENDHDR\n";
  size_t pixels = static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height);
  size_t start = out.size();
  out.resize(start + pixels * static_cast<size_t>(depth));
  char* p = &out[start];
  for (size_t i = 0; i < pixels; ++i) {
    *p++ = static_cast<char>(image.Rgb[i * 3]);
    *p++ = static_cast<char>(image.Rgb[i * 3 + 1]);
    *p++ = static_cast<char>(image.Rgb[i * 3 + 2]);
    if (image.HasAlpha()) *p++ = static_cast<char>(image.Alpha[i]);
  }
  return out;
}

#ifdef VRTOOL_HAVE_PNG
void PngWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::string*>(png_get_io_ptr(png));
  out->append(reinterpret_cast<const char*>(data), length);
}

void PngFlush(png_structp) {}

void PngWarning(png_structp, png_const_charp) {}

// Fills `out`; false when libpng reported an error (it returns here through its jump buffer, so no
// object with a destructor is created between setjmp and the end of the function).
bool EncodePngRows(const RgbImage& image, std::string& out, std::vector<uint8_t>& row) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, PngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  // Fast rather than small: zlib's quickest level after one cheap filter (each byte less its left
  // neighbour, which flattens gradients), instead of trying every filter on every row.
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  const int channels = image.HasAlpha() ? 4 : 3;
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.Width), static_cast<png_uint_32>(image.Height), 8,
               image.HasAlpha() ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t width = static_cast<size_t>(image.Width);
  for (int y = 0; y < image.Height; ++y) {
    const size_t base = static_cast<size_t>(y) * width;
    if (channels == 3) {
      png_write_row(png, &image.Rgb[base * 3]);  // the pixels are PNG's rows already
      continue;
    }
    for (size_t x = 0; x < width; ++x) {
      const size_t i = base + x;
      uint8_t* p = &row[x * 4];
      p[0] = image.Rgb[i * 3];
      p[1] = image.Rgb[i * 3 + 1];
      p[2] = image.Rgb[i * 3 + 2];
      p[3] = image.Alpha[i];
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

std::string EncodePng(const RgbImage& image) {
  std::string out;
  std::vector<uint8_t> row(static_cast<size_t>(image.Width) * (image.HasAlpha() ? 4u : 3u));
  if (!EncodePngRows(image, out, row)) throw ToolError("PNG encoder failed");
  return out;
}
#endif

}  // namespace

std::string EncodeImage(const RgbImage& image, const std::string& outName) {
  std::string ext = LowerExtension(outName);
  if (ext == ".ppm") return EncodePpm(image);
  if (ext == ".pam") return EncodePam(image);
  if (ext == ".png") {
#ifdef VRTOOL_HAVE_PNG
    return EncodePng(image);
#else
    throw ToolError("PNG output not available in this build");
#endif
  }
  throw ToolError("unknown output format \"" + outName + "\": use .png, .ppm or .pam");
}

}  // namespace vrtool
