// One settings lookup on Windows, as the launcher makes it: reads
// UserDefault.xml in the working directory once and prints how long the
// lookup took, what it found (or why nothing) and the process's peak memory.
// bench/settings_cost.py runs it under Wine on the worst-shaped files.
#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "stored_version.h"

int main() {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const StoredRecord stored = ReadStoredVersion();
  QueryPerformanceCounter(&end);

  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  std::printf("seconds: %.4f\n",
              static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
  std::printf("peak_kib: %lu\n", static_cast<unsigned long>(memory.PeakWorkingSetSize >> 10));
  // A stored version can be long: its first characters tell enough.
  std::printf("found: %.40s\n", stored.version.empty() ? "-" : stored.version.c_str());
  std::printf("why_none: %s\n", stored.why_none.empty() ? "-" : stored.why_none.c_str());
  return 0;
}
