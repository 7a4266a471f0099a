// The switches of the setup program's unattended mode, its exit codes and its log. Arguments that do
// not start with "/" keep their plain meaning (the package or game folder).
#pragma once

#include <string>
#include <vector>

namespace vr {

// Process exit codes of an unattended run. Without switches the program always ends with 0.
constexpr int kExitDone = 0;
constexpr int kExitNotStarted = 1;  // bad switch, no package, another instance, the game running
constexpr int kExitRefused = 3;     // refused before anything was written
constexpr int kExitFailed = 4;      // failed or cancelled during the run

struct TSetupSwitches {
  bool Silent = false;      // /SILENT
  bool VerySilent = false;  // /VERYSILENT
  bool SuppressMsgBoxes = false;
  bool Help = false;  // /? or /HELP
  bool HasDir = false;
  std::string Dir;  // /DIR=
  bool HasComponents = false;
  bool Data = true, Sound = true, Movie = true;  // /COMPONENTS=data,sound,movie
  bool NoIcons = false;
  std::vector<std::string> MediaDirs;  // /MEDIADIRS=dir2;dir3
  std::string LogFile;                 // /LOG=
  bool DeleteSave = false;             // /DELETESAVE
  bool Repair = false;                 // /REPAIR: check and repair the game in /DIR from this medium
  std::vector<std::string> Plain;      // the other arguments, in order
  // /TEMPCOPY=token: handed by the program to its own temp copy, which knows itself by it.
  std::string TempCopyToken;
  // Text of the first bad switch; empty when every switch was understood.
  std::string Error;
  // Any switch at all was given.
  bool Any = false;

  bool Unattended() const { return Silent || VerySilent; }
};

// Reads the switches from the arguments (case-insensitive names, "/NAME" or "/NAME=value").
TSetupSwitches ParseSetupSwitches(const std::vector<std::string>& params);

// The non-empty items of a list such as "data,sound" or "E:\;F:\", in order.
std::vector<std::string> SplitList(const std::string& text, char separator);

// The switches again as command-line text (values in double quotes), for a copy of the program that
// is to do the same run; empty when there are none.
std::string SwitchesCommandLine(const TSetupSwitches& switches);

// The list of switches shown for /? and /HELP.
extern const char* const kSwitchesHelp;

// Text (UTF-8) made safe for a terminal or a log line: control characters (C0, DEL, C1) are shown as
// escapes (\x1b, \r, \u0085 ...); everything else is kept.
std::string Printable(const std::string& utf8);

// The unattended run's record: UTF-8 lines, each written through at once, so that a copy of the
// program started later can go on with the same file. Inert without a file name.
class TSetupLog {
 public:
  // append: keep what the file holds (a copy continuing its starter's log). False when the file
  // cannot be made; the log then still tries each line.
  bool Open(const std::string& fileName, bool append);
  bool IsOpen() const { return !fileName_.empty(); }
  // A line of code page 932 text. Line breaks (CR LF) of a message become blanks and any other control
  // character, which only a name can bring, is escaped (Printable). A log that cannot be written loses
  // the line, never the run.
  void Line(const std::string& text);

 private:
  std::string fileName_;
};

}  // namespace vr
