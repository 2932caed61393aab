// The launcher's one job: start the installed game or its newer download.
#pragma once

#include "host_services.h"

// Why a file is not started: it is this launcher itself. Bit 29 marks an
// application's own error code; no system error has it.
const SystemError kErrorIsTheLauncher = 0x20000001;

// Decides which game executable to start, starts it (or reports why it
// cannot), and closes `window`, which ends the launcher. Says what it
// decided, step by step, through Trace.
void LaunchGame(WindowHandle window);

// Whether a stored version can stand as one directory-name component: no
// separator, no drive colon and no control character. Anything else in the
// settings file could steer the launch outside the download tree.
bool IsSinglePathComponent(const VersionString& text);

// The box text for an installed game that could not be started: a fixed
// first line, an empty line, then the description of `error` (`reason`,
// with its trailing line breaks removed and each "%1" replaced by `path` in
// its Windows form) and, for a system error, " (error N)".
std::string StartErrorMessage(SystemError error, std::string reason, const PathString& path);
