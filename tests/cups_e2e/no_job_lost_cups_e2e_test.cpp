// The real host on a private CUPS scheduler: jobs printed with lp while the
// host is killed with -9 and restarted and the catalogue reloaded over and
// over; every job the queue completed is logged exactly once with the
// pages the printer reported, copies included.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "engine/job_mark.h"
#include "tests/foundation/test_support.h"
#include "tests/support/engine_host.h"
#include "tests/support/private_cupsd.h"

using common::QuillmarkValue;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class CupsNoJobLost : public ::testing::Test {
 protected:
  void SetUp() override {
    QM_REQUIRE_PRIVATE_CUPSD(cupsd_);
    fs::create_directories(app_);
    common::WriteTextFile(
        (app_ / "settings.xml").string(),
        "<log><printers><name>FrontDesk</name><ID>1</ID><cost>1</cost><monitored>1</monitored>"
        "</printers></log>");
    CRegString(QuillmarkValue("AppPath")).Set(app_.string());
    cupsd_.AddQueue("FrontDesk");
  }

  bool WaitCaughtUp(std::chrono::system_clock::time_point since) {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      auto mark = engine::ParseJobMark(ReadTextFile((app_ / "Logs" / "Marks" / "FrontDesk.mark").string()));
      if (mark && mark->updated >= since) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  // The ids of the jobs the queue has completed or cancelled.
  std::vector<int> EndedJobIds() {
    std::vector<int> ids;
    std::string list = cupsd_.JobList("FrontDesk", "completed");
    for (std::size_t p = list.find("FrontDesk-"); p != std::string::npos;
         p = list.find("FrontDesk-", p + 1)) {
      ids.push_back(std::stoi(list.substr(p + 10)));
    }
    return ids;
  }

  std::string DayFile() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(app_ / "Logs", ec)) {
      if (entry.path().filename().string().rfind("d_", 0) == 0)
        return testing_support::ReadWholeFile(entry.path());
    }
    return {};
  }

  // The bytes around `text` in `bytes`, from the record before to the one after.
  static std::string RecordAround(const std::string& bytes, const std::string& text) {
    const std::size_t at = bytes.find(text);
    if (at == std::string::npos) return "(absent)";
    const std::size_t from = at < 300 ? 0 : at - 300;
    return bytes.substr(from, 600);
  }

  PrivateCupsd cupsd_;
  ScratchRegistry scratch_;
  fs::path app_ = scratch_.Folder() / "app";
  testing_support::EngineHost host_{fs::path(QM_APP_DIR) / "quillcore-host", scratch_.RegistryRoot(), {}};
};

}  // namespace

