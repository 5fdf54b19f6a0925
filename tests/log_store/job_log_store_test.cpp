#include "engine/job_log_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "common/catalogue_file.h"
#include "common/text_file.h"
#include "engine/app_folder.h"
#include "tests/foundation/test_support.h"
#include "tests/support/app_folder_scope.h"
#include "tests/support/fake_clock.h"
#include "tests/support/read_file.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FakeClock;
using testing_support::LocalTime;
using testing_support::TimeZone;

using testing_support::ReadWholeFile;

void Put(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary);
  out << bytes;
}

// Every regular file below `root`, relative to it, with '/' separators.
std::set<std::string> FilesBelow(const fs::path& root) {
  std::set<std::string> out;
  for (auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) out.insert(fs::relative(e.path(), root).generic_string());
  return out;
}

class LogStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = scratch_.Folder() / "app";
    fs::create_directories(app_);
    appFolder_.emplace(app_);
  }

  void Catalogue(const std::string& text) { Put(app_ / "settings.xml", text); }
  std::string CatalogueText() { return ReadTextFile((app_ / "settings.xml").string()); }

  ScratchRegistry scratch_;
  TimeZone zone_{"UTC0"};
  fs::path app_;
  std::optional<testing_support::AppFolderScope> appFolder_;
};

const std::string kSpaces(525, ' ');

TEST_F(LogStoreTest, OneJobWritesExactlyTheEighteenFilesByteForByte) {
  Catalogue(
      "<log><printers><name>Laser 1</name><ID>7</ID><cost>5</cost><monitored>1</monitored>"
      "</printers></log>");
  FakeClock clock(LocalTime(2006, 3, 9, 10, 30));
  engine::JobLogStore store(clock);
  store.Log(8, 3, 2006, 9, 5, "Q&A <draft>.txt", 12, "5", "Laser 1", "bob");
  store.FlushCatalogue();

  const std::string record =
      "\r\n<event><day>08</day><month>03</month><year>2006</year><hour>09</hour><min>05</min>"
      "<doc>QA draft.txt</doc><pages>12</pages><cost>60</cost><printer>Laser 1</printer>"
      "<user>bob</user></event>";
  // 9 March 2006 is day 68 of the year: week 10.
  const std::vector<std::string> names = {"d_20060309.xml", "w_10_2006.xml", "m_03_2006.xml",
                                          "q_1_2006.xml",   "s_1_2006.xml",  "y_2006.xml"};
  std::set<std::string> expected = {"settings.xml"};
  for (const std::string folder : {"Logs/", "Logs/Users/bob/", "Logs/Printers/Printer_7/"})
    for (const auto& n : names) expected.insert(folder + n);
  std::set<std::string> written = FilesBelow(app_);
  written.erase("Logs/quillcore.lock");
  written.erase("settings.xml.lock");
  EXPECT_EQ(written, expected);
  for (const auto& f : expected) {
    if (f == "settings.xml") continue;
    EXPECT_EQ(ReadWholeFile(app_ / f), kSpaces + record) << f;
  }

  // The second record follows directly, with no second reservation.
  store.Log(9, 3, 2006, 10, 0, "b", 1, "5", "Laser 1", "bob");
  EXPECT_EQ(ReadWholeFile(app_ / "Logs/Printers/Printer_7/d_20060309.xml"),
            kSpaces + record +
                "\r\n<event><day>09</day><month>03</month><year>2006</year><hour>10</hour>"
                "<min>00</min><doc>b</doc><pages>1</pages><cost>5</cost><printer>Laser 1</printer>"
                "<user>bob</user></event>");
  store.FlushCatalogue();
  EXPECT_EQ(CatalogueText().find("<users><username>bob</username></users>") != std::string::npos, true);
}

TEST_F(LogStoreTest, JobSubmittedLastYearGoesIntoTheNewYearsFiles) {
  FakeClock clock(LocalTime(2007, 1, 1, 0, 1));
  engine::JobLogStore store(clock);
  store.Log(31, 12, 2006, 23, 59, "doc", 2, "3", "P", "ann");
  for (const char* f :
       {"d_20070101.xml", "w_1_2007.xml", "m_01_2007.xml", "q_1_2007.xml", "s_1_2007.xml", "y_2007.xml"}) {
    const std::string bytes = ReadWholeFile(app_ / "Logs" / f);
    EXPECT_NE(bytes.find("<day>31</day><month>12</month><year>2006</year><hour>23</hour><min>59</min>"),
              std::string::npos)
        << f;
  }
  EXPECT_FALSE(fs::exists(app_ / "Logs/y_2006.xml"));
}

