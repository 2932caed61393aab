// The rights of the player's desktop, for a launcher run as administrator:
// whether it has more, and the desktop shell's own token to start a
// download with instead.
#pragma once

#include <windows.h>

#include "host_services.h"

// A primary token of the desktop shell's process (the owner of the shell
// window, which starts the player's other programs), to start a program
// with: only when the shell runs as the same user as the launcher and
// without elevation. Otherwise null, with the reason in the trace and in
// `error`.
HANDLE DesktopShellToken(SystemError& error);

// The mandatory integrity level of `token` (its label's last relative id,
// such as 0x2000 for medium, 0x3000 for high); 0 when it cannot be read.
DWORD IntegrityLevel(HANDLE token);
