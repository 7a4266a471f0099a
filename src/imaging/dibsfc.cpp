#include "imaging/dibsfc.h"

#include <algorithm>
#include <cstring>

#include "framework/sysutils.h"

namespace vr {

namespace {

// ---------------------------------------------------------------------------------------------
// Raw pixel access per bit count. Each accessor is inlined into the loops that use it.

struct Px1 {
  static uint32_t Get(const uint8_t* row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1u; }
  static void Set(uint8_t* row, int x, uint32_t v) {
    const uint8_t m = static_cast<uint8_t>(0x80u >> (x & 7));
    if (v & 1u)
      row[x >> 3] = static_cast<uint8_t>(row[x >> 3] | m);
    else
      row[x >> 3] = static_cast<uint8_t>(row[x >> 3] & ~m);
  }
};

struct Px4 {
  static uint32_t Get(const uint8_t* row, int x) {
    const uint8_t b = row[x >> 1];
    return (x & 1) ? (b & 15u) : (b >> 4u);
  }
  static void Set(uint8_t* row, int x, uint32_t v) {
    uint8_t& b = row[x >> 1];
    if (x & 1)
      b = static_cast<uint8_t>((b & 0xF0u) | (v & 15u));
    else
      b = static_cast<uint8_t>((b & 0x0Fu) | ((v & 15u) << 4));
  }
};

struct Px8 {
  static uint32_t Get(const uint8_t* row, int x) { return row[x]; }
  static void Set(uint8_t* row, int x, uint32_t v) { row[x] = static_cast<uint8_t>(v); }
};

struct Px16 {
  static uint32_t Get(const uint8_t* row, int x) {
    const uint8_t* p = row + 2 * x;
    return p[0] | (uint32_t(p[1]) << 8);
  }
  static void Set(uint8_t* row, int x, uint32_t v) {
    uint8_t* p = row + 2 * x;
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
  }
};

struct Px24 {
  static uint32_t Get(const uint8_t* row, int x) {
    const uint8_t* p = row + 3 * x;
    return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
  }
  static void Set(uint8_t* row, int x, uint32_t v) {
    uint8_t* p = row + 3 * x;
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
  }
};

struct Px32 {
  static uint32_t Get(const uint8_t* row, int x) {
    const uint8_t* p = row + 4 * x;
    return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
  }
  static void Set(uint8_t* row, int x, uint32_t v) {
    uint8_t* p = row + 4 * x;
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
  }
};

// Calls fn with the accessor type of a bit count; false for an unknown bit count.
template <class Fn>
bool WithAccessor(int bitCount, Fn&& fn) {
  switch (bitCount) {
    case 1:
      fn(Px1{});
      return true;
    case 4:
      fn(Px4{});
      return true;
    case 8:
      fn(Px8{});
      return true;
    case 16:
      fn(Px16{});
      return true;
    case 24:
      fn(Px24{});
      return true;
    case 32:
      fn(Px32{});
      return true;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------------------------
// Channel masks

struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  uint8_t widen[256] = {};  // field value -> 8-bit intensity (fields of up to 8 bits)
};

void SetupChannel(Channel& c, uint32_t mask) {
  c.mask = mask;
  c.shift = 0;
  c.bits = 0;
  if (mask == 0) return;
  while (!((mask >> c.shift) & 1u)) ++c.shift;
  while (c.shift + c.bits < 32 && ((mask >> (c.shift + c.bits)) & 1u)) ++c.bits;
  if (c.bits <= 8) {
    const uint32_t top = (1u << c.bits) - 1;
    for (uint32_t f = 0; f <= top; ++f) {
      // Repeat the field's bits downwards until 8 bits are filled.
      uint32_t out = 0;
      int filled = 0;
      while (filled < 8) {
        int take = 8 - filled;
        out |= (take >= c.bits) ? (f << (take - c.bits)) : (f >> (c.bits - take));
        filled += c.bits;
      }
      c.widen[f] = static_cast<uint8_t>(out);
    }
  }
}

inline uint8_t Decode(const Channel& c, uint32_t v) {
  if (c.bits == 0) return 0;
  const uint32_t f = (v & c.mask) >> c.shift;
  return c.bits <= 8 ? c.widen[f] : static_cast<uint8_t>(f >> (c.bits - 8));
}

inline uint32_t Encode(const Channel& c, uint8_t intensity) {
  if (c.bits == 0) return 0;
  const uint32_t f = c.bits >= 8 ? uint32_t(intensity) << (c.bits - 8) : uint32_t(intensity) >> (8 - c.bits);
  return (f << c.shift) & c.mask;
}

struct Channels {
  Channel r, g, b;
  explicit Channels(const TDIB& d) {
    SetupChannel(r, d.RedMask());
    SetupChannel(g, d.GreenMask());
    SetupChannel(b, d.BlueMask());
  }
};

// ---------------------------------------------------------------------------------------------
// Geometry: a source rectangle placed at a target position, cut to the source and the target clip.

struct Span {
  int dx = 0, dy = 0;  // first target pixel
  int sx = 0, sy = 0;  // first source pixel
  int w = 0, h = 0;
};

bool PlaceSpan(const TDIBSurface& target, int x, int y, const TRect& rect, const TDIB& source,
               const TDIB* mask, Span& out) {
  int64_t tx = x, ty = y;
  int64_t l = rect.Left, t = rect.Top, r = rect.Right, b = rect.Bottom;
  // Cut to the source's own bounds (and its mask's), moving the target by what goes at left and top.
  int64_t sw = source.Width(), sh = source.Height();
  if (mask) {
    sw = std::min<int64_t>(sw, mask->Width());
    sh = std::min<int64_t>(sh, mask->Height());
  }
  if (l < 0) {
    tx -= l;
    l = 0;
  }
  if (t < 0) {
    ty -= t;
    t = 0;
  }
  r = std::min(r, sw);
  b = std::min(b, sh);
  if (l >= r || t >= b) return false;
  // Clip the target to ClipRect (within the surface) or the whole surface.
  TRect clip = target.BoundsRect();
  if (!target.ClipRect.IsEmpty()) {
    clip.Left = std::max(clip.Left, target.ClipRect.Left);
    clip.Top = std::max(clip.Top, target.ClipRect.Top);
    clip.Right = std::min(clip.Right, target.ClipRect.Right);
    clip.Bottom = std::min(clip.Bottom, target.ClipRect.Bottom);
    if (clip.IsEmpty()) return false;
  }
  if (tx < clip.Left) {
    l += clip.Left - tx;
    tx = clip.Left;
  }
  if (tx + (r - l) > clip.Right) r = l + (clip.Right - tx);
  if (ty < clip.Top) {
    t += clip.Top - ty;
    ty = clip.Top;
  }
  if (ty + (b - t) > clip.Bottom) b = t + (clip.Bottom - ty);
  if (l >= r || t >= b) return false;
  out.dx = static_cast<int>(tx);
  out.dy = static_cast<int>(ty);
  out.sx = static_cast<int>(l);
  out.sy = static_cast<int>(t);
  out.w = static_cast<int>(r - l);
  out.h = static_cast<int>(b - t);
  return true;
}

// The 4 x 4 screen-door patterns; row entries as 4-bit masks, column 0 in bit 3.
constexpr uint8_t kScreenDoor[16][4] = {
    {0x8, 0x0, 0x0, 0x0}, {0x8, 0x0, 0x2, 0x0}, {0xA, 0x0, 0x2, 0x0}, {0xA, 0x0, 0xA, 0x0},
    {0xA, 0x4, 0xA, 0x0}, {0xA, 0x4, 0xA, 0x1}, {0xA, 0x5, 0xA, 0x1}, {0xA, 0x5, 0xA, 0x5},
    {0xE, 0x5, 0xA, 0x5}, {0xE, 0x5, 0xB, 0x5}, {0xF, 0x5, 0xB, 0x5}, {0xF, 0x5, 0xF, 0x5},
    {0xF, 0xD, 0xF, 0x5}, {0xF, 0xD, 0xF, 0x7}, {0xF, 0xF, 0xF, 0x7}, {0xF, 0xF, 0xF, 0xF},
};

inline uint32_t Blend255(uint32_t t, uint32_t s, uint32_t a) { return ((255 - a) * t + a * s) / 255; }

// 32-bit blend of two words with weight a (0-255): red and blue together, then green; fourth byte 0.
inline uint32_t Blend32(uint32_t t, uint32_t s, uint32_t a) {
  const uint32_t rb = (((255 - a) * (t & 0xFF00FFu) + a * (s & 0xFF00FFu)) >> 8) & 0xFF00FFu;
  const uint32_t g = (((255 - a) * (t & 0xFF00u) + a * (s & 0xFF00u)) >> 8) & 0xFF00u;
  return rb | g;
}

// Fixed palettes for conversion to palette depths.
void FixedPalette(int bitCount, std::array<TRGBQuad, 256>& table) {
  table = {};
  auto put = [&table](int i, int r, int g, int b) {
    table[static_cast<size_t>(i)].rgbRed = static_cast<uint8_t>(r);
    table[static_cast<size_t>(i)].rgbGreen = static_cast<uint8_t>(g);
    table[static_cast<size_t>(i)].rgbBlue = static_cast<uint8_t>(b);
  };
  if (bitCount == 1) {
    put(1, 255, 255, 255);
  } else if (bitCount == 4) {
    static const uint8_t vga[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                       {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                       {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                       {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    for (int i = 0; i < 16; ++i) put(i, vga[i][0], vga[i][1], vga[i][2]);
  } else {
    int i = 0;
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) put(i++, r * 51, g * 51, b * 51);
    for (int k = 0; k < 40; ++k) {
      int v = (k + 1) * 255 / 41;
      put(i++, v, v, v);
    }
  }
}

int Nearest(const std::array<TRGBQuad, 256>& table, int count, int red, int green, int blue) {
  int best = 0;
  int64_t bestDist = -1;
  for (int i = 0; i < count; ++i) {
    const TRGBQuad& e = table[static_cast<size_t>(i)];
    const int64_t dr = e.rgbRed - red, dg = e.rgbGreen - green, db = e.rgbBlue - blue;
    const int64_t d = dr * dr + dg * dg + db * db;
    if (bestDist < 0 || d < bestDist) {
      bestDist = d;
      best = i;
      if (d == 0) break;
    }
  }
  return best;
}

// Decodes one source row into blue, green, red byte triples.
void DecodeRow(const TDIB& src, const Channels& ch, int y, uint8_t* bgr) {
  const uint8_t* row = src.ScanLine(y);
  const int w = src.Width();
  const auto& table = src.ColorTable;
  WithAccessor(src.BitCount(), [&](auto px) {
    using P = decltype(px);
    for (int x = 0; x < w; ++x) {
      const uint32_t v = P::Get(row, x);
      uint8_t* o = bgr + 3 * x;
      if (src.BitCount() <= 8) {
        const TRGBQuad& e = table[v & 0xFFu];
        o[0] = e.rgbBlue;
        o[1] = e.rgbGreen;
        o[2] = e.rgbRed;
      } else {
        o[0] = Decode(ch.b, v);
        o[1] = Decode(ch.g, v);
        o[2] = Decode(ch.r, v);
      }
    }
  });
}

// Converts the pixels of src into dst, which is already sized (same width and height) with its
// layout and, for palette bit counts, its colour table. keepIndices copies palette indices unchanged.
void ConvertPixels(const TDIB& src, TDIB& dst, bool keepIndices) {
  const int w = src.Width();
  const int h = src.Height();
  if (w <= 0 || h <= 0) return;
  if (keepIndices) {
    WithAccessor(src.BitCount(), [&](auto spx) {
      using S = decltype(spx);
      WithAccessor(dst.BitCount(), [&](auto dpx) {
        using D = decltype(dpx);
        for (int y = 0; y < h; ++y) {
          const uint8_t* s = src.ScanLine(y);
          uint8_t* d = dst.ScanLine(y);
          for (int x = 0; x < w; ++x) D::Set(d, x, S::Get(s, x));
        }
      });
    });
    return;
  }
  const Channels sch(src);
  const Channels dch(dst);
  std::vector<uint8_t> bgr(static_cast<size_t>(w) * 3);
  // Palette targets: exact nearest entry, remembered per colour in a small direct-mapped cache.
  constexpr size_t kCacheSize = 4096;
  std::vector<uint32_t> cacheKey;
  std::vector<uint8_t> cacheIndex;
  const int paletteCount = dst.BitCount() <= 8 ? (1 << dst.BitCount()) : 0;
  if (paletteCount) {
    cacheKey.assign(kCacheSize, 0xFFFFFFFFu);
    cacheIndex.assign(kCacheSize, 0);
  }
  WithAccessor(dst.BitCount(), [&](auto dpx) {
    using D = decltype(dpx);
    for (int y = 0; y < h; ++y) {
      DecodeRow(src, sch, y, bgr.data());
      uint8_t* d = dst.ScanLine(y);
      for (int x = 0; x < w; ++x) {
        const uint8_t* c = bgr.data() + 3 * x;
        uint32_t v;
        if (paletteCount) {
          const uint32_t key = uint32_t(c[0]) | (uint32_t(c[1]) << 8) | (uint32_t(c[2]) << 16);
          const size_t slot = ((key * 2654435761u) >> 20) & (kCacheSize - 1);
          if (cacheKey[slot] != key) {
            cacheKey[slot] = key;
            cacheIndex[slot] = static_cast<uint8_t>(Nearest(dst.ColorTable, paletteCount, c[2], c[1], c[0]));
          }
          v = cacheIndex[slot];
        } else
          v = Encode(dch.r, c[2]) | Encode(dch.g, c[1]) | Encode(dch.b, c[0]);
        D::Set(d, x, v);
      }
    }
  });
}

bool ValidDepth(int depth) {
  return depth == 1 || depth == 4 || depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
}

}  // namespace

uint8_t ScreenDoorRow(int level, int row) {
  if (level < 0 || level > 15) return 0;
  return kScreenDoor[level][row & 3];
}

// ---------------------------------------------------------------------------------------------
// TDIB

TDIB::TDIB() = default;
TDIB::~TDIB() = default;

void TDIB::SetPixelFormat(uint32_t redMask, uint32_t greenMask, uint32_t blueMask) {
  formatRed_ = redMask;
  formatGreen_ = greenMask;
  formatBlue_ = blueMask;
}

void TDIB::SetSize(int width, int height, int bitCount) {
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    throw EVrError(Format("未対応のビット数です (%d)", {bitCount}));
  const bool sameMasks =
      bitCount <= 8 || (formatRed_ == redMask_ && formatGreen_ == greenMask_ && formatBlue_ == blueMask_);
  if (width <= 0 || height <= 0) {
    TDIB::Clear();
    bitCount_ = bitCount;
    redMask_ = formatRed_;
    greenMask_ = formatGreen_;
    blueMask_ = formatBlue_;
    return;
  }
  if (width == width_ && height == height_ && bitCount == bitCount_ && sameMasks) return;
  if (width > MaxDimension || height > MaxDimension)
    throw EVrError(Format("画像のサイズが大きすぎます (%d x %d)", {width, height}));
  const int64_t rowSize = ((int64_t(width) * bitCount + 31) / 32) * 4;
  if (rowSize * height > MaxBytes)
    throw EVrError(Format("画像のサイズが大きすぎます (%d x %d)", {width, height}));
  std::vector<uint8_t> fresh(static_cast<size_t>(rowSize * height), 0);
  bits_.swap(fresh);
  width_ = width;
  height_ = height;
  bitCount_ = bitCount;
  rowSize_ = static_cast<int>(rowSize);
  redMask_ = formatRed_;
  greenMask_ = formatGreen_;
  blueMask_ = formatBlue_;
  UpdatePalette();
}

void TDIB::Clear() {
  std::vector<uint8_t>().swap(bits_);
  width_ = 0;
  height_ = 0;
  rowSize_ = 0;
  bitCount_ = 0;
}

uint8_t* TDIB::ScanLine(int y) {
  if (y < 0 || y >= height_)
    throw EVrError(Format("スキャンラインのインデックスが範囲を越えました (%d)", {y}));
  return bits_.data() + static_cast<size_t>(y) * static_cast<size_t>(rowSize_);
}

const uint8_t* TDIB::ScanLine(int y) const { return const_cast<TDIB*>(this)->ScanLine(y); }

uint32_t TDIB::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  const uint8_t* row = ScanLine(y);
  uint32_t v = 0;
  WithAccessor(bitCount_, [&](auto px) { v = decltype(px)::Get(row, x); });
  return v;
}

void TDIB::SetPixel(int x, int y, uint32_t value) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t* row = ScanLine(y);
  WithAccessor(bitCount_, [&](auto px) { decltype(px)::Set(row, x, value); });
}

uint32_t TDIB::PixelToColor(uint32_t value) const {
  uint32_t r, g, b;
  if (bitCount_ <= 8) {
    const TRGBQuad& e = ColorTable[value & 0xFFu];
    r = e.rgbRed;
    g = e.rgbGreen;
    b = e.rgbBlue;
  } else {
    const Channels ch(*this);
    r = Decode(ch.r, value);
    g = Decode(ch.g, value);
    b = Decode(ch.b, value);
  }
  return r | (g << 8) | (b << 16);
}

void TDIB::UpdatePalette() {
  palette_ = {};
  const int n = PaletteCount();
  for (int i = 0; i < n; ++i) palette_[static_cast<size_t>(i)] = ColorTable[static_cast<size_t>(i)];
}

int TDIB::PaletteCount() const { return (bitCount_ >= 1 && bitCount_ <= 8) ? (1 << bitCount_) : 0; }

int TDIB::NearestPaletteIndex(int red, int green, int blue) const {
  return Nearest(palette_, PaletteCount(), red, green, blue);
}

void TDIB::AssignBitmap(const TDIB& source) {
  if (&source == this) return;
  width_ = source.width_;
  height_ = source.height_;
  bitCount_ = source.bitCount_;
  rowSize_ = source.rowSize_;
  redMask_ = source.redMask_;
  greenMask_ = source.greenMask_;
  blueMask_ = source.blueMask_;
  formatRed_ = source.formatRed_;
  formatGreen_ = source.formatGreen_;
  formatBlue_ = source.formatBlue_;
  bits_ = source.bits_;
  ColorTable = source.ColorTable;
  palette_ = source.palette_;
}

// ---------------------------------------------------------------------------------------------
// TDIBSurface

TDIBSurface::TDIBSurface() = default;
TDIBSurface::~TDIBSurface() = default;

void TDIBSurface::SetSize(int width, int height, int depth) {
  if (depth == 15)
    SetPixelFormat(0x7C00, 0x3E0, 0x1F);
  else if (depth == 16)
    SetPixelFormat(0xF800, 0x7E0, 0x1F);
  else
    SetPixelFormat(0xFF0000, 0xFF00, 0xFF);
  TDIB::SetSize(width, height, depth == 15 ? 16 : depth);
  if (alpha_) alpha_->SetSize(width_, height_, 8);
}

void TDIBSurface::Clear() {
  TDIB::Clear();
  alpha_.reset();
}

int TDIBSurface::BitDepth() const {
  if (bitCount_ == 16 && greenMask_ == 0x3E0) return 15;
  return bitCount_;
}

void TDIBSurface::CreateAlpha() {
  if (!alpha_) alpha_ = std::make_unique<TDIBSurface>();
  if (alpha_->Width() != width_ || alpha_->Height() != height_ || alpha_->BitCount() != 8)
    alpha_->SetSize(width_, height_, 8);
}

void TDIBSurface::FreeAlpha() { alpha_.reset(); }

void TDIBSurface::FillAlphaOpaque() {
  if (alpha_ && !alpha_->bits_.empty()) std::memset(alpha_->bits_.data(), 255, alpha_->bits_.size());
}

void TDIBSurface::CopyAlphaFrom(const TDIB& source) {
  if (source.BitCount() != 8 || source.Width() != width_ || source.Height() != height_)
    throw EVrError(Format("アルファプレーンの形式が違います (%d x %d, %d)",
                          {source.Width(), source.Height(), source.BitCount()}));
  CreateAlpha();
  if (alpha_->Empty()) return;
  for (int y = 0; y < height_; ++y)
    std::memcpy(alpha_->ScanLine(y), source.ScanLine(y), size_t(source.RowSize()));
}

void TDIBSurface::FillRect(const TRect& rect, uint32_t value) {
  const int l = std::max(rect.Left, 0), t = std::max(rect.Top, 0);
  const int r = std::min(rect.Right, width_), b = std::min(rect.Bottom, height_);
  if (l >= r || t >= b) return;
  const int n = r - l;
  switch (BitDepth()) {
    case 1:
      value &= 1u;
      for (int y = t; y < b; ++y) {
        uint8_t* row = ScanLine(y);
        for (int x = l; x < r; ++x) Px1::Set(row, x, value);
      }
      break;
    case 4:
      value &= 15u;
      for (int y = t; y < b; ++y) {
        uint8_t* row = ScanLine(y);
        for (int x = l; x < r; ++x) Px4::Set(row, x, value);
      }
      break;
    case 8:
      for (int y = t; y < b; ++y) std::memset(ScanLine(y) + l, static_cast<uint8_t>(value), size_t(n));
      break;
    case 15:
    case 16:
      if (BitDepth() == 15) value &= 0x7FFFu;
      for (int y = t; y < b; ++y) {
        uint8_t* row = ScanLine(y);
        for (int x = l; x < r; ++x) Px16::Set(row, x, value);
      }
      break;
    case 24:
      for (int y = t; y < b; ++y) {
        uint8_t* row = ScanLine(y);
        for (int x = l; x < r; ++x) Px24::Set(row, x, value);
      }
      break;
    case 32:
      for (int y = t; y < b; ++y) {
        uint8_t* row = ScanLine(y);
        for (int x = l; x < r; ++x) Px32::Set(row, x, value);
      }
      break;
    default:
      break;
  }
}

uint32_t TDIBSurface::ColorToPixel(int red, int green, int blue) const {
  switch (BitDepth()) {
    case 1:
    case 4:
    case 8:
      return static_cast<uint32_t>(NearestPaletteIndex(red, green, blue));
    case 15:
      return (uint32_t(red) & 31u) * 1024 + (uint32_t(green) & 31u) * 32 + (uint32_t(blue) & 31u);
    case 16:
      return (uint32_t(red) & 31u) * 2048 + (uint32_t(green) & 63u) * 32 + (uint32_t(blue) & 31u);
    default:
      return (uint32_t(red) & 255u) * 65536 + (uint32_t(green) & 255u) * 256 + (uint32_t(blue) & 255u);
  }
}

namespace {

// A source that can be read while this surface is written: the source itself, or a copy when it is
// the target (overlapping rows) or has another bit count (converted to the target's layout).
const TDIBSurface& UsableSource(const TDIBSurface& target, const TDIBSurface& source,
                                std::unique_ptr<TDIBSurface>& holder) {
  if (&source != &target && source.BitCount() == target.BitCount()) return source;
  holder = std::make_unique<TDIBSurface>();
  if (source.BitCount() == target.BitCount()) {
    holder->Assign(source);
    return *holder;
  }
  holder->ColorTable = target.ColorTable;
  holder->SetPixelFormat(target.RedMask(), target.GreenMask(), target.BlueMask());
  holder->TDIB::SetSize(source.Width(), source.Height(), target.BitCount());
  if (holder->Empty()) return *holder;
  holder->UpdatePalette();
  ConvertPixels(source, *holder, false);
  if (source.HasAlpha()) holder->CopyAlphaFrom(*source.AlphaPlane());
  return *holder;
}

}  // namespace

void TDIBSurface::Draw(int x, int y, const TDIBSurface& source) {
  DrawRect(x, y, source.BoundsRect(), source);
}

void TDIBSurface::DrawRect(int x, int y, const TRect& sourceRect, const TDIBSurface& source) {
  std::unique_ptr<TDIBSurface> holder;
  const TDIBSurface& src = UsableSource(*this, source, holder);
  Span sp;
  if (!PlaceSpan(*this, x, y, sourceRect, src, nullptr, sp)) return;
  const int bc = bitCount_;
  if (bc >= 8) {
    const size_t bpp = size_t(bc) / 8;
    for (int j = 0; j < sp.h; ++j)
      std::memcpy(ScanLine(sp.dy + j) + size_t(sp.dx) * bpp, src.ScanLine(sp.sy + j) + size_t(sp.sx) * bpp,
                  size_t(sp.w) * bpp);
    return;
  }
  WithAccessor(bc, [&](auto px) {
    using P = decltype(px);
    for (int j = 0; j < sp.h; ++j) {
      const uint8_t* s = src.ScanLine(sp.sy + j);
      uint8_t* d = ScanLine(sp.dy + j);
      for (int i = 0; i < sp.w; ++i) P::Set(d, sp.dx + i, P::Get(s, sp.sx + i));
    }
  });
}

void TDIBSurface::DrawTransparent(int x, int y, int32_t trans, const TRect& sourceRect,
                                  const TDIBSurface& source) {
  if (trans < 0) {
    DrawRect(x, y, sourceRect, source);
    return;
  }
  std::unique_ptr<TDIBSurface> holder;
  const TDIBSurface& src = UsableSource(*this, source, holder);
  Span sp;
  if (!PlaceSpan(*this, x, y, sourceRect, src, nullptr, sp)) return;
  const uint32_t key = bitCount_ == 1 ? (trans != 0 ? 1u : 0u) : static_cast<uint32_t>(trans);
  WithAccessor(bitCount_, [&](auto px) {
    using P = decltype(px);
    for (int j = 0; j < sp.h; ++j) {
      const uint8_t* s = src.ScanLine(sp.sy + j);
      uint8_t* d = ScanLine(sp.dy + j);
      for (int i = 0; i < sp.w; ++i) {
        const uint32_t v = P::Get(s, sp.sx + i);
        if (v != key) P::Set(d, sp.dx + i, v);
      }
    }
  });
}

void TDIBSurface::DrawAlpha(int x, int y, int opacity, int32_t trans, const TRect& sourceRect,
                            const TDIBSurface& source) {
  if (opacity == 0) return;
  const bool palette = bitCount_ <= 8;
  const int level = (palette && opacity > 0) ? opacity / 16 : 0;
  if (opacity >= 255 || opacity < 0 || (palette && level > 14)) {
    DrawTransparent(x, y, trans, sourceRect, source);
    return;
  }
  std::unique_ptr<TDIBSurface> holder;
  const TDIBSurface& src = UsableSource(*this, source, holder);
  Span sp;
  if (!PlaceSpan(*this, x, y, sourceRect, src, nullptr, sp)) return;
  const bool hasKey = trans >= 0;
  const uint32_t key = static_cast<uint32_t>(trans);
  const uint32_t a = static_cast<uint32_t>(opacity);

  if (palette) {
    WithAccessor(bitCount_, [&](auto px) {
      using P = decltype(px);
      for (int j = 0; j < sp.h; ++j) {
        const uint8_t pattern = kScreenDoor[level][(sp.dy + j) & 3];
        if (!pattern) continue;
        const uint8_t* s = src.ScanLine(sp.sy + j);
        uint8_t* d = ScanLine(sp.dy + j);
        for (int i = 0; i < sp.w; ++i) {
          const int tx = sp.dx + i;
          if (!((pattern >> (3 - (tx & 3))) & 1u)) continue;
          const uint32_t v = P::Get(s, sp.sx + i);
          if (!hasKey || v != key) P::Set(d, tx, v);
        }
      }
    });
    return;
  }
  switch (bitCount_) {
    case 16: {
      const uint32_t mr = redMask_, mg = greenMask_, mb = blueMask_;
      for (int j = 0; j < sp.h; ++j) {
        const uint8_t* s = src.ScanLine(sp.sy + j);
        uint8_t* d = ScanLine(sp.dy + j);
        for (int i = 0; i < sp.w; ++i) {
          const uint32_t sv = Px16::Get(s, sp.sx + i);
          if (hasKey && sv == key) continue;
          const uint32_t tv = Px16::Get(d, sp.dx + i);
          const uint32_t v = (Blend255(tv & mr, sv & mr, a) & mr) | (Blend255(tv & mg, sv & mg, a) & mg) |
                             (Blend255(tv & mb, sv & mb, a) & mb);
          Px16::Set(d, sp.dx + i, v);
        }
      }
      break;
    }
    case 24:
      for (int j = 0; j < sp.h; ++j) {
        const uint8_t* s = src.ScanLine(sp.sy + j) + size_t(sp.sx) * 3;
        uint8_t* d = ScanLine(sp.dy + j) + size_t(sp.dx) * 3;
        for (int i = 0; i < sp.w; ++i, s += 3, d += 3) {
          if (hasKey && s[0] == (key & 0xFFu) && s[1] == ((key >> 8) & 0xFFu) &&
              s[2] == ((key >> 16) & 0xFFu))
            continue;
          d[0] = static_cast<uint8_t>(Blend255(d[0], s[0], a));
          d[1] = static_cast<uint8_t>(Blend255(d[1], s[1], a));
          d[2] = static_cast<uint8_t>(Blend255(d[2], s[2], a));
        }
      }
      break;
    case 32:
      for (int j = 0; j < sp.h; ++j) {
        const uint8_t* s = src.ScanLine(sp.sy + j);
        uint8_t* d = ScanLine(sp.dy + j);
        for (int i = 0; i < sp.w; ++i) {
          const uint32_t sv = Px32::Get(s, sp.sx + i);
          if (hasKey && sv == key) continue;
          Px32::Set(d, sp.dx + i, Blend32(Px32::Get(d, sp.dx + i), sv, a));
        }
      }
      break;
    default:
      break;
  }
}

void TDIBSurface::DrawAlphaMask(int x, int y, int opacity, const TRect& sourceRect,
                                const TDIBSurface& source) {
  if (!source.HasAlpha()) {
    DrawAlpha(x, y, opacity, -1, sourceRect, source);
    return;
  }
  std::unique_ptr<TDIBSurface> holder;
  const TDIBSurface& src = UsableSource(*this, source, holder);
  const TDIBSurface* mask = src.AlphaPlane();
  if (!mask || mask->BitCount() != 8) return;
  Span sp;
  if (!PlaceSpan(*this, x, y, sourceRect, src, mask, sp)) return;

  switch (bitCount_) {
    case 1:
    case 4:
    case 8:
      WithAccessor(bitCount_, [&](auto px) {
        using P = decltype(px);
        for (int j = 0; j < sp.h; ++j) {
          const uint8_t* s = src.ScanLine(sp.sy + j);
          const uint8_t* m = mask->ScanLine(sp.sy + j) + sp.sx;
          uint8_t* d = ScanLine(sp.dy + j);
          for (int i = 0; i < sp.w; ++i)
            if (m[i] >= 128) P::Set(d, sp.dx + i, P::Get(s, sp.sx + i));
        }
      });
      break;
    case 16: {
      const uint32_t mr = redMask_, mg = greenMask_, mb = blueMask_;
      for (int j = 0; j < sp.h; ++j) {
        const uint8_t* s = src.ScanLine(sp.sy + j);
        const uint8_t* m = mask->ScanLine(sp.sy + j) + sp.sx;
        uint8_t* d = ScanLine(sp.dy + j);
        for (int i = 0; i < sp.w; ++i) {
          const uint32_t k = m[i];
          if (k == 0) continue;
          const uint32_t sv = Px16::Get(s, sp.sx + i);
          if (k == 255) {
            Px16::Set(d, sp.dx + i, sv);
            continue;
          }
          const uint32_t tv = Px16::Get(d, sp.dx + i);
          const uint32_t v = ((((255 - k) * (tv & mr) + k * (sv & mr)) >> 8) & mr) |
                             ((((255 - k) * (tv & mg) + k * (sv & mg)) >> 8) & mg) |
                             ((((255 - k) * (tv & mb) + k * (sv & mb)) >> 8) & mb);
          Px16::Set(d, sp.dx + i, v);
        }
      }
      break;
    }
    case 24:
      for (int j = 0; j < sp.h; ++j) {
        const uint8_t* s = src.ScanLine(sp.sy + j) + size_t(sp.sx) * 3;
        const uint8_t* m = mask->ScanLine(sp.sy + j) + sp.sx;
        uint8_t* d = ScanLine(sp.dy + j) + size_t(sp.dx) * 3;
        if (opacity >= 255) {
          for (int i = 0; i < sp.w; ++i, s += 3, d += 3) {
            const uint32_t k = m[i];
            if (k == 0) continue;
            if (k == 255) {
              d[0] = s[0];
              d[1] = s[1];
              d[2] = s[2];
              continue;
            }
            d[0] = static_cast<uint8_t>((k * s[0] + (255 - k) * d[0]) >> 8);
            d[1] = static_cast<uint8_t>((k * s[1] + (255 - k) * d[1]) >> 8);
            d[2] = static_cast<uint8_t>((k * s[2] + (255 - k) * d[2]) >> 8);
          }
        } else {
          for (int i = 0; i < sp.w; ++i, s += 3, d += 3) {
            const int64_t om = int64_t(opacity) * m[i];
            if (om <= 255) continue;
            const uint32_t k = static_cast<uint32_t>(om >> 8);
            d[0] = static_cast<uint8_t>(((255 - k) * d[0] + k * s[0]) >> 8);
            d[1] = static_cast<uint8_t>(((255 - k) * d[1] + k * s[1]) >> 8);
            d[2] = static_cast<uint8_t>(((255 - k) * d[2] + k * s[2]) >> 8);
          }
        }
      }
      break;
    case 32:
      for (int j = 0; j < sp.h; ++j) {
        const uint8_t* s = src.ScanLine(sp.sy + j);
        const uint8_t* m = mask->ScanLine(sp.sy + j) + sp.sx;
        uint8_t* d = ScanLine(sp.dy + j);
        for (int i = 0; i < sp.w; ++i) {
          const uint32_t k = m[i];
          if (k == 0) continue;
          const uint32_t sv = Px32::Get(s, sp.sx + i);
          Px32::Set(d, sp.dx + i, k == 255 ? sv : Blend32(Px32::Get(d, sp.dx + i), sv, k));
        }
      }
      break;
    default:
      break;
  }
}

void TDIBSurface::Assign(const TDIBSurface& source) {
  if (&source == this) return;
  AssignBitmap(source);
  if (source.alpha_) {
    if (!alpha_) alpha_ = std::make_unique<TDIBSurface>();
    alpha_->AssignBitmap(*source.alpha_);
  } else {
    alpha_.reset();
  }
}

void TDIBSurface::ConvertToDepth(int depth) {
  if (!ValidDepth(depth)) throw EVrError(Format("未対応のビット数です (%d)", {depth}));
  const int targetBits = depth == 15 ? 16 : depth;
  if (BitDepth() == depth &&
      (depth != 16 || (greenMask_ == 0x7E0 && redMask_ == 0xF800 && blueMask_ == 0x1F)))
    return;
  TDIBSurface tmp;
  bool keepIndices = false;
  if (targetBits <= 8) {
    if (bitCount_ >= 1 && bitCount_ <= targetBits) {
      tmp.ColorTable = ColorTable;
      keepIndices = true;
    } else {
      FixedPalette(targetBits, tmp.ColorTable);
    }
  }
  tmp.SetSize(width_, height_, depth);
  tmp.UpdatePalette();
  if (!Empty()) ConvertPixels(*this, tmp, keepIndices);
  // Take over the converted layout and pixels; the alpha plane and clip stay.
  std::unique_ptr<TDIBSurface> keepAlpha = std::move(alpha_);
  AssignBitmap(tmp);
  alpha_ = std::move(keepAlpha);
}

void ConvertSurfaceTo24(const TDIB& source, TDIBSurface& target) {
  if (&source == static_cast<const TDIB*>(&target)) {
    TDIB copy;
    copy.AssignBitmap(source);
    ConvertSurfaceTo24(copy, target);
    return;
  }
  target.FreeAlpha();
  target.SetSize(source.Width(), source.Height(), 24);
  if (!target.Empty()) ConvertPixels(source, target, false);
}

}  // namespace vr
