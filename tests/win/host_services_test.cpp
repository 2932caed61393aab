// The Windows host services on real files, folders, version resources and
// processes. Runs under Wine, in scratch folders below %TEMP%.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "bounded_thread.h"
#include "desktop_rights.h"
#include "host_services.h"
#include "scoped_handle.h"
#include "shell_folder.h"
#include "system_library.h"
#include "trace_output.h"
#include "utf_conversion.h"
#include "windows_path.h"

namespace fs = std::filesystem;

namespace {

const wchar_t kShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

PathString Utf8Path(const fs::path& path) {
  std::string text = WideToUTF8(path.wstring());
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

fs::path FromUtf8(const PathString& path) { return fs::path(UTF8ToWide(path)); }

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fake game built beside this test, with the version given by its name.
fs::path FakeGame(const char* name) { return FromUtf8(GetExeDirectory()) / name; }

// A fake game cut short before its resources (in both architectures'
// builds), as a crash or a full disk leaves a program being written.
void WriteTruncatedGame(const fs::path& path) {
  std::ifstream whole(FakeGame("fake_game_1.0.3.0.exe"), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(whole)), {});
  WriteFile(path, bytes.substr(0, 64 * 1024));
}

// The file offset of the data entry (RVA, size) of the version resource of
// `game`, a fake game: in its resource section, the size of its one
// resource, then a code page and a reserved field of 0.
std::size_t VersionDataEntry(const std::string& game) {
  DWORD raw_data = 0;
  std::memcpy(&raw_data, &game[game.find(std::string(".rsrc\0\0\0", 8)) + 20], sizeof(raw_data));
  const std::wstring key = L"VS_VERSION_INFO";
  const std::size_t block =
      game.find(std::string(reinterpret_cast<const char*>(key.data()), key.size() * 2), raw_data);
  DWORD entry[3] = {};
  std::memcpy(entry, &game[block - 6], sizeof(WORD));  // its wLength
  return game.find(std::string(reinterpret_cast<const char*>(entry), sizeof(entry)), raw_data) - 4;
}

// Copies of a fake game whose resource directory gives its version data a
// damaged place or size, as a crash mid-write, a bad disk or a hostile
// build leaves it.
void WriteDamagedGames(const fs::path& folder) {
  std::ifstream whole(FakeGame("fake_game_1.0.3.0.exe"), std::ios::binary);
  const std::string game((std::istreambuf_iterator<char>(whole)), {});
  const std::size_t entry = VersionDataEntry(game);
  const struct {
    const char* name;
    std::size_t field;
    DWORD value;
  } damages[] = {{"1 MiB.exe", 4, 1 << 20},
                 {"2 GiB.exe", 4, 0x80000000},
                 {"nowhere.exe", 0, 0x7FFF0000},
                 {"40 bytes.exe", 4, 40}};
  for (const auto& damage : damages) {
    std::string bytes = game;
    std::memcpy(&bytes[entry + damage.field], &damage.value, sizeof(damage.value));
    WriteFile(folder / damage.name, bytes);
  }
}

// Holds `path` open for writing, as a program writing it would, letting
// others read it meanwhile.
HANDLE HoldForWriting(const fs::path& path) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Whether `text` is as `pattern` gives it, its one "*" standing for any text
// that is not empty (the system's words for an error, say).
bool Matches(const std::string& text, const std::string& pattern) {
  const std::size_t star = pattern.find('*');
  if (star == std::string::npos) return text == pattern;
  const std::string tail = pattern.substr(star + 1);
  return text.size() > star + tail.size() && text.compare(0, star, pattern, 0, star) == 0 &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A desktop shell while it lives: the stand-in program, its window named
// the shell window, started with this process's token or, `limited`, with
// its linked one (under Wine, where every process is elevated, the limited
// half of the split).
class DesktopShell {
 public:
  explicit DesktopShell(bool limited) {
    HANDLE own = nullptr;
    HANDLE token = nullptr;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own);
    if (limited && GetTokenInformation(own, TokenLinkedToken, &linked, sizeof(linked), &size)) {
      CloseHandle(own);
      own = linked.LinkedToken;
    }
    DuplicateTokenEx(own, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &token);
    std::wstring program = FakeGame("desktop_shell_stand_in.exe").wstring();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created = {};
    if (CreateProcessAsUserW(token, program.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &created)) {
      process_ = created.hProcess;
      CloseHandle(created.hThread);
    }
    for (HANDLE handle : {own, token}) CloseHandle(handle);
    for (int i = 0; i < 200 && process_ && !GetShellWindow(); ++i) Sleep(50);
  }
  ~DesktopShell() {
    TerminateProcess(process_, 0);
    WaitForSingleObject(process_, 10000);
    CloseHandle(process_);
    for (int i = 0; i < 200 && GetShellWindow(); ++i) Sleep(50);
  }
  DesktopShell(const DesktopShell&) = delete;
  DesktopShell& operator=(const DesktopShell&) = delete;

 private:
  HANDLE process_ = nullptr;
};

DWORD WINAPI SleepFor(void* milliseconds) {
  Sleep(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(milliseconds)));
  return 0;
}

class HostServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch_ = fs::temp_directory_path() / (std::wstring(L"pelterin host ") +
                                            UTF8ToWide(test->name()) + L" " +
                                            std::to_wstring(GetCurrentProcessId()));
    fs::remove_all(scratch_);
    fs::create_directories(scratch_);
  }
  void TearDown() override {
    if (saved_local_app_data_) {
      SetLocalAppData(*saved_local_app_data_);
    }
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }

  // Points CSIDL_LOCAL_APPDATA at `folder` for this process, as a user's
  // profile would, and restores the old value after the test.
  void SetLocalAppData(const std::wstring& folder) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, nullptr, 0,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (!saved_local_app_data_) {
      wchar_t old[32768] = {};
      DWORD size = sizeof(old) - sizeof(wchar_t);
      RegQueryValueExW(key, L"Local AppData", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(old), &size);
      saved_local_app_data_ = old;
    }
    RegSetValueExW(key, L"Local AppData", 0, REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }

  fs::path scratch_;
  std::optional<std::wstring> saved_local_app_data_;
};

TEST_F(HostServicesTest, ExeDirectoryIsTheFolderOfThisProgram) {
  const PathString directory = GetExeDirectory();
  ASSERT_GE(directory.size(), 3u);
  EXPECT_EQ(directory.back(), '/');
  EXPECT_EQ(directory.find('\\'), std::string::npos);
  EXPECT_TRUE(IsFileExist(directory + "host_services_tests.exe"));
}

TEST_F(HostServicesTest, WorkingDirectoryIsNamedLikeTheOtherFolders) {
  const fs::path saved = fs::current_path();
  const fs::path named = scratch_ / L"Start in \u00e9\u6e38";
  fs::create_directories(named);
  for (const auto& [folder, expected] :
       {std::pair(named, Utf8Path(named) + "/"), std::pair(fs::path(L"C:\\"), PathString("C:/"))}) {
    fs::current_path(folder);
    EXPECT_EQ(GetWorkingDirectory(), expected);
  }
  fs::current_path(saved);
}

TEST_F(HostServicesTest, FileTestSeesRegularFilesOnly) {
  WriteFile(scratch_ / "Slots.exe", "x");
  fs::create_directories(scratch_ / "dir" / "Slots.exe");
  fs::create_directories(scratch_ / L"游戏 目录");
  WriteFile(scratch_ / L"游戏 目录" / L"Slots.exe", "x");

  const PathString base = Utf8Path(scratch_) + "/";
  EXPECT_TRUE(IsFileExist(base + "Slots.exe"));
  EXPECT_TRUE(IsFileExist(base + "\xE6\xB8\xB8\xE6\x88\x8F \xE7\x9B\xAE\xE5\xBD\x95/Slots.exe"));
  EXPECT_FALSE(IsFileExist(base + "dir/Slots.exe")) << "a folder of that name";
  EXPECT_FALSE(IsFileExist(base + "missing.exe"));
  EXPECT_FALSE(IsFileExist(base + "\xFF\xFE/Slots.exe")) << "not UTF-8";
  EXPECT_FALSE(IsFileExist(""));
}

