// Starting a download with the desktop's rights from a launcher that has
// more: the desktop shell (Explorer) is asked, through its own automation
// objects, to start it as it starts a double-clicked program.
#include "desktop_shell.h"

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <string>

#include "bounded_thread.h"
#include "host_services.h"
#include "system_library.h"
#include "trace_output.h"
#include "utf_conversion.h"
#include "windows_path.h"

namespace {

using OpenProcessTokenFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE*);
using GetTokenInformationFunction = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, void*, DWORD,
                                                  DWORD*);
using CoCreateInstanceFunction = HRESULT(WINAPI*)(REFCLSID, IUnknown*, DWORD, REFIID, void**);
using SysAllocStringFunction = BSTR(WINAPI*)(const OLECHAR*);
using SysFreeStringFunction = void(WINAPI*)(BSTR);

// How long the shell may take to accept the start. Explorer answers in a
// fraction of a second; one that does not within this is hung, and the
// installed game starts instead.
const DWORD kShellAnswerLimitMs = 10000;

// A COM interface pointer, released when it goes.
template <typename Interface>
class ScopedInterface {
 public:
  ScopedInterface() = default;
  ~ScopedInterface() {
    if (pointer_) pointer_->Release();
  }
  ScopedInterface(const ScopedInterface&) = delete;
  ScopedInterface& operator=(const ScopedInterface&) = delete;
  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }
  Interface** Receive() { return &pointer_; }
  void** ReceiveVoid() { return reinterpret_cast<void**>(&pointer_); }

 private:
  Interface* pointer_ = nullptr;
};

// The stages of one start through the shell. The launcher gives up only on
// a start the shell has not been asked for yet: once asked, it may start
// the game any moment, and the installed game must not start beside it.
enum : LONG { kPreparing, kAskedTheShell, kGivenUp };

struct DesktopStart {
  std::wstring file;
  std::wstring directory;
  volatile LONG stage = kPreparing;
  // Where it failed, and why; read only once the thread has ended.
  const char* step = nullptr;
  SystemError error = 0;
};

SystemError FromHResult(HRESULT result) {
  if (HRESULT_FACILITY(result) == FACILITY_WIN32) return HRESULT_CODE(result);
  return static_cast<SystemError>(result);
}

// The desktop shell's own automation object, which starts programs from
// within the shell: the desktop window's view, its background object, and
// the application behind that.
HRESULT FindDesktopShell(CoCreateInstanceFunction co_create_instance, DesktopStart& start,
                         IShellDispatch2** shell) {
  ScopedInterface<IShellWindows> windows;
  start.step = "the shell's windows";
  HRESULT result = co_create_instance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID_IShellWindows, windows.ReceiveVoid());
  if (FAILED(result)) return result;
  VARIANT desktop = {};
  desktop.vt = VT_I4;
  desktop.lVal = CSIDL_DESKTOP;
  VARIANT no_root = {};
  LONG window = 0;
  ScopedInterface<IDispatch> found;
  start.step = "the desktop window";
  result = windows->FindWindowSW(&desktop, &no_root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                                 found.Receive());
  if (result != S_OK || !found.get()) return FAILED(result) ? result : E_FAIL;

  ScopedInterface<IServiceProvider> services;
  ScopedInterface<IShellBrowser> browser;
  ScopedInterface<IShellView> view;
  ScopedInterface<IDispatch> background;
  ScopedInterface<IShellFolderViewDual> folder_view;
  ScopedInterface<IDispatch> application;
  start.step = "the desktop's view";
  if (FAILED(result = found->QueryInterface(IID_IServiceProvider, services.ReceiveVoid())) ||
      FAILED(result = services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                             browser.ReceiveVoid())) ||
      FAILED(result = browser->QueryActiveShellView(view.Receive())) ||
      FAILED(result = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch,
                                          background.ReceiveVoid())) ||
      FAILED(result = background->QueryInterface(IID_IShellFolderViewDual,
                                                 folder_view.ReceiveVoid())) ||
      FAILED(result = folder_view->get_Application(application.Receive())) ||
      FAILED(result = application->QueryInterface(IID_IShellDispatch2,
                                                  reinterpret_cast<void**>(shell)))) {
    return result;
  }
  // The game's first window may take the foreground, as the launcher's own
  // start allows it: the shell starts it, so the shell is allowed.
  DWORD shell_process = 0;
  if (GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<LONG_PTR>(window)),
                               &shell_process)) {
    AllowSetForegroundWindow(shell_process);
  }
  return S_OK;
}

