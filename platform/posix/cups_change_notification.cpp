#include "platform/posix/cups_change_notification.h"

#include <algorithm>
#include <climits>
#include <string_view>
#include <utility>

#include "platform/clock.h"
#include "platform/log.h"

namespace platform::cups {

namespace {

// PRINTER_STATUS_* bits for the printer records.
constexpr std::uint32_t kPrinterStatusPaused = 0x00000001;
constexpr std::uint32_t kPrinterStatusPrinting = 0x00000400;

const char* const kEvents[] = {"job-created", "job-state-changed", "job-progress", "job-completed"};

bool HasField(const NotifyOptions& options, std::uint16_t type, std::uint16_t field) {
  for (const auto& t : options.types) {
    if (t.type == type && std::find(t.fields.begin(), t.fields.end(), field) != t.fields.end()) {
      return true;
    }
  }
  return false;
}

}  // namespace

CupsChangeNotification::CupsChangeNotification(std::string printer, std::uint32_t filter,
                                               NotifyOptions options, std::shared_ptr<JobTracker> tracker)
    : printer_(std::move(printer)),
      uri_(PrinterUri(printer_)),
      filter_(filter),
      options_(std::move(options)),
      tracker_(std::move(tracker)) {
  // Subscribe first, then look at the queue: a job that arrives in
  // between is both listed and announced by an event.
  Subscribe();
  events_ = EventSocket::Open();
  SubscribeRelay();
  try {
    Ipp request = Connection::NewRequest(IPP_OP_GET_JOBS, uri_);
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    AddRequestedAttributes(request.get());
    std::lock_guard lock(tracker_->mutex);
    for (CupsJob& job : JobsOf(connection_.Do(std::move(request), kErrorInvalidPrinterName).get())) {
      settledBelow_ = std::max(settledBelow_, job.job.jobId + 1);
      if (!job.Ended()) tracker_->tracked[job.job.jobId] = std::move(job.job);
    }
    lastQueued_ = static_cast<std::uint32_t>(tracker_->tracked.size());
  } catch (...) {
    CancelSubscription(relayId_);
    CancelSubscription(subscriptionId_);
    throw;
  }
}

CupsChangeNotification::~CupsChangeNotification() {
  CancelSubscription(relayId_);
  CancelSubscription(subscriptionId_);
  std::lock_guard lock(tracker_->mutex);
  tracker_->active = false;
  tracker_->tracked.clear();
  tracker_->deletionDue.clear();
}

bool CupsChangeNotification::Pending() {
  if (dirty_) return true;
  std::lock_guard lock(tracker_->mutex);
  return !tracker_->deletionDue.empty();
}

void CupsChangeNotification::Subscribe() {
  Ipp request = Connection::NewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, uri_);
  ippAddString(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr, "ippget");
  ippAddStrings(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                static_cast<int>(std::size(kEvents)), nullptr, kEvents);
  ippAddInteger(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration", kLeaseSeconds);
  Ipp response = connection_.Do(std::move(request), kErrorInvalidPrinterName);
  ipp_attribute_t* id = ippFindAttribute(response.get(), "notify-subscription-id", IPP_TAG_INTEGER);
  if (!id) throw SpoolerError(kErrorNotSupported, "the print server gave no subscription");
  subscriptionId_ = ippGetInteger(id, 0);
  nextSequence_ = 1;
  int lease = kLeaseSeconds;
  if (ipp_attribute_t* l = ippFindAttribute(response.get(), "notify-lease-duration", IPP_TAG_INTEGER)) {
    if (ippGetInteger(l, 0) > 0) lease = std::min(lease, ippGetInteger(l, 0));
  }
  renewAt_ = std::chrono::steady_clock::now() + std::chrono::seconds(lease / 2);
}

void CupsChangeNotification::RenewIfDue() {
  if (std::chrono::steady_clock::now() < renewAt_) return;
  for (int id : {subscriptionId_, relayId_}) {
    if (id == 0) continue;
    Ipp request = Connection::NewRequest(IPP_OP_RENEW_SUBSCRIPTION, uri_);
    ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
    ippAddInteger(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                  kLeaseSeconds);
    connection_.Do(std::move(request), kErrorInvalidHandle);
  }
  LogDebug("CUPS subscriptions of " + printer_ + " renewed");
  renewAt_ = std::chrono::steady_clock::now() + std::chrono::seconds(kLeaseSeconds / 2);
}

void CupsChangeNotification::CancelSubscription(int& id) noexcept {
  if (id == 0) return;
  try {
    Ipp request = Connection::NewRequest(IPP_OP_CANCEL_SUBSCRIPTION, uri_);
    ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
    connection_.Do(std::move(request), kErrorInvalidHandle);
  } catch (const std::exception& e) {
    // The lease ends it anyway.
    LogFailureOnce("CUPS cancel " + printer_, "CUPS subscription of " + printer_ + " left to its lease",
                   Status(StatusCode::kUnavailable, e.what()));
  }
  id = 0;
}

void CupsChangeNotification::SubscribeRelay() noexcept {
  checkAt_ = std::chrono::steady_clock::now() + kCheckInterval;
  if (!events_) return;
  try {
    Ipp request = Connection::NewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, uri_);
    ippAddString(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_URI, "notify-recipient-uri", nullptr,
                 events_->Recipient().c_str());
    ippAddStrings(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                  static_cast<int>(std::size(kEvents)), nullptr, kEvents);
    ippAddInteger(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                  kLeaseSeconds);
    Ipp response = connection_.Do(std::move(request), kErrorInvalidPrinterName);
    if (ipp_attribute_t* id = ippFindAttribute(response.get(), "notify-subscription-id", IPP_TAG_INTEGER)) {
      relayId_ = ippGetInteger(id, 0);
    }
    LogRecovered("CUPS relay " + printer_, "CUPS notifier subscription of " + printer_);
  } catch (const SpoolerError& e) {
    // No notifier installed (the scheduler refuses the scheme), or no
    // scheduler: events are asked for at short intervals, and the
    // notifier tried again at the next check.
    LogFailureOnce("CUPS relay " + printer_,
                   "no CUPS notifier events for " + printer_ + ", asking twice a second instead", e.Status());
    relayId_ = 0;
  }
}

