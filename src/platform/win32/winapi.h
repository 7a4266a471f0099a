// <windows.h> and the shell headers, without the A/W macros whose names collide with the methods of
// TPlatform (DeleteFile, CopyFile, CreateMutex, ...). Code that needs those calls names the W function.
#pragma once

#include <windows.h>
// Order matters: shlobj.h needs windows.h first.
#include <shellapi.h>
#include <shlobj.h>
// Access lists and the system's random source (both in advapi32).
#include <ntsecapi.h>
#include <sddl.h>

#undef CopyFile
#undef CreateDirectory
#undef CreateMutex
#undef DeleteFile
#undef FindResource
#undef GetDiskFreeSpace
#undef GetFileAttributes
#undef GetShortPathName
#undef GetSystemDirectory
#undef GetTempPath
#undef GetWindowsDirectory
#undef OpenMutex
#undef RemoveDirectory
#undef SetCurrentDirectory
#undef SetFileAttributes
#undef ShellExecute
#undef WritePrivateProfileString
