// Plane decoding of layered images: legacy rows, whole rows, and the block grid with its references.
#include "imaging/vskplane.h"

#include <cstring>
#include <type_traits>

#include "archive/rands.h"
#include "framework/sysutils.h"
#include "imaging/jpegplane.h"
#include "imaging/vskerror.h"
#include "imaging/vskzlib.h"

namespace vr {

namespace {

// Plane data used as stored.
class TStoredInput {
 public:
  TStoredInput(const uint8_t* data, size_t size) : data_(data), left_(size) {}
  void Read(uint8_t* out, size_t count) {
    if (count > left_) RaiseVeskDamaged();
    std::memcpy(out, data_, count);
    data_ += count;
    left_ -= count;
  }
  // Largest number of bytes the input can still give.
  int64_t MaxAvailable() const { return static_cast<int64_t>(left_); }

 private:
  const uint8_t* data_;
  size_t left_;
};

// Plane data inflated as it is consumed.
class TZlibInput {
 public:
  TZlibInput(const uint8_t* data, size_t size)
      : inflater_(data, size), maxAvailable_(static_cast<int64_t>(size) * kMaxDeflateRatio + 1024) {}
  void Read(uint8_t* out, size_t count) { inflater_.Read(out, count); }
  int64_t MaxAvailable() const { return maxAvailable_; }

