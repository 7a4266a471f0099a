#include "console.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "archive/bigstreams.h"
#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"

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

namespace {

std::vector<std::pair<std::string, std::string>>& ShownDrives() {
  static std::vector<std::pair<std::string, std::string>> drives;  // root -> image
  return drives;
}

bool IsNameByte(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

}  // namespace

void ShowDriveAsImage(const std::string& root, const std::string& shown) {
  ShownDrives().emplace_back(root, shown);
}

std::string NameImagesIn(const std::string& utf8) {
  std::string text = utf8;
  for (const auto& [root, shown] : ShownDrives()) {
    for (size_t at = text.find(root); at != std::string::npos; at = text.find(root, at)) {
      if (at > 0 && IsNameByte(text[at - 1])) {
        at += root.size();
        continue;
      }
      text.replace(at, root.size(), shown + ":");
      at += shown.size() + 1;
    }
  }
  return text;
}

void PrintError(const std::string& utf8) {
  std::fflush(stdout);
  std::fprintf(stderr, "vrtool: %s\n", Printable(NameImagesIn(utf8)).c_str());
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
  std::string name = Printable(item);
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

namespace vrtool {

#ifdef DeleteFile
#undef DeleteFile  // <windows.h>'s macro; the platform's member is meant
#endif

namespace {

// Registered temporary files (code page 932 name -> host names), the host names prepared in advance
// so the signal handler only unlinks. Keyed: an extract run has many registered at once.
std::unordered_map<std::string, std::vector<std::string>>& Temps() {
  static std::unordered_map<std::string, std::vector<std::string>> temps;
  return temps;
}
// Who has the list: nobody, a change of it, or the signal handler removing the files. A cleanup signal
// that arrives during a change is taken up once the change is done (no system call per change, as
// blocking the signals would cost); the signal may be handled on any thread.
enum : int { kListFree, kListChanging, kListCleaning };
std::atomic<int> g_list{kListFree};
std::atomic<int> g_deferred{0};

void CleanupAndDie(int sig);

struct TListChange {
  TListChange() {
    // Only a handler on another thread holds the list; it ends the process.
    for (int expected = kListFree; !g_list.compare_exchange_weak(expected, kListChanging);
         expected = kListFree)
      std::this_thread::yield();
  }
  ~TListChange() {
    g_list.store(kListFree);
    if (const int sig = g_deferred.exchange(0)) CleanupAndDie(sig);
  }
};

std::string HostName(const std::string& cp932) {
#ifdef _WIN32
  return cp932;
#else
  // The tool's names on this host are host paths (no drive letters) in code page 932.
  return vr::Cp932ToUtf8(vr::ReplaceDelimiters(cp932, '/'));
#endif
}

void CleanupAndDie(int sig) {
  int state = kListFree;
  if (!g_list.compare_exchange_strong(state, kListCleaning) && state == kListChanging) {
    g_deferred.store(sig);
    return;
  }
  if (state == kListFree) {
    for (const auto& [name, hosts] : Temps())
      for (const std::string& h : hosts) {
#ifdef _WIN32
        vr::Platform().DeleteFile(h);
#else
        unlink(h.c_str());
#endif
      }
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

void RegisterTempFile(const std::string& cp932Path, bool parts) {
  std::vector<std::string> hosts{HostName(cp932Path)};
  if (parts)
    for (int i = 1; i < 100; ++i) hosts.push_back(HostName(vr::TKoBigFileStream::PartFileName(cp932Path, i)));
  TListChange change;
  Temps()[cp932Path] = std::move(hosts);
}

void UnregisterTempFile(const std::string& cp932Path) {
  TListChange change;
  Temps().erase(cp932Path);
}

void InstallCleanupHandlers() {
  std::signal(SIGINT, CleanupAndDie);
  std::signal(SIGTERM, CleanupAndDie);
#ifdef SIGHUP
  // A tool started to outlive its terminal (nohup) keeps ignoring the hangup.
  if (std::signal(SIGHUP, SIG_IGN) != SIG_IGN) std::signal(SIGHUP, CleanupAndDie);
#endif
}

}  // namespace vrtool
