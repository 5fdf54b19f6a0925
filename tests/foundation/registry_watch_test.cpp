// Watching registry values: the file-backed store wakes a waiter as soon as
// a watched value is written (and not for other values), a stop ends the
// wait at once, and polling stands in where the key does not exist yet.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "common/value_write_time.h"
#include "engine/app_folder.h"
#include "engine/control_thread.h"
#include "engine/idle_body.h"
#include "platform/registry.h"
#include "tests/foundation/test_support.h"
#include "tests/support/app_folder_scope.h"

using common::QuillmarkValue;
using namespace std::chrono_literals;

namespace {

using Steady = std::chrono::steady_clock;

std::unique_ptr<platform::ValueWatch> WatchSwitches(ScratchRegistry& scratch) {
  return scratch.Registry().WatchValues(platform::Hive::kLocalMachine, common::kQuillmarkKey,
                                        {"Monitoring", "Reset"});
}

// Writes `value` from another thread after a short while.
std::jthread WriteLater(const char* name, std::uint32_t value) {
  return std::jthread([name, value] {
    std::this_thread::sleep_for(100ms);
    CRegDword(QuillmarkValue(name)).Set(value).Write();
  });
}

}  // namespace

TEST(RegistryWatch, AWatchedValueWakesTheWaiterAtOnceOthersDoNot) {
  ScratchRegistry scratch;
  CRegDword(QuillmarkValue("Monitoring")).Set(1);  // the key exists
  auto watch = WatchSwitches(scratch);

  {
    auto writer = WriteLater("Heartbeat", 5);
    auto begin = Steady::now();
    EXPECT_FALSE(watch->Wait(600ms, {})) << "a value not watched";
    EXPECT_GE(Steady::now() - begin, 550ms);
  }
  {
    auto writer = WriteLater("Monitoring", 0);
    auto begin = Steady::now();
    EXPECT_TRUE(watch->Wait(20s, {}));
    EXPECT_LT(Steady::now() - begin, 1s);
  }
  // A change made between two waits is not lost.
  CRegDword(QuillmarkValue("Reset")).Set(1);
  auto begin = Steady::now();
  EXPECT_TRUE(watch->Wait(20s, {}));
  EXPECT_LT(Steady::now() - begin, 200ms);
}

TEST(RegistryWatch, AStopRequestEndsTheWaitAtOnce) {
  ScratchRegistry scratch;
  CRegDword(QuillmarkValue("Monitoring")).Set(1);
  auto watch = WatchSwitches(scratch);
  std::stop_source stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(100ms);
    stop.request_stop();
  });
  auto begin = Steady::now();
  EXPECT_FALSE(watch->Wait(20s, stop.get_token()));
  EXPECT_LT(Steady::now() - begin, 1s);
}

TEST(RegistryWatch, AKeyMadeOnlyLaterIsPolled) {
  ScratchRegistry scratch;
  auto watch = WatchSwitches(scratch);  // no key yet
  auto writer = WriteLater("Monitoring", 1);
  auto begin = Steady::now();
  EXPECT_TRUE(watch->Wait(20s, {}));
  EXPECT_LT(Steady::now() - begin, 1s);
  // From now on the folder exists and the kernel tells.
  auto second = WriteLater("Reset", 1);
  EXPECT_TRUE(watch->Wait(20s, {}));
}

TEST(RegistryWatch, ValuesTellWhenTheyWereWritten) {
  ScratchRegistry scratch;
  const auto fallback = std::chrono::system_clock::from_time_t(0);
  EXPECT_EQ(common::QuillmarkValueWriteTime("Monitoring", fallback), fallback);
  const auto before = std::chrono::system_clock::now();
  CRegDword(QuillmarkValue("Monitoring")).Set(1);
  const auto written = common::QuillmarkValueWriteTime("Monitoring", fallback);
  EXPECT_GE(written, before - 50ms);  // file times may be a tick coarse
  EXPECT_LE(written, std::chrono::system_clock::now() + 50ms);
}

namespace {

std::atomic<int> g_watching{0};

class IdleWatcher : public engine::PrinterWatcher {
 protected:
  std::uint32_t Run(std::int32_t, std::stop_token stop) override {
    ++g_watching;
    engine::IdleUntilStopped(stop);
    --g_watching;
    return 0;
  }
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  auto deadline = Steady::now() + limit;
  while (!condition()) {
    if (Steady::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

}  // namespace

// With its 20-second pass, the control loop still follows the switches
// within a second.
TEST(ControlLoopSwitches, MonitoringAndResetTakeEffectWithinASecond) {
  ScratchRegistry scratch;
  const testing_support::AppFolderScope appFolder(scratch.Folder());
  common::WriteTextFile((scratch.Folder() / "settings.xml").string(),
                        "<log><printers><name>A</name><ID>1</ID><cost>2</cost><monitored>1</monitored>"
                        "</printers></log>");
  CRegDword(QuillmarkValue("Monitoring")).Set(1);
  engine::ControlThread::Options options;
  options.makeWatcher = [] { return std::make_unique<IdleWatcher>(); };
  options.makeRetention = [] { return std::make_unique<engine::WorkerThread>(); };
  options.makeReport = [] { return std::make_unique<engine::WorkerThread>(); };
  engine::ControlThread control(std::move(options));
  g_watching = 0;
  control.Start();
  ASSERT_TRUE(WaitFor([] { return g_watching == 1; }, 5s));

  CRegDword(QuillmarkValue("Monitoring")).Set(0);
  EXPECT_TRUE(WaitFor([] { return g_watching == 0; }, 1s)) << "monitoring did not stop within a second";
  CRegDword(QuillmarkValue("Monitoring")).Set(1);
  EXPECT_TRUE(WaitFor([] { return g_watching == 1; }, 1s)) << "monitoring did not start within a second";

  common::WriteTextFile((scratch.Folder() / "settings.xml").string(), "<log><printers></printers></log>");
  CRegDword(QuillmarkValue("Reset")).Set(1);
  EXPECT_TRUE(WaitFor([] { return g_watching == 0; }, 1s)) << "the reload waited for the pass";
  EXPECT_TRUE(WaitFor([] { return CRegDword(QuillmarkValue("Reset")).Get() == 0; }, 1s));

  auto begin = Steady::now();
  control.Stop();
  EXPECT_LT(Steady::now() - begin, 1s) << "a stop wakes the loop's wait";
}
