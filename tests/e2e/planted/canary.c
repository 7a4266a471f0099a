/* A program or library planted where the setup program runs: built as a DLL under the name of a system
 * library, or as an EXE in place of the temp copy. Whatever loads or starts it leaves a file
 * "NAME.loaded" (holding its full path) in the folder %VR_CANARY_DIR%. Test use only. */
#include <windows.h>

static void Record(HMODULE self) {
  wchar_t dir[1024], path[1024], out[2100];
  const DWORD n = GetEnvironmentVariableW(L"VR_CANARY_DIR", dir, 1024);
  if (!n || n >= 1024 || !GetModuleFileNameW(self, path, 1024)) return;
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p; ++p)
    if (*p == L'\\' || *p == L'/') name = p + 1;
  wsprintfW(out, L"%s\\%s.loaded", dir, name);
  HANDLE h = CreateFileW(out, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(h, path, (DWORD)(lstrlenW(path) * sizeof(wchar_t)), &written, NULL);
  CloseHandle(h);
}

#ifdef CANARY_EXE
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR line, int show) {
  (void)previous;
  (void)line;
  (void)show;
  Record(instance);
  return 0;
}
#else
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) Record(instance);
  return TRUE;
}
#endif
