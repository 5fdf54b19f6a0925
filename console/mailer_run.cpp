#include "console/mailer_run.h"

#include "platform/process.h"

namespace {

constexpr int kPollMs = 100;

}  // namespace

std::string FirstLine(const std::string& output) {
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) return line;
    start = end + 1;
  }
  return {};
}

CMailerRun::CMailerRun(QObject* parent) : QObject(parent) {
  timer_.setInterval(kPollMs);
  connect(&timer_, &QTimer::timeout, this, &CMailerRun::Poll);
}

CMailerRun::~CMailerRun() = default;

platform::Status CMailerRun::Start(const std::string& program, std::chrono::milliseconds limit) {
  Abandon();
  platform::Result<platform::Process> started =
      platform::Process::Start(program, platform::Process::Options{.captureErrorOutput = true});
  if (!started) return started.Status();
  process_ = std::make_unique<platform::Process>(std::move(*started));
  deadline_ = std::chrono::steady_clock::now() + limit;
  timer_.start();
  return platform::Status::Ok();
}

void CMailerRun::Abandon() {
  timer_.stop();
  process_.reset();  // reaped later, without anyone waiting
}

void CMailerRun::Poll() {
  if (!process_) return;
  Outcome outcome;
  outcome.started = true;
  std::optional<int> status = process_->Wait(std::chrono::milliseconds(0));
  if (!status) {
    if (std::chrono::steady_clock::now() < deadline_) return;
    process_->Terminate();
    process_->Wait(std::chrono::seconds(5));
    outcome.timedOut = true;
  } else {
    outcome.status = *status;
  }
  outcome.diagnostic = FirstLine(process_->ErrorOutput());
  timer_.stop();
  process_.reset();
  emit Finished(outcome);
}
