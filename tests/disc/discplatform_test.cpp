// An image served as a drive: reads, listings and copies out of it; nothing written to it; every other
// path passed on to the platform below.
#include <gtest/gtest.h>

#include "disc/discplatform.h"
#include "framework/classes.h"
#include "isobuild.h"
#include "support/tempdrive.h"

namespace vrtest {
namespace {

class DiscPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    TIsoBuilder b;
    const uint32_t text = b.Add("0123456789");
    const uint32_t sub = b.Add(TIsoBuilder::Folder(0, 18, Record("INNER.DAT;1", text, 4)));
    b.Root(Record("Readme.TXT;1", text, 10) + Record("SUB", sub, 2048, 2) +
           Record("Hidden.TXT;1", text, 2, 1));
    discs_ = std::make_unique<vr::TDiscPlatform>(vr::Platform());
    discs_->Mount('q', vr::TDiscImage::FromBytes(vr::MemoryImageBytes(b.Bytes()), "t.iso"));
    previous_ = vr::SetPlatform(discs_.get());
  }
  void TearDown() override { vr::SetPlatform(previous_); }

  vr::TTempDrive drive_;
  std::unique_ptr<vr::TDiscPlatform> discs_;
  vr::TPlatform* previous_ = nullptr;
};

TEST_F(DiscPlatform, ReadsSeeksAndListsWithoutRegardToCase) {
  vr::TPlatform& p = vr::Platform();
  const char letter = discs_->FreeLetter();
  EXPECT_TRUE(letter >= 'D' && letter <= 'Y' && letter != 'Q') << letter;
  const vr::THandle h = p.FileOpen("Q:\\sub\\..\\README.txt", vr::fmOpenRead | vr::fmShareDenyWrite);
  ASSERT_NE(h, vr::kInvalidHandle);
  char buf[16] = {};
  EXPECT_EQ(p.FileSeek(h, -4, vr::TSeekOrigin::soEnd), 6);
  EXPECT_EQ(p.FileRead(h, buf, sizeof buf), 4);
  EXPECT_EQ(std::string(buf, 4), "6789");
  EXPECT_EQ(p.FileRead(h, buf, sizeof buf), 0);
  EXPECT_EQ(p.FileSeek(h, -1, vr::TSeekOrigin::soBeginning), -1);
  EXPECT_EQ(p.FileWrite(h, "x", 1), -1);
  p.FileClose(h);

  vr::TFileStream inner("q:/SUB/inner.dat", vr::fmOpenRead);
  EXPECT_EQ(inner.Size(), 4);
  EXPECT_EQ(p.GetFileAttributes("Q:\\SUB"), vr::faDirectory | vr::faReadOnly);
  EXPECT_EQ(p.GetFileAttributes("Q:\\Hidden.txt"), vr::faReadOnly | vr::faHidden);
  EXPECT_EQ(p.GetFileAttributes("Q:\\nothing"), vr::faInvalid);
  EXPECT_EQ(p.GetFileKind("Q:\\Readme.TXT\\x"), vr::TFileKind::None);
  auto listing = p.ListFolder("Q:\\");
  ASSERT_TRUE(listing);
  ASSERT_EQ(listing->size(), 3u);
  EXPECT_EQ((*listing)[0].Name, "Hidden.TXT");
  EXPECT_EQ((*listing)[1].Size, 10);
  EXPECT_EQ((*listing)[2].Attr & vr::faDirectory, vr::faDirectory);
}

TEST_F(DiscPlatform, NothingIsWrittenToTheImageAndOtherPathsPassThrough) {
  vr::TPlatform& p = vr::Platform();
  EXPECT_EQ(p.FileOpen("Q:\\Readme.TXT", vr::fmOpenReadWrite), vr::kInvalidHandle);
  EXPECT_EQ(p.LastErrorText(), "the disc image is read-only");
  EXPECT_EQ(p.FileCreate("Q:\\new.txt", vr::fmShareExclusive), vr::kInvalidHandle);
  EXPECT_FALSE(p.DeleteFile("Q:\\Readme.TXT"));
  EXPECT_FALSE(p.CreateDirectory("Q:\\NEW"));
  EXPECT_FALSE(p.MoveFileReplace("Q:\\Readme.TXT", drive_.Folder() + "moved"));
  EXPECT_FALSE(p.CopyFile(drive_.Folder() + "x", "Q:\\x", false));
  EXPECT_FALSE(p.CopyFile("Q:\\missing", drive_.Folder() + "copy", false));

  ASSERT_TRUE(p.CopyFile("Q:\\Readme.TXT", drive_.Folder() + "copy.txt", false));
  EXPECT_EQ(drive_.ReadFile("copy.txt"), "0123456789");
  EXPECT_FALSE(p.CopyFile("Q:\\Readme.TXT", drive_.Folder() + "copy.txt", true));
  const vr::THandle h = p.FileOpen(drive_.Folder() + "copy.txt", vr::fmOpenRead);
  ASSERT_NE(h, vr::kInvalidHandle);
  // 1999-04-01 12:30:10 as recorded.
  EXPECT_EQ(p.FileGetDosTime(h), (19u << 25) | (4u << 21) | (1u << 16) | (12u << 11) | (30u << 5) | 5u);
  p.FileClose(h);
}

}  // namespace
}  // namespace vrtest
