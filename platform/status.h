#pragma once
// The one error type of the platform layer: what kind of failure, the
// system's own error number when the system gave one, and a context text
// saying what was being done ("open /var/lib/quillmark/data/Logs/x.xml").
//
// Functions that can fail return a Status (or a Result<T> when they also
// produce a value). Constructors, which cannot return one, throw a
// StatusError carrying it. A Status is cheap to copy when it is OK; an
// error holds one string.
//
// Thread safety: a Status is a value; distinct objects may be used from
// distinct threads freely.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/export.h"

namespace platform {

enum class StatusCode : std::uint8_t {
  kOk = 0,
  kNotFound,  // file, key, value, printer or job does not exist
  kAlreadyExists,
  kAccessDenied,
  kMoreData,         // the caller's buffer is smaller than the data
  kInvalidArgument,  // malformed input (a name, an address, a stored value)
  kTimedOut,
  kCancelled,    // a stop request ended the call
  kUnavailable,  // the peer or service cannot be reached (CUPS, SMTP)
  kIoError,      // any other failure of the system or a peer
};

// The system's text for one of its error numbers (errno on POSIX, a
// GetLastError() value on Windows), without a trailing newline.
QM_PLATFORM_API std::string SystemErrorText(int systemError);

// The calling thread's last system error number (errno / GetLastError()).
QM_PLATFORM_API int LastSystemError();

// The code that fits a system error number (ENOENT -> kNotFound ...).
QM_PLATFORM_API StatusCode CodeOfSystemError(int systemError);

class QM_PLATFORM_API Status {
 public:
  // OK.
  Status() = default;
  Status(StatusCode code, std::string context, int systemError = 0)
      : code_(code), systemError_(systemError), context_(std::move(context)) {}

  static Status Ok() { return Status(); }
  // A failure the system reported with `systemError`; the code is taken
  // from the number.
  static Status FromSystem(int systemError, std::string context);
  // FromSystem(LastSystemError(), context): call it right after the
  // failing system call, before anything else can change the number.
  static Status LastError(std::string context);
  // A failure whose text says what failed and why already, in the words of
  // the library that failed ("CUPS Get-Jobs at localhost: Service
  // Unavailable"); ToString() gives the text as it is.
  static Status Described(StatusCode code, std::string text);

  bool IsOk() const { return code_ == StatusCode::kOk; }
  // So that `if (!WriteFileBytes(...))` reads as it always did.
  explicit operator bool() const { return IsOk(); }

  StatusCode Code() const { return code_; }
  bool IsNotFound() const { return code_ == StatusCode::kNotFound; }
  int SystemError() const { return systemError_; }
  const std::string& Context() const { return context_; }

  // "OK", or the context followed by the reason:
  // "open /x/y.xml: Permission denied" (a Described() status: its text).
  std::string ToString() const;

  friend bool operator==(const Status& a, const Status& b) {
    return a.code_ == b.code_ && a.systemError_ == b.systemError_;
  }

 private:
  StatusCode code_ = StatusCode::kOk;
  int systemError_ = 0;
  std::string context_;
  bool described_ = false;  // the context holds the reason too
};

// A value or the Status that explains its absence. Reads like
// std::optional (`if (auto text = ReadFileBytes(p)) use(*text);`) and
// tells why when there is nothing.
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}                   // NOLINT: implicit by design
  Result(platform::Status status) : status_(std::move(status)) {  // NOLINT
    if (status_.IsOk()) status_ = platform::Status(StatusCode::kIoError, "no value");
  }

  bool HasValue() const { return value_.has_value(); }
  explicit operator bool() const { return value_.has_value(); }
  const platform::Status& Status() const { return status_; }

  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }
  T&& operator*() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& Value() & { return value_.value(); }
  const T& Value() const& { return value_.value(); }
  T&& Value() && { return std::move(value_).value(); }
  template <typename U>
  T ValueOr(U&& fallback) const& {
    return value_.value_or(std::forward<U>(fallback));
  }
  // Like std::optional: equal to a value when it holds an equal one.
  friend bool operator==(const Result& result, const T& value) {
    return result.HasValue() && *result == value;
  }

  // The value as a plain optional (for code that keeps one).
  std::optional<T> ToOptional() && { return std::move(value_); }

 private:
  std::optional<T> value_;
  platform::Status status_;
};

// Thrown by constructors and by calls whose callers expect exceptions. It
// is a std::system_error whose code() is the system's error number (in
// std::system_category()), so code written against the standard's error
// type reads it too; Status() has the whole story and what() is
// Status().ToString(). The platform's own exceptions (SpoolerError,
// TlsError, DynamicLibraryError) derive from it and keep their own text.
class QM_PLATFORM_API StatusError : public std::system_error {
 public:
  explicit StatusError(platform::Status status);
  const platform::Status& Status() const noexcept { return status_; }
  const char* what() const noexcept override { return what_.c_str(); }

 protected:
  // what() gives `what` instead of status.ToString().
  StatusError(platform::Status status, std::string what);

 private:
  platform::Status status_;
  std::string what_;
};

}  // namespace platform
