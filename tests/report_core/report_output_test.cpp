#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/xpath.h>

#include <memory>
#include <string>
#include <vector>

#include "common/report_assembly.h"
#include "common/report_csv.h"
#include "common/report_jobs.h"
#include "common/report_summary.h"
#include "common/report_transform.h"
#include "platform/file_system.h"
#include "report_support.h"

namespace {

using common::ReportScope;
using report_test::AppFolder;
using report_test::Job;

// Three users on two printers over two days; totals 6 jobs, 25 pages,
// 1234 cents.
const std::vector<Job> kJobs = {
    {1, 3, 2006, 8, 5, "Budget, final.xlsx", 3, 15, "Front Desk", "anna"},
    {1, 3, 2006, 9, 30, "Minutes.docx", 2, 10, "Back Office", "ben"},
    {2, 3, 2006, 10, 0, "Poster \xE9t\xE9.png", 10, 1000, "Front Desk", "chlo\xE9"},
    {2, 3, 2006, 11, 1, "Plan.pdf", 4, 80, "Back Office", "anna"},
    {2, 3, 2006, 12, 2, "Map.pdf", 5, 125, "Front Desk", "ben"},
    {2, 3, 2006, 13, 3, "Newest.txt", 1, 4, "Back Office", "anna"},
};

TEST(ReportCsv, EveryJobQuotedAsRfc4180InUtf8) {
  const std::string csv = common::ReportJobsToCsv(common::ReadReportJobs(report_test::LogText(kJobs)));
  const std::vector<std::string> expected = {
      "Date,Time,Document,Pages,Cost (cents),Printer,User",
      "2006-03-01,08:05,\"Budget, final.xlsx\",3,15,Front Desk,anna",
      "2006-03-01,09:30,Minutes.docx,2,10,Back Office,ben",
      "2006-03-02,10:00,Poster \xC3\xA9t\xC3\xA9.png,10,1000,Front Desk,chlo\xC3\xA9",
      "2006-03-02,11:01,Plan.pdf,4,80,Back Office,anna",
      "2006-03-02,12:02,Map.pdf,5,125,Front Desk,ben",
      "2006-03-02,13:03,Newest.txt,1,4,Back Office,anna",
  };
  std::string joined;
  for (const auto& line : expected) joined += line + "\r\n";
  EXPECT_EQ(csv, joined);

  common::ReportJob odd;
  odd.document = "say \"hi\"\nthere";
  odd.printer = "a,b";
  EXPECT_NE(common::ReportJobsToCsv({odd}).find(",\"say \"\"hi\"\"\nthere\",0,0,\"a,b\","),
            std::string::npos);
}

TEST(ReportCsv, ExportReadsTheDocumentAndSkipsBrokenRecords) {
  AppFolder folder;
  std::string text = report_test::LogText(kJobs);
  // A record cut short by a crash, followed by a whole one.
  text.insert(525, "\n<event><day>01</day><month>03</mon");
  AppFolder::WriteLog(folder.Logs() + "/m_03_2006.xml", {});
  common::WriteTextFile(folder.Logs() + "/m_03_2006.xml", text);
  const std::string doc = common::DisplayReportPath(folder.App());
  ASSERT_TRUE(common::AssembleReportDocument(folder.Logs() + "/m_03_2006.xml",
                                             common::ReportHeaderText(ReportScope::kAllPrinting),
                                             "<period>03/2006</period>", doc));
  const std::string csvPath = folder.Root().string() + "/out.csv";
  ASSERT_TRUE(common::ExportReportCsv(doc, csvPath));
  const std::string csv = platform::ReadFileBytes(csvPath).Value();
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 7);
  EXPECT_NE(csv.find("\r\n2006-03-01,08:05,"), std::string::npos);
  EXPECT_FALSE(common::ExportReportCsv(folder.Logs() + "/none.xml", csvPath));
}

