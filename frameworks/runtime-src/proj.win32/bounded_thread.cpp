#include "bounded_thread.h"

bool RunWithTimeLimit(LPTHREAD_START_ROUTINE work, void* context, DWORD limit_ms) {
  HANDLE thread = CreateThread(nullptr, 0, work, context, 0, nullptr);
  if (!thread) return false;
  const bool ended = WaitForSingleObject(thread, limit_ms) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return ended;
}
