// Work that may wait on other programs, run where the launcher waits for it
// only so long.
#pragma once

#include <windows.h>

// Runs `work(context)` on a thread of its own and waits at most `limit_ms`
// for it to end, answering the calling thread's messages meanwhile, so
// that a program that sends its window one (a broadcast, a DDE start) is
// not held up; a quit message taken meanwhile is posted again. True when
// the work ended in time. False when it did not, or when no thread could be
// made (`work` then never runs): a thread still running is left to end
// with the process, so `context` must outlive it.
bool RunWithTimeLimit(LPTHREAD_START_ROUTINE work, void* context, DWORD limit_ms);
