// The system's errors: the last one, and its own words for each.
#include <windows.h>

#include "system_error.h"
#include "utf_conversion.h"

SystemError LastErrorOrFailure() {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
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
