// The hidden top-level window that the windowed starters make first, placed
// and styled as Pelterin's, and the message loop that ends once it has been
// destroyed.
#pragma once

#include <windows.h>

namespace starter {

inline LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wparam,
                                         LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// Registers `class_name` (with the given class icons, which may be null) and
// creates its window, hidden; null when that fails.
inline HWND CreateHiddenWindow(HINSTANCE instance, const wchar_t* class_name, HICON icon,
                               HICON small_icon) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = HiddenWindowProc;
  window_class.hInstance = instance;
  window_class.hIcon = icon;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = class_name;
  window_class.hIconSm = small_icon;
  RegisterClassExW(&window_class);
  // Placed like the launcher's, though never shown.
  const int left = (GetSystemMetrics(SM_CXSCREEN) - 300) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - 200) / 2;
  HWND window = CreateWindowExW(0, class_name, class_name, WS_OVERLAPPEDWINDOW, left, top, 300,
                                200, nullptr, nullptr, instance, nullptr);
  if (window) {
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
  }
  return window;
}

inline int RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace starter
