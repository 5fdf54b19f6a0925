#pragma once

// The state of one simulated print queue and the edits that change it.
// Every edit appends one entry to the queue's change journal: the change
// word bits it stands for and the notification records it produces, under
// a sequence number that grows by one per entry. Registrations remember the
// last sequence they fetched and build their notifications from the
// entries after it.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/export.h"
#include "platform/spooler.h"

namespace platform::sim {

struct ChangeEntry {
  std::uint64_t sequence = 0;
  std::uint32_t changes = 0;  // kPrinterChange* bits
  std::vector<NotifyData> records;
};

struct QueueState {
  std::uint64_t sequence = 0;  // of the last journal entry; 0 before any
  std::uint32_t nextJobId = 1;
  std::uint32_t printerStatus = 0;
  std::vector<SpoolJob> jobs;  // queue order
  std::deque<ChangeEntry> journal;
  // The jobs that have left the queue, oldest first, with their final
  // values and completion time, as a print server keeps its job history.
  std::deque<SpoolJob> ended;
};

// The history keeps this many ended jobs.
inline constexpr std::size_t kHistoryKeep = 500;

// The journal keeps this many entries; a registration that fell further
// behind has lost changes.
inline constexpr std::size_t kJournalKeep = 256;

// A job to submit. A zero submitted time means now.
struct SimJobSpec {
  std::optional<std::string> document;
  std::optional<std::string> userName;
  std::uint32_t totalPages = 0;
  SpoolTime submitted;  // UTC
  std::uint32_t status = kJobStatusSpooling;
};

// Edits one queue. Unknown job ids throw SpoolerError
// (kErrorInvalidParameter).
class QM_PLATFORM_API SimQueue {
 public:
  SimQueue(QueueState& state, std::string printerName);

  // Adds a job at the end of the queue; returns its id.
  std::uint32_t Submit(const SimJobSpec& spec);
  void SetStatus(std::uint32_t jobId, std::uint32_t status);
  void SetTotalPages(std::uint32_t jobId, std::uint32_t pages);
  void SetDocument(std::uint32_t jobId, std::optional<std::string> document);
  void SetUserName(std::uint32_t jobId, std::optional<std::string> userName);
  // Prints `pages` more pages: the job is printing.
  void AdvancePages(std::uint32_t jobId, std::uint32_t pages);
  // The job is printed to the end and leaves the queue.
  void Complete(std::uint32_t jobId);
  // The job is deleted, printed or not, and leaves the queue.
  void Cancel(std::uint32_t jobId);

  const std::vector<SpoolJob>& Jobs() const { return state_.jobs; }

 private:
  SpoolJob& Find(std::uint32_t jobId);
  std::size_t IndexOf(std::uint32_t jobId);
  ChangeEntry& Begin(std::uint32_t changes);
  void Remove(std::uint32_t jobId, std::uint32_t finalStatus);

  QueueState& state_;
  std::string printerName_;
};

// The record of one field of a job as it stands.
NotifyData JobRecord(const SpoolJob& job, std::uint16_t field);
// The record of one printer field.
NotifyData PrinterRecord(const QueueState& state, std::string_view printerName, std::uint16_t field);

// The text form of a queue in a spool folder, and back. Parsing returns
// nothing for a text that is not a queue.
std::string FormatQueue(const QueueState& state);
std::optional<QueueState> ParseQueue(std::string_view text);
// The sequence in the first line of a formatted queue, read without
// parsing the rest.
std::optional<std::uint64_t> PeekSequence(std::string_view text);

// Percent-escapes every byte that is not printable ASCII, and the percent
// sign itself, so that a text is one word without spaces.
std::string EscapeWord(std::string_view text);
std::string UnescapeWord(std::string_view word);

}  // namespace platform::sim
