#include "platform/sim/sim_spooler.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "platform/sim/sim_store.h"

namespace platform::sim {

struct SimFaults {
  static constexpr std::size_t kDefaultPendingLimit = 200;

  std::mutex mutex;
  struct Planned {
    std::int32_t code = 0;
    int times = 0;
  };
  std::map<SimCall, Planned> planned;
  std::map<SimCall, std::size_t> calls;
  std::atomic<std::size_t> pendingLimit{kDefaultPendingLimit};

  // Throws when a failure is planned for the call. A failed call counts at
  // once, others when the returned guard goes, that is once the call is
  // over, so that a caller who sees the count knows the call has finished.
  class Counted {
   public:
    Counted(SimFaults& faults, SimCall call) : faults_(faults), call_(call) {}
    ~Counted() {
      std::lock_guard lock(faults_.mutex);
      ++faults_.calls[call_];
    }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

   private:
    SimFaults& faults_;
    SimCall call_;
  };

  [[nodiscard]] std::unique_ptr<Counted> Enter(SimCall call) {
    {
      std::lock_guard lock(mutex);
      auto it = planned.find(call);
      if (it != planned.end() && it->second.times > 0) {
        --it->second.times;
        ++calls[call];
        throw SpoolerError(it->second.code, "simulated failure");
      }
    }
    return std::make_unique<Counted>(*this, call);
  }
};

namespace {

QueueState ReadQueue(Store& store, const std::string& printer) {
  auto queue = store.Read(printer);
  if (!queue) throw SpoolerError(kErrorInvalidHandle, "the printer " + printer + " is gone");
  return std::move(*queue);
}

bool Wanted(const NotifyOptions& options, const NotifyData& record) {
  for (const auto& type : options.types) {
    if (type.type != record.type) continue;
    if (std::find(type.fields.begin(), type.fields.end(), record.field) != type.fields.end()) return true;
  }
  return false;
}

class SimNotification final : public ChangeNotification {
 public:
  SimNotification(std::shared_ptr<Store> store, std::shared_ptr<SimFaults> faults, std::string printer,
                  std::uint32_t filter, NotifyOptions options)
      : store_(std::move(store)),
        faults_(std::move(faults)),
        printer_(std::move(printer)),
        filter_(filter),
        options_(std::move(options)) {
    seen_ = ReadQueue(*store_, printer_).sequence;
  }

  WaitResult Wait(std::chrono::milliseconds timeout, std::stop_token stop) override {
    return store_->WaitFor(
        printer_, [this](const QueueState& queue) { return Signalled(queue); }, timeout, std::move(stop));
  }

  std::uint32_t Next(const NotifyOptions* options, NotifyInfo* info) override {
    auto counted = faults_->Enter(SimCall::kFindNext);
    QueueState queue = ReadQueue(*store_, printer_);
    bool lost = Lost(queue);
    std::uint32_t changes = lost ? (filter_ & kPrinterChangeJob) : 0;
    std::vector<NotifyData> records;
    for (const ChangeEntry& entry : queue.journal) {
      if (entry.sequence <= seen_) continue;
      changes |= entry.changes & filter_;
      for (const NotifyData& record : entry.records) {
        if (Wanted(options_, record)) records.push_back(record);
      }
    }
    if (info) {
      info->version = 2;
      info->flags = 0;
      info->records.clear();
      if (options && (options->flags & kNotifyOptionsRefresh)) {
        info->records = Snapshot(queue);
      } else if (lost || records.size() > faults_->pendingLimit.load()) {
        info->flags = kNotifyInfoDiscarded;
      } else {
        info->records = std::move(records);
      }
    }
    seen_ = queue.sequence;
    return changes;
  }

 private:
  // Changes happened that the journal no longer holds.
  bool Lost(const QueueState& queue) const {
    if (queue.sequence <= seen_) return false;
    return queue.journal.empty() || queue.journal.front().sequence > seen_ + 1;
  }

  bool Signalled(const QueueState& queue) const {
    if (queue.sequence <= seen_) return false;
    if (Lost(queue)) return true;
    return std::any_of(queue.journal.begin(), queue.journal.end(), [&](const ChangeEntry& entry) {
      return entry.sequence > seen_ && (entry.changes & filter_) != 0;
    });
  }

  // Every registered field of every job in the queue, then the printer's.
  std::vector<NotifyData> Snapshot(const QueueState& queue) const {
    std::vector<NotifyData> records;
    for (const auto& type : options_.types) {
      if (type.type != kJobNotifyType) continue;
      for (const SpoolJob& job : queue.jobs) {
        for (std::uint16_t field : type.fields) records.push_back(JobRecord(job, field));
      }
    }
    for (const auto& type : options_.types) {
      if (type.type != kPrinterNotifyType) continue;
      for (std::uint16_t field : type.fields) records.push_back(PrinterRecord(queue, printer_, field));
    }
    return records;
  }

  std::shared_ptr<Store> store_;
  std::shared_ptr<SimFaults> faults_;
  std::string printer_;
  std::uint32_t filter_;
  NotifyOptions options_;
  std::uint64_t seen_ = 0;
};

class SimPrinter final : public SpoolPrinter {
 public:
  SimPrinter(std::shared_ptr<Store> store, std::shared_ptr<SimFaults> faults, std::string name)
      : store_(std::move(store)), faults_(std::move(faults)), name_(std::move(name)) {}

  const std::string& Name() const override { return name_; }

  std::uint32_t JobCount() override {
    auto counted = faults_->Enter(SimCall::kJobCount);
    return static_cast<std::uint32_t>(ReadQueue(*store_, name_).jobs.size());
  }

