#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;

// One console per user: the first one listens on a local socket named for
// the user; a later start asks it to bring its window forward and ends
// when it did.
class CSingleInstance : public QObject {
  Q_OBJECT

 public:
  explicit CSingleInstance(QString name);
  ~CSingleInstance() override;

  // Asks a running console to bring its window forward. True when one
  // answered that it did (this start should end); false when none runs,
  // it found no window, or it did not answer within `timeoutMs`.
  bool ForwardToRunning(int timeoutMs = 5000);

  // Answers later starts by calling `bringForward`. False when the name
  // is held by a console that answers (this one then runs unlisted).
  bool Listen(std::function<bool()> bringForward);

  bool Listening() const;
  const QString& Name() const { return name_; }

 private:
  void OnConnection();

  QString name_;
  std::unique_ptr<QLocalServer> server_;
  std::function<bool()> bringForward_;
};

// The name for the user running the console, for the registry in use: two
// consoles of one user on one registry are the same console.
QString DefaultInstanceName();
