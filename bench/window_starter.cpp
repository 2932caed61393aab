// A starter that first does what any windowed launcher does before it can
// start anything: register a class and create a hidden top-level window (as
// Pelterin's wWinMain does). Under Wine the first window loads the X11
// driver, so this, not the launcher's own logic, sets the pace; comparing
// Pelterin with this starter shows what the launcher's logic adds.
//
//   window_starter.exe <path of the program to start>
#include <windows.h>

#include "hidden_window.h"
#include "start_program.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
  HWND window = starter::CreateHiddenWindow(instance, L"WindowStarter", nullptr, nullptr);
  if (!window) return 1;
  starter::StartNamedProgram(command_line);
  DestroyWindow(window);
  return starter::RunMessageLoop();
}