 private:
  TVskInflater inflater_;
  int64_t maxAvailable_;
};

// P(k) for k = 0..n-1: the k-th deal of a fresh generator seeded with seed.
std::vector<int32_t> Permutation(uint32_t seed, int32_t n) {
  std::vector<int32_t> order(static_cast<size_t>(n));
  if (seed == 0) {
    for (int32_t k = 0; k < n; ++k) order[static_cast<size_t>(k)] = k;  // the generator's order for seed 0
    return order;
  }
  TKoRandom random(seed);
  random.InitDeck(n);
  for (int32_t k = 0; k < n; ++k) order[static_cast<size_t>(k)] = random.Deal();
  return order;
}

int64_t RowBytesOf(int64_t pixels, int bpp) { return (pixels * bpp + 7) / 8; }

// Rows of the plane, stored row k going to image row order[k] (top first without an order).
template <class TInput>
void DecodeRows(TInput& input, TDIB& target, const std::vector<int32_t>* order) {
  const size_t rowSize = static_cast<size_t>(target.RowSize());
  const int height = target.Height();
  uint8_t* bits = target.Bits();
  if (order == nullptr && target.RowStride() == static_cast<std::ptrdiff_t>(rowSize)) {
    // Rows in order into memory laid out top row first: one piece, which lets zlib keep its fast path.
    input.Read(bits, rowSize * static_cast<size_t>(height));
    return;
  }
  for (int k = 0; k < height; ++k) {
    const int y = order != nullptr ? (*order)[static_cast<size_t>(k)] : k;
    input.Read(bits + static_cast<size_t>(y) * rowSize, rowSize);
  }
}

template <class TInput>
void DecodeBlocks(TInput& input, TDIB& target, const TVeskPlaneParams& params,
                  const TVeskPlaneLookup& lookup) {
  const int width = target.Width();
  const int height = target.Height();
  const int bpp = target.BitCount();
  const int64_t rowSize = target.RowSize();
  const int64_t blockWidth = params.BlockWidth;
  const int64_t blockHeight = params.BlockHeight;
  const int64_t cols = (width + blockWidth - 1) / blockWidth;
  const int64_t n = VeskBlockCount(width, height, params.BlockWidth, params.BlockHeight);
  // The index alone must fit in what the plane can hold before it is allocated.
  if (n * 8 > input.MaxAvailable() || n > INT32_MAX) RaiseVeskDamaged();

  std::vector<uint8_t> index(static_cast<size_t>(n) * 8);
  input.Read(index.data(), index.size());
  // entryOf[b]: position in the index of the entry of block b.
  std::vector<int32_t> entryOf;
  if (params.Randomized) {
    const std::vector<int32_t> order = Permutation(params.IdentCode, static_cast<int32_t>(n));
    entryOf.assign(static_cast<size_t>(n), -1);
    for (int32_t k = 0; k < static_cast<int32_t>(n); ++k) {
      const int32_t block = order[static_cast<size_t>(k)];
      if (block < 0 || block >= n || entryOf[static_cast<size_t>(block)] >= 0) RaiseVeskDamaged();
      entryOf[static_cast<size_t>(block)] = k;
    }
  }
  auto entry = [&](int64_t block) -> const uint8_t* {
    return &index[static_cast<size_t>(entryOf.empty() ? block : entryOf[static_cast<size_t>(block)]) * 8];
  };
  std::vector<uint8_t> filled(static_cast<size_t>(n), 0);
  uint8_t* bits = target.Bits();
  const int64_t literalStride = RowBytesOf(blockWidth, bpp);
  auto fill = [&](auto& from) {
    int64_t block = 0;
    for (int64_t y0 = 0; y0 < height; y0 += blockHeight) {
      const int h = static_cast<int>(std::min<int64_t>(blockHeight, height - y0));
      for (int64_t bx = 0, x0 = 0; x0 < width; ++bx, x0 += blockWidth, ++block) {
        const int w = static_cast<int>(std::min<int64_t>(blockWidth, width - x0));
        const int64_t rowBytes = RowBytesOf(w, bpp);
        const uint8_t* at = entry(block);
        const int32_t s = static_cast<int32_t>(ReadLE32(at));
        const int32_t r = static_cast<int32_t>(ReadLE32(at + 4));
        const int64_t targetByte = (x0 * bpp) / 8;
        if (s == -1) {
          const int64_t offset = bx * literalStride;
          if (offset + rowBytes > rowSize) RaiseVeskDamaged();
          for (int j = 0; j < h; ++j) {
            from.Read(bits + (y0 + j) * rowSize + offset, static_cast<size_t>(rowBytes));
          }
        } else if (s == -2) {
          // Only blocks already filled, and at least as large as this one, may be repeated.
          if (r < 0 || r >= n || !filled[static_cast<size_t>(r)]) RaiseVeskDamaged();
          const int64_t rx = (r % cols) * blockWidth;
          const int64_t ry = (r / cols) * blockHeight;
          if (rx + w > width || ry + h > height) RaiseVeskDamaged();
          const int64_t sourceByte = (rx * bpp) / 8;
          if (sourceByte + rowBytes > rowSize || targetByte + rowBytes > rowSize) RaiseVeskDamaged();
          for (int j = 0; j < h; ++j) {
            std::memmove(bits + (y0 + j) * rowSize + targetByte, bits + (ry + j) * rowSize + sourceByte,
                         static_cast<size_t>(rowBytes));
          }
        } else if (s >= 0) {
          const TDIB& source = lookup(s, r);
          if (&source == &target || source.BitCount() != bpp || source.GreenMask() != target.GreenMask() ||
              x0 + w > source.Width() || y0 + h > source.Height()) {
            RaiseVeskDamaged();
          }
          const int64_t sourceRowSize = source.RowSize();
          if (targetByte + rowBytes > sourceRowSize || targetByte + rowBytes > rowSize) RaiseVeskDamaged();
          const uint8_t* sourceBits = source.Bits();
          for (int j = 0; j < h; ++j) {
            std::memcpy(bits + (y0 + j) * rowSize + targetByte,
                        sourceBits + (y0 + j) * sourceRowSize + targetByte, static_cast<size_t>(rowBytes));
          }
        } else {
          RaiseVeskDamaged();
        }
        filled[static_cast<size_t>(block)] = 1;
      }
    }
  };

  if constexpr (std::is_same_v<TInput, TZlibInput>) {
    // Literal rows are short; inflating them all at once keeps zlib on its fast path.
    int64_t literal = 0;
    int64_t block = 0;
    for (int64_t y0 = 0; y0 < height; y0 += blockHeight) {
      const int64_t h = std::min<int64_t>(blockHeight, height - y0);
      for (int64_t x0 = 0; x0 < width; x0 += blockWidth, ++block) {
        if (static_cast<int32_t>(ReadLE32(entry(block))) == -1) {
          literal += h * RowBytesOf(std::min<int64_t>(blockWidth, width - x0), bpp);
        }
      }
    }
    if (literal > input.MaxAvailable()) RaiseVeskDamaged();
    std::vector<uint8_t> data(static_cast<size_t>(literal));
    input.Read(data.data(), data.size());
    TStoredInput stored(data.data(), data.size());
    fill(stored);
  } else {
    fill(input);
  }
}

template <class TInput>
void DecodeLayout(TInput& input, TDIB& target, const TVeskPlaneParams& params,
                  const TVeskPlaneLookup& lookup) {
  if (params.BlockWidth > 0 && params.BlockHeight > 0) {
    DecodeBlocks(input, target, params, lookup);
  } else if (params.Randomized) {
    const std::vector<int32_t> order = Permutation(params.IdentCode, target.Height());
    DecodeRows(input, target, &order);
  } else {
    DecodeRows(input, target, nullptr);
  }
}

void DecodeJpeg(const uint8_t* data, size_t size, TDIB& target) {
  TJpegRowFormat format;
  switch (target.BitCount()) {
    case 24:
      format = TJpegRowFormat::jrfBGR24;
      break;
    case 32:
      format = TJpegRowFormat::jrfBGR32;
      break;
    case 16:
      format = target.GreenMask() == 0x3E0 ? TJpegRowFormat::jrf555 : TJpegRowFormat::jrf565;
      break;
    default:
      RaiseVeskDamaged();  // JPEG planes hold true-colour pictures only
  }
  uint8_t* bits = target.Bits();
  const size_t rowSize = static_cast<size_t>(target.RowSize());
  DecodeJpegPlane(data, size, target.Width(), target.Height(), format,
                  [bits, rowSize](int y) { return bits + static_cast<size_t>(y) * rowSize; });
}

}  // namespace

int64_t VeskBlockCount(int width, int height, int32_t blockWidth, int32_t blockHeight) {
  if (width <= 0 || height <= 0 || blockWidth <= 0 || blockHeight <= 0) return 0;
  const int64_t cols = (static_cast<int64_t>(width) + blockWidth - 1) / blockWidth;
  const int64_t rows = (static_cast<int64_t>(height) + blockHeight - 1) / blockHeight;
  return cols * rows;
}

int64_t VeskMinPlaneBytes(const TVeskPlaneParams& params, bool isAlpha, int width, int height,
                          int64_t rowBytes) {
  const int64_t total = rowBytes * (height > 0 ? height : 0);
  auto deflated = [](int64_t n) { return (n + kMaxDeflateRatio - 1) / kMaxDeflateRatio; };
  int64_t least;
  if (params.Version <= 102) {
    least = deflated(total);  // zlib rows, the smaller of the two legacy forms
  } else {
    const bool jpeg = params.CompType == vctJpeg && !isAlpha;
    const bool zlib = params.CompType == vctZlib || (params.CompType == vctJpeg && isAlpha);
    const bool blocks = params.BlockWidth > 0 && params.BlockHeight > 0 && params.CompType != vctJpeg;
    const int64_t raw =
        blocks ? VeskBlockCount(width, height, params.BlockWidth, params.BlockHeight) * 8 : total;
    least = (jpeg || zlib) ? deflated(raw) : raw;
  }
  return least > 0 ? least : 1;
}

void DecodePlane(const uint8_t* data, size_t size, TDIB& target, bool isAlpha, const TVeskPlaneParams& params,
                 const TVeskPlaneLookup& lookup) {
  if (target.Empty()) return;
  if (params.Version <= 102) {
    const int64_t rows = static_cast<int64_t>(target.RowSize()) * target.Height();
    if (static_cast<int64_t>(size) == rows) {
      if (params.IdentCode == 0 && params.Randomized) throw EVrError("識別コードを設定してください");
      TStoredInput input(data, size);
      const std::vector<int32_t> order = Permutation(params.IdentCode, target.Height());
      DecodeRows(input, target, &order);
    } else {
      TZlibInput input(data, size);
      DecodeRows(input, target, nullptr);
    }
    return;
  }
  if (params.CompType == vctJpeg && !isAlpha) {
    DecodeJpeg(data, size, target);
    return;
  }
  if (params.CompType == vctJpeg) {
    // Alpha planes of JPEG images: zlib, whole rows, never permuted.
    TZlibInput input(data, size);
    DecodeRows(input, target, nullptr);
    return;
  }
  if (params.CompType == vctZlib) {
    TZlibInput input(data, size);
    DecodeLayout(input, target, params, lookup);
  } else {
    TStoredInput input(data, size);
    DecodeLayout(input, target, params, lookup);
  }
}

}  // namespace vr
