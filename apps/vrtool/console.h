// Terminal and process-level helpers of vrtool: the command line in UTF-8, binary standard output,
// messages on stderr and a progress bar.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "startup/setupswitches.h"

namespace vrtool {

// An error of the tool itself (usage, refused input); its text is UTF-8. Exit status 2.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Prepares stdout for binary data and the console for UTF-8 text.
void InitConsole();
bool StderrIsTerminal();

// Writes the whole buffer to stdout; a ToolError when that fails.
void WriteStdout(const void* data, size_t size);
void WriteStdout(const std::string& text);

// One line on stderr (a newline is added). A drive an image is served on ("E:\\...") is shown as the
// image and the path in it ("disc.iso:...").
void PrintError(const std::string& utf8);
// From now on messages name `root` (a drive root, "E:\\") as the image `shown` (UTF-8).
void ShowDriveAsImage(const std::string& root, const std::string& shown);
// `utf8` with every served drive named as its image.
std::string NameImagesIn(const std::string& utf8);

// A name from a file made safe for a terminal (the setup log's escaping); PrintError applies it.
using vr::Printable;

// Files the tool is writing under temporary names (code page 932 paths; with `parts`, also the part
// files name.001 ... of a split file). Ctrl-C, SIGTERM or SIGHUP (unless the tool was started with it
// ignored, as nohup does) removes them before the tool ends.
void RegisterTempFile(const std::string& cp932Path, bool parts = false);
void UnregisterTempFile(const std::string& cp932Path);
// Installs the signal handlers that remove the registered files.
void InstallCleanupHandlers();

// A one-line bar on stderr, redrawn at most every 100 ms; inert when disabled.
class ProgressBar {
 public:
  ProgressBar(bool enabled, std::string label);
  ~ProgressBar();
  void Update(int64_t done, int64_t total, const std::string& item);
  void Finish();
  bool Enabled() const { return enabled_; }

 private:
  void Draw(int64_t done, int64_t total, const std::string& item);
  bool enabled_;
  bool drawn_ = false;
  std::string label_;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace vrtool
