// The Windows side of the launch decision: where the launcher lives, where
// the per-user data goes, files, version resources, starting the game and
// the one error box. All 8-bit texts here are UTF-8.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "desktop_rights.h"
#include "host_services.h"
#include "scoped_handle.h"
#include "shell_folder.h"
#include "system_error.h"
#include "system_library.h"
#include "trace_output.h"
#include "utf_conversion.h"
#include "version_resource.h"
#include "windows_path.h"

namespace {

// Under this folder no file can exist: "|" is not allowed in file names. It
// stands for the launcher's own folder when Windows cannot tell it, so that
// nothing is found and nothing started, rather than guessing another folder.
const char kUnknownDirectory[] = "|launcher folder unknown|/";

// The longest path the wide functions handle, terminator included.
const DWORD kMaxPathUnits = 32768;

using SHGetFolderPathWFunction = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
using SHCreateDirectoryExWFunction = int(WINAPI*)(HWND, LPCWSTR, const SECURITY_ATTRIBUTES*);
using ShellExecuteExWFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
using CreateProcessWithTokenWFunction = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, void*,
                                                      LPCWSTR, STARTUPINFOW*,
                                                      PROCESS_INFORMATION*);

std::string WithForwardSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// A path in the form Windows documents for its functions, with backslashes.
// Most accept "/" too, but a program handed a command line with "/" in it
// may split its own path on "\\" to find its folder, and fail to.
std::wstring WindowsPath(const PathString& path) { return UTF8ToWide(InWindowsForm(path)); }

// The working directory, however long; empty on failure.
std::wstring CurrentDirectory() {
  std::wstring buffer;
  DWORD size = GetCurrentDirectoryW(0, nullptr);
  while (size > buffer.size()) {
    buffer.resize(size);
    size = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), &buffer[0]);
  }
  buffer.resize(size);
  return buffer;
}

// The full path of the running executable, however long; empty on failure.
std::wstring ModuleFileName() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], size);
    if (length == 0) return {};
    if (length < size) {
      buffer.resize(length);
      return buffer;
    }
    // Truncated: Windows filled the whole buffer.
    if (size >= kMaxPathUnits) return {};
    buffer.resize(std::min(size * 2, kMaxPathUnits));
  }
}

// A game file open for reading, and what is read of it, such as "the
// version of C:\...\Slots.exe", for the trace of a step that fails.
struct GameFile {
  HANDLE handle = nullptr;
  std::string reading;
};

// Says which step of reading failed, and why in the system's words: a file
// held open by another program (32), one an antivirus quarantined (225), a
// cloud file that is not on this computer.
void TraceFileError(const GameFile& file, const char* step, SystemError error) {
  TraceSystemError("reading " + file.reading + ": " + step + " failed", error);
}

// Reads up to `size` bytes at `offset` of the open GameFile `context`: one
// positioned read, so that no seek before it can fail unnoticed.
std::size_t ReadFileBytes(void* context, std::uint64_t offset, void* buffer, std::size_t size) {
  const GameFile& file = *static_cast<const GameFile*>(context);
  OVERLAPPED position = {};
  position.Offset = static_cast<DWORD>(offset);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (size > MAXDWORD ||
      !ReadFile(file.handle, buffer, static_cast<DWORD>(size), &read, &position)) {
    // The end of a file cut short is the reader's to judge, not an error.
    const DWORD error = GetLastError();
    if (size <= MAXDWORD && error != ERROR_HANDLE_EOF) TraceFileError(file, "ReadFile", error);
    return 0;
  }
  return std::min<std::size_t>(read, size);
}

// `path` opened as `file` to read its version, while other programs may
// hold it open, to write it too; false, with why in the trace, when it
// cannot be opened or is no file.
bool OpenGameFile(const PathString& path, GameFile& file) {
  file.reading = "the version of " + InWindowsForm(path);
  const HANDLE handle = CreateFileW(WindowsPath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    TraceFileError(file, "CreateFileW", LastErrorOrFailure());
    return false;
  }
  // Not a pipe or a character device, whose reads could wait for ever. A
  // file system that Windows cannot type (a user-mode one, such as a WinFsp
  // mount, reports itself as a network file system) holds files all the
  // same.
  SetLastError(ERROR_SUCCESS);
  const DWORD type = GetFileType(handle);
  const DWORD error = GetLastError();
  if (type == FILE_TYPE_UNKNOWN && error != ERROR_SUCCESS) {
    TraceFileError(file, "GetFileType", error);
  } else if (type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR) {
    Trace("reading " + file.reading + ": not a file but a " +
          (type == FILE_TYPE_PIPE ? "pipe" : "device"));
  } else {
    file.handle = handle;
    return true;
  }
  CloseHandle(handle);
  return false;
}

// Starts the game at `path` with its quoted path as its command line, so
// that a path with spaces reaches it as one argument: with the launcher's
// own rights, or with `token`'s. Suspended until it may take the
// foreground, which the launcher has and hands on: granted any later, the
// game's first window could open behind others, with only a flashing
// task-bar button to show for it.
SystemError StartGameProcess(const PathString& path, HANDLE token) {
  const std::wstring application = WindowsPath(path);
  std::wstring command_line = L"\"" + application + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created = {};
  BOOL made = FALSE;
  if (!token) {
    made = CreateProcessW(application.c_str(), &command_line[0], nullptr, nullptr, FALSE,
                          CREATE_SUSPENDED, nullptr, nullptr, &startup, &created);
  } else if (const auto create_process = GetSystemFunctionAs<CreateProcessWithTokenWFunction>(
                 L"advapi32.dll", "CreateProcessWithTokenW")) {
    // No environment: the token's user's own, as Explorer would give it.
    made = create_process(token, 0, application.c_str(), &command_line[0], CREATE_SUSPENDED,
                          nullptr, nullptr, &startup, &created);
  } else {
    SetLastError(ERROR_PROC_NOT_FOUND);
  }
  if (!made) return LastErrorOrFailure();
  ScopedHandle process(created.hProcess);
  ScopedHandle thread(created.hThread);
  AllowSetForegroundWindow(created.dwProcessId);
  if (ResumeThread(created.hThread) == static_cast<DWORD>(-1)) {
    // A game that can never run is not left behind, suspended.
    const SystemError error = LastErrorOrFailure();
    TerminateProcess(created.hProcess, error);
    return error;
  }
  return ERROR_SUCCESS;
}

