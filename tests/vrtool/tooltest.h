// Helpers of the vrtool end-to-end tests: temporary folders, running the tool, building archives byte
// by byte in every directory version the reader accepts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "rawarchive.h"

namespace vrtest {

namespace fs = std::filesystem;

// A fresh folder below the system's temp folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& bytes);
// Every regular file below root as "relative/name" -> content, for comparing trees.
std::vector<std::pair<std::string, std::string>> ReadTree(const fs::path& root);

struct RunResult {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// Runs the built vrtool with the arguments (no shell) in the folder cwd (empty: the current one), with
// LANG set to `lang` (LC_ALL and LC_MESSAGES removed): English messages unless it says Japanese.
RunResult RunTool(const std::vector<std::string>& args, const std::string& cwd = "",
                  const std::string& lang = "C");

}  // namespace vrtest
