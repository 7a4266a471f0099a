// The temp copy: the program copies itself into the temp folder and that copy runs the wizard, so that
// the medium can be changed and the uninstaller's own file removed. The temp folder is writable by other
// programs, so the copy lives in a new folder of its own whose name nobody can guess, is held open
// (nobody may change or remove it) and checked against the running program until it has been started,
// and recognises itself only by the token its starter hands it.
#pragma once

#include <string>

#include "platform/platform.h"

namespace vr {

// File name of the copy inside its folder.
constexpr const char* kTempCopyName = "~rinstall.exe";
// The copy's folder is this prefix and the token.
constexpr const char* kTempCopyFolderPrefix = "~rinstall-";
// Folders tried before the copy is given up.
constexpr int kTempCopyAttempts = 100;

class TTempCopy {
 public:
  TTempCopy() = default;
  ~TTempCopy();
  TTempCopy(const TTempCopy&) = delete;
  TTempCopy& operator=(const TTempCopy&) = delete;

  // Copies `exeName` into a new private folder of `tempFolder` and holds the copy open for reading
  // only, denying writes and removal, once it has been checked to hold exactly the program's bytes.
  // False when no attempt worked; nothing is left behind then.
  bool Make(const std::string& exeName, const std::string& tempFolder);
  const std::string& Path() const { return path_; }      // the copy's full path
  const std::string& Folder() const { return folder_; }  // its folder, with a trailing backslash
  const std::string& Token() const { return token_; }    // what the copy is handed to know itself
  // Lets go of the copy (after its process has started).
  void Release();
  // Removes the copy and its folder once its process has ended; false when anything stays.
  bool Remove();

 private:
  bool TryFolder(const std::string& exeName, const std::string& tempFolder);
  void Discard();

  std::string path_, folder_, token_;
  THandle held_ = kInvalidHandle;
};

// A token: 32 hexadecimal digits from the system's random source; empty when it has none.
std::string NewTempCopyToken();
// True when `exeName` is the temp copy that `token` names: ~rinstall.exe in the folder named after it.
bool IsTempCopy(const std::string& exeName, const std::string& token);
// The copy cannot remove its own running file: it and its folder go at the next system start.
void RemoveTempCopyAtRestart(const std::string& exeName);

}  // namespace vr
