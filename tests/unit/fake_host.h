// A stand-in for the Windows host: a tiny file system, a settings record and
// a log of every call the launch decision makes, in order.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host_services.h"

struct FakeHost {
  PathString exe_directory = "C:/Games/X/";
  PathString writable_directory = "C:/Users/u/AppData/Local/Orvellane/";
  // Existing files and the version each carries ("" for none).
  std::map<PathString, VersionString> files;
  VersionString stored_version;
  // Files that cannot be started, and why; every other path starts. The
  // same for starts through the consent prompt.
  std::map<PathString, SystemError> start_errors;
  std::map<PathString, SystemError> consent_errors;
  std::string system_error_text = "%1 is not a valid Win32 application.\r\n";
  std::vector<std::string> calls;
};

// The host the free functions consult; each test resets it.
FakeHost& Host();
