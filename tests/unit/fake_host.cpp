#include "fake_host.h"

#include <cstdint>

#include "stored_version.h"

FakeHost& Host() {
  static FakeHost host;
  return host;
}

static void Record(const std::string& call) { Host().calls.push_back(call); }

PathString GetExeDirectory() {
  Record("GetExeDirectory");
  return Host().exe_directory;
}

PathString GetWritableDirectory() {
  Record("GetWritableDirectory");
  return Host().writable_directory;
}

// Only for the trace, which has no bearing on the calls: not recorded.
PathString GetWorkingDirectory() { return Host().working_directory; }

bool IsFileExist(const PathString& path) {
  Record("IsFileExist " + path);
  return Host().files.count(path) != 0;
}

VersionString GetFileVersionString(const PathString& path) {
  Record("GetFileVersionString " + path);
  auto file = Host().files.find(path);
  return file == Host().files.end() ? VersionString() : file->second;
}

bool IsLauncherItself(const PathString& path) {
  Record("IsLauncherItself " + path);
  return Host().launchers.count(path) != 0;
}

SystemError StartProcess(const PathString& path) {
  Record("StartProcess " + path);
  auto error = Host().start_errors.find(path);
  return error == Host().start_errors.end() ? 0 : error->second;
}

SystemError StartProcessWithConsent(const PathString& path) {
  Record("StartProcessWithConsent " + path);
  auto error = Host().consent_errors.find(path);
  return error == Host().consent_errors.end() ? 0 : error->second;
}

// A question whose answer shows in which start follows: not recorded.
bool IsElevatedAboveDesktop() { return Host().elevated_above_desktop; }

SystemError StartProcessAsDesktop(const PathString& path) {
  Record("StartProcessAsDesktop " + path);
  auto error = Host().desktop_errors.find(path);
  return error == Host().desktop_errors.end() ? 0 : error->second;
}

std::string GetSystemErrorText(SystemError error) {
  Record("GetSystemErrorText " + std::to_string(error));
  return Host().system_error_text;
}

void ShowErrorBox(const std::string& text, const std::string& caption) {
  Record("ShowErrorBox " + text + " | " + caption);
}

void CloseMainWindow(WindowHandle window) {
  Record("CloseMainWindow " + std::to_string(reinterpret_cast<std::uintptr_t>(window)));
}

void Trace(const std::string& line) { Host().trace.push_back(line); }

// The decision reads the settings file through this; the real lookup has
// tests of its own on real files.
StoredRecord ReadStoredVersion() {
  Record("ReadStoredVersion");
  if (Host().stored_version.empty()) return {{}, Host().stored_why_none};
  return {Host().stored_version, {}};
}
