// FolderWatch on inotify: one instance per watch, watching the folder for
// the named file's changes; a stop request wakes the poll through an
// eventfd.

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

#include "platform/folder_watch.h"

namespace platform {

FolderWatch::~FolderWatch() = default;

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

constexpr std::uint32_t kMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

class InotifyWatch final : public FolderWatch {
 public:
  InotifyWatch(int inotify, int wake, std::string name) : inotify_(inotify), wake_(wake), name_(std::move(name)) {}

  bool Add(const std::string& folder) {
    return ::inotify_add_watch(inotify_.get(), folder.c_str(), kMask) >= 0;
  }

  Result Wait(std::chrono::milliseconds timeout, std::stop_token stop) override {
    if (stop.stop_requested()) return Result::Stopped;
    if (lost_) return Result::Changed;
    std::stop_callback onStop(stop, [this] {
      const std::uint64_t one = 1;
      [[maybe_unused]] ssize_t n = ::write(wake_.get(), &one, sizeof one);
    });
    const bool forever = timeout.count() < 0 || timeout == std::chrono::milliseconds::max();
    const auto deadline = forever ? std::chrono::steady_clock::time_point::max()
                                  : std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (Drain()) return Result::Changed;
      if (stop.stop_requested()) return Result::Stopped;
      int wait = -1;
      if (!forever) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Result::TimedOut;
        wait = left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
      }
      pollfd fds[2] = {{inotify_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
      if (::poll(fds, 2, wait) < 0 && errno != EINTR) return Result::Changed;  // cannot wait: look again
      if (fds[1].revents & POLLIN) {
        std::uint64_t count;
        [[maybe_unused]] ssize_t n = ::read(wake_.get(), &count, sizeof count);
      }
    }
  }

 private:
  // Reads every queued event; true when one concerns the file or the
  // folder itself.
  bool Drain() {
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      ssize_t n = ::read(inotify_.get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return changed;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
          changed = lost_ = true;
        } else if (event->mask & IN_Q_OVERFLOW) {
          changed = true;
        } else if (event->len > 0 && std::string_view(event->name) == name_) {
          changed = true;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  bool lost() const override { return lost_; }

  Descriptor inotify_;
  Descriptor wake_;
  bool lost_ = false;
  std::string name_;
};

}  // namespace

std::unique_ptr<FolderWatch> FolderWatch::ForFile(const std::string& file) {
  const auto slash = file.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
  const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify < 0) return nullptr;
  int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake < 0) {
    ::close(inotify);
    return nullptr;
  }
  auto watch = std::make_unique<InotifyWatch>(inotify, wake, name);
  if (!watch->Add(folder)) return nullptr;
  return watch;
}

}  // namespace platform
