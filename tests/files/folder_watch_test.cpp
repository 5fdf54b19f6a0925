// The folder watch behind the spool folder's waits, on the system's own
// change notification, with the files made by the file layer.

#include "platform/folder_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "platform/file_system.h"

namespace {

namespace fs = std::filesystem;
using platform::FolderWatch;
using namespace std::chrono_literals;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

class FolderWatchOnFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    base_ = fs::temp_directory_path() /
            ("quillmark-watch-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(base_ / "printer");
#ifdef _WIN32
    for (const wchar_t c : (base_ / "printer").wstring()) folder_.push_back(static_cast<char>(c));
#else
    folder_ = (base_ / "printer").string();
#endif
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(base_, ec);
  }
  std::string In(const std::string& name) const { return folder_ + kSeparator + name; }

  fs::path base_;
  std::string folder_;
};

TEST_F(FolderWatchOnFiles, ANewOrReplacedFileWakesOtherFilesDoNot) {
  auto watch = FolderWatch::ForFile(In("queue"));
  ASSERT_NE(watch, nullptr);
  ASSERT_TRUE(platform::WriteFileBytes(In("lock"), ""));
  ASSERT_TRUE(platform::ReplaceFileBytes(In("printer"), "x"));
  EXPECT_EQ(watch->Wait(50ms, {}), FolderWatch::Result::kTimedOut);

  // Made before the wait: not lost (some systems pass the notice on a
  // moment later, so the wait may take that moment).
  ASSERT_TRUE(platform::ReplaceFileBytes(In("queue"), "one"));
  EXPECT_EQ(watch->Wait(5s, {}), FolderWatch::Result::kChanged);
  // The rename may come in more than one notice; then it is quiet.
  while (watch->Wait(100ms, {}) == FolderWatch::Result::kChanged) {
  }
  EXPECT_EQ(watch->Wait(20ms, {}), FolderWatch::Result::kTimedOut);

  std::jthread changer([&] {
    std::this_thread::sleep_for(30ms);
    ASSERT_TRUE(platform::ReplaceFileBytes(In("queue"), "two"));
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(watch->Wait(std::chrono::milliseconds::max(), {}), FolderWatch::Result::kChanged);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  changer.join();

  ASSERT_TRUE(platform::ForceRemoveFile(In("queue")));
  EXPECT_EQ(watch->Wait(5s, {}), FolderWatch::Result::kChanged);
  EXPECT_FALSE(watch->Lost());
}

TEST_F(FolderWatchOnFiles, AStopRequestEndsAWaitWithoutEnd) {
  auto watch = FolderWatch::ForFile(In("queue"));
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

  // A new token: the watch goes on watching.
  ASSERT_TRUE(platform::WriteFileBytes(In("queue"), "new"));
  EXPECT_EQ(watch->Wait(5s, {}), FolderWatch::Result::kChanged);
}

TEST_F(FolderWatchOnFiles, ARemovedFolderLosesTheWatch) {
  ASSERT_TRUE(platform::WriteFileBytes(In("queue"), "one"));
  auto watch = FolderWatch::ForFile(In("queue"));
  ASSERT_NE(watch, nullptr);
  fs::remove_all(base_ / "printer");
  EXPECT_EQ(watch->Wait(5s, {}), FolderWatch::Result::kChanged);
  std::error_code ec;
  if (fs::exists(base_ / "printer", ec)) {
    // Removed only once nobody holds it any more: there is nothing to
    // report while the watch does.
    GTEST_SKIP() << "this system keeps a watched folder until the watch lets go";
  }
  // The queue file's own removal may come first; the folder's follows.
  if (!watch->Lost()) {
    EXPECT_EQ(watch->Wait(5s, {}), FolderWatch::Result::kChanged);
  }
  EXPECT_TRUE(watch->Lost());
  EXPECT_EQ(watch->Wait(5s, {}), FolderWatch::Result::kChanged);  // at once

  EXPECT_EQ(FolderWatch::ForFile(folder_ + kSeparator + "missing" + kSeparator + "queue"), nullptr);
}

TEST_F(FolderWatchOnFiles, AFolderMovedAwayLosesTheWatch) {
  ASSERT_TRUE(platform::WriteFileBytes(In("queue"), "one"));
  auto watch = FolderWatch::ForFile(In("queue"));
  ASSERT_NE(watch, nullptr);
  fs::rename(base_ / "printer", base_ / "removed");
  fs::create_directories(base_ / "printer");  // a new folder of the same name
  const auto start = std::chrono::steady_clock::now();
  while (!watch->Lost() && std::chrono::steady_clock::now() - start < 10s) {
    ASSERT_NE(watch->Wait(10s, {}), FolderWatch::Result::kTimedOut);
  }
  EXPECT_TRUE(watch->Lost());
  EXPECT_EQ(watch->Wait(5s, {}), FolderWatch::Result::kChanged);  // at once

  // A new watch sees the new folder.
  watch = FolderWatch::ForFile(In("queue"));
  ASSERT_NE(watch, nullptr);
  ASSERT_TRUE(platform::WriteFileBytes(In("queue"), "two"));
  EXPECT_EQ(watch->Wait(5s, {}), FolderWatch::Result::kChanged);
  EXPECT_FALSE(watch->Lost());
}

}  // namespace
