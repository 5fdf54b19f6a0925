#include "common/report_assembly.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <stop_token>
#include <thread>

#include "common/report_messages.h"
#include "engine/app_folder.h"
#include "platform/file_system.h"
#include "report_support.h"
#include "tests/support/app_folder_scope.h"
#include "tests/support/fake_clock.h"

namespace {

namespace fs = std::filesystem;
using common::ReportPeriod;
using common::ReportScope;
using report_test::AppFolder;
using report_test::Job;

const std::vector<Job> kThreeJobs = {
    {9, 3, 2006, 8, 5, "Budget.xlsx", 3, 15, "Front Desk", "anna"},
    {9, 3, 2006, 9, 30, "Minutes.docx", 2, 10, "Front Desk", "ben"},
    {9, 3, 2006, 22, 15, "Poster.png", 1, 5, "Front Desk", "anna"},
};

std::string Bytes(const std::string& path) { return platform::ReadFileBytes(path).ValueOr("<missing>"); }

TEST(ReportAssembly, DocumentKeepsTheReservationAndTheRecordsByteForByte) {
  AppFolder folder;
  const std::string log = folder.Logs() + "/d_20060309.xml";
  AppFolder::WriteLog(log, kThreeJobs);
  const std::string header(common::ReportHeaderText(ReportScope::kPrinter));
  const std::string period = "<period>03/09/2006</period>";
  const std::string doc = common::DisplayReportPath(folder.App());
  EXPECT_EQ(doc, folder.Logs() + "/DisplayReport.xml");

  const common::ReportResult r = common::AssembleReportDocument(log, header, period, doc);
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(r.documentPath, doc);

  const std::string in = Bytes(log), out = Bytes(doc);
  ASSERT_EQ(out.size(), in.size() + 6);
  const std::size_t headerEnd = header.size() + period.size();
  EXPECT_EQ(out.substr(0, headerEnd), header + period);
  EXPECT_EQ(out.substr(headerEnd, 525 - headerEnd), std::string(525 - headerEnd, ' '));
  EXPECT_EQ(out.substr(525, in.size() - 525), in.substr(525));
  EXPECT_EQ(out.substr(525, 9), "\r\n<event>");
  EXPECT_EQ(out.substr(out.size() - 6), "</log>");
  // The log file itself is never touched.
  EXPECT_EQ(in.substr(0, 525), std::string(525, ' '));

  // In memory, the same bytes.
  const common::ReportResult mem = common::AssembleReportBytes(log, header, period);
  ASSERT_TRUE(mem);
  EXPECT_EQ(mem.bytes, out);
}

TEST(ReportAssembly, FailuresCarryTheirMessageAndLeaveTheLastDocument) {
  AppFolder folder;
  const std::string doc = common::DisplayReportPath(folder.App());
  const std::string header(common::ReportHeaderText(ReportScope::kAllPrinting));
  const std::string good = folder.Logs() + "/d_20060309.xml";
  AppFolder::WriteLog(good, kThreeJobs);
  ASSERT_TRUE(common::AssembleReportDocument(good, header, "<period>x</period>", doc));
  const std::string before = Bytes(doc);

  common::ReportResult r = common::AssembleReportDocument(folder.Logs() + "/d_20060310.xml", header, "", doc);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.message, "The report your are trying to view does not exists.");

