// The shell file operation component: one copy, move, delete or rename through the shell, with option
// flags and an optional progress title.
#pragma once

#include <cstdint>
#include <string>

#include "framework/classes.h"
#include "framework/forms.h"

namespace vr {

enum TFileOpFlag : uint8_t {
  fofMultiDestFiles,
  fofConfirmMouse,
  fofSilent,
  fofRenameOnCollision,
  fofNoConfirmation,
  fofWantMappingHandle,
  fofAllowUndo,
  fofFilesOnly,
  fofSimpleProgress,
  fofNoConfirmMkdir,
  fofNoErrorUI,
};

// A set of TFileOpFlag.
class TFileOpFlags {
 public:
  TFileOpFlags() = default;
  TFileOpFlags(std::initializer_list<TFileOpFlag> flags) {
    for (TFileOpFlag f : flags) Include(f);
  }
  void Include(TFileOpFlag f) { bits_ |= Bit(f); }
  void Exclude(TFileOpFlag f) { bits_ &= static_cast<uint16_t>(~Bit(f)); }
  bool Contains(TFileOpFlag f) const { return (bits_ & Bit(f)) != 0; }
  bool operator==(const TFileOpFlags& other) const { return bits_ == other.bits_; }

 private:
  static uint16_t Bit(TFileOpFlag f) { return static_cast<uint16_t>(1u << f); }
  uint16_t bits_ = 0;
};

// The shell's flag word for a set of options (fofWantMappingHandle is never passed on).
uint16_t ShellFileOpFlags(const TFileOpFlags& options);

class TFileOperation : public TComponent {
 public:
  explicit TFileOperation(TComponent* owner);

  TStringList& FromFiles() { return fromFiles_; }
  TStringList& ToFiles() { return toFiles_; }
  // Assignment copies the given list's lines.
  void SetFromFiles(const TStringList& files) { fromFiles_.Items() = files.Items(); }
  void SetToFiles(const TStringList& files) { toFiles_.Items() = files.Items(); }
  TFileOpFlags Options{fofAllowUndo, fofFilesOnly};
  std::string Title;

  // One shell file operation (foCopy, foMove, foDelete, foRename) on texts in the shell's form (names
  // separated by a zero byte, ended by two). True when the shell reports that something was aborted.
  // FromFiles and ToFiles are not read.
  bool Execute(uint32_t operation, const std::string& source, const std::string& destination);

 private:
  TStringList fromFiles_;
  TStringList toFiles_;
};

}  // namespace vr
