#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <stop_token>
#include <thread>
#include <utility>

#include "platform/file_system.h"
#include "platform/log.h"
#include "platform/posix/anchored_walk.h"
#include "platform/replacement_file.h"

namespace platform {

using posix::UniqueFd;

namespace {

// Names handed over to be removed off the caller's path, one thread for
// the process, started with the first. The thread empties its list before
// it ends with the process.
class LaterRemoval {
 public:
  static LaterRemoval& Instance() {
    static LaterRemoval removal;
    return removal;
  }

  void Add(UniqueFd folder, std::string leaf) {
    std::lock_guard lock(mutex_);
    pending_.emplace_back(std::move(folder), std::move(leaf));
    if (!worker_.joinable()) worker_ = std::jthread([this](std::stop_token stop) { Run(stop); });
    wake_.notify_one();
  }

 private:
  void Run(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
      // On a stop request the wait returns at once; what is listed is
      // still removed.
      if (!wake_.wait(lock, stop, [&] { return !pending_.empty(); })) return;
      auto [folder, leaf] = std::move(pending_.front());
      pending_.pop_front();
      lock.unlock();
      if (::unlinkat(folder.Get(), leaf.c_str(), 0) != 0 && errno != ENOENT)
        LogWarning("replaced file left behind", Status::LastError("unlink " + leaf));
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::deque<std::pair<UniqueFd, std::string>> pending_;
  std::jthread worker_;  // last: stopped and joined before the rest goes
};

std::string TemporaryName(const std::string& leaf) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  return leaf + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(rng());
}

// The folder holding `path` and its last name: walked from the data folder
// when the path is below it, opened as it stands otherwise.
Status OpenParent(const std::string& path, posix::AnchoredParent& out, bool& anchored) {
  switch (posix::OpenAnchoredParent(path, false, out)) {
    case posix::Walk::kOpened: anchored = true; return Status();
    case posix::Walk::kRefused: return Status(StatusCode::kAccessDenied, "walk to " + path);
    case posix::Walk::kOutside: break;
  }
  anchored = false;
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  out.leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  if (out.leaf.empty() || out.leaf == "." || out.leaf == "..")
    return Status(StatusCode::kInvalidArgument, "file name of " + path);
  out.folder = UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!out.folder.Valid()) return Status::LastError("open " + folder);
  return Status();
}

// The regular file `path` opened for reading, links not followed below the
// data folder.
Result<UniqueFd> OpenSource(const std::string& path) {
  posix::AnchoredParent at;
  bool anchored = false;
  if (Status s = OpenParent(path, at, anchored); !s) return s;
  UniqueFd fd;
  if (anchored) {
    fd = posix::OpenPlainFile(at.folder.Get(), at.leaf, O_RDONLY, 0, true);
  } else {
    fd = UniqueFd(::openat(at.folder.Get(), at.leaf.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.Valid() && (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))) {
      fd.Reset();
      errno = EINVAL;
    }
  }
  if (!fd.Valid()) return Status::LastError("open " + path);
  (void)::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd;
}

bool PwriteAll(int fd, std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

}  // namespace

struct ReplacementFile::State {
  std::string path;  // as given, for messages
  UniqueFd folder;
  std::string leaf;
  std::string temporary;
  UniqueFd file;
  std::uint64_t size = 0;
  bool placed = false;

  ~State() {
    if (!placed && folder.Valid() && !temporary.empty()) (void)::unlinkat(folder.Get(), temporary.c_str(), 0);
  }

