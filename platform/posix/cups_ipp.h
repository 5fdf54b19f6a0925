#pragma once

// IPP requests to the CUPS scheduler named by libcups (CUPS_SERVER,
// client.conf or the local default), with every handle owned, and the
// decoding of job attributes into the spooler's job records.

#include <cups/cups.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/spooler.h"

namespace platform::cups {

struct IppDeleter {
  void operator()(ipp_t* ipp) const noexcept { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

// One connection to the scheduler, used by one thread at a time. libcups
// reconnects by itself when the scheduler closed an idle connection.
class Connection {
 public:
  // Throws SpoolerError(kErrorServerUnavailable) when the scheduler cannot
  // be reached.
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  http_t* Http() const { return http_; }

  // A request of `op`, with printer-uri set to `printerUri` when it is not
  // empty, and the requesting user name.
  static Ipp NewRequest(ipp_op_t op, const std::string& printerUri);

  // Sends `request` and returns the answer. A failed request throws
  // SpoolerError: a missing printer, job or subscription with `notFound`,
  // a refusal with kErrorAccessDenied, no scheduler with
  // kErrorServerUnavailable.
  Ipp Do(Ipp request, std::int32_t notFound);

 private:
  http_t* http_ = nullptr;
};

// "ipp://localhost/printers/NAME" for a printer named in Latin-1.
std::string PrinterUri(std::string_view latin1Name);

// The job attributes asked for in Get-Jobs and Get-Job-Attributes.
const std::vector<const char*>& JobAttributes();
// Asks for JobAttributes() in `request`.
void AddRequestedAttributes(ipp_t* request);

// IPP job states.
inline constexpr int kJobPending = 3;
inline constexpr int kJobHeld = 4;
inline constexpr int kJobProcessing = 5;
inline constexpr int kJobStopped = 6;
inline constexpr int kJobCanceled = 7;
inline constexpr int kJobAborted = 8;
inline constexpr int kJobCompleted = 9;

// A job as the scheduler reports it.
struct CupsJob {
  SpoolJob job;
  int state = kJobPending;
  bool Ended() const { return state >= kJobCanceled; }
};

// Every job group of an answer, in order. A value the scheduler withholds
// from this user (a private job name or owner) stays absent.
std::vector<CupsJob> JobsOf(ipp_t* response);

// Get-Jobs: the jobs of a queue that have not ended, in queue order.
std::vector<CupsJob> QueuedJobs(Connection& connection, const std::string& printerUri);

// Get-Jobs: every ended job of a queue the scheduler still keeps, by id.
std::vector<CupsJob> EndedJobs(Connection& connection, const std::string& printerUri);

// Get-Jobs: the ended jobs of a queue with ids from `firstId` on, by id.
std::vector<CupsJob> EndedJobsFrom(Connection& connection, const std::string& printerUri,
                                   std::uint32_t firstId);

// Get-Job-Attributes: one job, or nothing once it has been purged.
std::optional<CupsJob> JobById(Connection& connection, const std::string& printerUri, std::uint32_t id);

// The status bits that stand for a job state. None of them is ever the
// single bit kJobStatusUserIntervention (1024), the value the engine
// keeps for jobs that have left the queue.
std::uint32_t StatusOf(int state);

}  // namespace platform::cups