TEST(ReportSummary, TotalsAndBreakdownByCost) {
  const std::string doc = "<log><period>03/2006</period>" + report_test::LogText(kJobs) + "</log>";
  const common::ReportSummary byUser = common::SummarizeReport(doc, ReportScope::kAllPrinting);
  EXPECT_EQ(byUser.period, "03/2006");
  EXPECT_EQ(byUser.totals.jobs, 6);
  EXPECT_EQ(byUser.totals.pages, 25);
  EXPECT_EQ(byUser.totals.cost, 1234);
  ASSERT_EQ(byUser.rows.size(), 3u);
  EXPECT_EQ(byUser.rows[0].name, "chlo\xE9");
  EXPECT_EQ(byUser.rows[1].name, "ben");
  EXPECT_EQ(byUser.rows[1].totals.cost, 135);
  EXPECT_EQ(byUser.rows[2].name, "anna");
  EXPECT_EQ(byUser.rows[2].totals.jobs, 3);
  EXPECT_EQ(byUser.rows[2].totals.pages, 8);

  const common::ReportSummary byPrinter = common::SummarizeReport(doc, ReportScope::kUser);
  ASSERT_EQ(byPrinter.rows.size(), 2u);
  EXPECT_EQ(byPrinter.rows[0].name, "Front Desk");
  EXPECT_EQ(byPrinter.rows[0].totals.cost, 1140);

  const std::string table = common::FormatReportSummary(byUser);
  EXPECT_NE(table.find("Period: 03/2006\n"), std::string::npos);
  EXPECT_NE(table.find("chlo\xC3\xA9     1     10  10.00\n"), std::string::npos) << table;
  EXPECT_NE(table.find("Total     6     25  12.34\n"), std::string::npos) << table;

  EXPECT_EQ(common::FormatCents(0), "0.00");
  EXPECT_EQ(common::FormatCents(5), "0.05");
  EXPECT_EQ(common::FormatCents(1234), "12.34");
  EXPECT_EQ(common::FormatCents(100000), "1000.00");
  EXPECT_EQ(common::FormatCents(-5), "-0.05");
}

// The HTML a stylesheet makes, parsed, with XPath over it.
class Html {
 public:
  explicit Html(const std::string& bytes)
      : doc_(htmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "report.html", nullptr,
                            HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET)),
        xpath_(doc_ ? xmlXPathNewContext(doc_.get()) : nullptr) {}
  bool Ok() const { return doc_ && xpath_; }
  // The whitespace-normalised text of every match.
  std::vector<std::string> Texts(const std::string& expr) const {
    std::vector<std::string> out;
    std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> r(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expr.c_str()), xpath_.get()),
        xmlXPathFreeObject);
    if (!r || !r->nodesetval) return out;
    for (int i = 0; i < r->nodesetval->nodeNr; ++i) {
      std::string text;
      Collect(r->nodesetval->nodeTab[i], text);
      std::string norm;
      for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
          if (!norm.empty() && norm.back() != ' ') norm += ' ';
        } else {
          norm += c;
        }
      }
      while (!norm.empty() && norm.back() == ' ') norm.pop_back();
      out.push_back(norm);
    }
    return out;
  }
  std::string Text(const std::string& expr) const {
    auto all = Texts(expr);
    return all.empty() ? "<none>" : all.front();
  }
  std::size_t Count(const std::string& expr) const { return Texts(expr).size(); }

 private:
  // Every text below the node, one blank between neighbouring elements.
  static void Collect(xmlNode* node, std::string& out) {
    if (node->type == XML_TEXT_NODE || node->type == XML_ATTRIBUTE_NODE) {
      xmlChar* content = xmlNodeGetContent(node);
      if (content) out += reinterpret_cast<const char*>(content);
      xmlFree(content);
      return;
    }
    for (xmlNode* child = node->children; child; child = child->next) {
      Collect(child, out);
      out += ' ';
    }
  }
  struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
  };
  struct CtxFree {
    void operator()(xmlXPathContext* c) const { xmlXPathFreeContext(c); }
  };
  std::unique_ptr<xmlDoc, DocFree> doc_;
  std::unique_ptr<xmlXPathContext, CtxFree> xpath_;
};

