#include "imagewriter.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#ifdef VR_HAVE_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

#include "archive/vrfiles.h"
#include "console.h"

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

void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// One chunk: length, type, data and the CRC-32 of type and data.
void WriteChunk(vr::TStream& out, const char* type, const uint8_t* data, size_t size) {
  uint8_t head[8];
  PutBE32(head, static_cast<uint32_t>(size));
  std::memcpy(head + 4, type, 4);
  uint8_t tail[4];
  PutBE32(tail, vr::UpdateCRC(vr::UpdateCRC(0, head + 4, 4), data, static_cast<int64_t>(size)));
  out.WriteBuffer(head, 8);
  for (size_t at = 0; at < size;) {
    const size_t piece = std::min<size_t>(size - at, 1u << 30);
    out.WriteBuffer(data + at, static_cast<int32_t>(piece));
    at += piece;
  }
  out.WriteBuffer(tail, 4);
}

// Memory that is written before it is read: not zero-filled first (a picture's worth is a pass of its
// own).
struct TRawBuffer {
  explicit TRawBuffer(size_t n) : Data(new uint8_t[n]), Size(n) {}
  std::unique_ptr<uint8_t[]> Data;
  size_t Size;
};

// The zlib stream of `raw` at the quickest level; sets `size`.
TRawBuffer ZlibFast(const TRawBuffer& raw, size_t& size) {
#ifdef VR_HAVE_LIBDEFLATE
  libdeflate_compressor* c = libdeflate_alloc_compressor(1);
  if (!c) throw ToolError("PNG encoder: out of memory");
  TRawBuffer z(libdeflate_zlib_compress_bound(c, raw.Size));
  size = libdeflate_zlib_compress(c, raw.Data.get(), raw.Size, z.Data.get(), z.Size);
  libdeflate_free_compressor(c);
#else
  if (raw.Size > 0xFFFFFFFFu) throw ToolError("PNG encoder: the picture is too large");
  TRawBuffer z(compressBound(static_cast<uLong>(raw.Size)));
  uLongf n = static_cast<uLongf>(z.Size);
  if (compress2(z.Data.get(), &n, raw.Data.get(), static_cast<uLong>(raw.Size), 1) != Z_OK) n = 0;
  size = n;
#endif
  if (size == 0) throw ToolError("PNG encoder failed");
  return z;
}

}  // namespace

std::string ImageFormat(const std::string& outName) {
  const std::string ext = LowerExtension(outName);
  if (ext == ".png" || ext == ".ppm" || ext == ".pam") return ext;
  throw ToolError("unknown output format \"" + outName + "\": use .png, .ppm or .pam");
}

std::string EncodeImage(const RgbImage& image, const std::string& format) {
  return format == ".pam" ? EncodePam(image) : EncodePpm(image);
}

// Fast rather than small: every row with the Sub filter (each byte less its left neighbour's, which
// flattens gradients) instead of trying every filter, deflated at the quickest level.
void WritePng(const TPictureRows& picture, vr::TStream& out) {
  const size_t width = static_cast<size_t>(picture.Width);
  const size_t height = static_cast<size_t>(picture.Height);
  const size_t channels = picture.HasAlpha ? 4 : 3;
  const size_t stride = 1 + width * channels;
  TRawBuffer raw(stride * height);
  std::vector<uint8_t> rgb(picture.HasAlpha ? width * 3 : 0), alpha(picture.HasAlpha ? width : 0);
  for (size_t y = 0; y < height; ++y) {
    uint8_t* row = raw.Data.get() + y * stride;
    row[0] = 1;  // Sub
    uint8_t* px = row + 1;
    if (channels == 3) {
      // Filtered in place from the right, where every byte still holds its pixel.
      picture.Row(static_cast<int>(y), px, nullptr);
      for (size_t i = width * 3; i-- > 3;) px[i] = static_cast<uint8_t>(px[i] - px[i - 3]);
      continue;
    }
    picture.Row(static_cast<int>(y), rgb.data(), alpha.data());
    uint8_t left[4] = {0, 0, 0, 0};
    for (size_t x = 0; x < width; ++x) {
      const uint8_t here[4] = {rgb[x * 3], rgb[x * 3 + 1], rgb[x * 3 + 2], alpha[x]};
      for (int k = 0; k < 4; ++k) px[x * 4 + k] = static_cast<uint8_t>(here[k] - left[k]);
      std::memcpy(left, here, 4);
    }
  }
  size_t zSize = 0;
  const TRawBuffer z = ZlibFast(raw, zSize);

  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  out.WriteBuffer(kSignature, 8);
  uint8_t header[13] = {};
  PutBE32(header, static_cast<uint32_t>(width));
  PutBE32(header + 4, static_cast<uint32_t>(height));
  header[8] = 8;                                            // bit depth
  header[9] = static_cast<uint8_t>(channels == 4 ? 6 : 2);  // RGBA or RGB
  // deflate, adaptive filtering, no interlace: zeros
  WriteChunk(out, "IHDR", header, sizeof header);
  constexpr size_t kMaxChunk = 1u << 30;
  for (size_t at = 0; at < zSize; at += kMaxChunk)
    WriteChunk(out, "IDAT", z.Data.get() + at, std::min(kMaxChunk, zSize - at));
  WriteChunk(out, "IEND", nullptr, 0);
}

}  // namespace vrtool
