// settings show/build and image info/convert.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#ifdef VRTOOL_HAVE_PNG
#include <png.h>
#endif

#include "imaging/vskbuild.h"
#include "tooltest.h"

namespace vrtest {
namespace {

using ::testing::HasSubstr;
using Json = nlohmann::ordered_json;

Json FullSettings() {
  return Json::parse(
      u8R"({
    "DiskIndex": 1, "Title": "ゲーム タイトル", "FooterText": "(C) 2004 メーカー",
    "DefaultFolder": "<ProgramFiles>\\メーカー\\ゲーム", "ReadmeFile": "readme.txt", "OpenReadme": true,
    "BackdropPicture": "back.vsk", "BackdropLayout": 2, "DiskCount": 2, "GameExe": "game.exe",
    "PictureSeed": -5, "OfferRuntimes": true, "ExtraFlag": 200, "MediaNoun": "ディスク",
    "RegistryKey": "\\Maker\\Game",
    "BaseSizes": [1, 2], "DataSizes": [3000000000, 4], "SoundSizes": [5, 6], "MovieSizes": [7, -8],
    "BaseSizeTotal": 10, "DataSizeTotal": 3000000004, "SoundSizeTotal": 11, "MovieSizeTotal": 12,
    "Uninstaller": false, "AddOnPackage": true, "InstalledFiles": ["game.exe", "データ\\a.dat"],
    "DataInstalled": true, "InstallKind": 1, "ArchiveInstall": true, "PackageFiles": ["", "movie.mpg"],
    "SetupCaption": "セットアップ", "WelcomeText": "ようこそ\r\n二行目", "LicenseText": "使用許諾"
  })");
}

TEST(VrtoolSettings, BuildShowRoundTripEveryField) {
  TempDir t;
  Json in = FullSettings();
  WriteFile(t.Path() / "in.json", in.dump());
  RunResult b = RunTool({"settings", "build", t / "in.json", "-o", t / "install.dat"});
  ASSERT_EQ(b.Status, 0) << b.Err;
  std::string file = ReadFile(t.Path() / "install.dat");
  EXPECT_EQ(file.substr(0, 5), "is108");
  // Strings are stored in code page 932 ("ゲーム" compiled to its code page 932 bytes).
  EXPECT_NE(file.find("ゲーム タイトル"), std::string::npos);

  RunResult s = RunTool({"settings", "show", "--json", t / "install.dat"});
  ASSERT_EQ(s.Status, 0) << s.Err;
  Json out = Json::parse(s.Out);
  EXPECT_EQ(out["Version"], 108);
  for (auto it = in.begin(); it != in.end(); ++it) EXPECT_EQ(out[it.key()], it.value()) << it.key();
  EXPECT_EQ(out.size(), in.size() + 1);

  // The JSON printed reads back into the same file.
  WriteFile(t.Path() / "out.json", s.Out);
  ASSERT_EQ(RunTool({"settings", "build", t / "out.json", "-o", t / "again.dat"}).Status, 0);
  EXPECT_EQ(ReadFile(t.Path() / "again.dat"), file);

  RunResult text = RunTool({"settings", "show", t / "install.dat"});
  EXPECT_EQ(text.Status, 0);
  EXPECT_THAT(text.Out, HasSubstr(u8"Title: ゲーム タイトル"));
  EXPECT_THAT(text.Out, HasSubstr(u8"  | 二行目"));
  EXPECT_THAT(text.Out, HasSubstr("DataSizes: 2 items"));

  // From an archive's "install.dat".
  fs::create_directories(t.Path() / "pkg");
  fs::copy_file(t.Path() / "install.dat", t.Path() / "pkg" / "install.dat");
  ASSERT_EQ(RunTool({"pack", "--scramble", "-o", t / "pkg.dat", t / "pkg"}).Status, 0);
  RunResult fromArchive = RunTool({"settings", "show", "--json", "--archive", t / "pkg.dat"});
  ASSERT_EQ(fromArchive.Status, 0) << fromArchive.Err;
  EXPECT_EQ(Json::parse(fromArchive.Out), out);
}

TEST(VrtoolSettings, OlderVersionsAndRefusedInput) {
  TempDir t;
  // A headerless file: version 0, 32-bit sizes, nothing after Uninstaller.
  std::string v0;
  auto i32 = [&](int32_t v) { v0.append(reinterpret_cast<const char*>(&v), 4); };
  auto str = [&](const std::string& s) {
    i32(static_cast<int32_t>(s.size()));
    v0 += s;
  };
  i32(0);
  str("Old");
  str("");
  str("C:\\Old");
  str("");
  v0 += '\1';
  str("");
  v0 += '\0';
  i32(1);
  str("old.exe");
  i32(7);
  v0 += '\0';
  v0 += '\0';
  str("CD");
  str("");
  for (int i = 0; i < 8; ++i) i32(100 + i);
  v0 += '\1';
  WriteFile(t.Path() / "old.dat", v0);
  RunResult s = RunTool({"settings", "show", "--json", t / "old.dat"});
  ASSERT_EQ(s.Status, 0) << s.Err;
  Json j = Json::parse(s.Out);
  EXPECT_EQ(j["Version"], 0);
  EXPECT_EQ(j["Title"], "Old");
  EXPECT_EQ(j["MovieSizes"], Json::parse("[103]"));
  EXPECT_EQ(j["MovieSizeTotal"], 107);
  EXPECT_EQ(j["Uninstaller"], true);
  EXPECT_EQ(j["PackageFiles"], Json::array());

  auto refused = [&](const std::string& json) {
    WriteFile(t.Path() / "bad.json", json);
    RunResult r = RunTool({"settings", "build", t / "bad.json", "-o", t / "bad.dat"});
    EXPECT_EQ(r.Status, 2) << json;
    EXPECT_FALSE(r.Err.empty());
    EXPECT_FALSE(fs::exists(t.Path() / "bad.dat")) << json;
  };
  refused("{\"Titel\": \"typo\"}");
  refused("{\"Title\": 5}");
  refused("{\"BackdropLayout\": 256}");
  refused("{\"DiskCount\": 2, \"BaseSizes\": [1]}");
  refused("{\"BaseSizes\": [1, 2], \"DataSizes\": [1]}");
  refused(u8"{\"Title\": \"emoji 😀 has no code page 932 form\"}");
  refused("[1, 2]");
  refused("{ not json");
  // Missing fields take the defaults; the arrays decide DiskCount.
  WriteFile(t.Path() / "min.json", "{\"Title\": \"T\", \"SoundSizes\": [4, 5, 6]}");
  ASSERT_EQ(RunTool({"settings", "build", t / "min.json", "-o", t / "min.dat"}).Status, 0);
  Json m = Json::parse(RunTool({"settings", "show", "--json", t / "min.dat"}).Out);
  EXPECT_EQ(m["DiskCount"], 3);
  EXPECT_EQ(m["BaseSizes"], Json::parse("[0, 0, 0]"));
  EXPECT_EQ(m["OpenReadme"], false);

  RunResult missing = RunTool({"settings", "show", t / "absent.dat"});
  EXPECT_EQ(missing.Status, 2);
  EXPECT_THAT(missing.Err, HasSubstr("absent.dat"));
}

// A binary-headed image ("Vesk101") of one frame with one 2 x 2 layer, rows stored without compression
// (the identification code 0 keeps their order), with an optional alpha plane.
std::string TinyVesk(int depth, const std::string& rows, const std::string& palette,
                     const std::string& alpha) {
  std::string v = "Vesk101";
  auto i32 = [&](int32_t x) { v.append(reinterpret_cast<const char*>(&x), 4); };
  i32(1);     // frames
  v += '\0';  // unused
  i32(2);     // frame name
  v += "f0";
  i32(-1);    // transparent colour
  i32(50);    // delay
  v += '\0';  // disposal
  i32(0);     // unused
  i32(1);     // layers
  i32(2);     // width
  i32(2);     // height
  i32(depth);
  v += palette;
  v += std::string(8, '\0');
  v += '\1';  // visible
  i32(-1);    // transparent colour
  i32(255);   // opacity
  v += alpha.empty() ? '\0' : '\1';
  i32(2);
  v += "l0";
  i32(static_cast<int32_t>(rows.size()));
  v += rows;
  i32(static_cast<int32_t>(alpha.size()));
  v += alpha;
  return v;
}

std::string Pixels(const std::string& file, size_t headerEnd) { return file.substr(headerEnd); }

std::string Text(const vsktest::Bytes& b) { return std::string(b.begin(), b.end()); }

#ifdef VRTOOL_HAVE_PNG
// The pixels of a PNG file as RGB or RGBA bytes, decoded by libpng; "" when it does not decode.
std::string PngPixels(const std::string& file, bool alpha) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return "";
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  std::string pixels(PNG_IMAGE_SIZE(image), '\0');
  if (!png_image_finish_read(&image, nullptr, &pixels[0], 0, nullptr)) return "";
  return pixels;
}
#endif

