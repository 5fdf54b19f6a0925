#include "common/report_summary.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "common/latin1.h"

namespace common {
namespace {

void Add(ReportTotals& t, const ReportJob& job) {
  t.jobs += 1;
  t.pages += job.pages;
  t.cost += job.cost;
}

// Display width of a UTF-8 text, one column per character.
std::size_t Width(std::string_view utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

void Pad(std::string& out, std::string_view text, std::size_t width, bool right) {
  const std::size_t w = Width(text);
  const std::string fill(w < width ? width - w : 0, ' ');
  if (right) out += fill;
  out += text;
  if (!right) out += fill;
}

}  // namespace

std::string FormatCents(long long cents) {
  const bool negative = cents < 0;
  const unsigned long long abs =
      negative ? 0ULL - static_cast<unsigned long long>(cents) : static_cast<unsigned long long>(cents);
  std::string fraction = std::to_string(abs % 100);
  if (fraction.size() < 2) fraction.insert(0, "0");
  return (negative ? "-" : "") + std::to_string(abs / 100) + "." + fraction;
}

ReportSummary SummarizeReport(std::string_view documentText, ReportScope scope) {
  ReportSummary s;
  s.period = ReportPeriodText(documentText);
  s.byPrinter = scope == ReportScope::kUser;
  std::map<std::string, ReportTotals> rows;
  for (const ReportJob& job : ReadReportJobs(documentText)) {
    Add(s.totals, job);
    Add(rows[s.byPrinter ? job.printer : job.user], job);
  }
  for (auto& [name, totals] : rows) s.rows.push_back({name, totals});
  std::stable_sort(s.rows.begin(), s.rows.end(),
                   [](const auto& a, const auto& b) { return a.totals.cost > b.totals.cost; });
  return s;
}

std::string FormatReportSummary(const ReportSummary& summary) {
  std::string out = "Period: " + Latin1ToUtf8(summary.period) + "\n";
  std::vector<std::array<std::string, 4>> lines;
  lines.push_back({summary.byPrinter ? "Printer" : "User", "Jobs", "Pages", "Cost"});
  for (const auto& row : summary.rows)
    lines.push_back({row.name.empty() ? "(none)" : Latin1ToUtf8(row.name), std::to_string(row.totals.jobs),
                     std::to_string(row.totals.pages), FormatCents(row.totals.cost)});
  lines.push_back({"Total", std::to_string(summary.totals.jobs), std::to_string(summary.totals.pages),
                   FormatCents(summary.totals.cost)});
  std::array<std::size_t, 4> width{};
  for (const auto& line : lines)
    for (std::size_t i = 0; i < 4; ++i) width[i] = std::max(width[i], Width(line[i]));
  const std::size_t ruleWidth = width[0] + width[1] + width[2] + width[3] + 6;
  for (std::size_t l = 0; l < lines.size(); ++l) {
    if (l == 1 || l + 1 == lines.size()) out += std::string(ruleWidth, '-') + "\n";
    for (std::size_t i = 0; i < 4; ++i) {
      if (i > 0) out += "  ";
      Pad(out, lines[l][i], width[i], i > 0);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += "\n";
  }
  return out;
}

}  // namespace common