TEST_F(LogStoreTest, WeekTurnsAtOneInTheMorningDuringSummerTime) {
  TimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
  // 1 January is in winter time, so in summer a full week is reached one
  // hour later on the clock: 00:30 on the Thursday 2 July 2026 is still in
  // week 26, 01:30 is in week 27.
  FakeClock clock(LocalTime(2026, 7, 2, 0, 30));
  engine::JobLogStore store(clock);
  store.Log(1, 7, 2026, 12, 0, "a", 1, "1", "P", "u");
  EXPECT_TRUE(fs::exists(app_ / "Logs/w_26_2026.xml"));
  clock.Set(LocalTime(2026, 7, 2, 1, 30));
  store.Log(1, 7, 2026, 12, 0, "a", 1, "1", "P", "u");
  EXPECT_TRUE(fs::exists(app_ / "Logs/w_27_2026.xml"));
}

TEST_F(LogStoreTest, CostIsCentsPerPageTimesPagesAndNonNumbersCountZero) {
  FakeClock clock(LocalTime(2006, 3, 9, 12));
  engine::JobLogStore store(clock);
  store.Log(9, 3, 2006, 1, 2, "a", 12, "5", "P", "u");
  store.Log(9, 3, 2006, 1, 2, "b", 12, "abc", "P", "u");
  store.Log(9, 3, 2006, 1, 2, "c", 4000000000u, "2000", "P", "u");
  const std::string bytes = ReadWholeFile(app_ / "Logs/y_2006.xml");
  EXPECT_NE(bytes.find("<doc>a</doc><pages>12</pages><cost>60</cost>"), std::string::npos);
  EXPECT_NE(bytes.find("<doc>b</doc><pages>12</pages><cost>0</cost>"), std::string::npos);
  EXPECT_NE(bytes.find("<pages>4000000000</pages><cost>8000000000000</cost>"), std::string::npos);
}

TEST_F(LogStoreTest, UnknownPrinterWritesIntoThePrintersFolderItself) {
  FakeClock clock(LocalTime(2006, 3, 9, 12));
  engine::JobLogStore store(clock);
  store.Log(9, 3, 2006, 1, 2, "a", 1, "1", "Nowhere", "u");
  EXPECT_TRUE(fs::exists(app_ / "Logs/Printers/d_20060309.xml"));
  EXPECT_TRUE(fs::exists(app_ / "Logs/Printers/y_2006.xml"));
}

