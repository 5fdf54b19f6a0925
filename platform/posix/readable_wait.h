#pragma once

// Blocking on a descriptor until it has something to read, a time-out or
// a stop request, whichever comes first: the one wait the event-driven
// backends share. A stop request wakes the poll through an eventfd.

#include <chrono>
#include <stop_token>

namespace platform::posix {

class ReadableWait {
 public:
  enum class Result { kReadable, kTimedOut, kStopped };

  ReadableWait();
  ~ReadableWait();
  ReadableWait(const ReadableWait&) = delete;
  ReadableWait& operator=(const ReadableWait&) = delete;

  // False when no eventfd could be had; Wait then only polls `fd`.
  bool Valid() const { return wake_ >= 0; }

  // A negative timeout, or milliseconds::max(), waits for ever.
  Result Wait(int fd, std::chrono::milliseconds timeout, std::stop_token stop);

 private:
  int wake_ = -1;
};

}  // namespace platform::posix
