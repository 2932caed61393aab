// The least a launcher can do: start the program named on the command line,
// the way Pelterin starts the game (application name plus the quoted path as
// the command line), and end. No window, no user32: under Wine this is the
// floor that the launcher's start-up time is compared with.
//
//   bare_starter.exe <path of the program to start>
#include <windows.h>

#include "start_program.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int) {
  return starter::StartNamedProgram(command_line) ? 0 : 1;
}
