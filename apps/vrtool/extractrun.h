// Writing an archive's entries as files below a target folder (vrtool extract).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/vrfiles.h"
#include "console.h"

namespace vrtool {

// The folders below the target folder, created one level at a time. A level that is a symbolic link
// (or anything but a folder) is refused, never followed; levels already checked in this run are not
// looked at again, so many entries in one folder and deep names cost linear time.
class TTargetFolders {
 public:
  explicit TTargetFolders(const std::string& root);

  // The path the entry's file goes to (its folders created or checked), or "" for a folder entry.
  std::string Prepare(const std::string& name);
  // The same without touching the disk: "" unless every folder of the name was prepared already and
  // the name is a file's.
  std::string KnownPath(const std::string& name);

 private:
  // The path of the name's file; with `prepare`, folders not known yet are checked or created, else
  // the first of them makes the answer "".
  std::string Walk(const std::string& name, bool prepare);

  std::string root_;
  std::unordered_set<std::string> known_;
};

// Writes entries in their order, each under a temporary name beside its file and then renamed over it.
// Small entries are read ahead and decoded and written by worker threads while earlier ones are
// renamed; an entry waits for its turn whenever it needs a folder not yet prepared, or is large, or
// could not be done ahead (it is then done again at its turn, which reports what went wrong). Files,
// messages and progress come out as if every entry were done in turn.
class TExtractRun {
 public:
  TExtractRun(vr::TVrFileCollection& archive, const std::string& target, ProgressBar& bar);

  // Extracts the entries, printing one message for each that fails; returns the number of failures.
  int Run(const std::vector<vr::TVrFile*>& todo);

 private:
  struct TAhead;
  std::unique_ptr<TAhead> StartAhead(vr::TVrFile& entry);
  // Copies the entry's stored bytes to dest through a window of the data; false when they cannot be read.
  bool ReadStored(vr::TKoBigStream& data, const vr::TVrFile& entry, uint8_t* dest);
  void FinishAhead(TAhead& ahead);
  void ExtractInTurn(vr::TVrFile& entry);
  template <class F>
  void Reporting(vr::TVrFile& entry, F&& work);

  vr::TVrFileCollection& archive_;
  ProgressBar& bar_;
  TTargetFolders folders_;
  int64_t total_ = 0;
  int64_t before_ = 0;  // bytes of the entries done before the current one
  int failures_ = 0;
  std::vector<uint8_t> window_;
  int64_t windowStart_ = 0, windowLength_ = 0;
};

}  // namespace vrtool
