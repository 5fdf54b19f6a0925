// The real host and engine library monitoring two queues of a private CUPS
// scheduler, with jobs printed through lp: every job that leaves a
// monitored queue, printed or cancelled, ends up once in each of the
// eighteen log files of its scopes, with its name, owner and page count.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "tests/foundation/test_support.h"
#include "tests/support/engine_host.h"
#include "tests/support/private_cupsd.h"
#include "tests/support/read_file.h"
#include "tests/support/time_zone.h"

using common::QuillmarkValue;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr const char* kZone = "CET-1CEST,M3.5.0,M10.5.0/3";

using testing_support::ReadWholeFile;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size())) ++n;
  return n;
}

// The part of an event record after its submitted time.
std::string RecordTail(const std::string& document, int pages, int cost, const std::string& printer,
                       const std::string& user) {
  return "<doc>" + document + "</doc><pages>" + std::to_string(pages) + "</pages><cost>" +
         std::to_string(cost) + "</cost><printer>" + printer + "</printer><user>" + user + "</user></event>";
}

// The start of an event record submitted at `moment`, in the host's zone.
std::string RecordHead(std::time_t moment) {
  testing_support::TimeZone zone(kZone);
  const platform::LocalTime local = platform::ToLocalTime(std::chrono::system_clock::from_time_t(moment));
  char head[160];
  std::snprintf(head, sizeof head,
                "<event><day>%02d</day><month>%02d</month><year>%d</year><hour>%02d</hour><min>%02d</min>",
                local.day, local.month, local.year, local.hour, local.minute);
  return head;
}

class CupsMonitoringRun : public ::testing::Test {
 protected:
  void SetUp() override {
    QM_REQUIRE_PRIVATE_CUPSD(cupsd_);
    app_ = scratch_.Folder() / "app";
    fs::create_directories(app_);
    common::WriteTextFile((app_ / "settings.xml").string(),
                          "<log><printers>"
                          "<name>FrontDesk</name><ID>1</ID><cost>5</cost><monitored>1</monitored>"
                          "<name>BackOffice</name><ID>2</ID><cost>2</cost><monitored>1</monitored>"
                          "<name>Idle</name><ID>3</ID><cost>9</cost><monitored>0</monitored>"
                          "</printers></log>");
    CRegString(QuillmarkValue("AppPath")).Set(app_.string());
    for (const char* queue : {"FrontDesk", "BackOffice", "Idle"}) {
      cupsd_.AddQueue(queue);
      cupsd_.Disable(queue);  // held until released
    }
  }

  // The host on the system's spooler: CUPS_SERVER names ours.
  void StartHost() {
    host_ = std::make_unique<testing_support::EngineHost>(fs::path(QM_APP_DIR) / "quillcore-host",
                                                          scratch_.RegistryRoot(), fs::path());
    host_->SetEnvironment("TZ", kZone);
    ASSERT_TRUE(host_->Start());
  }

  int StopHost() { return host_->Stop(); }

  // A watcher has registered once the queue has a subscription.
  void WaitUntilWatched(const std::string& queue) {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!cupsd_.SubscriptionIds(queue).empty()) return;
      std::this_thread::sleep_for(50ms);
    }
    FAIL() << "no watcher registered on " << queue;
  }

  std::string AllDay() const {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(app_ / "Logs", ec)) {
      if (entry.path().filename().string().rfind("d_", 0) == 0) return ReadWholeFile(entry.path());
    }
    return {};
  }

  bool WaitForRecords(std::size_t count, std::chrono::seconds limit = 30s) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Count(AllDay(), "<event>") >= count) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  // Prints a marker job on `queue` and waits for its record: once it is
  // logged, the queue's watcher has looked again at every job that left
  // before it, so a job logged twice would show.
  void PassMarker(const std::string& queue) {
    const std::string document = "marker-" + std::to_string(markers_++) + ".txt";
    cupsd_.Submit(queue, 1, document, "marker");
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (AllDay().find("<doc>" + document + "</doc>") != std::string::npos) return;
      std::this_thread::sleep_for(50ms);
    }
    FAIL() << "the marker job on " << queue << " was never logged\n" << AllDay();
  }

  // The records in `bytes` other than marker jobs.
  static std::size_t Events(const std::string& bytes) {
    return Count(bytes, "<event>") - Count(bytes, "<doc>marker-");
  }

  // The six period files of a scope folder, named after the day file.
  std::vector<fs::path> PeriodFiles(const fs::path& folder) const {
    std::string stamp, week;
    for (const auto& entry : fs::directory_iterator(app_ / "Logs")) {
      std::string name = entry.path().stem().string();
      if (name.rfind("d_", 0) == 0) stamp = name.substr(2);
      if (name.rfind("w_", 0) == 0) week = name.substr(2, name.find('_', 2) - 2);
    }
    std::string year = stamp.substr(0, 4);
    int month = std::stoi(stamp.substr(4, 2));
    return {
        folder / ("d_" + stamp + ".xml"),
        folder / ("w_" + week + "_" + year + ".xml"),
        folder / ("m_" + stamp.substr(4, 2) + "_" + year + ".xml"),
        folder / ("q_" + std::to_string((month - 1) / 3 + 1) + "_" + year + ".xml"),
        folder / ("s_" + std::string(month <= 6 ? "1" : "2") + "_" + year + ".xml"),
        folder / ("y_" + year + ".xml"),
    };
  }

  PrivateCupsd cupsd_;
  ScratchRegistry scratch_;
  fs::path app_;
  std::unique_ptr<testing_support::EngineHost> host_;
  int markers_ = 0;
};

