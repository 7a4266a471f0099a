#include "extractrun.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <random>

#include "archive/bigstreams.h"
#include "archive/workers.h"
#include "archiveaccess.h"
#include "framework/classes.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "textconv.h"

namespace vrtool {
namespace {

// Entries read ahead: at most this many, holding at most this many stored bytes, none larger than the
// last figure (larger ones are streamed at their turn).
constexpr size_t kMaxAheadEntries = 1024;
constexpr int64_t kMaxAheadBytes = 64 << 20;
constexpr int64_t kMaxAheadEntry = 1 << 20;

std::string Shown(const vr::TVrFile& entry) { return Printable(ToUtf8(entry.Name())); }

// A temporary name in `folder`: a random stem for the run and a counter, so no two files of one run try
// the same name (which would make the folder's kept listing look the name up on disk). Later attempts
// for one file add a random part.
std::string TempName(const std::string& folder, int attempt) {
  static std::mt19937 random{std::random_device{}()};
  static const std::string stem = "~vrtool-" + std::to_string(random() % 100000000u) + "-";
  static uint64_t serial = 0;
  return folder + stem + std::to_string(serial++) +
         (attempt > 0 ? "-" + std::to_string(random() % 1000000u) : "") + ".tmp";
}

// Creates a new temporary file beside `target` (exclusively, so no link is followed), trying up to
// `attempts` names, and sets `temp` to its name; the file is registered for cleanup before it exists,
// so an interruption at any point finds it. kInvalidHandle (temp empty) when no name could be created.
vr::THandle CreateTempBeside(const std::string& target, int attempts, std::string& temp) {
  const std::string folder = vr::ExtractFilePath(target);
  for (int attempt = 0; attempt < attempts; ++attempt) {
    temp = TempName(folder, attempt);
    RegisterTempFile(temp);
    const vr::THandle h = vr::Platform().FileCreateNew(temp);
    if (h != vr::kInvalidHandle) return h;
    UnregisterTempFile(temp);
  }
  temp.clear();
  return vr::kInvalidHandle;
}

// Moves the written temporary file over the target. The move refuses a folder in the way; only then is
// it worth a look to tell why.
void MoveIntoPlace(const std::string& temp, const std::string& target) {
  if (vr::Platform().MoveFileReplace(temp, target)) return;
  const std::string shown = Printable(ToUtf8(target));
  if (vr::Platform().GetFileKind(target) == vr::TFileKind::Directory)
    throw ToolError(shown + ": a folder of that name is in the way");
  throw ToolError(shown + ": cannot be written");
}

// Copies a stored entry of a data file into the new file `h` inside the system (one copy, as cp makes).
// False, with the file left empty, for any other entry or when the system refuses the copy: the entry
// is then decoded through memory, which also reports damaged data.
bool CopyStoredInSystem(vr::TVrFileCollection& archive, const vr::TVrFile& entry, vr::THandle h,
                        const std::function<void(int64_t)>& progress) {
  const bool stored = entry.Kind != vr::skCompressed && entry.Kind != vr::skScrambled &&
                      entry.Kind != vr::skCompressedScrambled;
  auto* data = dynamic_cast<vr::TKoBigFileStream*>(archive.DataStream.get());
  if (!stored || !data || entry.Size <= 0 || entry.Offset < 0) return false;
  data->SetPosition(entry.Offset);
  if (data->GetPosition() != entry.Offset) return false;
  const int64_t done = data->CopyToFileInSystem(h, 0, entry.Size);
  if (done == entry.Size) {
    if (progress) progress(done);
    return true;
  }
  if (done > 0 && !vr::Platform().FileSetSize(h, 0)) throw ToolError("the temporary file cannot be emptied");
  return false;
}

// Writes the entry under a new temporary name beside the target (created exclusively, so no link is
// followed), then renames it over the target: a failure leaves no truncated file under the real name,
// and an existing link of the entry's name is replaced, not written through.
void WriteEntryFile(vr::TVrFileCollection& archive, vr::TVrFile& entry, const std::string& target,
                    const std::function<void(int64_t)>& progress) {
  std::string temp;
  const vr::THandle h = CreateTempBeside(target, 100, temp);
  if (h == vr::kInvalidHandle)
    throw ToolError(Printable(ToUtf8(target)) +
                    ": cannot be written (no temporary file can be created beside it)");
  bool open = true;
  try {
    vr::THandleStream out(h);
    if (!CopyStoredInSystem(archive, entry, h, progress)) {
      DecodeEntry(
          archive, entry,
          [&](const uint8_t* data, size_t size) { out.WriteBuffer(data, static_cast<int32_t>(size)); },
          progress);
    }
    if (entry.Time != 0) vr::Platform().FileSetDosTime(h, static_cast<uint32_t>(entry.Time));
    open = false;
    vr::Platform().FileClose(h);
    MoveIntoPlace(temp, target);
  } catch (...) {
    if (open) vr::Platform().FileClose(h);
    vr::Platform().DeleteFile(temp);
    UnregisterTempFile(temp);
    throw;
  }
  UnregisterTempFile(temp);
}

}  // namespace

TTargetFolders::TTargetFolders(const std::string& root) : root_(vr::ExcludeTrailingBackslash(root)) {}

std::string TTargetFolders::Prepare(const std::string& name) { return Walk(name, true); }

std::string TTargetFolders::KnownPath(const std::string& name) { return Walk(name, false); }

std::string TTargetFolders::Walk(const std::string& name, bool prepare) {
  std::vector<std::string> parts = vr::SplitPath(name);
  std::string path = root_;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (parts[i].empty()) continue;
    path += "\\" + parts[i];
    if (known_.count(path)) continue;
    if (!prepare) return std::string();
    vr::TFileKind kind = vr::Platform().GetFileKind(path);
    if (kind == vr::TFileKind::None) {
      // Created right here: a link put in its place meanwhile makes the next check fail.
      if (!vr::Platform().CreateDirectory(path))
        kind = vr::Platform().GetFileKind(path);
      else
        kind = vr::TFileKind::Directory;
      if (kind == vr::TFileKind::None)
        throw ToolError(Printable(ToUtf8(path)) + ": the folder cannot be created");
    }
    if (kind == vr::TFileKind::Link)
      throw ToolError(Printable(ToUtf8(path)) +
                      ": is a symbolic link; extract does not follow links inside the target folder");
    if (kind != vr::TFileKind::Directory)
      throw ToolError(Printable(ToUtf8(path)) + ": a file of that name is in the way of a folder");
    known_.insert(path);
  }
  // A name ending with a delimiter stands for a folder: nothing more to write.
  return parts.back().empty() ? std::string() : path + "\\" + parts.back();
}