// The file's version resource, read from the file itself a part at a time:
// the version functions would trust the sizes the file gives, and fault on
// a damaged one.
VersionResource FileVersionResource(const PathString& path) {
  GameFile file;
  if (!OpenGameFile(path, file)) return {};
  ScopedHandle closer(file.handle);
  return ReadVersionResource({ReadFileBytes, &file}, GetUserDefaultUILanguage());
}

// The names the launcher's own version resource gives it, from its image.
std::vector<std::string> OwnProgramNames() {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
  HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const auto* data = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
  if (!data) return {};
  return ParseVersionResource(data, SizeofResource(nullptr, found)).names;
}

}  // namespace

PathString GetExeDirectory() {
  const std::string path = WithForwardSlashes(WideToUTF8(ModuleFileName()));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return kUnknownDirectory;
  return path.substr(0, slash + 1);
}

PathString GetWritableDirectory() {
  const auto get_folder_path =
      GetSystemFunctionAs<SHGetFolderPathWFunction>(L"shell32.dll", "SHGetFolderPathW");
  const auto create_directory =
      GetSystemFunctionAs<SHCreateDirectoryExWFunction>(L"shell32.dll", "SHCreateDirectoryExW");
  if (!get_folder_path || !create_directory) return {};

  wchar_t local_app_data[MAX_PATH] = {};  // the size this call is defined for
  const HRESULT found = get_folder_path(nullptr, CSIDL_LOCAL_APPDATA, nullptr,
                                        SHGFP_TYPE_CURRENT, local_app_data);
  if (!IsUsableFolderPath(found, local_app_data)) return {};
  const std::wstring directory = std::wstring(local_app_data) + L"\\Orvellane\\";
  // Creates missing parents too. A positive error code (the folder exists, or
  // could not be made) still gives the path: a download simply won't be found.
  if (create_directory(nullptr, directory.c_str(), nullptr) < 0) return {};
  return WithForwardSlashes(WideToUTF8(directory));
}

PathString GetWorkingDirectory() {
  std::string directory = WithForwardSlashes(WideToUTF8(CurrentDirectory()));
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory;
}

bool IsFileExist(const PathString& path) {
  const DWORD attributes = GetFileAttributesW(WindowsPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

VersionString GetFileVersionString(const PathString& path) {
  return FileVersionResource(path).version;
}

bool IsLauncherItself(const PathString& path) {
  // Any name the launcher's own resource gives it, found in the file's. A
  // copy, a link or the very file carry the same resource; a game's names
  // its own program. A file whose names cannot be read is not the launcher.
  const std::vector<std::string> names = FileVersionResource(path).names;
  if (names.empty()) return false;
  const std::vector<std::string> own = OwnProgramNames();
  for (const std::string& name : names) {
    if (std::find(own.begin(), own.end(), name) != own.end()) return true;
  }
  return false;
}

SystemError StartProcess(const PathString& path) { return StartGameProcess(path, nullptr); }

SystemError StartProcessAsDesktop(const PathString& path) {
  SystemError error = ERROR_SUCCESS;
  ScopedHandle token(DesktopShellToken(error));
  // Windows answers for the desktop's rights as for Explorer's own start:
  // 740 for a game that needs more, whatever the reason. Without the
  // Secondary Logon service the call fails.
  return token ? StartGameProcess(path, token.get()) : error;
}

SystemError StartProcessWithConsent(const PathString& path) {
  const auto shell_execute =
      GetSystemFunctionAs<ShellExecuteExWFunction>(L"shell32.dll", "ShellExecuteExW");
  if (!shell_execute) return LastErrorOrFailure();
  // The shell may hand a start to COM objects, which need COM on this thread.
  const bool com = SUCCEEDED(BeginCom());

  // The directory is given because an elevated start does not inherit the
  // launcher's.
  const std::wstring file = WindowsPath(path);
  const std::wstring directory = CurrentDirectory();
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // Done when the call returns, and no shell error dialog: the launcher tells
  // the player itself.
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  // Owned by the window the player is looking at: without a valid owner the
  // consent prompt can end up as a flashing task-bar button instead, and the
  // player, seeing nothing, starts the launcher again.
  info.hwnd = GetForegroundWindow();
  info.lpFile = file.c_str();
  info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
  info.nShow = SW_SHOWNORMAL;
  const SystemError error = shell_execute(&info) ? ERROR_SUCCESS : LastErrorOrFailure();
  if (com) EndCom();
  return error;
}

void ShowErrorBox(const std::string& text, const std::string& caption) {
  // Brought to the front, and above other windows even where Windows refuses
  // the foreground (the player clicked elsewhere meanwhile): a box that
  // waits unseen behind other windows would be a silent failure.
  MessageBoxW(nullptr, UTF8ToWide(text).c_str(), UTF8ToWide(caption).c_str(),
              MB_OK | MB_SETFOREGROUND | MB_TOPMOST);
}

void CloseMainWindow(WindowHandle window) {
  if (window) DestroyWindow(static_cast<HWND>(window));
}
