#include "engine/retention_thread.h"

#include <chrono>
#include <ctime>

#include "common/period_keys.h"
#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "engine/app_folder.h"
#include "engine/retention_rules.h"
#include "platform/anchored_folder.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/log.h"

namespace engine {

RetentionThread::RetentionThread() : clock_(&platform::Clock::Default()) {}
RetentionThread::RetentionThread(platform::Clock& clock) : clock_(&clock) {}

std::size_t RetentionThread::RunPass() {
  // Each file is removed relative to the folder it was listed from; a file
  // that cannot be removed stays and the pass goes on.
  return platform::RemoveFilesBelow(AppFile("\\Logs"), ".xml", [&](const std::string& path) {
    const std::time_t now = std::chrono::system_clock::to_time_t(clock_->Now());
    return ShouldDeleteLogFile(path, common::ToLocalDateTime(now), common::WeekNumber(now));
  });
}

std::uint32_t RetentionThread::Run(std::int32_t, std::stop_token stop) {
  // Read once when the thread starts; the policy does not depend on it.
  CRegDword days(common::QuillmarkValue("DeleteLogsDays"), 0);
  (void)days;
  while (!stop.stop_requested()) {
    const std::size_t removed = RunPass();
    platform::LogDebug("old log files removed: " + std::to_string(removed));
    if (!clock_->SleepFor(kPassInterval, stop)) break;
  }
  return 0;
}

}  // namespace engine
