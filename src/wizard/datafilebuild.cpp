// Building the installed data file through the run's journal. See datafilebuild.h.
#include "wizard/datafilebuild.h"

#include "archive/bigstreams.h"
#include "archive/vrfiles.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "startup/instset.h"
#include "startup/syshelpers.h"
#include "wizard/installjournal.h"

namespace vr {

namespace {

const char kProjectEntry[] = "rova.rpb";
const char kOriginalProjectEntry[] = "/original_rova.rpb";

}  // namespace

TDataFileBuild::TDataFileBuild(TInstallJournal& journal, const std::string& destination)
    : journal_(journal), destination_(destination) {}

void TDataFileBuild::SetAsideOld() {
  const std::string data = destination_ + kDataFileName;
  auto setAside = [&](const std::string& path) {
    if (!journal_.SetAside(path)) {
      const std::string reason = SystemReason();
      throw EVrError(path + "\r\nファイルを削除できません" + reason);
    }
  };
  setAside(data);
  setAside(ChangeFileExt(data, ".ext"));
  for (int n = 1; FileExists(TKoBigFileStream::PartFileName(data, n)); ++n)
    setAside(TKoBigFileStream::PartFileName(data, n));
}

bool TDataFileBuild::Merge(TVrFileCollection& data, TVrFileCollection& package) {
  // The project entry's first version keeps a name of its own in a data file.
  if (data.IndexOf(kOriginalProjectEntry) < 0) {
    const int project = data.IndexOf(kProjectEntry);
    if (project >= 0) data.Items(project)->SetName(kOriginalProjectEntry);
  }
  NoteDataFile(data);
  NoteNewParts(data, package);
  return data.MergeFrom(package);
}

// Before the first merge: a data file that is there already (an add-on's game) is noted with its
// length, to be cut back, and its directory file copied aside; a new one is noted as made.
void TDataFileBuild::NoteDataFile(TVrFileCollection& data) {
  if (noted_) return;
  noted_ = true;
  const std::string file = destination_ + kDataFileName;
  const std::string directory = ChangeFileExt(file, ".ext");
  auto* stream = dynamic_cast<TKoBigFileStream*>(data.DataStream.get());
  if (stream && stream->PartCount() > 0) {
    // Every part but the last is full.
    const int lastIndex = stream->PartCount() - 1;
    journal_.NoteGrowth(stream->PartFileName(lastIndex), stream->GetSize() - stream->PartSize() * lastIndex);
    partsNoted_ = stream->PartCount();
  } else {
    if (!journal_.SetAside(file)) throw EVrError(file + "\r\nファイルが作成できません");
    journal_.FileCreated(file);
    partsNoted_ = 1;
  }
  if (FileExists(directory)) {
    if (!journal_.CopyAside(directory)) {
      const std::string reason = SystemReason();
      throw EVrError(directory + "\r\nファイルが作成できません" + reason);
    }
  } else {
    journal_.FileCreated(directory);
  }
  // The directory is written under a temporary name first.
  journal_.FileCreated(directory + ".tmp");
}

// The part files a merge of this archive may create, noted before they exist (whatever lies under their
// names already is set aside), so that a run killed during the merge leaves none behind.
void TDataFileBuild::NoteNewParts(TVrFileCollection& data, TVrFileCollection& package) {
  const std::string file = destination_ + kDataFileName;
  const int64_t partSize = TKoBigFileStream::DefaultPartSize();
  const int64_t size = data.DataStream ? data.DataStream->GetSize() : 0;
  const int64_t incoming = package.DataStream ? package.DataStream->GetSize() : 0;
  const int64_t lastPart = partSize > 0 ? (size + incoming) / partSize : 0;
  for (; partsNoted_ <= lastPart; ++partsNoted_) {
    const std::string part = TKoBigFileStream::PartFileName(file, partsNoted_);
    if (!journal_.SetAside(part)) throw EVrError(part + "\r\nファイルが作成できません");
    journal_.FileCreated(part);
  }
}

}  // namespace vr
