// Starting programs with their error output kept, and the name of the
// account the process runs as.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/process.h"
#include "platform/user_account.h"
#include "tests/foundation/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string CommandOutput(const char* command) {
  std::string out;
  if (FILE* p = ::popen(command, "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    ::pclose(p);
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

class ProcessTest : public ::testing::Test {
 protected:
  std::string Script(const std::string& name, const std::string& body) {
    const fs::path path = scratch_.Folder() / name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
  }
  ScratchRegistry scratch_;  // a temporary folder
};

}  // namespace

TEST_F(ProcessTest, KeepsWhatTheProgramWritesToStandardError) {
  const std::string program =
      Script("fails", "echo out; echo 'error 14: 535 no' >&2; echo more >&2; exit 1\n");
  auto process = platform::Process::Start(program, {.captureErrorOutput = true});
  ASSERT_TRUE(process);
  EXPECT_EQ(process->Wait(30s), 1);
  EXPECT_EQ(process->ErrorOutput(), "error 14: 535 no\nmore\n");

  // Without asking, nothing is kept.
  auto plain = platform::Process::Start(program);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Wait(30s), 1);
  EXPECT_EQ(plain->ErrorOutput(), "");
}

TEST_F(ProcessTest, AFloodOfErrorOutputNeitherBlocksTheProgramNorGrowsWithoutBound) {
  // Far more than a pipe holds: a program blocked on a full pipe never ends.
  const std::string program = Script("floods", "head -c 1000000 /dev/zero | tr '\\0' x >&2; exit 0\n");
  auto process = platform::Process::Start(program, {.captureErrorOutput = true});
  ASSERT_TRUE(process);
  EXPECT_EQ(process->Wait(30s), 0);
  EXPECT_EQ(process->ErrorOutput().size(), platform::Process::kErrorOutputLimit);
}

TEST_F(ProcessTest, PollingWithoutWaitingCollectsAsTheProgramWrites) {
  const fs::path go = scratch_.Folder() / "go";
  const std::string program =
      Script("waits", "echo early >&2; while [ ! -e '" + go.string() + "' ]; do sleep 0.02; done; exit 4\n");
  auto process = platform::Process::Start(program, {.captureErrorOutput = true});
  ASSERT_TRUE(process);
  const auto end = std::chrono::steady_clock::now() + 30s;
  while (process->ErrorOutput().empty() && std::chrono::steady_clock::now() < end) {
    EXPECT_FALSE(process->Wait(20ms).has_value());
  }
  EXPECT_EQ(process->ErrorOutput(), "early\n");
  std::ofstream(go).put('\n');
  EXPECT_EQ(process->Wait(30s), 4);

  // A moved process keeps what was collected.
  platform::Process moved = std::move(*process);
  EXPECT_EQ(moved.ErrorOutput(), "early\n");
}

TEST(UserAccount, TheEffectiveUsersLogonName) {
  EXPECT_EQ(platform::CurrentUserName(), CommandOutput("id -un"));
  EXPECT_FALSE(platform::CurrentUserName().empty());
}
