// The launcher's one job: start the installed game or its newer download.
#pragma once

#include "host_services.h"

// Decides which game executable to start, starts it (or reports why it
// cannot), and closes `window`, which ends the launcher.
void LaunchGame(WindowHandle window);

// Whether a stored version can stand as one directory-name component: no
// separator, no drive colon and no control character. Anything else in the
// settings file could steer the launch outside the download tree.
bool IsSinglePathComponent(const VersionString& text);

// The box text for an installed game that could not be started: a fixed
// first line, an empty line, then the system's description of `error`
// (`system_text`, with its trailing line breaks removed and each "%1"
// replaced by `path` as Windows writes paths) and " (error N)".
std::string StartErrorMessage(SystemError error, std::string system_text,
                              const PathString& path);