class Stylesheets : public ::testing::Test {
 protected:
  Stylesheets() { folder.InstallStylesheets(); }
  // Assembles the log into the display document and renders it.
  std::string Render(const std::vector<Job>& jobs, ReportScope scope, const std::string& period,
                     std::size_t maxJobs = 1000) {
    const std::string log = folder.Logs() + "/log.xml";
    AppFolder::WriteLog(log, jobs);
    const std::string doc = common::DisplayReportPath(folder.App());
    EXPECT_TRUE(common::AssembleReportDocument(log, common::ReportHeaderText(scope), period, doc));
    const common::ReportResult html =
        common::TransformReportFile(doc, common::ReportHtmlPath(doc), {maxJobs});
    EXPECT_TRUE(html) << html.message;
    EXPECT_EQ(html.documentPath, folder.Logs() + "/DisplayReport.html");
    return platform::ReadFileBytes(html.documentPath).ValueOr("");
  }
  AppFolder folder;
};

TEST_F(Stylesheets, AllPrintingShowsTotalsUsersPrintersDaysAndJobs) {
  const Html html(Render(kJobs, ReportScope::kAllPrinting, "<period>03/2006</period>"));
  ASSERT_TRUE(html.Ok());
  EXPECT_EQ(html.Text("//*[@id='period']"), "03/2006");
  EXPECT_EQ(html.Text("//*[@id='total-jobs']"), "6");
  EXPECT_EQ(html.Text("//*[@id='total-pages']"), "25");
  EXPECT_EQ(html.Text("//*[@id='total-cost']"), "12.34");

  // Users by cost, with jobs, pages and cost, and a bar for the pages.
  const auto users = html.Texts("//table[@id='by-user']/tbody/tr");
  ASSERT_EQ(users.size(), 3u);
  EXPECT_EQ(users[0], "chlo\xC3\xA9 1 10 10.00");
  EXPECT_EQ(users[1], "ben 2 7 1.35");
  EXPECT_EQ(users[2], "anna 3 8 0.99");
  EXPECT_EQ(html.Text("//table[@id='by-user']/tbody/tr[1]//div[@class='bar']/@style"), "width: 100%");
  EXPECT_EQ(html.Text("//table[@id='by-user']/tbody/tr[2]//div[@class='bar']/@style"), "width: 70%");

  const auto printers = html.Texts("//table[@id='by-printer']/tbody/tr");
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_EQ(printers[0], "Front Desk 3 18 11.40");
  EXPECT_EQ(printers[1], "Back Office 3 7 0.94");

  const auto days = html.Texts("//table[@id='by-day']/tbody/tr");
  ASSERT_EQ(days.size(), 2u);
  EXPECT_EQ(days[0], "03/01/2006 2 5 0.25");
  EXPECT_EQ(days[1], "03/02/2006 4 20 12.09");

  // Newest first, in blocks the browser may skip.
  const auto rows = html.Texts("//section[@id='jobs']//div[@class='row']");
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], "03/02/2006 13:03 Newest.txt 1 0.04 Back Office anna");
  EXPECT_EQ(rows[5], "03/01/2006 08:05 Budget, final.xlsx 3 0.15 Front Desk anna");
  EXPECT_EQ(html.Count("//section[@id='jobs']/div[@class='block']"), 1u);
  EXPECT_EQ(html.Count("//*[@id='more-jobs']"), 0u);
  EXPECT_EQ(html.Count("//*[@id='no-jobs']"), 0u);
}

