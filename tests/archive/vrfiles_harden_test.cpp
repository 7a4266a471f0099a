// Hostile and unlucky cases of the archive engine: failed merges, bombs, many names.
#include <gtest/gtest.h>
#include <zlib.h>
#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <psapi.h>
// clang-format on
#else
#include <sys/resource.h>
#endif

#include <string>
#include <vector>

#include "../framework/forwardplatform.h"
#include "../support/tempdrive.h"
#include "archive/scrambles.h"
#include "archive/vrfiles.h"
#include "vrfiles_testutil.h"

namespace vr {
namespace {

using namespace vrtest;

std::unique_ptr<TStream> SourceOf(const std::string& bytes) {
  auto m = std::make_unique<TMemoryStream>();
  Put(*m, bytes);
  return m;
}

void SavePack(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries,
              int32_t time) {
  TVrFileCollection pack;
  for (const auto& [name, content] : entries) {
    TVrFile& f = *pack.AddFile(name);
    f.Source = SourceOf(content);
    f.Time = time;
  }
  TKoBigFileStream out(path, fmCreate);
  ASSERT_TRUE(pack.SaveToStream(out, false));
}

TEST(VrFilesHarden, FailedMergeLeavesTheDataFileAsItWas) {
  TTempDrive drive;
  SavePack(drive.PathOf("a.dat"), {{"one.txt", Text(3000, 1)}, {"two.txt", Text(2000, 2)}}, 100);
  SavePack(drive.PathOf("b.dat"), {{"two.txt", Text(2500, 3)}, {"three.txt", Text(4000, 4)}}, 200);
  SavePack(drive.PathOf("c.dat"), {{"four.txt", Text(1000, 5)}}, 300);
  TVrFileCollection a, b, c;
  a.Open(drive.PathOf("a.dat"));
  b.Open(drive.PathOf("b.dat"));
  c.Open(drive.PathOf("c.dat"));
  {
    TVrFileCollection game;
    game.OpenPath(drive.PathOf("game.dat"), true);
    ASSERT_TRUE(game.MergeFrom(a));
  }
  const std::string data = drive.ReadFile("game.dat"), ext = drive.ReadFile("game.ext");

  // The directory file cannot be replaced: the merge fails and takes nothing back with it.
  TTempDrive::MakeFolders(drive.PathOf("game.ext.tmp"));
  {
    TVrFileCollection game;
    game.Open(drive.PathOf("game.dat"));
    const int before = game.Count();
    EXPECT_THROW(game.MergeFrom(b), Exception);
    EXPECT_EQ(game.Count(), before);
    EXPECT_EQ(game.IndexOf("/two.txt"), -1);
    EXPECT_GE(game.IndexOf("two.txt"), 0);
    EXPECT_GE(game.IndexOf("\\EOF\\"), 0);
  }
  EXPECT_EQ(drive.ReadFile("game.dat"), data);
  EXPECT_EQ(drive.ReadFile("game.ext"), ext);
  Platform().RemoveDirectory(drive.PathOf("game.ext.tmp"));

  // Bytes behind the described data (left by an interrupted merge) never become part of an entry.
  {
    const THandle h = Platform().FileOpen(drive.PathOf("game.dat"), fmOpenReadWrite);
    ASSERT_NE(h, kInvalidHandle);
    Platform().FileSeek(h, 0, TSeekOrigin::soEnd);
    Platform().FileWrite(h, "leftover bytes of a merge that died", 35);
    Platform().FileClose(h);
  }
  {
    TVrFileCollection game;
    game.Open(drive.PathOf("game.dat"));
    ASSERT_TRUE(game.MergeFrom(b));
    ASSERT_TRUE(game.MergeFrom(c));
  }
  TVrFileCollection check;
  check.Open(drive.PathOf("game.dat"));
  EXPECT_TRUE(check.VerifyData());
  for (auto state : check.VerifyEach()) EXPECT_NE(state, TVerifyState::vsMismatch);
  EXPECT_EQ(Extract(check, "one.txt"), Text(3000, 1));
  EXPECT_EQ(Extract(check, "two.txt"), Text(2500, 3));
  EXPECT_EQ(Extract(check, "four.txt"), Text(1000, 5));
  EXPECT_EQ(check.Items(check.Count() - 1)->Offset, static_cast<int64_t>(drive.ReadFile("game.dat").size()));
}

// zlib stream of `size` zero bytes, made piece by piece (the content is never held whole).
std::string ZeroBomb(int64_t size) {
  z_stream z{};
  EXPECT_EQ(deflateInit(&z, 1), Z_OK);
  std::vector<uint8_t> zeros(1 << 20, 0), out(1 << 16);
  std::string result;
  for (int64_t left = size;;) {
    const int64_t piece = std::min<int64_t>(left, static_cast<int64_t>(zeros.size()));
    z.next_in = zeros.data();
    z.avail_in = static_cast<uInt>(piece);
    left -= piece;
    const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    int rc;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      rc = deflate(&z, flush);
      result.append(reinterpret_cast<char*>(out.data()), out.size() - z.avail_out);
    } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    if (left == 0) break;
  }
  deflateEnd(&z);
  return result;
}

std::string Scrambled(const std::string& payload, int32_t blockSize) {
  TMemoryStream m;
  Put(m, payload);
  ScrambleStream(m, blockSize, 4711, true);
  return MemoryText(m);
}

// Peak memory of the process so far, KiB.
int64_t PeakKiB() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS c{};
  GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c);
  return static_cast<int64_t>(c.PeakWorkingSetSize / 1024);
