// setup.exe: the entry point of the Windows program.
#include <exception>
#include <string>

#include "archive/vrfiles.h"
#include "framework/dialogs.h"
#include "framework/forms.h"
#include "framework/win32/win32widgets.h"
#include "platform/codepage.h"
#include "platform/platform.h"
#include "startup/startup.h"
#include "wizard/insttype.h"
#include "wizard/unattended.h"

// Last: its colour macros would clash with the framework's functions of the same names.
#include <windows.h>
// After windows.h.
#include <objbase.h>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  // The library search is limited to the system folder before this runs (apps/common/win32entry.cpp).
  try {
    // The shell's link object is a COM object; the user-interface thread joins COM once for the run.
    CoInitialize(nullptr);
    vr::Application->SetWidgetSet(vr::CreateWin32WidgetSet());
    // Shell calls (programs started, folders opened, file operations) are owned by the application window.
    vr::SetOwnerWindowSource([]() { return vr::Application->Handle(); });
    // An entry the archive writer cannot write is named in a message box before the error goes on.
    vr::SetVrErrorReporter(
        [](const std::string& message) { vr::SysMessageBox(message, vr::Application->Title(), vr::mbfOk); });
    const wchar_t* line = GetCommandLineW();
    std::u16string wide;
    for (; line && *line; ++line) wide += static_cast<char16_t>(*line);
    vr::TStartupEnvironment env;
    env.ExeName = vr::Platform().ModuleFileName();
    env.Params = vr::ParamsFromCommandLine(vr::Utf16ToCp932(wide));
    vr::SetWizardFactory([](vr::TForm* owner) -> vr::TForm* {
      const vr::TSetupGlobals& g = vr::SetupGlobals();
      return vr::CreateForm<vr::TFormType>(owner, *g.Settings, g.Archive, g.SourceFolder);
    });
    vr::SetUnattendedRunner([](const vr::TSetupSwitches& switches, vr::TSetupLog& log) {
      const vr::TSetupGlobals& g = vr::SetupGlobals();
      if (g.Settings->Uninstaller)
        return vr::RunUnattendedUninstall(*g.Settings, g.SourceFolder, switches, log);
      if (switches.Repair) return vr::RunUnattendedRepair(*g.Settings, g.SourceFolder, switches, log);
      return vr::RunUnattendedInstall(*g.Settings, g.Archive, g.SourceFolder, switches, log);
    });
    return vr::RunSetup(env);
  } catch (const std::exception& e) {
    // Errors are reported inside the run; this catches what failed before a window could exist.
    vr::Application->HandleException(e);
  } catch (...) {
    // Nothing to show.
  }
  // Only reached when the start-up itself failed; without switches the exit code stays 0 as on every
  // other path.
  return 0;
}