  // Shortened by hand: the header would land on a record.
  const std::string shortLog = folder.Logs() + "/d_20060311.xml";
  common::WriteTextFile(shortLog, std::string(100, ' ') + "\n<event><day>09</day></event>");
  r = common::AssembleReportDocument(shortLog, header, "<period>x</period>", doc);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.message,
            "The report your are trying to view cannot be displayed. File could not be copyed to "
            "report folder.");

  // Long enough, but something other than blanks where the header goes.
  const std::string damaged = folder.Logs() + "/d_20060312.xml";
  std::string text = report_test::LogText(kThreeJobs);
  text.erase(0, 525);
  text = std::string(30, ' ') + text + std::string(600, ' ');
  common::WriteTextFile(damaged, text);
  r = common::AssembleReportDocument(damaged, header, "<period>x</period>", doc);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.message, common::kReportCannotBeDisplayed);

  // A document that cannot be written.
  r = common::AssembleReportDocument(good, header, "", folder.Logs() + "/missing/DisplayReport.xml");
  EXPECT_FALSE(r);
  EXPECT_EQ(r.message, common::kReportCannotBeDisplayed);

  EXPECT_EQ(Bytes(doc), before);
  // Nothing but the logs and the document is left in the folder.
  for (const auto& entry : fs::directory_iterator(folder.Logs()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST(ReportAssembly, ReadersNeverSeeAHalfWrittenDocument) {
  AppFolder folder;
  std::vector<Job> many;
  for (int i = 0; i < 4000; ++i)
    many.push_back({9, 3, 2006, 8, i % 60, "Doc " + std::to_string(i), 1, 5, "P", "u"});
  const std::string bigLog = folder.Logs() + "/y_2006.xml";
  const std::string smallLog = folder.Logs() + "/d_20060309.xml";
  AppFolder::WriteLog(bigLog, many);
  AppFolder::WriteLog(smallLog, kThreeJobs);
  const std::string doc = common::DisplayReportPath(folder.App());
  const std::string header(common::ReportHeaderText(ReportScope::kAllPrinting));
  ASSERT_TRUE(common::AssembleReportDocument(smallLog, header, "<period>a</period>", doc));

  // Two writers (two consoles, or a console and quillmark-report) and a
  // reader on the same document.
  std::atomic<int> written{0};
  {
    std::jthread writer([&](std::stop_token stop) {
      for (int i = 0; !stop.stop_requested() && i < 400; ++i) {
        common::AssembleReportDocument(i % 2 ? bigLog : smallLog, header, "<period>a</period>", doc);
        ++written;
      }
    });
    std::jthread other([&](std::stop_token stop) {
      for (int i = 0; !stop.stop_requested() && i < 400; ++i)
        common::AssembleReportDocument(i % 2 ? smallLog : bigLog, header, "<period>a</period>", doc);
    });
    int reads = 0;
    while (written < 400) {
      const std::string seen = Bytes(doc);
      ASSERT_EQ(seen.rfind(header, 0), 0u);
      ASSERT_EQ(seen.substr(seen.size() - 6), "</log>");
      ASSERT_TRUE(seen.size() == Bytes(smallLog).size() + 6 || seen.size() == Bytes(bigLog).size() + 6);
      ++reads;
    }
    EXPECT_GT(reads, 0);
  }
}

// The document is made by copying the log into a new file and writing
// over the copy; the bytes in memory are made by reading it. Both must be
// the same for logs at, below and just above the reservation's size.
TEST(ReportAssembly, DocumentAndBytesInMemoryAgreeAroundTheReservationSize) {
  AppFolder folder;
  const std::string doc = common::DisplayReportPath(folder.App());
  const std::string header(common::ReportHeaderText(ReportScope::kUser));
  const std::string period = "<period>03/2006</period>";
  const std::string log = folder.Logs() + "/m_03_2006.xml";
  const std::string record = report_test::LogText({kThreeJobs[0]}).substr(525);
  for (const std::string& bytes :
       {std::string(524, ' '), std::string(525, ' '), std::string(526, ' '), std::string(525, ' ') + "\r",
        std::string(525, ' ') + record, std::string(600, ' ') + record}) {
    SCOPED_TRACE(bytes.size());
    ASSERT_TRUE(platform::WriteFileBytes(log, bytes));
    const common::ReportResult made = common::AssembleReportDocument(log, header, period, doc);
    const common::ReportResult mem = common::AssembleReportBytes(log, header, period);
    ASSERT_EQ(made.ok, mem.ok);
    if (!made) {
      EXPECT_EQ(made.message, common::kReportCannotBeDisplayed);
      EXPECT_EQ(mem.message, common::kReportCannotBeDisplayed);
      continue;
    }
    EXPECT_EQ(Bytes(doc), mem.bytes);
    EXPECT_EQ(mem.bytes.size(), bytes.size() + 6);
  }
}

// The log may shrink while it is copied (edited by hand, or cut by another
// program). What is shown is then either the message or a document made of
// the header, the start of the log and the end tag: never blanks or stale
// bytes past the log's end, never a header over a record.
TEST(ReportAssembly, ALogThatShrinksWhileCopiedGivesAWholePrefixOrTheMessage) {
  AppFolder folder;
  std::vector<Job> many;
  for (int i = 0; i < 20000; ++i)
    many.push_back({9, 3, 2006, 8, i % 60, "Doc " + std::to_string(i), 1, 5, "P", "u"});
  const std::string log = folder.Logs() + "/y_2006.xml";
  AppFolder::WriteLog(log, many);
  const std::string full = Bytes(log);
  const std::string doc = common::DisplayReportPath(folder.App());
  const std::string header(common::ReportHeaderText(ReportScope::kAllPrinting));
  const std::string period = "<period>2006</period>";
  const common::ReportResult whole = common::AssembleReportBytes(log, header, period);
  ASSERT_TRUE(whole);
  const std::string expected = whole.bytes.substr(0, whole.bytes.size() - 6);

  int shown = 0, refused = 0;
  {
    std::jthread cutter([&](std::stop_token stop) {
      for (std::size_t i = 0; !stop.stop_requested(); ++i) {
        std::filesystem::resize_file(log, (i % 3 == 0) ? 300 : full.size() / (2 + i % 5));
        platform::WriteFileBytes(log, full);
      }
    });
    for (int i = 0; i < 150; ++i) {
      const common::ReportResult r = common::AssembleReportDocument(log, header, period, doc);
      if (!r) {
        ASSERT_EQ(r.message, common::kReportCannotBeDisplayed);
        ++refused;
        continue;
      }
      const std::string seen = Bytes(doc);
      ASSERT_GE(seen.size(), 525u + 6);
      ASSERT_EQ(seen.substr(seen.size() - 6), "</log>");
      ASSERT_EQ(expected.compare(0, seen.size() - 6, seen, 0, seen.size() - 6), 0)
          << "document of " << seen.size() << " bytes is not the start of the log";
      ++shown;
    }
  }
  EXPECT_GT(shown, 0);
  RecordProperty("refused", refused);
}

class ReportRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    common::WriteTextFile(folder.App() + "/settings.xml",
                          "<log><printers>"
                          "<name>Front Desk</name><ID>3</ID><cost>5</cost><monitored>1</monitored>"
                          "<name>Old Laser</name><ID>7</ID><cost>2</cost><monitored>0</monitored>"
                          "<name>Front Desk</name><ID>4</ID><cost>5</cost><monitored>0</monitored>"
                          "</printers><users><username>anna</username></users></log>");
  }
  common::ReportResult Run(ReportScope scope, const std::string& name, bool defaultPrinter = false,
                           ReportPeriod period = ReportPeriod::kToday) {
    common::ReportRequest request{period, scope, name, defaultPrinter};
    return common::AssembleReport(folder.App(), request, clock, common::DisplayReportPath(folder.App()));
  }
  testing_support::TimeZone zone{"UTC"};
  AppFolder folder;
  testing_support::FakeClock clock{testing_support::LocalTime(2006, 3, 9, 12)};
};