TEST(VrtoolImage, ConvertEveryDepthToPpmPamAndPng) {
  TempDir t;
  struct Case {
    int depth;
    std::string rows, palette, alpha, rgb;
  };
  std::string pal(1024, '\0');
  // Palette entries: blue, green, red, unused.
  pal.replace(0, 4, std::string("\x30\x20\x10\x00", 4));
  pal.replace(4 * 200, 4, std::string("\x01\x02\x03\x00", 4));
  std::vector<Case> cases{
      // 8 bits: rows of 4 bytes (2 pixels + padding).
      {8, std::string("\x00\xC8\x00\x00\xC8\x00\x00\x00", 8), pal, "",
       std::string("\x10\x20\x30\x03\x02\x01\x03\x02\x01\x10\x20\x30", 12)},
      // 15 bits (5-5-5): 0x7C00 red, 0x03E0 green, 0x001F blue, 0x4210 (16,16,16).
      {15, std::string("\x00\x7C\xE0\x03\x1F\x00\x10\x42", 8), "", "",
       std::string("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\x84\x84\x84", 12)},
      // 16 bits (5-6-5): 0xF800 red, 0x07E0 green, 0x0020 (0,1,0), 0x0841 (1,2,1).
      {16, std::string("\x00\xF8\xE0\x07\x20\x00\x41\x08", 8), "", "",
       std::string("\xFF\x00\x00\x00\xFF\x00\x00\x04\x00\x08\x08\x08", 12)},
      // 24 bits: blue, green, red; rows padded to 8 bytes.
      {24, std::string("\x01\x02\x03\x04\x05\x06\x00\x00\x07\x08\x09\x0A\x0B\x0C\x00\x00", 16), "", "",
       std::string("\x03\x02\x01\x06\x05\x04\x09\x08\x07\x0C\x0B\x0A", 12)},
      // 32 bits: the fourth byte is ignored; an alpha plane (rows of 4 bytes) goes to the alpha channel.
      {32, std::string("\x01\x02\x03\xEE\x04\x05\x06\xEE\x07\x08\x09\xEE\x0A\x0B\x0C\xEE", 16), "",
       std::string("\x00\x40\x00\x00\x80\xFF\x00\x00", 8),
       std::string("\x03\x02\x01\x06\x05\x04\x09\x08\x07\x0C\x0B\x0A", 12)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("depth " + std::to_string(c.depth));
    WriteFile(t.Path() / "img.vsk", TinyVesk(c.depth, c.rows, c.palette, c.alpha));
    RunResult ppm = RunTool({"image", "convert", t / "img.vsk", t / "out.ppm"});
    ASSERT_EQ(ppm.Status, 0) << ppm.Err;
    std::string p = ReadFile(t.Path() / "out.ppm");
    ASSERT_EQ(p.substr(0, 11), "P6\n2 2\n255\n");
    EXPECT_EQ(Pixels(p, 11), c.rgb);

    RunResult pam = RunTool({"image", "convert", "--frame", "0", t / "img.vsk", t / "OUT.PAM"});
    ASSERT_EQ(pam.Status, 0) << pam.Err;
    std::string a = ReadFile(t.Path() / "OUT.PAM");
    std::string header = c.alpha.empty()
                             ? "P7\nWIDTH 2\nHEIGHT 2\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n"
                             : "P7\nWIDTH 2\nHEIGHT 2\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    ASSERT_EQ(a.substr(0, header.size()), header);
    std::string expected = c.rgb;
    if (!c.alpha.empty()) {
      expected.clear();
      const char alphas[4] = {0x00, 0x40, static_cast<char>(0x80), static_cast<char>(0xFF)};
      for (int i = 0; i < 4; ++i) expected += c.rgb.substr(static_cast<size_t>(i) * 3, 3) + alphas[i];
    }
    EXPECT_EQ(Pixels(a, header.size()), expected);

    RunResult info = RunTool({"image", "info", t / "img.vsk"});
    ASSERT_EQ(info.Status, 0) << info.Err;
    EXPECT_THAT(info.Out, HasSubstr("Vesk101"));
    EXPECT_THAT(info.Out, HasSubstr("Frames: 1"));
    EXPECT_THAT(info.Out, HasSubstr("2x2, " + std::to_string(c.depth) + " bits"));
  }
#ifdef VRTOOL_HAVE_PNG
  RunResult png = RunTool({"image", "convert", t / "img.vsk", t / "out.png"});
  ASSERT_EQ(png.Status, 0) << png.Err;
  std::string p = ReadFile(t.Path() / "out.png");
  EXPECT_EQ(p.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(p.substr(12, 4), "IHDR");
  EXPECT_EQ(p.substr(16, 8), std::string("\0\0\0\2\0\0\0\2", 8));
  EXPECT_EQ(p[25], 6);  // colour type RGBA: the frame has alpha
  const std::string pam = ReadFile(t.Path() / "OUT.PAM");
  EXPECT_EQ(PngPixels(p, true), Pixels(pam, pam.find("ENDHDR\n") + 7));
  // A larger picture (gradients, noise, flat areas; over 8 MiB of rows, which are deflated in pieces that
  // must join into one stream) comes back with the same pixels as the PPM shows.
  WriteFile(t.Path() / "big.vsk", Text(vsktest::Picture24(1703, 1801, 7, [](int x, int y, uint8_t* bgr) {
              bgr[0] = static_cast<uint8_t>(x * 3 + (y & 5));
              bgr[1] = static_cast<uint8_t>(y < 20 ? 40 : (x * y) >> 3);
              bgr[2] = static_cast<uint8_t>((x ^ y) * 37);
            })));
  ASSERT_EQ(RunTool({"image", "convert", "--seed", "7", t / "big.vsk", t / "big.png"}).Status, 0);
  ASSERT_EQ(RunTool({"image", "convert", "--seed", "7", t / "big.vsk", t / "big.ppm"}).Status, 0);
  const std::string ppm = ReadFile(t.Path() / "big.ppm");
  ASSERT_EQ(ppm.substr(0, 17), "P6\n1703 1801\n255\n");
  EXPECT_EQ(PngPixels(ReadFile(t.Path() / "big.png"), false), Pixels(ppm, 17));
#endif
  // Seeds are 32 bits in either spelling; anything else is a usage error.
  EXPECT_EQ(RunTool({"image", "info", "--seed", "-5", t / "img.vsk"}).Status, 0);
  EXPECT_EQ(RunTool({"image", "info", "--seed", "4294967295", t / "img.vsk"}).Status, 0);
  EXPECT_EQ(RunTool({"image", "info", "--seed", "4294967296", t / "img.vsk"}).Status, 2);
  EXPECT_EQ(RunTool({"image", "info", "--seed", "abc", t / "img.vsk"}).Status, 2);
  EXPECT_EQ(RunTool({"image", "convert", "--frame", "1", t / "img.vsk", t / "x.ppm"}).Status, 2);
  EXPECT_EQ(RunTool({"image", "convert", t / "img.vsk", t / "x.bmp"}).Status, 2);
  WriteFile(t.Path() / "bad.vsk", "VeskX900 later format");
  RunResult bad = RunTool({"image", "info", t / "bad.vsk"});
  EXPECT_EQ(bad.Status, 2);
  EXPECT_THAT(bad.Err, HasSubstr("bad.vsk: a file format this program cannot read"));
}

}  // namespace
}  // namespace vrtest
