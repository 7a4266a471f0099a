// File, handle and resource streams and the file operations of memory streams and string lists.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/classes.h"
#include "framework/forwardplatform.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

TEST(FileStream, CreateWriteReopenAndResize) {
  TTempDrive drive;
  const std::string name = drive.PathOf("データ.bin");
  {
    TFileStream f(name, fmCreate);
    EXPECT_EQ(f.FileName(), name);
    f.WriteBuffer("0123456789", 10);
    EXPECT_EQ(f.Size(), 10);
    EXPECT_EQ(f.Position(), 10);
    f.SetSize(4);
    EXPECT_EQ(f.Size(), 4);
    EXPECT_EQ(f.Position(), 4);
  }
  EXPECT_EQ(drive.ReadFile("データ.bin"), "0123");
  {
    TFileStream f(name, fmOpenReadWrite | fmShareExclusive);
    f.Seek(0, TSeekOrigin::soEnd);
    f.WriteBuffer("AB", 2);
    f.SetPosition(1);
    char buf[8] = {};
    EXPECT_EQ(f.Read(buf, 8), 5);
    EXPECT_EQ(std::string(buf, 5), "123AB");
    EXPECT_THROW(f.ReadBuffer(buf, 1), EReadError);
  }
  {
    TFileStream f(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_THROW(f.WriteBuffer("x", 1), EWriteError) << "a read-only handle does not write";
    EXPECT_EQ(f.Size(), 6);
  }
}

TEST(FileStream, OpenAndCreateErrorsNameTheFile) {
  TTempDrive drive;
  const std::string missing = drive.PathOf("無い.dat");
  try {
    TFileStream f(missing, fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message, Format("ファイル %s を開けません", {missing}));
  }
  const std::string badFolder = drive.PathOf("no\\such\\folder\\x.dat");
  try {
    TFileStream f(badFolder, fmCreate);
    FAIL() << "created a file in a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message, Format("ファイル %s を作成できません", {badFolder}));
  }
}

TEST(FileStream, SharingModesAreHonoured) {
  TTempDrive drive;
  drive.WriteFile("shared.dat", "abc");
  const std::string name = drive.PathOf("shared.dat");
  TFileStream reader(name, fmOpenRead | fmShareDenyWrite);
  EXPECT_NO_THROW(TFileStream(name, fmOpenRead | fmShareDenyNone)) << "others may read";
  EXPECT_THROW(TFileStream(name, fmOpenReadWrite | fmShareDenyNone), EFOpenError) << "nobody may write";
  EXPECT_THROW(TFileStream(name, fmCreate), EFCreateError);
}

TEST(FileStream, MemoryStreamAndStringListFiles) {
  TTempDrive drive;
  TMemoryStream m;
  m.WriteBuffer("\x00\x01\x02zz", 5);
  m.SaveToFile(drive.PathOf("m.bin"));
  EXPECT_EQ(drive.ReadFile("m.bin"), std::string("\x00\x01\x02zz", 5));

  drive.WriteFile("in.bin", "loaded bytes");
  TMemoryStream loaded;
  loaded.WriteBuffer("previous content, longer", 24);
  loaded.LoadFromFile(drive.PathOf("in.bin"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(loaded.Memory()), 12), "loaded bytes");
  EXPECT_EQ(loaded.Size(), 12);
  EXPECT_EQ(loaded.Position(), 0);
  EXPECT_THROW(loaded.LoadFromFile(drive.PathOf("absent.bin")), EFOpenError);

  TStringList l;
  l.Add("一");
  l.Add("two");
  l.SaveToFile(drive.PathOf("list.txt"));
  EXPECT_EQ(drive.ReadFile("list.txt"), "一\r\ntwo\r\n");
  drive.WriteFile("unix.txt", "a\nb\n\nc");
  l.LoadFromFile(drive.PathOf("unix.txt"));
  ASSERT_EQ(l.Count(), 4);
  EXPECT_EQ(l[2], "");
  EXPECT_EQ(l[3], "c");
}

class TResourcePlatform : public TForwardPlatform {
 public:
  std::optional<TResourceData> FindResource(const std::string& module, const std::string& name,
                                            const std::string& type) override {
    if (!module.empty() || name != "DUMMY" || type != "BINTYPE") return std::nullopt;
    auto bytes = std::make_shared<std::string>("vf-resource-bytes");
    TResourceData d;
    d.Data = reinterpret_cast<const uint8_t*>(bytes->data());
    d.Size = bytes->size();
    d.Keep = bytes;
    return d;
  }
};

TEST(ResourceStream, ReadsButNeverWrites) {
  TTempDrive drive;
  TResourcePlatform platform;
  TResourceStream r("", "DUMMY", "BINTYPE");
  EXPECT_EQ(r.Size(), 17);
  char head[2];
  r.ReadBuffer(head, 2);
  EXPECT_EQ(std::string(head, 2), "vf");
  try {
    r.WriteBuffer("x", 1);
    FAIL() << "wrote into a resource";
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message, "リソースストリームには書き込めません");
  }
  TMemoryStream copy;
  copy.CopyFrom(r, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.Memory()), 17), "vf-resource-bytes");
  try {
    TResourceStream missing("", "OTHER", "BINTYPE");
    FAIL() << "found a missing resource";
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message, "リソース OTHER が見つかりません");
  }
}

}  // namespace
}  // namespace vr
