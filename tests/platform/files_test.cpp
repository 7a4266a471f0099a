// Files, open modes, sharing, attributes and folders through the installed platform.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

TEST(PlatformFiles, CreateWriteSeekReadAndResize) {
  TTempDrive drive;
  TPlatform& p = Platform();
  const std::string name = drive.PathOf("表ソ.bin");  // double-byte names with 0x5C second bytes
  const THandle h = p.FileCreate(name);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(p.FileWrite(h, "0123456789", 10), 10);
  EXPECT_EQ(p.FileSeek(h, 0, TSeekOrigin::soCurrent), 10);
  EXPECT_EQ(p.FileSeek(h, -4, TSeekOrigin::soEnd), 6);
  char buf[16] = {};
  EXPECT_EQ(p.FileRead(h, buf, 16), 4);
  EXPECT_EQ(std::string(buf, 4), "6789");
  EXPECT_EQ(p.FileRead(h, buf, 16), 0);  // at the end
  EXPECT_TRUE(p.FileSetSize(h, 3));
  EXPECT_EQ(p.FileSeek(h, 0, TSeekOrigin::soCurrent), 3);
  EXPECT_EQ(p.FileSeek(h, 0, TSeekOrigin::soEnd), 3);
  EXPECT_TRUE(p.FileSetSize(h, 5));  // growing fills with zeros
  EXPECT_TRUE(p.FileFlush(h));
  p.FileClose(h);
  EXPECT_EQ(drive.ReadFile("表ソ.bin"), std::string("012\0\0", 5));
  // FileCreate truncates an existing file.
  const THandle again = p.FileCreate(name);
  ASSERT_NE(again, kInvalidHandle);
  p.FileClose(again);
  EXPECT_EQ(drive.ReadFile("表ソ.bin"), "");
  // Closed or unknown handles fail instead of touching anything.
  EXPECT_EQ(p.FileRead(h, buf, 1), -1);
  EXPECT_EQ(p.FileWrite(h, buf, 1), -1);
  EXPECT_EQ(p.FileSeek(h, 0, TSeekOrigin::soBeginning), -1);
  EXPECT_EQ(p.FileOpen(drive.PathOf("missing.txt"), fmOpenRead), kInvalidHandle);
  EXPECT_EQ(p.FileCreate(drive.PathOf("no\\such\\folder.txt")), kInvalidHandle);
}

// Folders and many files at once are flushed where they exist and refused where they do not, the
// batch for as many files as the single-call path takes and for one closed handle among them.
TEST(PlatformFiles, FoldersAndManyFilesAreFlushed) {
  TTempDrive drive;
  TPlatform& p = Platform();
  EXPECT_TRUE(p.FolderFlush(ExcludeTrailingBackslash(drive.Folder())));
  EXPECT_TRUE(p.FolderFlush(drive.Folder()));
  EXPECT_FALSE(p.FolderFlush(drive.PathOf("missing")));
  drive.WriteFile("file.txt", "x");
  EXPECT_FALSE(p.FolderFlush(drive.PathOf("file.txt")));
  std::vector<THandle> handles;
  for (int i = 0; i < 12; ++i) {
    handles.push_back(p.FileCreate(drive.PathOf("f" + std::to_string(i))));
    ASSERT_NE(handles.back(), kInvalidHandle);
    EXPECT_EQ(p.FileWrite(handles.back(), "data", 4), 4);
  }
  EXPECT_TRUE(p.FileFlushMany(handles));
  EXPECT_TRUE(p.FileFlushMany({}));
  p.FileClose(handles[5]);
  EXPECT_FALSE(p.FileFlushMany(handles));
  handles.erase(handles.begin() + 5);
  for (THandle h : handles) p.FileClose(h);
  EXPECT_EQ(drive.ReadFile("f11"), "data");
}

