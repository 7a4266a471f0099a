// The add-on rebuild of a one-executable game, driven step by step in the order of the install run.
#include "wizard/addonrebuild.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "archive/vrfiles.h"
#include "archive/vrfiles_testutil.h"
#include "framework/forwardplatform.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

using vrtest::Extract;
using vrtest::GetLE32;

constexpr int32_t kTime = 0x58A16C20;  // 2024-05-01 13:33:00
const char* const kTitle = "星の物語";
const std::string kProgram = "MZ old program " + std::string(300, 'p');

// The message of the EVrError that f raises; "" when it raises none.
template <class F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const EVrError& e) {
    return e.Message;
  }
  return "";
}

struct TEntry {
  std::string name, content;
  uint8_t separate = 0;
};

// Keeps the temp folder inside the test drive and can make the rename over the target fail.
class TRebuildPlatform : public TForwardPlatform {
 public:
  std::string Temp;
  bool FailMove = false;
  std::string GetTempPath() override { return Temp; }
  bool MoveFileReplace(const std::string& from, const std::string& to) override {
    return !FailMove && TForwardPlatform::MoveFileReplace(from, to);
  }
};

class AddonRebuild : public ::testing::Test {
 protected:
  AddonRebuild() { platform.Temp = drive.PathOf("temp\\"); }

  TTempDrive drive;
  TRebuildPlatform platform;
  const std::string dest = drive.PathOf("game\\");
  const std::string exe = drive.PathOf("game\\game.exe");

  void WriteArchive(const std::string& path, const std::vector<TEntry>& entries) {
    TVrFileCollection files;
    for (const TEntry& e : entries) {
      TVrFile* f = files.AddFile(e.name);
      auto content = std::make_unique<TMemoryStream>();
      vrtest::Put(*content, e.content);
      f->Source = std::move(content);
      f->Time = kTime;
      f->Separate = e.separate;
    }
    TTempDrive::MakeFolders(ExtractFileDir(path));
    TKoBigFileStream out(path, fmCreate);
    ASSERT_TRUE(files.SaveToStream(out, false));
  }

  // The installed game: its program part, then an archive with its settings and these entries.
  void MakeGame(std::vector<TEntry> entries) {
    TRovaInstallSet settings;
    settings.Title = kTitle;
    TMemoryStream m;
    settings.SaveToStream(m);
    entries.insert(entries.begin(), TEntry{"install.dat", vrtest::MemoryText(m)});
    WriteArchive(drive.PathOf("old.pak"), entries);
    drive.WriteFile("game\\game.exe", kProgram);
    AppendArchiveToExecutable(exe, drive.PathOf("old.pak"));
  }

  // One medium's archive of the add-on, open as the install run holds it.
  std::unique_ptr<TVrFileCollection> Addon(const std::vector<TEntry>& entries,
                                           const std::string& file = "addon\\game.dat") {
    WriteArchive(drive.PathOf(file), entries);
    auto package = std::make_unique<TVrFileCollection>();
    package->Open(drive.PathOf(file));
    return package;
  }

  // Preparing and the steps of one medium; the data archive is opened on the work folder.
  void Take(TAddonRebuild& r, TVrFileCollection& package, TVrFileCollection& data) {
    r.Prepare();
    ASSERT_EQ(r.Target(), exe);
    data.Open(r.WorkFolder());
    r.TakeAddonEntries(package, data);
    r.TakeOldEntries(data);
  }
};