TEST_F(HostServicesTest, VersionComesFromTheFixedFileVersion) {
  fs::create_directories(scratch_ / L"版本");
  fs::copy_file(FakeGame("fake_game_1.0.3.0.exe"), scratch_ / L"版本" / L"Slots.exe");
  WriteFile(scratch_ / "text.exe", "This is not a program.\r\n");
  WriteFile(scratch_ / "empty.exe", "");
  WriteTruncatedGame(scratch_ / "truncated.exe");
  WriteDamagedGames(scratch_);
  fs::copy_file(FakeGame("fake_game_1.0.3.0.exe"), scratch_ / "held.exe");
  const HANDLE held = HoldForWriting(scratch_ / "held.exe");
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  // Held without sharing, as an antivirus scanning it or an installer might.
  fs::copy_file(FakeGame("fake_game_1.0.3.0.exe"), scratch_ / "locked.exe");
  const HANDLE locked = CreateFileW((scratch_ / "locked.exe").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  // A pipe that never writes: a read from it would wait for ever.
  const std::wstring pipe = L"\\\\.\\pipe\\pelterin " + std::to_wstring(GetCurrentProcessId());
  const HANDLE pipe_server = CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE,
                                              1, 4096, 4096, 0, nullptr);
  ASSERT_NE(pipe_server, INVALID_HANDLE_VALUE);

  struct Case {
    PathString path;
    VersionString version;
    // What the trace says of it: the failed step and the error, or that it
    // is no file; nothing for a file read.
    std::string traced = {};
  };
  const PathString base = Utf8Path(scratch_) + "/";
  const Case cases[] = {
      {Utf8Path(FakeGame("fake_game_1.0.3.0.exe")), "1.0.3.0"},
      {Utf8Path(FakeGame("fake_game_1.0.10.0.exe")), "1.0.10.0"},
      {Utf8Path(FakeGame("fake_game_65535.65535.65535.65535.exe")), "65535.65535.65535.65535"},
      {base + "\xE7\x89\x88\xE6\x9C\xAC/Slots.exe", "1.0.3.0"},
      {Utf8Path(FakeGame("fake_game_unversioned.exe")), ""},
      {Utf8Path(FakeGame("fake_game_short_version.exe")), "1.0.3.0"},  // record cut short
      {base + "text.exe", ""},
      {base + "empty.exe", ""},
      {base + "truncated.exe", ""},
      {base + "missing.exe", "", ": CreateFileW failed: * (error 2)"},
      {base + "locked.exe", "", ": CreateFileW failed: * (error 32)"},
      {"NUL", "", ": not a file but a device"},
      {Utf8Path(pipe), "", ": not a file but a pipe"},
      {base + "1 MiB.exe", ""},
      {base + "2 GiB.exe", ""},
      {base + "nowhere.exe", ""},
      {base + "40 bytes.exe", ""},
      {base + "held.exe", "1.0.3.0"},
  };
  for (const Case& c : cases) {
    const std::size_t kept = KeptTrace().size();
    EXPECT_EQ(GetFileVersionString(c.path), c.version) << c.path;
    std::string traced;
    for (std::size_t i = kept; i < KeptTrace().size(); ++i) traced += WideToUTF8(KeptTrace()[i]);
    EXPECT_TRUE(c.traced.empty() ? traced.empty()
                                 : Matches(traced, "Pelterin: reading the version of " +
                                                       InWindowsForm(c.path) + c.traced + "\n"))
        << c.path << ": " << traced;
  }
  for (HANDLE handle : {held, locked, pipe_server}) CloseHandle(handle);
}

