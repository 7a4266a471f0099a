#include "console.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vrtool {

void InitConsole() {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
#endif
}

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

void WriteStdout(const void* data, size_t size) {
  if (size != 0 && std::fwrite(data, 1, size, stdout) != size) {
    throw ToolError(std::string("cannot write to standard output: ") + std::strerror(errno));
  }
}

void WriteStdout(const std::string& text) { WriteStdout(text.data(), text.size()); }

void PrintError(const std::string& utf8) {
  std::fflush(stdout);
  std::fprintf(stderr, "vrtool: %s\n", utf8.c_str());
  std::fflush(stderr);
}

ProgressBar::ProgressBar(bool enabled, std::string label) : enabled_(enabled), label_(std::move(label)) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(int64_t done, int64_t total, const std::string& item) {
  if (!enabled_) return;
  auto now = std::chrono::steady_clock::now();
  if (drawn_ && done < total && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  Draw(done, total, item);
}

void ProgressBar::Draw(int64_t done, int64_t total, const std::string& item) {
  constexpr int kWidth = 30;
  int percent = total > 0 ? static_cast<int>(std::min<int64_t>(100, done * 100 / total)) : 0;
  int filled = percent * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  // Keep the line short enough for an 80-column terminal; names are cut at a character boundary.
  std::string name = item;
  const size_t kNameMax = 30;
  if (name.size() > kNameMax) {
    size_t cut = name.size() - kNameMax;
    while (cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) ++cut;
    name = "..." + name.substr(cut);
  }
  std::fprintf(stderr, "\r%s [%s] %3d%% %s\x1b[K", label_.c_str(), bar.c_str(), percent, name.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Finish() {
  if (enabled_ && drawn_) {
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
  }
  drawn_ = false;
}

}  // namespace vrtool
