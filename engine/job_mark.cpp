#include "engine/job_mark.h"

#include <sstream>

namespace engine {
namespace {

constexpr std::string_view kHeader = "quillmark-mark 1";

long long ToMilliseconds(JobMark::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

JobMark::time_point FromMilliseconds(long long ms) {
  return JobMark::time_point(std::chrono::duration_cast<JobMark::time_point::duration>(std::chrono::milliseconds(ms)));
}

}  // namespace

std::string FormatJobMark(const JobMark& mark) {
  std::ostringstream out;
  out << kHeader << '\n';
  out << "highest " << mark.highest << '\n';
  out << "open";
  for (std::uint32_t id : mark.open) out << ' ' << id;
  out << '\n';
  out << "updated " << ToMilliseconds(mark.updated) << '\n';
  if (mark.paused) out << "paused " << ToMilliseconds(*mark.paused) << '\n';
  if (!mark.done.empty()) {
    out << "done";
    for (std::uint32_t id : mark.done) out << ' ' << id;
    out << '\n';
  }
  return out.str();
}

std::optional<JobMark> ParseJobMark(std::string_view text) {
  std::istringstream in{std::string(text)};
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return std::nullopt;
  JobMark mark;
  bool highest = false, updated = false;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::istringstream words(line);
    std::string tag;
    words >> tag;
    if (tag == "highest") {
      if (!(words >> mark.highest)) return std::nullopt;
      highest = true;
    } else if (tag == "open" || tag == "done") {
      std::uint32_t id = 0;
      while (words >> id) (tag == "open" ? mark.open : mark.done).insert(id);
      if (!words.eof()) return std::nullopt;
    } else if (tag == "updated" || tag == "paused") {
      long long ms = 0;
      if (!(words >> ms)) return std::nullopt;
      if (tag == "updated") {
        mark.updated = FromMilliseconds(ms);
        updated = true;
      } else {
        mark.paused = FromMilliseconds(ms);
      }
    } else {
      return std::nullopt;
    }
  }
  // A mark cut short is no mark.
  if (!highest || !updated) return std::nullopt;
  return mark;
}

}  // namespace engine
