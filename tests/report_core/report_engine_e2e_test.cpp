// The real host and engine monitoring two printers of a simulated spooler,
// then quillmark-report asked for every period and scope: the totals it
// gives are the ones of the jobs that were printed.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/report_periods.h"
#include "common/text_file.h"
#include "platform/file_system.h"
#include "tests/foundation/test_support.h"
#include "tests/support/engine_host.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kZone = "CET-1CEST,M3.5.0,M10.5.0/3";

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct Totals {
  long long jobs = 0, pages = 0, cents = 0;
  bool operator==(const Totals&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Totals& t) {
  return os << t.jobs << " jobs, " << t.pages << " pages, " << t.cents << " cents";
}

class ReportsOfMonitoredJobs : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = scratch_.Folder() / "app";
    spool_ = scratch_.Folder() / "spool";
    fs::create_directories(app_ / "Logs");
    for (const char* sheet : {"printers.xsl", "users.xsl", "style.xsl", "report-layout.xsl"})
      fs::copy_file(fs::path(QM_SOURCE_DIR) / "data" / sheet, app_ / "Logs" / sheet);
    common::WriteTextFile((app_ / "settings.xml").string(),
                          "<log><printers>"
                          "<name>Front Desk</name><ID>1</ID><cost>5</cost><monitored>1</monitored>"
                          "<name>Back Office</name><ID>2</ID><cost>2</cost><monitored>1</monitored>"
                          "</printers></log>");
    CRegString(common::QuillmarkValue("AppPath")).Set(app_.string());
    for (const char* printer : {"Front Desk", "Back Office"})
      ASSERT_EQ(Sim("add-printer " + Quote(printer)), 0);
  }

  int Run(const std::string& program, const std::string& args, std::string* out = nullptr,
          std::string* err = nullptr) {
    const std::string o = (scratch_.Folder() / "out").string(), e = (scratch_.Folder() / "err").string();
    const std::string command = "TZ=" + Quote(kZone) + " QUILLMARK_SPOOLER=" + Quote(spool_.string()) +
                                " QUILLMARK_REGISTRY=" + Quote(scratch_.RegistryRoot().string()) + " " +
                                QM_APP_DIR + "/" + program + " " + args + " >" + o + " 2>" + e +
                                " </dev/null";
    const int status = std::system(command.c_str());
    if (out) *out = platform::ReadFileBytes(o).ValueOr("");
    if (err) *err = platform::ReadFileBytes(e).ValueOr("");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int Sim(const std::string& args, std::string* out = nullptr) { return Run("quillmark-sim", args, out); }

  // Prints and completes a job and remembers what it should add up to.
  void Print(const std::string& printer, const std::string& user, int pages) {
    std::string id;
    ASSERT_EQ(Sim("submit " + Quote(printer) + " --document doc.pdf --user " + Quote(user) + " --pages " +
                      std::to_string(pages),
                  &id),
              0);
    while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
    ASSERT_EQ(Sim("complete " + Quote(printer) + " " + id), 0);
    const long long cents = pages * (printer == "Front Desk" ? 5 : 2);
    for (const std::string& scope : {std::string("all"), "printer:" + printer, "user:" + user}) {
      Totals& t = expected_[scope];
      t.jobs += 1;
      t.pages += pages;
      t.cents += cents;
    }
  }

  long long Logged() {
    const std::string all =
        platform::ReadFileBytes(common::ResolvePeriodFile(common::ReportPeriod::kThisYear,
                                                          common::ReportScope::kAllPrinting, app_.string(),
                                                          "", std::time(nullptr))
                                    .path)
            .ValueOr("");
    long long n = 0;
    for (std::size_t p = all.find("<event>"); p != std::string::npos; p = all.find("<event>", p + 1)) ++n;
    return n;
  }

  void StartHost() {
    host_ = std::make_unique<testing_support::EngineHost>(fs::path(QM_APP_DIR) / "quillcore-host",
                                                          scratch_.RegistryRoot(), spool_);
    host_->SetEnvironment("TZ", kZone);
    ASSERT_TRUE(host_->Start());
  }

  void StopHost() { EXPECT_EQ(host_->Stop(), 0); }

  // The totals line of a summary.
  static Totals FromSummary(const std::string& text) {
    Totals t;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("Total ", 0) != 0) continue;
      std::istringstream fields(line.substr(6));
      std::string cost;
      fields >> t.jobs >> t.pages >> cost;
      const std::size_t dot = cost.find('.');
      t.cents = std::stoll(cost.substr(0, dot)) * 100 + std::stoll(cost.substr(dot + 1));
    }
    return t;
  }

  ScratchRegistry scratch_;
  fs::path app_, spool_;
  std::unique_ptr<testing_support::EngineHost> host_;
  std::map<std::string, Totals> expected_;
};

