// A stand-in for the Windows host: a tiny file system, a settings record and
// a log of every call the launch decision makes, in order.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "host_services.h"

struct FakeHost {
  PathString exe_directory = "C:/Games/X/";
  PathString writable_directory = "C:/Users/u/AppData/Local/Orvellane/";
  PathString working_directory = "C:/Games/X/";
  // Existing files and the version each carries ("" for none).
  std::map<PathString, VersionString> files;
  VersionString stored_version;
  std::string stored_why_none = "no UserDefault.xml in the working directory";
  // Files that are the launcher itself.
  std::set<PathString> launchers;
  // Files that cannot be started, and why; every other path starts. The
  // same for starts through the consent prompt.
  std::map<PathString, SystemError> start_errors;
  std::map<PathString, SystemError> consent_errors;
  // A launcher run above the desktop's rights, and how each start with the
  // desktop's rights goes.
  bool elevated_above_desktop = false;
  std::map<PathString, SystemError> desktop_errors;
  std::string system_error_text = "%1 is not a valid Win32 application.\r\n";
  std::vector<std::string> calls;
  // The trace, apart from the calls: it has no bearing on their order.
  std::vector<std::string> trace;
};

// The host the free functions consult; each test resets it.
FakeHost& Host();
