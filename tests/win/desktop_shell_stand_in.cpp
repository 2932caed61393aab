// Stands in for the desktop shell in the host tests: names its window the
// shell window, as Explorer does, and keeps it until it is ended (or for a
// minute at most). Exits 1 when the window cannot be named.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using SetShellWindowFunction = BOOL(WINAPI*)(HWND);
  const auto set_shell_window = reinterpret_cast<SetShellWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetShellWindow")));
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = instance;
  window_class.lpszClassName = L"Progman";
  RegisterClassW(&window_class);
  HWND window = CreateWindowExW(0, L"Progman", L"Program Manager", WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, instance, nullptr);
  if (!window || !set_shell_window || !set_shell_window(window)) return 1;
  SetTimer(window, 1, 60000, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != WM_TIMER) {
    DispatchMessageW(&message);
  }
  return 0;
}
