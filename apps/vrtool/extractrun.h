// Writing an archive's entries as files below a target folder (vrtool extract).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/entrywriter.h"
#include "archive/vrfiles.h"
#include "console.h"

namespace vrtool {

// Writes entries in their order through one entry writer (folders one level at a time, no link
// followed, each file under a temporary name beside it and then renamed over it; the temporary files are
// registered for cleanup on signals).
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
  vr::TEntryWriter writer_;
  int64_t total_ = 0;
  int64_t before_ = 0;  // bytes of the entries done before the current one
  int failures_ = 0;
  std::vector<uint8_t> window_;
  int64_t windowStart_ = 0, windowLength_ = 0;
};

}  // namespace vrtool
