#include "trace_output.h"

#include <windows.h>

#include "bounded_thread.h"
#include "utf_conversion.h"

namespace {

// The lines of this run, as they are to be written. At namespace scope: a
// function's static would bring the C++ runtime's thread-safe guard, and
// with it the exception runtime. Never destroyed: a writer still waiting on
// a viewer when the launcher ends reads them until the process is gone,
// after the runtime has destroyed its statics.
std::vector<std::wstring>& g_kept_lines = *new std::vector<std::wstring>;

DWORD WINAPI WriteKeptLines(void*) {
  for (const std::wstring& line : g_kept_lines) OutputDebugStringW(line.c_str());
  return 0;
}

}  // namespace

// Kept, not written: the debugger output can hold the launcher up for ten
// seconds a line, and nothing may delay the game or the box.
void Trace(const std::string& line) {
  g_kept_lines.push_back(UTF8ToWide("Pelterin: " + line + "\n"));
}

void TraceSystemError(const std::string& what, SystemError error) {
  std::string text = GetSystemErrorText(error);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  Trace(what + ": " + (text.empty() ? "" : text + " ") + "(error " + std::to_string(error) + ")");
}

bool SomeoneReadsTheTrace() {
  if (IsDebuggerPresent()) return true;
  // The viewer's buffer, which a write maps to put its line in.
  HANDLE buffer = OpenFileMappingW(FILE_MAP_WRITE, FALSE, L"DBWIN_BUFFER");
  if (buffer) CloseHandle(buffer);
  return buffer != nullptr;
}

const std::vector<std::wstring>& KeptTrace() { return g_kept_lines; }

void WriteTrace() {
  // Left as they are while the thread may still be writing them.
  if (SomeoneReadsTheTrace() &&
      !RunWithTimeLimit(WriteKeptLines, nullptr, kLongestTraceWriteMs)) {
    return;
  }
  g_kept_lines.clear();
}
