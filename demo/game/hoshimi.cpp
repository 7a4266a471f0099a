// The demo's game: a window titled in Japanese that shows the ANSI code page it runs under, its
// folder and its arguments. Texts are code page 932 bytes handed to the ANSI functions, as the games
// this setup program installs do: under any other code page they come out garbled.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const char kTitle[] = "星見の丘 体験版 ゲーム画面";

std::string lines;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT area;
      GetClientRect(window, &area);
      FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      HFONT font =
          CreateFontA(-20, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "ＭＳ Ｐゴシック");
      HGDIOBJ old = SelectObject(dc, font);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(255, 236, 160));
      InflateRect(&area, -24, -24);
      DrawTextA(dc, lines.c_str(), -1, &area, DT_LEFT | DT_TOP | DT_WORDBREAK);
      SelectObject(dc, old);
      DeleteObject(font);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_KEYDOWN:
      if (wparam == VK_ESCAPE) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int show) {
  char folder[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof folder, folder);
  char codepage[64];
  std::snprintf(codepage, sizeof codepage, "%u", GetACP());
  lines = std::string("星見の丘へようこそ。\r\n\r\nANSI コードページ: ") + codepage +
          (GetACP() == 932 ? "（日本語）" : "（日本語ではありません）") + "\r\n作業フォルダ: " + folder +
          "\r\n引数: " + arguments + "\r\n\r\nEsc キーで終了します。";

  WNDCLASSA type = {};
  type.lpfnWndProc = WindowProc;
  type.hInstance = instance;
  type.hCursor = LoadCursor(nullptr, IDC_ARROW);
  type.lpszClassName = "HoshimiDemoGame";
  if (!RegisterClassA(&type)) return 1;
  HWND window = CreateWindowExA(0, type.lpszClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 640, 360, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);
  UpdateWindow(window);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