DWORD WINAPI StartThroughDesktopShell(void* context) {
  DesktopStart& start = *static_cast<DesktopStart*>(context);
  const auto co_create_instance =
      GetSystemFunctionAs<CoCreateInstanceFunction>(L"ole32.dll", "CoCreateInstance");
  const auto sys_alloc_string =
      GetSystemFunctionAs<SysAllocStringFunction>(L"oleaut32.dll", "SysAllocString");
  const auto sys_free_string =
      GetSystemFunctionAs<SysFreeStringFunction>(L"oleaut32.dll", "SysFreeString");
  start.step = "COM";
  if (!co_create_instance || !sys_alloc_string || !sys_free_string) {
    start.error = ERROR_PROC_NOT_FOUND;
    return 0;
  }
  HRESULT result = BeginCom();
  if (FAILED(result)) {
    start.error = FromHResult(result);
    return 0;
  }
  {
    ScopedInterface<IShellDispatch2> shell;
    result = FindDesktopShell(co_create_instance, start, shell.Receive());
    BSTR file = sys_alloc_string(start.file.c_str());
    BSTR directory = sys_alloc_string(start.directory.c_str());
    BSTR open = sys_alloc_string(L"open");
    if (SUCCEEDED(result) && (!file || !directory || !open)) result = E_OUTOFMEMORY;
    if (SUCCEEDED(result) &&
        InterlockedCompareExchange(&start.stage, kAskedTheShell, kPreparing) != kPreparing) {
      result = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
    if (SUCCEEDED(result)) {
      VARIANT no_arguments = {};
      VARIANT in_directory = {};
      in_directory.vt = VT_BSTR;
      in_directory.bstrVal = directory;
      VARIANT operation = {};
      operation.vt = VT_BSTR;
      operation.bstrVal = open;
      VARIANT show = {};
      show.vt = VT_I4;
      show.lVal = SW_SHOWNORMAL;
      start.step = "the shell's start";
      result = shell->ShellExecute(file, no_arguments, in_directory, operation, show);
    }
    for (BSTR text : {file, directory, open}) sys_free_string(text);
  }
  EndCom();
  start.error = SUCCEEDED(result) ? 0 : FromHResult(result);
  return 0;
}

}  // namespace

Elevation ProcessElevation(HANDLE process) {
  // advapi32 is not imported: it is loaded from the system folder only.
  const auto open_process_token =
      GetSystemFunctionAs<OpenProcessTokenFunction>(L"advapi32.dll", "OpenProcessToken");
  const auto get_token_information =
      GetSystemFunctionAs<GetTokenInformationFunction>(L"advapi32.dll", "GetTokenInformation");
  HANDLE token = nullptr;
  if (!open_process_token || !get_token_information ||
      !open_process_token(process, TOKEN_QUERY, &token)) {
    return Elevation::kUnknown;
  }
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const BOOL known =
      get_token_information(token, TokenElevation, &elevation, sizeof(elevation), &size);
  CloseHandle(token);
  if (!known) return Elevation::kUnknown;
  return elevation.TokenIsElevated ? Elevation::kFull : Elevation::kLimited;
}

bool IsElevatedAboveDesktop() {
  if (ProcessElevation(GetCurrentProcess()) != Elevation::kFull) return false;
  // The shell's window belongs to the program that started the player's
  // others. Without one (Explorer ended or restarting, another shell that
  // names none, a session without a desktop) there is nothing to compare
  // with, and no known boundary: the launcher starts as usual.
  DWORD shell_process = 0;
  const HWND shell = GetShellWindow();
  if (!shell || !GetWindowThreadProcessId(shell, &shell_process)) {
    Trace("run as administrator, with no desktop shell to compare with");
    return false;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell_process);
  const Elevation desktop = process ? ProcessElevation(process) : Elevation::kUnknown;
  if (process) CloseHandle(process);
  // A shell whose rights cannot be read counts as one with fewer.
  Trace(desktop == Elevation::kFull ? "run as administrator, as the desktop shell is"
                                    : "run as administrator, the desktop shell is not");
  return desktop != Elevation::kFull;
}

SystemError StartProcessThroughDesktop(const PathString& path) {
  // The shell would ask the player for them, and their consent would hand
  // full rights to a file any program of theirs can change.
  if (FileAsksForAdministrator(path)) {
    Trace("not handing " + InWindowsForm(path) + " to the desktop shell: its manifest asks for "
          "administrator rights");
    return kErrorElevationRequired;
  }
  // Kept if the thread is left running: it may still read it.
  DesktopStart* start = new DesktopStart;
  start->file = UTF8ToWide(InWindowsForm(path));
  const PathString directory = GetWorkingDirectory();
  start->directory = UTF8ToWide(InWindowsForm(directory));
  const bool ended = RunWithTimeLimit(StartThroughDesktopShell, start, kShellAnswerLimitMs);
  if (!ended) {
    const bool asked =
        InterlockedCompareExchange(&start->stage, kGivenUp, kPreparing) == kAskedTheShell;
    Trace(asked ? "the desktop shell was asked to start it and has not answered in time: "
                  "taken as started"
                : "the desktop shell has not answered in time");
    return asked ? 0 : ERROR_TIMEOUT;
  }
  const SystemError error = start->error;
  if (error != 0) TraceSystemError(std::string("desktop shell: ") + start->step, error);
  delete start;
  return error;
}