TEST_F(HostServicesTest, DataDirectoryIsCreatedUnderLocalAppData) {
  struct Case {
    const wchar_t* local_app_data;  // below the scratch folder
    const char* expected;           // below the scratch folder
  };
  const Case cases[] = {
      {L"Local", "Local/Orvellane/"},
      {L"a.b\\AppData\\Local", "a.b/AppData/Local/Orvellane/"},
      {L"用户\\AppData\\Local", "\xE7\x94\xA8\xE6\x88\xB7/AppData/Local/Orvellane/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUTF8(c.local_app_data));
    fs::create_directories(scratch_ / c.local_app_data);
    SetLocalAppData((scratch_ / c.local_app_data).wstring());
    const PathString expected = Utf8Path(scratch_) + "/" + c.expected;
    EXPECT_EQ(GetWritableDirectory(), expected);
    EXPECT_TRUE(fs::is_directory(FromUtf8(expected)));
    // Asked again, with the folder already there: the same answer.
    EXPECT_EQ(GetWritableDirectory(), expected);
  }
}

// Windows names no local application-data folder that does not exist; the
// launcher then looks for downloads beside itself instead.
TEST_F(HostServicesTest, NoDataDirectoryWithoutLocalAppData) {
  SetLocalAppData((scratch_ / "missing" / "Local").wstring());
  EXPECT_EQ(GetWritableDirectory(), "");
  EXPECT_FALSE(fs::exists(scratch_ / "missing"));
}

TEST_F(HostServicesTest, DataDirectoryThatCannotBeMadeIsStillNamed) {
  fs::create_directories(scratch_ / "Local");
  WriteFile(scratch_ / "Local" / "Orvellane", "a file where the folder should be");
  SetLocalAppData((scratch_ / "Local").wstring());
  const PathString directory = GetWritableDirectory();
  EXPECT_EQ(directory, Utf8Path(scratch_) + "/Local/Orvellane/");
  EXPECT_FALSE(IsFileExist(directory + "KivoDownloadRes/win32_app_1.0.4.0/Slots.exe"));
}

// The started game gets its quoted path as its command line, and the
// launcher's working directory and environment. Started through the shell,
// as for the consent prompt, it gets its path in the shell's form and the
// working directory; the environment is Windows' choice there. Through the
// desktop shell, as from a launcher run as administrator, the same, with
// the shell's environment.
TEST_F(HostServicesTest, StartedProcessInheritsDirectoryAndEnvironment) {
  struct Case {
    const wchar_t* folder;
  };
  const Case cases[] = {{L"plain"}, {L"Program Files (x86)\\Orvellane"}, {L"游戏"}};
  const fs::path records = scratch_ / "records";
  const fs::path working = scratch_ / "working dir";
  fs::create_directories(working);
  SetEnvironmentVariableW(L"PELTERIN_RECORD_DIR", records.wstring().c_str());
  SetEnvironmentVariableW(L"PELTERIN_TAG", L"inherited \u00e9");
  const fs::path original = fs::current_path();
  fs::current_path(working);

  // Starts the game with `start` and reads what it recorded in `record_folder`.
  const auto start_and_read = [&](SystemError (*start)(const PathString&),
                                  const PathString& game, const fs::path& record_folder) {
    fs::remove_all(record_folder);
    fs::create_directories(record_folder);
    EXPECT_EQ(start(game), 0u);
    std::string record;
    for (int i = 0; i < 200 && record.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      for (const auto& entry : fs::directory_iterator(record_folder)) {
        if (entry.path().extension() != ".txt") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        record.assign((std::istreambuf_iterator<char>(in)), {});
      }
    }
    return record;
  };
  const std::string working_line = "cwd=" + WideToUTF8(working.wstring()) + "\n";

  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUTF8(c.folder));
    fs::create_directories(scratch_ / c.folder);
    fs::copy_file(FakeGame("fake_game_1.0.3.0.exe"), scratch_ / c.folder / "Slots.exe");
    const PathString game = Utf8Path(scratch_ / c.folder) + "/Slots.exe";

    // Both ways, the game sees its path as Windows writes it, no "/" in it.
    PathString windows_form = game;
    std::replace(windows_form.begin(), windows_form.end(), '/', '\\');
    std::string record = start_and_read(StartProcess, game, records);
    ASSERT_FALSE(record.empty()) << "the game did not start";
    EXPECT_NE(record.find("cmdline=\"" + windows_form + "\"\n"), std::string::npos) << record;
    EXPECT_NE(record.find(working_line), std::string::npos) << record;
    EXPECT_NE(record.find("tag=inherited \xC3\xA9\n"), std::string::npos) << record;

    record = start_and_read(StartProcessWithConsent, game, records);
    ASSERT_FALSE(record.empty()) << "the game did not start through the shell";
    EXPECT_NE(record.find("cmdline=\"" + windows_form + "\""), std::string::npos) << record;
    EXPECT_NE(record.find(working_line), std::string::npos) << record;

    // With the rights of a desktop shell of this user, without elevation:
    // the launcher's working directory. (Wine ignores the token, and gives
    // the launcher's environment.)
    {
      DesktopShell shell(true);
      ASSERT_NE(GetShellWindow(), nullptr) << "the setup: the stand-in's shell window";
      record = start_and_read(StartProcessAsDesktop, game, records);
    }
    ASSERT_FALSE(record.empty()) << "the game did not start with the desktop's rights";
    EXPECT_NE(record.find("cmdline=\"" + windows_form + "\"\n"), std::string::npos) << record;
    EXPECT_NE(record.find(working_line), std::string::npos) << record;
  }
  fs::current_path(original);
}

