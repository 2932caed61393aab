#include "trace_output.h"

#include <windows.h>

#include <string>
#include <vector>

#include "host_services.h"
#include "utf_conversion.h"

namespace {

// Longer than any write to a viewer that takes its lines, far shorter than
// the ten seconds a viewer that does not is waited for.
const ULONGLONG kLongestWriteMs = 1000;

// The lines of this run, as they are to be written. At namespace scope: a
// function's static would bring the C++ runtime's thread-safe guard, and
// with it the exception runtime.
std::vector<std::wstring> g_kept_lines;

}  // namespace

// Kept, not written: the debugger output can hold the launcher up for ten
// seconds a line, and nothing may delay the game or the box.
void Trace(const std::string& line) {
  g_kept_lines.push_back(UTF8ToWide("Pelterin: " + line + "\n"));
}

void WriteTrace() {
  for (const std::wstring& line : g_kept_lines) {
    const ULONGLONG begun = GetTickCount64();
    OutputDebugStringW(line.c_str());
    if (GetTickCount64() - begun > kLongestWriteMs) break;
  }
  g_kept_lines.clear();
}
