// The launch decision against a fake host: which executable is started, what
// is shown, and the exact order of the host calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_host.h"
#include "launch_game.h"

namespace {

const std::string kInstalled = "C:/Games/X/Slots.exe";
const std::string kData = "C:/Users/u/AppData/Local/Orvellane/";
WindowHandle const kWindow = reinterpret_cast<WindowHandle>(0x1234);
const std::string kClose = "CloseMainWindow 4660";
const std::string kErrorBox = "ShowErrorBox Get Slots Version Error! | Error";

std::string Download(const std::string& base, const std::string& version) {
  return base + "KivoDownloadRes/win32_app_" + version + "/Slots.exe";
}

std::vector<std::string> RunLaunch() {
  LaunchGame(kWindow);
  return Host().calls;
}

class LaunchGameTest : public ::testing::Test {
 protected:
  void SetUp() override { Host() = FakeHost(); }
};

TEST_F(LaunchGameTest, TypicalRunStartsTheNewerDownload) {
  Host().files = {{kInstalled, "1.0.3.0"}, {Download(kData, "1.0.4.0"), "1.0.4.0"}};
  Host().stored_version = "1.0.4.0";
  EXPECT_EQ(RunLaunch(), (std::vector<std::string>{
                             "GetExeDirectory",
                             "IsFileExist " + kInstalled,
                             "GetFileVersionString " + kInstalled,
                             "ReadStoredVersion",
                             "GetWritableDirectory",
                             "IsFileExist " + Download(kData, "1.0.4.0"),
                             "IsLauncherItself " + Download(kData, "1.0.4.0"),
                             "StartProcess " + Download(kData, "1.0.4.0"),
                             kClose,
                         }));
}

// Whenever the download is not taken, the installed game is started and the
// data directory is never asked for.
TEST_F(LaunchGameTest, InstalledGameStartsWhenNoNewerVersionIsStored) {
  struct Case {
    const char* name;
    const char* installed;
    const char* stored;
  };
  const Case cases[] = {
      {"no stored version", "1.0.3.0", ""},
      {"equal", "1.0.3.0", "1.0.3.0"},
      {"older", "1.0.3.0", "1.0.2.9"},
      {"older by number, newer by text", "1.0.10.0", "1.0.9.0"},
      {"equal in the first four components", "1.0.3.0", "1.0.3.0.9"},
      {"fewer components, equal", "1.0.3.0", "1.0.3"},
      {"not a number", "1.0.3.0", "1.0.3.beta"},
      {"out of range", "1.0.3.0", "99999999999.0.0.0"},
      {"white space only", "1.0.3.0", " "},
      {"path separator", "1.0.3.0", "1.0.4.0/../../../x"},
      {"backslash", "1.0.3.0", "9\\..\\..\\x"},
      {"drive colon", "1.0.3.0", "9:x"},
      {"line break", "1.0.3.0", "1.0.4.0\n"},
      {"tab", "1.0.3.0", "\t1.0.4.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Host() = FakeHost();
    Host().files = {{kInstalled, c.installed}};
    Host().stored_version = c.stored;
    // Even a download for the stored text being present changes nothing.
    Host().files[Download(kData, c.stored)] = "9.9.9.9";
    EXPECT_EQ(RunLaunch(), (std::vector<std::string>{
                               "GetExeDirectory",
                               "IsFileExist " + kInstalled,
                               "GetFileVersionString " + kInstalled,
                               "ReadStoredVersion",
                               "IsLauncherItself " + kInstalled,
                               "StartProcess " + kInstalled,
                               kClose,
                           }));
  }
}

TEST_F(LaunchGameTest, NewerVersionsAreComparedByNumberAndUsedVerbatim) {
  struct Case {
    const char* installed;
    const char* stored;
  };
  const Case cases[] = {
      {"1.0.9.0", "1.0.10.0"},
      {"1.2.0.0", "1.10.0.0"},
      {"1.9.9.9", "2"},
      {"1.0.3.0", "1.1"},
      {"1.0.3.0", " 1.0.4.0 "},        // kept as written, spaces and all
      {"1.0.3.0", "1.0.4.0-beta"},     // 4-beta reads as 4
      {"1.0.3.0", "1.0.4.0 (测试)"},  // bytes outside ASCII are not separators
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    Host() = FakeHost();
    Host().files = {{kInstalled, c.installed}, {Download(kData, c.stored), ""}};
    Host().stored_version = c.stored;
    const std::vector<std::string> calls = RunLaunch();
    ASSERT_EQ(calls.size(), 9u);
    EXPECT_EQ(calls[7], "StartProcess " + Download(kData, c.stored));
  }
}

TEST_F(LaunchGameTest, MissingDownloadFallsBackToTheInstalledGame) {
  Host().files = {{kInstalled, "1.0.3.0"}};
  Host().stored_version = "1.0.4.0";
  EXPECT_EQ(RunLaunch(), (std::vector<std::string>{
                             "GetExeDirectory",
                             "IsFileExist " + kInstalled,
                             "GetFileVersionString " + kInstalled,
                             "ReadStoredVersion",
                             "GetWritableDirectory",
                             "IsFileExist " + Download(kData, "1.0.4.0"),
                             "IsLauncherItself " + kInstalled,
                             "StartProcess " + kInstalled,
                             kClose,
                         }));
}

TEST_F(LaunchGameTest, WithoutADataDirectoryTheDownloadIsLookedForBesideTheLauncher) {
  Host().writable_directory = "";
  Host().files = {{kInstalled, "1.0.3.0"}, {Download("C:/Games/X/", "1.0.4.0"), ""}};
  Host().stored_version = "1.0.4.0";
  EXPECT_EQ(RunLaunch(), (std::vector<std::string>{
                             "GetExeDirectory",
                             "IsFileExist " + kInstalled,
                             "GetFileVersionString " + kInstalled,
                             "ReadStoredVersion",
                             "GetWritableDirectory",
                             "GetExeDirectory",
                             "IsFileExist C:/Games/X/KivoDownloadRes/win32_app_1.0.4.0/Slots.exe",
                             "IsLauncherItself C:/Games/X/KivoDownloadRes/win32_app_1.0.4.0/Slots.exe",
                             "StartProcess C:/Games/X/KivoDownloadRes/win32_app_1.0.4.0/Slots.exe",
                             kClose,
                         }));
}

// An installed game that is missing, or whose version cannot be read, is
// reported once; nothing is started, and neither the settings file nor the
// data directory is touched.
TEST_F(LaunchGameTest, UnusableInstalledGameShowsTheErrorBoxOnly) {
  const std::vector<std::string> box_only_when_absent = {
      "GetExeDirectory", "IsFileExist " + kInstalled, kErrorBox, kClose};
  const std::vector<std::string> box_only_when_unversioned = {
      "GetExeDirectory", "IsFileExist " + kInstalled, "GetFileVersionString " + kInstalled,
      kErrorBox, kClose};

  // Absent, even with a newer download ready in the data directory.
  Host().files = {{Download(kData, "1.0.4.0"), "1.0.4.0"}};
  Host().stored_version = "1.0.4.0";
  EXPECT_EQ(RunLaunch(), box_only_when_absent);

  // Present without a version resource.
  Host() = FakeHost();
  Host().files = {{kInstalled, ""}, {Download(kData, "1.0.4.0"), "1.0.4.0"}};
  Host().stored_version = "1.0.4.0";
  EXPECT_EQ(RunLaunch(), box_only_when_unversioned);
}

// A download that cannot be started gives way to the installed game; an
// installed game that cannot be started is reported once, with the reason
// for the last start that failed. A game that needs administrator rights is
// started again through the consent prompt, and a declined start ends it all.
// A file that is the launcher itself is never started.
TEST_F(LaunchGameTest, FailedStartsFallBackToTheInstalledGameOrAreReported) {
  const std::string download = Download(kData, "1.0.4.0");
  const std::vector<std::string> choosing = {
      "GetExeDirectory",      "IsFileExist " + kInstalled, "GetFileVersionString " + kInstalled,
      "ReadStoredVersion",    "GetWritableDirectory",      "IsFileExist " + download};
  const auto box = [](const char* reason) {
    return "ShowErrorBox Start Slots Error!\n\nC:\\Games\\X\\Slots.exe is not a valid Win32 "
           "application. (error " + std::string(reason) + ") | Error";
  };
  const std::string launcher_box =
      "ShowErrorBox Start Slots Error!\n\nC:\\Games\\X\\Slots.exe is this launcher itself, not "
      "the game. | Error";
  const std::string check_download = "IsLauncherItself " + download;
  const std::string check_installed = "IsLauncherItself " + kInstalled;
  const std::string start_download = "StartProcess " + download;
  const std::string start_installed = "StartProcess " + kInstalled;
  const std::string consent_installed = "StartProcessWithConsent " + kInstalled;
  const SystemError kLauncher = kErrorIsTheLauncher;  // the file is the launcher itself
  struct Case {
    const char* name;
    bool download_present;
    // What a plain start of each game gives, then a start through the prompt.
    SystemError download_error, installed_error, download_consent, installed_consent;
    std::vector<std::string> then;
    // Run above the desktop's rights, and how the start of the download
    // with the desktop's rights goes.
    bool elevated = false;
    SystemError desktop_error = 0;
  };
  const std::string desktop_download = "StartProcessAsDesktop " + download;
  const Case cases[] = {
      {"damaged download", true, 193, 0, 0, 0,
       {check_download, start_download, check_installed, start_installed, kClose}},
      {"installed game cannot start", false, 0, 193, 0, 0,
       {check_installed, start_installed, "GetSystemErrorText 193", box("193"), kClose}},
      {"neither can start: the installed game's reason", true, 193, 5, 0, 0,
       {check_download, start_download, check_installed, start_installed,
        "GetSystemErrorText 5", box("5"), kClose}},
      {"installed game needs administrator rights", false, 0, 740, 0, 0,
       {check_installed, start_installed, consent_installed, kClose}},
      {"installed game's prompt declined", false, 0, 740, 0, 1223,
       {check_installed, start_installed, consent_installed, kClose}},
      {"installed game's consent start fails", false, 0, 740, 0, 5,
       {check_installed, start_installed, consent_installed, "GetSystemErrorText 5", box("5"),
        kClose}},
      // Never through the prompt: any program of the player's can change it.
      {"download needs administrator rights: the installed game instead", true, 740, 0, 0, 0,
       {check_download, start_download, check_installed, start_installed, kClose}},
      {"both need them: only the installed game is asked for", true, 740, 740, 0, 0,
       {check_download, start_download, check_installed, start_installed, consent_installed,
        kClose}},
      {"both need them, the installed game's prompt declined", true, 740, 740, 0, 1223,
       {check_download, start_download, check_installed, start_installed, consent_installed,
        kClose}},
      {"download's compatibility warning declined", true, 1223, 0, 0, 0,
       {check_download, start_download, kClose}},
      {"download is the launcher", true, kLauncher, 0, 0, 0,
       {check_download, check_installed, start_installed, kClose}},
      {"installed game is the launcher", false, 0, kLauncher, 0, 0,
       {check_installed, launcher_box, kClose}},
      {"both are the launcher", true, kLauncher, kLauncher, 0, 0,
       {check_download, check_installed, launcher_box, kClose}},
      {"installed game is the launcher, the download starts", true, 0, kLauncher, 0, 0,
       {check_download, start_download, kClose}},
      // Never with the launcher's administrator rights: the desktop's, or
      // the installed game instead. The installed game starts as always.
      {"elevated: the download with the desktop's rights", true, 0, 0, 0, 0,
       {check_download, desktop_download, kClose}, true, 0},
      {"elevated: no desktop shell window", true, 0, 0, 0, 0,
       {check_download, desktop_download, check_installed, start_installed, kClose}, true, 1168},
      {"elevated: another user's shell, or an elevated one", true, 0, 0, 0, 0,
       {check_download, desktop_download, check_installed, start_installed, kClose}, true, 5},
      {"elevated: no Secondary Logon service", true, 0, 0, 0, 0,
       {check_download, desktop_download, check_installed, start_installed, kClose}, true, 1058},
      {"elevated: the download needs administrator rights", true, 0, 0, 0, 0,
       {check_download, desktop_download, check_installed, start_installed, kClose}, true, 740},
      {"elevated: the download's compatibility warning declined", true, 0, 0, 0, 0,
       {check_download, desktop_download, kClose}, true, 1223},
      {"elevated: the download is the launcher", true, kLauncher, 0, 0, 0,
       {check_download, check_installed, start_installed, kClose}, true, 0},
      {"elevated: no download, the installed game as always", false, 0, 740, 0, 0,
       {check_installed, start_installed, consent_installed, kClose}, true, 0},
      {"elevated: neither the shell nor the installed game", true, 0, 5, 0, 0,
       {check_download, desktop_download, check_installed, start_installed,
        "GetSystemErrorText 5", box("5"), kClose}, true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Host() = FakeHost();
    Host().files = {{kInstalled, "1.0.3.0"}};
    if (c.download_present) Host().files[download] = "1.0.4.0";
    Host().stored_version = "1.0.4.0";
    for (const auto& [path, error] : {std::pair(download, c.download_error),
                                      std::pair(kInstalled, c.installed_error)}) {
      if (error == kLauncher) Host().launchers.insert(path);
      Host().start_errors[path] = error;
    }
    Host().consent_errors = {{download, c.download_consent}, {kInstalled, c.installed_consent}};
    Host().elevated_above_desktop = c.elevated;
    Host().desktop_errors = {{download, c.desktop_error}, {kInstalled, c.desktop_error}};
    std::vector<std::string> expected = choosing;
    expected.insert(expected.end(), c.then.begin(), c.then.end());
    EXPECT_EQ(RunLaunch(), expected);
  }
}

// Each run says what it decided, a line a step, so that support can tell
// why a player got the game they got.
TEST_F(LaunchGameTest, TraceSaysWhatWasDecidedStepByStep) {
  const std::string folder = "launcher folder C:\\Games\\X\\";
  const std::string installed = "installed game C:\\Games\\X\\Slots.exe, version 1.0.3.0";
  const std::string start_installed = "start C:\\Games\\X\\Slots.exe: ";
  const std::string directory = "working directory C:\\Games\\X\\";
  const std::string download =
      "C:\\Users\\u\\AppData\\Local\\Orvellane\\KivoDownloadRes\\win32_app_1.0.4.0\\Slots.exe";
  struct Case {
    const char* name;
    void (*set_up)(FakeHost& host);
    std::vector<std::string> trace;
  };
  const Case cases[] = {
      {"typical", [](FakeHost& host) { host.files[Download(kData, "1.0.4.0")] = ""; },
       {folder, installed, directory, "stored version \"1.0.4.0\"",
        "\"1.0.4.0\" is newer than 1.0.3.0",
        "data folder C:\\Users\\u\\AppData\\Local\\Orvellane\\", "download " + download + " is there",
        "start " + download + ": started"}},
      {"no record", [](FakeHost& host) { host.stored_version = ""; },
       {folder, installed, directory,
        "no stored version: no UserDefault.xml in the working directory",
        start_installed + "started"}},
      {"record outside the tree", [](FakeHost& host) { host.stored_version = "1.0.4.0/../x"; },
       {folder, installed, directory,
        "no stored version: the recorded version is not one path component",
        start_installed + "started"}},
      {"not newer", [](FakeHost& host) { host.stored_version = "1.0.3.0"; },
       {folder, installed, directory, "stored version \"1.0.3.0\"",
        "\"1.0.3.0\" is not newer than 1.0.3.0",
        start_installed + "started"}},
      {"no data folder, no download", [](FakeHost& host) { host.writable_directory = ""; },
       {folder, installed, directory, "stored version \"1.0.4.0\"",
        "\"1.0.4.0\" is newer than 1.0.3.0",
        "no data folder: the download is looked for beside the launcher",
        "download C:\\Games\\X\\KivoDownloadRes\\win32_app_1.0.4.0\\Slots.exe is missing",
        start_installed + "started"}},
      {"consent start fails",
       [](FakeHost& host) {
         host.stored_version = "";
         host.start_errors[kInstalled] = 740;
         host.consent_errors[kInstalled] = 5;
       },
       {folder, installed, directory,
        "no stored version: no UserDefault.xml in the working directory",
        start_installed + "needs administrator rights (error 740)",
        "start through the consent prompt C:\\Games\\X\\Slots.exe: failed (error 5)",
        "error box: Start Slots Error! C:\\Games\\X\\Slots.exe is not a valid Win32 "
        "application. (error 5)"}},
      {"download needs administrator rights",
       [](FakeHost& host) {
         host.files[Download(kData, "1.0.4.0")] = "";
         host.start_errors[Download(kData, "1.0.4.0")] = 740;
         host.working_directory = "";
       },
       {folder, installed, "working directory unknown", "stored version \"1.0.4.0\"",
        "\"1.0.4.0\" is newer than 1.0.3.0",
        "data folder C:\\Users\\u\\AppData\\Local\\Orvellane\\",
        "download " + download + " is there",
        "start " + download + ": needs administrator rights (error 740)",
        "not asking for administrator rights for " + download +
            ": any program of the player's can change it",
        start_installed + "started"}},
      {"elevated: the download cannot start with the desktop's rights",
       [](FakeHost& host) {
         host.files[Download(kData, "1.0.4.0")] = "";
         host.elevated_above_desktop = true;
         host.desktop_errors[Download(kData, "1.0.4.0")] = 1008;
       },
       {folder, installed, directory, "stored version \"1.0.4.0\"",
        "\"1.0.4.0\" is newer than 1.0.3.0",
        "data folder C:\\Users\\u\\AppData\\Local\\Orvellane\\",
        "download " + download + " is there",
        "start with the desktop's rights " + download + ": failed (error 1008)",
        "not starting " + download +
            " with the launcher's administrator rights, which the desktop has not",
        start_installed + "started"}},
      {"elevated: the download starts with the desktop's rights",
       [](FakeHost& host) {
         host.files[Download(kData, "1.0.4.0")] = "";
         host.elevated_above_desktop = true;
       },
       {folder, installed, directory, "stored version \"1.0.4.0\"",
        "\"1.0.4.0\" is newer than 1.0.3.0",
        "data folder C:\\Users\\u\\AppData\\Local\\Orvellane\\",
        "download " + download + " is there",
        "start with the desktop's rights " + download + ": started"}},
      {"the launcher itself", [](FakeHost& host) {
         host.stored_version = "";
         host.launchers.insert(kInstalled);
       },
       {folder, installed, directory,
        "no stored version: no UserDefault.xml in the working directory",
        "not starting C:\\Games\\X\\Slots.exe: it is this launcher itself",
        "error box: Start Slots Error! C:\\Games\\X\\Slots.exe is this launcher itself, not the "
        "game."}},
      {"installed game missing", [](FakeHost& host) { host.files.erase(kInstalled); },
       {folder, "installed game C:\\Games\\X\\Slots.exe is missing",
        "error box: Get Slots Version Error!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Host() = FakeHost();
    Host().files = {{kInstalled, "1.0.3.0"}};
    Host().stored_version = "1.0.4.0";
    c.set_up(Host());
    LaunchGame(kWindow);
    EXPECT_EQ(Host().trace, c.trace);
  }
}

TEST(StartErrorMessageTest, AddsTheSystemsReasonAndTheCode) {
  struct Case {
    SystemError error;
    const char* system_text;
    const char* path;
    const char* message;
  };
  const Case cases[] = {
      {193, "%1 is not a valid Win32 application.\r\n", "C:/Games/X/Slots.exe",
       "Start Slots Error!\n\nC:\\Games\\X\\Slots.exe is not a valid Win32 application. "
       "(error 193)"},
      {5, "Access is denied.\r\n\r\n", "C:/Slots.exe",
       "Start Slots Error!\n\nAccess is denied. (error 5)"},
      {740, "First line.\r\nSecond line.\n", "C:/Slots.exe",
       "Start Slots Error!\n\nFirst line.\r\nSecond line. (error 740)"},
      {1234, "", "C:/Slots.exe", "Start Slots Error!\n\n(error 1234)"},
      {4294967295u, "%1, %1", "D:/100%1/Slots.exe",
       "Start Slots Error!\n\nD:\\100%1\\Slots.exe, D:\\100%1\\Slots.exe (error 4294967295)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StartErrorMessage(c.error, c.system_text, c.path), c.message) << c.system_text;
  }
}

TEST_F(LaunchGameTest, LauncherDirectoryIsUsedAsGiven) {
  Host().exe_directory = "C:/";
  Host().files = {{"C:/Slots.exe", "1.0.3.0"}};
  const std::vector<std::string> calls = RunLaunch();
  ASSERT_EQ(calls.size(), 7u);
  EXPECT_EQ(calls[5], "StartProcess C:/Slots.exe");
}

TEST(IsSinglePathComponentTest, RejectsSeparatorsColonsAndControlCharacters) {
  for (const char* good : {"1.0.4.0", "", " 1.0.4.0 ", "..", "1.0.4.0 (测试)", "a~b"}) {
    EXPECT_TRUE(IsSinglePathComponent(good)) << good;
  }
  for (const char* bad : {"1/2", "1\\2", "C:1", "1\r\n", "\x1f", "a\tb", "../x"}) {
    EXPECT_FALSE(IsSinglePathComponent(bad)) << bad;
  }
}

}  // namespace
