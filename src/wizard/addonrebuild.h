// Add-on install into a game that is one executable with its archive appended: the executable's
// archive is rebuilt in a work folder from its old entries and the add-on's entries, appended to the
// program part again, checked by the install run, and copied back over the executable.
#pragma once

#include <functional>
#include <string>

namespace vr {

class TVrFileCollection;

// The steps the install run calls for an add-on whose destination holds no "install.dat". The work
// folder is deleted when the object goes, whatever path the run took.
class TAddonRebuild {
 public:
  // destination: the install folder with a trailing backslash; title: the add-on's Title.
  TAddonRebuild(const std::string& destination, const std::string& title);
  ~TAddonRebuild();
  TAddonRebuild(const TAddonRebuild&) = delete;
  TAddonRebuild& operator=(const TAddonRebuild&) = delete;

  // Preparing: finds the executable of the same title in the destination (it may be none) and creates
  // the work folder in the temp folder ("作業用フォルダが作成できません" when it cannot be made).
  void Prepare();
  // Full path of the executable to rebuild; empty when there is none.
  const std::string& Target() const { return target_; }
  // The work folder with a trailing backslash; empty until Prepare made one.
  const std::string& WorkFolder() const { return workFolder_; }

  // Taking the add-on's entries: every entry of the package archive that is not separate, written as
  // a file in the work folder and added to the data archive (which is open on the work folder).
  // Superseded entries ("/" + name) are left out. A name that would leave the work folder, or that
  // would overwrite "~" + the target's name or "~rvupdate.*", raises "%s:ファイル名が正しくありません".
  void TakeAddonEntries(TVrFileCollection& package, TVrFileCollection& data);
  // Taking the target's old entries: every entry of the target's archive that the data archive does
  // not hold yet, the same way.
  void TakeOldEntries(TVrFileCollection& data);
  // Rebuilding: the new program file (the add-on's entry named like the target, from this medium or
  // an earlier one, or else the target's own program part, refused when its trailer does not point at
  // an archive inside the file), the data archive written as a new archive through its OnProgress and
  // appended to it; the data archive is then open on the new executable. False when cancelled through
  // OnProgress.
  bool Rebuild(TVrFileCollection& package, TVrFileCollection& data);
  // Copying back: the new executable is copied beside the target and renamed over it, so the target is
  // never left half written; when that fails the old executable stays and EVrError is raised.
  // `beforeCreate` hears of the temporary file's name before it is made.
  void CopyBack(const std::function<void(const std::string&)>& beforeCreate = nullptr);
  // DeleteTree of the work folder (also done by the destructor).
  void DeleteWorkFolder();

 private:
  // The target's file name without folder, and the new executable built in the work folder.
  std::string TargetName() const;
  std::string NewExecutable() const;
  // Writes entry `index` of `source` as the file WorkFolder + its name, dated with its time, and
  // records it in the data archive (an entry of that name already there is taken over, not doubled).
  // Names that would leave the work folder or clash with the rebuild's own files raise EVrError.
  void TakeEntry(TVrFileCollection& source, int index, TVrFileCollection& data);
  // Copies the target's program part (the bytes before its appended archive) to `fileName`.
  void CopyProgramPart(const std::string& fileName) const;
  void RequireWorkFolder() const;

  std::string destination_;
  std::string title_;
  std::string target_;
  std::string workFolder_;
  // The add-on's copy of the target executable, when one of its media carried it (in the work folder).
  std::string addonProgram_;
};

}  // namespace vr