TEST_F(ReportRequests, PrinterIdentifierComesFromTheCatalogue) {
  AppFolder::WriteLog(folder.Logs() + "/Printers/Printer_4/d_20060309.xml", kThreeJobs);
  AppFolder::WriteLog(folder.Logs() + "/Printers/Printer_7/d_20060309.xml", kThreeJobs);
  // The last entry of a name wins; the monitored flag is not consulted.
  const common::ReportResult r = Run(ReportScope::kPrinter, "Front Desk");
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(
      Bytes(r.documentPath)
          .rfind(std::string(common::ReportHeaderText(ReportScope::kPrinter)) + "<period>03/09/2006</period>",
                 0),
      0u);
  EXPECT_TRUE(Run(ReportScope::kPrinter, "Old Laser", true));

  EXPECT_EQ(Run(ReportScope::kPrinter, "Nowhere").message,
            "The selected printer is not monitored. Please check the Printers menu.");
  EXPECT_EQ(Run(ReportScope::kPrinter, "No default printer", true).message,
            "The default printer is not monitored. Please check the Printers menu.");
  EXPECT_EQ(Run(ReportScope::kPrinter, "Old Laser", false, ReportPeriod::kYesterday).message,
            common::kReportMissing);
}

TEST_F(ReportRequests, UserReportReadsWhatTheEngineWroteAndNothingOutsideLogs) {
  // The engine logs jobs for users with hostile names at the fake date.
  const testing_support::AppFolderScope appFolder(folder.App());
  engine::JobLogStore store(clock);
  store.Log(9, 3, 2006, 11, 0, "Secret.pdf", 4, "5", "Front Desk", "../../x");
  store.Log(9, 3, 2006, 11, 5, "Plan.pdf", 2, "5", "Front Desk", "..");
  // A planted file where the unmapped name would lead.
  AppFolder::WriteLog(folder.Root().string() + "/x/d_20060309.xml", kThreeJobs);

  const common::ReportResult r = Run(ReportScope::kUser, "../../x");
  ASSERT_TRUE(r) << r.message;
  const std::string doc = Bytes(r.documentPath);
  EXPECT_NE(doc.find("<doc>Secret.pdf</doc>"), std::string::npos);
  EXPECT_EQ(doc.find("Plan.pdf"), std::string::npos);
  EXPECT_EQ(doc.find("Budget"), std::string::npos);
  EXPECT_NE(
      doc.find(std::string(common::ReportHeaderText(ReportScope::kUser)) + "<period>03/09/2006</period>"),
      std::string::npos);

  const common::ReportResult dots = Run(ReportScope::kUser, "..");
  ASSERT_TRUE(dots) << dots.message;
  EXPECT_NE(Bytes(dots.documentPath).find("Plan.pdf"), std::string::npos);

  // The engine and the reports only ever touched files below "Logs".
  for (const auto& entry : fs::recursive_directory_iterator(folder.App())) {
    if (!entry.is_regular_file()) continue;
    const std::string rel = fs::relative(entry.path(), folder.App()).string();
    EXPECT_TRUE(rel.rfind("Logs/", 0) == 0 || rel.rfind("settings.xml", 0) == 0) << rel;
  }
}

}  // namespace
