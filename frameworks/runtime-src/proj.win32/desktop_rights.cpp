// A launcher run as administrator, and the desktop that is not. Windows
// splits an administrator's logon in two tokens, the desktop's limited one
// and the elevated one that "Run as administrator" gives; each names the
// other as its linked token. advapi32 is not imported: it is loaded from
// the system folder only.
#include "desktop_rights.h"

#include <cstring>
#include <vector>

#include "host_services.h"
#include "scoped_handle.h"
#include "system_error.h"
#include "system_library.h"
#include "trace_output.h"

namespace {

using OpenProcessTokenFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE*);
using GetTokenInformationFunction = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, void*, DWORD,
                                                  DWORD*);
using DuplicateTokenExFunction = BOOL(WINAPI*)(HANDLE, DWORD, SECURITY_ATTRIBUTES*,
                                               SECURITY_IMPERSONATION_LEVEL, TOKEN_TYPE, HANDLE*);

HANDLE OpenToken(HANDLE process, DWORD access) {
  const auto open_process_token =
      GetSystemFunctionAs<OpenProcessTokenFunction>(L"advapi32.dll", "OpenProcessToken");
  HANDLE token = nullptr;
  if (!open_process_token) SetLastError(ERROR_PROC_NOT_FOUND);
  return open_process_token && open_process_token(process, access, &token) ? token : nullptr;
}

// What the system tells of `token` in the `kind` of record asked for; empty
// when it tells nothing.
std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  const auto get_token_information =
      GetSystemFunctionAs<GetTokenInformationFunction>(L"advapi32.dll", "GetTokenInformation");
  DWORD size = 0;
  if (!get_token_information) return {};
  get_token_information(token, kind, nullptr, 0, &size);
  std::vector<unsigned char> information(size);
  if (size == 0 || !get_token_information(token, kind, information.data(), size, &size)) {
    return {};
  }
  return information;
}

// A DWORD-sized record (TOKEN_ELEVATION, TOKEN_ELEVATION_TYPE), or `none`.
DWORD TokenNumber(HANDLE token, TOKEN_INFORMATION_CLASS kind, DWORD none) {
  const std::vector<unsigned char> information = TokenInformation(token, kind);
  DWORD number = none;
  if (information.size() >= sizeof(number)) {
    std::memcpy(&number, information.data(), sizeof(number));
  }
  return number;
}

// The user a token belongs to, as the bytes of its security identifier.
std::vector<unsigned char> TokenUserSid(HANDLE token) {
  const std::vector<unsigned char> information = TokenInformation(token, TokenUser);
  if (information.empty()) return {};
  const auto* sid = static_cast<const SID*>(
      reinterpret_cast<const TOKEN_USER*>(information.data())->User.Sid);
  const auto* bytes = reinterpret_cast<const unsigned char*>(sid);
  return {bytes, bytes + 8 + 4 * sid->SubAuthorityCount};
}

}  // namespace

DWORD IntegrityLevel(HANDLE token) {
  const std::vector<unsigned char> information = TokenInformation(token, TokenIntegrityLevel);
  if (information.empty()) return 0;
  const auto* sid = static_cast<const SID*>(
      reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(information.data())->Label.Sid);
  return sid->SubAuthorityCount ? sid->SubAuthority[sid->SubAuthorityCount - 1] : 0;
}

bool IsElevatedAboveDesktop() {
  // Only the elevated half of a split token has a desktop below it. User
  // Account Control off, or a standard user, gives one token, and nothing
  // to keep apart.
  ScopedHandle token(OpenToken(GetCurrentProcess(), TOKEN_QUERY));
  if (!token ||
      TokenNumber(token.get(), TokenElevationType, TokenElevationTypeDefault) !=
          TokenElevationTypeFull) {
    return false;
  }
  const std::vector<unsigned char> linked = TokenInformation(token.get(), TokenLinkedToken);
  ScopedHandle linked_token(
      linked.empty() ? nullptr
                     : reinterpret_cast<const TOKEN_LINKED_TOKEN*>(linked.data())->LinkedToken);
  // The rights that differ: a desktop at the same level has no fewer. A
  // level that cannot be read counts as lower.
  const DWORD level = IntegrityLevel(token.get());
  const DWORD desktop_level = linked_token ? IntegrityLevel(linked_token.get()) : 0;
  if (level != 0 && desktop_level >= level) {
    Trace("run as administrator, at the desktop's integrity level");
    return false;
  }
  Trace("run as administrator, above the desktop");
  return true;
}

HANDLE DesktopShellToken(SystemError& error) {
  DWORD shell_process = 0;
  const HWND shell = GetShellWindow();
  if (!shell || !GetWindowThreadProcessId(shell, &shell_process)) {
    Trace("no desktop shell window: the desktop's rights cannot be had");
    error = ERROR_NOT_FOUND;
    return nullptr;
  }
  ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell_process));
  ScopedHandle shell_token(process ? OpenToken(process.get(), TOKEN_QUERY | TOKEN_DUPLICATE)
                                   : nullptr);
  if (!shell_token) {
    error = LastErrorOrFailure();
    TraceSystemError("the desktop shell's token", error);
    return nullptr;
  }
  // Another user's shell (a standard user who elevated with an
  // administrator's password) can usually not even read the launcher's
  // profile; an elevated one has the rights the launcher keeps from the
  // download.
  ScopedHandle own(OpenToken(GetCurrentProcess(), TOKEN_QUERY));
  const std::vector<unsigned char> user = TokenUserSid(shell_token.get());
  if (user.empty() || !own || user != TokenUserSid(own.get())) {
    Trace("the desktop shell runs as another user");
    error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  if (TokenNumber(shell_token.get(), TokenElevation, 1) != 0) {
    Trace("the desktop shell runs elevated");
    error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  const auto duplicate_token =
      GetSystemFunctionAs<DuplicateTokenExFunction>(L"advapi32.dll", "DuplicateTokenEx");
  HANDLE primary = nullptr;
  if (!duplicate_token) SetLastError(ERROR_PROC_NOT_FOUND);
  if (!duplicate_token ||
      !duplicate_token(shell_token.get(),
                       TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                           TOKEN_ADJUST_SESSIONID,
                       nullptr, SecurityImpersonation, TokenPrimary, &primary)) {
    error = LastErrorOrFailure();
    TraceSystemError("the desktop shell's token", error);
    return nullptr;
  }
  return primary;
}
