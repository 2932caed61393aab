// The platform operations the launch decision needs. They are free functions
// bound at link time: the Windows build links the real ones, the native tests
// link a recording fake. The decision relies only on what is written here.
#pragma once

#include <cstdint>
#include <string>

// A file-system path as 8-bit text. Directories use "/" and end with "/".
using PathString = std::string;
// Dot-separated decimal components such as "1.0.3.0"; empty means no version.
using VersionString = std::string;
// The hidden main window, opaque to the decision (an HWND on Windows).
using WindowHandle = void*;

// The launcher's own directory, ending in "/". Never empty.
PathString GetExeDirectory();

// The per-user data directory, ending in "/", created if missing. Empty when
// the platform cannot name it.
PathString GetWritableDirectory();

// The working directory, ending in "/", where the settings file is looked
// for; empty when the platform cannot tell it. For the trace only.
PathString GetWorkingDirectory();

// True only for an existing file that is not a directory.
bool IsFileExist(const PathString& path);

// The file's version as four dot-separated numbers, or empty when the file has
// no readable version.
VersionString GetFileVersionString(const PathString& path);

// True when the file is this launcher rather than the game: the same file,
// or a copy under any name, which keeps the version resource that names it.
// Started as the game, it would start itself again, for ever.
bool IsLauncherItself(const PathString& path);

// A system error code (Windows' GetLastError); 0 means success.
using SystemError = std::uint32_t;

// The system errors the decision acts on. A program that needs administrator
// rights cannot be started directly; the shell's consent prompt can start it.
const SystemError kErrorElevationRequired = 740;
// The player declined the start: at the consent prompt, or at the system's
// warning about a program with known compatibility problems.
const SystemError kErrorCancelled = 1223;

// Starts the executable, with its quoted path as its command line, lets it
// take the foreground, and does not wait for it. Returns 0 when it started,
// otherwise why it did not.
SystemError StartProcess(const PathString& path);

// Starts the executable as the shell does for a double-click, through the
// consent prompt when it needs administrator rights, in the launcher's
// working directory. Returns 0 once it started, otherwise why it did not
// (kErrorCancelled when the player declined).
SystemError StartProcessWithConsent(const PathString& path);

// True when this launcher runs above the player's desktop: its token is the
// elevated half of a split one ("Run as administrator" with User Account
// Control on), whose linked token, the desktop's, runs at a lower integrity
// level. A start of the launcher's own would hand those rights on without
// any prompt. False with one token (User Account Control off, a standard
// user) and where both run at one level.
bool IsElevatedAboveDesktop();

// Starts the executable as StartProcess does, but with the rights of the
// desktop shell's process (the owner of the shell window) rather than the
// launcher's, and its user's environment: Windows then decides what the
// program may run with, as for a double-click in Explorer. Only when the
// shell runs as the launcher's user, without elevation; otherwise nothing
// starts. Returns 0 when it started, otherwise why it did not
// (kErrorElevationRequired when it needs administrator rights).
SystemError StartProcessAsDesktop(const PathString& path);

// The system's own description of `error`, in the user's language, exactly as
// the system words it (a "%1" in it stands for the file concerned). Empty
// when the system has none.
std::string GetSystemErrorText(SystemError error);

// Shows a modal message and returns once the user has dismissed it.
void ShowErrorBox(const std::string& text, const std::string& caption);

// Destroys the main window, which ends the message loop. Does nothing when
// there is no window (a null handle).
void CloseMainWindow(WindowHandle window);

// Adds "Pelterin: " and `line` to the run's trace, which goes to the
// debugger output once the game has started and any box is dismissed: only
// a debugger or a tool such as DebugView, when one is listening, sees it.
// Nothing is written anywhere else.
void Trace(const std::string& line);