TEST_F(Stylesheets, PrinterAndUserReportsBreakDownTheOtherWay) {
  const Html printer(Render(kJobs, ReportScope::kPrinter, "<period>This Week</period>"));
  EXPECT_EQ(printer.Count("//table[@id='by-user']"), 1u);
  EXPECT_EQ(printer.Count("//table[@id='by-printer']"), 0u);
  EXPECT_EQ(printer.Text("//h1"), "Front Desk");

  const Html user(Render(kJobs, ReportScope::kUser, "<period>Week 9 of 2006</period>"));
  EXPECT_EQ(user.Count("//table[@id='by-user']"), 0u);
  EXPECT_EQ(user.Count("//table[@id='by-printer']/tbody/tr"), 2u);
  EXPECT_EQ(user.Text("//*[@id='total-cost']"), "12.34");

  // A day needs no breakdown per day.
  const Html day(Render(kJobs, ReportScope::kAllPrinting, "<period>03/02/2006</period>"));
  EXPECT_EQ(day.Count("//table[@id='by-day']"), 0u);
  EXPECT_EQ(day.Text("//*[@id='total-jobs']"), "6");
}

TEST_F(Stylesheets, LongListsStopAtTheLimitAndSayHowManyThereAre) {
  std::vector<Job> many;
  for (int i = 0; i < 120; ++i)
    many.push_back({1 + i % 28, 2, 2006, 9, i % 60, "Doc " + std::to_string(i), 2, 10, "P",
                    "u" + std::to_string(i % 7)});
  const Html html(Render(many, ReportScope::kAllPrinting, "<period>02/2006</period>", 55));
  EXPECT_EQ(html.Text("//*[@id='total-jobs']"), "120");
  EXPECT_EQ(html.Text("//*[@id='total-cost']"), "12.00");
  const auto rows = html.Texts("//section[@id='jobs']//div[@class='row']");
  ASSERT_EQ(rows.size(), 55u);
  EXPECT_NE(rows[0].find("Doc 119 "), std::string::npos);
  EXPECT_NE(rows[54].find("Doc 65 "), std::string::npos);
  EXPECT_EQ(html.Count("//section[@id='jobs']/div[@class='block']"), 2u);
  const std::string more = html.Text("//*[@id='more-jobs']");
  EXPECT_NE(more.find("120 jobs"), std::string::npos) << more;
  EXPECT_NE(more.find("Save as CSV"), std::string::npos) << more;
  EXPECT_EQ(html.Count("//table[@id='by-user']/tbody/tr"), 7u);
  EXPECT_EQ(html.Count("//table[@id='by-day']/tbody/tr"), 28u);
}

TEST_F(Stylesheets, AnEmptyPeriodSaysSo) {
  const Html html(Render({}, ReportScope::kAllPrinting, "<period>03/09/2006</period>"));
  EXPECT_EQ(html.Text("//*[@id='total-jobs']"), "0");
  EXPECT_EQ(html.Text("//*[@id='total-cost']"), "0.00");
  EXPECT_EQ(html.Text("//*[@id='no-jobs']"), "No jobs were printed in this period.");
  EXPECT_EQ(html.Count("//table"), 0u);
}

TEST_F(Stylesheets, AMissingStylesheetIsReportedNotRendered) {
  std::filesystem::remove(folder.Logs() + "/style.xsl");
  const std::string log = folder.Logs() + "/log.xml";
  AppFolder::WriteLog(log, kJobs);
  const common::ReportResult bytes = common::AssembleReportBytes(
      log, common::ReportHeaderText(ReportScope::kAllPrinting), "<period>x</period>");
  ASSERT_TRUE(bytes);
  const common::ReportResult html = common::TransformReportBytes(bytes.bytes, folder.Logs());
  EXPECT_FALSE(html);
  EXPECT_FALSE(html.message.empty());
  // The in-memory document finds the stylesheets in the folder it is given.
  folder.InstallStylesheets();
  EXPECT_TRUE(common::TransformReportBytes(bytes.bytes, folder.Logs()));
}

}  // namespace
