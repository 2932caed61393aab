// The newest downloaded version, as the game records it in its settings file.
#pragma once

#include "host_services.h"

// The text of the first "win32_app_new_version" element directly under the
// root of "UserDefault.xml" in the current working directory, exactly as the
// XML parser decodes it. Empty when the file, the element or its text is
// missing, or the file cannot be parsed.
VersionString ReadStoredVersion();