TEST(PlatformFiles, MappedViewsShowTheFileFromAnyOffset) {
  TTempDrive drive;
  TPlatform& p = Platform();
  std::string bytes(300000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + i / 977);
  drive.WriteFile("view.bin", bytes);
  const THandle h = p.FileOpen(drive.PathOf("view.bin"), fmOpenRead | fmShareDenyWrite);
  ASSERT_NE(h, kInvalidHandle);
  // Offsets off every page and allocation boundary, up to the file's last byte.
  for (const int64_t offset : {int64_t{0}, int64_t{1}, int64_t{4097}, int64_t{65537}, int64_t{299999}}) {
    const int64_t count = std::min<int64_t>(70000, static_cast<int64_t>(bytes.size()) - offset);
    const uint8_t* view = p.FileMapView(h, offset, count);
    ASSERT_NE(view, nullptr) << offset;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(view), static_cast<size_t>(count)),
              bytes.substr(static_cast<size_t>(offset), static_cast<size_t>(count)))
        << offset;
    p.FileUnmapView(view, count);
  }
  // A view outlives its handle; nothing is mapped for a bad handle.
  const uint8_t* view = p.FileMapView(h, 10, 100);
  p.FileClose(h);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], static_cast<uint8_t>(bytes[10]));
  p.FileUnmapView(view, 100);
  EXPECT_EQ(p.FileMapView(kInvalidHandle, 0, 10), nullptr);
}

TEST(PlatformFiles, AccessModes) {
  TTempDrive drive;
  TPlatform& p = Platform();
  drive.WriteFile("f.txt", "abc");
  const std::string name = drive.PathOf("f.txt");
  char c = 0;
  THandle r = p.FileOpen(name, fmOpenRead | fmShareDenyNone);
  ASSERT_NE(r, kInvalidHandle);
  EXPECT_EQ(p.FileWrite(r, "x", 1), -1);  // read-only handle
  p.FileClose(r);
  THandle w = p.FileOpen(name, fmOpenWrite | fmShareDenyNone);
  ASSERT_NE(w, kInvalidHandle);
  EXPECT_EQ(p.FileRead(w, &c, 1), -1);  // write-only handle
  EXPECT_EQ(p.FileWrite(w, "X", 1), 1);
  p.FileClose(w);
  THandle rw = p.FileOpen(name, fmOpenReadWrite | fmShareExclusive);
  ASSERT_NE(rw, kInvalidHandle);
  EXPECT_EQ(p.FileSeek(rw, 1, TSeekOrigin::soBeginning), 1);
  EXPECT_EQ(p.FileRead(rw, &c, 1), 1);
  EXPECT_EQ(c, 'b');
  p.FileClose(rw);
  EXPECT_EQ(drive.ReadFile("f.txt"), "Xbc");
  EXPECT_EQ(p.FileOpen(name, 3), kInvalidHandle);  // no such access mode
}

