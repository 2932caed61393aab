// A launcher run as administrator, and the desktop shell that is not: the
// host services IsElevatedAboveDesktop and StartProcessThroughDesktop
// (host_services.h) live in desktop_shell.cpp.
#pragma once

#include <windows.h>

#include <string>

// Whether `process` runs with a full administrator token: yes, no, or
// unknown (its token cannot be read, or Windows has no such notion).
enum class Elevation { kUnknown, kLimited, kFull };
Elevation ProcessElevation(HANDLE process);

// Whether the program's manifest asks for administrator rights, so that the
// shell would ask the player for them (host_services.cpp). A file that
// cannot be read does not.
bool FileAsksForAdministrator(const std::string& path);
