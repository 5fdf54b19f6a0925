#pragma once

// The watcher's end of the event relay (cups_event_relay.h): a datagram
// socket with an abstract name of its own, and the recipient URI that
// makes the scheduler's notifier signal it.

#include <chrono>
#include <memory>
#include <stop_token>
#include <string>

#include "platform/posix/readable_wait.h"

namespace platform::cups {

class EventSocket {
 public:
  // Nothing when no socket could be made.
  static std::unique_ptr<EventSocket> Open();
  ~EventSocket();
  EventSocket(const EventSocket&) = delete;
  EventSocket& operator=(const EventSocket&) = delete;

  const std::string& Recipient() const { return recipient_; }

  // Forgets the signals received so far.
  void Drain();

  enum class Result { kSignalled, kTimedOut, kStopped };
  // Waits for a signal (kept until Drain), `timeout` or `stop`.
  Result Wait(std::chrono::milliseconds timeout, std::stop_token stop);

 private:
  EventSocket(int fd, std::string recipient);

  int fd_;
  std::string recipient_;
  posix::ReadableWait wait_;
};

}  // namespace platform::cups
