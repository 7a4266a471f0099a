// The entry sequence of the setup program: finds the package, loads its settings, keeps one instance
// per game, decides between launcher, wizard, temp copy and game start, and cleans up in order.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/forms.h"
#include "startup/setupswitches.h"

namespace vr {

class TRovaInstallSet;
class TVrFileCollection;

// What one run is started with.
struct TStartupEnvironment {
  // Full path of the running executable (code page 932).
  std::string ExeName;
  // Command-line arguments after the program name; only the first one is used.
  std::vector<std::string> Params;
};

// The objects the start-up sequence owns for the whole run. The launcher, the backdrop window and the
// wizard reach them here and never free them.
struct TSetupGlobals {
  TRovaInstallSet* Settings = nullptr;   // the install settings
  TVrFileCollection* Archive = nullptr;  // the open game archive; nullptr in uninstaller mode
  std::string ExeName;                   // the running executable
  // The folder of the package's loose files and settings (the first argument, or the executable's
  // folder), with a trailing backslash; in uninstaller mode the game folder.
  std::string SourceFolder;
};
TSetupGlobals& SetupGlobals();

// Creates the install wizard owned by the backdrop window. The start-up sequence shows it modally once
// and releases it. Without a factory of its own the program shows TFormPending.
using TWizardFactory = std::function<TForm*(TForm* owner)>;
// Installs a factory (an empty one restores the default) and returns the previous one.
TWizardFactory SetWizardFactory(TWizardFactory factory);

// Runs the install (or, for an installed game, the uninstall) without a window, for /SILENT and
// /VERYSILENT: reads SetupGlobals() like the wizard and returns the process exit code. Without one the
// unattended mode refuses to start.
using TUnattendedRunner = std::function<int(const TSetupSwitches& switches, TSetupLog& log)>;
// Installs a runner (an empty one removes it) and returns the previous one.
TUnattendedRunner SetUnattendedRunner(TUnattendedRunner runner);

// Values the launcher window leaves in LaunchMode.
constexpr int lmStartGame = 0;
constexpr int lmInstall = 1;

// What a run did, for callers that want to look.
struct TStartupReport {
  enum class TEnd {
    NotAdministrator,  // refused before anything was created
    NoSettings,        // "install.dat" missing beside the package
    GameRunning,       // the game's mutex exists
    SecondInstance,    // another installer for the same title runs
    LauncherClosed,    // the launcher was left with Exit or the close box
    CopyFailed,        // no temp copy could be made
    Wizard,            // the wizard ran in this process
    Started,           // RunTarget was started
    StartFailed,       // starting RunTarget failed
    Error,             // an error reached the default error report
    BadSwitch,         // a switch was not understood
    Help,              // the list of switches was shown
    Unattended,        // the unattended run ran in this process
  } End = TEnd::Error;
  // The process exit code: always 0 without switches.
  int ExitCode = 0;
  std::string RunTarget;
  std::string RunParameters;
};

// The arguments of a command line (the program name first is skipped) as the framework splits them:
// blanks and control characters separate, a double quote starts or ends a quoted part and is dropped,
// and a backslash is an ordinary character, so the temp copy's "D:\" arrives as D:\.
std::vector<std::string> ParamsFromCommandLine(const std::string& commandLine);

// One pass of the start-up sequence. Errors of the archive, the settings or the picture reach the
// application's default error report after everything created so far has been undone (in unattended
// mode: the log). Arguments starting with "/" are switches. Returns the exit code: 0 on every path
// without switches; with them, the outcome (kExitDone, kExitNotStarted, kExitRefused, kExitFailed).
// In unattended mode the first process hands the switches on to its temp copy and waits for it.
int RunSetup(const TStartupEnvironment& env, TStartupReport* report = nullptr);

}  // namespace vr
