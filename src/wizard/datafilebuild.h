// The installed data file as a run builds or rebuilds it from a package's archives: the old data file
// set aside, newer entries merged medium by medium. Every change goes through the run's journal first,
// so a run that fails or is killed leaves the data file as it was.
#pragma once

#include <string>

namespace vr {

class TInstallJournal;
class TVrFileCollection;

class TDataFileBuild {
 public:
  // destination: the game folder, with a trailing backslash.
  TDataFileBuild(TInstallJournal& journal, const std::string& destination);

  // Sets aside "game.dat", its directory file and its part files up to the first missing number
  // (EVrError with the system's reason when one cannot be).
  void SetAsideOld();
  // Merges the package's newer entries into `data` (open on the destination's data file): the project
  // entry's first version keeps a name of its own, the data file's length, directory and the part files
  // the merge may create are noted first. MergeFrom's result.
  bool Merge(TVrFileCollection& data, TVrFileCollection& package);

 private:
  void NoteDataFile(TVrFileCollection& data);
  void NoteNewParts(TVrFileCollection& data, TVrFileCollection& package);

  TInstallJournal& journal_;
  std::string destination_;
  // The data file is in the journal; its part files from this number on are not noted yet.
  bool noted_ = false;
  int partsNoted_ = 1;
};

}  // namespace vr