  std::vector<SpoolJob> EnumJobs(std::uint32_t firstJob, std::uint32_t count) override {
    auto counted = faults_->Enter(SimCall::kEnumJobs);
    QueueState queue = ReadQueue(*store_, name_);
    std::vector<SpoolJob> out;
    for (std::size_t i = firstJob; i < queue.jobs.size() && out.size() < count; ++i)
      out.push_back(queue.jobs[i]);
    return out;
  }

  // The queue's history of ended jobs, oldest first.
  std::vector<SpoolJob> EndedJobs() override {
    auto counted = faults_->Enter(SimCall::kEndedJobs);
    QueueState queue = ReadQueue(*store_, name_);
    return {queue.ended.begin(), queue.ended.end()};
  }

  std::unique_ptr<ChangeNotification> FindFirstChangeNotification(std::uint32_t filter,
                                                                  const NotifyOptions& options) override {
    auto counted = faults_->Enter(SimCall::kFindFirst);
    if (options.version != 2 || (filter == 0 && options.types.empty())) {
      throw SpoolerError(kErrorInvalidParameter, "bad notification options");
    }
    return std::make_unique<SimNotification>(store_, faults_, name_, filter, options);
  }

 private:
  std::shared_ptr<Store> store_;
  std::shared_ptr<SimFaults> faults_;
  std::string name_;
};

}  // namespace

SimSpooler::SimSpooler() : store_(MakeMemoryStore()), faults_(std::make_shared<SimFaults>()) {}

SimSpooler::SimSpooler(std::filesystem::path folder)
    : store_(MakeFolderStore(std::move(folder))), faults_(std::make_shared<SimFaults>()) {}

SimSpooler::~SimSpooler() = default;

std::unique_ptr<SpoolPrinter> SimSpooler::OpenPrinter(std::string_view name) {
  auto counted = faults_->Enter(SimCall::kOpenPrinter);
  auto printer = store_->FindPrinter(name);
  if (!printer) throw SpoolerError(kErrorInvalidPrinterName, "no printer " + std::string(name));
  return std::make_unique<SimPrinter>(store_, faults_, printer->name);
}

std::vector<InstalledPrinter> SimSpooler::EnumPrinters() {
  auto counted = faults_->Enter(SimCall::kEnumPrinters);
  std::vector<InstalledPrinter> out;
  for (const PrinterEntry& entry : store_->Printers()) {
    out.push_back(InstalledPrinter{entry.name, entry.portName, entry.connection});
  }
  return out;
}

std::optional<std::string> SimSpooler::DefaultPrinterName() { return store_->DefaultPrinter(); }

void SimSpooler::AddPrinter(std::string_view name, std::string_view portName, bool connection) {
  if (name.empty()) throw SpoolerError(kErrorInvalidPrinterName, "a printer needs a name");
  store_->AddPrinter(PrinterEntry{std::string(name), std::string(portName), connection});
}

bool SimSpooler::RemovePrinter(std::string_view name) { return store_->RemovePrinter(name); }

void SimSpooler::SetDefaultPrinter(std::string_view name) { store_->SetDefaultPrinter(name); }

void SimSpooler::Edit(std::string_view printer, const std::function<void(SimQueue&)>& edit) {
  auto entry = store_->FindPrinter(printer);
  if (!entry) throw SpoolerError(kErrorInvalidPrinterName, "no printer " + std::string(printer));
  bool found = store_->Update(printer, [&](QueueState& state) {
    SimQueue queue(state, entry->name);
    edit(queue);
  });
  if (!found) throw SpoolerError(kErrorInvalidPrinterName, "no printer " + std::string(printer));
}

std::uint32_t SimSpooler::Submit(std::string_view printer, const SimJobSpec& job) {
  std::uint32_t id = 0;
  Edit(printer, [&](SimQueue& queue) { id = queue.Submit(job); });
  return id;
}

void SimSpooler::SetStatus(std::string_view printer, std::uint32_t jobId, std::uint32_t status) {
  Edit(printer, [&](SimQueue& queue) { queue.SetStatus(jobId, status); });
}

void SimSpooler::SetTotalPages(std::string_view printer, std::uint32_t jobId, std::uint32_t pages) {
  Edit(printer, [&](SimQueue& queue) { queue.SetTotalPages(jobId, pages); });
}

void SimSpooler::AdvancePages(std::string_view printer, std::uint32_t jobId, std::uint32_t pages) {
  Edit(printer, [&](SimQueue& queue) { queue.AdvancePages(jobId, pages); });
}

void SimSpooler::Complete(std::string_view printer, std::uint32_t jobId) {
  Edit(printer, [&](SimQueue& queue) { queue.Complete(jobId); });
}

void SimSpooler::Cancel(std::string_view printer, std::uint32_t jobId) {
  Edit(printer, [&](SimQueue& queue) { queue.Cancel(jobId); });
}

std::vector<SpoolJob> SimSpooler::Jobs(std::string_view printer) {
  auto queue = store_->Read(printer);
  if (!queue) throw SpoolerError(kErrorInvalidPrinterName, "no printer " + std::string(printer));
  return queue->jobs;
}

void SimSpooler::FailNext(SimCall call, std::int32_t code, int times) {
  std::lock_guard lock(faults_->mutex);
  faults_->planned[call] = SimFaults::Planned{code, times};
}

std::size_t SimSpooler::Calls(SimCall call) {
  std::lock_guard lock(faults_->mutex);
  return faults_->calls[call];
}

void SimSpooler::SetPendingLimit(std::size_t records) { faults_->pendingLimit = records; }

}  // namespace platform::sim

namespace platform {

std::unique_ptr<Spooler> MakeFolderSpooler(std::filesystem::path folder) {
  return std::make_unique<sim::SimSpooler>(std::move(folder));
}

}  // namespace platform
