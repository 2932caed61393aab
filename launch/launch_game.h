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