TEST_F(LogStoreTest, EmptyTextsAreLoggedAndNoEmptyUserIsRegistered) {
  Catalogue("<log><printers></printers></log>");
  FakeClock clock(LocalTime(2006, 3, 9, 12));
  engine::JobLogStore store(clock);
  store.Log(9, 3, 2006, 1, 2, "", 0, "", "", "");
  EXPECT_NE(ReadWholeFile(app_ / "Logs/d_20060309.xml")
                .find("<doc></doc><pages>0</pages><cost>0</cost><printer></printer><user></user>"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(app_ / "Logs/Users/d_20060309.xml"));
  EXPECT_EQ(CatalogueText(), "<log><printers></printers></log>");
}

TEST_F(LogStoreTest, HostileNamesStayInsideTheLogsTreeAndKeepFilesWellFormed) {
  FakeClock clock(LocalTime(2006, 3, 9, 12));
  engine::JobLogStore store(clock);
  store.Log(9, 3, 2006, 1, 2, "line\none\x01", 1, "1", "P", "../../x");
  store.Log(9, 3, 2006, 1, 2, "a", 1, "1", "P", "..");
  store.Log(9, 3, 2006, 1, 2, "a", 1, "1", "P", "a\\b/c");
  for (const auto& f : FilesBelow(scratch_.Folder())) {
    if (f.rfind("registry/", 0) == 0 || f.rfind("app/settings.xml", 0) == 0) continue;
    EXPECT_EQ(f.rfind("app/Logs/", 0), 0u) << f;
  }
  for (auto& e : fs::directory_iterator(app_ / "Logs/Users")) EXPECT_NE(e.path().filename(), "..");
  // The record keeps the name (it is text, not a path) but no line break.
  const std::string bytes = ReadWholeFile(app_ / "Logs/d_20060309.xml");
  EXPECT_NE(bytes.find("<doc>lineone</doc>"), std::string::npos);
  EXPECT_NE(bytes.find("<user>../../x</user>"), std::string::npos);
  // The catalogue id of a printer is a folder name too.
  Catalogue(
      "<log><printers><name>Q</name><ID>../../../evil</ID><cost>1</cost>"
      "<monitored>1</monitored></printers></log>");
  store.Log(9, 3, 2006, 1, 2, "a", 1, "1", "Q", "u");
  for (const auto& f : FilesBelow(scratch_.Folder())) {
    if (f.rfind("registry/", 0) == 0 || f.rfind("app/settings.xml", 0) == 0) continue;
    EXPECT_EQ(f.rfind("app/Logs/", 0), 0u) << f;
  }
}

TEST_F(LogStoreTest, UsersWhoseNamesOnceSharedAFolderEachGetTheirOwn) {
  FakeClock clock(LocalTime(2006, 3, 9, 12));
  engine::JobLogStore store(clock);
  const std::pair<const char*, const char*> pairs[] = {
      {"../../evil", "___.._evil"}, {"..", "__"}, {".", "_"}};
  for (const auto& [odd, plain] : pairs) {
    store.Log(9, 3, 2006, 1, 2, std::string("by ") + odd, 1, "1", "P", odd);
    store.Log(9, 3, 2006, 1, 2, std::string("by ") + plain, 1, "1", "P", plain);
    const std::string plainDay = ReadWholeFile(app_ / "Logs/Users" / plain / "d_20060309.xml");
    EXPECT_NE(plainDay.find(std::string("<doc>by ") + plain + "</doc>"), std::string::npos) << plain;
    EXPECT_EQ(plainDay.find(std::string("<doc>by ") + odd + "</doc>"), std::string::npos)
        << odd << " is in the reports of " << plain;
  }
  EXPECT_NE(
      ReadWholeFile(app_ / "Logs/Users/%2E%2E%2F..%2Fevil/d_20060309.xml").find("<doc>by ../../evil</doc>"),
      std::string::npos);
}

TEST_F(LogStoreTest, FileThatCannotBeOpenedIsSkippedAndTheOthersWritten) {
  FakeClock clock(LocalTime(2006, 3, 9, 12));
  fs::create_directories(app_ / "Logs/m_03_2006.xml");  // a folder where a file should be
  engine::JobLogStore store(clock);
  store.Log(9, 3, 2006, 1, 2, "a", 1, "1", "P", "u");
  EXPECT_TRUE(fs::is_directory(app_ / "Logs/m_03_2006.xml"));
  EXPECT_TRUE(fs::exists(app_ / "Logs/q_1_2006.xml"));
  EXPECT_TRUE(fs::exists(app_ / "Logs/Users/u/m_03_2006.xml"));
}

TEST_F(LogStoreTest, ConcurrentWatchersNeverInterleaveAndReserveOnce) {
  Catalogue("<log><printers></printers></log>");
  FakeClock clock(LocalTime(2006, 3, 9, 12));
  constexpr int kThreads = 4, kJobs = 60;
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        engine::JobLogStore store(clock);
        for (int j = 0; j < kJobs; ++j)
          store.Log(9, 3, 2006, 1, 2, "doc", 1, "1", "P" + std::to_string(t),
                    "user" + std::to_string(t) + "_" + std::to_string(j % 7));
      });
  }
  const std::string text = common::FromTextMode(ReadWholeFile(app_ / "Logs/y_2006.xml"));
  ASSERT_EQ(text.substr(0, 525), kSpaces);
  std::size_t records = 0;
  for (std::size_t p = 525; p < text.size(); ++records) {
    ASSERT_EQ(text.compare(p, 8, "\n<event>"), 0) << "at " << p;
    p = text.find("</event>", p);
    ASSERT_NE(p, std::string::npos);
    p += 8;
  }
  EXPECT_EQ(records, std::size_t(kThreads * kJobs));
  // Every user was registered exactly once although the threads raced.
  const auto users = common::ListUsers(CatalogueText());
  EXPECT_EQ(users.size(), std::size_t(kThreads * 7));
  EXPECT_EQ(std::set<std::string>(users.begin(), users.end()).size(), users.size());
}

}  // namespace
