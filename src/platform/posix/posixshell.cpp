// Resources, ShellExecute and the Japanese-locale text functions of the POSIX platform layer.
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/peresource.h"
#include "platform/posix/posixplatform.h"

namespace vr {

// --- resources ---------------------------------------------------------------------------------------

std::optional<TResourceData> TPosixPlatform::FindResource(const std::string& module, const std::string& name,
                                                          const std::string& type) {
  std::string host;
  if (module.empty()) {
    host = config_.ModulePath.empty() ? std::string("/proc/self/exe") : config_.ModulePath;
  } else {
    host = HostPath(module);
  }
  if (host.empty()) return std::nullopt;
  const int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::optional<std::vector<uint8_t>> data;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    const TReadAt read = [fd](uint64_t offset, void* buffer, size_t count) {
      size_t done = 0;
      while (done < count) {
        const ssize_t n =
            pread(fd, static_cast<char*>(buffer) + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
      }
      return true;
    };
    data = FindPeResource(read, static_cast<uint64_t>(st.st_size), name, type);
  }
  close(fd);
  if (!data) return std::nullopt;
  auto keep = std::make_shared<std::vector<uint8_t>>(std::move(*data));
  TResourceData result;
  result.Data = keep->data();
  result.Size = keep->size();
  result.Keep = keep;
  return result;
}

// --- shell -------------------------------------------------------------------------------------------

void TPosixPlatform::SetRecordShell(bool on) {
  std::lock_guard<std::mutex> guard(lock_);
  recordShell_ = on;
}

std::vector<TShellCall> TPosixPlatform::ShellCalls() {
  std::lock_guard<std::mutex> guard(lock_);
  return shellCalls_;
}

void TPosixPlatform::ClearShellCalls() {
  std::lock_guard<std::mutex> guard(lock_);
  shellCalls_.clear();
}

namespace {

// Splits a Windows command line into arguments (quotes group, backslashes escape quotes).
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> args;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      if (IsLeadByte(static_cast<unsigned char>(line[i])) && i + 1 < line.size()) {
        arg.append(line, i, 2);
        i += 2;
        continue;
      }
      if (line[i] == '\\') {
        size_t n = 0;
        while (i < line.size() && line[i] == '\\') {
          ++n;
          ++i;
        }
        if (i < line.size() && line[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(n, '\\');
        }
        continue;
      }
      if (line[i] == '"') {
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += line[i++];
    }
    args.push_back(arg);
  }
  return args;
}

bool InSearchPath(const char* program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string list = path;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const std::string candidate = list.substr(start, end - start) + "/" + program;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

intptr_t ErrnoToShellError(int err) {
  switch (err) {
    case ENOENT:
      return 2;  // file not found
    case ENOTDIR:
      return 3;  // path not found
    case EACCES:
    case EPERM:
      return 5;  // access denied
    case ENOEXEC:
      return 11;  // bad format
    case ENOMEM:
      return 8;
    default:
      return 0;
  }
}

// Starts argv detached (double fork, own session); the exec error, if any, comes back through a pipe.
intptr_t SpawnDetached(const std::vector<std::string>& argv, const std::string& folder) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return 0;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return 8;
  }
  if (child == 0) {
    setsid();
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    int err = 0;
    if (!folder.empty() && chdir(folder.c_str()) != 0) {
      err = ENOTDIR;
    } else {
      execvp(args[0], args.data());
      err = errno;
    }
    ssize_t ignored = write(pipeFds[1], &err, sizeof err);
    (void)ignored;
    _exit(127);
  }
  close(pipeFds[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  do {
    n = read(pipeFds[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  close(pipeFds[0]);
  if (n == static_cast<ssize_t>(sizeof err)) return ErrnoToShellError(err);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 8;
  return 42;
}

}  // namespace

intptr_t TPosixPlatform::ShellExecute(const std::string& operation, const std::string& file,
                                      const std::string& parameters, const std::string& directory,
                                      int showCommand) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (recordShell_) {
      shellCalls_.push_back(TShellCall{operation, file, parameters, directory, showCommand});
      return 42;
    }
  }
  // Nothing is looked up on the search path or in the current folder (host paths are full paths too).
  if (!IsFullPath(file) && (file.empty() || file[0] != '/')) return 2;
  const std::string op = LowerCaseJ(operation);
  if (!op.empty() && op != "open" && op != "explore" && op != "runas") return 31;  // no association
  const std::string host = HostPath(file);
  if (host.empty()) return 3;
  struct stat st;
  if (stat(host.c_str(), &st) != 0) {
    const std::string parent = host.substr(0, host.find_last_of('/') + 1);
    return (parent.empty() || stat(parent.c_str(), &st) == 0) ? 2 : 3;
  }
  std::string folder;
  if (!directory.empty()) {
    folder = HostPath(directory);
    struct stat dirStat;
    if (folder.empty() || stat(folder.c_str(), &dirStat) != 0 || !S_ISDIR(dirStat.st_mode)) return 3;
  }
  std::vector<std::string> argv;
  if (S_ISREG(st.st_mode) && access(host.c_str(), X_OK) == 0) {
    argv.push_back(host);
    for (const std::string& a : SplitCommandLine(parameters)) argv.push_back(Cp932ToUtf8(a));
  } else {
    // Documents and folders go to the desktop's opener.
    if (!InSearchPath("xdg-open")) return 31;
    argv = {"xdg-open", host};
  }
  return SpawnDetached(argv, folder);
}

// --- processes -----------------------------------------------------------------------------------------

int32_t TPosixPlatform::RunProcessAndWait(const std::string& file, const std::string& parameters,
                                          const std::function<bool()>& stopWaiting) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (recordShell_) {
      shellCalls_.push_back(TShellCall{"wait", file, parameters, "", 0});
      return 0;
    }
  }
  if (!IsFullPath(file) && (file.empty() || file[0] != '/')) return kProcessNotStarted;
  const std::string host = HostPath(file);
  if (host.empty() || access(host.c_str(), X_OK) != 0) return kProcessNotStarted;
  std::vector<std::string> argv{host};
  for (const std::string& a : SplitCommandLine(parameters)) argv.push_back(Cp932ToUtf8(a));
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, host.c_str(), nullptr, nullptr, args.data(), environ) != 0)
    return kProcessNotStarted;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(child, &status, stopWaiting ? WNOHANG : 0);
    if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (done < 0 && errno != EINTR) return kProcessNotStarted;
    // The child is left running: it is not ours to end, and the caller may wait for it later.
    if (done == 0 && stopWaiting()) return kProcessStillRunning;
    if (done == 0) Sleep(100);
  }
}

// --- Japanese locale ----------------------------------------------------------------------------------

int TPosixPlatform::CompareTextJ(const std::string& a, const std::string& b) {
  const std::u16string x = Cp932ToUtf16(FoldCaseCp932(a, false));
  const std::u16string y = Cp932ToUtf16(FoldCaseCp932(b, false));
  const int c = x.compare(y);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::string TPosixPlatform::LowerCaseJ(const std::string& s) { return FoldCaseCp932(s, false); }

std::string TPosixPlatform::UpperCaseJ(const std::string& s) { return FoldCaseCp932(s, true); }

std::unique_ptr<TPlatform> CreateHostPlatform() { return std::make_unique<TPosixPlatform>(TPosixConfig{}); }

}  // namespace vr
