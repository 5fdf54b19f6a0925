#include "platform/sim/sim_queue.h"

#include <algorithm>
#include <charconv>
#include <sstream>

#include "platform/clock.h"
#include "platform/percent_escape.h"

namespace platform::sim {

namespace {

bool IsZero(const SpoolTime& time) { return time == SpoolTime{}; }

}  // namespace

NotifyData JobRecord(const SpoolJob& job, std::uint16_t field) {
  switch (field) {
    case kJobNotifyUserName:
      return NotifyData::Text(kJobNotifyType, field, job.jobId, job.userName.value_or(""));
    case kJobNotifyStatus: return NotifyData::Number(kJobNotifyType, field, job.jobId, job.status);
    case kJobNotifyStatusString:
      return NotifyData::Text(kJobNotifyType, field, job.jobId, job.statusText.value_or(""));
    case kJobNotifyDocument:
      return NotifyData::Text(kJobNotifyType, field, job.jobId, job.document.value_or(""));
    case kJobNotifySubmitted: {
      NotifyData data;
      data.type = kJobNotifyType;
      data.field = field;
      data.id = job.jobId;
      data.kind = NotifyData::Kind::kTime;
      data.time = job.submitted;
      return data;
    }
    case kJobNotifyTotalPages: return NotifyData::Number(kJobNotifyType, field, job.jobId, job.totalPages);
    case kJobNotifyPagesPrinted:
      return NotifyData::Number(kJobNotifyType, field, job.jobId, job.pagesPrinted);
    default: return NotifyData::Number(kJobNotifyType, field, job.jobId, 0);
  }
}

NotifyData PrinterRecord(const QueueState& state, std::string_view printerName, std::uint16_t field) {
  switch (field) {
    case kPrinterNotifyStatus: return NotifyData::Number(kPrinterNotifyType, field, 0, state.printerStatus);
    case kPrinterNotifyCJobs:
      return NotifyData::Number(kPrinterNotifyType, field, 0, static_cast<std::uint32_t>(state.jobs.size()));
    case kPrinterNotifyPrinterName:
      return NotifyData::Text(kPrinterNotifyType, field, 0, std::string(printerName));
    case kPrinterNotifyServerName:
    case kPrinterNotifyShareName: return NotifyData::Text(kPrinterNotifyType, field, 0, "");
    default: return NotifyData::Number(kPrinterNotifyType, field, 0, 0);
  }
}

// ---- Edits ----------------------------------------------------------------

SimQueue::SimQueue(QueueState& state, std::string printerName)
    : state_(state), printerName_(std::move(printerName)) {}

std::size_t SimQueue::IndexOf(std::uint32_t jobId) {
  for (std::size_t i = 0; i < state_.jobs.size(); ++i) {
    if (state_.jobs[i].jobId == jobId) return i;
  }
  throw SpoolerError(kErrorInvalidParameter, "no job " + std::to_string(jobId) + " on " + printerName_);
}

SpoolJob& SimQueue::Find(std::uint32_t jobId) { return state_.jobs[IndexOf(jobId)]; }

ChangeEntry& SimQueue::Begin(std::uint32_t changes) {
  ChangeEntry entry;
  entry.sequence = ++state_.sequence;
  entry.changes = changes;
  state_.journal.push_back(std::move(entry));
  while (state_.journal.size() > kJournalKeep) state_.journal.pop_front();
  return state_.journal.back();
}

std::uint32_t SimQueue::Submit(const SimJobSpec& spec) {
  SpoolJob job;
  job.jobId = state_.nextJobId++;
  if (state_.nextJobId == 0) state_.nextJobId = 1;
  job.document = spec.document;
  job.userName = spec.userName;
  job.status = spec.status;
  job.totalPages = spec.totalPages;
  job.submitted = IsZero(spec.submitted) ? ToSpoolTime(Clock::Default().Now()) : spec.submitted;
  state_.jobs.push_back(job);

  ChangeEntry& entry = Begin(kPrinterChangeAddJob);
  for (std::uint16_t field :
       {kJobNotifyStatus, kJobNotifyStatusString, kJobNotifyDocument, kJobNotifyUserName,
        kJobNotifyTotalPages, kJobNotifyPagesPrinted, kJobNotifySubmitted}) {
    entry.records.push_back(JobRecord(job, field));
  }
  entry.records.push_back(PrinterRecord(state_, printerName_, kPrinterNotifyCJobs));
  return job.jobId;
}

void SimQueue::SetStatus(std::uint32_t jobId, std::uint32_t status) {
  SpoolJob& job = Find(jobId);
  job.status = status;
  Begin(kPrinterChangeSetJob).records.push_back(JobRecord(job, kJobNotifyStatus));
}

void SimQueue::SetTotalPages(std::uint32_t jobId, std::uint32_t pages) {
  SpoolJob& job = Find(jobId);
  job.totalPages = pages;
  Begin(kPrinterChangeWriteJob).records.push_back(JobRecord(job, kJobNotifyTotalPages));
}

void SimQueue::SetDocument(std::uint32_t jobId, std::optional<std::string> document) {
  SpoolJob& job = Find(jobId);
  job.document = std::move(document);
  Begin(kPrinterChangeSetJob).records.push_back(JobRecord(job, kJobNotifyDocument));
}

void SimQueue::SetUserName(std::uint32_t jobId, std::optional<std::string> userName) {
  SpoolJob& job = Find(jobId);
  job.userName = std::move(userName);
  Begin(kPrinterChangeSetJob).records.push_back(JobRecord(job, kJobNotifyUserName));
}

void SimQueue::AdvancePages(std::uint32_t jobId, std::uint32_t pages) {
  SpoolJob& job = Find(jobId);
  job.pagesPrinted += pages;
  job.status = (job.status & ~kJobStatusSpooling) | kJobStatusPrinting;
  ChangeEntry& entry = Begin(kPrinterChangeSetJob);
  entry.records.push_back(JobRecord(job, kJobNotifyStatus));
  entry.records.push_back(JobRecord(job, kJobNotifyPagesPrinted));
}

void SimQueue::Remove(std::uint32_t jobId, std::uint32_t finalStatus) {
  std::size_t index = IndexOf(jobId);
  SpoolJob job = state_.jobs[index];
  state_.jobs.erase(state_.jobs.begin() + static_cast<std::ptrdiff_t>(index));
  job.status = finalStatus;
  job.completed = ToSpoolTime(Clock::Default().Now());
  state_.ended.push_back(job);
  while (state_.ended.size() > kHistoryKeep) state_.ended.pop_front();
  ChangeEntry& entry = Begin(kPrinterChangeDeleteJob);
  entry.records.push_back(JobRecord(job, kJobNotifyStatus));
  entry.records.push_back(PrinterRecord(state_, printerName_, kPrinterNotifyCJobs));
}

void SimQueue::Complete(std::uint32_t jobId) {
  SpoolJob& job = Find(jobId);
  job.pagesPrinted = std::max(job.pagesPrinted, job.totalPages);
  job.status = kJobStatusPrinted;
  ChangeEntry& entry = Begin(kPrinterChangeSetJob);
  entry.records.push_back(JobRecord(job, kJobNotifyStatus));
  entry.records.push_back(JobRecord(job, kJobNotifyPagesPrinted));
  Remove(jobId, kJobStatusPrinted | kJobStatusDeleted);
}

void SimQueue::Cancel(std::uint32_t jobId) {
  SpoolJob& job = Find(jobId);
  std::uint32_t status = job.status | kJobStatusDeleting;
  SetStatus(jobId, status);
  Remove(jobId, (status & ~kJobStatusDeleting) | kJobStatusDeleted);
}

// ---- Text form --------------------------------------------------------------
//
//   qmsim-queue 1 <sequence>
//   next <next job id>
//   pstatus <printer status>
//   job <id> <status> <total> <printed> <8 time members> <document> <user> <status text>
//   ended <the same as job> <8 completion time members>
//   change <sequence> <change bits> <record count>
//   rec <type> <field> <id> <kind> <number 0> <number 1> <text> <8 time members>
//
// A text is "-" when absent, else "=" followed by the escaped text.

std::string EscapeWord(std::string_view text) {
  return PercentEscape(text, [](unsigned char c) { return c > 0x20 && c < 0x7F && c != '%'; });
}

std::string UnescapeWord(std::string_view word) {
  // A word this store did not write stands for itself.
  return PercentUnescape(word).value_or(std::string(word));
}

namespace {

std::string OptionalWord(const std::optional<std::string>& text) {
  return text ? "=" + EscapeWord(*text) : std::string("-");
}

std::optional<std::string> ReadOptionalWord(const std::string& word) {
  if (word == "-" || word.empty()) return std::nullopt;
  return UnescapeWord(std::string_view(word).substr(1));
}

void PutTime(std::ostream& out, const SpoolTime& t) {
  out << ' ' << t.year << ' ' << t.month << ' ' << t.dayOfWeek << ' ' << t.day << ' ' << t.hour << ' '
      << t.minute << ' ' << t.second << ' ' << t.milliseconds;
}

bool GetTime(std::istream& in, SpoolTime& t) {
  return static_cast<bool>(in >> t.year >> t.month >> t.dayOfWeek >> t.day >> t.hour >> t.minute >>
                           t.second >> t.milliseconds);
}

}  // namespace

std::string FormatQueue(const QueueState& state) {
  std::ostringstream out;
  out << "qmsim-queue 1 " << state.sequence << '\n';
  out << "next " << state.nextJobId << '\n';
  out << "pstatus " << state.printerStatus << '\n';
  auto putJob = [&](const char* tag, const SpoolJob& job) {
    out << tag << ' ' << job.jobId << ' ' << job.status << ' ' << job.totalPages << ' ' << job.pagesPrinted;
    PutTime(out, job.submitted);
    out << ' ' << OptionalWord(job.document) << ' ' << OptionalWord(job.userName) << ' '
        << OptionalWord(job.statusText);
  };
  for (const SpoolJob& job : state.jobs) {
    putJob("job", job);
    out << '\n';
  }
  for (const SpoolJob& job : state.ended) {
    putJob("ended", job);
    PutTime(out, job.completed);
    out << '\n';
  }
  for (const ChangeEntry& entry : state.journal) {
    out << "change " << entry.sequence << ' ' << entry.changes << ' ' << entry.records.size() << '\n';
    for (const NotifyData& r : entry.records) {
      out << "rec " << r.type << ' ' << r.field << ' ' << r.id << ' ' << static_cast<int>(r.kind) << ' '
          << r.number[0] << ' ' << r.number[1] << " =" << EscapeWord(r.text);
      PutTime(out, r.time);
      out << '\n';
    }
  }
  return out.str();
}

std::optional<std::uint64_t> PeekSequence(std::string_view text) {
  constexpr std::string_view kHeader = "qmsim-queue 1 ";
  if (text.substr(0, kHeader.size()) != kHeader) return std::nullopt;
  std::uint64_t sequence = 0;
  const char* first = text.data() + kHeader.size();
  auto [end, ec] = std::from_chars(first, text.data() + text.size(), sequence);
  if (ec != std::errc() || end == first) return std::nullopt;
  return sequence;
}

std::optional<QueueState> ParseQueue(std::string_view text) {
  auto sequence = PeekSequence(text);
  if (!sequence) return std::nullopt;
  QueueState state;
  state.sequence = *sequence;
  std::istringstream in{std::string(text)};
  std::string line;
  std::getline(in, line);
  std::size_t recordsLeft = 0;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::istringstream words(line);
    std::string tag;
    words >> tag;
    if (tag == "next") {
      if (!(words >> state.nextJobId)) return std::nullopt;
    } else if (tag == "pstatus") {
      if (!(words >> state.printerStatus)) return std::nullopt;
    } else if (tag == "job" || tag == "ended") {
      SpoolJob job;
      std::string document, user, statusText;
      if (!(words >> job.jobId >> job.status >> job.totalPages >> job.pagesPrinted) ||
          !GetTime(words, job.submitted) || !(words >> document >> user >> statusText)) {
        return std::nullopt;
      }
      job.document = ReadOptionalWord(document);
      job.userName = ReadOptionalWord(user);
      job.statusText = ReadOptionalWord(statusText);
      if (tag == "ended") {
        if (!GetTime(words, job.completed)) return std::nullopt;
        state.ended.push_back(std::move(job));
      } else {
        state.jobs.push_back(std::move(job));
      }
    } else if (tag == "change") {
      if (recordsLeft != 0) return std::nullopt;
      ChangeEntry entry;
      if (!(words >> entry.sequence >> entry.changes >> recordsLeft)) return std::nullopt;
      state.journal.push_back(std::move(entry));
    } else if (tag == "rec") {
      if (recordsLeft == 0 || state.journal.empty()) return std::nullopt;
      NotifyData r;
      int kind = 0;
      std::string word;
      if (!(words >> r.type >> r.field >> r.id >> kind >> r.number[0] >> r.number[1] >> word) ||
          !GetTime(words, r.time) || kind < 0 || kind > 2 || word.empty()) {
        return std::nullopt;
      }
      r.kind = static_cast<NotifyData::Kind>(kind);
      r.text = UnescapeWord(std::string_view(word).substr(1));
      state.journal.back().records.push_back(std::move(r));
      --recordsLeft;
    } else {
      return std::nullopt;
    }
  }
  if (recordsLeft != 0) return std::nullopt;
  return state;
}

}  // namespace platform::sim
