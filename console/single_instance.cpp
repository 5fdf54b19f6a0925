#include "console/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include "platform/log.h"
#include "platform/registry.h"

namespace {

const QByteArray kRequest = "show\n";
const QByteArray kShown = "1\n";
const QByteArray kNotShown = "0\n";
// How long a console that holds the name has to accept a connection.
constexpr int kProbeTimeoutMs = 1000;

bool Reachable(const QString& name, int timeoutMs) {
  QLocalSocket probe;
  probe.connectToServer(name);
  return probe.waitForConnected(timeoutMs);
}

}  // namespace

QString DefaultInstanceName() {
  QString user = qEnvironmentVariable("USER");
  if (user.isEmpty()) user = qEnvironmentVariable("LOGNAME");
  if (user.isEmpty()) user = QDir::home().dirName();
  QByteArray root = QString::fromStdString(platform::RegistryRootFromEnvironment().string()).toUtf8();
  QByteArray tag = QCryptographicHash::hash(root, QCryptographicHash::Sha1).toHex().left(12);
  return QStringLiteral("Quillmark-%1-%2").arg(user, QString::fromLatin1(tag));
}

CSingleInstance::CSingleInstance(QString name) : name_(std::move(name)) {}

CSingleInstance::~CSingleInstance() = default;

bool CSingleInstance::Listening() const { return server_ && server_->isListening(); }

bool CSingleInstance::ForwardToRunning(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(name_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kRequest);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  QByteArray answer;
  while (!answer.contains('\n')) {
    if (!socket.waitForReadyRead(timeoutMs)) break;
    answer += socket.readAll();
  }
  return answer == kShown;
}

bool CSingleInstance::Listen(std::function<bool()> bringForward) {
  bringForward_ = std::move(bringForward);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_.get(), &QLocalServer::newConnection, this, &CSingleInstance::OnConnection);
  // A live console answers on its name and keeps it; a name left behind
  // by one that ended without closing it answers nobody and is taken over.
  if (Reachable(name_, kProbeTimeoutMs)) {
    server_.reset();
    return false;
  }
  QLocalServer::removeServer(name_);
  if (server_->listen(name_)) return true;
  platform::LogWarning("cannot listen on " + name_.toStdString() +
                       " for later starts: " + server_->errorString().toStdString());
  server_.reset();
  return false;
}

void CSingleInstance::OnConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) return;
      QByteArray request = socket->readLine();
      bool shown = request == kRequest && bringForward_ && bringForward_();
      socket->write(shown ? kShown : kNotShown);
      socket->flush();
      socket->disconnectFromServer();
    });
  }
}