TEST(PlatformFiles, SharingModesBetweenHandles) {
  TTempDrive drive;
  TPlatform& p = Platform();
  drive.WriteFile("s.dat", "data");
  const std::string name = drive.PathOf("s.dat");
  // A reader that denies writing lets other readers in and keeps writers out.
  const THandle reader = p.FileOpen(name, fmOpenRead | fmShareDenyWrite);
  ASSERT_NE(reader, kInvalidHandle);
  const THandle reader2 = p.FileOpen(name, fmOpenRead | fmShareDenyWrite);
  EXPECT_NE(reader2, kInvalidHandle);
  EXPECT_EQ(p.FileOpen(name, fmOpenWrite | fmShareDenyNone), kInvalidHandle);
  EXPECT_EQ(p.FileOpen(name, fmOpenReadWrite | fmShareDenyNone), kInvalidHandle);
  EXPECT_EQ(p.FileCreate(name, fmShareDenyNone), kInvalidHandle);
  EXPECT_EQ(drive.ReadFile("s.dat"), "data");  // the refused create did not truncate it
  // An exclusive open is refused while anybody has the file open.
  EXPECT_EQ(p.FileOpen(name, fmOpenRead | fmShareExclusive), kInvalidHandle);
  p.FileClose(reader);
  p.FileClose(reader2);
  // A writer that shares nothing keeps everybody out until it closes.
  const THandle writer = p.FileOpen(name, fmOpenReadWrite | fmShareExclusive);
  ASSERT_NE(writer, kInvalidHandle);
  EXPECT_EQ(p.FileOpen(name, fmOpenRead | fmShareDenyNone), kInvalidHandle);
  // Denying writing conflicts with an open writer even when that writer shares everything.
  p.FileClose(writer);
  const THandle sharedWriter = p.FileOpen(name, fmOpenWrite | fmShareDenyNone);
  ASSERT_NE(sharedWriter, kInvalidHandle);
  EXPECT_EQ(p.FileOpen(name, fmOpenRead | fmShareDenyWrite), kInvalidHandle);
  const THandle plainReader = p.FileOpen(name, fmOpenRead | fmShareDenyNone);
  EXPECT_NE(plainReader, kInvalidHandle);
  p.FileClose(plainReader);
  // A handle that shares nothing waits for no gate, but still finds the open one and keeps later ones out.
  EXPECT_EQ(p.FileOpen(name, fmOpenReadWrite | fmShareExclusive), kInvalidHandle);
  EXPECT_EQ(p.FileCreate(name), kInvalidHandle);
  p.FileClose(sharedWriter);
  const THandle fresh = p.FileCreateNew(drive.PathOf("new.dat"));
  ASSERT_NE(fresh, kInvalidHandle);
  EXPECT_EQ(p.FileOpen(drive.PathOf("new.dat"), fmOpenRead | fmShareDenyNone), kInvalidHandle);
  EXPECT_EQ(p.FileOpen(drive.PathOf("new.dat"), fmOpenWrite | fmShareDenyNone), kInvalidHandle);
  p.FileClose(fresh);
  const THandle after = p.FileOpen(name, fmOpenRead | fmShareExclusive);
  EXPECT_NE(after, kInvalidHandle);
  p.FileClose(after);
}

TEST(PlatformFiles, DosTimeStamps) {
  TTempDrive drive;
  TPlatform& p = Platform();
  drive.WriteFile("t.txt", "x");
  // 2011-07-15 13:45:30 local time.
  const uint32_t stamp = (31u << 25) | (7u << 21) | (15u << 16) | (13u << 11) | (45u << 5) | 15u;
  THandle h = p.FileOpen(drive.PathOf("t.txt"), fmOpenReadWrite);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_TRUE(p.FileSetDosTime(h, stamp));
  EXPECT_EQ(p.FileGetDosTime(h), stamp);
  EXPECT_FALSE(p.FileSetDosTime(h, (31u << 25) | (13u << 21) | (1u << 16)));  // month 13
  p.FileClose(h);
  EXPECT_EQ(p.FileGetDosTime(h), 0u);
  auto list = p.ListFolder(drive.Folder());
  ASSERT_TRUE(list.has_value());
  ASSERT_EQ(list->size(), 1u);
  EXPECT_EQ((*list)[0].DosTime, stamp);
  // A copy keeps the time stamp.
  ASSERT_TRUE(p.CopyFile(drive.PathOf("t.txt"), drive.PathOf("u.txt"), true));
  h = p.FileOpen(drive.PathOf("u.txt"), fmOpenRead);
  EXPECT_EQ(p.FileGetDosTime(h), stamp);
  p.FileClose(h);
}

