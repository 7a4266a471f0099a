// Small helpers of the tests that drive real windows (Windows builds, under Wine).
#pragma once
#ifdef _WIN32

#include <string>

#include "framework/forms.h"

// clang-format off
#include <windows.h>
// clang-format on

namespace vr {

inline HWND H(TWinControl* c) { return reinterpret_cast<HWND>(c->Handle()); }

inline std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[512] = {0};
  GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

// Presses the button captioned `button` of the program's dialog window captioned `caption`; false when
// no such dialog is up.
inline bool PressDialogButton(const wchar_t* caption, const wchar_t* button) {
  HWND dialog = FindWindowW(L"VrForm", caption);
  if (!dialog) return false;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (TextOf(child) == button) PostMessageW(child, BM_CLICK, 0, 0);
  return true;
}

}  // namespace vr

#endif
