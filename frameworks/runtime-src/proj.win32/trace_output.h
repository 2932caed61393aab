// The launcher's trace: kept while the launch runs, written to the debugger
// output once it is done, and only when someone can read it.
#pragma once

#include <string>
#include <vector>

#include "host_services.h"

// Adds `what`, the system's description of `error` and its number to the
// trace, on one line.
void TraceSystemError(const std::string& what, SystemError error);

// Whether anyone can read the debugger output: a debugger is attached, or a
// viewer such as DebugView has made its buffer in this session. (The
// global buffer gets the services' writes only, never the player's.)
// Without either, a write would still wait for any other program writing
// meanwhile (on the system's lock for the buffer), for nothing.
bool SomeoneReadsTheTrace();

// The lines Trace kept and WriteTrace has not yet written, as they will be.
const std::vector<std::wstring>& KeptTrace();

// Writes the lines that Trace kept, in order, each as one debugger output
// line, when someone can read them, then forgets them. The writing is done
// by a thread of its own, which the launcher waits for at most
// kLongestTraceWriteMs: a viewer that keeps its buffer but does not read
// (hung, suspended, stopped in a debugger) makes each line wait up to ten
// seconds, and another program's write stuck in the system's lock makes
// them wait for ever. What is not written by then is lost rather than the
// player kept waiting.
void WriteTrace();
const unsigned long kLongestTraceWriteMs = 3000;
