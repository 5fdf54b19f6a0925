#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace common {

// Raised by the printer code of the engine and the console: an error code
// (the spooler's or the system's error number, or kNoCode) and a message of
// its own.
class EPrinter : public std::exception {
 public:
  // The code of a failure that has no error number of its own.
  static constexpr std::int32_t kNoCode = -1;

  EPrinter(std::int32_t code, std::string message) : code_(code), message_(std::move(message)) {}

  std::int32_t code() const noexcept { return code_; }
  const std::string& message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::int32_t code_;
  std::string message_;
};

}  // namespace common