TEST(PlatformFiles, AttributesAndReadOnlyFiles) {
  TTempDrive drive;
  TPlatform& p = Platform();
  drive.WriteFile("ro.txt", "keep");
  const std::string name = drive.PathOf("ro.txt");
  EXPECT_EQ(p.GetFileAttributes(name) & (faDirectory | faReadOnly), 0u);
  EXPECT_NE(p.GetFileAttributes(drive.Folder()) & faDirectory, 0u);
  EXPECT_EQ(p.GetFileAttributes(drive.PathOf("none")), faInvalid);
  ASSERT_TRUE(p.SetFileAttributes(name, faReadOnly));
  EXPECT_NE(p.GetFileAttributes(name) & faReadOnly, 0u);
  // Like Windows: a read-only file is neither opened for writing, replaced nor deleted. (Wine run by the
  // superuser lets all but the deletion through, so they are checked on the POSIX layer only.)
#ifndef _WIN32
  EXPECT_EQ(p.FileOpen(name, fmOpenWrite), kInvalidHandle);
  EXPECT_EQ(p.FileCreate(name), kInvalidHandle);
  drive.WriteFile("other.txt", "new");
  EXPECT_FALSE(p.CopyFile(drive.PathOf("other.txt"), name, false));
  EXPECT_FALSE(p.MoveFileReplace(drive.PathOf("other.txt"), name));
#endif
  EXPECT_FALSE(p.DeleteFile(name));
  EXPECT_EQ(drive.ReadFile("ro.txt"), "keep");
  const THandle r = p.FileOpen(name, fmOpenRead);
  EXPECT_NE(r, kInvalidHandle);
  p.FileClose(r);
  ASSERT_TRUE(p.SetFileAttributes(name, faNormal));
  EXPECT_EQ(p.GetFileAttributes(name) & faReadOnly, 0u);
  EXPECT_TRUE(p.DeleteFile(name));
  EXPECT_FALSE(p.DeleteFile(name));
  EXPECT_FALSE(p.SetFileAttributes(name, faNormal));
}

TEST(PlatformFiles, FoldersCopyMoveAndListing) {
  TTempDrive drive;
  TPlatform& p = Platform();
  EXPECT_TRUE(p.CreateDirectory(drive.PathOf("sub")));
  EXPECT_FALSE(p.CreateDirectory(drive.PathOf("sub")));
  EXPECT_FALSE(p.CreateDirectory(drive.PathOf("x\\y")));  // parent missing
  drive.WriteFile("sub\\b.txt", "bb");
  drive.WriteFile("A.txt", "a");
  EXPECT_FALSE(p.RemoveDirectory(drive.PathOf("sub")));  // not empty
  EXPECT_FALSE(p.DeleteFile(drive.PathOf("sub")));
  // Copy: content, refusal of an existing target when asked, no copy of folders or missing files.
  EXPECT_TRUE(p.CopyFile(drive.PathOf("A.txt"), drive.PathOf("sub\\c.txt"), true));
  EXPECT_EQ(drive.ReadFile("sub\\c.txt"), "a");
  EXPECT_FALSE(p.CopyFile(drive.PathOf("sub\\b.txt"), drive.PathOf("sub\\c.txt"), true));
  EXPECT_EQ(drive.ReadFile("sub\\c.txt"), "a");
  EXPECT_TRUE(p.CopyFile(drive.PathOf("sub\\b.txt"), drive.PathOf("sub\\c.txt"), false));
  EXPECT_EQ(drive.ReadFile("sub\\c.txt"), "bb");
  EXPECT_FALSE(p.CopyFile(drive.PathOf("nothing"), drive.PathOf("n2"), false));
  EXPECT_FALSE(p.CopyFile(drive.PathOf("sub"), drive.PathOf("n3"), false));
  EXPECT_FALSE(p.CopyFile(drive.PathOf("A.txt"), drive.PathOf("A.txt"), false));
  EXPECT_EQ(drive.ReadFile("A.txt"), "a");
  // Move replaces the target.
  EXPECT_TRUE(p.MoveFileReplace(drive.PathOf("sub\\c.txt"), drive.PathOf("A.txt")));
  EXPECT_EQ(drive.ReadFile("A.txt"), "bb");
  EXPECT_FALSE(drive.Exists("sub\\c.txt"));
  EXPECT_FALSE(p.MoveFileReplace(drive.PathOf("A.txt"), drive.PathOf("sub")));  // onto a folder
  auto list = p.ListFolder(drive.Folder());
  ASSERT_TRUE(list.has_value());
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[0].Name, "A.txt");
  EXPECT_EQ((*list)[0].Size, 2);
  EXPECT_EQ((*list)[0].Attr & faDirectory, 0u);
  EXPECT_EQ((*list)[1].Name, "sub");
  EXPECT_NE((*list)[1].Attr & faDirectory, 0u);
  EXPECT_FALSE(p.ListFolder(drive.PathOf("nope")).has_value());
  EXPECT_TRUE(p.DeleteFile(drive.PathOf("sub\\b.txt")));
  EXPECT_TRUE(p.RemoveDirectory(drive.PathOf("sub")));
  EXPECT_TRUE(p.ListFolder(drive.Folder())->size() == 1);
}

