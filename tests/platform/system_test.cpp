// Named mutexes, special folders, INI files, the Japanese-locale text functions and ShellExecute.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

std::string UniqueName(const char* prefix) {
  return std::string(prefix) + std::to_string(Platform().GetTickCount()) + "-" +
         std::to_string(reinterpret_cast<uintptr_t>(&UniqueName) % 997);
}

TEST(PlatformMutex, NamesExistWhileAHandleIsOpen) {
  TTempDrive drive;
  TPlatform& p = Platform();
  const std::string name = UniqueName("VRTEST-C:-ゲーム表-");
  EXPECT_EQ(p.OpenMutex(name), kInvalidHandle);
  bool exists = true;
  const THandle first = p.CreateMutex(name, exists);
  ASSERT_NE(first, kInvalidHandle);
  EXPECT_FALSE(exists);
  const THandle second = p.CreateMutex(name, exists);
  ASSERT_NE(second, kInvalidHandle);
  EXPECT_TRUE(exists);
  const THandle opened = p.OpenMutex(name);
  EXPECT_NE(opened, kInvalidHandle);
  p.CloseMutex(opened);
  p.ReleaseMutex(second);
  p.CloseMutex(second);
  const THandle still = p.OpenMutex(name);
  EXPECT_NE(still, kInvalidHandle) << "the first handle still holds the name";
  p.CloseMutex(still);
  p.ReleaseMutex(first);
  p.CloseMutex(first);
  EXPECT_EQ(p.OpenMutex(name), kInvalidHandle);
  // Names are case-sensitive, like kernel object names.
  const THandle lower = p.CreateMutex("vrtest-case-a", exists);
  EXPECT_EQ(p.OpenMutex("VRTEST-CASE-A"), kInvalidHandle);
  p.CloseMutex(lower);
}

#ifdef _WIN32
// A second process (this program in its helper mode) holds the name until told to end.
TEST(PlatformMutex, HeldByAnotherProcess) {
  TTempDrive drive;
  TPlatform& p = Platform();
  const std::string name = UniqueName("VRTEST-proc-");
  const std::string args =
      "--vr-hold-mutex=" + name + " \"--vr-signal=" + ExcludeTrailingBackslash(drive.Folder()) + "\"";
  ASSERT_GT(p.ShellExecute("open", p.ModuleFileName(), args, "", 0), 32);
  for (int i = 0; i < 500 && !drive.Exists("ready"); ++i) p.Sleep(20);
  ASSERT_EQ(drive.ReadFile("ready"), "1");
  bool exists = false;
  const THandle mine = p.CreateMutex(name, exists);
  EXPECT_TRUE(exists);
  p.CloseMutex(mine);
  drive.WriteFile("quit", "");
  THandle seen = kInvalidHandle;
  for (int i = 0; i < 500; ++i) {
    seen = p.OpenMutex(name);
    if (seen == kInvalidHandle) break;
    p.CloseMutex(seen);
    p.Sleep(20);
  }
  EXPECT_EQ(seen, kInvalidHandle) << "the name outlived its holder";
  p.Sleep(100);  // let the helper end before the folder goes
}
#else
// A child process holds the name until the parent lets it go (or it dies).
TEST(PlatformMutex, HeldAcrossProcessesAndFreedWhenTheHolderDies) {
  TTempDrive drive;
  TPlatform& p = Platform();
  const std::string name = UniqueName("VRTEST-proc-");
  for (const bool crash : {false, true}) {
    int ready[2], quit[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(quit), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TPosixPlatform own(drive.PosixConfig());
      bool exists = false;
      const THandle h = own.CreateMutex(name, exists);
      const char status = (h != kInvalidHandle && !exists) ? 'y' : 'n';
      (void)!write(ready[1], &status, 1);
      char c;
      (void)!read(quit[0], &c, 1);
      if (crash) _exit(3);  // the kernel drops the lock of a dead process
      own.CloseMutex(h);
      _exit(0);
    }
    char status = 0;
    ASSERT_EQ(read(ready[0], &status, 1), 1);
    EXPECT_EQ(status, 'y');
    bool exists = false;
    const THandle mine = p.CreateMutex(name, exists);
    EXPECT_TRUE(exists) << "held by the child";
    p.CloseMutex(mine);
    const THandle seen = p.OpenMutex(name);
    EXPECT_NE(seen, kInvalidHandle);
    p.CloseMutex(seen);
    (void)!write(quit[1], "q", 1);
    int wstatus = 0;
    waitpid(child, &wstatus, 0);
    for (int fd : {ready[0], ready[1], quit[0], quit[1]}) close(fd);
    EXPECT_EQ(p.OpenMutex(name), kInvalidHandle)
        << (crash ? "after the holder died" : "after the holder closed");
  }
}
#endif

