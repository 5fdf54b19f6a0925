#pragma once
// Diagnostics for administrators: one line per event on standard error,
// which systemd's journal keeps for a service (and which a terminal shows
// when a program is run by hand).
//
//   quillcore-host: warning: cannot append to /var/lib/.../Day.xml: Permission denied
//
// Warnings and errors are always written; debug lines only when the
// environment variable QUILLMARK_DEBUG is "1". Under the journal
// (JOURNAL_STREAM set) each line starts with the syslog priority prefix
// ("<4>") so that `journalctl -p warning` finds it.
//
// Every place that deliberately goes on after a failure logs one warning
// saying what failed and why: the file, the spooler call, the server's
// reply. Never log a password, a scrambled password or an authentication
// exchange.
//
// Thread safety: every function may be called from any thread; a line is
// written with one call, so lines of different threads never interleave.
#include <functional>
#include <string>
#include <string_view>

#include "platform/export.h"
#include "platform/status.h"

namespace platform {

enum class LogLevel { kDebug, kInfo, kWarning, kError };

// The name every line starts with (the program's name, set by its
// main function); "quillmark" until it is set.
QM_PLATFORM_API void SetLogIdentity(std::string_view identity);

// Whether debug lines are written (QUILLMARK_DEBUG=1, read once).
QM_PLATFORM_API bool DebugLogging();

// Writes one line (a trailing newline in `message` is dropped; a newline
// inside it is replaced with a space so that one event stays one line).
QM_PLATFORM_API void Log(LogLevel level, std::string_view message);

inline void LogDebug(std::string_view message) {
  if (DebugLogging()) Log(LogLevel::kDebug, message);
}
inline void LogInfo(std::string_view message) { Log(LogLevel::kInfo, message); }
inline void LogWarning(std::string_view message) { Log(LogLevel::kWarning, message); }
inline void LogError(std::string_view message) { Log(LogLevel::kError, message); }
// "<what>: <status>", e.g. LogWarning("mark not saved", status).
QM_PLATFORM_API void LogWarning(std::string_view what, const Status& status);

// For failures that recur on every pass (a value read every 20 seconds, a
// spooler that stays away): the warning is logged when `key` starts
// failing or fails for another reason, not again while it keeps failing
// the same way; LogRecovered then logs "<what> again works" once. Keys are
// process-wide, so short-lived objects reading the same thing share one.
QM_PLATFORM_API void LogFailureOnce(std::string_view key, std::string_view what, const Status& status);
// Logs "<what> again works" when `key` was failing; otherwise nothing.
QM_PLATFORM_API void LogRecovered(std::string_view key, std::string_view what);

// Where lines go instead of standard error, for tests; an empty function
// restores standard error. Returns the previous sink.
using LogSink = std::function<void(LogLevel, std::string_view line)>;
QM_PLATFORM_API LogSink SetLogSink(LogSink sink);

}  // namespace platform
