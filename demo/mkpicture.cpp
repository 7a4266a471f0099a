// Draws the demo package's backdrop picture (a starry sky over a hill) and writes it as a layered
// image: one 24-bit frame, rows permuted with the package's picture seed.
//   mkpicture OUT.vsk SEED [WIDTH HEIGHT]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "imaging/vskbuild.h"

namespace {

struct TRgb {
  double r, g, b;
};

TRgb Mix(TRgb a, TRgb b, double t) {
  return TRgb{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

uint8_t ToByte(double v) { return static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v)))); }

// A small deterministic generator, so every build draws the same stars.
uint32_t Next(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: mkpicture OUT.vsk SEED [WIDTH HEIGHT]\n");
    return 2;
  }
  const uint32_t seed = static_cast<uint32_t>(std::strtol(argv[2], nullptr, 10));
  const int w = argc == 5 ? std::atoi(argv[3]) : 265;
  const int h = argc == 5 ? std::atoi(argv[4]) : 230;
  if (w <= 0 || h <= 0 || w > 4096 || h > 4096) {
    std::fprintf(stderr, "mkpicture: size out of range\n");
    return 2;
  }

  std::vector<TRgb> px(static_cast<size_t>(w) * h);
  const TRgb top{8, 12, 48}, horizon{70, 50, 120};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[static_cast<size_t>(y) * w + x] = Mix(top, horizon, static_cast<double>(y) / h);

  // Stars: single bright pixels and a few crosses.
  uint32_t state = 12345;
  for (int i = 0; i < w * h / 90; ++i) {
    const int x = static_cast<int>(Next(state) % static_cast<uint32_t>(w));
    const int y = static_cast<int>(Next(state) % static_cast<uint32_t>(h * 3 / 4));
    const double bright = 140 + Next(state) % 116;
    px[static_cast<size_t>(y) * w + x] = TRgb{bright, bright, bright * 0.9 + 25};
    if (i % 23 == 0 && x > 0 && y > 0 && x + 1 < w && y + 1 < h) {
      for (auto [dx, dy] : std::initializer_list<std::pair<int, int>>{{-1, 0}, {1, 0}, {0, -1}, {0, 1}})
        px[static_cast<size_t>(y + dy) * w + x + dx] = TRgb{bright * 0.7, bright * 0.7, bright * 0.8};
    }
  }

  // The moon, softly edged.
  const double mx = w * 0.78, my = h * 0.2, mr = std::fmin(w, h) * 0.09;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double d = std::hypot(x - mx, y - my);
      TRgb& p = px[static_cast<size_t>(y) * w + x];
      if (d < mr) {
        p = TRgb{250, 244, 200};
      } else if (d < mr * 2.2) {
        p = Mix(p, TRgb{120, 110, 150}, 0.35 * (1 - (d - mr) / (mr * 1.2)));
      }
    }
  }

  // The hill: a dark silhouette with a lighter rim.
  for (int x = 0; x < w; ++x) {
    const double ridge = h * (0.78 - 0.1 * std::sin(x * 3.14159 / w) - 0.03 * std::sin(x * 0.09));
    for (int y = 0; y < h; ++y) {
      TRgb& p = px[static_cast<size_t>(y) * w + x];
      if (y >= ridge + 2)
        p = Mix(TRgb{20, 30, 40}, TRgb{8, 14, 20}, (y - ridge) / (h - ridge + 1));
      else if (y >= ridge)
        p = TRgb{60, 80, 110};
    }
  }

  const vsktest::Bytes file = vsktest::Picture24(w, h, seed, [&](int x, int y, uint8_t* out) {
    const TRgb& p = px[static_cast<size_t>(y) * w + x];
    out[0] = ToByte(p.b);
    out[1] = ToByte(p.g);
    out[2] = ToByte(p.r);
  });

  FILE* out = std::fopen(argv[1], "wb");
  if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
    std::fprintf(stderr, "mkpicture: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