// Where the scheduler refused the notifier's subscription, asks again
// (the notifier may have been installed since).
void CupsChangeNotification::CheckRelay() {
  checkAt_ = std::chrono::steady_clock::now() + kCheckInterval;
  if (events_ && relayId_ == 0) SubscribeRelay();
}

bool CupsChangeNotification::Queued() {
  if (lastQueued_ != 0) return true;
  std::lock_guard lock(tracker_->mutex);
  return !tracker_->tracked.empty();
}

void CupsChangeNotification::Poll() {
  if (subscriptionId_ == 0) {
    Subscribe();
    // Whatever happened while there was no subscription is unknown.
    gap_ = dirty_ = true;
  }
  Ipp response;
  try {
    RenewIfDue();
    Ipp request = Connection::NewRequest(IPP_OP_GET_NOTIFICATIONS, uri_);
    // The notifier's subscription is named too, so that its loss shows
    // here as well; none of its events are wanted (they are the same).
    const int ids[] = {subscriptionId_, relayId_};
    const int sequences[] = {nextSequence_, INT_MAX};
    const int count = relayId_ != 0 ? 2 : 1;
    ippAddIntegers(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids", count, ids);
    ippAddIntegers(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-sequence-numbers", count,
                   sequences);
    ippAddBoolean(request.get(), IPP_TAG_OPERATION, "notify-wait", 0);
    response = connection_.Do(std::move(request), kErrorInvalidHandle);
  } catch (const SpoolerError& e) {
    if (e.code() != kErrorInvalidHandle) throw;
    // A subscription has gone (the scheduler restarted, the lease ran
    // out, someone cancelled it): start both again and treat everything
    // as possibly missed.
    LogDebug("CUPS subscription of " + printer_ + " gone (" + e.what() + "); subscribing again");
    CancelSubscription(relayId_);
    CancelSubscription(subscriptionId_);
    Subscribe();
    gap_ = dirty_ = true;
    SubscribeRelay();
    return;
  }

  // One event per event-notification group.
  int sequence = 0;
  std::uint32_t job = 0;
  std::string event;
  bool first = true;
  auto take = [&] {
    if (sequence == 0) return;
    if (sequence >= nextSequence_) {
      if (first && sequence > nextSequence_) gap_ = true;
      first = false;
      nextSequence_ = sequence + 1;
      dirty_ = true;
      if (job != 0) {
        mentioned_.insert(job);
        if (event == "job-created") {
          created_.insert(job);
          pendingChanges_ |= kPrinterChangeAddJob;
        } else {
          pendingChanges_ |= kPrinterChangeSetJob;
        }
      }
    }
    sequence = 0;
    job = 0;
    event.clear();
  };
  for (ipp_attribute_t* attr = ippFirstAttribute(response.get()); attr;
       attr = ippNextAttribute(response.get())) {
    const char* name = ippGetName(attr);
    if (!name || ippGetGroupTag(attr) != IPP_TAG_EVENT_NOTIFICATION) {
      take();
      continue;
    }
    std::string_view n(name);
    if (n == "notify-sequence-number") {
      sequence = ippGetInteger(attr, 0);
    } else if (n == "notify-job-id") {
      job = static_cast<std::uint32_t>(std::max(0, ippGetInteger(attr, 0)));
    } else if (n == "notify-subscribed-event") {
      if (const char* value = ippGetString(attr, 0, nullptr)) event = value;
    }
  }
  take();
  if (gap_) dirty_ = true;

  if (!dirty_) {
    bool queued;
    {
      std::lock_guard lock(tracker_->mutex);
      queued = !tracker_->tracked.empty();
    }
    if ((queued || lastQueued_ != 0) && QueuedJobCount() != lastQueued_) dirty_ = true;
  }
}

std::uint32_t CupsChangeNotification::QueuedJobCount() {
  Ipp request = Connection::NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, uri_);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "queued-job-count");
  Ipp response = connection_.Do(std::move(request), kErrorInvalidPrinterName);
  ipp_attribute_t* count = ippFindAttribute(response.get(), "queued-job-count", IPP_TAG_INTEGER);
  return count && ippGetInteger(count, 0) > 0 ? static_cast<std::uint32_t>(ippGetInteger(count, 0)) : 0;
}

