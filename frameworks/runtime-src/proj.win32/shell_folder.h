// What the shell's folder lookup answers, and when that answer names a folder.
#pragma once

#include <windows.h>

// Whether SHGetFolderPathW's `result` and `path` name a folder: only S_OK
// with a non-empty absolute path does. The shell documents S_FALSE (a folder
// that does not exist) as leaving the path empty, and FAILED() lets S_FALSE
// through; a relative or empty folder would put the data directory on the
// root of the current drive, where any user can create folders.
bool IsUsableFolderPath(HRESULT result, const wchar_t* path);
