// What the file layer says when it refuses or fails: the code a caller
// branches on (a missing file is no failure worth a warning) and a context
// naming the file or folder, which the programs log.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/anchored_folder.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "platform/status.h"

namespace {

namespace fs = std::filesystem;
using platform::StatusCode;

bool Mentions(const platform::Status& status, const std::string& text) {
  return status.ToString().find(text) != std::string::npos;
}

class FileStatus : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quillmark-status-XXXXXX";
    base_ = mkdtemp(tmpl);
    data_ = base_ / "data";
    fs::create_directories(data_ / "Logs");
    platform::SetDataFolder(data_.string());
  }
  void TearDown() override {
    platform::SetDataFolder("");
    fs::permissions(data_ / "Logs", fs::perms::owner_all);
    fs::remove_all(base_);
  }
  std::string In(const std::string& relative) const { return (data_ / relative).string(); }

  fs::path base_, data_;
};

TEST_F(FileStatus, MissingFilesAndFoldersAreNotFoundInsideAndOutsideTheDataFolder) {
  for (const std::string& path :
       {In("Logs/d_1.xml"), In("Logs/Users/anna/d_1.xml"), (base_ / "nowhere.xml").string()}) {
    const auto read = platform::ReadFileBytes(path);
    ASSERT_FALSE(read) << path;
    EXPECT_TRUE(read.Status().IsNotFound()) << read.Status().ToString();
  }
  // A missing folder on the way is named.
  const platform::Status append = platform::AppendFileBytes(In("Logs/Users/anna/d_1.xml"), "record");
  EXPECT_TRUE(append.IsNotFound()) << append.ToString();
  EXPECT_TRUE(Mentions(append, In("Logs/Users"))) << append.ToString();
}

TEST_F(FileStatus, AFolderOthersMayWriteToIsRefusedByName) {
  fs::permissions(data_ / "Logs", fs::perms::all);
  const platform::Status append = platform::AppendFileBytes(In("Logs/d_1.xml"), "record", "    ");
  EXPECT_EQ(append.Code(), StatusCode::kAccessDenied) << append.ToString();
  EXPECT_TRUE(Mentions(append, "folder " + In("Logs") + " refused: writable by its group or others"))
      << append.ToString();
  EXPECT_FALSE(fs::exists(data_ / "Logs/d_1.xml"));
  const auto read = platform::ReadFileBytes(In("Logs/d_1.xml"));
  EXPECT_EQ(read.Status().Code(), StatusCode::kAccessDenied) << read.Status().ToString();
}

TEST_F(FileStatus, LinksAndOtherKindsOfFileAreNamedWithWhatTheyAre) {
  fs::create_symlink(base_ / "elsewhere", data_ / "Logs/d_1.xml");
  const platform::Status linked = platform::AppendFileBytes(In("Logs/d_1.xml"), "record");
  EXPECT_EQ(linked.Code(), StatusCode::kAccessDenied);
  EXPECT_TRUE(Mentions(linked, In("Logs/d_1.xml") + " is a symbolic link")) << linked.ToString();

  ASSERT_EQ(::mkfifo((data_ / "Logs/d_2.xml").c_str(), 0600), 0);
  const auto fifo = platform::ReadFileBytes(In("Logs/d_2.xml"));
  ASSERT_FALSE(fifo);
  EXPECT_TRUE(Mentions(fifo.Status(), In("Logs/d_2.xml") + " is not a regular file"))
      << fifo.Status().ToString();
}

TEST_F(FileStatus, UnwritableFolderGivesTheSystemsReason) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes to any folder";
  fs::permissions(data_ / "Logs", fs::perms::owner_read | fs::perms::owner_exec);
  const platform::Status append = platform::AppendFileBytes(In("Logs/d_1.xml"), "record");
  EXPECT_EQ(append.SystemError(), EACCES) << append.ToString();
  EXPECT_TRUE(Mentions(append, In("Logs/d_1.xml"))) << append.ToString();
}

TEST_F(FileStatus, AnUntrustedProgramSaysWhyItIsNotStarted) {
  std::ofstream(data_ / "Postrider") << "#!/bin/sh\n";
  fs::permissions(data_ / "Postrider", fs::perms::all);
  const auto found = platform::TrustedProgramFile(data_.string(), "Postrider");
  ASSERT_FALSE(found);
  EXPECT_TRUE(Mentions(found.Status(), "program " + (data_ / "Postrider").string() + " is not trusted"))
      << found.Status().ToString();
  const auto missing = platform::TrustedProgramFile(data_.string(), "Absent");
  EXPECT_TRUE(missing.Status().IsNotFound()) << missing.Status().ToString();
}

}  // namespace
