#include "engine/control_thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "engine/app_folder.h"
#include "engine/idle_body.h"
#include "tests/foundation/test_support.h"
#include "tests/support/app_folder_scope.h"
#include "tests/support/fake_clock.h"

using common::QuillmarkValue;
using engine::ControlThread;

namespace {

std::atomic<int> g_running{0};

// Waits up to five seconds for `counter` to read `expected`; true when it did.
// Threads start and stop on their own time, so a count is waited for rather
// than read once.
bool Reaches(const std::atomic<int>& counter, int expected) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (counter != expected) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class CountingWatcher : public engine::PrinterWatcher {
 protected:
  std::uint32_t Run(std::int32_t, std::stop_token stop) override {
    ++g_running;
    engine::IdleUntilStopped(stop);
    --g_running;
    return 0;
  }
};

class CountingThread : public engine::WorkerThread {
 public:
  explicit CountingThread(std::atomic<int>& counter) : counter_(counter) {}
  ~CountingThread() override { Stop(); }

 protected:
  std::uint32_t Run(std::int32_t, std::stop_token stop) override {
    ++counter_;
    engine::IdleUntilStopped(stop);
    --counter_;
    return 0;
  }

 private:
  std::atomic<int>& counter_;
};

// Runs the control loop one pass at a time: the test edits the registry
// between passes.
class ControlLoop {
 public:
  explicit ControlLoop(std::atomic<int>& retention, std::atomic<int>& report) {
    ControlThread::Options options;
    options.interval = std::chrono::milliseconds(5);
    options.makeWatcher = [] { return std::make_unique<CountingWatcher>(); };
    options.makeRetention = [&] { return std::make_unique<CountingThread>(retention); };
    options.makeReport = [&] { return std::make_unique<CountingThread>(report); };
    options.afterPass = [this](int pass) {
      std::unique_lock lock(mutex_);
      passes_ = pass;
      changed_.notify_all();
      changed_.wait(lock, [&] { return allowed_ > pass || quitting_; });
    };
    thread_ = std::make_unique<ControlThread>(std::move(options));
    thread_->Start();
  }
  ~ControlLoop() {
    {
      std::lock_guard lock(mutex_);
      quitting_ = true;
      changed_.notify_all();
    }
    thread_->Stop();
  }
  // Waits until pass number `pass` has finished.
  void WaitPass(int pass) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return passes_ >= pass; });
  }
  // Lets the loop run one more pass and waits for it.
  void Step() {
    int next;
    {
      std::lock_guard lock(mutex_);
      next = ++allowed_;
      changed_.notify_all();
    }
    WaitPass(next);
  }
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      quitting_ = true;
      changed_.notify_all();
    }
    thread_->Stop();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int passes_ = 0, allowed_ = 1;
  bool quitting_ = false;
  std::unique_ptr<ControlThread> thread_;
};

std::string Entry(const std::string& name, const std::string& monitored) {
  return "<name>" + name + "</name><ID>1</ID><cost>2</cost><monitored>" + monitored + "</monitored>";
}

class ControlThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appFolder.emplace(scratch.Folder());
    g_running = 0;
  }
  void WriteCatalogue(const std::string& printers) {
    common::WriteTextFile((scratch.Folder() / "settings.xml").string(),
                          "<log><printers>" + printers + "</printers><users></users></log>");
  }
  ScratchRegistry scratch;
  std::optional<testing_support::AppFolderScope> appFolder;
  std::atomic<int> retention{0}, report{0};
};

}  // namespace

TEST_F(ControlThreadTest, FirstPassLoadsTheCatalogueAndClearsReset) {
  CRegDword(QuillmarkValue("Monitoring")).Set(1);
  CRegDword(QuillmarkValue("Reset")).Set(0).Write();
  WriteCatalogue(Entry("A", "1") + Entry("B", "0") + Entry("C", " 1") + Entry("D", ""));
  ControlLoop loop(retention, report);
  loop.WaitPass(1);
  EXPECT_EQ(CRegDword(QuillmarkValue("Reset")).Get(), 0u);
  // Only the entry flagged exactly "1" runs.
  EXPECT_TRUE(Reaches(g_running, 1)) << g_running;
}

TEST_F(ControlThreadTest, SwitchesFollowTheRegistry) {
  WriteCatalogue(Entry("A", "1") + Entry("B", "1"));
  CRegDword(QuillmarkValue("Monitoring")).Set(1);
  CRegDword(QuillmarkValue("DeleteOldLogs")).Set(1);
  CRegDword(QuillmarkValue("EmailAlert")).Set(1);
  ControlLoop loop(retention, report);
  loop.WaitPass(1);
  EXPECT_TRUE(Reaches(g_running, 2)) << g_running;
  EXPECT_TRUE(Reaches(retention, 1)) << retention;
  EXPECT_TRUE(Reaches(report, 1)) << report;

  // Monitoring off stops every watcher and the report thread in one pass;
  // retention goes on.
  CRegDword(QuillmarkValue("Monitoring")).Set(0);
  loop.Step();
  EXPECT_EQ(g_running, 0);
  EXPECT_EQ(report, 0);
  EXPECT_EQ(retention, 1);

  // E-mail alerts without monitoring never run the report thread.
  loop.Step();
  EXPECT_EQ(report, 0);

  CRegDword(QuillmarkValue("DeleteOldLogs")).Set(0);
  loop.Step();
  EXPECT_EQ(retention, 0);
}

