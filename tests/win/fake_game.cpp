// Stands in for Slots.exe in the end-to-end tests. When started, it writes
// what it was given into records\<process id>.txt beside itself, if that
// folder exists, else <PELTERIN_RECORD_DIR>\<process id>.txt (UTF-8):
// its own path, its command line, its working directory, the value of
// PELTERIN_TAG from its environment, and the time it started.
#include <windows.h>

#include <string>

#include "utf_conversion.h"

namespace {

std::wstring Environment(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, &value[0], size));
  return value;
}

std::wstring ModulePath() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size())));
  return path;
}

std::wstring CurrentDirectory() {
  std::wstring directory(GetCurrentDirectoryW(0, nullptr), L'\0');
  directory.resize(GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), &directory[0]));
  return directory;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;

  // Beside itself when a folder "records" is there: started by the desktop
  // shell, it has the shell's environment, whoever started the shell.
  const std::wstring path = ModulePath();
  std::wstring directory = path.substr(0, path.rfind(L'\\') + 1) + L"records";
  if (GetFileAttributesW(directory.c_str()) == INVALID_FILE_ATTRIBUTES) {
    directory = Environment(L"PELTERIN_RECORD_DIR");
  }
  if (directory.empty()) return 1;
  const std::string record = "path=" + WideToUTF8(ModulePath()) + "\n" +
                             "cmdline=" + WideToUTF8(GetCommandLineW()) + "\n" +
                             "cwd=" + WideToUTF8(CurrentDirectory()) + "\n" +
                             "tag=" + WideToUTF8(Environment(L"PELTERIN_TAG")) + "\n" +
                             "filetime=" + std::to_string(ticks) + "\n";

  // Written aside and renamed, so a reader never sees half a record.
  const std::wstring name = directory + L"\\" + std::to_wstring(GetCurrentProcessId());
  HANDLE file = CreateFileW((name + L".tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
  return MoveFileExW((name + L".tmp").c_str(), (name + L".txt").c_str(), MOVEFILE_REPLACE_EXISTING)
             ? 0
             : 1;
}
