// The Windows side of the launch decision: where the launcher lives, where
// the per-user data goes, files, version resources, starting the game and
// the one error box. All 8-bit texts here are UTF-8.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host_services.h"
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
  if (FAILED(get_folder_path(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                             local_app_data))) {
    return {};
  }
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
  if (!CreateProcessW(application.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &process)) {
    const DWORD error = GetLastError();
    // A failure must never read as a start, even without a reason given.
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
  }
  ScopedHandle process_handle(process.hProcess);
  ScopedHandle thread_handle(process.hThread);
  // The launcher has the foreground; hand it on so the game's window comes up
  // in front rather than flashing in the task bar.
  AllowSetForegroundWindow(process.dwProcessId);
  return ERROR_SUCCESS;
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
  MessageBoxW(nullptr, UTF8ToWide(text).c_str(), UTF8ToWide(caption).c_str(), MB_OK);
}

void CloseMainWindow(WindowHandle window) { DestroyWindow(static_cast<HWND>(window)); }
