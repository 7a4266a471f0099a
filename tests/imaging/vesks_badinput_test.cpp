// Damaged, truncated and hostile layered image files: every one must end in an error, never a crash,
// a hang or an allocation the file cannot justify.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "framework/sysutils.h"
#include "imaging/vesks.h"
#include "imaging/vesktestutil.h"

namespace vr {
namespace {

using vsktest::Bytes;
using vsktest::Image;
using vsktest::Layer;
using R = vsktest::BlockRef;

const char* const kDamaged = "ファイルが破壊されています";

// A file with every kind of part: two frames, layers with alpha planes, blocks with references.
Image RichImage(Image::Form form, uint8_t comp) {
  Image img = OneLayer(form, 8, 20, 10, 1);
  img.compType = comp;
  img.blockWidth = 8;
  img.blockHeight = 4;
  img.randomized = true;
  img.seed = 5;
  img.frames[0].layers[0].alphaRows = vsktest::Noise(vsktest::RowSize(20, 8) * 10, 2);
  img.frames[0].layers[0].alphaOn = true;
  img.frames[0].layers.push_back(img.frames[0].layers[0]);
  img.frames[0].layers[1].colorIndex = {R{0, 0},  R{-2, 0}, R{-1, 0}, R{-1, 0}, R{-1, 0},
                                        R{-1, 0}, R{-1, 0}, R{-1, 0}, R{-1, 0}};
  img.frames.push_back(img.frames[0]);
  img.frames[1].name = "second";
  img.frames[1].extraA.resize(2);
  vsktest::ResolveBlocks(img);
  return img;
}

TEST(VeskBadInput, EveryTruncationIsAnError) {
  for (Image::Form form : {Image::Xml, Image::Binary}) {
    for (uint8_t comp : {0, 1}) {
      const Image img = RichImage(form, comp);
      const Bytes file = vsktest::Build(img);
      ASSERT_EQ(ErrorOf(file, 5), "");
      // Every cut in the headers, then every third byte through the planes.
      for (size_t cut = 0; cut < file.size(); cut += cut < 400 ? 1 : 3) {
        const Bytes part(file.begin(), file.begin() + static_cast<long>(cut));
        const std::string error = ErrorOf(part, 5);
        EXPECT_FALSE(error.empty()) << "cut at " << cut << " of " << file.size();
      }
    }
  }
  // A short binary signature and an empty stream.
  EXPECT_EQ(ErrorOf(Bytes{'V', 'e', 's', 'k', '1'}), kDamaged);
  EXPECT_EQ(ErrorOf(Bytes{}), kDamaged);
}

TEST(VeskBadInput, DamagedBytesNeverCrash) {
  const Bytes file = vsktest::Build(RichImage(Image::Binary, 0));
  const Bytes stored = vsktest::Build(RichImage(Image::Xml, 1));
  uint32_t s = 12345;
  auto next = [&s] {
    s = s * 1103515245u + 12345u;
    return s >> 8;
  };
  int errors = 0;
  for (int round = 0; round < 400; ++round) {
    Bytes damaged = (round % 2) ? file : stored;
    const int flips = 1 + static_cast<int>(next() % 4);
    for (int i = 0; i < flips; ++i)
      damaged[next() % damaged.size()] ^= static_cast<uint8_t>(1 + next() % 255);
    try {
      Load(damaged, 5);
    } catch (const Exception&) {
      ++errors;  // any of the reader's errors is fine; std::bad_alloc or a crash is not
    }
  }
  EXPECT_GT(errors, 100);
}

TEST(VeskBadInput, PlaneLengthsAndHeaderRecord) {
  for (Image::Form form : {Image::Xml, Image::Binary}) {
    Image img = OneLayer(form, 24, 4, 4, 1);
    for (int32_t length : {0, -5, 0x7FFFFFFF}) {
      img.frames[0].layers[0].colorLength = length;
      EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged) << length;
    }
    // A stored plane shorter than its rows.
    img = OneLayer(form, 24, 4, 4, 1);
    img.compType = 1;
    img.frames[0].layers[0].rawColor = Bytes(47, 1);
    EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged);
    // An alpha length of 0 or below means no alpha plane.
    img = OneLayer(form, 24, 4, 4, 1);
    img.frames[0].layers[0].alphaLength = -3;
    auto list = Load(vsktest::Build(img), 0, false, true);
    EXPECT_FALSE(list->GetFrame(0)->Layers(0)->Surface().HasAlpha());
    // zlib data that is damaged, or ends before the rows are complete.
    img.frames[0].layers[0].rawColor = Bytes{0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_THROW(Load(vsktest::Build(img), 0), EZLibError);
    img.frames[0].layers[0].rawColor = vsktest::Zlib(Bytes(40, 1));
    EXPECT_THROW(Load(vsktest::Build(img), 0), EZLibError);
  }
  Image img = OneLayer(Image::Binary, 24, 4, 4, 1);
  img.headerLength = 41;
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged);
  img.headerLength = -1;
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged);
  img.headerLength = 24;  // a shorter record: the rest stays 0 (no blocks, no background)
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), "");
  img.headerLength = 40;
  img.signature = "Vesk1x7";
  EXPECT_THROW(Load(vsktest::Build(img), 0), EConvertError);
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), Format(SInvalidInteger, {"1x7"}));
}

