#include "extractrun.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

#include "archive/bigstreams.h"
#include "archive/workers.h"
#include "framework/classes.h"
#include "platform/platform.h"
#include "platform/windowsnames.h"
#include "textconv.h"

namespace vrtool {
namespace {

// Entries read ahead: at most this many, holding at most this many stored bytes, none larger than the
// last figure (larger ones are streamed at their turn).
constexpr size_t kMaxAheadEntries = 1024;
constexpr int64_t kMaxAheadBytes = 64 << 20;
constexpr int64_t kMaxAheadEntry = 1 << 20;

std::string Shown(const vr::TVrFile& entry) { return Printable(ToUtf8(entry.Name())); }

// The English words of extract for a failure of the entry writer (the writer's own messages are
// Japanese, for the setup program).
std::string WriterMessage(const vr::TVrFile& entry, const vr::EEntryWriteError& ex) {
  const std::string path = Printable(ToUtf8(ex.Path));
  switch (ex.Fault) {
    case vr::TEntryWriteFault::UnsafeName:
      return Shown(entry) + ": refused: a name Windows cannot hold (" +
             vr::NameFaultText(vr::WindowsNameFault(entry.Name())) + ")";
    case vr::TEntryWriteFault::LinkInTheWay:
      return path + ": is a symbolic link; extract does not follow links inside the target folder";
    case vr::TEntryWriteFault::FileInTheWay:
      return path + ": a file of that name is in the way of a folder";
    case vr::TEntryWriteFault::FolderNotCreated:
      return path + ": the folder cannot be created";
    case vr::TEntryWriteFault::NoTemporary:
      return path + ": cannot be written (no temporary file can be created beside it)";
    case vr::TEntryWriteFault::WriteFailed:
      return path + ": writing failed";
    case vr::TEntryWriteFault::ChecksumMismatch:
      return path + ": the content does not match its checksum";
    case vr::TEntryWriteFault::FolderInTheWay:
      return path + ": a folder of that name is in the way";
    case vr::TEntryWriteFault::NotReplaced:
      return path + ": cannot be written";
    case vr::TEntryWriteFault::NameClash:
      return path + ": refused: the same name to Windows as " + Printable(ToUtf8(ex.Other)) +
             " (Windows does not tell upper and lower case apart)";
  }
  return path + ": " + Localize(ToUtf8(ex.Message));
}

}  // namespace

// An entry read ahead: its stored bytes, decoded and written by a worker into the temporary file the
// main thread created. Files appear only on the thread that registers them, so a cleanup signal (kept
// off the workers) finds every one.
struct TExtractRun::TAhead : vr::TWorkerJob {
  vr::TEntryWriter* Writer = nullptr;
  vr::TVrFile* Entry = nullptr;
  std::string Target, Temp;  // Temp: registered for cleanup until it is moved or removed
  vr::THandle File = vr::kInvalidHandle;
  std::vector<uint8_t> Stored;
  bool Written = false;  // the temporary file holds the content, its time is set, it is closed

  void Run() noexcept override {
    const vr::THandle h = File;
    try {
      vr::TEntryWriter::WriteStoredBytes(h, *Entry, Stored.data(), static_cast<int64_t>(Stored.size()));
      Written = true;
    } catch (...) {
      // Done again at its turn, which reports the failure.
    }
    vr::Platform().FileClose(h);
    File = vr::kInvalidHandle;
    if (!Written) vr::Platform().DeleteFile(Temp);
    Stored = std::vector<uint8_t>();
  }

