// A DLL planted beside the launcher under a system DLL's name. If it is ever
// loaded, it leaves planted-<its file name>.txt in PELTERIN_RECORD_DIR.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t directory[1024] = {};
  wchar_t module[1024] = {};
  if (!GetEnvironmentVariableW(L"PELTERIN_RECORD_DIR", directory, 1024)) return TRUE;
  GetModuleFileNameW(instance, module, 1024);
  std::wstring name = module;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  HANDLE marker = CreateFileW((std::wstring(directory) + L"\\planted-" + name + L".txt").c_str(),
                              GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}
