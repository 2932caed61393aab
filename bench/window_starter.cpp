// A starter that first does what any windowed launcher does before it can
// start anything: register a class and create a hidden top-level window (as
// Pelterin's wWinMain does). Under Wine the first window loads the X11
// driver, so this, not the launcher's own logic, sets the pace; comparing
// Pelterin with this starter shows what the launcher's logic adds.
//
//   window_starter.exe <path of the program to start>
#include <windows.h>

#include "start_program.h"

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = L"WindowStarter";
  RegisterClassExW(&window_class);

  // Placed like the launcher's, though never shown.
  const int left = (GetSystemMetrics(SM_CXSCREEN) - 300) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - 200) / 2;
  HWND window = CreateWindowExW(0, L"WindowStarter", L"Window starter", WS_OVERLAPPEDWINDOW,
                                left, top, 300, 200, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, SW_HIDE);
  UpdateWindow(window);

  starter::StartNamedProgram(command_line);
  DestroyWindow(window);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
