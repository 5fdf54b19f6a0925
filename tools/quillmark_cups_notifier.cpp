// The CUPS notifier of the scheme "quillmark": the scheduler starts it as
// <ServerBin>/notifier/quillmark RECIPIENT USER-DATA with the events on
// standard input; it wakes the watcher that subscribed (see
// platform/posix/cups_event_relay.h).

#include "platform/posix/cups_event_relay.h"

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  return platform::cups::RelayEvents(argv[1]);
}