WaitResult CupsChangeNotification::Wait(std::chrono::milliseconds timeout, std::stop_token stop) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (stop.stop_requested()) return WaitResult::kStopped;
    if (Pending()) return WaitResult::kSignalled;
    // Signals that come from here on are for events the Poll below may
    // not see yet.
    if (events_) events_->Drain();
    std::chrono::milliseconds interval = interval_;
    bool failed = false;
    try {
      if (events_ && std::chrono::steady_clock::now() >= checkAt_) CheckRelay();
      Poll();
      LogRecovered("CUPS poll " + printer_, "asking CUPS for the events of " + printer_);
      // Back to the normal interval by doubling.
      interval_ = std::min(interval_ * 2, kPollInterval);
    } catch (const SpoolerError& e) {
      // A queue that has gone is reported by the next fetch; a scheduler
      // that does not answer is asked again, less often.
      if (e.code() == kErrorInvalidPrinterName) return WaitResult::kSignalled;
      LogFailureOnce("CUPS poll " + printer_, "no events of " + printer_ + " from CUPS, asking again",
                     e.Status());
      interval = kPollInterval * 4;
      failed = true;
    }
    if (Pending()) {
      interval_ = kBusyPollInterval;
      return WaitResult::kSignalled;
    }
    if (Relayed() && !failed) {
      // The notifier wakes this wait; looking by itself is needed only for
      // jobs cancelled silently, and for the next check.
      const auto untilCheck =
          std::chrono::duration_cast<std::chrono::milliseconds>(checkAt_ - std::chrono::steady_clock::now());
      interval =
          std::max(std::chrono::milliseconds(1), Queued() ? std::min(kPollInterval, untilCheck) : untilCheck);
    }
    if (timeout != kInfinite) {
      auto elapsed =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
      if (elapsed >= timeout) return WaitResult::kTimedOut;
      interval = std::min(interval, timeout - elapsed);
    }
    if (Relayed()) {
      if (events_->Wait(interval, stop) == EventSocket::Result::kStopped) return WaitResult::kStopped;
    } else if (!InterruptibleSleep(interval, stop) && stop.stop_requested()) {
      return WaitResult::kStopped;
    }
  }
}

bool CupsChangeNotification::WantsPrinterRecords() const {
  return HasField(options_, kPrinterNotifyType, kPrinterNotifyStatus) ||
         HasField(options_, kPrinterNotifyType, kPrinterNotifyCJobs) ||
         HasField(options_, kPrinterNotifyType, kPrinterNotifyPrinterName);
}