TEST(VeskBadInput, AbsurdSizesAndCountsFail) {
  for (Image::Form form : {Image::Xml, Image::Binary}) {
    for (auto [w, h] : {std::pair{0, 4}, std::pair{4, -1}, std::pair{70000, 1}, std::pair{60000, 60000},
                        std::pair{20000, 20000}, std::pair{4000, 4000}}) {
      Image img = OneLayer(form, 32, 4, 4, 1);
      img.frames[0].width = w;
      img.frames[0].height = h;
      img.frames[0].layers[0].rawColor = vsktest::Zlib(Bytes(64, 0));
      EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged) << w << "x" << h;
    }
    Image img = OneLayer(form, 24, 4, 4, 1);
    img.frames[0].depth = 12;
    img.frames[0].layers[0].rawColor = vsktest::Zlib(Bytes(48, 0));
    EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged);
    img = OneLayer(form, 24, 4, 4, 1);
    img.frames[0].layerCount = 100000000;
    EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged);
    img.frames[0].layerCount = -1;
    EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged);
  }
  Image img = OneLayer(Image::Binary, 24, 4, 4, 1);
  img.count = 0x7FFFFFFF;
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged);
  // A count the file cannot hold is damage, but the first frame alone can still be read.
  img.count = 1000;
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged);
  EXPECT_EQ(ErrorOf(vsktest::Build(img), 0, true), "");
  img.count = -2;
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged);
  img.count = std::nullopt;
  img.frames[0].name = "x";
  Bytes file = vsktest::Build(img);
  file[11 + 40] = 0xFF;  // the name length becomes huge
  file[11 + 43] = 0x7F;
  EXPECT_EQ(ErrorOf(file), kDamaged);
  img.frames[0].extraA.resize(1);
  file = vsktest::Build(img);
  const size_t extraAt = file.size() - 4 - 4 - 16;
  file[extraAt + 3] = 0x40;  // an extra list count of about a billion
  EXPECT_EQ(ErrorOf(file), kDamaged);
  // Layers copied whole from another by reference cost a few bytes each; together they may not take
  // more memory than the file could expand to (plus a fixed allowance).
  Image many = OneLayer(Image::Binary, 32, 2048, 2048, 1);
  many.blockWidth = many.blockHeight = 4096;
  many.frames[0].layers[0].rows.assign(many.frames[0].layers[0].rows.size(), 0);
  for (int i = 0; i < 3; ++i) {
    Layer copy;
    copy.rawColor = vsktest::Zlib(Bytes{0, 0, 0, 0, 0, 0, 0, 0});  // block 0 from frame 0, layer 0
    many.frames[0].layers.push_back(copy);
  }
  EXPECT_EQ(ErrorOf(vsktest::Build(many)), "");
  many.frames[0].layers.resize(12, many.frames[0].layers[1]);
  EXPECT_EQ(ErrorOf(vsktest::Build(many)), kDamaged);
}

