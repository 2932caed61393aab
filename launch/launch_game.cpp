#include "launch_game.h"

#include <string>

#include "stored_version.h"
#include "version.h"
#include "windows_path.h"

// Names shared with the game's installer and its updater.
static const char kGameFile[] = "Slots.exe";
static const char kDownloadPrefix[] = "KivoDownloadRes/win32_app_";
static const char kDownloadSuffix[] = "/Slots.exe";
static const char kVersionErrorText[] = "Get Slots Version Error!";
static const char kStartErrorText[] = "Start Slots Error!";
static const char kIsTheLauncherText[] = "%1 is this launcher itself, not the game.";
static const char kErrorCaption[] = "Error";

bool IsSinglePathComponent(const VersionString& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

std::string StartErrorMessage(SystemError error, std::string reason, const PathString& path) {
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  const PathString windows_path = InWindowsForm(path);
  for (std::size_t at = reason.find("%1"); at != std::string::npos;
       at = reason.find("%1", at + windows_path.size())) {
    reason.replace(at, 2, windows_path);
  }
  std::string message = std::string(kStartErrorText) + "\n\n" + reason;
  if (error == kErrorIsTheLauncher) return message;  // in the launcher's own words
  if (!reason.empty()) message += " ";
  return message + "(error " + std::to_string(error) + ")";
}

// How one start went, for the trace.
static std::string Outcome(SystemError error) {
  switch (error) {
    case 0:
      return "started";
    case kErrorCancelled:
      return "declined by the player";
    case kErrorElevationRequired:
      return "needs administrator rights (error 740)";
    default:
      return "failed (error " + std::to_string(error) + ")";
  }
}

// A declined start is the player's answer rather than a failure.
static bool StartFailed(SystemError error) { return error != 0 && error != kErrorCancelled; }

// Who may write the file to be started.
enum class Writers {
  kAdministrators,  // the install folder
  kAnyProgram,      // the player's own data folder, open to all they run
};

// Starts `path`, unless it is this launcher, which would start itself again
// for ever. A game that needs administrator rights is started again the way
// Explorer starts it, through the consent prompt, since a plain start can
// never run it; but only a file that only administrators can change. The
// player's consent, given a moment after their double-click, would
// otherwise hand full rights to whatever any program of theirs put in the
// download's place or beside it. For the same reason a launcher run as
// administrator starts a download with the desktop's rights, not its own.
static SystemError StartGame(const PathString& path, Writers writers) {
  const PathString shown = InWindowsForm(path);
  if (IsLauncherItself(path)) {
    Trace("not starting " + shown + ": it is this launcher itself");
    return kErrorIsTheLauncher;
  }
  if (writers == Writers::kAnyProgram && IsElevatedAboveDesktop()) {
    const SystemError error = StartProcessAsDesktop(path);
    Trace("start with the desktop's rights " + shown + ": " + Outcome(error));
    if (StartFailed(error)) {
      Trace("not starting " + shown + " with the launcher's administrator rights, which the "
            "desktop has not");
    }
    return error;
  }
  SystemError error = StartProcess(path);
  Trace("start " + shown + ": " + Outcome(error));
  if (error != kErrorElevationRequired) return error;
  if (writers == Writers::kAnyProgram) {
    Trace("not asking for administrator rights for " + shown +
          ": any program of the player's can change it");
    return error;
  }
  error = StartProcessWithConsent(path);
  Trace("start through the consent prompt " + shown + ": " + Outcome(error));
  return error;
}

// The box, and the trace of it on one line: each run of line breaks in
// `text` becomes one space there.
static void ShowError(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c != '\n' && c != '\r') {
      line += c;
    } else if (line.empty() || line.back() != ' ') {
      line += ' ';
    }
  }
  Trace("error box: " + line);
  ShowErrorBox(text, kErrorCaption);
}

void LaunchGame(WindowHandle window) {
  // 1. The installed game must be there and carry a version; without it
  // there is nothing sensible to start, so the user is told.
  const PathString exe_directory = GetExeDirectory();
  Trace("launcher folder " + InWindowsForm(exe_directory));
  const PathString installed_path = exe_directory + kGameFile;
  const bool installed_present = IsFileExist(installed_path);
  const VersionString installed_version =
      installed_present ? GetFileVersionString(installed_path) : VersionString();
  const std::string installed = "installed game " + InWindowsForm(installed_path);
  if (installed_version.empty()) {
    Trace(installed + (installed_present ? " has no readable version" : " is missing"));
    ShowError(kVersionErrorText);
    CloseMainWindow(window);
    return;
  }
  Trace(installed + ", version " + installed_version);

  // 2. The newest build the game has downloaded, if it recorded a usable one.
  // The working directory is named, since a shortcut's "Start in" and a
  // start as administrator (System32) change it.
  const PathString working_directory = GetWorkingDirectory();
  Trace(working_directory.empty() ? "working directory unknown"
                                  : "working directory " + InWindowsForm(working_directory));
  StoredRecord stored = ReadStoredVersion();
  if (!IsSinglePathComponent(stored.version)) {
    stored = {{}, "the recorded version is not one path component"};
  }
  Trace(stored.version.empty() ? "no stored version: " + stored.why_none
                               : "stored version \"" + stored.version + "\"");

  // 3. A strictly newer download is started when its executable is there,
  // otherwise the installed game.
  PathString chosen_path = installed_path;
  if (!stored.version.empty()) {
    const bool newer = CompareVersion(stored.version, installed_version) > 0;
    Trace("\"" + stored.version + (newer ? "\" is newer than " : "\" is not newer than ") +
          installed_version);
    if (newer) {
      PathString base_directory = GetWritableDirectory();
      if (base_directory.empty()) {
        Trace("no data folder: the download is looked for beside the launcher");
        base_directory = GetExeDirectory();
      } else {
        Trace("data folder " + InWindowsForm(base_directory));
      }
      const PathString candidate_path =
          base_directory + kDownloadPrefix + stored.version + kDownloadSuffix;
      const bool downloaded = IsFileExist(candidate_path);
      Trace("download " + InWindowsForm(candidate_path) +
            (downloaded ? " is there" : " is missing"));
      if (downloaded) chosen_path = candidate_path;
    }
  }

  // 4. A download that cannot be started (cut short by a crash or a full
  // disk, blocked by security software, needing administrator rights, or
  // the launcher itself) gives way to the installed game. If that cannot be
  // started either, the player is told why, rather than the double-click
  // doing nothing. A start the player declined ends it all, with nothing
  // more started and nothing shown.
  const bool download_chosen = chosen_path != installed_path;
  SystemError error =
      StartGame(chosen_path, download_chosen ? Writers::kAnyProgram : Writers::kAdministrators);
  if (StartFailed(error) && download_chosen) {
    error = StartGame(installed_path, Writers::kAdministrators);
  }
  if (StartFailed(error)) {
    const std::string reason =
        error == kErrorIsTheLauncher ? kIsTheLauncherText : GetSystemErrorText(error);
    ShowError(StartErrorMessage(error, reason, installed_path));
  }

  // 5. Closing the window ends the launcher; the game runs on by itself.
  CloseMainWindow(window);
}