#else
  struct rusage u {};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
#endif
}

TEST(VrFilesHarden, EveryEntryKindStreamsWithBoundedMemory) {
  TTempDrive drive;
  const int64_t bombSize = 384LL << 20;
  const std::string bomb = ZeroBomb(bombSize);
  const std::string text = Text(300000, 7);
  std::vector<RawEntry> entries;
  entries.push_back(RawEntry{"bomb.bin", Scrambled(bomb, 4096), 3, 0, 0, 0});
  entries.push_back(RawEntry{"plain.bin", Zlib(text), 0, 0, 0, 0});
  entries.push_back(RawEntry{"mixed.bin", Scrambled(Zlib(text), 256), 3, 0, 0, 0});
  entries.push_back(RawEntry{"scrambled.txt", Scrambled(text, 1000), 2, 0, 0, 0});
  entries.push_back(RawEntry{"tiny.txt", Scrambled("x", 1), 2, 0, 0, 0});
  entries.push_back(RawEntry{"sep.txt", Scrambled(Zlib(text), 777), 3, 0, Crc(text), 1});
  entries.push_back(RawEntry{"cut.bin", Scrambled(Zlib(text).substr(0, 5000), 256), 3, 0, 0, 0});
  drive.WriteFile("bomb.dat", BuildArchive(102, entries));
  TVrFileCollection files;
  files.Open(drive.PathOf("bomb.dat"));

  const int64_t before = PeakKiB();
  int64_t total = 0;
  bool zeros = true;
  files.DecodeItemTo(0, [&](const uint8_t* p, size_t n) {
    total += static_cast<int64_t>(n);
    for (size_t i = 0; i < n; i += 4096) zeros = zeros && p[i] == 0;
  });
  EXPECT_EQ(total, bombSize);
  EXPECT_TRUE(zeros);
  EXPECT_LT(PeakKiB() - before, 64 * 1024) << "decoding a compressed, scrambled entry held it in memory";

  for (const char* name : {"plain.bin", "mixed.bin", "scrambled.txt", "sep.txt"})
    EXPECT_EQ(Extract(files, name), text) << name;
  EXPECT_EQ(Extract(files, "tiny.txt"), "x");
  EXPECT_THROW(Extract(files, "cut.bin"), EVrError);
  const auto states = files.VerifyEach();
  EXPECT_EQ(states[5], TVerifyState::vsOk);
}

TEST(VrFilesHarden, AMissingPartFileIsNamed) {
  TTempDrive drive;
  PartSizeScope parts(1000);
  SavePack(drive.PathOf("src.dat"), {{"a.bin", RandomBytes(1500, 1)}, {"b.bin", RandomBytes(1500, 2)}}, 1);
  ASSERT_TRUE(drive.Exists("src.002"));
  Platform().DeleteFile(drive.PathOf("src.001"));
  TVrFileCollection files;
  try {
    files.Open(drive.PathOf("src.dat"));
    ADD_FAILURE() << "opened without its part file";
  } catch (const EVrError& e) {
    EXPECT_NE(e.Message.find("src.001"), std::string::npos) << e.Message;
  }
}

// Counts the locale comparisons: the measure of how many names a lookup looks at.
class TCountingPlatform : public TForwardPlatform {
 public:
  int CompareTextJ(const std::string& a, const std::string& b) override {
    ++Compares;
    return TForwardPlatform::CompareTextJ(a, b);
  }
  int64_t Compares = 0;
};

TEST(VrFilesHarden, PatternedDoubleByteNamesAreLookedUpWithoutScanning) {
  TTempDrive drive;
  const int n = 4000;
  TVrFileCollection pack;
  for (int i = 0; i < n; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "\x89\xe6\x91\x9c\\\x94\x77\x8c\x69%05d.png", i);  // 画像\背景NNNNN.png
    pack.AddFile(name)->Source = SourceOf(std::to_string(i));
  }
  {
    TKoBigFileStream out(drive.PathOf("many.dat"), fmCreate);
    ASSERT_TRUE(pack.SaveToStream(out, false));
  }
  TVrFileCollection source;
  source.Open(drive.PathOf("many.dat"));
  TVrFileCollection target;
  target.OpenPath(drive.PathOf("game.dat"), true);
  TCountingPlatform counting;
  ASSERT_TRUE(target.MergeFrom(source));
  EXPECT_FALSE(target.MergeFrom(source));
  EXPECT_LT(counting.Compares, 4 * n) << "lookups compared names of other entries";
  EXPECT_EQ(target.Count(), n);
  EXPECT_EQ(target.IndexOf("\x89\xe6\x91\x9c\\\x94\x77\x8c\x69"
                           "01234.PNG"),
            1234);
  EXPECT_EQ(target.IndexOf("\x89\xe6\x91\x9c\\\x94\x77\x8c\x69"
                           "04000.png"),
            -1);
  // Full-width letters fold as the locale folds them: "Ａ" (8260) and "ａ" (8281).
  target.AddFile("\x82\x60.txt");
  EXPECT_EQ(target.IndexOf("\x82\x60.TXT"), n);
  EXPECT_EQ(target.IndexOf("\x82\x81.txt"), Platform().CompareTextJ("\x82\x60.txt", "\x82\x81.txt") == 0 &&
                                                    NameHashMbcs("\x82\x81.txt") == NameHash("\x82\x60.txt")
                                                ? n
                                                : -1);
}

}  // namespace
}  // namespace vr
