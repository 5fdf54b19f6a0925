#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <random>
#include <system_error>

#include "platform/file_system.h"
#include "platform/latin1.h"
#include "platform/posix/anchored_walk.h"

namespace platform {
namespace {

using Fd = posix::UniqueFd;
using posix::EndsWithNoCase;
using posix::WriteAll;
using posix::WriteOnceAndClose;

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > text.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// `folder` and `text` are the same folder as system path and as Latin-1
// text; the list receives Latin-1 text.
void ListInto(const std::string& folder, const std::string& text, std::string_view suffix,
              std::vector<std::string>& out, int depth) {
  if (depth > 64) return;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::pair<std::string, std::string>> subfolders;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::optional<std::string> latin1 = NameFromNative(name);
    if (!latin1) continue;
    std::string path = folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      subfolders.emplace_back(std::move(path), text + "/" + *latin1);
    } else if (S_ISREG(st.st_mode) && EndsWithNoCase(name, suffix)) {
      out.push_back(text + "/" + *latin1);
    }
  }
  ::closedir(dir);
  for (const auto& [sub, subText] : subfolders) ListInto(sub, subText, suffix, out, depth + 1);
}

}  // namespace

std::string NativePath(std::string_view path) {
  if (IsAscii(path)) return std::string(path);
  // Name by name, so that each one can be looked up in the folder before
  // it: a new name is made in UTF-8, an existing raw Latin-1 one is kept.
  std::string out;
  out.reserve(path.size() + path.size() / 4);
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view name = path.substr(start, end - start);
    if (IsAscii(name)) {
      out.append(name);
    } else {
      const std::size_t base = out.size();
      out += Latin1ToUtf8(name);
      if (!Exists(out)) {
        std::string raw = out.substr(0, base);
        raw.append(name);
        if (Exists(raw)) out = std::move(raw);
      }
    }
    if (end < path.size()) out.push_back('/');
    start = end + 1;
  }
  return out;
}

std::optional<std::string> NameFromNative(std::string_view name) {
  if (IsAscii(name)) return std::string(name);
  // A name that is not UTF-8 is a raw Latin-1 name and stands as it is.
  if (!IsUtf8(name)) return std::string(name);
  std::string text = Utf8ToLatin1(name);
  if (Latin1ToUtf8(text) != name) return std::nullopt;  // beyond Latin-1
  return text;
}

Result<std::string> ReadFileBytes(const std::string& text) {
  const std::string path = NativePath(text);
  if (posix::IsBelowDataFolder(path)) return posix::AnchoredReadFileBytes(path);
  // Non-blocking open: a FIFO without a writer must not hang the reader.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) return Status::LastError("open " + path);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return Status::LastError("stat " + path);
  if (!S_ISREG(st.st_mode)) return Status(StatusCode::kInvalidArgument, path + " is not a regular file");
  return posix::ReadAll(fd.Get(), path, static_cast<std::size_t>(st.st_size));
}

Status WriteFileBytes(const std::string& text, std::string_view bytes) {
  const std::string path = NativePath(text);
  if (posix::IsBelowDataFolder(path)) return posix::AnchoredWriteFileBytes(path, bytes);
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0664));
  if (fd.Get() < 0) return Status::LastError("open " + path);
  if (!WriteAll(fd.Get(), bytes)) return Status::LastError("write " + path);
  if (!fd.Close()) return Status::LastError("close " + path);
  return Status::Ok();
}

Status AppendFileBytes(const std::string& text, std::string_view bytes) {
  const std::string path = NativePath(text);
  if (posix::IsBelowDataFolder(path)) return posix::AnchoredAppendFileBytes(path, bytes, std::nullopt);
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0664));
  if (fd.Get() < 0) return Status::LastError("open " + path);
  if (!WriteOnceAndClose(fd, bytes)) return Status::LastError("append to " + path);
  return Status::Ok();
}

Status AppendFileBytes(const std::string& text, std::string_view bytes, std::string_view prefixWhenNew) {
  const std::string path = NativePath(text);
  if (posix::IsBelowDataFolder(path)) return posix::AnchoredAppendFileBytes(path, bytes, prefixWhenNew);
  for (int attempt = 0; attempt < 8; ++attempt) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (fd.Get() >= 0) {
      if (!WriteOnceAndClose(fd, bytes)) return Status::LastError("append to " + path);
      return Status::Ok();
    }
    if (errno != ENOENT) return Status::LastError("open " + path);
    Fd fresh(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0664));
    if (fresh.Get() >= 0) {
      std::string all;
      all.reserve(prefixWhenNew.size() + bytes.size());
      all.append(prefixWhenNew).append(bytes);
      if (!WriteOnceAndClose(fresh, all)) return Status::LastError("write " + path);
      return Status::Ok();
    }
    if (errno != EEXIST) return Status::LastError("create " + path);  // someone else created it: append
  }
  return Status(StatusCode::kIoError, "append to " + path + ": created and removed again by others");
}

