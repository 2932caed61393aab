// A starter that does exactly the work the launcher's job requires, the
// simplest way, and then starts the program named on its command line: the
// hidden window with the class icons (from the launcher's own resources),
// the installed game's version resource through version.dll, the settings
// file read, the local application-data folder looked up and the data
// folder created, the download's file tested. What Pelterin takes beyond
// this starter is what its own code costs.
//
//   required_work_starter.exe <path of the program to start>
//
// Run from the launcher's folder layout: Slots.exe beside it, and
// UserDefault.xml in the current directory. The results are not used.
#include <windows.h>
#include <shlobj.h>

#include "resource.h"
#include "hidden_window.h"
#include "start_program.h"

namespace {

using SHGetFolderPathWFunction = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
using SHCreateDirectoryExWFunction = int(WINAPI*)(HWND, LPCWSTR, const SECURITY_ATTRIBUTES*);
using GetFileVersionInfoSizeWFunction = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using GetFileVersionInfoWFunction = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using VerQueryValueWFunction = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

// Long enough for the bench's folders.
const DWORD kPathUnits = 1024;

template <typename Function>
Function SystemFunction(const wchar_t* library, const char* name) {
  HMODULE module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}

void Append(wchar_t* path, const wchar_t* text) {
  while (*path) ++path;
  while ((*path++ = *text++)) {
  }
}

// The installed game's file version, read the way any program reads it.
void ReadInstalledVersion(HANDLE heap) {
  wchar_t path[kPathUnits];
  const DWORD length = GetModuleFileNameW(nullptr, path, kPathUnits);
  if (length == 0 || length >= kPathUnits) return;
  wchar_t* name = path + length;
  while (name > path && name[-1] != L'\\' && name[-1] != L'/') --name;
  *name = L'\0';
  Append(path, L"Slots.exe");
  if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return;

  const auto get_size =
      SystemFunction<GetFileVersionInfoSizeWFunction>(L"version.dll", "GetFileVersionInfoSizeW");
  const auto get_info =
      SystemFunction<GetFileVersionInfoWFunction>(L"version.dll", "GetFileVersionInfoW");
  const auto query_value = SystemFunction<VerQueryValueWFunction>(L"version.dll", "VerQueryValueW");
  if (!get_size || !get_info || !query_value) return;
  DWORD unused = 0;
  const DWORD size = get_size(path, &unused);
  if (size == 0) return;
  void* buffer = HeapAlloc(heap, 0, size);
  void* value = nullptr;
  UINT value_length = 0;
  if (buffer && get_info(path, 0, size, buffer)) query_value(buffer, L"\\", &value, &value_length);
  HeapFree(heap, 0, buffer);
}

// The whole settings file, read and dropped.
void ReadSettingsFile(HANDLE heap) {
  HANDLE file = CreateFileW(L"UserDefault.xml", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER size = {};
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 30)) {
    const DWORD bytes = static_cast<DWORD>(size.QuadPart);
    if (void* buffer = HeapAlloc(heap, 0, bytes)) {
      DWORD read = 0;
      ReadFile(file, buffer, bytes, &read, nullptr);
      HeapFree(heap, 0, buffer);
    }
  }
  CloseHandle(file);
}

// The per-user data folder, created if missing, and the download's file in it.
void PrepareDataFolder(const wchar_t* download) {
  const auto get_folder_path =
      SystemFunction<SHGetFolderPathWFunction>(L"shell32.dll", "SHGetFolderPathW");
  const auto create_directory =
      SystemFunction<SHCreateDirectoryExWFunction>(L"shell32.dll", "SHCreateDirectoryExW");
  if (!get_folder_path || !create_directory) return;
  wchar_t folder[MAX_PATH + 16] = {};
  if (FAILED(get_folder_path(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return;
  }
  Append(folder, L"\\Orvellane\\");
  create_directory(nullptr, folder, nullptr);
  GetFileAttributesW(download);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
  HWND window = starter::CreateHiddenWindow(
      instance, L"RequiredWorkStarter", LoadIconW(instance, MAKEINTRESOURCEW(IDI_PELTERIN)),
      LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL)));
  if (!window) return 1;

  const HANDLE heap = GetProcessHeap();
  ReadInstalledVersion(heap);
  ReadSettingsFile(heap);
  starter::GamePath game;
  if (starter::TakePathFromCommandLine(command_line, &game)) {
    PrepareDataFolder(game.application);
    starter::StartGame(game);
  }
  DestroyWindow(window);
  return starter::RunMessageLoop();
}