TEST(PlatformFolders, SpecialAndSystemFolders) {
  TTempDrive drive;
  TPlatform& p = Platform();
  for (int csidl : {0, 2, 5, 23, 26, 28, 35, 36, 37, 38}) {
    const auto folder = p.GetSpecialFolder(csidl);
    ASSERT_TRUE(folder.has_value()) << csidl;
    EXPECT_EQ(ExtractFileDrive(*folder).size(), 2u) << *folder;
    EXPECT_NE(p.GetFileAttributes(*folder) & faDirectory, 0u) << *folder;
  }
  EXPECT_FALSE(p.GetSpecialFolder(0x7E).has_value());
  EXPECT_FALSE(p.GetSpecialFolder(-1).has_value());
  const std::string temp = p.GetTempPath();
  EXPECT_TRUE(IsPathDelimiterAt(temp, temp.size() - 1));
  EXPECT_NE(p.GetFileAttributes(temp) & faDirectory, 0u);
  const std::string windows = p.GetWindowsDirectory(), system = p.GetSystemDirectory();
  EXPECT_FALSE(IsPathDelimiterAt(windows, windows.size() - 1));
  EXPECT_EQ(p.CompareTextJ(ExtractFileDir(system), windows), 0);
  EXPECT_EQ(p.CompareTextJ(*p.GetSpecialFolder(36), windows), 0);
  EXPECT_EQ(p.CompareTextJ(*p.GetSpecialFolder(37), system), 0);
#ifndef _WIN32
  EXPECT_EQ(*p.GetSpecialFolder(38), "C:\\Program Files");
  EXPECT_EQ(*p.GetSpecialFolder(23), "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
  EXPECT_EQ(temp, "C:\\windows\\temp\\");
  EXPECT_EQ(windows, "C:\\windows");
  EXPECT_EQ(system, "C:\\windows\\system32");
#endif
  EXPECT_TRUE(p.IsNTFamily());
  const uint32_t t0 = p.GetTickCount();
  p.Sleep(60);
  EXPECT_GE(p.GetTickCount() - t0, 30u);  // Wine's tick count moves in coarse steps
  const std::string exe = p.ModuleFileName();
  EXPECT_NE(p.GetFileAttributes(exe), faInvalid) << exe;
  EXPECT_EQ(p.GetFileAttributes(exe) & faDirectory, 0u);
}

TEST(PlatformIni, WritesSectionsAndKeys) {
  TTempDrive drive;
  TPlatform& p = Platform();
  const std::string ini = drive.PathOf("wininit.ini");
  ASSERT_TRUE(p.WritePrivateProfileString("rename", "NUL", "C:\\TEMP\\A.EXE", ini));
  EXPECT_EQ(drive.ReadFile("wininit.ini"), "[rename]\r\nNUL=C:\\TEMP\\A.EXE\r\n");
  ASSERT_TRUE(p.WritePrivateProfileString("Other", "k", "v", ini));
  ASSERT_TRUE(p.WritePrivateProfileString("RENAME", "second", "表", ini));
  ASSERT_TRUE(p.WritePrivateProfileString("rename", "nul", "C:\\B.EXE", ini));
  EXPECT_EQ(drive.ReadFile("wininit.ini"), "[rename]\r\nNUL=C:\\B.EXE\r\nsecond=表\r\n[Other]\r\nk=v\r\n");
  EXPECT_FALSE(p.WritePrivateProfileString("s", "k", "v", drive.PathOf("missing\\x.ini")));
}

TEST(PlatformLocale, JapaneseCaseRules) {
  TTempDrive drive;
  TPlatform& p = Platform();
  EXPECT_EQ(p.CompareTextJ("Install.DAT", "install.dat"), 0);
  EXPECT_EQ(p.CompareTextJ("ＡＢＣ", "ａｂｃ"), 0);  // full-width Latin
  EXPECT_EQ(p.CompareTextJ("ΑΩ", "αω"), 0);          // Greek
  EXPECT_EQ(p.CompareTextJ("ЁЯ", "ёя"), 0);          // Cyrillic
  EXPECT_EQ(p.CompareTextJ("表示", "表示"), 0);
  EXPECT_LT(p.CompareTextJ("apple", "Banana"), 0);
  EXPECT_GT(p.CompareTextJ("b", "A"), 0);
  EXPECT_LT(p.CompareTextJ("abc", "abcd"), 0);
  EXPECT_NE(p.CompareTextJ("ア", "あ"), 0);
  EXPECT_NE(p.CompareTextJ("A", "Ａ"), 0);  // width is not ignored
  EXPECT_EQ(p.LowerCaseJ("SETUP.EXE ＡΩЁ表ソｱ"), "setup.exe ａωё表ソｱ");
  EXPECT_EQ(p.UpperCaseJ("setup.exe ａωё表ソｱ"), "SETUP.EXE ＡΩЁ表ソｱ");
  // Roman numerals have case too; the NEC-selected duplicate of "ⅰ" (0xEE 0xEF) folds with it.
  EXPECT_EQ(p.LowerCaseJ("Ⅰx"), "ⅰx");
  EXPECT_EQ(p.UpperCaseJ("ⅰ"), "Ⅰ");
  EXPECT_EQ(p.UpperCaseJ("\xEE\xEF"), "Ⅰ");
  EXPECT_EQ(p.CompareTextJ("Ⅹ", "ⅹ"), 0);
  // Bytes that are no valid character stay as they are.
  EXPECT_EQ(p.LowerCaseJ("A\x81"), "a\x81");
  // Second bytes that look like ASCII letters are never changed ("ャ" is 0x83 0x83, "ア" 0x83 0x41).
  EXPECT_EQ(p.LowerCaseJ("ア"), "ア");
  EXPECT_EQ(p.LowerCaseJ("\x83\x61"), "\x83\x61");
  EXPECT_EQ(p.UpperCaseJ("\x82\x60\x82\x81"), "\x82\x60\x82\x60");  // "Ａａ"
}

TEST(PlatformShell, MissingTargetsFail) {
  TTempDrive drive;
#ifndef _WIN32
  drive.Posix()->SetRecordShell(false);
#endif
  TPlatform& p = Platform();
  EXPECT_EQ(p.ShellExecute("open", drive.PathOf("nothing.exe"), "", "", 1), 2);
  EXPECT_LE(p.ShellExecute("open", drive.PathOf("no\\such\\dir\\x.exe"), "", "", 1), 3);
  // A name without its full path is never looked up, not in the current folder nor on the search path.
  EXPECT_EQ(p.ShellExecute("open", "here.exe", "", "", 1), 2);
  EXPECT_EQ(p.ShellExecute("open", "C:here.exe", "", "", 1), 2);
#ifdef _WIN32
  EXPECT_EQ(p.RunProcessAndWait("cmd.exe", "/c exit 3", nullptr), kProcessNotStarted);
#else
  EXPECT_EQ(p.RunProcessAndWait("sh", "-c \"exit 3\"", nullptr), kProcessNotStarted);
#endif
  EXPECT_EQ(p.RunProcessAndWait("here.exe", "", nullptr), kProcessNotStarted);
}

#ifndef _WIN32
TEST(PlatformShell, RecordsOrStartsPrograms) {
  TTempDrive drive;
  TPosixPlatform& p = *drive.Posix();
  EXPECT_EQ(p.ShellExecute("open", "C:\\game\\game.exe", "\"D:\\\"", "C:\\game", 1), 42);
  ASSERT_EQ(p.ShellCalls().size(), 1u);
  EXPECT_EQ(p.ShellCalls()[0].File, "C:\\game\\game.exe");
  EXPECT_EQ(p.ShellCalls()[0].Parameters, "\"D:\\\"");
  EXPECT_EQ(p.ShellCalls()[0].Directory, "C:\\game");
  EXPECT_EQ(p.ShellCalls()[0].ShowCommand, 1);
  p.ClearShellCalls();
  EXPECT_TRUE(p.ShellCalls().empty());
  // Really started: a script that writes its arguments and working folder.
  p.SetRecordShell(false);
  drive.WriteFile(
      "run.sh",
      "#!/bin/sh\nprintf '%s|%s|%s' \"$1\" \"$2\" \"$(basename \"$PWD\")\" > out.tmp\nmv out.tmp out.txt\n");
  const std::string script = p.HostPath(drive.PathOf("run.sh"));
  ASSERT_EQ(std::system(("chmod +x '" + script + "'").c_str()), 0);
  EXPECT_EQ(p.ShellExecute("open", drive.PathOf("run.sh"), "\"two words\" 表", drive.Folder(), 1), 42);
  std::string out;
  for (int i = 0; i < 250 && out.empty(); ++i) {
    p.Sleep(20);
    out = drive.ReadFile("out.txt");
  }
  EXPECT_EQ(out, "two words|" + Cp932ToUtf8("表") + "|work");
  EXPECT_TRUE(p.ShellCalls().empty());
  EXPECT_EQ(p.ShellExecute("open", drive.PathOf("run.sh"), "", drive.PathOf("nodir"), 1), 3);
  EXPECT_EQ(p.ShellExecute("print", drive.PathOf("run.sh"), "", "", 1), 31);
}
#endif

}  // namespace
}  // namespace vr

