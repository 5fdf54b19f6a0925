#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_set>
#include <vector>

#include "engine/print_job.h"
#include "platform/spooler.h"

namespace engine {

// The engine's copy of one printer's queue, kept up to date from change
// records and enumerations. Jobs stay in the order they were added, except
// that removing one moves the last job into its place.
class JobList {
 public:
  // The index of the first job with that id.
  std::optional<std::size_t> Find(std::uint32_t jobId) const;

  // Appends a job built from an enumerated one.
  void Add(const platform::SpoolJob& job);
  // Appends a job known only by its id.
  void AddBlank(std::uint32_t jobId);

  // Applies one change record: printer records are ignored; a job the list
  // does not know is added blank first.
  void Apply(const platform::NotifyData& record);

  // Brings the list in line with the queue: enumerated jobs it does not
  // know are added, and every job the queue no longer lists is marked
  // JobFinished. keep = 0 empties the list first. Returns the number of
  // jobs enumerated.
  std::size_t Refresh(platform::SpoolPrinter* printer, int keep);

  // Removes the job with that id; nothing when there is none.
  void Remove(std::uint32_t jobId);

  // Removes a job that has been logged. Records and enumerations that
  // mention its id later are ignored, so that it is never taken in again
  // and logged a second time.
  void Retire(std::uint32_t jobId);
  bool Retired(std::uint32_t jobId) const { return retiredSet_.count(jobId) != 0; }

  PrintJob& At(std::size_t index);
  std::size_t Count() const { return jobs_.size(); }

  // How many retired ids are remembered; the oldest are forgotten first.
  static constexpr std::size_t kRetiredMemory = 4096;

 private:
  void Append(PrintJob job);

  std::vector<PrintJob> jobs_;
  std::deque<std::uint32_t> retiredOrder_;
  std::unordered_set<std::uint32_t> retiredSet_;
};

}  // namespace engine
