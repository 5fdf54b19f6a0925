// The user's own report folder: %LOCALAPPDATA%\Quillmark (the folder
// SHGetKnownFolderPath names for FOLDERID_LocalAppData), else Quillmark in
// the user's temporary folder (GetTempPathW). Both lie in the user's
// profile, which only the user (and the administrators) can reach.

#include "platform/windows/win32.h"  // first: before any other system header

#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "platform/log.h"
#include "platform/report_folder.h"
#include "platform/windows/wide_text.h"

namespace platform {
namespace {

std::wstring LocalAppData() {
  PWSTR path = nullptr;
  std::wstring out;
  const HRESULT rc = ::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &path);
  if (SUCCEEDED(rc) && path)
    out = path;
  else
    LogWarning("no local application data folder",
               Status::FromSystem(static_cast<int>(rc), "SHGetKnownFolderPath"));
  ::CoTaskMemFree(path);
  return out;
}

std::wstring TempFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, path);
  if (length == 0 || length > MAX_PATH) {
    LogWarning("no temporary folder", Status::LastError("GetTempPathW"));
    return std::wstring();
  }
  return path;
}

// `base`\Quillmark, made when missing; a folder and not a link.
Result<std::string> FolderIn(std::wstring base) {
  if (base.empty()) return Status(StatusCode::kNotFound, "report folder: no base folder");
  if (base.back() != L'\\' && base.back() != L'/') base.push_back(L'\\');
  const std::wstring folder = base + L"Quillmark";
  if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    return Status::LastError("create report folder " + windows::Latin1FromWide(folder));
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return Status::LastError("report folder " + windows::Latin1FromWide(folder));
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return Status(StatusCode::kInvalidArgument,
                  "report folder " + windows::Latin1FromWide(folder) + " is not a plain folder");
  return windows::Latin1FromWide(folder);
}

}  // namespace

Result<std::string> UserReportFolder() {
  Result<std::string> folder = FolderIn(LocalAppData());
  if (folder) return folder;
  // The temporary folder stands in; the reason the first choice failed is
  // worth a line, since reports then land somewhere else.
  LogWarning("report folder made in the temporary folder", folder.Status());
  return FolderIn(TempFolder());
}

}  // namespace platform
