// How long the launcher takes to read a game's version and to tell whether
// the game is the launcher itself: the two questions it asks of every file
// it may start. Prints the mean time of one pair of calls.
//
//   version_read_bench.exe <path of a game> [rounds]
//
// Carries the launcher's resources, so that its own names are found as the
// launcher finds them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "host_services.h"
#include "utf_conversion.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const PathString game = WideToUTF8(argv[1]);
  const int rounds = argc > 2 ? _wtoi(argv[2]) : 200;
  if (rounds <= 0) return 2;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  bool launcher = false;
  VersionString version;
  for (int round = 0; round < rounds; ++round) {
    version = GetFileVersionString(game);
    launcher = IsLauncherItself(game);
  }
  QueryPerformanceCounter(&end);
  const double microseconds =
      (end.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart / rounds;
  std::printf("version \"%s\", launcher %s: %.1f us for both calls (mean of %d)\n",
              version.c_str(), launcher ? "yes" : "no", microseconds, rounds);
  return 0;
}