  // Whatever was not moved into place goes (also when the run is left by an exception).
  ~TAhead() override {
    if (File != vr::kInvalidHandle) vr::Platform().FileClose(File);
    if (!Temp.empty()) Writer->RemoveTemp(Temp);
  }
};

TExtractRun::TExtractRun(vr::TVrFileCollection& archive, const std::string& target, ProgressBar& bar)
    : archive_(archive), bar_(bar), writer_(target) {
  writer_.TempStem = "~vrtool-";
  writer_.OnTempCreating = [](const std::string& temp) { RegisterTempFile(temp); };
  writer_.OnTempGone = [](const std::string& temp) { UnregisterTempFile(temp); };
}

template <class F>
void TExtractRun::Reporting(vr::TVrFile& entry, F&& work) {
  try {
    work();
  } catch (const vr::EEntryWriteError& ex) {
    bar_.Finish();
    PrintError(WriterMessage(entry, ex));
    ++failures_;
  } catch (const vr::Exception& ex) {
    bar_.Finish();
    PrintError(Shown(entry) + ": " + Localize(ToUtf8(ex.Message)));
    ++failures_;
  } catch (const ToolError& ex) {
    bar_.Finish();
    PrintError(ex.what());
    ++failures_;
  }
}

void TExtractRun::ExtractInTurn(vr::TVrFile& entry) {
  Reporting(entry, [&] {
    const std::string shown = bar_.Enabled() ? Shown(entry) : std::string();
    vr::TEntryWriteOptions options;
    options.Progress = [&](int64_t done) { bar_.Update(before_ + done, total_, shown); };
    writer_.Write(archive_, entry.CachedIndex(), options);
  });
}

std::unique_ptr<TExtractRun::TAhead> TExtractRun::StartAhead(vr::TVrFile& entry) {
  vr::TKoBigStream* data = archive_.DataStream.get();
  if (!data || entry.Size < 0 || entry.Size > kMaxAheadEntry || entry.Offset < 0 ||
      entry.Size > data->GetSize() - entry.Offset)
    return nullptr;
  // Names come from the file: an unsafe one (refused at its turn) has no known path.
  std::string target = writer_.KnownPath(entry.Name());
  if (target.empty()) return nullptr;
  auto ahead = std::make_unique<TAhead>();
  ahead->Stored.resize(static_cast<size_t>(entry.Size));
  if (!ReadStored(*data, entry, ahead->Stored.data())) return nullptr;
  ahead->Writer = &writer_;
  ahead->Entry = &entry;
  ahead->File = writer_.CreateTemp(target, ahead->Temp, 1);
  if (ahead->File == vr::kInvalidHandle) return nullptr;
  ahead->Target = std::move(target);
  return ahead;
}

bool TExtractRun::ReadStored(vr::TKoBigStream& data, const vr::TVrFile& entry, uint8_t* dest) {
  // Entries mostly lie one behind the other: one read of the data fills the window for many.
  if (entry.Offset < windowStart_ || entry.Offset + entry.Size > windowStart_ + windowLength_) {
    windowStart_ = entry.Offset;
    windowLength_ = 0;
    window_.resize(static_cast<size_t>(kMaxAheadEntry));
    data.SetPosition(entry.Offset);
    const int64_t got =
        data.Read(window_.data(), std::min<int64_t>(kMaxAheadEntry, data.GetSize() - entry.Offset));
    if (got < entry.Size) return false;
    windowLength_ = got;
  }
  if (entry.Size > 0)
    std::memcpy(dest, window_.data() + (entry.Offset - windowStart_), static_cast<size_t>(entry.Size));
  return true;
}

void TExtractRun::FinishAhead(TAhead& ahead) {
  vr::TVrFile& entry = *ahead.Entry;
  if (!ahead.Written) {
    ExtractInTurn(entry);
    return;
  }
  Reporting(entry, [&] {
    writer_.MoveIntoPlace(ahead.Temp, ahead.Target);
    ahead.Temp.clear();
    if (bar_.Enabled()) bar_.Update(before_ + entry.Size, total_, Shown(entry));
  });
}

int TExtractRun::Run(const std::vector<vr::TVrFile*>& todo) {
  total_ = 0;
  for (vr::TVrFile* e : todo) total_ += std::max<int64_t>(e->Size, 0);
  before_ = 0;
  failures_ = 0;
  // Declared before the workers: the threads end before the jobs they run go.
  std::deque<std::unique_ptr<TAhead>> ahead;
  vr::TWorkers workers(vr::DefaultWorkerThreads());
  int64_t held = 0;
  size_t next = 0;  // the next entry to start ahead
  for (size_t i = 0; i < todo.size(); ++i) {
    while (next < todo.size() && ahead.size() < kMaxAheadEntries && held < kMaxAheadBytes) {
      std::unique_ptr<TAhead> job = StartAhead(*todo[next]);
      if (!job) break;  // it waits for its turn
      held += job->Entry->Size;
      workers.Submit(*job);
      ahead.push_back(std::move(job));
      ++next;
    }
    if (next == i) {
      ExtractInTurn(*todo[i]);
      ++next;
    } else {
      std::unique_ptr<TAhead> job = std::move(ahead.front());
      ahead.pop_front();
      workers.Wait(*job);
      held -= job->Entry->Size;
      FinishAhead(*job);
    }
    before_ += std::max<int64_t>(todo[i]->Size, 0);
  }
  return failures_;
}

}  // namespace vrtool
