#include "launch_game.h"

#include "stored_version.h"
#include "version.h"

// Names shared with the game's installer and its updater.
static const char kGameFile[] = "Slots.exe";
static const char kDownloadPrefix[] = "KivoDownloadRes/win32_app_";
static const char kDownloadSuffix[] = "/Slots.exe";
static const char kVersionErrorText[] = "Get Slots Version Error!";
static const char kVersionErrorCaption[] = "Error";

bool IsSinglePathComponent(const VersionString& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

void LaunchGame(WindowHandle window) {
  // 1. The installed game must be there and carry a version; without it
  // there is nothing sensible to start, so the user is told.
  const PathString installed_path = GetExeDirectory() + kGameFile;
  const VersionString installed_version =
      IsFileExist(installed_path) ? GetFileVersionString(installed_path) : VersionString();
  if (installed_version.empty()) {
    ShowErrorBox(kVersionErrorText, kVersionErrorCaption);
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
  StartProcess(chosen_path);

  // 4. Closing the window ends the launcher; the game runs on by itself.
  CloseMainWindow(window);
}