TEST_F(AddonRebuild, RebuildsTheExecutableWithOldAndNewEntries) {
  MakeGame({{"data\\a.txt", "old a"},
            {"/data\\a.txt", "older a"},
            {"data\\b.txt", "old b"},
            {"readme.txt", "old readme", 1}});
  auto addon = Addon({{"data\\B.TXT", "new b"}, {"data\\c.txt", "new c"}, {"notes.txt", "separate", 1}});
  {
    TAddonRebuild r(dest, kTitle);
    TVrFileCollection data;
    Take(r, *addon, data);
    EXPECT_EQ(r.WorkFolder(), drive.PathOf("temp\\~rmupdate\\"));
    int reports = 0;
    data.OnProgress = [&](TVrFileCollection*, TVrFile*, int64_t, int32_t, int32_t, bool&) { ++reports; };
    ASSERT_TRUE(r.Rebuild(*addon, data));
    EXPECT_GT(reports, 0);
    EXPECT_TRUE(data.VerifyData());
    const std::string built = drive.ReadFile(r.WorkFolder() + "~game.exe");
    // A read-only target is replaced all the same.
    Platform().SetFileAttributes(exe, faReadOnly);
    r.CopyBack();
    EXPECT_EQ(drive.ReadFile(exe), built);
  }
  EXPECT_FALSE(drive.Exists("temp\\~rmupdate"));
  EXPECT_EQ(Platform().ListFolder(drive.PathOf("game"))->size(), 1u);

  const std::string bytes = drive.ReadFile(exe);
  EXPECT_EQ(bytes.substr(0, kProgram.size()), kProgram);
  EXPECT_EQ(GetLE32(bytes, bytes.size() - 6), kProgram.size());
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "rv");
  EXPECT_EQ(FindInstallerExe(dest, kTitle), exe);
  TVrFileCollection back;
  back.Open(exe);
  EXPECT_TRUE(back.VerifyData());
  // install.dat, a, b (once, the add-on's), c and the old separate readme; the superseded version and
  // the add-on's separate entry stay out.
  EXPECT_EQ(back.Count(), 6);
  EXPECT_EQ(Extract(back, "data\\a.txt"), "old a");
  EXPECT_EQ(Extract(back, "data\\b.txt"), "new b");
  EXPECT_EQ(Extract(back, "data\\c.txt"), "new c");
  EXPECT_EQ(Extract(back, "readme.txt"), "old readme");
  EXPECT_EQ(back.IndexOf("notes.txt"), -1);
  EXPECT_EQ(back.Items(back.IndexOf("data\\a.txt"))->Time, kTime);
}

TEST_F(AddonRebuild, AddonProgramReplacesTheProgramPart) {
  MakeGame({{"a.txt", "a"}});
  auto disc1 = Addon({{"GAME.EXE", "MZ new program"}, {"x.txt", "x"}}, "disc1\\game.dat");
  auto disc2 = Addon({{"y.txt", "y"}, {"X.txt", "x2"}}, "disc2\\game.dat");
  // Rebuilt with the medium that carries the program last, and with a later medium that does not.
  for (TVrFileCollection* last : {disc1.get(), disc2.get()}) {
    TAddonRebuild r(dest, kTitle);
    TVrFileCollection data;
    Take(r, *disc1, data);
    r.TakeAddonEntries(*disc2, data);
    r.TakeOldEntries(data);
    ASSERT_TRUE(r.Rebuild(*last, data));
    const std::string bytes = drive.ReadFile(r.WorkFolder() + "~game.exe");
    EXPECT_EQ(bytes.substr(0, 14), "MZ new program");
    EXPECT_EQ(GetLE32(bytes, bytes.size() - 6), 14u);
    // install.dat, a, the program, x (once, from the later medium) and y.
    EXPECT_EQ(data.Count(), 6);
    EXPECT_EQ(Extract(data, "x.txt"), "x2");
    EXPECT_EQ(Extract(data, "y.txt"), "y");
    EXPECT_EQ(Extract(data, "a.txt"), "a");
  }
}

TEST_F(AddonRebuild, WorkFolderIsAlwaysANewOne) {
  MakeGame({});
  drive.WriteFile("temp\\~rmupdate\\left.txt", "left");
  {
    TAddonRebuild r(dest, kTitle);
    r.Prepare();
    EXPECT_EQ(r.WorkFolder(), drive.PathOf("temp\\~rmupdate2\\"));
    EXPECT_TRUE(DirectoryExists(r.WorkFolder()));
  }
  EXPECT_FALSE(drive.Exists("temp\\~rmupdate2"));
  EXPECT_EQ(drive.ReadFile("temp\\~rmupdate\\left.txt"), "left");

  drive.WriteFile("blocker", "a file where the temp folder should be");
  platform.Temp = drive.PathOf("blocker\\");
  TAddonRebuild blocked(dest, kTitle);
  EXPECT_EQ(ErrorOf([&] { blocked.Prepare(); }), "作業用フォルダが作成できません");
}