TEST_F(ReportsOfMonitoredJobs, EveryPeriodScopeAndFormatAddsUpToThePrintedJobs) {
  StartHost();
  // The watchers start on the engine's first pass; the first job of each
  // printer is repeated until it is logged.
  for (const char* printer : {"Front Desk", "Back Office"}) {
    bool seen = false;
    for (int attempt = 0; attempt < 30 && !seen; ++attempt) {
      const long long before = Logged();
      Print(printer, "probe", 1);
      for (auto until = std::chrono::steady_clock::now() + 3s;
           !seen && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms))
        seen = Logged() > before;
      if (!seen) {
        // Not logged: it does not count.
        for (const std::string& scope :
             {std::string("all"), "printer:" + std::string(printer), std::string("user:probe")}) {
          Totals& t = expected_[scope];
          t.jobs -= 1;
          t.pages -= 1;
          t.cents -= std::string(printer) == "Front Desk" ? 5 : 2;
        }
      }
    }
    ASSERT_TRUE(seen) << printer;
  }
  Print("Front Desk", "ann", 3);
  Print("Front Desk", "bob", 12);
  Print("Back Office", "ann", 4);
  Print("Back Office", "chlo\xC3\xA9", 7);
  for (auto until = std::chrono::steady_clock::now() + 20s;
       Logged() < expected_["all"].jobs && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(50ms);
  StopHost();
  ASSERT_EQ(Logged(), expected_["all"].jobs);

  // Every period that contains today holds the jobs; the others have no file.
  std::vector<std::pair<std::string, std::string>> scopes = {{"--all", "all"}};
  for (const char* p : {"Front Desk", "Back Office"})
    scopes.push_back({"--printer " + Quote(p), std::string("printer:") + p});
  for (const char* u : {"ann", "bob", "chlo\xC3\xA9", "probe"})
    scopes.push_back({"--user " + Quote(u), std::string("user:") + u});
  for (std::string_view label : common::kReportPeriodLabels) {
    const bool current = label.rfind("Last", 0) != 0 && label != "Yesterday";
    for (const auto& [args, key] : scopes) {
      std::string out, err;
      const int status =
          Run("quillmark-report", "--period " + Quote(std::string(label)) + " " + args + " --format summary",
              &out, &err);
      if (current) {
        ASSERT_EQ(status, 0) << label << " " << args << err;
        EXPECT_EQ(FromSummary(out), expected_[key]) << label << " " << args << "\n" << out;
      } else {
        EXPECT_EQ(status, 1) << label << " " << args;
        EXPECT_EQ(err, "quillmark-report: The report your are trying to view does not exists.\n");
      }
    }
  }

  // The other formats of one report agree.
  std::string csv, html, xml;
  ASSERT_EQ(Run("quillmark-report", "--period 'This month' --all --format csv", &csv), 0);
  std::size_t rows = 0;
  for (char c : csv) rows += c == '\n';
  EXPECT_EQ(static_cast<long long>(rows), expected_["all"].jobs + 1);
  EXPECT_NE(csv.find(",7,14,Back Office,chlo\xC3\xA9\r\n"), std::string::npos) << csv;
  ASSERT_EQ(Run("quillmark-report", "--period 'This quarter' --printer 'Front Desk' --format html", &html),
            0);
  char cost[32];
  std::snprintf(cost, sizeof cost, "%lld.%02lld", expected_["printer:Front Desk"].cents / 100,
                expected_["printer:Front Desk"].cents % 100);
  EXPECT_NE(html.find(std::string("id=\"total-cost\">") + cost + "<"), std::string::npos) << cost;
  ASSERT_EQ(Run("quillmark-report", "--period Today --user bob", &xml), 0);
  EXPECT_NE(xml.find("<user>bob</user>"), std::string::npos);
  EXPECT_EQ(xml.find("<user>ann</user>"), std::string::npos);
}

}  // namespace
