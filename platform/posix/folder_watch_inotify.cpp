// FolderWatch on inotify: one instance per watch, watching the folder for
// the named file's changes.

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/folder_watch.h"
#include "platform/posix/readable_wait.h"

namespace platform {

FolderWatch::~FolderWatch() = default;

namespace {

constexpr std::uint32_t kMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

class InotifyWatch final : public FolderWatch {
 public:
  InotifyWatch(int inotify, std::string name) : inotify_(inotify), name_(std::move(name)) {}
  ~InotifyWatch() override { ::close(inotify_); }
  InotifyWatch(const InotifyWatch&) = delete;
  InotifyWatch& operator=(const InotifyWatch&) = delete;

  bool Add(const std::string& folder) { return ::inotify_add_watch(inotify_, folder.c_str(), kMask) >= 0; }

  Result Wait(std::chrono::milliseconds timeout, std::stop_token stop) override {
    if (stop.stop_requested()) return Result::kStopped;
    if (lost_ || Drain()) return Result::kChanged;
    const bool forever = timeout.count() < 0 || timeout == std::chrono::milliseconds::max();
    const auto deadline =
        forever ? std::chrono::steady_clock::time_point::max() : std::chrono::steady_clock::now() + timeout;
    for (;;) {
      std::chrono::milliseconds left = std::chrono::milliseconds::max();
      if (!forever) {
        left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                     std::chrono::steady_clock::now());
        if (left.count() < 0) return Result::kTimedOut;
      }
      switch (wait_.Wait(inotify_, left, stop)) {
        case posix::ReadableWait::Result::kStopped: return Result::kStopped;
        case posix::ReadableWait::Result::kTimedOut: return Result::kTimedOut;
        case posix::ReadableWait::Result::kReadable:
          if (Drain()) return Result::kChanged;
          break;  // events about other files
      }
    }
  }

  bool Lost() const override { return lost_; }

 private:
  // Reads every queued event; true when one concerns the file or the
  // folder itself.
  bool Drain() {
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      ssize_t n = ::read(inotify_, buffer, sizeof buffer);
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

  int inotify_;
  std::string name_;
  posix::ReadableWait wait_;
  bool lost_ = false;
};

}  // namespace

std::unique_ptr<FolderWatch> FolderWatch::ForFile(const std::string& file) {
  const auto slash = file.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
  const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  const int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify < 0) return nullptr;
  auto watch = std::make_unique<InotifyWatch>(inotify, name);
  if (!watch->Add(folder)) return nullptr;
  return watch;
}

}  // namespace platform
