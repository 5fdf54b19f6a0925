#pragma once

// Shared by the CUPS spooler tests: one private scheduler per test program
// (libcups remembers the server per thread, so a program keeps one), queue
// names of their own per test, and a recorder of notification fetches.

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/spooler.h"
#include "tests/support/private_cupsd.h"

inline PrivateCupsd& SharedCupsd() {
  static PrivateCupsd cupsd;
  return cupsd;
}

class CupsSpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QM_REQUIRE_PRIVATE_CUPSD(SharedCupsd());
    spooler_ = platform::MakeCupsSpooler();
  }

  PrivateCupsd& Cupsd() { return SharedCupsd(); }
  platform::Spooler& Spooler() { return *spooler_; }

  // A new queue named after the running test.
  std::string NewQueue(double secondsPerPage = 0) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("q_") + info->name() + "_" + std::to_string(++queues_);
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = '_';
    }
    Cupsd().AddQueue(name, secondsPerPage);
    return name;
  }

 private:
  std::unique_ptr<platform::Spooler> spooler_;
  int queues_ = 0;
};

// The registration the engine's watcher makes.
inline platform::NotifyOptions WatcherOptions(bool refresh) {
  platform::NotifyOptions options;
  options.flags = refresh ? platform::kNotifyOptionsRefresh : 0;
  options.types.push_back(
      {platform::kJobNotifyType,
       {platform::kJobNotifyStatus, platform::kJobNotifyStatusString, platform::kJobNotifyDocument,
        platform::kJobNotifyUserName, platform::kJobNotifyTotalPages, platform::kJobNotifyPagesPrinted,
        platform::kJobNotifySubmitted}});
  options.types.push_back(
      {platform::kPrinterNotifyType,
       {platform::kPrinterNotifyStatus, platform::kPrinterNotifyCJobs, platform::kPrinterNotifyPrinterName,
        platform::kPrinterNotifyServerName, platform::kPrinterNotifyShareName}});
  return options;
}

// One fetch as the caller saw it.
struct Fetch {
  std::uint32_t changes = 0;
  platform::NotifyInfo info;
};

// The records of one job in a fetch, by field.
inline std::map<std::uint16_t, platform::NotifyData> JobFields(const Fetch& fetch, std::uint32_t id) {
  std::map<std::uint16_t, platform::NotifyData> fields;
  for (const auto& r : fetch.info.records) {
    if (r.type == platform::kJobNotifyType && r.id == id) fields[r.field] = r;
  }
  return fields;
}

// Waits and fetches until `done` says so, or `limit` passes; returns every
// fetch made.
template <typename Done>
std::vector<Fetch> FetchUntil(platform::ChangeNotification& notification,
                              const platform::NotifyOptions& options, Done done,
                              std::chrono::seconds limit = std::chrono::seconds(30)) {
  std::vector<Fetch> fetches;
  auto until = std::chrono::steady_clock::now() + limit;
  std::stop_source never;
  while (std::chrono::steady_clock::now() < until) {
    auto result = notification.Wait(std::chrono::milliseconds(1000), never.get_token());
    if (result != platform::WaitResult::kSignalled) continue;
    Fetch fetch;
    fetch.changes = notification.Next(&options, &fetch.info);
    if (std::getenv("QUILLMARK_DEBUG_FETCH")) {
      std::fprintf(stderr, "fetch %#x:", fetch.changes);
      for (const auto& r : fetch.info.records) {
        if (r.type == platform::kJobNotifyType)
          std::fprintf(stderr, " %u/%#x=%u", r.id, r.field, r.number[0]);
      }
      std::fprintf(stderr, "\n");
    }
    fetches.push_back(std::move(fetch));
    if (done(fetches)) break;
  }
  return fetches;
}

// A copy of a queue kept the way the engine's watcher keeps it: records of
// a fetch are applied unless the fetch reports a deletion; a deletion
// refreshes the copy from the job list, and the jobs no longer listed are
// finished.
class QueueCopy {
 public:
  struct Job {
    std::optional<std::string> document, user;
    std::uint32_t status = 0, totalPages = 0, pagesPrinted = 0;
    platform::SpoolTime submitted;
  };

  // Returns the jobs that finished with this fetch.
  std::map<std::uint32_t, Job> Take(const Fetch& fetch, platform::SpoolPrinter& printer) {
    std::map<std::uint32_t, Job> finished;
    if (fetch.changes & platform::kPrinterChangeDeleteJob) {
      auto listed = printer.EnumJobs(0, printer.JobCount());
      std::map<std::uint32_t, bool> present;
      for (const auto& job : listed) {
        present[job.jobId] = true;
        if (!jobs_.count(job.jobId)) {
          Job j;
          j.document = job.document;
          j.user = job.userName;
          j.status = job.status;
          j.totalPages = job.totalPages;
          j.pagesPrinted = job.pagesPrinted;
          j.submitted = job.submitted;
          jobs_[job.jobId] = j;
        }
      }
      for (auto it = jobs_.begin(); it != jobs_.end();) {
        if (!present.count(it->first)) {
          finished[it->first] = it->second;
          it = jobs_.erase(it);
        } else {
          ++it;
        }
      }
      return finished;
    }
    for (const auto& r : fetch.info.records) {
      if (r.type != platform::kJobNotifyType) continue;
      Job& j = jobs_[r.id];
      switch (r.field) {
        case platform::kJobNotifyDocument: j.document = r.text; break;
        case platform::kJobNotifyUserName: j.user = r.text; break;
        case platform::kJobNotifyStatus: j.status = r.number[0]; break;
        case platform::kJobNotifyTotalPages: j.totalPages = r.number[0]; break;
        case platform::kJobNotifyPagesPrinted: j.pagesPrinted = r.number[0]; break;
        case platform::kJobNotifySubmitted: j.submitted = r.time; break;
        default: break;
      }
    }
    return finished;
  }

  const std::map<std::uint32_t, Job>& Jobs() const { return jobs_; }

 private:
  std::map<std::uint32_t, Job> jobs_;
};
