// The launcher's trace: kept while the launch runs, written to the debugger
// output once it is done.
#pragma once

// Writes the lines that Trace kept, in order, each as one debugger output
// line, then forgets them. A listening viewer that does not take its lines
// (hung, suspended, stopped in a debugger) makes every write wait up to ten
// seconds, so the writing stops after the first write that waited longer
// than a second: the rest of the trace is lost rather than the player kept
// waiting.
void WriteTrace();
