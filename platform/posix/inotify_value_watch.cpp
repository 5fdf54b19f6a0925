#include "platform/posix/inotify_value_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "platform/log.h"

namespace platform {
namespace {

constexpr std::uint32_t kEvents =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;

// The longest single poll; a longer wait polls again.
constexpr std::chrono::milliseconds kLongestPoll{60000};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

class InotifyValueWatch final : public ValueWatch {
 public:
  InotifyValueWatch(std::filesystem::path folder, std::set<std::string> files,
                    std::unique_ptr<ValueWatch> fallback)
      : folder_(std::move(folder)),
        files_(std::move(files)),
        fallback_(std::move(fallback)),
        inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
        initError_(inotify_.Get() < 0 ? errno : 0) {
    AddWatch();
  }

  bool Wait(std::chrono::milliseconds timeout, std::stop_token stop) override {
    if (watch_ < 0 && !AddWatch()) return fallback_->Wait(timeout, stop);

    // A stop request writes to this, which ends the poll at once.
    Fd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (wake.Get() < 0) return fallback_->Wait(timeout, stop);
    std::stop_callback onStop(stop, [&] {
      std::uint64_t one = 1;
      [[maybe_unused]] ssize_t n = ::write(wake.Get(), &one, sizeof one);
    });

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (stop.stop_requested()) return false;
      if (Drain()) return true;
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left <= std::chrono::milliseconds::zero()) return false;
      pollfd fds[2] = {{inotify_.Get(), POLLIN, 0}, {wake.Get(), POLLIN, 0}};
      const int ms = static_cast<int>(std::min(left, kLongestPoll).count());
      if (::poll(fds, 2, ms) < 0 && errno != EINTR) return fallback_->Wait(left, stop);
    }
  }

 private:
  // A key folder that does not exist yet is polled until it does; any
  // other failure (the system's watch limit) is logged once while it lasts.
  bool AddWatch() {
    const std::string key = "registry watch " + folder_.string();
    const char* what = "registry changes read every 100 ms instead of being told";
    if (inotify_.Get() < 0) {
      LogFailureOnce("registry inotify", what, Status::FromSystem(initError_, "inotify_init1"));
      return false;
    }
    watch_ = ::inotify_add_watch(inotify_.Get(), folder_.c_str(), kEvents | IN_ONLYDIR);
    if (watch_ < 0) {
      if (errno != ENOENT) LogFailureOnce(key, what, Status::LastError("watch " + folder_.string()));
      return false;
    }
    LogRecovered(key, "watching " + folder_.string());
    return true;
  }

  // Reads every pending event; true when one concerns a watched value (or
  // the folder itself went, or events were lost).
  bool Drain() {
    bool changed = false;
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      ssize_t n = ::read(inotify_.Get(), buffer, sizeof buffer);
      if (n <= 0) break;
      for (char* p = buffer; p < buffer + n;) {
        auto* event = reinterpret_cast<inotify_event*>(p);
        if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
          watch_ = -1;  // watched again on the next wait
          changed = true;
        }
        if (event->mask & IN_Q_OVERFLOW) changed = true;
        if (event->len > 0 && files_.count(event->name)) changed = true;
        p += sizeof(inotify_event) + event->len;
      }
    }
    return changed;
  }

  std::filesystem::path folder_;
  std::set<std::string> files_;
  std::unique_ptr<ValueWatch> fallback_;
  Fd inotify_;
  int initError_ = 0;
  int watch_ = -1;
};

}  // namespace

std::unique_ptr<ValueWatch> MakeInotifyValueWatch(std::filesystem::path folder, std::set<std::string> files,
                                                  std::unique_ptr<ValueWatch> fallback) {
  return std::make_unique<InotifyValueWatch>(std::move(folder), std::move(files), std::move(fallback));
}

}  // namespace platform
