#include "common/catalogue_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "tests/foundation/test_support.h"
#include "tests/support/child_process.h"

namespace {

namespace fs = std::filesystem;

using testing_support::SpawnChild;
using testing_support::WaitChild;

class CatalogueFileTest : public ::testing::Test {
 protected:
  std::string Path() const { return (scratch_.Folder() / "settings.xml").string(); }
  ScratchRegistry scratch_;
};

TEST_F(CatalogueFileTest, TwoProcessesRegisteringUsersLoseNone) {
  common::WriteTextFile(Path(), "<log><printers></printers></log>");
  auto writer = [this](const char* prefix) {
    return [this, prefix] {
      for (int i = 0; i < 500; ++i)
        common::RegisterCatalogueUser(Path(), std::string(prefix) + std::to_string(i) + "x");
    };
  };
  pid_t a = SpawnChild(writer("alpha"));
  pid_t b = SpawnChild(writer("beta"));
  EXPECT_EQ(WaitChild(a), 0);
  EXPECT_EQ(WaitChild(b), 0);
  const auto users = common::ListUsers(common::ReadCatalogue(Path()));
  EXPECT_EQ(users.size(), 1000u);
  EXPECT_EQ(std::set<std::string>(users.begin(), users.end()).size(), 1000u);
}

TEST_F(CatalogueFileTest, KillingAWriterNeverLeavesATruncatedCatalogue) {
  common::WriteTextFile(Path(),
                        "<log><printers><name>P</name><ID>1</ID><cost>2</cost>"
                        "<monitored>1</monitored></printers></log>");
  for (int round = 0; round < 20; ++round) {
    pid_t child = SpawnChild([this, round] {
      for (int i = 0;; ++i)
        common::RegisterCatalogueUser(Path(), "r" + std::to_string(round) + "u" + std::to_string(i) + "x");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + round * 3));
    testing_support::KillChild(child);
    const std::string text = common::ReadCatalogue(Path());
    ASSERT_EQ(text.rfind("<log><printers><name>P</name>", 0), 0u) << "round " << round;
    ASSERT_GE(text.size(), 7u);
    ASSERT_EQ(text.substr(text.size() - 6), "</log>") << "round " << round;
  }
  // Left-over temporary files of killed writers never replace the catalogue.
  EXPECT_EQ(common::ListPrinters(common::ReadCatalogue(Path())).size(), 1u);
}

TEST_F(CatalogueFileTest, ConsoleWritersChangeTheFileAndAskForAReload) {
  CRegDword(common::QuillmarkValue("Reset")).Set(0).Write();
  ASSERT_TRUE(common::ApplyMonitoredPrinters(Path(), {{"Laser \"A\"", ""}, {"Ink", "7"}}));
  EXPECT_EQ(CRegDword(common::QuillmarkValue("Reset")).Get(), 1u);
  auto printers = common::ListPrinters(common::ReadCatalogue(Path()));
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_EQ(printers[0].name, "Ink");
  EXPECT_EQ(printers[1].name, "Laser A");
  EXPECT_EQ(printers[1].cost, "0");

  CRegDword(common::QuillmarkValue("Reset")).Set(0).Write();
  ASSERT_TRUE(common::ChangePrinterCost(Path(), "Ink", 12));
  EXPECT_EQ(CRegDword(common::QuillmarkValue("Reset")).Get(), 1u);
  printers = common::ListPrinters(common::ReadCatalogue(Path()));
  EXPECT_EQ(printers[0].cost, "12");
  EXPECT_EQ(printers[0].id, "2");
  EXPECT_EQ(printers[0].monitored, "1");
  // Stored with CR LF-free text: the catalogue carries no whitespace of its own.
  EXPECT_EQ(ReadTextFile(Path()).find('\n'), std::string::npos);
}

}  // namespace
