#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "platform/program_folder.h"

namespace platform {
namespace {

std::string ResolveProgramFolder() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  std::string exe(buf, static_cast<size_t>(n));
  const auto slash = exe.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

// Resolved while the process starts, before any setting could matter.
const std::string g_programFolder = ResolveProgramFolder();

bool OnlyOwnerChanges(const struct stat& st) {
  return (st.st_uid == 0 || st.st_uid == ::geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

const std::string& ProgramFolder() { return g_programFolder; }

Result<std::string> TrustedProgramFile(const std::string& folder, const std::string& name) {
  if (folder.empty() || name.empty() || name.find('/') != std::string::npos)
    return Status(StatusCode::kInvalidArgument, "program \"" + name + "\" in folder \"" + folder + "\"");
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return Status::LastError("program folder " + folder);
  if (!S_ISDIR(st.st_mode))
    return Status(StatusCode::kNotFound, "program folder " + folder + " is not a folder");
  if (!OnlyOwnerChanges(st))
    return Status(
        StatusCode::kAccessDenied,
        "program folder " + folder + " is not trusted: owned by another account or writable by others");
  const std::string path = folder == "/" ? "/" + name : folder + "/" + name;
  if (::lstat(path.c_str(), &st) != 0) return Status::LastError("program " + path);
  if (!S_ISREG(st.st_mode))
    return Status(StatusCode::kAccessDenied, "program " + path + " is not a regular file");
  if (!OnlyOwnerChanges(st))
    return Status(StatusCode::kAccessDenied,
                  "program " + path + " is not trusted: owned by another account or writable by others");
  return path;
}

}  // namespace platform