namespace {

Status WriteAndRename(const std::string& path, std::initializer_list<std::string_view> pieces, bool flush) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  std::string tmp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(rng());
  Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0664));
  if (fd.Get() < 0) return Status::LastError("create " + tmp);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) (void)::fchmod(fd.Get(), st.st_mode & 07777);
  Status status;
  for (std::string_view piece : pieces) {
    if (status && !WriteAll(fd.Get(), piece)) status = Status::LastError("write " + tmp);
  }
  if (status && flush && ::fsync(fd.Get()) != 0) status = Status::LastError("flush " + tmp);
  if (!fd.Close() && status) status = Status::LastError("close " + tmp);
  if (status && ::rename(tmp.c_str(), path.c_str()) != 0) status = Status::LastError("replace " + path);
  if (!status) ::unlink(tmp.c_str());
  return status;
}

}  // namespace

Status ReplaceFileBytes(const std::string& text, std::string_view bytes, bool flush) {
  const std::string path = NativePath(text);
  if (posix::IsBelowDataFolder(path)) return posix::AnchoredReplaceFileBytes(path, bytes, flush);
  return WriteAndRename(path, {bytes}, flush);
}

Status PublishFileBytes(const std::string& text, std::initializer_list<std::string_view> pieces) {
  const std::string path = NativePath(text);
  if (posix::IsBelowDataFolder(path)) {
    std::string whole;
    for (std::string_view piece : pieces) whole += piece;
    return posix::AnchoredReplaceFileBytes(path, whole, false);
  }
  return WriteAndRename(path, pieces, false);
}

bool FileExists(const std::string& text) {
  const std::string path = NativePath(text);
  if (posix::IsBelowDataFolder(path)) return posix::AnchoredFileExists(path);
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

FileStamp StampOf(const std::string& text) {
  const std::string path = NativePath(text);
  struct stat st {};
  FileStamp stamp;
  if (::stat(path.c_str(), &st) != 0) return stamp;
  stamp.exists = true;
  stamp.device = static_cast<std::uint64_t>(st.st_dev);
  stamp.inode = static_cast<std::uint64_t>(st.st_ino);
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.changedNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}

Status CreateFolder(const std::string& text) {
  const std::string path = NativePath(text);
  if (posix::IsBelowDataFolder(path)) return posix::AnchoredCreateFolder(path);
  if (::mkdir(path.c_str(), 0775) != 0) return Status::LastError("create folder " + path);
  return Status::Ok();
}

std::vector<std::string> ListFilesBelow(const std::string& folder, std::string_view suffix) {
  if (const std::string native = NativePath(folder); posix::IsBelowDataFolder(native)) {
    std::vector<std::string> out;
    for (const std::string& path : posix::AnchoredListFilesBelow(native, suffix)) {
      if (auto text = NameFromNative(path)) out.push_back(std::move(*text));
    }
    return out;
  }
  std::vector<std::string> out;
  ListInto(NativePath(folder), folder, suffix, out, 0);
  return out;
}

Status ForceRemoveFile(const std::string& text) {
  const std::string path = NativePath(text);
  if (posix::IsBelowDataFolder(path)) return posix::AnchoredForceRemoveFile(path);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    (void)::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
  if (::unlink(path.c_str()) != 0) return Status::LastError("remove " + path);
  return Status::Ok();
}

InputFile::InputFile(const std::string& text) {
  const std::string path = NativePath(text);
  // Non-blocking open: a FIFO without a writer must not hang the reader.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) throw StatusError(Status::LastError("open " + path));
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) throw StatusError(Status::LastError("stat " + path));
  if (!S_ISREG(st.st_mode))
    throw StatusError(Status(StatusCode::kInvalidArgument, path + " is not a regular file", EISDIR));
  (void)::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  size_ = static_cast<std::uint64_t>(st.st_size);
  handle_ = fd.Get();
  (void)fd.Release();
}

InputFile::~InputFile() {
  if (handle_ != kNoHandle) ::close(static_cast<int>(handle_));
}

InputFile::InputFile(InputFile&& other) noexcept : handle_(other.handle_), size_(other.size_) {
  other.handle_ = kNoHandle;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (handle_ != kNoHandle) ::close(static_cast<int>(handle_));
    handle_ = other.handle_;
    size_ = other.size_;
    other.handle_ = kNoHandle;
  }
  return *this;
}

std::size_t InputFile::Read(char* buffer, std::size_t length) {
  if (handle_ == kNoHandle) throw StatusError(Status::FromSystem(EBADF, "read a closed file"));
  std::size_t total = 0;
  while (total < length) {
    const ssize_t n = ::read(static_cast<int>(handle_), buffer + total, length - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw StatusError(Status::LastError("read"));
    }
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
  }
  return total;
}

FileLock::FileLock(const std::string& text) {
  const std::string path = NativePath(text);
  int fd = -1;
  if (posix::IsBelowDataFolder(path)) {
    Result<int> opened = posix::AnchoredOpenLockFile(path);
    if (!opened) {
      status_ = opened.Status();
      return;
    }
    fd = *opened;
  } else {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
    // A lock file made by another account may be read-only to us; flock
    // works on a descriptor opened for reading too.
    if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      status_ = Status::LastError("open lock file " + path);
      return;
    }
  }
  // Each lock opens its own file description, so flock excludes threads of
  // this process as well as other processes.
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      status_ = Status::LastError("lock " + path);
      ::close(fd);
      return;
    }
  }
  handle_ = fd;
}

FileLock::~FileLock() {
  if (handle_ != kNoHandle) ::close(static_cast<int>(handle_));  // closing releases the lock
}

}  // namespace platform
