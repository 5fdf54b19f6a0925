// Starting a program of our own on either system: its exit status, its
// standard error, and waits that end at the timeout, at a stop request or
// when the program is terminated.

#include <gtest/gtest.h>

#include <chrono>
#include <stop_token>
#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/program_folder.h"
#include "tests/support/test_env.h"

namespace {

using namespace std::chrono_literals;
using testing_support::SetEnv;
using testing_support::UnsetEnv;

// The child's instructions for one test, cleared afterwards.
class ChildProcess : public ::testing::Test {
 protected:
  ~ChildProcess() override {
    for (const char* name :
         {"QM_CHILD_STDERR", "QM_CHILD_STDERR_BYTES", "QM_CHILD_SLEEP_MS", "QM_CHILD_EXIT"})
      UnsetEnv(name);
  }
  static std::string Child() {
    // The test programs are built beside the programs they test.
    return platform::ProgramFolder() + "/" + platform::ExecutableName("quillmark-test-child");
  }
};

TEST_F(ChildProcess, ExitStatusAndStandardErrorComeBack) {
  SetEnv("QM_CHILD_STDERR", "error 14: 535 no\nmore\n");
  SetEnv("QM_CHILD_EXIT", "3");
  auto process = platform::Process::Start(Child(), {.captureErrorOutput = true});
  ASSERT_TRUE(process);
  EXPECT_EQ(process->Wait(60s), 3);
  std::string errors = process->ErrorOutput();
  std::erase(errors, '\r');  // a Windows C runtime writes text with CRLF
  EXPECT_EQ(errors, "error 14: 535 no\nmore\n");

  SetEnv("QM_CHILD_EXIT", "0");
  auto plain = platform::Process::Start(Child());
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Wait(60s), 0);
  EXPECT_EQ(plain->ErrorOutput(), "");
}

TEST_F(ChildProcess, AFloodOfErrorOutputIsCappedAndNeverBlocksTheProgram) {
  SetEnv("QM_CHILD_STDERR_BYTES", std::to_string(platform::Process::kErrorOutputLimit * 4));
  auto process = platform::Process::Start(Child(), {.captureErrorOutput = true});
  ASSERT_TRUE(process);
  EXPECT_EQ(process->Wait(60s), 0);
  EXPECT_EQ(process->ErrorOutput().size(), std::size_t{platform::Process::kErrorOutputLimit});
}

TEST_F(ChildProcess, WaitsEndAtTheTimeoutAtAStopRequestAndAfterTerminate) {
  SetEnv("QM_CHILD_SLEEP_MS", "120000");
  auto process = platform::Process::Start(Child());
  ASSERT_TRUE(process);
  EXPECT_EQ(process->Wait(50ms), std::nullopt);

  std::stop_source stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(100ms);
    stop.request_stop();
  });
  auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(process->Wait(60s, stop.get_token()), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 30s);

  process->Terminate();
  before = std::chrono::steady_clock::now();
  const auto status = process->Wait(60s);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 128 + 15) << "ended as by SIGTERM";
  EXPECT_LT(std::chrono::steady_clock::now() - before, 30s);
}

TEST_F(ChildProcess, AMissingProgramDoesNotStart) {
  EXPECT_FALSE(platform::Process::Start(platform::ProgramFolder() + "/no-such-program"));
  EXPECT_FALSE(platform::Process::Start(platform::ProgramFolder()));  // a folder
}

}  // namespace
