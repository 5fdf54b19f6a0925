#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "platform/file_system.h"

namespace platform {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// One write call, so that appends of several writers never interleave;
// then the file is closed. True when every byte went out.
bool WriteOnceAndClose(Fd& fd, std::string_view bytes) {
  ssize_t n;
  do {
    n = ::write(fd.get(), bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  bool ok = n == static_cast<ssize_t>(bytes.size());
  return fd.close() && ok;
}

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<long>(suffix.size()),
                    [](char a, char b) {
                      auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
                      return lower(a) == lower(b);
                    });
}

void ListInto(const std::string& folder, std::string_view suffix, std::vector<std::string>& out,
              int depth) {
  if (depth > 64) return;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> subfolders;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      subfolders.push_back(std::move(path));
    } else if (S_ISREG(st.st_mode) && EndsWithNoCase(name, suffix)) {
      out.push_back(std::move(path));
    }
  }
  ::closedir(dir);
  for (const auto& sub : subfolders) ListInto(sub, suffix, out, depth + 1);
}

}  // namespace

std::optional<std::string> ReadFileBytes(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string bytes;
  bytes.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  return bytes;
}

bool WriteFileBytes(const std::string& path, std::string_view bytes) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0664));
  if (fd.get() < 0) return false;
  bool ok = WriteAll(fd.get(), bytes);
  return fd.close() && ok;
}

bool AppendFileBytes(const std::string& path, std::string_view bytes) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0664));
  if (fd.get() < 0) return false;
  return WriteOnceAndClose(fd, bytes);
}

bool AppendFileBytes(const std::string& path, std::string_view bytes,
                     std::string_view prefixWhenNew) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (fd.get() >= 0) return WriteOnceAndClose(fd, bytes);
    if (errno != ENOENT) return false;
    Fd fresh(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0664));
    if (fresh.get() >= 0) {
      std::string all;
      all.reserve(prefixWhenNew.size() + bytes.size());
      all.append(prefixWhenNew).append(bytes);
      return WriteOnceAndClose(fresh, all);
    }
    if (errno != EEXIST) return false;  // someone else created it: append
  }
  return false;
}

bool ReplaceFileBytes(const std::string& path, std::string_view bytes, bool flush) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  std::string tmp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(rng());
  Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0664));
  if (fd.get() < 0) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) (void)::fchmod(fd.get(), st.st_mode & 07777);
  bool ok = WriteAll(fd.get(), bytes) && (!flush || ::fsync(fd.get()) == 0);
  ok = fd.close() && ok;
  if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool CreateFolder(const std::string& path) { return ::mkdir(path.c_str(), 0775) == 0; }

std::vector<std::string> ListFilesBelow(const std::string& folder, std::string_view suffix) {
  std::vector<std::string> out;
  ListInto(folder, suffix, out, 0);
  return out;
}

bool ForceRemoveFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    (void)::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
  return ::unlink(path.c_str()) == 0;
}

FileLock::FileLock(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
  // A lock file made by another account may be read-only to us; flock works
  // on a descriptor opened for reading too.
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  // Each lock opens its own file description, so flock excludes threads of
  // this process as well as other processes.
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return;
    }
  }
  fd_ = fd;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace platform
