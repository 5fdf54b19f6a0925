#include "engine/job_mark.h"

#include <exception>
#include <sstream>

namespace engine {
namespace {

constexpr std::string_view kHeader = "quillmark-mark 1";

long long ToMilliseconds(JobMark::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

JobMark::time_point FromMilliseconds(long long ms) {
  return JobMark::time_point(
      std::chrono::duration_cast<JobMark::time_point::duration>(std::chrono::milliseconds(ms)));
}

// Record bytes and paths may hold any byte: written as hex digits.
std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.size() % 2) return std::nullopt;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int hi = digit(hex[i]), lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<char>(hi * 16 + lo));
  }
  return out;
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
  if (mark.sequence) out << "sequence " << mark.sequence << '\n';
  if (mark.paused) out << "paused " << ToMilliseconds(*mark.paused) << '\n';
  for (const auto& [from, until] : mark.pauses) {
    out << "pause " << ToMilliseconds(from) << ' ' << ToMilliseconds(until) << '\n';
  }
  if (!mark.done.empty()) {
    out << "done";
    for (std::uint32_t id : mark.done) out << ' ' << id;
    out << '\n';
  }
  if (mark.pending) {
    out << "pending " << mark.pending->jobId << ' ' << Hex(mark.pending->record) << '\n';
    for (const auto& target : mark.pending->targets) {
      out << "target ";
      if (target.size) {
        out << *target.size;
      } else {
        out << '-';
      }
      out << ' ' << Hex(target.path) << '\n';
    }
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
    } else if (tag == "sequence") {
      if (!(words >> mark.sequence)) return std::nullopt;
    } else if (tag == "pause") {
      long long from = 0, until = 0;
      if (!(words >> from >> until)) return std::nullopt;
      mark.pauses.emplace_back(FromMilliseconds(from), FromMilliseconds(until));
    } else if (tag == "pending") {
      JobMark::Pending pending;
      std::string hex;
      if (!(words >> pending.jobId >> hex)) return std::nullopt;
      auto record = FromHex(hex);
      if (!record) return std::nullopt;
      pending.record = std::move(*record);
      mark.pending = std::move(pending);
    } else if (tag == "target") {
      std::string size, hex;
      if (!mark.pending || !(words >> size >> hex)) return std::nullopt;
      JobMark::Pending::Target target;
      if (size != "-") {
        try {
          std::size_t used = 0;
          target.size = std::stoull(size, &used);
          if (used != size.size()) return std::nullopt;
        } catch (const std::exception&) {
          return std::nullopt;
        }
      }
      auto path = FromHex(hex);
      if (!path) return std::nullopt;
      target.path = std::move(*path);
      mark.pending->targets.push_back(std::move(target));
    } else {
      return std::nullopt;
    }
  }
  // A mark cut short is no mark.
  if (!highest || !updated) return std::nullopt;
  return mark;
}

}  // namespace engine
