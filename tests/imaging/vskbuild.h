// Test-only encoder of layered images: builds files of every generation, depth, layout and compression
// from plain pixel rows, so decoding tests can compare against pixels they made themselves.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

namespace vsktest {

using Bytes = std::vector<uint8_t>;

inline int BitCountOf(int depth) { return depth == 15 ? 16 : depth; }
inline size_t RowSize(int width, int bitCount) {
  return (static_cast<size_t>(width) * bitCount + 31) / 32 * 4;
}

// The permutation of n for a seed: next = state * 5 + seed, take the value at (state mod left).
inline std::vector<int32_t> Permutation(uint32_t seed, int n) {
  std::vector<int32_t> deck;
  for (int i = 0; i < n; ++i) deck.push_back(i);
  std::vector<int32_t> out;
  uint32_t state = 0;
  for (int k = 0; k < n; ++k) {
    state = state * 5 + seed;
    const size_t at = state % deck.size();
    out.push_back(deck[at]);
    deck.erase(deck.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return out;
}

inline Bytes Zlib(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) !=
      Z_OK) {
    throw std::runtime_error("compress2");
  }
  out.resize(size);
  return out;
}

// JPEG (baseline or progressive) of width x height red-green-blue pixels.
inline Bytes EncodeJpeg(const Bytes& rgb, int width, int height, int quality, bool progressive = false) {
  jpeg_compress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  for (int y = 0; y < height; ++y) {
    JSAMPROW row = const_cast<JSAMPROW>(&rgb[static_cast<size_t>(y) * width * 3]);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  Bytes out(buffer, buffer + size);
  free(buffer);
  return out;
}

struct BlockRef {
  int32_t s = -1;  // -1 literal, -2 repeat of block r of this plane, >= 0 frame of a layer reference
  int32_t r = 0;
};

struct Layer {
  std::string name;
  bool visible = true;
  int32_t trans = -1;
  int32_t alpha = 255;
  bool alphaOn = false;
  Bytes rows;       // colour plane: height rows of the row size, top first, padding included
  Bytes alphaRows;  // alpha plane rows (8 bits), or empty for none
  // Block layout: one entry per block in raster order; empty means every block literal.
  std::vector<BlockRef> colorIndex, alphaIndex;
  std::optional<Bytes> rawColor, rawAlpha;          // plane bytes written as they are (JPEG, damaged data)
  bool legacyStored = false;                        // legacy encoding: rows stored uncompressed and permuted
  std::optional<int32_t> colorLength, alphaLength;  // lengths written in place of the real ones
};

struct Frame {
  std::string name;
  int32_t trans = -1;
  int32_t delay = 0;
  uint8_t disposal = 0;
  int32_t width = 0, height = 0, depth = 24;
  std::vector<uint32_t> palette;  // 2^depth colours, red in the low byte
  std::vector<Layer> layers;
  std::vector<std::array<uint8_t, 16>> extraA, extraB;
  std::optional<int32_t> layerCount;  // written in place of layers.size()
};

struct Image {
  enum Form { Xml, Binary, NoSignature } form = Binary;
  std::string signature;           // binary form: written instead of "Vesk" + version digits when set
  int32_t signatureVersion = 107;  // binary form: the three digits
  int32_t version = 107;           // header record Version (equals the signature for binary < 103)
  uint8_t compType = 0;
  int32_t blockWidth = 0, blockHeight = 0;
  bool randomized = false;
  bool notFillBG = false;
  uint32_t bgColor = 0;
  uint32_t seed = 0;  // identification code the planes are permuted with
  int32_t headerLength = 40;
  std::optional<int32_t> count;  // written in place of frames.size()
  std::vector<Frame> frames;
  std::string xmlHeader;  // XML form: header text used instead of the generated one
  char xmlMajor = '2';
};

class Writer {
 public:
  void I32(int32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
  }
  void U8(uint8_t v) { out.push_back(v); }
  void Raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
  }
  void Str(const std::string& s) {
    I32(static_cast<int32_t>(s.size()));
    Raw(s.data(), s.size());
  }
  Bytes out;
};

inline int64_t BlockCount(const Image& img, const Frame& f) {
  return ((f.width + img.blockWidth - 1) / img.blockWidth) *
         int64_t((f.height + img.blockHeight - 1) / img.blockHeight);
}

inline Bytes EncodePlane(const Image& img, const Frame& f, const Layer& layer, bool alpha) {
  if (alpha && layer.rawAlpha) return *layer.rawAlpha;
  if (!alpha && layer.rawColor) return *layer.rawColor;
  const Bytes& rows = alpha ? layer.alphaRows : layer.rows;
  const int bpp = alpha ? 8 : BitCountOf(f.depth);
  const size_t rowSize = RowSize(f.width, bpp);
  if (rows.size() != rowSize * f.height) throw std::runtime_error("rows of the wrong size");
  if (img.version <= 102) {
    if (!layer.legacyStored) return Zlib(rows);
    const auto p = Permutation(img.seed, f.height);
    Bytes out(rows.size());
    for (int k = 0; k < f.height; ++k) std::memcpy(&out[k * rowSize], &rows[p[k] * rowSize], rowSize);
    return out;
  }
  if (img.compType == 2 && !alpha) throw std::runtime_error("JPEG planes are given as raw bytes");
  Bytes data;
  if (img.blockWidth > 0 && img.blockHeight > 0 && img.compType != 2) {
    const int64_t n = BlockCount(img, f);
    const int cols = (f.width + img.blockWidth - 1) / img.blockWidth;
    std::vector<BlockRef> index = alpha ? layer.alphaIndex : layer.colorIndex;
    if (index.empty()) index.assign(static_cast<size_t>(n), BlockRef{});
    if (static_cast<int64_t>(index.size()) != n) throw std::runtime_error("index of the wrong size");
    const auto p = img.randomized ? Permutation(img.seed, static_cast<int>(n)) : std::vector<int32_t>();
    Writer w;
    for (int64_t k = 0; k < n; ++k) {
      const BlockRef& e = index[static_cast<size_t>(p.empty() ? k : p[k])];
      w.I32(e.s);
      w.I32(e.r);
    }
    const size_t stride = (static_cast<size_t>(img.blockWidth) * bpp + 7) / 8;
    for (int64_t b = 0; b < n; ++b) {
      if (index[b].s != -1) continue;
      const int bx = static_cast<int>(b % cols), by = static_cast<int>(b / cols);
      const int x0 = bx * img.blockWidth, y0 = by * img.blockHeight;
      const int bw = std::min(img.blockWidth, f.width - x0), bh = std::min(img.blockHeight, f.height - y0);
      const size_t bytes = (static_cast<size_t>(bw) * bpp + 7) / 8;
      for (int j = 0; j < bh; ++j) w.Raw(&rows[(y0 + j) * rowSize + bx * stride], bytes);
    }
    data = w.out;
  } else if (img.randomized && img.compType != 2) {
    const auto p = Permutation(img.seed, f.height);
    data.resize(rows.size());
    for (int k = 0; k < f.height; ++k) std::memcpy(&data[k * rowSize], &rows[p[k] * rowSize], rowSize);
  } else {
    data = rows;
  }
  return (img.compType == 0 || img.compType == 2) ? Zlib(data) : data;
}

inline void WriteLayerData(Writer& w, const Image& img, const Frame& f, const Layer& layer) {
  const Bytes color = EncodePlane(img, f, layer, false);
  w.I32(layer.colorLength ? *layer.colorLength : static_cast<int32_t>(color.size()));
  w.Raw(color.data(), color.size());
  if (img.version < 100) return;
  if (layer.alphaRows.empty() && !layer.rawAlpha) {
    w.I32(layer.alphaLength ? *layer.alphaLength : 0);
    return;
  }
  const Bytes alpha = EncodePlane(img, f, layer, true);
  w.I32(layer.alphaLength ? *layer.alphaLength : static_cast<int32_t>(alpha.size()));
  w.Raw(alpha.data(), alpha.size());
}

inline std::string Hex6(uint32_t colour) {
  char text[8];
  std::snprintf(text, sizeof text, "%06X", colour & 0xFFFFFF);
  return text;
}

// The XML header the writer of this form would produce for img.
inline std::string XmlHeader(const Image& img) {
  std::string x = "<Vesk Version=\"" + std::to_string(img.version) + "\" Width=\"" +
                  std::to_string(img.frames.empty() ? 0 : img.frames[0].width) + "\" Height=\"" +
                  std::to_string(img.frames.empty() ? 0 : img.frames[0].height) + "\" Bpp=\"" +
                  std::to_string(img.frames.empty() ? 8 : img.frames[0].depth) + "\" Count=\"" +
                  std::to_string(img.count ? *img.count : static_cast<int32_t>(img.frames.size())) +
                  "\" SyncPal=\"0\" Randomized=\"" + (img.randomized ? "1" : "0") + "\" CompType=\"" +
                  std::to_string(img.compType) + "\" CompLevel=\"6\" BGColor=\"" +
                  std::to_string(static_cast<int32_t>(img.bgColor)) + "\" BlockWidth=\"" +
                  std::to_string(img.blockWidth) + "\" BlockHeight=\"" + std::to_string(img.blockHeight) +
                  "\" NotFillBG=\"" + (img.notFillBG ? "1" : "0") + "\">\r\n";
  for (const Frame& f : img.frames) {
    x += "<Frame Name=\"" + f.name + "\" TransColor=\"" + std::to_string(f.trans) + "\" Delay=\"" +
         std::to_string(f.delay) + "\" Disposal=\"" + std::to_string(f.disposal) + "\">\r\n";
    x += "<Layers Count=\"" +
         std::to_string(f.layerCount ? *f.layerCount : static_cast<int32_t>(f.layers.size())) +
         "\" Width=\"" + std::to_string(f.width) + "\" Height=\"" + std::to_string(f.height) + "\" Bpp=\"" +
         std::to_string(f.depth) + "\">\r\n";
    if (!f.palette.empty()) {
      x += "<RGB>";
      for (uint32_t c : f.palette) x += Hex6(c);  // the number 0xBBGGRR: red in the low byte
      x += "</RGB>\r\n";
    }
    for (const Layer& l : f.layers) {
      x += "<Layer Visible=\"" + std::string(l.visible ? "1" : "0") + "\" TransColor=\"" +
           std::to_string(l.trans) + "\" Alpha=\"" + std::to_string(l.alpha) + "\" AlphaOn=\"" +
           (l.alphaOn ? "1" : "0") + "\" Name=\"" + l.name + "\"/>\r\n";
    }
    x += "</Layers>\r\n</Frame>\r\n";
  }
  x += "</Vesk>\r\n";
  return x;
}

inline Bytes Build(const Image& img) {
  Writer w;
  if (img.form == Image::Xml) {
    const std::string text = img.xmlHeader.empty() ? XmlHeader(img) : img.xmlHeader;
    const Bytes packed = Zlib(Bytes(text.begin(), text.end()));
    w.Raw("VeskX", 5);
    w.U8(static_cast<uint8_t>(img.xmlMajor));
    w.Raw("00", 2);
    w.I32(static_cast<int32_t>(packed.size()));
    w.Raw(packed.data(), packed.size());
    for (const Frame& f : img.frames) {
      for (const Layer& l : f.layers) WriteLayerData(w, img, f, l);
    }
    return w.out;
  }
  const int32_t count = img.count ? *img.count : static_cast<int32_t>(img.frames.size());
  int32_t sigVersion = 0;
  if (img.form == Image::Binary) {
    if (!img.signature.empty()) {
      w.Raw(img.signature.data(), img.signature.size());
    } else {
      char sig[8];
      std::snprintf(sig, sizeof sig, "Vesk%03d", img.signatureVersion);
      w.Raw(sig, 7);
    }
    sigVersion = img.signatureVersion;
  }
  if (sigVersion < 103) {
    w.I32(count);
    w.U8(0);
    if (sigVersion >= 102) w.I32(static_cast<int32_t>(img.bgColor));
  } else {
    uint8_t record[64] = {};
    auto put = [&](int at, int32_t v) {
      for (int i = 0; i < 4; ++i) record[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
    };
    put(0, img.version);
    put(4, img.frames.empty() ? 0 : img.frames[0].width);
    put(8, img.frames.empty() ? 0 : img.frames[0].height);
    put(12, img.frames.empty() ? 0 : img.frames[0].depth);
    put(16, count);
    record[20] = 0;
    record[21] = img.randomized ? 1 : 0;
    record[22] = img.compType;
    put(24, static_cast<int32_t>(img.bgColor));
    put(28, img.blockWidth);
    put(32, img.blockHeight);
    record[36] = img.notFillBG ? 1 : 0;
    record[37] = 6;
    w.I32(img.headerLength);
    w.Raw(record, static_cast<size_t>(std::max(0, std::min(img.headerLength, 64))));
  }
  const int32_t v = img.version;
  for (const Frame& f : img.frames) {
    w.Str(f.name);
    w.I32(f.trans);
    w.I32(f.delay);
    w.U8(f.disposal);
    w.I32(0);
    w.I32(f.layerCount ? *f.layerCount : static_cast<int32_t>(f.layers.size()));
    w.I32(f.width);
    w.I32(f.height);
    w.I32(f.depth);
    if (f.depth <= 8) {
      for (size_t i = 0; i < (size_t(1) << f.depth); ++i) {
        const uint32_t c = i < f.palette.size() ? f.palette[i] : 0;
        w.U8(static_cast<uint8_t>(c >> 16));
        w.U8(static_cast<uint8_t>(c >> 8));
        w.U8(static_cast<uint8_t>(c));
        w.U8(0);
      }
    }
    for (const Layer& l : f.layers) {
      w.I32(0);
      w.I32(0);
      w.U8(l.visible ? 1 : 0);
      w.I32(l.trans);
      w.I32(l.alpha);
      if (v >= 101) w.U8(l.alphaOn ? 1 : 0);
      w.Str(l.name);
      WriteLayerData(w, img, f, l);
    }
    if (v >= 104) {
      w.I32(static_cast<int32_t>(f.extraA.size()));
      for (const auto& e : f.extraA) w.Raw(e.data(), 16);
      w.I32(static_cast<int32_t>(f.extraB.size()));
      for (const auto& e : f.extraB) w.Raw(e.data(), 16);
    }
  }
  return w.out;
}

// Copies into every layer's rows what its block references stand for, so rows hold the picture the
// decoder must produce. Frames and layers are processed in file order, as the references require.
inline void ResolveBlocks(Image& img) {
  if (img.blockWidth <= 0 || img.blockHeight <= 0) return;
  for (Frame& f : img.frames) {
    const int cols = (f.width + img.blockWidth - 1) / img.blockWidth;
    for (Layer& l : f.layers) {
      for (int plane = 0; plane < 2; ++plane) {
        const bool alpha = plane == 1;
        const auto& index = alpha ? l.alphaIndex : l.colorIndex;
        Bytes& rows = alpha ? l.alphaRows : l.rows;
        const int bpp = alpha ? 8 : BitCountOf(f.depth);
        const size_t rowSize = RowSize(f.width, bpp);
        for (size_t b = 0; b < index.size(); ++b) {
          const BlockRef e = index[b];
          if (e.s == -1) continue;
          const int x0 = static_cast<int>(b % cols) * img.blockWidth,
                    y0 = static_cast<int>(b / cols) * img.blockHeight;
          const int bw = std::min(img.blockWidth, f.width - x0),
                    bh = std::min(img.blockHeight, f.height - y0);
          const size_t bytes = (static_cast<size_t>(bw) * bpp + 7) / 8;
          for (int j = 0; j < bh; ++j) {
            if (e.s == -2) {
              const int rx = (e.r % cols) * img.blockWidth, ry = (e.r / cols) * img.blockHeight;
              std::memmove(&rows[(y0 + j) * rowSize + x0 * bpp / 8], &rows[(ry + j) * rowSize + rx * bpp / 8],
                           bytes);
            } else {
              const Layer& src = img.frames[e.s].layers[e.r];
              const Bytes& from = alpha ? src.alphaRows : src.rows;
              const size_t srcRow = RowSize(img.frames[e.s].width, bpp);
              std::memcpy(&rows[(y0 + j) * rowSize + x0 * bpp / 8], &from[(y0 + j) * srcRow + x0 * bpp / 8],
                          bytes);
            }
          }
        }
      }
    }
  }
}

// Deterministic pseudo-random bytes for test pictures.
inline Bytes Noise(size_t n, uint32_t seed) {
  Bytes out(n);
  uint32_t s = seed * 2654435761u + 1;
  for (auto& b : out) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    b = static_cast<uint8_t>(s >> 7);
  }
  return out;
}

// Packed pixel value at (x, y) of plain rows, by bit count (the layout of Windows bitmaps).
inline uint32_t PixelOf(const Bytes& rows, size_t rowSize, int bitCount, int x, int y) {
  const uint8_t* row = &rows[static_cast<size_t>(y) * rowSize];
  switch (bitCount) {
    case 1:
      return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4:
      return (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 15;
    case 8:
      return row[x];
    case 16:
      return row[x * 2] | (row[x * 2 + 1] << 8);
    case 24:
      return row[x * 3] | (row[x * 3 + 1] << 8) | (row[x * 3 + 2] << 16);
    case 32:
      return row[x * 4] | (row[x * 4 + 1] << 8) | (row[x * 4 + 2] << 16) | (uint32_t(row[x * 4 + 3]) << 24);
  }
  return 0;
}

// A one-frame, one-layer 24-bit picture in the binary form with permuted rows; `pixel` gives the
// blue, green and red bytes of (x, y).
inline Bytes Picture24(int width, int height, uint32_t seed,
                       const std::function<void(int x, int y, uint8_t* bgr)>& pixel) {
  Image img;
  img.form = Image::Binary;
  img.randomized = true;
  img.seed = seed;
  Frame f;
  f.width = width;
  f.height = height;
  f.depth = 24;
  Layer layer;
  const size_t row = RowSize(width, 24);
  layer.rows.assign(row * static_cast<size_t>(height), 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      pixel(x, y, &layer.rows[row * static_cast<size_t>(y) + 3 * static_cast<size_t>(x)]);
  f.layers.push_back(layer);
  img.frames.push_back(f);
  return Build(img);
}

}  // namespace vsktest
