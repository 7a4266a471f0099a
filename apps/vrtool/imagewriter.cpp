#include "imagewriter.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <zlib.h>
#ifdef VR_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "archive/vrfiles.h"
#include "archive/workers.h"
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
  out.WriteBuffer(data, static_cast<int32_t>(size));  // chunks hold at most one 8 MiB piece
  out.WriteBuffer(tail, 4);
}

// Memory that is written before it is read: not zero-filled first (a picture's worth is a pass of its
// own).
struct TRawBuffer {
  explicit TRawBuffer(size_t n) : Data(new uint8_t[n]), Size(n) {}
  std::unique_ptr<uint8_t[]> Data;
  size_t Size;
};

#ifdef VR_HAVE_LIBDEFLATE
// Turns a whole raw deflate stream into one that more blocks may follow: the final-block mark of its
// last block is cleared (zlib's inflate, asked to stop at block boundaries, tells where each block
// header starts, as in zlib's gzappend example), and an empty stored block brings the end to a byte
// boundary, as a sync flush does. Returns the new size (at most 5 bytes more), or 0 when the stream
// does not read as one.
size_t MakeContinuable(uint8_t* data, size_t size) {
  if (size == 0) return 0;
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return 0;
  uint8_t junk[1 << 15];
  z.next_in = data;
  z.avail_in = static_cast<uInt>(size);
  uint8_t* finalByte = (data[0] & 1) ? data : nullptr;  // where the final block's mark is
  uint8_t finalMask = 1;
  int padding = -1;  // unused bits of the byte the final block ends in (zero bits)
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = junk;
    z.avail_out = sizeof junk;
    rc = inflate(&z, Z_BLOCK);
    if (rc != Z_OK || !(z.data_type & 128)) continue;
    if (z.data_type & 64) {  // behind the final block, before the stream's end drops the padding
      padding = z.data_type & 7;
      continue;
    }
    if (finalByte) continue;
    // At a block boundary: the next block's first bit lies behind the unused bits of the last byte
    // taken, or in the next byte.
    const int unused = z.data_type & 7;
    uint8_t* byte = unused ? z.next_in - 1 : z.next_in;
    const uint8_t mask = static_cast<uint8_t>(unused ? 0x100 >> unused : 1);
    if ((unused || z.avail_in > 0) && (*byte & mask)) {
      finalByte = byte;
      finalMask = mask;
    }
  }
  const bool whole = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  if (!whole || !finalByte || padding < 0) return 0;
  *finalByte = static_cast<uint8_t>(*finalByte & ~finalMask);
  // The empty stored block: three zero header bits (in the padding, or in one byte more), then its
  // length and the length's complement from the next byte on.
  size_t end = size;
  if (padding < 3) data[end++] = 0;
  const uint8_t empty[4] = {0x00, 0x00, 0xFF, 0xFF};
  std::memcpy(data + end, empty, 4);
  return end + 4;
}

#endif

// One piece of the picture's zlib stream, deflated at the quickest level on its own (it shares no
// history with the others). A piece that others follow does not end the stream; the first carries the
// zlib header, the last the checksum.
struct TDeflatePiece : vr::TWorkerJob {
  const uint8_t* In = nullptr;
  size_t Size = 0;
  bool First = false, Last = false;
  std::unique_ptr<uint8_t[]> Out;  // 2 bytes for the header, the deflate data, 4 for the checksum
  size_t Begin = 0, End = 0;       // the bytes of the stream in Out; End 0: the piece failed
  uLong Adler = 1;

  void Run() noexcept override {
    Adler = adler32(1, In, static_cast<uInt>(Size));
    size_t produced = 0;
#ifdef VR_HAVE_LIBDEFLATE
    libdeflate_compressor* c = libdeflate_alloc_compressor(1);
    if (!c) return;
    const size_t bound = libdeflate_deflate_compress_bound(c, Size);
    Out.reset(new (std::nothrow) uint8_t[2 + bound + 5 + 4]);
    if (Out) produced = libdeflate_deflate_compress(c, In, Size, Out.get() + 2, bound);
    libdeflate_free_compressor(c);
    if (produced != 0 && !Last) produced = MakeContinuable(Out.get() + 2, produced);
    if (produced == 0) return;
#else
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return;
    // Room for the empty block that ends a piece others follow, besides zlib's bound.
    const size_t bound = deflateBound(&z, static_cast<uLong>(Size)) + 16;
    Out.reset(new (std::nothrow) uint8_t[2 + bound + 4]);
    z.next_in = const_cast<Bytef*>(In);
    z.avail_in = static_cast<uInt>(Size);
    z.next_out = Out ? Out.get() + 2 : nullptr;
    z.avail_out = static_cast<uInt>(bound);
    // A sync flush ends the piece at a byte boundary with a block that is not the final one.
    const int rc = Out ? deflate(&z, Last ? Z_FINISH : Z_SYNC_FLUSH) : Z_MEM_ERROR;
    if ((rc == Z_STREAM_END || (rc == Z_OK && !Last)) && z.avail_in == 0) produced = bound - z.avail_out;
    deflateEnd(&z);
    if (produced == 0) return;
#endif
    Begin = First ? 0 : 2;
    End = 2 + produced + (Last ? 4 : 0);
    if (First) {
      Out[0] = 0x78;  // deflate, 32 KiB window
      Out[1] = 0x01;  // the quickest level
    }
  }
};

// The picture's zlib stream, deflated in pieces of 8 MiB side by side (the pieces do not depend on the
// number of processors, so neither does the file), written as one IDAT chunk per piece.
void WriteImageData(vr::TStream& out, const uint8_t* raw, size_t size) {
  constexpr size_t kPiece = 8 << 20;
  std::vector<TDeflatePiece> pieces((size + kPiece - 1) / kPiece + (size == 0 ? 1 : 0));
  for (size_t i = 0; i < pieces.size(); ++i) {
    pieces[i].In = raw + i * kPiece;
    pieces[i].Size = std::min(kPiece, size - i * kPiece);
    pieces[i].First = i == 0;
    pieces[i].Last = i + 1 == pieces.size();
  }
  {
    vr::TWorkers workers(
        std::min<unsigned>(vr::DefaultWorkerThreads(), static_cast<unsigned>(pieces.size())));
    for (TDeflatePiece& p : pieces) workers.Submit(p);
    for (TDeflatePiece& p : pieces) workers.Wait(p);
  }
  uLong adler = 1;
  for (const TDeflatePiece& p : pieces) {
    if (p.End == 0) throw ToolError("PNG encoder failed");
    adler = adler32_combine(adler, p.Adler, static_cast<z_off_t>(p.Size));
  }
  TDeflatePiece& last = pieces.back();
  PutBE32(last.Out.get() + last.End - 4, static_cast<uint32_t>(adler));
  for (const TDeflatePiece& p : pieces) WriteChunk(out, "IDAT", p.Out.get() + p.Begin, p.End - p.Begin);
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
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  out.WriteBuffer(kSignature, 8);
  uint8_t header[13] = {};
  PutBE32(header, static_cast<uint32_t>(width));
  PutBE32(header + 4, static_cast<uint32_t>(height));
  header[8] = 8;                                            // bit depth
  header[9] = static_cast<uint8_t>(channels == 4 ? 6 : 2);  // RGBA or RGB
  // deflate, adaptive filtering, no interlace: zeros
  WriteChunk(out, "IHDR", header, sizeof header);
  WriteImageData(out, raw.Data.get(), raw.Size);
  WriteChunk(out, "IEND", nullptr, 0);
}

}  // namespace vrtool