std::uint32_t CupsChangeNotification::PrinterStatus() {
  Ipp request = Connection::NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, uri_);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "printer-state");
  Ipp response = connection_.Do(std::move(request), kErrorInvalidPrinterName);
  ipp_attribute_t* state = ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM);
  switch (state ? ippGetInteger(state, 0) : IPP_PSTATE_IDLE) {
    case IPP_PSTATE_PROCESSING: return kPrinterStatusPrinting;
    case IPP_PSTATE_STOPPED: return kPrinterStatusPaused;
    default: return 0;
  }
}

// The records of the registered job fields, in registration order; with
// `before`, only of those that differ from it.
void CupsChangeNotification::AddJobRecords(const SpoolJob& job, const SpoolJob* before,
                                           std::vector<NotifyData>& out) const {
  for (const auto& type : options_.types) {
    if (type.type != kJobNotifyType) continue;
    for (std::uint16_t field : type.fields) {
      const std::uint32_t id = job.jobId;
      auto text = [&](const std::optional<std::string>& now, const std::optional<std::string>* then) {
        // A value the scheduler withholds stays absent: no record.
        if (now && (!then || *now != **then))
          out.push_back(NotifyData::Text(kJobNotifyType, field, id, *now));
      };
      auto number = [&](std::uint32_t now, const std::uint32_t* then) {
        if (!then || now != *then) out.push_back(NotifyData::Number(kJobNotifyType, field, id, now));
      };
      switch (field) {
        case kJobNotifyUserName: text(job.userName, before ? &before->userName : nullptr); break;
        case kJobNotifyDocument: text(job.document, before ? &before->document : nullptr); break;
        case kJobNotifyStatusString: text(job.statusText, before ? &before->statusText : nullptr); break;
        case kJobNotifyStatus: number(job.status, before ? &before->status : nullptr); break;
        case kJobNotifyTotalPages: number(job.totalPages, before ? &before->totalPages : nullptr); break;
        case kJobNotifyPagesPrinted:
          number(job.pagesPrinted, before ? &before->pagesPrinted : nullptr);
          break;
        case kJobNotifySubmitted:
          if (!before || job.submitted != before->submitted) {
            NotifyData d;
            d.type = kJobNotifyType;
            d.field = field;
            d.id = id;
            d.kind = NotifyData::Kind::kTime;
            d.time = job.submitted;
            out.push_back(std::move(d));
          }
          break;
        default: break;  // not kept by CUPS
      }
    }
  }
}

void CupsChangeNotification::AddPrinterRecords(std::uint32_t status, std::uint32_t jobs, bool all,
                                               std::vector<NotifyData>& out) {
  const PrinterValues* before = all || !printerReported_ ? nullptr : &*printerReported_;
  for (const auto& type : options_.types) {
    if (type.type != kPrinterNotifyType) continue;
    for (std::uint16_t field : type.fields) {
      switch (field) {
        case kPrinterNotifyStatus:
          if (!before || before->status != status)
            out.push_back(NotifyData::Number(kPrinterNotifyType, field, 0, status));
          break;
        case kPrinterNotifyCJobs:
          if (!before || before->jobs != jobs)
            out.push_back(NotifyData::Number(kPrinterNotifyType, field, 0, jobs));
          break;
        case kPrinterNotifyPrinterName:
          if (!before) out.push_back(NotifyData::Text(kPrinterNotifyType, field, 0, printer_));
          break;
        default: break;  // a local queue has no server or share name
      }
    }
  }
  printerReported_ = PrinterValues{status, jobs};
}

// Called with the tracker locked.
std::uint32_t CupsChangeNotification::DeletionFetch(bool refresh, NotifyInfo* info) {
  for (std::uint32_t id : tracker_->deletionDue) {
    tracker_->tracked.erase(id);
    reported_.erase(id);
  }
  tracker_->deletionDue.clear();
  if (info && refresh) {
    std::vector<CupsJob> queue = QueuedJobs(connection_, uri_);
    lastQueued_ = static_cast<std::uint32_t>(queue.size());
    for (const CupsJob& job : queue) AddJobRecords(job.job, nullptr, info->records);
    if (WantsPrinterRecords()) {
      AddPrinterRecords(PrinterStatus(), static_cast<std::uint32_t>(queue.size()), true, info->records);
    }
  }
  return kPrinterChangeDeleteJob & filter_;
}

