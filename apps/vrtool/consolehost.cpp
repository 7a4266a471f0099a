#include "consolehost.h"

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "framework/forms.h"
#include "framework/sysutils.h"
#include "platform/platform.h"
#ifndef _WIN32
#include "platform/posix/posixplatform.h"
#endif
#include "startup/syshelpers.h"
#include "textconv.h"

namespace vrtool {
namespace {

volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) { interrupted = 1; }

// The --media-dirs folders as the run's names (code page 932).
std::vector<std::string> ToCp932Each(const std::vector<std::string>& utf8) {
  std::vector<std::string> out;
  for (const std::string& folder : utf8) out.push_back(ToCp932(folder, "folder name"));
  return out;
}

}  // namespace

std::string FolderForRun(const std::string& utf8) {
#ifndef _WIN32
  auto* posix = dynamic_cast<vr::TPosixPlatform*>(&vr::Platform());
  std::error_code error;
  const std::filesystem::path full =
      std::filesystem::weakly_canonical(std::filesystem::absolute(utf8), error);
  const auto z = posix ? posix->Config().Drives.find('Z') : std::map<char, std::string>::const_iterator();
  if (posix && !error && (z == posix->Config().Drives.end() || z->second == "/")) {
    if (z == posix->Config().Drives.end()) posix->MapDrive('Z', "/");
    std::string host = full.string();
    std::replace(host.begin(), host.end(), '/', '\\');
    return vr::AddTrailingBackslash("Z:" + ToCp932(host, "folder name"));
  }
#endif
  return vr::AddTrailingBackslash(ToCp932(utf8, "folder name"));
}

void OpenLog(vr::TSetupLog& log, const std::string& utf8) {
  if (!utf8.empty() && !log.Open(ToCp932(utf8, "file name"), false))
    throw ToolError(utf8 + ": cannot be written");
}

TInterruptScope::TInterruptScope() {
  interrupted = 0;
  previousInt_ = std::signal(SIGINT, OnInterrupt);
  previousTerm_ = std::signal(SIGTERM, OnInterrupt);
#ifdef SIGHUP
  previousHup_ = std::signal(SIGHUP, SIG_IGN);
  if (previousHup_ != SIG_IGN) std::signal(SIGHUP, OnInterrupt);
#endif
}

TInterruptScope::~TInterruptScope() {
  std::signal(SIGINT, previousInt_);
  std::signal(SIGTERM, previousTerm_);
#ifdef SIGHUP
  std::signal(SIGHUP, previousHup_);
#endif
}

bool Interrupted() { return interrupted != 0; }

TConsoleHost::TConsoleHost(const std::string& label, bool progress, vr::TSetupLog& log,
                           std::vector<std::string> mediaDirs)
    : bar_(progress, label), log_(log), media_(ToCp932Each(mediaDirs)) {}

void TConsoleHost::SetStatus(const std::string& text) {
  status_ = text;
  bar_.Update(position_, max_, ToUtf8(status_));
}

void TConsoleHost::SetProgressPosition(int32_t position) {
  position_ = position;
  bar_.Update(position_, max_, ToUtf8(status_));
}

bool TConsoleHost::AbortRequested() {
  if (interrupted && !aborted_) {
    aborted_ = true;
    log_.Line("中断されました");
  }
  return aborted_;
}

bool TConsoleHost::PromptMedium(const std::string& text) {
  log_.Line(text);
  // Each further medium is looked for once in the folder named for it; there is nobody to ask.
  switch (media_.Prompt(text)) {
    case vr::TMediaFolders::TAnswer::NoFolders:
      Report("further media need --media-dirs");
      return false;
    case vr::TMediaFolders::TAnswer::NotThere:
      Report("the medium is not in the folder given for it");
      return false;
    case vr::TMediaFolders::TAnswer::Look:
      break;
  }
  return true;
}

bool TConsoleHost::Confirm(const std::string& text) {
  log_.Line(text + " -> yes");
  return true;
}

void TConsoleHost::Warning(const std::string& text) {
  bar_.Finish();
  Report(Localize(ToUtf8(text)));
}

std::string TConsoleHost::MediumFolder(int32_t index, const std::string& current) {
  return media_.Folder(index, current);
}

void TConsoleHost::ShowError(const std::string& text) {
  bar_.Finish();
  Report(Localize(ToUtf8(text)));
}

void TConsoleHost::Report(const std::string& text) {
  // The runs' texts are made for dialogs: their line breaks become spaces on one line.
  std::string utf8 = text;
  for (size_t at; (at = utf8.find("\r\n")) != std::string::npos;) utf8.replace(at, 2, " ");
  PrintError(utf8);
  log_.Line(ToCp932(utf8, "message"));
}

}  // namespace vrtool
