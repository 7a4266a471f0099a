// Hostile and unlucky cases of the archive engine: failed merges, bombs, many names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
}  // namespace vr