std::uint32_t CupsChangeNotification::Next(const NotifyOptions* options, NotifyInfo* info) {
  const bool refresh = options && (options->flags & kNotifyOptionsRefresh);
  if (info) {
    info->version = 2;
    info->flags = 0;
    info->records.clear();
  }
  std::lock_guard lock(tracker_->mutex);
  auto& tracked = tracker_->tracked;
  if (!tracker_->deletionDue.empty()) return DeletionFetch(refresh, info);

  Poll();
  std::vector<CupsJob> queue = QueuedJobs(connection_, uri_);
  lastQueued_ = static_cast<std::uint32_t>(queue.size());
  std::set<std::uint32_t> queued;
  for (const CupsJob& job : queue) queued.insert(job.job.jobId);

  // Jobs that have left the queue since the previous fetch: those tracked,
  // those the events name (new ones, or ones above every settled id), and
  // after lost events those ended above the settled ids.
  std::set<std::uint32_t> gone;
  for (const auto& [id, job] : tracked) gone.insert(id);
  gone.insert(created_.begin(), created_.end());
  for (std::uint32_t id : mentioned_) {
    if (id >= settledBelow_) gone.insert(id);
  }
  for (std::uint32_t id : queued) gone.erase(id);

  std::map<std::uint32_t, SpoolJob> ended;
  for (std::uint32_t id : gone) {
    if (std::optional<CupsJob> job = JobById(connection_, uri_, id)) {
      if (!job->Ended()) job->job.status |= kJobStatusDeleted;  // moved to another queue
      ended[id] = std::move(job->job);
    } else {
      // Purged from the history already: its last known values.
      SpoolJob last;
      if (auto t = tracked.find(id); t != tracked.end()) last = t->second;
      last.jobId = id;
      last.status = kJobStatusDeleted;
      if (last.totalPages == 0) last.totalPages = last.pagesPrinted;
      ended[id] = std::move(last);
    }
  }
  if (gap_) {
    for (CupsJob& job : EndedJobsFrom(connection_, uri_, settledBelow_)) {
      if (!queued.count(job.job.jobId) && !ended.count(job.job.jobId)) {
        ended[job.job.jobId] = std::move(job.job);
      }
    }
    gap_ = false;
  }

  std::uint32_t changes = pendingChanges_;
  for (const auto& [id, job] : ended) {
    changes |= kPrinterChangeSetJob;
    if (!tracked.count(id) && !reported_.count(id)) changes |= kPrinterChangeAddJob;
  }
  for (const CupsJob& job : queue) tracked[job.job.jobId] = job.job;
  for (const auto& [id, job] : ended) tracked[id] = job;

  if (info) {
    for (const CupsJob& job : queue) {
      const SpoolJob* before = nullptr;
      if (!refresh) {
        if (auto r = reported_.find(job.job.jobId); r != reported_.end()) before = &r->second;
      }
      AddJobRecords(job.job, before, info->records);
    }
    for (const auto& [id, job] : ended) AddJobRecords(job, nullptr, info->records);
    if (WantsPrinterRecords()) {
      AddPrinterRecords(PrinterStatus(), static_cast<std::uint32_t>(queue.size()), refresh, info->records);
    }
  }
  if (!refresh) {
    for (const CupsJob& job : queue) reported_[job.job.jobId] = job.job;
  }

  // Every id up to the highest seen is now accounted for.
  std::uint32_t highest = settledBelow_ - 1;
  for (std::uint32_t id : queued) highest = std::max(highest, id);
  for (const auto& [id, job] : ended) highest = std::max(highest, id);
  for (std::uint32_t id : mentioned_) highest = std::max(highest, id);
  settledBelow_ = highest + 1;

  for (const auto& [id, job] : ended) {
    if (filter_ & kPrinterChangeDeleteJob) {
      tracker_->deletionDue.push_back(id);
    } else {
      tracked.erase(id);
      reported_.erase(id);
    }
  }
  dirty_ = false;
  pendingChanges_ = 0;
  created_.clear();
  mentioned_.clear();
  return changes & filter_;
}

}  // namespace platform::cups
