#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "platform/status.h"

namespace common {

// Raised by the printer code of the engine and the console: an error code
// (the spooler's or the system's error number, or kNoCode) and a message of
// its own, plus the platform's account of the failure (for the log; the
// message is what users see).
class EPrinter : public std::exception {
 public:
  // The code of a failure that has no error number of its own.
  static constexpr std::int32_t kNoCode = -1;

  EPrinter(std::int32_t code, std::string message, platform::Status why = {})
      : code_(code), message_(std::move(message)), why_(std::move(why)) {}

  std::int32_t Code() const noexcept { return code_; }
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  // What the spooler said, when it said something; else the message.
  platform::Status Why() const {
    if (!why_.IsOk()) return why_;
    return platform::Status(platform::StatusCode::kIoError, message_.empty() ? "spooler error" : message_);
  }

 private:
  std::int32_t code_;
  std::string message_;
  platform::Status why_;
};

}  // namespace common
