#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/report_folder.h"

namespace platform {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = Environment("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) return pw->pw_dir;
  return std::string();
}

// The folder `base`/quillmark, made 0700 when missing; only this user's.
Result<std::string> PrivateFolderIn(const std::string& base) {
  if (base.empty() || base[0] != '/') return Status(StatusCode::kNotFound, "no folder \"" + base + "\"");
  const std::string folder = base + "/quillmark";
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return Status::LastError("create folder " + folder);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return Status::LastError("stat " + folder);
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
    return Status(StatusCode::kAccessDenied, folder + " is not a private folder of this user's");
  return folder;
}

}  // namespace

Result<std::string> UserReportFolder() {
  if (auto folder = PrivateFolderIn(Environment("XDG_RUNTIME_DIR"))) return folder;
  std::string cache = Environment("XDG_CACHE_HOME");
  if (cache.empty() || cache[0] != '/') {
    const std::string home = HomeFolder();
    if (home.empty()) return Status(StatusCode::kNotFound, "no home folder for a report folder");
    cache = home + "/.cache";
    if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST)
      return Status::LastError("create folder " + cache);
  }
  return PrivateFolderIn(cache);
}

}  // namespace platform
