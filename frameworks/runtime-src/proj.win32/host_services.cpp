// The Windows side of the launch decision: where the launcher lives, where
// the per-user data goes, files, version resources, starting the game and
// the one error box. All 8-bit texts here are UTF-8.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host_services.h"
#include "shell_folder.h"
#include "system_library.h"
#include "utf_conversion.h"
#include "version.h"

namespace {

// Under this folder no file can exist: "|" is not allowed in file names. It
// stands for the launcher's own folder when Windows cannot tell it, so that
// nothing is found and nothing started, rather than guessing another folder.
const char kUnknownDirectory[] = "|launcher folder unknown|/";

// The longest path the wide functions handle, terminator included.
const DWORD kMaxPathUnits = 32768;

using SHGetFolderPathWFunction = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
using SHCreateDirectoryExWFunction = int(WINAPI*)(HWND, LPCWSTR, const SECURITY_ATTRIBUTES*);
using GetFileVersionInfoSizeWFunction = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using GetFileVersionInfoWFunction = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using VerQueryValueWFunction = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
using ShellExecuteExWFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
using CoInitializeExFunction = HRESULT(WINAPI*)(LPVOID, DWORD);
using CoUninitializeFunction = void(WINAPI*)();

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

std::wstring WithBackslashes(std::wstring path) {
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

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

bool IsFileExist(const PathString& path) {
  const DWORD attributes = GetFileAttributesW(UTF8ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

VersionString GetFileVersionString(const PathString& path) {
  const auto get_size = GetSystemFunctionAs<GetFileVersionInfoSizeWFunction>(
      L"version.dll", "GetFileVersionInfoSizeW");
  const auto get_info =
      GetSystemFunctionAs<GetFileVersionInfoWFunction>(L"version.dll", "GetFileVersionInfoW");
  const auto query_value =
      GetSystemFunctionAs<VerQueryValueWFunction>(L"version.dll", "VerQueryValueW");
  if (!get_size || !get_info || !query_value) return {};

  const std::wstring wide_path = UTF8ToWide(path);
  DWORD unused = 0;
  const DWORD size = get_size(wide_path.c_str(), &unused);
  if (size == 0) return {};
  std::vector<unsigned char> buffer(size);
  if (!get_info(wide_path.c_str(), 0, size, buffer.data())) return {};

  void* value = nullptr;
  UINT length = 0;
  if (!query_value(buffer.data(), L"\\", &value, &length)) return {};
  // A damaged resource can have a root value shorter than the record.
  if (!value || length < sizeof(VS_FIXEDFILEINFO)) return {};
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  return FormatFileVersion(info->dwFileVersionMS, info->dwFileVersionLS);
}

SystemError StartProcess(const PathString& path) {
  const std::wstring application = UTF8ToWide(path);
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
  const auto co_initialize =
      GetSystemFunctionAs<CoInitializeExFunction>(L"ole32.dll", "CoInitializeEx");
  const auto co_uninitialize =
      GetSystemFunctionAs<CoUninitializeFunction>(L"ole32.dll", "CoUninitialize");
  const bool com =
      co_initialize && co_uninitialize &&
      SUCCEEDED(co_initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));

  // The shell's own path form. The directory is given because an elevated
  // start does not inherit the launcher's.
  const std::wstring file = WithBackslashes(UTF8ToWide(path));
  const std::wstring directory = CurrentDirectory();
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // Done when the call returns, and no shell error dialog: the launcher tells
  // the player itself.
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpFile = file.c_str();
  info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
  info.nShow = SW_SHOWNORMAL;
  const SystemError error = shell_execute(&info) ? ERROR_SUCCESS : LastErrorOrFailure();
  if (com) co_uninitialize();
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
  // Brought to the front: a box raised after the player clicked elsewhere
  // must not wait unseen behind other windows.
  MessageBoxW(nullptr, UTF8ToWide(text).c_str(), UTF8ToWide(caption).c_str(),
              MB_OK | MB_SETFOREGROUND);
}

void CloseMainWindow(WindowHandle window) { DestroyWindow(static_cast<HWND>(window)); }
