// Shared helpers of the layered image tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "framework/classes.h"
#include "imaging/vesks.h"
#include "imaging/vskbuild.h"

namespace vr {

// A binary "Vesk107" (or XML) image of one frame with one layer of noise, palette depths with a
// colour table of distinct entries.
inline vsktest::Image OneLayer(vsktest::Image::Form form, int depth, int w, int h, uint32_t seed) {
  vsktest::Image img;
  img.form = form;
  vsktest::Frame f;
  f.width = w;
  f.height = h;
  f.depth = depth;
  if (depth <= 8) {
    for (int i = 0; i < (1 << depth); ++i)
      f.palette.push_back((static_cast<uint32_t>(i) * 0x3F1D07u + seed) & 0xFFFFFF);
  }
  vsktest::Layer l;
  l.rows = vsktest::Noise(vsktest::RowSize(w, vsktest::BitCountOf(depth)) * static_cast<size_t>(h), seed);
  f.layers.push_back(l);
  img.frames.push_back(f);
  return img;
}

inline std::unique_ptr<TVeskFrameList> Load(const vsktest::Bytes& file, uint32_t ident,
                                            bool firstFrameOnly = false, bool keepLayers = false,
                                            bool prepare = false) {
  auto list = std::make_unique<TVeskFrameList>(ident);
  TMemoryStream stream;
  if (!file.empty()) stream.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
  stream.SetPosition(0);
  list->LoadFromStream(stream, firstFrameOnly, keepLayers, prepare);
  return list;
}

// The message of the error loading raises, or "" when it loads.
inline std::string ErrorOf(const vsktest::Bytes& file, uint32_t ident = 0, bool firstFrameOnly = false) {
  try {
    Load(file, ident, firstFrameOnly);
  } catch (const Exception& e) {
    return e.Message;
  }
  return "";
}

// Every pixel of s equals the pixel of the plain rows.
inline void ExpectPixels(const TDIB& s, const vsktest::Bytes& rows, int bitCount) {
  ASSERT_EQ(s.BitCount(), bitCount);
  const size_t rowSize = vsktest::RowSize(s.Width(), bitCount);
  ASSERT_EQ(rows.size(), rowSize * static_cast<size_t>(s.Height()));
  int wrong = 0;
  std::string first;
  for (int y = 0; y < s.Height(); ++y) {
    for (int x = 0; x < s.Width(); ++x) {
      const uint32_t want = vsktest::PixelOf(rows, rowSize, bitCount, x, y);
      const uint32_t got = s.GetPixel(x, y);
      if (got != want && wrong++ == 0) {
        first = "(" + std::to_string(x) + "," + std::to_string(y) + ") " + std::to_string(got) +
                " != " + std::to_string(want);
      }
    }
  }
  EXPECT_EQ(wrong, 0) << "first difference at " << first;
}

}  // namespace vr