// Wine gives every process the elevated half of a split token, whose
// linked token runs at the same integrity level: no rights differ, and a
// download starts as usual. A start with the desktop's rights needs a
// shell window of a process of this user without elevation; each other
// shell starts nothing, and says why.
TEST_F(HostServicesTest, DesktopRightsAreTheShellsOfTheSameUserWithoutElevation) {
  HANDLE token = nullptr;
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size = 0;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
              GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &size));
  ScopedHandle elevated(token), limited(linked.LinkedToken);
  EXPECT_EQ(IntegrityLevel(elevated.get()), IntegrityLevel(limited.get()));
  EXPECT_NE(IntegrityLevel(elevated.get()), 0u);
  EXPECT_FALSE(IsElevatedAboveDesktop());

  fs::create_directories(scratch_ / "records");
  fs::copy_file(FakeGame("fake_game_1.0.3.0.exe"), scratch_ / "Slots.exe");
  const PathString game = Utf8Path(scratch_ / "Slots.exe");
  struct Case {
    const char* shell;
    bool with_shell;
    SystemError error;
    const char* trace;
  };
  const Case cases[] = {
      {"none", false, ERROR_NOT_FOUND,
       "Pelterin: no desktop shell window: the desktop's rights cannot be had\n"},
      {"elevated", true, ERROR_ACCESS_DENIED, "Pelterin: the desktop shell runs elevated\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shell);
    std::optional<DesktopShell> shell;
    if (c.with_shell) shell.emplace(false);
    ASSERT_EQ(GetShellWindow() != nullptr, c.with_shell) << "the setup";
    const std::size_t kept = KeptTrace().size();
    EXPECT_EQ(StartProcessAsDesktop(game), c.error);
    ASSERT_EQ(KeptTrace().size(), kept + 1);
    EXPECT_EQ(WideToUTF8(KeptTrace().back()), c.trace);
  }
  Sleep(1000);
  EXPECT_TRUE(fs::is_empty(scratch_ / "records")) << "nothing may start";
}

// The trace is written only when a debugger or a viewer's buffer in this
// session is there to read it; the global one gets no writes of the
// player's.
TEST_F(HostServicesTest, TraceIsWrittenOnlyWhenSomeoneReadsIt) {
  EXPECT_FALSE(SomeoneReadsTheTrace()) << "the setup: no debugger, no viewer";
  for (const auto& [name, reads] : {std::pair(L"DBWIN_BUFFER", true),
                                    std::pair(L"Local\\DBWIN_BUFFER", true),
                                    std::pair(L"Global\\DBWIN_BUFFER", false)}) {
    SCOPED_TRACE(WideToUTF8(name));
    HANDLE buffer =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(SomeoneReadsTheTrace(), reads);
    CloseHandle(buffer);
    EXPECT_FALSE(SomeoneReadsTheTrace());
  }
}

// While the launcher waits, its window answers whoever sends it a message,
// within the same bound, and a quit message posted meanwhile is kept.
TEST_F(HostServicesTest, WaitsAnswerTheWindowsMessages) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  bool answered = false;
  std::thread sender([&] {
    Sleep(200);
    DWORD_PTR length = 0;
    answered = SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 1000, &length);
  });
  PostQuitMessage(7);
  const DWORD start = GetTickCount();
  EXPECT_FALSE(RunWithTimeLimit(SleepFor, reinterpret_cast<void*>(5000), 1500));
  const DWORD waited = GetTickCount() - start;
  EXPECT_GE(waited, 1400u);
  EXPECT_LT(waited, 4000u);
  sender.join();
  EXPECT_TRUE(answered) << "the message was not answered while the launcher waited";
  EXPECT_TRUE(RunWithTimeLimit(SleepFor, reinterpret_cast<void*>(10), 5000));
  MSG message = {};
  EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 7u);
  DestroyWindow(window);
}

