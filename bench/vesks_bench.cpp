// Layered image decoding against plain inflation of the same data.
//
//   BM_InflatePlaneAlone    zlib inflation of a 1920 x 1080 24-bit plane into a ready buffer
//   BM_InflatePlaneFresh    the same into a newly allocated buffer, as a one-off decode would
//   BM_DecodeRows           the whole load of an image holding that plane as zlib whole rows
//   BM_DecodeRowsPermuted   the same with the rows permuted by a non-zero identification code
//   BM_DecodeRowsTwoLayers  two layers of that size in whole rows
//   BM_DecodeBlocksLiteral  the one-layer picture in 32 x 32 blocks, every block stored
//   BM_DecodeBlocksTwoLayers the same two layers in 32 x 32 blocks, the second layer and the picture's
//                           repeated areas stored as references (repeated and cross-layer blocks)
//
// vesks_bench --make-image FILE WIDTH HEIGHT writes a one-layer picture of that size (the photo-like
// pattern below, zlib whole rows) for the whole-process rows of scripts/bench.sh, and runs nothing.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "framework/classes.h"
#include "imaging/vesks.h"
#include "imaging/vskbuild.h"

namespace {

using vsktest::Bytes;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A photo-like picture: smooth gradients with noise in the low bits (zlib packs it about 2:1), with a
// flat band at the top (sky) whose blocks repeat.
Bytes Picture(uint32_t seed, int width = kWidth, int height = kHeight) {
  const size_t rowSize = vsktest::RowSize(width, 24);
  Bytes rows(rowSize * static_cast<size_t>(height), 0);
  const Bytes noise = vsktest::Noise(rows.size(), seed);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &rows[y * rowSize + x * 3];
      if (y < 256) {
        p[0] = 200, p[1] = 150, p[2] = 90;
        continue;
      }
      const uint8_t n = noise[y * rowSize + x * 3] & 7;
      p[0] = static_cast<uint8_t>((x / 8 + n) & 0xFF);
      p[1] = static_cast<uint8_t>((y / 5 + n) & 0xFF);
      p[2] = static_cast<uint8_t>(((x + y) / 16 + n) & 0xFF);
    }
  }
  return rows;
}

vsktest::Image RowsImage(int layers, int width = kWidth, int height = kHeight) {
  vsktest::Image img;
  img.form = vsktest::Image::Xml;
  img.version = 200;
  vsktest::Frame f;
  f.width = width;
  f.height = height;
  f.depth = 24;
  for (int i = 0; i < layers; ++i) {
    vsktest::Layer l;
    l.rows = Picture(1, width, height);
    l.trans = i == 0 ? -1 : 0x010203;  // drawn over the first with a transparent colour
    f.layers.push_back(l);
  }
  img.frames.push_back(f);
  return img;
}

vsktest::Image BlocksImage() {
  vsktest::Image img = RowsImage(2);
  img.blockWidth = img.blockHeight = 32;
  const int cols = (kWidth + 31) / 32, brows = (kHeight + 31) / 32;
  auto& first = img.frames[0].layers[0].colorIndex;
  auto& second = img.frames[0].layers[1].colorIndex;
  for (int by = 0; by < brows; ++by) {
    for (int bx = 0; bx < cols; ++bx) {
      // Sky blocks after the first repeat it; every block of the second layer comes from the first.
      first.push_back(by * 32 < 256 && by + bx > 0 ? vsktest::BlockRef{-2, 0} : vsktest::BlockRef{-1, 0});
      second.push_back(vsktest::BlockRef{0, 0});
    }
  }
  vsktest::ResolveBlocks(img);
  return img;
}

void LoadLoop(benchmark::State& state, const Bytes& file) {
  vr::TMemoryStream stream;
  stream.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
  for (auto _ : state) {
    stream.SetPosition(0);
    vr::TVeskFrameList list(0);
    list.LoadFromStream(stream, true, false, false);
    benchmark::DoNotOptimize(list.GetFrame(0)->Surface().Bits());
  }
  state.counters["file_bytes"] = static_cast<double>(file.size());
}

void BM_InflatePlaneAlone(benchmark::State& state) {
  const Bytes rows = Picture(1);
  const Bytes packed = vsktest::Zlib(rows);
  Bytes out(rows.size());
  for (auto _ : state) {
    uLongf size = static_cast<uLongf>(out.size());
    uncompress(out.data(), &size, packed.data(), static_cast<uLong>(packed.size()));
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["packed_bytes"] = static_cast<double>(packed.size());
}

void BM_InflatePlaneFresh(benchmark::State& state) {
  const Bytes rows = Picture(1);
  const Bytes packed = vsktest::Zlib(rows);
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> out(new uint8_t[rows.size()]);
    uLongf size = static_cast<uLongf>(rows.size());
    uncompress(out.get(), &size, packed.data(), static_cast<uLong>(packed.size()));
    benchmark::DoNotOptimize(out.get());
  }
}

void BM_DecodeRows(benchmark::State& state) { LoadLoop(state, vsktest::Build(RowsImage(1))); }
void BM_DecodeRowsPermuted(benchmark::State& state) {
  vsktest::Image img = RowsImage(1);
  img.randomized = true;
  img.seed = 0x9E3779B9;
  const Bytes file = vsktest::Build(img);
  vr::TMemoryStream stream;
  stream.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
  for (auto _ : state) {
    stream.SetPosition(0);
    vr::TVeskFrameList list(img.seed);
    list.LoadFromStream(stream, true, false, false);
    benchmark::DoNotOptimize(list.GetFrame(0)->Surface().Bits());
  }
}
void BM_DecodeRowsTwoLayers(benchmark::State& state) { LoadLoop(state, vsktest::Build(RowsImage(2))); }
void BM_DecodeBlocksLiteral(benchmark::State& state) {
  vsktest::Image img = RowsImage(1);
  img.blockWidth = img.blockHeight = 32;
  LoadLoop(state, vsktest::Build(img));
}
void BM_DecodeBlocksTwoLayers(benchmark::State& state) { LoadLoop(state, vsktest::Build(BlocksImage())); }

BENCHMARK(BM_InflatePlaneAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflatePlaneFresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRowsPermuted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRowsTwoLayers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBlocksLiteral)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBlocksTwoLayers)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--make-image") == 0) {
    const int width = std::atoi(argv[3]), height = std::atoi(argv[4]);
    if (width <= 0 || height <= 0) return 2;
    const Bytes file = vsktest::Build(RowsImage(1, width, height));
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", argv[2]);
      return 1;
    }
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
