#include "system_library.h"

#include <objbase.h>

#include <string>

namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

std::wstring SystemDirectory() {
  const UINT size = GetSystemDirectoryW(nullptr, 0);
  if (size == 0) return {};
  std::wstring directory(size, L'\0');
  const UINT length = GetSystemDirectoryW(&directory[0], size);
  if (length == 0 || length >= size) return {};
  directory.resize(length);
  return directory;
}

}  // namespace

void RestrictDllSearchToSystem32() {
  // Looked up rather than imported: Windows 7 without its loader update lacks
  // it, and an import it cannot resolve would keep the launcher from starting.
  auto set_default_dll_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                             "SetDefaultDllDirectories")));
  if (set_default_dll_directories) set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const wchar_t* library) {
  HMODULE module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // The flag is unknown to this Windows (7 without its loader update).
  return LoadSystemLibraryByPath(library);
}

HMODULE LoadSystemLibraryByPath(const wchar_t* library) {
  const std::wstring directory = SystemDirectory();
  if (directory.empty()) return nullptr;
  // The altered search path starts at the DLL's own folder, so the DLLs it
  // needs in turn come from the system directory too, not from beside the
  // launcher.
  return LoadLibraryExW((directory + L"\\" + library).c_str(), nullptr,
                        LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC GetSystemFunction(const wchar_t* library, const char* function) {
  // Loaded for the life of the process, which is short; never freed.
  HMODULE module = LoadSystemLibrary(library);
  return module ? GetProcAddress(module, function) : nullptr;
}

HRESULT BeginCom() {
  using CoInitializeExFunction = HRESULT(WINAPI*)(void*, DWORD);
  const auto co_initialize =
      GetSystemFunctionAs<CoInitializeExFunction>(L"ole32.dll", "CoInitializeEx");
  if (!co_initialize) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return co_initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
}

void EndCom() {
  using CoUninitializeFunction = void(WINAPI*)();
  if (const auto co_uninitialize =
          GetSystemFunctionAs<CoUninitializeFunction>(L"ole32.dll", "CoUninitialize")) {
    co_uninitialize();
  }
}
