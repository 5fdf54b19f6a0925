// The program's folder from GetModuleFileNameW, and which files in it may
// be trusted.
//
// "Trusted" on Windows: the folder and the file give no right to change
// them to a broad group of accounts. Their DACLs (GetNamedSecurityInfoW)
// must exist (a null DACL lets everyone do everything) and must not allow
// writing, appending, deleting, or changing the DACL or the owner to
// Everyone, Authenticated Users, Users or INTERACTIVE, so only the
// administrators, the system and named accounts may replace what is
// loaded or started from there, as under Program Files. The file must be
// a regular file: not a folder, and not a reparse point (a link).

#include "platform/windows/win32.h"  // first: before any other system header

#include <aclapi.h>

#include <string>

#include "platform/log.h"
#include "platform/program_folder.h"
#include "platform/windows/wide_text.h"

namespace platform {
namespace {

std::string ResolveProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      LogWarning("program folder unknown", Status::LastError("GetModuleFileNameW"));
      return std::string();
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const auto slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::string();
  return windows::Latin1FromWide(path.substr(0, slash));
}

// Resolved while the process starts, before any setting could matter.
const std::string g_programFolder = ResolveProgramFolder();

constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                      FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                      WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool IsBroadGroup(PSID sid) {
  static const WELL_KNOWN_SID_TYPE kBroad[] = {WinWorldSid, WinAuthenticatedUserSid, WinBuiltinUsersSid,
                                               WinInteractiveSid};
  for (const WELL_KNOWN_SID_TYPE type : kBroad) {
    if (::IsWellKnownSid(sid, type)) return true;
  }
  return false;
}

// Whether the DACL of `path` keeps broad groups from changing it.
bool OnlyTrustedAccountsChange(const std::wstring& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD rc = ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                           nullptr, &dacl, nullptr, &descriptor);
  if (rc != ERROR_SUCCESS) {
    LogWarning("not trusted: " + windows::Latin1FromWide(path),
               Status::FromSystem(static_cast<int>(rc), "GetNamedSecurityInfoW"));
    return false;
  }
  bool trusted = dacl != nullptr;
  for (DWORD i = 0; trusted && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) {
      trusted = false;
      break;
    }
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & kChangeRights) != 0 && IsBroadGroup(&allowed->SidStart)) trusted = false;
  }
  ::LocalFree(descriptor);
  return trusted;
}

}  // namespace

const std::string& ProgramFolder() { return g_programFolder; }

Result<std::string> TrustedProgramFile(const std::string& folder, const std::string& name) {
  if (folder.empty() || name.empty() || name.find_first_of("\\/:") != std::string::npos)
    return Status(StatusCode::kInvalidArgument,
                  "program file \"" + name + "\" in \"" + folder + "\": not a plain name");
  const std::wstring wideFolder = windows::WideFromLatin1(folder);
  const DWORD folderAttributes = ::GetFileAttributesW(wideFolder.c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES) return Status::LastError("program folder " + folder);
  if ((folderAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return Status(StatusCode::kInvalidArgument, "program folder " + folder + " is not a folder");
  if (!OnlyTrustedAccountsChange(wideFolder))
    return Status(StatusCode::kAccessDenied, "program folder " + folder + " may be changed by others");
  const bool endsWithSeparator = folder.back() == '\\' || folder.back() == '/';
  const std::string path = endsWithSeparator ? folder + name : folder + "\\" + name;
  const std::wstring widePath = windows::WideFromLatin1(path);
  const DWORD attributes = ::GetFileAttributesW(widePath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Status::LastError("program file " + path);
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    return Status(StatusCode::kInvalidArgument, "program file " + path + " is a folder or a link");
  if (!OnlyTrustedAccountsChange(widePath))
    return Status(StatusCode::kAccessDenied, "program file " + path + " may be changed by others");
  return path;
}

}  // namespace platform
