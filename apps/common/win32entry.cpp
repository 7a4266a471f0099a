// The Windows programs' entry point: before the C runtime starts, and so before any constructor or
// library call can load a library, the library search is limited to the system folder. The programs
// run from folders others may write to (a download folder, the temp folder, the game folder), and a
// library planted there under a system library's name must never be loaded.
//
// The programs import only kernel32, msvcrt and advapi32 when they start; every other system library is
// bound on its first call (cmake/DelayImports.cmake), which comes after this.
#include <windows.h>

#ifndef VR_CRT_ENTRY
#error "VR_CRT_ENTRY names the C runtime's entry point of the program"
#endif

extern "C" int VR_CRT_ENTRY();

namespace {

void RestrictLibrarySearch() {
  using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
  using TSetDllDirectoryW = BOOL(WINAPI*)(LPCWSTR);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  // Looked up by name: Windows before 7 with KB2533623 lacks SetDefaultDllDirectories. There the
  // current folder is at least taken out of the search; the program's own folder stays, which is why
  // the libraries are bound late and by the names the system resolves itself.
  auto setDefault = reinterpret_cast<TSetDefaultDllDirectories>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  auto setDirectory = reinterpret_cast<TSetDllDirectoryW>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryW")));
  if (setDirectory) setDirectory(L"");
}

}  // namespace

extern "C" __attribute__((force_align_arg_pointer)) int VrProgramEntry() {
  RestrictLibrarySearch();
  return VR_CRT_ENTRY();
}
