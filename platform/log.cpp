#include "platform/log.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace platform {
namespace {

struct LogState {
  std::mutex mutex;
  std::string identity;
  bool identitySet = false;
  LogSink sink;
};

LogState& State() {
  static LogState state;
  return state;
}

const char* LevelText(LogLevel level) {
  switch (level) {
    case LogLevel::kDebug: return "debug";
    case LogLevel::kInfo: return "info";
    case LogLevel::kWarning: return "warning";
    case LogLevel::kError: return "error";
  }
  return "info";
}

// syslog priorities: err 3, warning 4, info 6, debug 7.
char PriorityDigit(LogLevel level) {
  switch (level) {
    case LogLevel::kDebug: return '7';
    case LogLevel::kInfo: return '6';
    case LogLevel::kWarning: return '4';
    case LogLevel::kError: return '3';
  }
  return '6';
}

}  // namespace

void SetLogIdentity(std::string_view identity) {
  LogState& state = State();
  std::lock_guard lock(state.mutex);
  state.identity = std::string(identity);
  state.identitySet = true;
}

bool DebugLogging() {
  static const bool enabled = [] {
    const char* value = std::getenv("QUILLMARK_DEBUG");
    return value != nullptr && std::string_view(value) == "1";
  }();
  return enabled;
}

void Log(LogLevel level, std::string_view message) {
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.remove_suffix(1);
  std::string text(message);
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';

  LogState& state = State();
  std::lock_guard lock(state.mutex);
  if (state.sink) {
    state.sink(level, text);
    return;
  }
  if (!state.identitySet) {
    state.identity = "quillmark";
    state.identitySet = true;
  }
  static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
  std::string line;
  line.reserve(text.size() + state.identity.size() + 16);
  if (journal) {
    line += '<';
    line += PriorityDigit(level);
    line += '>';
  }
  line += state.identity;
  line += ": ";
  line += LevelText(level);
  line += ": ";
  line += text;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void LogWarning(std::string_view what, const Status& status) {
  std::string line(what);
  line += ": ";
  line += status.ToString();
  Log(LogLevel::kWarning, line);
}

namespace {

struct FailureState {
  std::mutex mutex;
  std::map<std::string, std::string, std::less<>> failing;  // key -> the warning last logged
};

FailureState& Failures() {
  static FailureState state;
  return state;
}

}  // namespace

void LogFailureOnce(std::string_view key, std::string_view what, const Status& status) {
  std::string line(what);
  line += ": ";
  line += status.ToString();
  {
    FailureState& failures = Failures();
    std::lock_guard lock(failures.mutex);
    auto it = failures.failing.find(key);
    if (it != failures.failing.end() && it->second == line) return;
    failures.failing.insert_or_assign(std::string(key), line);
  }
  Log(LogLevel::kWarning, line);
}

void LogRecovered(std::string_view key, std::string_view what) {
  {
    FailureState& failures = Failures();
    std::lock_guard lock(failures.mutex);
    auto it = failures.failing.find(key);
    if (it == failures.failing.end()) return;
    failures.failing.erase(it);
  }
  std::string line(what);
  line += " again works";
  Log(LogLevel::kWarning, line);
}

LogSink SetLogSink(LogSink sink) {
  LogState& state = State();
  std::lock_guard lock(state.mutex);
  LogSink previous = std::move(state.sink);
  state.sink = std::move(sink);
  return previous;
}

}  // namespace platform