namespace vr {
namespace {

TEST(PlatformProcess, RunAndWaitGivesTheExitCodeOrSaysWhyNot) {
  TTempDrive drive;
#ifndef _WIN32
  TPosixConfig config = drive.PosixConfig();
  config.RecordShell = false;
  TPosixPlatform posix(config);
  TPlatform* previous = SetPlatform(&posix);
  const std::string shell = "/bin/sh";
  const std::string exit3 = "-c \"exit 3\"";
#else
  const std::string shell = Platform().GetSystemDirectory() + "\\cmd.exe";
  const std::string exit3 = "/c exit 3";
#endif
  TPlatform& p = Platform();
  EXPECT_EQ(p.RunProcessAndWait(shell, exit3, nullptr), 3);
  int asked = 0;
  EXPECT_EQ(p.RunProcessAndWait(shell, exit3, [&asked]() { return ++asked > 1000000; }), 3);
  EXPECT_EQ(p.RunProcessAndWait(drive.PathOf("missing.exe"), "", nullptr), kProcessNotStarted);
#ifndef _WIN32
  // The wait ends on request while the program runs on.
  EXPECT_EQ(p.RunProcessAndWait(shell, "-c \"sleep 1\"", []() { return true; }), kProcessStillRunning);
  SetPlatform(previous);
#endif
}

}  // namespace
}  // namespace vr
