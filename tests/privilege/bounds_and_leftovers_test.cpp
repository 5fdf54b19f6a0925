// Names are bounded before anything uses them; stale registry temporaries
// go; the console's own documents and the programs' files are checked.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/name_bound.h"
#include "common/text_file.h"
#include "engine/app_folder.h"
#include "engine/job_log_store.h"
#include "platform/program_folder.h"
#include "platform/registry.h"
#include "platform/report_folder.h"
#include "tests/foundation/test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(NameBound, LongNamesAreCutToOneFileNameAlsoInUtf8) {
  EXPECT_EQ(common::BoundName(std::string(10000, 'a')), std::string(255, 'a'));
  EXPECT_EQ(common::BoundName("short"), "short");
  // Latin-1 letters above 0x7F take two bytes on disk: cut between them.
  EXPECT_EQ(common::BoundName(std::string(300, '\xE9')), std::string(127, '\xE9'));
  EXPECT_EQ(common::BoundName("a" + std::string(200, '\xE9')), "a" + std::string(127, '\xE9'));
}

TEST(NameBound, AnOverlongUserKeepsEveryRecordAndABoundedCatalogueEntry) {
  ScratchRegistry scratch;
  const fs::path app = scratch.Folder() / "app";
  fs::create_directories(app);
  std::ofstream(app / "settings.xml") << "<log><printers></printers><users></users></log>";
  const std::string previous = engine::AppFolder();
  engine::SetAppFolder(app.string());
  engine::JobLogStore store;
  store.Log(1, 2, 2026, 3, 4, std::string(10000, 'd'), 2, "1", "P", std::string(10000, 'u'));
  store.FlushCatalogue();
  engine::SetAppFolder(previous);

  const std::string user(255, 'u');
  int userFiles = 0;
  for (const auto& e : fs::directory_iterator(app / "Logs/Users" / user)) userFiles += e.is_regular_file();
  EXPECT_EQ(userFiles, 6);
  const std::string catalogue = ReadTextFile((app / "settings.xml").string());
  EXPECT_NE(catalogue.find("<username>" + user + "</username>"), std::string::npos);
  EXPECT_EQ(catalogue.find(user + "u"), std::string::npos);
  const std::string day =
      ReadTextFile((app / "Logs/Users" / user).string() + "/" +
                   fs::directory_iterator(app / "Logs/Users" / user)->path().filename().string());
  EXPECT_NE(day.find("<doc>" + std::string(255, 'd') + "</doc>"), std::string::npos);
}

TEST(RegistryStore, StaleTemporariesAreRemovedByTheNextWriter) {
  ScratchRegistry scratch;
  auto key = scratch.Registry().CreateKey(platform::Hive::kLocalMachine, "Software\\Quillmark", 0).Value();
  ASSERT_TRUE(key);
  const fs::path folder = scratch.RegistryRoot() / "HKLM/software/quillmark";
  std::ofstream(folder / ".tmp.1.2") << "left by a killed writer";
  std::ofstream(folder / ".tmp.3.4") << "a writer at work";
  const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(2);
  fs::last_write_time(folder / ".tmp.1.2", old);
  std::uint32_t one = 1;
  EXPECT_EQ((key->SetValue("Reset", platform::RegType::kDword, &one, 4)).Code(), platform::StatusCode::kOk);
  EXPECT_FALSE(fs::exists(folder / ".tmp.1.2"));
  EXPECT_TRUE(fs::exists(folder / ".tmp.3.4"));
  EXPECT_TRUE(fs::exists(folder / "=reset"));
}

class Environment {
 public:
  Environment(const char* name, const std::string& value) : name_(name) {
    if (const char* v = std::getenv(name)) old_ = v;
    setenv(name, value.c_str(), 1);
  }
  ~Environment() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(UserReportFolder, PrivateFolderInTheRuntimeFolderElseTheCache) {
  ScratchRegistry scratch;  // a temporary folder
  const fs::path runtime = scratch.Folder() / "run";
  fs::create_directories(runtime);
  {
    Environment xdg("XDG_RUNTIME_DIR", runtime.string());
    auto folder = platform::UserReportFolder();
    ASSERT_TRUE(folder);
    EXPECT_EQ(*folder, (runtime / "quillmark").string());
    struct stat st {};
    ASSERT_EQ(lstat(folder->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
  }
  {
    // Someone else's link in its place is not used.
    fs::create_directories(scratch.Folder() / "elsewhere");
    fs::create_directories(scratch.Folder() / "cache");
    fs::create_directory_symlink(scratch.Folder() / "elsewhere", scratch.Folder() / "cache/quillmark");
    Environment xdg("XDG_RUNTIME_DIR", "");
    Environment cache("XDG_CACHE_HOME", (scratch.Folder() / "cache").string());
    EXPECT_FALSE(platform::UserReportFolder());
    fs::remove(scratch.Folder() / "cache/quillmark");
    EXPECT_EQ(platform::UserReportFolder(), (scratch.Folder() / "cache/quillmark").string());
  }
}

TEST(ProgramFolder, IsThisProgramsFolderAndOnlyClosedFilesAreTrusted) {
  EXPECT_EQ(platform::ProgramFolder(), fs::canonical("/proc/self/exe").parent_path().string());
  ScratchRegistry scratch;
  const fs::path folder = scratch.Folder() / "bin";
  fs::create_directories(folder);
  std::ofstream(folder / "Postrider") << "#!/bin/sh\n";
  fs::permissions(folder / "Postrider", fs::perms::owner_all);
  EXPECT_EQ(platform::TrustedProgramFile(folder.string(), "Postrider"), (folder / "Postrider").string());
  fs::permissions(folder / "Postrider", fs::perms::group_write, fs::perm_options::add);
  EXPECT_FALSE(platform::TrustedProgramFile(folder.string(), "Postrider"));
  fs::permissions(folder / "Postrider", fs::perms::group_write, fs::perm_options::remove);
  fs::permissions(folder, fs::perms::others_write, fs::perm_options::add);
  EXPECT_FALSE(platform::TrustedProgramFile(folder.string(), "Postrider"));
  fs::permissions(folder, fs::perms::others_write, fs::perm_options::remove);
  fs::create_symlink(folder / "Postrider", folder / "Linked");
  EXPECT_FALSE(platform::TrustedProgramFile(folder.string(), "Linked"));
  EXPECT_FALSE(platform::TrustedProgramFile(folder.string(), "../bin/Postrider"));
}

}  // namespace