TEST_F(ControlThreadTest, ResetReloadsAndRestartsInTheSamePass) {
  WriteCatalogue(Entry("A", "1") + Entry("B", "1") + Entry("C", "1"));
  CRegDword(QuillmarkValue("Monitoring")).Set(1);
  ControlLoop loop(retention, report);
  loop.WaitPass(1);
  EXPECT_TRUE(Reaches(g_running, 3)) << g_running;

  WriteCatalogue(Entry("A", "0") + Entry("C", "1"));
  CRegDword(QuillmarkValue("Reset")).Set(1);
  loop.Step();
  EXPECT_TRUE(Reaches(g_running, 1)) << g_running;  // slots beyond the new count stay stopped
  EXPECT_EQ(CRegDword(QuillmarkValue("Reset")).Get(), 0u);
}

TEST_F(ControlThreadTest, MoreThanThreeMonitoredPrintersAreAllStoppedOnReload) {
  std::string entries;
  for (int i = 0; i < 5; ++i) entries += Entry("P" + std::to_string(i), "1");
  WriteCatalogue(entries);
  CRegDword(QuillmarkValue("Monitoring")).Set(1);
  ControlLoop loop(retention, report);
  loop.WaitPass(1);
  EXPECT_TRUE(Reaches(g_running, 5)) << g_running;
  WriteCatalogue("");
  CRegDword(QuillmarkValue("Reset")).Set(1);
  loop.Step();
  EXPECT_EQ(g_running, 0);
}

TEST_F(ControlThreadTest, StoppingTheControlThreadStopsEverythingItStarted) {
  WriteCatalogue(Entry("A", "1"));
  CRegDword(QuillmarkValue("Monitoring")).Set(1);
  CRegDword(QuillmarkValue("DeleteOldLogs")).Set(1);
  {
    ControlLoop loop(retention, report);
    loop.WaitPass(1);
    EXPECT_TRUE(Reaches(g_running, 1)) << g_running;
    loop.Stop();
  }
  EXPECT_EQ(g_running, 0);
  EXPECT_EQ(retention, 0);
}

// Installs a clock as the process's clock for the life of the object.
class ClockGuard {
 public:
  explicit ClockGuard(platform::Clock& clock) : previous_(platform::Clock::SetDefault(&clock)) {}
  ~ClockGuard() { platform::Clock::SetDefault(previous_); }
  ClockGuard(const ClockGuard&) = delete;
  ClockGuard& operator=(const ClockGuard&) = delete;

 private:
  platform::Clock* previous_;
};

TEST_F(ControlThreadTest, EveryPassWritesTheTimeOfThePassAsHeartbeat) {
  // Seconds since 1970 in UTC, whatever the local zone says.
  testing_support::TimeZone zone("EST5EDT,M3.2.0,M11.1.0");
  testing_support::FakeClock clock(1'700'000'000);
  ClockGuard guard(clock);
  // A heartbeat left over from an engine that died long ago.
  CRegDword(QuillmarkValue("Heartbeat")).Set(1'000);
  // Written whether or not anything is monitored.
  CRegDword(QuillmarkValue("Monitoring")).Set(0);
  WriteCatalogue("");

  ControlLoop loop(retention, report);
  loop.WaitPass(1);
  EXPECT_EQ(CRegDword(QuillmarkValue("Heartbeat")).Get(), 1'700'000'000u);

  clock.Set(1'700'000'061);
  loop.Step();
  EXPECT_EQ(CRegDword(QuillmarkValue("Heartbeat")).Get(), 1'700'000'061u);

  CRegDword(QuillmarkValue("Monitoring")).Set(1);
  clock.Set(1'700'000'090);
  loop.Step();
  EXPECT_EQ(CRegDword(QuillmarkValue("Heartbeat")).Get(), 1'700'000'090u);
  loop.Stop();
}

TEST(WorkerThreadFlags, ABodyThatReturnsKeepsItsRunningFlag) {
  class Quick : public engine::WorkerThread {
   public:
    ~Quick() override { Stop(); }

   protected:
    std::uint32_t Run(std::int32_t, std::stop_token) override { return 7; }
  } quick;
  quick.Start();
  for (int i = 0; i < 200 && !quick.Finished(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(quick.Running());
  EXPECT_EQ(quick.Stop(), 7u);
  EXPECT_FALSE(quick.Running());
}
