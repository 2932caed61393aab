// The newest downloaded version, as the game records it in its settings file.
#pragma once

#include <string>

#include "host_services.h"

// Larger settings files are not parsed. Nothing the game writes comes near
// this, and the parser holds about six and a half times the file in memory
// before the key can be looked up: past this, reading would take seconds,
// and at worst all the memory there is.
const long kMaxSettingsBytes = 16L << 20;

// What the settings file records, or why it records nothing usable.
struct StoredRecord {
  VersionString version;  // empty when there is none
  std::string why_none;   // for the trace: why there is none; empty otherwise
};

// The text of the first "win32_app_new_version" element directly under the
// root of "UserDefault.xml" in the current working directory, exactly as the
// XML parser decodes it. Empty when the file, the element or its text is
// missing, the file is larger than kMaxSettingsBytes, or it cannot be parsed.
StoredRecord ReadStoredVersion();
