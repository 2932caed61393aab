// Pelterin's entry point: a hidden window, one call to LaunchGame, and a
// message loop that ends as soon as LaunchGame has closed the window.
#include <windows.h>

#include "launch_game.h"
#include "resource.h"
#include "system_library.h"
#include "trace_output.h"

namespace {

const int kMaxLoadString = 100;
const int kWindowWidth = 300;
const int kWindowHeight = 200;

HINSTANCE g_instance;
wchar_t g_title[kMaxLoadString];
wchar_t g_window_class[kMaxLoadString];

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDM_ABOUT:
          DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, AboutDialogProc, 0);
          return 0;
        case IDM_EXIT:
          DestroyWindow(window);
          return 0;
      }
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  RestrictDllSearchToSystem32();

  LoadStringW(instance, IDS_APP_TITLE, g_title, kMaxLoadString);
  LoadStringW(instance, IDC_PELTERIN, g_window_class, kMaxLoadString);

  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = MainWindowProc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PELTERIN));
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszMenuName = MAKEINTRESOURCEW(IDC_PELTERIN);
  window_class.lpszClassName = g_window_class;
  window_class.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
  RegisterClassExW(&window_class);

  g_instance = instance;

  // Centred, though it is never shown.
  const int left = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
  HWND window = CreateWindowExW(0, g_window_class, g_title, WS_OVERLAPPEDWINDOW, left, top,
                                kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
  if (window) {
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
  }

  // Starts the game and destroys the window, which posts the quit message.
  // The launch needs no window: without one it goes ahead all the same,
  // rather than the player's double-click coming to nothing, and then
  // there is no message loop to drain. Its trace follows, when nothing the
  // player waits for is left.
  LaunchGame(window);
  WriteTrace();
  if (!window) return 0;

  HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_PELTERIN));
  // GetMessageW returns -1 on failure; treating that as a message would spin
  // for ever, so the loop also ends there.
  MSG message = {};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return static_cast<int>(message.wParam);
}
