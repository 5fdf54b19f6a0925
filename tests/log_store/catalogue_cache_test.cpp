// The log store keeps the catalogue in memory: what it reads and writes
// must be what a store reading the file on every job would read and write.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "common/catalogue_file.h"
#include "common/catalogue_text.h"
#include "common/text_file.h"
#include "engine/app_folder.h"
#include "engine/job_log_store.h"
#include "tests/foundation/test_support.h"
#include "tests/support/app_folder_scope.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_clock.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FakeClock;
using testing_support::LocalTime;
using testing_support::TimeZone;

using testing_support::SpawnChild;
using testing_support::WaitChild;

class CatalogueCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = scratch_.Folder() / "app";
    fs::create_directories(app_);
    appFolder_.emplace(app_);
  }

  std::string Path() const { return (app_ / "settings.xml").string(); }
  void Log(engine::JobLogStore& store, const std::string& printer, const std::string& user) {
    store.Log(9, 3, 2006, 10, 0, "doc", 1, "2", printer, user);
  }
  bool Logged(const std::string& folder) const {
    return fs::exists(app_ / "Logs" / "Printers" / folder / "d_20060309.xml");
  }

  ScratchRegistry scratch_;
  TimeZone zone_{"UTC0"};
  FakeClock clock_{LocalTime(2006, 3, 9, 10, 30)};
  fs::path app_;
  std::optional<testing_support::AppFolderScope> appFolder_;
};

TEST_F(CatalogueCacheTest, KnownNamesReadTheFileOnceAndNeverWriteIt) {
  // "ann" occurs inside a printer name and "bob" inside a longer user
  // name: neither is added, as a search over the whole text decides.
  const std::string text =
      "<log><printers><name>Laser</name><ID>3</ID><cost>2</cost><monitored>1</monitored>"
      "<name>Hannah's</name><ID>4</ID><cost>0</cost><monitored>0</monitored></printers>"
      "<users><username>carl</username><username>bobby</username></users></log>";
  common::WriteTextFile(Path(), text);
  const platform::FileStamp before = platform::StampOf(Path());

  engine::JobLogStore store(clock_);
  for (int i = 0; i < 20; ++i) {
    Log(store, "Laser", "carl");
    Log(store, "Laser", "bob");
    Log(store, "Laser", "ann");
  }
  EXPECT_EQ(store.CatalogueReads(), 1u);
  EXPECT_EQ(platform::StampOf(Path()), before);
  EXPECT_EQ(ReadTextFile(Path()), text);
  EXPECT_TRUE(Logged("Printer_3"));
}

TEST_F(CatalogueCacheTest, ChangesByOtherProcessesAreSeenOnTheNextJob) {
  common::WriteTextFile(Path(), "<log><printers></printers></log>");
  engine::JobLogStore store(clock_);
  Log(store, "Ink", "anna");
  EXPECT_TRUE(fs::exists(app_ / "Logs" / "Printers" / "d_20060309.xml"));

  // The console adds the printer.
  EXPECT_EQ(WaitChild(SpawnChild([&] { common::ApplyMonitoredPrinters(Path(), {{"Ink", "3"}}); })), 0);
  Log(store, "Ink", "anna");
  EXPECT_TRUE(Logged("Printer_1"));

  // Another writer swaps two identifiers: same size, a new file.
  EXPECT_EQ(WaitChild(SpawnChild([&] {
              common::EditCatalogue(Path(), [](std::string& t) {
                t = "<log><printers><name>Ink</name><ID>2</ID><cost>3</cost><monitored>1</monitored>"
                    "<name>Old</name><ID>1</ID><cost>3</cost><monitored>0</monitored></printers>"
                    "<users><username>anna</username></users></log>";
                return true;
              });
            })),
            0);
  Log(store, "Ink", "anna");
  EXPECT_TRUE(Logged("Printer_2"));

  // The file is removed and made again without users: anna is listed anew.
  fs::remove(Path());
  common::WriteTextFile(Path(), "<log><printers></printers></log>");
  Log(store, "Ink", "anna");
  store.FlushCatalogue();
  EXPECT_EQ(common::ListUsers(ReadTextFile(Path())), std::vector<std::string>{"anna"});
}