// A 64 x 32 picture in 32 x 32 blocks (2 x 1), two layers; index entries set per test.
Image TwoBlocks(uint8_t comp) {
  Image img = OneLayer(Image::Binary, 24, 64, 32, 1);
  img.compType = comp;
  img.blockWidth = 32;
  img.blockHeight = 32;
  img.frames[0].layers.push_back(img.frames[0].layers[0]);
  return img;
}

TEST(VeskBadInput, BlockReferencesThatCannotBeResolved) {
  for (uint8_t comp : {0, 1}) {
    const std::pair<std::vector<R>, const char*> cases[] = {
        {{R{-2, 0}, R{-1, 0}}, kDamaged},                        // block not yet filled (itself)
        {{R{-1, 0}, R{-2, 1}}, kDamaged},                        // itself
        {{R{-1, 0}, R{-2, 2}}, kDamaged},                        // past the last block
        {{R{-1, 0}, R{-2, -1}}, kDamaged},                       // negative block
        {{R{-1, 0}, R{-3, 0}}, kDamaged},                        // unknown kind
        {{R{1, 0}, R{-1, 0}}, "Error:TVeskFrameList.GetFrame"},  // frame that does not exist
        {{R{0, 5}, R{-1, 0}}, kDamaged},                         // layer that does not exist
        {{R{0, 1}, R{-1, 0}}, kDamaged},                         // the layer being decoded
    };
    for (const auto& [index, message] : cases) {
      Image img = TwoBlocks(comp);
      img.frames[0].layers[1].colorIndex = index;
      img.frames[0].layers[1].colorIndex.resize(2);
      EXPECT_EQ(ErrorOf(vsktest::Build(img)), message) << index[0].s << "," << index[0].r;
    }
    // The alpha plane of a layer that has none.
    Image img = TwoBlocks(comp);
    img.frames[0].layers[1].alphaRows = vsktest::Noise(64 * 32, 3);
    img.frames[0].layers[1].alphaIndex = {R{0, 0}, R{-1, 0}};
    EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged);
  }
  // A narrow last-column block repeated into a full-width one would read past the picture.
  Image narrow = OneLayer(Image::Binary, 24, 40, 16, 1);  // blocks 32 and 8 pixels wide, two block rows
  narrow.blockWidth = 32;
  narrow.blockHeight = 8;
  narrow.frames[0].layers[0].colorIndex = {R{-1, 0}, R{-1, 0}, R{-2, 1}, R{-1, 0}};
  EXPECT_EQ(ErrorOf(vsktest::Build(narrow)), kDamaged);
  narrow.frames[0].layers[0].colorIndex = {R{-1, 0}, R{-1, 0}, R{-1, 0}, R{-2, 0}};  // wide into narrow
  EXPECT_EQ(ErrorOf(vsktest::Build(narrow)), "");
  // A reference to a frame of another size that does not hold the block.
  Image sizes = OneLayer(Image::Binary, 24, 16, 8, 1);
  sizes.blockWidth = sizes.blockHeight = 8;
  sizes.frames.push_back(OneLayer(Image::Binary, 24, 32, 8, 2).frames[0]);
  sizes.frames[1].layers[0].colorIndex = {R{-1, 0}, R{-1, 0}, R{0, 0}, R{-1, 0}};
  EXPECT_EQ(ErrorOf(vsktest::Build(sizes)), kDamaged);
  // An index or literal rows running past the data.
  for (uint8_t comp : {0, 1}) {
    Image img = TwoBlocks(comp);
    vsktest::Writer w;
    w.I32(-1), w.I32(0), w.I32(-1), w.I32(0);
    w.Raw(Bytes(96 * 32 + 50, 7).data(), 96 * 32 + 50);  // first block and a bit of the second
    img.frames[0].layers[0].rawColor = comp == 0 ? vsktest::Zlib(w.out) : w.out;
    const std::string error = ErrorOf(vsktest::Build(img));
    EXPECT_TRUE(error == kDamaged || (comp == 0 && error.find("zlib") == 0)) << error;
    img.frames[0].layers[0].rawColor = comp == 0 ? vsktest::Zlib(Bytes(12, 0)) : Bytes(12, 0xFF);
    const std::string shortIndex = ErrorOf(vsktest::Build(img));
    EXPECT_TRUE(shortIndex == kDamaged || (comp == 0 && shortIndex.find("zlib") == 0)) << shortIndex;
  }
}

