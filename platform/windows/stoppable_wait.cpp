#include "platform/windows/stoppable_wait.h"

#include <algorithm>

namespace platform::windows {

namespace {
// How long a stop request may go unseen.
constexpr DWORD kStopCheckMs = 50;
}  // namespace

StoppableWait WaitForAnyOrStop(std::span<const HANDLE> handles, std::chrono::milliseconds timeout,
                               std::stop_token stop) {
  const bool forever = timeout.count() < 0 || timeout == std::chrono::milliseconds::max();
  const auto deadline =
      forever ? std::chrono::steady_clock::time_point::max() : std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (stop.stop_requested()) return {StoppableWait::kStopped};
    DWORD slice = kStopCheckMs;
    if (!forever) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      slice = static_cast<DWORD>(std::clamp<long long>(left.count(), 0, kStopCheckMs));
    }
    const DWORD woke =
        ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, slice);
    if (woke < WAIT_OBJECT_0 + handles.size()) return {StoppableWait::kSignalled, woke - WAIT_OBJECT_0};
    if (woke >= WAIT_ABANDONED_0 && woke < WAIT_ABANDONED_0 + handles.size()) {
      return {StoppableWait::kSignalled, woke - WAIT_ABANDONED_0};
    }
    if (woke != WAIT_TIMEOUT) return {StoppableWait::kFailed};
    if (stop.stop_requested()) return {StoppableWait::kStopped};
    if (!forever && std::chrono::steady_clock::now() >= deadline) return {StoppableWait::kTimedOut};
  }
}

}  // namespace platform::windows
