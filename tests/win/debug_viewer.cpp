// Stands in for a debug-output viewer such as DebugView: it makes the
// objects through which the system hands debugger output to a viewer, prints
// "listening", and then either
//   debug_viewer.exe read SECONDS   takes each line and prints it, until
//                                   SECONDS pass without one; or
//   debug_viewer.exe hang SECONDS   never takes one, as a hung or suspended
//                                   viewer, for SECONDS.
// Or it stands in for another program stuck in the middle of a write:
//   debug_viewer.exe lock SECONDS   takes the lock that every write takes,
//                                   prints "locked" and holds it for SECONDS.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

// A process id, then the text, ended by a zero.
const DWORD kBufferSize = 4096;

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const bool reads = std::wcscmp(argv[1], L"read") == 0;
  const DWORD wait_ms = static_cast<DWORD>(_wtoi(argv[2])) * 1000;
  if (std::wcscmp(argv[1], L"lock") == 0) {
    HANDLE lock = CreateMutexW(nullptr, FALSE, L"DBWinMutex");
    if (!lock || WaitForSingleObject(lock, INFINITE) != WAIT_OBJECT_0) return 1;
    std::printf("locked\n");
    std::fflush(stdout);
    Sleep(wait_ms);
    return 0;
  }
  HANDLE buffer_ready = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
  HANDLE data_ready = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      kBufferSize, L"DBWIN_BUFFER");
  const char* buffer =
      mapping ? static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
  if (!buffer_ready || !data_ready || !buffer) {
    std::printf("failed %lu\n", GetLastError());
    return 1;
  }
  std::printf("listening\n");
  std::fflush(stdout);
  if (!reads) {
    Sleep(wait_ms);
    return 0;
  }
  SetEvent(buffer_ready);
  while (WaitForSingleObject(data_ready, wait_ms) == WAIT_OBJECT_0) {
    const char* text = buffer + sizeof(DWORD);
    std::fwrite(text, 1, strnlen(text, kBufferSize - sizeof(DWORD)), stdout);
    std::fflush(stdout);
    SetEvent(buffer_ready);
  }
  return 0;
}