TEST(PlatformFiles, NamesMatchWithoutRegardToCase) {
  TTempDrive drive;
  TPlatform& p = Platform();
  drive.WriteFile("Data\\Install.DAT", "settings");
  EXPECT_EQ(drive.ReadFile("data\\install.dat"), "settings");
  EXPECT_NE(p.GetFileAttributes(drive.PathOf("DATA\\INSTALL.dat")), faInvalid);
  // Writing through another spelling reaches the same file, no second one appears.
  drive.WriteFile("DATA\\install.dat", "new");
  EXPECT_EQ(p.ListFolder(drive.PathOf("data"))->size(), 1u);
  EXPECT_EQ(drive.ReadFile("Data\\Install.DAT"), "new");
  // Full-width and Greek letters fold as Windows folds them; kana of two widths stay apart.
  drive.WriteFile("Data\\ＲＥＡＤ・Ω.txt", "full-width");
  EXPECT_EQ(drive.ReadFile("data\\ｒｅａｄ・ω.TXT"), "full-width");
  drive.WriteFile("Data\\ｱ.txt", "half-width");
  drive.WriteFile("Data\\ア.txt", "full-width kana");
  EXPECT_EQ(drive.ReadFile("data\\ｱ.txt"), "half-width");
  EXPECT_EQ(p.ListFolder(drive.PathOf("data"))->size(), 4u);
  // Free space of the drive.
  int64_t freeBytes = -1, total = -1;
  ASSERT_TRUE(p.GetDiskFreeSpace("C:\\", freeBytes, total));
  EXPECT_GT(total, 0);
  EXPECT_GE(freeBytes, 0);
  EXPECT_LE(freeBytes, total);
  const std::string shortName = p.GetShortPathName(drive.PathOf("data"));
  EXPECT_NE(p.GetFileAttributes(shortName) & faDirectory, 0u) << shortName;
#ifndef _WIN32
  EXPECT_EQ(shortName, drive.PathOf("data"));
#endif
}

