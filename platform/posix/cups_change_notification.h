#pragma once

// Change notifications for one CUPS queue.
//
// The scheduler keeps events for a printer subscription (pull method
// "ippget") and hands them out through Get-Notifications; it never holds
// such a request open until an event comes (notify-wait is answered at
// once). So a second subscription on the same events names the engine's
// own CUPS notifier as recipient (cups_event_relay.h): the scheduler starts
// it at the first event and it wakes Wait(), which then fetches the
// events. While nothing is queued the watcher thus sleeps; it looks by
// itself only every kCheckInterval, with one Get-Notifications that names
// both subscriptions, to notice one that has gone (scheduler restarted,
// lease ran out), whereupon both are made again and the jobs missed
// meanwhile caught up. Where the
// notifier is not installed the scheduler refuses that subscription and
// Wait() asks for events at a short fixed interval instead. The events only
// say that something changed and which jobs; the values come from the
// scheduler's job list, so no value is lost when events are.
//
// A subscription keeps only its last events (100 by default). When the
// sequence numbers show a gap, or the subscription is gone, the jobs that
// were never heard of are found again among the completed jobs whose ids
// are above every id already accounted for.
//
// The scheduler sends no event when a job that is not printing is
// cancelled (nor when it is moved to another queue). While jobs are
// queued, Wait() therefore also looks every kPollInterval and compares the
// queue's job count with the one last fetched.
//
// A job that leaves the queue is reported in two fetches: first its final
// values (pages printed, total pages, state) in a fetch without
// kPrinterChangeDeleteJob, as if it were still queued, then the deletion
// alone. A caller that refreshes its queue copy on a deletion, and ignores
// the records of that fetch, thus still learns every job's final values,
// including those of jobs that came and went between two fetches. Until
// then the queue's job list goes on showing the job (cups_job_tracker.h).

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/cups_event_socket.h"
#include "platform/posix/cups_ipp.h"
#include "platform/posix/cups_job_tracker.h"
#include "platform/spooler.h"

namespace platform::cups {

class CupsChangeNotification final : public ChangeNotification {
 public:
  // Subscribes to the queue's job events; throws SpoolerError.
  CupsChangeNotification(std::string printer, std::uint32_t filter, NotifyOptions options,
                         std::shared_ptr<JobTracker> tracker);
  ~CupsChangeNotification() override;

  WaitResult Wait(std::chrono::milliseconds timeout, std::stop_token stop) override;
  std::uint32_t Next(const NotifyOptions* options, NotifyInfo* info) override;

  // How often Wait() asks the scheduler for new events: every half
  // second, and sooner just after events came, since one event (a job
  // created, a page printed) usually means more are about to follow.
  static constexpr std::chrono::milliseconds kPollInterval{500};
  static constexpr std::chrono::milliseconds kBusyPollInterval{50};
  // With the notifier: how often an idle watcher looks by itself.
  static constexpr std::chrono::milliseconds kCheckInterval{45000};

  // Whether the scheduler signals this watcher through the notifier.
  bool Relayed() const { return relayId_ != 0; }
  // How long a subscription lives unless renewed; it is renewed at half of
  // that, so a process that dies leaves nothing behind for long.
  static constexpr int kLeaseSeconds = 900;

 private:
  bool Pending();

  void Subscribe();
  void RenewIfDue();
  void CancelSubscription(int& id) noexcept;
  void Poll();
  void SubscribeRelay() noexcept;
  void CheckRelay();
  bool Queued();

  std::uint32_t PrinterStatus();
  std::uint32_t QueuedJobCount();
  bool WantsPrinterRecords() const;

  void AddJobRecords(const SpoolJob& job, const SpoolJob* before, std::vector<NotifyData>& out) const;
  void AddPrinterRecords(std::uint32_t status, std::uint32_t jobs, bool all, std::vector<NotifyData>& out);
  std::uint32_t DeletionFetch(bool refresh, NotifyInfo* info);

  Connection connection_;
  std::string printer_;  // Latin-1
  std::string uri_;
  std::uint32_t filter_;
  NotifyOptions options_;

  int subscriptionId_ = 0;
  int nextSequence_ = 1;
  std::chrono::steady_clock::time_point renewAt_;

  // The notifier's subscription (0: none) and the socket it signals.
  std::unique_ptr<EventSocket> events_;
  int relayId_ = 0;
  std::chrono::steady_clock::time_point checkAt_;

  // From events not yet fetched.
  bool dirty_ = false;
  std::chrono::milliseconds interval_ = kPollInterval;
  bool gap_ = false;
  std::uint32_t pendingChanges_ = 0;
  std::uint32_t lastQueued_ = 0;       // jobs in the queue at the last fetch
  std::set<std::uint32_t> created_;    // job-created events
  std::set<std::uint32_t> mentioned_;  // any job event

  // Every job of this queue with an id below this one has been accounted
  // for: it is tracked, or it has been reported as gone, or it was gone
  // before the subscription began.
  std::uint32_t settledBelow_ = 1;
  // Jobs known to be in the queue, and those whose deletion is due.
  std::shared_ptr<JobTracker> tracker_;
  // What has been reported of each job, for fetches without refresh.
  std::map<std::uint32_t, SpoolJob> reported_;

  struct PrinterValues {
    std::uint32_t status = 0;
    std::uint32_t jobs = 0;
  };
  std::optional<PrinterValues> printerReported_;
};

}  // namespace platform::cups
