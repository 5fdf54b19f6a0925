#include <pthread.h>
#include <signal.h>

#include "platform/stop_signal.h"

namespace platform {
namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

void HoldStopSignals() {
  // Blocked in this thread and, by inheritance, in every thread it starts;
  // sigwait takes them from the pending set.
  const sigset_t set = StopSignals();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void WaitForStopSignal() {
  const sigset_t set = StopSignals();
  int signal = 0;
  ::sigwait(&set, &signal);
}

}  // namespace platform
