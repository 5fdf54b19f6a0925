// quillmark-report driven as a program, the way scripts use it.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "../foundation/test_support.h"
#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/report_assembly.h"
#include "common/report_periods.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "report_support.h"

namespace {

using common::ReportPeriod;
using common::ReportScope;
using report_test::AppFolder;
using report_test::Job;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class ReportTool : public ::testing::Test {
 protected:
  void SetUp() override {
    folder.InstallStylesheets();
    CRegString(common::QuillmarkValue("AppPath")).Set(folder.App());
    common::WriteTextFile(folder.App() + "/settings.xml",
                          "<log><printers><name>Front Desk</name><ID>2</ID><cost>5</cost>"
                          "<monitored>1</monitored></printers><users><username>anna</username>"
                          "</users></log>");
    // Today's files, as the clock of the program will see them.
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::vector<Job> jobs = {
        {8, 12, 2026, 9, 0, "Budget, final.xlsx", 3, 15, "Front Desk", "anna"},
        {8, 12, 2026, 9, 5, "Notes.txt", 7, 35, "Front Desk", "ben"},
    };
    for (ReportScope scope : {ReportScope::kAllPrinting, ReportScope::kPrinter, ReportScope::kUser}) {
      const std::string key = scope == ReportScope::kPrinter ? "2" : "anna";
      AppFolder::WriteLog(common::ResolvePeriodFile(ReportPeriod::kToday, scope, folder.App(), key, now).path,
                          jobs);
    }
  }

  Outcome Run(const std::string& args) {
    const std::string out = (folder.Root() / "stdout").string();
    const std::string err = (folder.Root() / "stderr").string();
    const std::string command = "QUILLMARK_REGISTRY='" + scratch.RegistryRoot().string() + "' '" +
                                QM_APP_DIR + "/quillmark-report' " + args + " >'" + out + "' 2>'" + err +
                                "' </dev/null";
    Outcome o;
    const int status = std::system(command.c_str());
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = platform::ReadFileBytes(out).ValueOr("");
    o.err = platform::ReadFileBytes(err).ValueOr("");
    return o;
  }

  ScratchRegistry scratch;
  AppFolder folder;
};

TEST_F(ReportTool, EachFormatOfTodaysReport) {
  const Outcome xml = Run("--period Today --all");
  ASSERT_EQ(xml.status, 0) << xml.err;
  EXPECT_EQ(xml.out.rfind(std::string(common::ReportHeaderText(ReportScope::kAllPrinting)) + "<period>", 0),
            0u);
  EXPECT_EQ(xml.out.substr(xml.out.size() - 6), "</log>");
  const std::string log = common::ResolvePeriodFile(ReportPeriod::kToday, ReportScope::kAllPrinting,
                                                    folder.App(), "", std::time(nullptr))
                              .path;
  EXPECT_EQ(xml.out.size(), platform::ReadFileBytes(log)->size() + 6);

  const Outcome html = Run("--period Today --printer 'Front Desk' --format html");
  ASSERT_EQ(html.status, 0) << html.err;
  EXPECT_NE(html.out.find("id=\"total-cost\">0.50<"), std::string::npos);
  EXPECT_NE(html.out.find("id=\"total-pages\">10<"), std::string::npos);
  EXPECT_NE(html.out.find("<h1>Front Desk</h1>"), std::string::npos);

  const Outcome csv = Run("--period Today --user anna --format csv");
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out,
            "Date,Time,Document,Pages,Cost (cents),Printer,User\r\n"
            "2026-12-08,09:00,\"Budget, final.xlsx\",3,15,Front Desk,anna\r\n"
            "2026-12-08,09:05,Notes.txt,7,35,Front Desk,ben\r\n");

  const Outcome summary = Run("--period Today --all --format summary");
  ASSERT_EQ(summary.status, 0) << summary.err;
  EXPECT_NE(summary.out.find("\nben       1      7  0.35\n"), std::string::npos) << summary.out;
  EXPECT_NE(summary.out.find("\nTotal     2     10  0.50\n"), std::string::npos) << summary.out;
}

TEST_F(ReportTool, OutputFileIsReplacedWhole) {
  const std::string target = (folder.Root() / "report.xml").string();
  common::WriteTextFile(target, "old");
  const Outcome o = Run("--period Today --all --format xml --output '" + target + "'");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(o.out.empty());
  const std::string written = platform::ReadFileBytes(target).Value();
  EXPECT_EQ(written, Run("--period Today --all").out);
  for (const auto& entry : std::filesystem::directory_iterator(folder.Root()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  // The console's document is left alone.
  EXPECT_FALSE(platform::FileExists(common::DisplayReportPath(folder.App())));
}

TEST_F(ReportTool, ReportMessagesExitOne) {
  Outcome o = Run("--period Yesterday --all");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "quillmark-report: The report your are trying to view does not exists.\n");
  EXPECT_TRUE(o.out.empty());

  o = Run("--period Today --printer 'Back Office' --format csv");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "quillmark-report: The selected printer is not monitored. Please check the Printers menu.\n");

  const std::string shortLog = common::ResolvePeriodFile(ReportPeriod::kThisYear, ReportScope::kAllPrinting,
                                                         folder.App(), "", std::time(nullptr))
                                   .path;
  common::WriteTextFile(shortLog, "  \n<event><day>01</day></event>");
  o = Run("--period 'This year' --all --format summary");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "quillmark-report: The report your are trying to view cannot be displayed. File could not "
            "be copyed to report folder.\n");

  // "../../x" reads nothing outside "Logs".
  AppFolder::WriteLog((folder.Root() / "x" / std::filesystem::path(shortLog).filename()).string(), {});
  o = Run("--period 'This year' --user ../../x");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "quillmark-report: The report your are trying to view does not exists.\n");
}

TEST_F(ReportTool, AppFolderFromTheCommandLineOrTheRegistry) {
  AppFolder other;
  Outcome o = Run("--period Today --all --app '" + other.App() + "'");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("does not exists."), std::string::npos);

  CRegString(common::QuillmarkValue("AppPath")).Set("");
  o = Run("--period Today --all");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("AppPath"), std::string::npos);
  EXPECT_EQ(Run("--period Today --all --app '" + folder.App() + "/'").status, 0);
}

TEST_F(ReportTool, BadArgumentsPrintTheUsageAndExitTwo) {
  for (const char* args :
       {"", "--all", "--period Today", "--period today --all", "--period Today --all --user anna",
        "--period Today --all --format pdf", "--period Today --all --output", "--period Today --printer",
        "--period Today --all extra", "--period Today --period Today --all"}) {
    const Outcome o = Run(args);
    EXPECT_EQ(o.status, 2) << args;
    EXPECT_NE(o.err.find("Usage: quillmark-report --period LABEL"), std::string::npos) << args;
    EXPECT_NE(o.err.find("\"Last semester\""), std::string::npos) << args;
    EXPECT_TRUE(o.out.empty()) << args;
  }
}

}  // namespace
