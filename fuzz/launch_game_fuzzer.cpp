// The launch decision against the recording host of the unit tests, with
// every answer the host gives taken from the input: the two directories, which
// files exist and what version the installed game carries, the stored version,
// and the window handle.
//
// Input: texts are read from the front, each ended by a backslash and one more
// byte (a doubled backslash stands for one): launcher directory, data
// directory, installed version, stored version, then a path and a version per
// extra file. Flags and small numbers are read from the back, one byte each
// (two for the window): window, installed game present, download present,
// number of extra files (0-3), per extra file whether it lies in the
// download tree, then how the download's and the installed game's starts
// go, plain and through the consent prompt, and whether each is the launcher
// itself; whether the launcher runs as administrator from a desktop that
// does not, and how each start with the desktop's rights goes.
//
// Whatever the host says, the launcher must close its window once and last,
// start nothing but the installed game or an existing, strictly newer
// download inside the download tree, never start a file that is the
// launcher itself, use the consent prompt only for the installed game when
// it just needed it, never start a download with more rights than the
// desktop has (with the desktop's own rights when the launcher has more), try the installed game after a download that failed
// to start (or needed administrator rights) and nothing else, stop at a
// declined start, and show one box exactly when the installed game is
// unusable or the last start failed.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fake_host.h"
#include "launch_game.h"
#include "version.h"
#include "fuzz_check.h"