TEST_F(CupsNoJobLost, KillsAndReloadsWithJobsFlowingLoseNothingAndRepeatNothing) {
  ASSERT_TRUE(host_.Start());
  ASSERT_TRUE(WaitCaughtUp({}));

  std::mutex mutex;
  std::map<int, std::string> titles;  // job id -> title
  std::map<std::string, int> pages;
  std::atomic<bool> feeding{true};
  std::jthread feeder([&] {
    for (int n = 0; feeding; ++n) {
      const std::string title = "job-" + std::to_string(n);
      const int lines = 1 + n % 3;
      const bool copies = n % 4 == 3;
      int id = 0;
      try {
        id = cupsd_.Submit("FrontDesk", lines, title, "ann", copies ? "-n 2" : "");
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        return;
      }
      if (n % 7 == 6) {
        try {
          cupsd_.Cancel("FrontDesk", id);
        } catch (const std::exception&) {
          // It had printed already.
        }
      }
      std::lock_guard lock(mutex);
      titles[id] = title;
      pages[title] = n % 7 == 6 ? -1 : lines * (copies ? 2 : 1);
    }
  });
  for (int round = 0; round < 2; ++round) {
    std::this_thread::sleep_for(1500ms);
    host_.Kill();
    std::this_thread::sleep_for(1000ms);  // jobs end while no engine runs
    ASSERT_TRUE(host_.Start());
    for (int reset = 0; reset < 3; ++reset) {
      std::this_thread::sleep_for(300ms);
      CRegDword(QuillmarkValue("Reset")).Set(1).Write();
    }
  }
  std::this_thread::sleep_for(500ms);
  feeding = false;
  feeder.join();
  ASSERT_TRUE(cupsd_.WaitIdle("FrontDesk"));

  std::vector<int> ended = EndedJobIds();
  ASSERT_EQ(ended.size(), titles.size());
  auto deadline = std::chrono::steady_clock::now() + 30s;
  auto allLogged = [&] {
    auto logged = testing_support::LoggedDocuments(app_);
    for (const auto& [id, title] : titles) {
      if (!logged.count(title)) return false;
    }
    return true;
  };
  while (!allLogged() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
  std::this_thread::sleep_for(1500ms);  // time for a second record to show
  EXPECT_EQ(host_.Stop(), 0);

  auto logged = testing_support::LoggedDocuments(app_);
  const std::string day = DayFile();
  int lost = 0, twice = 0;
  for (const auto& [id, title] : titles) {
    if (logged[title] == 0) ++lost;
    if (logged[title] > 1) ++twice;
    if (logged[title] != 1)
      ADD_FAILURE() << title << " (job " << id << ") logged " << logged[title] << " times";
  }
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(twice, 0);
  EXPECT_EQ(logged.size(), titles.size());
  if (lost || twice) {
    ADD_FAILURE() << "mark:\n"
                  << ReadTextFile((app_ / "Logs" / "Marks" / "FrontDesk.mark").string()) << "\nended jobs:\n"
                  << cupsd_.JobList("FrontDesk", "completed");
    std::error_code ec;  // kept with the scheduler's logs (QUILLMARK_KEEP_CUPSD)
    fs::copy(app_ / "Logs", cupsd_.Folder() / "engine-logs", fs::copy_options::recursive, ec);
  }
  // Printed jobs with the pages the printer reported, copies included (a
  // cancelled one may have printed some or none).
  for (const auto& [title, count] : pages) {
    if (count < 0) continue;
    std::string record = "<doc>" + title + "</doc><pages>" + std::to_string(count) + "</pages>";
    EXPECT_NE(day.find(record), std::string::npos) << record;
  }
}

TEST_F(CupsNoJobLost, FifteenReloadsWithJobsFlowingLoseNothing) {
  ASSERT_TRUE(host_.Start());
  ASSERT_TRUE(WaitCaughtUp({}));
  std::vector<std::string> titles;
  std::mutex mutex;
  std::atomic<bool> feeding{true};
  std::jthread feeder([&] {
    for (int n = 0; feeding; ++n) {
      const std::string title = "reload-" + std::to_string(n);
      try {
        cupsd_.Submit("FrontDesk", 1, title, "bob");
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        return;
      }
      std::lock_guard lock(mutex);
      titles.push_back(title);
      std::this_thread::sleep_for(50ms);
    }
  });
  for (int reset = 0; reset < 15; ++reset) {
    std::this_thread::sleep_for(300ms);
    CRegDword(QuillmarkValue("Reset")).Set(1).Write();
  }
  feeding = false;
  feeder.join();
  ASSERT_TRUE(cupsd_.WaitIdle("FrontDesk"));
  ASSERT_EQ(EndedJobIds().size(), titles.size());
  auto deadline = std::chrono::steady_clock::now() + 30s;
  while (testing_support::LoggedDocuments(app_).size() < titles.size() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(host_.Stop(), 0);
  auto logged = testing_support::LoggedDocuments(app_);
  for (const auto& title : titles) EXPECT_EQ(logged[title], 1) << title;
  EXPECT_EQ(logged.size(), titles.size());
}

TEST_F(CupsNoJobLost, JobsEndingWhileMonitoringIsOffAreNotLoggedTheOthersAre) {
  ASSERT_TRUE(host_.Start());
  ASSERT_TRUE(WaitCaughtUp({}));
  auto paused = [&] {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
      auto mark = engine::ParseJobMark(ReadTextFile((app_ / "Logs" / "Marks" / "FrontDesk.mark").string()));
      if (mark && mark->paused) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  };
  std::vector<std::string> expected;
  for (int round = 0; round < 2; ++round) {
    const std::string r = std::to_string(round);
    cupsd_.Submit("FrontDesk", 2, "before off " + r, "ann");
    ASSERT_TRUE(cupsd_.WaitIdle("FrontDesk"));
    CRegDword(QuillmarkValue("Monitoring")).Set(0);
    ASSERT_TRUE(paused()) << "monitoring did not stop within seconds";
    std::this_thread::sleep_for(1100ms);  // the scheduler keeps whole seconds
    cupsd_.Submit("FrontDesk", 1, "while off " + r, "ann");
    ASSERT_TRUE(cupsd_.WaitIdle("FrontDesk"));
    std::this_thread::sleep_for(1100ms);
    CRegDword(QuillmarkValue("Monitoring")).Set(1);
    cupsd_.Submit("FrontDesk", 3, "after on " + r, "ann");  // likely before the watcher is back
    expected.push_back("before off " + r);
    expected.push_back("after on " + r);
  }
  ASSERT_TRUE(cupsd_.WaitIdle("FrontDesk"));
  auto deadline = std::chrono::steady_clock::now() + 20s;
  while (testing_support::LoggedDocuments(app_).size() < expected.size() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(host_.Stop(), 0);
  auto logged = testing_support::LoggedDocuments(app_);
  for (const auto& title : expected) EXPECT_EQ(logged[title], 1) << title;
  EXPECT_EQ(logged.size(), expected.size()) << ::testing::PrintToString(logged);
}

TEST_F(CupsNoJobLost, CopiesCountInThePages) {
  ASSERT_TRUE(host_.Start());
  ASSERT_TRUE(WaitCaughtUp({}));
  cupsd_.Submit("FrontDesk", 2, "three copies", "ann", "-n 3");
  cupsd_.Submit("FrontDesk", 4, "one copy", "ann");
  ASSERT_TRUE(cupsd_.WaitIdle("FrontDesk"));
  auto deadline = std::chrono::steady_clock::now() + 20s;
  while (testing_support::LoggedDocuments(app_).size() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(host_.Stop(), 0);
  const std::string day = DayFile();
  EXPECT_NE(day.find("<doc>three copies</doc><pages>6</pages><cost>6</cost>"), std::string::npos) << day;
  EXPECT_NE(day.find("<doc>one copy</doc><pages>4</pages><cost>4</cost>"), std::string::npos) << day;
}

// A burst of 200 jobs submitted as fast as four lp at a time go, with a
// kill -9 in the middle: each is logged once, with its pages.
TEST_F(CupsNoJobLost, ABurstOfTwoHundredJobsWithAKillIsLoggedOnceEach) {
  ASSERT_TRUE(host_.Start());
  ASSERT_TRUE(WaitCaughtUp({}));
  std::map<std::string, int> pages;
  for (int n = 0; n < 200; ++n) pages["burst-" + std::to_string(n)] = 1 + n % 2;
  std::atomic<int> submitted{0};
  {
    std::vector<std::jthread> submitters;
    for (int t = 0; t < 4; ++t) {
      submitters.emplace_back([&, t] {
        for (int n = t; n < 200; n += 4) {
          try {
            cupsd_.Submit("FrontDesk", 1 + n % 2, "burst-" + std::to_string(n), "ann");
          } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            return;
          }
          ++submitted;
        }
      });
    }
    auto until = [&](int count) {
      auto deadline = std::chrono::steady_clock::now() + 60s;
      while (submitted < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    };
    until(100);
    host_.Kill();
    until(130);
    ASSERT_TRUE(host_.Start());
  }
  ASSERT_TRUE(cupsd_.WaitIdle("FrontDesk"));
  ASSERT_EQ(EndedJobIds().size(), pages.size());
  auto deadline = std::chrono::steady_clock::now() + 60s;
  while (testing_support::LoggedDocuments(app_).size() < pages.size() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  std::this_thread::sleep_for(1500ms);  // time for a second record to show
  EXPECT_EQ(host_.Stop(), 0);
  auto logged = testing_support::LoggedDocuments(app_);
  EXPECT_EQ(logged.size(), pages.size());
  const std::string day = DayFile();
  for (const auto& [title, count] : pages) {
    EXPECT_EQ(logged[title], 1) << title;
    EXPECT_NE(day.find("<doc>" + title + "</doc><pages>" + std::to_string(count) + "</pages>"),
              std::string::npos)
        << title << " logged as: " << RecordAround(day, "<doc>" + title + "</doc>");
  }
}
