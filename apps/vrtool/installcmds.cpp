// install: the setup program's install run on this system, without a window. The run itself is the
// one the wizard drives; this file only answers it from the command line, a log and a progress bar.
#include <csignal>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "archive/vrfiles.h"
#include "commands.h"
#include "console.h"
#include "framework/forms.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"
#include "textconv.h"
#include "wizard/installrun.h"
#include "wizard/runhost.h"

namespace vrtool {
namespace {

volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) { interrupted = 1; }

// Ctrl-C and SIGTERM ask the run to stop at its next check (it then takes the install back).
class TInterruptScope {
 public:
  TInterruptScope() {
    interrupted = 0;
    previousInt_ = std::signal(SIGINT, OnInterrupt);
    previousTerm_ = std::signal(SIGTERM, OnInterrupt);
  }
  ~TInterruptScope() {
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
  }

 private:
  void (*previousInt_)(int);
  void (*previousTerm_)(int);
};

// A UTF-8 log file; nothing when no name was given.
class TLogFile {
 public:
  explicit TLogFile(const std::string& name) {
    if (name.empty()) return;
    file_ = std::fopen(name.c_str(), "w");
    if (!file_) throw ToolError(name + ": cannot be written");
  }
  ~TLogFile() {
    if (file_) std::fclose(file_);
  }
  void Line(const std::string& cp932) {
    if (!file_) return;
    std::fprintf(file_, "%s\n", ToUtf8(cp932).c_str());
    std::fflush(file_);
  }

 private:
  std::FILE* file_ = nullptr;
};

class TConsoleHost : public vr::TRunHost {
 public:
  TConsoleHost(bool progress, TLogFile& log, std::vector<std::string> mediaDirs)
      : bar_(progress, "install"), log_(log), mediaDirs_(std::move(mediaDirs)) {}

  void SetCaption(const std::string&) override {}
  void SetHeading(const std::string& text) override { log_.Line(text); }
  void SetStatus(const std::string& text) override {
    status_ = text;
    bar_.Update(position_, max_, ToUtf8(status_));
  }
  void SetProgressRange(int32_t max) override { max_ = max; }
  void SetProgressPosition(int32_t position) override {
    position_ = position;
    bar_.Update(position_, max_, ToUtf8(status_));
  }
  void HideProgress() override {}
  void HideNavigation(bool) override {}
  void ProcessMessages() override {}
  void BringToFront() override {}
  void Wait(uint32_t) override {}
  void Log(const std::string& line) override { log_.Line(line); }
  bool AbortRequested() override {
    if (interrupted && !aborted_) {
      aborted_ = true;
      log_.Line("中断されました");
    }
    return aborted_;
  }
  void SetModalResult(int result) override {
    if (result == vr::mrAbort) aborted_ = true;
    modalResult_ = result;
  }
  bool PromptMedium(const std::string& text) override {
    log_.Line(text);
    // Each further medium is looked for once in the folder named for it; there is nobody to ask.
    if (prompted_.count(text) || mediaDirs_.empty()) {
      Report(mediaDirs_.empty() ? "further media need --media-dirs"
                                : "the medium is not in the folder given for it");
      return false;
    }
    prompted_.insert(text);
    return true;
  }
  bool Confirm(const std::string& text) override {
    log_.Line(text + " -> yes");
    return true;
  }
  void Warning(const std::string& text) override {
    bar_.Finish();
    Report(ToUtf8(text));
  }
  std::string MediumFolder(int32_t index, const std::string& current) override {
    if (index < 1 || static_cast<size_t>(index) > mediaDirs_.size()) return current;
    return ToCp932(mediaDirs_[static_cast<size_t>(index) - 1], "folder name");
  }

  int ModalResult() const { return modalResult_; }
  void Finish() { bar_.Finish(); }

 private:
  void Report(const std::string& utf8) {
    PrintError(utf8);
    log_.Line(ToCp932(utf8, "message"));
  }
  ProgressBar bar_;
  TLogFile& log_;
  std::vector<std::string> mediaDirs_;
  std::set<std::string> prompted_;
  std::string status_;
  int64_t position_ = 0, max_ = 0;
  int modalResult_ = 0;
  bool aborted_ = false;
};

std::vector<std::string> SplitList(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::string item;
  for (char c : text) {
    if (c == separator) {
      if (!item.empty()) out.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) out.push_back(item);
  return out;
}

}  // namespace

int CmdInstall(const InstallOptions& io, const Options& opt) {
  const std::string medium = ToCp932(io.Medium, "folder name");
  std::string sourceFolder;
  auto settings = std::make_unique<vr::TRovaInstallSet>();
  vr::TVrFileCollection archive;
  if (vr::FileExists(medium)) {
    // An archive file or a program carrying one: its settings come from the archive.
    archive.Open(medium);
    vr::TMemoryStream stream;
    archive.ExtractToStream(stream, "install.dat");
    settings->LoadFromStream(stream);
    sourceFolder = vr::ExtractFilePath(medium);
  } else if (vr::DirectoryExists(medium)) {
    sourceFolder = vr::AddTrailingBackslash(medium);
    if (!vr::FileExists(sourceFolder + "install.dat"))
      throw ToolError(io.Medium + ": no install.dat in this folder");
    settings->LoadFromFile(sourceFolder + "install.dat");
    archive.Open(sourceFolder + "game.dat");
  } else {
    throw ToolError(io.Medium + ": no such file or folder");
  }
  if (settings->Uninstaller) throw ToolError(io.Medium + ": this is an installed game, not a package");

  vr::TInstallChoices choices;
  choices.SourceFolder = sourceFolder;
  choices.Destination = vr::AddTrailingBackslash(ToCp932(io.Destination, "folder name"));
  choices.AllMedia = true;
  for (const std::string& c : SplitList(io.Components.empty() ? "data,sound,movie" : io.Components, ',')) {
    if (c == "data")
      choices.Data = true;
    else if (c == "sound")
      choices.Sound = true;
    else if (c == "movie")
      choices.Movie = true;
    else if (c != "program")
      throw ToolError("--components: unknown group '" + c + "' (data, sound, movie)");
  }
  const vr::TRovaInstallSet& s = *settings;
  auto positive = [](int64_t v) { return static_cast<uint64_t>(v < 0 ? 0 : v); };
  choices.RequiredBytes = positive(s.BaseSizeTotal) + (choices.Data ? positive(s.DataSizeTotal) : 0) +
                          (choices.Sound ? positive(s.SoundSizeTotal) : 0) +
                          (choices.Movie ? positive(s.MovieSizeTotal) : 0);
  // Programs-menu shortcuts, the registry and the shell have no meaning here.
  choices.Shortcuts = choices.Registry = choices.OpenReadme = false;
  if (!opt.Quiet) PrintError("note: shortcuts and registry values are not made on this system");

  TLogFile log(io.LogFile);
  TConsoleHost host(!opt.Quiet && StderrIsTerminal(), log, SplitList(io.MediaDirs, ';'));
  TInterruptScope interrupt;
  vr::TInstallRun run(host, *settings, archive, choices);
  bool complete = false;
  try {
    complete = run.Execute();
  } catch (...) {
    host.Finish();
    if (run.RolledBack()) log.Line(vr::TInstallRun::RolledBackText);
    throw;
  }
  host.Finish();
  if (complete) {
    WriteStdout("installed into " + io.Destination + "\n");
    return 0;
  }
  // A failed data check ends the run with Abort and its warning; anything else is an error.
  if (run.CheckFailed()) return 1;
  throw ToolError(interrupted ? "interrupted; the destination is as it was" : "the install did not complete");
}

}  // namespace vrtool
