// The folder watch behind the spool folder's waits, on the real inotify.

#include "platform/folder_watch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/foundation/test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::FolderWatch;
using namespace std::chrono_literals;

void Write(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

// Replaces `file` the way the spool folder does: a temporary file renamed
// over it.
void Replace(const fs::path& file, const std::string& text) {
  fs::path tmp = file.parent_path() / ".tmp.replace";
  Write(tmp, text);
  fs::rename(tmp, file);
}

class FolderWatchTest : public ::testing::Test {
 protected:
  fs::path Folder() const { return scratch_.Folder() / "printer"; }
  void SetUp() override {
    fs::create_directories(Folder());
    Write(Folder() / "queue", "one");
  }
  ScratchRegistry scratch_;
};

TEST_F(FolderWatchTest, TheFileReplacedOrRemovedWakesOtherFilesDoNot) {
  auto watch = FolderWatch::ForFile((Folder() / "queue").string());
  ASSERT_NE(watch, nullptr);
  // Temporary files, lock files and the other files of the folder.
  Write(Folder() / "lock", "");
  Write(Folder() / "printer", "x");
  EXPECT_EQ(watch->Wait(50ms, {}), FolderWatch::Result::kTimedOut);

  // A change made before the wait is reported at once.
  Replace(Folder() / "queue", "two");
  EXPECT_EQ(watch->Wait(0ms, {}), FolderWatch::Result::kChanged);
  EXPECT_EQ(watch->Wait(20ms, {}), FolderWatch::Result::kTimedOut);

  std::jthread changer([&] {
    std::this_thread::sleep_for(30ms);
    Replace(Folder() / "queue", "three");
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(watch->Wait(std::chrono::milliseconds::max(), {}), FolderWatch::Result::kChanged);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  changer.join();

  fs::remove(Folder() / "queue");
  EXPECT_EQ(watch->Wait(5s, {}), FolderWatch::Result::kChanged);
  EXPECT_FALSE(watch->Lost());
}

TEST_F(FolderWatchTest, AStopRequestEndsAWaitWithoutEnd) {
  auto watch = FolderWatch::ForFile((Folder() / "queue").string());
  ASSERT_NE(watch, nullptr);
  std::stop_source source;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(30ms);
    source.request_stop();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(watch->Wait(std::chrono::milliseconds::max(), source.get_token()), FolderWatch::Result::kStopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(watch->Wait(1s, source.get_token()), FolderWatch::Result::kStopped);
}

TEST_F(FolderWatchTest, ARemovedFolderLosesTheWatch) {
  auto watch = FolderWatch::ForFile((Folder() / "queue").string());
  ASSERT_NE(watch, nullptr);
  fs::remove_all(Folder());
  EXPECT_EQ(watch->Wait(5s, {}), FolderWatch::Result::kChanged);
  // The queue file's own removal may come first; the folder's follows.
  if (!watch->Lost()) {
    EXPECT_EQ(watch->Wait(5s, {}), FolderWatch::Result::kChanged);
  }
  EXPECT_TRUE(watch->Lost());
  EXPECT_EQ(watch->Wait(5s, {}), FolderWatch::Result::kChanged);  // at once

  EXPECT_EQ(FolderWatch::ForFile((scratch_.Folder() / "missing" / "queue").string()), nullptr);
}

}  // namespace
