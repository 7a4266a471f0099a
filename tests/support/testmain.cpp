// Test entry point shared by every test program.
//
// Hidden helper mode for tests that need a second process: "--vr-hold-mutex=<name> --vr-signal=<folder>"
// creates the named mutex, writes <folder>\ready (with "1" when the name was new, "0" otherwise), holds
// the mutex until <folder>\quit appears (at most 30 s), then ends.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/dbcspath.h"
#include "platform/platform.h"

namespace {

int HoldMutex(const std::string& name, const std::string& folder) {
  vr::TPlatform& p = vr::Platform();
  bool exists = false;
  const vr::THandle h = p.CreateMutex(name, exists);
  const std::string status = (h != vr::kInvalidHandle && !exists) ? "1" : "0";
  const std::string base = vr::IncludeTrailingBackslash(folder);
  const vr::THandle f = p.FileCreate(base + "ready.tmp");
  if (f != vr::kInvalidHandle) {
    p.FileWrite(f, status.data(), 1);
    p.FileClose(f);
    p.MoveFileReplace(base + "ready.tmp", base + "ready");
  }
  for (int i = 0; i < 1500 && p.GetFileAttributes(base + "quit") == vr::faInvalid; ++i) p.Sleep(20);
  p.CloseMutex(h);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string holdName, signalFolder;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--vr-hold-mutex=", 16) == 0) holdName = argv[i] + 16;
    if (std::strncmp(argv[i], "--vr-signal=", 12) == 0) signalFolder = argv[i] + 12;
  }
  if (!holdName.empty() && !signalFolder.empty()) return HoldMutex(holdName, signalFolder);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
