// check and repair: an installed game against its install.dat and its media, through the check and
// repair runs; this file answers them from the command line and prints their report.
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "consolehost.h"
#include "discmedia.h"
#include "framework/sysutils.h"
#include "startup/setupswitches.h"
#include "startup/syshelpers.h"
#include "textconv.h"
#include "wizard/checkrun.h"
#include "wizard/repairrun.h"

namespace vrtool {
namespace {

#ifdef _WIN32
const char kHostDelimiter[] = "\\";
#else
const char kHostDelimiter[] = "/";
#endif

// The game folder and each medium folder as the run names them and as the user named them.
using TShownFolders = std::vector<std::pair<std::string, std::string>>;

vr::TCheckOptions RunOptions(const CheckOptions& co, TShownFolders& shown) {
  vr::TCheckOptions options;
  if (!vr::DirectoryExists(ToCp932(co.GameFolder, "folder name")))
    throw ToolError(co.GameFolder + ": no such folder");
  options.GameFolder = FolderForRun(co.GameFolder);
  shown.emplace_back(ToUtf8(options.GameFolder), co.GameFolder);
  std::vector<std::string> media;
  if (!co.Medium.empty()) media.push_back(co.Medium);
  for (const std::string& m : vr::SplitList(co.MediaDirs, ';')) media.push_back(m);
  for (const std::string& m : media) {
    if (IsDiscImage(m)) {
      options.Media.push_back(MountImage(m));  // served as a drive of its own
      continue;
    }
    if (!vr::DirectoryExists(ToCp932(m, "folder name"))) throw ToolError(m + ": no such folder");
    options.Media.push_back(FolderForRun(m));
    shown.emplace_back(ToUtf8(options.Media.back()), m);
  }
  return options;
}

// A run's error with its folders named as the user named them (images are named by PrintError).
template <class TRun>
auto NamingFolders(const TShownFolders& shown, TRun run) {
  try {
    return run();
  } catch (const vr::Exception& e) {
    std::string text = Localize(ToUtf8(e.Message));
    for (const auto& [path, as] : shown) {
      std::string name = as;
      while (name.size() > 1 && (name.back() == '/' || name.back() == kHostDelimiter[0])) name.pop_back();
      for (size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + name.size())) {
        const bool alone = at + path.size() == text.size() || text[at + path.size()] == ':';
        text.replace(at, path.size(), alone ? name : name + kHostDelimiter);
      }
    }
    throw ToolError(text);
  }
}

const char* StateName(vr::TFileState state) {
  switch (state) {
    case vr::TFileState::fsOk:
      return "ok";
    case vr::TFileState::fsMissing:
      return "missing";
    case vr::TFileState::fsDamaged:
      return "damaged";
    case vr::TFileState::fsRefused:
      return "refused";
    case vr::TFileState::fsUnchecked:
      return "unchecked";
  }
  return "";
}

nlohmann::json ReportJson(const vr::TCheckReport& report) {
  nlohmann::json files = nlohmann::json::array();
  for (const vr::TCheckedFile& f : report.Files)
    files.push_back({{"name", ToUtf8(f.Name)}, {"state", StateName(f.State)}});
  nlohmann::json entries = nlohmann::json::array();
  for (const std::string& e : report.BadEntries) entries.push_back(ToUtf8(e));
  return {{"healthy", report.Healthy()},
          {"files", files},
          {"damagedEntries", entries},
          {"dataFileUnreadable", report.DataFileUnreadable},
          {"directoryDiffers", report.DirectoryDiffers}};
}

void PrintReport(const vr::TCheckReport& report, bool json, const char* label) {
  if (json)
    WriteStdout(ReportJson(report).dump(2) + "\n");
  else
    WriteStdout(std::string(label) + Printable(ToUtf8(report.Summary())) + "\n");
}

}  // namespace

int CmdCheck(const CheckOptions& co, const Options& opt) {
  TShownFolders shown;
  const vr::TCheckOptions options = RunOptions(co, shown);
  vr::TSetupLog log;
  OpenLog(log, co.LogFile);
  TConsoleHost host("check", !opt.Quiet && StderrIsTerminal(), log, {});
  vr::TCheckReport report = NamingFolders(shown, [&] { return vr::TCheckRun(host, options).Execute(); });
  host.Finish();
  PrintReport(report, co.Json, "");
  return report.Healthy() ? 0 : 1;
}

int CmdRepair(const CheckOptions& co, const Options& opt) {
  TShownFolders shown;
  const vr::TCheckOptions options = RunOptions(co, shown);
  if (options.Media.empty()) throw ToolError("repair needs the game's media (--medium)");
  vr::TSetupLog log;
  OpenLog(log, co.LogFile);
  TConsoleHost host("repair", !opt.Quiet && StderrIsTerminal(), log, {});
  TInterruptScope interrupt;
  vr::TRepairOutcome outcome = NamingFolders(shown, [&] { return vr::TRepairRun(host, options).Execute(); });
  host.Finish();
  if (co.Json) {
    WriteStdout(nlohmann::json{{"before", ReportJson(outcome.Before)},
                               {"after", ReportJson(outcome.After)},
                               {"rolledBack", outcome.RolledBack}}
                    .dump(2) +
                "\n");
  } else {
    PrintReport(outcome.Before, false, "before: ");
    PrintReport(outcome.After, false, "after:  ");
  }
  if (outcome.End == vr::TRunEnd::reStopped)
    throw ToolError(Interrupted() ? "interrupted; what the repair replaced is back" : "stopped");
  return outcome.After.Healthy() ? 0 : 1;
}

}  // namespace vrtool
