// The repair run: the check, then from the media every missing or damaged recorded file written again
// (loose files copied, separate entries extracted), damaged data file entries written again in their
// stored form in place, or the whole data file rebuilt when its directory or a part file is lost;
// then the check once more. Every change goes through an install journal: a repair that fails or is
// stopped puts back what it replaced, and one that is killed is finished by the next run. Files the
// install did not record (save data, files the game made) are never touched.
#pragma once

#include <memory>
#include <string>

#include "wizard/checkrun.h"
#include "wizard/runhost.h"

namespace vr {

class TInstallJournal;
class TEntryWriter;

struct TRepairOutcome {
  // reCompleted: healthy afterwards (or before); reFailed: damage left (see After) or an error.
  TRunEnd End = TRunEnd::reCompleted;
  bool RolledBack = false;
  std::string Error;
  TCheckReport Before, After;
};

class TRepairRun {
 public:
  TRepairRun(TRunHost& host, TCheckOptions options);
  ~TRepairRun();

  // Needs at least one medium. Errors of the first check (no installed game, a medium of another
  // title) propagate; errors of the repair end it as reFailed after the rollback.
  TRepairOutcome Execute();

 private:
  struct TAbort {};
  void CheckAbort();
  void Repair(const TCheckReport& report, TCheckRun& check);
  void RepairFile(const TCheckedFile& file, TCheckRun& check);
  bool PatchEntries(const TCheckReport& report, TCheckRun& check);
  void RebuildDataFile(TCheckRun& check);

  TRunHost& host_;
  TCheckOptions options_;
  std::string folder_;
  std::unique_ptr<TInstallJournal> journal_;
  std::unique_ptr<TEntryWriter> writer_;
};

}  // namespace vr