TEST_F(CupsMonitoringRun, JobsLeavingMonitoredQueuesAreLoggedOnceInTheirEighteenFiles) {
  std::time_t submittedFrom = std::time(nullptr);
  cupsd_.Submit("FrontDesk", 3, "report.pdf", "ann");
  cupsd_.Submit("FrontDesk", 2, "plan & notes.doc", "bob");
  cupsd_.Submit("FrontDesk", 1, "r\xC3\xA9sum\xC3\xA9.txt", "ann");  // UTF-8 from lp
  cupsd_.Submit("BackOffice", 4, "invoice.txt", "ann");
  cupsd_.Submit("BackOffice", 5, "memo.txt", "bob");
  int never = cupsd_.Submit("BackOffice", 6, "never printed.txt", "bob");
  cupsd_.Submit("Idle", 1, "unwatched.txt", "ann");
  std::time_t submittedTo = std::time(nullptr);

  StartHost();
  WaitUntilWatched("FrontDesk");
  WaitUntilWatched("BackOffice");
  EXPECT_TRUE(cupsd_.SubscriptionIds("Idle").empty()) << "an unmonitored queue is not watched";

  cupsd_.Cancel("BackOffice", never);  // deleted before printing
  for (const char* queue : {"FrontDesk", "BackOffice", "Idle"}) cupsd_.Enable(queue);
  ASSERT_TRUE(WaitForRecords(6)) << AllDay() << cupsd_.ErrorLogTail();
  ASSERT_NO_FATAL_FAILURE(PassMarker("FrontDesk"));
  ASSERT_NO_FATAL_FAILURE(PassMarker("BackOffice"));

  const std::string report = RecordTail("report.pdf", 3, 15, "FrontDesk", "ann");
  const std::string plan = RecordTail("plan  notes.doc", 2, 10, "FrontDesk", "bob");
  const std::string resume = RecordTail("r\xE9sum\xE9.txt", 1, 5, "FrontDesk", "ann");  // Latin-1
  const std::string invoice = RecordTail("invoice.txt", 4, 8, "BackOffice", "ann");
  const std::string memo = RecordTail("memo.txt", 5, 10, "BackOffice", "bob");
  const std::string cancelled = RecordTail("never printed.txt", 0, 0, "BackOffice", "bob");
  struct Scope {
    fs::path folder;
    std::vector<std::string> present;
  };
  const std::vector<Scope> scopes = {
      {app_ / "Logs", {report, plan, resume, invoice, memo, cancelled}},
      {app_ / "Logs" / "Users" / "ann", {report, resume, invoice}},
      {app_ / "Logs" / "Users" / "bob", {plan, memo, cancelled}},
      {app_ / "Logs" / "Printers" / "Printer_1", {report, plan, resume}},
      {app_ / "Logs" / "Printers" / "Printer_2", {invoice, memo, cancelled}},
  };
  const std::string headFrom = RecordHead(submittedFrom);
  const std::string headTo = RecordHead(submittedTo);
  for (const Scope& scope : scopes) {
    for (const fs::path& file : PeriodFiles(scope.folder)) {
      ASSERT_TRUE(fs::exists(file)) << file;
      std::string bytes = ReadWholeFile(file);
      EXPECT_EQ(bytes.substr(0, 527), std::string(525, ' ') + "\r\n") << file;
      EXPECT_EQ(Events(bytes), scope.present.size()) << file << bytes;
      for (const auto& record : scope.present) {
        EXPECT_EQ(Count(bytes, record), 1u) << file << "\n" << record << "\n" << bytes;
        EXPECT_TRUE(Count(bytes, headFrom + record) == 1u || Count(bytes, headTo + record) == 1u)
            << "submitted time of " << record << " in " << file << "\n"
            << bytes;
      }
      EXPECT_EQ(Count(bytes, "unwatched.txt"), 0u) << file;
    }
  }
  EXPECT_FALSE(fs::exists(app_ / "Logs" / "Printers" / "Printer_3"));

  // A catalogue reload restarts the watchers: nothing is logged again, and
  // the new watchers log what comes next.
  CRegDword(QuillmarkValue("Reset")).Set(1).Write();
  auto deadline = std::chrono::steady_clock::now() + 45s;
  while (std::chrono::steady_clock::now() < deadline && CRegDword(QuillmarkValue("Reset")).Get() != 0) {
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_EQ(CRegDword(QuillmarkValue("Reset")).Get(), 0u) << "the engine never reloaded";
  WaitUntilWatched("FrontDesk");
  cupsd_.Submit("FrontDesk", 2, "after reset.txt", "bob");
  ASSERT_TRUE(WaitForRecords(7 + markers_)) << AllDay();
  ASSERT_NO_FATAL_FAILURE(PassMarker("FrontDesk"));
  EXPECT_EQ(StopHost(), 0);

  std::string all = AllDay();
  EXPECT_EQ(Events(all), 7u) << all;
  for (const auto& record : scopes.front().present) EXPECT_EQ(Count(all, record), 1u) << record;
  EXPECT_EQ(Count(all, RecordTail("after reset.txt", 2, 10, "FrontDesk", "bob")), 1u) << all;
  EXPECT_TRUE(cupsd_.SubscriptionIds("FrontDesk").empty()) << "the stopped host left a subscription";
}

}  // namespace
