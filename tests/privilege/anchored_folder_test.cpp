// The data folder walk: nothing below the data folder is reached through a
// link, a folder others may write to, or a file that is not a plain file.

#include "platform/anchored_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file_system.h"
#include "tests/support/read_file.h"

namespace {

namespace fs = std::filesystem;

using testing_support::ReadWholeFile;

mode_t Mode(const fs::path& p) {
  struct stat st {};
  lstat(p.c_str(), &st);
  return st.st_mode & 07777;
}

class DataFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quillmark-anchor-XXXXXX";
    base_ = mkdtemp(tmpl);
    data_ = base_ / "data";
    outside_ = base_ / "outside";
    fs::create_directories(data_ / "Logs");
    fs::create_directories(outside_);
    std::ofstream(outside_ / "victim") << "victim";
    platform::SetDataFolder(data_.string());
  }
  void TearDown() override {
    platform::SetDataFolder("");
    fs::remove_all(base_);
  }
  std::string In(const std::string& relative) const { return (data_ / relative).string(); }

  fs::path base_, data_, outside_;
};

TEST_F(DataFolder, LinkedFilesAreNeitherReadNorWrittenNorTruncated) {
  fs::create_symlink(outside_ / "victim", data_ / "Logs/d_1.xml");
  EXPECT_FALSE(platform::ReadFileBytes(In("Logs/d_1.xml")));
  EXPECT_FALSE(platform::AppendFileBytes(In("Logs/d_1.xml"), "record", "    "));
  EXPECT_FALSE(platform::AppendFileBytes(In("Logs/d_1.xml"), "record"));
  EXPECT_FALSE(platform::WriteFileBytes(In("Logs/d_1.xml"), "new"));
  EXPECT_FALSE(platform::FileExists(In("Logs/d_1.xml")));
  EXPECT_EQ(ReadWholeFile(outside_ / "victim"), "victim");

  // A dangling link does not make its target appear.
  fs::create_symlink(outside_ / "made", data_ / "Logs/d_2.xml");
  EXPECT_FALSE(platform::AppendFileBytes(In("Logs/d_2.xml"), "record", "    "));
  EXPECT_FALSE(fs::exists(outside_ / "made"));

  // A hard-linked file is not written (it is read), a FIFO neither; the
  // FIFO does not block.
  fs::create_hard_link(outside_ / "victim", data_ / "Logs/d_3.xml");
  EXPECT_FALSE(platform::AppendFileBytes(In("Logs/d_3.xml"), "record", "    "));
  EXPECT_FALSE(platform::WriteFileBytes(In("Logs/d_3.xml"), "record"));
  EXPECT_EQ(platform::ReadFileBytes(In("Logs/d_3.xml")), "victim");
  ASSERT_EQ(mkfifo((data_ / "Logs/d_4.xml").c_str(), 0600), 0);
  EXPECT_FALSE(platform::AppendFileBytes(In("Logs/d_4.xml"), "record", "    "));
  EXPECT_FALSE(platform::ReadFileBytes(In("Logs/d_4.xml")));
  EXPECT_EQ(ReadWholeFile(outside_ / "victim"), "victim");

  // Plain files beside them are written as ever.
  EXPECT_TRUE(platform::AppendFileBytes(In("Logs/d_5.xml"), "record", "    "));
  EXPECT_EQ(ReadWholeFile(data_ / "Logs/d_5.xml"), "    record");
}

TEST_F(DataFolder, LinkedOrOpenFoldersOnTheWayAreRefused) {
  fs::create_directory_symlink(outside_, data_ / "Logs/Users");
  EXPECT_FALSE(platform::CreateFolder(In("Logs/Users/bob")));
  EXPECT_FALSE(platform::AppendFileBytes(In("Logs/Users/d_1.xml"), "record", "    "));
  EXPECT_FALSE(platform::ReadFileBytes(In("Logs/Users/victim")));
  EXPECT_TRUE(platform::ListFilesBelow(In("Logs/Users"), "").empty());
  EXPECT_FALSE(fs::exists(outside_ / "bob"));
  EXPECT_FALSE(fs::exists(outside_ / "d_1.xml"));

  // "..", and a folder its group or others may write to.
  EXPECT_FALSE(platform::ReadFileBytes(In("Logs/../../outside/victim")));
  fs::create_directories(data_ / "Logs/Printers");
  fs::permissions(data_ / "Logs/Printers", fs::perms::group_write, fs::perm_options::add);
  EXPECT_FALSE(platform::AppendFileBytes(In("Logs/Printers/d_1.xml"), "record", "    "));
  EXPECT_FALSE(fs::exists(data_ / "Logs/Printers/d_1.xml"));

  // The data folder itself may not be writable by everyone.
  fs::permissions(data_, fs::perms::others_write, fs::perm_options::add);
  EXPECT_FALSE(platform::AppendFileBytes(In("Logs/d_1.xml"), "record", "    "));
}

