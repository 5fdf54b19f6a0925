// The real host on a simulated spooler, with jobs ending all the while:
// through kill -9 and restarts, catalogue reloads and monitoring switched
// off and on, every job that ends while monitoring is on is logged exactly
// once, and none that ends while it is off.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "engine/job_mark.h"
#include "platform/sim/sim_spooler.h"
#include "tests/foundation/test_support.h"
#include "tests/support/engine_host.h"

using common::QuillmarkValue;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPrinter = "Front Desk";

class NoJobLost : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(app_);
    common::WriteTextFile(
        (app_ / "settings.xml").string(),
        "<log><printers><name>Front Desk</name><ID>1</ID><cost>1</cost><monitored>1</monitored>"
        "</printers></log>");
    CRegString(QuillmarkValue("AppPath")).Set(app_.string());
    sim_.AddPrinter(kPrinter);
  }

  std::optional<engine::JobMark> Mark() {
    return engine::ParseJobMark(ReadTextFile((app_ / "Logs" / "Marks" / "Front Desk.mark").string()));
  }

  // Waits until a watcher has caught up after `since`.
  bool WaitCaughtUp(std::chrono::system_clock::time_point since) {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      auto mark = Mark();
      if (mark && mark->updated >= since && !mark->paused) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // Waits until the watcher has been stopped for a switch made at `since`
  // (a pause left over from an earlier switch does not count).
  bool WaitPaused(std::chrono::system_clock::time_point since) {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      auto mark = Mark();
      if (mark && mark->paused && *mark->paused >= since - 50ms) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  bool WaitLogged(const std::vector<std::string>& documents) {
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
      auto logged = testing_support::LoggedDocuments(app_);
      bool all = true;
      for (const auto& d : documents) all = all && logged.count(d);
      if (all) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  void Print(const std::string& document, bool cancel = false) {
    sim_.Edit(kPrinter, [&](platform::sim::SimQueue& q) {
      platform::sim::SimJobSpec spec;
      spec.document = document;
      spec.userName = "ann";
      spec.totalPages = 2;
      std::uint32_t id = q.Submit(spec);
      if (cancel) {
        q.Cancel(id);
      } else {
        q.Complete(id);
      }
    });
  }

  ScratchRegistry scratch_;
  fs::path app_ = scratch_.Folder() / "app";
  fs::path spool_ = scratch_.Folder() / "spool";
  platform::sim::SimSpooler sim_{spool_};
  testing_support::EngineHost host_{fs::path(QM_APP_DIR) / "quillcore-host", scratch_.RegistryRoot(), spool_};
};

}  // namespace

TEST_F(NoJobLost, KillsRestartsAndReloadsLoseNothingAndRepeatNothing) {
  ASSERT_TRUE(host_.Start());
  ASSERT_TRUE(WaitCaughtUp({}));

  std::atomic<bool> feeding{true};
  std::atomic<int> printed{0};
  std::jthread feeder([&] {
    while (feeding) {
      int n = printed;
      Print("job-" + std::to_string(n), n % 5 == 4);
      printed = n + 1;
      std::this_thread::sleep_for(15ms);
    }
  });
  for (int round = 0; round < 3; ++round) {
    std::this_thread::sleep_for(400ms);
    host_.Kill();
    std::this_thread::sleep_for(300ms);  // jobs end while no engine runs
    ASSERT_TRUE(host_.Start());
    for (int reset = 0; reset < 3; ++reset) {
      std::this_thread::sleep_for(150ms);
      CRegDword(QuillmarkValue("Reset")).Set(1).Write();
    }
  }
  std::this_thread::sleep_for(300ms);
  feeding = false;
  feeder.join();

  std::vector<std::string> all;
  for (int i = 0; i < printed; ++i) all.push_back("job-" + std::to_string(i));
  ASSERT_GT(all.size(), 50u);
  EXPECT_TRUE(WaitLogged(all));
  std::this_thread::sleep_for(1500ms);  // time for a second record to show
  EXPECT_EQ(host_.Stop(), 0);

  auto logged = testing_support::LoggedDocuments(app_);
  int lost = 0, twice = 0;
  for (const auto& d : all) {
    if (logged[d] == 0) ++lost;
    if (logged[d] > 1) ++twice;
  }
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(twice, 0);
  EXPECT_EQ(logged.size(), all.size()) << "nothing else is logged";
}

TEST_F(NoJobLost, JobsEndingWhileMonitoringIsOffAreNeverLoggedTheOthersOnce) {
  ASSERT_TRUE(host_.Start());
  ASSERT_TRUE(WaitCaughtUp({}));
  std::vector<std::string> expected;
  for (int round = 0; round < 2; ++round) {
    const std::string r = std::to_string(round);
    Print("before off " + r);
    const auto off = std::chrono::system_clock::now();
    CRegDword(QuillmarkValue("Monitoring")).Set(0);
    auto switched = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitPaused(off));
    EXPECT_LT(std::chrono::steady_clock::now() - switched, 1s) << "monitoring stopped late";
    std::this_thread::sleep_for(100ms);  // clearly after the switch
    Print("while off " + r);
    Print("cancelled while off " + r, true);
    std::this_thread::sleep_for(50ms);  // registry change times are a clock tick coarse
    CRegDword(QuillmarkValue("Monitoring")).Set(1);
    std::this_thread::sleep_for(5ms);
    Print("after on " + r);  // most likely before the watcher is back
    expected.push_back("before off " + r);
    expected.push_back("after on " + r);
    ASSERT_TRUE(WaitLogged(expected)) << ::testing::PrintToString(testing_support::LoggedDocuments(app_));
  }
  Print("marker");
  expected.push_back("marker");
  ASSERT_TRUE(WaitLogged(expected));
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(host_.Stop(), 0);

  auto logged = testing_support::LoggedDocuments(app_);
  for (const auto& d : expected) EXPECT_EQ(logged[d], 1) << d;
  EXPECT_EQ(logged.size(), expected.size()) << ::testing::PrintToString(logged);
}