#ifndef _WIN32
TEST(PlatformFiles, DosTimesFollowDaylightSaving) {
  TTempDrive drive;
  TPlatform& p = Platform();
  const char* saved = std::getenv("TZ");
  const std::string before = saved ? saved : "";
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  drive.WriteFile("t.txt", "x");
  const std::string host = drive.Posix()->HostPath(drive.PathOf("t.txt"));
  // 2011-01-15 and 2011-07-15, 12:00 local time: 11:00 and 10:00 UTC.
  const struct {
    uint32_t Dos;
    time_t Utc;
  } cases[] = {{(31u << 25) | (1u << 21) | (15u << 16) | (12u << 11), 1295089200},
               {(31u << 25) | (7u << 21) | (15u << 16) | (12u << 11), 1310724000}};
  for (const auto& c : cases) {
    const THandle h = p.FileOpen(drive.PathOf("t.txt"), fmOpenReadWrite);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_TRUE(p.FileSetDosTime(h, c.Dos));
    EXPECT_EQ(p.FileGetDosTime(h), c.Dos);
    p.FileClose(h);
    struct stat st;
    ASSERT_EQ(stat(host.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, c.Utc);
  }
  if (saved)
    setenv("TZ", before.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

// Kept listings see what this process changes, also through another spelling of a folder's path.
TEST(PlatformFiles, KeptFolderListingsFollowOwnChanges) {
  TTempDrive drive;
  TPlatform& p = Platform();
  TFolderListingScope listings;
  ASSERT_TRUE(p.CreateDirectory(drive.PathOf("real")));
  const std::string host = drive.Posix()->HostPath(drive.PathOf("real"));
  ASSERT_EQ(symlink(host.c_str(), (host + "/../link").c_str()), 0);
  EXPECT_EQ(p.GetFileAttributes(drive.PathOf("real\\foo.txt")), faInvalid);  // "real" listed, empty
  drive.WriteFile("link\\Foo.txt", "through the link");
  EXPECT_EQ(drive.ReadFile("real\\foo.txt"), "through the link");
  drive.WriteFile("real\\Bar.txt", "bar");
  EXPECT_EQ(drive.ReadFile("real\\BAR.TXT"), "bar");
  ASSERT_TRUE(p.MoveFileReplace(drive.PathOf("real\\Bar.txt"), drive.PathOf("real\\Baz.txt")));
  EXPECT_EQ(drive.ReadFile("real\\baz.txt"), "bar");
  EXPECT_EQ(p.GetFileAttributes(drive.PathOf("real\\bar.txt")), faInvalid);
  // A listing vouches only for free names: a read-only file or a folder in the way, in any spelling, is
  // still refused by a move.
  drive.WriteFile("real\\Locked.txt", "keep");
  ASSERT_TRUE(p.SetFileAttributes(drive.PathOf("real\\Locked.txt"), faReadOnly));
  ASSERT_TRUE(p.CreateDirectory(drive.PathOf("real\\Dir")));
  drive.WriteFile("real\\new.txt", "new");
  EXPECT_FALSE(p.MoveFileReplace(drive.PathOf("real\\new.txt"), drive.PathOf("real\\LOCKED.TXT")));
  EXPECT_FALSE(p.MoveFileReplace(drive.PathOf("real\\new.txt"), drive.PathOf("real\\dir")));
  EXPECT_EQ(drive.ReadFile("real\\locked.txt"), "keep");
  EXPECT_TRUE(p.MoveFileReplace(drive.PathOf("real\\new.txt"), drive.PathOf("real\\free.txt")));
  EXPECT_EQ(drive.ReadFile("real\\Free.txt"), "new");

  // A folder moved away and another moved in its place: listings of the old one and below are dropped.
  ASSERT_TRUE(p.CreateDirectory(drive.PathOf("old")));
  ASSERT_TRUE(p.CreateDirectory(drive.PathOf("old\\sub")));
  EXPECT_EQ(p.GetFileAttributes(drive.PathOf("old\\sub\\x.txt")), faInvalid);  // "old/sub" listed, empty
  drive.WriteFile("other\\sub\\X.txt", "moved in");
  ASSERT_TRUE(p.MoveFileReplace(drive.PathOf("old"), drive.PathOf("gone")));
  ASSERT_TRUE(p.MoveFileReplace(drive.PathOf("other"), drive.PathOf("old")));
  EXPECT_EQ(drive.ReadFile("old\\sub\\x.txt"), "moved in");
  ASSERT_TRUE(p.DeleteFile(drive.PathOf("old\\sub\\x.txt")));
  ASSERT_TRUE(p.RemoveDirectory(drive.PathOf("old\\sub")));
  ASSERT_EQ(mkdir((drive.Posix()->HostPath(drive.PathOf("old")) + "/sub").c_str(), 0777), 0);
  ASSERT_EQ(symlink("/nonexistent", (drive.Posix()->HostPath(drive.PathOf("old")) + "/sub/Y.txt").c_str()),
            0);
  EXPECT_EQ(p.GetFileAttributes(drive.PathOf("old\\sub\\y.txt")), faArchive | faReparsePoint);
}

// Links as the Windows calls see them: reparse points that are removed themselves, whose target is
// never changed or entered.
TEST(PlatformFiles, PrivateFoldersAreAlwaysNewAndNeverFollowALink) {
  TTempDrive drive;
  TPlatform& p = Platform();
  EXPECT_TRUE(p.CreatePrivateDirectory(drive.PathOf("own")));
  struct stat st;
  ASSERT_EQ(stat(drive.Posix()->HostPath(drive.PathOf("own")).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(p.CreatePrivateDirectory(drive.PathOf("own"))) << "an existing folder is not taken";
  drive.WriteFile("file", "f");
  EXPECT_FALSE(p.CreatePrivateDirectory(drive.PathOf("file")));
  const std::string host = drive.Posix()->HostPath(drive.PathOf("own"));
  ASSERT_EQ(symlink(host.c_str(), (host + "/../link").c_str()), 0);
  ASSERT_EQ(symlink((host + "/gone").c_str(), (host + "/../dangling").c_str()), 0);
  EXPECT_FALSE(p.CreatePrivateDirectory(drive.PathOf("link")));
  EXPECT_FALSE(p.CreatePrivateDirectory(drive.PathOf("dangling")));
  EXPECT_EQ(p.GetFileAttributes(drive.PathOf("own\\gone")), faInvalid) << "nothing made through the link";

  // Names nobody can guess: two draws of 16 bytes differ.
  unsigned char a[16] = {}, b[16] = {};
  ASSERT_TRUE(p.RandomBytes(a, sizeof a));
  ASSERT_TRUE(p.RandomBytes(b, sizeof b));
  EXPECT_NE(std::string(a, a + 16), std::string(b, b + 16));
}

TEST(PlatformFiles, SymbolicLinksAreReparsePoints) {
  TTempDrive drive;
  TPlatform& p = Platform();
  drive.WriteFile("target\\f.txt", "t");
  p.SetFileAttributes(drive.PathOf("target\\f.txt"), faReadOnly);
  const std::string host = drive.Posix()->HostPath(drive.PathOf("target"));
  ASSERT_EQ(symlink(host.c_str(), (host + "/../dirlink").c_str()), 0);
  ASSERT_EQ(symlink((host + "/f.txt").c_str(), (host + "/../filelink").c_str()), 0);
  ASSERT_EQ(symlink((host + "/gone").c_str(), (host + "/../dangling").c_str()), 0);

  EXPECT_EQ(p.GetFileAttributes(drive.PathOf("dirlink")), faDirectory | faReparsePoint);
  EXPECT_EQ(p.GetFileAttributes(drive.PathOf("filelink")), faArchive | faReparsePoint);
  EXPECT_EQ(p.GetFileAttributes(drive.PathOf("dangling")), faArchive | faReparsePoint);
  EXPECT_EQ(p.ListFolder(drive.Folder())->size(), 4u) << "a dangling link is listed too";

  EXPECT_TRUE(p.SetFileAttributes(drive.PathOf("filelink"), faNormal));
  EXPECT_NE(p.GetFileAttributes(drive.PathOf("target\\f.txt")) & faReadOnly, 0u) << "the target keeps its";
  EXPECT_FALSE(p.RemoveDirectory(drive.PathOf("filelink")));
  EXPECT_TRUE(p.RemoveDirectory(drive.PathOf("dirlink\\")));
  EXPECT_TRUE(p.DeleteFile(drive.PathOf("filelink")));
  EXPECT_TRUE(p.DeleteFile(drive.PathOf("dangling")));
  EXPECT_EQ(drive.ReadFile("target\\f.txt"), "t");
  EXPECT_EQ(p.ListFolder(drive.Folder())->size(), 1u);
}
#endif

}  // namespace
}  // namespace vr
