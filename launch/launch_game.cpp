#include "launch_game.h"

#include <algorithm>
#include <string>

#include "stored_version.h"
#include "version.h"

// Names shared with the game's installer and its updater.
static const char kGameFile[] = "Slots.exe";
static const char kDownloadPrefix[] = "KivoDownloadRes/win32_app_";
static const char kDownloadSuffix[] = "/Slots.exe";
static const char kVersionErrorText[] = "Get Slots Version Error!";
static const char kStartErrorText[] = "Start Slots Error!";
static const char kErrorCaption[] = "Error";

bool IsSinglePathComponent(const VersionString& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

std::string StartErrorMessage(SystemError error, std::string system_text,
                              const PathString& path) {
  while (!system_text.empty() && (system_text.back() == '\n' || system_text.back() == '\r')) {
    system_text.pop_back();
  }
  PathString windows_path = path;
  std::replace(windows_path.begin(), windows_path.end(), '/', '\\');
  for (std::size_t at = system_text.find("%1"); at != std::string::npos;
       at = system_text.find("%1", at + windows_path.size())) {
    system_text.replace(at, 2, windows_path);
  }
  std::string message = std::string(kStartErrorText) + "\n\n";
  if (!system_text.empty()) message += system_text + " ";
  return message + "(error " + std::to_string(error) + ")";
}

// Starts `path`. A game that needs administrator rights is started again the
// way Explorer starts it, through the consent prompt, since a plain start can
// never run it.
static SystemError StartGame(const PathString& path) {
  const SystemError error = StartProcess(path);
  return error == kErrorElevationRequired ? StartProcessWithConsent(path) : error;
}

// A declined start is the player's answer rather than a failure.
static bool StartFailed(SystemError error) { return error != 0 && error != kErrorCancelled; }

void LaunchGame(WindowHandle window) {
  // 1. The installed game must be there and carry a version; without it
  // there is nothing sensible to start, so the user is told.
  const PathString installed_path = GetExeDirectory() + kGameFile;
  const VersionString installed_version =
      IsFileExist(installed_path) ? GetFileVersionString(installed_path) : VersionString();
  if (installed_version.empty()) {
    ShowErrorBox(kVersionErrorText, kErrorCaption);
    CloseMainWindow(window);
    return;
  }

  // 2. The newest build the game has downloaded, if it recorded a usable one.
  VersionString stored_version = ReadStoredVersion();
  if (!IsSinglePathComponent(stored_version)) stored_version.clear();

  // 3. A strictly newer download is started when its executable is there,
  // otherwise the installed game.
  PathString chosen_path = installed_path;
  if (!stored_version.empty() && CompareVersion(stored_version, installed_version) > 0) {
    PathString base_directory = GetWritableDirectory();
    if (base_directory.empty()) base_directory = GetExeDirectory();
    const PathString candidate_path =
        base_directory + kDownloadPrefix + stored_version + kDownloadSuffix;
    if (IsFileExist(candidate_path)) chosen_path = candidate_path;
  }

  // 4. A download that cannot be started (cut short by a crash or a full
  // disk, blocked by security software) gives way to the installed game. If
  // that cannot be started either, the player is told why, rather than the
  // double-click doing nothing. A start the player declined ends it all,
  // with nothing more started and nothing shown.
  SystemError error = StartGame(chosen_path);
  if (StartFailed(error) && chosen_path != installed_path) error = StartGame(installed_path);
  if (StartFailed(error)) {
    ShowErrorBox(StartErrorMessage(error, GetSystemErrorText(error), installed_path),
                 kErrorCaption);
  }

  // 5. Closing the window ends the launcher; the game runs on by itself.
  CloseMainWindow(window);
}
