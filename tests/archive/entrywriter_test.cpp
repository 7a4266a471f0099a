// The entry writer: folders one level at a time, no link followed, temporary files that never stay.
#include "archive/entrywriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../framework/forwardplatform.h"
#include "../support/tempdrive.h"
#include "startup/syshelpers.h"
#include "vrfiles_testutil.h"

namespace vr {
namespace {

using namespace vrtest;

constexpr int32_t kTime = 0x5A2B1C3D;

// Opens an archive of these entries written to game.dat of the drive.
void OpenArchive(TTempDrive& drive, TVrFileCollection& files, const std::vector<RawEntry>& entries) {
  drive.WriteFile("game.dat", BuildArchive(102, entries));
  files.Open(drive.PathOf("game.dat"));
}

// Names in a folder that look like the writer's temporary files.
std::vector<std::string> Temporaries(const std::string& folder) {
  std::vector<std::string> found;
  if (auto entries = Platform().ListFolder(folder))
    for (const TFindData& e : *entries)
      if (e.Name.rfind("~vr", 0) == 0) found.push_back(e.Name);
  return found;
}

// The fault a write stops with; `message` (when given) gets its message.
template <class F>
TEntryWriteFault FaultOf(F&& write, std::string* message = nullptr) {
  try {
    write();
  } catch (const EEntryWriteError& ex) {
    if (message) *message = ex.Message;
    return ex.Fault;
  }
  ADD_FAILURE() << "no EEntryWriteError";
  return TEntryWriteFault::UnsafeName;
}

TEST(EntryWriter, WritesEveryKindAndTellsItsHooksOfEachStep) {
  TTempDrive drive;
  TVrFileCollection files;
  OpenArchive(
      drive, files,
      {Stored("a\\b\\stored.bin", RandomBytes(5000, 1), kTime),
       Compressed("a\\b\\text.txt", Text(9000), kTime), Compressed("a\\c\\", ""), Stored("top.txt", "new")});
  drive.WriteFile("out\\top.txt", "old");
  TEntryWriter writer(drive.PathOf("out"));
  // Folders and temporary files are told of while nothing of their name exists; the target before it
  // is replaced.
  std::vector<std::string> created, steps;
  const auto absent = [&](std::vector<std::string>& into, const char* what) {
    return [&into, what](const std::string& path) {
      EXPECT_EQ(Platform().GetFileKind(path), TFileKind::None) << path;
      into.push_back(what[0] ? what : path);
    };
  };
  writer.OnFolderCreating = absent(created, "");
  writer.OnTempCreating = absent(steps, "temp");
  writer.OnTempGone = absent(steps, "gone");
  writer.OnBeforeReplace = [&](const std::string& target) {
    steps.push_back("replace " + drive.ReadFile(target));
  };

  EXPECT_EQ(writer.Write(files, 0), drive.PathOf("out\\a\\b\\stored.bin"));
  EXPECT_EQ(writer.Write(files, 1), drive.PathOf("out\\a\\b\\text.txt"));
  EXPECT_EQ(writer.Write(files, 2), "");
  EXPECT_EQ(writer.Write(files, 3), drive.PathOf("out\\top.txt"));

  EXPECT_EQ(drive.ReadFile("out\\a\\b\\stored.bin"), RandomBytes(5000, 1));
  EXPECT_EQ(drive.ReadFile("out\\a\\b\\text.txt"), Text(9000));
  EXPECT_EQ(drive.ReadFile("out\\top.txt"), "new");
  EXPECT_EQ(FileAge(drive.PathOf("out\\a\\b\\text.txt")), kTime);
  EXPECT_EQ(created, (std::vector<std::string>{drive.PathOf("out\\a"), drive.PathOf("out\\a\\b"),
                                               drive.PathOf("out\\a\\c")}));
  EXPECT_EQ(steps, (std::vector<std::string>{"temp", "replace ", "gone", "temp", "replace ", "gone", "temp",
                                             "replace old", "gone"}));
  EXPECT_TRUE(Temporaries(drive.PathOf("out\\a\\b")).empty());
  EXPECT_EQ(writer.KnownPath("a\\b\\other.txt"), drive.PathOf("out\\a\\b\\other.txt"));
  EXPECT_EQ(writer.KnownPath("a\\new\\other.txt"), "");
}

// Levels are looked at once each, however many entries share them.
TEST(EntryWriter, ChecksEachFolderLevelOnce) {
  TTempDrive drive;
  struct TCounting : TForwardPlatform {
    int Looks = 0;
    TFileKind GetFileKind(const std::string& name) override {
      ++Looks;
      return TForwardPlatform::GetFileKind(name);
    }
  } counting;
  TEntryWriter writer(drive.Folder());
  for (int i = 0; i < 200; ++i) writer.PrepareFolders("x\\y\\z\\" + std::to_string(i) + ".txt");
  EXPECT_EQ(counting.Looks, 3);
}

TEST(EntryWriter, RefusesNamesLeavingTheRootAndFilesOrFoldersInTheWay) {
  TTempDrive drive;
  TVrFileCollection files;
  OpenArchive(drive, files, {Stored("f\\g.txt", "g"), Stored("d", "d"), Stored("..\\evil.txt", "e")});
  drive.WriteFile("out\\f", "a file");
  TTempDrive::MakeFolders(drive.PathOf("out\\d"));
  TEntryWriter writer(drive.PathOf("out"));
  std::string message;
  EXPECT_EQ(FaultOf([&] { writer.Write(files, 0); }, &message), TEntryWriteFault::FileInTheWay);
  EXPECT_EQ(message.find(drive.PathOf("out\\f") + ":"), 0u) << message;
  EXPECT_EQ(FaultOf([&] { writer.Write(files, 1); }), TEntryWriteFault::FolderInTheWay);
  EXPECT_EQ(FaultOf([&] { writer.Write(files, 2); }), TEntryWriteFault::UnsafeName);
  for (const char* name : {"C:\\abs.txt", "\\root.txt", "a\\..\\..\\b.txt", "NUL\\x.txt"})
    EXPECT_EQ(FaultOf([&] { writer.PrepareFolders(name); }), TEntryWriteFault::UnsafeName) << name;
  EXPECT_EQ(drive.ReadFile("out\\f"), "a file");
  EXPECT_TRUE(Temporaries(drive.PathOf("out")).empty());
  EXPECT_FALSE(drive.Exists("evil.txt"));
  EXPECT_FALSE(drive.Exists("out\\a"));
}

TEST(EntryWriter, ChecksumMismatchLeavesTheOldFileAndNoTemporary) {
  TTempDrive drive;
  TVrFileCollection files;
  OpenArchive(drive, files, {Compressed("t.txt", Text(7000)), Stored("s.bin", "stored")});
  drive.WriteFile("t.txt", "old");
  TEntryWriter writer(drive.Folder());
  int replaced = 0;
  writer.OnBeforeReplace = [&](const std::string&) { ++replaced; };
  TEntryWriteOptions options;
  options.ExpectedCrc = Crc(Text(7000)) ^ 1;
  EXPECT_EQ(FaultOf([&] { writer.Write(files, 0, options); }), TEntryWriteFault::ChecksumMismatch);
  EXPECT_EQ(drive.ReadFile("t.txt"), "old");
  EXPECT_EQ(replaced, 0);
  // The sum is the content's, whatever the storage kind.
  options.ExpectedCrc = Crc(Text(7000));
  writer.Write(files, 0, options);
  options.ExpectedCrc = Crc("stored");
  writer.Write(files, 1, options);
  EXPECT_EQ(drive.ReadFile("t.txt"), Text(7000));
  EXPECT_EQ(drive.ReadFile("s.bin"), "stored");
  EXPECT_TRUE(Temporaries(drive.Folder()).empty());
}

TEST(EntryWriter, AFailureWhileWritingLeavesNoTemporary) {
  TTempDrive drive;
  TVrFileCollection files;
  RawEntry broken = Compressed("broken.txt", Text(3000));
  broken.stored[broken.stored.size() / 2] ^= 0x55;
  broken.stored.resize(broken.stored.size() - 8);
  OpenArchive(drive, files, {Stored("s.bin", RandomBytes(3000, 2)), broken, Stored("ok.txt", "ok")});
  TEntryWriter writer(drive.Folder());
  int temps = 0;
  writer.OnTempCreating = [&](const std::string&) { ++temps; };
  writer.OnTempGone = [&](const std::string&) { --temps; };
  EXPECT_THROW(writer.Write(files, 1), EVrError);
  {
    // A full disk: the in-system copy refused, every write fails.
    struct TFull : TForwardPlatform {
      int32_t FileWrite(THandle, const void*, int32_t) override { return -1; }
      int64_t FileCopyRange(THandle, int64_t, THandle, int64_t, int64_t) override { return -1; }
    } full;
    EXPECT_EQ(FaultOf([&] { writer.Write(files, 0); }), TEntryWriteFault::WriteFailed);
  }
  writer.OnBeforeReplace = [](const std::string&) { throw EVrError("set aside failed"); };
  EXPECT_THROW(writer.Write(files, 2), EVrError);
  EXPECT_EQ(temps, 0);
  EXPECT_TRUE(Temporaries(drive.Folder()).empty());
  EXPECT_FALSE(drive.Exists("s.bin"));
  EXPECT_FALSE(drive.Exists("broken.txt"));
  EXPECT_FALSE(drive.Exists("ok.txt"));
}

#ifndef _WIN32
namespace fs = std::filesystem;

TEST(EntryWriter, NeverFollowsALinkOnTheWayOrAtTheTarget) {
  TTempDrive drive;
  TVrFileCollection files;
  OpenArchive(drive, files,
              {Stored("link\\e8.txt", "e8"), Stored("sub\\deep\\x.txt", "x"), Stored("a.txt", "new a"),
               Stored("dangling.txt", "new d")});
  drive.WriteFile("outside\\a.txt", "precious");
  TTempDrive::MakeFolders(drive.PathOf("out\\sub"));
  const auto host = [&](const std::string& relative) {
    return drive.Posix()->HostPath(drive.PathOf(relative));
  };
  fs::create_directory_symlink(host("outside"), host("out\\link"));
  fs::create_directory_symlink(host("outside"), host("out\\sub\\deep"));
  fs::create_symlink(host("outside\\a.txt"), host("out\\a.txt"));
  fs::create_symlink(host("outside\\d.txt"), host("out\\dangling.txt"));

  TEntryWriter writer(drive.PathOf("out"));
  std::string message;
  EXPECT_EQ(FaultOf([&] { writer.Write(files, 0); }, &message), TEntryWriteFault::LinkInTheWay);
  EXPECT_EQ(message.find(drive.PathOf("out\\link") + ":"), 0u) << message;
  EXPECT_EQ(FaultOf([&] { writer.Write(files, 1); }), TEntryWriteFault::LinkInTheWay);
  EXPECT_EQ(writer.KnownPath("link\\e8.txt"), "");
  // Links of an entry's name are replaced, never written through.
  writer.Write(files, 2);
  writer.Write(files, 3);
  EXPECT_FALSE(fs::is_symlink(host("out\\a.txt")));
  EXPECT_EQ(drive.ReadFile("out\\a.txt"), "new a");
  EXPECT_EQ(drive.ReadFile("out\\dangling.txt"), "new d");
  EXPECT_EQ(drive.ReadFile("outside\\a.txt"), "precious");
  EXPECT_FALSE(drive.Exists("outside\\e8.txt"));
  EXPECT_FALSE(drive.Exists("outside\\x.txt"));
  EXPECT_FALSE(drive.Exists("outside\\d.txt"));

  // The add-on rebuild's extraction goes the same way.
  EXPECT_THROW(files.ExtractItemToFolder(0, drive.PathOf("out")), EVrError);
  EXPECT_FALSE(drive.Exists("outside\\e8.txt"));
}
#endif

}  // namespace
}  // namespace vr
