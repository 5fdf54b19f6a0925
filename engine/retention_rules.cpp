#include "engine/retention_rules.h"

#include <optional>
#include <string>

namespace engine {
namespace {

constexpr std::string_view kXml = ".xml";

// The decimal value of `s`, or nothing when it is empty or holds anything
// but digits.
std::optional<int> Number(std::string_view s) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

// The text of `length` characters that ends `before` characters ahead of
// the end of `name` (".xml" stripped).
std::string_view FromEnd(std::string_view stem, std::size_t length) {
  if (stem.size() < length) return {};
  return stem.substr(stem.size() - length, length);
}

std::string_view After(std::string_view name, std::string_view prefix, std::size_t length) {
  std::size_t p = name.find(prefix);
  if (p == std::string_view::npos || p + prefix.size() + length > name.size()) return {};
  return name.substr(p + prefix.size(), length);
}

int DaysInMonth(int month, int year) {
  switch (month) {
    case 2: return year % 4 == 0 ? 29 : 28;
    case 4:
    case 6:
    case 9:
    case 11: return 30;
    default: return 31;
  }
}

bool DeleteDay(std::string_view stem, const common::LocalDateTime& now) {
  // The two last characters of the date stamp are the day of the month;
  // the stamp's month and year play no part.
  auto d = Number(FromEnd(stem, 2));
  if (!d || !Number(FromEnd(stem, 8))) return false;
  const int D = now.day;
  if (D == 1) {
    const int prevMonth = now.month == 1 ? 12 : now.month - 1;
    const int prevYear = now.month == 1 ? now.year - 1 : now.year;
    return !(*d == 1 || *d == DaysInMonth(prevMonth, prevYear));
  }
  if (D == 2) return !(*d == 1 || *d == 2);
  return *d <= D - 2;
}

bool DeleteWeek(std::string_view name, std::string_view stem, const common::LocalDateTime& now,
                int currentWeek) {
  std::size_t p = name.find("w_");
  std::size_t end = name.find('_', p + 2);
  if (end == std::string_view::npos) return false;
  std::string_view wText = name.substr(p + 2, end - p - 2);
  auto w = Number(wText);
  auto y = Number(FromEnd(stem, 4));
  if (!w || !y) return false;
  const std::string c = std::to_string(currentWeek);
  if (wText == c && *y == now.year) return false;
  if (c != "1") return !(currentWeek == *w + 1 && *y == now.year);
  return !(wText == "53" && *y == now.year - 1);
}

bool DeleteMonth(std::string_view name, std::string_view stem, const common::LocalDateTime& now) {
  std::string_view mText = After(name, "m_", 2);
  auto m = Number(mText);
  auto y = Number(FromEnd(stem, 4));
  if (!m || !y) return false;
  const int M = now.month, Y = now.year;
  if (M == 1) return !((mText == "12" && *y == Y - 1) || *y == Y);
  if (M == 2) return *y != Y;
  if (*m >= M - 1) return false;
  return *y == Y;
}

bool DeleteQuarter(std::string_view name, std::string_view stem, const common::LocalDateTime& now) {
  std::string_view qText = After(name, "q_", 1);
  auto y = Number(FromEnd(stem, 4));
  if (!Number(qText) || !y) return false;
  const int Y = now.year;
  const int current = (now.month - 1) / 3 + 1;
  const std::string q(qText);
  if (q == std::to_string(current) && *y == Y) return false;
  if (current == 1) return !(q == "4" && *y == Y - 1);
  return !(q == std::to_string(current - 1) && *y == Y);
}

bool DeleteSemester(std::string_view name, std::string_view stem, const common::LocalDateTime& now) {
  std::string_view sText = After(name, "s_", 1);
  auto y = Number(FromEnd(stem, 4));
  if (!Number(sText) || !y) return false;
  const int Y = now.year;
  if (now.month >= 7) return *y != Y;
  return !((sText == "1" && *y == Y) || (sText == "2" && *y == Y - 1));
}

}  // namespace

bool ShouldDeleteLogFile(std::string_view fileName, const common::LocalDateTime& now, int currentWeek) {
  std::string_view name = fileName;
  if (auto slash = name.find_last_of("/\\"); slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (name.size() < kXml.size() || name.substr(name.size() - kXml.size()) != kXml) return false;
  const std::string_view stem = name.substr(0, name.size() - kXml.size());

  // Each test applies on its own when its prefix occurs in the name.
  if (name.find("d_") != std::string_view::npos && DeleteDay(stem, now)) return true;
  if (name.find("w_") != std::string_view::npos && DeleteWeek(name, stem, now, currentWeek)) return true;
  if (name.find("m_") != std::string_view::npos && DeleteMonth(name, stem, now)) return true;
  if (name.find("q_") != std::string_view::npos && DeleteQuarter(name, stem, now)) return true;
  if (name.find("s_") != std::string_view::npos && DeleteSemester(name, stem, now)) return true;
  return false;
}

}  // namespace engine
