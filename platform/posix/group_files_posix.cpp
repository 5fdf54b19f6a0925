#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/group_files.h"

namespace platform {

namespace {

constexpr mode_t kFolderMode = 02770;
constexpr mode_t kFileMode = 0660;

}  // namespace

Status MakeGroupFolder(const std::filesystem::path& folder) {
  if (::mkdir(folder.c_str(), kFolderMode) == 0) {
    // The mode given to mkdir is narrowed by the umask; the group must
    // get its rights whatever the umask is.
    ::chmod(folder.c_str(), kFolderMode);
    return Status::Ok();
  }
  if (errno != EEXIST) return Status::LastError("create folder " + folder.string());
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return Status::LastError("stat " + folder.string());
  if (!S_ISDIR(st.st_mode)) return Status(StatusCode::kAlreadyExists, folder.string() + " is not a folder");
  return Status::Ok();
}

Result<std::string> ReadGroupFile(const std::filesystem::path& file, std::size_t limit) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::LastError("open " + file.string());
  std::string out;
  char buffer[8192];
  while (out.size() < limit) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

Status ReplaceGroupFile(const std::filesystem::path& file, std::string_view content) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  const std::filesystem::path tmp =
      file.parent_path() / (".tmp." + std::to_string(::getpid()) + "." + std::to_string(rng()));
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
  if (fd < 0) return Status::LastError("create " + tmp.string());
  ::fchmod(fd, kFileMode);
  const char* p = content.data();
  std::size_t left = content.size();
  Status status;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      status = n < 0 ? Status::LastError("write " + tmp.string())
                     : Status(StatusCode::kIoError, "write " + tmp.string());
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && status) status = Status::LastError("close " + tmp.string());
  if (status && ::rename(tmp.c_str(), file.c_str()) != 0)
    status = Status::LastError("replace " + file.string());
  if (!status) ::unlink(tmp.c_str());
  return status;
}

Status RemoveGroupFile(const std::filesystem::path& file) {
  if (::unlink(file.c_str()) != 0 && errno != ENOENT) return Status::LastError("remove " + file.string());
  return Status::Ok();
}

GroupFileLock::GroupFileLock(const std::filesystem::path& file, Kind kind) {
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
  if (fd < 0) {
    status_ = Status::LastError("open lock file " + file.string());
    return;
  }
  int locked;
  while ((locked = ::flock(fd, kind == Kind::kExclusive ? LOCK_EX : LOCK_SH)) != 0 && errno == EINTR) {
  }
  if (locked != 0) {
    status_ = Status::LastError("lock " + file.string());
    ::close(fd);
    return;
  }
  handle_ = fd;
}

GroupFileLock::~GroupFileLock() {
  if (handle_ != kNoHandle) ::close(static_cast<int>(handle_));  // closing releases the lock
}

}  // namespace platform
