// What the benchmark starters do to start the game: take the one path on
// their command line and start it the way Pelterin does (application name
// plus the quoted path as the command line), without waiting for it. Plain
// loops and the process heap rather than std::wstring keep the starters as
// small as the C runtime allows.
#pragma once

#include <windows.h>

namespace starter {

// The path given on the command line, bare and quoted (the command line the
// game gets), in buffers from the process heap.
struct GamePath {
  wchar_t* application = nullptr;
  wchar_t* quoted = nullptr;
};

// Takes the command line after the starter's own name, without surrounding
// blanks or quotes: the one path it was given.
inline bool TakePathFromCommandLine(const wchar_t* text, GamePath* path) {
  if (!text) return false;
  while (*text == L' ' || *text == L'\t' || *text == L'"') ++text;
  size_t length = 0;
  while (text[length]) ++length;
  while (length > 0 && (text[length - 1] == L' ' || text[length - 1] == L'\t' ||
                        text[length - 1] == L'"')) {
    --length;
  }
  if (length == 0) return false;
  const HANDLE heap = GetProcessHeap();
  path->application = static_cast<wchar_t*>(HeapAlloc(heap, 0, (length + 1) * sizeof(wchar_t)));
  path->quoted = static_cast<wchar_t*>(HeapAlloc(heap, 0, (length + 3) * sizeof(wchar_t)));
  if (!path->application || !path->quoted) return false;
  path->quoted[0] = L'"';
  for (size_t i = 0; i < length; ++i) path->application[i] = path->quoted[i + 1] = text[i];
  path->application[length] = L'\0';
  path->quoted[length + 1] = L'"';
  path->quoted[length + 2] = L'\0';
  return true;
}

// Starts the game; false when it cannot be started.
inline bool StartGame(const GamePath& game) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(game.application, game.quoted, nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Starts the program named on `command_line`; false when there is none or it
// cannot be started.
inline bool StartNamedProgram(const wchar_t* command_line) {
  GamePath game;
  return TakePathFromCommandLine(command_line, &game) && StartGame(game);
}

}  // namespace starter
