// check and repair: an installed game against its install.dat and its media, through the check and
// repair runs; this file answers them from the command line and prints their report.
#include <string>
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

vr::TCheckOptions RunOptions(const CheckOptions& co) {
  vr::TCheckOptions options;
  if (!vr::DirectoryExists(ToCp932(co.GameFolder, "folder name")))
    throw ToolError(co.GameFolder + ": no such folder");
  options.GameFolder = FolderForRun(co.GameFolder);
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
  }
  return options;
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
  const vr::TCheckOptions options = RunOptions(co);
  vr::TSetupLog log;
  OpenLog(log, co.LogFile);
  TConsoleHost host("check", !opt.Quiet && StderrIsTerminal(), log, {});
  vr::TCheckReport report = vr::TCheckRun(host, options).Execute();
  host.Finish();
  PrintReport(report, co.Json, "");
  return report.Healthy() ? 0 : 1;
}

int CmdRepair(const CheckOptions& co, const Options& opt) {
  const vr::TCheckOptions options = RunOptions(co);
  if (options.Media.empty()) throw ToolError("repair needs the game's media (--medium)");
  vr::TSetupLog log;
  OpenLog(log, co.LogFile);
  TConsoleHost host("repair", !opt.Quiet && StderrIsTerminal(), log, {});
  TInterruptScope interrupt;
  vr::TRepairOutcome outcome = vr::TRepairRun(host, options).Execute();
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
