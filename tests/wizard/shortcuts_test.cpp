// Shortcuts in the Programs menu and shell file operations, on the POSIX layer: the .lnk files are read
// back field by field, and the folder deletion is checked against hostile titles and links.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/codepage.h"
#include "startup/syshelpers.h"
#include "support/tempdrive.h"
#include "wizard/newctrls.h"
#include "wizard/shortcuts.h"

namespace vr {
namespace {

const char kCommonPrograms[] = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\";
const char kUserPrograms[] = "C:\\users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\";

// The fields of a .lnk file as a reader sees them.
struct TLinkFields {
  uint32_t Flags = 0;
  int32_t IconIndex = 0;
  uint32_t ShowCommand = 0;
  uint16_t HotKey = 0;
  std::string Target, Description, WorkDir, Arguments, IconLocation;
};

uint32_t Get(const std::string& d, size_t at, int bytes) {
  if (at + bytes > d.size()) throw std::runtime_error("link file too short");
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(d[at + i]);
  return v;
}

TLinkFields ReadLink(const std::string& d) {
  TLinkFields f;
  EXPECT_EQ(Get(d, 0, 4), 0x4Cu);
  EXPECT_EQ(d.substr(4, 16), std::string("\x01\x14\x02\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 16));
  f.Flags = Get(d, 20, 4);
  f.IconIndex = static_cast<int32_t>(Get(d, 56, 4));
  f.ShowCommand = Get(d, 60, 4);
  f.HotKey = static_cast<uint16_t>(Get(d, 64, 2));
  size_t pos = 76;
  if (f.Flags & 1) pos += 2 + Get(d, pos, 2);
  if (f.Flags & 2) {
    const size_t localBase = Get(d, pos + 16, 4);
    f.Target = d.substr(pos + localBase, d.find('\0', pos + localBase) - (pos + localBase));
    pos += Get(d, pos, 4);
  }
  auto next = [&](uint32_t flag, std::string& out) {
    if (!(f.Flags & flag)) return;
    const size_t n = Get(d, pos, 2);
    std::u16string wide;
    for (size_t i = 0; i < n; ++i) wide += static_cast<char16_t>(Get(d, pos + 2 + 2 * i, 2));
    out = Utf16ToCp932(wide);
    pos += 2 + 2 * n;
  };
  next(0x04, f.Description);
  std::string relative;
  next(0x08, relative);
  if (f.Target.empty()) f.Target = relative;
  next(0x10, f.WorkDir);
  next(0x20, f.Arguments);
  next(0x40, f.IconLocation);
  EXPECT_EQ(Get(d, pos, 4), 0u) << "terminal block";
  return f;
}

// Writes a file at a full path, creating its folders.
void WriteAt(const std::string& path, const std::string& bytes) {
  TTempDrive::MakeFolders(ExtractFileDir(path));
  const THandle h = Platform().FileCreate(path);
  ASSERT_NE(h, kInvalidHandle) << path;
  Platform().FileWrite(h, bytes.data(), static_cast<int32_t>(bytes.size()));
  Platform().FileClose(h);
}

TRovaInstallSet* NewSettings(const std::string& title, const std::string& readme) {
  auto* s = new TRovaInstallSet;
  s->Title = title;
  s->GameExe = "game.exe";
  s->ReadmeFile = readme;
  return s;
}

class T9xPlatform : public TPosixPlatform {
 public:
  using TPosixPlatform::TPosixPlatform;
  bool IsNTFamily() override { return false; }
};

TEST(Shortcuts, CreateWritesTheThreeLinksInTheAllUsersMenuAndOpensIt) {
  TTempDrive drive;
  std::unique_ptr<TRovaInstallSet> s(NewSettings("テストゲーム", "readme.txt"));
  const std::string dest = "D:\\Games\\テスト\\";
  CreateShortcuts(*s, dest);

  const std::string folder = std::string(kCommonPrograms) + "テストゲーム\\";
  TLinkFields game = ReadLink(drive.ReadFile(folder + "テストゲーム.lnk"));
  EXPECT_EQ(game.Target, dest + "game.exe");
  EXPECT_EQ(game.Description, "テストゲーム");
  EXPECT_EQ(game.WorkDir, dest);
  EXPECT_EQ(game.Arguments, "");
  EXPECT_EQ(game.IconLocation, dest + "game.exe");
  EXPECT_EQ(game.IconIndex, 0);
  EXPECT_EQ(game.ShowCommand, 1u);
  EXPECT_EQ(game.HotKey, 0);

  TLinkFields uninstall = ReadLink(drive.ReadFile(folder + "テストゲームのアンインストール.lnk"));
  EXPECT_EQ(uninstall.Target, dest + "install.exe");
  EXPECT_EQ(uninstall.Description, "テストゲームのアンインストール");
  EXPECT_EQ(uninstall.IconIndex, 1);

  TLinkFields readme = ReadLink(drive.ReadFile(folder + "お読みください.lnk"));
  EXPECT_EQ(readme.Target, dest + "readme.txt");
  EXPECT_EQ(readme.Description, "お読みください");

  const auto calls = drive.Posix()->ShellCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Operation, "open");
  EXPECT_EQ(calls[0].File, folder);
  EXPECT_EQ(calls[0].Directory, folder);
  EXPECT_EQ(calls[0].ShowCommand, 5);

  // With no read-me the folder holds two shortcuts.
  DeleteShortcuts(*s);
  EXPECT_FALSE(DirectoryExists(folder));
  s->ReadmeFile.clear();
  CreateShortcuts(*s, dest);
  EXPECT_EQ(Platform().ListFolder(folder)->size(), 2u);
}

TEST(Shortcuts, LinkReadByLnkinfoWhenInstalled) {
  if (system("command -v lnkinfo > /dev/null 2>&1") != 0) GTEST_SKIP() << "lnkinfo is not installed";
  TTempDrive drive;
  TShellLink link(nullptr);
  link.LinkType = lnkCommonPrograms;
  link.SubDir = "Maker";
  link.Name = "game";
  link.SetFileName("C:\\Games\\Game\\game.exe");
  link.Arguments = "-window";
  link.IconIndex = 3;
  link.CreateLink();
  const std::string host = drive.Posix()->HostPath(std::string(kCommonPrograms) + "Maker\\game.lnk");
  FILE* pipe = popen(("lnkinfo '" + host + "' 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
  EXPECT_EQ(pclose(pipe), 0) << out;
  out.erase(std::remove(out.begin(), out.end(), '\t'), out.end());
  for (const char* line : {"Local path: C:\\Games\\Game\\game.exe\n", "Working directory: C:\\Games\\Game\n",
                           "Command line arguments: -window\n", "Description: game\n",
                           "Icon location: C:\\Games\\Game\\game.exe\n", "Icon index: 3\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
}

TEST(Shortcuts, LinkFieldsFromTheComponent) {
  TTempDrive drive;
  TShellLink link(nullptr);
  // The setter fills an empty description and working folder; a drive root keeps its backslash.
  link.SetFileName("C:\\setup.exe");
  EXPECT_EQ(link.Description, "setup");
  EXPECT_EQ(link.WorkDir, "C:\\");
  link.Description = "kept";
  link.WorkDir = "";
  link.SetFileName("C:\\Games\\a.b.exe");
  EXPECT_EQ(link.Description, "kept");
  EXPECT_EQ(link.WorkDir, "C:\\Games");

  link.LinkType = lnkDesktop;
  link.Name = "x";
  link.HotKey = 'K' | hkCtrl | hkAlt;
  link.WindowState = wsMinimized;
  link.CreateLink();
  TLinkFields f = ReadLink(drive.ReadFile("C:\\users\\user\\Desktop\\x.lnk"));
  EXPECT_EQ(f.HotKey, 'K' + 0x600);
  EXPECT_EQ(f.ShowCommand, 6u);
  link.WindowState = wsMaximized;
  link.HotKey = 'K' | hkShift;
  link.CreateLink();
  f = ReadLink(drive.ReadFile("C:\\users\\user\\Desktop\\x.lnk"));
  EXPECT_EQ(f.HotKey, 'K' + 0x100);
  EXPECT_EQ(f.ShowCommand, 3u);

  // An unknown special folder is refused before anything is written.
  link.LinkType = lnkReserved5;
  EXPECT_THROW(link.CreateLink(), EShellLinkError);
  EXPECT_THROW(link.OpenFolder(), EShellLinkError);
  link.SubDir = "x";
  EXPECT_THROW(link.DeleteFolder(), EShellLinkError);
}

TEST(Shortcuts, ExistingLinkIsReplaced) {
  TTempDrive drive;
  std::unique_ptr<TRovaInstallSet> s(NewSettings("Game", ""));
  const std::string path = std::string(kCommonPrograms) + "Game\\Game.lnk";
  WriteAt(path, std::string(4096, 'x'));
  CreateShortcuts(*s, "C:\\Game\\");
  const std::string data = drive.ReadFile(path);
  EXPECT_LT(data.size(), 4096u);
  EXPECT_EQ(ReadLink(data).Target, "C:\\Game\\game.exe");
}

TEST(Shortcuts, NineXFamilyUsesTheUserMenuForBothSteps) {
  TTempDrive drive;
  T9xPlatform nine(drive.PosixConfig());
  SetPlatform(&nine);
  std::unique_ptr<TRovaInstallSet> s(NewSettings("Game", ""));
  CreateShortcuts(*s, "C:\\Game\\");
  EXPECT_TRUE(FileExists(std::string(kUserPrograms) + "Game\\Game.lnk"));
  EXPECT_FALSE(DirectoryExists(std::string(kCommonPrograms) + "Game"));
  DeleteShortcuts(*s);
  EXPECT_FALSE(DirectoryExists(std::string(kUserPrograms) + "Game"));
  EXPECT_TRUE(DirectoryExists(kUserPrograms));
  SetPlatform(drive.Posix());
}

TEST(Shortcuts, FolderDeletion) {
  TTempDrive drive;
  const std::string programs = kCommonPrograms;
  WriteAt(programs + "Other\\keep.lnk", "k");

  // An empty SubDir never touches the special folder.
  DeleteShortcutFolder(lnkCommonPrograms, "");
  EXPECT_TRUE(FileExists(programs + "Other\\keep.lnk"));

  // A two-level title: only the inner folder goes, with everything in it.
  std::unique_ptr<TRovaInstallSet> s(NewSettings("Maker\\Game", ""));
  CreateShortcuts(*s, "C:\\Game\\");
  WriteAt(programs + "Maker\\Game\\sub\\more.txt", "m");
  WriteAt(programs + "Maker\\sibling.lnk", "s");
  EXPECT_TRUE(DirectoryExists(programs + "Maker\\Game"));
  DeleteShortcuts(*s);
  EXPECT_FALSE(DirectoryExists(programs + "Maker\\Game"));
  EXPECT_TRUE(FileExists(programs + "Maker\\sibling.lnk"));
  EXPECT_TRUE(FileExists(programs + "Other\\keep.lnk"));
}

TEST(Shortcuts, HostileTitlesAreRefusedAndDeleteNothing) {
  TTempDrive drive;
  const std::string programs = kCommonPrograms;
  WriteAt(programs + "Other\\keep.lnk", "k");
  WriteAt("C:\\ProgramData\\keep.txt", "k");
  WriteAt("C:\\x\\keep.txt", "k");
  for (const char* title :
       {"..", "..\\", "..\\..", "a\\..\\..", "a\\\\b", "\\a", "a\\", "\\", "C:\\x", "C:x", ". .", "..."}) {
    SCOPED_TRACE(title);
    std::unique_ptr<TRovaInstallSet> s(NewSettings(title, ""));
    EXPECT_THROW(DeleteShortcuts(*s), EShellLinkError);
    EXPECT_THROW(CreateShortcuts(*s, "C:\\Game\\"), EShellLinkError);
  }
  EXPECT_TRUE(FileExists(programs + "Other\\keep.lnk"));
  EXPECT_TRUE(FileExists("C:\\ProgramData\\keep.txt"));
  EXPECT_TRUE(FileExists("C:\\x\\keep.txt"));
  EXPECT_EQ(Platform().ListFolder(programs)->size(), 1u);
}

TEST(Shortcuts, DeleteFolderRemovesLinksWithoutFollowingThem) {
  TTempDrive drive;
  const std::string programs = kCommonPrograms;
  WriteAt("C:\\outside\\data.txt", "keep");
  WriteAt(programs + "Game\\Game.lnk", "l");
  TPosixPlatform& p = *drive.Posix();
  const std::string outside = p.HostPath("C:\\outside");
  ASSERT_EQ(symlink(outside.c_str(), (p.HostPath(programs + "Game") + "/dirlink").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/data.txt").c_str(), (p.HostPath(programs + "Game") + "/filelink").c_str()),
            0);
  DeleteShortcutFolder(lnkCommonPrograms, "Game");
  EXPECT_FALSE(DirectoryExists(programs + "Game"));
  EXPECT_EQ(drive.ReadFile("C:\\outside\\data.txt"), "keep");

  // The shortcut folder itself a link: the link goes, the folder it points to stays whole.
  ASSERT_EQ(symlink(outside.c_str(), (p.HostPath(programs) + "/Game").c_str()), 0);
  DeleteShortcutFolder(lnkCommonPrograms, "Game");
  EXPECT_FALSE(std::filesystem::is_symlink(p.HostPath(programs) + "/Game"));
  EXPECT_EQ(drive.ReadFile("C:\\outside\\data.txt"), "keep");
}

// A platform that records the file operation it is asked for.
class TRecordingPlatform : public TPosixPlatform {
 public:
  using TPosixPlatform::TPosixPlatform;
  TShellFileOp Last;
  TShellFileOpResult ShellFileOperation(const TShellFileOp& op) override {
    Last = op;
    TShellFileOpResult r;
    r.Aborted = op.Operation == foDelete;
    return r;
  }
};

TEST(FileOperation, OptionsBecomeShellFlagsAndTheTitleGoesOnlyWithSimpleProgress) {
  EXPECT_EQ(ShellFileOpFlags(TFileOpFlags{fofAllowUndo, fofFilesOnly}), 0xC0);
  EXPECT_EQ(ShellFileOpFlags(TFileOpFlags{fofWantMappingHandle}), 0);
  EXPECT_EQ(ShellFileOpFlags(TFileOpFlags{fofMultiDestFiles, fofConfirmMouse, fofSilent, fofRenameOnCollision,
                                          fofNoConfirmation, fofWantMappingHandle, fofAllowUndo, fofFilesOnly,
                                          fofSimpleProgress, fofNoConfirmMkdir, fofNoErrorUI}),
            0x7DF);

  TTempDrive drive;
  TRecordingPlatform rec(drive.PosixConfig());
  SetPlatform(&rec);
  TFileOperation op(nullptr);
  EXPECT_TRUE(op.Options == (TFileOpFlags{fofAllowUndo, fofFilesOnly}));
  op.Title = "コピー中";
  const std::string from("a\0b\0\0", 5);
  EXPECT_TRUE(op.Execute(foDelete, from, std::string("\0\0", 2)));
  EXPECT_EQ(rec.Last.From, from);
  EXPECT_FALSE(rec.Last.ProgressTitle.has_value());
  op.Options.Include(fofSimpleProgress);
  EXPECT_FALSE(op.Execute(foCopy, from, std::string("c\0\0", 3)));
  EXPECT_EQ(rec.Last.Operation, foCopy);
  EXPECT_EQ(rec.Last.Flags, 0x1C0);
  EXPECT_EQ(rec.Last.ProgressTitle.value_or(""), "コピー中");
  SetPlatform(drive.Posix());
}

TEST(FileOperation, PosixLayerCopiesMovesRenamesAndDeletes) {
  TTempDrive drive;
  drive.WriteFile("src\\a.txt", "A");
  drive.WriteFile("src\\b.dat", "B");
  drive.WriteFile("src\\sub\\c.txt", "C");
  drive.WriteFile("outside\\keep.txt", "K");
  const std::string w = drive.Folder();
  auto list = [](std::initializer_list<std::string> names) {
    std::string s;
    for (const std::string& n : names) s += n + '\0';
    return s + '\0';
  };
  TFileOperation op(nullptr);
  op.Options = TFileOpFlags{fofSilent, fofNoConfirmation, fofFilesOnly};

  // Wildcards with files only: the subfolder stays behind.
  EXPECT_FALSE(op.Execute(foCopy, list({w + "src\\*.*"}), list({w + "dst"})));
  EXPECT_EQ(drive.ReadFile("dst\\a.txt"), "A");
  EXPECT_EQ(drive.ReadFile("dst\\b.dat"), "B");
  EXPECT_FALSE(drive.Exists("dst\\sub"));
  // A whole folder, then pairs of names.
  op.Options = TFileOpFlags{fofSilent, fofNoConfirmation};
  op.Execute(foCopy, list({w + "src\\sub"}), list({w + "dst"}));
  EXPECT_EQ(drive.ReadFile("dst\\sub\\c.txt"), "C");
  op.Options.Include(fofMultiDestFiles);
  op.Execute(foMove, list({w + "dst\\a.txt", w + "dst\\b.dat"}), list({w + "m\\1.txt", w + "m\\2.dat"}));
  EXPECT_EQ(drive.ReadFile("m\\1.txt"), "A");
  EXPECT_EQ(drive.ReadFile("m\\2.dat"), "B");
  EXPECT_FALSE(drive.Exists("dst\\a.txt"));
  op.Execute(foRename, list({w + "m\\1.txt"}), list({"one.txt"}));
  EXPECT_EQ(drive.ReadFile("m\\one.txt"), "A");

  // Deleting a folder removes a link inside it, not what the link points to.
  TPosixPlatform& p = *drive.Posix();
  ASSERT_EQ(symlink(p.HostPath(w + "outside").c_str(), (p.HostPath(w + "dst") + "/link").c_str()), 0);
  op.Execute(foDelete, list({w + "dst"}), "");
  EXPECT_FALSE(drive.Exists("dst"));
  EXPECT_EQ(drive.ReadFile("outside\\keep.txt"), "K");
  TShellFileOp missing;
  missing.Operation = foDelete;
  missing.From = list({w + "nothing"});
  EXPECT_NE(Platform().ShellFileOperation(missing).Result, 0);
}

}  // namespace
}  // namespace vr

#endif
