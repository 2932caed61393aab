// The Windows side of the launch decision: where the launcher lives, where
// the per-user data goes, files, version resources, starting the game and
// the one error box. All 8-bit texts here are UTF-8.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host_services.h"
#include "shell_folder.h"
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

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() {
    if (handle_) CloseHandle(handle_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

 private:
  HANDLE handle_;
};

std::string WithForwardSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// A path in the form Windows documents for its functions, with backslashes.
// Most accept "/" too, but a program handed a command line with "/" in it
// may split its own path on "\\" to find its folder, and fail to.
std::wstring WindowsPath(const PathString& path) { return UTF8ToWide(InWindowsForm(path)); }

// The reason the last call failed; never 0, so that a failure cannot read as
// a start even when Windows gives no reason.
SystemError LastErrorOrFailure() {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

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

// What is being read, such as "the version of C:\...\Slots.exe", for the
// trace of a step that fails.
std::string g_reading;

// Says which step of reading failed, and why in the system's words: a file
// held open by another program (32), one an antivirus quarantined (225), a
// cloud file that is not on this computer.
void TraceFileError(const char* step, SystemError error) {
  TraceSystemError("reading " + g_reading + ": " + step + " failed", error);
}

// Reads up to `size` bytes at `offset` of the open file `context`: one
// positioned read, so that no seek before it can fail unnoticed.
std::size_t ReadFileBytes(void* context, std::uint64_t offset, void* buffer, std::size_t size) {
  OVERLAPPED position = {};
  position.Offset = static_cast<DWORD>(offset);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (size > MAXDWORD ||
      !ReadFile(static_cast<HANDLE>(context), buffer, static_cast<DWORD>(size), &read, &position)) {
    // The end of a file cut short is the reader's to judge, not an error.
    const DWORD error = GetLastError();
    if (size <= MAXDWORD && error != ERROR_HANDLE_EOF) TraceFileError("ReadFile", error);
    return 0;
  }
  return std::min<std::size_t>(read, size);
}

// `path` opened to read `what` of it ("the version"), while other programs
// may hold it open, to write it too; nothing, with why in the trace, when
// it cannot be opened or is no file.
HANDLE OpenGameFile(const PathString& path, const char* what) {
  g_reading = std::string(what) + " of " + InWindowsForm(path);
  HANDLE file = CreateFileW(WindowsPath(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    TraceFileError("CreateFileW", LastErrorOrFailure());
    return nullptr;
  }
  // Not a pipe or a character device, whose reads could wait for ever. A
  // file system that Windows cannot type (a user-mode one, such as a WinFsp
  // mount, reports itself as a network file system) holds files all the
  // same.
  SetLastError(ERROR_SUCCESS);
  const DWORD type = GetFileType(file);
  const DWORD error = GetLastError();
  if (type == FILE_TYPE_UNKNOWN && error != ERROR_SUCCESS) {
    TraceFileError("GetFileType", error);
  } else if (type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR) {
    Trace("reading " + g_reading + ": not a file but a " +
          (type == FILE_TYPE_PIPE ? "pipe" : "device"));
  } else {
    return file;
  }
  CloseHandle(file);
  return nullptr;
}

// The file's version resource, read from the file itself a part at a time:
// the version functions would trust the sizes the file gives, and fault on
// a damaged one.
VersionResource FileVersionResource(const PathString& path) {
  HANDLE file = OpenGameFile(path, "the version");
  if (!file) return {};
  ScopedHandle closer(file);
  return ReadVersionResource({ReadFileBytes, file}, GetUserDefaultUILanguage());
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

bool FileAsksForAdministrator(const PathString& path) {
  HANDLE file = OpenGameFile(path, "the manifest");
  if (!file) return false;
  ScopedHandle closer(file);
  return AsksForAdministrator({ReadFileBytes, file});
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

SystemError StartProcess(const PathString& path) {
  const std::wstring application = WindowsPath(path);
  // Quoted, so that a path with spaces reaches the game as one argument.
  std::wstring command_line = L"\"" + application + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  // Suspended until it may take the foreground, which the launcher has and
  // hands on: granted any later, the game's first window could open behind
  // others, with only a flashing task-bar button to show for it.
  if (!CreateProcessW(application.c_str(), &command_line[0], nullptr, nullptr, FALSE,
                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
    return LastErrorOrFailure();
  }
  ScopedHandle process_handle(process.hProcess);
  ScopedHandle thread_handle(process.hThread);
  AllowSetForegroundWindow(process.dwProcessId);
  if (ResumeThread(process.hThread) == static_cast<DWORD>(-1)) {
    // A game that can never run is not left behind, suspended.
    const SystemError error = LastErrorOrFailure();
    TerminateProcess(process.hProcess, error);
    return error;
  }
  return ERROR_SUCCESS;
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

std::string GetSystemErrorText(SystemError error) {
  wchar_t* text = nullptr;
  // Language 0: the user's language, else the system's, else English.
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || !text) return {};
  const std::string utf8 = WideToUTF8(std::wstring(text, length));
  LocalFree(text);
  return utf8;
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
