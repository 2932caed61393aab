#include "shell_folder.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

bool IsUsableFolderPath(HRESULT result, const wchar_t* path) {
  if (result != S_OK || !path) return false;
  // "C:\..." on a drive, or "\\server\share\..." (also "\\?\C:\...").
  const bool on_drive = IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2]);
  const bool on_share = IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] != L'\0';
  return on_drive || on_share;
}
