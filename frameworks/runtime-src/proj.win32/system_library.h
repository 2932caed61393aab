// Loading system DLLs from the system directory only. The launcher lives in a
// folder the user can usually write to, so a DLL dropped beside it must never
// be picked up in place of a system one.
#pragma once

#include <windows.h>

// Removes the application folder and the current directory from the DLL
// search path of this process, where Windows supports it.
void RestrictDllSearchToSystem32();

// Loads the system DLL `library` (e.g. L"version.dll") from the system
// directory only; null when it is not there.
HMODULE LoadSystemLibrary(const wchar_t* library);

// The same by the DLL's full path in the system directory, for Windows that
// does not know the system-directory-only search.
HMODULE LoadSystemLibraryByPath(const wchar_t* library);

// The address of `function` in the system DLL `library`, loaded as above;
// null when either cannot be found.
FARPROC GetSystemFunction(const wchar_t* library, const char* function);

template <typename FunctionPointer>
FunctionPointer GetSystemFunctionAs(const wchar_t* library, const char* function) {
  // Through void* so that compilers accept the cast between function types.
  return reinterpret_cast<FunctionPointer>(
      reinterpret_cast<void*>(GetSystemFunction(library, function)));
}

// COM on this thread, in a single-threaded apartment without OLE1 DDE, as the
// shell wants it, from ole32 in the system directory: CoInitializeEx's
// result, or ERROR_PROC_NOT_FOUND as an HRESULT when ole32 cannot be had.
// A success is to be ended by EndCom on the same thread.
HRESULT BeginCom();
void EndCom();
