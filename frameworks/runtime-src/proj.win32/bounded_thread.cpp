#include "bounded_thread.h"

#include "scoped_handle.h"

bool RunWithTimeLimit(LPTHREAD_START_ROUTINE work, void* context, DWORD limit_ms) {
  ScopedHandle thread(CreateThread(nullptr, 0, work, context, 0, nullptr));
  if (!thread) return false;
  const HANDLE waited = thread.get();
  const DWORD start = GetTickCount();
  bool ended = false;
  bool quit = false;
  WPARAM quit_code = 0;
  for (DWORD elapsed = 0; elapsed < limit_ms; elapsed = GetTickCount() - start) {
    const DWORD woken = MsgWaitForMultipleObjectsEx(1, &waited, limit_ms - elapsed, QS_ALLINPUT,
                                                    MWMO_INPUTAVAILABLE);
    if (woken != WAIT_OBJECT_0 + 1) {
      ended = woken == WAIT_OBJECT_0;
      break;
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quit_code = message.wParam;
      } else {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
  }
  if (quit) PostQuitMessage(static_cast<int>(quit_code));
  return ended;
}
