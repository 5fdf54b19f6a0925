#include "platform/status.h"

#include <cerrno>

namespace platform {

StatusCode CodeOfSystemError(int systemError) {
#if defined(_WIN32)
  switch (systemError) {
    case 0: return StatusCode::kOk;
    case 2:     // ERROR_FILE_NOT_FOUND
    case 3:     // ERROR_PATH_NOT_FOUND
    case 1801:  // ERROR_INVALID_PRINTER_NAME
      return StatusCode::kNotFound;
    case 5:  // ERROR_ACCESS_DENIED
      return StatusCode::kAccessDenied;
    case 80:   // ERROR_FILE_EXISTS
    case 183:  // ERROR_ALREADY_EXISTS
      return StatusCode::kAlreadyExists;
    case 234:  // ERROR_MORE_DATA
    case 122:  // ERROR_INSUFFICIENT_BUFFER
      return StatusCode::kMoreData;
    case 87:   // ERROR_INVALID_PARAMETER
    case 123:  // ERROR_INVALID_NAME
      return StatusCode::kInvalidArgument;
    case 1460:   // ERROR_TIMEOUT
    case 10060:  // WSAETIMEDOUT
      return StatusCode::kTimedOut;
    case 10061:  // WSAECONNREFUSED
    case 10065:  // WSAEHOSTUNREACH
    case 11001:  // WSAHOST_NOT_FOUND
      return StatusCode::kUnavailable;
    default: return StatusCode::kIoError;
  }
#else
  switch (systemError) {
    case 0: return StatusCode::kOk;
    case ENOENT:
    case ENOTDIR: return StatusCode::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return StatusCode::kAccessDenied;
    case EEXIST: return StatusCode::kAlreadyExists;
    case EINVAL:
    case ENAMETOOLONG: return StatusCode::kInvalidArgument;
    case ETIMEDOUT: return StatusCode::kTimedOut;
    case ECANCELED: return StatusCode::kCancelled;
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ECONNRESET: return StatusCode::kUnavailable;
    default: return StatusCode::kIoError;
  }
#endif
}

Status Status::FromSystem(int systemError, std::string context) {
  StatusCode code = CodeOfSystemError(systemError);
  if (code == StatusCode::kOk) code = StatusCode::kIoError;  // a failure without a number
  return Status(code, std::move(context), systemError);
}

Status Status::LastError(std::string context) {
  const int error = LastSystemError();
  return FromSystem(error, std::move(context));
}

namespace {

const char* CodeText(StatusCode code) {
  switch (code) {
    case StatusCode::kOk: return "OK";
    case StatusCode::kNotFound: return "not found";
    case StatusCode::kAlreadyExists: return "already exists";
    case StatusCode::kAccessDenied: return "access denied";
    case StatusCode::kMoreData: return "more data";
    case StatusCode::kInvalidArgument: return "invalid argument";
    case StatusCode::kTimedOut: return "timed out";
    case StatusCode::kCancelled: return "cancelled";
    case StatusCode::kUnavailable: return "unavailable";
    case StatusCode::kIoError: return "I/O error";
  }
  return "error";
}

}  // namespace

Status Status::Described(StatusCode code, std::string text) {
  Status status(code, std::move(text));
  status.described_ = true;
  return status;
}

std::string Status::ToString() const {
  if (IsOk()) return "OK";
  if (described_ && systemError_ == 0) return context_;
  const std::string reason = systemError_ != 0 ? SystemErrorText(systemError_) : CodeText(code_);
  if (context_.empty()) return reason;
  return context_ + ": " + reason;
}

StatusError::StatusError(platform::Status status)
    : std::system_error(std::error_code(status.SystemError(), std::system_category()), status.Context()),
      status_(std::move(status)),
      what_(status_.ToString()) {}

StatusError::StatusError(platform::Status status, std::string what)
    : std::system_error(std::error_code(status.SystemError(), std::system_category()), status.Context()),
      status_(std::move(status)),
      what_(std::move(what)) {}

}  // namespace platform
