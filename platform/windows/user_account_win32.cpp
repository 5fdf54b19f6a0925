// Who runs the process: GetUserNameW, and whether its token is elevated
// (or, where the system has no elevation, belongs to the Administrators).

#include "platform/windows/win32.h"  // first: before any other system header

#include <string>

#include "platform/effective_user.h"
#include "platform/log.h"
#include "platform/user_account.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

namespace platform {

std::string CurrentUserName() {
  wchar_t name[257] = {};  // UNLEN + 1
  DWORD size = sizeof name / sizeof name[0];
  if (!::GetUserNameW(name, &size)) {
    LogWarning("user name unknown", Status::LastError("GetUserNameW"));
    return std::string();
  }
  return windows::Latin1FromWide(name);
}

bool RunningAsAdministrator() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    LogWarning("taken for a plain user", Status::LastError("OpenProcessToken"));
    return false;
  }
  const windows::UniqueHandle token(raw);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
    if (elevation.TokenIsElevated) return true;
  // Without elevation (User Account Control off, or an account that is
  // never filtered) membership of the Administrators group decides.
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof sid;
  if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize)) {
    LogWarning("taken for a plain user", Status::LastError("CreateWellKnownSid"));
    return false;
  }
  BOOL member = FALSE;
  if (!::CheckTokenMembership(nullptr, sid, &member)) {
    LogWarning("taken for a plain user", Status::LastError("CheckTokenMembership"));
    return false;
  }
  return member != FALSE;
}

}  // namespace platform
