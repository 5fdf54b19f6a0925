#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/status.h"

namespace platform {
class Process;
}

// One run of the mailer program, watched from the user-interface thread
// without blocking it: the program is polled until it ends or the time
// limit passes (then it is ended). Finished() reports the outcome once.
class CMailerRun : public QObject {
  Q_OBJECT

 public:
  struct Outcome {
    bool started = false;
    bool timedOut = false;
    int status = -1;         // exit status when it ended
    std::string diagnostic;  // first line it wrote to standard error
    bool Succeeded() const { return started && !timedOut && status == 0; }
  };

  explicit CMailerRun(QObject* parent = nullptr);
  ~CMailerRun() override;

  // Starts the program; an error saying why (and no Finished()) when it
  // cannot start.
  platform::Status Start(const std::string& program, std::chrono::milliseconds limit);
  bool Running() const { return process_ != nullptr; }
  // Stops watching; the program finishes on its own.
  void Abandon();

 signals:
  void Finished(const CMailerRun::Outcome& outcome);

 private:
  void Poll();

  std::unique_ptr<platform::Process> process_;
  QTimer timer_;
  std::chrono::steady_clock::time_point deadline_;
};

// The first non-empty line of a program's error output, without its line
// end.
std::string FirstLine(const std::string& output);