  Status Failure(const std::string& what) const { return Status::LastError(what + " " + path); }
};

Result<ReplacementFile> ReplacementFile::Create(const std::string& text) {
  auto state = std::make_unique<State>();
  state->path = NativePath(text);
  posix::AnchoredParent at;
  bool anchored = false;
  if (Status s = OpenParent(state->path, at, anchored); !s) return s;
  state->folder = std::move(at.folder);
  state->leaf = std::move(at.leaf);
  const std::string temporary = TemporaryName(state->leaf);
  const mode_t mode = anchored ? posix::NewFileMode(state->folder.Get()) : 0664;
  state->file = posix::OpenPlainFile(state->folder.Get(), temporary, O_RDWR | O_CREAT | O_EXCL, mode);
  if (!state->file.Valid()) return state->Failure("create a temporary file for");
  state->temporary = temporary;
  if (anchored) {
    posix::TakeOwnershipOf(state->file.Get(), state->folder.Get(), state->leaf);
  } else {
    struct stat st {};
    if (::fstatat(state->folder.Get(), state->leaf.c_str(), &st, 0) == 0)
      (void)::fchmod(state->file.Get(), st.st_mode & 07777);
  }
  return ReplacementFile(std::move(state));
}

ReplacementFile::ReplacementFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
ReplacementFile::~ReplacementFile() = default;
ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept = default;
ReplacementFile& ReplacementFile::operator=(ReplacementFile&& other) noexcept = default;

std::uint64_t ReplacementFile::Size() const { return state_ ? state_->size : 0; }

Result<std::uint64_t> ReplacementFile::CopyFrom(const std::string& source) {
  if (!state_ || !state_->file.Valid())
    return Status(StatusCode::kInvalidArgument, "copy into a placed file");
  Result<UniqueFd> in = OpenSource(NativePath(source));
  if (!in) return in.Status();
  const int from = in->Get(), to = state_->file.Get();
  std::uint64_t copied = 0;
  // The kernel's copy first: no pass through this process's memory. Where
  // the file systems cannot (an old kernel, a file system that refuses),
  // the same is done with reads and writes; after some bytes went that
  // way an error is an error.
  bool kernel = true;
  for (;;) {
    loff_t inOffset = static_cast<loff_t>(copied);
    loff_t outOffset = static_cast<loff_t>(state_->size + copied);
    const ssize_t n = ::copy_file_range(from, &inOffset, to, &outOffset, std::size_t{1} << 30, 0);
    if (n > 0) {
      copied += static_cast<std::uint64_t>(n);
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    if (copied == 0 &&
        (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF)) {
      kernel = false;
      break;
    }
    return state_->Failure("copy " + source + " into");
  }
  if (!kernel) {
    std::string buffer(std::size_t{1} << 20, '\0');
    for (;;) {
      const ssize_t n = ::pread(from, buffer.data(), buffer.size(), static_cast<off_t>(copied));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Status::LastError("read " + source);
      }
      if (n == 0) break;
      if (!PwriteAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(n)), state_->size + copied))
        return state_->Failure("write");
      copied += static_cast<std::uint64_t>(n);
    }
  }
  state_->size += copied;
  return copied;
}

Status ReplacementFile::Append(std::string_view bytes) { return WriteAt(Size(), bytes); }

Result<std::string> ReplacementFile::ReadAt(std::uint64_t offset, std::size_t length) const {
  if (!state_ || !state_->file.Valid()) return Status(StatusCode::kInvalidArgument, "read a placed file");
  std::string bytes(length, '\0');
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n =
        ::pread(state_->file.Get(), bytes.data() + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return state_->Failure("read the temporary file for");
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

Status ReplacementFile::WriteAt(std::uint64_t offset, std::string_view bytes) {
  if (!state_ || !state_->file.Valid()) return Status(StatusCode::kInvalidArgument, "write a placed file");
  if (!PwriteAll(state_->file.Get(), bytes, offset)) return state_->Failure("write the temporary file for");
  state_->size = std::max<std::uint64_t>(state_->size, offset + bytes.size());
  return Status();
}

Status ReplacementFile::Flush() {
  if (!state_ || !state_->file.Valid()) return Status(StatusCode::kInvalidArgument, "flush a placed file");
  if (::fsync(state_->file.Get()) != 0) return state_->Failure("flush the temporary file for");
  return Status();
}

Status ReplacementFile::Commit(OldFile old) {
  if (!state_ || !state_->file.Valid()) return Status(StatusCode::kInvalidArgument, "commit a placed file");
  if (!state_->file.Close()) return state_->Failure("close the temporary file for");
  const int folder = state_->folder.Get();
  const char* temporary = state_->temporary.c_str();
  const char* leaf = state_->leaf.c_str();
  if (old == OldFile::kRemoveLater) {
    // Exchanged rather than renamed over: the old file then lives on under
    // the temporary name, and the unlink that frees its blocks is made by
    // the background thread. A file system without the exchange, or no
    // old file, takes the plain rename below.
    if (::renameat2(folder, temporary, folder, leaf, RENAME_EXCHANGE) == 0) {
      state_->placed = true;
      UniqueFd held(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
      if (held.Valid()) {
        LaterRemoval::Instance().Add(std::move(held), state_->temporary);
      } else if (::unlinkat(folder, temporary, 0) != 0) {
        LogWarning("replaced file left behind", state_->Failure("unlink the old version of"));
      }
      return Status();
    }
  }
  // renameat replaces the name itself: a link there is replaced, not followed.
  if (::renameat(folder, temporary, folder, leaf) != 0) return state_->Failure("rename over");
  state_->placed = true;
  return Status();
}

}  // namespace platform