TEST(VeskBadInput, XmlHeaderFaults) {
  Image img = OneLayer(Image::Xml, 24, 4, 2, 1);
  img.xmlMajor = '3';
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), "読み込めないファイル形式です");
  img.xmlMajor = 'A';  // a non-digit counts as 0
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), "");
  img.xmlMajor = '2';

  const std::string layers =
      "<Layers Count=\"1\" Width=\"4\" Height=\"2\" Bpp=\"24\">\r\n<Layer/>\r\n</Layers>\r\n";
  img.xmlHeader = "<Vesk>\r\n<Frame>\r\n" + layers + "</Frame>\r\n</Vesk>\r\n";  // no Count: no frames
  auto empty = Load(vsktest::Build(img), 0);
  EXPECT_EQ(empty->Count(), 0);
  EXPECT_THROW(
      {
        try {
          empty->GetFrame(0);
        } catch (const EVrError& e) {
          EXPECT_EQ(e.Message, "Error:TVeskFrameList.GetFrame");
          throw;
        }
      },
      EVrError);
  img.xmlHeader = "<Vesk Count=\"2\">\r\n<Other/>\r\n</Vesk>\r\n";
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged);
  // A missing second frame simply ends the list.
  img.xmlHeader = "<Vesk Count=\"2\" BlockWidth=\"0\">\r\n<Frame>\r\n" + layers + "</Frame>\r\n</Vesk>\r\n";
  EXPECT_EQ(Load(vsktest::Build(img), 0)->Count(), 1);
  img.xmlHeader = "<Vesk Count=\"1\">\r\n<Frame>\r\n</Frame>\r\n</Vesk>\r\n";
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), "レイヤーがありません");
  // Layers are the children from the first one named Layer on; one of another name is damage.
  img.frames[0].layers.push_back(img.frames[0].layers[0]);
  const std::string two =
      "<Vesk Count=\"1\" BlockWidth=\"0\">\r\n<Frame>\r\n<Layers Count=\"2\" Width=\"4\" "
      "Height=\"2\" Bpp=\"24\">\r\n<RGB/>\r\n<Layer/>\r\n";
  img.xmlHeader = two + "<Layer/>\r\n</Layers>\r\n</Frame>\r\n</Vesk>\r\n";
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), "");
  img.xmlHeader = two + "<Other/>\r\n</Layers>\r\n</Frame>\r\n</Vesk>\r\n";
  EXPECT_EQ(ErrorOf(vsktest::Build(img)), kDamaged);
  Image pal = OneLayer(Image::Xml, 4, 4, 2, 1);
  pal.frames[0].palette.resize(15);  // 90 characters, 96 needed
  EXPECT_EQ(ErrorOf(vsktest::Build(pal)), "カラーテーブルがありません");
  // Damaged compressed header.
  Bytes file = vsktest::Build(OneLayer(Image::Xml, 24, 4, 2, 1));
  file[14] ^= 0x55;
  EXPECT_THROW(Load(file, 0), EZLibError);
}

}  // namespace
}  // namespace vr
