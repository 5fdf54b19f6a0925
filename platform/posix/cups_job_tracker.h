#pragma once

// What a queue's change notification and the queue's job list share.
//
// A caller that keeps a copy of the queue learns a job's values from the
// notification records, and on a deletion refreshes its copy from the job
// list, taking every job no longer listed as gone. A job may end between
// the fetch that last reported it and that refresh; were it dropped from
// the list at once, its copy would be taken as gone with stale values
// (pages still 0). So the list goes on showing a job the notification has
// been tracking until the notification has reported its final values and
// then its deletion.

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "platform/spooler.h"

namespace platform::cups {

struct JobTracker {
  std::mutex mutex;
  bool active = true;  // false once the notification has been closed
  // Jobs the caller may know of, with their latest values.
  std::map<std::uint32_t, SpoolJob> tracked;
  // Jobs whose final values have been reported; their deletion is next.
  std::vector<std::uint32_t> deletionDue;
};

}  // namespace platform::cups