TEST_F(AddonRebuild, FailedCopyBackKeepsTheOldExecutable) {
  MakeGame({{"a.txt", "a"}});
  const std::string before = drive.ReadFile(exe);
  auto addon = Addon({{"a.txt", "new a"}});
  TAddonRebuild r(dest, kTitle);
  TVrFileCollection data;
  Take(r, *addon, data);
  data.OnProgress = [](TVrFileCollection*, TVrFile*, int64_t, int32_t, int32_t, bool& cancel) {
    cancel = true;
  };
  EXPECT_FALSE(r.Rebuild(*addon, data));
  data.OnProgress = nullptr;
  ASSERT_TRUE(r.Rebuild(*addon, data));

  platform.FailMove = true;
  EXPECT_EQ(ErrorOf([&] { r.CopyBack(); }), r.WorkFolder() + "~game.exe --> " + exe + "コピーできません");
  EXPECT_EQ(drive.ReadFile(exe), before);
  EXPECT_EQ(Platform().ListFolder(drive.PathOf("game"))->size(), 1u);
}

TEST_F(AddonRebuild, NamesThatLeaveTheWorkFolderAreRefused) {
  MakeGame({});
  for (const std::string name : {"..\\evil.txt", "\\evil.txt", "C:evil.txt", "C:\\evil.txt",
                                 "sub\\..\\..\\evil.txt", "CON", "~rvupdate.pak", "~GAME.exe\\x"}) {
    auto addon = Addon({{"ok.txt", "ok"}, {name, "bad"}});
    TAddonRebuild r(dest, kTitle);
    TVrFileCollection data;
    r.Prepare();
    data.Open(r.WorkFolder());
    EXPECT_EQ(ErrorOf([&] { r.TakeAddonEntries(*addon, data); }),
              Format("%s:ファイル名が正しくありません", {name}));
  }
  MakeGame({{"..\\evil.txt", "bad"}});
  TAddonRebuild r(dest, kTitle);
  TVrFileCollection data;
  r.Prepare();
  data.Open(r.WorkFolder());
  EXPECT_EQ(ErrorOf([&] { r.TakeOldEntries(data); }),
            Format("%s:ファイル名が正しくありません", {"..\\evil.txt"}));
  for (const char* outside : {"temp\\evil.txt", "evil.txt"}) EXPECT_FALSE(drive.Exists(outside)) << outside;
  EXPECT_EQ(Platform().GetFileAttributes("C:\\evil.txt"), faInvalid);
}

TEST_F(AddonRebuild, ProgramPartMustEndWhereTheArchiveStarts) {
  MakeGame({{"a.txt", "a"}});
  const std::string good = drive.ReadFile(exe);
  const int64_t size = static_cast<int64_t>(good.size());
  auto addon = Addon({{"b.txt", "b"}});
  for (int64_t start :
       {int64_t(0), int64_t(-5), size - 6, int64_t(kProgram.size()) + 1, int64_t(0x7FFFFFFF)}) {
    TAddonRebuild r(dest, kTitle);
    TVrFileCollection data;
    Take(r, *addon, data);
    std::string bad = good;
    for (int i = 0; i < 4; ++i)
      bad[bad.size() - 6 + i] = static_cast<char>(static_cast<uint64_t>(start) >> (8 * i));
    drive.WriteFile("game\\game.exe", bad);
    EXPECT_EQ(ErrorOf([&] { r.Rebuild(*addon, data); }),
              Format("%s:実行ファイルのアーカイブの位置が正しくありません", {exe}))
        << start;
    EXPECT_EQ(drive.ReadFile(exe), bad);
    drive.WriteFile("game\\game.exe", good);
  }
}

#ifndef _WIN32
TEST_F(AddonRebuild, DeleteTreeRemovesLinksNotTheirTargets) {
  namespace fs = std::filesystem;
  drive.WriteFile("outside\\keep.txt", "keep");
  drive.WriteFile("tree\\sub\\f.txt", "f");
  const auto host = [&](const std::string& relative) {
    return drive.Posix()->HostPath(drive.PathOf(relative));
  };
  fs::create_directory_symlink(host("outside"), host("tree\\sub") + "/folder-link");
  fs::create_symlink(host("outside\\keep.txt"), host("tree") + "/file-link");
  fs::create_directory_symlink(host("outside"), host("") + "/root-link");
  DeleteTree(drive.PathOf("tree\\"));
  EXPECT_FALSE(drive.Exists("tree"));
  DeleteTree(drive.PathOf("root-link"));
  EXPECT_FALSE(fs::is_symlink(host("") + "/root-link"));
  EXPECT_EQ(drive.ReadFile("outside\\keep.txt"), "keep");
}
#endif

}  // namespace
}  // namespace vr
