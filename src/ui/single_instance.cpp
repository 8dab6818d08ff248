#include "ui/single_instance.h"

#include <unistd.h>

#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace {

// Sent first, so that a window of another version never takes a stranger's message for files.
constexpr quint32 Greeting = 0x4b560001;
constexpr char Taken = 'k';

} // namespace

TSingleInstance::TSingleInstance(QObject *AParent) : QObject(AParent) {}

TSingleInstance::~TSingleInstance() {
  if (FServer)
    FServer->close(); // removes the socket file: the next launch opens a window of its own
}

QString TSingleInstance::SocketPath() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty())
    folder = QDir::tempPath() + QStringLiteral("/korvelo-converter-%1").arg(::getuid());
  QDir().mkpath(folder);
  return folder + QStringLiteral("/korvelo-converter.socket");
}

bool TSingleInstance::HandOverOrListen(const QString &AWorkingFolder,
                                       const QStringList &AArguments) {
  const QString path = SocketPath();
  // Two launches at once (several files opened from a file manager) must not both decide to be
  // the first: the decision is taken under a lock.
  QLockFile lock(path + QStringLiteral(".lock"));
  lock.setStaleLockTime(15000);
  lock.tryLock(10000);

  QLocalSocket socket;
  socket.connectToServer(path);
  if (socket.waitForConnected(2000)) {
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << Greeting << AWorkingFolder << AArguments;
    socket.write(message);
    socket.flush();
    // Handed over once the window says it has the files; a window that does not answer (hung)
    // is not relied on.
    while (socket.bytesAvailable() == 0 && socket.waitForReadyRead(10000)) {
    }
    if (socket.bytesAvailable() > 0 && socket.read(1).startsWith(Taken))
      return true;
    return false;
  }
  // Nobody answers: whatever is at the path was left by a window that ended without closing it.
  QLocalServer::removeServer(path);
  FServer = new QLocalServer(this);
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  connect(FServer, &QLocalServer::newConnection, this, [this] { Accept(); });
  if (!FServer->listen(path)) {
    delete FServer;
    FServer = nullptr;
  }
  return false;
}

void TSingleInstance::Accept() {
  while (QLocalSocket *socket = FServer->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      QDataStream in(socket);
      in.startTransaction();
      quint32 greeting = 0;
      QString folder;
      QStringList arguments;
      in >> greeting >> folder >> arguments;
      if (!in.commitTransaction())
        return; // the rest is still on its way
      if (greeting != Greeting) {
        socket->abort();
        return;
      }
      // Answered first: the second launch ends at once, whatever adding the files takes.
      socket->write(&Taken, 1);
      socket->flush();
      socket->disconnectFromServer();
      if (FOnArrived)
        FOnArrived(folder, arguments);
    });
  }
}
