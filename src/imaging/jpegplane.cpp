// JPEG plane decoding. libjpeg reports fatal errors through error_exit, which must not return; it
// longjmps back into DecodeJpegPlane, which then throws from its own C++ frame (throwing through
// libjpeg's C frames is not safe).
#include "imaging/jpegplane.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

namespace vr {

namespace {

struct TJpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings mostly mean damaged data that libjpeg would paper over with grey pixels; those are
// errors here. Only notes about header details that do not affect the pixels pass.
extern "C" void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  const int code = cinfo->err->msg_code;
  if (code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM) return;
  JpegErrorExit(cinfo);
}

extern "C" void JpegInitSource(j_decompress_ptr) {}

extern "C" boolean JpegFillInput(j_decompress_ptr cinfo) {
  // All data is in memory from the start: being asked for more means the stream is cut short.
  ERREXIT(cinfo, JERR_INPUT_EOF);
  return FALSE;
}

extern "C" void JpegSkipInput(j_decompress_ptr cinfo, long count) {
  jpeg_source_mgr* src = cinfo->src;
  if (count <= 0) return;
  if (static_cast<unsigned long>(count) > src->bytes_in_buffer) ERREXIT(cinfo, JERR_INPUT_EOF);
  src->next_input_byte += count;
  src->bytes_in_buffer -= static_cast<size_t>(count);
}

extern "C" void JpegTermSource(j_decompress_ptr) {}

// Frees libjpeg's state on every way out of DecodeJpegPlane.
struct TDecompressGuard {
  jpeg_decompress_struct* info;
  bool created = false;
  ~TDecompressGuard() {
    if (created) jpeg_destroy_decompress(info);
  }
};

inline uint16_t Pack555(const uint8_t* rgb) {
  return static_cast<uint16_t>(((rgb[0] >> 3) << 10) | ((rgb[1] >> 3) << 5) | (rgb[2] >> 3));
}
inline uint16_t Pack565(const uint8_t* rgb) {
  return static_cast<uint16_t>(((rgb[0] >> 3) << 11) | ((rgb[1] >> 2) << 5) | (rgb[2] >> 3));
}

// Moves one decoded red-green-blue row into the target layout.
void ConvertRow(const uint8_t* rgb, uint8_t* out, int width, TJpegRowFormat format) {
  switch (format) {
    case TJpegRowFormat::jrfBGR24:
      for (int x = 0; x < width; ++x, rgb += 3, out += 3) {
        out[0] = rgb[2];
        out[1] = rgb[1];
        out[2] = rgb[0];
      }
      break;
    case TJpegRowFormat::jrfBGR32:
      for (int x = 0; x < width; ++x, rgb += 3, out += 4) {
        out[0] = rgb[2];
        out[1] = rgb[1];
        out[2] = rgb[0];
        out[3] = 0;
      }
      break;
    case TJpegRowFormat::jrf555:
      for (int x = 0; x < width; ++x, rgb += 3, out += 2) {
        const uint16_t v = Pack555(rgb);
        out[0] = static_cast<uint8_t>(v);
        out[1] = static_cast<uint8_t>(v >> 8);
      }
      break;
    case TJpegRowFormat::jrf565:
      for (int x = 0; x < width; ++x, rgb += 3, out += 2) {
        const uint16_t v = Pack565(rgb);
        out[0] = static_cast<uint8_t>(v);
        out[1] = static_cast<uint8_t>(v >> 8);
      }
      break;
  }
}

}  // namespace

void DecodeJpegPlane(const uint8_t* data, size_t size, int width, int height, TJpegRowFormat format,
                     const std::function<uint8_t*(int)>& row) {
  if (data == nullptr || size == 0) throw EJpegError("JPEG: empty data");
  // Everything with a destructor lives before the setjmp, so the jump skips no clean-up.
  std::vector<uint8_t> scratch(static_cast<size_t>(width > 0 ? width : 0) * 3);
  jpeg_decompress_struct info;
  TJpegErrorManager err;
  jpeg_source_mgr source;
  TDecompressGuard guard{&info};
  std::string failure;

  info.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegErrorExit;
  err.pub.emit_message = JpegEmitMessage;
  err.message[0] = '\0';

  if (setjmp(err.jump) != 0) {
    failure = std::string("JPEG: ") + err.message;
  } else {
    jpeg_create_decompress(&info);
    guard.created = true;
    source.next_input_byte = data;
    source.bytes_in_buffer = size;
    source.init_source = JpegInitSource;
    source.fill_input_buffer = JpegFillInput;
    source.skip_input_data = JpegSkipInput;
    source.resync_to_restart = jpeg_resync_to_restart;
    source.term_source = JpegTermSource;
    info.src = &source;

    jpeg_read_header(&info, TRUE);
    if (static_cast<long>(info.image_width) != width || static_cast<long>(info.image_height) != height) {
      failure = "JPEG: picture size " + std::to_string(info.image_width) + "x" +
                std::to_string(info.image_height) + " differs from the plane's " + std::to_string(width) +
                "x" + std::to_string(height);
    } else {
      // Multi-scan streams keep every coefficient of the picture: a few bytes per pixel and component.
      // Nothing larger is granted, so a small stream cannot claim much more memory than its picture.
      const double budget = 8.0 * width * height + (16 << 20);
      info.mem->max_memory_to_use = static_cast<long>(std::min(budget, static_cast<double>(LONG_MAX)));
      info.out_color_space = JCS_RGB;
      info.scale_num = 1;
      info.scale_denom = 1;
      info.dct_method = JDCT_ISLOW;
      info.do_fancy_upsampling = TRUE;
      info.do_block_smoothing = TRUE;
      info.quantize_colors = FALSE;
      jpeg_start_decompress(&info);
      if (info.output_components != 3) ERREXIT(&info, JERR_CONVERSION_NOTIMPL);
      while (info.output_scanline < info.output_height) {
        const int y = static_cast<int>(info.output_scanline);
        JSAMPROW line = scratch.data();
        if (jpeg_read_scanlines(&info, &line, 1) != 1) ERREXIT(&info, JERR_INPUT_EOF);
        ConvertRow(scratch.data(), row(y), width, format);
      }
      jpeg_finish_decompress(&info);
    }
  }
  if (!failure.empty()) throw EJpegError(failure);
}

}  // namespace vr