// This test program carries the launcher's version resource, so it stands
// for the launcher here: it, its copies and the launcher are all the
// launcher; games and other files are not.
TEST_F(HostServicesTest, LauncherIsKnownByItsVersionResource) {
  fs::copy_file(FromUtf8(GetExeDirectory() + "host_services_tests.exe"), scratch_ / "Slots.exe");
  fs::copy_file(FakeGame("fake_game_1.0.3.0.exe"), scratch_ / "Pelterin.exe");
  WriteDamagedGames(scratch_);
  fs::copy_file(scratch_ / "Slots.exe", scratch_ / "held.exe");
  const HANDLE held = HoldForWriting(scratch_ / "held.exe");
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  struct Case {
    PathString path;
    bool is_launcher;
  };
  const PathString base = Utf8Path(scratch_) + "/";
  const Case cases[] = {
      {GetExeDirectory() + "host_services_tests.exe", true},
      {base + "Slots.exe", true},  // a copy under another name
      {GetExeDirectory() + "../../frameworks/runtime-src/proj.win32/Pelterin.exe", true},
      {base + "Pelterin.exe", false},  // a game under the launcher's name
      {Utf8Path(FakeGame("fake_game_unversioned.exe")), false},
      {Utf8Path(FakeGame("fake_game_short_version.exe")), false},
      {base + "missing.exe", false},
      {base + "held.exe", true},  // a copy being written
      {base + "1 MiB.exe", false},
      {base + "2 GiB.exe", false},
      {base + "nowhere.exe", false},
      {base + "40 bytes.exe", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsLauncherItself(c.path), c.is_launcher) << c.path;
  CloseHandle(held);
}

// Only an answer of S_OK with an absolute path names the data folder's
// parent; anything else, S_FALSE included, means there is none.
TEST(ShellFolderTest, OnlyAnAbsolutePathWithSOkIsAFolder) {
  struct Case {
    HRESULT result;
    const wchar_t* path;
    bool usable;
  };
  const Case cases[] = {
      {S_OK, L"C:\\Users\\u\\AppData\\Local", true},
      {S_OK, L"\\\\server\\profiles\\u\\Local", true},
      {S_OK, L"\\\\?\\C:\\Users\\u\\AppData\\Local", true},
      {S_FALSE, L"", false},
      {S_FALSE, L"C:\\Users\\u\\AppData\\Local", false},
      {E_FAIL, L"C:\\Users\\u\\AppData\\Local", false},
      {S_OK, L"", false},
      {S_OK, L"\\Local", false},
      {S_OK, L"C:Local", false},
      {S_OK, L"C:", false},
      {S_OK, L"Local", false},
      {S_OK, L"\\\\", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsUsableFolderPath(c.result, c.path), c.usable)
        << std::hex << c.result << " " << WideToUTF8(c.path);
  }
}

// What cannot be started says why, in the system's words.
TEST_F(HostServicesTest, FailedStartGivesTheSystemsReason) {
  WriteTruncatedGame(scratch_ / "truncated.exe");
  fs::copy_file(FakeGame("planted_dll.dll"), scratch_ / "library.exe");
  struct Case {
    const char* file;
    SystemError error;
  };
  const Case cases[] = {
      {"missing.exe", ERROR_FILE_NOT_FOUND},
      {"truncated.exe", ERROR_BAD_EXE_FORMAT},
      {"library.exe", ERROR_BAD_EXE_FORMAT},  // a DLL, version resource and all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(StartProcess(Utf8Path(scratch_) + "/" + c.file), c.error);
    EXPECT_EQ(StartProcessWithConsent(Utf8Path(scratch_) + "/" + c.file), c.error);
    EXPECT_NE(GetSystemErrorText(c.error), "");
  }
  EXPECT_EQ(GetSystemErrorText(0xDEADBEEF), "") << "no text for an unknown code";
}

// A DLL of a name Windows does not have, beside this program and in its
// working directory: a plain load finds it, the system-only loader must not.
TEST_F(HostServicesTest, SystemLibrariesComeFromTheSystemDirectoryOnly) {
  const fs::path original = fs::current_path();
  fs::current_path(scratch_);
  fs::copy_file(FakeGame("planted_dll.dll"), scratch_ / "planted_dll.dll");
  fs::copy_file(FakeGame("planted_dll.dll"), scratch_ / "working_dir_only.dll");
  for (const wchar_t* name : {L"planted_dll.dll", L"working_dir_only.dll"}) {
    SCOPED_TRACE(WideToUTF8(name));
    HMODULE plain = LoadLibraryW(name);
    EXPECT_NE(plain, nullptr) << "the setup: a plain load must find it";
    if (plain) FreeLibrary(plain);
    EXPECT_EQ(LoadSystemLibrary(name), nullptr);
    EXPECT_EQ(LoadSystemLibraryByPath(name), nullptr);
  }
  EXPECT_NE(LoadSystemLibrary(L"shell32.dll"), nullptr);
  EXPECT_NE(LoadSystemLibraryByPath(L"shell32.dll"), nullptr);
  fs::current_path(original);
}

}  // namespace
