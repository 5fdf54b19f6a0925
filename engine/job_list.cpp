#include "engine/job_list.h"

#include <algorithm>
#include <new>

#include "engine/eprinter.h"
#include "engine/submitted_time.h"

namespace engine {

namespace {

constexpr const char* kRefreshFailed = "Couldn't refresh the printer queue";

}  // namespace

std::optional<std::size_t> JobList::Find(std::uint32_t jobId) const {
  for (std::size_t i = 0; i < jobs_.size(); ++i) {
    if (jobs_[i].jobId == jobId) return i;
  }
  return std::nullopt;
}

void JobList::Append(PrintJob job) {
  try {
    jobs_.push_back(std::move(job));
  } catch (const std::bad_alloc&) {
    throw EPrinter(platform::kErrorNotEnoughMemory, "Couldn't allocate memory for the printer queue");
  }
}

void JobList::Add(const platform::SpoolJob& job) {
  PrintJob copy;
  try {
    copy = PrintJob::FromSpooler(job);
  } catch (const std::bad_alloc&) {
    throw EPrinter(platform::kErrorNotEnoughMemory, "Couldn't create new job");
  }
  Append(std::move(copy));
}

void JobList::AddBlank(std::uint32_t jobId) { Append(PrintJob::Blank(jobId)); }

void JobList::Apply(const platform::NotifyData& record) {
  using Kind = platform::NotifyData::Kind;
  if (record.type != platform::kJobNotifyType) return;
  if (Retired(record.id)) return;
  auto index = Find(record.id);
  if (!index) {
    AddBlank(record.id);
    index = Find(record.id);
  }
  PrintJob& job = jobs_[*index];
  auto copyText = [&](std::optional<std::string>& target) {
    if (record.kind != Kind::kText) return;
    try {
      target = record.text;
    } catch (const std::bad_alloc&) {
      throw EPrinter(platform::kErrorNotEnoughMemory, "Couldn't create new job");
    }
  };
  auto number = [&](std::uint32_t& target) {
    if (record.kind == Kind::kNumber) target = record.number[0];
  };
  switch (record.field) {
    case platform::kJobNotifyUserName: copyText(job.userName); break;
    case platform::kJobNotifyStatus: number(job.status); break;
    case platform::kJobNotifyStatusString: copyText(job.statusText); break;
    case platform::kJobNotifyDocument: copyText(job.document); break;
    case platform::kJobNotifySubmitted:
      if (record.kind == Kind::kTime) job.submitted = UtcToLocalTime(record.time);
      break;
    case platform::kJobNotifyTotalPages: number(job.totalPages); break;
    case platform::kJobNotifyPagesPrinted: number(job.pagesPrinted); break;
    default: break;
  }
}

std::size_t JobList::Refresh(platform::SpoolPrinter* printer, int keep) {
  if (keep == 0) jobs_.clear();
  if (!printer) throw EPrinter(87, kRefreshFailed);

  std::vector<platform::SpoolJob> queue;
  try {
    // The count is only a hint: jobs may arrive between the two calls, so
    // ask for more and again for still more until the answer has room left.
    std::uint32_t room = printer->JobCount() + 8;
    for (;;) {
      queue = printer->EnumJobs(0, room);
      if (queue.size() < room) break;
      room *= 2;
    }
  } catch (const platform::SpoolerError& e) {
    throw EPrinter(e.code(), kRefreshFailed, e.Status());
  } catch (const std::bad_alloc&) {
    throw EPrinter(platform::kErrorNotEnoughMemory, kRefreshFailed);
  }

  for (const auto& job : queue) {
    if (!Retired(job.jobId) && !Find(job.jobId)) Add(job);
  }
  for (PrintJob& job : jobs_) {
    bool listed = std::any_of(queue.begin(), queue.end(),
                              [&](const platform::SpoolJob& q) { return q.jobId == job.jobId; });
    if (!listed) job.status = JobFinished;
  }
  return queue.size();
}

void JobList::Remove(std::uint32_t jobId) {
  auto index = Find(jobId);
  if (!index) return;
  if (*index + 1 != jobs_.size()) jobs_[*index] = std::move(jobs_.back());
  jobs_.pop_back();
}

void JobList::Retire(std::uint32_t jobId) {
  Remove(jobId);
  if (retiredSet_.insert(jobId).second) {
    retiredOrder_.push_back(jobId);
    if (retiredOrder_.size() > kRetiredMemory) {
      retiredSet_.erase(retiredOrder_.front());
      retiredOrder_.pop_front();
    }
  }
}

PrintJob& JobList::At(std::size_t index) {
  if (index >= jobs_.size()) throw EPrinter(84, "Index must be less than the jobs number");
  return jobs_[index];
}

}  // namespace engine