// An entry read ahead: its stored bytes, decoded and written by a worker into the temporary file the
// main thread created. Files appear only on the thread that registers them, so a cleanup signal (kept
// off the workers) finds every one.
struct TExtractRun::TAhead : vr::TWorkerJob {
  vr::TVrFile* Entry = nullptr;
  std::string Target, Temp;  // Temp: registered for cleanup until it is moved or removed
  vr::THandle File = vr::kInvalidHandle;
  std::vector<uint8_t> Stored;
  bool Written = false;  // the temporary file holds the content, its time is set, it is closed

  void Run() noexcept override {
    const vr::THandle h = File;
    try {
      vr::THandleStream out(h);
      vr::DecodeStoredBytes(
          Stored.data(), static_cast<int64_t>(Stored.size()), Entry->Kind, Entry->Name(),
          [&](const uint8_t* data, size_t size) { out.WriteBuffer(data, static_cast<int32_t>(size)); });
      if (Entry->Time != 0) vr::Platform().FileSetDosTime(h, static_cast<uint32_t>(Entry->Time));
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
    if (Temp.empty()) return;
    vr::Platform().DeleteFile(Temp);
    UnregisterTempFile(Temp);
  }
};

TExtractRun::TExtractRun(vr::TVrFileCollection& archive, const std::string& target, ProgressBar& bar)
    : archive_(archive), bar_(bar), folders_(target) {}

template <class F>
void TExtractRun::Reporting(vr::TVrFile& entry, F&& work) {
  try {
    work();
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
  // Names come from the file: nothing may land outside the target folder.
  if (!vr::IsSafeRelativeName(entry.Name())) {
    bar_.Finish();
    PrintError(Shown(entry) + ": refused: the name leaves the target folder or names a device");
    ++failures_;
    return;
  }
  Reporting(entry, [&] {
    const std::string path = folders_.Prepare(entry.Name());
    if (path.empty()) return;
    const std::string shown = bar_.Enabled() ? Shown(entry) : std::string();
    WriteEntryFile(archive_, entry, path, [&](int64_t done) { bar_.Update(before_ + done, total_, shown); });
  });
}

std::unique_ptr<TExtractRun::TAhead> TExtractRun::StartAhead(vr::TVrFile& entry) {
  vr::TKoBigStream* data = archive_.DataStream.get();
  if (!data || entry.Size < 0 || entry.Size > kMaxAheadEntry || entry.Offset < 0 ||
      entry.Size > data->GetSize() - entry.Offset || !vr::IsSafeRelativeName(entry.Name()))
    return nullptr;
  std::string target = folders_.KnownPath(entry.Name());
  if (target.empty()) return nullptr;
  auto ahead = std::make_unique<TAhead>();
  ahead->Stored.resize(static_cast<size_t>(entry.Size));
  if (!ReadStored(*data, entry, ahead->Stored.data())) return nullptr;
  ahead->Entry = &entry;
  ahead->File = CreateTempBeside(target, 1, ahead->Temp);
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
    MoveIntoPlace(ahead.Temp, ahead.Target);
    UnregisterTempFile(ahead.Temp);
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