TEST_F(DataFolder, NewFilesAndFoldersAreClosedToOthersWhateverTheUmask) {
  const mode_t old = umask(0);
  EXPECT_TRUE(platform::CreateFolder(In("Logs/Users")));
  EXPECT_TRUE(platform::AppendFileBytes(In("Logs/Users/d_1.xml"), "r", "  "));
  EXPECT_TRUE(platform::ReplaceFileBytes(In("Logs/Report.xml"), "report"));
  {
    platform::FileLock lock(In("Logs/quillcore.lock"));
    EXPECT_TRUE(lock.Locked());
  }
  umask(old);
  EXPECT_EQ(Mode(data_ / "Logs/Users"), 0750u);
  EXPECT_EQ(Mode(data_ / "Logs/Users/d_1.xml"), 0640u);
  EXPECT_EQ(Mode(data_ / "Logs/Report.xml"), 0640u);
  // Whoever may open a lock may hold it: only its owner may.
  EXPECT_EQ(Mode(data_ / "Logs/quillcore.lock"), 0600u);
}

TEST_F(DataFolder, LinkedLockIsNotTakenAndItsTargetNotMade) {
  fs::create_symlink(outside_ / "nologin", data_ / "Logs/quillcore.lock");
  platform::FileLock lock(In("Logs/quillcore.lock"));
  EXPECT_FALSE(lock.Locked());
  EXPECT_FALSE(fs::exists(outside_ / "nologin"));
}

TEST_F(DataFolder, ReplacementKeepsGroupAndModeButNeverOpensToOthers) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the file a group of its own";
  const fs::path catalogue = data_ / "settings.xml";
  std::ofstream(catalogue) << "old";
  ASSERT_EQ(chown(catalogue.c_str(), 0, 65534), 0);
  ASSERT_EQ(chmod(catalogue.c_str(), 0660), 0);
  EXPECT_TRUE(platform::ReplaceFileBytes(catalogue.string(), "new"));
  struct stat st {};
  ASSERT_EQ(stat(catalogue.c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
  EXPECT_EQ(ReadWholeFile(catalogue), "new");

  std::ofstream(data_ / "Logs/Report.xml") << "old";
  chmod((data_ / "Logs/Report.xml").c_str(), 0644);
  EXPECT_TRUE(platform::ReplaceFileBytes(In("Logs/Report.xml"), "new"));
  EXPECT_EQ(Mode(data_ / "Logs/Report.xml"), 0640u);

  // A link in its place is replaced, not followed.
  fs::create_symlink(outside_ / "victim", data_ / "Logs/linked.xml");
  EXPECT_TRUE(platform::ReplaceFileBytes(In("Logs/linked.xml"), "mine"));
  EXPECT_FALSE(fs::is_symlink(data_ / "Logs/linked.xml"));
  EXPECT_EQ(ReadWholeFile(outside_ / "victim"), "victim");
}

TEST_F(DataFolder, RemovalStaysInsideAndLeavesLinks) {
  fs::create_directories(data_ / "Logs/Users/ann");
  for (auto f : {"Logs/d_1.xml", "Logs/Users/ann/d_1.xml", "Logs/y_2001.xml"})
    std::ofstream(data_ / f) << "x";
  std::ofstream(outside_ / "d_9.xml") << "x";
  fs::create_directory_symlink(outside_, data_ / "Logs/Printers");
  fs::create_symlink(outside_ / "d_9.xml", data_ / "Logs/d_8.xml");
  std::vector<std::string> seen;
  const std::size_t removed = platform::RemoveFilesBelow(In("Logs"), ".xml", [&](const std::string& p) {
    seen.push_back(p);
    return p.find("y_") == std::string::npos;
  });
  EXPECT_EQ(removed, 2u);
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_FALSE(fs::exists(data_ / "Logs/Users/ann/d_1.xml"));
  EXPECT_TRUE(fs::exists(data_ / "Logs/y_2001.xml"));
  EXPECT_TRUE(fs::is_symlink(data_ / "Logs/d_8.xml"));
  EXPECT_TRUE(fs::exists(outside_ / "d_9.xml"));
}

TEST_F(DataFolder, OnlyPlainFilesInsideLogsAreHandedToAReader) {
  std::ofstream(data_ / "Logs/Report.xml") << "r";
  fs::create_directories(data_ / "Logs/Users/ann");
  std::ofstream(data_ / "Logs/Users/ann/d_1.xml") << "r";
  fs::create_symlink(outside_ / "victim", data_ / "Logs/linked.xml");
  std::ofstream(data_ / "settings.xml") << "c";
  const std::string logs = In("Logs");
  const fs::path before = fs::current_path();
  for (const std::string& bad : {In("Logs/linked.xml"), In("settings.xml"), (outside_ / "victim").string(),
                                 In("Logs/../settings.xml"), In("Logs/missing.xml"), In("Logs")}) {
    EXPECT_FALSE(platform::EnterFolderHolding(data_.string(), "Logs", {bad})) << bad;
    EXPECT_EQ(fs::current_path(), before);
  }
  auto relative = platform::EnterFolderHolding(data_.string(), "Logs",
                                               {In("Logs/Report.xml"), In("Logs/Users/ann/d_1.xml")});
  ASSERT_TRUE(relative);
  EXPECT_EQ(*relative, (std::vector<std::string>{"Report.xml", "Users/ann/d_1.xml"}));
  EXPECT_EQ(fs::current_path(), data_ / "Logs");
  fs::current_path(before);

  // A linked Logs folder holds nothing.
  fs::rename(data_ / "Logs", data_ / "Logs.real");
  fs::create_directory_symlink(data_ / "Logs.real", data_ / "Logs");
  EXPECT_FALSE(platform::EnterFolderHolding(data_.string(), "Logs", {In("Logs/Report.xml")}));
}

}  // namespace