TEST_F(CatalogueCacheTest, UsersAddedMeanwhileByOtherProcessesAreKept) {
  common::WriteTextFile(Path(), "<log><printers></printers></log>");
  engine::JobLogStore store(clock_);
  Log(store, "P", "first");  // the store now holds a copy
  store.FlushCatalogue();

  auto writer = [&](const char* prefix) {
    return [&, prefix] {
      engine::JobLogStore own(clock_);
      for (int i = 0; i < 100; ++i) Log(own, "P", std::string(prefix) + std::to_string(i) + "x");
    };
  };
  pid_t a = SpawnChild(writer("alpha"));
  pid_t b = SpawnChild(writer("beta"));
  EXPECT_EQ(WaitChild(a), 0);
  EXPECT_EQ(WaitChild(b), 0);
  Log(store, "P", "last");
  store.FlushCatalogue();

  const auto users = common::ListUsers(ReadTextFile(Path()));
  EXPECT_EQ(users.size(), 202u);
  EXPECT_EQ(std::set<std::string>(users.begin(), users.end()).size(), 202u);
  EXPECT_EQ(users.front(), "last");
  EXPECT_EQ(users.back(), "first");
}

TEST_F(CatalogueCacheTest, NewUserRewritesTheFileWithTheSameBytesAsBefore) {
  const std::string text =
      "<log><printers><name>Laser</name><ID>1</ID><cost>2</cost><monitored>1</monitored>"
      "</printers></log>";
  common::WriteTextFile(Path(), text);
  engine::JobLogStore store(clock_);
  Log(store, "Laser", "dora");
  Log(store, "Laser", "emil");
  store.FlushCatalogue();

  std::string expected = text;
  common::AddUserIfMissing(expected, "dora");
  common::AddUserIfMissing(expected, "emil");
  auto bytes = platform::ReadFileBytes(Path());
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, common::ToTextMode(expected));
  EXPECT_EQ(store.CatalogueReads(), 1u);  // its own writes are not read back
}

// A new user reaches the file a moment after its job, from a background
// writer. Whatever another process writes in that moment is kept, and the
// result is what writing at once would have made.
TEST_F(CatalogueCacheTest, AChangeMadeWhileANewUserWaitsIsKeptAndTheUserWritten) {
  const std::string text = "<log><printers></printers><users><username>carl</username></users></log>";
  common::WriteTextFile(Path(), text);
  engine::JobLogStore store(clock_);
  Log(store, "Ink", "dora");
  EXPECT_EQ(WaitChild(SpawnChild([&] { common::ApplyMonitoredPrinters(Path(), {{"Ink", "3"}}); })), 0);
  store.FlushCatalogue();

  std::string expected = text;
  common::ApplyMonitoredSet(expected, {{"Ink", "3"}});
  common::AddUserIfMissing(expected, "dora");
  EXPECT_EQ(ReadTextFile(Path()), expected);
  // The store goes on with the new text: the printer has its identifier.
  Log(store, "Ink", "dora");
  EXPECT_TRUE(Logged("Printer_1"));
}

TEST_F(CatalogueCacheTest, UsersStillWaitingAreWrittenWhenTheStoreEnds) {
  common::WriteTextFile(Path(), "<log><printers></printers></log>");
  {
    engine::JobLogStore store(clock_);
    for (int i = 0; i < 5; ++i) Log(store, "P", "late" + std::to_string(i) + "x");
  }
  const auto users = common::ListUsers(ReadTextFile(Path()));
  EXPECT_EQ(users, (std::vector<std::string>{"late4x", "late3x", "late2x", "late1x", "late0x"}));
  for (const auto& e : fs::directory_iterator(app_))
    EXPECT_EQ(e.path().filename().string().find(".tmp."), std::string::npos) << e.path();
}

}  // namespace