namespace {

// Names shared with the game's installer and updater, written out again here
// so that a slip in the launcher's copy shows up.
const char kGameFile[] = "Slots.exe";
const char kDownloadPrefix[] = "KivoDownloadRes/win32_app_";
const char kDownloadSuffix[] = "/Slots.exe";

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The host promises directories that end in "/".
PathString AsDirectory(PathString text) {
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

std::size_t CountCalls(const std::vector<std::string>& calls, const std::string& head) {
  return std::count_if(calls.begin(), calls.end(),
                       [&](const std::string& call) { return StartsWith(call, head); });
}

bool WasCalled(const std::vector<std::string>& calls, const std::string& call) {
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

// One directory name that cannot climb out of, or jump beside, the download
// tree.
bool StaysInOneDirectory(const std::string& name) {
  for (unsigned char c : name) {
    if (c < 0x20 || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Host() = FakeHost();
  FakeHost& host = Host();

  const std::uintptr_t window = input.ConsumeIntegral<std::uint16_t>();
  host.exe_directory = AsDirectory(input.ConsumeRandomLengthString());
  host.writable_directory = input.ConsumeRandomLengthString();
  if (!host.writable_directory.empty()) {
    host.writable_directory = AsDirectory(host.writable_directory);
  }
  const bool installed_exists = input.ConsumeBool();
  const VersionString installed_version = input.ConsumeRandomLengthString();
  host.stored_version = input.ConsumeRandomLengthString();
  const bool download_exists = input.ConsumeBool();

  const PathString installed_path = host.exe_directory + kGameFile;
  const PathString base_directory =
      host.writable_directory.empty() ? host.exe_directory : host.writable_directory;
  const PathString download_tree = base_directory + kDownloadPrefix;
  const PathString candidate_path = download_tree + host.stored_version + kDownloadSuffix;

  // Other files, some of them other downloads, to tempt the launcher.
  const int extra_files = input.ConsumeIntegralInRange(0, 3);
  for (int i = 0; i < extra_files; ++i) {
    const bool in_download_tree = input.ConsumeBool();
    const std::string name = input.ConsumeRandomLengthString();
    const PathString path = in_download_tree ? download_tree + name + kDownloadSuffix : name;
    host.files[path] = input.ConsumeRandomLengthString();
  }
  // The two flags have the last word on the files they name.
  if (download_exists) {
    host.files.emplace(candidate_path, "");
  } else {
    host.files.erase(candidate_path);
  }
  if (installed_exists) {
    host.files[installed_path] = installed_version;
  } else {
    host.files.erase(installed_path);
  }
  // How each game's start goes: it starts, is damaged, needs administrator
  // rights, or the player declines the system's warning; and through the
  // consent prompt: it starts, the player declines, or it fails.
  const SystemError kPlainOutcomes[] = {0, 193, kErrorElevationRequired, kErrorCancelled};
  const SystemError kConsentOutcomes[] = {0, kErrorCancelled, 5};
  for (const PathString& path : {candidate_path, installed_path}) {
    host.start_errors[path] = input.PickValueInArray(kPlainOutcomes);
    host.consent_errors[path] = input.PickValueInArray(kConsentOutcomes);
    if (input.ConsumeBool()) host.launchers.insert(path);
  }
  // Run above the desktop's rights; the start with the desktop's rights has
  // a plain start's outcomes (740 where Windows asks for more).
  host.elevated_above_desktop = input.ConsumeBool();
  for (const PathString& path : {candidate_path, installed_path}) {
    host.desktop_errors[path] = input.PickValueInArray(kPlainOutcomes);
  }

  LaunchGame(reinterpret_cast<WindowHandle>(window));
  const std::vector<std::string>& calls = host.calls;

  // The window is closed exactly once, as the very last thing.
  CHECK(!calls.empty() && calls.back() == "CloseMainWindow " + std::to_string(window));
  CHECK(CountCalls(calls, "CloseMainWindow ") == 1);

  const std::size_t boxes = CountCalls(calls, "ShowErrorBox ");
  const auto installed = host.files.find(installed_path);
  if (installed == host.files.end() || installed->second.empty()) {
    // Nothing usable installed: only the box, and neither the settings file
    // nor the data directory is touched.
    CHECK(boxes == 1 && CountCalls(calls, "StartProcess") == 0);
    CHECK(CountCalls(calls, "ReadStoredVersion") == 0);
    CHECK(CountCalls(calls, "GetWritableDirectory") == 0);
    return 0;
  }
  CHECK(boxes <= 1);

  // Each game's start with its outcome: the check whether it is the launcher
  // itself, which ends there if it is; otherwise a plain start, then, only
  // right after it answered that the installed game needs administrator
  // rights, a start of the same file through the consent prompt, whose
  // outcome then counts. A download from a launcher with more rights than
  // the desktop starts with the desktop's rights instead, never a plain start.
  // So no file that is the launcher is ever started, and no download with
  // raised rights.
  struct GameStart {
    PathString path;
    SystemError outcome;
  };
  std::vector<GameStart> games;
  const std::string kCheck = "IsLauncherItself ", kStart = "StartProcess ",
                    kConsent = "StartProcessWithConsent ", kDesktop = "StartProcessAsDesktop ";
  for (auto call = calls.begin(); call != calls.end(); ++call) {
    if (StartsWith(*call, kCheck)) {
      const PathString path = call->substr(kCheck.size());
      const bool is_launcher = host.launchers.count(path) == 1;
      const bool through_desktop = host.elevated_above_desktop && path != installed_path;
      const std::string start = (through_desktop ? kDesktop : kStart) + path;
      games.push_back({path, is_launcher         ? kErrorIsTheLauncher
                             : through_desktop ? host.desktop_errors[path]
                                               : host.start_errors[path]});
      CHECK(is_launcher ? call + 1 == calls.end() || *(call + 1) != start
                        : call + 1 != calls.end() && *(call + 1) == start);
    } else if (StartsWith(*call, kStart) || StartsWith(*call, kDesktop)) {
      const bool desktop = StartsWith(*call, kDesktop);
      const PathString path = call->substr((desktop ? kDesktop : kStart).size());
      CHECK(call != calls.begin() && *(call - 1) == kCheck + path);
      // A download: never with the launcher's rights when they exceed the
      // desktop's. The installed game: never with the desktop's rights.
      CHECK(desktop == (host.elevated_above_desktop && path != installed_path));
    } else if (StartsWith(*call, kConsent)) {
      const PathString path = call->substr(kConsent.size());
      CHECK(path == installed_path && !games.empty() && games.back().path == path &&
            games.back().outcome == kErrorElevationRequired && *(call - 1) == kStart + path);
      games.back().outcome = host.consent_errors[path];
    }
  }
  CHECK(games.size() == 1 || games.size() == 2);

  // Only a file that was looked for and is there is tried first.
  const PathString chosen = games.front().path;
  CHECK(WasCalled(calls, "IsFileExist " + chosen));
  CHECK(host.files.count(chosen) == 1);

  if (chosen != installed_path) {
    // A download: the stored version's own directory in the download tree,
    // and strictly newer than what is installed.
    const std::size_t suffix_size = sizeof kDownloadSuffix - 1;
    CHECK(StartsWith(chosen, download_tree) && EndsWith(chosen, kDownloadSuffix) &&
          chosen.size() >= download_tree.size() + suffix_size);
    const std::string version =
        chosen.substr(download_tree.size(), chosen.size() - download_tree.size() - suffix_size);
    CHECK(StaysInOneDirectory(version));
    CHECK(version == host.stored_version);
    CHECK(CompareVersion(version, installed->second) > 0);
  }
  // And a usable, newer download that is there is never passed over.
  if (!host.stored_version.empty() && StaysInOneDirectory(host.stored_version) &&
      CompareVersion(host.stored_version, installed->second) > 0 &&
      host.files.count(candidate_path) == 1) {
    CHECK(chosen == candidate_path);
  }

  const auto failed = [](SystemError outcome) {
    return outcome != 0 && outcome != kErrorCancelled;
  };
  for (std::size_t i = 0; i < games.size(); ++i) {
    // An installed game's plain start that needs the prompt is never left
    // at that.
    if (games[i].path == installed_path) CHECK(games[i].outcome != kErrorElevationRequired);
    // A declined start ends all starting, without a box.
    if (games[i].outcome == kErrorCancelled) CHECK(i + 1 == games.size() && boxes == 0);
  }

  // A download that failed to start (needed administrator rights, or is
  // the launcher) gives way to the installed game, and only then is a second
  // game tried.
  const bool retried = failed(games.front().outcome) && chosen != installed_path;
  CHECK(games.size() == (retried ? 2u : 1u));
  if (retried) CHECK(games.back().path == installed_path);
  // The box tells of the installed game's failure, the last start tried, and
  // comes after it, just before the window closes.
  const SystemError last_outcome = games.back().outcome;
  CHECK(boxes == (failed(last_outcome) ? 1u : 0u));
  if (failed(last_outcome)) {
    const std::string& box = calls[calls.size() - 2];
    CHECK(StartsWith(box, "ShowErrorBox Start Slots Error!\n\n"));
    CHECK(EndsWith(box, last_outcome == kErrorIsTheLauncher
                            ? " is this launcher itself, not the game. | Error"
                            : "(error " + std::to_string(last_outcome) + ") | Error"));
  }
  return 0;
}
