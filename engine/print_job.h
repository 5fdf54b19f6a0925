#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/spooler.h"

namespace engine {

// The status the engine gives a job that is no longer in the spooler
// queue. A job the spooler itself reports with exactly this status counts
// as finished too.
inline constexpr std::uint32_t JobFinished = 1024;

// One job as the engine knows it.
struct PrintJob {
  std::uint32_t jobId = 0;
  std::optional<std::string> document;
  std::optional<std::string> userName;
  std::optional<std::string> statusText;
  std::uint32_t status = 0;
  std::uint32_t pagesPrinted = 0;
  std::uint32_t totalPages = 0;
  platform::SpoolTime submitted;  // local time

  // From an enumerated job; its submitted time (UTC) becomes local time.
  static PrintJob FromSpooler(const platform::SpoolJob& job);
  // A job known only by its id: no texts, numbers and time zero.
  static PrintJob Blank(std::uint32_t jobId);
};

}  // namespace engine
